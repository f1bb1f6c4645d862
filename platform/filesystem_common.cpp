// The file system in use and the path helpers over it, the same on every system.
#include "platform/filesystem.h"

#include <cstring>

namespace platform {

namespace {

PosixFileSystem systemFileSystem;
FileSystem* current = &systemFileSystem;

}  // namespace

FileSystem& fileSystem() { return *current; }

ScopedFileSystem::ScopedFileSystem(FileSystem& replacement) : previous_(current) { current = &replacement; }

ScopedFileSystem::~ScopedFileSystem() { current = previous_; }

std::string errorText(int errorCode) { return std::strerror(errorCode < 0 ? -errorCode : errorCode); }

bool FileExists(const std::string& path) {
    FileStatus st;
    return fileSystem().stat(path, st) == 0 && st.kind == FileKind::Regular;
}

bool DirectoryExists(const std::string& path) {
    FileStatus st;
    return !path.empty() && fileSystem().stat(path, st) == 0 && st.kind == FileKind::Directory;
}

bool DeleteFile(const std::string& path) { return fileSystem().unlink(path) == 0; }

bool RenameFile(const std::string& from, const std::string& to) { return fileSystem().rename(from, to) == 0; }

bool IsSameFile(const std::string& path, uint64_t size, const FileStatus& known) {
    FileStatus status;
    return size == known.size && fileSystem().stat(path, status) == 0 && status.device == known.device &&
           status.inode == known.inode;
}

std::vector<std::string> LexicalParts(const std::string& path) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (from <= path.size()) {
        size_t slash = path.find_first_of(kPathSeparators, from);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(from, slash - from);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        from = slash + 1;
    }
    return parts;
}

std::string CreateTemporaryFile(const std::string& folder, const std::string& prefix) {
    std::string path = folder;
    if (!path.empty() && !IsPathSeparator(path.back())) path += '/';
    path += prefix + "XXXXXX";
    int fd = fileSystem().makeTemporary(path);
    if (fd < 0)
        throw EFileError("Cannot create a temporary file in \"" + folder + "\". " + errorText(fd), -fd);
    fileSystem().close(fd);
    return path;
}

}  // namespace platform
