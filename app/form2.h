// TForm2: the "New Password" dialog, which asks for a password twice and checks it before accepting it.
#pragma once

#include <QDialog>

#include <string>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Shown modally with exec(). It ends accepted (PasswordCancelled false, NewPassword set, possibly
// empty) or cancelled by "&Cancel", Esc or the close box (PasswordCancelled true).
class TForm2 : public QDialog {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);

    std::string NewPassword;
    bool PasswordCancelled = true;

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QRadioButton* RadioButton1;  // "Strong (AES-256)"
    QRadioButton* RadioButton2;  // "Compatible (traditional ZIP encryption, weak)"
    QLabel* Label3;              // that AES archives need a reader that supports AES
    QFrame* Bevel1;
    QPushButton* Button2;  // "&Ok", the default button
    QPushButton* Button1;  // "&Cancel"

    // The cipher chosen: AES-256 (true) or the traditional one. The choice stays as it is when
    // the dialog resets; the caller sets it before showing the dialog.
    bool StrongEncryption() const;
    void SetStrongEncryption(bool strong);

    // Resets the dialog: no password, cancelled, both fields empty, the cursor in the first.
    void FormShow();
    // Checks the entry: a mismatch or a refused short password starts again; otherwise accepts it.
    void Button2Click();
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;
};
