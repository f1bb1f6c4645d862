// The maximum level's buffers and its task thread, the same whichever compressor does the work.
#include "zip/maxdeflate.h"

#include <thread>
#include <utility>

namespace maxdeflate {

namespace {

// Buffers grow in steps of this many bytes, so that entries of similar sizes share one allocation.
constexpr size_t kGrowthStep = size_t{64} << 10;

}  // namespace

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
