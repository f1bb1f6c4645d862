// The file system on the Win32 wide API: descriptors are slots of a handle table, results errno values.
#include "platform/filesystem.h"

#include "platform/widepath_win32.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include "platform/winapi_win32.h"

namespace platform {

using win32::ErrnoOf;
using win32::SystemPath;

namespace {

// Descriptors start above the standard streams' numbers, so that none is mistaken for one.
constexpr int kFirstDescriptor = 3;

class HandleTable {
public:
    int add(HANDLE handle) {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < handles_.size(); ++i)
            if (handles_[i] == INVALID_HANDLE_VALUE) {
                handles_[i] = handle;
                return static_cast<int>(i) + kFirstDescriptor;
            }
        handles_.push_back(handle);
        return static_cast<int>(handles_.size()) - 1 + kFirstDescriptor;
    }
    HANDLE get(int fd) {
        // 0, 1 and 2 are the standard streams, as in the C runtime.
        if (fd == 0) return GetStdHandle(STD_INPUT_HANDLE);
        if (fd == 1) return GetStdHandle(STD_OUTPUT_HANDLE);
        if (fd == 2) return GetStdHandle(STD_ERROR_HANDLE);
        std::lock_guard lock(mutex_);
        const size_t i = static_cast<size_t>(fd - kFirstDescriptor);
        return fd >= kFirstDescriptor && i < handles_.size() ? handles_[i] : INVALID_HANDLE_VALUE;
    }
    HANDLE remove(int fd) {
        std::lock_guard lock(mutex_);
        const size_t i = static_cast<size_t>(fd - kFirstDescriptor);
        if (fd < kFirstDescriptor || i >= handles_.size()) return INVALID_HANDLE_VALUE;
        HANDLE handle = handles_[i];
        handles_[i] = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    std::mutex mutex_;
    std::vector<HANDLE> handles_;
};

HandleTable& handles() {
    static HandleTable table;
    return table;
}

int failure() { return -ErrnoOf(GetLastError()); }

uint64_t ticks(const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

// The permission bits a file's attributes stand for: read-only takes the write bits away.
uint32_t modeOf(DWORD attributes) {
    const uint32_t all = attributes & FILE_ATTRIBUTE_DIRECTORY ? 0777 : 0666;
    return attributes & FILE_ATTRIBUTE_READONLY ? all & ~0222u : all;
}

void fill(const BY_HANDLE_FILE_INFORMATION& info, DWORD type, FileStatus& status) {
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) status.kind = FileKind::Directory;
    else if (type == FILE_TYPE_PIPE) status.kind = FileKind::Fifo;
    else if (type == FILE_TYPE_CHAR) status.kind = FileKind::CharDevice;
    else status.kind = FileKind::Regular;
    status.size = status.kind == FileKind::Regular ? (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow : 0;
    status.mtime = win32::UnixSeconds(ticks(info.ftLastWriteTime));
    status.mtimeNsec = win32::UnixNanoseconds(ticks(info.ftLastWriteTime));
    status.mode = modeOf(info.dwFileAttributes);
    status.device = info.dwVolumeSerialNumber;
    status.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
}

int statHandle(HANDLE handle, FileStatus& status) {
    BY_HANDLE_FILE_INFORMATION info;
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_DISK) {
        if (!GetFileInformationByHandle(handle, &info)) return failure();
    } else {
        info = BY_HANDLE_FILE_INFORMATION{};
    }
    fill(info, type, status);
    return 0;
}

// Examines a path without reading it; with noFollow a link (reparse point) is reported itself.
int statPath(const std::string& path, FileStatus& status, bool noFollow) {
    const std::wstring wide = SystemPath(path);
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE handle = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A file opened by another without sharing still has attributes to read.
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (error == ERROR_SHARING_VIOLATION && GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
            BY_HANDLE_FILE_INFORMATION info{};
            info.dwFileAttributes = data.dwFileAttributes;
            info.ftLastWriteTime = data.ftLastWriteTime;
            info.nFileSizeHigh = data.nFileSizeHigh;
            info.nFileSizeLow = data.nFileSizeLow;
            fill(info, FILE_TYPE_DISK, status);
            return 0;
        }
        return -ErrnoOf(error);
    }
    const int result = statHandle(handle, status);
    if (result == 0 && noFollow) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
            (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && tag.ReparseTag == IO_REPARSE_TAG_SYMLINK)
            status.kind = FileKind::Symlink;
    }
    CloseHandle(handle);
    return result;
}

