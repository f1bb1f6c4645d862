#include "app/form1.h"

#include "app/folderlistfile.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/installlayout.h"
#include "app/msgbox.h"
#include "app/pictures.h"
#include "app/program.h"
#include "components/kwstatus.h"
#include "controls/gradientprogressbar.h"
#include "platform/filesystem.h"
#include "platform/shutdown.h"
#include "zip/aescipher.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

constexpr char kFolderDialogTitle[] = "Browser for the folder you want to be backed up";
constexpr char kConfirmation[] = "Confirmation";
// The stored "PackLevel" texts: level 9, and the maximum level. Any other text is level 9.
constexpr char kDefaultPackLevel[] = "9";
constexpr char kMaximumPackLevel[] = "10";
// The stored "Encryption" texts: AES-256, and the traditional ZIP cipher (also when none is stored).
constexpr char kEncryptionAes[] = "aes";
constexpr char kEncryptionTraditional[] = "zip";

QFrame* panel(QWidget* parent, const char* name, int height) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(name);
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    if (height > 0) frame->setFixedHeight(height);
    return frame;
}

template <class W>
W* control(QWidget* parent, const char* name) {
    auto* w = new W(parent);
    w->setObjectName(name);
    return w;
}

QLabel* label(QWidget* parent, const char* name, const char* caption) {
    auto* l = control<QLabel>(parent, name);
    l->setText(caption);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

QToolButton* speedButton(QWidget* parent, const char* name, const char* caption, const QIcon& icon) {
    auto* b = control<QToolButton>(parent, name);
    b->setText(caption);
    b->setIcon(icon);
    b->setAutoRaise(true);  // flat until the mouse is over it
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setIconSize(QSize(16, 16));
    return b;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const char* caption) {
    auto* c = control<QCheckBox>(parent, name);
    c->setText(caption);
    return c;
}

QLineEdit* readOnlyEdit(QWidget* parent, const char* name) {
    auto* e = control<QLineEdit>(parent, name);
    e->setReadOnly(true);
    return e;
}

TGradientProgressBar* progressBar(QWidget* parent, const char* name) {
    auto* bar = control<TGradientProgressBar>(parent, name);
    bar->SetStyle(TGradientProgressBar::sExSolid);
    bar->SetBeginColor(QColor(0, 0, 64));   // dark blue
    bar->SetEndColor(QColor(0, 0, 160));    // blue
    bar->SetBevelOuter(TGradientProgressBar::bvLowered);
    bar->SetBarBevelOuter(TGradientProgressBar::bvNone);
    bar->SetMin(0);
    bar->SetMax(100);
    bar->SetStep(10);
    bar->SetShowText(true);
    bar->SetShowTextStyle(TGradientProgressBar::stsPercent);
    QFont bold = bar->font();
    bold.setBold(true);
    bar->setFont(bold);
    bar->SetTextColor(Qt::black);
    return bar;
}

int textWidth(const QWidget* w, const QString& text) { return w->fontMetrics().horizontalAdvance(text); }

std::string withSlash(std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

QString fromBytes(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// Sets the flag back to false on every way out of a scope.
struct ClearOnExit {
    bool& flag;
    ~ClearOnExit() { flag = false; }
};

}  // namespace

// Each child's place in its panel at the panel's design size, and the panel edges it keeps its
// distance to: left and right (or top and bottom) together stretch it, one alone moves it.
class TForm1::Anchors {
public:
    explicit Anchors(QSize design) : design_(design) {}
    void add(QWidget* w, QRect r, Qt::Edges edges = Qt::LeftEdge | Qt::TopEdge) {
        w->setGeometry(r);
        items_.push_back({w, r, edges});
    }
    void apply(QSize now) const {
        const int dx = now.width() - design_.width(), dy = now.height() - design_.height();
        for (const Item& item : items_) {
            QRect r = item.design;
            if (item.edges & Qt::RightEdge) {
                if (item.edges & Qt::LeftEdge) r.setWidth(r.width() + dx);
                else r.moveLeft(r.left() + dx);
            }
            if (item.edges & Qt::BottomEdge) {
                if (item.edges & Qt::TopEdge) r.setHeight(r.height() + dy);
                else r.moveTop(r.top() + dy);
            }
            item.widget->setGeometry(r);
        }
    }

private:
    struct Item {
        QWidget* widget;
        QRect design;
        Qt::Edges edges;
    };
    QSize design_;
    std::vector<Item> items_;
};

TForm1::Anchors& TForm1::anchorsOf(QFrame* panel, QSize design) {
    auto& slot = anchors_[panel];
    slot = std::make_unique<Anchors>(design);
    panel->installEventFilter(this);
    return *slot;
}

TForm1::TForm1(const QStringList& arguments, QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form1");
    setWindowTitle("Marvane Folvio 2.0");
    setWindowIcon(pictures::ProgramIcon());
    QFont uiFont = QApplication::font();  // the desktop's UI face at the size the layout was made for
    uiFont.setPointSize(9);
    setFont(uiFont);

    AppDir = folderlist::ProgramDir();
    ZipWriter1.OnTotalPercentDone = [this](TZipReader*, int Percent) { ZipWriter1TotalPercentDone(Percent); };
    ZipWriter1.OnZipComplete = [this](TZipReader*, int64_t FileCount) { ZipWriter1ZipComplete(FileCount); };
    ZipWriter1.ProcessMessages = [this] { ProcessMessages(); };
    KwKeey1.SetProgrammID(11);
    KwKeey1.Schluessel = "vantorel";

    MainMenu1 = menuBar();
    MainMenu1->setObjectName("MainMenu1");
    File1 = MainMenu1->addMenu("File");
    File1->setObjectName("File1");
    VerifyArchives1 = File1->addAction("Verify Archives After Writing");
    VerifyArchives1->setObjectName("VerifyArchives1");
    VerifyArchives1->setCheckable(true);
    VerifyArchives1->setChecked(true);
    Incremental1 = File1->addAction("Reuse Unchanged Files (faster runs)");
    Incremental1->setObjectName("Incremental1");
    Incremental1->setCheckable(true);
    Incremental1->setChecked(true);
    File1->addSeparator();
    Exit1 = File1->addAction("Exit");
    Exit1->setObjectName("Exit1");

    auto* central = new QWidget(this);
    central->setObjectName("Client");
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(central);
    buildHeader();
    buildFolderList();
    buildOptions();
    buildProgress();
    column->addWidget(Panel1);
    column->addWidget(Panel2, 1);
    column->addWidget(Panel3);
    column->addWidget(Panel4);

    KwStatus1 = new TKwStatus(this);
    KwStatus1->setObjectName("KwStatus1");
    setStatusBar(KwStatus1);

    AutoStartTimer = new QTimer(this);
    AutoStartTimer->setObjectName("AutoStartTimer");
    AutoStartTimer->setInterval(500);

    connectHandlers();
    applyPalette();
    setMinimumSize(kDesignWidth, kDesignHeight);
    resize(kDesignWidth, kDesignHeight);
    move(276, 158);
    msgbox::Guarded([&] { FormCreate(arguments); });
}

TForm1::~TForm1() = default;

void TForm1::buildHeader() {
    Panel1 = panel(this, "Panel1", 41);
    Panel1->setAutoFillBackground(true);  // its colours: applyPalette
    Anchors& a = anchorsOf(Panel1, {kDesignWidth, 41});

    Image1 = control<QLabel>(Panel1, "Image1");
    Image1->setPixmap(pictures::ProgramPixmap(32));
    a.add(Image1, {6, 4, 32, 32});

    Label1 = label(Panel1, "Label1", "Marvane Folvio 2.0");
    QFont heading("Arial", 16, QFont::Bold);  // Liberation Sans where Arial is missing: the same metrics
    Label1->setFont(heading);
    a.add(Label1, {46, 1, textWidth(Label1, Label1->text()) + 4, 38});

    Label6 = label(Panel1, "Label6", "Read me");
    QFont link = font();
    link.setUnderline(true);
    Label6->setFont(link);
    Label6->setCursor(Qt::PointingHandCursor);
    Label6->setToolTip(fromBytes(HomeAddress()));
    const int w6 = textWidth(Label6, Label6->text()) + 2;
    a.add(Label6, {kDesignWidth - 10 - w6, 12, w6, 17}, Qt::TopEdge | Qt::RightEdge);
}

namespace {

// A desktop palette whose windows are darker than their text.
bool isDark(const QPalette& p) { return p.color(QPalette::Window).lightness() < p.color(QPalette::WindowText).lightness(); }

int contrast(const QColor& a, const QColor& b) { return std::abs(a.lightness() - b.lightness()); }

}  // namespace

QColor TForm1::BarTextColor() const { return isDark(palette()) ? palette().color(QPalette::WindowText) : QColor(Qt::black); }

void TForm1::applyPalette() {
    const QPalette desktop = palette();
    const bool dark = isDark(desktop);
    // The header's light grey band with navy text and the blue link, on a light desktop; a dark
    // one gets a band a shade lighter than its windows, with their text and its link colour.
    QPalette header = desktop;
    const QColor band = dark ? desktop.color(QPalette::Window).lighter(140) : QColor(0xdd, 0xdd, 0xdd);
    header.setColor(QPalette::Window, band);
    header.setColor(QPalette::WindowText, dark ? desktop.color(QPalette::WindowText) : QColor(0, 0, 128));
    Panel1->setPalette(header);
    QPalette link = desktop;
    QColor linkColour = dark ? desktop.color(QPalette::Link) : QColor(0, 0, 255);
    if (dark && contrast(linkColour, band) < 100) linkColour = desktop.color(QPalette::WindowText);
    link.setColor(QPalette::WindowText, linkColour);
    Label6->setPalette(link);
    QPalette face = desktop;
    face.setColor(QPalette::Base, desktop.color(QPalette::Button));  // read-only: the button face, not white
    Edit1->setPalette(face);
    // The bars' text stays white where the run made it white (over the gradient).
    for (TGradientProgressBar* bar : {ProgressBar1, ProgressBar2})
        if (bar->TextColor() != QColor(Qt::white)) bar->SetTextColor(BarTextColor());
}

void TForm1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) applyPalette();
}

