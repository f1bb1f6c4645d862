// Conversion between the "ANSI" code page (UTF-8 on Linux) and the OEM code page (CP437).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// True when text is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(std::string_view text);

// Converts UTF-8 text to CP437 bytes; false (oem unchanged) when the text is not well-formed
// UTF-8 or holds a character CP437 lacks. No character is replaced by a look-alike, so distinct
// names never convert to the same bytes.
bool AnsiToOem(std::string_view ansi, std::string& oem);

// Converts CP437 bytes to UTF-8; every byte has a character.
std::string OemToAnsi(std::string_view oem);

// The text passed through the OEM code page and back: unchanged for text CP437 can hold, and
// left as it is when it cannot (it is then stored as UTF-8).
std::string OemFilter(std::string_view ansi);

// The text in lower case, character by character, as the system maps "ANSI" (UTF-8) text: the
// C.UTF-8 locale's mapping, with U+0130 becoming "i" and a combining dot above as Unicode's full
// mapping has it. Text that is not well-formed UTF-8 gets only A to Z folded, its other bytes kept.
std::string AnsiLowerCase(std::string_view text);

}  // namespace platform
