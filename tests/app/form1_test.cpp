// The main window: its controls, the folder list and its file, the options, showing, closing and sizing.
#include "apptest.h"

#include "app/screenshots.h"

#include "components/kwstatus.h"
#include "controls/gradientprogressbar.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <sys/stat.h>

#include <cstdlib>
#include <optional>

namespace fs = std::filesystem;
using msgbox::Answer;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

namespace {

using MainWindowTest = apptest::WindowTest;

TEST_F(MainWindowTest, EveryControlHasItsNameAndCaption) {
    const std::vector<std::pair<const char*, const char*>> captions = {
        {"Label1", "Marvane Folvio 2.0"},
        {"SpeedButton1", "&Add Folder"},
        {"SpeedButton2", "&Remove Folder"},
        {"Button1", "save"},
        {"Button2", "load"},
        {"Label2", "Destination Folder :"},
        {"SpeedButton4", "&Browse ..."},
        {"CheckBox1", "&Delete ALL Files before ZIPPING"},
        {"CheckBox2", "Use &Password"},
        {"CheckBox3", "Shutdown &Windows when done"},
        {"CheckBox4", "Autoname Files with &Date  (including overwrite protection!)"},
        {"CheckBox5", "Maximum Compression (smaller, slower)"},
        {"Label3", "Current File :"},
        {"SpeedButton5", "&Start ZIP"},
        {"SpeedButton3", "&Cancel"},
        {"Label4", "Entire Process :"},
    };
    for (const auto& [name, caption] : captions) {
        QObject* control = form().findChild<QObject*>(name);
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(control->property("text").toString().toStdString(), caption) << name;
    }
    for (const char* name : {"Panel1", "Panel2", "Panel3", "Panel4", "Image1", "Label6", "CheckListBox1", "FileListBox1",
                             "Edit1", "Edit2", "ProgressBar1", "ProgressBar2", "KwStatus1", "MainMenu1", "AutoStartTimer"})
        EXPECT_NE(form().findChild<QObject*>(name), nullptr) << name;
    EXPECT_EQ(form().windowTitle(), "Marvane Folvio 2.0");
    EXPECT_EQ(form().File1->title(), "File");
    ASSERT_EQ(form().File1->actions().size(), 4);
    EXPECT_EQ(form().File1->actions()[0], form().VerifyArchives1);
    EXPECT_EQ(form().File1->actions()[1], form().Incremental1);
    EXPECT_TRUE(form().File1->actions()[2]->isSeparator());
    EXPECT_EQ(form().File1->actions()[3], form().Exit1);
    EXPECT_EQ(form().VerifyArchives1->text(), "Verify Archives After Writing");
    EXPECT_EQ(form().Incremental1->text(), "Reuse Unchanged Files (faster runs)");
    for (QAction* option : {form().VerifyArchives1, form().Incremental1}) {
        EXPECT_TRUE(option->isCheckable()) << option->objectName().toStdString();
        EXPECT_TRUE(option->isChecked()) << option->objectName().toStdString() << " is on by default";
    }
    EXPECT_EQ(form().Exit1->text(), "Exit");
    EXPECT_FALSE(form().windowIcon().isNull());
    EXPECT_EQ(form().AutoStartTimer->interval(), 500);
    EXPECT_FALSE(form().AutoStartTimer->isActive());
    EXPECT_TRUE(form().SpeedButton5->autoRaise()) << "speed buttons are flat";
    EXPECT_FALSE(form().SpeedButton5->icon().isNull());
    EXPECT_TRUE(form().Edit1->isReadOnly());
    EXPECT_TRUE(form().Edit2->isReadOnly());
}

TEST_F(MainWindowTest, LayoutKeepsTheDesignSizesAndTheBarsFollowTheWidth) {
    show();
    TForm1& f = form();
    EXPECT_EQ(f.size(), QSize(493, 428));
    EXPECT_EQ(f.minimumSize(), QSize(493, 428));
    EXPECT_EQ(f.Panel1->height(), 41);
    EXPECT_EQ(f.Panel3->height(), 131);
    EXPECT_EQ(f.Panel4->height(), 71);
    EXPECT_EQ(f.ProgressBar1->width(), f.Panel4->width() - 187);
    EXPECT_EQ(f.ProgressBar2->width(), f.Panel4->width() - 323);
    EXPECT_EQ(f.ProgressBar1->height(), 21);
    EXPECT_EQ(f.ProgressBar1->Style(), TGradientProgressBar::sExSolid);
    EXPECT_TRUE(f.ProgressBar1->ShowText());
    EXPECT_TRUE(f.ProgressBar1->font().bold());
    EXPECT_EQ(f.Label1->font().pointSize(), 16);
    EXPECT_TRUE(f.Label1->font().bold());
    EXPECT_TRUE(QFontInfo(f.Label1->font()).family() == "Arial" || QFontInfo(f.Label1->font()).family() == "Liberation Sans");
    EXPECT_EQ(f.Panel1->palette().color(QPalette::Window), QColor(0xdd, 0xdd, 0xdd));

    const QRect startButton = f.SpeedButton5->geometry();
    EXPECT_GT(startButton.left(), f.ProgressBar1->geometry().right()) << "the bars end before the button";
    EXPECT_LE(startButton.right(), f.Panel4->width());
    EXPECT_EQ(f.SpeedButton3->geometry(), startButton) << "Cancel sits in Start's place";

    const int width1 = f.ProgressBar1->width(), width2 = f.ProgressBar2->width();
    f.resize(593, 500);
    QApplication::processEvents();
    EXPECT_EQ(f.ProgressBar1->width(), width1 + 100);
    EXPECT_EQ(f.ProgressBar2->width(), width2 + 100);
    EXPECT_EQ(f.SpeedButton5->geometry().left(), startButton.left() + 100);
    // The compression option sits in the panel beside the short options, clear of every other one.
    const QRect box5 = f.CheckBox5->geometry();
    EXPECT_TRUE(QRect(QPoint(0, 0), f.Panel3->size()).contains(box5)) << "inside its panel";
    for (QCheckBox* other : {f.CheckBox1, f.CheckBox2, f.CheckBox3, f.CheckBox4})
        EXPECT_FALSE(box5.intersects(other->geometry())) << other->objectName().toStdString();
    EXPECT_FALSE(box5.intersects(f.Edit1->geometry()));
    EXPECT_EQ(f.Panel4->height(), 71) << "only the folder list grows in height";

    f.resize(300, 200);
    QApplication::processEvents();
    EXPECT_EQ(f.size(), QSize(493, 428)) << "the window cannot be made smaller";
}

TEST_F(MainWindowTest, ShowingLoadsTheListChecksEveryFolderAndPutsTheSettingsBack) {
    writeFile(listFile(), "/home/a/\r\n\r\n/srv/b c/\r\n");
    {
        TKwReg store("Marvane", "Folvio");
        store.Push("DestDir", "/backups/");
        store.Push("DeleteFiles", "1");
        store.Push("AutoName", "1");
        store.Push("PackLevel", "10");
    }
    form().ListModified = true;
    show();
    EXPECT_EQ(items(), (Lines{"/home/a/", "", "/srv/b c/"}));
    for (int i = 0; i < form().ItemCount(); ++i) EXPECT_TRUE(form().ItemChecked(i)) << i;
    EXPECT_FALSE(form().ListModified);
    EXPECT_EQ(form().ItemIndex(), -1) << "nothing is selected after loading";
    EXPECT_EQ(form().Edit1->text(), "/backups/");
    EXPECT_TRUE(form().CheckBox1->isChecked());
    EXPECT_FALSE(form().CheckBox2->isChecked());
    EXPECT_FALSE(form().CheckBox3->isChecked());
    EXPECT_TRUE(form().CheckBox4->isChecked());
    EXPECT_TRUE(form().CheckBox5->isChecked());
    EXPECT_EQ(form().PackLevel(), maxdeflate::kLevel);
    EXPECT_FALSE(form().Loading);
    EXPECT_TRUE(boxes.asked.empty());
}

TEST_F(MainWindowTest, AMissingListFileIsReportedOnceAndTheSettingsStillLoad) {
    {
        TKwReg store("Marvane", "Folvio");
        store.Push("AutoShutdown", "1");
    }
    show();
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0], (msgbox::Request{"Cannot open file " + listFile().string() + ".", "Marvane Folvio",
                                               msgbox::Buttons::Ok, msgbox::Icon::Stop}));
    EXPECT_EQ(form().ItemCount(), 0);
    EXPECT_TRUE(form().CheckBox3->isChecked());
    EXPECT_FALSE(form().Loading);
    form().CheckBox3->setChecked(false);
    EXPECT_EQ(pop("AutoShutdown"), "") << "the options work after the failed load";

    // A later showing whose load fails keeps the list it had.
    form().AddItem("/kept/");
    form().hide();
    form().show();
    QApplication::processEvents();
    EXPECT_EQ(items(), Lines{"/kept/"});
    EXPECT_EQ(boxes.asked.size(), 2u);
}

