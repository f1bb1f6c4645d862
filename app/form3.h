// TForm3: the "System Shutdown" countdown window shown after a run when the machine is to be switched off.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QTimer;
class TGradientProgressBar;

// Created at start and hidden; the countdown work fills its handlers.
class TForm3 : public QDialog {
    Q_OBJECT

public:
    explicit TForm3(QWidget* parent = nullptr);

    int SecondsLeft = 0;

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;  // "Shutdown in <n> seconds."
    TGradientProgressBar* ProgressBar1;
    QFrame* Bevel1;
    QPushButton* Button1;  // "&Abort Shutdown": default button and Esc
    QTimer* CountDownTimer;

    void FormShow();
    void CountDownTimerTimer();
    void Button1Click();
    void FormCloseQuery(bool& CanClose);
    void UpdateCountdown();
};
