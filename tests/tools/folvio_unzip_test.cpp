#include <filesystem>
#include <gtest/gtest.h>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testsupport.h"
#include "zipcheck.h"

namespace {

namespace fs = std::filesystem;
using testsupport::CommandResult;
using testsupport::TempDir;
using testsupport::shellQuote;

CommandResult inFolder(const fs::path& folder, const std::string& command) {
    return testsupport::runCommand("cd " + shellQuote(folder.string()) + " && " + command);
}
CommandResult unzip(const fs::path& folder, const std::string& args) {
    return inFolder(folder, FOLVIO_UNZIP_BIN " " + args + " </dev/null");
}

// The tree with awkward names, without what no writer packs as it is (links, the pipe).
void makeTree(const fs::path& root) {
    for (const std::string& name : testsupport::makeAwkwardTree(root)) fs::remove(root / name);
    fs::remove(root / "link to file.txt");
}

struct Node {
    bool folder;
    std::string content;
    bool readOnly;
    int64_t mtime;
};

std::map<std::string, Node> snapshot(const fs::path& root) {
    std::map<std::string, Node> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        struct stat st {};
        lstat(it->path().c_str(), &st);
        const bool folder = S_ISDIR(st.st_mode);
        out[it->path().lexically_relative(root).string()] = {folder, folder ? "" : testsupport::readFile(it->path()),
                                                             (st.st_mode & 0200) == 0, st.st_mtime};
    }
    return out;
}

// Byte for byte, with read-only marks and modification times (DOS times: two seconds).
void expectSameTree(const fs::path& got, const fs::path& want, bool folderTimes = true) {
    auto a = snapshot(got), b = snapshot(want);
    for (const auto& [name, node] : b) {
        auto it = a.find(name);
        ASSERT_NE(it, a.end()) << name << " is missing";
        EXPECT_EQ(it->second.folder, node.folder) << name;
        EXPECT_EQ(it->second.content, node.content) << name;
        EXPECT_EQ(it->second.readOnly, node.readOnly) << name;
        if (!node.folder || folderTimes) {
            EXPECT_LE(std::abs(it->second.mtime - node.mtime), 2) << name;
        }
    }
    for (const auto& [name, node] : a) EXPECT_EQ(b.count(name), 1u) << name << " was not in the source";
}

struct Packer {
    const char* name;
    std::string command;  // run in the tree's folder; writes ../a.zip
    const char* password;
};

class FolvioUnzipRestores : public ::testing::TestWithParam<Packer> {};

TEST_P(FolvioUnzipRestores, TheTreeByteForByte) {
    TempDir dir;
    makeTree(dir / "src");
    CommandResult r = inFolder(dir / "src", GetParam().command);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string password = *GetParam().password ? std::string(" -P ") + GetParam().password : "";
    r = unzip(dir.path(), "-t" + password + " a.zip");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("No errors detected in a.zip"), std::string::npos) << r.output;
    r = unzip(dir.path(), "-q" + password + " -d out a.zip");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    // 7-Zip gives folders no times of their own.
    expectSameTree(dir / "out", dir / "src", std::string(GetParam().name).rfind("SevenZip", 0) != 0);
}

const std::string kOurs = FOLVIO_ZIP_BIN " -q -r --root . ../a.zip . ";
INSTANTIATE_TEST_SUITE_P(
    Writers, FolvioUnzipRestores,
    ::testing::Values(Packer{"OursStored", kOurs + "-0", ""}, Packer{"OursLevel1", kOurs + "-1", ""},
                      Packer{"OursLevel6", kOurs + "-6", ""}, Packer{"OursLevel9", kOurs + "-9", ""},
                      Packer{"OursLevel9Encrypted", kOurs + "-9 -P 'pass word'", "'pass word'"},
                      Packer{"OursStoredEncrypted", kOurs + "-0 -P secret", "secret"},
                      Packer{"InfoZip", "zip -q -r ../a.zip .", ""},
                      Packer{"InfoZipEncrypted", "zip -q -r -P secret ../a.zip .", "secret"},
                      Packer{"SevenZip", "7zz a -tzip -bd -bb0 ../a.zip . >/dev/null", ""},
                      Packer{"PythonZipfile",
                             "python3 -c 'import os,zipfile\n"
                             "z = zipfile.ZipFile(\"../a.zip\", \"w\", zipfile.ZIP_DEFLATED)\n"
                             "for top, dirs, files in os.walk(\".\"):\n"
                             "    for n in dirs + files: z.write(os.path.join(top, n))\n"
                             "z.close()'",
                             ""}),
    [](const auto& info) { return std::string(info.param.name); });