TEST_F(MainWindowTest, LoadingKeepsTheOptionHandlersStill) {
    writeFile(listFile(), "");
    {
        TKwReg store("Marvane", "Folvio");
        store.Push("AutoShutdown", "yes");  // not "1": the box stays unchecked and nothing is rewritten
        store.Push("AutoName", "1");
        store.Push("Password", "\x7f\x80");
        store.Push("PackLevel", "12");  // not "10": level 9, and the text stays
    }
    bool dialogShown = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (form2().isVisible()) {
            dialogShown = true;
            form2().reject();
        }
    });
    watcher.start(5);
    show();
    EXPECT_FALSE(dialogShown) << "checking the password option while loading opens no dialog";
    EXPECT_TRUE(form().CheckBox2->isChecked());
    EXPECT_EQ(pop("Password"), "\x7f\x80");
    EXPECT_EQ(pop("AutoShutdown"), "yes");
    EXPECT_EQ(pop("AutoName"), "1");
    EXPECT_FALSE(form().CheckBox5->isChecked());
    EXPECT_EQ(form().PackLevel(), 9);
    EXPECT_EQ(pop("PackLevel"), "12");
    EXPECT_EQ(pop("DeleteFiles"), "") << "an unchanged box runs no handler";

    form().Loading = true;
    form().CheckBox3->setChecked(true);
    form().CheckBox4->setChecked(false);
    form().CheckBox5->setChecked(true);
    form().CheckBox2->setChecked(false);
    form().CheckBox1->setChecked(true);
    form().Loading = false;
    EXPECT_EQ(pop("AutoShutdown"), "yes");
    EXPECT_EQ(pop("AutoName"), "1");
    EXPECT_EQ(pop("Password"), "\x7f\x80");
    EXPECT_EQ(pop("PackLevel"), "12");
    EXPECT_EQ(pop("DeleteFiles"), "1") << "the deletion option is stored even while loading";
}

