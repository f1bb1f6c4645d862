// The backup run: questions, archives and their names, check marks, progress display, Cancel and failures.
#include "apptest.h"

#include "controls/gradientprogressbar.h"
#include "faultyfilesystem.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

#include <algorithm>
#include <map>

namespace fs = std::filesystem;
using msgbox::Answer;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

namespace {

const msgbox::Request kAborted{"User Aborted Operation.", "Marvane Folvio", msgbox::Buttons::Ok, msgbox::Icon::Stop};

msgbox::Request errorBox(const std::string& text) {
    return {text, "Marvane Folvio", msgbox::Buttons::Ok, msgbox::Icon::Stop};
}

msgbox::Request deletionQuestion(int n) {
    return {"Do you really want to delete " + std::to_string(n) + " files?", "Confirmation",
            msgbox::Buttons::YesNoCancel, msgbox::Icon::Exclamation};
}

class BackupRunTest : public apptest::WindowTest {
protected:
    BackupRunTest() {
        fs::create_directories(src);
        fs::create_directories(dest);
    }

    // A folder under src with a file and a subfolder; returns its list text ("/.../name/").
    std::string folder(const std::string& rel, const std::string& content = "data") {
        writeFile(src / rel / "file.txt", content);
        writeFile(src / rel / "sub/inner.txt", "inner");
        return (src / rel).string() + "/";
    }
    static Lines entriesWith(const std::string& content) { return {"file.txt=" + content, "sub/", "sub/inner.txt=inner"}; }

    // Lists the folders, stores the destination and the settings, and shows the window.
    void showWith(const Lines& folders, const std::map<std::string, std::string>& settings = {}) {
        std::string list;
        for (const std::string& f : folders) list += f + "\r\n";
        writeFile(listFile(), list);
        form().KwReg1.Push("DestDir", dest.string() + "/");
        for (const auto& [name, value] : settings) form().KwReg1.Push(name, value);
        show();
        form().Today = [] { return std::string("2005_03_17"); };
    }
    void run() { form().SpeedButton5->click(); }

