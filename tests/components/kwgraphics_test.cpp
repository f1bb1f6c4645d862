#include "components/kwgraphics.h"

#include "qtsupport.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <stdexcept>

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kSilver = qRgb(192, 192, 192);

QImage blank(QRgb fill = qRgb(10, 20, 30), int w = 640, int h = 480) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}

int draw(TKwGraphics& g, QImage& image) {
    QPainter painter(&image);
    return g.DrawToCanvas(painter);
}

int count(const QImage& image, QRgb color, QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += image.pixel(x, y) == color;
    return n;
}

// A plotter with one red expression sampled at every pixel column (or at the given step).
TKwGraphics plotOf(const std::string& expression, const std::string& step = "") {
    TKwGraphics g;
    g.Cross = false;
    g.Expressions = {expression};
    g.Colors = {"255"};
    g.Steps = {step};
    return g;
}

TEST(KwGraphics, DefaultsPutTheOriginAt320By240) {
    EXPECT_EQ(TKwGraphics::UmrechnenX(0, 640, -10, 10), 320);
    EXPECT_EQ(TKwGraphics::UmrechnenY(0, 480, -10, 10), 240);
    EXPECT_EQ(TKwGraphics::UmrechnenX(-10, 640, -10, 10), 0);
    EXPECT_EQ(TKwGraphics::UmrechnenY(10, 480, -10, 10), 0);
    EXPECT_EQ(TKwGraphics::UmrechnenY(-2.5L, 480, -10, 10), 300);
    EXPECT_EQ(TKwGraphics::UmrechnenX(1, 640, 5, 5), 0) << "an empty range";
    EXPECT_EQ(TKwGraphics::UmrechnenY(1e300L, 480, -10, 10), -(1 << 24)) << "far off the canvas, yet an int";
}

TEST(KwGraphics, DefaultDrawingIsABlackCrossOnTheBackground) {
    TKwGraphics g;
    QImage image = blank();
    EXPECT_EQ(draw(g, image), 0);
    // The cross runs from (1, 240) and (320, 1); a line leaves out its end point.
    for (int x = 1; x < 640; ++x) EXPECT_EQ(image.pixel(x, 240), kBlack) << x;
    for (int y = 1; y < 480; ++y) EXPECT_EQ(image.pixel(320, y), kBlack) << y;
    EXPECT_EQ(image.pixel(0, 240), kWhite);
    EXPECT_EQ(image.pixel(320, 0), kWhite);
    EXPECT_EQ(count(image, kBlack, image.rect()), 639 + 479 - 1);
    EXPECT_EQ(count(image, kWhite, image.rect()), 640 * 480 - (639 + 479 - 1)) << "the background shows";
}

TEST(KwGraphics, BackgroundFillsTheAreaAroundTheSeedAndStaysInsideTheDestination) {
    TKwGraphics g;
    g.Cross = false;
    g.Background = QColor(0, 0, 255);
    g.DestinationWidth = 100;
    g.DestinationHeight = 50;
    QImage image = blank(kRed, 200, 100);
    draw(g, image);
    EXPECT_EQ(count(image, qRgb(0, 0, 255), QRect(0, 0, 100, 50)), 100 * 50);
    EXPECT_EQ(count(image, kRed, image.rect()), 200 * 100 - 100 * 50);
}

TEST(KwGraphics, WithoutClearingOnlyTheRegionAroundTheSeedIsFilled) {
    TKwGraphics g;
    g.Cross = false;
    g.ClearCanvas = false;
    QImage image = blank(kRed, 100, 100);
    {
        QPainter p(&image);
        p.setPen(kBlack);
        p.drawRect(40, 40, 20, 20);  // an outline whose inside is not connected to (10, 10)
    }
    draw(g, image);
    EXPECT_EQ(image.pixel(10, 10), kWhite);
    EXPECT_EQ(image.pixel(99, 99), kWhite);
    EXPECT_EQ(count(image, kRed, image.rect()), 19 * 19) << "the inside of the outline keeps its colour";
    EXPECT_EQ(count(image, kBlack, image.rect()), 4 * 20);
}

TEST(KwGraphics, BackgroundShowsOnDevicesWhosePixelsCannotBeRead) {
    TKwGraphics g;
    g.Cross = false;
    g.Background = QColor(0, 128, 0);
    QPixmap pixmap(640, 480);
    pixmap.fill(Qt::red);
    {
        QPainter p(&pixmap);
        EXPECT_EQ(g.DrawToCanvas(p), 0);
    }
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(count(image, qRgb(0, 128, 0), image.rect()), 640 * 480);
}

TEST(KwGraphics, PointsOnlySetsOnePixelLeftOfAndAboveEachSample) {
    TKwGraphics g = plotOf("5");
    QImage image = blank();
    ASSERT_EQ(draw(g, image), 0);
    // y = 5 is row trunc((10 - 5) * 480 / 20) = 120; every column is sampled.
    EXPECT_EQ(count(image, kRed, QRect(0, 119, 640, 1)), 640);
    EXPECT_EQ(count(image, kRed, image.rect()), 640);
}

