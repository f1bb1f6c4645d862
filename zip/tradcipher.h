// The traditional ZIP cipher: a byte stream cipher on three 32-bit keys stepped with CRC-32, and
// the 12-byte encryption header it puts in front of an entry's data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class TTraditionalCipher {
public:
    static constexpr size_t HeaderSize = 12;

    // Sets the three keys from a password, its bytes as they are (no code page, no terminator).
    void Init_Keys(std::string_view password);
    // One key step with a plain byte.
    void update_keys(uint8_t c);
    // The next byte of the key stream.
    uint8_t decrypt_byte() const;
    // One byte encrypted, or decrypted; the keys step with the plain byte either way.
    uint8_t zencode(uint8_t c);
    uint8_t zdecode(uint8_t c);
    // A buffer encrypted, or decrypted, in place, first byte to last.
    void encrypt_buff(uint8_t* buffer, size_t length);
    void decrypt_buff(uint8_t* buffer, size_t length);
    // The encryption header of an entry with that CRC: the keys set from the password, then ten
    // unpredictable bytes and bits 16 to 23 and 24 to 31 of the CRC (the bytes a reader checks the
    // password with), all encrypted. The keys then stand ready for the entry's data.
    void MakeHeader(std::string_view password, uint32_t crc, uint8_t (&head)[HeaderSize]);

private:
    uint32_t keys_[3] = {0, 0, 0};
};
