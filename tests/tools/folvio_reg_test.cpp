#include "components/kwreg.h"
#include "platform/regfile.h"
#include "platform/registry.h"
#include "testsupport.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using platform::Hive;
using platform::RegKey;
using platform::RegValue;
using testsupport::runCommand;
using testsupport::ScopedEnv;
using testsupport::shellQuote;
using testsupport::TempDir;

namespace {

class FolvioRegTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv registry{"MARVANE_REGISTRY_DIR", (dir / "registry").string()};

    // Runs folvio-reg with the arguments, each quoted for the shell; input goes to its stdin.
    static testsupport::CommandResult reg(const std::vector<std::string>& args, const std::string& input = "") {
        std::string line = "printf %s ";
        line += shellQuote(input);
        line += " | ";
        line += shellQuote(FOLVIO_REG);
        for (const std::string& a : args) {
            line += ' ';
            line += shellQuote(a);
        }
        return runCommand(line);
    }
    static std::optional<RegValue> value(const std::string& path, const std::string& name) {
        std::optional<RegKey> key = RegKey::open(Hive::CurrentUser, path);
        return key ? key->read(name) : std::nullopt;
    }
};

const std::string kFolvio = "HKCU\\Software\\Marvane\\Folvio";

}  // namespace

TEST_F(FolvioRegTest, SetsTheDestinationFolderThatTheApplicationReads) {
    auto added = reg({"add", kFolvio, "/v", "DestDir", "/d", "/backups/", "/f"});
    EXPECT_EQ(added.exitCode, 0) << added.output;
    auto queried = reg({"query", kFolvio, "/v", "destdir"});
    EXPECT_EQ(queried.exitCode, 0) << queried.output;
    EXPECT_EQ(queried.output, "\nHKEY_CURRENT_USER\\Software\\Marvane\\Folvio\n    DestDir    REG_SZ    /backups/\n\n");
    TKwReg KwReg1{"Marvane", "Folvio"};
    EXPECT_EQ(KwReg1.Pop("DestDir"), "/backups/");
}

TEST_F(FolvioRegTest, ArgumentsAfterSwitchesAreTakenAsTheyStand) {
    const std::vector<std::string> texts = {"/f", "/v", "\xE9\xFF\x80 high", "tab\tcr\rlf\nbell\x07", "-", ""};
    for (size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string name = "n" + texts[i];
        auto r = reg({"add", kFolvio, "/v", name, "/d", texts[i], "/f"});
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(value("Software\\Marvane\\Folvio", name), (RegValue{platform::REG_SZ, platform::textData(texts[i])}));
    }
    EXPECT_EQ(reg({"add", kFolvio, "/v", "Count", "/t", "REG_DWORD", "/d", "0x10"}).exitCode, 0);
    EXPECT_EQ(reg({"add", kFolvio, "/v", "Blob", "/t", "reg_binary", "/d", "00fF"}).exitCode, 0);
    EXPECT_EQ(reg({"add", kFolvio, "/v", "Exp", "/t", "REG_EXPAND_SZ", "/d", "$HOME"}).exitCode, 0);
    EXPECT_EQ(value("Software\\Marvane\\Folvio", "Count"), (RegValue{platform::REG_DWORD, platform::dwordData(16)}));
    EXPECT_EQ(value("Software\\Marvane\\Folvio", "Blob"), (RegValue{platform::REG_BINARY, std::string("\0\xFF", 2)}));
    EXPECT_EQ(reg({"query", kFolvio, "/v", "count"}).output, "\nHKEY_CURRENT_USER\\Software\\Marvane\\Folvio\n    Count    REG_DWORD    0x10\n\n");
    EXPECT_NE(reg({"query", kFolvio}).output.find("    Blob    REG_BINARY    00FF\n"), std::string::npos);
}

