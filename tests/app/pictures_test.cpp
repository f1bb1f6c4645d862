// The program's pictures: painted at the pixels they are shown with, at every scale, never a small bitmap enlarged.
#include "app/pictures.h"

#include "qtsupport.h"

#include <QPainter>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

struct NamedIcon {
    const char* name;
    std::function<QIcon()> make;
};

const std::vector<NamedIcon>& icons() {
    static const std::vector<NamedIcon> all = {
        {"program", pictures::ProgramIcon},  {"add folder", pictures::AddFolderIcon},
        {"remove folder", pictures::RemoveFolderIcon}, {"browse", pictures::BrowseIcon},
        {"start", pictures::StartIcon},      {"cancel", pictures::CancelIcon},
    };
    return all;
}

// The program's icon painted straight onto an image of the given pixel size.
QImage programReference(int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(pixels / 16.0, pixels / 16.0);
    pictures::PaintProgramIcon(p);
    return image;
}

QImage normalised(const QPixmap& pixmap) { return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied); }

TEST(Pictures, IconsArePaintedAtTheDevicePixelsTheyAreShownWith) {
    for (const NamedIcon& icon : icons()) {
        const QIcon made = icon.make();
        for (int size : {16, 24, 48}) {
            for (qreal scale : {1.0, 1.5, 2.0, 3.0}) {
                const std::string what = std::string(icon.name) + " at " + std::to_string(size) + " x" + std::to_string(scale);
                const QPixmap shown = made.pixmap(QSize(size, size), scale);
                const int pixels = static_cast<int>(std::lround(size * scale));
                ASSERT_EQ(shown.size(), QSize(pixels, pixels)) << what;
                EXPECT_DOUBLE_EQ(shown.devicePixelRatio(), scale) << what;
                // The same device pixels asked for at scale 1 give the same picture: it was painted, not enlarged.
                EXPECT_EQ(normalised(shown), normalised(made.pixmap(QSize(pixels, pixels), 1.0))) << what;
            }
        }
    }
    const QIcon program = pictures::ProgramIcon();
    EXPECT_EQ(normalised(program.pixmap(QSize(32, 32), 2.0)), programReference(64));
    for (int size : {16, 32, 48, 256})
        EXPECT_TRUE(program.availableSizes().contains(QSize(size, size))) << "the window manager is offered " << size;
}

TEST(Pictures, DisabledButtonsShowAGreyedPictureOfTheSameSize) {
    for (const NamedIcon& icon : icons()) {
        const QIcon made = icon.make();
        const QPixmap normal = made.pixmap(QSize(16, 16), 2.0, QIcon::Normal);
        const QPixmap disabled = made.pixmap(QSize(16, 16), 2.0, QIcon::Disabled);
        EXPECT_EQ(disabled.size(), normal.size()) << icon.name;
        EXPECT_NE(normalised(disabled), normalised(normal)) << icon.name;
        const QImage grey = normalised(disabled);
        int coloured = 0;
        for (int y = 0; y < grey.height(); ++y)
            for (int x = 0; x < grey.width(); ++x) {
                const QColor c = grey.pixelColor(x, y);
                if (c.alpha() > 0 && c.hsvSaturation() > 60) ++coloured;
            }
        EXPECT_EQ(coloured, 0) << icon.name << ": a disabled picture carries no colour";
    }
}

// The test runs with QT_SCALE_FACTOR=2, as on a screen of twice the usual density.
TEST(Pictures, LabelPicturesArePaintedAtTheScreensPixelRatio) {
    ASSERT_DOUBLE_EQ(qGuiApp->devicePixelRatio(), 2.0) << "QT_SCALE_FACTOR=2 is set for this test";
    struct Case {
        const char* name;
        std::function<QPixmap(int)> make;
    };
    const std::vector<Case> cases = {
        {"program", pictures::ProgramPixmap}, {"key", pictures::KeyPixmap}, {"warning", pictures::WarningPixmap}};
    for (const Case& c : cases) {
        const QPixmap shown = c.make(32);
        EXPECT_EQ(shown.size(), QSize(64, 64)) << c.name;
        EXPECT_DOUBLE_EQ(shown.devicePixelRatio(), 2.0) << c.name;
        EXPECT_EQ(shown.deviceIndependentSize(), QSizeF(32, 32)) << c.name;
    }
    EXPECT_EQ(normalised(pictures::ProgramPixmap(32)), programReference(64));
}

}  // namespace
