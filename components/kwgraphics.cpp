#include "components/kwgraphics.h"

#include "components/kwparser.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

// Pixel coordinates are kept within +-2^24: far outside any canvas, yet safe for the painter.
constexpr long double kCoordinateLimit = 16777216.0L;

int toPixel(long double v) {
    if (std::isnan(v)) return 0;
    if (v > kCoordinateLimit) v = kCoordinateLimit;
    if (v < -kCoordinateLimit) v = -kCoordinateLimit;
    return static_cast<int>(v);
}

// Pixel column of x and pixel row of y, unbounded; 0 for an empty range.
long double columnOf(long double x, int width, long double from, long double to) {
    return to == from ? 0 : std::trunc((x - from) * width / (to - from));
}

long double rowOf(long double y, int height, long double from, long double to) {
    return to == from ? 0 : std::trunc((to - y) * height / (to - from));
}

// A one-pixel pen whose lines leave out their end point, so that joined segments set each pixel once.
QPen linePen(const QColor& color) {
    QPen pen(color);
    pen.setWidth(0);
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

// Saves the painter's state for the length of a drawing.
class PainterStateGuard {
public:
    explicit PainterStateGuard(QPainter& p) : p_(p) { p_.save(); }
    ~PainterStateGuard() { p_.restore(); }
    PainterStateGuard(const PainterStateGuard&) = delete;
    PainterStateGuard& operator=(const PainterStateGuard&) = delete;

private:
    QPainter& p_;
};

}  // namespace

