// File attributes on Windows: the real ones (archive, hidden, system, read-only) from the system.
#include "platform/findfile.h"

#include "platform/widepath_win32.h"
#include "platform/winapi_win32.h"

namespace platform {

namespace {

uint64_t ticks(const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

}  // namespace

uint32_t AttributesOf(const FileStatus& status, const std::string&) {
    // Without the system's own bits: what the status tells. Hidden is an attribute here, not a name.
    uint32_t attributes = 0;
    if (status.kind == FileKind::Directory) attributes |= faDirectory;
    if (status.kind == FileKind::Regular) attributes |= faArchive;
    if (status.kind != FileKind::Missing && !(status.mode & 0200)) attributes |= faReadOnly;
    return attributes;
}

void AddSystemAttributes(const std::string& path, FindRecord& rec) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(win32::SystemPath(path).c_str(), GetFileExInfoStandard, &data)) return;
    rec.attributes = data.dwFileAttributes & faAnyFile;
    if (!rec.isLink) rec.time = win32::UnixSeconds(ticks(data.ftLastWriteTime));
}

}  // namespace platform
