#include "platform/environment.h"

#include "testsupport.h"

#include <gtest/gtest.h>

using testsupport::ScopedEnv;
using testsupport::TempDir;

TEST(ShellFolder, ComesFromTheXdgFoldersWithOneTrailingSlash) {
    TempDir dir;
    const std::string home = (dir / "home").string();
    struct Case {
        const char* what;
        std::optional<std::string> userDirs;  // content of user-dirs.dirs, if there is one
        std::optional<std::string> dataHome, cacheHome;
        std::string name, expected;
    };
    const std::vector<Case> cases = {
        {"desktop from user-dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", {}, {}, "Desktop", home + "/Schreibtisch/"},
        {"absolute desktop, slashes trimmed", "XDG_DESKTOP_DIR=\"/srv/desk//\"\n", {}, {}, "Desktop", "/srv/desk/"},
        {"desktop without user-dirs", {}, {}, {}, "Desktop", home + "/Desktop/"},
        {"relative entries are ignored", "XDG_DESKTOP_DIR=\"desk\"\n", {}, {}, "Desktop", home + "/Desktop/"},
        {"documents", "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", {}, {}, "Personal", home + "/Dokumente/"},
        {"documents unset fall back to home", "XDG_DESKTOP_DIR=\"$HOME/D\"\n", {}, {}, "Personal", home + "/"},
        {"quoted characters", "XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"\"\n", {}, {}, "Personal", home + "/My \"Docs\"/"},
        {"app data", {}, "/data", {}, "AppData", "/data/"},
        {"app data default", {}, {}, {}, "AppData", home + "/.local/share/"},
        {"cache", {}, {}, "/cache/", "Cache", "/cache/"},
        {"cache default", {}, {}, {}, "Cache", home + "/.cache/"},
        {"startup", {}, {}, {}, "Startup", dir.path().string() + "/config/autostart/"},
        {"fonts", {}, "/data", {}, "Fonts", "/data/fonts/"},
        {"programs", {}, "/data", {}, "Programs", "/data/applications/"},
        {"start menu", {}, {}, {}, "Start Menu", home + "/.local/share/applications/"},
        {"no equivalent", {}, {}, {}, "Favorites", ""},
        {"quick launch", {}, {}, {}, "Quick Launch", ""},
        {"names ignore letter case, as registry value names do", {}, {}, {}, "desktop", home + "/Desktop/"},
        {"start menu in capitals", {}, {}, {}, "START MENU", home + "/.local/share/applications/"},
        {"only ASCII letters fold", {}, {}, {}, "Fonts\xC3\xA9", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnv h("HOME", home), x("XDG_CONFIG_HOME", (dir / "config").string()), d("XDG_DATA_HOME", c.dataHome),
            k("XDG_CACHE_HOME", c.cacheHome);
        std::filesystem::remove(dir / "config" / "user-dirs.dirs");
        if (c.userDirs) testsupport::writeFile(dir / "config" / "user-dirs.dirs", *c.userDirs);
        EXPECT_EQ(platform::shellFolder(c.name), c.expected);
    }
}

TEST(ExecutablePath, IsThisTestProgram) {
    const std::string path = platform::executablePath();
    EXPECT_EQ(std::filesystem::path(path).filename(), "environment_test");
    EXPECT_TRUE(std::filesystem::path(path).is_absolute());
    EXPECT_TRUE(std::filesystem::exists(path));
}
