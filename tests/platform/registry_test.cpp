#include "platform/registry.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <functional>
#include <thread>

using namespace platform;
using testsupport::ScopedEnv;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv registry{"MARVANE_REGISTRY_DIR", (dir / "registry").string()};

    fs::path userHive() const { return hiveFile(Hive::CurrentUser); }

    static std::string sqlite(const fs::path& file, const std::string& sql) {
        auto r = testsupport::runCommand("sqlite3 " + testsupport::shellQuote(file.string()) + " " + testsupport::shellQuote(sql));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return r.output;
    }
};

// Runs the function in a child process and returns its exit status (the function's result).
int inChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        int code = 99;
        try {
            code = body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            code = 98;
        } catch (...) {
            code = 98;
        }
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

size_t openFileCount() {
    size_t n = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

std::string allBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    return bytes;
}

}  // namespace

TEST_F(RegistryTest, NamesAreComparedIgnoringCaseAndKeptAsFirstWritten) {
    RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Folvio").writeText("DestDir", "/a/");
    RegKey key = RegKey::create(Hive::CurrentUser, "SOFTWARE\\marvane\\FOLVIO");
    key.writeText("DESTDIR", "/b/");

    EXPECT_EQ(key.path(), "Software\\Marvane\\Folvio");
    ASSERT_EQ(key.valueNames(), std::vector<std::string>{"DestDir"});
    EXPECT_EQ(key.read("destdir")->text(), "/b/");
    EXPECT_EQ(RegKey::open(Hive::CurrentUser, "software")->subkeyNames(), std::vector<std::string>{"Marvane"});
    // Only ASCII letters fold: bytes above 127 are compared exactly.
    key.writeText("\xC4rger", "1");
    EXPECT_FALSE(key.read("\xE4rger").has_value());
}

TEST_F(RegistryTest, ValuesComeBackByteForByteWithTheirType) {
    std::string text;
    for (int b = 1; b < 256; ++b) text.push_back(static_cast<char>(b));
    const std::vector<std::pair<std::string, RegValue>> values = {
        {"text of every byte 1-255", RegValue{REG_SZ, textData(text)}},
        {"empty text", RegValue{REG_SZ, textData("")}},
        {"expandable", RegValue{REG_EXPAND_SZ, textData("$HOME/x")}},
        {"binary of every byte", RegValue{REG_BINARY, allBytes()}},
        {"empty binary", RegValue{REG_BINARY, ""}},
        {"dword", RegValue{REG_DWORD, dwordData(0xDEADBEEF)}},
        {"odd type", RegValue{11, std::string("\0\1\2", 3)}},
    };
    {
        RegKey key = RegKey::create(Hive::CurrentUser, "Software\\Types");
        for (const auto& [name, value] : values) key.write(name, value.type, value.data);
    }
    std::optional<RegKey> key = RegKey::open(Hive::CurrentUser, "Software\\Types");
    ASSERT_TRUE(key);
    for (const auto& [name, value] : values) {
        SCOPED_TRACE(name);
        EXPECT_EQ(key->read(name), value);
    }
    EXPECT_EQ(key->read("text of every byte 1-255")->text(), text);
    EXPECT_EQ(dwordData(0x01020304), std::string("\4\3\2\1", 4));

    // A write replaces the earlier value whatever its type.
    key->writeText("dword", "now text");
    EXPECT_EQ(key->read("dword"), (RegValue{REG_SZ, textData("now text")}));
}

TEST_F(RegistryTest, EnumerationOrderIsStable) {
    RegKey key = RegKey::create(Hive::CurrentUser, "Software\\Order");
    for (const char* name : {"zeta", "Alpha", "mid"}) key.writeText(name, "1");
    key.writeText("ZETA", "rewritten");  // keeps its place
    key.erase("mid");
    key.writeText("new", "1");
    EXPECT_EQ(key.valueNames(), (std::vector<std::string>{"zeta", "Alpha", "new"}));

    for (const char* sub : {"b", "C", "a"}) RegKey::create(Hive::CurrentUser, std::string("Software\\Order\\") + sub);
    EXPECT_EQ(key.subkeyNames(), (std::vector<std::string>{"a", "b", "C"}));
}

