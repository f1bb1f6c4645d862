#include "components/kwdreg.h"

#include "platform/registry.h"
#include "faultyfilesystem.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using platform::Hive;
using platform::RegKey;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using Entry = TKwDReg::Entry;

void PrintTo(const Entry& e, std::ostream* os) { *os << "{'" << e.name << "', '" << e.value << "', '" << e.folder << "'}"; }

using testsupport::errorOf;

namespace {

class KwDRegTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv registry{"MARVANE_REGISTRY_DIR", (dir / "registry").string()};
    ScopedEnv autostart{"MARVANE_AUTOSTART_DIR", (dir / "autostart").string()};
    TKwDReg reg = make();

    TKwDReg make() const {
        TKwDReg r;
        r.Firmenname = "Marvane";
        r.Programmname = "Lib";
        r.IniFileDir = dir.path().string();
        return r;
    }
    std::string file() const { return testsupport::readFile(dir / "config.ini"); }
    static std::vector<Entry> sorted(std::vector<Entry> entries) {
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            return std::tie(a.folder, a.name) < std::tie(b.folder, b.name);
        });
        return entries;
    }
};

}  // namespace

TEST_F(KwDRegTest, TheSettingsFileHasTheExpectedBytes) {
    reg.PushString("a", "1", "X");
    reg.PushInt("b", 7);
    ASSERT_TRUE(reg.SaveToFile());
    EXPECT_EQ(file(), "\r\nb=7\r\n\r\n[X]\r\na=1\r\n");
    EXPECT_EQ(reg.IniFilePath(), dir.path().string() + "/config.ini");

    TKwDReg loaded = make();
    ASSERT_TRUE(loaded.LoadFromFile());
    EXPECT_EQ(loaded.Entries(), (std::vector<Entry>{{"b", "7", ""}, {"a", "1", "X"}}));
}

