// TKwKeey: scrambles a text into another of the same length with bytes 1 to 255, and back, by a key text and a program number.
#pragma once

#include <cstdint>
#include <string>

// Byte i (1-based) of the text is shifted by K + ProgrammID * i modulo 255, where K is the derived
// key value of Schluessel (MakeKey); Decode shifts back. There is no check value: unscrambling
// with another key gives another text, never an error.
class TKwKeey {
public:
    std::string Schluessel;

    int32_t ProgrammID() const { return programmId_; }
    // Accepts 1 to 49; any other value is ignored.
    void SetProgrammID(int32_t id);
    // The derived key value of the current Schluessel (runs GetGeneratedKey).
    int32_t GenerierterSchleussel() { return GetGeneratedKey(); }

    std::string Encode(const std::string& text);
    std::string Decode(const std::string& text);

    // MakeKey(Schluessel), also kept as the key value of the next Encode or Decode.
    int32_t GetGeneratedKey();
    // The sum of the key's byte codes divided by its length less one. The empty key gives 0; a
    // one-byte key, whose divisor would be zero, gives its byte's code.
    static int32_t MakeKey(const std::string& key);
    // The code 0 to 255 of the first byte; 0 for the empty text.
    static int StrToAsc(const std::string& text);
    // A one-byte text holding the low 8 bits of the number.
    static std::string AscToStr(int code);

private:
    std::string shift(const std::string& text, int direction);

    int32_t programmId_ = 0;
    int32_t generatedKey_ = 0;
};
