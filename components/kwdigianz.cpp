#include "components/kwdigianz.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

namespace kwdigianz {

namespace {

struct Glyph {
    char character;
    const char* dots;
};

// The font: column and row of every lit dot. The lone "1" in the "9" only sets a column.
constexpr std::array<Glyph, 11> kFont{{
    {'0', "21,31,41,12,13,14,15,16,27,37,47,56,55,54,53,52"},
    {'1', "31,32,33,34,35,36,37,22,27,47"},
    {'2', "21,31,41,12,52,53,44,34,25,16,27,37,47,57,17"},
    {'3', "21,31,41,12,52,53,44,55,56,47,37,27,16,34"},
    {'4', "41,32,34,23,42,43,14,24,34,44,54,45,46,47"},
    {'5', "11,21,31,41,51,12,13,24,34,44,55,56,47,37,27,17"},
    {'6', "21,31,41,52,12,13,14,15,16,27,37,47,56,55,44,34,24"},
    {'7', "11,21,31,41,51,52,53,44,35,26,17"},
    {'8', "21,31,41,12,13,24,34,44,53,52,55,56,47,37,27,16,15"},
    {'9', "21,31,41,12,13,24,34,44,53,52,55,56,47,37,27,1,54"},
    {'%', "12,52,43,34,25,16,56"},
}};

}  // namespace

const char* GlyphDots(QChar character) {
    for (const auto& g : kFont)
        if (character == QLatin1Char(g.character)) return g.dots;
    return "";
}

}  // namespace kwdigianz

