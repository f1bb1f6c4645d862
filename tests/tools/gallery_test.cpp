#include "testsupport.h"

#include <gtest/gtest.h>

#include <QImage>

#include <string>

namespace {

testsupport::CommandResult gallery(const std::string& arguments) {
    return testsupport::runCommand(FOLVIO_BINARY_DIR "/bin/folvio-gallery " + arguments + " 2>&1");
}

QImage png(const std::filesystem::path& file) { return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB32); }

int count(const QImage& image, QRgb color) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == color;
    return n;
}

TEST(Gallery, WritesAPlotWithCrossGridAndColouredCurves) {
    testsupport::TempDir dir;
    const auto file = dir / "plot.png";
    const auto r = gallery("--plot " + testsupport::shellQuote(file.string()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const QImage image = png(file);
    ASSERT_EQ(image.size(), QSize(640, 480));
    EXPECT_EQ(image.pixel(320, 100), qRgb(0, 0, 0)) << "the cross";
    EXPECT_EQ(image.pixel(100, 240), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(352, 10), qRgb(192, 192, 192)) << "a grid line";
    EXPECT_EQ(image.pixel(10, 10), qRgb(255, 255, 255)) << "the background";
    EXPECT_GT(count(image, qRgb(255, 0, 0)), 500) << "sin(x)*5 in red";
    EXPECT_GT(count(image, qRgb(0, 0, 255)), 300) << "x^2/4-8 in blue";
    EXPECT_GT(count(image, qRgb(0, 128, 0)), 300) << "1/x in green";
}

TEST(Gallery, ReportsExpressionsThatCannotBeParsed) {
    testsupport::TempDir dir;
    const auto file = dir / "plot.png";
    const auto r = gallery("--plot " + testsupport::shellQuote(file.string()) + " -e x -e '2*' --size 320x240 --points");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("expression 2 could not be parsed"), std::string::npos) << r.output;
    EXPECT_EQ(png(file).size(), QSize(320, 240));
}

TEST(Gallery, WritesTheDotMatrixDisplay) {
    testsupport::TempDir dir;
    struct Case {
        const char* text;
        QRgb dot;
    } cases[] = {{"100%", qRgb(0, 128, 0)}, {"5555", qRgb(0, 255, 0)}};
    for (const auto& c : cases) {
        const auto file = dir / "display.png";
        const auto r = gallery("--display " + testsupport::shellQuote(file.string()) + " --text " + c.text);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const QImage image = png(file);
        ASSERT_EQ(image.size(), QSize(184, 70));
        for (int y = 2; y < 10; ++y)
            for (int x = 48; x < 54; ++x) EXPECT_EQ(image.pixel(x, y), c.dot) << c.text << " " << x << "," << y;
        EXPECT_EQ(image.pixel(54, 2), qRgb(128, 128, 128));
    }
}

TEST(Gallery, WritesTheProgressBarInItsFiveStyles) {
    testsupport::TempDir dir;
    const auto file = dir / "progress.png";
    const auto r = gallery("--progress " + testsupport::shellQuote(file.string()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const QImage image = png(file);
    EXPECT_GT(image.height(), 5 * 150) << "five rows of vertical bars";
    EXPECT_GT(count(image, qRgb(0, 0, 64)), 5000) << "the dark blue start of every fill";
    EXPECT_GT(count(image, qRgb(0, 0, 160)), 500) << "the tiles and the gradients' blue end";
}

TEST(Gallery, RefusesBadArgumentsAndUnwritableFiles) {
    testsupport::TempDir dir;
    EXPECT_EQ(gallery("--plot " + testsupport::shellQuote((dir / "p.png").string()) + " --size 12").exitCode, 2);
    EXPECT_EQ(gallery("--display " + testsupport::shellQuote((dir / "missing" / "d.png").string())).exitCode, 1);
}

}  // namespace
