// The component gallery: shows each component at work, or writes a plot or a control to PNG.
#include "galleryrender.h"
#include "gallerywindow.h"
#include "buildinfo.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QImage>

#include <cstdio>
#include <cstdlib>

namespace {

bool parseSize(const QString& text, QSize* size) {
    const QStringList parts = text.split('x');
    bool okW = false, okH = false;
    if (parts.size() != 2) return false;
    const int w = parts[0].toInt(&okW), h = parts[1].toInt(&okH);
    if (!okW || !okH || w <= 0 || h <= 0 || w > 10000 || h > 10000) return false;
    *size = QSize(w, h);
    return true;
}

int save(const QImage& image, const QString& file) {
    if (!image.save(file, "PNG")) {
        std::fprintf(stderr, "folvio-gallery: cannot write %s\n", qPrintable(file));
        return 1;
    }
    std::printf("wrote %s (%dx%d)\n", qPrintable(file), image.width(), image.height());
    return 0;
}

bool envSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

int main(int argc, char** argv) {
    // Writing PNGs needs no display: without one, draw on the offscreen platform.
    const bool headless = !envSet("QT_QPA_PLATFORM") && !envSet("DISPLAY") && !envSet("WAYLAND_DISPLAY");
    if (headless) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName("folvio-gallery");
    QApplication::setApplicationVersion(buildinfo::kVersion);

    QCommandLineParser cli;
    cli.setApplicationDescription("Shows the Marvane components at work; with --plot, --display, --progress or --window it "
                                  "writes a PNG instead and exits.");
    cli.addHelpOption();
    cli.addVersionOption();
    const QCommandLineOption plot("plot", "Write a plot to <file>.", "file");
    const QCommandLineOption expression({"e", "expression"}, "Expression in x to plot (repeatable).", "text");
    const QCommandLineOption step("step", "Sampling step in x units.", "step");
    const QCommandLineOption noGrid("no-grid", "Plot without grid lines.");
    const QCommandLineOption points("points", "Plot one pixel per sample instead of lines.");
    const QCommandLineOption maxDifference("max-difference", "Y_MaxDifference (default 10).", "value");
    const QCommandLineOption display("display", "Write the dot-matrix display to <file>.", "file");
    const QCommandLineOption text("text", "Text of the display (default 100%).", "text");
    const QCommandLineOption chars("chars", "Character positions of the display (default 4).", "n");
    const QCommandLineOption size("size", "Size in pixels, WIDTHxHEIGHT.", "size");
    const QCommandLineOption window("window", "Write the gallery window to <file>.", "file");
    const QCommandLineOption progress("progress", "Write the progress bar in its five styles to <file>.", "file");
    const QCommandLineOption page("page", "Page of the window to show (from 0).", "n");
    const QCommandLineOption html("html", "Local HTML file for the web page tab.", "file");
    cli.addOptions({plot, expression, step, noGrid, points, maxDifference, display, text, chars, size, window, progress, page, html});
    cli.process(app);

    QSize requested;
    if (cli.isSet(size) && !parseSize(cli.value(size), &requested)) {
        std::fprintf(stderr, "folvio-gallery: --size wants WIDTHxHEIGHT, such as 640x480\n");
        return 2;
    }
    if (cli.isSet(plot)) {
        gallery::PlotOptions options;
        if (cli.isSet(expression)) options.expressions = cli.values(expression);
        options.step = cli.value(step);
        options.grid = !cli.isSet(noGrid);
        options.lines = !cli.isSet(points);
        if (cli.isSet(maxDifference)) options.maxDifference = cli.value(maxDifference).toDouble();
        if (requested.isValid()) options.size = requested;
        const auto result = gallery::renderPlot(options);
        if (result.failedLine > 0)
            std::fprintf(stderr, "folvio-gallery: expression %d could not be parsed\n", result.failedLine);
        return save(result.image, cli.value(plot));
    }
    if (cli.isSet(display)) {
        gallery::DisplayOptions options;
        if (cli.isSet(text)) options.text = cli.value(text);
        if (cli.isSet(chars)) options.numChars = cli.value(chars).toInt();
        if (requested.isValid()) options.size = requested;
        return save(gallery::renderDisplay(options), cli.value(display));
    }

    if (cli.isSet(progress)) return save(gallery::renderProgressBars(), cli.value(progress));

    if (headless && !cli.isSet(window)) {
        std::fprintf(stderr, "folvio-gallery: no display is available; --plot, --display, --progress or --window "
                             "write a PNG without one\n");
        return 2;
    }
    GalleryWindow w(cli.value(html));
    w.resize(requested.isValid() ? requested : QSize(1100, 640));
    if (cli.isSet(page)) w.showPage(cli.value(page).toInt());
    w.show();
    if (cli.isSet(window)) {
        QApplication::processEvents();
        return save(w.grab().toImage(), cli.value(window));
    }
    return app.exec();
}
