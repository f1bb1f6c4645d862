#include "platform/atomicfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "platform/filesystem.h"

namespace platform {

namespace fs = std::filesystem;

bool replaceFileContent(fs::path path, std::string_view content, mode_t newFileMode) {
    static std::atomic<unsigned> counter{0};
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        path = fs::weakly_canonical(path, ec);
        if (ec) return false;
    }
    FileSystem& files = fileSystem();
    const std::string target = path.string();
    FileStatus old;
    const bool existed = files.stat(target, old) == 0;
    const std::string temp = target + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    int fd = files.open(temp, O_WRONLY | O_CREAT | O_EXCL, existed ? old.mode : newFileMode);
    if (fd < 0) return false;
    bool ok = !existed || files.fchmod(fd, old.mode) == 0;
    for (size_t done = 0; ok && done < content.size();) {
        ssize_t n = files.pwrite(fd, content.data() + done, content.size() - done, static_cast<int64_t>(done));
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = files.fsync(fd) == 0 && ok;
    ok = files.close(fd) == 0 && ok;
    ok = ok && files.rename(temp, target) == 0;
    if (!ok) {
        files.unlink(temp);
        return false;
    }
    SyncFolderOf(target);  // the rename itself survives a power cut
    return true;
}

}  // namespace platform
