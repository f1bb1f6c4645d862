// The test helpers on Windows: private folders under the system's temporary folder, the C runtime's environment and pipes.
#include "testsupport.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <random>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& prefix) {
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / (prefix + std::to_string(seed()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder for " + prefix);
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make everything writable again so read-only test files and folders can go.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    _putenv_s(name_.c_str(), value ? value->c_str() : "");
}

ScopedEnv::~ScopedEnv() {
    _putenv_s(name_.c_str(), old_ ? old_->c_str() : "");
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> readBytes(const fs::path& p) {
    std::string s = readFile(p);
    return std::vector<uint8_t>(s.begin(), s.end());
}

void writeFile(const fs::path& p, const std::string& content) {
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + p.string());
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

void writeBytes(const fs::path& p, const std::vector<uint8_t>& content) {
    writeFile(p, std::string(content.begin(), content.end()));
}

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint32_t x = seed ? seed : 0x9E3779B9u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

CommandResult runCommand(const std::string& commandLine) {
    CommandResult r;
    // cmd.exe /c drops the first and the last quote of the line: a pair around it keeps the rest.
    std::string cmd = "\"" + commandLine + " 2>&1\"";
    FILE* pipe = _popen(cmd.c_str(), "rb");
    if (!pipe) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) r.output.append(buf.data(), n);
    r.exitCode = _pclose(pipe);
    return r;
}

std::string shellQuote(const std::string& s) {
    // cmd.exe's quoting: the text in double quotes, each of its double quotes doubled.
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += "\"\"";
        else q += c;
    }
    return q + "\"";
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace testsupport
