#include "app/folderlistfile.h"

#include "components/kwreg.h"
#include "platform/atomicfile.h"
#include "platform/environment.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

std::vector<std::string> Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::error_code ec;
    if (!in || fs::is_directory(path, ec)) throw std::runtime_error("Cannot open file " + path + ".");
    std::string text(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) throw std::runtime_error("Cannot open file " + path + ".");
    return SplitLines(text);
}

void Save(const std::string& path, const std::vector<std::string>& lines) {
    const fs::path file(path);
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const bool readOnly = fs::exists(file, ec) && ::access(path.c_str(), W_OK) != 0;
    if (readOnly || !platform::replaceFileContent(file, JoinLines(lines)))
        throw std::runtime_error("Cannot create file " + path + ".");
}

}  // namespace folderlist
