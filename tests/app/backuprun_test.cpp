// The window's side of the backup run: its boxes, buttons, check marks and progress display, Cancel,
// the countdown and the end of an automatic run. The run's own steps are tested in tests/backup/.
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
        form().BackupRun.Today = [] { return std::string("2005_03_17"); };
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
        EXPECT_FALSE(form().RunBusy);
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

TEST_F(BackupRunTest, EachPackedFolderLosesItsCheckMarkAndTheWindowEndsIdle) {
    showWith({folder("A", "first"), folder("Skipped"), folder("My Docs", "second")});
    form().SetItemChecked(1, false);
    std::vector<std::pair<std::string, bool>> shown;  // Edit2's text and whether Start is hidden, per archive
    auto original = form().ZipWriter1.ProcessMessages;
    form().ZipWriter1.ProcessMessages = [&] {
        const std::string name = form().Edit2->text().toStdString();
        if (!name.empty() && (shown.empty() || shown.back().first != name))
            shown.emplace_back(name, form().SpeedButton3->isVisible() && !form().SpeedButton5->isVisible());
        original();
    };
    run();
    EXPECT_TRUE(boxes.asked.empty());
    EXPECT_EQ(shown, (std::vector<std::pair<std::string, bool>>{{"a.zip", true}, {"my docs.zip", true}}));
    EXPECT_EQ(destNames(), (Lines{"a.zip", "my docs.zip"}));
    EXPECT_EQ(apptest::zipEntries(dest / "my docs.zip"), entriesWith("second"));
    EXPECT_EQ(checks(), (std::vector<bool>{false, false, false}));
    expectIdle();
    EXPECT_FALSE(form().Form3->isVisible()) << "no countdown without the option";
    EXPECT_TRUE(form().isVisible());
}

// "PackLevel" "10" packs every folder of the run at the maximum level: smaller archives that
// readers still take, with the same entries as at level 9.
TEST_F(BackupRunTest, MaximumCompressionPacksEveryFolderSmaller) {
    std::string source;
    for (int i = 0; source.size() < 120000; ++i)
        source += "  total_" + std::to_string(i % 83) + " += weight(" + std::to_string(i % 29) + ");";  // one line: the lister splits at line feeds
    const std::string a = folder("A", source), b = folder("B", source + "tail");
    std::map<std::string, uintmax_t> nine;
    for (const char* level : {"9", "10"}) {
        SCOPED_TRACE(level);
        restart();
        showWith({a, b}, {{"PackLevel", level}});
        run();
        EXPECT_TRUE(boxes.asked.empty());
        EXPECT_TRUE(apptest::zipEntries(dest / "a.zip") == entriesWith(source));
        EXPECT_TRUE(apptest::zipEntries(dest / "b.zip") == entriesWith(source + "tail"));
        EXPECT_TRUE(apptest::unzipTests(dest / "a.zip"));
        EXPECT_TRUE(apptest::unzipTests(dest / "b.zip"));
        for (const char* name : {"a.zip", "b.zip"}) {
            const uintmax_t size = fs::file_size(dest / name);
            if (nine.count(name)) EXPECT_LT(size, nine[name]) << name;
            else nine[name] = size;
        }
        expectIdle();
    }
}

