// Function plotter: draws functions y = f(x), given as expression texts, with grid and axis cross onto a QPainter.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>

#include <functional>
#include <string>
#include <vector>

class QPainter;

namespace kwgraphics {

// The horizontal runs of pixels, inside bounds, that are connected to seed (four-way) and have
// the seed's colour: the area a flood fill in surface mode paints. Empty when seed lies outside
// bounds or the image.
std::vector<QRect> FloodFillSpans(const QImage& image, QPoint seed, QRect bounds);

// A colour given as a decimal value blue * 65536 + green * 256 + red.
QColor ColorFromValue(long value);

}  // namespace kwgraphics

// Plots each line of Expressions (in x) with the colour and sampling step of the same line of
// Colors and Steps. Every expression is parsed by a parser private to one DrawToCanvas call.
// Drawing stays inside the destination area (0, 0, DestinationWidth, DestinationHeight).
class TKwGraphics {
public:
    std::vector<std::string> Expressions;
    // Decimal colour values (blue * 65536 + green * 256 + red), one per expression.
    std::vector<std::string> Colors;
    // Sampling steps in x units, one per expression; an empty line samples every pixel column.
    std::vector<std::string> Steps;
    // Fills the area around (10, 10) after clearing, so that it is the plot's background.
    QColor Background = QColor(255, 255, 255);
    bool PointsOnly = true;
    bool Cross = true;
    QColor CrossColor = QColor(0, 0, 0);
    bool Grid = false;
    QColor GridColor = QColor(192, 192, 192);
    long double GridSpace = 1;
    long double X_From = -10, X_To = 10;
    long double Y_From = -10, Y_To = 10;
    int DestinationWidth = 640, DestinationHeight = 480;
    // When above 0, a sample whose absolute y value is not below it is not joined to the previous one.
    long double Y_MaxDifference = 0;
    bool ClearCanvas = true;
    // The host's step that serves pending GUI events; runs before every grid line, expression
    // and sample, so that Cancel can arrive while drawing. May be empty.
    std::function<void()> ProcessMessages;

    // Draws onto the painter's device. Returns -1 when cancelled; otherwise 0, or the 1-based
    // line of the last expression that could not be parsed (such lines are skipped). Throws
    // std::out_of_range when Colors or Steps has fewer lines than Expressions. A range of
    // width 0 draws no cross, grid or curves; a GridSpace of 0 draws no grid.
    int DrawToCanvas(QPainter& canvas);
    // Makes the running DrawToCanvas return -1 at its next check.
    void Cancel() { cancelled_ = true; }

    // Pixel column of x: trunc((x - from) * width / (to - from)), kept within +-2^24.
    static int UmrechnenX(long double x, int width, long double from, long double to);
    // Pixel row of y: trunc((to - y) * height / (to - from)), kept within +-2^24.
    static int UmrechnenY(long double y, int height, long double from, long double to);

private:
    void fillBackground(QPainter& canvas, int width, int height);
    bool drawGrid(QPainter& canvas, long double x0, long double y0);
    bool step();

    bool cancelled_ = false;
};
