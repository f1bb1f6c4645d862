#include "app/folderlistfile.h"

#include "app/installlayout.h"
#include "components/kwreg.h"
#include "platform/atomicfile.h"
#include "platform/environment.h"
#include "platform/filesystem.h"

#include <unistd.h>

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
    // An installed program keeps the list per user even where it could write to its bin folder (as root).
    if (!programDir.empty() && !installlayout::IsInstalled(programDir) && ::access(programDir.c_str(), W_OK) == 0) {
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

std::vector<std::string> Load(const std::string& path) {
    const std::optional<std::string> text = platform::readFileContent(path);
    if (!text) throw std::runtime_error("Cannot open file " + path + ".");
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
    if (readOnly || !platform::replaceFileContent(target, JoinLines(lines)))
        throw std::runtime_error("Cannot create file " + path + ".");
}

}  // namespace folderlist
