// The gradient progress bar's geometry as plain integer arithmetic: fill, blocks, pictures, colours, text and repaint strips.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gradient {

// Left, top, right, bottom; right and bottom exclusive.
struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
    bool operator==(const Rect&) const = default;
};

struct Point {
    int x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// The area inside the outer edge: the client rectangle less 2 pixels on every side when an edge is drawn.
Rect OuterRect(Rect client, bool bevel);

// The part of `extent` pixels that position stands for in min..max, truncated; it counts from
// min, may exceed extent or be negative. A range of zero gives extent above min and 0 otherwise.
int64_t Share(int64_t position, int64_t min, int64_t max, int extent);

// The filled part of outer: from the left (horizontal) or from the bottom (vertical), clamped to
// outer, so a position beyond max gives a full bar. Empty when position equals min.
Rect FillRect(Rect outer, int32_t position, int32_t min, int32_t max, bool vertical);

// Distance between block starts for a bar `across` pixels thick: two thirds of it plus the 2-pixel gap.
int BlockPitch(int across);

struct Block {
    Rect rect;
    int colourAt = 0;  // where along the bar the block takes its gradient colour
};

// The complete blocks of the fill, each pitch - 2 pixels long with a 2-pixel gap after it; with
// `full` also the remaining part up to the end of the fill, so a full bar ends flush.
std::vector<Block> Blocks(Rect fill, int pitch, bool full, bool vertical);

// Where the tiled picture's top-left corners go: one per complete picture of the fill, and with
// `full` one more after the last. Pictures are not clipped to the fill.
std::vector<Point> PictureOrigins(Rect fill, int width, int height, bool full, bool vertical);

// Each channel trunc(pos * (end - begin) / total + begin); a total of 0 gives begin.
Rgb GradientColor(Rgb begin, Rgb end, int pos, int total);

// position as a percentage of min..max, rounded to the nearest integer, halves to even.
int64_t Percent(int32_t position, int32_t min, int32_t max);
// "50 %": the percentage, a blank and the percent sign.
std::string PercentText(int32_t position, int32_t min, int32_t max);

// Where a text of the given size starts so it is centred in the control. Vertical text reads from
// top to bottom; its origin is the top-right corner of the rotated text cell.
Point TextOrigin(int width, int height, int textWidth, int textHeight, bool vertical);
// The rectangle a centred text covers (across the bar the text height for a vertical bar).
Rect TextRect(int width, int height, int textWidth, int textHeight, bool vertical);

// The strip of the client rectangle a change from oldPosition to position repaints: between the
// two fill edges, 2 pixels more on each side, widened by `widen` pixels along the bar for block styles.
Rect PositionStrip(Rect client, int32_t oldPosition, int32_t position, int32_t min, int32_t max, bool vertical,
                   int widen);

}  // namespace gradient