void TForm1::buildFolderList() {
    constexpr int h = 120;
    Panel2 = panel(this, "Panel2", 0);
    Anchors& a = anchorsOf(Panel2, {kDesignWidth, h});

    CheckListBox1 = control<QListWidget>(Panel2, "CheckListBox1");
    CheckListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    a.add(CheckListBox1, {8, 8, kDesignWidth - 16, h - 8 - 26 - 12},
          Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge);

    SpeedButton1 = speedButton(Panel2, "SpeedButton1", "&Add Folder", pictures::AddFolderIcon());
    SpeedButton2 = speedButton(Panel2, "SpeedButton2", "&Remove Folder", pictures::RemoveFolderIcon());
    const int w2 = SpeedButton2->sizeHint().width() + 8, w1 = SpeedButton1->sizeHint().width() + 8;
    const int x2 = kDesignWidth - 8 - w2;
    a.add(SpeedButton2, {x2, h - 8 - 26, w2, 26}, Qt::RightEdge | Qt::BottomEdge);
    a.add(SpeedButton1, {x2 - 4 - w1, h - 8 - 26, w1, 26}, Qt::RightEdge | Qt::BottomEdge);

    Button1 = control<QPushButton>(Panel2, "Button1");
    Button1->setText("save");
    Button1->hide();
    Button2 = control<QPushButton>(Panel2, "Button2");
    Button2->setText("load");
    Button2->hide();
    FileListBox1 = control<QListWidget>(Panel2, "FileListBox1");
    FileListBox1->hide();
}