TEST_F(FolvioRegTest, QueryShowsWhatATerminalCannotShowEscapedAndExportKeepsEveryByte) {
    struct Case {
        const char* what;
        std::string name, data, shownName, shownData;
    };
    const std::vector<Case> cases = {
        {"plain text", "DestDir", "/srv/backups/", "DestDir", "/srv/backups/"},
        {"UTF-8 text", "Ordner", "/home/j\xC3\xBCrgen/caf\xC3\xA9 \xE6\x96\x87/", "Ordner", "/home/j\xC3\xBCrgen/caf\xC3\xA9 \xE6\x96\x87/"},
        {"a scrambled password", "Password", "\x01\x1B[2J\x7F\xFF\x80\x9B\xC3", "Password", "\\x01\\x1B[2J\\x7F\\xFF\\x80\\x9B\\xC3"},
        {"a backslash", "Win", "C:\\x41", "Win", "C:\\\\x41"},
        {"C1 controls and bidirectional overrides", "Odd", "\xC2\x9B" "1m\xE2\x80\xAE" "txt", "Odd", "\\xC2\\x9B1m\\xE2\\x80\\xAEtxt"},
        {"a name with a tab and a line break", "tab\there\nnext", "x", "tab\\x09here\\x0Anext", "x"},
    };
    {
        RegKey key = RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Folvio");
        for (const Case& c : cases) key.writeText(c.name, c.data);
    }
    const auto before = platform::readKeyTree(Hive::CurrentUser, "Software\\Marvane");
    auto all = reg({"query", kFolvio});
    ASSERT_EQ(all.exitCode, 0) << all.output;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string line = "    " + c.shownName + "    REG_SZ    " + c.shownData + "\n";
        EXPECT_NE(all.output.find(line), std::string::npos) << all.output;
        auto one = reg({"query", kFolvio, "/v", c.name});
        EXPECT_EQ(one.output, "\nHKEY_CURRENT_USER\\Software\\Marvane\\Folvio\n" + line + "\n");
    }
    for (char ch : all.output) EXPECT_TRUE(ch == '\n' || static_cast<unsigned char>(ch) >= 0x20) << int(ch);

    auto exported = reg({"export", "HKCU\\Software\\Marvane", "-"});
    ASSERT_EQ(exported.exitCode, 0);
    ASSERT_EQ(reg({"delete", "HKCU\\Software\\Marvane", "/f"}).exitCode, 0);
    ASSERT_EQ(reg({"import", "-"}, exported.output).exitCode, 0);
    EXPECT_EQ(platform::readKeyTree(Hive::CurrentUser, "Software\\Marvane"), before) << "every byte comes back";
}

TEST_F(FolvioRegTest, ExitCodes) {
    ASSERT_EQ(reg({"add", kFolvio, "/v", "DestDir", "/d", "/x/"}).exitCode, 0);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {"query a value", {"query", kFolvio, "/v", "DestDir"}, 0},
        {"query a key", {"QUERY", "hkey_current_user\\software"}, 0},
        {"missing key", {"query", "HKCU\\Software\\Nope"}, 1},
        {"missing value", {"query", kFolvio, "/v", "Nope"}, 1},
        {"delete a missing value", {"delete", kFolvio, "/v", "Nope", "/f"}, 1},
        {"delete a missing key", {"delete", "HKCU\\Software\\Nope", "/f"}, 1},
        {"export a missing key", {"export", "HKCU\\Software\\Nope", (dir / "x.reg").string()}, 1},
        {"import a missing file", {"import", (dir / "missing.reg").string()}, 1},
        {"no command", {}, 2},
        {"unknown command", {"copy", kFolvio}, 2},
        {"unknown hive", {"query", "HKCR\\Software"}, 2},
        {"invalid key path", {"query", "HKCU\\a\\\\b"}, 2},
        {"no key", {"query"}, 2},
        {"switch without its argument", {"add", kFolvio, "/v"}, 2},
        {"switch given twice", {"add", kFolvio, "/v", "a", "/v", "b"}, 2},
        {"unknown type", {"add", kFolvio, "/v", "a", "/t", "REG_QWORD", "/d", "1"}, 2},
        {"dword that is no number", {"add", kFolvio, "/v", "a", "/t", "REG_DWORD", "/d", "ten"}, 2},
        {"dword too large", {"add", kFolvio, "/v", "a", "/t", "REG_DWORD", "/d", "4294967296"}, 2},
        {"odd binary", {"add", kFolvio, "/v", "a", "/t", "REG_BINARY", "/d", "abc"}, 2},
        {"data without a name", {"add", kFolvio, "/d", "x"}, 2},
        {"switch the command does not take", {"query", kFolvio, "/f"}, 2},
        {"extra operand", {"query", kFolvio, "extra"}, 2},
        {"deleting a hive root", {"delete", "HKCU", "/f"}, 2},
    };
    for (const Case& c : cases) {
        auto r = reg(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what << ": " << r.output;
    }
    EXPECT_EQ(value("Software\\Marvane\\Folvio", "DestDir")->text(), "/x/");
}

TEST_F(FolvioRegTest, HelpShowsHowToSetTheDestinationFolder) {
    for (const char* help : {"--help", "-h", "/?"}) {
        auto r = reg({help});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.output.find("folvio-reg add 'HKCU\\Software\\Marvane\\Folvio' /v DestDir /d /backups/ /f"),
                  std::string::npos)
            << r.output;
    }
}

