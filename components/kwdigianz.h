// Dot-matrix display: a widget that shows digits and "%" as an LED-style matrix of 5 by 7 dots per character.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

class QPainter;

namespace kwdigianz {

// The dots of a character's glyph as "cr" pairs separated by "," (column 1 to 5 from the left,
// row 1 to 7 from the top); empty for characters without a glyph.
const char* GlyphDots(QChar character);

// The geometry InitDigiAnz derives from the properties and the widget's size, in pixels.
struct Layout {
    int cells = 0;       // dot cells across the whole display
    float cell = 0;      // width of one cell
    int dotWidth = 0, gapWidth = 0;
    int charWidth = 0, charGap = 0;
    int dotHeight = 0, gapHeight = 0;
};

}  // namespace kwdigianz

// Shows Text, one character per position, each position a matrix of "off" dots with the
// glyph's dots drawn "on" over it. Setting a property resizes the width to a whole number of
// cells, recomputes the geometry and redraws. The operations draw into the widget's canvas,
// which paintEvent shows.
class TKwDigianz : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int NumChars READ NumChars WRITE setNumChars)
    Q_PROPERTY(int MatixSize READ MatixSize WRITE setMatixSize)
    Q_PROPERTY(int SpaceSquares READ SpaceSquares WRITE setSpaceSquares)
    Q_PROPERTY(QString Text READ Text WRITE setText)
    Q_PROPERTY(QColor BackgroundColor READ BackgroundColor WRITE setBackgroundColor)
    Q_PROPERTY(QColor ForegroundColorOff READ ForegroundColorOff WRITE setForegroundColorOff)
    Q_PROPERTY(QColor ForegroundColorOn READ ForegroundColorOn WRITE setForegroundColorOn)

public:
    explicit TKwDigianz(QWidget* parent = nullptr);
    ~TKwDigianz() override;

    // Character positions (0 to 1000).
    int NumChars() const { return numChars_; }
    void setNumChars(int value);
    // Dot size in percent of its cell, the rest being the gap (0 to 100).
    int MatixSize() const { return matixSize_; }
    void setMatixSize(int value);
    // Gap between characters in dot cells (0 to 1000).
    int SpaceSquares() const { return spaceSquares_; }
    void setSpaceSquares(int value);
    QString Text() const { return text_; }
    void setText(const QString& value);
    QColor BackgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const QColor& value);
    QColor ForegroundColorOff() const { return foregroundColorOff_; }
    void setForegroundColorOff(const QColor& value);
    QColor ForegroundColorOn() const { return foregroundColorOn_; }
    void setForegroundColorOn(const QColor& value);

    // ValidateSize, InitDigiAnz and PrintZeichenkette(Text).
    void Repaint();
    // Schedules a repaint of what the canvas holds.
    void Refresh() { update(); }
    // Makes the width the largest multiple of the cell count not above it.
    void ValidateSize();
    // Recomputes the geometry from the properties and the size.
    void InitDigiAnz();
    // Fills dot (column, row) of a position (all from 1) with the current brush.
    void Punkt(int position, int column, int row);
    // Draws all off-dots of a position, the column in the gap after it included.
    void Matrix(int position);
    // Lights the dots a glyph text lists at a position.
    void Zeichen(int position, const QString& dots);
    void PrintZeichen(int position, QChar character);
    // Fills the display with the background and draws the text from position 1; characters
    // beyond NumChars fall past the right edge. Draws nothing when NumChars or MatixSize is 0.
    void PrintZeichenkette(const QString& text);

    const kwdigianz::Layout& DotLayout() const { return layout_; }
    // What the display shows, at the widget's size.
    const QImage& Canvas() const { return canvas_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Dot cells across the display: five per character and the gaps between characters.
    int cellCount() const;
    // The painter on the canvas for the outermost drawing operation, opened on first use.
    QPainter* painter();
    class Session;

    int numChars_ = 4;
    int matixSize_ = 80;
    int spaceSquares_ = 1;
    QString text_ = QStringLiteral("100%");
    QColor backgroundColor_ = QColor(128, 128, 128);
    QColor foregroundColorOff_ = QColor(0, 128, 0);
    QColor foregroundColorOn_ = QColor(0, 255, 0);

    kwdigianz::Layout layout_;
    QImage canvas_;
    QColor brush_ = QColor(255, 255, 255);
    std::unique_ptr<QPainter> painter_;
    int sessionDepth_ = 0;
};

// An empty graphic control with no behaviour of its own.
class TKwDigianz2 : public QWidget {
    Q_OBJECT

public:
    explicit TKwDigianz2(QWidget* parent = nullptr) : QWidget(parent) {}
};
