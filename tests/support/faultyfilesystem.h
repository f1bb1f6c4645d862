// A file system double for tests: the real POSIX one with faults injected per path.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/filesystem.h"

namespace testsupport {

// Safe to use from several threads at once (the writer's workers read through it).
class FaultyFileSystem : public platform::PosixFileSystem {
public:
    std::map<std::string, int> openErrors;         // path -> errno returned by open
    std::map<std::string, uint64_t> readErrorAfter;  // path -> bytes readable before EIO
    std::map<std::string, int> listErrors;         // folder -> errno returned by the listing
    std::map<std::string, int> statErrors;         // path -> errno returned by stat and lstat
    std::map<std::string, int64_t> startOffset;    // path -> position a new file reports it starts at
    std::optional<uint64_t> writeBudget;           // bytes all writes together may still put on disk
    std::set<std::string> closeErrors;             // paths whose close reports EIO
    std::map<std::string, int> renameErrors;       // folder of the source -> errno returned by rename
    std::map<std::string, std::vector<int>> temporaryErrors;  // folder -> errnos of its next temporary files, one each
    std::map<std::string, int> writeErrors;        // path -> errno the write-permission check returns
    // folder -> offset of a byte silently flipped in every file written there: a fault the disk
    // does not report
    std::map<std::string, uint64_t> flipWrittenByte;
    bool reverseListings = false;                  // hand listings over in reverse order
    std::vector<std::string> opened;               // every path opened, in order
    // Called after each successful read with the path and the bytes read from it so far.
    std::function<void(const std::string& path, uint64_t done)> afterRead;

    int open(const std::string& path, int flags, unsigned mode) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        opened.push_back(path);
        if (auto it = openErrors.find(path); it != openErrors.end()) return -it->second;
        int fd = PosixFileSystem::open(path, flags, mode);
        if (fd >= 0) files_[fd] = File{path, 0};
        return fd;
    }
    int close(int fd) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        std::string path = files_.count(fd) ? files_[fd].path : std::string();
        files_.erase(fd);
        int r = PosixFileSystem::close(fd);
        return closeErrors.count(path) ? -EIO : r;
    }
    ssize_t read(int fd, void* buffer, size_t count) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        File& f = files_[fd];
        if (auto it = readErrorAfter.find(f.path); it != readErrorAfter.end()) {
            if (f.done >= it->second) return -EIO;
            count = std::min<uint64_t>(count, it->second - f.done);
        }
        ssize_t n = PosixFileSystem::read(fd, buffer, count);
        if (n > 0) f.done += static_cast<uint64_t>(n);
        if (n > 0 && afterRead) afterRead(f.path, f.done);
        return n;
    }
    ssize_t pwrite(int fd, const void* buffer, size_t count, int64_t offset) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (writeBudget) {
            if (*writeBudget == 0) return -ENOSPC;
            count = std::min<uint64_t>(count, *writeBudget);  // a short write, then ENOSPC
            *writeBudget -= count;
        }
        if (auto it = flipWrittenByte.find(folderOf(files_[fd].path)); it != flipWrittenByte.end() &&
            it->second >= static_cast<uint64_t>(offset) && it->second - static_cast<uint64_t>(offset) < count) {
            std::vector<uint8_t> copy(static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + count);
            copy[it->second - static_cast<uint64_t>(offset)] ^= 0x5A;
            return PosixFileSystem::pwrite(fd, copy.data(), count, offset - shift(fd));
        }
        return PosixFileSystem::pwrite(fd, buffer, count, offset - shift(fd));
    }
    ssize_t copyRange(int fdIn, int64_t offsetIn, int fdOut, int64_t offsetOut, size_t count) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (writeBudget) {
            if (*writeBudget == 0) return -ENOSPC;
            count = std::min<uint64_t>(count, *writeBudget);
        }
        ssize_t n = PosixFileSystem::copyRange(fdIn, offsetIn - shift(fdIn), fdOut, offsetOut - shift(fdOut), count);
        if (n > 0 && writeBudget) *writeBudget -= static_cast<uint64_t>(n);
        return n;
    }
    int64_t seek(int fd, int64_t offset, int whence) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        int64_t r = PosixFileSystem::seek(fd, whence == SEEK_SET ? offset - shift(fd) : offset, whence);
        return r < 0 ? r : r + shift(fd);
    }
    int stat(const std::string& path, platform::FileStatus& status) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (auto it = statErrors.find(path); it != statErrors.end()) return -it->second;
        return PosixFileSystem::stat(path, status);
    }
    int lstat(const std::string& path, platform::FileStatus& status) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (auto it = statErrors.find(path); it != statErrors.end()) return -it->second;
        return PosixFileSystem::lstat(path, status);
    }
    int rename(const std::string& from, const std::string& to) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (auto it = renameErrors.find(folderOf(from)); it != renameErrors.end()) return -it->second;
        return PosixFileSystem::rename(from, to);
    }
    int makeTemporary(std::string& pathTemplate) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (auto it = temporaryErrors.find(folderOf(pathTemplate)); it != temporaryErrors.end() && !it->second.empty()) {
            int error = it->second.front();
            it->second.erase(it->second.begin());
            return -error;
        }
        return PosixFileSystem::makeTemporary(pathTemplate);
    }
    int mayWrite(const std::string& path) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (auto it = writeErrors.find(path); it != writeErrors.end()) return -it->second;
        return PosixFileSystem::mayWrite(path);
    }
    int listDirectory(const std::string& path, std::vector<std::string>& names) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        std::string key = path;
        while (key.size() > 1 && key.back() == '/') key.pop_back();
        if (auto it = listErrors.find(key); it != listErrors.end()) return -it->second;
        int r = PosixFileSystem::listDirectory(path, names);
        if (reverseListings) std::reverse(names.begin(), names.end());
        return r;
    }

    // The folder a path lies in, without a trailing "/" (the key of the per-folder faults).
    static std::string folderOf(const std::string& path) {
        size_t slash = path.rfind('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }

private:
    struct File {
        std::string path;
        uint64_t done;
    };
    int64_t shift(int fd) {
        auto it = files_.find(fd);
        if (it == files_.end()) return 0;
        auto s = startOffset.find(it->second.path);
        return s == startOffset.end() ? 0 : s->second;
    }
    std::map<int, File> files_;
    std::recursive_mutex mutex_;
};

}  // namespace testsupport
