#include "zip/parallelpack.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/codepage.h"
#include "platform/wildcard.h"
#include "zip/aescipher.h"
#include "zip/bufferedstream.h"
#include "zip/deflate.h"
#include "zip/entryreuse.h"
#include "zip/maxdeflate.h"
#include "zip/tradcipher.h"
#include "zip/ziprecords.h"

namespace parallelpack {

namespace {

// Reads a step as the writer's stored copy does.
constexpr uint16_t kReadChunk = 32768;
// How often the writer's idle step runs while it waits for an entry.
constexpr auto kIdleSlice = std::chrono::milliseconds(5);

// The pool is being stopped: the entry in hand is given up.
struct Stopped {};

size_t headerSize(const Settings& settings) {
    if (settings.password.empty()) return 0;
    return settings.aes ? aescipher::kOverhead : TTraditionalCipher::HeaderSize;
}

bool useMaximum(uint64_t size, const Settings& settings) {
    return settings.level == maxdeflate::kLevel && size <= settings.maximumLevelLimit;
}

uint64_t entryLimit(uint64_t size, const Settings& settings) {
    return useMaximum(size, settings) ? kMaximumLevelEntryLimit : kEntryLimit;
}

std::string fileNameOf(const std::string& path, bool oem) {
    const std::string name = oem ? platform::OemFilter(path) : path;
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The compressor's view of one file: reads never pass the size it had when opened, run through
// the CRC, and stop when the pool does; the output goes into the entry's bytes.
class Input final : public TDeflateHost {
public:
    Input(TBufferedFileStream& stream, uint64_t limit, std::vector<uint8_t>& out, const std::atomic<bool>& stop)
        : stream_(stream), limit_(limit), out_(out), stop_(stop) {}

    uint16_t file_read(uint8_t* buffer, uint16_t count) override {
        if (stop_.load(std::memory_order_relaxed)) throw Stopped();
        const uint64_t left = limit_ - read_;
        if (count > left) count = static_cast<uint16_t>(left);
        if (count == 0) return 0;
        const size_t n = stream_.Read(buffer, count);
        if (stream_.LastError()) throw Stopped();  // the writer reads it again and reports the error
        read_ += n;
        crc_ = Update_CRC_buff(crc_, buffer, n);
        return static_cast<uint16_t>(n);
    }
    size_t zfwrite(uint8_t* buffer, size_t size, size_t count) override {
        out_.insert(out_.end(), buffer, buffer + size * count);
        return size * count;
    }
    uint64_t read() const { return read_; }
    uint32_t crc() const { return ~crc_; }

private:
    TBufferedFileStream& stream_;
    const uint64_t limit_;
    std::vector<uint8_t>& out_;
    const std::atomic<bool>& stop_;
    uint64_t read_ = 0;
    uint32_t crc_ = 0xFFFFFFFF;
};

}  // namespace

// A worker's own compressors, kept from entry to entry.
struct Pool::Worker {
    TDeflater deflater;
    std::unique_ptr<TDeflateBuffers> buffers;
    std::unique_ptr<maxdeflate::Compressor> maximum;
    std::unique_ptr<uint8_t[]> chunk;
    std::unique_ptr<entryreuse::TReuseReader> earlier;  // its reading of the earlier archive
};

unsigned DefaultThreads() { return std::clamp(std::thread::hardware_concurrency(), 1u, 16u); }

size_t PackedBound(uint64_t size, const Settings& settings) {
    // Deflate's output can pass its input by the block headers and, where a block is sent with the
    // fixed codes, by one bit in eight; the maximum level and level 0 store what does not shrink.
    const uint64_t bound = settings.level == 0 || useMaximum(size, settings) ? size : size + size / 8 + 1024;
    return static_cast<size_t>(std::min<uint64_t>(bound + headerSize(settings), SIZE_MAX / 2));
}

Pool::Pool(const std::vector<std::string>& files, Settings settings, unsigned threads, size_t memoryLimit)
    : files_(files), settings_(std::move(settings)), memoryLimit_(memoryLimit) {
    threads = std::max(1u, threads);
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

Pool::~Pool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    workerWake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    aescipher::WipeText(settings_.password);
}

size_t Pool::PeakReserved() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return peak_;
}

std::unique_ptr<Packed> Pool::Take(size_t index, const std::function<void()>& idle) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto lastIdle = std::chrono::steady_clock::now();
    for (;;) {
        auto slot = slots_.find(index);
        if (slot != slots_.end() && slot->second.done) {
            std::unique_ptr<Packed> packed = std::move(slot->second.packed);
            slots_.erase(slot);
            return packed;
        }
        if (broken_) return nullptr;
        writerWake_.wait_for(lock, kIdleSlice);
        if (std::chrono::steady_clock::now() - lastIdle >= kIdleSlice) {
            lock.unlock();
            idle();
            lock.lock();
            lastIdle = std::chrono::steady_clock::now();
        }
    }
}

