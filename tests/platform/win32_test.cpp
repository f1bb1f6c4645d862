// The Windows behaviour of the platform layer and the tools, run under Wine: the system registry,
// real attributes, OEM code pages, long paths and the temporary files of an update.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "backup/backuprun.h"
#include "components/kwdreg.h"
#include "components/kwreg.h"
#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/filelock.h"
#include "platform/filesystem.h"
#include "platform/filenamecase.h"
#include "platform/findfile.h"
#include "platform/regfile.h"
#include "platform/registry.h"
#include "platform/securerandom.h"
#include "platform/shutdown.h"
#include "platform/wildcard.h"
#include "platform/widepath_win32.h"
#include "platform/winapi_win32.h"
#include "testsupport.h"
#include "zip/aescipher.h"
#include "zip/sortedzip.h"
#include "zip/ziperrors.h"
#include "zip/zipwriter.h"

namespace fs = std::filesystem;
using platform::Hive;
using platform::RegKey;
using platform::win32::Wide;
using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

// A path in the core's form: UTF-8 with "/" between names.
std::string corePath(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

// Creates the folder and the folders above it that are missing, long paths included.
void makeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 3); slash != std::string::npos; slash = folder.find('/', slash + 1))
        CreateDirectoryW(platform::win32::SystemPath(folder.substr(0, slash)).c_str(), nullptr);
    CreateDirectoryW(platform::win32::SystemPath(folder).c_str(), nullptr);
}

// Writes a file through the core's file system (wide API, long paths included), folders made first.
void writeCoreFile(const std::string& path, const std::string& content) {
    makeFolders(path.substr(0, path.rfind('/')));
    platform::FileSystem& files = platform::fileSystem();
    const int fd = files.open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ASSERT_GE(fd, 0) << path << ": " << platform::errorText(fd);
    ASSERT_EQ(files.pwrite(fd, content.data(), content.size(), 0), static_cast<ssize_t>(content.size()));
    ASSERT_EQ(files.close(fd), 0);
}

std::string readCoreFile(const std::string& path) {
    platform::FileSystem& files = platform::fileSystem();
    const int fd = files.open(path, O_RDONLY, 0);
    if (fd < 0) return "<" + platform::errorText(fd) + ">";
    std::string content;
    char buffer[4096];
    for (ssize_t n; (n = files.read(fd, buffer, sizeof buffer)) > 0;) content.append(buffer, static_cast<size_t>(n));
    files.close(fd);
    return content;
}

// One central directory record as stored: the raw name bytes and the general purpose flag.
struct StoredName {
    std::string name;
    uint16_t flag = 0;
};

// The central directory of an archive, read byte by byte as any reader would.
std::vector<StoredName> storedNames(const std::string& archive) {
    const std::string bytes = readCoreFile(archive);
    auto u16 = [&](size_t at) { return static_cast<uint16_t>(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8); };
    std::vector<StoredName> names;
    for (size_t at = bytes.find("PK\x01\x02"); at != std::string::npos && at + 46 <= bytes.size();
         at = bytes.find("PK\x01\x02", at + 4)) {
        const size_t length = u16(at + 28);
        names.push_back({bytes.substr(at + 46, length), u16(at + 8)});
    }
    return names;
}

// Packs a folder's files recursively into archive, paths relative to the folder.
int pack(const std::string& folder, const std::string& archive, TZipAction action = TZipAction::zaUpdate,
         bool onlyArchiveBit = false) {
    TZipWriter writer;
    writer.SetRootDir(folder);
    writer.SetRelativePaths(true);
    writer.AddDirEntriesOnRecurse = false;
    writer.SkipIfArchiveBitNotSet = onlyArchiveBit;
    writer.SetZipName(archive);
    writer.ZipAction = action;
    writer.FilesList.push_back(">" + folder + "*.*");
    return writer.Zip();
}

std::set<std::string> namesIn(const std::string& archive) {
    std::set<std::string> names;
    for (const StoredName& n : storedNames(archive)) names.insert(n.name);
    return names;
}

// The FVZ temporaries (FVZxxxx.tmp) in a folder.
std::vector<std::string> temporariesIn(const std::string& folder) {
    std::vector<std::string> names, found;
    platform::fileSystem().listDirectory(folder, names);
    for (const std::string& name : names)
        if (name.rfind("FVZ", 0) == 0) found.push_back(name);
    return found;
}

DWORD attributesOf(const std::string& path) { return GetFileAttributesW(platform::win32::SystemPath(path).c_str()); }

void setAttributes(const std::string& path, DWORD attributes) {
    ASSERT_TRUE(SetFileAttributesW(platform::win32::SystemPath(path).c_str(), attributes)) << path;
}

