// Byte streams: the abstract TStream, the 8192-byte buffered file stream and a memory stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/filesystem.h"

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    // Bytes read; fewer than count at the end of the data or after a read error.
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Bytes taken; fewer than count when the medium refused some (the stream then stays failed).
    virtual size_t Write(const void* buffer, size_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size() = 0;
    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
};

enum class TFileMode {
    fmOpenRead,   // read-only, others may read and write; never blocks on a named pipe
    fmCreate,     // created empty or truncated, read and write
    fmCreateNew,  // created empty; fails when the file exists
};

// A file stream with an 8192-byte buffer. Written data is held in a write-back window: a seek
// back into the window (the header patch of a small entry) costs no system call, and a failed
// write-out is remembered and reported by the next Write, Flush or Close.
class TBufferedFileStream : public TStream {
public:
    static constexpr size_t BufferSize = 8192;

    // Raises platform::EFileError ("Cannot open file ..." / "Cannot create file ...") on failure.
    TBufferedFileStream(const std::string& fileName, TFileMode mode);
    ~TBufferedFileStream() override;
    TBufferedFileStream(const TBufferedFileStream&) = delete;
    TBufferedFileStream& operator=(const TBufferedFileStream&) = delete;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;

    // Writes out pending data; false when the file took fewer bytes.
    bool Flush();
    // Copies up to count bytes from source's position to this stream's position inside the
    // kernel, both positions moving on; returns the bytes copied. 0 with LastError() clear means
    // the system cannot copy between these files (or source is at its end): the caller copies
    // through a buffer instead. A failed write leaves this stream failed, as Write does.
    size_t CopyFrom(TBufferedFileStream& source, size_t count);
    // Cuts the file off at the current position (after writing out what is pending); false on failure.
    bool Truncate();
    // Sets the permission bits of the open file; false on failure.
    bool SetPermissions(uint32_t mode);
    // Flushes, optionally has the data flushed to the disk, and closes; false on any failure.
    bool Close(bool syncToDisk = false);
    // The status of the open file (kind, size, last-write time); false when it cannot be read.
    bool Status(platform::FileStatus& status);

    const std::string& FileName() const { return fileName_; }
    // Negated errno of the first failed read or write, 0 when none failed.
    int LastError() const { return error_; }

private:
    bool writeOut(const uint8_t* data, size_t count, int64_t offset);

    std::string fileName_;
    int fd_ = -1;
    bool writing_;
    uint8_t buffer_[BufferSize];
    int64_t bufferStart_ = 0;  // file offset of buffer_[0]
    size_t bufferLength_ = 0;  // valid bytes (read data or pending written data)
    int64_t position_ = 0;
    int64_t size_ = 0;
    int error_ = 0;
};

// A stream over bytes in memory.
class TMemoryStream : public TStream {
public:
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    const std::vector<uint8_t>& Data() const { return data_; }

private:
    std::vector<uint8_t> data_;
    size_t position_ = 0;
};
