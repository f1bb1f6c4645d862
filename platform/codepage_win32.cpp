// The code pages on Windows: the system's OEM page through MultiByteToWideChar and WideCharToMultiByte.
#include "platform/codepage.h"

#include "platform/widepath_win32.h"

#include "platform/winapi_win32.h"

namespace platform {

namespace {

char asciiLower(char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; }

// The text in the OEM page, or false when a character has no byte there. No best-fit look-alike
// is taken (distinct names stay distinct): the bytes must give the same text back.
bool toOem(const std::wstring& wide, std::string& oem) {
    const UINT page = GetOEMCP();
    if (wide.empty()) {
        oem.clear();
        return true;
    }
    BOOL usedDefault = FALSE;
    const int size = static_cast<int>(wide.size());
    const DWORD flags = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL* defaulted = page == CP_UTF8 ? nullptr : &usedDefault;
    const int n = WideCharToMultiByte(page, flags, wide.data(), size, nullptr, 0, nullptr, defaulted);
    if (n <= 0 || usedDefault) return false;
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(page, flags, wide.data(), size, bytes.data(), n, nullptr, defaulted);
    if (usedDefault) return false;
    const int back = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), n, nullptr, 0);
    std::wstring again(static_cast<size_t>(back > 0 ? back : 0), L'\0');
    if (back > 0) MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), n, again.data(), back);
    if (again != wide) return false;
    oem = std::move(bytes);
    return true;
}

}  // namespace

OemCodePage SystemOemCodePage() {
    switch (GetOEMCP()) {
    case 437: return OemCodePage::Cp437;
    case CP_UTF8: return OemCodePage::Utf8;
    default: return OemCodePage::Other;
    }
}

bool AnsiToOem(std::string_view ansi, std::string& oem) {
    if (!IsUtf8(ansi)) return false;
    if (SystemOemCodePage() == OemCodePage::Utf8) {
        // As on Linux: only ASCII goes out without bit 11.
        for (char c : ansi)
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        oem = std::string(ansi);
        return true;
    }
    return toOem(win32::Wide(ansi), oem);
}

std::string OemToAnsi(std::string_view oem) {
    const UINT page = GetOEMCP();
    if (page == CP_UTF8) return Cp437ToUtf8(oem);  // names without the flag come from other writers
    if (oem.empty()) return {};
    const int size = static_cast<int>(oem.size());
    const int n = MultiByteToWideChar(page, 0, oem.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(page, 0, oem.data(), size, wide.data(), n);
    return win32::Utf8(wide);
}

std::string OemFilter(std::string_view ansi) {
    std::string oem;
    if (!AnsiToOem(ansi, oem)) return std::string(ansi);
    return OemToAnsi(oem);
}

std::string AnsiLowerCase(std::string_view text) {
    std::string out;
    if (!IsUtf8(text)) {
        out.reserve(text.size());
        for (char ch : text) out += asciiLower(ch);
        return out;
    }
    // The system's lower-case mapping, character by character (as the C.UTF-8 locale on Linux);
    // U+0130 takes two characters as Unicode's full mapping has it.
    std::wstring lower = win32::Wide(text);
    for (size_t at = lower.find(L'\x0130'); at != std::wstring::npos; at = lower.find(L'\x0130', at + 2))
        lower.replace(at, 1, L"i\x0307");
    if (!lower.empty()) CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    return win32::Utf8(lower);
}

}  // namespace platform