TEST_F(MainWindowTest, EachOptionStoresItsOwnTexts) {
    writeFile(listFile(), "");
    show();
    struct Case {
        QCheckBox* box;
        const char* name;
        const char* on;
        const char* off;
    };
    const std::vector<Case> cases = {
        {form().CheckBox1, "DeleteFiles", "1", "0"},
        {form().CheckBox3, "AutoShutdown", "1", ""},
        {form().CheckBox4, "AutoName", "1", ""},
        {form().CheckBox5, "PackLevel", "10", "9"},
    };
    for (const Case& c : cases) {
        c.box->click();
        EXPECT_EQ(pop(c.name), c.on) << c.name;
        c.box->click();
        EXPECT_EQ(pop(c.name), c.off) << c.name;
    }
    // The menu's options: on unless "0" is stored, stored as "1" or "0".
    const struct {
        QAction* TForm1::*action;
        const char* name;
    } options[] = {{&TForm1::VerifyArchives1, "VerifyArchives"}, {&TForm1::Incremental1, "Incremental"}};
    for (const auto& o : options) {
        EXPECT_TRUE((form().*o.action)->isChecked()) << o.name;
        (form().*o.action)->trigger();
        EXPECT_EQ(pop(o.name), "0");
        (form().*o.action)->trigger();
        EXPECT_EQ(pop(o.name), "1");
        for (const char* stored : {"0", "1", "yes"}) {
            restart();
            writeFile(listFile(), "");
            form().KwReg1.Push(o.name, stored);
            show();
            EXPECT_EQ((form().*o.action)->isChecked(), std::string(stored) != "0") << o.name << " " << stored;
            EXPECT_EQ(pop(o.name), stored) << o.name << ": loading rewrites nothing";
        }
    }
    restart();
    writeFile(listFile(), "");
    form().KwReg1.Push("AutoShutdown", "1");
    show();
    EXPECT_TRUE(form().CheckBox3->isChecked()) << "the stored option comes back at the next start";
    EXPECT_FALSE(form().CheckBox1->isChecked());
}

