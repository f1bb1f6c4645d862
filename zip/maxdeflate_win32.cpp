// The maximum level on Windows, where libdeflate has no build here: our own level 9 over the entry in memory.
#include "zip/maxdeflate.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/assert.h"
#include "zip/ziprecords.h"

namespace maxdeflate {

namespace {

constexpr int kFallbackLevel = 9;

// Thrown when the compressed form would not be shorter than the entry: it is stored instead.
struct NoGain {};

// Hands the compressor an entry from memory and gathers its output in a buffer one byte shorter.
class MemoryHost : public TDeflateHost {
public:
    MemoryHost(const uint8_t* data, size_t size, uint8_t* output, size_t room)
        : data_(data), size_(size), output_(output), room_(room) {}

    uint16_t file_read(uint8_t* buffer, uint16_t count) override {
        const size_t n = std::min<size_t>(count, size_ - pos_);
        if (n != 0) std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return static_cast<uint16_t>(n);
    }
    size_t zfwrite(uint8_t* buffer, size_t size, size_t count) override {
        const size_t n = size * count;
        if (n > room_ - written_) throw NoGain{};
        std::memcpy(output_ + written_, buffer, n);
        written_ += n;
        return n;
    }
    size_t written() const { return written_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    uint8_t* output_;
    size_t room_;
    size_t written_ = 0;
};

}  // namespace

void Compressor::FreeCompressor::operator()(libdeflate_compressor*) const {}

Compressor::Compressor() : classifierBuffers_(std::make_unique<TDeflateBuffers>()) {}

uint16_t Compressor::classify(const uint8_t*, size_t) { return kInternalUnknown; }

Result Compressor::Compress(size_t size) {
    FOLVIO_ASSERT(size == 0 || (input_ && size <= inputCapacity_));
    Result result;
    if (size < 2) {
        result.stored = true;
        return result;
    }
    grow(output_, outputCapacity_, size - 1);
    uint16_t flag = 0, attributes = kInternalUnknown, method = kMethodDeflated;
    MemoryHost host(input_.get(), size, output_.get(), size - 1);
    try {
        classifier_.Deflate(*classifierBuffers_, kFallbackLevel, host, {flag, attributes, method});
        result.stored = method != kMethodDeflated;
        result.size = result.stored ? 0 : host.written();
    } catch (const NoGain&) {
        result.stored = true;
    }
    result.internal_attributes = attributes;
    return result;
}

}  // namespace maxdeflate