// The folder of the running test program, where the tools are built beside it.
std::string programFolder() {
    const std::string self = platform::executablePath();
    return self.substr(0, self.rfind('/') + 1);
}

// A key of this process's own below HKCU\Software\Marvane, removed afterwards.
class ScopedTestKey {
public:
    ScopedTestKey() : path_("Software\\Marvane\\Win32Test-" + std::to_string(GetCurrentProcessId())) {}
    ~ScopedTestKey() { platform::deleteKeyTree(Hive::CurrentUser, path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace

// --- The registry -------------------------------------------------------------------------------

// Both stand-ins (the tests' private hives) and the system's own hive are the system registry.
class Win32Registry : public ::testing::TestWithParam<bool> {};

TEST_P(Win32Registry, ValuesRoundTripExactlyAndNamesIgnoreCase) {
    const bool system = GetParam();
    std::optional<ScopedEnv> noSandbox;
    if (system) noSandbox.emplace("MARVANE_REGISTRY_DIR", std::nullopt);
    ScopedTestKey testKey;
    const std::string sub = testKey.path() + "\\Sub";
    struct Value {
        const char* what;
        std::string name;
        uint32_t type;
        std::string data;
    };
    const std::vector<Value> values = {
        {"text outside every code page", "Greeting", REG_SZ, platform::textData("Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC")},
        {"expandable text", "TempPath", REG_EXPAND_SZ, platform::textData("%TEMP%\\folvio")},
        {"a number", "Count", REG_DWORD, platform::dwordData(0xDEADBEEF)},
        {"bytes with zeros", "Scrambled", REG_BINARY, std::string("\0\x01\xFF\0z", 5)},
        {"text of bytes that are no UTF-8", "Password", REG_SZ, platform::textData("\xFF\xFE\x80z\xC3(\xED\xA0\x80")},
        {"the default value", "", REG_SZ, platform::textData("default")},
    };
    {
        RegKey key = RegKey::create(Hive::CurrentUser, sub);
        for (const Value& v : values) key.write(v.name, v.type, v.data);
        key.writeText("greeting", "for a moment");  // rewritten in other letter case: one value
        key.write("GREETING", values[0].type, values[0].data);
        RegKey::create(Hive::CurrentUser, testKey.path() + "\\beta");
        RegKey::create(Hive::CurrentUser, testKey.path() + "\\Alpha");
    }
    std::optional<RegKey> key = RegKey::open(Hive::CurrentUser, sub);
    ASSERT_TRUE(key.has_value());
    for (const Value& v : values) {
        std::optional<platform::RegValue> read = key->read(v.name);
        ASSERT_TRUE(read.has_value()) << v.what;
        EXPECT_EQ(read->type, v.type) << v.what;
        EXPECT_EQ(read->data, v.data) << v.what;
    }
    ASSERT_TRUE(key->read("GREETING").has_value()) << "value names ignore case";
    EXPECT_EQ(key->read("GREETING")->text(), values[0].data.substr(0, values[0].data.size() - 1));
    const std::vector<std::string> names = key->valueNames();
    EXPECT_EQ(names.size(), values.size());
    EXPECT_NE(std::find(names.begin(), names.end(), "Greeting"), names.end()) << "kept as first written";
    EXPECT_EQ(key->path(), sub);
    EXPECT_EQ(RegKey::open(Hive::CurrentUser, testKey.path())->subkeyNames(),
              (std::vector<std::string>{"Alpha", "beta", "Sub"}));
    EXPECT_TRUE(key->erase("count"));
    EXPECT_FALSE(key->erase("Count"));
    key.reset();
    if (system) {
        // The system holds the text as UTF-16, where every other program reads it.
        wchar_t text[64] = {};
        DWORD size = sizeof text;
        ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, Wide(sub).c_str(), L"Greeting", RRF_RT_REG_SZ, nullptr, text, &size), ERROR_SUCCESS);
        EXPECT_EQ(std::wstring(text), L"Gr\u00FC\u00DFe \u65E5\u672C");
    }
    EXPECT_TRUE(platform::deleteKeyTree(Hive::CurrentUser, testKey.path()));
    EXPECT_FALSE(RegKey::open(Hive::CurrentUser, sub).has_value());
    EXPECT_FALSE(platform::deleteKeyTree(Hive::CurrentUser, testKey.path()));
}

INSTANTIATE_TEST_SUITE_P(StandInAndSystemHives, Win32Registry, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? std::string("System") : std::string("StandIn"); });

