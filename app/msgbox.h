// The windows' one way to ask questions and report errors: a replaceable message-box seam and the error wrapper every handler runs in.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace msgbox {

// The application title, shown on error boxes and the password dialog's notices.
inline constexpr char kAppTitle[] = "Marvane Folvio";

enum class Buttons { Ok, YesNo, YesNoCancel };
enum class Icon { Stop, Question, Exclamation, Information };
enum class Answer { Ok, Yes, No, Cancel };

struct Request {
    std::string text;
    std::string title;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::Information;
    bool operator==(const Request&) const = default;
};

using Handler = std::function<Answer(const Request&)>;

// Asks the question and returns the answer: through the installed handler, or in a modal
// QMessageBox (plain text, first button default; Esc answers Cancel, or No without Cancel).
Answer Show(const std::string& text, const std::string& title, Buttons buttons, Icon icon);
// Installs a handler in place of the real boxes (tests script the answers); an empty one
// restores the real boxes. Returns the handler it replaces.
Handler SetHandler(Handler handler);

// The message as the error box shows it: a period appended when its last byte sorts after ".".
std::string ErrorText(const std::string& message);
// The error box: the message with the period rule, the application title, OK and the stop icon.
void ShowError(const std::string& message);

// Runs a handler's body. An error that leaves it is shown in the error box and the rest of the
// body is skipped, as no exception may cross Qt's event loop. False when an error was shown.
template <class Body>
bool Guarded(Body&& body) noexcept {
    std::string message;
    try {
        body();
        return true;
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown error";
    }
    try {
        ShowError(message);
    } catch (...) {
        // The box itself failed: nothing more can be reported.
    }
    return false;
}

}  // namespace msgbox
