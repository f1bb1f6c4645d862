// The user's environment: home and XDG base folders, the desktop's well-known folders, the running program.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// $HOME, or the home folder of the account when HOME is unset.
std::filesystem::path homeDir();
// $XDG_CONFIG_HOME, $XDG_DATA_HOME, $XDG_CACHE_HOME when absolute, else ~/.config, ~/.local/share, ~/.cache.
std::filesystem::path configHome();
std::filesystem::path dataHome();
std::filesystem::path cacheHome();

// The path of a well-known folder by its shell-folder name ("Desktop", "Personal", "AppData",
// "Cache", "Startup", "Fonts", "Programs", "Start Menu"), ending in exactly one "/"; the empty
// text for a name without an equivalent on this desktop.
std::string shellFolder(std::string_view name);

// The full path of the running program's executable file; the empty text when it cannot be found.
std::string executablePath();

}  // namespace platform
