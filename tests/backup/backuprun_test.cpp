// The backup run without a window: its steps as the host sees them, the archives and their names,
// the deletion step, Cancel and failures.
#include "backup/backuprun.h"

#include "faultyfilesystem.h"
#include "platform/filelock.h"
#include "testsupport.h"
#include "zipentries.h"
#include "zipreaders.h"
#include "zip/zipwriter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>

namespace fs = std::filesystem;
using backup::Answer;
using backup::RunEnd;
using testsupport::errorOf;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

namespace {

// A host that records what the run tells it and answers from a script, as the window would.
class FakeHost : public backup::Host {
public:
    struct Item {
        std::string text;
        bool checked = true;
    };
    std::vector<Item> items;
    bool mayStart = true;
    std::deque<Answer> answers;   // for the deletion question; none left fails the test
    std::string password;         // what Password() answers
    std::function<void()> onFolderStarted;  // runs after a folder's start is recorded

    Lines events;      // the run's steps in order: "running", "started 2", "folder 1 a.zip", "packed 0", ...
    Lines questions;   // the deletion questions' texts
    Lines listed;      // what the deletion step listed last
    Lines reports;     // the log lines
    std::string current;  // the archive being written
    int passwordsAsked = 0;
    int mayStartAsked = 0;

    std::vector<bool> checks() const {
        std::vector<bool> marks;
        for (const Item& item : items) marks.push_back(item.checked);
        return marks;
    }

    int FolderCount() override { return static_cast<int>(items.size()); }
    bool FolderChecked(int index) override { return items.at(static_cast<size_t>(index)).checked; }
    std::string FolderText(int index) override { return items.at(static_cast<size_t>(index)).text; }
    bool MayStart() override {
        ++mayStartAsked;
        return mayStart;
    }
    void DestinationListed(const Lines& names) override { listed = names; }
    Answer DeletionQuestion(const std::string& text) override {
        questions.push_back(text);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question " << text;
            return Answer::Cancel;
        }
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    void SetRunning(bool running) override { events.push_back(running ? "running" : "idle"); }
    void RunStarted(int checkedCount) override { events.push_back("started " + std::to_string(checkedCount)); }
    void FolderStarted(int done, const std::string& archiveName) override {
        current = archiveName;
        events.push_back("folder " + std::to_string(done) + " " + archiveName);
        if (onFolderStarted) onFolderStarted();
    }
    std::string Password() override {
        ++passwordsAsked;
        return password;
    }
    void Report(const std::string& line) override { reports.push_back(line); }
    void FolderPacked(const backup::FolderResult& result) override {
        items.at(static_cast<size_t>(result.index)).checked = false;
        events.push_back("packed " + std::to_string(result.index));
    }
    void RunEnded() override {
        current.clear();
        events.push_back("ended");
    }
};

class BackupRunTest : public ::testing::Test {
protected:
    BackupRunTest() {
        fs::create_directories(src);
        fs::create_directories(dest);
        run.Today = [] { return std::string("2005_03_17"); };
    }

