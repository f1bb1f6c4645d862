// The listing on Windows: the real attributes (archive, hidden, system, read-only) from the system.
#include "platform/findfile.h"

#include "platform/widepath_win32.h"

#include <cerrno>
#include "platform/winapi_win32.h"

namespace platform {

namespace {

uint64_t ticks(const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

// Fills rec for the single path through the installed file system (its name and kind) and the
// system's own attribute bits; 0, or the negated errno of the look that failed.
int findFile(const std::string& path, FindRecord& rec) {
    if (path.empty()) return -ENOENT;
    FileStatus link;
    if (const int error = fileSystem().lstat(path, link); error != 0) return error;
    const size_t slash = path.find_last_of("/\\");
    rec.name = slash == std::string::npos ? path : path.substr(slash + 1);
    rec.isLink = link.kind == FileKind::Symlink;
    FileStatus target = link;
    if (rec.isLink && fileSystem().stat(path, target) != 0) target = link;  // dangling: the link itself
    rec.kind = target.kind;
    rec.size = target.kind == FileKind::Regular ? target.size : 0;
    rec.time = target.mtime;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(win32::SystemPath(path).c_str(), GetFileExInfoStandard, &data)) {
        rec.attributes = data.dwFileAttributes & faAnyFile;
        if (!rec.isLink) rec.time = win32::UnixSeconds(ticks(data.ftLastWriteTime));
    } else {
        rec.attributes = target.kind == FileKind::Symlink ? 0 : AttributesOf(target, rec.name);
    }
    // A link to a folder is not a folder of the tree: walks do not enter it.
    if (rec.isLink) rec.attributes &= ~faDirectory;
    return 0;
}

}  // namespace

uint32_t AttributesOf(const FileStatus& status, const std::string&) {
    // Without the system's own bits: what the status tells. Hidden is an attribute here, not a name.
    uint32_t attributes = 0;
    if (status.kind == FileKind::Directory) attributes |= faDirectory;
    if (status.kind == FileKind::Regular) attributes |= faArchive;
    if (status.kind != FileKind::Missing && !(status.mode & 0200)) attributes |= faReadOnly;
    return attributes;
}

bool FindFile(const std::string& path, FindRecord& rec) { return findFile(path, rec) == 0; }

DirectoryListing::DirectoryListing(const std::string& folder) : folder_(folder) {
    if (!folder_.empty() && folder_.back() != '/' && folder_.back() != '\\') folder_ += '/';
    error_ = fileSystem().listDirectory(folder_.empty() ? "." : folder_, names_);
    if (error_) names_.clear();
}

int DirectoryListing::First(FindRecord& rec) {
    index_ = 0;
    return fill(rec);
}

int DirectoryListing::Next(FindRecord& rec) {
    if (index_ < names_.size()) ++index_;
    return fill(rec);
}

int DirectoryListing::fill(FindRecord& rec) {
    // An entry gone since the listing was read is passed over; one that cannot be examined is Other.
    while (index_ < names_.size()) {
        const int error = findFile(folder_ + names_[index_], rec);
        if (error != -ENOENT && error != -ENOTDIR) {
            if (error != 0) {
                rec = FindRecord{};
                rec.attributes = 0;
                rec.kind = FileKind::Other;
            }
            rec.name = names_[index_];
            return 0;
        }
        ++index_;
    }
    return 1;
}

}  // namespace platform