void TForm1::buildOptions() {
    constexpr int h = 131;
    Panel3 = panel(this, "Panel3", h);
    Anchors& a = anchorsOf(Panel3, {kDesignWidth, h});

    Label2 = label(Panel3, "Label2", "Destination Folder :");
    const int labelWidth = textWidth(Label2, Label2->text()) + 2;
    a.add(Label2, {8, 9, labelWidth, 24});

    SpeedButton4 = speedButton(Panel3, "SpeedButton4", "&Browse ...", pictures::BrowseIcon());
    const int wb = SpeedButton4->sizeHint().width() + 8;
    a.add(SpeedButton4, {kDesignWidth - 8 - wb, 8, wb, 26}, Qt::TopEdge | Qt::RightEdge);

    Edit1 = readOnlyEdit(Panel3, "Edit1");
    const int x1 = 8 + labelWidth + 6;
    a.add(Edit1, {x1, 9, kDesignWidth - 8 - wb - 6 - x1, 24}, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge);

    CheckBox1 = checkBox(Panel3, "CheckBox1", "&Delete ALL Files before ZIPPING");
    CheckBox2 = checkBox(Panel3, "CheckBox2", "Use &Password");
    CheckBox3 = checkBox(Panel3, "CheckBox3", "Shutdown &Windows when done");
    CheckBox4 = checkBox(Panel3, "CheckBox4", "Autoname Files with &Date  (including overwrite protection!)");
    int y = 41;
    for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4}) {
        a.add(box, {8, y, box->sizeHint().width() + 4, 20});
        y += 21;
    }
    // The compression option sits beside the short password option, in line with the destination.
    CheckBox5 = checkBox(Panel3, "CheckBox5", "Maximum Compression (smaller, slower)");
    const int x5 = std::max(x1, 8 + CheckBox2->sizeHint().width() + 4 + 16);
    a.add(CheckBox5, {x5, 62, CheckBox5->sizeHint().width() + 4, 20});
}

