#include "components/kwreg.h"

#include "platform/registry.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <functional>

using platform::Hive;
using platform::RegKey;
using testsupport::ScopedEnv;
using testsupport::TempDir;

using testsupport::errorOf;

namespace {

class KwRegTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv registry{"MARVANE_REGISTRY_DIR", (dir / "registry").string()};
    TKwReg KwReg1{"Marvane", "Folvio"};

    // The raw value under a key path, as the registry holds it.
    static std::optional<platform::RegValue> stored(const std::string& path, const std::string& name) {
        std::optional<RegKey> key = RegKey::open(Hive::CurrentUser, path);
        return key ? key->read(name) : std::nullopt;
    }
};

}  // namespace

TEST_F(KwRegTest, PopGivesWhatPushWroteOrTheEmptyText) {
    EXPECT_EQ(KwReg1.Pop("DestDir"), "");
    KwReg1.Push("DestDir", "abc");
    EXPECT_EQ(KwReg1.Pop("DestDir"), "abc");
    EXPECT_EQ(KwReg1.Pop("destdir"), "abc");
    KwReg1.Push("DestDir", "");
    EXPECT_EQ(KwReg1.Pop("DestDir"), "");
    EXPECT_EQ(stored("Software\\Marvane\\Folvio", "DestDir"), (platform::RegValue{platform::REG_SZ, std::string(1, '\0')}));

    std::string scrambled;
    for (int b = 255; b >= 1; --b) scrambled.push_back(static_cast<char>(b));
    KwReg1.Push("Password", scrambled);
    EXPECT_EQ(KwReg1.Pop("Password"), scrambled);
    EXPECT_EQ(stored("Software\\Marvane\\Folvio", "Password")->data, scrambled + '\0');
}

TEST_F(KwRegTest, NothingIsCachedBetweenCalls) {
    TKwReg other{"Marvane", "Folvio"};
    KwReg1.Push("AutoName", "1");
    EXPECT_EQ(other.Pop("AutoName"), "1");
    RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Folvio").writeText("AutoName", "");
    EXPECT_EQ(KwReg1.Pop("AutoName"), "");
    KwReg1.Programmname = "Other";
    EXPECT_EQ(KwReg1.Pop("DestDir"), "");
}

TEST_F(KwRegTest, TheKeyPathFollowsTheCompanyAndProgramNames) {
    struct Case {
        std::string firm, program, path;
    };
    const std::vector<Case> cases = {
        {"Marvane", "Folvio", "Software\\Marvane\\Folvio"},
        {"", "Tool", "Software\\Tool"},
        {"Marvane", "", "Software\\Marvane\\"},
        {"", "", "Software\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TKwReg reg{c.firm, c.program};
        EXPECT_EQ(reg.KeyPath(), c.path);
        reg.Push("Where", c.path);
        EXPECT_EQ(stored(c.path, "Where")->text(), c.path);
        EXPECT_EQ(reg.Pop("Where"), c.path);
    }
}

TEST_F(KwRegTest, PopCheckBoxIsTrueOnlyForAStoredOne) {
    const std::vector<std::pair<std::optional<std::string>, bool>> cases = {
        {"1", true}, {"0", false}, {"1 ", false}, {" 1", false}, {"yes", false}, {"", false}, {"01", false}, {std::nullopt, false},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text.value_or("(missing)"));
        if (text) KwReg1.Push("DeleteFiles", *text);
        else RegKey::create(Hive::CurrentUser, KwReg1.KeyPath()).erase("DeleteFiles");
        EXPECT_EQ(KwReg1.PopCheckBox("DeleteFiles", false), expected);
        EXPECT_EQ(KwReg1.PopCheckBox("DeleteFiles", true), expected);
    }
    KwReg1.PushCheckBox("DeleteFiles", false);
    EXPECT_EQ(KwReg1.Pop("DeleteFiles"), "0");
    KwReg1.PushCheckBox("DeleteFiles", true);
    EXPECT_EQ(KwReg1.Pop("DeleteFiles"), "1");
}