// Keeps one painter open on the canvas while nested drawing operations run, and shows the
// result when the outermost one ends.
class TKwDigianz::Session {
public:
    explicit Session(TKwDigianz& d) : d_(d) { ++d_.sessionDepth_; }
    ~Session() {
        if (--d_.sessionDepth_ == 0 && d_.painter_) {
            d_.painter_.reset();
            d_.update();
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

private:
    TKwDigianz& d_;
};

TKwDigianz::TKwDigianz(QWidget* parent) : QWidget(parent) {
    resize(184, 70);
    Repaint();
}

TKwDigianz::~TKwDigianz() = default;

void TKwDigianz::setNumChars(int value) {
    numChars_ = std::clamp(value, 0, 1000);
    Repaint();
}

void TKwDigianz::setMatixSize(int value) {
    matixSize_ = std::clamp(value, 0, 100);
    Repaint();
}

void TKwDigianz::setSpaceSquares(int value) {
    spaceSquares_ = std::clamp(value, 0, 1000);
    Repaint();
}

void TKwDigianz::setText(const QString& value) {
    text_ = value;
    Repaint();
}

void TKwDigianz::setBackgroundColor(const QColor& value) {
    backgroundColor_ = value;
    Repaint();
}

void TKwDigianz::setForegroundColorOff(const QColor& value) {
    foregroundColorOff_ = value;
    Repaint();
}

void TKwDigianz::setForegroundColorOn(const QColor& value) {
    foregroundColorOn_ = value;
    Repaint();
}

int TKwDigianz::cellCount() const { return numChars_ * 5 + (numChars_ - 1) * spaceSquares_; }

void TKwDigianz::Repaint() {
    ValidateSize();
    InitDigiAnz();
    PrintZeichenkette(text_);
}

void TKwDigianz::ValidateSize() {
    const int cells = cellCount();
    if (cells <= 0) return;
    resize(cells * (width() / cells), height());
}

void TKwDigianz::InitDigiAnz() {
    kwdigianz::Layout l;
    l.cells = cellCount();
    if (l.cells > 0) {
        l.cell = static_cast<float>(width()) / static_cast<float>(l.cells);
        // Dividing by 100 rather than multiplying by 0.01 keeps whole results whole (50% of 2 is 1).
        l.dotWidth = static_cast<int>(std::trunc(static_cast<double>(matixSize_) * l.cell / 100.0));
        l.gapWidth = static_cast<int>(std::trunc(l.cell - static_cast<float>(l.dotWidth)));
        l.charWidth = static_cast<int>(std::trunc(l.cell * 5.0f));
        l.charGap = static_cast<int>(std::trunc(l.cell * static_cast<float>(spaceSquares_)));
    } else {
        l.cells = 0;
    }
    l.dotHeight = (height() / 7) * matixSize_ / 100;
    l.gapHeight = (height() / 7) * (100 - matixSize_) / 100;
    layout_ = l;
}

QPainter* TKwDigianz::painter() {
    if (canvas_.size() != size()) {
        painter_.reset();
        canvas_ = QImage(size(), QImage::Format_RGB32);
        if (!canvas_.isNull()) canvas_.fill(backgroundColor_);
    }
    if (canvas_.isNull()) return nullptr;
    if (!painter_) painter_ = std::make_unique<QPainter>(&canvas_);
    return painter_.get();
}

void TKwDigianz::Punkt(int position, int column, int row) {
    Session session(*this);
    QPainter* p = painter();
    if (!p) return;
    const auto& l = layout_;
    const qint64 left = qint64(position - 1) * (l.charGap + l.charWidth) + qint64(column - 1) * (l.dotWidth + l.gapWidth);
    const qint64 top = qint64(row - 1) * l.dotHeight + qint64(row) * l.gapHeight;
    if (left >= canvas_.width() || top >= canvas_.height() || left + l.dotWidth <= 0 || top + l.dotHeight <= 0) return;
    p->fillRect(QRect(static_cast<int>(left), static_cast<int>(top), l.dotWidth, l.dotHeight), brush_);
}

void TKwDigianz::Matrix(int position) {
    Session session(*this);
    brush_ = foregroundColorOff_;
    for (int column = 1; column <= 6; ++column)
        for (int row = 1; row <= 7; ++row) Punkt(position, column, row);
}

void TKwDigianz::Zeichen(int position, const QString& dots) {
    Session session(*this);
    brush_ = foregroundColorOn_;
    int column = 0, row = 0;
    bool columnPlace = true;
    for (QChar ch : dots) {
        if (ch == QLatin1Char(',')) {
            column = row = 0;
            columnPlace = true;
            continue;
        }
        // A character that is not a digit keeps the value its place had.
        const int digit = ch.isDigit() && ch.unicode() < 128 ? ch.unicode() - '0' : -1;
        if (columnPlace) {
            if (digit >= 0) column = digit;
            columnPlace = false;
        } else {
            if (digit >= 0) row = digit;
            Punkt(position, column, row);
        }
    }
}

void TKwDigianz::PrintZeichen(int position, QChar character) {
    Session session(*this);
    Matrix(position);
    Zeichen(position, QString::fromLatin1(kwdigianz::GlyphDots(character)));
}

void TKwDigianz::PrintZeichenkette(const QString& text) {
    if (numChars_ <= 0 || matixSize_ <= 0) return;
    Session session(*this);
    QPainter* p = painter();
    if (!p) return;
    p->fillRect(canvas_.rect(), backgroundColor_);
    const qint64 pitch = layout_.charGap + layout_.charWidth;
    for (int i = 0; i < text.size(); ++i) {
        if (pitch > 0 && qint64(i) * pitch >= canvas_.width()) break;  // past the right edge
        PrintZeichen(i + 1, text[i]);
    }
}

QSize TKwDigianz::sizeHint() const {
    const int cells = cellCount();
    return QSize(std::max(cells, 1) * 8, 70);
}

void TKwDigianz::paintEvent(QPaintEvent*) {
    if (canvas_.size() != size()) {
        InitDigiAnz();
        PrintZeichenkette(text_);
    }
    QPainter p(this);
    if (canvas_.size() == size()) p.drawImage(0, 0, canvas_);
    else p.fillRect(rect(), backgroundColor_);
}

void TKwDigianz::resizeEvent(QResizeEvent*) {
    // The geometry follows the new size, so that the dots fill the display.
    InitDigiAnz();
    PrintZeichenkette(text_);
}
