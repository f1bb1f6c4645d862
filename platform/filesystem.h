// The operating system's file interface that all file access goes through, replaceable in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

// The characters that end a part of a path: "/", on Windows "\\" as well.
#ifdef _WIN32
inline constexpr char kPathSeparators[] = "/\\";
#else
inline constexpr char kPathSeparators[] = "/";
#endif
constexpr bool IsPathSeparator(char c) { return std::string_view(kPathSeparators).find(c) != std::string_view::npos; }

// What a path names on disk.
enum class FileKind { Missing, Regular, Directory, Symlink, Fifo, Socket, CharDevice, BlockDevice, Other };

struct FileStatus {
    FileKind kind = FileKind::Missing;
    uint64_t size = 0;
    int64_t mtime = 0;  // last write, seconds since the epoch
    int64_t mtimeNsec = 0;  // and the nanoseconds within that second
    uint32_t mode = 0;  // permission bits
    uint64_t device = 0, inode = 0;  // which file it is, whatever path led to it
};

// The raw operations, each returning a non-negative result or a negated errno value. The POSIX
// implementation is installed by default; tests install a double (usually derived from
// PosixFileSystem) to inject short writes, full disks, unreadable files and read errors.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual int open(const std::string& path, int flags, unsigned mode) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t read(int fd, void* buffer, size_t count) = 0;
    virtual ssize_t pwrite(int fd, const void* buffer, size_t count, int64_t offset) = 0;
    virtual int64_t seek(int fd, int64_t offset, int whence) = 0;
    virtual int fstat(int fd, FileStatus& status) = 0;
    virtual int fsync(int fd) = 0;
    virtual int ftruncate(int fd, int64_t length) = 0;
    virtual int fchmod(int fd, uint32_t mode) = 0;
    // Copies up to count bytes from one file to another at the given offsets inside the kernel
    // (the file offsets stay where they are); the bytes copied, or a negated errno (-EXDEV,
    // -EINVAL, -ENOSYS, -EOPNOTSUPP: not possible between these files).
    virtual ssize_t copyRange(int fdIn, int64_t offsetIn, int fdOut, int64_t offsetOut, size_t count) = 0;

    virtual int stat(const std::string& path, FileStatus& status) = 0;   // follows links
    virtual int lstat(const std::string& path, FileStatus& status) = 0;  // the link itself
    // Every name in the folder except "." and "..", in the order the file system gives them.
    virtual int listDirectory(const std::string& path, std::vector<std::string>& names) = 0;
    virtual int unlink(const std::string& path) = 0;
    virtual int rename(const std::string& from, const std::string& to) = 0;
    // Creates a new empty file from a template ending in "XXXXXX" (replaced in place); returns its fd.
    virtual int makeTemporary(std::string& pathTemplate) = 0;
    // Takes the exclusive advisory lock of an open file (flock), waiting for another holder when
    // wait is set; -EWOULDBLOCK when it is held elsewhere and wait is not set.
    virtual int lock(int fd, bool wait) = 0;
    // Whether the calling user may write the file (access W_OK, links followed): 0 or a negated errno.
    virtual int mayWrite(const std::string& path) = 0;
    // A short named text kept with the file, outside its bytes (an extended attribute in the
    // "user." space; links followed): 0, or a negated errno (-ENODATA: no such mark, -ENOTSUP:
    // the file system keeps none). Windows keeps none.
    virtual int getMark(const std::string& path, const std::string& name, std::string& value) = 0;
    virtual int setMark(const std::string& path, const std::string& name, const std::string& value) = 0;
};

class PosixFileSystem : public FileSystem {
public:
    int open(const std::string& path, int flags, unsigned mode) override;
    int close(int fd) override;
    ssize_t read(int fd, void* buffer, size_t count) override;
    ssize_t pwrite(int fd, const void* buffer, size_t count, int64_t offset) override;
    int64_t seek(int fd, int64_t offset, int whence) override;
    int fstat(int fd, FileStatus& status) override;
    int fsync(int fd) override;
    int ftruncate(int fd, int64_t length) override;
    int fchmod(int fd, uint32_t mode) override;
    ssize_t copyRange(int fdIn, int64_t offsetIn, int fdOut, int64_t offsetOut, size_t count) override;
    int stat(const std::string& path, FileStatus& status) override;
    int lstat(const std::string& path, FileStatus& status) override;
    int listDirectory(const std::string& path, std::vector<std::string>& names) override;
    int unlink(const std::string& path) override;
    int rename(const std::string& from, const std::string& to) override;
    int makeTemporary(std::string& pathTemplate) override;
    int lock(int fd, bool wait) override;
    int mayWrite(const std::string& path) override;
    int getMark(const std::string& path, const std::string& name, std::string& value) override;
    int setMark(const std::string& path, const std::string& name, const std::string& value) override;
};

// The file system in use.
FileSystem& fileSystem();

// Installs another file system for its lifetime and puts the previous one back afterwards.
class ScopedFileSystem {
public:
    explicit ScopedFileSystem(FileSystem& replacement);
    ~ScopedFileSystem();
    ScopedFileSystem(const ScopedFileSystem&) = delete;
    ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

private:
    FileSystem* previous_;
};

// A file operation that failed; the message names the file and the system's reason.
class EFileError : public std::runtime_error {
public:
    EFileError(const std::string& message, int errorCode) : std::runtime_error(message), errorCode_(errorCode) {}
    int errorCode() const { return errorCode_; }

private:
    int errorCode_;
};

// The system's text for an errno value (positive or negated).
std::string errorText(int errorCode);

// Path helpers over the installed file system; "exists" follows links.
bool FileExists(const std::string& path);       // a regular file
bool DirectoryExists(const std::string& path);  // a folder
bool DeleteFile(const std::string& path);       // true when it was removed
bool RenameFile(const std::string& from, const std::string& to);
// Whether path is the file known describes (same device and inode). size is path's size as listed:
// only a file of known's size can be it, so only those cost a look.
bool IsSameFile(const std::string& path, uint64_t size, const FileStatus& known);
// Has the folder that holds path written its entries to the disk, so that a file created or
// renamed there survives a power cut; best effort.
void SyncFolderOf(const std::string& path);

// The names of a path's parts, without empty and "." parts, each ".." taking back the part before
// it (lexically: links are not resolved); "/a/./b/../c" gives {"a", "c"}.
std::vector<std::string> LexicalParts(const std::string& path);

// The system's temporary folder: TMPDIR when it names a folder, else /tmp; ends with "/".
std::string TemporaryFolder();
// Creates a new, empty, uniquely named file in folder whose name starts with prefix; returns its path.
std::string CreateTemporaryFile(const std::string& folder, const std::string& prefix);

}  // namespace platform