TEST_F(KwRegTest, PushBoolStoresTheHighestSetFlag) {
    bool f[10] = {};
    KwReg1.PushBool("Flags", &f[0], &f[1], &f[2]);
    EXPECT_EQ(KwReg1.Pop("Flags"), "0");
    f[0] = f[2] = true;
    KwReg1.PushBool("Flags", &f[0], &f[1], &f[2]);
    EXPECT_EQ(KwReg1.Pop("Flags"), "3");
    f[9] = true;
    KwReg1.PushBool("Flags", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9]);
    EXPECT_EQ(KwReg1.Pop("Flags"), "10");
}

TEST_F(KwRegTest, PopBoolSetsTheSelectedFlagAndLeavesTheOthers) {
    bool a = true, b = false, c = false;
    KwReg1.PopBool("Flags", &a, &b, 0);  // missing, no default: nothing set
    EXPECT_TRUE(a);
    EXPECT_FALSE(b);
    KwReg1.Push("Flags", "2");
    KwReg1.PopBool("Flags", &a, &b, &c, 0);
    EXPECT_TRUE(a);
    EXPECT_TRUE(b);
    EXPECT_FALSE(c);
    a = b = false;
    KwReg1.Push("Flags", "02");
    KwReg1.PopBool("Flags", &a, &b, &c, 3);
    EXPECT_TRUE(c);
    EXPECT_FALSE(a || b);
}

TEST(ChoiceNumber, OnlyExactNumbersSelectAMemberOtherwiseTheDefault) {
    struct Case {
        std::string text;
        int count, defaultNumber, expected;
    };
    const std::vector<Case> cases = {
        {"", 3, 2, 2},   {"0", 3, 2, 2},  {"4", 3, 2, 2},  {"02", 3, 2, 2}, {"3", 3, 2, 3},   {"1", 3, 2, 1},
        {" 3", 3, 2, 2}, {"+3", 3, 2, 2}, {"-1", 3, 2, 2}, {"3 ", 3, 2, 2}, {"10", 10, 1, 10}, {"10", 9, 1, 1},
        {"", 3, 0, 0},   {"x", 3, 4, 0},  {"x", 3, -1, 0}, {"2", 3, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.text + "' of " + std::to_string(c.count) + ", default " + std::to_string(c.defaultNumber));
        EXPECT_EQ(kwstore::ChoiceNumber(c.text, c.count, c.defaultNumber), c.expected);
    }
    const bool set[] = {true, false, true, false};
    EXPECT_EQ(kwstore::ChoiceText(set), "3");
    EXPECT_EQ(kwstore::ChoiceText(std::span<const bool>()), "0");
}

TEST_F(KwRegTest, AValueOfAnotherTypeRaisesInvalidDataType) {
    RegKey key = RegKey::create(Hive::CurrentUser, KwReg1.KeyPath());
    key.write("X", platform::REG_DWORD, platform::dwordData(1));
    key.write("B", platform::REG_BINARY, "1");
    key.write("E", platform::REG_EXPAND_SZ, platform::textData("$HOME"));
    EXPECT_EQ(errorOf([&] { KwReg1.Pop("X"); }), "Invalid data type for 'X'");
    EXPECT_EQ(errorOf([&] { KwReg1.PopCheckBox("B", false); }), "Invalid data type for 'B'");
    EXPECT_EQ(KwReg1.Pop("E"), "$HOME");  // as stored, not expanded
    KwReg1.Push("X", "text now");
    EXPECT_EQ(KwReg1.Pop("X"), "text now");
}

