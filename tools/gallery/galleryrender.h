// Renders the gallery's plot and dot-matrix display into images, for its pages and its PNG output.
#pragma once

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

class QWidget;
class TGradientProgressBar;

namespace gallery {

struct PlotOptions {
    QStringList expressions{"sin(x)*5", "x^2/4-8", "1/x"};
    QString step;  // sampling step in x units; empty samples every pixel column
    bool grid = true;
    bool lines = true;
    double maxDifference = 10;
    QSize size{640, 480};
};

struct PlotResult {
    QImage image;
    int failedLine = 0;  // DrawToCanvas's result: the last expression line that could not be parsed
};

// The expressions plotted in the gallery's colours, one per line.
PlotResult renderPlot(const PlotOptions& options);

// Decimal colour value (blue * 65536 + green * 256 + red) of the nth expression.
QString plotColor(int n);

struct DisplayOptions {
    QString text = QStringLiteral("100%");
    int numChars = 4;
    QSize size{200, 70};
};

// The dot-matrix display as the widget shows it.
QImage renderDisplay(const DisplayOptions& options);

// A sheet with one row per style of the gradient progress bar: a horizontal bar and a vertical
// bar for each position, with bold percentage texts. The sheet's bars are appended to `bars`.
QWidget* createProgressSheet(const QList<int>& positions, QList<TGradientProgressBar*>* bars = nullptr);
// The sheet at 33, 67 and 100 percent.
QImage renderProgressBars();
// The text colour the bars use at a position: white on the dark fill beyond half, else black.
void colourText(TGradientProgressBar* bar);

}  // namespace gallery
