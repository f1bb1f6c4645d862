// TForm1: the main window, with the folder list, the destination and options, the progress display and the menu.
#pragma once

#include "backup/backuprun.h"
#include "components/kwbrfolder.h"
#include "components/kwhtml.h"
#include "components/kwkeey.h"
#include "components/kwreg.h"
#include "zip/zipwriter.h"

#include <QColor>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QTimer;
class QToolButton;
class TForm2;
class TForm3;
class TGradientProgressBar;
class TKwStatus;

// The window is 493 by 428 pixels and cannot be made smaller. Each handler's body may throw;
// the signal wiring runs it inside msgbox::Guarded, which shows the error box. Tests call the
// handlers directly and point AppDir at a folder of their own. The backup run itself is
// backup::Run; the window is its host: the folder list, the questions and the display.
class TForm1 : public QMainWindow, private backup::Host {
    Q_OBJECT

public:
    static constexpr int kDesignWidth = 493;
    static constexpr int kDesignHeight = 428;

    explicit TForm1(const QStringList& arguments = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // The other two windows, set by whoever creates the windows.
    TForm2* Form2 = nullptr;
    TForm3* Form3 = nullptr;

    // The folder list changed since it was last loaded (saving does not clear it).
    bool ListModified = false;
    // A backup run is in progress: closing is refused. Set and cleared by SetRunning.
    bool RunBusy = false;
    // True while FormShow puts the stored settings into the controls: the option handlers hold still.
    bool Loading = false;
    // Start a run after each showing (command line).
    bool AutoStart = false;
    // End the program after a run that ends normally (command line).
    bool AutoStartClose = false;
    // Nobody watches the window (no display): an automatic run with nothing to pack ends the program.
    bool Unattended = false;
    // The writer's process-messages step lets the event loop run at most once per this many
    // milliseconds of work, so that packing is not slowed down by it (0: at every call).
    int ProcessMessagesInterval = 20;

    // The program's folder, ending in "/"; the folder-list file lies there when it is writable.
    std::string AppDir;
    // The folder-list file's full path (AppDir, or the per-user folder when AppDir is read-only).
    std::string ListFilePath() const;
    // Where the header's link leads: the project's README beside the program, until there is a home page.
    std::string HomeAddress() const;

    // Components.
    TKwReg KwReg1{"Marvane", "Folvio"};
    TKwKeey KwKeey1;
    TKwBrFolder KwBrFolder1;
    TKwHTML KwHTML1;
    TZipWriter ZipWriter1;
    // The backup run on ZipWriter1, with this window as its host; RunCancelled is its Cancelled().
    backup::Run BackupRun{ZipWriter1, *this};

    // Header.
    QFrame* Panel1;
    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label6;
    // Folder list.
    QFrame* Panel2;
    QListWidget* CheckListBox1;
    QToolButton* SpeedButton1;  // "&Add Folder"
    QToolButton* SpeedButton2;  // "&Remove Folder"
    QPushButton* Button1;       // hidden "save"
    QPushButton* Button2;       // hidden "load"
    QListWidget* FileListBox1;  // hidden; lists the destination's files for a run
    std::vector<std::string> Memo1;  // the line buffer of the list file
    // Destination and options.
    QFrame* Panel3;
    QLabel* Label2;
    QLineEdit* Edit1;
    QToolButton* SpeedButton4;  // "&Browse ..."
    QCheckBox* CheckBox1;       // delete the destination's files first: "DeleteFiles"
    QCheckBox* CheckBox2;       // password: "Password"
    QCheckBox* CheckBox3;       // switch off when done: "AutoShutdown"
    QCheckBox* CheckBox4;       // dated archive names: "AutoName"
    QCheckBox* CheckBox5;       // maximum compression: "PackLevel" ("9", or "10" for the maximum)
    // Progress.
    QFrame* Panel4;
    QLabel* Label3;
    QLineEdit* Edit2;
    TGradientProgressBar* ProgressBar2;
    QToolButton* SpeedButton5;  // "&Start ZIP"
    QToolButton* SpeedButton3;  // "&Cancel", in SpeedButton5's place while running
    QLabel* Label4;
    TGradientProgressBar* ProgressBar1;
    // Frame.
    TKwStatus* KwStatus1;
    QMenuBar* MainMenu1;
    QMenu* File1;
    // "Verify Archives After Writing": "VerifyArchives" ("1"/"0"; on unless "0" is stored).
    QAction* VerifyArchives1;
    // "Reuse Unchanged Files (faster runs)": "Incremental" ("1"/"0"; on unless "0" is stored).
    QAction* Incremental1;
    QAction* Exit1;
    QTimer* AutoStartTimer;

    // The folder list's items: texts kept byte for byte, check marks, the selected item (-1: none).
    int ItemCount() const;
    std::string ItemText(int index) const;
    bool ItemChecked(int index) const;
    void SetItemChecked(int index, bool checked);
    void AddItem(const std::string& text);
    int ItemIndex() const;
    void SetItemIndex(int index);

    // Handlers.
    void FormCreate(const QStringList& arguments);
    void FormShow();
    void FormCloseQuery(bool& CanClose);
    void Exit1Click();
    void VerifyArchives1Click();
    void Incremental1Click();
    void Panel4Resize();
    void Label6Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void Button1Click();
    void Button2Click();
    void SpeedButton4Click();
    void CheckBox1Click();
    void CheckBox2Click();
    void CheckBox3Click();
    void CheckBox4Click();
    void CheckBox5Click();
    void AutoStartTimerTimer();
    void SpeedButton5Click();
    void SpeedButton3Click();
    void ZipWriter1TotalPercentDone(int Percent);
    void ZipWriter1ZipComplete(int64_t FileCount);
    // The writer's process-messages step: runs the event loop (throttled, see ProcessMessagesInterval).
    void ProcessMessages();
    // Asks the system to switch the machine off; nothing happens unless the right is granted.
    void Shutdown();
    // The destination folder as shown in Edit1, byte for byte.
    std::string Destination() const;
    void SetDestination(const std::string& folder);
    // The writer's PackLevel for every folder of a run: 9, or the maximum level when CheckBox5 is checked.
    int PackLevel() const;
    // The bars' text colour that the design calls black: black, or on a dark desktop palette the
    // palette's text colour, so that it can be read on the bar's face. White stays white.
    QColor BarTextColor() const;
    // Switches between the idle and the running state of the window.
    void SetRunning(bool running) override;
    // The folder list's save question, asked only when the list changed: Yes saves, No goes on
    // without saving, Cancel stops. True when the action that asked may go on.
    bool SaveQuestion();

protected:
    void showEvent(QShowEvent* event) override;
    // A change of the desktop's palette recolours what the design leaves to it.
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Anchors;
    // Starts the anchors of a panel's children, applied whenever the panel changes size.
    Anchors& anchorsOf(QFrame* panel, QSize design);
    void buildHeader();
    void buildFolderList();
    void buildOptions();
    void buildProgress();
    void connectHandlers();
    // The colours that follow the desktop palette: the header's band, text and link on a dark
    // desktop, the read-only edit's face, the bars' dark text. The design's own on a light one.
    void applyPalette();
    // The run with the options of the controls, then the countdown and the auto-close of a completed one.
    backup::RunEnd backupRun();
    // The registry value "Threads": the files packed at a time, 0 (also missing or unreadable) for all cores.
    unsigned StoredThreads();

    // What the run asks of its host.
    int FolderCount() override;
    bool FolderChecked(int index) override;
    std::string FolderText(int index) override;
    bool MayStart() override;
    void DestinationListed(const std::vector<std::string>& names) override;
    backup::Answer DeletionQuestion(const std::string& text) override;
    void RunStarted(int checkedCount) override;
    void FolderStarted(int done, const std::string& archiveName) override;
    std::string Password() override;
    void Report(const std::string& line) override;
    void FolderPacked(const backup::FolderResult& result) override;
    void RunEnded() override;

    QElapsedTimer messagesClock_;

    std::map<const QObject*, std::unique_ptr<Anchors>> anchors_;
};