void Pool::Release(const Packed& packed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reserved_ -= packed.reserved;
    }
    workerWake_.notify_all();
}

void Pool::finish(size_t index, std::unique_ptr<Packed> packed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot& slot = slots_[index];
        slot.done = true;
        slot.packed = std::move(packed);
    }
    writerWake_.notify_all();
}

void Pool::work() {
    try {
        Worker worker;
        for (;;) {
            size_t index;
            std::string path;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stop_ || next_ >= files_.size()) return;
                index = next_++;
                path = files_[index];
            }
            finish(index, open(index, path, worker));
        }
    } catch (...) {
        // Out of memory for the pool's own records: the writer packs what is left itself.
        std::lock_guard<std::mutex> lock(mutex_);
        broken_ = stop_ = true;
        writerWake_.notify_all();
    }
}

std::unique_ptr<Packed> Pool::open(size_t index, const std::string& path, Worker& worker) {
    std::unique_ptr<TBufferedFileStream> stream;
    auto packed = std::make_unique<Packed>();
    // Only regular files are opened (a named pipe could block, a device act on being opened);
    // folders and everything else are the writer's.
    platform::FileStatus status;
    if (!path.empty() && path.back() != '/' && platform::fileSystem().stat(path, status) == 0 &&
        status.kind == platform::FileKind::Regular) {
        try {
            stream = std::make_unique<TBufferedFileStream>(path, TFileMode::fmOpenRead);
        } catch (const platform::EFileError&) {
        }
        if (stream && (!stream->Status(packed->status) || packed->status.kind != platform::FileKind::Regular))
            stream.reset();
    }
    const uint64_t size = packed->status.size;
    const size_t share = stream ? PackedBound(size, settings_) : 0;
    const bool fits = stream && share <= entryLimit(size, settings_) && share <= memoryLimit_;

    // Every entry takes its turn for a share in list order: everything before the entry the writer
    // waits for has been written and given back, so that entry always finds room.
    {
        std::unique_lock<std::mutex> lock(mutex_);
        workerWake_.wait(lock, [&] { return stop_ || (nextShare_ == index && (!fits || reserved_ + share <= memoryLimit_)); });
        if (stop_) return nullptr;
        ++nextShare_;
        if (fits) {
            reserved_ += share;
            peak_ = std::max(peak_, reserved_);
        }
    }
    workerWake_.notify_all();
    if (!fits) return nullptr;
    packed->reserved = share;
    try {
        pack(*stream, *packed, path, worker);
    } catch (...) {
        Release(*packed);
        return nullptr;
    }
    return packed;
}

bool Pool::takeOver(TBufferedFileStream& stream, Packed& packed, const std::string& path, Worker& worker) {
    const TArchiveEntry* entry = settings_.reusable ? settings_.reusable(path, packed.status) : nullptr;
    if (!entry) return false;
    // The file is read once for its CRC; the entry's data are inflated and checked against it.
    if (!worker.chunk) worker.chunk = std::make_unique<uint8_t[]>(kReadChunk);
    std::vector<uint8_t> none;
    Input input(stream, packed.status.size, none, stop_);
    while (input.file_read(worker.chunk.get(), kReadChunk) != 0) {
    }
    if (input.read() == entry->uncompressedSize && (entry->IsAes() || input.crc() == entry->crc32)) {
        if (!worker.earlier) {
            worker.earlier = std::make_unique<entryreuse::TReuseReader>(*settings_.reuse);
            worker.earlier->OnChunk = [this] {
                if (stop_.load(std::memory_order_relaxed)) throw Stopped();
            };
        }
        std::string detail;
        const entryreuse::TVerdict verdict = worker.earlier->Check(*entry, settings_.password, input.crc(), detail);
        if (verdict == entryreuse::TVerdict::Holds) {
            packed.reused = entry;
            packed.bytesRead = input.read();
            packed.crc = input.crc();
            platform::FileStatus now;
            packed.changed = packed.bytesRead != packed.status.size || !stream.Status(now) ||
                             now.size != packed.status.size || now.mtime != packed.status.mtime ||
                             now.mtimeNsec != packed.status.mtimeNsec;
            return true;
        }
        if (verdict == entryreuse::TVerdict::Damaged) packed.reuseFault = detail;
    }
    if (stream.Seek(0, TSeekOrigin::soBeginning) != 0) throw Stopped();  // the writer tries it itself
    return false;
}

