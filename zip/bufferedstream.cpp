#include "zip/bufferedstream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TBufferedFileStream::TBufferedFileStream(const std::string& fileName, TFileMode mode)
    : fileName_(fileName), writing_(mode != TFileMode::fmOpenRead) {
    platform::FileSystem& fs = platform::fileSystem();
    switch (mode) {
    case TFileMode::fmOpenRead:
        fd_ = fs.open(fileName, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
        break;
    case TFileMode::fmCreate:
        fd_ = fs.open(fileName, O_RDWR | O_CREAT | O_TRUNC, 0666);
        break;
    case TFileMode::fmCreateNew:
        fd_ = fs.open(fileName, O_RDWR | O_CREAT | O_EXCL, 0666);
        break;
    }
    if (fd_ < 0) {
        std::string what = writing_ ? "Cannot create file \"" : "Cannot open file \"";
        throw platform::EFileError(what + fileName + "\". " + platform::errorText(fd_), -fd_);
    }
    if (writing_) {
        // Normally 0; a file system may hand over a file that already holds data before it.
        int64_t start = fs.seek(fd_, 0, SEEK_CUR);
        position_ = size_ = bufferStart_ = start > 0 ? start : 0;
    }
}

TBufferedFileStream::~TBufferedFileStream() {
    if (fd_ >= 0) {
        if (writing_) Flush();
        platform::fileSystem().close(fd_);
    }
}

bool TBufferedFileStream::writeOut(const uint8_t* data, size_t count, int64_t offset) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = platform::fileSystem().pwrite(fd_, data + done, count - done, offset + static_cast<int64_t>(done));
        if (n <= 0) {
            error_ = n < 0 ? static_cast<int>(n) : -ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool TBufferedFileStream::Flush() {
    if (!writing_ || fd_ < 0) return error_ == 0;
    if (error_) return false;
    if (bufferLength_ == 0) return true;
    bool ok = writeOut(buffer_, bufferLength_, bufferStart_);
    bufferLength_ = 0;
    return ok;
}

size_t TBufferedFileStream::Write(const void* buffer, size_t count) {
    if (!writing_ || fd_ < 0 || error_ || count == 0) return 0;
    const uint8_t* data = static_cast<const uint8_t*>(buffer);
    if (count >= BufferSize) {
        // Large blocks go straight to the file, after what is pending.
        if (!Flush() || !writeOut(data, count, position_)) return 0;
    } else {
        int64_t windowEnd = bufferStart_ + static_cast<int64_t>(bufferLength_);
        bool outside = position_ < bufferStart_ || position_ > windowEnd ||
                       position_ + static_cast<int64_t>(count) > bufferStart_ + static_cast<int64_t>(BufferSize);
        if (bufferLength_ > 0 && outside && !Flush()) return 0;
        if (bufferLength_ == 0) bufferStart_ = position_;
        size_t at = static_cast<size_t>(position_ - bufferStart_);
        std::memcpy(buffer_ + at, data, count);
        bufferLength_ = std::max(bufferLength_, at + count);
    }
    position_ += static_cast<int64_t>(count);
    size_ = std::max(size_, position_);
    return count;
}

size_t TBufferedFileStream::Read(void* buffer, size_t count) {
    if (writing_ || fd_ < 0 || error_) return 0;
    platform::FileSystem& fs = platform::fileSystem();
    uint8_t* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        int64_t windowEnd = bufferStart_ + static_cast<int64_t>(bufferLength_);
        if (position_ < windowEnd) {
            size_t take = std::min(count - done, static_cast<size_t>(windowEnd - position_));
            std::memcpy(out + done, buffer_ + (position_ - bufferStart_), take);
            position_ += static_cast<int64_t>(take);
            done += take;
            continue;
        }
        // The window is used up and the file stands at its end, which is the current position.
        bool direct = count - done >= BufferSize;
        ssize_t n = direct ? fs.read(fd_, out + done, count - done) : fs.read(fd_, buffer_, BufferSize);
        if (n < 0) {
            if (!error_) error_ = static_cast<int>(n);
            break;
        }
        if (n == 0) break;
        bufferStart_ = position_;
        if (direct) {
            bufferLength_ = 0;
            position_ += n;
            bufferStart_ = position_;
            done += static_cast<size_t>(n);
        } else {
            bufferLength_ = static_cast<size_t>(n);
        }
    }
    return done;
}

int64_t TBufferedFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t target = offset;
    if (origin == TSeekOrigin::soCurrent) target += position_;
    else if (origin == TSeekOrigin::soEnd) target += Size();
    if (target < 0) return -1;
    if (target == position_) return position_;
    if (!writing_ && (target < bufferStart_ || target > bufferStart_ + static_cast<int64_t>(bufferLength_))) {
        // Outside the read window: move the file and drop the window.
        int64_t r = platform::fileSystem().seek(fd_, target, SEEK_SET);
        if (r < 0) {
            if (!error_) error_ = static_cast<int>(r);
            return -1;
        }
        bufferStart_ = target;
        bufferLength_ = 0;
    }
    position_ = target;
    return position_;
}

