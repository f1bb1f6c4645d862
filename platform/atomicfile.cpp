#include "platform/atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace platform {

namespace fs = std::filesystem;

bool replaceFileContent(fs::path path, std::string_view content, mode_t newFileMode) {
    static std::atomic<unsigned> counter{0};
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        path = fs::weakly_canonical(path, ec);
        if (ec) return false;
    }
    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    const std::string temp = path.string() + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed ? (st.st_mode & 07777) : newFileMode);
    if (fd < 0) return false;
    bool ok = !existed || ::fchmod(fd, st.st_mode & 07777) == 0;
    for (size_t done = 0; ok && done < content.size();) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    const fs::path folder = path.parent_path();
    int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);  // the rename itself survives a power cut
        ::close(dir);
    }
    return true;
}

}  // namespace platform
