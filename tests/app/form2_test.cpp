// The password dialog on its own and through the main window's "Use &Password" option.
#include "apptest.h"

#include "components/kwkeey.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

namespace {

using msgbox::Answer;

enum class Act { First, Second, Ok, Enter, Cancel, Esc, CloseBox, ExpectOpenAndEmpty };
struct Step {
    Act act;
    const char* text = "";
};

struct Flow {
    const char* name;
    std::vector<Step> steps;
    std::deque<Answer> answers;
    std::vector<std::string> boxes;  // the texts of the boxes, in order
    bool checked;                    // "Use &Password" afterwards
    std::string password;            // the stored password, unscrambled
};

const char* const kNotEqual = "Passwords are not equal!";
const char* const kDisabled = "Password is disabled!";
const char* const kShort = "Password should have at least 5 characters, continue anyway?";

std::string scrambled(const std::string& password) {
    TKwKeey key;
    key.SetProgrammID(11);
    key.Schluessel = "vantorel";
    return key.Encode(password);
}

class PasswordTest : public apptest::WindowTest {
protected:
    PasswordTest() { testsupport::writeFile(listFile(), ""); }

    // Checks "Use &Password" and plays the steps in the dialog while it is open.
    void play(const std::vector<Step>& steps) {
        TForm2& d = form2();
        bool stillOpen = false;
        QTimer::singleShot(0, [&] {
            for (const Step& s : steps) {
                switch (s.act) {
                case Act::First: d.Edit1->insert(QString::fromUtf8(s.text)); break;
                case Act::Second: d.Edit2->insert(QString::fromUtf8(s.text)); break;
                case Act::Ok: d.Button2->click(); break;
                case Act::Enter: QTest::keyClick(d.Edit2, Qt::Key_Return); break;
                case Act::Cancel: d.Button1->click(); break;
                case Act::Esc: QTest::keyClick(&d, Qt::Key_Escape); break;
                case Act::CloseBox: d.close(); break;
                case Act::ExpectOpenAndEmpty:
                    EXPECT_TRUE(d.isVisible());
                    EXPECT_TRUE(d.Edit1->text().isEmpty());
                    EXPECT_TRUE(d.Edit2->text().isEmpty());
                    EXPECT_TRUE(d.PasswordCancelled);
                    break;
                }
            }
            if (d.isVisible()) {
                stillOpen = true;
                d.reject();
            }
        });
        form().CheckBox2->setChecked(true);
        EXPECT_FALSE(stillOpen) << "the dialog was still open after the last step";
    }
};

TEST_F(PasswordTest, EachWayThroughTheDialogStoresWhatItShould) {
    const std::vector<Flow> flows = {
        {"a good password", {{Act::First, "geheim1"}, {Act::Second, "geheim1"}, {Act::Ok}}, {}, {}, true, "geheim1"},
        {"Enter presses Ok", {{Act::First, "geheim1"}, {Act::Second, "geheim1"}, {Act::Enter}}, {}, {}, true, "geheim1"},
        {"Cancel", {{Act::First, "geheim1"}, {Act::Cancel}}, {}, {}, false, ""},
        {"Esc", {{Act::First, "geheim1"}, {Act::Second, "geheim1"}, {Act::Esc}}, {}, {}, false, ""},
        {"the close box", {{Act::CloseBox}}, {}, {}, false, ""},
        {"a mismatch empties both fields and keeps the dialog open",
         {{Act::First, "geheim1"}, {Act::Second, "Geheim1"}, {Act::Ok}, {Act::ExpectOpenAndEmpty}, {Act::Cancel}},
         {},
         {kNotEqual},
         false,
         ""},
        {"a mismatch, then a match",
         {{Act::First, "abcdef"}, {Act::Second, "abcdeg"}, {Act::Ok}, {Act::First, "abcdef"}, {Act::Second, "abcdef"}, {Act::Ok}},
         {},
         {kNotEqual},
         true,
         "abcdef"},
        {"nothing entered switches the option off", {{Act::Ok}}, {}, {kDisabled}, false, ""},
        {"a short password with Yes", {{Act::First, "abc"}, {Act::Second, "abc"}, {Act::Ok}}, {Answer::Yes}, {kShort}, true, "abc"},
        {"a short password with No asks again",
         {{Act::First, "abc"}, {Act::Second, "abc"}, {Act::Ok}, {Act::ExpectOpenAndEmpty}, {Act::First, "abcde"}, {Act::Second, "abcde"}, {Act::Ok}},
         {Answer::No},
         {kShort},
         true,
         "abcde"},
        {"five characters are long enough, counted as characters",
         {{Act::First, "\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f!"}, {Act::Second, "\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f!"}, {Act::Ok}},
         {},
         {},
         true,
         "\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f!"},
    };
    show();
    for (const Flow& flow : flows) {
        SCOPED_TRACE(flow.name);
        form().CheckBox2->setChecked(false);
        boxes.asked.clear();
        boxes.answers = flow.answers;
        play(flow.steps);
        std::vector<std::string> texts;
        for (const msgbox::Request& r : boxes.asked) {
            texts.push_back(r.text);
            EXPECT_EQ(r.title, "Marvane Folvio");
        }
        EXPECT_EQ(texts, flow.boxes);
        EXPECT_EQ(form().CheckBox2->isChecked(), flow.checked);
        EXPECT_EQ(pop("Password"), flow.password.empty() ? "" : scrambled(flow.password));
        // Once stored scrambled, the plain password is gone from the dialog.
        EXPECT_TRUE(form2().NewPassword.empty());
        EXPECT_TRUE(form2().Edit1->text().isEmpty());
    }
}

TEST_F(PasswordTest, TheBoxesUseTheirButtonsAndIcons) {
    show();
    boxes.answers = {Answer::Yes};
    play({{Act::First, "ab"}, {Act::Second, "ab"}, {Act::Ok}});
    form().CheckBox2->setChecked(false);
    play({{Act::First, "ab"}, {Act::Second, "cd"}, {Act::Ok}, {Act::Ok}});
    ASSERT_EQ(boxes.asked.size(), 3u);
    EXPECT_EQ(boxes.asked[0], (msgbox::Request{kShort, "Marvane Folvio", msgbox::Buttons::YesNo, msgbox::Icon::Question}));
    EXPECT_EQ(boxes.asked[1], (msgbox::Request{kNotEqual, "Marvane Folvio", msgbox::Buttons::Ok, msgbox::Icon::Stop}));
    EXPECT_EQ(boxes.asked[2],
              (msgbox::Request{kDisabled, "Marvane Folvio", msgbox::Buttons::Ok, msgbox::Icon::Information}));
}

TEST_F(PasswordTest, UncheckingStoresNoPasswordAtOnceAndAStoredOneChecksTheBoxAtStart) {
    show();
    play({{Act::First, "geheim1"}, {Act::Second, "geheim1"}, {Act::Ok}});
    ASSERT_EQ(pop("Password"), scrambled("geheim1"));
    restart();
    show();
    EXPECT_TRUE(form().CheckBox2->isChecked()) << "a stored password checks the option at the next start";
    form().CheckBox2->setChecked(false);
    EXPECT_EQ(pop("Password"), "");
    restart();
    show();
    EXPECT_FALSE(form().CheckBox2->isChecked());
}

// The dialog offers the strong and the compatible cipher with a note on readers; the choice is
// stored as "Encryption" beside the password and comes back as the preselection the next time.
// A new choice starts strong; a cancelled dialog or a mismatch keeps the stored choice.
TEST_F(PasswordTest, TheChoiceOfCipherIsStoredBesideThePassword) {
    TForm2& d = form2();
    EXPECT_EQ(d.RadioButton1->text(), "Strong (AES-256)");
    EXPECT_EQ(d.RadioButton2->text(), "Compatible (traditional ZIP encryption, weak)");
    EXPECT_EQ(d.Label3->text(), "AES archives need a reader that supports AES.");
    show();
    struct Case {
        const char* name;
        bool pickCompatible, pickStrong, cancel;
        const char* stored;       // "Encryption" afterwards
        bool preselectedStrong;  // the dialog's choice when it opens
    } cases[] = {
        {"a new choice starts strong", false, false, false, "aes", true},
        {"compatible is stored as zip", true, false, false, "zip", true},
        {"the stored choice comes back, and a cancel keeps it", false, true, true, "zip", false},
        {"strong again", false, true, false, "aes", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form().CheckBox2->setChecked(false);
        bool preselected = false;
        QTimer::singleShot(0, [&] {
            preselected = d.RadioButton1->isChecked() && !d.RadioButton2->isChecked();
            if (c.pickCompatible) d.RadioButton2->click();
            if (c.pickStrong) d.RadioButton1->click();
            d.Edit1->insert("geheim1");
            d.Edit2->insert("geheim1");
            (c.cancel ? d.Button1 : d.Button2)->click();
        });
        form().CheckBox2->setChecked(true);
        EXPECT_EQ(preselected, c.preselectedStrong);
        EXPECT_EQ(pop("Encryption"), c.stored);
        EXPECT_EQ(form().CheckBox2->isChecked(), !c.cancel);
    }
    // A mismatch starts the entry again but keeps the choice made.
    form().CheckBox2->setChecked(false);
    boxes.answers = {};
    QTimer::singleShot(0, [&] {
        d.RadioButton2->click();
        d.Edit1->insert("geheim1");
        d.Edit2->insert("geheim2");
        d.Button2->click();
        EXPECT_TRUE(d.RadioButton2->isChecked());
        d.Edit1->insert("geheim1");
        d.Edit2->insert("geheim1");
        d.Button2->click();
    });
    form().CheckBox2->setChecked(true);
    EXPECT_EQ(pop("Encryption"), "zip");
}

TEST_F(PasswordTest, TheDialogShowsStarsAndStartsEmptyEachTime) {
    TForm2& d = form2();
    EXPECT_EQ(d.windowTitle(), "New Password");
    EXPECT_EQ(d.size(), QSize(318, 220));
    EXPECT_EQ(d.Edit1->echoMode(), QLineEdit::Password);
    EXPECT_EQ(d.Edit1->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, d.Edit1), '*');
    EXPECT_TRUE(d.Button2->isDefault());
    EXPECT_EQ(d.Button2->text(), "&Ok");
    EXPECT_EQ(d.Button1->text(), "&Cancel");
    d.Edit1->setText("old");
    d.NewPassword = "old";
    d.PasswordCancelled = false;
    d.FormShow();
    EXPECT_TRUE(d.Edit1->text().isEmpty());
    EXPECT_TRUE(d.NewPassword.empty());
    EXPECT_TRUE(d.PasswordCancelled);
}

}  // namespace
