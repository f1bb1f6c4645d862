#include "platform/findfile.h"

#include <cerrno>
#include <sys/stat.h>

namespace platform {

namespace {

// Fills rec for the single path; 0, or the negated errno of the lstat that failed.
int findFile(const std::string& path, FindRecord& rec) {
    FileStatus link;
    if (path.empty()) return -ENOENT;
    if (const int error = fileSystem().lstat(path, link); error != 0) return error;
    size_t slash = path.find_last_of('/');
    rec.name = slash == std::string::npos ? path : path.substr(slash + 1);
    rec.isLink = link.kind == FileKind::Symlink;
    FileStatus target = link;
    if (rec.isLink && fileSystem().stat(path, target) != 0) target = link;  // dangling: the link itself
    rec.kind = target.kind;
    rec.attributes = target.kind == FileKind::Symlink ? AttributesOf(FileStatus{}, rec.name)
                                                      : AttributesOf(target, rec.name);
    // A link to a folder is not a folder of the tree: walks do not enter it.
    if (rec.isLink) rec.attributes &= ~faDirectory;
    rec.size = target.kind == FileKind::Regular ? target.size : 0;
    rec.time = target.mtime;
    return 0;
}

}  // namespace

uint32_t AttributesOf(const FileStatus& status, const std::string& name) {
    uint32_t attributes = 0;
    if (status.kind == FileKind::Directory) attributes |= faDirectory;
    if (status.kind == FileKind::Regular) attributes |= faArchive;
    if (status.kind != FileKind::Missing && !(status.mode & S_IWUSR)) attributes |= faReadOnly;
    if (!name.empty() && name[0] == '.') attributes |= faHidden;
    return attributes;
}

bool FindFile(const std::string& path, FindRecord& rec) { return findFile(path, rec) == 0; }

DirectoryListing::DirectoryListing(const std::string& folder) : folder_(folder) {
    if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
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