    // A folder under src with a file and a subfolder; returns its list text ("/.../name/").
    std::string folder(const std::string& rel, const std::string& content = "data") {
        writeFile(src / rel / "file.txt", content);
        writeFile(src / rel / "sub/inner.txt", "inner");
        return (src / rel).string() + "/";
    }
    static Lines entriesWith(const std::string& content) { return {"file.txt=" + content, "sub/", "sub/inner.txt=inner"}; }
    void list(const Lines& folders) {
        host.items.clear();
        for (const std::string& f : folders) host.items.push_back({f, true});
    }
    backup::Options options(bool deleteFirst = false, bool datedNames = false) const {
        return {dest.string() + "/", deleteFirst, datedNames};
    }
    // Every name in the destination, hidden ones included, sorted.
    Lines destNames() const {
        Lines names;
        for (const auto& e : fs::directory_iterator(dest)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Runs step once from the writer's process-messages step while the archive name is written.
    void duringArchive(const std::string& name, std::function<void()> step) {
        writer.ProcessMessages = [this, name, step, done = false]() mutable {
            if (!done && host.current == name) {
                done = true;
                step();
            }
        };
    }
    // Recreates the destination empty, with a fresh host and run, as after a restart.
    void fresh() {
        fs::remove_all(dest);
        fs::create_directories(dest);
        host.events.clear();
        host.questions.clear();
    }

    testsupport::TempDir dir;
    fs::path src = dir / "src";
    fs::path dest = dir / "dest";
    TZipWriter writer;
    FakeHost host;
    backup::Run run{writer, host};
};

TEST_F(BackupRunTest, EachCheckedFolderGetsItsArchiveAndTheHostHearsEveryStep) {
    list({folder("A", "first"), folder("Skipped"), folder("My Docs", "second")});
    host.items[1].checked = false;
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_EQ(host.events, (Lines{"running", "started 2", "folder 1 a.zip", "packed 0", "folder 2 my docs.zip", "packed 2",
                                  "ended", "idle"}));
    EXPECT_EQ(host.mayStartAsked, 1);
    EXPECT_EQ(host.passwordsAsked, 2) << "once per folder";
    EXPECT_TRUE(host.questions.empty());
    EXPECT_EQ(destNames(), (Lines{"a.zip", "my docs.zip"})) << "no temporary file stays behind";
    EXPECT_EQ(testsupport::zipEntries(dest / "a.zip"), entriesWith("first")) << "relative paths, an entry per subfolder";
    EXPECT_EQ(testsupport::zipEntries(dest / "my docs.zip"), entriesWith("second"));
    EXPECT_TRUE(testsupport::unzipTests(dest / "a.zip"));
    EXPECT_TRUE(testsupport::unzipTests(dest / "my docs.zip"));
    EXPECT_EQ(host.checks(), (std::vector<bool>{false, false, false}));
    ASSERT_EQ(run.Results().size(), 2u);
    EXPECT_EQ(run.Results()[0].index, 0);
    EXPECT_EQ(run.Results()[0].archivePath, (dest / "a.zip").string());
    EXPECT_EQ(run.Results()[1].folder, host.items[2].text);
    EXPECT_EQ(run.Results()[1].archivePath, (dest / "my docs.zip").string());
    EXPECT_FALSE(run.Active());
    EXPECT_FALSE(run.Cancelled());
}

// The options' level holds for every folder of the run; the default is level 9.
TEST_F(BackupRunTest, ThePackLevelOfTheOptionsPacksEveryFolder) {
    std::string text;
    for (int i = 0; text.size() < 60000; ++i) text += "  sum_" + std::to_string(i % 71) + " += rate(" + std::to_string(i % 23) + ");";
    list({folder("A", text), folder("B", text + "b")});
    std::vector<int> levels;
    writer.OnStartZipInfo = [&](TZipReader*, int, double, TEndCentral&, bool&) { levels.push_back(writer.PackLevel()); };
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    const uintmax_t nine = fs::file_size(dest / "a.zip");
    backup::Options maximum = options();
    maximum.packLevel = maxdeflate::kLevel;
    list({folder("A", text), folder("B", text + "b")});
    EXPECT_EQ(run.Execute(maximum), RunEnd::Completed);
    EXPECT_EQ(levels, (std::vector<int>{9, 9, maxdeflate::kLevel, maxdeflate::kLevel}));
    EXPECT_LT(fs::file_size(dest / "a.zip"), nine);
    EXPECT_TRUE(testsupport::zipEntries(dest / "a.zip") == entriesWith(text));
    EXPECT_TRUE(testsupport::zipEntries(dest / "b.zip") == entriesWith(text + "b"));
}

// The options' threads reach the writer (0: all cores, at most 64 whatever is asked); the
// archives are the same bytes whatever the number.
TEST_F(BackupRunTest, TheThreadsOfTheOptionsPackAndChangeNoByte) {
    std::vector<unsigned> threads;
    writer.OnStartZipInfo = [&](TZipReader*, int, double, TEndCentral&, bool&) { threads.push_back(writer.Threads); };
    std::vector<std::string> archives;
    for (unsigned asked : {1u, 0u, 3u, 100u}) {
        list({folder("A", std::string(300000, 'a') + "end")});
        backup::Options o = options();
        o.threads = asked;
        o.incremental = false;
        EXPECT_EQ(run.Execute(o), RunEnd::Completed);
        archives.push_back(testsupport::readFile(dest / "a.zip"));
    }
    EXPECT_EQ(threads, (std::vector<unsigned>{1, parallelpack::DefaultThreads(), 3, 64}));
    for (const std::string& archive : archives) EXPECT_TRUE(archive == archives[0]);
}

TEST_F(BackupRunTest, NothingCheckedDoesNothingAndAsksNothing) {
    list({folder("A")});
    host.items[0].checked = false;
    EXPECT_EQ(run.Execute(options(true)), RunEnd::NotStarted);
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(host.mayStartAsked, 0);
    EXPECT_TRUE(destNames().empty());

    host.items.clear();
    EXPECT_EQ(errorOf([&] { run.Execute({"", true, false}); }), "no error") << "an empty list, not even a destination";
}

TEST_F(BackupRunTest, CheckMarksChangedDuringTheRunAreHonoured) {
    list({folder("a"), folder("b"), folder("c"), folder("d")});
    host.items[2].checked = false;
    // While a is packed the user checks c and unchecks d.
    duringArchive("a.zip", [&] {
        host.items[2].checked = true;
        host.items[3].checked = false;
    });
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_EQ(host.events, (Lines{"running", "started 3", "folder 1 a.zip", "packed 0", "folder 2 b.zip", "packed 1",
                                  "folder 3 c.zip", "packed 2", "ended", "idle"}));
    EXPECT_EQ(destNames(), (Lines{"a.zip", "b.zip", "c.zip"}));
    EXPECT_EQ(host.checks(), (std::vector<bool>{false, false, false, false}));

    // More folders than were counted: the count never passes its total.
    fresh();
    list({folder("a"), folder("b")});
    host.items[1].checked = false;
    duringArchive("a.zip", [&] { host.items[1].checked = true; });
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_EQ(host.events, (Lines{"running", "started 1", "folder 1 a.zip", "packed 0", "folder 1 b.zip", "packed 1",
                                  "ended", "idle"}));
}

TEST_F(BackupRunTest, AFileThatCannotBeOpenedIsLeftOutAndReported) {
    const std::string a = folder("A", "first");
    const fs::path fifo = src / "A/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    list({a, folder("B")});
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_EQ(testsupport::zipEntries(dest / "a.zip"), entriesWith("first"));
    EXPECT_EQ(host.reports, Lines{"left out " + fifo.string() + ": it is a named pipe"});
    ASSERT_EQ(run.Results().size(), 2u);
    EXPECT_EQ(run.Results()[0].leftOut, Lines{fifo.string()});
    EXPECT_TRUE(run.Results()[1].leftOut.empty()) << "each folder has its own";
}

TEST_F(BackupRunTest, AFolderThatCannotBeListedIsLeftOutAndReported) {
    const std::string a = folder("A", "first");
    writeFile(src / "A/closed/lost.txt", "lost");
    const std::string closed = (src / "A/closed").string();
    testsupport::FaultyFileSystem faulty;
    faulty.listErrors[closed] = EACCES;
    platform::ScopedFileSystem use(faulty);
    list({a});
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_EQ(testsupport::zipEntries(dest / "a.zip"), entriesWith("first")) << "no empty entry in its place";
    EXPECT_EQ(host.reports, Lines{"left out " + closed + ": it cannot be read"});
    ASSERT_EQ(run.Results().size(), 1u);
    EXPECT_EQ(run.Results()[0].leftOut, Lines{closed});
}

TEST_F(BackupRunTest, FilesGoneOrChangedWhileTakenAreReportedAsLeftOut) {
    const std::string a = folder("A", "first");
    const std::string shrinks = (src / "A/shrinks.bin").string(), gone = (src / "A/gone.txt").string();
    testsupport::writeBytes(shrinks, testsupport::randomBytes(100000, 3));
    writeFile(gone, "gone");
    writer.OnRecursingFile = [&](TZipReader*, const std::string& name) {
        if (name == gone) fs::remove(name);
    };
    testsupport::FaultyFileSystem faulty;
    faulty.afterRead = [&](const std::string& path, uint64_t done) {
        if (path == shrinks && done == 32768) fs::resize_file(path, 50000);
    };
    platform::ScopedFileSystem use(faulty);
    list({a});
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    Lines reports = host.reports;  // in the order the walk met the files
    std::sort(reports.begin(), reports.end());
    EXPECT_EQ(reports, (Lines{shrinks + " changed while it was packed", "left out " + gone + ": it is gone"}));
    ASSERT_EQ(run.Results().size(), 1u);
    Lines leftOut = run.Results()[0].leftOut;
    std::sort(leftOut.begin(), leftOut.end());
    EXPECT_EQ(leftOut, (Lines{gone, shrinks}));
    EXPECT_TRUE(testsupport::unzipTests(dest / "a.zip"));
}

TEST_F(BackupRunTest, HiddenArchivesOfRunsThatAreGoneAreRemovedAndNoOthers) {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const std::string stale = ".folvio-" + std::to_string(child) + "-Kill9d";
    const std::string live = ".folvio-" + std::to_string(getppid()) + "-alive1";
    writeFile(dest / stale, std::string(200000, 'x'));
    writeFile(dest / live, "being written");
    writeFile(dest / ".folvio-OlD123", "another form of name");
    list({folder("A")});
    int locked = 0;
    writer.ProcessMessages = [&] {
        for (const auto& e : fs::directory_iterator(dest)) {
            if (e.path().filename().string().rfind(platform::TemporaryPrefix(".folvio-"), 0) != 0) continue;
            platform::FileLock probe;
            locked += probe.Acquire(e.path().string(), false) == -EWOULDBLOCK;
        }
    };
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_GT(locked, 0) << "the run's own hidden archive is locked while it is written";
    Lines expected = {".folvio-OlD123", live, "a.zip"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(destNames(), expected);
}

TEST_F(BackupRunTest, FoldersWithTheSameLastPartShareAPlainNameAndNumberDatedOnes) {
    struct Case {
        const char* name;
        bool dated;
        std::map<std::string, std::string> archives;  // name -> content of file.txt
    };
    const std::vector<Case> cases = {
        {"plain: the second gets _02", false, {{"docs.zip", "first"}, {"docs_02.zip", "second"}}},
        {"dated: the second gets _02", true, {{"2005_03_17_docs.zip", "first"}, {"2005_03_17_docs_02.zip", "second"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        list({folder("x/Docs", "first"), folder("y/Docs", "second")});
        EXPECT_EQ(run.Execute(options(false, c.dated)), RunEnd::Completed);
        Lines names;
        for (const auto& [archive, content] : c.archives) {
            names.push_back(archive);
            EXPECT_EQ(testsupport::zipEntries(dest / archive), entriesWith(content)) << archive;
        }
        EXPECT_EQ(destNames(), names);
        EXPECT_EQ(host.reports, c.dated ? Lines{}
                                        : Lines{host.items[1].text + " is packed into docs_02.zip, as docs.zip holds " +
                                                host.items[0].text + " in this run"});
        host.reports.clear();
    }
}

TEST_F(BackupRunTest, PlainNamesOfARunAreTheSameEveryRunAndEachFolderKeepsItsOwn) {
    list({folder("a/Docs", "a"), folder("b/docs", "b"), folder("c/docs_02", "c"), folder("d/DOCS", "d")});
    const std::map<std::string, std::string> expected = {
        {"docs.zip", "a"}, {"docs_02.zip", "b"}, {"docs_02_02.zip", "c"}, {"docs_03.zip", "d"}};
    for (int runs = 0; runs < 2; ++runs) {
        for (auto& item : host.items) item.checked = true;
        EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
        Lines names;
        for (const auto& [archive, content] : expected) {
            names.push_back(archive);
            EXPECT_EQ(testsupport::zipEntries(dest / archive), entriesWith(content)) << archive << " run " << runs;
        }
        EXPECT_EQ(destNames(), names);
        EXPECT_EQ(host.reports.size(), 3u * (runs + 1));
    }
    ASSERT_EQ(run.Results().size(), 4u);
    EXPECT_EQ(run.Results()[3].archivePath, (dest / "docs_03.zip").string());
}

TEST_F(BackupRunTest, DatedNamesPassOverArchivesOfTheDayButNotOverAFolder) {
    writeFile(dest / "2005_03_17_docs.zip", "earlier");
    writeFile(dest / "2005_03_17_docs_02.zip", "earlier 2");
    list({folder("Docs")});
    EXPECT_EQ(run.Execute(options(false, true)), RunEnd::Completed);
    EXPECT_EQ(destNames(), (Lines{"2005_03_17_docs.zip", "2005_03_17_docs_02.zip", "2005_03_17_docs_03.zip"}));
    EXPECT_EQ(readFile(dest / "2005_03_17_docs.zip"), "earlier");
    EXPECT_EQ(readFile(dest / "2005_03_17_docs_02.zip"), "earlier 2");
    EXPECT_EQ(testsupport::zipEntries(dest / "2005_03_17_docs_03.zip"), entriesWith("data"));

    // A folder of the dated name is no archive: the name is taken, and the archive cannot go there.
    fresh();
    writeFile(dest / "2005_03_17_other.zip/keep.txt", "keep");
    list({folder("Other")});
    const std::string target = (dest / "2005_03_17_other.zip").string();
    EXPECT_EQ(errorOf([&] { run.Execute(options(false, true)); }),
              "Cannot put the archive \"" + target + "\" in place. Is a directory");
    EXPECT_EQ(destNames(), Lines{"2005_03_17_other.zip"}) << "the temporary file is gone";
    EXPECT_EQ(readFile(dest / "2005_03_17_other.zip/keep.txt"), "keep");
    EXPECT_EQ(host.checks(), std::vector<bool>{true}) << "a failed folder keeps its check mark";
    EXPECT_EQ(host.events.back(), "folder 1 2005_03_17_other.zip") << "the host stays running";
    EXPECT_FALSE(run.Active());
}

TEST_F(BackupRunTest, TheDeletionStepSparesHiddenReadOnlyAndSpecialFilesAndSubfolders) {
    struct Case {
        const char* name;
        bool oneFile;  // only one file to delete, or a plain and a read-only one
        Answer answer;
        bool deleted;  // the plain file is gone
        bool packed;   // the run went on
    };
    const std::vector<Case> cases = {
        {"one file, Yes", true, Answer::Yes, true, true},
        {"Yes", false, Answer::Yes, true, true},
        {"No deletes nothing and goes on", false, Answer::No, false, true},
        {"Cancel does nothing at all", false, Answer::Cancel, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        writeFile(dest / "old.zip", "old");
        writeFile(dest / ".hidden", "hidden");
        writeFile(dest / "sub/inside.zip", "inside");
        ASSERT_EQ(mkfifo((dest / "pipe").c_str(), 0644), 0);
        fs::create_symlink("nowhere", dest / "dangling");
        fs::create_symlink("old.zip", dest / "link.zip");
        if (!c.oneFile) {
            writeFile(dest / "readonly.zip", "read-only");
            fs::permissions(dest / "readonly.zip", fs::perms::owner_read | fs::perms::group_read);
        }
        list({folder("A")});
        host.answers = {c.answer};
        EXPECT_EQ(run.Execute(options(true)), c.packed ? RunEnd::Completed : RunEnd::NotStarted);
        const int count = c.oneFile ? 2 : 3;
        EXPECT_EQ(host.questions, Lines{"Do you really want to delete " + std::to_string(count) + " files?"});
        Lines listed = {"link.zip", "old.zip"};
        if (!c.oneFile) listed.push_back("readonly.zip");
        EXPECT_EQ(host.listed, listed) << "sorted by name, links to files included";
        EXPECT_EQ(fs::exists(dest / "old.zip"), !c.deleted);
        EXPECT_EQ(fs::exists(dest / "a.zip"), c.packed);
        Lines expected = {".hidden", "dangling", "pipe", "sub"};
        if (c.packed) expected.push_back("a.zip");
        if (!c.deleted) expected.insert(expected.end(), {"link.zip", "old.zip"});
        if (!c.oneFile) expected.push_back("readonly.zip");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(destNames(), expected);
        EXPECT_EQ(readFile(dest / "sub/inside.zip"), "inside");
        EXPECT_EQ(host.checks(), std::vector<bool>{!c.packed});
        EXPECT_EQ(host.events.empty(), !c.packed) << "Cancel: the host never leaves its idle state";
    }

    // Nothing to delete: no question.
    fresh();
    writeFile(dest / ".hidden", "hidden");
    list({folder("A")});
    EXPECT_EQ(run.Execute(options(true)), RunEnd::Completed);
    EXPECT_TRUE(host.questions.empty());
    EXPECT_TRUE(host.listed.empty());
    EXPECT_EQ(destNames(), (Lines{".hidden", "a.zip"}));

    // A destination that cannot be listed: nothing is deleted, nothing packed.
    fresh();
    writeFile(dest / "old.zip", "old");
    testsupport::FaultyFileSystem faulty;
    faulty.listErrors[dest.string() + "/"] = EACCES;
    faulty.listErrors[dest.string()] = EACCES;
    list({folder("A")});
    {
        platform::ScopedFileSystem installed(faulty);
        EXPECT_EQ(errorOf([&] { run.Execute(options(true)); }),
                  "Cannot open the folder \"" + dest.string() + "/\". Permission denied");
    }
    EXPECT_EQ(destNames(), Lines{"old.zip"});
    EXPECT_TRUE(host.questions.empty());
}

TEST_F(BackupRunTest, TheHostsOwnQuestionComesFirstAndCanStopTheRunUntouched) {
    writeFile(dest / "old.zip", "old");
    list({folder("A")});
    host.mayStart = false;
    EXPECT_EQ(run.Execute(options(true)), RunEnd::NotStarted);
    EXPECT_EQ(host.mayStartAsked, 1);
    EXPECT_TRUE(host.questions.empty()) << "the deletion question comes after it";
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(destNames(), Lines{"old.zip"});
}

TEST_F(BackupRunTest, ThePasswordIsAskedForEveryFolder) {
    const std::string password = "s3cret pa\xdf";  // a byte above 127 too
    list({folder("A"), folder("B")});
    host.password = password;
    host.onFolderStarted = [&] {
        if (host.current == "b.zip") host.password.clear();  // switched off between two folders
    };
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_TRUE(testsupport::unzipTests(dest / "a.zip", password));
    EXPECT_EQ(testsupport::zipEntries(dest / "a.zip", password), entriesWith("data"));
    EXPECT_EQ(testsupport::zipEntries(dest / "a.zip").front().rfind("error:", 0), 0u) << "no entry reads without it";
    EXPECT_TRUE(testsupport::unzipTests(dest / "b.zip"));
    EXPECT_EQ(testsupport::zipEntries(dest / "b.zip"), entriesWith("data"));
}

// With the AES option every folder's archive has AES-256 entries, which 7-Zip and bsdtar extract
// with the password and not without; the writer holds no password after the run. Without a
// password the option encrypts nothing.
TEST_F(BackupRunTest, TheAesOptionEncryptsEveryFolderWithAes) {
    const std::string password = "s3cret pass phrase";
    list({folder("A"), folder("B")});
    host.password = password;
    backup::Options aes = options();
    aes.aes = true;
    EXPECT_EQ(run.Execute(aes), RunEnd::Completed);
    for (const char* archive : {"a.zip", "b.zip"}) {
        SCOPED_TRACE(archive);
        const fs::path a = dest / archive;
        EXPECT_EQ(testsupport::extractedEntries(testsupport::AesReader::SevenZip, a, password), entriesWith("data"));
        EXPECT_EQ(testsupport::extractedEntries(testsupport::AesReader::Bsdtar, a, password), entriesWith("data"));
        const Lines methods = testsupport::sevenZipMethods(a, password);
        EXPECT_EQ(std::count_if(methods.begin(), methods.end(),
                                [](const std::string& m) { return m.find("AES-256") != std::string::npos; }),
                  2)
            << testing::PrintToString(methods);
        EXPECT_EQ(testsupport::extractedEntries(testsupport::AesReader::SevenZip, a, "wrong").front().rfind("error:", 0), 0u);
    }
    EXPECT_TRUE(writer.Password.empty()) << "the password is wiped after each folder";

    host.password.clear();
    list({folder("A")});
    EXPECT_EQ(run.Execute(aes), RunEnd::Completed);
    EXPECT_EQ(testsupport::zipEntries(dest / "a.zip"), entriesWith("data"));
}

TEST_F(BackupRunTest, CancelDuringTheThirdOfFiveKeepsTheRestCheckedAndTheEarlierArchive) {
    Lines folders;
    for (const char* name : {"a", "b", "c", "d", "e"}) folders.push_back(folder(name));
    list(folders);
    writeFile(dest / "c.zip", "the archive of an earlier run");
    duringArchive("c.zip", [&] { run.Cancel(); });
    EXPECT_EQ(errorOf([&] { run.Execute(options()); }), "User Aborted Operation");
    EXPECT_EQ(host.checks(), (std::vector<bool>{false, false, true, true, true}));
    EXPECT_EQ(destNames(), (Lines{"a.zip", "b.zip", "c.zip"})) << "no partial or temporary file stays";
    EXPECT_EQ(readFile(dest / "c.zip"), "the archive of an earlier run");
    EXPECT_TRUE(run.Cancelled());
    EXPECT_FALSE(run.Active());
    EXPECT_EQ(run.Results().size(), 2u);

    // The next run packs exactly the folders still checked.
    writer.ProcessMessages = nullptr;
    host.events.clear();
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_FALSE(run.Cancelled());
    EXPECT_EQ(host.events, (Lines{"running", "started 3", "folder 1 c.zip", "packed 2", "folder 2 d.zip", "packed 3",
                                  "folder 3 e.zip", "packed 4", "ended", "idle"}));
    EXPECT_EQ(destNames(), (Lines{"a.zip", "b.zip", "c.zip", "d.zip", "e.zip"}));
    EXPECT_EQ(testsupport::zipEntries(dest / "c.zip"), entriesWith("data"));
}

TEST_F(BackupRunTest, ACancelTheWriterNoLongerSeesEndsTheRunAfterThatFolder) {
    // Cancel pressed as the writer completes: its archive is whole and in place, the folder
    // keeps its check mark, and the run goes no further.
    list({folder("a"), folder("b")});
    writer.OnZipComplete = [&](TZipReader*, int) {
        if (host.current == "a.zip") run.Cancel();
    };
    EXPECT_EQ(run.Execute(options()), RunEnd::Left);
    EXPECT_EQ(host.events, (Lines{"running", "started 2", "folder 1 a.zip"}));
    EXPECT_EQ(host.checks(), (std::vector<bool>{true, true}));
    EXPECT_EQ(destNames(), Lines{"a.zip"});
    EXPECT_EQ(testsupport::zipEntries(dest / "a.zip"), entriesWith("data"));

    // The writer drops the stale request when its next job starts.
    writer.OnZipComplete = nullptr;
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_EQ(destNames(), (Lines{"a.zip", "b.zip"}));
}

TEST_F(BackupRunTest, AFullDiskLeavesTheEarlierArchive) {
    testsupport::writeBytes(src / "A/big.bin", testsupport::randomBytes(300000, 9));
    writeFile(dest / "a.zip", "the archive of an earlier run");
    list({(src / "A").string() + "/"});
    testsupport::FaultyFileSystem full;
    full.writeBudget = 100000;
    {
        platform::ScopedFileSystem installed(full);
        EXPECT_EQ(errorOf([&] { run.Execute(options()); }), "Not enough room to write archive");
    }
    EXPECT_EQ(destNames(), Lines{"a.zip"});
    EXPECT_EQ(readFile(dest / "a.zip"), "the archive of an earlier run");
    EXPECT_EQ(host.checks(), std::vector<bool>{true});
}

// A byte the disk flips without an error is found by the test after writing: the run fails
// naming the archive and the entry, and the earlier archive stays. Without the test it goes unseen.
TEST_F(BackupRunTest, AFailedTestAfterWritingLeavesTheEarlierArchive) {
    testsupport::writeBytes(src / "A/big.bin", testsupport::randomBytes(300000, 9));
    list({(src / "A").string() + "/"});
    for (bool verify : {true, false}) {
        writeFile(dest / "a.zip", "the archive of an earlier run");
        testsupport::FaultyFileSystem flipping;
        flipping.flipWrittenByte[dest.string()] = 5000;  // inside big.bin's data
        backup::Options o = options();
        o.verifyArchives = verify;
        std::string error;
        {
            platform::ScopedFileSystem installed(flipping);
            error = errorOf([&] { run.Execute(o); });
        }
        if (!verify) {
            EXPECT_EQ(error, "no error");
            continue;
        }
        EXPECT_EQ(error.rfind("The archive \"" + (dest / "a.zip").string() + "\" failed its test: \"big.bin\": ", 0), 0u)
            << "[" << error << "]";
        EXPECT_EQ(destNames(), Lines{"a.zip"});
        EXPECT_EQ(readFile(dest / "a.zip"), "the archive of an earlier run");
        EXPECT_EQ(host.checks(), std::vector<bool>{true});
    }
}

TEST_F(BackupRunTest, ARunWithoutAUsableDestinationOrFolderIsRefusedWithAReason) {
    const std::string a = folder("A");
    struct Case {
        const char* name;
        std::string destination;
        std::string listed;
        std::string message;
        bool asked;  // the deletion question came before the refusal
    };
    const std::string gone = (dir / "gone").string() + "/";
    const std::string missing = (src / "Missing").string() + "/";
    const std::vector<Case> cases = {
        {"no destination", "", a, "Please choose a destination folder with \"Browse ...\" first", false},
        {"a destination that is gone", gone, a, "The destination folder \"" + gone + "\" does not exist", false},
        {"a listed folder that is gone", dest.string() + "/", missing, "The folder \"" + missing + "\" does not exist",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        writeFile(dest / "missing.zip", "the archive of an earlier run");
        list({c.listed});
        host.answers = {Answer::No};
        EXPECT_EQ(errorOf([&] { run.Execute({c.destination, true, false}); }), c.message);
        EXPECT_EQ(host.questions.size(), c.asked ? 1u : 0u);
        EXPECT_EQ(host.mayStartAsked > 0, c.asked) << "a refused destination asks nothing";
        host.mayStartAsked = 0;
        EXPECT_EQ(destNames(), Lines{"missing.zip"});
        EXPECT_EQ(readFile(dest / "missing.zip"), "the archive of an earlier run") << "no empty archive in its place";
        EXPECT_EQ(host.checks(), std::vector<bool>{true});
    }
}

TEST_F(BackupRunTest, LaterRunsWriteNoEmptyArchivesUnderEarlierNames) {
    // A cancelled folder, then a run of another folder with the same writer.
    list({folder("A"), folder("B")});
    duringArchive("b.zip", [&] { run.Cancel(); });
    EXPECT_EQ(errorOf([&] { run.Execute(options()); }), "User Aborted Operation");
    EXPECT_EQ(destNames(), Lines{"a.zip"});
    writer.ProcessMessages = nullptr;
    host.items[0].checked = true;
    host.items[1].checked = false;
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_EQ(destNames(), Lines{"a.zip"}) << "no archive without entries under the cancelled name";

    // Two dated runs on one day that empty the destination first: the second writes the same names again.
    fresh();
    list({folder("A"), folder("B")});
    EXPECT_EQ(run.Execute(options(true, true)), RunEnd::Completed);
    list({folder("A"), folder("B")});
    host.answers = {Answer::Yes};
    EXPECT_EQ(run.Execute(options(true, true)), RunEnd::Completed);
    EXPECT_EQ(host.questions, Lines{"Do you really want to delete 2 files?"});
    EXPECT_EQ(destNames(), (Lines{"2005_03_17_a.zip", "2005_03_17_b.zip"}));
    EXPECT_EQ(testsupport::zipEntries(dest / "2005_03_17_b.zip"), entriesWith("data"));
}

TEST_F(BackupRunTest, AnArchiveInsideItsOwnFolderIsNotPackedIntoItsSuccessor) {
    // The destination lies in the folder backed up: the archive the run replaces must not end up
    // inside the new one, or every run would carry all earlier ones along.
    const std::string home = folder("Home");
    const fs::path inner = src / "Home/backup";
    fs::create_directories(inner);
    const Lines expected = {"backup/", "file.txt=data", "sub/", "sub/inner.txt=inner"};
    for (int pass = 1; pass <= 2; ++pass) {
        SCOPED_TRACE(pass);
        list({home});
        EXPECT_EQ(run.Execute({inner.string() + "/", false, false}), RunEnd::Completed);
        EXPECT_EQ(testsupport::zipEntries(inner / "home.zip"), expected);
    }
}

TEST_F(BackupRunTest, IncrementalRunsWriteTheArchivesOfFullRunsAndKeepDatedVersions) {
    const struct {
        const char* name;
        bool dated, incremental, deleteFirst;
        int64_t reused;  // by the second run: file.txt changed, sub/inner.txt did not
    } cases[] = {
        {"plain names", false, true, false, 1},
        {"dated names", true, true, false, 1},
        {"plain names, incremental off", false, false, false, 0},
        {"dated names, incremental off", true, false, false, 0},
        {"the deletion step takes the earlier archive", false, true, true, 0},
    };
    for (const auto& c : cases) {
        fresh();
        const std::string docs = folder("Docs", "first");
        list({docs});
        backup::Options o = options(false, c.dated);
        o.incremental = c.incremental;
        ASSERT_EQ(run.Execute(o), RunEnd::Completed) << c.name;
        const fs::path first = dest / (c.dated ? "2005_03_17_docs.zip" : "docs.zip");
        const std::string firstBytes = readFile(first);

        writeFile(src / "Docs/file.txt", "second");
        list({docs});
        o.deleteFirst = c.deleteFirst;
        if (c.deleteFirst) host.answers = {Answer::Yes};
        ASSERT_EQ(run.Execute(o), RunEnd::Completed) << c.name;
        EXPECT_EQ(writer.EntriesReused(), c.reused) << c.name;
        const fs::path second = dest / (c.dated ? "2005_03_17_docs_02.zip" : "docs.zip");
        EXPECT_EQ(testsupport::zipEntries(second), entriesWith("second")) << c.name;
        if (c.dated) {
            EXPECT_EQ(readFile(first), firstBytes) << c.name << ": the earlier version stays";
        }

        // The same as a full run of the folder as it is now writes.
        const std::string incremental = readFile(second);
        fresh();
        list({docs});
        o.deleteFirst = false;
        o.incremental = false;
        ASSERT_EQ(run.Execute(o), RunEnd::Completed) << c.name;
        EXPECT_EQ(readFile(dest / (c.dated ? "2005_03_17_docs.zip" : "docs.zip")), incremental) << c.name;
        fs::remove_all(src / "Docs");
    }
}

TEST_F(BackupRunTest, CancelInAnIncrementalRunKeepsTheEarlierArchive) {
    testsupport::writeBytes(src / "A/big.bin", testsupport::randomBytes(300000, 9));
    const std::string a = (src / "A").string() + "/";
    list({a});
    ASSERT_EQ(run.Execute(options()), RunEnd::Completed);
    const std::string earlier = readFile(dest / "a.zip");
    writeFile(src / "A/new.txt", "new");
    list({a});
    duringArchive("a.zip", [&] { run.Cancel(); });
    EXPECT_EQ(errorOf([&] { run.Execute(options()); }), "User Aborted Operation");
    EXPECT_EQ(destNames(), Lines{"a.zip"}) << "no temporary file stays";
    EXPECT_EQ(readFile(dest / "a.zip"), earlier);
}

TEST_F(BackupRunTest, ADamagedEarlierArchiveIsReportedAndEveryFilePacked) {
    list({folder("Docs")});
    writeFile(dest / "docs.zip", "not an archive");
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_EQ(testsupport::zipEntries(dest / "docs.zip"), entriesWith("data"));
    ASSERT_EQ(host.reports.size(), 1u);
    EXPECT_EQ(host.reports[0].rfind("the earlier archive is not used: ", 0), 0u) << host.reports[0];
}

TEST_F(BackupRunTest, ARunCannotBeEnteredFromInsideItself) {
    list({folder("A"), folder("B")});
    bool refused = false;
    duringArchive("a.zip", [&] {
        EXPECT_TRUE(run.Active());
        try {
            run.Execute(options());
        } catch (const std::logic_error&) {
            refused = true;
        }
    });
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_TRUE(refused);
    EXPECT_EQ(host.events, (Lines{"running", "started 2", "folder 1 a.zip", "packed 0", "folder 2 b.zip", "packed 1",
                                  "ended", "idle"}));
    EXPECT_FALSE(run.Active());
}

// A home folder of more than 65,535 files: the run packs it into an archive with the 64-bit
// records that the readers take. Release only: tens of thousands of entries are slow under the
// sanitizers.
TEST_F(BackupRunTest, AFolderOf70000FilesIsPacked) {
#ifndef NDEBUG
    GTEST_SKIP() << "Release only";
#endif
    testsupport::TempDir home(testsupport::fastTemp("folvio-backup70000-"));
    const fs::path root = home / "home";
    for (int i = 0; i < 70000; ++i) {
        std::string folderName = "folder-", fileName = "f";
        folderName += std::to_string(i / 1000);
        fileName += std::to_string(i);
        writeFile(root / folderName / fileName, i % 3 ? "x" : "");
    }
    host.items = {{root.string() + "/", true}};
    EXPECT_EQ(run.Execute(options()), RunEnd::Completed);
    EXPECT_EQ(destNames(), Lines{"home.zip"});
    testsupport::expectReadersAccept(dest / "home.zip", 70000, 70, true, root);
}

}  // namespace