TEST(KwGraphics, StepSamplesEveryPthColumn) {
    TKwGraphics g = plotOf("5", "1");  // 640 * 1 / 20 = 32 columns per sample
    QImage image = blank();
    draw(g, image);
    for (int x = 0; x < 640; ++x) EXPECT_EQ(image.pixel(x, 119) == kRed, x % 32 == 0) << x;
    EXPECT_EQ(count(image, kRed, image.rect()), 20);
}

TEST(KwGraphics, HugeOrInvalidStepsStillSampleAtLeastOnce) {
    for (const char* step : {"1e300", "-3", "0", "nonsense", "1e99999"}) {
        TKwGraphics g = plotOf("5", step);
        QImage image = blank();
        draw(g, image);
        EXPECT_GE(count(image, kRed, image.rect()), 1) << step;
    }
}

TEST(KwGraphics, LinesJoinSamplesAndLeaveOutEachEndPoint) {
    TKwGraphics g = plotOf("5");
    g.PointsOnly = false;
    QImage image = blank();
    draw(g, image);
    // The first sample sets (0, 119); each later one draws from the previous sample to itself.
    EXPECT_EQ(image.pixel(0, 119), kRed);
    EXPECT_EQ(count(image, kRed, QRect(1, 120, 639, 1)), 639);
    EXPECT_EQ(count(image, kRed, image.rect()), 640);
}

TEST(KwGraphics, MaxDifferenceKeepsTheBranchesOfOneOverXApart) {
    const QRect acrossThePole(314, 125, 13, 231);  // |y| < 4.8 near x = 0
    for (long double maxDifference : {0.0L, 5.0L}) {
        TKwGraphics g = plotOf("1/x", "0.3");
        g.PointsOnly = false;
        g.Y_MaxDifference = maxDifference;
        QImage image = blank();
        ASSERT_EQ(draw(g, image), 0);
        EXPECT_GT(count(image, kRed, QRect(0, 241, 320, 239)), 100) << "the left branch, below the axis";
        EXPECT_GT(count(image, kRed, QRect(321, 0, 319, 240)), 100) << "the right branch, above the axis";
        if (maxDifference > 0) EXPECT_EQ(count(image, kRed, acrossThePole), 0);
        else EXPECT_GT(count(image, kRed, acrossThePole), 0) << "without the limit the branches are joined";
    }
}

TEST(KwGraphics, EvaluationErrorsLeaveGaps) {
    TKwGraphics g = plotOf("ln(x)+5");
    QImage image = blank();
    ASSERT_EQ(draw(g, image), 0);
    EXPECT_EQ(count(image, kRed, QRect(0, 0, 320, 480)), 0) << "no logarithm left of 0";
    EXPECT_GT(count(image, kRed, QRect(320, 0, 320, 480)), 300);
}

TEST(KwGraphics, ReturnsTheLastLineThatCouldNotBeParsed) {
    TKwGraphics g;
    g.Expressions = {"x", "2*", "x^2", "(", "1"};
    g.Colors = {"0", "0", "0", "0", "0"};
    g.Steps = {"", "", "", "", ""};
    QImage image = blank();
    EXPECT_EQ(draw(g, image), 4);
    g.Expressions = {"x", "2*"};
    EXPECT_EQ(draw(g, image), 2);
}

TEST(KwGraphics, MissingColorOrStepLinesThrowAndRestoreThePainter) {
    for (int missing = 0; missing < 2; ++missing) {
        TKwGraphics g;
        g.Expressions = {"x", "x^2"};
        g.Colors = {"0", "255"};
        g.Steps = {"", ""};
        (missing == 0 ? g.Colors : g.Steps).pop_back();
        QImage image = blank();
        QPainter painter(&image);
        painter.setPen(Qt::blue);
        EXPECT_THROW(g.DrawToCanvas(painter), std::out_of_range);
        EXPECT_EQ(painter.pen().color(), QColor(Qt::blue));
        EXPECT_FALSE(painter.hasClipping());
    }
}

TEST(KwGraphics, CancelFromTheHostsStepStopsTheDrawing) {
    for (int after : {1, 5, 300}) {
        TKwGraphics g = plotOf("x");
        g.Grid = true;
        int steps = 0;
        g.ProcessMessages = [&] {
            if (++steps == after) g.Cancel();
        };
        QImage image = blank();
        EXPECT_EQ(draw(g, image), -1) << after;
        EXPECT_EQ(steps, after) << "returns at the next check";
    }
    TKwGraphics g = plotOf("x");
    int steps = 0;
    g.ProcessMessages = [&] { ++steps; };
    QImage image = blank();
    EXPECT_EQ(draw(g, image), 0) << "a new drawing clears the flag";
    EXPECT_EQ(steps, 1 + 640) << "one step per expression and per sample";
}

