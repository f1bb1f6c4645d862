// What the window tests share: scripted message boxes, and windows on a private registry and program folder.
#pragma once

#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/msgbox.h"
#include "app/program.h"
#include "platform/shutdown.h"

#include "qtsupport.h"
#include "testsupport.h"
#include "zipentries.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

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

// The readers of archives no one here wrote (Python's zipfile, Info-ZIP unzip -t).
using testsupport::unzipTests;
using testsupport::zipEntries;

inline const msgbox::Request kSaveQuestion{"Do you want to save the changes you made to the Folder-List?",
                                           "Confirmation", msgbox::Buttons::YesNoCancel, msgbox::Icon::Question};

// Records what the program asks of the power switch and never switches anything off.
class RecordingPowerControl : public platform::PowerControl {
public:
    bool granted = true;  // what CanPowerOff answers
    int rightAsked = 0;
    int requests = 0;
    bool CanPowerOff() override {
        ++rightAsked;
        return granted;
    }
    bool PowerOff() override {
        ++requests;
        return true;
    }
};

// Runs the program's main loop until the program ends it; returns its exit status, or 99 when
// it has not ended after 20 seconds.
inline int runProgramLoop() {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(20000);
    return QApplication::exec();
}

// A fresh set of windows in a private registry and program folder, with a recording power switch.
class WindowTest : public ::testing::Test {
protected:
    WindowTest() { std::filesystem::create_directories(programDir); }

    TForm1& form() {
        if (!windows_.Form1) start({});
        return *windows_.Form1;
    }
    TForm2& form2() { return (form(), *windows_.Form2); }
    TForm3& form3() { return (form(), *windows_.Form3); }
    // Starts the program's windows with the given command line (without the program's name).
    void start(const QStringList& arguments) {
        windows_ = CreateWindows(arguments);
        windows_.Form1->ProcessMessagesInterval = 0;  // every step of the writer runs the event loop
    }
    // Drops the windows, as when the program ends; the next form() starts the program again.
    void restart() { windows_ = TApplicationWindows(); }
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
    RecordingPowerControl power;
    platform::ScopedPowerControl powerInstalled{power};

private:
    TApplicationWindows windows_;
};

}  // namespace apptest
