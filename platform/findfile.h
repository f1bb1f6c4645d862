// Directory listing with find-first / find-next semantics and Windows-style file attributes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/filesystem.h"

namespace platform {

// Windows attribute bits as files on Linux map to them.
constexpr uint32_t faReadOnly = 0x01;   // the owner cannot write
constexpr uint32_t faHidden = 0x02;     // the name starts with "."
constexpr uint32_t faSysFile = 0x04;    // never set
constexpr uint32_t faVolumeID = 0x08;   // never set
constexpr uint32_t faDirectory = 0x10;  // a folder (a link to a folder is not one)
constexpr uint32_t faArchive = 0x20;    // every regular file
constexpr uint32_t faAnyFile = 0x3F;

// One entry of a listing.
struct FindRecord {
    std::string name;         // the name within its folder, exactly as on disk
    uint32_t attributes = 0;  // the fa* bits
    uint64_t size = 0;        // bytes, for a regular file (or a link to one)
    int64_t time = 0;         // last write, seconds since the epoch
    FileKind kind = FileKind::Missing;  // what the name leads to, links followed; Symlink when dangling,
                                        // Other when a listed entry could not be examined
    bool isLink = false;      // the entry itself is a symbolic link
};

// The attribute bits of a file of the given status and name (links already followed).
uint32_t AttributesOf(const FileStatus& status, const std::string& name);
// Puts into rec what the system itself keeps of the file at path beyond its status: on Windows
// the attribute bits and, for what is not a link, the last write; nothing on Linux.
void AddSystemAttributes(const std::string& path, FindRecord& rec);

// Fills rec for the single path (no wildcards); false when nothing of that name exists.
bool FindFile(const std::string& path, FindRecord& rec);

// The entries of one folder, read when the listing is made ("." and ".." left out). First()
// and Next() return 0 while an entry is current and non-zero once the listing is exhausted.
class DirectoryListing {
public:
    explicit DirectoryListing(const std::string& folder);
    int First(FindRecord& rec);
    int Next(FindRecord& rec);
    // 0 when the folder could be read, else the negated errno of the failure.
    int error() const { return error_; }

private:
    int fill(FindRecord& rec);

    std::string folder_;
    std::vector<std::string> names_;
    size_t index_ = 0;
    int error_ = 0;
};

}  // namespace platform