TEST_F(RegistryTest, KeyPathsAreChecked) {
    EXPECT_EQ(splitKeyPath(""), std::vector<std::string>{});
    EXPECT_EQ(splitKeyPath("Software\\"), std::vector<std::string>{"Software"});
    EXPECT_EQ(splitKeyPath("Software\\Marvane\\"), (std::vector<std::string>{"Software", "Marvane"}));
    const std::vector<std::string> bad_paths = {"\\Software", "a\\\\b", "a\\b\\\\", std::string(256, 'k'), "a\nb",
                                                std::string("nul\0x", 5)};
    for (const std::string& bad : bad_paths) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(splitKeyPath(bad), RegistryError);
        EXPECT_THROW(RegKey::create(Hive::CurrentUser, bad), RegistryError);
    }
    std::string deep;
    for (size_t i = 0; i <= kMaxKeyDepth; ++i) deep += "k\\";
    EXPECT_THROW(splitKeyPath(deep + "k"), RegistryError);
    EXPECT_THROW(RegKey::create(Hive::CurrentUser, "x").write(std::string("a\0b", 3), REG_SZ, ""), RegistryError);
}

TEST_F(RegistryTest, OpeningAMissingKeyCreatesNothing) {
    EXPECT_FALSE(RegKey::open(Hive::CurrentUser, "Software\\Nothing").has_value());
    EXPECT_FALSE(fs::exists(userHive()));
    RegKey::create(Hive::CurrentUser, "Software");
    EXPECT_FALSE(RegKey::open(Hive::CurrentUser, "Software\\Nothing").has_value());
    EXPECT_TRUE(RegKey::open(Hive::CurrentUser, "").has_value());
}

TEST_F(RegistryTest, DeletingAKeyTakesEverythingBelowIt) {
    std::string deep = "Software\\Tree";
    for (int i = 0; i < 100; ++i) deep += "\\level" + std::to_string(i);
    RegKey::create(Hive::CurrentUser, deep).writeText("leaf", "1");
    RegKey::create(Hive::CurrentUser, "Software\\Tree\\other").writeText("v", "1");
    RegKey::create(Hive::CurrentUser, "Software\\Sibling").writeText("v", "kept");

    EXPECT_TRUE(deleteKeyTree(Hive::CurrentUser, "software\\tree"));
    EXPECT_FALSE(RegKey::open(Hive::CurrentUser, "Software\\Tree").has_value());
    EXPECT_FALSE(deleteKeyTree(Hive::CurrentUser, "Software\\Tree"));
    EXPECT_EQ(RegKey::open(Hive::CurrentUser, "Software\\Sibling")->read("v")->text(), "kept");
    EXPECT_EQ(sqlite(userHive(), "SELECT count(*) FROM keys; SELECT count(*) FROM vals;"), "3\n1\n");
    EXPECT_THROW(deleteKeyTree(Hive::CurrentUser, ""), RegistryError);
}

TEST_F(RegistryTest, AHandleToADeletedKeyFailsInsteadOfWritingNowhere) {
    RegKey key = RegKey::create(Hive::CurrentUser, "Software\\Gone");
    key.writeText("v", "1");
    ASSERT_TRUE(deleteKeyTree(Hive::CurrentUser, "Software\\Gone"));
    EXPECT_FALSE(key.read("v").has_value());
    try {
        key.writeText("v", "2");
        FAIL() << "write to a deleted key succeeded";
    } catch (const RegistryError& e) {
        EXPECT_EQ(e.code(), RegistryError::Code::NotFound);
    }
    EXPECT_EQ(sqlite(userHive(), "SELECT count(*) FROM vals;"), "0\n");
    key.close();
    EXPECT_THROW(key.read("v"), RegistryError);
}

