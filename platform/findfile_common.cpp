// The record of a file and the folder listing over the installed file system, the same on every
// system; the attribute bits come from AttributesOf and AddSystemAttributes.
#include "platform/findfile.h"

#include <cerrno>

namespace platform {

namespace {

// Fills rec for the single path; 0, or the negated errno of the lstat that failed.
int findFile(const std::string& path, FindRecord& rec) {
    if (path.empty()) return -ENOENT;
    FileStatus link;
    if (const int error = fileSystem().lstat(path, link); error != 0) return error;
    const size_t slash = path.find_last_of(kPathSeparators);
    rec.name = slash == std::string::npos ? path : path.substr(slash + 1);
    rec.isLink = link.kind == FileKind::Symlink;
    FileStatus target = link;
    if (rec.isLink && fileSystem().stat(path, target) != 0) target = link;  // dangling: the link itself
    rec.kind = target.kind;
    rec.attributes = target.kind == FileKind::Symlink ? AttributesOf(FileStatus{}, rec.name)
                                                      : AttributesOf(target, rec.name);
    rec.size = target.kind == FileKind::Regular ? target.size : 0;
    rec.time = target.mtime;
    AddSystemAttributes(path, rec);
    // A link to a folder is not a folder of the tree: walks do not enter it.
    if (rec.isLink) rec.attributes &= ~faDirectory;
    return 0;
}

}  // namespace

bool FindFile(const std::string& path, FindRecord& rec) { return findFile(path, rec) == 0; }

DirectoryListing::DirectoryListing(const std::string& folder) : folder_(folder) {
    if (!folder_.empty() && !IsPathSeparator(folder_.back())) folder_ += '/';
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
    // An entry that vanished since the listing was read is passed over. One that is there but
    // cannot be examined (a path too long, a folder that may be read but not entered) is returned
    // as Other, so that whoever walks the folder hears of it instead of losing it silently.
    while (index_ < names_.size()) {
        const int error = findFile(folder_ + names_[index_], rec);
        if (error != -ENOENT && error != -ENOTDIR) {
            if (error != 0) {
                rec = FindRecord{};
                rec.attributes = AttributesOf(FileStatus{}, names_[index_]);
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
