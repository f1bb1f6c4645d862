// The maximum compression level: one entry held whole in memory, turned into the smallest raw
// Deflate stream (method 8, readable by every reader) that a near-optimal parser finds.
//
// Algorithm: libdeflate at its highest level (12) compresses the whole entry in one call: for each
// block it finds the matches of every position with binary trees, chooses the cheapest path through
// them under the block's Huffman costs, re-estimates the costs and chooses again, and splits blocks
// where the statistics change. On the benchmark corpus zopfli's parser comes out 0.2 to 0.6%
// smaller at 10 to 300 times the time, which no backup can wait for (bench/README.md); so the
// library alone does the work. An entry that does not shrink is stored. The
// text/binary mark is taken from level 9 of our own compressor, which is run over the entry's first
// block only, so an entry carries the mark it has at level 9.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <future>
#include <memory>

#include "zip/deflate.h"

struct libdeflate_compressor;

namespace maxdeflate {

// The writer's PackLevel of the maximum level, above Deflate's 1 to 9.
constexpr int kLevel = 10;
// Entries up to this size are compressed at the maximum level, in memory; larger ones at level 9.
// The maximum level holds the entry and its compressed form at once: at most twice this much.
constexpr uint64_t kBufferLimit = uint64_t{128} << 20;

struct Result {
    bool stored = false;                // the entry did not shrink: its bytes go in as they are (method 0)
    size_t size = 0;                    // bytes of compressed data in Output() when not stored
    uint16_t internal_attributes = 0;  // 0 binary, 1 text, as level 9 marks the entry
};

// One worker's compressor: the library's state, the buffer an entry is read into, the buffer of its
// compressed form and the classifier's work buffers, kept from entry to entry. Compress depends on
// the bytes it is given alone, so each of several threads can run a compressor of its own.
class Compressor {
public:
    Compressor();
    ~Compressor();
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // A buffer of at least size bytes for the entry to be read into; it grows, never shrinks.
    uint8_t* Input(size_t size);
    // Compresses the first size bytes of Input() (Input(size) must have been called).
    Result Compress(size_t size);
    // The compressed form after a Compress that did not store (the host may encrypt it in place).
    uint8_t* Output() { return output_.get(); }

private:
    uint16_t classify(const uint8_t* data, size_t size);
    static void grow(std::unique_ptr<uint8_t[]>& buffer, size_t& capacity, size_t size);

    struct FreeCompressor {
        void operator()(libdeflate_compressor* c) const;
    };
    std::unique_ptr<libdeflate_compressor, FreeCompressor> library_;
    std::unique_ptr<uint8_t[]> input_, output_;
    size_t inputCapacity_ = 0, outputCapacity_ = 0;
    std::unique_ptr<TDeflateBuffers> classifierBuffers_;
    TDeflater classifier_;
};

// Compresses one entry on a thread of its own, so that its caller can keep running its host's
// message loop while it waits, and can stop waiting (a cancel): the thread then finishes alone
// and frees the compressor, which it shares.
class Task {
public:
    Task(std::shared_ptr<Compressor> compressor, size_t size);
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    // Does not wait: a task given up before its end runs on to it.
    ~Task() = default;

    // Waits at most slice for the result; true once it is there.
    bool WaitFor(std::chrono::milliseconds slice) const;
    // Waits for the result; rethrows what the compression threw (std::bad_alloc).
    Result Get();

private:
    std::future<Result> result_;
};

// Entries below this size are compressed on the caller's thread: they take a few tens of
// milliseconds at most, less than starting a thread would be worth.
constexpr size_t kTaskThreshold = size_t{128} << 10;

}  // namespace maxdeflate
