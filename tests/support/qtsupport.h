// Gives a test program one QApplication for all its tests (the offscreen platform comes from folvio_test), and acts on the modal dialogs it opens.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>

namespace testsupport {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "folvio-test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

// Including this header is enough: the environment registers itself once per test program.
inline const ::testing::Environment* const qtApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// Runs `step` on the first modal dialog of type Dialog that opens while this object lives (the
// real boxes and file dialogs run their own event loop), and rejects that dialog after two
// seconds should the step leave it open, so that no test waits for a human.
template <class Dialog>
class OnModalDialog {
public:
    explicit OnModalDialog(std::function<void(Dialog&)> step) : step_(std::move(step)) {
        poll_.setInterval(5);
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            poll_.stop();
            ran_ = true;
            QTimer::singleShot(2000, dialog, [dialog] { static_cast<QDialog*>(dialog)->reject(); });
            step_(*dialog);
        });
        poll_.start();
    }
    // True once the dialog has opened and the step has run.
    bool ran() const { return ran_; }

private:
    std::function<void(Dialog&)> step_;
    QTimer poll_;
    bool ran_ = false;
};

}  // namespace testsupport
