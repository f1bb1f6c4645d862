#include "app/form3.h"

#include "controls/gradientprogressbar.h"

#include <QApplication>
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
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
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
    Button1->setDefault(true);  // Enter aborts; Esc closes the dialog, which aborts too
    const int w = Button1->sizeHint().width() + 16;
    Button1->setGeometry((369 - w) / 2, 172, w, 28);

    CountDownTimer = new QTimer(this);
    CountDownTimer->setObjectName("CountDownTimer");
    CountDownTimer->setInterval(1000);
}

// The countdown work fills these: start, tick, abort, close and the display of SecondsLeft.

void TForm3::FormShow() {}

void TForm3::CountDownTimerTimer() {}

void TForm3::Button1Click() {}

void TForm3::FormCloseQuery(bool& CanClose) { CanClose = true; }

void TForm3::UpdateCountdown() {}
