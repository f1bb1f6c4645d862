// File attributes on Linux: what the status and the name tell.
#include "platform/findfile.h"

#include <sys/stat.h>

namespace platform {

uint32_t AttributesOf(const FileStatus& status, const std::string& name) {
    uint32_t attributes = 0;
    if (status.kind == FileKind::Directory) attributes |= faDirectory;
    if (status.kind == FileKind::Regular) attributes |= faArchive;
    if (status.kind != FileKind::Missing && !(status.mode & S_IWUSR)) attributes |= faReadOnly;
    if (!name.empty() && name[0] == '.') attributes |= faHidden;
    return attributes;
}

void AddSystemAttributes(const std::string&, FindRecord&) {}

}  // namespace platform