// Keeps a handle's file pointer where it was across a positioned transfer.
class KeepPointer {
public:
    explicit KeepPointer(HANDLE handle) : handle_(handle) {
        ok_ = SetFilePointerEx(handle_, LARGE_INTEGER{}, &saved_, FILE_CURRENT);
    }
    ~KeepPointer() {
        if (ok_) SetFilePointerEx(handle_, saved_, nullptr, FILE_BEGIN);
    }
    KeepPointer(const KeepPointer&) = delete;
    KeepPointer& operator=(const KeepPointer&) = delete;

private:
    HANDLE handle_;
    LARGE_INTEGER saved_{};
    BOOL ok_ = FALSE;
};

// The largest single transfer: ReadFile and WriteFile count in 32 bits.
constexpr size_t kMaxTransfer = size_t{1} << 30;

}  // namespace

int PosixFileSystem::open(const std::string& path, int flags, unsigned mode) {
    DWORD access = 0;
    switch (flags & (O_RDONLY | O_WRONLY | O_RDWR)) {
    case O_WRONLY: access = GENERIC_WRITE; break;
    case O_RDWR: access = GENERIC_READ | GENERIC_WRITE; break;
    default: access = GENERIC_READ; break;
    }
    DWORD disposition = OPEN_EXISTING;
    if ((flags & O_CREAT) && (flags & O_EXCL)) disposition = CREATE_NEW;
    else if ((flags & O_CREAT) && (flags & O_TRUNC)) disposition = CREATE_ALWAYS;
    else if (flags & O_CREAT) disposition = OPEN_ALWAYS;
    else if (flags & O_TRUNC) disposition = TRUNCATE_EXISTING;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if ((flags & O_CREAT) && !(mode & 0200)) attributes = FILE_ATTRIBUTE_READONLY;
    if (flags & O_DIRECTORY) attributes |= FILE_FLAG_BACKUP_SEMANTICS;
    if (flags & O_NOFOLLOW) attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
    if (flags & O_DIRECTORY) access = FILE_READ_ATTRIBUTES;
    // Others may read, write, rename and delete the file while it is open, as on Linux.
    HANDLE handle = CreateFileW(SystemPath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, disposition, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder opened as a file: the system says access denied, POSIX says EISDIR.
        if (error == ERROR_ACCESS_DENIED && !(flags & O_DIRECTORY)) {
            const DWORD found = GetFileAttributesW(SystemPath(path).c_str());
            if (found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY)) return -EISDIR;
        }
        return -ErrnoOf(error);
    }
    if (flags & O_APPEND) SetFilePointerEx(handle, LARGE_INTEGER{}, nullptr, FILE_END);
    return handles().add(handle);
}

int PosixFileSystem::close(int fd) {
    HANDLE handle = handles().remove(fd);
    if (handle == INVALID_HANDLE_VALUE) return -EBADF;
    return CloseHandle(handle) ? 0 : failure();
}

ssize_t PosixFileSystem::read(int fd, void* buffer, size_t count) {
    HANDLE handle = handles().get(fd);
    if (handle == INVALID_HANDLE_VALUE) return -EBADF;
    DWORD n = 0;
    if (!ReadFile(handle, buffer, static_cast<DWORD>(std::min(count, kMaxTransfer)), &n, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) return 0;  // the writer closed its end
        return failure();
    }
    return static_cast<ssize_t>(n);
}

