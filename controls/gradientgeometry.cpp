#include "controls/gradientgeometry.h"

#include <algorithm>
#include <cmath>

namespace gradient {

Rect OuterRect(Rect client, bool bevel) {
    if (!bevel) return client;
    return {client.left + 2, client.top + 2, client.right - 2, client.bottom - 2};
}

int64_t Share(int64_t position, int64_t min, int64_t max, int extent) {
    const int64_t range = max - min;
    if (range == 0) return position > min ? extent : 0;
    return (position - min) * extent / range;
}

namespace {

// A share clamped to what a rectangle can hold, so huge positions cannot overflow an int.
int ClampedShare(int32_t position, int32_t min, int32_t max, int extent) {
    return static_cast<int>(std::clamp<int64_t>(Share(position, min, max, extent), -1, int64_t{extent} + 1));
}

}  // namespace

Rect FillRect(Rect outer, int32_t position, int32_t min, int32_t max, bool vertical) {
    Rect fill = outer;
    if (position == min) {
        fill.right = fill.left;
        return fill;
    }
    if (vertical) {
        fill.top = fill.bottom - ClampedShare(position, min, max, outer.height());
        fill.top = std::clamp(fill.top, outer.top, fill.bottom);
    } else {
        fill.right = fill.left + ClampedShare(position, min, max, outer.width());
        fill.right = std::clamp(fill.right, fill.left, outer.right);
    }
    return fill;
}

int BlockPitch(int across) { return 2 * across / 3 + 2; }

std::vector<Block> Blocks(Rect fill, int pitch, bool full, bool vertical) {
    std::vector<Block> blocks;
    if (pitch < 1 || fill.empty()) return blocks;
    if (vertical) {
        int last = fill.bottom - 1;  // the boundary below the first block
        for (int y = fill.bottom - 1 - pitch; y >= fill.top; y -= pitch) {
            blocks.push_back({{fill.left, y + 2, fill.right, y + pitch}, fill.bottom - y});
            last = y;
        }
        if (full && last > fill.top) blocks.push_back({{fill.left, fill.top, fill.right, last}, fill.bottom - last});
    } else {
        int last = fill.left;
        for (int x = fill.left + pitch; x < fill.right; x += pitch) {
            blocks.push_back({{x - pitch, fill.top, x - 2, fill.bottom}, x - fill.left});
            last = x;
        }
        if (full && last < fill.right) blocks.push_back({{last, fill.top, fill.right, fill.bottom}, last - fill.left});
    }
    return blocks;
}

std::vector<Point> PictureOrigins(Rect fill, int width, int height, bool full, bool vertical) {
    std::vector<Point> origins;
    if (width < 1 || height < 1 || fill.empty()) return origins;
    if (vertical) {
        int last = fill.bottom - 1;
        for (int y = fill.bottom - 1 - height; y >= fill.top; y -= height) {
            origins.push_back({fill.left, y});
            last = y;
        }
        if (full) origins.push_back({fill.left, last - height});
    } else {
        int last = fill.left;
        for (int x = fill.left + width; x < fill.right; x += width) {
            origins.push_back({x - width, fill.top});
            last = x;
        }
        if (full) origins.push_back({last, fill.top});
    }
    return origins;
}

Rgb GradientColor(Rgb begin, Rgb end, int pos, int total) {
    if (total == 0) return begin;
    auto channel = [&](int b, int e) {
        return static_cast<int>(std::trunc(double(pos) * double(e - b) / double(total) + double(b)));
    };
    return {channel(begin.r, end.r), channel(begin.g, end.g), channel(begin.b, end.b)};
}

int64_t Percent(int32_t position, int32_t min, int32_t max) {
    const int64_t range = int64_t{max} - min;
    const int64_t n = (int64_t{position} - min) * 100;
    if (range == 0) return n > 0 ? 100 : 0;
    const int64_t magnitude = n < 0 ? -n : n;
    int64_t q = magnitude / range;
    const int64_t twiceRest = 2 * (magnitude % range);
    if (twiceRest > range || (twiceRest == range && q % 2 == 1)) ++q;
    return n < 0 ? -q : q;
}

std::string PercentText(int32_t position, int32_t min, int32_t max) {
    return std::to_string(Percent(position, min, max)) + " %";
}

Point TextOrigin(int width, int height, int textWidth, int textHeight, bool vertical) {
    if (vertical) return {textHeight + (width - textHeight) / 2, (height - textWidth) / 2};
    return {(width - textWidth) / 2, (height - textHeight) / 2};
}

Rect TextRect(int width, int height, int textWidth, int textHeight, bool vertical) {
    const int across = vertical ? textHeight : textWidth;
    const int along = vertical ? textWidth : textHeight;
    const int left = (width - across) / 2;
    const int top = (height - along) / 2;
    return {left, top, left + across, top + along};
}

Rect PositionStrip(Rect client, int32_t oldPosition, int32_t position, int32_t min, int32_t max, bool vertical,
                   int widen) {
    const int extent = vertical ? client.height() : client.width();
    const int a = ClampedShare(oldPosition, min, max, extent);
    const int b = ClampedShare(position, min, max, extent);
    const int low = std::min(a, b) - 2 - widen;
    const int high = std::max(a, b) + 2 + widen;
    if (vertical) return {client.left, client.bottom - high, client.right, client.bottom - low};
    return {client.left + low, client.top, client.left + high, client.bottom};
}

}  // namespace gradient