// Export and import give back every byte, names that are no UTF-8 included; the system lists
// the values in an order of its own (Wine sorts them by name), the same after the import.
TEST(Win32Registry, ExportAndImportThroughTheSystemRegistryAreLossless) {
    std::string everyByte;
    for (int b = 1; b < 256; ++b) everyByte += static_cast<char>(b);
    const std::string path = "Software\\Marvane\\ExportTest";
    {
        RegKey key = RegKey::create(Hive::CurrentUser, path);
        key.write("Password", REG_SZ, platform::textData(everyByte));
        key.write("name " + everyByte, REG_SZ, platform::textData("\xE9t\xE9"));
        key.write("no terminator", REG_SZ, "abc");
        key.write("two zeros", REG_SZ, std::string("a\0b\0", 4));
        key.write("Binary", REG_BINARY, everyByte);
        key.write("Short dword", REG_DWORD, "\1\2");
        key.write("Type 0x1234", 0x1234, "x");
        RegKey::create(Hive::CurrentUser, path + "\\Sub key [1]");
    }
    const std::string exported = platform::formatRegFile(platform::readKeyTree(Hive::CurrentUser, path));
    ASSERT_TRUE(platform::deleteKeyTree(Hive::CurrentUser, path));
    platform::applyRegFile(platform::parseRegFile(exported));
    EXPECT_EQ(platform::formatRegFile(platform::readKeyTree(Hive::CurrentUser, path)), exported);
    std::optional<RegKey> key = RegKey::open(Hive::CurrentUser, path);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->read("name " + everyByte)->data, platform::textData("\xE9t\xE9"));
    EXPECT_EQ(key->read("password")->data, platform::textData(everyByte));
    EXPECT_EQ(key->valueNames().size(), 7u);
    platform::deleteKeyTree(Hive::CurrentUser, path);
}

TEST(Win32Registry, TheSettingsStoreKeepsItsValuesInTheSystemRegistry) {
    ScopedEnv noSandbox("MARVANE_REGISTRY_DIR", std::nullopt);
    const std::string program = "Win32Test-" + std::to_string(GetCurrentProcessId());
    {
        TKwReg store("Marvane", program);
        store.Push("DestDir", "C:\\Backups\\Gr\xC3\xBC\xC3\x9F" "e\\");
        EXPECT_EQ(TKwReg("Marvane", program).Pop("destdir"), "C:\\Backups\\Gr\xC3\xBC\xC3\x9F" "e\\");
    }
    const std::string path = TKwReg("Marvane", program).KeyPath();
    wchar_t text[64] = {};
    DWORD size = sizeof text;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, Wide(path).c_str(), L"DESTDIR", RRF_RT_REG_SZ, nullptr, text, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text), L"C:\\Backups\\Gr\u00FC\u00DFe\\");
    platform::deleteKeyTree(Hive::CurrentUser, path);
}