TEST_F(FolvioRegTest, AsksBeforeOverwritingOrDeleting) {
    ASSERT_EQ(reg({"add", kFolvio, "/v", "AutoName", "/d", "1"}).exitCode, 0);
    auto refused = reg({"add", kFolvio, "/v", "autoname", "/d", ""}, "n\n");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.output.find("overwrite"), std::string::npos);
    EXPECT_EQ(value("Software\\Marvane\\Folvio", "AutoName")->text(), "1");
    EXPECT_EQ(reg({"add", kFolvio, "/v", "AutoName", "/d", ""}, "yes\n").exitCode, 0);
    EXPECT_EQ(value("Software\\Marvane\\Folvio", "AutoName")->text(), "");

    EXPECT_EQ(reg({"delete", "HKCU\\Software\\Marvane"}).exitCode, 1);  // no answer: nothing deleted
    EXPECT_TRUE(value("Software\\Marvane\\Folvio", "AutoName").has_value());
    EXPECT_EQ(reg({"delete", kFolvio, "/v", "AutoName"}, "y\n").exitCode, 0);
    EXPECT_FALSE(value("Software\\Marvane\\Folvio", "AutoName").has_value());
    EXPECT_EQ(reg({"delete", "HKCU\\Software\\Marvane", "/f"}).exitCode, 0);
    EXPECT_FALSE(RegKey::open(Hive::CurrentUser, "Software\\Marvane").has_value());
}

TEST_F(FolvioRegTest, ExportAndImportAreLossless) {
    std::string every, typeable;
    for (int b = 0; b < 256; ++b) every.push_back(static_cast<char>(b));
    for (int b = 1; b < 256; ++b) typeable.push_back(static_cast<char>(b));
    {
        RegKey key = RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Folvio");
        key.writeText("Password", typeable);
        key.writeText("Name\r\nwith \"breaks\"", "\xC3\xA9t\xC3\xA9");
        key.write("Raw", platform::REG_BINARY, every);
        key.write("Count", platform::REG_DWORD, platform::dwordData(7));
        RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Folvio\\Sub").writeText("", "default");
    }
    const auto before = platform::readKeyTree(Hive::CurrentUser, "Software\\Marvane");
    const std::string file = (dir / "settings.reg").string();
    auto exported = reg({"export", "HKCU\\Software\\Marvane", file});
    ASSERT_EQ(exported.exitCode, 0) << exported.output;
    EXPECT_EQ(testsupport::readFile(file).rfind("REGEDIT4\r\n", 0), 0u);
    EXPECT_EQ(reg({"export", "HKCU\\Software\\Marvane", file}).exitCode, 1);  // exists, not confirmed
    EXPECT_EQ(reg({"export", "HKCU\\Software\\Marvane", file, "/y"}).exitCode, 0);

    ASSERT_EQ(reg({"delete", "HKCU\\Software\\Marvane", "/f"}).exitCode, 0);
    auto imported = reg({"import", file});
    ASSERT_EQ(imported.exitCode, 0) << imported.output;
    EXPECT_EQ(platform::readKeyTree(Hive::CurrentUser, "Software\\Marvane"), before);

    testsupport::writeFile(dir / "bad.reg", "REGEDIT4\r\n[HKCU\\Software\\Bad]\r\n\"a\"=\"1\"\r\n\"b\"=oops\r\n");
    auto bad = reg({"import", (dir / "bad.reg").string()});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.output.find("line 4"), std::string::npos) << bad.output;
    EXPECT_FALSE(RegKey::open(Hive::CurrentUser, "Software\\Bad").has_value()) << "a malformed file was half applied";

    auto folder = reg({"import", dir.path().string()});  // a folder is no registry file
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_NE(folder.output.find("ERROR: cannot read " + dir.path().string()), std::string::npos) << folder.output;
}

