// Renders the gallery's plot and dot-matrix display into images, for its pages and its PNG output.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

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

}  // namespace gallery
