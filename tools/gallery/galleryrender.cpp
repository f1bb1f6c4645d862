#include "galleryrender.h"

#include "components/kwdigianz.h"
#include "components/kwgraphics.h"

#include <QPainter>

namespace gallery {

QString plotColor(int n) {
    // red, blue, dark green, purple, orange
    static const char* const kColors[] = {"255", "16711680", "32768", "8388736", "33023"};
    return QString::fromLatin1(kColors[n % 5]);
}

PlotResult renderPlot(const PlotOptions& options) {
    TKwGraphics plot;
    for (int i = 0; i < options.expressions.size(); ++i) {
        plot.Expressions.push_back(options.expressions[i].toStdString());
        plot.Colors.push_back(plotColor(i).toStdString());
        plot.Steps.push_back(options.step.toStdString());
    }
    plot.Grid = options.grid;
    plot.PointsOnly = !options.lines;
    plot.Y_MaxDifference = options.maxDifference;
    plot.DestinationWidth = options.size.width();
    plot.DestinationHeight = options.size.height();

    PlotResult result;
    result.image = QImage(options.size, QImage::Format_RGB32);
    result.image.fill(Qt::white);
    QPainter painter(&result.image);
    result.failedLine = plot.DrawToCanvas(painter);
    return result;
}

QImage renderDisplay(const DisplayOptions& options) {
    TKwDigianz display;
    display.resize(options.size);
    display.setNumChars(options.numChars);
    display.setText(options.text);
    return display.Canvas().copy();
}

}  // namespace gallery