TEST_F(FolvioRegTest, ImportReadsPipesAndStandardInputAndExportWritesToIt) {
    {
        RegKey key = RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Folvio");
        key.writeText("DestDir", "/srv/backups/");
        key.write("Raw", platform::REG_BINARY, std::string("\0\x01\xFF", 3));
    }
    const auto before = platform::readKeyTree(Hive::CurrentUser, "Software\\Marvane");
    auto exported = reg({"export", "HKCU\\Software\\Marvane", "-"});
    ASSERT_EQ(exported.exitCode, 0) << exported.output;
    EXPECT_EQ(exported.output, platform::formatRegFile(before)) << "standard output holds the file and nothing else";

    // Each command hands the exported text to an import into a second registry.
    const std::string tool = shellQuote(FOLVIO_REG);
    const fs::path copy = dir / "copy";
    const std::string text = "printf %s " + shellQuote(exported.output) + " | ";
    const std::string importer = "MARVANE_REGISTRY_DIR=" + shellQuote(copy.string()) + " " + tool;
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"import -", text + importer + " import -"},
        {"import /dev/stdin", text + importer + " import /dev/stdin"},
        {"export - piped into import -", tool + " export 'HKCU\\Software\\Marvane' - | " + importer + " import -"},
    };
    for (const auto& [what, command] : cases) {
        SCOPED_TRACE(what);
        fs::remove_all(copy);
        auto r = runCommand(command);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        ScopedEnv other("MARVANE_REGISTRY_DIR", copy.string());
        EXPECT_EQ(testsupport::errorOf([&] { EXPECT_EQ(platform::readKeyTree(Hive::CurrentUser, "Software\\Marvane"), before); }),
                  "no error");
    }
    auto empty = runCommand(tool + " import - </dev/null");
    EXPECT_EQ(empty.exitCode, 1) << "an empty stream is no registry file: " << empty.output;
}

TEST_F(FolvioRegTest, ADamagedHiveFailsInOneLineUntilRepairSavesWhatIsLeft) {
    ASSERT_EQ(reg({"add", kFolvio, "/v", "DestDir", "/d", "/srv/backups/", "/f"}).exitCode, 0);
    const fs::path hive = platform::hiveFile(Hive::CurrentUser);
    testsupport::writeFile(hive, "garbage\n");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"query", kFolvio}, {"add", kFolvio, "/v", "DestDir", "/d", "/x/", "/f"}, {"export", kFolvio, "-"}}) {
        auto r = reg(args);
        EXPECT_EQ(r.exitCode, 1) << args[0];
        EXPECT_EQ(r.output, "ERROR: the registry hive " + hive.string() +
                                " is damaged (file is not a database); 'folvio-reg repair' saves what can still be read of it\n")
            << args[0];
    }
    EXPECT_EQ(testsupport::readFile(hive), "garbage\n") << "never replaced by an empty hive";

    auto repaired = reg({"repair"});
    EXPECT_EQ(repaired.exitCode, 0) << repaired.output;
    const std::string kept = hive.string() + ".damaged-";
    const size_t at = repaired.output.find(kept);
    ASSERT_NE(at, std::string::npos) << repaired.output;
    const std::string keptAs = repaired.output.substr(at, repaired.output.find_first_of(".\n", at + kept.size()) - at);
    EXPECT_EQ(repaired.output, "The registry hive " + hive.string() +
                                   " was damaged (file is not a database): no value could be saved; a fresh hive "
                                   "is in its place, and the damaged copy is kept as " + keptAs + ".\n");
    EXPECT_EQ(testsupport::readFile(keptAs), "garbage\n");
    EXPECT_EQ(reg({"query", kFolvio}).exitCode, 1) << "the fresh hive is empty";
    EXPECT_EQ(reg({"add", kFolvio, "/v", "DestDir", "/d", "/x/", "/f"}).exitCode, 0);

    auto sound = reg({"repair", "HKCU"});
    EXPECT_EQ(sound.exitCode, 0);
    EXPECT_EQ(sound.output, "The registry hive " + hive.string() + " is sound; nothing was changed.\n");
    EXPECT_EQ(reg({"repair", "HKCR"}).exitCode, 2);
    EXPECT_NE(reg({"--help"}).output.find("folvio-reg repair [HIVE]"), std::string::npos);
}

TEST_F(FolvioRegTest, ProcessesWritingAtOnceLoseNothing) {
    std::string script;
    for (const char* who : {"a", "b", "c"})
        script += "(for i in $(seq 1 15); do " + shellQuote(FOLVIO_REG) + " add 'HKCU\\Software\\Race' /v " + who +
                  "$i /d $i /f >/dev/null || echo FAILED; done) & ";
    auto r = runCommand(script + "wait");
    EXPECT_EQ(r.output, "");
    std::optional<RegKey> key = RegKey::open(Hive::CurrentUser, "Software\\Race");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->valueNames().size(), 45u);
    auto check = runCommand("sqlite3 " + shellQuote(platform::hiveFile(Hive::CurrentUser).string()) + " 'PRAGMA integrity_check'");
    EXPECT_EQ(check.output, "ok\n");
}