ssize_t PosixFileSystem::pwrite(int fd, const void* buffer, size_t count, int64_t offset) {
    HANDLE handle = handles().get(fd);
    if (handle == INVALID_HANDLE_VALUE) return -EBADF;
    if (offset < 0) return -EINVAL;
    KeepPointer keep(handle);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD n = 0;
    if (!WriteFile(handle, buffer, static_cast<DWORD>(std::min(count, kMaxTransfer)), &n, &at)) return failure();
    return static_cast<ssize_t>(n);
}

int64_t PosixFileSystem::seek(int fd, int64_t offset, int whence) {
    HANDLE handle = handles().get(fd);
    if (handle == INVALID_HANDLE_VALUE) return -EBADF;
    const DWORD method = whence == SEEK_END ? FILE_END : whence == SEEK_CUR ? FILE_CURRENT : FILE_BEGIN;
    LARGE_INTEGER distance, result;
    distance.QuadPart = offset;
    if (!SetFilePointerEx(handle, distance, &result, method)) return failure();
    return result.QuadPart;
}

int PosixFileSystem::fstat(int fd, FileStatus& status) {
    HANDLE handle = handles().get(fd);
    if (handle == INVALID_HANDLE_VALUE) return -EBADF;
    return statHandle(handle, status);
}

int PosixFileSystem::fsync(int fd) {
    HANDLE handle = handles().get(fd);
    if (handle == INVALID_HANDLE_VALUE) return -EBADF;
    if (FlushFileBuffers(handle)) return 0;
    // A folder or a handle opened for reading has nothing of its own to write out.
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE ? 0 : -ErrnoOf(error);
}

int PosixFileSystem::ftruncate(int fd, int64_t length) {
    HANDLE handle = handles().get(fd);
    if (handle == INVALID_HANDLE_VALUE) return -EBADF;
    if (length < 0) return -EINVAL;
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = length;
    return SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end) ? 0 : failure();
}

int PosixFileSystem::fchmod(int fd, uint32_t mode) {
    HANDLE handle = handles().get(fd);
    if (handle == INVALID_HANDLE_VALUE) return -EBADF;
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return failure();
    // Windows keeps one permission: whether the file may be written.
    const DWORD before = basic.FileAttributes;
    if (mode & 0200) basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    else basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == before) return 0;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) ? 0 : failure();
}

ssize_t PosixFileSystem::copyRange(int, int64_t, int, int64_t, size_t) { return -ENOSYS; }

int PosixFileSystem::lock(int fd, bool wait) {
    HANDLE handle = handles().get(fd);
    if (handle == INVALID_HANDLE_VALUE) return -EBADF;
    // Windows locks are mandatory for the bytes they cover: the lock takes one byte far past the
    // end of any file, so that readers of the data are not stopped. The system releases it with
    // the handle, also when the holder dies.
    OVERLAPPED at{};
    at.OffsetHigh = 0x7FFFFFFF;
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (LockFileEx(handle, flags, 0, 1, 0, &at)) return 0;
    const DWORD error = GetLastError();
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? -EWOULDBLOCK : -ErrnoOf(error);
}

int PosixFileSystem::mayWrite(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failure();
    return attributes & FILE_ATTRIBUTE_READONLY && !(attributes & FILE_ATTRIBUTE_DIRECTORY) ? -EACCES : 0;
}

// No marks: every archive counts as one of an unknown level.
int PosixFileSystem::getMark(const std::string&, const std::string&, std::string&) { return -ENOTSUP; }

int PosixFileSystem::setMark(const std::string&, const std::string&, const std::string&) { return -ENOTSUP; }

int PosixFileSystem::stat(const std::string& path, FileStatus& status) { return statPath(path, status, false); }

int PosixFileSystem::lstat(const std::string& path, FileStatus& status) { return statPath(path, status, true); }

