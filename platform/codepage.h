// Conversion between the "ANSI" code page (UTF-8 on Linux), the system's OEM code page and CP437.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// True when text is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(std::string_view text);

// CP437, the ZIP format's code page for names stored without the language-encoding flag.
// Converts UTF-8 text to CP437 bytes; false (cp437 unchanged) when the text is not well-formed
// UTF-8 or holds a character CP437 lacks. No character is replaced by a look-alike, so distinct
// names never convert to the same bytes.
bool Utf8ToCp437(std::string_view utf8, std::string& cp437);
// Converts CP437 bytes to UTF-8; every byte has a character.
std::string Cp437ToUtf8(std::string_view cp437);

// The code pages an OEM code page can be here; Other is another page of the Windows system
// (850, 866...), which the Windows build converts through with the system's own tables.
enum class OemCodePage { Utf8, Cp437, Other };
// The system's OEM code page, in which the archive writer stores names without bit 11. Linux has
// none: it is UTF-8, and every name outside ASCII goes out as UTF-8 with bit 11, which every
// reader restores right. The Windows build answers the system's own page here.
OemCodePage SystemOemCodePage();

// Converts text to the OEM code page; false (oem unchanged) when the page cannot hold it. With
// UTF-8 as the OEM page only ASCII text converts (to the same bytes): the rest needs bit 11.
bool AnsiToOem(std::string_view ansi, std::string& oem);

// The name of an entry stored without the language-encoding flag: the OEM code page's bytes as
// UTF-8. Where the OEM page is UTF-8, such names come from other writers, in CP437.
std::string OemToAnsi(std::string_view oem);

// The text passed through the OEM code page and back: unchanged for text the page can hold, and
// left as it is when it cannot (it is then stored as UTF-8).
std::string OemFilter(std::string_view ansi);

// The text in lower case, character by character, as the system maps "ANSI" (UTF-8) text: the
// C.UTF-8 locale's mapping, with U+0130 becoming "i" and a combining dot above as Unicode's full
// mapping has it. Text that is not well-formed UTF-8 gets only A to Z folded, its other bytes kept.
std::string AnsiLowerCase(std::string_view text);

}  // namespace platform
