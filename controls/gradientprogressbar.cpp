#include "controls/gradientprogressbar.h"

#include "controls/gradientgeometry.h"

#include <QBitmap>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

using gradient::Rect;

namespace {

Rect toRect(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }
QRect toQRect(const Rect& r) { return QRect(r.left, r.top, r.width(), r.height()); }
gradient::Rgb toRgb(const QColor& c) { return {c.red(), c.green(), c.blue()}; }
QColor toColor(const gradient::Rgb& c) {
    return QColor(std::clamp(c.r, 0, 255), std::clamp(c.g, 0, 255), std::clamp(c.b, 0, 255));
}

// A one-pixel edge around r: the top and left sides in one colour, then the bottom and right in the other.
void drawEdge(QPainter& p, const Rect& r, const QColor& topLeft, const QColor& bottomRight) {
    if (r.empty()) return;
    p.fillRect(r.left, r.top, r.width(), 1, topLeft);
    p.fillRect(r.left, r.top, 1, r.height(), topLeft);
    p.fillRect(r.left, r.bottom - 1, r.width(), 1, bottomRight);
    p.fillRect(r.right - 1, r.top, 1, r.height(), bottomRight);
}

}  // namespace

TGradientProgressBar::TGradientProgressBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted: no erasing before a repaint
    resize(150, 16);
}

QColor TGradientProgressBar::TextColor() const { return palette().color(QPalette::WindowText); }

void TGradientProgressBar::SetTextColor(const QColor& c) {
    if (c == TextColor()) return;
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, c);
    setPalette(pal);
    if (showText_) repaintAll();
}

void TGradientProgressBar::SetBarBevelOuter(TGradientBevel b) {
    if (b == barBevelOuter_) return;
    barBevelOuter_ = b;
    repaintAll();
}

void TGradientProgressBar::SetBevelOuter(TGradientBevel b) {
    if (b == bevelOuter_) return;
    bevelOuter_ = b;
    repaintAll();
}

void TGradientProgressBar::SetOrientation(TGradientOrientation o) {
    if (o == orientation_) return;
    orientation_ = o;
    repaintAll();
}

void TGradientProgressBar::SetMax(int32_t v) {
    if (v == max_ || v < min_) return;
    max_ = v;
    repaintAll();
}

void TGradientProgressBar::SetMin(int32_t v) {
    if (v == min_ || max_ < v) return;
    min_ = v;
    repaintAll();
}

void TGradientProgressBar::SetPosition(int32_t v) {
    if (v == position_) return;
    const int32_t old = position_;
    const QString oldText = showText_ ? Text() : QString();
    position_ = v;
    InvalidatePosition(old);
    if (showText_) invalidateText(oldText);
}

void TGradientProgressBar::SetShowText(bool b) {
    if (b == showText_) return;
    showText_ = b;
    repaintAll();
}

void TGradientProgressBar::SetShowTextStyle(TGradientTextStyle s) {
    if (s == showTextStyle_) return;
    showTextStyle_ = s;
    if (showText_) repaintAll();
}

void TGradientProgressBar::SetBeginColor(const QColor& c) {
    if (c == beginColor_) return;
    beginColor_ = c;
    if (style_ != sPictures) repaintAll();
}

void TGradientProgressBar::SetEndColor(const QColor& c) {
    if (c == endColor_) return;
    endColor_ = c;
    if (style_ == sExSolid || style_ == sExRectangles) repaintAll();
}

void TGradientProgressBar::SetStyle(TGradientStyle s) {
    if (s == style_) return;
    style_ = s;
    repaintAll();
}

void TGradientProgressBar::SetGlyph(const QImage& picture) {
    glyph_ = picture;
    if (!glyph_.isNull()) {
        if (vertical()) resize(glyph_.width() + 4, height());
        else resize(width(), glyph_.height() + 4);
    }
    applyTransparency();
    if (style_ == sPictures) repaintAll();
}

void TGradientProgressBar::SetTransparentGlyph(bool b) {
    if (b == transparentGlyph_) return;
    transparentGlyph_ = b;
    applyTransparency();
    repaintAll();
}

void TGradientProgressBar::applyTransparency() {
    glyphPixmap_ = QPixmap::fromImage(glyph_);
    if (glyph_.isNull() || !transparentGlyph_) return;
    const QColor key = glyph_.pixelColor(0, glyph_.height() - 1);
    glyphPixmap_.setMask(glyphPixmap_.createMaskFromColor(key, Qt::MaskInColor));
}

void TGradientProgressBar::StepIt() {
    if (step_ != 0) SetPosition(position_ + step_);
}

void TGradientProgressBar::StepBy(int32_t delta) {
    if (delta != 0) SetPosition(position_ + delta);
}

void TGradientProgressBar::Loaded() {
    applyTransparency();
    repaintAll();
}

