#include "app/msgbox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace msgbox {

namespace {

Handler& installed() {
    static Handler handler;
    return handler;
}

Answer showReal(const Request& request) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(request.title));
    box.setTextFormat(Qt::PlainText);  // paths and messages are shown as they are, never as markup
    box.setText(QString::fromStdString(request.text));
    switch (request.icon) {
    case Icon::Stop: box.setIcon(QMessageBox::Critical); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    case Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    }
    switch (request.buttons) {
    case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case Buttons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    }
    box.setDefaultButton(request.buttons == Buttons::Ok ? QMessageBox::Ok : QMessageBox::Yes);
    switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Ok: return Answer::Ok;
    default: return request.buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
}

}  // namespace

Answer Show(const std::string& text, const std::string& title, Buttons buttons, Icon icon) {
    const Request request{text, title, buttons, icon};
    if (const Handler& handler = installed()) return handler(request);
    return showReal(request);
}

Handler SetHandler(Handler handler) { return std::exchange(installed(), std::move(handler)); }

std::string ErrorText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

void ShowError(const std::string& message) { Show(ErrorText(message), kAppTitle, Buttons::Ok, Icon::Stop); }

}  // namespace msgbox
