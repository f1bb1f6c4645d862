// The shutdown countdown: its window, the count, the one request at zero, and every way to abort it.
#include "apptest.h"

#include "controls/gradientprogressbar.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sched.h>
#include <sys/resource.h>

namespace {

class CountdownTest : public apptest::WindowTest {
protected:
    // The main window shown with two folders, then the countdown shown from 60 as a run shows it.
    void showCountdown() {
        testsupport::writeFile(listFile(), "/a/\r\n/b/\r\n");
        show();
        form3().SecondsLeft = 60;
        form3().show();
        QApplication::processEvents();
    }
    std::string label() { return form3().Label3->text().toStdString(); }
};

TEST_F(CountdownTest, TheWindowIsTheFixedSystemShutdownDialog) {
    TForm3& f = form3();
    EXPECT_EQ(f.windowTitle(), "System Shutdown");
    EXPECT_EQ(f.size(), QSize(369, 210));
    EXPECT_TRUE(f.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(f.Button1->text(), "&Abort Shutdown");
    EXPECT_TRUE(f.Button1->isDefault());
    EXPECT_EQ(f.CountDownTimer->interval(), 1000);
    EXPECT_FALSE(f.CountDownTimer->isActive());
    EXPECT_EQ(f.ProgressBar1->Style(), TGradientProgressBar::sExRectangles);
    EXPECT_FALSE(f.ProgressBar1->ShowText());
    EXPECT_FALSE(f.isVisible());
}

TEST_F(CountdownTest, ItCountsDownOncePerTickAndAsksOnceAtZero) {
    showCountdown();
    TForm3& f = form3();
    EXPECT_EQ(label(), "Shutdown in 60 seconds.");
    EXPECT_EQ(f.ProgressBar1->Max(), 60);
    EXPECT_EQ(f.ProgressBar1->Position(), 0) << "the bar starts empty";
    EXPECT_TRUE(f.CountDownTimer->isActive());
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(form().isVisible()) << "the main window is hidden";

    for (int i = 0; i < 59; ++i) f.CountDownTimerTimer();
    EXPECT_EQ(label(), "Shutdown in 1 seconds.");
    EXPECT_EQ(f.ProgressBar1->Position(), 59);
    EXPECT_EQ(power.rightAsked + power.requests, 0);

    f.CountDownTimerTimer();
    EXPECT_EQ(label(), "Shutdown in 0 seconds.");
    EXPECT_EQ(f.ProgressBar1->Position(), 60);
    EXPECT_EQ(power.rightAsked, 1);
    EXPECT_EQ(power.requests, 1);

    // Should the machine stay on, the count goes on below zero without asking again.
    f.CountDownTimerTimer();
    EXPECT_EQ(label(), "Shutdown in -1 seconds.");
    EXPECT_EQ(power.requests, 1);
    EXPECT_TRUE(f.CountDownTimer->isActive());
}

TEST_F(CountdownTest, WithoutTheRightNothingIsRequested) {
    power.granted = false;
    showCountdown();
    form3().SecondsLeft = 1;
    form3().CountDownTimerTimer();
    EXPECT_EQ(power.rightAsked, 1);
    EXPECT_EQ(power.requests, 0);
    EXPECT_TRUE(form3().CountDownTimer->isActive()) << "the window stays and keeps counting";
    EXPECT_TRUE(form3().isVisible());
}

TEST_F(CountdownTest, TheTimerDrivesTheCount) {
    showCountdown();
    form3().CountDownTimer->setInterval(1);
    form3().SecondsLeft = 2;
    QTRY_COMPARE_WITH_TIMEOUT(power.requests, 1, 5000);
    EXPECT_LE(form3().SecondsLeft, 0);
}

TEST_F(CountdownTest, EveryWayToAbortStopsTheCountAndBringsTheMainWindowBack) {
    struct Case {
        const char* name;
        std::function<void(TForm3&)> abort;
    };
    const std::vector<Case> cases = {
        {"the button", [](TForm3& f) { f.Button1->click(); }},
        {"Enter", [](TForm3& f) { QTest::keyClick(&f, Qt::Key_Return); }},
        {"Esc", [](TForm3& f) { QTest::keyClick(&f, Qt::Key_Escape); }},
        {"Esc on the keypad", [](TForm3& f) { QTest::keyClick(&f, Qt::Key_Escape, Qt::KeypadModifier); }},
        {"the close box", [](TForm3& f) { f.close(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        showCountdown();
        for (int i = 0; i < 5; ++i) form3().CountDownTimerTimer();
        // Changes the main window made before the countdown are gone after it: the list is reloaded.
        form().SetItemChecked(0, false);
        form().AddItem("/unsaved/");
        form().ListModified = true;
        c.abort(form3());
        QApplication::processEvents();
        EXPECT_FALSE(form3().isVisible());
        EXPECT_FALSE(form3().CountDownTimer->isActive());
        EXPECT_EQ(form3().SecondsLeft, 55) << "left where it was";
        EXPECT_TRUE(form().isVisible());
        EXPECT_EQ(items(), (std::vector<std::string>{"/a/", "/b/"}));
        EXPECT_TRUE(form().ItemChecked(0) && form().ItemChecked(1));
        EXPECT_FALSE(form().ListModified);
        EXPECT_EQ(power.rightAsked + power.requests, 0);
    }
}

TEST_F(CountdownTest, AnAutoStartProgramStartsTheNextRunAfterAnAbort) {
    start({"-autostart"});
    showCountdown();
    EXPECT_TRUE(form().AutoStartTimer->isActive()) << "armed by the first showing";
    form().AutoStartTimer->stop();
    form3().Button1->click();
    EXPECT_TRUE(form().AutoStartTimer->isActive()) << "armed again by the showing after the countdown";
}

TEST_F(CountdownTest, TheRequestRaisesThePriorityNoFurtherThanAnOrdinaryProcessMay) {
    const int before = getpriority(PRIO_PROCESS, 0);
    form().Shutdown();
    EXPECT_EQ(power.rightAsked, 1);
    EXPECT_EQ(power.requests, 1);
    const int after = getpriority(PRIO_PROCESS, 0);
    EXPECT_LE(after, before);
    EXPECT_GE(after, std::min(before, platform::LowestUnprivilegedNice()));
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
}

}  // namespace