TEST_F(RegistryTest, EveryHandleIsReleased) {
    RegKey::create(Hive::CurrentUser, "Software\\Fd").writeText("v", "1");
    const size_t before = openFileCount();
    for (int i = 0; i < 20; ++i) {
        RegKey::create(Hive::CurrentUser, "Software\\Fd").writeText("v", std::to_string(i));
        (void)RegKey::open(Hive::CurrentUser, "Software\\Fd")->read("v");
        (void)RegKey::open(Hive::CurrentUser, "Software\\Missing");
        EXPECT_THROW(RegKey::create(Hive::CurrentUser, "bad\\\\path"), RegistryError);
        EXPECT_THROW(deleteKeyTree(Hive::CurrentUser, ""), RegistryError);
        (void)deleteKeyTree(Hive::CurrentUser, "Software\\Missing");
    }
    EXPECT_EQ(openFileCount(), before);
}

TEST_F(RegistryTest, TheUserHiveIsPrivateAndReadableBySqlite) {
    RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Folvio").writeText("DestDir", "/backups/");
    struct stat st {};
    ASSERT_EQ(stat(userHive().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(userHive().parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(sqlite(userHive(), "PRAGMA integrity_check; PRAGMA journal_mode; "
                                 "SELECT hex(data) FROM vals WHERE name='DestDir';"),
              "ok\nwal\n2F6261636B7570732F00\n");
}

TEST(HiveLocation, FollowsTheEnvironment) {
    struct Case {
        const char* what;
        std::optional<std::string> registryDir, configHome, home;
        Hive hive;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"override for the user", "/r", "/c", "/h", Hive::CurrentUser, "/r/HKEY_CURRENT_USER.db"},
        {"override for the machine", "/r", "/c", "/h", Hive::LocalMachine, "/r/HKEY_LOCAL_MACHINE.db"},
        {"XDG config home", std::nullopt, "/c", "/h", Hive::CurrentUser, "/c/marvane/registry/HKEY_CURRENT_USER.db"},
        {"relative XDG config home is ignored", std::nullopt, "rel", "/h", Hive::CurrentUser,
         "/h/.config/marvane/registry/HKEY_CURRENT_USER.db"},
        {"home only", std::nullopt, std::nullopt, "/h", Hive::CurrentUser, "/h/.config/marvane/registry/HKEY_CURRENT_USER.db"},
        {"machine", std::nullopt, "/c", "/h", Hive::LocalMachine, "/var/lib/marvane/registry/HKEY_LOCAL_MACHINE.db"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnv a("MARVANE_REGISTRY_DIR", c.registryDir), b("XDG_CONFIG_HOME", c.configHome), d("HOME", c.home);
        EXPECT_EQ(hiveFile(c.hive), c.expected);
    }
    EXPECT_EQ(parseHiveName("hkcu"), Hive::CurrentUser);
    EXPECT_EQ(parseHiveName("HKEY_LOCAL_MACHINE"), Hive::LocalMachine);
    EXPECT_EQ(parseHiveName("HKCR"), std::nullopt);
}

TEST_F(RegistryTest, TheMachineHiveIsReadableButNotWritableWithoutRights) {
    RegKey::create(Hive::LocalMachine, "Software\\Run").writeText("entry", "/usr/bin/x");
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    const bool root = geteuid() == 0;
    if (!root) {
        fs::permissions(dir / "registry", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        fs::permissions(hiveFile(Hive::LocalMachine), fs::perms::owner_write, fs::perm_options::remove);
    }
    int result = inChild([&] {
        if (root && setuid(65534) != 0) return 10;  // nobody
        std::optional<RegKey> key = RegKey::open(Hive::LocalMachine, "Software\\Run");
        if (!key || key->read("entry")->text() != "/usr/bin/x") return 11;
        try {
            RegKey::create(Hive::LocalMachine, "Software\\Run").writeText("entry", "changed");
            return 12;
        } catch (const RegistryError& e) {
            return e.code() == RegistryError::Code::AccessDenied ? 0 : 13;
        }
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(RegKey::open(Hive::LocalMachine, "Software\\Run")->read("entry")->text(), "/usr/bin/x");
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
    // Both start together on a hive that does not exist yet, so they also race to create it.
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    constexpr int kValues = 150;
    auto writer = [&](const std::string& who) {
        return [&, who] {
            char c;
            if (read(go[0], &c, 1) != 1) return 20;
            for (int i = 0; i < kValues; ++i) {
                RegKey key = RegKey::create(Hive::CurrentUser, "Software\\Shared");
                key.writeText(who + std::to_string(i), std::to_string(i));
                key.writeText("last", who);
            }
            return 0;
        };
    };
    std::vector<pid_t> children;
    for (const char* who : {"first", "second"}) {
        pid_t pid = fork();
        if (pid == 0) {
            int code = 98;
            try {
                code = writer(who)();
            } catch (const std::exception& e) {
                fprintf(stderr, "%s\n", e.what());
            }
            _exit(code);
        }
        children.push_back(pid);
    }
    close(go[0]);
    ASSERT_EQ(write(go[1], "xx", 2), 2);
    close(go[1]);
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    std::optional<RegKey> key = RegKey::open(Hive::CurrentUser, "Software\\Shared");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->valueNames().size(), 2u * kValues + 1);
    for (const char* who : {"first", "second"})
        for (int i = 0; i < kValues; ++i) EXPECT_EQ(key->read(who + std::to_string(i))->text(), std::to_string(i));
    const std::string last = key->read("last")->text();
    EXPECT_TRUE(last == "first" || last == "second");
}

TEST_F(RegistryTest, AProcessKilledWhileWritingLeavesTheOldOrTheNewValue) {
    const std::string oldValue(200000, 'o'), newValue(200000, 'n');
    RegKey::create(Hive::CurrentUser, "Software\\Kill").writeText("v", oldValue);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        pid_t pid = fork();
        if (pid == 0) {
            close(started[0]);
            try {
                for (int i = 0;; ++i) {
                    RegKey key = RegKey::create(Hive::CurrentUser, "Software\\Kill");
                    key.writeText("v", i % 2 ? oldValue : newValue);
                    key.writeText("w" + std::to_string(i % 50), newValue);
                    if (i == 0 && write(started[1], "s", 1) != 1) _exit(3);
                }
            } catch (...) {
                _exit(2);
            }
        }
        close(started[1]);
        char c;
        ASSERT_EQ(read(started[0], &c, 1), 1);
        close(started[0]);
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 7));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;

        const std::string value = RegKey::open(Hive::CurrentUser, "Software\\Kill")->read("v")->text();
        EXPECT_TRUE(value == oldValue || value == newValue);
        EXPECT_EQ(sqlite(userHive(), "PRAGMA integrity_check;"), "ok\n");
    }
}

namespace {

// Ways a hive file gets damaged; each returns the damaged file's bytes.
struct Damage {
    const char* what;
    std::function<void(const fs::path& hive)> apply;
};

void fillHive() {
    RegKey key = RegKey::create(Hive::CurrentUser, "Software\\Fill");
    for (int i = 0; i < 200; ++i) key.writeText("value" + std::to_string(i), std::string(300, 'x'));
}

void overwrite(const fs::path& file, off_t offset, const std::string& bytes) {
    int fd = ::open(file.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

}  // namespace

// The names in a folder, sorted.
std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const std::vector<Damage>& damages() {
    static const std::vector<Damage> all = {
        {"text instead of a database", [](const fs::path& f) { testsupport::writeFile(f, "this is not a hive\n"); }},
        {"truncated", [](const fs::path& f) { fillHive(); fs::resize_file(f, fs::file_size(f) / 2); }},
        {"a page overwritten", [](const fs::path& f) { fillHive(); overwrite(f, 4096 * 3, std::string(4096, '\xA5')); }},
        {"another program's database",
         [](const fs::path& f) {
             auto r = testsupport::runCommand("sqlite3 " + f.string() + " 'CREATE TABLE t(x); INSERT INTO t VALUES(1);'");
             ASSERT_EQ(r.exitCode, 0) << r.output;
         }},
    };
    return all;
}

TEST_F(RegistryTest, ADamagedHiveIsNeverReplacedAndEveryUseNamesItInOneLine) {
    for (const Damage& damage : damages()) {
        SCOPED_TRACE(damage.what);
        TempDir own;
        ScopedEnv env("MARVANE_REGISTRY_DIR", own.path().string());
        const fs::path hive = hiveFile(Hive::CurrentUser);
        damage.apply(hive);
        // A hive closed by SQLite has no log beside it; the damage is in the file itself.
        ASSERT_FALSE(fs::exists(hive.string() + "-wal"));
        const std::string damagedBytes = testsupport::readFile(hive);

        const std::vector<std::pair<const char*, std::function<void()>>> uses = {
            {"open", [] { RegKey::open(Hive::CurrentUser, "Software\\Fill"); }},
            {"create", [] { RegKey::create(Hive::CurrentUser, "Software\\Fill").writeText("v", "fresh"); }},
            {"delete", [] { deleteKeyTree(Hive::CurrentUser, "Software\\Fill"); }},
        };
        for (const auto& [what, use] : uses) {
            SCOPED_TRACE(what);
            testing::internal::CaptureStderr();
            try {
                use();
                ADD_FAILURE() << "no error";
            } catch (const RegistryError& e) {
                EXPECT_EQ(e.code(), RegistryError::Code::Damaged);
                const std::string message = e.what();
                EXPECT_NE(message.find(hive.string() + " is damaged"), std::string::npos) << message;
                EXPECT_NE(message.find("folvio-reg repair"), std::string::npos) << message;
                EXPECT_EQ(message.find('\n'), std::string::npos) << message;
                EXPECT_LT(message.size(), 200u) << message;
            }
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
            EXPECT_EQ(testsupport::readFile(hive), damagedBytes) << "the damaged hive stays as it is";
            EXPECT_EQ(namesIn(own.path()), std::vector<std::string>{hive.filename().string()}) << "and nothing beside it";
        }
    }
}

TEST_F(RegistryTest, RepairSalvagesEveryValueThatCanStillBeReadAndKeepsTheDamagedCopy) {
    std::map<std::string, std::string> written;
    {
        RegKey fill = RegKey::create(Hive::CurrentUser, "Software\\Fill");
        for (int i = 0; i < 300; ++i) {
            written["value" + std::to_string(i)] = std::string(300, static_cast<char>('a' + i % 26));
            fill.writeText("value" + std::to_string(i), written["value" + std::to_string(i)]);
        }
        RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Folvio").writeText("DestDir", "/srv/backups/");
        RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Folvio\\Deep\\Er").write("n", REG_DWORD, dwordData(7));
    }
    // A leaf page of the values in the middle of the table is destroyed.
    const std::string leaves =
        sqlite(userHive(), "SELECT pageno FROM dbstat WHERE name='vals' AND pagetype='leaf' ORDER BY pageno;");
    std::vector<int> pages;
    for (std::istringstream in(leaves); in;) {
        int page = 0;
        if (in >> page) pages.push_back(page);
    }
    ASSERT_GE(pages.size(), 10u);
    overwrite(userHive(), off_t{4096} * (pages[pages.size() / 2] - 1), std::string(4096, '\xA5'));
    const std::string damagedBytes = testsupport::readFile(userHive());
    ASSERT_THROW(RegKey::open(Hive::CurrentUser, "Software"), RegistryError);

    const HiveRepair repair = repairHive(Hive::CurrentUser);
    EXPECT_TRUE(repair.damaged);
    EXPECT_FALSE(repair.reason.empty());
    EXPECT_EQ(repair.keptAs.parent_path(), userHive().parent_path());
    EXPECT_NE(repair.keptAs.filename().string().find("HKEY_CURRENT_USER.db.damaged-"), std::string::npos);
    EXPECT_EQ(testsupport::readFile(repair.keptAs), damagedBytes) << "the damaged copy is kept byte for byte";
    EXPECT_EQ(sqlite(userHive(), "PRAGMA integrity_check;"), "ok\n");

    // Everything but the values of the lost page comes back, unchanged.
    std::optional<RegKey> fill = RegKey::open(Hive::CurrentUser, "Software\\Fill");
    ASSERT_TRUE(fill);
    const std::vector<std::string> names = fill->valueNames();
    EXPECT_GT(names.size(), 300u - 30u);
    EXPECT_LT(names.size(), 300u);
    for (const std::string& name : names) EXPECT_EQ(fill->read(name)->text(), written[name]) << name;
    EXPECT_EQ(repair.values, names.size() + 2);
    EXPECT_EQ(RegKey::open(Hive::CurrentUser, "Software\\Marvane\\Folvio")->read("DestDir")->text(), "/srv/backups/");
    EXPECT_EQ(RegKey::open(Hive::CurrentUser, "Software\\Marvane\\Folvio\\Deep\\Er")->read("n"),
              (RegValue{REG_DWORD, dwordData(7)}));
    EXPECT_EQ(repair.orphans, 0u);

    // The repaired hive is sound: a second repair changes nothing.
    const std::vector<std::string> before = namesIn(userHive().parent_path());
    EXPECT_FALSE(repairHive(Hive::CurrentUser).damaged);
    EXPECT_EQ(namesIn(userHive().parent_path()), before);
}

TEST_F(RegistryTest, RepairOfAHiveWithNothingLeftGivesAnEmptyHive) {
    for (const Damage& damage : damages()) {
        SCOPED_TRACE(damage.what);
        TempDir own;
        ScopedEnv env("MARVANE_REGISTRY_DIR", own.path().string());
        damage.apply(userHive());
        const std::string damagedBytes = testsupport::readFile(userHive());
        const HiveRepair repair = repairHive(Hive::CurrentUser);
        EXPECT_TRUE(repair.damaged);
        EXPECT_EQ(testsupport::readFile(repair.keptAs), damagedBytes);
        EXPECT_EQ(namesIn(own.path()), (std::vector<std::string>{userHive().filename().string(),
                                                                 repair.keptAs.filename().string()}));
        RegKey::create(Hive::CurrentUser, "Software\\Fill").writeText("v", "fresh");
        EXPECT_EQ(RegKey::open(Hive::CurrentUser, "Software\\Fill")->read("v")->text(), "fresh");
    }
    TempDir none;
    ScopedEnv env("MARVANE_REGISTRY_DIR", (none / "registry").string());
    EXPECT_FALSE(repairHive(Hive::CurrentUser).damaged) << "no hive: nothing to repair";
    EXPECT_FALSE(fs::exists(none / "registry"));
}

TEST_F(RegistryTest, AUserHiveThatIsReadableButNotWritableStillAnswersQueries) {
    RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Folvio").writeText("DestDir", "/srv/backups/");
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    // Owned by another user (root, for example after a "sudo folvio-reg"), or write-protected:
    // neither the file nor its folder may be written.
    const fs::perms readable = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    const fs::perms enterable = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    fs::permissions(dir / "registry", readable | enterable);
    fs::permissions(userHive(), readable);
    const bool root = geteuid() == 0;
    int result = inChild([&] {
        if (root && setuid(65534) != 0) return 10;  // nobody
        std::optional<RegKey> key = RegKey::open(Hive::CurrentUser, "Software\\Marvane\\Folvio");
        if (!key || key->read("DestDir")->text() != "/srv/backups/") return 11;
        try {
            RegKey::create(Hive::CurrentUser, "Software\\Marvane\\Folvio").writeText("DestDir", "changed");
            return 12;
        } catch (const RegistryError& e) {
            return e.code() == RegistryError::Code::AccessDenied ? 0 : 13;
        }
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(namesIn(dir / "registry"), std::vector<std::string>{userHive().filename().string()});
    fs::permissions(dir / "registry", fs::perms::owner_all);  // so that the folder can be removed
}

TEST_F(RegistryTest, AnEmptyHiveFileIsNoDamage) {
    testsupport::writeFile(userHive(), "");
    testing::internal::CaptureStderr();
    RegKey::create(Hive::CurrentUser, "Software").writeText("v", "1");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(RegKey::open(Hive::CurrentUser, "Software")->read("v")->text(), "1");
    EXPECT_EQ(std::distance(fs::directory_iterator(userHive().parent_path()), fs::directory_iterator()), 1);
}
