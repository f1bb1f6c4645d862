#include "app/folderlistfile.h"

#include "components/kwreg.h"
#include "platform/environment.h"
#include "platform/filesystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>

namespace fs = std::filesystem;

namespace folderlist {

std::string ProgramDir() {
    if (const char* dir = std::getenv("MARVANE_PROGRAM_DIR"); dir && *dir) {
        std::string text = dir;
        if (text.back() != '/') text += '/';
        return text;
    }
    return TKwReg::AppDir();
}

std::string FilePath(const std::string& programDir) {
    if (!programDir.empty() && ::access(programDir.c_str(), W_OK) == 0) {
        return programDir.back() == '/' ? programDir + kFileName : programDir + "/" + kFileName;
    }
    return (platform::configHome() / "marvane" / "folvio" / kFileName).string();
}

std::vector<std::string> SplitLines(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t brk = text.find_first_of("\r\n", pos);
        if (brk == std::string_view::npos) {
            lines.emplace_back(text.substr(pos));
            break;
        }
        lines.emplace_back(text.substr(pos, brk - pos));
        pos = brk + 1;
        if (text[brk] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

namespace {

// Every byte of the open file, or nullopt on a read error.
std::optional<std::string> readAll(platform::FileSystem& files, int fd) {
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = files.read(fd, buffer, sizeof buffer);
        if (n == -EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return text;
        text.append(buffer, static_cast<size_t>(n));
    }
}

bool writeAll(platform::FileSystem& files, int fd, std::string_view content) {
    for (size_t done = 0; done < content.size();) {
        const ssize_t n = files.pwrite(fd, content.data() + done, content.size() - done, int64_t(done));
        if (n == -EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the content beside the target and renames it over the target, so a crash or a full
// disk leaves the old list or the new one. A new file gets 0666 less the umask, an existing one
// keeps its permission bits.
bool replace(const std::string& path, std::string_view content) {
    platform::FileSystem& files = platform::fileSystem();
    platform::FileStatus old;
    const bool existed = files.stat(path, old) == 0;
    static unsigned counter = 0;
    const std::string temp = path + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    const int fd = files.open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed ? (old.mode & 07777) : 0666);
    if (fd < 0) return false;
    bool ok = writeAll(files, fd, content);
    ok = files.fsync(fd) == 0 && ok;
    ok = files.close(fd) == 0 && ok;
    ok = ok && files.rename(temp, path) == 0;
    if (!ok) {
        files.unlink(temp);
        return false;
    }
    const std::string folder = fs::path(path).parent_path().string();
    if (const int dir = files.open(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); dir >= 0) {
        files.fsync(dir);  // the rename itself survives a power cut
        files.close(dir);
    }
    return true;
}

}  // namespace

std::vector<std::string> Load(const std::string& path) {
    platform::FileSystem& files = platform::fileSystem();
    const std::runtime_error failed("Cannot open file " + path + ".");
    const int fd = files.open(path, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) throw failed;
    platform::FileStatus status;
    std::optional<std::string> text;
    if (files.fstat(fd, status) == 0 && status.kind == platform::FileKind::Regular) text = readAll(files, fd);
    files.close(fd);
    if (!text) throw failed;
    return SplitLines(*text);
}

void Save(const std::string& path, const std::vector<std::string>& lines) {
    std::string target = path;
    platform::FileStatus link;
    std::error_code ec;
    if (platform::fileSystem().lstat(path, link) == 0 && link.kind == platform::FileKind::Symlink) {
        const fs::path resolved = fs::weakly_canonical(path, ec);  // a linked list file is written where it lies
        if (!ec) target = resolved.string();
    }
    fs::create_directories(fs::path(target).parent_path(), ec);
    const bool readOnly = platform::FileExists(target) && ::access(target.c_str(), W_OK) != 0;
    if (readOnly || !replace(target, JoinLines(lines))) throw std::runtime_error("Cannot create file " + path + ".");
}

}  // namespace folderlist
