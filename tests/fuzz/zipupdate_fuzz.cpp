// Fuzzes the directory reader and the merge: whatever an existing archive holds, a job either
// rewrites it into an archive the reader accepts again, or fails and leaves it byte for byte as
// it was, with no temporary file behind. The first input byte chooses the job, the rest is the archive.
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "platform/filesystem.h"
#include "zip/zipdirectory.h"
#include "zip/ziperrors.h"
#include "zip/zipwriter.h"

namespace {

// The real file system without the waits for the disk, which would make each run slow.
class NoSyncFileSystem : public platform::PosixFileSystem {
public:
    int fsync(int) override { return 0; }
};

struct Sandbox {
    std::string dir, archive, file;
    Sandbox() {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string templ = base + "/folvio-zipupdate-fuzz-XXXXXX";
        if (!mkdtemp(templ.data())) std::abort();
        dir = templ;
        archive = dir + "/a.zip";
        file = dir + "/new.tmp";
        std::ofstream(file) << "a file to add";
    }
};

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool temporaryFileLeft(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    bool found = false;
    while (struct dirent* e = readdir(d)) found |= std::string(e->d_name).rfind("FVZ", 0) == 0;
    closedir(d);
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Sandbox box;
    static NoSyncFileSystem noSync;
    platform::ScopedFileSystem use(noSync);
    if (size == 0) return 0;
    const uint8_t job = data[0] % 5;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::ofstream(box.archive, std::ios::binary | std::ios::trunc) << bytes;

    TZipWriter w;
    w.SetZipName(box.archive);
    w.SetStorePaths(false);
    w.SetPackLevel(0);
    try {
        switch (job) {
        case 0: w.FilesList = {"*.tmp", "a/b.txt"}; w.DeleteEntries(); break;
        case 1: w.DeleteEntries(); break;
        case 2: w.ZipAction = TZipAction::zaUpdate, w.FilesList = {box.file}; w.Zip(); break;
        case 3: w.ZipAction = TZipAction::zaReplace, w.Password = "pw", w.FilesList = {box.file}; w.Zip(); break;
        default:
            w.ZipAction = TZipAction::zaReplace, w.Password = "pw", w.Encryption = TZipEncryption::zeAes256;
            w.FilesList = {box.file};
            w.Zip();
            break;
        }
    } catch (const EZipError&) {
        if (contentOf(box.archive) != bytes || temporaryFileLeft(box.dir)) std::abort();
        return 0;
    } catch (const EListError&) {
        if (contentOf(box.archive) != bytes || temporaryFileLeft(box.dir)) std::abort();
        return 0;
    }
    // Accepted: the result is an archive the reader takes, with the entries the job says it has.
    if (temporaryFileLeft(box.dir)) std::abort();
    TBufferedFileStream in(box.archive, TFileMode::fmOpenRead);
    TSortedZip entries(TZipSortMode::ByNone);
    TEndCentral end;
    ReadZipDirectory(in, true, entries, end);
    if (entries.Count() != w.ZipContents().Count()) std::abort();
    return 0;
}