// The start-up entry is a value of the machine's Run key holding the program's full path
// (in the tests' stand-in machine hive).
TEST(Win32Registry, TheStartUpEntryIsAValueOfTheRunKey) {
    TKwDReg store;
    const std::string name = "Folvio test";
    EXPECT_FALSE(store.GetSystemStartup(name));
    store.SetSystemStartup(true, name);
    EXPECT_TRUE(store.GetSystemStartup(name));
    std::optional<RegKey> run = RegKey::open(Hive::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    ASSERT_TRUE(run);
    std::string program = platform::executablePath();
    std::replace(program.begin(), program.end(), '/', '\\');
    EXPECT_EQ(run->read(name)->text(), program);
    EXPECT_EQ(run->read(name)->type, REG_SZ);
    store.SetSystemStartup(false, name);
    EXPECT_FALSE(store.GetSystemStartup(name));
    store.SetSystemStartup(false, name);  // nothing to remove: no error
}

TEST(Win32Registry, AValueWrittenByFolvioRegIsReadByTheSystemsRegQuery) {
    ScopedEnv noSandbox("MARVANE_REGISTRY_DIR", std::nullopt);
    ScopedTestKey testKey;
    const std::string key = "HKCU\\" + testKey.path();
    std::string exe = programFolder() + FOLVIO_REG_EXE;
    std::replace(exe.begin(), exe.end(), '/', '\\');
    const std::string reg = testsupport::shellQuote(exe);
    auto added = testsupport::runCommand(reg + " add \"" + key + "\" /v Answer /t REG_DWORD /d 42 /f");
    ASSERT_EQ(added.exitCode, 0) << added.output;
    auto queried = testsupport::runCommand("reg query \"" + key + "\" /v answer");
    EXPECT_EQ(queried.exitCode, 0) << queried.output;
    EXPECT_NE(queried.output.find("0x2a"), std::string::npos) << queried.output;
}

// --- Files: attributes, temporaries, long paths -------------------------------------------------

TEST(Win32Files, TheSearchReadsTheAttributesSetWithSetFileAttributesW) {
    TempDir dir;
    const std::string folder = corePath(dir.path()) + "/";
    struct Case {
        const char* name;
        DWORD set;  // 0: left as the system made it
        uint32_t expected;
    };
    const Case cases[] = {
        {"plain.txt", 0, platform::faArchive},
        {"hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, platform::faHidden | platform::faArchive},
        {"system.txt", FILE_ATTRIBUTE_SYSTEM, platform::faSysFile},
        {"readonly.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, platform::faReadOnly | platform::faArchive},
        {"backed-up.txt", FILE_ATTRIBUTE_NORMAL, 0},
    };
    for (const Case& c : cases) {
        writeCoreFile(folder + c.name, c.name);
        if (c.set) setAttributes(folder + c.name, c.set);
    }
    // Wine keeps hidden, system and read-only but reports the archive bit on every file.
    const bool keepsArchiveBit = !(attributesOf(folder + "backed-up.txt") & FILE_ATTRIBUTE_ARCHIVE);
    const uint32_t compared = keepsArchiveBit ? platform::faAnyFile : platform::faAnyFile & ~platform::faArchive;
    platform::DirectoryListing listing(folder);
    ASSERT_EQ(listing.error(), 0);
    std::map<std::string, uint32_t> seen;
    platform::FindRecord rec;
    for (int end = listing.First(rec); end == 0; end = listing.Next(rec)) seen[rec.name] = rec.attributes;
    for (const Case& c : cases) {
        EXPECT_EQ(seen[c.name] & compared, c.expected & compared) << c.name;
        platform::FindRecord one;
        ASSERT_TRUE(platform::FindFile(folder + c.name, one)) << c.name;
        EXPECT_EQ(one.attributes & compared, c.expected & compared) << c.name;
        EXPECT_EQ(one.size, std::strlen(c.name)) << c.name;
    }
    for (const Case& c : cases) setAttributes(folder + c.name, FILE_ATTRIBUTE_NORMAL);
}

namespace {

// A host of the backup run that packs one folder and answers the deletion question Yes.
class DeletingHost : public backup::Host {
public:
    explicit DeletingHost(std::string folder) : folder_(std::move(folder)) {}
    std::vector<std::string> listed;
    int FolderCount() override { return 1; }
    bool FolderChecked(int) override { return !packed_; }
    std::string FolderText(int) override { return folder_; }
    bool MayStart() override { return true; }
    void DestinationListed(const std::vector<std::string>& names) override { listed = names; }
    backup::Answer DeletionQuestion(const std::string&) override { return backup::Answer::Yes; }
    void SetRunning(bool) override {}
    void RunStarted(int) override {}
    void FolderStarted(int, const std::string&) override {}
    std::string Password() override { return ""; }
    void Report(const std::string&) override {}
    void FolderPacked(const backup::FolderResult&) override { packed_ = true; }
    void RunEnded() override {}

private:
    std::string folder_;
    bool packed_ = false;
};

}  // namespace

TEST(Win32Files, TheDeletionStepHonoursTheRealAttributes) {
    TempDir dir;
    const std::string source = corePath(dir.path()) + "/data/";
    const std::string destination = corePath(dir.path()) + "/archives/";
    writeCoreFile(source + "a.txt", "a");
    ASSERT_TRUE(CreateDirectoryW(Wide(destination).c_str(), nullptr));
    // Hidden files are not listed and stay; read-only ones are listed and stay; the rest go.
    struct Case {
        const char* name;
        DWORD attributes;
        bool listed, stays;
    };
    const Case cases[] = {
        {"old.zip", FILE_ATTRIBUTE_ARCHIVE, true, false},
        {"hidden.zip", FILE_ATTRIBUTE_HIDDEN, false, true},
        {"kept.zip", FILE_ATTRIBUTE_READONLY, true, true},
        {"system.zip", FILE_ATTRIBUTE_SYSTEM, true, false},
    };
    for (const Case& c : cases) {
        writeCoreFile(destination + c.name, "old");
        setAttributes(destination + c.name, c.attributes);
    }
    TZipWriter writer;
    DeletingHost host(source);
    backup::Run run(writer, host);
    run.Today = [] { return std::string("2005_03_17"); };
    run.Execute({destination, true, false});
    for (const Case& c : cases) {
        EXPECT_EQ(std::find(host.listed.begin(), host.listed.end(), c.name) != host.listed.end(), c.listed) << c.name;
        EXPECT_EQ(attributesOf(destination + c.name) != INVALID_FILE_ATTRIBUTES, c.stays) << c.name;
        SetFileAttributesW(Wide(destination + c.name).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    EXPECT_EQ(namesIn(destination + "data.zip"), (std::set<std::string>{"a.txt"}));
}

TEST(Win32Files, OnlyFilesWithTheArchiveBitArePackedWhenAsked) {
    TempDir dir;
    const std::string folder = corePath(dir.path()) + "/data/";
    writeCoreFile(folder + "changed.txt", "new");
    writeCoreFile(folder + "saved.txt", "old");
    setAttributes(folder + "changed.txt", FILE_ATTRIBUTE_ARCHIVE);
    setAttributes(folder + "saved.txt", FILE_ATTRIBUTE_NORMAL);
    if (attributesOf(folder + "saved.txt") & FILE_ATTRIBUTE_ARCHIVE)
        GTEST_SKIP() << "this system (Wine) keeps no archive bit: every file reports it set";
    const std::string archive = corePath(dir.path()) + "/out.zip";
    EXPECT_EQ(pack(folder, archive, TZipAction::zaReplace, true), 1);
    EXPECT_EQ(namesIn(archive), (std::set<std::string>{"changed.txt"}));
}

TEST(Win32Files, TemporaryFilesAreTheSystemsUniqueNamesWithThePrefix) {
    TempDir dir;
    const std::string folder = corePath(dir.path());
    std::set<std::string> made;
    for (int i = 0; i < 3; ++i) {
        const std::string path = platform::CreateTemporaryFile(folder, "FVZ");
        const std::string name = path.substr(path.rfind('/') + 1);
        EXPECT_EQ(name.rfind("FVZ", 0), 0u) << name;
        EXPECT_EQ(name.substr(name.size() - 4), ".tmp") << name;
        EXPECT_TRUE(platform::FileExists(path)) << path;
        EXPECT_EQ(path.rfind(folder + "/", 0), 0u) << path;
        made.insert(path);
    }
    EXPECT_EQ(made.size(), 3u);
    const std::string temp = platform::TemporaryFolder();
    EXPECT_EQ(temp.back(), '/');
    EXPECT_TRUE(platform::DirectoryExists(temp)) << temp;
}

TEST(Win32Files, TheArchiveLockStopsASecondHolderButNoReader) {
    TempDir dir;
    const std::string path = corePath(dir.path()) + "/a.zip";
    testsupport::writeFile(dir.path() / "a.zip", "PK data");
    platform::FileLock first, second;
    ASSERT_EQ(first.Acquire(path, false), 0);
    EXPECT_TRUE(first.Names(path));
    EXPECT_EQ(first.Size(), 7u);
    EXPECT_EQ(second.Acquire(path, false), -EWOULDBLOCK);
    EXPECT_FALSE(second.Held());
    // The lock covers no data: the archive stays readable while it is held.
    platform::FileSystem& files = platform::fileSystem();
    const int fd = files.open(path, O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    char buffer[8] = {};
    EXPECT_EQ(files.read(fd, buffer, sizeof buffer), 7);
    files.close(fd);
    first.Release();
    EXPECT_EQ(second.Acquire(path, false), 0);
}

TEST(Win32Files, StaleTemporariesOfGoneProcessesAreRemovedTheOthersStay) {
    TempDir dir;
    const std::string folder = corePath(dir.path());
    const std::string ours = platform::CreateTemporaryFile(folder, platform::TemporaryPrefix("FVZ"));
    EXPECT_EQ(ours.find(std::to_string(GetCurrentProcessId())), folder.size() + 4) << ours;
    testsupport::writeFile(dir.path() / "FVZ99999996-0001.tmp", "gone");  // an id no process has
    testsupport::writeFile(dir.path() / "FVZ99999992-0002.tmp", "gone, held");
    testsupport::writeFile(dir.path() / "FVZnotes.txt", "another form");
    platform::FileLock held;
    ASSERT_EQ(held.Acquire(folder + "/FVZ99999992-0002.tmp", false), 0);
    EXPECT_EQ(platform::RemoveStaleTemporaries(folder, "FVZ"), 1);
    EXPECT_FALSE(platform::FileExists(folder + "/FVZ99999996-0001.tmp"));
    EXPECT_TRUE(platform::FileExists(folder + "/FVZ99999992-0002.tmp"));
    EXPECT_TRUE(platform::FileExists(folder + "/FVZnotes.txt"));
    EXPECT_TRUE(platform::FileExists(ours));
}

TEST(Win32Aes, TheSystemsCngAgreesWithTheKnownAnswersAcrossThreads) {
    // PBKDF2-HMAC-SHA1 of RFC 6070 (password, salt, 2 rounds) through a key supply's threads.
    uint8_t key[20];
    const uint8_t salt[] = {'s', 'a', 'l', 't'};
    aescipher::Pbkdf2Sha1("password", salt, sizeof salt, 2, key, sizeof key);
    const uint8_t expected[20] = {0xea, 0x6c, 0x01, 0x4d, 0xc7, 0x2d, 0x6f, 0x8c, 0xcd, 0x1e,
                                  0xd9, 0x2a, 0xce, 0x1d, 0x41, 0xf0, 0xd8, 0xde, 0x89, 0x57};
    EXPECT_EQ(std::memcmp(key, expected, sizeof key), 0);
    aescipher::TKeySupply supply("secret", 8, 3);
    for (int i = 0; i < 8; ++i) {
        uint8_t header[aescipher::kHeaderSize];
        aescipher::TAesCipher writer, reader;
        writer.StartEncryptFrom(supply, header);
        uint8_t data[1000];
        for (size_t j = 0; j < sizeof data; ++j) data[j] = static_cast<uint8_t>(j * 7 + i);
        uint8_t copy[sizeof data];
        std::memcpy(copy, data, sizeof data);
        writer.Encrypt(copy, sizeof copy);
        uint8_t code[aescipher::kCodeSize];
        writer.Finish(code);
        ASSERT_TRUE(reader.StartDecrypt("secret", header));
        reader.Decrypt(copy, sizeof copy);
        EXPECT_TRUE(reader.Verify(code));
        EXPECT_EQ(std::memcmp(copy, data, sizeof data), 0) << i;
    }
}

TEST(Win32Files, APathLongerThan260CharactersPacks) {
    TempDir dir;
    const std::string folder = corePath(dir.path()) + "/data/";
    std::string relative;
    for (int i = 0; i < 6; ++i) relative += std::string(50, static_cast<char>('a' + i)) + "/";
    const std::string deep = folder + relative;
    ASSERT_GT(deep.size(), 300u);
    for (size_t slash = folder.size() - 1; slash != std::string::npos; slash = deep.find('/', slash + 1)) {
        const BOOL made = CreateDirectoryW(platform::win32::SystemPath(deep.substr(0, slash)).c_str(), nullptr);
        ASSERT_TRUE(made || GetLastError() == ERROR_ALREADY_EXISTS) << deep.substr(0, slash);
    }
    writeCoreFile(deep + "deep.txt", "far down");
    EXPECT_TRUE(platform::FileExists(deep + "deep.txt"));
    platform::FindRecord rec;
    ASSERT_TRUE(platform::FindFile(deep + "deep.txt", rec));
    EXPECT_EQ(rec.size, 8u);
    const std::string archive = corePath(dir.path()) + "/deep.zip";
    EXPECT_EQ(pack(folder, archive), 1);
    EXPECT_EQ(namesIn(archive), (std::set<std::string>{relative + "deep.txt"}));
    // The folders go again through the long form, or TempDir could not remove them.
    for (size_t end = deep.size() - 1; end > folder.size(); end = deep.rfind('/', end - 1)) {
        if (end == deep.size() - 1) DeleteFileW(platform::win32::SystemPath(deep + "deep.txt").c_str());
        RemoveDirectoryW(platform::win32::SystemPath(deep.substr(0, end)).c_str());
    }
}

TEST(Win32Files, AReadOnlyArchiveIsRefusedCleanly) {
    TempDir dir;
    const std::string folder = corePath(dir.path()) + "/data/";
    const std::string archive = corePath(dir.path()) + "/kept.zip";
    writeCoreFile(folder + "a.txt", "a");
    ASSERT_EQ(pack(folder, archive), 1);
    const std::string before = readCoreFile(archive);
    setAttributes(archive, FILE_ATTRIBUTE_READONLY);
    writeCoreFile(folder + "b.txt", "b");
    const std::string error = testsupport::errorOf([&] { pack(folder, archive); });
    EXPECT_NE(error, "no error");
    EXPECT_NE(error.find("kept.zip"), std::string::npos) << error;
    EXPECT_EQ(readCoreFile(archive), before);
    EXPECT_TRUE(attributesOf(archive) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(temporariesIn(corePath(dir.path())), std::vector<std::string>{});
    setAttributes(archive, FILE_ATTRIBUTE_NORMAL);
}

namespace {

// Fails every write to an update's temporary file, as a full disk would.
class FullDiskForTemporaries : public platform::PosixFileSystem {
public:
    int open(const std::string& path, int flags, unsigned mode) override {
        const int fd = PosixFileSystem::open(path, flags, mode);
        if (fd >= 0 && path.find("/FVZ") != std::string::npos) failing_.insert(fd);
        return fd;
    }
    int close(int fd) override {
        failing_.erase(fd);
        return PosixFileSystem::close(fd);
    }
    ssize_t pwrite(int fd, const void* buffer, size_t count, int64_t offset) override {
        if (failing_.count(fd)) return -ENOSPC;
        return PosixFileSystem::pwrite(fd, buffer, count, offset);
    }

private:
    std::set<int> failing_;
};

}  // namespace

TEST(Win32Files, TheTemporaryFileIsRemovedAfterAFailedUpdate) {
    TempDir dir;
    const std::string folder = corePath(dir.path()) + "/data/";
    const std::string archive = corePath(dir.path()) + "/full.zip";
    writeCoreFile(folder + "a.txt", std::string(100000, 'a'));
    ASSERT_EQ(pack(folder, archive), 1);
    const std::string before = readCoreFile(archive);
    writeCoreFile(folder + "b.txt", "b");
    {
        FullDiskForTemporaries full;
        platform::ScopedFileSystem scoped(full);
        EXPECT_NE(testsupport::errorOf([&] { pack(folder, archive); }), "no error");
    }
    EXPECT_EQ(readCoreFile(archive), before);
    EXPECT_EQ(temporariesIn(corePath(dir.path())), std::vector<std::string>{});
}

// --- Code pages -------------------------------------------------------------------------------

// ctest runs this under the OEM code pages 437 (en_US) and 850 (de_DE).
TEST(Win32CodePage, NamesGoThroughTheSystemsOemPage) {
    const UINT page = GetOEMCP();
    ASSERT_TRUE(page == 437 || page == 850) << page;
    EXPECT_EQ(platform::SystemOemCodePage(), page == 437 ? platform::OemCodePage::Cp437 : platform::OemCodePage::Other);
    struct Case {
        const char* what;
        std::string text;
        const char* in437;  // nullptr: the page lacks a character
        const char* in850;
    };
    const Case cases[] = {
        {"ASCII", "Notes (v1).txt", "Notes (v1).txt", "Notes (v1).txt"},
        {"e acute, in both", "caf\xC3\xA9.txt", "caf\x82.txt", "caf\x82.txt"},
        {"o slash, in 850 only", "\xC3\x98lstue", nullptr, "\x9Dlstue"},
        {"pound sign, in both", "\xC2\xA3" "5", "\x9C" "5", "\x9C" "5"},
        {"Japanese, in neither", "\xE6\x97\xA5\xE6\x9C\xAC.txt", nullptr, nullptr},
        {"euro sign, in neither", "\xE2\x82\xAC", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const char* expected = page == 437 ? c.in437 : c.in850;
        std::string oem = "untouched";
        EXPECT_EQ(platform::AnsiToOem(c.text, oem), expected != nullptr) << c.what;
        EXPECT_EQ(oem, expected ? expected : "untouched") << c.what;
        if (expected) {
            EXPECT_EQ(platform::OemToAnsi(oem), c.text) << c.what;
        }
        EXPECT_EQ(platform::OemFilter(c.text), c.text) << c.what;
    }
}

TEST(Win32CodePage, ArchiveNamesCarryTheUtf8FlagOnlyOutsideTheOemPage) {
    TempDir dir;
    const std::string folder = corePath(dir.path()) + "/data/";
    const bool in850 = GetOEMCP() == 850;
    struct Case {
        std::string name, stored;
        bool utf8;
    };
    const std::vector<Case> cases = {
        {"caf\xC3\xA9.txt", "caf\x82.txt", false},
        {"\xC3\x98lstue.txt", in850 ? "\x9Dlstue.txt" : "\xC3\x98lstue.txt", !in850},
        {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt", true},
    };
    for (const Case& c : cases) writeCoreFile(folder + c.name, c.name);
    const std::string archive = corePath(dir.path()) + "/names.zip";
    ASSERT_EQ(pack(folder, archive), static_cast<int>(cases.size()));
    const std::vector<StoredName> stored = storedNames(archive);
    for (const Case& c : cases) {
        auto found = std::find_if(stored.begin(), stored.end(), [&](const StoredName& s) { return s.name == c.stored; });
        ASSERT_NE(found, stored.end()) << c.name;
        EXPECT_EQ((found->flag & 0x800) != 0, c.utf8) << c.name;
    }
}

// --- Names compare ignoring case, as the file system takes them ---------------------------------

TEST(Win32FileNames, CompareIgnoringCaseAsTheFileSystemDoes) {
    struct Case {
        const char* what;
        std::string a, b;
        bool same;
    };
    const Case cases[] = {
        {"ASCII", "Docs/Readme.TXT", "docs/readme.txt", true},
        {"Latin letters", "\xC3\x89T\xC3\x89.txt", "\xC3\xA9t\xC3\xA9.txt", true},
        {"Cyrillic", "\xD0\x94\xD0\x9E\xD0\x9C", "\xD0\xB4\xD0\xBE\xD0\xBC", true},
        {"other letters", "a.txt", "b.txt", false},
        {"a prefix is not the name", "a.txt", "a.txt.bak", false},
        {"bytes that are no UTF-8 compare as bytes", "caf\xE9", "caf\xC9", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::SameFileName(c.a, c.b), c.same) << c.what;
        EXPECT_EQ(platform::FoldFileName(c.a) == platform::FoldFileName(c.b), c.same) << c.what;
        EXPECT_EQ(platform::CompareFileNames(c.a, c.b), -platform::CompareFileNames(c.b, c.a)) << c.what;
    }
    EXPECT_TRUE(platform::FileNameStartsWith("C:/Data/My Docs/a.txt", "c:/data/"));
    EXPECT_TRUE(IsMatch("\xC3\x89*.TXT", "\xC3\xA9t\xC3\xA9.txt")) << "wildcards fold every letter";
}

TEST(Win32FileNames, TheArchiveTheRootAndTheIndexIgnoreCase) {
    TempDir dir;
    const std::string base = corePath(dir.path());
    writeCoreFile(base + "/Data/a.txt", "a");
    writeCoreFile(base + "/Data/Sub/b.txt", "b");
    // The archive inside the folder it packs, named in other letter case: it is not packed itself.
    const std::string archive = base + "/Data/Self.zip";
    {
        TZipWriter writer;
        writer.SetRootDir(base + "/DATA/");  // the root in other case still cuts the paths
        writer.SetRelativePaths(true);
        writer.AddDirEntriesOnRecurse = false;
        writer.SetZipName(archive);
        writer.FilesList = {">" + base + "/Data/*.*", base + "/data/A.TXT"};  // the same file twice
        std::vector<std::string> skipped;
        writer.OnSkippingFile = [&](TZipReader*, TSkipReason, const std::string& name, int, bool&) { skipped.push_back(name); };
        EXPECT_EQ(writer.Zip(), 2);
        EXPECT_EQ(skipped.size(), 1u) << "the second a.txt is the same entry";
    }
    // Self.zip is not in it; a.txt is in it once, under the name of whichever spec came first.
    std::set<std::string> packed = namesIn(archive);
    ASSERT_EQ(packed.size(), 2u);
    ASSERT_TRUE(packed.erase("Sub/b.txt"));
    EXPECT_TRUE(platform::SameFileName(*packed.begin(), "a.txt")) << *packed.begin();
    TSortedZip names(TZipSortMode::ByName);
    auto entry = [](const char* folder, const char* name) {
        auto h = std::make_unique<TZipHeaderInfo>();
        h->Setdirectory(folder);
        h->Setfilename(name);
        return h;
    };
    names.Add(entry("Docs/", "Readme.txt"));
    EXPECT_THROW(names.Add(entry("DOCS/", "README.TXT")), EListError);
    EXPECT_EQ(names.Count(), 1u);
}

// --- The rest of the platform -----------------------------------------------------------------

TEST(Win32Platform, ShellFoldersTheProgramAndTheRandomSourceComeFromTheSystem) {
    for (const char* name : {"Desktop", "personal", "AppData", "Startup", "Programs", "Start Menu"}) {
        const std::string folder = platform::shellFolder(name);
        ASSERT_FALSE(folder.empty()) << name;
        EXPECT_EQ(folder.back(), '/') << name;
        EXPECT_EQ(folder.find('\\'), std::string::npos) << name;
        EXPECT_EQ(folder.substr(1, 2), ":/") << name << ": " << folder;
    }
    EXPECT_EQ(platform::shellFolder("Quick Launch"), "");
    const std::string self = platform::executablePath();
    EXPECT_EQ(self.substr(self.rfind('/') + 1), "win32_test.exe") << self;
    uint8_t a[32] = {}, b[32] = {};
    platform::SecureRandomBytes(a, sizeof a);
    platform::SecureRandomBytes(b, sizeof b);
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

TEST(Win32Platform, LowerCaseIsTheSystemsMapping) {
    const std::pair<std::string, std::string> cases[] = {
        {"My Docs 2005", "my docs 2005"},
        {"\xC3\x9C" "BUNG \xC3\x84RA", "\xC3\xBC" "bung \xC3\xA4ra"},
        {"\xCE\xA3\xCE\x91", "\xCF\x83\xCE\xB1"},                   // Greek
        {"\xD0\x94\xD0\x9E\xD0\x9C", "\xD0\xB4\xD0\xBE\xD0\xBC"},  // Cyrillic
        {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},                   // DESERET, a surrogate pair in UTF-16
        {"\xC4\xB0stanbul", "i\xCC\x87stanbul"},
        {"AB\xFF\xC3", "ab\xFF\xC3"},                                  // no UTF-8: A to Z only
    };
    for (const auto& [text, lower] : cases) EXPECT_EQ(platform::AnsiLowerCase(text), lower) << text;
}

TEST(Win32Platform, ThePowerOffRequestStaysASwitchedOffLine) {
    ScopedEnv never("FOLVIO_NO_SHUTDOWN", std::string("1"));
    EXPECT_TRUE(platform::powerControl().CanPowerOff());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(platform::powerControl().PowerOff());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("FOLVIO_NO_SHUTDOWN=1"), std::string::npos);
}
