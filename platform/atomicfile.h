// Reading a file's whole content, and replacing it in one step so that a crash leaves the old file or the new one, never half of one.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Every byte of a regular file, or nullopt when it is missing, is no regular file (a folder, a
// pipe: the open does not block) or cannot be read to its end.
std::optional<std::string> readFileContent(const std::string& path);

// Every byte an open descriptor gives until its end (a file, a pipe, a terminal): 0, or the
// negated errno value of the read that failed.
int readAllFrom(int fd, std::string& content);
// Every byte a path gives until its end, streams included (a pipe, /dev/stdin, a process
// substitution; it waits for the writer): nullopt when it cannot be opened or read, with the
// errno value in error (a folder gives EISDIR).
std::optional<std::string> readStreamContent(const std::string& path, int& error);

// Writes the content to a new file beside the target, syncs it and renames it over the target.
// An existing file keeps its permissions; a new one gets newFileMode less the umask. A symbolic
// link is followed, not replaced. False on any failure, with the target untouched.
bool replaceFileContent(std::filesystem::path path, std::string_view content, mode_t newFileMode = 0666);

}  // namespace platform