int PosixFileSystem::listDirectory(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    std::wstring pattern = SystemPath(path);
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return 0;  // a folder without even "." (a drive's root)
        return -ErrnoOf(error == ERROR_DIRECTORY ? ERROR_DIRECTORY : error);
    }
    int result = 0;
    do {
        if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0)
            names.push_back(win32::Utf8(data.cFileName));
    } while (FindNextFileW(find, &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) result = failure();
    FindClose(find);
    return result;
}

int PosixFileSystem::unlink(const std::string& path) { return DeleteFileW(SystemPath(path).c_str()) ? 0 : failure(); }

namespace {

// FileRenameInfoEx, which the headers name only for Windows 10 targets.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

bool replaceOpenTarget(const std::string& from, const std::string& to) {
    HANDLE handle = CreateFileW(SystemPath(from).c_str(), DELETE | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const std::wstring target = SystemPath(to);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    // Flags share their place with ReplaceIfExists (from Windows 10 1607 on).
    const DWORD flags = 0x1 /* FILE_RENAME_FLAG_REPLACE_IF_EXISTS */ | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    std::memcpy(buffer.data(), &flags, sizeof flags);
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, target.c_str(), target.size() * sizeof(wchar_t));
    const bool done = SetFileInformationByHandle(handle, kFileRenameInfoEx, info, static_cast<DWORD>(buffer.size())) != 0;
    CloseHandle(handle);
    return done;
}

}  // namespace

int PosixFileSystem::rename(const std::string& from, const std::string& to) {
    // A read-only file is not replaced, as Windows refuses it (Wine would replace it).
    const DWORD target = GetFileAttributesW(SystemPath(to).c_str());
    if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY)) return -EACCES;
    // Written through: the rename is on the disk when the call returns, as the replacement needs.
    if (MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    const int error = failure();
    // A target still open (the archive lock's handle) refuses the plain replacement; the
    // rename of POSIX semantics replaces it while such handles keep the old file.
    if (error != -EACCES) return error;
    if (replaceOpenTarget(from, to)) return 0;
    // Without it (older systems, Wine): the old file moved aside under a name no cleanup takes,
    // the new one in its place, the old one deleted (gone when its last handle closes).
    const std::wstring wideTarget = SystemPath(to);
    const std::wstring aside = wideTarget + L".folvio-old-" + std::to_wstring(GetCurrentProcessId());
    if (!MoveFileExW(wideTarget.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return error;
    if (!MoveFileExW(SystemPath(from).c_str(), wideTarget.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const int moveError = failure();
        MoveFileExW(aside.c_str(), wideTarget.c_str(), MOVEFILE_WRITE_THROUGH);
        return moveError;
    }
    DeleteFileW(aside.c_str());
    return 0;
}

int PosixFileSystem::makeTemporary(std::string& pathTemplate) {
    // The whole prefix stays in the name (stale temporaries are known by the process id in it),
    // followed by four hex digits no other file in the folder has and ".tmp".
    std::string head = pathTemplate;
    if (head.size() >= 6 && head.compare(head.size() - 6, 6, "XXXXXX") == 0) head.resize(head.size() - 6);
    const unsigned start = static_cast<unsigned>(GetTickCount64() ^ (GetCurrentProcessId() << 4));
    for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
        char unique[8];
        std::snprintf(unique, sizeof unique, "%04X", (start + attempt) & 0xFFFFu);
        const std::string path = head + unique + ".tmp";
        HANDLE handle = CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            pathTemplate = path;
            return handles().add(handle);
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return -ErrnoOf(error);
    }
    return -EEXIST;
}

// MOVEFILE_WRITE_THROUGH already put the folder's entry on the disk.
void SyncFolderOf(const std::string&) {}

std::string TemporaryFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
    std::string folder = n > 0 && n <= MAX_PATH + 1 ? win32::CorePath(std::wstring_view(buffer, n)) : "C:/Windows/Temp/";
    if (folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace platform