void TForm1::buildProgress() {
    constexpr int h = 71;
    Panel4 = panel(this, "Panel4", h);
    Anchors& a = anchorsOf(Panel4, {kDesignWidth, h});

    Label3 = label(Panel4, "Label3", "Current File :");
    Label4 = label(Panel4, "Label4", "Entire Process :");
    const int labels = std::max(textWidth(Label3, Label3->text()), textWidth(Label4, Label4->text())) + 2;
    a.add(Label3, {8, 8, labels, 24});
    a.add(Label4, {8, 40, labels, 21});

    // Both bars end where the buttons begin; Panel4Resize keeps their widths as the window changes.
    const int left = 8 + labels + 6;
    Edit2 = readOnlyEdit(Panel4, "Edit2");
    a.add(Edit2, {left, 8, 132, 24});
    ProgressBar2 = progressBar(Panel4, "ProgressBar2");
    ProgressBar2->setGeometry(left + 136, 9, kDesignWidth - 323, 21);
    ProgressBar1 = progressBar(Panel4, "ProgressBar1");
    ProgressBar1->setGeometry(left, 40, kDesignWidth - 187, 21);

    SpeedButton5 = speedButton(Panel4, "SpeedButton5", "&Start ZIP", pictures::StartIcon());
    SpeedButton3 = speedButton(Panel4, "SpeedButton3", "&Cancel", pictures::CancelIcon());
    const int bx = left + (kDesignWidth - 187) + 6;
    for (QToolButton* b : {SpeedButton5, SpeedButton3}) {
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setIconSize(QSize(24, 24));
        a.add(b, {bx, 8, kDesignWidth - 6 - bx, 53}, Qt::TopEdge | Qt::RightEdge);
    }
    SpeedButton3->hide();
}