TEST_F(MainWindowTest, BrowseStoresTheChosenDestinationWithASlash) {
    writeFile(listFile(), "");
    fs::create_directories(dir / "dest");
    form().KwReg1.Push("DestDir", "/old/");
    show();
    struct Case {
        const char* name;
        std::string chosen;
        std::string stored;
    };
    const std::vector<Case> cases = {
        {"a folder", (dir / "dest").string(), (dir / "dest").string() + "/"},
        {"cancelled", "", (dir / "dest").string() + "/"},
        {"no such folder", (dir / "gone").string(), (dir / "dest").string() + "/"},
        {"a file is no folder", listFile().string(), (dir / "dest").string() + "/"},
        {"the root", "/", "/"},
    };
    std::vector<std::string> initials;
    for (const Case& c : cases) {
        form().KwBrFolder1.Chooser = [&](const std::string& initial, const std::string& title, QWidget* owner) {
            initials.push_back(initial);
            EXPECT_EQ(title, "Browser for the folder you want to be backed up");
            EXPECT_EQ(owner, &form());
            return c.chosen;
        };
        form().SpeedButton4->click();
        EXPECT_EQ(pop("DestDir"), c.stored) << c.name;
        EXPECT_EQ(form().Edit1->text().toStdString(), c.stored) << c.name;
    }
    EXPECT_EQ(initials.front(), "/old/") << "the dialog starts at the stored destination";
    EXPECT_EQ(initials[1], (dir / "dest").string() + "/");
}

TEST_F(MainWindowTest, AddAndRemoveChangeTheListAndNothingOnDisk) {
    writeFile(listFile(), "");
    fs::create_directories(dir / "Docs");
    show();
    std::vector<std::string> answers = {(dir / "Docs").string(), (dir / "Docs").string(), "", (dir / "none").string()};
    form().KwBrFolder1.Chooser = [&](const std::string& initial, const std::string& title, QWidget*) {
        EXPECT_EQ(initial, "");
        EXPECT_EQ(title, "Browser for the folder you want to be backed up");
        std::string next = answers.front();
        answers.erase(answers.begin());
        return next;
    };
    for (int i = 0; i < 4; ++i) form().SpeedButton1->click();
    const std::string docs = (dir / "Docs").string() + "/";
    EXPECT_EQ(items(), (Lines{docs, docs})) << "the same folder twice gives two items; cancel and missing add none";
    EXPECT_FALSE(form().ItemChecked(0)) << "new folders start unchecked";
    EXPECT_TRUE(form().ListModified);

    form().ListModified = false;
    form().SpeedButton2->click();
    EXPECT_TRUE(boxes.asked.empty()) << "nothing selected: no question";
    EXPECT_FALSE(form().ListModified);

    form().SetItemIndex(1);
    boxes.answers = {Answer::No, Answer::Yes};
    form().SpeedButton2->click();
    EXPECT_EQ(form().ItemCount(), 2) << "No removes nothing";
    EXPECT_FALSE(form().ListModified);
    form().SpeedButton2->click();
    EXPECT_EQ(form().ItemCount(), 1);
    EXPECT_TRUE(form().ListModified);
    ASSERT_EQ(boxes.asked.size(), 2u);
    EXPECT_EQ(boxes.asked[0], (msgbox::Request{"Do you really want to delete the folder from the list?", "Confirmation",
                                               msgbox::Buttons::YesNo, msgbox::Icon::Question}));
    EXPECT_TRUE(fs::is_directory(dir / "Docs"));

    form().KwBrFolder1.Chooser = [](const std::string&, const std::string&, QWidget*) { return std::string("/"); };
    form().SpeedButton1->click();
    EXPECT_EQ(items().back(), "/") << "the root folder keeps its one slash";
}