    // Every name in the destination, hidden ones included, sorted.
    Lines destNames() const {
        Lines names;
        for (const auto& e : fs::directory_iterator(dest)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<bool> checks() {
        std::vector<bool> marks;
        for (int i = 0; i < form().ItemCount(); ++i) marks.push_back(form().ItemChecked(i));
        return marks;
    }
    void expectIdle() {
        EXPECT_FALSE(RunBusy);
        EXPECT_TRUE(form().SpeedButton5->isVisible());
        EXPECT_FALSE(form().SpeedButton3->isVisible());
        EXPECT_TRUE(form().SpeedButton4->isEnabled());
        EXPECT_TRUE(form().CheckBox1->isEnabled());
        EXPECT_TRUE(form().Edit2->text().isEmpty());
        EXPECT_EQ(form().ProgressBar1->Position(), 0);
        EXPECT_EQ(form().ProgressBar2->Position(), 0);
    }
    // Runs `step` once from the writer's process-messages step while the archive `name` is written.
    void duringArchive(const std::string& name, std::function<void()> step) {
        auto original = form().ZipWriter1.ProcessMessages;
        form().ZipWriter1.ProcessMessages = [this, name, step, original, done = false]() mutable {
            if (!done && form().Edit2->text().toStdString() == name) {
                done = true;
                step();
            }
            original();
        };
    }
    // Presses "&Cancel" through the event loop, as a click during packing would arrive.
    void queueCancel() {
        QMetaObject::invokeMethod(form().SpeedButton3, &QToolButton::click, Qt::QueuedConnection);
    }

    fs::path src = dir / "src";
    fs::path dest = dir / "dest";
};

TEST_F(BackupRunTest, NoFolderCheckedChangesNothingAndShowsNothing) {
    showWith({folder("A")});
    form().SetItemChecked(0, false);
    run();
    EXPECT_TRUE(boxes.asked.empty());
    EXPECT_TRUE(destNames().empty());
    expectIdle();
}

TEST_F(BackupRunTest, EachCheckedFolderGetsItsArchiveAndLosesItsCheckMark) {
    const std::string skipped = folder("Skipped");
    showWith({folder("A", "first"), skipped, folder("My Docs", "second")});
    form().SetItemChecked(1, false);
    run();
    EXPECT_TRUE(boxes.asked.empty());
    EXPECT_EQ(destNames(), (Lines{"a.zip", "my docs.zip"})) << "no temporary file stays behind";
    EXPECT_EQ(apptest::zipEntries(dest / "a.zip"), entriesWith("first")) << "relative paths, an entry per subfolder";
    EXPECT_EQ(apptest::zipEntries(dest / "my docs.zip"), entriesWith("second"));
    EXPECT_TRUE(apptest::unzipTests(dest / "a.zip"));
    EXPECT_TRUE(apptest::unzipTests(dest / "my docs.zip"));
    EXPECT_EQ(checks(), (std::vector<bool>{false, false, false}));
    expectIdle();
    EXPECT_FALSE(form().Form3->isVisible()) << "no countdown without the option";
    EXPECT_TRUE(form().isVisible());
}

TEST_F(BackupRunTest, AFileThatCannotBePackedIsLeftOutAndNamedOnStderrWithTheReason) {
    const std::string a = folder("A", "first");
    ASSERT_EQ(::mkfifo((src / "A/pipe").c_str(), 0600), 0);
    fs::create_symlink(src / "A/sub", src / "A/link to folder");
    fs::create_symlink("nowhere", src / "A/dangling");
    showWith({a});
    testing::internal::CaptureStderr();
    run();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(boxes.asked.empty());
    EXPECT_EQ(apptest::zipEntries(dest / "a.zip"), entriesWith("first"));
    for (const auto& [name, reason] : std::vector<std::pair<std::string, std::string>>{
             {"pipe", "it is a named pipe"},
             {"link to folder", "it is a link to a folder, which is not followed"},
             {"dangling", "it is a link that leads nowhere"}})
        EXPECT_NE(log.find("folvio: left out " + (src / "A" / name).string() + ": " + reason + "\n"), std::string::npos)
            << name << "\n" << log;
}

TEST_F(BackupRunTest, FoldersWithTheSameLastPartShareAPlainNameAndNumberDatedOnes) {
    struct Case {
        const char* name;
        const char* autoName;
        std::map<std::string, std::string> archives;  // name -> content of file.txt
    };
    const std::vector<Case> cases = {
        {"plain: the second replaces the first", "", {{"docs.zip", "second"}}},
        {"dated: the second gets _02", "1", {{"2005_03_17_docs.zip", "first"}, {"2005_03_17_docs_02.zip", "second"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        fs::remove_all(dest);
        fs::create_directories(dest);
        showWith({folder("x/Docs", "first"), folder("y/Docs", "second")}, {{"AutoName", c.autoName}});
        run();
        Lines names;
        for (const auto& [archive, content] : c.archives) {
            names.push_back(archive);
            EXPECT_EQ(apptest::zipEntries(dest / archive), entriesWith(content)) << archive;
        }
        EXPECT_EQ(destNames(), names);
        EXPECT_TRUE(boxes.asked.empty());
    }
}

TEST_F(BackupRunTest, DatedNamesPassOverArchivesOfTheDayButNotOverAFolder) {
    writeFile(dest / "2005_03_17_docs.zip", "earlier");
    writeFile(dest / "2005_03_17_docs_02.zip", "earlier 2");
    showWith({folder("Docs")}, {{"AutoName", "1"}});
    run();
    EXPECT_EQ(destNames(), (Lines{"2005_03_17_docs.zip", "2005_03_17_docs_02.zip", "2005_03_17_docs_03.zip"}));
    EXPECT_EQ(readFile(dest / "2005_03_17_docs.zip"), "earlier");
    EXPECT_EQ(readFile(dest / "2005_03_17_docs_02.zip"), "earlier 2");
    EXPECT_EQ(apptest::zipEntries(dest / "2005_03_17_docs_03.zip"), entriesWith("data"));

    // A folder of the dated name is no archive: the name is taken, and the archive cannot go there.
    restart();
    writeFile(dest / "2005_03_17_other.zip/keep.txt", "keep");
    showWith({folder("Other")}, {{"AutoName", "1"}});
    run();
    const std::string target = (dest / "2005_03_17_other.zip").string();
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0], errorBox("Cannot put the archive \"" + target + "\" in place. Is a directory."));
    EXPECT_EQ(readFile(dest / "2005_03_17_other.zip/keep.txt"), "keep");
    EXPECT_EQ(checks(), std::vector<bool>{true}) << "a failed folder keeps its check mark";
    EXPECT_TRUE(RunBusy) << "after an error the window stays running until Cancel";
    EXPECT_TRUE(form().SpeedButton3->isVisible());
    form().SpeedButton3->click();
    expectIdle();
    EXPECT_EQ(boxes.asked.size(), 1u) << "Cancel after the error shows nothing more";
}

TEST_F(BackupRunTest, TheDeletionStepSparesHiddenReadOnlyAndSpecialFilesAndSubfolders) {
    struct Case {
        const char* name;
        bool oneFile;    // only one file to delete, or a plain and a read-only one
        Answer answer;
        bool deleted;    // the plain file is gone
        bool packed;     // the run went on
    };
    const std::vector<Case> cases = {
        {"one file, Yes", true, Answer::Yes, true, true},
        {"Yes", false, Answer::Yes, true, true},
        {"No deletes nothing and goes on", false, Answer::No, false, true},
        {"Cancel does nothing at all", false, Answer::Cancel, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        boxes.asked.clear();
        fs::remove_all(dest);
        writeFile(dest / "old.zip", "old");
        writeFile(dest / ".hidden", "hidden");
        writeFile(dest / "sub/inside.zip", "inside");
        ASSERT_EQ(mkfifo((dest / "pipe").c_str(), 0644), 0);
        fs::create_symlink("nowhere", dest / "dangling");
        if (!c.oneFile) {
            writeFile(dest / "readonly.zip", "read-only");
            fs::permissions(dest / "readonly.zip", fs::perms::owner_read | fs::perms::group_read);
        }
        showWith({folder("A")}, {{"DeleteFiles", "1"}});
        boxes.answers = {c.answer};
        run();
        EXPECT_EQ(boxes.asked, std::vector<msgbox::Request>{deletionQuestion(c.oneFile ? 1 : 2)});
        EXPECT_EQ(fs::exists(dest / "old.zip"), !c.deleted);
        EXPECT_EQ(fs::exists(dest / "a.zip"), c.packed);
        Lines expected = {".hidden", "dangling", "pipe", "sub"};
        if (c.packed) expected.push_back("a.zip");
        if (!c.deleted) expected.push_back("old.zip");
        if (!c.oneFile) expected.push_back("readonly.zip");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(destNames(), expected);
        EXPECT_EQ(readFile(dest / "sub/inside.zip"), "inside");
        EXPECT_EQ(checks(), std::vector<bool>{!c.packed});
        expectIdle();
    }

    // Nothing to delete: no question.
    restart();
    boxes.asked.clear();
    fs::remove_all(dest);
    writeFile(dest / ".hidden", "hidden");
    showWith({folder("A")}, {{"DeleteFiles", "1"}});
    run();
    EXPECT_TRUE(boxes.asked.empty());
    EXPECT_EQ(destNames(), (Lines{".hidden", "a.zip"}));
}

TEST_F(BackupRunTest, TheSaveQuestionComesOnlyWithTheShutdownOptionAndAChangedList) {
    struct Case {
        const char* name;
        const char* shutdown;
        bool modified;
        Answer answer;
        bool asked, saved, packed;
    };
    const std::vector<Case> cases = {
        {"Yes saves and runs", "1", true, Answer::Yes, true, true, true},
        {"No runs without saving", "1", true, Answer::No, true, false, true},
        {"Cancel stops", "1", true, Answer::Cancel, true, false, false},
        {"unchanged list", "1", false, Answer::Yes, false, false, true},
        {"no shutdown option", "", true, Answer::Yes, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        boxes.asked.clear();
        fs::remove_all(dest);
        fs::create_directories(dest);
        const std::string a = folder("A");
        showWith({a}, {{"AutoShutdown", c.shutdown}});
        form().AddItem((src / "B").string() + "/");  // unchecked, listed only
        ListModified = c.modified;
        if (c.asked) boxes.answers = {c.answer};
        run();
        EXPECT_EQ(boxes.asked, c.asked ? std::vector<msgbox::Request>{apptest::kSaveQuestion} : std::vector<msgbox::Request>{});
        EXPECT_EQ(readFile(listFile()), c.saved ? a + "\r\n" + (src / "B").string() + "/\r\n" : a + "\r\n");
        EXPECT_EQ(fs::exists(dest / "a.zip"), c.packed);
        form().Form3->hide();
    }
}

TEST_F(BackupRunTest, BarsShowTheirProgressInTheColoursOfTheirShare) {
    // The current archive's bar: white text only above 50 percent.
    showWith({});
    form().ZipWriter1TotalPercentDone(50);
    EXPECT_EQ(form().ProgressBar2->Position(), 50);
    EXPECT_EQ(form().ProgressBar2->TextColor(), QColor(Qt::black));
    form().ZipWriter1TotalPercentDone(51);
    EXPECT_EQ(form().ProgressBar2->TextColor(), QColor(Qt::white));
    form().ZipWriter1ZipComplete(3);
    EXPECT_EQ(form().ProgressBar2->TextColor(), QColor(Qt::black));
    EXPECT_EQ(form().ProgressBar2->Position(), 0);

    // The whole run's bar: white when more than half the items are checked, black after the first archive.
    struct Case {
        const char* name;
        int items, checked;
        std::vector<QColor> colours;  // while each archive is written
    };
    const std::vector<Case> cases = {
        {"3 of 5", 5, 3, {Qt::white, Qt::black, Qt::black}},
        {"2 of 4", 4, 2, {Qt::black, Qt::black}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        Lines folders;
        for (int i = 0; i < c.items; ++i) folders.push_back(folder(std::string(1, char('a' + i))));
        showWith(folders);
        for (int i = c.checked; i < c.items; ++i) form().SetItemChecked(i, false);
        std::vector<QColor> colours;
        std::vector<int> positions;
        std::string current;
        auto original = form().ZipWriter1.ProcessMessages;
        form().ZipWriter1.ProcessMessages = [&] {
            if (form().Edit2->text().toStdString() != current && !form().Edit2->text().isEmpty()) {
                current = form().Edit2->text().toStdString();
                colours.push_back(form().ProgressBar1->TextColor());
                positions.push_back(form().ProgressBar1->Position());
                EXPECT_EQ(form().ProgressBar1->Max(), c.checked);
            }
            original();
        };
        run();
        EXPECT_EQ(colours, c.colours);
        std::vector<int> expected;
        for (int i = 1; i <= c.checked; ++i) expected.push_back(i);
        EXPECT_EQ(positions, expected) << "the last folder is packed at 100 percent";
        expectIdle();
    }
}

TEST_F(BackupRunTest, TheStoredPasswordIsReadForEveryFolderAndSwitchingItOffTakesEffect) {
    const std::string password = "s3cret pa\xdf";  // a byte above 127 too
    showWith({folder("A"), folder("B")}, {{"Password", form().KwKeey1.Encode(password)}});
    EXPECT_TRUE(form().CheckBox2->isChecked());
    run();
    for (const char* archive : {"a.zip", "b.zip"}) {
        SCOPED_TRACE(archive);
        EXPECT_TRUE(apptest::unzipTests(dest / archive, password));
        EXPECT_EQ(apptest::zipEntries(dest / archive, password), entriesWith("data"));
        EXPECT_EQ(apptest::zipEntries(dest / archive).front().rfind("error:", 0), 0u) << "no entry reads without it";
    }

    // Switched off between two runs while the program stays open.
    form().CheckBox2->click();
    EXPECT_EQ(pop("Password"), "");
    form().SetItemChecked(0, true);
    run();
    EXPECT_EQ(apptest::zipEntries(dest / "a.zip"), entriesWith("data"));
    EXPECT_TRUE(apptest::unzipTests(dest / "a.zip"));
    EXPECT_TRUE(boxes.asked.empty());
}

TEST_F(BackupRunTest, CancelDuringTheThirdOfFiveKeepsTheRestCheckedAndTheEarlierArchive) {
    Lines folders;
    for (const char* name : {"a", "b", "c", "d", "e"}) folders.push_back(folder(name));
    writeFile(dest / "c.zip", "the archive of an earlier run");
    showWith(folders);
    duringArchive("c.zip", [&] { queueCancel(); });
    run();
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0], kAborted);
    EXPECT_EQ(checks(), (std::vector<bool>{false, false, true, true, true}));
    EXPECT_EQ(destNames(), (Lines{"a.zip", "b.zip", "c.zip"})) << "no partial or temporary file stays";
    EXPECT_EQ(readFile(dest / "c.zip"), "the archive of an earlier run");
    EXPECT_TRUE(RunCancelled);
    expectIdle();

    // The next run packs exactly the folders still checked.
    boxes.asked.clear();
    run();
    EXPECT_TRUE(boxes.asked.empty());
    EXPECT_EQ(destNames(), (Lines{"a.zip", "b.zip", "c.zip", "d.zip", "e.zip"}));
    EXPECT_EQ(apptest::zipEntries(dest / "c.zip"), entriesWith("data"));
    EXPECT_FALSE(RunCancelled);
}

TEST_F(BackupRunTest, AStartPressedRightAfterCancelWaitsUntilTheCancelledRunHasEnded) {
    // Cancel shows "&Start ZIP" again in its place while the writer is still on its way out;
    // a click that arrives in the same turn of the event loop must not start a run inside it.
    showWith({folder("A"), folder("B")});
    duringArchive("a.zip", [&] {
        queueCancel();
        QMetaObject::invokeMethod(form().SpeedButton5, &QToolButton::click, Qt::QueuedConnection);
    });
    run();
    EXPECT_EQ(boxes.asked, std::vector<msgbox::Request>{kAborted});
    EXPECT_EQ(checks(), (std::vector<bool>{true, true}));
    EXPECT_TRUE(destNames().empty());
    expectIdle();

    run();  // once the cancelled run has ended, Start works as ever
    EXPECT_EQ(destNames(), (Lines{"a.zip", "b.zip"}));
    EXPECT_EQ(apptest::zipEntries(dest / "a.zip"), entriesWith("data"));
}

TEST_F(BackupRunTest, CancelStopsALargeFileWithTheThrottledEventLoop) {
    testsupport::writeBytes(src / "Big/big.bin", testsupport::randomBytes(16 << 20, 5));
    showWith({(src / "Big").string() + "/"});
    form().ProcessMessagesInterval = 20;  // as the program runs
    int highest = 0;
    auto original = form().ZipWriter1.OnTotalPercentDone;
    form().ZipWriter1.OnTotalPercentDone = [&](TZipReader* sender, int percent) {
        if (highest == 0 && percent > 0) queueCancel();
        highest = std::max(highest, percent);
        original(sender, percent);
    };
    run();
    EXPECT_EQ(boxes.asked, std::vector<msgbox::Request>{kAborted});
    EXPECT_LT(highest, 100) << "the file was packed to its end before the Cancel was seen";
    EXPECT_TRUE(destNames().empty());
    expectIdle();
}

TEST_F(BackupRunTest, AFullDiskLeavesTheEarlierArchiveAndTheWindowRunningUntilCancel) {
    testsupport::writeBytes(src / "A/big.bin", testsupport::randomBytes(300000, 9));
    writeFile(dest / "a.zip", "the archive of an earlier run");
    showWith({(src / "A").string() + "/"});
    testsupport::FaultyFileSystem full;
    full.writeBudget = 100000;
    {
        platform::ScopedFileSystem installed(full);
        run();
    }
    EXPECT_EQ(boxes.asked, std::vector<msgbox::Request>{errorBox("Not enough room to write archive.")});
    EXPECT_EQ(destNames(), Lines{"a.zip"});
    EXPECT_EQ(readFile(dest / "a.zip"), "the archive of an earlier run");
    EXPECT_EQ(checks(), std::vector<bool>{true});
    EXPECT_TRUE(RunBusy);
    EXPECT_TRUE(form().SpeedButton3->isVisible());
    form().SpeedButton3->click();
    expectIdle();
}

TEST_F(BackupRunTest, ARunWithoutAUsableDestinationOrFolderIsRefusedWithAReason) {
    const std::string a = folder("A");
    struct Case {
        const char* name;
        std::string destination;
        std::string listed;
        std::string message;
    };
    const std::string gone = (dir / "gone").string() + "/";
    const std::string missing = (src / "Missing").string() + "/";
    const std::vector<Case> cases = {
        {"no destination", "", a, "Please choose a destination folder with \"Browse ...\" first."},
        {"a destination that is gone", gone, a, "The destination folder \"" + gone + "\" does not exist."},
        {"a listed folder that is gone", dest.string() + "/", missing, "The folder \"" + missing + "\" does not exist."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        writeFile(dest / "missing.zip", "the archive of an earlier run");
        showWith({c.listed}, {{"DeleteFiles", "1"}});
        form().SetDestination(c.destination);
        boxes.answers = {Answer::No};  // the deletion question, when the run gets that far
        run();
        ASSERT_FALSE(boxes.asked.empty());
        EXPECT_EQ(boxes.asked.back(), errorBox(c.message));
        EXPECT_EQ(destNames(), Lines{"missing.zip"});
        EXPECT_EQ(readFile(dest / "missing.zip"), "the archive of an earlier run") << "no empty archive in its place";
        EXPECT_EQ(checks(), std::vector<bool>{true});
        if (RunBusy) form().SpeedButton3->click();
        expectIdle();
    }
}

TEST_F(BackupRunTest, LaterRunsWriteNoEmptyArchivesUnderEarlierNames) {
    // A cancelled folder, then a run of another folder in the same process.
    showWith({folder("A"), folder("B")});
    duringArchive("b.zip", [&] { queueCancel(); });
    run();
    EXPECT_EQ(destNames(), Lines{"a.zip"});
    form().SetItemChecked(0, true);
    form().SetItemChecked(1, false);
    run();
    EXPECT_EQ(destNames(), Lines{"a.zip"}) << "no archive without entries under the cancelled name";

    // Two dated runs on one day that empty the destination first: the second writes the same names again.
    restart();
    boxes.asked.clear();
    fs::remove_all(dest);
    fs::create_directories(dest);
    showWith({folder("A"), folder("B")}, {{"AutoName", "1"}, {"DeleteFiles", "1"}});
    run();
    form().hide();
    show();  // every folder checked again
    boxes.answers = {Answer::Yes};
    run();
    EXPECT_EQ(boxes.asked, std::vector<msgbox::Request>{deletionQuestion(2)});
    EXPECT_EQ(destNames(), (Lines{"2005_03_17_a.zip", "2005_03_17_b.zip"}));
    EXPECT_EQ(apptest::zipEntries(dest / "2005_03_17_b.zip"), entriesWith("data"));
}

TEST_F(BackupRunTest, AnArchiveInsideItsOwnFolderIsNotPackedIntoItsSuccessor) {
    // The destination lies in the folder backed up: the archive the run replaces must not end up
    // inside the new one, or every run would carry all earlier ones along.
    const std::string home = folder("Home");
    const fs::path inner = src / "Home/backup";
    fs::create_directories(inner);
    const Lines expected = {"backup/", "file.txt=data", "sub/", "sub/inner.txt=inner"};
    showWith({home});
    for (int pass = 1; pass <= 2; ++pass) {
        SCOPED_TRACE(pass);
        form().SetItemChecked(0, true);
        form().SetDestination(inner.string() + "/");
        run();
        EXPECT_TRUE(boxes.asked.empty());
        EXPECT_EQ(apptest::zipEntries(inner / "home.zip"), expected);
    }
}

TEST_F(BackupRunTest, ExitDuringARunLetsItFinishAndCloseIsRefused) {
    showWith({folder("A"), folder("B")});
    bool closed = true;
    duringArchive("a.zip", [&] {
        closed = form().close();
        QMetaObject::invokeMethod(form().Exit1, &QAction::trigger, Qt::QueuedConnection);
    });
    QTimer::singleShot(0, [&] { run(); });
    EXPECT_EQ(apptest::runProgramLoop(), 0);
    EXPECT_FALSE(closed) << "the close box is refused while the run goes on";
    EXPECT_EQ(destNames(), (Lines{"a.zip", "b.zip"}));
    EXPECT_EQ(checks(), (std::vector<bool>{false, false}));
    EXPECT_TRUE(boxes.asked.empty());
    expectIdle();
}

TEST_F(BackupRunTest, TheShutdownOptionShowsTheCountdownAfterANormalEnd) {
    showWith({folder("A")}, {{"AutoShutdown", "1"}});
    run();
    EXPECT_TRUE(form().Form3->isVisible());
    EXPECT_EQ(form().Form3->SecondsLeft, 60);
    EXPECT_FALSE(form().isVisible()) << "the countdown hides the main window";
    EXPECT_EQ(power.rightAsked + power.requests, 0);
    form().Form3->close();
    EXPECT_TRUE(form().isVisible());
}

TEST_F(BackupRunTest, AnAutoCloseStartEndsTheProgramAfterTheRunWithItsStatus) {
    struct Case {
        const char* name;
        const char* argument;
        bool destinationThere;
        const char* shutdown;
        int status;
        size_t boxes;
    };
    const std::vector<Case> cases = {
        {"normal end, no shutdown although the option is on", "-autostartclose", true, "1", 0, 0},
        {"the other spelling", "/autostartclose", true, "", 0, 0},
        {"an error ends it after its box", "/autostartclose", false, "1", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        fs::remove_all(dest);
        start({c.argument});
        if (c.destinationThere) fs::create_directories(dest);
        showWith({folder("A"), folder("B")}, {{"AutoShutdown", c.shutdown}});
        boxes.asked.clear();
        EXPECT_EQ(apptest::runProgramLoop(), c.status);
        EXPECT_EQ(boxes.asked.size(), c.boxes);
        EXPECT_EQ(fs::exists(dest / "b.zip"), c.status == 0);
        EXPECT_EQ(power.rightAsked + power.requests, 0);
    }
}

TEST_F(BackupRunTest, AnUnattendedStartWithNothingToPackEndsInsteadOfWaiting) {
    start({"-autostartclose"});
    form().Unattended = true;
    showWith({});
    testing::internal::CaptureStderr();
    const int status = apptest::runProgramLoop();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("no folder is checked"), std::string::npos) << err;
}

}  // namespace
