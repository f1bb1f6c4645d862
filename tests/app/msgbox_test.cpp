#include "app/msgbox.h"

#include "apptest.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

#include <functional>
#include <stdexcept>

namespace {

TEST(MsgBox, ErrorTextAppendsAPeriodAfterCharactersThatSortAfterIt) {
    struct Case {
        std::string message, shown;
    };
    const std::vector<Case> cases = {
        {"User Aborted Operation", "User Aborted Operation."},
        {"Cannot open file /x/data.mvo.", "Cannot open file /x/data.mvo."},
        {"Failed to set data for 'Password'", "Failed to set data for 'Password'"},  // ' sorts before .
        {"Disk full!", "Disk full!"},
        {"Code 5", "Code 5."},
        {"Ordner \xc3\xa4", "Ordner \xc3\xa4."},  // a byte above 127 sorts after the period
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(msgbox::ErrorText(c.message), c.shown) << c.message;
}

TEST(MsgBox, GuardedShowsTheErrorBoxAndSkipsTheRest) {
    apptest::ScriptedBoxes boxes;
    bool rest = false;
    EXPECT_FALSE(msgbox::Guarded([&] {
        throw std::runtime_error("User Aborted Operation");
        rest = true;
    }));
    EXPECT_FALSE(rest);
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0], (msgbox::Request{"User Aborted Operation.", "Marvane Folvio", msgbox::Buttons::Ok,
                                               msgbox::Icon::Stop}));
    EXPECT_TRUE(msgbox::Guarded([] {}));
    EXPECT_EQ(boxes.asked.size(), 1u) << "no box without an error";
}

TEST(MsgBox, WithoutADisplayEveryBoxGoesToStderrAndTakesItsDefaultButton) {
    using msgbox::Answer;
    using msgbox::Buttons;
    struct Case {
        Buttons buttons;
        Answer answer;
        const char* line;
    };
    const std::vector<Case> cases = {
        {Buttons::YesNoCancel, Answer::Yes, "folvio: Confirmation: Delete? [answered Yes]\n"},
        {Buttons::YesNo, Answer::Yes, "folvio: Confirmation: Delete? [answered Yes]\n"},
        {Buttons::Ok, Answer::Ok, "folvio: Confirmation: Delete?\n"},
    };
    msgbox::Handler previous = msgbox::SetHandler(msgbox::AnswerOnStandardError);
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        const Answer answer = msgbox::Show("Delete?", "Confirmation", c.buttons, msgbox::Icon::Exclamation);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(answer, msgbox::DefaultAnswer(c.buttons));
    }
    testing::internal::CaptureStderr();
    msgbox::ShowError("User Aborted Operation");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "folvio: Marvane Folvio: User Aborted Operation.\n");
    msgbox::SetHandler(previous);
}

// Shows a real box and acts on it once it is open: `press` names the button, or "Esc".
msgbox::Answer answerRealBox(msgbox::Buttons buttons, const QString& press, QMessageBox::Icon* icon, QString* title) {
    const testsupport::OnModalDialog<QMessageBox> answer([&](QMessageBox& box) {
        *icon = box.icon();
        *title = box.windowTitle();
        if (press == "Esc") {
            QTest::keyClick(&box, Qt::Key_Escape);
            return;
        }
        for (QAbstractButton* b : box.buttons())
            if (b->text().remove('&') == press) b->click();
    });
    return msgbox::Show("Question?", "Confirmation", buttons, msgbox::Icon::Question);
}

TEST(MsgBox, TheRealBoxShowsTheTitleAndIconAndReturnsTheButtonPressed) {
    using msgbox::Answer;
    using msgbox::Buttons;
    struct Case {
        Buttons buttons;
        const char* press;
        Answer answer;
    };
    const std::vector<Case> cases = {
        {Buttons::YesNoCancel, "Yes", Answer::Yes}, {Buttons::YesNoCancel, "No", Answer::No},
        {Buttons::YesNoCancel, "Cancel", Answer::Cancel}, {Buttons::YesNoCancel, "Esc", Answer::Cancel},
        {Buttons::YesNo, "No", Answer::No},           {Buttons::YesNo, "Esc", Answer::No},
        {Buttons::Ok, "OK", Answer::Ok},
    };
    for (const Case& c : cases) {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        EXPECT_EQ(answerRealBox(c.buttons, c.press, &icon, &title), c.answer) << c.press << " " << int(c.buttons);
        EXPECT_EQ(icon, QMessageBox::Question);
        EXPECT_EQ(title, "Confirmation");
    }
}

}  // namespace