TEST(KwGraphics, GridLinesEveryGridSpace) {
    TKwGraphics g;
    g.Grid = true;
    QImage image = blank();
    draw(g, image);
    // dx = 640 / 20 = 32, dy = 480 / 20 = 24 pixels; the cross is drawn over the grid.
    for (int x = 0; x < 640; ++x) {
        const QRgb expected = x == 320 ? kBlack : (x % 32 == 0 ? kSilver : kWhite);
        EXPECT_EQ(image.pixel(x, 100), expected) << x;
    }
    for (int y = 1; y < 480; ++y) {
        const QRgb expected = y == 240 ? kBlack : (y % 24 == 0 ? kSilver : kWhite);
        EXPECT_EQ(image.pixel(100, y), expected) << y;
    }
}

TEST(KwGraphics, DegenerateRangesAndGridsDrawOnlyTheBackground) {
    struct Case {
        const char* name;
        long double xFrom, xTo, yFrom, yTo, gridSpace;
    } cases[] = {{"empty x range", 5, 5, -10, 10, 1}, {"empty y range", -10, 10, 3, 3, 1}};
    for (const auto& c : cases) {
        TKwGraphics g = plotOf("x");
        g.Cross = g.Grid = true;
        g.X_From = c.xFrom, g.X_To = c.xTo, g.Y_From = c.yFrom, g.Y_To = c.yTo, g.GridSpace = c.gridSpace;
        QImage image = blank();
        EXPECT_EQ(draw(g, image), 0) << c.name;
        EXPECT_EQ(count(image, kWhite, image.rect()), 640 * 480) << c.name;
    }
}

TEST(KwGraphics, ExtremeSettingsFinishWithoutHanging) {
    struct Case {
        const char* name;
        long double xFrom, xTo, yFrom, yTo, gridSpace;
    } cases[] = {{"grid space 0", -10, 10, -10, 10, 0},      {"tiny grid space", -10, 10, -10, 10, 1e-12L},
                 {"far origin", 1e15L, 1e15L + 1, 1e15L, 1e15L + 1, 1e-3L}, {"huge range", -1e300L, 1e300L, -1e300L, 1e300L, 1},
                 {"reversed axes", 10, -10, 10, -10, 1},   {"negative grid space", -10, 10, -10, 10, -2}};
    for (const auto& c : cases) {
        TKwGraphics g = plotOf("x*x");
        g.Cross = g.Grid = true;
        g.X_From = c.xFrom, g.X_To = c.xTo, g.Y_From = c.yFrom, g.Y_To = c.yTo, g.GridSpace = c.gridSpace;
        int steps = 0;
        g.ProcessMessages = [&] { ++steps; };
        QImage image = blank();
        EXPECT_EQ(draw(g, image), 0) << c.name;
        EXPECT_LE(steps, 640 + 640 + 480 + 4) << c.name;
    }
}

TEST(KwGraphics, ColorsAreBlueGreenRedValues) {
    EXPECT_EQ(kwgraphics::ColorFromValue(255), QColor(255, 0, 0));
    EXPECT_EQ(kwgraphics::ColorFromValue(32768), QColor(0, 128, 0));
    EXPECT_EQ(kwgraphics::ColorFromValue(16711680), QColor(0, 0, 255));
    EXPECT_EQ(kwgraphics::ColorFromValue(12632256), QColor(192, 192, 192));
}

TEST(KwGraphics, FloodFillFollowsFourWayNeighboursOfTheSeedsColour) {
    QImage ring = blank(kWhite, 20, 20);
    {
        QPainter p(&ring);
        p.setPen(kBlack);
        p.drawRect(5, 5, 9, 9);  // a 10 by 10 outline
    }
    QImage diagonal = blank(kWhite, 20, 20);
    for (int i = 0; i < 20; ++i) diagonal.setPixel(i, i, kBlack);

    struct Case {
        const char* name;
        const QImage& image;
        QPoint seed;
        QRect bounds;
        int pixels;
    } cases[] = {{"outside the ring", ring, {1, 1}, ring.rect(), 400 - 36 - 64},
                 {"inside the ring", ring, {10, 10}, ring.rect(), 64},
                 {"on the ring", ring, {5, 9}, ring.rect(), 36},
                 {"within bounds", ring, {1, 1}, {0, 0, 3, 3}, 9},
                 {"seed outside bounds", ring, {10, 10}, {0, 0, 3, 3}, 0},
                 {"seed outside the image", ring, {30, 1}, {0, 0, 40, 40}, 0},
                 {"a diagonal line blocks", diagonal, {0, 5}, diagonal.rect(), 190}};
    for (const auto& c : cases) {
        int pixels = 0;
        for (const QRect& span : kwgraphics::FloodFillSpans(c.image, c.seed, c.bounds)) {
            EXPECT_EQ(span.height(), 1);
            for (int x = span.left(); x <= span.right(); ++x)
                EXPECT_EQ(c.image.pixel(x, span.top()), c.image.pixel(c.seed)) << c.name;
            pixels += span.width();
        }
        EXPECT_EQ(pixels, c.pixels) << c.name;
    }
}

}  // namespace