size_t TBufferedFileStream::CopyFrom(TBufferedFileStream& source, size_t count) {
    if (!writing_ || fd_ < 0 || error_ || source.writing_ || source.fd_ < 0 || !Flush()) return 0;
    platform::FileSystem& fs = platform::fileSystem();
    ssize_t n = fs.copyRange(source.fd_, source.position_, fd_, position_, count);
    if (n < 0) {
        if (n != -EXDEV && n != -EINVAL && n != -ENOSYS && n != -EOPNOTSUPP && n != -EBADF) error_ = static_cast<int>(n);
        return 0;
    }
    // The source's file offset did not move: its reads go on from the new position (a source
    // that cannot be moved there stays failed and reads nothing more).
    int64_t next = source.position_ + n;
    if (fs.seek(source.fd_, next, SEEK_SET) != next && !source.error_) source.error_ = -EIO;
    source.position_ = source.bufferStart_ = next;
    source.bufferLength_ = 0;
    position_ += n;
    size_ = std::max(size_, position_);
    return static_cast<size_t>(n);
}

bool TBufferedFileStream::Truncate() {
    if (!writing_ || fd_ < 0 || !Flush()) return false;
    int r = platform::fileSystem().ftruncate(fd_, position_);
    if (r < 0) {
        error_ = r;
        return false;
    }
    size_ = position_;
    return true;
}

bool TBufferedFileStream::SetPermissions(uint32_t mode) {
    return fd_ >= 0 && platform::fileSystem().fchmod(fd_, mode) == 0;
}

int64_t TBufferedFileStream::Size() {
    if (writing_) return size_;
    platform::FileStatus status;
    return Status(status) ? static_cast<int64_t>(status.size) : -1;
}

bool TBufferedFileStream::Status(platform::FileStatus& status) {
    return fd_ >= 0 && platform::fileSystem().fstat(fd_, status) == 0;
}

bool TBufferedFileStream::Close(bool syncToDisk) {
    if (fd_ < 0) return error_ == 0;
    bool ok = true;
    if (writing_) {
        ok = Flush();
        if (ok && syncToDisk) {
            int r = platform::fileSystem().fsync(fd_);
            if (r < 0) error_ = r, ok = false;
        }
    }
    int r = platform::fileSystem().close(fd_);
    fd_ = -1;
    if (r < 0 && writing_) {
        if (!error_) error_ = r;
        ok = false;
    }
    return ok;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
    size_t take = position_ < data_.size() ? std::min(count, data_.size() - position_) : 0;
    if (take) std::memcpy(buffer, data_.data() + position_, take);
    position_ += take;
    return take;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
    if (position_ + count > data_.size()) data_.resize(position_ + count);
    if (count) std::memcpy(data_.data() + position_, buffer, count);
    position_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t target = offset;
    if (origin == TSeekOrigin::soCurrent) target += static_cast<int64_t>(position_);
    else if (origin == TSeekOrigin::soEnd) target += static_cast<int64_t>(data_.size());
    if (target < 0) return -1;
    position_ = static_cast<size_t>(target);
    return target;
}
