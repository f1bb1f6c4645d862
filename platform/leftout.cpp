#include "platform/leftout.h"

#include "platform/filesystem.h"

#include <cerrno>
#include <vector>

namespace platform {

std::string LeftOutReason(const std::string& path) {
    FileStatus link, target;
    FileSystem& files = fileSystem();
    if (const int r = files.lstat(path, link); r != 0) {
        if (r == -ENAMETOOLONG) return "its path is too long";
        return r == -ENOENT || r == -ENOTDIR ? "it is gone" : errorText(r);
    }
    const int r = files.stat(path, target);
    if (r == -ENAMETOOLONG) return "its path is too long";
    if (r != 0) return link.kind == FileKind::Symlink ? "it is a link that leads nowhere" : errorText(r);
    switch (target.kind) {
    case FileKind::Directory:
        if (link.kind == FileKind::Symlink) return "it is a link to a folder, which is not followed";
        if (std::vector<std::string> names; files.listDirectory(path, names) < 0) return "it cannot be read";
        return "it is a folder";
    case FileKind::Fifo: return "it is a named pipe";
    case FileKind::Socket: return "it is a socket";
    case FileKind::CharDevice:
    case FileKind::BlockDevice: return "it is a device";
    case FileKind::Regular: return "it cannot be opened for reading";
    default: return "it is not a regular file";
    }
}

}  // namespace platform
