#include "platform/regfile.h"

#include "testsupport.h"

#include <gtest/gtest.h>

using namespace platform;
using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

std::string bytesFrom(int first, int last) {
    std::string s;
    for (int b = first; b <= last; ++b) s.push_back(static_cast<char>(b));
    return s;
}

// A tree with every byte in names and data, every type, and both string forms.
std::vector<RegFileKey> sampleTree() {
    return {
        {Hive::CurrentUser, "Software\\Marvane\\Folvio", false,
         {{"DestDir", false, {REG_SZ, textData("/backups/")}},
          {"Password", false, {REG_SZ, textData(bytesFrom(1, 255))}},
          {"", false, {REG_SZ, textData("default \"quoted\" \\ back")}},
          {"name " + bytesFrom(1, 255), false, {REG_SZ, textData("\xE9t\xE9")}},
          {"no terminator", false, {REG_SZ, "abc"}},
          {"two zeros", false, {REG_SZ, std::string("a\0b\0", 4)}},
          {"Binary", false, {REG_BINARY, bytesFrom(0, 255)}},
          {"Empty", false, {REG_BINARY, ""}},
          {"Count", false, {REG_DWORD, dwordData(0x89abcdef)}},
          {"Short dword", false, {REG_DWORD, "\1\2"}},
          {"Expand", false, {REG_EXPAND_SZ, textData("$HOME")}},
          {"Type 0x1234", false, {0x1234, "x"}}}},
        {Hive::CurrentUser, "Software\\Marvane\\Folvio\\Sub key [1]", false, {}},
        {Hive::LocalMachine, "", false, {{"at the root", false, {REG_SZ, textData("1")}}}},
    };
}

}  // namespace

TEST(RegFile, FormatAndParseGiveBackEveryByte) {
    const std::vector<RegFileKey> keys = sampleTree();
    const std::string text = formatRegFile(keys);
    EXPECT_EQ(text.rfind("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Marvane\\Folvio]\r\n", 0), 0u);
    EXPECT_EQ(parseRegFile(text), keys);
}