TEST_F(MainWindowTest, TheListSurvivesASaveAndARestartWithoutItsCheckMarks) {
    writeFile(listFile(), "");
    show();
    form().AddItem("/home/anna/Documents/");
    form().AddItem("/x\xff/");
    form().Button1->click();
    EXPECT_EQ(readFile(listFile()), "/home/anna/Documents/\r\n/x\xff/\r\n");
    EXPECT_TRUE(form().ItemCount() == 2 && !form().ItemChecked(0));
    restart();
    show();
    EXPECT_EQ(items(), (Lines{"/home/anna/Documents/", "/x\xff/"})) << "bytes that are no UTF-8 survive";
    EXPECT_TRUE(form().ItemChecked(0) && form().ItemChecked(1));
}

TEST_F(MainWindowTest, TheSaveQuestionGuardsClosing) {
    struct Case {
        const char* name;
        Answer answer;
        bool closes;
        bool saved;
    };
    const std::vector<Case> cases = {
        {"Yes saves and closes", Answer::Yes, true, true},
        {"No closes without saving", Answer::No, true, false},
        {"Cancel keeps the window open", Answer::Cancel, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        writeFile(listFile(), "/old/\r\n");
        show();
        form().AddItem("/new/");
        form().ListModified = true;
        boxes.asked.clear();
        boxes.answers = {c.answer};
        EXPECT_EQ(form().close(), c.closes);
        ASSERT_EQ(boxes.asked.size(), 1u);
        EXPECT_EQ(boxes.asked[0], apptest::kSaveQuestion);
        EXPECT_EQ(readFile(listFile()), c.saved ? "/old/\r\n/new/\r\n" : "/old/\r\n");
        EXPECT_TRUE(form().ListModified) << "saving does not clear the flag";
    }

    restart();
    writeFile(listFile(), "");
    show();
    boxes.asked.clear();
    EXPECT_TRUE(form().close()) << "an unchanged list closes without a question";
    EXPECT_TRUE(boxes.asked.empty());

    restart();
    show();
    form().ListModified = true;
    form().RunBusy = true;
    boxes.asked.clear();
    EXPECT_FALSE(form().close()) << "closing during a run is refused";
    EXPECT_TRUE(boxes.asked.empty()) << "without a word";
}

TEST_F(MainWindowTest, AListThatCannotBeSavedKeepsTheWindowOpen) {
    writeFile(listFile(), "");
    show();
    form().AddItem("/new/");
    form().ListModified = true;
    fs::remove(listFile());
    fs::create_directory(listFile());  // a folder in the list file's place cannot be replaced
    boxes.answers = {Answer::Yes};
    EXPECT_FALSE(form().close());
    ASSERT_EQ(boxes.asked.size(), 2u);
    EXPECT_EQ(boxes.asked[1], (msgbox::Request{"Cannot create file " + listFile().string() + ".", "Marvane Folvio",
                                               msgbox::Buttons::Ok, msgbox::Icon::Stop}));
    EXPECT_TRUE(form().ListModified);
    EXPECT_EQ(form().ItemCount(), 1);
    fs::remove(listFile());
    boxes.answers = {Answer::No};
    EXPECT_TRUE(form().close());
}

TEST_F(MainWindowTest, ExitEndsTheProgramWithoutAQuestion) {
    writeFile(listFile(), "");
    show();
    form().AddItem("/unsaved/");
    form().ListModified = true;
    QTimer::singleShot(0, [&] { form().Exit1->trigger(); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(boxes.asked.empty());
    EXPECT_EQ(readFile(listFile()), "");
}

TEST_F(MainWindowTest, AnUnwritableProgramFolderMovesTheListToThePerUserFolder) {
    const fs::path perUser = dir / "config" / "marvane" / "folvio" / "data.mvo";
    form().AppDir = (dir / "not-there").string() + "/";
    EXPECT_EQ(form().ListFilePath(), perUser.string());
    form().AddItem("/a/");
    form().Button1Click();
    EXPECT_EQ(readFile(perUser), "/a/\r\n");
    form().Button2Click();
    EXPECT_EQ(items(), Lines{"/a/"});
}

// Receives the addresses the desktop is asked to open.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

TEST_F(MainWindowTest, TheHeaderLinkOpensTheReadme) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    form().Label6Click();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_TRUE(catcher.urls[0].isLocalFile());
    EXPECT_TRUE(catcher.urls[0].toLocalFile().endsWith("/README.md")) << catcher.urls[0].toString().toStdString();
    EXPECT_TRUE(fs::is_regular_file(catcher.urls[0].toLocalFile().toStdString())) << "the README lies beside the program";
    EXPECT_EQ(form().Label6->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(MainWindowTest, SetRunningSwapsStartForCancelAndLocksTheInputs) {
    writeFile(listFile(), "");
    show();
    form().SetRunning(true);
    EXPECT_TRUE(form().RunBusy);
    EXPECT_FALSE(form().SpeedButton5->isVisible());
    EXPECT_TRUE(form().SpeedButton3->isVisible());
    for (QWidget* w : std::initializer_list<QWidget*>{form().SpeedButton1, form().SpeedButton2, form().SpeedButton4,
                                                      form().CheckBox1, form().CheckBox2, form().CheckBox3,
                                                      form().CheckBox4, form().CheckBox5})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(form().CheckListBox1->isEnabled()) << "check marks stay clickable during a run";
    form().SetRunning(false);
    EXPECT_FALSE(form().RunBusy);
    EXPECT_TRUE(form().SpeedButton5->isVisible());
    EXPECT_FALSE(form().SpeedButton3->isVisible());
    EXPECT_TRUE(form().CheckBox4->isEnabled());
}

}  // namespace

#include "form1_test.moc"

namespace {

// How far apart two colours are in lightness: text needs about half the range to be read.
int contrast(const QColor& a, const QColor& b) { return std::abs(a.lightness() - b.lightness()); }

// The application's palette replaced for the lifetime of the object.
struct AppPalette {
    explicit AppPalette(const QPalette& p) : previous(QApplication::palette()) { QApplication::setPalette(p); }
    ~AppPalette() { QApplication::setPalette(previous); }
    QPalette previous;
};

}  // namespace

TEST_F(MainWindowTest, OnADarkPaletteEveryColourTheDesignLeavesOpenFollowsItAndTheFixedOnesStay) {
    const QPalette dark = screenshots::DarkPalette();
    struct Case {
        const char* what;
        bool darkBeforeTheWindow;  // else the desktop turns dark while the window is open
    };
    for (const Case& c : {Case{"dark from the start", true}, Case{"dark after the start", false}}) {
        SCOPED_TRACE(c.what);
        restart();
        std::optional<AppPalette> palette;
        if (c.darkBeforeTheWindow) palette.emplace(dark);
        show();
        if (!c.darkBeforeTheWindow) palette.emplace(dark);
        QApplication::processEvents();
        TForm1& f = form();
        const QColor band = f.Panel1->palette().color(QPalette::Window);
        EXPECT_LT(band.lightness(), 128) << "the header band is dark";
        EXPECT_GE(contrast(f.Label1->palette().color(QPalette::WindowText), band), 120);
        EXPECT_GE(contrast(f.Label6->palette().color(QPalette::WindowText), band), 100);
        EXPECT_GE(contrast(f.Edit1->palette().color(QPalette::Text), f.Edit1->palette().color(QPalette::Base)), 120);
        for (TGradientProgressBar* bar : {f.ProgressBar1, f.ProgressBar2}) {
            const QColor face = bar->palette().color(QPalette::Window);
            EXPECT_GE(contrast(bar->TextColor(), face), 120) << bar->objectName().toStdString() << " at rest";
            EXPECT_EQ(bar->BeginColor(), QColor(0, 0, 64)) << "the gradient stays";
            EXPECT_EQ(bar->EndColor(), QColor(0, 0, 160));
        }
        f.ZipWriter1TotalPercentDone(51);
        EXPECT_EQ(f.ProgressBar2->TextColor(), QColor(Qt::white)) << "white over the gradient, as the run sets it";
        f.ZipWriter1ZipComplete(1);
        EXPECT_GE(contrast(f.ProgressBar2->TextColor(), f.ProgressBar2->palette().color(QPalette::Window)), 120)
            << "the run's dark text is the palette's on a dark face";
    }
    // Back on a light palette the design's own colours return.
    QApplication::processEvents();
    TForm1& f = form();
    EXPECT_EQ(f.Panel1->palette().color(QPalette::Window), QColor(0xdd, 0xdd, 0xdd));
    EXPECT_EQ(f.Label1->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_EQ(f.Label6->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(f.ProgressBar1->TextColor(), QColor(Qt::black));
    EXPECT_EQ(f.ProgressBar2->TextColor(), QColor(Qt::black));
}
