#include "components/kwdigianz.h"

#include "qtsupport.h"

#include <gtest/gtest.h>

#include <QImage>

#include <set>
#include <utility>

namespace {

const QRgb kGrey = qRgb(128, 128, 128);
const QRgb kOff = qRgb(0, 128, 0);
const QRgb kOn = qRgb(0, 255, 0);

// The display of the edge case: 4 characters 200 by 70, 80% dots, giving 23 cells of 8 pixels.
struct Display {
    Display() {
        d.resize(200, 70);
        d.Repaint();
    }
    // Colour at the middle of dot (column, row) of a position.
    QRgb dot(int position, int column, int row) const {
        const auto& l = d.DotLayout();
        const int left = (position - 1) * (l.charGap + l.charWidth) + (column - 1) * (l.dotWidth + l.gapWidth);
        const int top = (row - 1) * l.dotHeight + row * l.gapHeight;
        return d.Canvas().pixel(left + l.dotWidth / 2, top + l.dotHeight / 2);
    }
    TKwDigianz d;
};

// The lit dots of a glyph as the table lists them: two-digit "cr" pieces.
std::set<std::pair<int, int>> litDots(const char* dots) {
    std::set<std::pair<int, int>> lit;
    const QStringList pieces = QString::fromLatin1(dots).split(',');
    for (const QString& p : pieces)
        if (p.size() == 2) lit.insert({p[0].digitValue(), p[1].digitValue()});
    return lit;
}

TEST(KwDigianz, GeometryOfTheEdgeCase) {
    Display s;
    EXPECT_EQ(s.d.width(), 184);
    const auto& l = s.d.DotLayout();
    EXPECT_EQ(l.cells, 23);
    EXPECT_EQ(l.cell, 8.0f);
    EXPECT_EQ(l.dotWidth, 6);
    EXPECT_EQ(l.gapWidth, 2);
    EXPECT_EQ(l.dotHeight, 8);
    EXPECT_EQ(l.gapHeight, 2);
    EXPECT_EQ(l.charWidth, 40);
    EXPECT_EQ(l.charGap, 8);
    EXPECT_EQ(s.d.Canvas().size(), QSize(184, 70));
}

TEST(KwDigianz, DotAtColumn1Row1OfPosition2FillsItsRectangleExactly) {
    for (const auto& [text, color] : {std::pair{"5555", kOn}, std::pair{"100%", kOff}}) {
        Display s;
        s.d.setText(text);
        const QImage& c = s.d.Canvas();
        for (int y = 0; y < 12; ++y)
            for (int x = 46; x < 56; ++x) {
                const bool inside = x >= 48 && x < 54 && y >= 2 && y < 10;
                EXPECT_EQ(c.pixel(x, y), inside ? color : kGrey) << text << " at " << x << "," << y;
            }
    }
}

TEST(KwDigianz, EveryGlyphLightsTheDotsOfItsFontEntry) {
    for (QChar ch : QStringLiteral("0123456789%")) {
        Display s;
        s.d.setText(QString(4, ch));
        const auto lit = litDots(kwdigianz::GlyphDots(ch));
        for (int column = 1; column <= 6; ++column)
            for (int row = 1; row <= 7; ++row)
                EXPECT_EQ(s.dot(1, column, row), lit.count({column, row}) ? kOn : kOff)
                    << ch.toLatin1() << " column " << column << " row " << row;
    }
    EXPECT_EQ(litDots(kwdigianz::GlyphDots('9')).size(), 16u) << "the lone \"1\" lights nothing";
}

TEST(KwDigianz, UnknownCharactersShowOnlyOffDots) {
    Display s;
    s.d.setText("12:5");
    for (int column = 1; column <= 6; ++column)
        for (int row = 1; row <= 7; ++row) EXPECT_EQ(s.dot(3, column, row), kOff);
    EXPECT_EQ(s.dot(1, 3, 1), kOn) << "the \"1\"";
    EXPECT_EQ(s.dot(4, 1, 1), kOn) << "the \"5\"";
}

TEST(KwDigianz, ZeichenReadsColumnThenRowsAfterEachComma) {
    Display s;
    s.d.setText("");
    s.d.Matrix(1);
    s.d.Zeichen(1, "123,4x,5");  // dots (1,2) (1,3); (4,0) off the top; column 5 alone
    EXPECT_EQ(s.dot(1, 1, 2), kOn);
    EXPECT_EQ(s.dot(1, 1, 3), kOn);
    EXPECT_EQ(s.dot(1, 4, 1), kOff);
    EXPECT_EQ(s.dot(1, 5, 1), kOff);
}

TEST(KwDigianz, TextBeyondNumCharsFallsPastTheRightEdge) {
    Display s;
    s.d.setText("12345678901234567890");
    EXPECT_EQ(s.dot(4, 4, 1), kOn) << "the \"4\" at the last position";
    s.d.setText(QString(100000, '8'));
    EXPECT_EQ(s.d.Canvas().size(), QSize(184, 70));
}

TEST(KwDigianz, NoCharactersOrNoDotSizeDrawsNothing) {
    for (int which = 0; which < 2; ++which) {
        Display s;
        const QImage before = s.d.Canvas().copy();
        if (which == 0) s.d.setNumChars(0);
        else s.d.setMatixSize(0);
        EXPECT_EQ(s.d.Canvas(), before);
        s.d.PrintZeichenkette("88");
        EXPECT_EQ(s.d.Canvas(), before);
    }
}

TEST(KwDigianz, PropertiesAreClampedToSensibleRanges) {
    TKwDigianz d;
    d.setMatixSize(150);
    EXPECT_EQ(d.MatixSize(), 100);
    d.setNumChars(-3);
    EXPECT_EQ(d.NumChars(), 0);
    d.setSpaceSquares(-1);
    EXPECT_EQ(d.SpaceSquares(), 0);
    d.setNumChars(1000);
    d.setSpaceSquares(1000);
    d.resize(10, 10);
    d.Repaint();
    EXPECT_EQ(d.width(), 0) << "no whole cell fits";
    d.setText("100%");
}

TEST(KwDigianz, SettingAPropertyRedrawsAtAWholeNumberOfCells) {
    TKwDigianz d;
    d.resize(103, 70);
    d.setProperty("SpaceSquares", 2);  // 4 * 5 + 3 * 2 = 26 cells
    EXPECT_EQ(d.width(), 78);
    d.setProperty("ForegroundColorOn", QColor(255, 0, 0));
    d.setProperty("Text", QStringLiteral("1"));
    EXPECT_EQ(d.property("Text").toString(), "1");
    const auto& l = d.DotLayout();
    EXPECT_EQ(d.Canvas().pixel(2 * (l.dotWidth + l.gapWidth) + 1, l.gapHeight + 1), qRgb(255, 0, 0));
}

TEST(KwDigianz, ResizingRecomputesTheGeometry) {
    Display s;
    s.d.show();
    s.d.resize(368, 140);
    EXPECT_EQ(s.d.DotLayout().cell, 16.0f);
    EXPECT_EQ(s.d.Canvas().size(), QSize(368, 140));
    EXPECT_EQ(s.dot(2, 1, 1), kOff);
    EXPECT_EQ(s.d.Canvas().pixel(96 + 6, 4 + 8), kOff) << "dot (1, 1) of position 2 at twice the size";
}

TEST(KwDigianz, TheWidgetShowsItsCanvas) {
    Display s;
    s.d.setText("42%");
    EXPECT_EQ(s.d.grab().toImage().convertToFormat(QImage::Format_RGB32), s.d.Canvas());
    TKwDigianz2 empty;
    EXPECT_NE(empty.metaObject()->className(), nullptr);
}

}  // namespace
