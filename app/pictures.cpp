#include "app/pictures.h"

#include <QPainter>
#include <QPainterPath>

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

QIcon icon(const Painting& painting, std::initializer_list<int> sizes = {16, 24, 32}) {
    QIcon result;
    for (int size : sizes) result.addPixmap(paint(size, painting));
    return result;
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

QPixmap ProgramPixmap(int size) { return paint(size, programPainting); }

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
    return paint(size, [](QPainter& p) {
        const QColor gold(0xe0, 0xb0, 0x30), edge(0x8a, 0x62, 0x0a);
        p.setPen(QPen(edge, 0.7));
        p.setBrush(gold);
        QPainterPath key;
        key.addEllipse(QRectF(1, 1.5, 7, 7));
        key.addRect(QRectF(6.5, 4.2, 8.5, 1.8));
        key.addRect(QRectF(11.5, 6, 1.6, 2.6));
        key.addRect(QRectF(9, 6, 1.4, 1.8));
        p.drawPath(key.simplified());
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(2.8, 3.3, 2.6, 2.6));
    });
}

}  // namespace pictures
