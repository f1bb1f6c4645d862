#include "backup/backuprun.h"

#include "backup/archivenames.h"
#include "platform/filelock.h"
#include "platform/findfile.h"
#include "platform/leftout.h"
#include "zip/archivereader.h"
#include "zip/aescipher.h"
#include "zip/zipwriter.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

namespace backup {

namespace {

// The start of the hidden names the new archives are written under ("." + name: hidden).
constexpr const char* kTemporaryStem = ".folvio-";

std::string withSlash(std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

// The folder the entries are stored relative to: the folder without its last "/"; the root keeps it.
std::string rootDirOf(const std::string& folder) {
    const size_t slash = folder.rfind('/');
    if (slash == std::string::npos) return std::string();
    return folder.substr(0, slash == 0 || folder[slash - 1] == '/' ? slash + 1 : slash);
}

// The files the deletion step lists: every file directly in the folder ("*.*") that is not hidden,
// links to files included, sorted by name. Subfolders and everything in them are left out.
std::vector<platform::FindRecord> filesIn(const std::string& folder) {
    platform::DirectoryListing listing(folder);
    if (listing.error() != 0)
        throw platform::EFileError("Cannot open the folder \"" + folder + "\". " + platform::errorText(listing.error()),
                                   -listing.error());
    std::vector<platform::FindRecord> files;
    platform::FindRecord rec;
    for (int end = listing.First(rec); end == 0; end = listing.Next(rec))
        if (rec.kind == platform::FileKind::Regular && !(rec.attributes & platform::faHidden)) files.push_back(rec);
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return files;
}

// Removes the file at path on every way out of a scope, unless path has been cleared.
struct RemoveOnExit {
    std::string path;
    ~RemoveOnExit() {
        if (!path.empty()) platform::DeleteFile(path);
    }
};

// Sets the flag back to false on every way out of a scope.
struct ClearOnExit {
    bool& flag;
    ~ClearOnExit() { flag = false; }
};

}  // namespace

Run::Run(TZipWriter& writer, Host& host) : Today(TodayText), writer_(writer), host_(host) {
    // A destination inside the folder being packed holds the archive the new one replaces: it
    // stays until the new one is complete, and must not be packed into it.
    writer_.OnStartZip = [this](TZipReader*, const std::string& FName, TZipHeaderInfo& ZipHeader, bool& Skip) {
        if (replacedArchive_ && platform::IsSameFile(FName, ZipHeader.uncompressed_size, *replacedArchive_)) Skip = true;
    };
    // The writer leaves a file it cannot open out of the archive without a word; the run's log
    // says which files the backup lacks, and why.
    writer_.OnSkippingFile = [this](TZipReader*, TSkipReason Reason, const std::string& FName, int, bool&) {
        if (Reason != TSkipReason::srFileOpenError) return;
        leftOut_.push_back(FName);
        host_.Report("left out " + FName + ": " + platform::LeftOutReason(FName));
    };
    // Its entry holds what was read, which the backup cannot vouch for.
    writer_.OnFileChanged = [this](TZipReader*, const std::string& FName) {
        leftOut_.push_back(FName);
        host_.Report(FName + " changed while it was packed");
    };
    // Such a file is packed anew; the earlier archive is the one to look at.
    writer_.OnReuseFault = [this](TZipReader*, const std::string& FName, const std::string& Detail) {
        host_.Report(FName.empty() ? "the earlier archive is not used: " + Detail
                                   : "the earlier entry of " + FName + " is damaged (" + Detail + "); packed anew");
    };
}

RunEnd Run::Execute(const Options& options) {
    if (active_) throw std::logic_error("A backup run cannot start inside another one");
    active_ = true;
    const ClearOnExit endRun{active_};

    int checkedCount = 0;
    for (int i = 0; i < host_.FolderCount(); ++i)
        if (host_.FolderChecked(i)) ++checkedCount;
    if (checkedCount < 1) return RunEnd::NotStarted;

    packLevel_ = options.packLevel;
    verifyArchives_ = options.verifyArchives;
    aes_ = options.aes;
    threads_ = options.threads == 0 ? parallelpack::DefaultThreads() : std::min(options.threads, 64u);
    incremental_ = options.incremental;
    datedNames_ = options.datedNames;
    // Without a destination the archives would land wherever the process happens to be.
    const std::string destination = options.destination;
    if (destination.empty()) throw std::runtime_error("Please choose a destination folder with \"Browse ...\" first");
    if (!platform::DirectoryExists(destination))
        throw std::runtime_error("The destination folder \"" + destination + "\" does not exist");

    if (!host_.MayStart()) return RunEnd::NotStarted;
    if (options.deleteFirst && !deleteDestinationFiles(destination)) return RunEnd::NotStarted;

    host_.SetRunning(true);
    cancelled_ = false;
    results_.clear();
    host_.RunStarted(checkedCount);

    int done = 0;
    std::map<std::string, std::string> written;  // this run's archives (name -> folder)
    std::set<std::string> names;
    for (int m = 0; m < host_.FolderCount(); ++m) {
        if (!host_.FolderChecked(m)) continue;
        done = std::min(done + 1, checkedCount);
        const std::string folder = host_.FolderText(m);
        std::string name = options.datedNames ? DatedArchiveName(folder, destination, Today()) : PlainArchiveName(folder);
        // Folders of the same last part would otherwise share one archive, the later replacing
        // the earlier; in list order, so that every run gives each folder the same name.
        if (const std::string free = FreeArchiveName(name, names); free != name) {
            host_.Report(folder + " is packed into " + free + ", as " + name + " holds " + written[name] + " in this run");
            name = free;
        }
        names.insert(name);
        written[name] = folder;
        host_.FolderStarted(done, name);
        FolderResult result = packFolder(m, folder, destination, name);
        // A Cancel the writer did not see ends the run here; this folder keeps its check mark.
        if (cancelled_) return RunEnd::Left;
        results_.push_back(std::move(result));
        host_.FolderPacked(results_.back());
    }

    host_.RunEnded();
    host_.SetRunning(false);
    return RunEnd::Completed;
}

void Run::Cancel() {
    writer_.CancelTheOperation();
    cancelled_ = true;
}

bool Run::deleteDestinationFiles(const std::string& destination) {
    const std::vector<platform::FindRecord> files = filesIn(destination);
    std::vector<std::string> names;
    names.reserve(files.size());
    for (const platform::FindRecord& file : files) names.push_back(file.name);
    host_.DestinationListed(names);
    if (files.empty()) return true;
    switch (host_.DeletionQuestion("Do you really want to delete " + std::to_string(files.size()) + " files?")) {
    case Answer::Yes: break;
    case Answer::No: return true;
    case Answer::Cancel: return false;
    }
    for (const platform::FindRecord& file : files) {
        // Read-only files stay, as they would where the owner's write permission guards them.
        if (file.attributes & platform::faReadOnly) continue;
        platform::DeleteFile(withSlash(destination) + file.name);  // one that cannot go stays, silently
    }
    return true;
}

FolderResult Run::packFolder(int index, const std::string& folder, const std::string& destination,
                             const std::string& name) {
    const std::string archivePath = withSlash(destination) + name;
    // A folder that is gone would give an archive without entries in the place of the last good one.
    if (!platform::DirectoryExists(folder)) throw std::runtime_error("The folder \"" + folder + "\" does not exist");

    writer_.ZipAction = TZipAction::zaReplace;
    writer_.AddDirEntriesOnRecurse = true;
    writer_.FilesList.clear();
    writer_.FilesList.push_back(folder + "*.*");

    // The new archive is written under a hidden name beside the old one and takes its place only
    // once it is complete: a failed or cancelled run leaves the earlier archive as it was.
    // Runs killed while they wrote left theirs behind: those of processes that are gone go first.
    platform::RemoveStaleTemporaries(destination, kTemporaryStem);
    RemoveOnExit temporary{platform::CreateTemporaryFile(destination, platform::TemporaryPrefix(kTemporaryStem))};
    platform::DeleteFile(temporary.path);  // the name stays reserved by its random part; the writer makes it anew

    platform::FileStatus replaced;
    replacedArchive_.reset();
    if (platform::fileSystem().stat(archivePath, replaced) == 0 && replaced.kind == platform::FileKind::Regular)
        replacedArchive_ = replaced;
    leftOut_.clear();

    // The unscrambled password lives in the writer for this folder only and is wiped after it.
    std::string password = host_.Password();
    writer_.Password = password;
    aescipher::WipeText(password);
    struct WipeOnExit {
        std::string& text;
        ~WipeOnExit() { aescipher::WipeText(text); }
    } wipePassword{writer_.Password};
    writer_.Encryption = aes_ ? TZipEncryption::zeAes256 : TZipEncryption::zeTraditional;
    writer_.SetZipName(temporary.path);
    writer_.Recurse = true;
    writer_.SetStorePaths(true);
    writer_.SetRelativePaths(true);
    writer_.SetRootDir(rootDirOf(folder));
    writer_.SetPackLevel(packLevel_);
    writer_.Threads = threads_;
    // The test is part of the writer's job (and of its progress): a failed one removes the new archive.
    writer_.TestAfterWriting = verifyArchives_;
    writer_.ReuseFrom = earlierArchive(folder, destination, archivePath);
    try {
        writer_.Zip();
    } catch (const ETestFailed& e) {
        throw ETestFailed(archivePath, e.Entry(), e.Detail());  // named as the user knows it, not by the hidden name
    }

    if (const int error = platform::fileSystem().rename(temporary.path, archivePath); error < 0)
        throw platform::EFileError("Cannot put the archive \"" + archivePath + "\" in place. " + platform::errorText(error),
                                   -error);
    temporary.path.clear();
    return FolderResult{index, folder, archivePath, std::move(leftOut_)};
}

std::string Run::earlierArchive(const std::string& folder, const std::string& destination,
                                const std::string& archivePath) const {
    if (!incremental_) return std::string();
    if (!datedNames_) return replacedArchive_ ? archivePath : std::string();
    const std::string newest = NewestDatedArchive(folder, destination);
    return newest.empty() ? std::string() : withSlash(destination) + newest;
}

}  // namespace backup