std::string hex(const std::string& text) {
    std::string out;
    char two[3];
    for (unsigned char c : text) std::snprintf(two, sizeof two, "%02x", c), out += two;
    return out;
}

// An archive the test writes with Python's zipfile, names exactly as given: (name, content, Unix mode or 0).
std::string pythonArchive(const fs::path& archive, const std::vector<std::tuple<std::string, std::string, int>>& entries) {
    std::string script = "import sys,zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n";
    for (const auto& [name, content, mode] : entries) {
        script += "i = zipfile.ZipInfo(bytes.fromhex('" + hex(name) + "').decode())\n";
        script += "i.create_system = 3\n";
        if (mode) script += "i.external_attr = " + std::to_string(mode) + " << 16\n";
        script += "z.writestr(i, bytes.fromhex('" + hex(content) + "'))\n";
    }
    script += "z.close()\n";
    testsupport::writeFile(archive.string() + ".py", script);
    return testsupport::runCommand("python3 " + shellQuote(archive.string() + ".py") + " " + shellQuote(archive.string())).output;
}

TEST(FolvioUnzip, HostileNamesAreRefusedByNameAndNothingLandsOutsideTheFolder) {
    TempDir dir;
    fs::create_directories(dir / "target");
    fs::create_directories(dir / "outside");
    fs::create_directory_symlink(dir / "outside", dir / "target/planted");  // a link already in the folder
    const std::vector<std::tuple<std::string, std::string, int>> entries = {
        {"../up.txt", "x", 0},
        {"sub/../../up2.txt", "x", 0},
        {(dir / "outside/absolute.txt").string(), "x", 0},
        {"C:/drive.txt", "x", 0},
        {"..\\back.txt", "x", 0},
        {"sub\\..\\..\\back2.txt", "x", 0},
        {"link", "../outside", 0120777},
        {"link/through.txt", "x", 0},
        {"planted/through2.txt", "x", 0},
        {"same", "a file", 0},
        {"same/inner.txt", "x", 0},
        {"folder/", "", 040755},
        {"folder", "now a file", 0},
        {"good/ok.txt", "fine", 0},
        {"win\\path.txt", "backslashes as separators", 0},
    };
    EXPECT_EQ(pythonArchive(dir / "evil.zip", entries), "");
    CommandResult r = unzip(dir.path(), "-d target evil.zip");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    for (const char* name : {"../up.txt", "sub/../../up2.txt", "C:/drive.txt", "..\\back.txt", "sub\\..\\..\\back2.txt",
                             "link", "planted/through2.txt", "same/inner.txt", "folder"})
        EXPECT_NE(r.output.find(std::string("refused \"") + name + "\": "), std::string::npos) << name << "\n" << r.output;
    EXPECT_NE(r.output.find("refused \"" + (dir / "outside/absolute.txt").string() + "\": its name is absolute"),
              std::string::npos)
        << r.output;
    EXPECT_TRUE(fs::is_empty(dir / "outside"));
    std::set<std::string> top;
    for (const auto& e : fs::directory_iterator(dir.path())) top.insert(e.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{"evil.zip", "evil.zip.py", "outside", "target"}));
    std::set<std::string> inside;
    for (auto it = fs::recursive_directory_iterator(dir / "target"); it != fs::recursive_directory_iterator(); ++it)
        inside.insert(it->path().lexically_relative(dir / "target").string());
    // The link the archive holds is not made, so the entry below its name lands inside.
    EXPECT_EQ(inside, (std::set<std::string>{"planted", "same", "folder", "good", "good/ok.txt", "win", "win/path.txt",
                                             "link", "link/through.txt"}));
    EXPECT_TRUE(fs::is_symlink(dir / "target/planted"));
    EXPECT_EQ(testsupport::readFile(dir / "target/good/ok.txt"), "fine");
}

