// folvio-icons: writes the desktop's icon files from the program's own painting, the hicolor PNGs and the scalable SVG.
#include "app/pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>
#include <cstdlib>

namespace {

// The sizes of the hicolor theme that desktops look for.
constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

bool writePng(const QString& file, int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(pixels / 16.0, pixels / 16.0);
        pictures::PaintProgramIcon(p);
    }
    return image.save(file, "PNG");
}

bool writeSvg(const QString& file) {
    QSvgGenerator svg;
    svg.setFileName(file);
    svg.setTitle("Marvane Folvio");
    svg.setDescription("A folder closed by a zipper");
    svg.setSize(QSize(256, 256));
    svg.setViewBox(QRect(0, 0, 256, 256));
    QPainter p;
    if (!p.begin(&svg)) return false;
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(16, 16);
    pictures::PaintProgramIcon(p);
    return p.end();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("Usage: folvio-icons OUTDIR APPID\nWrites OUTDIR/hicolor/<size>/apps/APPID.png and .svg.\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");  // painting needs no display
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]) + "/hicolor/";
    const QString name = QString::fromLocal8Bit(argv[2]);
    bool ok = true;
    for (int size : kSizes) {
        const QString dir = out + QString("%1x%1/apps").arg(size);
        ok = QDir().mkpath(dir) && writePng(dir + "/" + name + ".png", size) && ok;
    }
    ok = QDir().mkpath(out + "scalable/apps") && writeSvg(out + "scalable/apps/" + name + ".svg") && ok;
    if (!ok) {
        std::fprintf(stderr, "folvio-icons: cannot write the icons into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
