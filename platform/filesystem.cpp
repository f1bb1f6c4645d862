#include "platform/filesystem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

namespace {

int failure() { return -errno; }

FileKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::Regular;
    if (S_ISDIR(mode)) return FileKind::Directory;
    if (S_ISLNK(mode)) return FileKind::Symlink;
    if (S_ISFIFO(mode)) return FileKind::Fifo;
    if (S_ISSOCK(mode)) return FileKind::Socket;
    if (S_ISCHR(mode)) return FileKind::CharDevice;
    if (S_ISBLK(mode)) return FileKind::BlockDevice;
    return FileKind::Other;
}

void fill(const struct stat& st, FileStatus& status) {
    status.kind = kindOf(st.st_mode);
    status.size = static_cast<uint64_t>(st.st_size);
    status.mtime = st.st_mtim.tv_sec;
    status.mtimeNsec = st.st_mtim.tv_nsec;
    status.mode = st.st_mode & 07777;
    status.device = st.st_dev;
    status.inode = st.st_ino;
}

}  // namespace

int PosixFileSystem::open(const std::string& path, int flags, unsigned mode) {
    int fd;
    do fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd < 0 ? failure() : fd;
}

int PosixFileSystem::close(int fd) { return ::close(fd) < 0 && errno != EINTR ? failure() : 0; }

ssize_t PosixFileSystem::read(int fd, void* buffer, size_t count) {
    ssize_t n;
    do n = ::read(fd, buffer, count);
    while (n < 0 && errno == EINTR);
    return n < 0 ? failure() : n;
}

ssize_t PosixFileSystem::pwrite(int fd, const void* buffer, size_t count, int64_t offset) {
    ssize_t n;
    do n = ::pwrite(fd, buffer, count, static_cast<off_t>(offset));
    while (n < 0 && errno == EINTR);
    return n < 0 ? failure() : n;
}

int64_t PosixFileSystem::seek(int fd, int64_t offset, int whence) {
    off_t r = ::lseek(fd, static_cast<off_t>(offset), whence);
    return r < 0 ? failure() : static_cast<int64_t>(r);
}

int PosixFileSystem::fstat(int fd, FileStatus& status) {
    struct stat st;
    if (::fstat(fd, &st) < 0) return failure();
    fill(st, status);
    return 0;
}

int PosixFileSystem::fsync(int fd) { return ::fsync(fd) < 0 ? failure() : 0; }

int PosixFileSystem::ftruncate(int fd, int64_t length) {
    int r;
    do r = ::ftruncate(fd, static_cast<off_t>(length));
    while (r < 0 && errno == EINTR);
    return r < 0 ? failure() : 0;
}

int PosixFileSystem::fchmod(int fd, uint32_t mode) { return ::fchmod(fd, static_cast<mode_t>(mode)) < 0 ? failure() : 0; }

ssize_t PosixFileSystem::copyRange(int fdIn, int64_t offsetIn, int fdOut, int64_t offsetOut, size_t count) {
    loff_t in = offsetIn, out = offsetOut;
    ssize_t n;
    do n = ::copy_file_range(fdIn, &in, fdOut, &out, count, 0);
    while (n < 0 && errno == EINTR);
    // The copy's callers sync the file before it replaces another: start writing it out now, so
    // that the sync waits for less.
    if (n > 0) ::sync_file_range(fdOut, offsetOut, n, SYNC_FILE_RANGE_WRITE);
    return n < 0 ? failure() : n;
}

int PosixFileSystem::stat(const std::string& path, FileStatus& status) {
    struct stat st;
    if (::stat(path.c_str(), &st) < 0) return failure();
    fill(st, status);
    return 0;
}

int PosixFileSystem::lstat(const std::string& path, FileStatus& status) {
    struct stat st;
    if (::lstat(path.c_str(), &st) < 0) return failure();
    fill(st, status);
    return 0;
}

int PosixFileSystem::listDirectory(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return failure();
    errno = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
        errno = 0;
    }
    int result = errno ? failure() : 0;
    ::closedir(dir);
    return result;
}

int PosixFileSystem::unlink(const std::string& path) { return ::unlink(path.c_str()) < 0 ? failure() : 0; }

int PosixFileSystem::rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) < 0 ? failure() : 0;
}

int PosixFileSystem::makeTemporary(std::string& pathTemplate) {
    int fd = ::mkostemp(pathTemplate.data(), O_CLOEXEC);
    return fd < 0 ? failure() : fd;
}

void SyncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const int fd = fileSystem().open(folder, O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0) return;
    fileSystem().fsync(fd);
    fileSystem().close(fd);
}

std::string TemporaryFolder() {
    std::string folder = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp && DirectoryExists(tmp)) folder = tmp;
    if (folder.back() != '/') folder += '/';
    return folder;
}

int PosixFileSystem::lock(int fd, bool wait) {
    int r;
    do r = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
    while (r < 0 && errno == EINTR);
    return r < 0 ? failure() : 0;
}

int PosixFileSystem::mayWrite(const std::string& path) { return ::access(path.c_str(), W_OK) < 0 ? failure() : 0; }

int PosixFileSystem::getMark(const std::string& path, const std::string& name, std::string& value) {
    char text[256];  // marks are short; a longer one is not ours
    const ssize_t n = ::getxattr(path.c_str(), name.c_str(), text, sizeof text);
    if (n < 0) return errno == ERANGE ? -ENODATA : failure();
    value.assign(text, static_cast<size_t>(n));
    return 0;
}

int PosixFileSystem::setMark(const std::string& path, const std::string& name, const std::string& value) {
    return ::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) < 0 ? failure() : 0;
}

}  // namespace platform
