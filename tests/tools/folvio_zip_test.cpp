#include <algorithm>
#include <chrono>
#include <csignal>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
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

// Runs folvio-zip in folder as a user the mode bits bind: root reads every folder and writes every
// file, so as root the command runs as nobody in a folder opened for everyone.
CommandResult folvioZipUnprivileged(const fs::path& folder, const std::string& args) {
    if (geteuid() != 0) return folvioZip(folder, args);
    fs::permissions(folder, fs::perms::all);
    return testsupport::runCommand("cd " + shellQuote(folder.string()) +
                                   " && setpriv --reuid=65534 --regid=65534 --clear-groups -- " FOLVIO_ZIP_BIN " " + args);
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
    EXPECT_NE(r.output.find("/link to folder: it is a link to a folder, which is not followed\n"), std::string::npos)
        << r.output;
    testsupport::checkArchiveWithReaders(dir / "out.zip", dir / "DIR", 0);
    for (const std::string& name : leftOut) fs::remove(dir / "DIR" / name);
    r = folvioZip(dir.path(), "-0 -r --root DIR again.zip 'DIR/*.*'");
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

TEST(FolvioZip, AnEmptyFolderGivesTheEndRecordAlone) {
    TempDir dir;
    fs::create_directory(dir / "DIR");
    CommandResult r = folvioZip(dir.path(), "-0 -r --root DIR out.zip DIR");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::vector<uint8_t> expected = {0x50, 0x4B, 0x05, 0x06};
    expected.resize(22, 0);
    EXPECT_EQ(testsupport::readBytes(dir / "out.zip"), expected);
}

TEST(FolvioZip, NothingToPackOrRemoveAndAnEmptyNameAreErrorsOfTheirOwn) {
    TempDir dir;
    fs::create_directory(dir / "empty");
    testsupport::writeFile(dir / "docs/a.txt", "a");
    testsupport::writeFile(dir / "docs/sub/b.txt", "b");
    ASSERT_EQ(folvioZip(dir.path(), "-q kept.zip docs").exitCode, 0);
    const std::string kept = testsupport::readFile(dir / "kept.zip");
    struct Case {
        const char* args;
        int exitCode;
        std::string says;
        const char* archive;  // that must not be there afterwards, or nullptr
    };
    const std::vector<Case> cases = {
        {"'' docs", 7, "folvio-zip: the archive name is empty\n", nullptr},
        {"' ' docs", 7, "folvio-zip: the archive name is empty\n", nullptr},
        {"-d '' '*.txt'", 7, "folvio-zip: the archive name is empty\n", nullptr},
        {"new.zip 'docs/*.log'", 3, "folvio-zip: nothing matches docs/*.log\nfolvio-zip: nothing to pack; no archive was written\n",
         "new.zip"},
        {"new.zip 'empty/*.*'", 3, "folvio-zip: nothing matches empty/*.*\n", "new.zip"},
        {"new.zip missing.txt 'nowhere/*.txt'", 3, "nothing to pack; no archive was written\n", "new.zip"},
        {"-x '*.txt' new.zip 'docs/*.txt'", 3, "folvio-zip: nothing matches docs/*.txt\n", "new.zip"},
        {"--root docs new.zip 'docs/*.log'", 3, "folvio-zip: nothing matches docs/*.log\n", "new.zip"},
        {"kept.zip 'docs/*.log'", 3, "folvio-zip: nothing to pack; kept.zip is unchanged\n", nullptr},
        {"-d kept.zip '*.log' docs/none.txt", 4,
         "folvio-zip: no entry matches *.log\nfolvio-zip: no entry matches docs/none.txt\n"
         "folvio-zip: nothing to remove; kept.zip is unchanged\n", nullptr},
        {"partial.zip docs/a.txt 'docs/*.log'", 1, "folvio-zip: nothing matches docs/*.log\n", nullptr},
        {"emptyfolder.zip empty", 0, "0 entries written to emptyfolder.zip", nullptr},
    };
    for (const Case& c : cases) {
        CommandResult r = folvioZip(dir.path(), c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
        if (c.archive) {
            EXPECT_FALSE(fs::exists(dir / c.archive)) << c.args;
        }
    }
    EXPECT_TRUE(testsupport::readFile(dir / "kept.zip") == kept);
    EXPECT_EQ(namesIn(dir / "partial.zip"), std::vector<std::string>{"docs/a.txt"});
    // Some patterns matched: those entries go, the others are named.
    CommandResult r = folvioZip(dir.path(), "-d kept.zip '*.log' docs/a.txt");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("folvio-zip: no entry matches *.log\nfolvio-zip: 1 entry removed from kept.zip\n"),
              std::string::npos) << r.output;
    EXPECT_EQ(namesIn(dir / "kept.zip"), (std::vector<std::string>{"docs/sub/", "docs/sub/b.txt"}));
}

TEST(FolvioZip, OptionsShapeTheArchive) {
    TempDir dir;
    for (const char* f : {"docs/a.txt", "docs/b.log", "docs/sub/c.txt", "docs/sub/deeper/d.txt", "we<1>/f.txt"})
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
        {"--max -r 'docs/*.txt'", {"docs/a.txt", "docs/sub/", "docs/sub/c.txt", "docs/sub/deeper/", "docs/sub/deeper/d.txt"}},
        {"'we<1>'", {"we<1>/f.txt"}},  // a folder whose name holds wildcard characters
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

TEST(FolvioZip, MaxPacksSmallerThanNineAndReadersAcceptIt) {
    TempDir dir;
    std::string text;
    for (int i = 0; text.size() < 200000; ++i)
        text += "    value_" + std::to_string(i % 91) + " = lookup(table, " + std::to_string(i % 17) + ");\n";
    testsupport::writeFile(dir / "docs/source.c", text);
    testsupport::writeBytes(dir / "docs/noise.bin", testsupport::randomBytes(50000, 8));
    ASSERT_EQ(folvioZip(dir.path(), "-q -9 nine.zip docs").exitCode, 0);
    CommandResult r = folvioZip(dir.path(), "-q --max max.zip docs");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_LT(fs::file_size(dir / "max.zip"), fs::file_size(dir / "nine.zip"));
    CommandResult unzip = testsupport::runCommand("unzip -t " + shellQuote((dir / "max.zip").string()));
    EXPECT_EQ(unzip.exitCode, 0) << unzip.output;
    CommandResult sevenZip = testsupport::runCommand("7zz t " + shellQuote((dir / "max.zip").string()));
    EXPECT_NE(sevenZip.output.find("Everything is Ok"), std::string::npos) << sevenZip.output;
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
        {"existing.zip a.txt", 2, "existing.zip: Incomplete Zip File"},
        {"-d missing.zip '*.txt'", 7, "there is no archive missing.zip"},
        {"-P '' out.zip a.txt", 7, "empty password"},
        {"--threads 0 out.zip a.txt", 7, "--threads needs a number from 1 to 64"},
        {"--threads=x out.zip a.txt", 7, "--threads needs a number"},
        {"--threads 65 out.zip a.txt", 7, "--threads needs a number"},
        {"partial.zip a.txt nothing.txt", 1, "nothing.txt: no such file"},
        {"fine.zip a.txt", 0, "1 entry written to fine.zip"},
        {"nofolder.zip a.txt nowhere/", 1, "left out nowhere/: no such folder"},
        {"nosearch.zip a.txt 'nowhere/*.txt'", 1, "left out nowhere/*.txt: no such folder"},
    };
    for (const Case& c : cases) {
        CommandResult r = folvioZip(dir.path(), c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
    }
    EXPECT_EQ(testsupport::readFile(dir / "existing.zip"), "keep");
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_EQ(namesIn(dir / "partial.zip"), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(namesIn(dir / "nofolder.zip"), std::vector<std::string>{"a.txt"});  // no entry for a folder not there
}

TEST(FolvioZip, AnyNumberOfThreadsWritesTheSameArchive) {
    TempDir dir;
    testsupport::makeAwkwardTree(dir / "DIR");
    std::string bytes[3];
    for (int i = 0; i < 3; ++i) {
        const std::string name = "t" + std::to_string(i) + ".zip";
        folvioZip(dir.path(), std::string("-9 -r -q --threads ") + "147"[i] + " " + name + " DIR");
        bytes[i] = testsupport::readFile(dir / name);
    }
    EXPECT_FALSE(bytes[0].empty());
    EXPECT_EQ(bytes[0], bytes[1]);
    EXPECT_EQ(bytes[0], bytes[2]);
}

TEST(FolvioZip, FoldersThatCannotBeReadAreLeftOutAsUnreadableFilesAre) {
    TempDir dir;
    testsupport::writeFile(dir / "docs/a.txt", "a");
    testsupport::writeFile(dir / "docs/locked.txt", "l");
    testsupport::writeFile(dir / "docs/closed/lost.txt", "lost");
    testsupport::writeFile(dir / "docs/enterable/lost.txt", "lost");
    fs::permissions(dir / "docs/locked.txt", fs::perms::none);
    fs::permissions(dir / "docs/closed", fs::perms::none);
    fs::permissions(dir / "docs/enterable", fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
    CommandResult r = folvioZipUnprivileged(dir.path(), "out.zip docs");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    for (const char* line : {"left out docs/locked.txt: it cannot be opened for reading\n",
                             "left out docs/closed: it cannot be read\n", "left out docs/enterable: it cannot be read\n"})
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
    EXPECT_EQ(namesIn(dir / "out.zip"), std::vector<std::string>{"docs/a.txt"}) << "no empty entries in their place";
    r = folvioZipUnprivileged(dir.path(), "closed.zip docs/closed");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("left out docs/closed: it cannot be read\n"), std::string::npos) << r.output;
    fs::permissions(dir / "docs/closed", fs::perms::owner_all);
    fs::permissions(dir / "docs/enterable", fs::perms::owner_all);
}

TEST(FolvioZip, ConcurrentUpdatesOfOneArchiveLoseNothing) {
    TempDir dir;
    constexpr int kPairs = 40;
    testsupport::writeFile(dir / "base.txt", "base");
    std::string script = "for i in $(seq " + std::to_string(kPairs) + "); do echo $i > x$i.txt; echo $i > y$i.txt; done; ";
    // Each pair starts on an archive of its own that does not exist yet, or that does.
    script += "for i in $(seq " + std::to_string(kPairs) + "); do "
              "if [ $((i % 2)) = 0 ]; then " FOLVIO_ZIP_BIN " -q a$i.zip base.txt || echo FAILED base; fi; "
              "(" FOLVIO_ZIP_BIN " -q a$i.zip x$i.txt || echo FAILED x$i) & "
              "(" FOLVIO_ZIP_BIN " -q a$i.zip y$i.txt || echo FAILED y$i) & done; wait";
    CommandResult r = testsupport::runCommand("cd " + shellQuote(dir.path().string()) + " && " + script);
    EXPECT_EQ(r.output.find("FAILED"), std::string::npos) << r.output;
    for (int i = 1; i <= kPairs; ++i) {
        const std::string n = std::to_string(i);
        std::vector<std::string> expected = {"x" + n + ".txt", "y" + n + ".txt"};
        if (i % 2 == 0) expected.insert(expected.begin(), "base.txt");
        EXPECT_EQ(namesIn(dir / ("a" + n + ".zip")), expected) << "pair " << n;
    }
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename().string().rfind("FVZ", 0), 0u) << e.path();
}

TEST(FolvioZip, NoWaitFailsAtOnceWhileAnotherProcessWritesTheArchive) {
    TempDir dir;
    testsupport::writeFile(dir / "a.txt", "a");
    ASSERT_EQ(folvioZip(dir.path(), "-q a.zip a.txt").exitCode, 0);
    const std::string before = testsupport::readFile(dir / "a.zip");
    // flock(1) holds the same kind of lock the writers take, for as long as its command runs.
    CommandResult r = testsupport::runCommand("cd " + shellQuote(dir.path().string()) +
                                              " && flock a.zip sh -c '" FOLVIO_ZIP_BIN " --no-wait a.zip a.txt; echo status $?'");
    EXPECT_NE(r.output.find("folvio-zip: The archive \"a.zip\" is being written by another process; try again later\n"
                            "status 2"), std::string::npos) << r.output;
    EXPECT_TRUE(testsupport::readFile(dir / "a.zip") == before);
}

TEST(FolvioZip, AnArchiveTheUserMayNotWriteIsLeftAlone) {
    TempDir dir;
    testsupport::writeFile(dir / "a.txt", "a");
    testsupport::writeFile(dir / "b.txt", "b");
    ASSERT_EQ(folvioZip(dir.path(), "-q theirs.zip a.txt").exitCode, 0);
    fs::copy_file(dir / "theirs.zip", dir / "readonly.zip");
    fs::permissions(dir / "theirs.zip", fs::perms(0644));    // another user's (root's, for nobody)
    fs::permissions(dir / "readonly.zip", fs::perms(0444));  // nobody's own, write-protected
    if (geteuid() == 0) ASSERT_EQ(::chown((dir / "readonly.zip").c_str(), 65534, 65534), 0);
    else fs::permissions(dir / "theirs.zip", fs::perms(0444));  // files of another user cannot be made here
    for (const char* archive : {"theirs.zip", "readonly.zip"}) {
        const std::string before = testsupport::readFile(dir / archive);
        for (const std::string& args : {std::string(archive) + " b.txt", "-d " + std::string(archive) + " a.txt"}) {
            CommandResult r = folvioZipUnprivileged(dir.path(), args);
            EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.output;
            EXPECT_NE(r.output.find(std::string("The archive \"") + archive + "\" cannot be updated: Permission denied"),
                      std::string::npos) << r.output;
            EXPECT_TRUE(testsupport::readFile(dir / archive) == before) << args;
        }
    }
    EXPECT_EQ(fs::status(dir / "readonly.zip").permissions(), fs::perms(0444));
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename().string().rfind("FVZ", 0), 0u) << e.path();
}

TEST(FolvioZip, TemporaryFilesOfKilledWritersAreRemovedByTheNext) {
    TempDir dir;
    testsupport::writeFile(dir / "a.txt", "a");
    testsupport::writeBytes(dir / "b.txt", testsupport::randomBytes(8000000, 4));  // long enough to be caught at
    ASSERT_EQ(folvioZip(dir.path(), "-q a.zip a.txt").exitCode, 0);
    // A writer killed while it writes: its temporary archive stays, as the kernel only frees its lock.
    CommandResult killed = testsupport::runCommand(
        "cd " + shellQuote(dir.path().string()) + " && (" FOLVIO_ZIP_BIN " --max -q a.zip b.txt & pid=$!; "
        "while kill -0 $pid 2>/dev/null && ! ls FVZ$pid-* >/dev/null 2>&1; do sleep 0.005; done; "
        "kill -9 $pid; wait $pid; echo $pid)");
    std::string pid = killed.output;  // the last line; the shell may have said "Killed" before it
    while (!pid.empty() && pid.back() == '\n') pid.pop_back();
    pid = pid.substr(pid.rfind('\n') == std::string::npos ? 0 : pid.rfind('\n') + 1);
    const auto temporaries = [&] {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind("FVZ", 0) == 0) found.push_back(e.path().filename().string());
        return found;
    };
    ASSERT_EQ(temporaries().size(), 1u) << killed.output;
    EXPECT_EQ(temporaries()[0].rfind("FVZ" + pid + "-", 0), 0u) << killed.output << temporaries()[0];
    EXPECT_EQ(folvioZip(dir.path(), "-q a.zip b.txt").exitCode, 0);
    EXPECT_TRUE(temporaries().empty());
    EXPECT_EQ(namesIn(dir / "a.zip"), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST(FolvioZip, DeleteMendsAnArchiveWithEntriesLeadingOutside) {
    TempDir dir;
    testsupport::writeFile(dir / "a.txt", "a");
    CommandResult made = testsupport::runCommand(
        "cd " + shellQuote(dir.path().string()) +
        " && /usr/bin/python3 -c 'import zipfile; z=zipfile.ZipFile(\"evil.zip\",\"w\"); "
        "[z.writestr(n, n) for n in (\"ok.txt\", \"../../x\")]; z.close()'");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    struct Case {
        const char* args;
        int exitCode;
        const char* says;
    } cases[] = {
        {"evil.zip a.txt", 2, "evil.zip: Incomplete Zip File (central header 2 has a name with a \"..\" part); it is unchanged"},
        {"-d evil.zip ok.txt", 2, "the entry \"../../x\" has a name with a \"..\" part, which only removing it mends"},
        {"-d evil.zip ../../x", 0, "1 entry removed from evil.zip"},
        {"evil.zip a.txt", 0, "1 entry written to evil.zip"},
    };
    for (const Case& c : cases) {
        CommandResult r = folvioZip(dir.path(), c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
    }
    EXPECT_EQ(namesIn(dir / "evil.zip"), (std::vector<std::string>{"a.txt", "ok.txt"}));
    EXPECT_EQ(testsupport::runCommand("unzip -tq " + shellQuote((dir / "evil.zip").string())).exitCode, 0);
}

TEST(FolvioZip, MessagesCountInTheRightNumberAndNameWhatTheyAreAbout) {
    TempDir dir;
    testsupport::writeFile(dir / "a.txt", "a");
    testsupport::writeFile(dir / "b.txt", "b");
    fs::copy_file(fs::path(FOLVIO_TEST_DATA_DIR) / "zip/duplicate-names.zip", dir / "duplicate.zip");
    // A file whose path is longer than the system takes (PATH_MAX), deep in a folder that is
    // packed; made level by level relative to the one above, as no single call takes the path.
    std::string tooLong = (dir / "tree").string();
    int fd = ::open(dir.path().c_str(), O_DIRECTORY | O_RDONLY);
    for (int level = -1; level < 25 && fd >= 0; ++level) {
        const std::string name = level < 0 ? "tree" : std::string(200, static_cast<char>('a' + level));
        if (level >= 0) tooLong += "/" + name;
        ::mkdirat(fd, name.c_str(), 0755);
        const int next = ::openat(fd, name.c_str(), O_DIRECTORY | O_RDONLY);
        ::close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    const int file = ::openat(fd, "file.txt", O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(file, 0);
    ::close(file);
    ::close(fd);
    ASSERT_GT(tooLong.size(), size_t{PATH_MAX});
    struct Case {
        const char* args;
        int exitCode;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"one.zip a.txt", 0, "folvio-zip: 1 entry written to one.zip\n"},
        {"two.zip a.txt b.txt", 0, "folvio-zip: 2 entries written to two.zip\n"},
        {"-d two.zip a.txt", 0, "folvio-zip: 1 entry removed from two.zip\n"},
        {"duplicate.zip a.txt", 2,
         "folvio-zip: Duplicate Object index: two entries are named \"a.txt\" in the archive \"duplicate.zip\"; it is unchanged\n"},
        // The walk meets the limit at a folder on the way down.
        {"deep.zip tree", 1, ": its path is too long\n"},
    };
    for (const Case& c : cases) {
        CommandResult r = folvioZip(dir.path(), c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
        EXPECT_EQ(r.output.find("it is gone"), std::string::npos) << c.args << "\n" << r.output;
    }
    testsupport::runCommand("rm -rf " + shellQuote((dir / "tree").string()));  // rm takes long paths
}

// Every reader on Linux restores names outside ASCII exactly, those CP437 could hold too.
TEST(FolvioZip, NamesOutsideAsciiComeOutRightInEveryReader) {
    TempDir dir;
    const std::vector<std::string> names = {"DIR/caf\xC3\xA9.txt", "DIR/\xC3\xBC" "ber/\xC3\x9F.txt",
                                            "DIR/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE6\x96\x87\xE5\xAD\x97.txt",
                                            "DIR/plain.txt"};
    for (const std::string& name : names) testsupport::writeFile(dir / name, name);
    CommandResult packed = folvioZip(dir.path(), "-q -D out.zip DIR");
    ASSERT_EQ(packed.exitCode, 0) << packed.output;
    const std::string archive = shellQuote((dir / "out.zip").string());
    const std::vector<std::pair<const char*, std::string>> readers = {
        {"unzip", "unzip -q " + archive + " -d "},
        {"7zz", "7zz x -y -bso0 -bsp0 " + archive + " -o"},
        {"bsdtar", "bsdtar -xf " + archive + " -C "},
        {"python", "/usr/bin/python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' " +
                       archive + " "},
    };
    for (const auto& [reader, command] : readers) {
        SCOPED_TRACE(reader);
        const fs::path out = dir / (std::string("out-") + reader);
        fs::create_directories(out);
        CommandResult r = testsupport::runCommand("LC_ALL=C.UTF-8 " + command + shellQuote(out.string()));
        ASSERT_EQ(r.exitCode, 0) << r.output;
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(out))
            if (e.is_regular_file()) found.push_back(fs::relative(e.path(), out).string());
        std::sort(found.begin(), found.end());
        std::vector<std::string> expected = names;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
        for (const std::string& name : names)
            EXPECT_EQ(fs::exists(out / name) ? testsupport::readFile(out / name) : "(missing)", name);
    }
}

// Names another writer stored in CP437 without the flag are still read as CP437, so that an
// update finds the file they stand for instead of adding a second entry.
TEST(FolvioZip, Cp437NamesOfAnotherWriterAreReadAsSuchWhenUpdating) {
    TempDir dir;
    const std::string script =
        "import sys, zipfile\n"
        "i = zipfile.ZipInfo('DIR/cafX.txt', (1990, 1, 1, 0, 0, 0))\n"
        "i.create_system = 0\n"  // made on FAT
        "with zipfile.ZipFile(sys.argv[1], 'w') as z: z.writestr(i, 'old')\n"
        "data = open(sys.argv[1], 'rb').read().replace(b'DIR/cafX.txt', b'DIR/caf\\x82.txt')\n"
        "open(sys.argv[1], 'wb').write(data)\n";
    CommandResult made = testsupport::runCommand("/usr/bin/python3 -c " + shellQuote(script) + " " +
                                                 shellQuote((dir / "old.zip").string()));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    testsupport::writeFile(dir / "DIR/caf\xC3\xA9.txt", "new");
    CommandResult r = folvioZip(dir.path(), "-u -D old.zip DIR");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(namesIn(dir / "old.zip"), std::vector<std::string>{"DIR/caf\xC3\xA9.txt"}) << "one entry, not two";
    CommandResult content = testsupport::runCommand("unzip -p " + shellQuote((dir / "old.zip").string()));
    EXPECT_EQ(content.output, "new");
}

TEST(FolvioZip, HelpExplainsEveryOption) {
    CommandResult r = testsupport::runCommand(FOLVIO_ZIP_BIN " --help");
    EXPECT_EQ(r.exitCode, 0);
    for (const char* option : {"-r", "-0", "-9", "-D", "-j", "-x PATTERN", "-n PATTERN", "--root DIR", "-q", "255", "-u",
                               "-f", "--replace", "--no-wait", "-d ARCHIVE PATTERN", "-P PASSWORD", "seen by other users", "-e", "--max",
                               "128 MiB", "nothing to pack", "nothing to remove", "empty ARCHIVE name", "--aes", "AES-256", "supports AES", "--threads N", "--sync"})
        EXPECT_NE(r.output.find(option), std::string::npos) << option;
}

TEST(FolvioZip, SyncWritesWhatAFullRunWritesAndRepacksADamagedEntry) {
    TempDir dir;
    std::string text;
    for (int i = 0; text.size() < 60000; ++i) text += "line " + std::to_string(i % 331) + " of a file that stays\n";
    testsupport::writeFile(dir / "DIR/a.txt", "first");
    testsupport::writeFile(dir / "DIR/sub/b.txt", text);
    testsupport::writeFile(dir / "DIR/c.txt", "gone soon");
    ASSERT_EQ(folvioZip(dir.path(), "-9 -q --root DIR out.zip DIR").exitCode, 0);
    fs::permissions(dir / "out.zip", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                    fs::perm_options::replace);
    testsupport::writeFile(dir / "DIR/a.txt", "second");
    fs::remove(dir / "DIR/c.txt");
    testsupport::writeFile(dir / "DIR/d.txt", "added");

    CommandResult r = folvioZip(dir.path(), "-9 --sync --root DIR out.zip DIR");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("1 of them taken over unchanged"), std::string::npos) << r.output;
    ASSERT_EQ(folvioZip(dir.path(), "-9 -q --root DIR full.zip DIR").exitCode, 0);
    EXPECT_TRUE(testsupport::readBytes(dir / "out.zip") == testsupport::readBytes(dir / "full.zip"));
    EXPECT_EQ(fs::status(dir / "out.zip").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    size_t names = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++names;
    EXPECT_EQ(names, 3u) << "no hidden archive stays";

    // A byte of b.txt's data flipped (the archive's time put back): that entry is packed anew and named.
    r = testsupport::runCommand("/usr/bin/python3 -c 'import sys,zipfile,struct; z=zipfile.ZipFile(sys.argv[1]); "
                                "i=z.getinfo(\"sub/b.txt\"); f=open(sys.argv[1],\"rb\"); f.seek(i.header_offset+26); "
                                "n,e=struct.unpack(\"<HH\",f.read(4)); print(i.header_offset+30+n+e+i.compress_size//2)' " +
                                shellQuote((dir / "out.zip").string()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto time = fs::last_write_time(dir / "out.zip");
    std::vector<uint8_t> bytes = testsupport::readBytes(dir / "out.zip");
    bytes.at(std::stoul(r.output)) ^= 0x10;
    testsupport::writeBytes(dir / "out.zip", bytes);
    fs::last_write_time(dir / "out.zip", time);
    r = folvioZip(dir.path(), "-9 --sync --root DIR out.zip DIR");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("DIR/sub/b.txt in the earlier archive is damaged"), std::string::npos) << r.output;
    EXPECT_TRUE(testsupport::readBytes(dir / "out.zip") == testsupport::readBytes(dir / "full.zip"));
    EXPECT_EQ(testsupport::runCommand("unzip -tqq " + shellQuote((dir / "out.zip").string())).exitCode, 0);

    EXPECT_EQ(folvioZip(dir.path(), "--sync -d out.zip a.txt").exitCode, 7);
}

TEST(FolvioZip, DeleteRemovesExactlyTheMatchingEntries) {
    TempDir dir;
    for (const char* f : {"docs/a.txt", "docs/b.tmp", "docs/sub/c.tmp", "docs/sub/d.txt"}) testsupport::writeFile(dir / f, f);
    ASSERT_EQ(folvioZip(dir.path(), "-q a.zip docs").exitCode, 0);
    CommandResult r = folvioZip(dir.path(), "-d a.zip '*.tmp'");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("2 entries removed from a.zip"), std::string::npos) << r.output;
    EXPECT_EQ(namesIn(dir / "a.zip"), (std::vector<std::string>{"docs/a.txt", "docs/sub/", "docs/sub/d.txt"}));
    EXPECT_EQ(testsupport::runCommand("unzip -tq " + shellQuote((dir / "a.zip").string())).exitCode, 0);

    testsupport::writeFile(dir / "garbage.zip", "not an archive, but somebody's data");
    r = folvioZip(dir.path(), "-d garbage.zip '*.tmp'");
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_NE(r.output.find("garbage.zip: Incomplete Zip File"), std::string::npos) << r.output;
    EXPECT_EQ(testsupport::readFile(dir / "garbage.zip"), "not an archive, but somebody's data");
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename().string().rfind("FVZ", 0), 0u) << e.path();
}

TEST(FolvioZip, UpdateFreshenAndReplace) {
    TempDir dir;
    for (const char* f : {"docs/a.txt", "docs/b.txt"}) {
        testsupport::writeFile(dir / f, "old");
        fs::last_write_time(dir / f, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    ASSERT_EQ(folvioZip(dir.path(), "-q a.zip docs").exitCode, 0);
    testsupport::writeFile(dir / "docs/a.txt", "newer");
    testsupport::writeFile(dir / "docs/c.txt", "added");
    struct Case {
        const char* args;
        const char* says;
        std::vector<std::string> names;
    } cases[] = {
        {"-f a.zip docs", "1 entry written", {"docs/a.txt", "docs/b.txt"}},
        {"a.zip docs", "1 entry written", {"docs/a.txt", "docs/b.txt", "docs/c.txt"}},
        {"-u a.zip docs", "0 entries written", {"docs/a.txt", "docs/b.txt", "docs/c.txt"}},
        {"--replace a.zip docs/b.txt", "1 entry written", {"docs/a.txt", "docs/b.txt", "docs/c.txt"}},
    };
    for (const Case& c : cases) {
        CommandResult r = folvioZip(dir.path(), c.args);
        EXPECT_EQ(r.exitCode, 0) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
        EXPECT_EQ(namesIn(dir / "a.zip"), c.names) << c.args;
    }
    CommandResult py = testsupport::runCommand("/usr/bin/python3 -c 'import zipfile; print(zipfile.ZipFile(\"" +
                                               (dir / "a.zip").string() + "\").read(\"docs/a.txt\").decode())'");
    EXPECT_EQ(py.output, "newer\n");
}

// Runs folvio-zip on a terminal, typing each answer after the terminal showed its prompt.
std::pair<int, std::string> runOnTerminal(const fs::path& folder, std::vector<std::string> args,
                                          const std::vector<std::pair<std::string, std::string>>& answers) {
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(99);
        alarm(60);  // a prompt that never gets its answer ends the program, not the test run
        std::vector<char*> argv{const_cast<char*>(FOLVIO_ZIP_BIN)};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(FOLVIO_ZIP_BIN, argv.data());
        _exit(98);
    }
    std::string screen;
    char buf[4096];
    size_t next = 0;
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) {
        screen.append(buf, size_t(n));
        while (next < answers.size() && screen.find(answers[next].first) != std::string::npos) {
            std::string line = answers[next++].second + "\n";
            if (write(master, line.data(), line.size()) < 0) break;
            screen.erase(0, screen.find(answers[next - 1].first) + answers[next - 1].first.size());
        }
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), screen};
}

TEST(FolvioZip, PasswordsFromTheCommandLineOrTheTerminal) {
    TempDir dir;
    testsupport::writeFile(dir / "docs/a.txt", "a secret");
    CommandResult r = folvioZip(dir.path(), "-P 'two words' p.zip docs");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(testsupport::runCommand("unzip -P 'two words' -tq " + shellQuote((dir / "p.zip").string())).exitCode, 0);

    auto [code, screen] = runOnTerminal(dir.path(), {"-e", "e.zip", "docs"},
                                        {{"Enter password: ", "typed"}, {"Verify password: ", "typed"}});
    EXPECT_EQ(code, 0) << screen;
    EXPECT_EQ(screen.find("typed"), std::string::npos) << "echoed: " << screen;
    EXPECT_EQ(testsupport::runCommand("unzip -P typed -tq " + shellQuote((dir / "e.zip").string())).exitCode, 0);

    std::tie(code, screen) = runOnTerminal(dir.path(), {"-e", "f.zip", "docs"},
                                           {{"Enter password: ", "one"}, {"Verify password: ", "other"}});
    EXPECT_EQ(code, 7);
    EXPECT_NE(screen.find("the two passwords differ"), std::string::npos) << screen;
    EXPECT_FALSE(fs::exists(dir / "f.zip"));
}

// --aes writes AES-256 entries, which 7-Zip and bsdtar extract and a wrong password does not;
// it needs a password, and -e asks for it as without --aes.
TEST(FolvioZip, AesEncryptsWithThePasswordGiven) {
    TempDir dir;
    testsupport::writeFile(dir / "docs/a.txt", "a secret");
    CommandResult r = folvioZip(dir.path(), "--aes -P 'two words' p.zip docs");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string archive = shellQuote((dir / "p.zip").string());
    CommandResult list = testsupport::runCommand("7zz l -slt -p'two words' " + archive);
    EXPECT_NE(list.output.find("Method = AES-256"), std::string::npos) << list.output;
    CommandResult x = testsupport::runCommand("7zz x -so -p'two words' " + archive + " docs/a.txt");
    EXPECT_EQ(x.exitCode, 0) << x.output;
    EXPECT_NE(x.output.find("a secret"), std::string::npos) << x.output;
    x = testsupport::runCommand("bsdtar -xOf " + archive + " --passphrase 'two words' docs/a.txt");
    EXPECT_EQ(x.output, "a secret");
    EXPECT_NE(testsupport::runCommand("7zz t -p'two wordz' " + archive).exitCode, 0);

    auto [code, screen] = runOnTerminal(dir.path(), {"--aes", "-e", "e.zip", "docs"},
                                        {{"Enter password: ", "typed"}, {"Verify password: ", "typed"}});
    EXPECT_EQ(code, 0) << screen;
    EXPECT_EQ(testsupport::runCommand("7zz t -ptyped " + shellQuote((dir / "e.zip").string())).exitCode, 0);

    r = folvioZip(dir.path(), "--aes n.zip docs");
    EXPECT_EQ(r.exitCode, 7) << r.output;
    EXPECT_NE(r.output.find("--aes needs a password"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir / "n.zip"));
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

// A damaged entry in an existing archive is carried over by an update unseen, unless -T tests
// the result: then the update fails with exit code 3 naming the entry, and the archive stays.
TEST(FolvioZip, TestAfterWritingRefusesADamagedArchive) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\n";
    testsupport::writeFile(dir / "a.txt", text);
    testsupport::writeFile(dir / "b.txt", "more");
    CommandResult r = folvioZip(dir.path(), "-T -q good.zip a.txt");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::vector<uint8_t> bytes = testsupport::readBytes(dir / "good.zip");
    bytes.at(30 + 5 + 200) ^= 0x5A;  // inside a.txt's compressed data
    testsupport::writeBytes(dir / "bad.zip", bytes);
    testsupport::writeBytes(dir / "carried.zip", bytes);

    r = folvioZip(dir.path(), "-T bad.zip b.txt");
    EXPECT_EQ(r.exitCode, 5) << r.output;
    EXPECT_NE(r.output.find("folvio-zip: The archive \"bad.zip\" failed its test: \"a.txt\": "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("; the archive is unchanged"), std::string::npos) << r.output;
    EXPECT_EQ(testsupport::readBytes(dir / "bad.zip"), bytes);
    r = folvioZip(dir.path(), "carried.zip b.txt");
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

// -T on AES archives: the job's own entries are read through; carried-over ones under another
// password pass on their headers; a changed entry under the job's password fails the update.
TEST(FolvioZip, TestAfterWritingReadsAesEntries) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\n";
    testsupport::writeFile(dir / "a.txt", text);
    testsupport::writeFile(dir / "b.txt", "more");
    testsupport::writeFile(dir / "c.txt", "still more");
    CommandResult r = folvioZip(dir.path(), "-T -q --aes -P one good.zip a.txt");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::vector<uint8_t> bytes = testsupport::readBytes(dir / "good.zip");
    r = folvioZip(dir.path(), "-T -q --aes -P two good.zip b.txt");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    r = folvioZip(dir.path(), "-T -q -P three good.zip c.txt");  // traditional beside AES
    EXPECT_EQ(r.exitCode, 0) << r.output;

    bytes.at(30 + 5 + 11 + 18 + 200) ^= 0x5A;  // inside a.txt's encrypted data
    testsupport::writeBytes(dir / "bad.zip", bytes);
    r = folvioZip(dir.path(), "-T --aes -P one bad.zip b.txt");
    EXPECT_EQ(r.exitCode, 5) << r.output;
    EXPECT_NE(r.output.find("failed its test: \"a.txt\": the data were changed"), std::string::npos) << r.output;
    EXPECT_EQ(testsupport::readBytes(dir / "bad.zip"), bytes);
    r = folvioZip(dir.path(), "-T --aes -P two bad.zip b.txt");  // another password: only the headers are seen
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

}  // namespace
