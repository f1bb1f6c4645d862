#include "app/pictures.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOption>

#include <functional>

namespace pictures {

namespace {

using Painting = std::function<void(QPainter&)>;

const QColor kFolder(0xf2, 0xbe, 0x4a), kFolderEdge(0xa8, 0x73, 0x12), kFolderBack(0xdc, 0xa0, 0x2c);
const QColor kNavy(0x00, 0x00, 0x80);

// Paints a picture drawn on a 16-unit grid at the given pixel size.
QPixmap paint(int size, const Painting& painting) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    painting(p);
    return pixmap;
}

// The highest pixel ratio of the screens: a picture painted at it is sharp on every screen.
qreal screenScale() { return qGuiApp ? qGuiApp->devicePixelRatio() : 1.0; }

// A picture of `size` logical pixels, painted at the screens' pixel ratio.
QPixmap paintForScreen(int size, const Painting& painting) {
    const qreal scale = screenScale();
    QPixmap pixmap = paint(qRound(size * scale), painting);
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

// An icon painted afresh at every size and pixel ratio it is drawn at, so that it never shows
// a bitmap scaled up; the disabled and selected forms come from the style, as for any icon.
class PaintedIconEngine final : public QIconEngine {
public:
    PaintedIconEngine(Painting painting, QList<QSize> sizes) : painting_(std::move(painting)), sizes_(std::move(sizes)) {}

    QIconEngine* clone() const override { return new PaintedIconEngine(painting_, sizes_); }
    QString key() const override { return QStringLiteral("FolvioPainted"); }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return sizes_; }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = qMin(size.width(), size.height());
        return QSize(side, side);
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QSize side = actualSize(rect.size(), mode, state);
        QPixmap pixmap = painted(qRound(side.width() * scale), mode);
        pixmap.setDevicePixelRatio(scale);
        painter->drawPixmap(QRect(rect.topLeft() + QPoint((rect.width() - side.width()) / 2, (rect.height() - side.height()) / 2), side),
                            pixmap);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return painted(actualSize(size, mode, state).width(), mode);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
        const int pixels = qRound(actualSize(size, mode, state).width() * scale);  // the size is in logical pixels
#else
        Q_UNUSED(scale);
        const int pixels = actualSize(size, mode, state).width();  // the size is in device pixels already
#endif
        return painted(pixels, mode);
    }

private:
    QPixmap painted(int pixels, QIcon::Mode mode) const {
        QPixmap pixmap = pictures::paint(pixels, painting_);
        if (mode == QIcon::Normal) return pixmap;
        if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
            QStyleOption option;
            option.palette = QApplication::palette();
            return app->style()->generatedIconPixmap(mode, pixmap, &option);
        }
        return pixmap;
    }

    Painting painting_;
    QList<QSize> sizes_;
};

QIcon icon(const Painting& painting, std::initializer_list<int> sizes = {16, 24, 32}) {
    QList<QSize> listed;
    for (int size : sizes) listed.append(QSize(size, size));
    return QIcon(new PaintedIconEngine(painting, std::move(listed)));
}

// A folder filling the grid from x0 to x1 and y0 to y1: a back with its tab and a front.
void folder(QPainter& p, qreal x0, qreal y0, qreal x1, qreal y1) {
    const qreal tab = (x1 - x0) * 0.4;
    QPainterPath back;
    back.moveTo(x0, y0 + 1);
    back.lineTo(x0 + tab - 1, y0 + 1);
    back.lineTo(x0 + tab, y0 + 2);
    back.lineTo(x1, y0 + 2);
    back.lineTo(x1, y1);
    back.lineTo(x0, y1);
    back.closeSubpath();
    p.setPen(QPen(kFolderEdge, 0.6));
    p.setBrush(kFolderBack);
    p.drawPath(back);
    p.setBrush(kFolder);
    p.drawRoundedRect(QRectF(x0, y0 + 3.5, x1 - x0, y1 - y0 - 3.5), 0.8, 0.8);
}

// A round badge with a white sign in the lower right corner.
void badge(QPainter& p, const QColor& colour, bool plus) {
    p.setPen(QPen(colour.darker(140), 0.6));
    p.setBrush(colour);
    p.drawEllipse(QRectF(8.5, 8.5, 7, 7));
    p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(10.3, 12), QPointF(13.7, 12));
    if (plus) p.drawLine(QPointF(12, 10.3), QPointF(12, 13.7));
}

