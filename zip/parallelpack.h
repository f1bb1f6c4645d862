// Packs the files of a job on worker threads ahead of the writer, each entry whole into memory,
// so that the writer only has to put the finished entries into the archive in their order.
//
// The compressed bytes of an entry depend on its data and level alone (the compressor leaves its
// buffers as it found them), so an entry packed here is byte for byte the entry the writer would
// have packed itself. Workers take the entries strictly in list order and reserve a share of a
// fixed memory limit for each before they start it: the bytes held never pass the limit, and the
// entry the writer waits for always finds room (everything before it was written and released).
// A file too large for its share, a folder, or anything out of the ordinary (not a regular file,
// a read error, a file that cannot be opened) is left to the writer, which packs it as it always
// did, with its events and error messages; the workers go on with the entries after it meanwhile.
// Workers never call the host: events, the message loop and all output stay on the writer's thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/filesystem.h"

class TBufferedFileStream;
struct TArchiveEntry;
namespace entryreuse {
class TReuseIndex;
}

namespace parallelpack {

// What every entry of a job is packed with; fixed for the job, read by all workers.
struct Settings {
    int level = 9;                         // 0 stored, 1..9 Deflate, 10 the maximum level
    uint64_t maximumLevelLimit = 0;        // above it the maximum level packs as level 9
    std::string password;                  // empty: no encryption
    bool aes = false;                      // with a password: AES-256, else the traditional cipher
    bool oemConvert = false;               // names filtered to the OEM code page, as the writer does
    std::vector<std::string> noCompress;   // file name patterns stored without compression
    // An earlier archive whose entries may be taken over, and the entry there that fits a file
    // as it was opened (null: none); called from the workers at once, so it must change nothing.
    std::shared_ptr<const entryreuse::TReuseIndex> reuse;
    std::function<const TArchiveEntry*(const std::string& path, const platform::FileStatus& status)> reusable;
};

// One entry packed by a worker: the file as opened, what was read of it and the entry's bytes as
// they go into the archive after the local header (encryption header and code included).
struct Packed {
    platform::FileStatus status;    // the file as it was opened
    uint64_t bytesRead = 0;         // never more than status.size
    uint32_t crc = 0;               // CRC-32 of the bytes read
    bool changed = false;           // shrank, grew or was written to while it was read
    bool storedByName = false;      // a pattern of noCompress named it
    uint16_t flagBits = 0;          // or-ed into the entry's general purpose flag
    uint16_t internalAttributes = 0;
    uint16_t method = 0;            // the real method (an AES entry names its own in the headers)
    std::vector<uint8_t> data;
    size_t reserved = 0;            // the share of the memory limit the entry holds
    // The entry of the earlier archive whose data were checked against the file: they are
    // copied instead of data (null: the file was packed). A fault found there, for the writer
    // to report: the file was then packed.
    const TArchiveEntry* reused = nullptr;
    std::string reuseFault;
};

// The largest share one entry may take at each kind of level; larger files go to the writer.
constexpr uint64_t kEntryLimit = uint64_t{16} << 20;
// The maximum level holds the file and its compressed form in the worker: smaller entries only.
constexpr uint64_t kMaximumLevelEntryLimit = uint64_t{4} << 20;
// The compressed bytes held in memory in all, by default.
constexpr size_t kDefaultMemoryLimit = size_t{64} << 20;

// The threads a job packs with when nobody says otherwise: the processors online, at most 16.
unsigned DefaultThreads();

// The bytes an entry of that size can take at most after the local header, encryption included.
size_t PackedBound(uint64_t size, const Settings& settings);

class Pool {
public:
    // files: the job's list (folders end in "/"); it must stay as it is until the pool is gone,
    // but for the entries the writer has taken. memoryLimit: the shares of all entries held.
    Pool(const std::vector<std::string>& files, Settings settings, unsigned threads, size_t memoryLimit);
    // Stops the workers (an entry being packed is given up at its next read) and waits for them.
    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    // The packed entry of that index (the writer takes them in order), or null when the writer is
    // to pack it itself. Calls idle every few milliseconds while it waits; idle may throw.
    std::unique_ptr<Packed> Take(size_t index, const std::function<void()>& idle);
    // Gives back the share of an entry the writer has written.
    void Release(const Packed& packed);

    // What the entries are packed with.
    const Settings& Used() const { return settings_; }
    // The most memory the entries held at any one time (for tests and benchmarks).
    size_t PeakReserved() const;

private:
    struct Slot {
        bool done = false;
        std::unique_ptr<Packed> packed;  // null when done: the writer packs it
    };
    struct Worker;
    void work();
    // The file of an entry opened, its share taken in turn and the entry packed; null: the writer's.
    std::unique_ptr<Packed> open(size_t index, const std::string& path, Worker& worker);
    void pack(TBufferedFileStream& stream, Packed& packed, const std::string& path, Worker& worker);
    void finish(size_t index, std::unique_ptr<Packed> packed);
    // The entry of the earlier archive taken for the file when it fits and its data hold.
    bool takeOver(TBufferedFileStream& stream, Packed& packed, const std::string& path, Worker& worker);

    const std::vector<std::string>& files_;
    Settings settings_;
    const size_t memoryLimit_;

    mutable std::mutex mutex_;
    std::condition_variable workerWake_, writerWake_;
    size_t next_ = 0;       // the next index a worker takes
    size_t nextShare_ = 0;  // the index whose share is handed out next
    size_t reserved_ = 0;  // the shares held now
    size_t peak_ = 0;
    std::map<size_t, Slot> slots_;  // taken and not yet handed to the writer
    std::atomic<bool> stop_{false};
    bool broken_ = false;  // a worker failed outside an entry: the writer packs the rest
    std::vector<std::thread> threads_;
};

}  // namespace parallelpack