// "Incremental" "1" (the default) has the second run take the unchanged file over from the
// earlier archive, of the same name or the newest dated one; "0" packs everything again.
TEST_F(BackupRunTest, TheIncrementalOptionTakesUnchangedFilesOverOnlyWhenOn) {
    const struct {
        const char* incremental;
        const char* autoName;
        const char* second;
        int64_t reused;
    } cases[] = {{"1", "0", "a.zip", 1}, {"1", "1", "2005_03_17_a_02.zip", 1}, {"0", "0", "a.zip", 0}, {"0", "1", "2005_03_17_a_02.zip", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("Incremental ") + c.incremental + ", AutoName " + c.autoName);
        restart();
        fs::remove_all(dest);
        fs::create_directories(dest);
        showWith({folder("A", "first")}, {{"Incremental", c.incremental}, {"AutoName", c.autoName}});
        run();
        writeFile(src / "A/file.txt", "second");
        form().SetItemChecked(0, true);
        run();
        EXPECT_TRUE(boxes.asked.empty());
        EXPECT_EQ(form().ZipWriter1.EntriesReused(), c.reused);
        EXPECT_EQ(apptest::zipEntries(dest / c.second), entriesWith("second"));
        expectIdle();
    }
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

TEST_F(BackupRunTest, TheDeletionQuestionIsAConfirmationBoxAndTheHiddenListShowsTheFiles) {
    for (const Answer answer : {Answer::Yes, Answer::Cancel}) {
        SCOPED_TRACE(answer == Answer::Yes ? "Yes" : "Cancel");
        restart();
        boxes.asked.clear();
        fs::remove_all(dest);
        writeFile(dest / "old.zip", "old");
        writeFile(dest / "b.txt", "b");
        writeFile(dest / ".hidden", "hidden");
        showWith({folder("A")}, {{"DeleteFiles", "1"}});
        boxes.answers = {answer};
        run();
        EXPECT_EQ(boxes.asked, std::vector<msgbox::Request>{deletionQuestion(2)});
        QStringList listed;
        for (int i = 0; i < form().FileListBox1->count(); ++i) listed << form().FileListBox1->item(i)->text();
        EXPECT_EQ(listed, (QStringList{"b.txt", "old.zip"}));
        EXPECT_FALSE(form().FileListBox1->isVisible());
        EXPECT_EQ(destNames(), answer == Answer::Yes ? (Lines{".hidden", "a.zip"}) : (Lines{".hidden", "b.txt", "old.zip"}));
        EXPECT_EQ(checks(), std::vector<bool>{answer != Answer::Yes});
        expectIdle();
    }
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
        form().ListModified = c.modified;
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

TEST_F(BackupRunTest, TheStoredPasswordIsReadForEachRunAndSwitchingItOffTakesEffect) {
    const std::string password = "s3cret pa\xdf";  // a byte above 127 too
    showWith({folder("A")}, {{"Password", form().KwKeey1.Encode(password)}});
    EXPECT_TRUE(form().CheckBox2->isChecked());
    run();
    EXPECT_TRUE(apptest::unzipTests(dest / "a.zip", password));
    EXPECT_FALSE(apptest::unzipTests(dest / "a.zip", "wrong")) << "the stored password, unscrambled";

    // Switched off between two runs while the program stays open.
    form().CheckBox2->click();
    EXPECT_EQ(pop("Password"), "");
    form().SetItemChecked(0, true);
    run();
    EXPECT_EQ(apptest::zipEntries(dest / "a.zip"), entriesWith("data"));
    EXPECT_TRUE(boxes.asked.empty());
}

// The stored choice of cipher: "aes" gives AES-256 archives that 7-Zip and bsdtar extract with
// the password; "zip" and no stored choice (settings of before the choice) the traditional cipher.
TEST_F(BackupRunTest, TheStoredEncryptionChoosesTheCipher) {
    const std::string password = "s3cret pass phrase";
    struct Case {
        const char* name;
        std::map<std::string, std::string> settings;
        bool aes;
    } cases[] = {
        {"none stored", {}, false},  // first: the store is fresh
        {"aes", {{"Encryption", "aes"}}, true},
        {"zip", {{"Encryption", "zip"}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        auto settings = c.settings;
        settings["Password"] = form().KwKeey1.Encode(password);
        showWith({folder("A")}, settings);
        run();
        const fs::path a = dest / "a.zip";
        EXPECT_EQ(testsupport::extractedEntries(testsupport::AesReader::SevenZip, a, password), entriesWith("data"));
        EXPECT_EQ(testsupport::extractedEntries(testsupport::AesReader::Bsdtar, a, password), entriesWith("data"));
        EXPECT_EQ(testsupport::extractedEntries(testsupport::AesReader::Bsdtar, a, "wrong").front().rfind("error:", 0), 0u);
        const auto methods = testsupport::sevenZipMethods(a, password);
        const bool anyAes = std::any_of(methods.begin(), methods.end(),
                                        [](const std::string& m) { return m.find("AES-256") != std::string::npos; });
        EXPECT_EQ(anyAes, c.aes) << testing::PrintToString(methods);
        // Info-ZIP's unzip reads the traditional cipher only.
        EXPECT_EQ(bool(apptest::unzipTests(a, password)), !c.aes);
    }
}

TEST_F(BackupRunTest, CancelMakesTheWindowIdleAndReportsTheAbort) {
    showWith({folder("a"), folder("b"), folder("c")});
    duringArchive("b.zip", [&] {
        form().ZipWriter1TotalPercentDone(80);
        queueCancel();
    });
    run();
    EXPECT_EQ(boxes.asked, std::vector<msgbox::Request>{kAborted});
    EXPECT_EQ(checks(), (std::vector<bool>{false, true, true}));
    EXPECT_EQ(destNames(), Lines{"a.zip"});
    EXPECT_TRUE(form().BackupRun.Cancelled());
    EXPECT_EQ(form().ProgressBar2->TextColor(), QColor(Qt::black));
    expectIdle();
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

TEST_F(BackupRunTest, AFailedRunLeavesTheWindowRunningUntilCancel) {
    const std::string missing = (src / "Missing").string() + "/";
    showWith({folder("A"), missing});
    run();
    EXPECT_EQ(boxes.asked, std::vector<msgbox::Request>{errorBox("The folder \"" + missing + "\" does not exist.")});
    EXPECT_EQ(checks(), (std::vector<bool>{false, true}));
    EXPECT_TRUE(form().RunBusy);
    EXPECT_TRUE(form().SpeedButton3->isVisible());
    EXPECT_FALSE(form().SpeedButton4->isEnabled());
    form().SpeedButton3->click();
    expectIdle();
    EXPECT_EQ(boxes.asked.size(), 1u) << "Cancel after the error shows nothing more";
}

// With "Verify Archives After Writing" on, a byte the disk flipped without an error fails the
// run: the error box names the archive and the entry, and the earlier archive stays.
TEST_F(BackupRunTest, AVerifiedRunReportsAFlippedByteAndKeepsTheEarlierArchive) {
    testsupport::writeBytes(src / "A/big.bin", testsupport::randomBytes(300000, 4));
    writeFile(dest / "a.zip", "the archive of an earlier run");
    showWith({(src / "A").string() + "/"});
    testsupport::FaultyFileSystem flipping;
    flipping.flipWrittenByte[dest.string()] = 5000;  // inside big.bin's data
    {
        platform::ScopedFileSystem installed(flipping);
        run();
    }
    ASSERT_EQ(boxes.asked.size(), 1u);
    const std::string prefix = "The archive \"" + (dest / "a.zip").string() + "\" failed its test: \"big.bin\": ";
    EXPECT_EQ(boxes.asked[0].text.rfind(prefix, 0), 0u) << boxes.asked[0].text;
    EXPECT_EQ(boxes.asked[0].icon, msgbox::Icon::Stop);
    EXPECT_EQ(destNames(), Lines{"a.zip"});
    EXPECT_EQ(readFile(dest / "a.zip"), "the archive of an earlier run");
    EXPECT_EQ(checks(), std::vector<bool>{true});
    form().SpeedButton3->click();
    expectIdle();
}

TEST_F(BackupRunTest, ARefusedRunShowsItsReasonInAnErrorBox) {
    showWith({folder("A")});
    form().SetDestination("");
    run();
    EXPECT_EQ(boxes.asked,
              std::vector<msgbox::Request>{errorBox("Please choose a destination folder with \"Browse ...\" first.")});
    EXPECT_TRUE(destNames().empty());
    EXPECT_EQ(checks(), std::vector<bool>{true});
    expectIdle();
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
