// Shared helpers for the tests: private temporary folders, environment overrides and file I/O.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "folvio-test-");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path with a trailing "/", the form folder settings use.
    std::string slashed() const { return path_.string() + "/"; }
    std::filesystem::path operator/(const std::string& rel) const { return path_ / rel; }

private:
    std::filesystem::path path_;
};

// Sets (or with nullopt unsets) an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

std::string readFile(const std::filesystem::path& p);
std::vector<uint8_t> readBytes(const std::filesystem::path& p);
// Writes the file, creating missing parent folders.
void writeFile(const std::filesystem::path& p, const std::string& content);
void writeBytes(const std::filesystem::path& p, const std::vector<uint8_t>& content);

// Deterministic pseudo-random bytes (same seed, same bytes on every machine).
std::vector<uint8_t> randomBytes(size_t n, uint32_t seed);

struct CommandResult {
    int exitCode = -1;   // exit status, or 128 + signal
    std::string output;  // stdout and stderr together
};
// Runs a shell command line and captures its output.
CommandResult runCommand(const std::string& commandLine);
// Quotes a text for the shell.
std::string shellQuote(const std::string& s);

// The message of the exception f throws, or "no error".
std::string errorOf(const std::function<void()>& f);

}  // namespace testsupport
