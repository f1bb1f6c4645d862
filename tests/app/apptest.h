// What the window tests share: scripted message boxes, and windows on a private registry and program folder.
#pragma once

#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/msgbox.h"
#include "app/program.h"

#include "qtsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <deque>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace msgbox {
inline std::ostream& operator<<(std::ostream& out, const Request& r) {
    return out << '"' << r.text << "\" / \"" << r.title << "\" / buttons " << int(r.buttons) << " / icon "
               << int(r.icon);
}
}  // namespace msgbox

namespace apptest {

// Answers the message boxes from a queue and records exactly what each one asked. A box
// without a queued answer fails the test and is answered Cancel (Ok for a box with only Ok).
class ScriptedBoxes {
public:
    ScriptedBoxes() {
        previous_ = msgbox::SetHandler([this](const msgbox::Request& r) {
            asked.push_back(r);
            if (answers.empty()) {
                if (r.buttons == msgbox::Buttons::Ok) return msgbox::Answer::Ok;
                ADD_FAILURE() << "unexpected message box " << r;
                return msgbox::Answer::Cancel;
            }
            const msgbox::Answer a = answers.front();
            answers.pop_front();
            return a;
        });
    }
    ~ScriptedBoxes() { msgbox::SetHandler(previous_); }
    ScriptedBoxes(const ScriptedBoxes&) = delete;
    ScriptedBoxes& operator=(const ScriptedBoxes&) = delete;

    std::vector<msgbox::Request> asked;
    std::deque<msgbox::Answer> answers;

private:
    msgbox::Handler previous_;
};

inline const msgbox::Request kSaveQuestion{"Do you want to save the changes you made to the Folder-List?",
                                           "Confirmation", msgbox::Buttons::YesNoCancel, msgbox::Icon::Question};

// A fresh set of windows in a private registry and program folder, with the process-wide flags
// back at their start values.
class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        std::filesystem::create_directories(programDir);
        ListModified = RunBusy = RunCancelled = false;
    }

    TForm1& form() {
        if (!windows_.Form1) windows_ = CreateWindows({});
        return *windows_.Form1;
    }
    TForm2& form2() { return (form(), *windows_.Form2); }
    // Drops the windows, as when the program ends; the next form() starts the program again.
    void restart() {
        windows_ = TApplicationWindows();
        ListModified = RunBusy = RunCancelled = false;
    }
    void show() {
        form().show();
        QApplication::processEvents();
    }
    std::string pop(const std::string& name) { return form().KwReg1.Pop(name); }
    std::filesystem::path listFile() const { return programDir / "data.mvo"; }
    std::vector<std::string> items() {
        std::vector<std::string> texts;
        for (int i = 0; i < form().ItemCount(); ++i) texts.push_back(form().ItemText(i));
        return texts;
    }

    testsupport::TempDir dir;
    std::filesystem::path programDir = dir / "program";
    testsupport::ScopedEnv registry{"MARVANE_REGISTRY_DIR", (dir / "registry").string()};
    testsupport::ScopedEnv program{"MARVANE_PROGRAM_DIR", programDir.string()};
    testsupport::ScopedEnv config{"XDG_CONFIG_HOME", (dir / "config").string()};
    ScriptedBoxes boxes;

private:
    TApplicationWindows windows_;
};

}  // namespace apptest