namespace kwgraphics {

std::vector<QRect> FloodFillSpans(const QImage& image, QPoint seed, QRect bounds) {
    const QRect area = bounds & image.rect();
    std::vector<QRect> spans;
    if (!area.contains(seed)) return spans;
    const QRgb target = image.pixel(seed);
    const int left = area.left(), right = area.right(), top = area.top();
    std::vector<char> done(static_cast<size_t>(area.width()) * static_cast<size_t>(area.height()), 0);
    auto isDone = [&](int x, int y) -> char& {
        return done[static_cast<size_t>(y - top) * static_cast<size_t>(area.width()) + static_cast<size_t>(x - left)];
    };
    auto fillable = [&](int x, int y) { return !isDone(x, y) && image.pixel(x, y) == target; };

    std::vector<QPoint> stack{seed};
    while (!stack.empty()) {
        const QPoint p = stack.back();
        stack.pop_back();
        if (!fillable(p.x(), p.y())) continue;
        int xl = p.x(), xr = p.x();
        while (xl > left && fillable(xl - 1, p.y())) --xl;
        while (xr < right && fillable(xr + 1, p.y())) ++xr;
        for (int x = xl; x <= xr; ++x) isDone(x, p.y()) = 1;
        spans.emplace_back(xl, p.y(), xr - xl + 1, 1);
        // One seed for every run of fillable pixels above and below the span.
        for (int y : {p.y() - 1, p.y() + 1}) {
            if (!area.contains(xl, y)) continue;
            bool inRun = false;
            for (int x = xl; x <= xr; ++x) {
                const bool f = fillable(x, y);
                if (f && !inRun) stack.emplace_back(x, y);
                inRun = f;
            }
        }
    }
    return spans;
}

QColor ColorFromValue(long value) {
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

}  // namespace kwgraphics

int TKwGraphics::UmrechnenX(long double x, int width, long double from, long double to) {
    return toPixel(columnOf(x, width, from, to));
}

int TKwGraphics::UmrechnenY(long double y, int height, long double from, long double to) {
    return toPixel(rowOf(y, height, from, to));
}

bool TKwGraphics::step() {
    if (ProcessMessages) ProcessMessages();
    return !cancelled_;
}

void TKwGraphics::fillBackground(QPainter& canvas, int width, int height) {
    const QPoint seed(10, 10);
    const QRect area(0, 0, width, height);
    if (!area.contains(seed)) return;
    auto* image = dynamic_cast<QImage*>(canvas.device());
    if (image && canvas.deviceTransform().isIdentity()) {
        for (const QRect& span : kwgraphics::FloodFillSpans(*image, seed, area)) canvas.fillRect(span, Background);
    } else if (ClearCanvas) {
        // Pixels that cannot be read back: the cleared area is one colour, so the fill covers all of it.
        canvas.fillRect(area, Background);
    }
}

bool TKwGraphics::drawGrid(QPainter& canvas, long double x0, long double y0) {
    const int w = DestinationWidth, h = DestinationHeight;
    const long double g = GridSpace;
    if (!(g != 0) || !std::isfinite(g)) return true;
    const long double dx = std::trunc(w * g / (X_To - X_From));
    const long double dy = std::trunc(h * g / (Y_To - Y_From));
    canvas.setPen(linePen(GridColor));

    // Lines at base + k * stride for k = 1..count; only those inside 0..limit are drawn.
    auto lines = [&](long double base, long double stride, long double count, int limit, auto draw) {
        if (!(stride != 0) || !std::isfinite(stride)) return true;
        long double kLo, kHi;
        if (stride > 0) {
            kLo = std::ceil(-base / stride);
            kHi = std::floor((limit - base) / stride);
        } else {
            kLo = std::ceil((limit - base) / stride);
            kHi = std::floor(-base / stride);
        }
        kLo = std::max(kLo, 1.0L);
        kHi = std::min(kHi, count);
        for (long double k = kLo; k <= kHi; ++k) {
            if (!step()) return false;
            draw(toPixel(base + k * stride));
        }
        return true;
    };
    auto horizontal = [&](int y) { canvas.drawLine(1, y, w, y); };
    auto vertical = [&](int x) { canvas.drawLine(x, 1, x, h); };
    return lines(y0, dy, std::fabs(std::trunc(Y_From / g)), h, horizontal) &&
           lines(y0, -dy, std::fabs(std::trunc(Y_To / g)), h, horizontal) &&
           lines(x0, dx, std::fabs(std::trunc(X_To / g)), w, vertical) &&
           lines(x0, -dx, std::fabs(std::trunc(X_From / g)), w, vertical);
}

int TKwGraphics::DrawToCanvas(QPainter& canvas) {
    PainterStateGuard guard(canvas);
    cancelled_ = false;
    const int w = DestinationWidth, h = DestinationHeight;
    const long double spanX = X_To - X_From, spanY = Y_To - Y_From;
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.setClipRect(QRect(0, 0, std::max(w, 0), std::max(h, 0)), Qt::IntersectClip);
    if (ClearCanvas) canvas.fillRect(QRect(0, 0, w, h), QColor(192, 192, 192));
    fillBackground(canvas, w, h);

    const bool drawable = w > 0 && h > 0 && spanX != 0 && spanY != 0 && std::isfinite(spanX) && std::isfinite(spanY);
    const long double x0 = columnOf(0, w, X_From, X_To);
    const long double y0 = rowOf(0, h, Y_From, Y_To);
    if (drawable && Grid && !drawGrid(canvas, x0, y0)) return -1;
    if (drawable && Cross) {
        canvas.setPen(linePen(CrossColor));
        canvas.drawLine(1, toPixel(y0), w, toPixel(y0));
        canvas.drawLine(toPixel(x0), 1, toPixel(x0), h);
    }

    TKwParser parser(TKwParser::TreeKind::Own);
    int failedLine = 0;
    long double stepValue = 1;
    for (size_t m = 0; m < Expressions.size(); ++m) {
        if (!step()) return -1;
        if (m >= Steps.size()) throw std::out_of_range("Steps has no line " + std::to_string(m + 1));
        if (m >= Colors.size()) throw std::out_of_range("Colors has no line " + std::to_string(m + 1));
        try {
            stepValue = parser.StrToLongDouble(Steps[m]);
        } catch (const std::runtime_error&) {
            // the previous step stays
        }
        const QColor color = kwgraphics::ColorFromValue(std::strtol(Colors[m].c_str(), nullptr, 10));
        parser.Expression = Expressions[m];
        if (!parser.CreateTree()) {
            failedLine = static_cast<int>(m) + 1;
            continue;
        }
        if (!drawable) continue;
        const long double pixelStep = std::trunc(w * stepValue / spanX);
        const int p = !(pixelStep >= 1) ? 1 : pixelStep > w ? w : static_cast<int>(pixelStep);
        canvas.setPen(linePen(color));
        bool havePrevious = false;
        QPoint previous;
        for (long px = 1; px <= w; px += p) {
            if (!step()) return -1;
            parser.X = parser.LongDoubleToStr(px * spanX / w + X_From);
            long double y;
            try {
                y = parser.Evaluate();
            } catch (const std::runtime_error&) {
                havePrevious = false;  // a gap where the function has no value
                continue;
            }
            if (!std::isfinite(y)) {
                havePrevious = false;
                continue;
            }
            if (Y_MaxDifference > 0 && std::fabs(y) >= Y_MaxDifference) havePrevious = false;
            const int py = UmrechnenY(y, h, Y_From, Y_To);
            const int x = static_cast<int>(px);
            if (!havePrevious) {
                previous = QPoint(x - 1, py - 1);
                havePrevious = true;
            }
            if (PointsOnly) {
                canvas.drawPoint(x - 1, py - 1);
            } else {
                canvas.drawLine(previous, QPoint(x, py));
                previous = QPoint(x, py);
            }
        }
    }
    return failedLine;
}
