// Advisory locks on files, which the kernel releases when their holder dies, and the removal of temporary files left by writers that are gone.
#pragma once

#include <string>

namespace platform {

// An exclusive lock on one file, held from Acquire until Release or the end of the object.
class FileLock {
public:
    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Locks the file path leads to (links followed), waiting for another holder when wait is
    // set. 0 when held; -EWOULDBLOCK when another holds it and wait is not set; otherwise the
    // negated errno of the failure. Nothing is held on failure.
    int Acquire(const std::string& path, bool wait);
    // Whether the file path names now is the one locked (another may have been put in its place).
    bool Names(const std::string& path) const;
    // The size of the locked file; 0 when nothing is held.
    unsigned long long Size() const;
    void Release();
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The start of the name of a temporary file this process makes: stem, the process id and "-"
// ("FVZ1234-"). RemoveStaleTemporaries knows such names by it.
std::string TemporaryPrefix(const std::string& stem);

// Removes the files of folder named TemporaryPrefix(stem) by a process that is no longer running
// and whose lock nobody holds: what a writer killed while writing left behind. Files of live
// processes, of this one and names of any other form stay. Best effort; returns the count removed.
int RemoveStaleTemporaries(const std::string& folder, const std::string& stem);

}  // namespace platform
