// TForm3: the "System Shutdown" countdown window shown after a run when the machine is to be switched off.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QTimer;
class TForm1;
class TGradientProgressBar;

// Created at start and hidden; shown modelessly by a run that ends with the shutdown option on.
// Showing it hides the main window; closing it in any way shows the main window again.
class TForm3 : public QDialog {
    Q_OBJECT

public:
    explicit TForm3(QWidget* parent = nullptr);

    // The main window, which it hides and shows and which makes the shutdown request.
    TForm1* Form1 = nullptr;
    // Seconds left; set by the run before showing, one less each tick (it goes on below 0).
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
    // What a dialog does on Esc: here the abort, as Button1Click.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void bringToFront();
};
