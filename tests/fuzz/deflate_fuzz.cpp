// Fuzz target for the Deflate compressor: compresses arbitrary input and checks the round trip
// through zlib's raw inflate.
// Input layout: byte 0 picks the level (1..9), byte 1 the cycle of read sizes, byte 2 how the rest
// is repeated (bit 7 on: 1 + 4 x bits 0-5 copies up to 100 KB, so the window slides; bit 6 on: each copy
// whitened with its own noise, so long inputs stay incompressible), then the data.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "rawinflate.h"
#include "zip/deflate.h"

namespace {

class Host : public TDeflateHost {
public:
    Host(const std::vector<uint8_t>& input, uint8_t chunking) : input_(input), chunking_(chunking) {}

    uint16_t file_read(uint8_t* buffer, uint16_t count) override {
        if (count == 0 || count == 65535) std::abort();
        // Chunking 0 hands out whole requests; others cycle through short reads.
        size_t n = count;
        if (chunking_ != 0) n = std::min<size_t>(count, 1 + (reads_++ * chunking_) % 5000);
        n = std::min(n, input_.size() - pos_);
        if (n != 0) std::memcpy(buffer, input_.data() + pos_, n);
        pos_ += n;
        return static_cast<uint16_t>(n);
    }

    size_t zfwrite(uint8_t* buffer, size_t size, size_t count) override {
        output.insert(output.end(), buffer, buffer + size * count);
        // As an encrypting writer does, leave the buffer changed.
        for (size_t i = 0; i < size * count; i++) buffer[i] ^= 0x5A;
        return size * count;
    }

    std::vector<uint8_t> output;

private:
    const std::vector<uint8_t>& input_;
    uint8_t chunking_;
    size_t pos_ = 0;
    size_t reads_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    static auto work = std::make_unique<TDeflateBuffers>();
    static TDeflater deflater;

    const int level = data[0] % 9 + 1;
    const size_t repeats = (data[2] & 0x80) ? 1 + (data[2] & 0x3F) * 4u : 1;
    const bool whiten = (data[2] & 0x40) != 0;
    std::vector<uint8_t> input;
    uint32_t noise = 1;
    for (size_t r = 0; r < repeats && input.size() < 100000; r++) {
        const size_t start = input.size();
        input.insert(input.end(), data + 3, data + size);
        if (start == input.size()) break;
        input[start] ^= static_cast<uint8_t>(r);
        for (size_t i = start; whiten && r > 0 && i < input.size(); i++) {
            noise = noise * 1664525u + 1013904223u;
            input[i] ^= static_cast<uint8_t>(noise >> 24);
        }
    }

    Host host(input, data[1]);
    uint16_t flag = 0, attributes = 2, method = 8;
    const int64_t result = deflater.Deflate(*work, level, host, {flag, attributes, method});

    if (result != static_cast<int64_t>(host.output.size())) std::abort();
    if (attributes > 1) std::abort();
    if (method == 0) {
        if (host.output != input || input.size() > 65535) std::abort();
    } else if (method != 8 || testsupport::inflateRaw(host.output.data(), host.output.size()) != input) {
        std::abort();
    }
    return 0;
}
