#include "controls/gradientgeometry.h"
#include "controls/gradientprogressbar.h"

#include "qtsupport.h"

#include <gtest/gtest.h>

#include <QPaintEvent>
#include <QRegion>
#include <QTest>

#include <string>
#include <vector>

using namespace gradient;

namespace {

const Rect kClient{0, 0, 150, 21};  // the main window's bars: 150 by 21 with a lowered edge

TEST(GradientGeometry, FillFollowsThePositionAndStaysInsideTheBar) {
    struct Case {
        const char* name;
        int32_t position, min, max;
        bool vertical;
        Rect expected;
    };
    const Rect outer = OuterRect(kClient, true);
    ASSERT_EQ(outer, (Rect{2, 2, 148, 19}));
    const std::vector<Case> cases = {
        {"half of 146 inner pixels is 73", 50, 0, 100, false, {2, 2, 75, 19}},
        {"position at min draws nothing", 0, 0, 100, false, {2, 2, 2, 19}},
        {"at max the bar is full", 100, 0, 100, false, outer},
        {"beyond max the bar is still just full", 250, 0, 100, false, outer},
        {"below min the bar is empty", -30, 0, 100, false, {2, 2, 2, 19}},
        {"a range that starts above 0 counts from min", 15, 10, 20, false, {2, 2, 75, 19}},
        {"a huge position cannot overflow", 2000000000, 0, 3, false, outer},
        {"vertical bars fill from the bottom", 50, 0, 100, true, {2, 11, 148, 19}},
        {"vertical beyond max is full", 101, 0, 100, true, outer},
        {"an empty range at min is empty", 5, 5, 5, false, {2, 2, 2, 19}},
        {"an empty range above min is full", 6, 5, 5, false, outer},
    };
    for (const Case& c : cases) EXPECT_EQ(FillRect(outer, c.position, c.min, c.max, c.vertical), c.expected) << c.name;
}

TEST(GradientGeometry, BlocksHaveAPitchOfTwoThirdsThePlusGapAndEndFlushWhenFull) {
    EXPECT_EQ(BlockPitch(17), 13);  // 11-pixel blocks, 2-pixel gaps
    EXPECT_EQ(BlockPitch(12), 10);  // the countdown's 297 by 17 bar less the edge is 13 high: pitch 10

    const Rect outer = OuterRect(kClient, true);
    const std::vector<Block> half = Blocks(FillRect(outer, 50, 0, 100, false), 13, false, false);
    ASSERT_EQ(half.size(), 5u);  // 73 pixels hold five complete blocks; the sixth is not started
    EXPECT_EQ(half[0].rect, (Rect{2, 2, 13, 19}));
    EXPECT_EQ(half[1].rect, (Rect{15, 2, 26, 19}));
    EXPECT_EQ(half[1].colourAt, 26);

    const std::vector<Block> full = Blocks(outer, 13, true, false);
    ASSERT_EQ(full.size(), 12u);  // 11 complete blocks and the partial last one
    EXPECT_EQ(full[10].rect, (Rect{132, 2, 143, 19}));
    EXPECT_EQ(full.back().rect, (Rect{145, 2, 148, 19}));
    EXPECT_EQ(full.back().colourAt, 143);

    const Rect column{2, 2, 19, 148};  // a vertical bar: blocks from the bottom up
    const std::vector<Block> up = Blocks(column, 13, true, true);
    ASSERT_FALSE(up.empty());
    EXPECT_EQ(up[0].rect, (Rect{2, 136, 19, 147}));
    EXPECT_EQ(up.back().rect.top, 2);

    EXPECT_TRUE(Blocks(outer, 0, true, false).empty()) << "a degenerate pitch must not loop";
    EXPECT_EQ(Blocks({2, 2, 8, 19}, 13, true, false).size(), 1u) << "a bar shorter than a block is one block when full";
}

TEST(GradientGeometry, PicturesTileTheFillAndAddOneWhenExactlyFull) {
    const Rect fill{2, 2, 50, 19};
    EXPECT_EQ(PictureOrigins(fill, 16, 16, false, false), (std::vector<Point>{{2, 2}, {18, 2}}));
    EXPECT_EQ(PictureOrigins(fill, 16, 16, true, false), (std::vector<Point>{{2, 2}, {18, 2}, {34, 2}}));
    EXPECT_TRUE(PictureOrigins(fill, 0, 16, true, false).empty());
}

TEST(GradientGeometry, PercentTextRoundsHalvesToEven) {
    struct Case {
        int32_t position, min, max;
        std::string text;
    };
    const std::vector<Case> cases = {
        {50, 0, 100, "50 %"}, {1, 0, 3, "33 %"},    {2, 0, 3, "67 %"},    {1, 0, 8, "12 %"},
        {3, 0, 8, "38 %"},    {150, 0, 100, "150 %"}, {-1, 0, 8, "-12 %"}, {15, 10, 20, "50 %"},
        {0, 0, 0, "0 %"},     {1, 0, 0, "100 %"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PercentText(c.position, c.min, c.max), c.text) << c.position << " of " << c.min << ".." << c.max;
}

TEST(GradientGeometry, GradientColourRunsFromBeginToEnd) {
    const Rgb darkBlue{0, 0, 64}, blue{0, 0, 160};
    EXPECT_EQ(GradientColor(darkBlue, blue, 0, 146), darkBlue);
    EXPECT_EQ(GradientColor(darkBlue, blue, 73, 146), (Rgb{0, 0, 112}));
    EXPECT_EQ(GradientColor({255, 255, 255}, {0, 0, 0}, 1, 3), (Rgb{170, 170, 170}));
    EXPECT_EQ(GradientColor(darkBlue, blue, 5, 0), darkBlue) << "a bar without inner pixels";
}

TEST(GradientGeometry, TextIsCentredAndVerticalTextRunsAlongTheBar) {
    EXPECT_EQ(TextOrigin(150, 21, 30, 13, false), (Point{60, 4}));
    EXPECT_EQ(TextOrigin(21, 150, 30, 13, true), (Point{17, 60}));
    EXPECT_EQ(TextRect(21, 150, 30, 13, true), (Rect{4, 60, 17, 90}));
}

TEST(GradientGeometry, APositionChangeRepaintsOnlyTheStripBetweenTheEdges) {
    EXPECT_EQ(PositionStrip(kClient, 10, 20, 0, 100, false, 0), (Rect{13, 0, 32, 21}));
    EXPECT_EQ(PositionStrip(kClient, 20, 10, 0, 100, false, 13), (Rect{0, 0, 45, 21}));
    EXPECT_EQ(PositionStrip({0, 0, 21, 150}, 0, 50, 0, 100, true, 0), (Rect{0, 73, 21, 152}));
}

// A bar that records what each paint event covered.
class RecordingBar : public TGradientProgressBar {
public:
    QRegion painted;

protected:
    void paintEvent(QPaintEvent* event) override {
        painted += event->region();
        TGradientProgressBar::paintEvent(event);
    }
};

QColor pixel(const TGradientProgressBar& bar, int x, int y) { return bar.Render().pixelColor(x, y); }

class GradientProgressBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        bar.resize(150, 21);
        bar.SetStyle(TGradientProgressBar::sSolid);
    }
    TGradientProgressBar bar;
};