TEST(RegFile, WritesStringsInQuotesWhereEveryReaderTakesThem) {
    struct Case {
        const char* what;
        RegFileValue value;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"plain text", {"DestDir", false, {REG_SZ, textData("/backups/")}}, "\"DestDir\"=\"/backups/\""},
        {"escapes", {"a\"b", false, {REG_SZ, textData("C:\\x")}}, "\"a\\\"b\"=\"C:\\\\x\""},
        {"bytes above 127 stay as they are", {"p", false, {REG_SZ, textData("\xE9\xFF")}}, "\"p\"=\"\xE9\xFF\""},
        {"control bytes go to hex", {"p", false, {REG_SZ, textData("a\rb")}}, "\"p\"=hex(1):61,0d,62,00"},
        {"default value", {"", false, {REG_SZ, textData("d")}}, "@=\"d\""},
        {"dword", {"n", false, {REG_DWORD, dwordData(16)}}, "\"n\"=dword:00000010"},
        {"binary", {"b", false, {REG_BINARY, "\x01\xAB"}}, "\"b\"=hex:01,ab"},
        {"expandable", {"e", false, {REG_EXPAND_SZ, textData("A")}}, "\"e\"=hex(2):41,00"},
        {"deletion", {"gone", true, {}}, "\"gone\"=-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = formatRegFile({{Hive::CurrentUser, "K", false, {c.value}}});
        EXPECT_EQ(text, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n" + c.line + "\r\n\r\n");
    }
}

TEST(RegFile, ReadsHandWrittenFiles) {
    const std::string text =
        "\xEF\xBB\xBF"
        "REGEDIT4  \n"
        "; a comment\n"
        "\n"
        "[hkcu\\Software\\Test\\]\n"
        "\"A\" = \"one\"\r"
        "@=\"default\"\r\n"
        "\"Bin\"=hex:01,02,\\\n"
        "   03,FF  \n"
        "\"Multi\"=hex(7):41,00,00,00\n"
        "\"D\"=DWORD:ff\n"
        "\"Old\"=-\n"
        "[-HKEY_LOCAL_MACHINE\\Software\\Gone]";
    const std::vector<RegFileKey> expected = {
        {Hive::CurrentUser, "Software\\Test", false,
         {{"A", false, {REG_SZ, textData("one")}},
          {"", false, {REG_SZ, textData("default")}},
          {"Bin", false, {REG_BINARY, "\x01\x02\x03\xFF"}},
          {"Multi", false, {7, std::string("A\0\0\0", 4)}},
          {"D", false, {REG_DWORD, dwordData(255)}},
          {"Old", true, {}}}},
        {Hive::LocalMachine, "Software\\Gone", true, {}},
    };
    EXPECT_EQ(parseRegFile(text), expected);
}

TEST(RegFile, RejectsMalformedFilesWithTheLine) {
    struct Case {
        const char* what;
        std::string text;
        size_t line;
    };
    const std::vector<Case> cases = {
        {"no signature", "[HKEY_CURRENT_USER\\K]\r\n", 1},
        {"other signature", "REGEDIT5\r\n", 1},
        {"value before any key", "REGEDIT4\r\n\"a\"=\"b\"\r\n", 2},
        {"value after a key deletion", "REGEDIT4\r\n[-HKCU\\K]\r\n\"a\"=\"b\"\r\n", 3},
        {"unknown hive", "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\K]\r\n", 3},
        {"invalid key path", "REGEDIT4\r\n[HKCU\\a\\\\b]\r\n", 2},
        {"deleting a hive's root", "REGEDIT4\r\n\r\n[-HKCU]\r\n", 3},
        {"header without bracket", "REGEDIT4\r\n[HKCU\\K\r\n", 2},
        {"open quote", "REGEDIT4\r\n[HKCU\\K]\r\n\"a\"=\"b\r\n", 4},
        {"missing equals", "REGEDIT4\r\n[HKCU\\K]\r\n\"a\" \"b\"\r\n", 3},
        {"bad hex", "REGEDIT4\r\n[HKCU\\K]\r\n\"a\"=hex:0g\r\n", 3},
        {"value name with a zero byte", "REGEDIT4\r\n[HKCU\\K]\r\n\"a" + std::string(1, '\0') + "b\"=\"c\"\r\n", 3},
        {"dword too long", "REGEDIT4\r\n[HKCU\\K]\r\n\"a\"=dword:123456789\r\n", 3},
        {"unknown data", "REGEDIT4\r\n[HKCU\\K]\r\n\"a\"=qword:1\r\n", 3},
        {"text after the value", "REGEDIT4\r\n[HKCU\\K]\r\n\"a\"=\"b\" junk\r\n", 3},
        {"stray text", "REGEDIT4\r\n[HKCU\\K]\r\nname=value\r\n", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            parseRegFile(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const RegFileError& e) {
            EXPECT_EQ(e.line(), c.line) << e.what();
        }
    }
}

TEST(RegFile, ExportAndImportThroughTheRegistryAreLossless) {
    TempDir dir;
    ScopedEnv env("MARVANE_REGISTRY_DIR", dir.path().string());
    std::vector<RegFileKey> tree = sampleTree();
    tree.pop_back();  // the machine hive's root is elsewhere
    applyRegFile(tree);
    const std::string exported = formatRegFile(readKeyTree(Hive::CurrentUser, "software\\marvane\\folvio\\"));
    EXPECT_EQ(parseRegFile(exported), tree);

    ASSERT_TRUE(deleteKeyTree(Hive::CurrentUser, "Software\\Marvane"));
    applyRegFile(parseRegFile(exported));
    EXPECT_EQ(formatRegFile(readKeyTree(Hive::CurrentUser, "Software\\Marvane\\Folvio")), exported);

    applyRegFile(parseRegFile("REGEDIT4\r\n[HKCU\\Software\\Marvane\\Folvio]\r\n\"DestDir\"=-\r\n"
                              "[-HKCU\\Software\\Marvane\\Folvio\\Sub key [1]]\r\n"));
    std::optional<RegKey> key = RegKey::open(Hive::CurrentUser, "Software\\Marvane\\Folvio");
    ASSERT_TRUE(key);
    EXPECT_FALSE(key->read("DestDir").has_value());
    EXPECT_TRUE(key->read("Password").has_value());
    EXPECT_TRUE(key->subkeyNames().empty());
    EXPECT_THROW(readKeyTree(Hive::CurrentUser, "Software\\Missing"), RegistryError);
}
