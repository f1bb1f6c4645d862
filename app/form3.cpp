#include "app/form3.h"
#include "app/pictures.h"

#include "app/form1.h"
#include "app/msgbox.h"
#include "app/program.h"
#include "controls/gradientprogressbar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    setObjectName("Form3");
    setWindowTitle("System Shutdown");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    QFont uiFont = QApplication::font();
    uiFont.setPointSize(9);
    setFont(uiFont);
    setFixedSize(369, 210);

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(pictures::WarningPixmap(32));
    Image1->setGeometry(12, 12, 32, 32);

    auto wrapped = [this](const char* name, const char* text, int top, int height) {
        auto* l = new QLabel(text, this);
        l->setObjectName(name);
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setGeometry(56, top, 369 - 56 - 12, height);
        return l;
    };
    Label1 = wrapped("Label1",
                     "Windows will be shutdown in a few seconds. Please ensure that all applications had been "
                     "closed or no unsaved files open. Otherwise you might loose data.",
                     10, 60);
    Label2 = wrapped("Label2", "At this time you can abort the shutdown process by clicking on the appropriate button.",
                     74, 32);
    Label3 = wrapped("Label3", "Shutdown in 60 seconds.", 110, 18);
    QFont bold = Label3->font();
    bold.setBold(true);
    Label3->setFont(bold);

    ProgressBar1 = new TGradientProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->SetStyle(TGradientProgressBar::sExRectangles);
    ProgressBar1->SetBeginColor(Qt::black);
    ProgressBar1->SetEndColor(QColor(0, 0, 128));  // navy
    ProgressBar1->SetBevelOuter(TGradientProgressBar::bvLowered);
    ProgressBar1->SetShowText(false);
    ProgressBar1->SetMin(0);
    ProgressBar1->setGeometry(56, 132, 297, 17);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel1->setGeometry(12, 160, 369 - 24, 2);

    Button1 = new QPushButton("&Abort Shutdown", this);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);  // Enter aborts; so does Esc (reject)
    const int w = Button1->sizeHint().width() + 16;
    Button1->setGeometry((369 - w) / 2, 172, w, 28);

    CountDownTimer = new QTimer(this);
    CountDownTimer->setObjectName("CountDownTimer");
    CountDownTimer->setInterval(1000);

    connect(CountDownTimer, &QTimer::timeout, this, [this] { msgbox::Guarded([&] { CountDownTimerTimer(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { msgbox::Guarded([&] { Button1Click(); }); });
}

void TForm3::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) msgbox::Guarded([&] { FormShow(); });
}

void TForm3::closeEvent(QCloseEvent* event) {
    bool CanClose = true;
    if (!msgbox::Guarded([&] { FormCloseQuery(CanClose); })) CanClose = true;  // closing is never refused
    if (CanClose) event->accept();
    else event->ignore();
}

void TForm3::reject() {
    // Esc, in any of its forms, aborts like the button, where a dialog would only hide itself
    // without its close query and leave the count running behind a hidden main window.
    msgbox::Guarded([&] { Button1Click(); });
}

void TForm3::bringToFront() {
    // Where nothing is shown (no display) there is no front to bring the window to.
    if (IsInvisiblePlatform(QGuiApplication::platformName().toStdString())) return;
    raise();
    activateWindow();
}

void TForm3::FormShow() {
    ProgressBar1->SetMax(SecondsLeft);
    ProgressBar1->SetMin(0);
    UpdateCountdown();
    CountDownTimer->start();
    bringToFront();
    if (Form1) Form1->hide();
}

void TForm3::CountDownTimerTimer() {
    --SecondsLeft;
    UpdateCountdown();
    // Only the tick that reaches 0 asks; a refused request leaves the count running below 0.
    if (SecondsLeft == 0 && Form1) Form1->Shutdown();
    bringToFront();
}

void TForm3::Button1Click() {
    CountDownTimer->stop();
    close();
}

void TForm3::FormCloseQuery(bool& CanClose) {
    if (Form1) Form1->show();  // which reloads the list and the settings
    CountDownTimer->stop();
    CanClose = true;
}

void TForm3::UpdateCountdown() {
    ProgressBar1->SetPosition(ProgressBar1->Max() - SecondsLeft);
    Label3->setText("Shutdown in " + QString::number(SecondsLeft) + " seconds.");
}
