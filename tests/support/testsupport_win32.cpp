// The test helpers on Windows: private folders under the system's temporary folder, the C runtime's environment and pipes.
#include "testsupport.h"

#include <array>
#include <cstdio>
#include <cstdlib>
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

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    _putenv_s(name_.c_str(), value ? value->c_str() : "");
}

ScopedEnv::~ScopedEnv() {
    _putenv_s(name_.c_str(), old_ ? old_->c_str() : "");
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

}  // namespace testsupport