void programPainting(QPainter& p) {
    folder(p, 0.8, 1.5, 15.2, 14.5);
    // The zipper down the front: a dark tape with light teeth and a pull at the top.
    p.setPen(Qt::NoPen);
    p.setBrush(kNavy);
    p.drawRect(QRectF(6.9, 5, 2.2, 9.5));
    p.setBrush(QColor(0xe8, 0xe8, 0xf0));
    for (int i = 0; i < 4; ++i) {
        p.drawRect(QRectF(6.4, 6.4 + i * 2.0, 1.4, 0.8));
        p.drawRect(QRectF(8.2, 7.4 + i * 2.0, 1.4, 0.8));
    }
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 0.5));
    p.setBrush(QColor(0xc0, 0xc0, 0xc8));
    p.drawRoundedRect(QRectF(6.6, 4.2, 2.8, 2.2), 0.5, 0.5);
}

}  // namespace

void PaintProgramIcon(QPainter& painter) { programPainting(painter); }

QPixmap ProgramPixmap(int size) { return paintForScreen(size, programPainting); }

QIcon ProgramIcon() { return icon(programPainting, {16, 22, 24, 32, 48, 64, 128, 256}); }

QIcon AddFolderIcon() {
    return icon([](QPainter& p) {
        folder(p, 0.5, 1.5, 13, 12.5);
        badge(p, QColor(0x2e, 0x9a, 0x35), true);
    });
}

QIcon RemoveFolderIcon() {
    return icon([](QPainter& p) {
        folder(p, 0.5, 1.5, 13, 12.5);
        badge(p, QColor(0xc8, 0x2a, 0x22), false);
    });
}

QIcon BrowseIcon() {
    return icon([](QPainter& p) {
        folder(p, 0.5, 2, 15.5, 14);
        p.setPen(Qt::NoPen);
        p.setBrush(kNavy);
        for (int i = 0; i < 3; ++i) p.drawEllipse(QRectF(4 + i * 3, 9, 2, 2));
    });
}

QIcon StartIcon() {
    return icon(
        [](QPainter& p) {
            programPainting(p);
            QPainterPath arrow;  // a green "go" arrow over the folder's corner
            arrow.moveTo(9.5, 8.5);
            arrow.lineTo(15.5, 12);
            arrow.lineTo(9.5, 15.5);
            arrow.closeSubpath();
            p.setPen(QPen(QColor(0x1c, 0x6b, 0x22), 0.6));
            p.setBrush(QColor(0x34, 0xa8, 0x3c));
            p.drawPath(arrow);
        },
        {16, 24, 32, 48});
}

QIcon CancelIcon() {
    return icon(
        [](QPainter& p) {
            p.setPen(QPen(QColor(0x8a, 0x16, 0x10), 0.7));
            p.setBrush(QColor(0xd8, 0x32, 0x26));
            p.drawRoundedRect(QRectF(2, 2, 12, 12), 2, 2);
            p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
            p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
        },
        {16, 24, 32, 48});
}

QPixmap KeyPixmap(int size) {
    return paintForScreen(size, [](QPainter& p) {
        const QColor gold(0xe0, 0xb0, 0x30), edge(0x8a, 0x62, 0x0a);
        p.setPen(QPen(edge, 0.7));
        p.setBrush(gold);
        QPainterPath key;
        key.addEllipse(QRectF(1, 1.5, 7, 7));
        key.addRect(QRectF(6.5, 4.2, 8.5, 1.8));
        key.addRect(QRectF(11.5, 6, 1.6, 2.6));
        key.addRect(QRectF(9, 6, 1.4, 1.8));
        // The outline of the union is found at 64 times the grid, where the ring's curve stays round.
        const QTransform fine = QTransform::fromScale(64, 64);
        p.drawPath(fine.inverted().map(fine.map(key).simplified()));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(2.8, 3.3, 2.6, 2.6));
    });
}

QPixmap WarningPixmap(int size) {
    return paintForScreen(size, [](QPainter& p) {
        QPainterPath triangle;  // a warning sign: a yellow triangle with rounded corners and a black mark
        triangle.moveTo(8, 1.2);
        triangle.lineTo(15.2, 14.3);
        triangle.lineTo(0.8, 14.3);
        triangle.closeSubpath();
        p.setPen(QPen(QColor(0x20, 0x20, 0x20), 0.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(0xff, 0xd8, 0x20));
        p.drawPath(triangle);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x10, 0x10, 0x10));
        QPainterPath mark;
        mark.moveTo(7.1, 5.2);
        mark.lineTo(8.9, 5.2);
        mark.lineTo(8.45, 10.3);
        mark.lineTo(7.55, 10.3);
        mark.closeSubpath();
        p.drawPath(mark);
        p.drawEllipse(QPointF(8, 12.1), 0.95, 0.95);
    });
}

}  // namespace pictures
