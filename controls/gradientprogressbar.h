// TGradientProgressBar: a progress bar drawn solid, in blocks, as a colour gradient, as gradient blocks or as tiled pictures, with an optional centred text.
#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <cstdint>

// Painting goes through an off-screen image copied onto the widget in one piece; a change of
// Position repaints only the strip that changed (plus one block) and, with text, the text.
// The fill and the percentage count from Min, so a range that does not start at 0 is shown right.
class TGradientProgressBar : public QWidget {
    Q_OBJECT
    Q_PROPERTY(TGradientBevel BarBevelOuter READ BarBevelOuter WRITE SetBarBevelOuter)
    Q_PROPERTY(TGradientBevel BevelOuter READ BevelOuter WRITE SetBevelOuter)
    Q_PROPERTY(TGradientOrientation Orientation READ Orientation WRITE SetOrientation)
    Q_PROPERTY(int Max READ Max WRITE SetMax)
    Q_PROPERTY(int Min READ Min WRITE SetMin)
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
    Q_PROPERTY(bool ShowText READ ShowText WRITE SetShowText)
    Q_PROPERTY(TGradientTextStyle ShowTextStyle READ ShowTextStyle WRITE SetShowTextStyle)
    Q_PROPERTY(QColor BeginColor READ BeginColor WRITE SetBeginColor)
    Q_PROPERTY(QColor EndColor READ EndColor WRITE SetEndColor)
    Q_PROPERTY(TGradientStyle Style READ Style WRITE SetStyle)
    Q_PROPERTY(QImage Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(int Step READ Step WRITE SetStep)
    Q_PROPERTY(bool TransparentGlyph READ TransparentGlyph WRITE SetTransparentGlyph)
    Q_PROPERTY(QColor TextColor READ TextColor WRITE SetTextColor)

public:
    enum TGradientBevel { bvNone, bvLowered, bvRaised };
    Q_ENUM(TGradientBevel)
    enum TGradientOrientation { orVertical, orHorizontal };
    Q_ENUM(TGradientOrientation)
    enum TGradientTextStyle { stsPercent, stsPosition };
    Q_ENUM(TGradientTextStyle)
    enum TGradientStyle { sSolid, sRectangles, sExSolid, sExRectangles, sPictures };
    Q_ENUM(TGradientStyle)

    explicit TGradientProgressBar(QWidget* parent = nullptr);

    TGradientBevel BarBevelOuter() const { return barBevelOuter_; }
    TGradientBevel BevelOuter() const { return bevelOuter_; }
    TGradientOrientation Orientation() const { return orientation_; }
    int32_t Max() const { return max_; }
    int32_t Min() const { return min_; }
    int32_t Position() const { return position_; }
    bool ShowText() const { return showText_; }
    TGradientTextStyle ShowTextStyle() const { return showTextStyle_; }
    QColor BeginColor() const { return beginColor_; }
    QColor EndColor() const { return endColor_; }
    TGradientStyle Style() const { return style_; }
    QImage Glyph() const { return glyph_; }
    int32_t Step() const { return step_; }
    bool TransparentGlyph() const { return transparentGlyph_; }
    // The text's colour (the font colour of the design), kept in the widget's palette.
    QColor TextColor() const;

    void SetBarBevelOuter(TGradientBevel b);
    void SetBevelOuter(TGradientBevel b);
    void SetOrientation(TGradientOrientation o);
    // Ignored below Min.
    void SetMax(int32_t v);
    // Ignored above Max.
    void SetMin(int32_t v);
    // Not clamped: a position beyond the range draws a full or an empty bar.
    void SetPosition(int32_t v);
    void SetShowText(bool b);
    void SetShowTextStyle(TGradientTextStyle s);
    void SetBeginColor(const QColor& c);
    void SetEndColor(const QColor& c);
    void SetStyle(TGradientStyle s);
    // Copies the picture; a non-empty one sets the bar's thickness to the picture's plus 4.
    void SetGlyph(const QImage& picture);
    void SetStep(int32_t n) { step_ = n; }
    // Transparent glyphs leave out every pixel of the colour of their bottom-left pixel.
    void SetTransparentGlyph(bool b);
    void SetTextColor(const QColor& c);

    void StepIt();
    void StepBy(int32_t delta);
    // After the properties have been set in one go: applies the glyph's transparency and repaints.
    void Loaded();

    // The text the bar shows (with ShowText): "50 %" or the decimal position.
    QString Text() const;
    // The whole control as it is painted.
    QImage Render() const;

    QSize sizeHint() const override { return {150, 16}; }

signals:
    void clicked();
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void paint(QImage& image) const;
    void InvalidatePosition(int32_t oldPosition);
    void invalidateText(const QString& oldText);
    void repaintAll() { update(); }
    void applyTransparency();
    bool vertical() const { return orientation_ == orVertical; }

    TGradientBevel barBevelOuter_ = bvNone;
    TGradientBevel bevelOuter_ = bvLowered;
    TGradientOrientation orientation_ = orHorizontal;
    int32_t max_ = 100;
    int32_t min_ = 0;
    int32_t position_ = 0;
    bool showText_ = false;
    TGradientTextStyle showTextStyle_ = stsPercent;
    QColor beginColor_{0, 0, 128};      // navy
    QColor endColor_{255, 255, 255};    // white
    TGradientStyle style_ = sRectangles;
    QImage glyph_;
    QPixmap glyphPixmap_;  // the glyph as drawn, with its transparency applied
    int32_t step_ = 10;
    bool transparentGlyph_ = true;
};

using TGradientBevel = TGradientProgressBar::TGradientBevel;
using TGradientOrientation = TGradientProgressBar::TGradientOrientation;
using TGradientTextStyle = TGradientProgressBar::TGradientTextStyle;
using TGradientStyle = TGradientProgressBar::TGradientStyle;