QString TGradientProgressBar::Text() const {
    if (showTextStyle_ == stsPosition) return QString::number(position_);
    return QString::fromStdString(gradient::PercentText(position_, min_, max_));
}

void TGradientProgressBar::InvalidatePosition(int32_t oldPosition) {
    int widen = 0;
    if (style_ == sRectangles || style_ == sExRectangles) widen = gradient::BlockPitch(vertical() ? width() : height());
    if (style_ == sPictures) widen = vertical() ? glyph_.height() : glyph_.width();
    const Rect strip = gradient::PositionStrip(toRect(rect()), oldPosition, position_, min_, max_, vertical(), widen);
    if (!strip.empty()) update(toQRect(strip));
}

void TGradientProgressBar::invalidateText(const QString& oldText) {
    const QFontMetrics fm(font());
    // The widest usual text, and the texts before and after, which may be wider beyond the range.
    const QString widest = showTextStyle_ == stsPercent ? QStringLiteral("100 %") : QString::number(max_);
    for (const QString& text : {widest, oldText, Text()}) {
        const Rect r = gradient::TextRect(width(), height(), fm.horizontalAdvance(text), fm.height(), vertical());
        if (!r.empty()) update(toQRect(r));
    }
}

QImage TGradientProgressBar::Render() const {
    const qreal dpr = devicePixelRatioF();
    QImage image(size() * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    paint(image);
    return image;
}

void TGradientProgressBar::paintEvent(QPaintEvent* event) {
    const QImage image = Render();
    QPainter p(this);
    p.setClipRegion(event->region());
    p.drawImage(0, 0, image);
}

void TGradientProgressBar::paint(QImage& image) const {
    QPainter p(&image);
    const Rect client = toRect(rect());
    p.fillRect(toQRect(client), palette().color(QPalette::Window));

    const QColor shadow = palette().color(QPalette::Dark);
    const QColor highlight = palette().color(QPalette::Light);
    auto edge = [&](TGradientBevel bevel, const Rect& r) {
        if (bevel == bvLowered) drawEdge(p, r, shadow, highlight);
        if (bevel == bvRaised) drawEdge(p, r, highlight, shadow);
    };

    edge(bevelOuter_, client);
    const Rect outer = gradient::OuterRect(client, bevelOuter_ != bvNone);
    const Rect fill = gradient::FillRect(outer, position_, min_, max_, vertical());
    const int outerExtent = vertical() ? outer.height() : outer.width();
    const gradient::Rgb begin = toRgb(beginColor_), end = toRgb(endColor_);

    if (position_ != min_ && !fill.empty()) {
        switch (style_) {
        case sSolid:
            p.fillRect(toQRect(fill), beginColor_);
            edge(barBevelOuter_, fill);
            break;
        case sExSolid:
            if (vertical()) {
                for (int y = fill.bottom - 1; y >= fill.top; --y)
                    p.fillRect(fill.left, y, fill.width(), 1,
                               toColor(gradient::GradientColor(begin, end, fill.bottom - y, outerExtent)));
            } else {
                for (int x = fill.left; x < fill.right; ++x)
                    p.fillRect(x, fill.top, 1, fill.height(),
                               toColor(gradient::GradientColor(begin, end, x - fill.left, outerExtent)));
            }
            edge(barBevelOuter_, fill);
            break;
        case sRectangles:
        case sExRectangles: {
            const int pitch = gradient::BlockPitch(vertical() ? outer.width() : outer.height());
            for (const gradient::Block& block : gradient::Blocks(fill, pitch, position_ >= max_, vertical())) {
                const QColor colour = style_ == sRectangles
                                          ? beginColor_
                                          : toColor(gradient::GradientColor(begin, end, block.colourAt, outerExtent));
                p.fillRect(toQRect(block.rect), colour);
                edge(barBevelOuter_, block.rect);
            }
            break;
        }
        case sPictures:
            if (glyph_.width() > 0 && glyph_.height() > 0) {
                for (const gradient::Point& at :
                     gradient::PictureOrigins(fill, glyph_.width(), glyph_.height(), position_ == max_, vertical()))
                    p.drawPixmap(at.x, at.y, glyphPixmap_);
            }
            break;
        }
    }

    if (showText_) {
        const QString text = Text();
        const QFontMetrics fm(font());
        const gradient::Point at =
            gradient::TextOrigin(width(), height(), fm.horizontalAdvance(text), fm.height(), vertical());
        p.setFont(font());
        p.setPen(TextColor());
        p.translate(at.x, at.y);
        if (vertical()) p.rotate(90);  // reads from top to bottom
        p.drawText(0, fm.ascent(), text);
    }
}

void TGradientProgressBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
    QWidget::mouseReleaseEvent(event);
}

void TGradientProgressBar::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit doubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}