TEST_F(KwRegTest, AFailedWriteRaisesFailedToSetData) {
    testsupport::writeFile(dir / "file", "");
    ScopedEnv blocked("MARVANE_REGISTRY_DIR", (dir / "file" / "registry").string());
    EXPECT_EQ(errorOf([&] { KwReg1.Push("DestDir", "/x/"); }), "Failed to set data for 'DestDir'");
    EXPECT_EQ(errorOf([&] { KwReg1.PushCheckBox("DeleteFiles", true); }), "Failed to set data for 'DeleteFiles'");
    // Reading from a registry that cannot be opened is no error.
    EXPECT_EQ(KwReg1.Pop("DestDir"), "");
    EXPECT_FALSE(KwReg1.PopCheckBox("DeleteFiles", false));
}

TEST_F(KwRegTest, ADamagedHiveIsAnErrorThatNamesItNotAnEmptyStore) {
    KwReg1.Push("DestDir", "/srv/backups/");
    const std::filesystem::path hive = platform::hiveFile(Hive::CurrentUser);
    testsupport::writeFile(hive, "not a hive any more\n");
    const std::string expected = "the registry hive " + hive.string() + " is damaged";
    const std::vector<std::pair<const char*, std::function<void()>>> uses = {
        {"Pop", [&] { KwReg1.Pop("DestDir"); }},
        {"PopCheckBox", [&] { KwReg1.PopCheckBox("DeleteFiles", false); }},
        {"Push", [&] { KwReg1.Push("DestDir", "/x/"); }},
    };
    for (const auto& [what, use] : uses) {
        const std::string error = errorOf(use);
        EXPECT_NE(error.find(expected), std::string::npos) << what << ": " << error;
        EXPECT_NE(error.find("folvio-reg repair"), std::string::npos) << what << ": " << error;
    }
    EXPECT_EQ(errorOf([&] { KwReg1.Push("DestDir", "/x/"); }).rfind("Failed to set data for 'DestDir': ", 0), 0u);
    EXPECT_EQ(errorOf([&] { KwReg1.Pop("DestDir"); }).rfind("The settings cannot be read: ", 0), 0u);
    EXPECT_EQ(testsupport::readFile(hive), "not a hive any more\n");
}

TEST_F(KwRegTest, IsIntLooksAtTheFirstCharacterOnly) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"0", true}, {"9", true}, {"12ab", true}, {"", false}, {"x1", false}, {"-5", false}, {"+5", false}, {" 5", false},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(TKwReg::IsInt(text), expected) << "'" << text << "'";
}

TEST_F(KwRegTest, EnvironmentHelpers) {
    const std::string appDir = TKwReg::AppDir();
    ASSERT_FALSE(appDir.empty());
    EXPECT_EQ(appDir.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(appDir + "kwreg_test"));

    ScopedEnv home("HOME", "/home/u"), data("XDG_DATA_HOME", std::nullopt), cache("XDG_CACHE_HOME", "/var/cache/u"),
        config("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(KwReg1.GetDirDesktop(), "/home/u/Desktop/");
    EXPECT_EQ(KwReg1.GetDirPersonal(), "/home/u/");
    EXPECT_EQ(KwReg1.GetDirAppData(), "/home/u/.local/share/");
    EXPECT_EQ(KwReg1.GetDirCache(), "/var/cache/u/");
    EXPECT_EQ(KwReg1.GetDirStartup(), "/home/u/.config/autostart/");
    EXPECT_EQ(KwReg1.GetDirFonts(), "/home/u/.local/share/fonts/");
    EXPECT_EQ(KwReg1.GetDirPrograms(), "/home/u/.local/share/applications/");
    EXPECT_EQ(KwReg1.GetDirStartMenu(), "/home/u/.local/share/applications/");
    for (const std::string& none : {KwReg1.GetDirFavorites(), KwReg1.GetDirNetHood(), KwReg1.GetDirSendTo(),
                                    KwReg1.GetDirQuickLaunch(), KwReg1.GetShellFolder("Unknown")})
        EXPECT_EQ(none, "");
}
