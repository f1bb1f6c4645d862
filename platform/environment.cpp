#include "platform/environment.h"

#include "platform/asciicase.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

namespace {

// An environment variable that holds an absolute path; relative ones are ignored as XDG asks.
std::optional<fs::path> absoluteFromEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return std::nullopt;
    return fs::path(value);
}

// A folder from the user-dirs file ("$HOME/Desktop" or "/abs/path" in double quotes), if set.
std::optional<fs::path> userDir(const std::string& key) {
    std::ifstream in(configHome() / "user-dirs.dirs");
    std::string line;
    std::optional<fs::path> found;
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size() + 1, key + "=") != 0) continue;
        std::string_view rest = std::string_view(line).substr(start + key.size() + 1);
        if (rest.size() < 2 || rest.front() != '"') continue;
        std::string value;
        size_t i = 1;
        for (; i < rest.size() && rest[i] != '"'; ++i) {
            if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
            value.push_back(rest[i]);
        }
        if (i == rest.size()) continue;  // no closing quote
        if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/'))
            found = homeDir().string() + value.substr(5);
        else if (!value.empty() && value[0] == '/')
            found = fs::path(value);
    }
    return found;
}

std::string withOneSlash(const fs::path& folder) {
    std::string text = folder.string();
    if (text.empty()) return text;
    while (!text.empty() && text.back() == '/') text.pop_back();
    return text + "/";
}

}  // namespace

fs::path homeDir() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

fs::path configHome() { return absoluteFromEnv("XDG_CONFIG_HOME").value_or(homeDir() / ".config"); }
fs::path dataHome() { return absoluteFromEnv("XDG_DATA_HOME").value_or(homeDir() / ".local" / "share"); }
fs::path cacheHome() { return absoluteFromEnv("XDG_CACHE_HOME").value_or(homeDir() / ".cache"); }

std::string shellFolder(std::string_view asked) {
    // Shell-folder names are registry value names, which compare ignoring ASCII case.
    const std::string name = AsciiLower(asked);
    // Unset user folders fall back as the desktop's own lookup does: the desktop to ~/Desktop, others to ~.
    if (name == "desktop") return withOneSlash(userDir("XDG_DESKTOP_DIR").value_or(homeDir() / "Desktop"));
    if (name == "personal") return withOneSlash(userDir("XDG_DOCUMENTS_DIR").value_or(homeDir()));
    if (name == "appdata") return withOneSlash(dataHome());
    if (name == "cache") return withOneSlash(cacheHome());
    if (name == "startup") return withOneSlash(configHome() / "autostart");
    if (name == "fonts") return withOneSlash(dataHome() / "fonts");
    if (name == "programs" || name == "start menu") return withOneSlash(dataHome() / "applications");
    return "";
}

std::string executablePath() {
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return "";
        if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);  // the path may have been cut: read it again with more room
    }
}

}  // namespace platform
