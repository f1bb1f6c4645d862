// Decodes raw Deflate streams with zlib, the independent reader compressed output is checked against.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace testsupport {

// The bytes a raw Deflate stream (no zlib or gzip framing) decodes to; nothing when zlib rejects
// the stream, when it is cut short, or when bytes follow its final block.
inline std::optional<std::vector<uint8_t>> inflateRaw(const uint8_t* data, size_t size) {
    z_stream s{};
    if (inflateInit2(&s, -15) != Z_OK) return std::nullopt;
    s.next_in = const_cast<Bytef*>(data);
    s.avail_in = static_cast<uInt>(size);
    std::vector<uint8_t> out;
    Bytef buf[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        s.next_out = buf;
        s.avail_out = sizeof buf;
        rc = inflate(&s, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - s.avail_out));
    }
    const bool complete = rc == Z_STREAM_END && s.avail_in == 0;
    inflateEnd(&s);
    if (!complete) return std::nullopt;
    return out;
}

}  // namespace testsupport