TEST_F(KwDRegTest, LoadingReadsLinesAsTheFormatSays) {
    struct Case {
        const char* what;
        std::string content;
        std::vector<Entry> entries;
    };
    const std::vector<Case> cases = {
        {"blanks around the equals sign", "name = value\r\n", {{"name", " value", ""}}},
        {"brackets in a value", "x=[y]\r\n", {{"x", "[y]", ""}}},
        {"blanks around a header", "  [Sec]  \r\nk=v\r\n", {{"k", "v", "Sec"}}},
        {"header without closing bracket", "[Sec\r\nk=v\r\n", {{"k", "v", "Sec"}}},
        {"empty brackets are an entry", "[]\r\n", {{"[]", "", ""}}},
        {"a later line replaces and moves", "a=1\r\nb=2\r\na=3\r\n", {{"b", "2", ""}, {"a", "3", ""}}},
        {"every line break", "a=1\rb=2\nc=3\r\n\n\rd=4", {{"a", "1", ""}, {"b", "2", ""}, {"c", "3", ""}, {"d", "4", ""}}},
        {"a zero byte ends the text", std::string("a=1\r\nb=2\0c=3\r\n", 14), {{"a", "1", ""}, {"b", "2", ""}}},
        {"names lose blanks and control characters", "\t key \x01=v\r\n", {{"key", "v", ""}}},
        {"lines without a name are skipped", "=v\r\n   \r\n", {}},
        {"no equals sign", "lonely\r\n", {{"lonely", "", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::writeFile(dir / "config.ini", c.content);
        ASSERT_TRUE(reg.LoadFromFile());
        EXPECT_EQ(reg.Entries(), c.entries);
    }
}

TEST_F(KwDRegTest, ExtractFolderName) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[Sec]", "Sec"},   {"  [Sec]  ", "Sec"}, {"[Sec", "Sec"},  {"[ A b ]", " A b "}, {"[a[b]", "ab"},
        {"[]", ""},         {"x=[y]", ""},        {"[a]x", ""},     {"[a][b]", ""},       {"", ""},
        {"\t[Sec]", ""},    {"[a]]", "a"},        {"]x[", ""},
    };
    for (const auto& [line, folder] : cases) EXPECT_EQ(TKwDReg::ExtractFolderName(line), folder) << "'" << line << "'";
    EXPECT_EQ(TKwDReg::GetDataKey("a=b=c"), "a");
    EXPECT_EQ(TKwDReg::GetDataValue("a=b=c"), "b=c");
    EXPECT_EQ(TKwDReg::GetDataValue("abc"), "");
    EXPECT_EQ(TKwDReg::BuildData(" a", "b "), " a=b ");
}

TEST_F(KwDRegTest, EncodeTextAndDecodeText) {
    const std::string text = "one\r\ntwo\rthree\nfour";
    const std::string encoded = TKwDReg::EncodeText(text, "\\n");
    EXPECT_EQ(encoded, "one\\ntwo\\nthree\\nfour");
    EXPECT_EQ(TKwDReg::DecodeText(encoded, "\\n"), "one\r\ntwo\r\nthree\r\nfour");
    EXPECT_EQ(TKwDReg::EncodeText("\r\n\r\n", "|"), "||");
    EXPECT_EQ(TKwDReg::DecodeText("a||b", "||"), "a\r\nb");
    EXPECT_EQ(TKwDReg::DecodeText("a\\nb", ""), "a\\nb");  // no replacement to find: unchanged

    // A multi-line value stored through EncodeText survives the file.
    reg.PushString("memo", TKwDReg::EncodeText(text, "\\n"));
    ASSERT_TRUE(reg.SaveToFile());
    TKwDReg loaded = make();
    ASSERT_TRUE(loaded.LoadFromFile());
    EXPECT_EQ(TKwDReg::DecodeText(loaded.PopString("memo"), "\\n"), "one\r\ntwo\r\nthree\r\nfour");
}

TEST_F(KwDRegTest, StrToIntTakesWhatConvertsAndTheDefaultOtherwise) {
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"42", 42},         {" 42 ", 42},     {"\t-7\r", -7},          {"+5", 5},         {"$1F", 31},
        {"0x1f", 31},       {"-$10", -16},    {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"2147483648", -1}, {"$FFFFFFFF", -1}, {"", -1},                {"   ", -1},       {"abc", -1},
        {"12a", -1},        {"1 2", -1},      {"-", -1},               {"0x", -1},        {"$", -1},
        {"99999999999999999999", -1},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(TKwDReg::StrToInt(text, -1), expected) << "'" << text << "'";
}

TEST_F(KwDRegTest, TypedAccessorsFallBackToTheirDefaults) {
    reg.PushString("s", "text", "F");
    EXPECT_EQ(reg.PopString("s", "def", "F"), "text");
    EXPECT_EQ(reg.PopString("s"), "");
    EXPECT_EQ(reg.Pop("s", "def"), "def");
    reg.Push("n", " 12 ");
    EXPECT_EQ(reg.PopInt("n"), 12);
    reg.Push("n", "");
    EXPECT_EQ(reg.PopInt("n", 5), 5);
    reg.PushInt("neg", -3, "F");
    EXPECT_EQ(reg.PopString("neg", "", "F"), "-3");

    const std::vector<std::pair<std::optional<std::string>, bool>> bools = {
        {"1", true}, {"0", false}, {"2", true}, {"abc", true}, {std::nullopt, true}, {" 0 ", false},
    };
    for (const auto& [text, expected] : bools) {
        reg.Delete("b");
        if (text) reg.Push("b", *text);
        EXPECT_EQ(reg.PopBool("b", true), expected) << text.value_or("(missing)");
    }
    reg.PushBool("b", false, "F");
    EXPECT_EQ(reg.PopString("b", "", "F"), "0");
}

TEST_F(KwDRegTest, TheTableKeepsOneEntryPerNameAndFolder) {
    reg.Add("a", "1", "");
    reg.Add("b", "2", "");
    reg.Add("A", "3", "");  // names are case-sensitive
    reg.Add("a", "4", "");  // replaced and moved to the end
    reg.Add("a", "5", "F");
    EXPECT_EQ(reg.Entries(), (std::vector<Entry>{{"b", "2", ""}, {"A", "3", ""}, {"a", "4", ""}, {"a", "5", "F"}}));
    EXPECT_EQ(reg.GetIndex("a", "F"), 3);
    EXPECT_EQ(reg.GetIndex("a", "f"), -1);
    EXPECT_TRUE(reg.Exist("A"));
    EXPECT_TRUE(reg.Delete("a"));
    EXPECT_FALSE(reg.Delete("a"));
    EXPECT_TRUE(reg.Exist("a", "F"));
    reg.Clear();
    EXPECT_TRUE(reg.Entries().empty());
}

TEST_F(KwDRegTest, FlagFamiliesWorkOnTheTable) {
    bool a = true, b = true, c = true;
    reg.Push("Flags", "2");
    reg.PopBool("Flags", &a, &b, &c, 0);
    EXPECT_FALSE(a);
    EXPECT_TRUE(b);
    EXPECT_FALSE(c);
    a = true;
    reg.PushBool("Flags", &a, &b, &c);
    EXPECT_EQ(reg.Pop("Flags"), "2");
    reg.Push("Flags", "4");
    reg.PopBool("Flags", &a, &b, &c, 1);
    EXPECT_TRUE(a && !b && !c);
    reg.PopBool("Flags", &a, &b, &c, 0);
    EXPECT_FALSE(a || b || c);
    reg.PushCheckBox("Box", true);
    EXPECT_EQ(reg.Pop("Box"), "1");
    reg.Push("Box", "1 ");
    EXPECT_FALSE(reg.PopCheckBox("Box", true));
    EXPECT_FALSE(std::filesystem::exists(dir / "registry"));  // nothing reached storage
}

TEST_F(KwDRegTest, FoldersDifferingOnlyInCaseAreBothSaved) {
    reg.PushString("k", "upper", "Sec");
    reg.PushString("k", "lower", "sec");
    reg.PushString("other", "x", "Sec");
    ASSERT_TRUE(reg.SaveToFile());
    EXPECT_EQ(file(), "\r\n\r\n[Sec]\r\nk=upper\r\nother=x\r\n\r\n[sec]\r\nk=lower\r\n");
    TKwDReg loaded = make();
    ASSERT_TRUE(loaded.LoadFromFile());
    EXPECT_EQ(sorted(loaded.Entries()), sorted(reg.Entries()));
}

TEST_F(KwDRegTest, ASaveThatWouldLoseOrAlterEntriesIsRefused) {
    const std::vector<std::pair<const char*, Entry>> cases = {
        {"line break in a value", {"memo", "a\r\nb", ""}},
        {"lone line feed in a value", {"memo", "a\nb", ""}},
        {"zero byte in a value", {"memo", std::string("a\0b", 3), ""}},
        {"equals sign in a name", {"a=b", "1", ""}},
        {"blank around a name", {" a", "1", ""}},
        {"empty name", {"", "1", ""}},
        {"name and value forming a header", {"[a", "b]", ""}},
        {"bracket in a folder", {"a", "1", "x]y"}},
        {"line break in a folder", {"a", "1", "x\ny"}},
    };
    for (const auto& [what, entry] : cases) {
        SCOPED_TRACE(what);
        testsupport::writeFile(dir / "config.ini", "old=1\r\n");
        reg.Clear();
        reg.Push("fine", "1");
        reg.Add(entry.name, entry.value, entry.folder);
        EXPECT_FALSE(reg.SaveToFile());
        EXPECT_EQ(file(), "old=1\r\n");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1)
        << "a temporary file was left behind";
}

TEST_F(KwDRegTest, TheFileIsReplacedWholeAndKeepsItsPermissions) {
    reg.Push("a", "\xE9\xFF bytes above 127");
    reg.PushString("b", "", "F G");
    ASSERT_TRUE(reg.SaveToFile());
    std::filesystem::permissions(dir / "config.ini", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    reg.Push("c", "3");
    ASSERT_TRUE(reg.SaveToFile());
    EXPECT_EQ(std::filesystem::status(dir / "config.ini").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    TKwDReg loaded = make();
    ASSERT_TRUE(loaded.LoadFromFile());
    EXPECT_EQ(sorted(loaded.Entries()), sorted(reg.Entries()));

    loaded.IniFileDir = (dir / "missing").string();
    EXPECT_FALSE(loaded.SaveToFile());
    EXPECT_FALSE(loaded.LoadFromFile());
    EXPECT_TRUE(loaded.Entries().empty());
    EXPECT_FALSE(loaded.RawClearFile());
    EXPECT_TRUE(reg.ClearFile());
    EXPECT_FALSE(std::filesystem::exists(dir / "config.ini"));
    EXPECT_FALSE(reg.ClearFile());
}

TEST_F(KwDRegTest, ASettingsFileThatCannotBeReadLoadsNothing) {
    const struct {
        const char* name;
        std::function<void(testsupport::FaultyFileSystem&)> setUp;
    } cases[] = {
        {"a folder in place of the file", [&](auto&) { std::filesystem::create_directory(dir / "config.ini"); }},
        {"a read error halfway", [&](auto& files) {
             testsupport::writeFile(dir / "config.ini", "a=1\r\nb=2\r\n");
             files.readErrorAfter[reg.IniFilePath()] = 5;
         }},
        {"a refused open", [&](auto& files) {
             testsupport::writeFile(dir / "config.ini", "a=1\r\n");
             files.openErrors[reg.IniFilePath()] = EACCES;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir / "config.ini");
        testsupport::FaultyFileSystem files;
        platform::ScopedFileSystem installed(files);
        c.setUp(files);
        reg.Clear();
        reg.Push("kept", "1");
        EXPECT_FALSE(reg.AppendFromFile());
        EXPECT_EQ(reg.Entries(), (std::vector<Entry>{{"kept", "1", ""}}));
        EXPECT_FALSE(reg.LoadFromFile());
        EXPECT_TRUE(reg.Entries().empty());
    }
}

TEST_F(KwDRegTest, FilePathAndProgramFolder) {
    const std::string appDir = TKwDReg::AppDir();
    EXPECT_EQ(appDir.back(), '/');
    EXPECT_EQ(TKwDReg().IniFileDir, appDir);
    EXPECT_EQ(TKwDReg().IniFileName, "config.ini");
    TKwDReg r;
    r.IniFileDir = "/etc/x/";
    r.IniFileName = "a.ini";
    EXPECT_EQ(r.IniFilePath(), "/etc/x/a.ini");
    r.IniFileDir = "";
    EXPECT_EQ(r.IniFilePath(), "a.ini");
}

TEST_F(KwDRegTest, RegistrySaveAndLoadKeepEveryEntry) {
    reg.Push("root", "r");
    reg.PushString("a", "1", "X");
    reg.PushString("b", "\xE9\x01\xFF", "X");
    reg.PushString("deep", "2", "X\\Y");
    reg.PushString("", "default", "Z");
    ASSERT_TRUE(reg.SaveToRegistry());
    EXPECT_EQ(RegKey::open(Hive::CurrentUser, "Software\\Marvane\\Lib\\X\\Y")->read("deep")->text(), "2");

    TKwDReg loaded = make();
    loaded.Push("stale", "gone after LoadFromRegistry");
    ASSERT_TRUE(loaded.LoadFromRegistry());
    EXPECT_EQ(sorted(loaded.Entries()), sorted(reg.Entries()));

    // Saving adds to what the registry holds; clearing first makes it mirror the table.
    reg.Delete("root");
    ASSERT_TRUE(reg.SaveToRegistry());
    ASSERT_TRUE(loaded.LoadFromRegistry());
    EXPECT_TRUE(loaded.Exist("root"));
    ASSERT_TRUE(reg.ClearRegistry());
    ASSERT_TRUE(reg.SaveToRegistry());
    ASSERT_TRUE(loaded.LoadFromRegistry());
    EXPECT_FALSE(loaded.Exist("root"));
}

TEST_F(KwDRegTest, ARegistrySaveThatWouldMergeEntriesIsRefused) {
    const std::vector<std::pair<const char*, std::vector<Entry>>> cases = {
        {"names differing in case", {{"Name", "1", ""}, {"name", "2", ""}}},
        {"folders differing in case", {{"a", "1", "Sec"}, {"b", "2", "sec"}}},
        {"zero byte in a value", {{"a", std::string("x\0y", 3), ""}}},
        {"empty folder level", {{"a", "1", "X\\\\Y"}}},
        {"trailing backslash", {{"a", "1", "X\\"}}},
        {"control byte in a folder", {{"a", "1", "X\tY"}}},
    };
    for (const auto& [what, entries] : cases) {
        SCOPED_TRACE(what);
        reg.Clear();
        reg.Push("first", "1");
        for (const Entry& e : entries) reg.Add(e.name, e.value, e.folder);
        EXPECT_FALSE(reg.SaveToRegistry());
        EXPECT_FALSE(RegKey::open(Hive::CurrentUser, reg.KeyPath()).has_value()) << "something was written";
    }
}

TEST_F(KwDRegTest, RegistryFailuresAndMissingKeys) {
    EXPECT_FALSE(reg.LoadFromRegistry());
    EXPECT_TRUE(reg.Entries().empty());
    EXPECT_FALSE(reg.RawClearRegistry("Nope"));
    EXPECT_FALSE(reg.RawLoadFolderFormRegistry("Nope"));

    RegKey key = RegKey::create(Hive::CurrentUser, reg.KeyPath());
    key.writeText("a", "1");
    key.write("X", platform::REG_DWORD, platform::dwordData(3));
    key.writeText("b", "2");
    EXPECT_EQ(errorOf([&] { reg.LoadFromRegistry(); }), "Invalid data type for 'X'");
    EXPECT_EQ(reg.Entries(), (std::vector<Entry>{{"a", "1", ""}}));

    testsupport::writeFile(dir / "file", "");
    ScopedEnv blocked("MARVANE_REGISTRY_DIR", (dir / "file" / "registry").string());
    EXPECT_EQ(errorOf([&] { reg.RawSaveRegistryValue("v", "1", ""); }), "Failed to set data for 'v'");
}

TEST_F(KwDRegTest, ClearRegistryDeletesOnlyTheProgramsKey) {
    RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Other").writeText("keep", "1");
    reg.PushString("a", "1", "F");
    ASSERT_TRUE(reg.SaveToRegistry());
    EXPECT_TRUE(reg.RawClearRegistry("F"));
    EXPECT_TRUE(RegKey::open(Hive::CurrentUser, reg.KeyPath()).has_value());
    EXPECT_TRUE(reg.ClearRegistry());
    EXPECT_FALSE(RegKey::open(Hive::CurrentUser, reg.KeyPath()).has_value());
    EXPECT_FALSE(reg.ClearRegistry());

    // Without a program name the key would be the company's: refused.
    reg.Programmname = "";
    EXPECT_FALSE(reg.ClearRegistry());
    EXPECT_FALSE(reg.RawClearRegistry("Other"));
    EXPECT_EQ(RegKey::open(Hive::CurrentUser, "Software\\Marvane\\Other")->read("keep")->text(), "1");
}

TEST_F(KwDRegTest, StartupEntryIsAValidDesktopEntryForThisProgram) {
    EXPECT_FALSE(reg.GetSystemStartup("Folvio Lib"));
    reg.SetSystemStartup(true, "Folvio Lib");
    EXPECT_TRUE(reg.GetSystemStartup("Folvio Lib"));
    const std::filesystem::path entry = dir / "autostart" / "Folvio Lib.desktop";
    const std::string text = testsupport::readFile(entry);
    EXPECT_NE(text.find("\nExec=" + std::filesystem::canonical("/proc/self/exe").string() + "\n"), std::string::npos) << text;
    auto check = testsupport::runCommand("desktop-file-validate " + testsupport::shellQuote(entry.string()));
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_EQ(check.output, "");

    reg.SetSystemStartup(false, "Folvio Lib");
    EXPECT_FALSE(reg.GetSystemStartup("Folvio Lib"));
    EXPECT_NO_THROW(reg.SetSystemStartup(false, "Folvio Lib"));
    EXPECT_NO_THROW(reg.SetSystemStartup(false, "../escape"));

    for (const std::string bad : {"../escape", "a/b", "", ".."})
        EXPECT_EQ(errorOf([&] { reg.SetSystemStartup(true, bad); }), "Failed to set data for '" + bad + "'");
    testsupport::writeFile(dir / "file", "");
    ScopedEnv blocked("MARVANE_AUTOSTART_DIR", (dir / "file" / "autostart").string());
    EXPECT_EQ(errorOf([&] { reg.SetSystemStartup(true, "x"); }), "Failed to set data for 'x'");
    EXPECT_FALSE(reg.GetSystemStartup("x"));
}