void TForm1::connectHandlers() {
    auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
        connect(sender, signal, this, [this, handler] { msgbox::Guarded([&] { (this->*handler)(); }); });
    };
    on(SpeedButton1, &QToolButton::clicked, &TForm1::SpeedButton1Click);
    on(SpeedButton2, &QToolButton::clicked, &TForm1::SpeedButton2Click);
    on(SpeedButton3, &QToolButton::clicked, &TForm1::SpeedButton3Click);
    on(SpeedButton4, &QToolButton::clicked, &TForm1::SpeedButton4Click);
    on(SpeedButton5, &QToolButton::clicked, &TForm1::SpeedButton5Click);
    on(Button1, &QPushButton::clicked, &TForm1::Button1Click);
    on(Button2, &QPushButton::clicked, &TForm1::Button2Click);
    // A check box's handler runs whenever its state changes, by the user or by code.
    on(CheckBox1, &QCheckBox::toggled, &TForm1::CheckBox1Click);
    on(CheckBox2, &QCheckBox::toggled, &TForm1::CheckBox2Click);
    on(CheckBox3, &QCheckBox::toggled, &TForm1::CheckBox3Click);
    on(CheckBox4, &QCheckBox::toggled, &TForm1::CheckBox4Click);
    on(CheckBox5, &QCheckBox::toggled, &TForm1::CheckBox5Click);
    on(VerifyArchives1, &QAction::toggled, &TForm1::VerifyArchives1Click);
    on(Incremental1, &QAction::toggled, &TForm1::Incremental1Click);
    on(Exit1, &QAction::triggered, &TForm1::Exit1Click);
    on(AutoStartTimer, &QTimer::timeout, &TForm1::AutoStartTimerTimer);
    Label6->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (auto it = anchors_.find(watched); it != anchors_.end()) it->second->apply(static_cast<QWidget*>(watched)->size());
        if (watched == Panel4) msgbox::Guarded([&] { Panel4Resize(); });
    }
    if (watched == Label6 && event->type() == QEvent::MouseButtonRelease) msgbox::Guarded([&] { Label6Click(); });
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Restoring a minimised window is no new showing: the list and its unsaved changes stay.
    if (!event->spontaneous()) msgbox::Guarded([&] { FormShow(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
    bool CanClose = true;
    if (!msgbox::Guarded([&] { FormCloseQuery(CanClose); })) CanClose = false;
    if (CanClose) event->accept();
    else event->ignore();
}

std::string TForm1::ListFilePath() const { return folderlist::FilePath(AppDir); }

std::string TForm1::HomeAddress() const {
    const std::string programDir = TKwReg::AppDir();
    for (const std::string& candidate : {programDir + "README.md", installlayout::DocFile(programDir, "README.md")}) {
        const std::filesystem::path readme = candidate;
        std::error_code ec;
        if (platform::FileExists(readme.string())) return std::filesystem::weakly_canonical(readme, ec).string();
    }
    return programDir + "README.md";
}

// The folder list.

int TForm1::ItemCount() const { return CheckListBox1->count(); }

std::string TForm1::ItemText(int index) const {
    return CheckListBox1->item(index)->data(Qt::UserRole).toByteArray().toStdString();
}

bool TForm1::ItemChecked(int index) const { return CheckListBox1->item(index)->checkState() == Qt::Checked; }

void TForm1::SetItemChecked(int index, bool checked) {
    CheckListBox1->item(index)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void TForm1::AddItem(const std::string& text) {
    // The shown text may lose bytes that are no UTF-8; the item keeps them all.
    auto* item = new QListWidgetItem(fromBytes(text));
    item->setData(Qt::UserRole, QByteArray(text.data(), qsizetype(text.size())));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    CheckListBox1->addItem(item);
}

int TForm1::ItemIndex() const {
    const QList<QListWidgetItem*> selected = CheckListBox1->selectedItems();
    return selected.isEmpty() ? -1 : CheckListBox1->row(selected.first());
}

void TForm1::SetItemIndex(int index) {
    if (index < 0) CheckListBox1->clearSelection();
    else CheckListBox1->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

void TForm1::SpeedButton1Click() {
    const std::string path = KwBrFolder1.Execute("", kFolderDialogTitle, this);
    if (!platform::DirectoryExists(path)) return;
    AddItem(withSlash(path));
    ListModified = true;
}

void TForm1::SpeedButton2Click() {
    const int index = ItemIndex();
    if (index < 0) return;
    if (msgbox::Show("Do you really want to delete the folder from the list?", kConfirmation, msgbox::Buttons::YesNo,
                     msgbox::Icon::Question) != msgbox::Answer::Yes)
        return;
    delete CheckListBox1->takeItem(index);
    ListModified = true;
}

void TForm1::Button1Click() {
    Memo1.clear();
    for (int i = 0; i < ItemCount(); ++i) Memo1.push_back(ItemText(i));
    folderlist::Save(ListFilePath(), Memo1);
}

void TForm1::Button2Click() {
    Memo1.clear();
    Memo1 = folderlist::Load(ListFilePath());
    CheckListBox1->clear();
    for (const std::string& line : Memo1) AddItem(line);
}

bool TForm1::SaveQuestion() {
    if (!ListModified) return true;
    switch (msgbox::Show("Do you want to save the changes you made to the Folder-List?", kConfirmation,
                         msgbox::Buttons::YesNoCancel, msgbox::Icon::Question)) {
    case msgbox::Answer::Yes: Button1Click(); return true;
    case msgbox::Answer::No: return true;
    default: return false;
    }
}

// The options.

void TForm1::SpeedButton4Click() {
    const std::string path = KwBrFolder1.Execute(KwReg1.Pop("DestDir"), kFolderDialogTitle, this);
    if (!platform::DirectoryExists(path)) return;
    const std::string destination = withSlash(path);
    KwReg1.Push("DestDir", destination);
    SetDestination(destination);
}

std::string TForm1::Destination() const {
    // The edit shows the text; the bytes ride along, since a name need not be UTF-8.
    const QByteArray bytes = Edit1->property("bytes").toByteArray();
    if (fromBytes(bytes.toStdString()) == Edit1->text()) return bytes.toStdString();
    return Edit1->text().toStdString();
}

void TForm1::SetDestination(const std::string& folder) {
    Edit1->setProperty("bytes", QByteArray(folder.data(), qsizetype(folder.size())));
    Edit1->setText(fromBytes(folder));
}

void TForm1::CheckBox1Click() { KwReg1.PushCheckBox("DeleteFiles", CheckBox1); }

void TForm1::CheckBox2Click() {
    if (Loading) return;
    if (!CheckBox2->isChecked()) {
        KwReg1.Push("Password", "");
        return;
    }
    if (!Form2) throw std::logic_error("The password dialog is missing");
    // The choice made last time; a new one starts with the strong cipher.
    Form2->SetStrongEncryption(KwReg1.Pop("Encryption") != kEncryptionTraditional);
    Form2->exec();
    // Whatever the dialog's end, the plain password goes from memory once it is dealt with (it
    // is stored scrambled).
    struct Forget {
        TForm2& dialog;
        ~Forget() {
            aescipher::WipeText(dialog.NewPassword);
            dialog.Edit1->clear();
            dialog.Edit2->clear();
        }
    } forget{*Form2};
    if (Form2->PasswordCancelled || Form2->NewPassword.empty()) {
        KwReg1.Push("Password", "");
        CheckBox2->setChecked(false);
        return;
    }
    KwReg1.Push("Encryption", Form2->StrongEncryption() ? kEncryptionAes : kEncryptionTraditional);
    KwReg1.Push("Password", KwKeey1.Encode(Form2->NewPassword));
}

void TForm1::CheckBox3Click() {
    if (Loading) return;
    KwReg1.Push("AutoShutdown", CheckBox3->isChecked() ? "1" : "");
}

void TForm1::CheckBox4Click() {
    if (Loading) return;
    KwReg1.Push("AutoName", CheckBox4->isChecked() ? "1" : "");
}

void TForm1::CheckBox5Click() {
    if (Loading) return;
    KwReg1.Push("PackLevel", CheckBox5->isChecked() ? kMaximumPackLevel : kDefaultPackLevel);
}

void TForm1::VerifyArchives1Click() {
    if (Loading) return;
    KwReg1.Push("VerifyArchives", VerifyArchives1->isChecked() ? "1" : "0");
}

void TForm1::Incremental1Click() {
    if (Loading) return;
    KwReg1.Push("Incremental", Incremental1->isChecked() ? "1" : "0");
}

int TForm1::PackLevel() const { return CheckBox5->isChecked() ? maxdeflate::kLevel : 9; }

// Start-up and closing.

void TForm1::FormCreate(const QStringList& arguments) {
    const TSwitches switches = ReadSwitches(arguments.isEmpty() ? std::string() : arguments.first().toStdString());
    if (switches.AutoStart) AutoStart = true;
    if (switches.AutoStartClose) AutoStartClose = true;
}

void TForm1::FormShow() {
    Loading = true;
    // Loading ends however this handler is left, so a failing store cannot leave the options dead.
    const ClearOnExit endLoading{Loading};

    msgbox::Guarded([&] { Button2Click(); });  // a missing list is reported; the settings still load
    ListModified = false;
    for (int i = 0; i < ItemCount(); ++i) SetItemChecked(i, true);  // whatever the store holds
    // A store that cannot be read is reported and the auto-start still armed: the run then fails
    // on the same error, so that an unattended program ends instead of waiting for nobody.
    msgbox::Guarded([&] {
        SetDestination(KwReg1.Pop("DestDir"));
        CheckBox1->setChecked(KwReg1.PopCheckBox("DeleteFiles", false));
        CheckBox2->setChecked(!KwReg1.Pop("Password").empty());
        CheckBox3->setChecked(KwReg1.Pop("AutoShutdown") == "1");
        CheckBox4->setChecked(KwReg1.Pop("AutoName") == "1");
        CheckBox5->setChecked(KwReg1.Pop("PackLevel") == kMaximumPackLevel);
        VerifyArchives1->setChecked(KwReg1.Pop("VerifyArchives") != "0");
        Incremental1->setChecked(KwReg1.Pop("Incremental") != "0");
    });
    Loading = false;
    if (AutoStart) AutoStartTimer->start();
}

void TForm1::FormCloseQuery(bool& CanClose) {
    if (RunBusy) {
        CanClose = false;
        return;
    }
    CanClose = SaveQuestion();
}

void TForm1::Exit1Click() {
    // Leaves the main loop without asking the windows: no close query, no save question.
    QCoreApplication::exit(0);
}

void TForm1::Panel4Resize() {
    ProgressBar1->resize(Panel4->width() - 187, ProgressBar1->height());
    ProgressBar2->resize(Panel4->width() - 323, ProgressBar2->height());
}

void TForm1::Label6Click() { KwHTML1.CallExternUrl(HomeAddress()); }

void TForm1::AutoStartTimerTimer() {
    AutoStartTimer->stop();
    SpeedButton5Click();
}

// The backup run: backup::Run does the run's steps; the window gives it the folder list, asks
// its questions and shows where it stands.

void TForm1::SpeedButton5Click() {
    // Cancel shows "&Start ZIP" again while the cancelled run is still on its way out of the
    // writer; a click that arrives in between must not start a second run inside the first.
    if (BackupRun.Active()) return;
    if (!AutoStartClose) {
        backupRun();
        return;
    }
    // With an auto-close switch a run that ends in an error ends the program too, once its box
    // is closed; so does an unattended run with nothing to pack, which nobody could start again.
    backup::RunEnd end = backup::RunEnd::NotStarted;
    if (!msgbox::Guarded([&] { end = backupRun(); })) {
        QCoreApplication::exit(kExitRunFailed);
    } else if (end == backup::RunEnd::NotStarted && Unattended) {
        std::fprintf(stderr, "folvio: no folder is checked: nothing was backed up\n");
        QCoreApplication::exit(kExitRunFailed);
    }
}

unsigned TForm1::StoredThreads() {
    // "Threads" holds a number for machines that must stay responsive; anything else is all cores.
    const std::string value = KwReg1.Pop("Threads");
    if (value.empty() || value.size() > 2 || value.find_first_not_of("0123456789") != std::string::npos) return 0;
    return static_cast<unsigned>(std::stoi(value));
}

backup::RunEnd TForm1::backupRun() {
    // A store that cannot be read (a damaged hive) fails the run by its own error, not by the
    // empty settings it left in the window.
    KwReg1.Pop("DestDir");
    // The cipher is the stored choice; none stored (settings of before the choice) is the traditional one.
    const bool aes = KwReg1.Pop("Encryption") == kEncryptionAes;
    const backup::RunEnd end = BackupRun.Execute({Destination(), CheckBox1->isChecked(), CheckBox4->isChecked(),
                                                  PackLevel(), VerifyArchives1->isChecked(), aes,
                                                  Incremental1->isChecked(), StoredThreads()});
    if (end != backup::RunEnd::Completed) return end;
    if (KwReg1.Pop("AutoShutdown") == "1" && Form3) {
        Form3->SecondsLeft = 60;
        Form3->show();
    }
    // The program ends once this handler has returned, before the countdown can run.
    if (AutoStartClose) QCoreApplication::exit(kExitDone);
    return end;
}

int TForm1::FolderCount() { return ItemCount(); }

bool TForm1::FolderChecked(int index) { return ItemChecked(index); }

std::string TForm1::FolderText(int index) { return ItemText(index); }

// The save question comes only with the shutdown option: the list is saved before the machine goes off.
bool TForm1::MayStart() { return !CheckBox3->isChecked() || SaveQuestion(); }

void TForm1::DestinationListed(const std::vector<std::string>& names) {
    FileListBox1->clear();
    for (const std::string& name : names) FileListBox1->addItem(fromBytes(name));
}

backup::Answer TForm1::DeletionQuestion(const std::string& text) {
    switch (msgbox::Show(text, kConfirmation, msgbox::Buttons::YesNoCancel, msgbox::Icon::Exclamation)) {
    case msgbox::Answer::Yes: return backup::Answer::Yes;
    case msgbox::Answer::No: return backup::Answer::No;
    default: return backup::Answer::Cancel;
    }
}

void TForm1::RunStarted(int checkedCount) {
    ProgressBar1->SetMax(checkedCount);
    ProgressBar1->SetTextColor(ItemCount() / 2 < checkedCount ? QColor(Qt::white) : BarTextColor());
}

void TForm1::FolderStarted(int done, const std::string& archiveName) {
    ProgressBar1->SetPosition(done);
    Edit2->setText(fromBytes(archiveName));
}

std::string TForm1::Password() { return KwKeey1.Decode(KwReg1.Pop("Password")); }

void TForm1::Report(const std::string& line) { std::fprintf(stderr, "folvio: %s\n", line.c_str()); }

void TForm1::FolderPacked(const backup::FolderResult& result) { SetItemChecked(result.index, false); }

void TForm1::RunEnded() {
    ProgressBar1->SetPosition(0);
    Edit2->clear();
}

void TForm1::SpeedButton3Click() {
    BackupRun.Cancel();  // the writer's CancelTheOperation, and the run's own cancel flag
    SetRunning(false);
    Edit2->clear();
    ProgressBar1->SetTextColor(BarTextColor());
    ProgressBar2->SetTextColor(BarTextColor());
    ProgressBar1->SetPosition(0);
    ProgressBar2->SetPosition(0);
}

void TForm1::ZipWriter1TotalPercentDone(int Percent) {
    ProgressBar2->SetPosition(Percent);
    ProgressBar2->SetTextColor(Percent > 50 ? QColor(Qt::white) : BarTextColor());
}

void TForm1::ZipWriter1ZipComplete(int64_t FileCount) {
    static_cast<void>(FileCount);
    ProgressBar1->SetTextColor(BarTextColor());
    ProgressBar2->SetTextColor(BarTextColor());
    Edit2->clear();
    ProgressBar2->SetPosition(0);
}

void TForm1::ProcessMessages() {
    // Reading the clock costs next to nothing; running the event loop at every block would not.
    if (messagesClock_.isValid() && messagesClock_.elapsed() < ProcessMessagesInterval) return;
    QApplication::processEvents();
    messagesClock_.start();
}

void TForm1::Shutdown() {
    platform::RaiseOwnPriority();
    platform::PowerControl& power = platform::powerControl();
    if (power.CanPowerOff()) power.PowerOff();
}

void TForm1::SetRunning(bool running) {
    RunBusy = running;
    SpeedButton5->setVisible(!running);
    SpeedButton3->setVisible(running);
    for (QWidget* w : std::initializer_list<QWidget*>{SpeedButton1, SpeedButton2, SpeedButton4, CheckBox1, CheckBox2,
                                                      CheckBox3, CheckBox4, CheckBox5})
        w->setEnabled(!running);
}
