#include "zip/maxdeflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>
#include <utility>

#include "platform/assert.h"
#include "zip/ziprecords.h"

namespace maxdeflate {

namespace {

// libdeflate's highest level: near-optimal parsing with the most passes.
constexpr int kLibraryLevel = 12;
// Buffers grow in steps of this many bytes, so that entries of similar sizes share one allocation.
constexpr size_t kGrowthStep = size_t{64} << 10;
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

Compressor::~Compressor() = default;

void Compressor::grow(std::unique_ptr<uint8_t[]>& buffer, size_t& capacity, size_t size) {
    if (size <= capacity && buffer) return;
    const size_t rounded = size / kGrowthStep * kGrowthStep + kGrowthStep;
    buffer.reset();  // the old contents are not needed: never hold both
    buffer = std::make_unique_for_overwrite<uint8_t[]>(rounded);
    capacity = rounded;
}

uint8_t* Compressor::Input(size_t size) {
    grow(input_, inputCapacity_, size);
    return input_.get();
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

Task::Task(std::shared_ptr<Compressor> compressor, size_t size) {
    std::promise<Result> promise;
    result_ = promise.get_future();
    std::thread([c = std::move(compressor), size, p = std::move(promise)]() mutable {
        // The compressor is let go before the result is given: a waiter that finds the result
        // finds the memory of an abandoned task freed as well.
        try {
            const Result r = c->Compress(size);
            c.reset();
            p.set_value(r);
        } catch (...) {
            c.reset();
            p.set_exception(std::current_exception());
        }
    }).detach();
}

bool Task::WaitFor(std::chrono::milliseconds slice) const {
    return result_.wait_for(slice) == std::future_status::ready;
}

Result Task::Get() { return result_.get(); }

}  // namespace maxdeflate
