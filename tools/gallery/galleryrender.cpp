#include "galleryrender.h"

#include "components/kwdigianz.h"
#include "components/kwgraphics.h"
#include "controls/gradientprogressbar.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QWidget>

#include <memory>

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

namespace {

const char* styleName(TGradientStyle style) {
    switch (style) {
    case TGradientProgressBar::sSolid: return "sSolid";
    case TGradientProgressBar::sRectangles: return "sRectangles";
    case TGradientProgressBar::sExSolid: return "sExSolid";
    case TGradientProgressBar::sExRectangles: return "sExRectangles";
    case TGradientProgressBar::sPictures: return "sPictures";
    }
    return "";
}

// The picture sPictures tiles: a blue square on a white field that is left out.
QImage tile() {
    QImage image(12, 12, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.fillRect(2, 2, 8, 8, QColor(0, 0, 160));
    p.fillRect(4, 4, 4, 4, QColor(120, 160, 255));
    return image;
}

TGradientProgressBar* sampleBar(QWidget* parent, TGradientStyle style, bool vertical, int position) {
    auto* bar = new TGradientProgressBar(parent);
    bar->SetStyle(style);
    bar->SetBeginColor(QColor(0, 0, 64));
    bar->SetEndColor(QColor(0, 0, 160));
    if (style == TGradientProgressBar::sPictures) bar->SetGlyph(tile());
    bar->SetOrientation(vertical ? TGradientProgressBar::orVertical : TGradientProgressBar::orHorizontal);
    bar->SetShowText(true);
    QFont bold = bar->font();
    bold.setBold(true);
    bar->setFont(bold);
    bar->SetPosition(position);
    colourText(bar);
    const int thickness = style == TGradientProgressBar::sPictures ? 16 : 21;
    if (vertical) bar->setFixedSize(thickness + 3, 150);
    else bar->setFixedSize(150, thickness);
    return bar;
}

}  // namespace

void colourText(TGradientProgressBar* bar) {
    const bool dark = bar->Position() * 2 > bar->Max() && bar->Style() != TGradientProgressBar::sPictures;
    bar->SetTextColor(dark ? Qt::white : Qt::black);
}

QWidget* createProgressSheet(const QList<int>& positions, QList<TGradientProgressBar*>* bars) {
    auto* sheet = new QWidget;
    sheet->setAutoFillBackground(true);
    auto* grid = new QGridLayout(sheet);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(8);
    const int n = int(positions.size());
    for (int p = 0; p < n; ++p) {
        grid->addWidget(new QLabel(QString("%1 %").arg(positions[p])), 0, p + 1);
        grid->addWidget(new QLabel(QString("%1 %").arg(positions[p])), 0, n + p + 1);
    }
    int row = 1;
    for (TGradientStyle style : {TGradientProgressBar::sSolid, TGradientProgressBar::sRectangles,
                                 TGradientProgressBar::sExSolid, TGradientProgressBar::sExRectangles,
                                 TGradientProgressBar::sPictures}) {
        grid->addWidget(new QLabel(styleName(style)), row, 0, Qt::AlignTop);
        for (int p = 0; p < n; ++p) {
            TGradientProgressBar* across = sampleBar(sheet, style, false, positions[p]);
            TGradientProgressBar* upright = sampleBar(sheet, style, true, positions[p]);
            grid->addWidget(across, row, p + 1, Qt::AlignTop);
            grid->addWidget(upright, row, n + p + 1);
            if (bars) *bars << across << upright;
        }
        ++row;
    }
    return sheet;
}

QImage renderProgressBars() {
    std::unique_ptr<QWidget> sheet(createProgressSheet({33, 67, 100}));
    sheet->adjustSize();
    sheet->show();
    QApplication::processEvents();
    return sheet->grab().toImage();
}

}  // namespace gallery
