#include "components/kwbrfolder.h"
#include "components/kwstatus.h"

#include "qtsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLabel>
#include <QTest>

#include <functional>

using testsupport::TempDir;

namespace {

// Runs `step` on the folder dialog once it is open, then lets Execute return.
std::string executeWith(TKwBrFolder& picker, const std::string& initial, std::function<void(QFileDialog&)> step) {
    const testsupport::OnModalDialog<QFileDialog> onDialog(std::move(step));
    std::string result = picker.Execute(initial, "Browser for the folder you want to be backed up", nullptr);
    EXPECT_TRUE(onDialog.ran()) << "the dialog never opened";
    return result;
}

TEST(KwBrFolder, ShowsTheTitleAndTheInitialFolderSelected) {
    TempDir dir;
    std::filesystem::create_directories(dir / "Docs");
    TKwBrFolder picker;
    QString title, shownIn;
    QStringList selected;
    const std::string chosen = executeWith(picker, (dir / "Docs").string() + "/", [&](QFileDialog& d) {
        title = d.windowTitle();
        shownIn = d.directory().absolutePath();
        selected = d.selectedFiles();
        static_cast<QDialog&>(d).accept();
    });
    EXPECT_EQ(title, "Browser for the folder you want to be backed up");
    EXPECT_EQ(shownIn.toStdString(), dir.path().string());
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().toStdString(), (dir / "Docs").string());
    EXPECT_EQ(chosen, (dir / "Docs").string()) << "the path comes back without a trailing slash";
}

TEST(KwBrFolder, CancelGivesTheEmptyTextAndTheRootStaysWhole) {
    TKwBrFolder picker;
    EXPECT_EQ(executeWith(picker, "", [](QFileDialog& d) { d.reject(); }), "");
    EXPECT_EQ(executeWith(picker, "/", [](QFileDialog& d) { static_cast<QDialog&>(d).accept(); }), "/");
}

TEST(KwBrFolder, AChooserReplacesTheDialog) {
    TKwBrFolder picker;
    std::string asked;
    picker.Chooser = [&](const std::string& initial, const std::string& title, QWidget*) {
        asked = initial + "|" + title;
        return std::string("/srv");
    };
    EXPECT_EQ(picker.Execute("/home/", "Pick", nullptr), "/srv");
    EXPECT_EQ(asked, "/home/|Pick");
}

TEST(KwStatus, HoldsChildWidgets) {
    TKwStatus bar;
    bar.resize(300, 22);
    auto* child = new QLabel("child", &bar);
    child->move(10, 2);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    EXPECT_TRUE(child->isVisible());
    EXPECT_EQ(child->parentWidget(), &bar);
}

}  // namespace
