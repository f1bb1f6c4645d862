// Gives a test program one QApplication for all its tests (the offscreen platform comes from folvio_test).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

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

}  // namespace testsupport