TEST_F(GradientProgressBarTest, StartsWithTheDesignDefaults) {
    TGradientProgressBar fresh;
    EXPECT_EQ(fresh.size(), QSize(150, 16));
    EXPECT_EQ(fresh.Style(), TGradientProgressBar::sRectangles);
    EXPECT_EQ(fresh.BevelOuter(), TGradientProgressBar::bvLowered);
    EXPECT_EQ(fresh.BarBevelOuter(), TGradientProgressBar::bvNone);
    EXPECT_EQ(fresh.Orientation(), TGradientProgressBar::orHorizontal);
    EXPECT_EQ(fresh.Max(), 100);
    EXPECT_EQ(fresh.Step(), 10);
    EXPECT_FALSE(fresh.ShowText());
    EXPECT_TRUE(fresh.TransparentGlyph());
    EXPECT_EQ(fresh.BeginColor(), QColor(0, 0, 128));
}

TEST_F(GradientProgressBarTest, SettersKeepMinBelowMaxAndStepsSkipZero) {
    bar.SetMin(20);
    bar.SetMax(10);
    EXPECT_EQ(bar.Max(), 100) << "a maximum below the minimum is ignored";
    bar.SetMin(200);
    EXPECT_EQ(bar.Min(), 20) << "a minimum above the maximum is ignored";
    bar.SetPosition(30);
    bar.SetStep(0);
    bar.StepIt();
    bar.StepBy(0);
    EXPECT_EQ(bar.Position(), 30);
    bar.SetStep(25);
    bar.StepIt();
    bar.StepBy(-5);
    EXPECT_EQ(bar.Position(), 50);
}

