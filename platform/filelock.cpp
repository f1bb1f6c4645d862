// File locks and the stale-temporary scan over the installed file system, the same on every
// system; the process ids come from platform/process.h.
#include "platform/filelock.h"

#include "platform/filesystem.h"
#include "platform/process.h"

#include <fcntl.h>
#include <vector>

namespace platform {

int FileLock::Acquire(const std::string& path, bool wait) {
    Release();
    FileSystem& files = fileSystem();
    const int fd = files.open(path, O_RDONLY, 0);
    if (fd < 0) return fd;
    if (const int error = files.lock(fd, wait); error != 0) {
        files.close(fd);
        return error;
    }
    fd_ = fd;
    return 0;
}

bool FileLock::Names(const std::string& path) const {
    FileStatus held, named;
    FileSystem& files = fileSystem();
    return fd_ >= 0 && files.fstat(fd_, held) == 0 && files.stat(path, named) == 0 && held.device == named.device &&
           held.inode == named.inode;
}

unsigned long long FileLock::Size() const {
    FileStatus held;
    return fd_ >= 0 && fileSystem().fstat(fd_, held) == 0 ? held.size : 0;
}

void FileLock::Release() {
    if (fd_ < 0) return;
    fileSystem().close(fd_);  // closing the only descriptor releases the lock
    fd_ = -1;
}

std::string TemporaryPrefix(const std::string& stem) { return stem + std::to_string(CurrentProcessId()) + "-"; }

namespace {

// The process id a name of the form stem + id + "-" + rest carries; 0 when it has another form.
long processOf(const std::string& name, const std::string& stem) {
    if (name.compare(0, stem.size(), stem) != 0) return 0;
    long pid = 0;
    size_t at = stem.size();
    for (; at < name.size() && name[at] >= '0' && name[at] <= '9' && pid < 100000000; ++at) pid = pid * 10 + (name[at] - '0');
    return at > stem.size() && at + 1 < name.size() && name[at] == '-' ? pid : 0;
}

}  // namespace

int RemoveStaleTemporaries(const std::string& folder, const std::string& stem) {
    FileSystem& files = fileSystem();
    std::string base = folder.empty() ? std::string("./") : folder;
    if (base.back() != '/') base += '/';
    std::vector<std::string> names;
    if (files.listDirectory(base, names) < 0) return 0;
    int removed = 0;
    for (const std::string& name : names) {
        const long pid = processOf(name, stem);
        if (pid <= 0 || pid == CurrentProcessId() || ProcessRunning(pid)) continue;
        const std::string path = base + name;
        FileStatus link;
        if (files.lstat(path, link) != 0 || link.kind != FileKind::Regular) continue;
        // The lock tells a file still being written by a process the id does not find (another
        // machine, another process namespace) from one whose writer is gone.
        FileLock lock;
        if (lock.Acquire(path, false) != 0 || !lock.Names(path)) continue;
        if (files.unlink(path) == 0) ++removed;
    }
    return removed;
}

}  // namespace platform