void Pool::pack(TBufferedFileStream& stream, Packed& packed, const std::string& path, Worker& worker) {
    packed.storedByName = std::any_of(settings_.noCompress.begin(), settings_.noCompress.end(),
                                      [name = fileNameOf(path, settings_.oemConvert)](const std::string& pattern) {
                                          return IsMatch(pattern, name);
                                      });
    if (settings_.reuse && takeOver(stream, packed, path, worker)) return;
    const uint64_t size = packed.status.size;
    const bool aes = !settings_.password.empty() && settings_.aes;
    std::vector<uint8_t>& out = packed.data;
    out.reserve(packed.reserved);
    // Room for the salt and verifier, or the encryption header, made once the CRC is known.
    out.resize(settings_.password.empty() ? 0 : aes ? aescipher::kHeaderSize : TTraditionalCipher::HeaderSize);
    Input input(stream, size, out, stop_);
    if (settings_.level == 0 || packed.storedByName) {
        if (!worker.chunk) worker.chunk = std::make_unique<uint8_t[]>(kReadChunk);
        for (uint16_t n; (n = input.file_read(worker.chunk.get(), kReadChunk)) != 0;) input.zfwrite(worker.chunk.get(), 1, n);
        packed.method = kMethodStored;
        packed.internalAttributes = kInternalBinary;
    } else if (useMaximum(size, settings_)) {
        if (!worker.maximum) worker.maximum = std::make_unique<maxdeflate::Compressor>();
        uint8_t* data = worker.maximum->Input(static_cast<size_t>(size));
        size_t got = 0;
        for (uint16_t n = 1; got < size && n != 0; got += n)
            n = input.file_read(data + got, static_cast<uint16_t>(std::min<uint64_t>(kReadChunk, size - got)));
        const maxdeflate::Result result = worker.maximum->Compress(got);
        const uint8_t* bytes = result.stored ? data : worker.maximum->Output();
        out.insert(out.end(), bytes, bytes + (result.stored ? got : result.size));
        packed.flagBits = kFlagDeflateMaximum;
        packed.internalAttributes = result.internal_attributes;
        packed.method = result.stored ? kMethodStored : kMethodDeflated;
    } else {
        if (!worker.buffers) worker.buffers = std::make_unique<TDeflateBuffers>();
        packed.internalAttributes = kInternalUnknown;
        packed.method = kMethodDeflated;
        worker.deflater.Deflate(*worker.buffers, std::min(settings_.level, 9), input,
                                {packed.flagBits, packed.internalAttributes, packed.method});
    }
    packed.bytesRead = input.read();
    packed.crc = input.crc();
    platform::FileStatus now;
    packed.changed = packed.bytesRead != size || !stream.Status(now) || now.size != packed.status.size ||
                     now.mtime != packed.status.mtime || now.mtimeNsec != packed.status.mtimeNsec;

    // The cipher runs over the finished entry as the writer's runs over its blocks.
    if (settings_.password.empty()) return;
    if (aes) {
        aescipher::TAesCipher cipher;
        uint8_t salt[aescipher::kHeaderSize];
        cipher.StartEncrypt(settings_.password, salt);
        std::memcpy(out.data(), salt, sizeof salt);
        cipher.Encrypt(out.data() + sizeof salt, out.size() - sizeof salt);
        uint8_t code[aescipher::kCodeSize];
        cipher.Finish(code);
        out.insert(out.end(), code, code + sizeof code);
    } else {
        TTraditionalCipher cipher;
        uint8_t crypt[TTraditionalCipher::HeaderSize];
        cipher.MakeHeader(settings_.password, packed.crc, crypt);
        std::memcpy(out.data(), crypt, sizeof crypt);
        cipher.encrypt_buff(out.data() + sizeof crypt, out.size() - sizeof crypt);
    }
}

}  // namespace parallelpack