TEST_F(GradientProgressBarTest, SolidFillCoversHalfTheInnerPixelsAtFifty) {
    bar.SetPosition(50);
    EXPECT_EQ(pixel(bar, 2, 10), bar.BeginColor());
    EXPECT_EQ(pixel(bar, 74, 10), bar.BeginColor());
    EXPECT_NE(pixel(bar, 75, 10), bar.BeginColor());
    bar.SetPosition(500);
    EXPECT_EQ(pixel(bar, 147, 10), bar.BeginColor()) << "beyond Max the bar is full";
    EXPECT_NE(pixel(bar, 148, 10), bar.BeginColor()) << "but the edge stays";
}

TEST_F(GradientProgressBarTest, GradientFillTakesEachColumnsColour) {
    bar.SetStyle(TGradientProgressBar::sExSolid);
    bar.SetBeginColor(QColor(0, 0, 64));
    bar.SetEndColor(QColor(0, 0, 160));
    bar.SetPosition(100);
    EXPECT_EQ(pixel(bar, 2, 10), QColor(0, 0, 64));
    EXPECT_EQ(pixel(bar, 2 + 73, 10), QColor(0, 0, 112));
}

TEST_F(GradientProgressBarTest, PicturesWithoutAGlyphDrawNoFill) {
    const QImage empty = (bar.SetPosition(0), bar.Render());
    bar.SetStyle(TGradientProgressBar::sPictures);
    bar.SetPosition(80);
    EXPECT_EQ(bar.Render(), empty);

    QImage glyph(8, 8, QImage::Format_RGB32);
    glyph.fill(Qt::red);
    bar.SetGlyph(glyph);
    EXPECT_EQ(bar.height(), 12) << "a horizontal bar takes the picture's height plus 4";
    EXPECT_EQ(pixel(bar, 3, 5), bar.palette().color(QPalette::Window)) << "a one-colour glyph is all transparent";
    bar.SetTransparentGlyph(false);
    EXPECT_EQ(pixel(bar, 3, 5), QColor(Qt::red));
}

TEST_F(GradientProgressBarTest, TextShowsThePercentageOrThePosition) {
    bar.SetShowText(true);
    bar.SetMax(3);
    bar.SetPosition(2);
    EXPECT_EQ(bar.Text(), "67 %");
    bar.SetShowTextStyle(TGradientProgressBar::stsPosition);
    EXPECT_EQ(bar.Text(), "2");
}

TEST_F(GradientProgressBarTest, APositionChangeRepaintsOnlyTheStripThatChanged) {
    RecordingBar recording;
    recording.resize(300, 21);
    recording.SetStyle(TGradientProgressBar::sExSolid);
    recording.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&recording));
    QTest::qWait(20);
    recording.painted = QRegion();
    recording.SetPosition(10);
    QTest::qWait(20);
    ASSERT_FALSE(recording.painted.isEmpty());
    EXPECT_LE(recording.painted.boundingRect().right(), 40);

    recording.SetShowText(true);
    QTest::qWait(20);
    recording.painted = QRegion();
    recording.SetPosition(11);
    QTest::qWait(20);
    EXPECT_TRUE(recording.painted.boundingRect().contains(QPoint(150, 10))) << "the centred text is repainted too";
    EXPECT_LT(recording.painted.boundingRect().width(), 200);
}

}  // namespace
