#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testsupport.h"
#include "zipcheck.h"

namespace {

namespace fs = std::filesystem;
using testsupport::CommandResult;
using testsupport::TempDir;
using testsupport::shellQuote;

// Runs folvio-zip in folder with the given arguments (already quoted for the shell).
CommandResult folvioZip(const fs::path& folder, const std::string& args) {
    return testsupport::runCommand("cd " + shellQuote(folder.string()) + " && " FOLVIO_ZIP_BIN " " + args);
}

std::vector<std::string> namesIn(const fs::path& archive) {
    CommandResult r = testsupport::runCommand(
        "/usr/bin/python3 -c 'import sys,zipfile; print(\"\\n\".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' " +
        shellQuote(archive.string()));
    std::vector<std::string> names;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) names.push_back(line);
    return names;
}

TEST(FolvioZip, PacksARealTreeThatOtherReadersAccept) {
    TempDir dir;
    auto leftOut = testsupport::makeAwkwardTree(dir / "DIR");
    CommandResult r = folvioZip(dir.path(), "-0 -r --root DIR out.zip 'DIR/*.*'");
    EXPECT_EQ(r.exitCode, 1) << r.output;  // complete, but the pipe and two links were left out
    for (const std::string& name : leftOut) EXPECT_NE(r.output.find(name), std::string::npos) << r.output;
    testsupport::checkArchiveWithReaders(dir / "out.zip", dir / "DIR", 0);
    for (const std::string& name : leftOut) fs::remove(dir / "DIR" / name);
    r = folvioZip(dir.path(), "-0 -r --root DIR again.zip 'DIR/*.*'");
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

TEST(FolvioZip, AnEmptyFolderGivesTheEndRecordAlone) {
    TempDir dir;
    fs::create_directory(dir / "DIR");
    CommandResult r = folvioZip(dir.path(), "-0 -r --root DIR out.zip 'DIR/*.*'");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::vector<uint8_t> expected = {0x50, 0x4B, 0x05, 0x06};
    expected.resize(22, 0);
    EXPECT_EQ(testsupport::readBytes(dir / "out.zip"), expected);
}

TEST(FolvioZip, OptionsShapeTheArchive) {
    TempDir dir;
    for (const char* f : {"docs/a.txt", "docs/b.log", "docs/sub/c.txt", "docs/sub/deeper/d.txt"})
        testsupport::writeFile(dir / f, f);
    struct Case {
        const char* args;
        std::vector<std::string> names;
    } cases[] = {
        {"docs", {"docs/a.txt", "docs/b.log", "docs/sub/", "docs/sub/c.txt", "docs/sub/deeper/", "docs/sub/deeper/d.txt"}},
        {"-D docs/", {"docs/a.txt", "docs/b.log", "docs/sub/c.txt", "docs/sub/deeper/d.txt"}},
        {"-j -x '*.log' docs", {"a.txt", "c.txt", "d.txt"}},
        {"-x 'docs/sub/*' docs", {"docs/a.txt", "docs/b.log", "docs/sub/", "docs/sub/deeper/"}},
        {"'docs/*.txt'", {"docs/a.txt"}},
        {"-r 'docs/*.txt'", {"docs/a.txt", "docs/sub/", "docs/sub/c.txt", "docs/sub/deeper/", "docs/sub/deeper/d.txt"}},
        {"--root docs docs/sub/c.txt ./docs/a.txt", {"a.txt", "sub/c.txt"}},
        {"-9 -n '*.txt' docs/a.txt", {"docs/a.txt"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string archive = "out" + std::to_string(n++) + ".zip";
        CommandResult r = folvioZip(dir.path(), "-q " + archive + " " + c.args);
        EXPECT_EQ(r.exitCode, 0) << c.args << "\n" << r.output;
        EXPECT_EQ(r.output, "") << c.args;  // quiet
        EXPECT_EQ(namesIn(dir / archive), c.names) << c.args;
    }
}

TEST(FolvioZip, ExitCodes) {
    TempDir dir;
    testsupport::writeFile(dir / "a.txt", "a");
    testsupport::writeFile(dir / "existing.zip", "keep");
    struct Case {
        const char* args;
        int exitCode;
        const char* says;
    } cases[] = {
        {"", 7, "needed"},
        {"out.zip", 7, "needed"},
        {"-Q out.zip a.txt", 7, "unknown option -Q"},
        {"--bogus out.zip a.txt", 7, "unknown option --bogus"},
        {"out.zip a.txt -x", 7, "needs a value"},
        {"--root nowhere out.zip a.txt", 7, "not a folder"},
        {"missing/out.zip a.txt", 2, "missing/out.zip"},
        {"existing.zip a.txt", 2, "already exists"},
        {"partial.zip a.txt nothing.txt", 1, "nothing.txt: no such file"},
        {"fine.zip a.txt", 0, "1 entries written"},
    };
    for (const Case& c : cases) {
        CommandResult r = folvioZip(dir.path(), c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
    }
    EXPECT_EQ(testsupport::readFile(dir / "existing.zip"), "keep");
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_EQ(namesIn(dir / "partial.zip"), std::vector<std::string>{"a.txt"});
}

TEST(FolvioZip, HelpExplainsEveryOption) {
    CommandResult r = testsupport::runCommand(FOLVIO_ZIP_BIN " --help");
    EXPECT_EQ(r.exitCode, 0);
    for (const char* option : {"-r", "-0", "-9", "-D", "-j", "-x PATTERN", "-n PATTERN", "--root DIR", "-q", "255"})
        EXPECT_NE(r.output.find(option), std::string::npos) << option;
}

// Starts folvio-zip with an interrupt already waiting, as if Ctrl+C came at once.
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
        std::vector<char*> argv{const_cast<char*>(FOLVIO_ZIP_BIN)};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(FOLVIO_ZIP_BIN, argv.data());
        _exit(98);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(FolvioZip, CtrlCCancelsAndLeavesNoArchive) {
    TempDir dir;
    testsupport::writeBytes(dir / "big.bin", testsupport::randomBytes(300000, 3));
    fs::create_directory(dir / "tree");
    testsupport::writeFile(dir / "tree/a", "a");
    // An explicit file: the archive exists when the first block of data is written and the
    // cancel is noticed; a folder: the cancel is noticed while walking.
    EXPECT_EQ(runInterrupted(dir.path(), {"-0", "out.zip", "big.bin"}), 255);
    EXPECT_EQ(runInterrupted(dir.path(), {"out.zip", "tree"}), 255);
    EXPECT_FALSE(fs::exists(dir / "out.zip"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(FolvioZip, DrawsAProgressBarOnATerminal) {
    TempDir dir;
    testsupport::writeBytes(dir / "big.bin", testsupport::randomBytes(300000, 3));
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0) _exit(99);
        execl(FOLVIO_ZIP_BIN, FOLVIO_ZIP_BIN, "-0", "out.zip", "big.bin", static_cast<char*>(nullptr));
        _exit(98);
    }
    std::string screen;
    char buf[4096];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) screen.append(buf, size_t(n));
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
    EXPECT_NE(screen.find("] 100%"), std::string::npos) << screen;
    EXPECT_NE(screen.find("[##########"), std::string::npos) << screen;
}

}  // namespace
