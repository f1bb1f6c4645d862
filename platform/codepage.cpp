#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include <locale.h>
#include <wctype.h>

namespace platform {

namespace {

// The characters of CP437 bytes 0x80 to 0xFF; bytes below 0x80 are ASCII.
constexpr std::array<char32_t, 128> kHighHalf = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// (character, byte) pairs of the high half, sorted by character for the reverse lookup.
constexpr std::array<std::pair<char32_t, uint8_t>, 128> kReverse = [] {
    std::array<std::pair<char32_t, uint8_t>, 128> table{};
    for (size_t i = 0; i < 128; ++i) table[i] = {kHighHalf[i], static_cast<uint8_t>(0x80 + i)};
    std::sort(table.begin(), table.end());
    return table;
}();

// Decodes one character at pos; false on a malformed sequence.
bool decode(std::string_view text, size_t& pos, char32_t& c) {
    auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    uint8_t b0 = byte(pos);
    size_t extra;
    char32_t min;
    if (b0 < 0x80) {
        c = b0;
        ++pos;
        return true;
    } else if ((b0 & 0xE0) == 0xC0) {
        extra = 1, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, c = b0 & 0x07, min = 0x10000;
    } else {
        return false;
    }
    if (pos + extra >= text.size()) return false;
    for (size_t i = 1; i <= extra; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return false;
        c = (c << 6) | (byte(pos + i) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    pos += extra + 1;
    return true;
}

void encode(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

[[maybe_unused]] char asciiLower(char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; }

}  // namespace

bool IsUtf8(std::string_view text) {
    size_t pos = 0;
    char32_t c;
    while (pos < text.size())
        if (!decode(text, pos, c)) return false;
    return true;
}

bool Utf8ToCp437(std::string_view utf8, std::string& cp437) {
    std::string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    char32_t c;
    while (pos < utf8.size()) {
        if (!decode(utf8, pos, c)) return false;
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        auto it = std::lower_bound(kReverse.begin(), kReverse.end(), std::pair<char32_t, uint8_t>{c, 0});
        if (it == kReverse.end() || it->first != c) return false;
        out += static_cast<char>(it->second);
    }
    cp437 = std::move(out);
    return true;
}

std::string Cp437ToUtf8(std::string_view cp437) {
    std::string out;
    out.reserve(cp437.size() * 2);
    for (char ch : cp437) {
        uint8_t b = static_cast<uint8_t>(ch);
        encode(b < 0x80 ? char32_t{b} : kHighHalf[b - 0x80], out);
    }
    return out;
}

// The system-dependent conversions; the Windows build has its own in codepage_win32.cpp.
#ifndef _WIN32
OemCodePage SystemOemCodePage() { return OemCodePage::Utf8; }

bool AnsiToOem(std::string_view ansi, std::string& oem) {
    if (SystemOemCodePage() == OemCodePage::Cp437) return Utf8ToCp437(ansi, oem);
    for (char c : ansi)
        if (static_cast<uint8_t>(c) >= 0x80) return false;
    oem = std::string(ansi);
    return true;
}

std::string OemToAnsi(std::string_view oem) { return Cp437ToUtf8(oem); }

std::string OemFilter(std::string_view ansi) {
    std::string oem;
    if (!AnsiToOem(ansi, oem)) return std::string(ansi);
    return OemToAnsi(oem);
}

std::string AnsiLowerCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    if (!IsUtf8(text)) {
        for (char ch : text) out += asciiLower(ch);
        return out;
    }
    // One locale object for the process, whatever locale the process itself runs in; without
    // C.UTF-8 on the system only ASCII letters are folded.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    size_t pos = 0;
    char32_t c;
    while (pos < text.size()) {
        decode(text, pos, c);
        if (c < 0x80) {
            out += asciiLower(static_cast<char>(c));
        } else if (c == 0x130) {
            out += "i\xCC\x87";  // the one capital whose lower case takes two characters
        } else {
            if (utf8) c = static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), utf8));
            encode(c, out);
        }
    }
    return out;
}
#endif

}  // namespace platform
