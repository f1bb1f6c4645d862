#include "app/screenshots.h"

#include "apptest.h"

#include <QImage>

namespace {

using ScreenshotTest = apptest::WindowTest;

TEST_F(ScreenshotTest, WritesEveryWindowAtItsSizeWithoutTouchingTheSettings) {
    const QString out = QString::fromStdString((dir / "shots").string());
    const QStringList files = screenshots::Write(out);
    EXPECT_EQ(files.size(), 8);
    struct Case {
        const char* file;
        QSize size;
    };
    for (const Case& c : {Case{"form1.png", {493, 428}}, Case{"form1-running.png", {493, 428}},
                          Case{"form1-dark.png", {493, 428}}, Case{"form1-dark-running.png", {493, 428}},
                          Case{"form2.png", {318, 220}}, Case{"form3.png", {369, 210}}}) {
        const QImage image(out + "/" + c.file);
        EXPECT_EQ(image.size(), c.size) << c.file;
    }
    EXPECT_FALSE(QImage(out + "/icon.png").isNull());
    EXPECT_EQ(QApplication::palette(), QPalette()) << "the dark palette is put back";
    EXPECT_FALSE(std::filesystem::exists(listFile())) << "the pictures use a folder of their own";
    EXPECT_EQ(pop("DestDir"), "");
    EXPECT_EQ(qgetenv("MARVANE_PROGRAM_DIR").toStdString(), programDir.string()) << "the environment is put back";
}

}  // namespace