// A damaged entry, a wrong password: named with the fault; no partial file, an existing file kept.
TEST(FolvioUnzip, BadEntriesAreNamedAndLeaveNoPartialFile) {
    TempDir dir;
    testsupport::writeBytes(dir / "src/big.bin", testsupport::randomBytes(300000, 5));
    testsupport::writeFile(dir / "src/small.txt", "small");
    ASSERT_EQ(inFolder(dir / "src", FOLVIO_ZIP_BIN " -q -0 ../a.zip big.bin small.txt").exitCode, 0);
    ASSERT_EQ(inFolder(dir / "src", FOLVIO_ZIP_BIN " -q -P right ../p.zip small.txt").exitCode, 0);
    std::vector<uint8_t> bytes = testsupport::readBytes(dir / "a.zip");
    bytes.at(30 + 7 + 250000) ^= 1;  // late in big.bin: most of it is written before the CRC is known
    testsupport::writeBytes(dir / "a.zip", bytes);

    CommandResult r = unzip(dir.path(), "-t a.zip");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_NE(r.output.find("folvio-unzip: \"big.bin\": its CRC is "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("testing: small.txt"), std::string::npos) << r.output;  // the rest is tested on

    testsupport::writeFile(dir / "out/big.bin", "the earlier file");
    r = unzip(dir.path(), "-o -d out a.zip");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_EQ(testsupport::readFile(dir / "out/big.bin"), "the earlier file");
    EXPECT_EQ(testsupport::readFile(dir / "out/small.txt"), "small");
    fs::remove(dir / "out/big.bin");
    r = unzip(dir.path(), "-d out a.zip big.bin");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(dir / "out")) left.insert(e.path().filename().string());
    EXPECT_EQ(left, std::set<std::string>{"small.txt"});

    r = unzip(dir.path(), "-P wrong -d pw p.zip");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_NE(r.output.find("folvio-unzip: \"small.txt\": the password is wrong"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir / "pw/small.txt"));
    r = unzip(dir.path(), "-d pw p.zip");
    EXPECT_NE(r.output.find("\"small.txt\": it is encrypted and needs a password"), std::string::npos) << r.output;
}

// Starts folvio-unzip in folder with an interrupt already waiting, as if Ctrl+C came at once.
int runInterrupted(const fs::path& folder, std::vector<std::string> args) {
    pid_t pid = fork();
    if (pid == 0) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigprocmask(SIG_BLOCK, &set, nullptr);
        raise(SIGINT);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1), dup2(null, 2);
        if (chdir(folder.c_str()) != 0) _exit(99);
        std::vector<char*> argv{const_cast<char*>(FOLVIO_UNZIP_BIN)};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(FOLVIO_UNZIP_BIN, argv.data());
        _exit(98);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(FolvioUnzip, CtrlCLeavesNoPartialFile) {
    TempDir dir;
    testsupport::writeBytes(dir / "src/big.bin", testsupport::randomBytes(300000, 8));
    ASSERT_EQ(inFolder(dir / "src", FOLVIO_ZIP_BIN " -q -0 ../a.zip big.bin").exitCode, 0);
    EXPECT_EQ(runInterrupted(dir.path(), {"-d", "out", "a.zip"}), 255);
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

TEST(FolvioUnzip, ExistingFilesAreKeptOrOverwrittenAndNamesSelect) {
    TempDir dir;
    testsupport::writeFile(dir / "src/a.txt", "new a");
    testsupport::writeFile(dir / "src/docs/b.txt", "new b");
    testsupport::writeFile(dir / "src/docs/c.md", "new c");
    ASSERT_EQ(inFolder(dir / "src", FOLVIO_ZIP_BIN " -q -r ../a.zip a.txt docs").exitCode, 0);
    struct Case {
        const char* options;
        const char* expectedA;
    };
    for (const Case& c : {Case{"", "old a"}, Case{"-n", "old a"}, Case{"-o", "new a"}}) {
        testsupport::writeFile(dir / "out/a.txt", "old a");
        CommandResult r = unzip(dir.path(), std::string(c.options) + " -d out a.zip a.txt");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(testsupport::readFile(dir / "out/a.txt"), c.expectedA) << c.options;
    }
    struct Selection {
        const char* names;
        std::set<std::string> files;
    };
    for (const Selection& s : {Selection{"'*.txt'", {"a.txt", "docs/b.txt"}}, Selection{"docs/", {"docs/c.md", "docs/b.txt"}},
                               Selection{"'docs/*.md'", {"docs/c.md"}}, Selection{"docs/b.txt", {"docs/b.txt"}}}) {
        fs::remove_all(dir / "sel");
        CommandResult r = unzip(dir.path(), std::string("-q -d sel a.zip ") + s.names);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        std::set<std::string> files;
        for (auto it = fs::recursive_directory_iterator(dir / "sel"); it != fs::recursive_directory_iterator(); ++it)
            if (it->is_regular_file()) files.insert(it->path().lexically_relative(dir / "sel").string());
        EXPECT_EQ(files, s.files) << s.names;
    }
    CommandResult r = unzip(dir.path(), "-l a.zip");
    EXPECT_NE(r.output.find("        5  "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("   docs/c.md\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(" 3 files\n"), std::string::npos) << r.output;
    EXPECT_EQ(unzip(dir.path(), "-x a.zip").exitCode, 7);
    EXPECT_EQ(unzip(dir.path(), "missing.zip").exitCode, 2);
}

}  // namespace
