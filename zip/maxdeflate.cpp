#include "zip/maxdeflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/assert.h"
#include "zip/ziprecords.h"

namespace maxdeflate {

namespace {

// libdeflate's highest level: near-optimal parsing with the most passes.
constexpr int kLibraryLevel = 12;
// The level whose text/binary mark a maximum-level entry carries.
constexpr int kMarkLevel = 9;

// Thrown by the classifier's host at the compressor's first output: the mark is decided by then.
struct FirstOutput {};

// Hands the compressor an entry from memory and stops it when it starts to write.
class MemoryHost : public TDeflateHost {
public:
    MemoryHost(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint16_t file_read(uint8_t* buffer, uint16_t count) override {
        const size_t n = std::min<size_t>(count, size_ - pos_);
        if (n != 0) std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return static_cast<uint16_t>(n);
    }
    size_t zfwrite(uint8_t*, size_t, size_t) override { throw FirstOutput{}; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace

void Compressor::FreeCompressor::operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }

Compressor::Compressor()
    : library_(libdeflate_alloc_compressor(kLibraryLevel)), classifierBuffers_(std::make_unique<TDeflateBuffers>()) {
    if (!library_) throw std::bad_alloc();
}

uint16_t Compressor::classify(const uint8_t* data, size_t size) {
    uint16_t flag = 0, attributes = kInternalUnknown, method = kMethodDeflated;
    MemoryHost host(data, size);
    try {
        classifier_.Deflate(*classifierBuffers_, kMarkLevel, host, {flag, attributes, method});
    } catch (const FirstOutput&) {
        // The first block is closed and the entry marked; the rest of the level-9 work is not needed.
    }
    return attributes;
}

Result Compressor::Compress(size_t size) {
    FOLVIO_ASSERT(size == 0 || (input_ && size <= inputCapacity_));
    Result result;
    result.internal_attributes = classify(input_.get(), size);
    // Only a compressed form shorter than the entry is of use: the library is given room for one
    // byte less and gives up (0) when it does not fit.
    if (size < 2) {
        result.stored = true;
        return result;
    }
    grow(output_, outputCapacity_, size - 1);
    result.size = libdeflate_deflate_compress(library_.get(), input_.get(), size, output_.get(), size - 1);
    result.stored = result.size == 0;
    return result;
}

}  // namespace maxdeflate
