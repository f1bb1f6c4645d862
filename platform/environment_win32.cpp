// The user's environment on Windows: the profile and the shell's known folders through SHGetKnownFolderPath.
#include "platform/environment.h"

#include "platform/asciicase.h"
#include "platform/widepath_win32.h"

#include <cstdlib>
#include <optional>
#include "platform/winapi_win32.h"
#include <knownfolders.h>
#include <shlobj.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

// The folder as the core writes paths ("/" between names), or nullopt when the shell has none.
std::optional<std::string> knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path);
    std::optional<std::string> folder;
    if (SUCCEEDED(result) && path) folder = win32::CorePath(path);
    CoTaskMemFree(path);
    return folder;
}

std::string withOneSlash(std::string folder) {
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    return folder + "/";
}

fs::path pathOf(const std::string& utf8) { return fs::path(win32::Wide(utf8)); }

}  // namespace

fs::path homeDir() {
    if (auto profile = knownFolder(FOLDERID_Profile)) return pathOf(*profile);
    if (const wchar_t* home = _wgetenv(L"USERPROFILE"); home && *home) return home;
    return "C:/";
}

fs::path configHome() {
    if (auto folder = knownFolder(FOLDERID_RoamingAppData)) return pathOf(*folder);
    return homeDir();
}
fs::path dataHome() { return configHome(); }
fs::path cacheHome() {
    if (auto folder = knownFolder(FOLDERID_LocalAppData)) return pathOf(*folder);
    return homeDir();
}

std::string shellFolder(std::string_view asked) {
    // Shell-folder names are registry value names, which compare ignoring ASCII case.
    const std::string name = AsciiLower(asked);
    const KNOWNFOLDERID* id = nullptr;
    if (name == "desktop") id = &FOLDERID_Desktop;
    else if (name == "personal") id = &FOLDERID_Documents;
    else if (name == "appdata") id = &FOLDERID_RoamingAppData;
    else if (name == "cache") id = &FOLDERID_InternetCache;
    else if (name == "startup") id = &FOLDERID_Startup;
    else if (name == "fonts") id = &FOLDERID_Fonts;
    else if (name == "programs") id = &FOLDERID_Programs;
    else if (name == "start menu") id = &FOLDERID_StartMenu;
    if (!id) return "";
    const std::optional<std::string> folder = knownFolder(*id);
    return folder ? withOneSlash(*folder) : "";
}

std::string executablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return "";
        if (n < buffer.size()) return win32::CorePath(std::wstring_view(buffer.data(), n));
        buffer.resize(buffer.size() * 2);  // cut: ask again with more room
    }
}

}  // namespace platform
