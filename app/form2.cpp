#include "app/form2.h"

#include "app/msgbox.h"
#include "app/pictures.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

namespace {

// Shows every typed character of a password field as "*".
class StarStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The dialog's height: the two fields, the choice of cipher with its note, the buttons.
constexpr int kHeight = 220;

}  // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName("Form2");
    setWindowTitle("New Password");
    QFont uiFont = QApplication::font();
    uiFont.setPointSize(9);
    setFont(uiFont);
    setFixedSize(318, kHeight);  // a dialog frame: no resizing

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(pictures::KeyPixmap(32));
    Image1->setGeometry(10, 12, 32, 32);

    Label1 = new QLabel("New Password : ", this);
    Label1->setObjectName("Label1");
    Label2 = new QLabel("Confirm Password :", this);
    Label2->setObjectName("Label2");
    const int labels = std::max(Label1->sizeHint().width(), Label2->sizeHint().width());
    const int editLeft = 54 + labels + 6;
    Label1->setGeometry(54, 14, labels, 24);
    Label2->setGeometry(54, 48, labels, 24);

    auto* stars = new StarStyle;
    stars->setParent(this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName("Edit2");
    for (QLineEdit* edit : {Edit1, Edit2}) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setStyle(stars);
    }
    Edit1->setGeometry(editLeft, 14, 318 - 10 - editLeft, 24);
    Edit2->setGeometry(editLeft, 48, 318 - 10 - editLeft, 24);

    RadioButton1 = new QRadioButton("Strong (AES-256)", this);
    RadioButton1->setObjectName("RadioButton1");
    RadioButton1->setGeometry(10, 82, 298, 22);
    RadioButton2 = new QRadioButton("Compatible (traditional ZIP encryption, weak)", this);
    RadioButton2->setObjectName("RadioButton2");
    RadioButton2->setGeometry(10, 104, 298, 22);
    RadioButton1->setChecked(true);
    Label3 = new QLabel("AES archives need a reader that supports AES.", this);
    Label3->setObjectName("Label3");
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label3->setWordWrap(true);  // a second line where a larger font needs one
    Label3->setGeometry(10, 128, 298, 30);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel1->setGeometry(10, 162, 298, 2);

    Button2 = new QPushButton("&Ok", this);
    Button2->setObjectName("Button2");
    Button2->setDefault(true);
    Button2->setGeometry(318 - 10 - 84 - 6 - 84, 178, 84, 28);
    Button1 = new QPushButton("&Cancel", this);
    Button1->setObjectName("Button1");
    Button1->setAutoDefault(false);
    Button1->setGeometry(318 - 10 - 84, 178, 84, 28);

    connect(Button2, &QPushButton::clicked, this, [this] { msgbox::Guarded([this] { Button2Click(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { msgbox::Guarded([this] { Button1Click(); }); });
}

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) msgbox::Guarded([this] { FormShow(); });
}

bool TForm2::StrongEncryption() const { return RadioButton1->isChecked(); }

void TForm2::SetStrongEncryption(bool strong) { (strong ? RadioButton1 : RadioButton2)->setChecked(true); }

void TForm2::FormShow() {
    NewPassword.clear();
    PasswordCancelled = true;
    Edit1->clear();
    Edit2->clear();
    Edit1->setFocus();
}

void TForm2::Button2Click() {
    PasswordCancelled = false;
    const QString first = Edit1->text();
    if (first != Edit2->text()) {
        msgbox::Show("Passwords are not equal!", msgbox::kAppTitle, msgbox::Buttons::Ok, msgbox::Icon::Stop);
        FormShow();
        return;
    }
    if (first.isEmpty()) {
        msgbox::Show("Password is disabled!", msgbox::kAppTitle, msgbox::Buttons::Ok, msgbox::Icon::Information);
    } else if (first.toUcs4().size() < 5 &&
               msgbox::Show("Password should have at least 5 characters, continue anyway?", msgbox::kAppTitle,
                            msgbox::Buttons::YesNo, msgbox::Icon::Question) != msgbox::Answer::Yes) {
        FormShow();
        return;
    }
    NewPassword = first.toStdString();
    accept();
}

void TForm2::Button1Click() { reject(); }
