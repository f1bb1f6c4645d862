// File names on Windows compare ignoring case: each character through the system's upper-case table.
#include "platform/filenamecase.h"

#include <cstdint>

#include "platform/winapi_win32.h"

namespace platform {

namespace {

// The next character of UTF-8 text and the bytes it takes; a byte that is no UTF-8 stands for
// itself (offset past U+10FFFF, so that it never equals a character).
char32_t next(std::string_view text, size_t& at) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t b = byte(at);
    const size_t length = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    char32_t c = length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
    bool ok = length != 0 && at + length <= text.size();
    for (size_t k = 1; ok && k < length; ++k) {
        ok = (byte(at + k) & 0xC0) == 0x80;
        c = (c << 6) | (byte(at + k) & 0x3F);
    }
    if (!ok) {
        ++at;
        return 0x110000 + b;
    }
    at += length;
    return length == 1 ? b : c;
}

char32_t fold(char32_t c) {
    if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
    if (c > 0xFFFF) return c;
    // CharUpperW takes one character in the low word of its argument and answers it in place.
    const auto single = reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c))));
    return static_cast<char32_t>(single & 0xFFFF);
}

void encode(char32_t c, std::string& out) {
    if (c >= 0x110000) {
        out += static_cast<char>(c - 0x110000);
    } else if (c < 0x80) {
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

}  // namespace

bool FileNamesIgnoreCase() { return true; }

std::string FoldFileName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (size_t at = 0; at < name.size();) encode(fold(next(name, at)), out);
    return out;
}

int CompareFileNames(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = fold(next(a, i)), y = fold(next(b, j));
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    return j < b.size() ? -1 : 0;
}

}  // namespace platform
