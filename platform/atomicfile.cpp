#include "platform/atomicfile.h"

#include <fcntl.h>
#include <cerrno>
#include <unistd.h>

#include <atomic>
#include <string>

#include "platform/filesystem.h"

namespace platform {

namespace fs = std::filesystem;

std::optional<std::string> readFileContent(const std::string& path) {
    FileSystem& files = fileSystem();
    const int fd = files.open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    FileStatus status;
    std::optional<std::string> text;
    if (files.fstat(fd, status) == 0 && status.kind == FileKind::Regular) text.emplace();
    char buffer[16384];
    while (text) {
        const ssize_t n = files.read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n > 0) text->append(buffer, static_cast<size_t>(n));
        else if (n != -EINTR) text.reset();
    }
    files.close(fd);
    return text;
}

int readAllFrom(int fd, std::string& content) {
    FileSystem& files = fileSystem();
    char buffer[16384];
    for (;;) {
        const ssize_t n = files.read(fd, buffer, sizeof buffer);
        if (n == 0) return 0;
        if (n > 0) content.append(buffer, static_cast<size_t>(n));
        else if (n != -EINTR) return static_cast<int>(n);
    }
}

std::optional<std::string> readStreamContent(const std::string& path, int& error) {
    FileSystem& files = fileSystem();
    const int fd = files.open(path, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        error = -fd;
        return std::nullopt;
    }
    std::string content;
    const int result = readAllFrom(fd, content);
    files.close(fd);
    error = -result;
    if (result < 0) return std::nullopt;
    return content;
}

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
    int fd = files.open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed ? old.mode : newFileMode);
    if (fd < 0) return false;
    bool ok = !existed || files.fchmod(fd, old.mode) == 0;
    for (size_t done = 0; ok && done < content.size();) {
        ssize_t n = files.pwrite(fd, content.data() + done, content.size() - done, static_cast<int64_t>(done));
        if (n == -EINTR) continue;
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
