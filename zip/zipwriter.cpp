#include "zip/zipwriter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>

#include "platform/codepage.h"
#include "platform/dirsearch.h"
#include "platform/dostime.h"
#include "platform/filenamecase.h"
#include "platform/findfile.h"
#include "platform/wildcard.h"
#include "zip/archivereader.h"
#include "zip/ziperrors.h"

namespace {

// The CRC pre-pass of an encrypted file reads this many bytes a step.
constexpr size_t kPrePassChunk = 8192;
// The encryption header in front of an encrypted entry's data.
constexpr uint32_t kCryptHeadSize = TTraditionalCipher::HeaderSize;
// Reads of a file that keeps changing between the CRC pre-pass and the data before giving up.
constexpr int kEncryptAttempts = 3;

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::string afterLastSlash(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder part without empty, "." and ".." parts (".." takes back the one before it), so that
// no stored name is absolute or climbs out of the folder it is extracted into.
std::string cleanFolderPart(const std::string& folder) {
    std::string out;
    for (const std::string& part : platform::LexicalParts(folder)) out.append(part).append("/");
    return out;
}

// Runs a cleanup step on every way out of a scope.
template <typename F> class Finally {
public:
    explicit Finally(F f) : f_(std::move(f)) {}
    ~Finally() { f_(); }
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;

private:
    F f_;
};

}  // namespace

int CBigRate(double part, double total) {
    if (total <= 0) return 0;
    double rate = std::nearbyint(part * 100.0 / total);
    if (rate > 100) return 100;
    return rate < 0 ? 0 : static_cast<int>(rate);
}

int CRate(int64_t total, int64_t part) { return CBigRate(static_cast<double>(part), static_cast<double>(total)); }

TZipWriter::TZipWriter() = default;

TZipWriter::~TZipWriter() = default;

void TZipWriter::SetStorePaths(bool value) {
    FStorePaths = value;
    if (!value) FRelativePaths = FStoreVolumes = false;
}

void TZipWriter::SetRelativePaths(bool value) {
    FRelativePaths = value;
    if (value) FStorePaths = Recurse = true;
}

void TZipWriter::SetStoreVolumes(bool value) {
    FStoreVolumes = value;
    if (value) FStorePaths = true;
}

void TZipWriter::SetPackLevel(int value) { FPackLevel = std::clamp(value, 0, maxdeflate::kLevel); }

int64_t TZipWriter::Zip() {
    const int64_t count = ProcessFiles();
    if (OnZipComplete) OnZipComplete(this, count);
    return count;
}

void TZipWriter::CheckForCancel() {
    if (!DoProcessMessages) return;
    if (ProcessMessages) ProcessMessages();
    if (FCancel) {
        FCancel = false;
        throw EUserCanceled(kUserAbortedOperation);
    }
}

bool TZipWriter::IsInExcludeList(const std::string& path) const {
    for (const std::string& pattern : ExcludeList)
        if (IsMatch(pattern, pattern.find('/') != std::string::npos ? path : afterLastSlash(path))) return true;
    return false;
}

bool TZipWriter::IsInNoCompressList(const std::string& fileName) const {
    for (const std::string& pattern : NoCompressList)
        if (IsMatch(pattern, fileName)) return true;
    return false;
}

std::unique_ptr<TZipHeaderInfo> TZipWriter::CreateNewZipHeader() const {
    auto header = std::make_unique<TZipHeaderInfo>();
    header->SetOEMFlag(OEMConvert);
    return header;
}

int64_t TZipWriter::ProcessFiles() {
    if (trimmed(ZipName()).empty()) return 0;
    const SavedSettings saved = startJob();
    // Whatever way the job ends: settings back, the name list gone, FilesList empty.
    Finally restore([&] { endJob(saved); });
    try {
        writeJob();
        commitJob();
    } catch (...) {
        finishFailedJob();
        throw;
    }
    finishSucceededJob();
    return FEntriesCount;
}

TZipWriter::SavedSettings TZipWriter::startJob() {
    const SavedSettings saved{FSortMode, KeepZipOpen};
    FCancel = false;
    KeepZipOpen = true;
    SetSortMode(TZipSortMode::ByNone);
    FDisposeList.clear();
    FNameList = std::make_unique<TSortedZipView>(TZipSortMode::ByName);
    FPositionList = std::make_unique<TSortedZip>(TZipSortMode::ByNone);
    FNewEndCentral.Clear();
    FEntriesCount = 0;
    FAddedOffsets.clear();
    FBytesWritten = 0;
    FOutCreated = false;
    FOutFileName.clear();
    FTotalBytes = FBytesDone = 0;
    FKernelCopy = true;
    FDroppedEntries = FArchiveKept = false;
    FRun = {};
    FParallelPeak = 0;
    FJobLevel = FPackLevel;
    FEntriesReused = 0;
    return saved;
}

bool TZipWriter::usesWorkers() const {
    return Threads > 1 && !FDeleteMode && !(OnEncrypt && !Password.empty());
}

std::unique_ptr<parallelpack::Pool> TZipWriter::makePool() const {
    if (!usesWorkers() || FilesList.empty()) return nullptr;
    parallelpack::Settings settings{FPackLevel, MaximumLevelLimit, Password, Encryption == TZipEncryption::zeAes256,
                                    OEMConvert, NoCompressList, FReuseIndex, nullptr};
    if (FReuseIndex)
        settings.reusable = [this](const std::string& path, const platform::FileStatus& status) {
            return reusableFor(path, status);
        };
    return std::make_unique<parallelpack::Pool>(FilesList, std::move(settings), Threads, ParallelMemoryLimit);
}

bool TZipWriter::packedFits(const parallelpack::Packed& packed) const {
    const parallelpack::Settings& settings = FPool->Used();
    return settings.level == FPackLevel && settings.password == Password &&
           settings.aes == (Encryption == TZipEncryption::zeAes256) &&
           packed.storedByName == IsInNoCompressList(FZipHeader->filename());
}

void TZipWriter::endJob(const SavedSettings& saved) {
    FOutputLock.Release();
    FArchiveLock.Release();
    KeepZipOpen = saved.keepZipOpen;
    SetSortMode(saved.sortMode);
    FKeySupply.reset();
    FReuseReader.reset();
    FReuseIndex.reset();
    FNameList.reset();
    FZipHeader.reset();
    FilesList.clear();
    FDisposeList.clear();
    if (!KeepZipOpen) FZipStream.reset();
}

void TZipWriter::writeJob() {
    if (MultiZipInfo.MultiMode != TMultiMode::mmNone) throw EZipError("Spanned and blocked archives are not supported");

    // An existing archive is read first: freshening looks its names up while expanding, and
    // an archive that cannot be read fails the job before anything is walked or written.
    platform::FileStatus existing;
    FUpdateMode = lockExistingArchive(existing);
    if (FUpdateMode) readExistingArchive();

    if (!FDeleteMode && !FilesList.empty()) ExpandFilesList();
    if (!FUpdateMode && !FDeleteMode && !MakeEmptyArchive &&
        std::none_of(FilesList.begin(), FilesList.end(), [](const std::string& f) { return f.back() != '/'; }))
        return;  // no archive is made for nothing
    if (!FDeleteMode && Encryption == TZipEncryption::zeAes256 && !Password.empty() && !FilesList.empty() &&
        !usesWorkers())  // workers derive their entries' keys themselves
        FKeySupply = std::make_unique<aescipher::TKeySupply>(Password, FilesList.size(),
                                                             aescipher::TKeySupply::DefaultThreads());

    FCopyBuffer = std::make_unique<uint8_t[]>(kCopyChunk);
    if (FPackLevel > 0 && !FDeleteMode) FDeflateBuffers = std::make_unique<TDeflateBuffers>();
    if (!FUpdateMode && !createNewArchive()) {
        // Another job made the archive after it was looked for: this one updates what that one wrote.
        if (!lockExistingArchive(existing)) throw EZipError("The archive \"" + ZipName() + "\" vanished while it was made");
        FUpdateMode = true;
        readExistingArchive();
    }
    if (FUpdateMode) {
        openTemporaryOutput(ZipName(), existing);
        FNewEndCentral = FEndCentral;  // the comment comes along as it is stored
        FNewEndCentral.entries_this_disk = FNewEndCentral.total_entries = 0;
        MergeExisting();
    }

    if (!FDeleteMode && !FilesList.empty()) {
        openReuseSource();
        bool stopNow = false;
        if (OnStartZipInfo) OnStartZipInfo(this, static_cast<int64_t>(FilesList.size()), FTotalBytes, FNewEndCentral, stopNow);
        if (stopNow) throw EUserCanceled(kUserCanceledZip);
        FPool = makePool();
        for (size_t i = 0; i < FilesList.size(); ++i) {
            FZipHeader = CreateNewZipHeader();
            std::unique_ptr<parallelpack::Packed> packed;
            if (FPool) packed = FPool->Take(i, [this] { CheckForCancel(); });
            Finally release([&] { if (packed) FPool->Release(*packed); });
            if (AddFileToZip(FilesList[i], packed.get())) addRecord(std::move(FZipHeader), FilesList[i], true);
            FZipHeader.reset();
            std::string().swap(FilesList[i]);  // done with: the memory goes to the next entries' records
        }
        if (FPool) FParallelPeak = FPool->PeakReserved();
        FPool.reset();
    }

    writeCentralDirectory();
}

bool TZipWriter::lockExistingArchive(platform::FileStatus& existing) {
    platform::FileSystem& files = platform::fileSystem();
    // The wait is a poll, so that the host's handlers run and a cancel is seen meanwhile.
    for (int emptyLooks = 0;;) {
        if (files.stat(ZipName(), existing) != 0) return false;
        const int error = FArchiveLock.Acquire(ZipName(), false);
        if (error == -EWOULDBLOCK) {
            if (!WaitForArchiveLock)
                throw EZipBusy("The archive \"" + ZipName() + "\" is being written by another process; try again later");
            CheckForCancel();
            std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollWait));
            continue;
        }
        if (error != 0) return true;  // not to be opened: reading it fails with the reason
        // Another job may have put its archive in place meanwhile: that one is the archive now.
        // A new archive is locked by its maker just after it was made: an empty one may be in that moment.
        if (!FArchiveLock.Names(ZipName()) || (FArchiveLock.Size() == 0 && emptyLooks++ < kEmptyArchiveLooks)) {
            FArchiveLock.Release();
            std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollWait));
            continue;
        }
        return files.stat(ZipName(), existing) == 0;
    }
}

void TZipWriter::readExistingArchive() {
    // Its replacement would take the place of a file the user may not change (read-only, or
    // another user's in a folder that is open to this one).
    if (const int error = platform::fileSystem().mayWrite(ZipName()); error < 0)
        throw EZipError("The archive \"" + ZipName() + "\" cannot be updated: " + platform::errorText(error));
    // Entries named with a ".." part are refused, but a delete job may take them out.
    OpenZip(FDeleteMode);
    if (!FZipStream->Status(FArchiveStatus)) throw EIncompleteZip("the status of the archive cannot be read");
}

bool TZipWriter::createNewArchive() {
    FOutFileName = ZipName();
    try {
        FOutStream = std::make_unique<TBufferedFileStream>(FOutFileName, TFileMode::fmCreateNew);
    } catch (const platform::EFileError& e) {
        if (e.errorCode() == EEXIST) return false;
        throw;
    }
    FOutCreated = true;
    FArchiveLock.Acquire(FOutFileName, true);  // best effort: the new archive is complete without it
    return true;
}

void TZipWriter::commitJob() {
    FCopyBuffer.reset();
    FDeflateBuffers.reset();
    FMaxCompressor.reset();
    if (!FOutStream) {
        FArchiveKept = true;  // no new archive was made
        return;
    }
    if (FUpdateMode && FEntriesCount == 0 && !FDroppedEntries) {
        // Nothing was added, replaced or removed: the archive stays untouched, its time included.
        FOutStream.reset();
        platform::DeleteFile(FOutFileName);
        FOutCreated = false;
        FArchiveKept = true;
        return;
    }
    // A replacement must be on the disk before it takes the old archive's place.
    bool closed = FOutStream->Close(FlushFilesOnClose || FUpdateMode);
    FOutStream.reset();
    if (!closed) throw ENotEnoughRoom();
    // Every entry written at the job's level: a later job may take them over.
    if (FEntriesCount == static_cast<int64_t>(FNewEndCentral.total_entries) && FPackLevel == FJobLevel && !FDeleteMode)
        entryreuse::MarkArchive(FOutFileName, FPackLevel, MaximumLevelLimit);
    if (TestAfterWriting) testOutput();
    if (FUpdateMode) MoveTempFile();
}

namespace {
constexpr int kWritingShare = 90;  // percent of the total progress the writing takes when a test follows
}

int TZipWriter::writingPercent() const {
    const int percent = CBigRate(FBytesDone, FTotalBytes);
    return TestAfterWriting ? percent * kWritingShare / 100 : percent;
}

void TZipWriter::testOutput() {
    try {
        testEntries();
    } catch (const EArchiveFault& e) {
        throw ETestFailed(ZipName(), e.Entry(), e.Detail());
    } catch (const EIncompleteZip& e) {
        throw ETestFailed(ZipName(), "", "its directory cannot be read: " + e.Detail());
    }
}

void TZipWriter::testEntries() {
    TBufferedFileStream stream(FOutFileName, TFileMode::fmOpenRead);
    TArchiveReader reader(stream);
    const double total = static_cast<double>(std::max<uint64_t>(reader.ArchiveSize(), 1));
    uint64_t done = 0;
    int shown = -1;
    reader.OnChunk = [&](uint64_t bytes) {
        done += bytes;
        const int percent = kWritingShare + static_cast<int>(static_cast<double>(done) / total * (100 - kWritingShare));
        if (OnTotalPercentDone && percent != shown) OnTotalPercentDone(this, shown = std::min(percent, 100));
        CheckForCancel();
    };
    for (const TArchiveEntry& entry : reader.Entries()) {
        // A carried-over entry may be under a password this job does not know: its headers are checked.
        const bool added = FAddedOffsets.count(entry.localHeaderOffset) != 0;
        if (entry.IsEncrypted() && !added) {
            try {
                reader.Test(entry, Password);
            } catch (const EArchiveFault& e) {
                if (e.Fault() != TEntryFault::Password && e.Fault() != TEntryFault::NoPassword) throw;
                reader.CheckHeaders(entry);
            }
        } else {
            reader.Test(entry, Password);
        }
        CheckForCancel();
    }
}

void TZipWriter::finishSucceededJob() {
    for (const std::string& path : FDisposeList) {
        bool skip = false;
        if (OnDisposeFile) OnDisposeFile(this, path, skip);
        if (!skip) platform::DeleteFile(path);
    }
    FZipStream.reset();
    if (FArchiveKept) {
        FNameList.reset();  // the view goes before the records it points at
    } else {
        FZipContents->TakeFrom(*FPositionList);
        FEndCentral = FNewEndCentral;
    }
    FPositionList.reset();
    platform::FileStatus archive;
    if (platform::fileSystem().stat(ZipName(), archive) == 0) RememberZipStatus(archive);
    else FHaveDirectory = false;
    if (OnTotalPercentDone) OnTotalPercentDone(this, 100);
}

void TZipWriter::addRecord(std::unique_ptr<TZipHeaderInfo> record, const std::string& path, bool added) {
    if (added) ++FEntriesCount;
    if (added) FAddedOffsets.insert(record->local_header_offset);
    ++FNewEndCentral.entries_this_disk;
    ++FNewEndCentral.total_entries;
    FNameList->Add(FPositionList->Add(std::move(record)));  // the position list owns the record
    if (added && Dispose) FDisposeList.push_back(path);
}

void TZipWriter::writeCentralDirectory() {
    FNewEndCentral.central_offset = static_cast<uint64_t>(FOutStream->Position());
    FNewEndCentral.central_disk = 0;
    std::string extra;
    for (size_t i = 0; i < FPositionList->Count(); ++i) {
        TZipHeaderInfo& record = *FPositionList->Items(i);
        // A copied entry's central extra field comes from its old central header, without the
        // 64-bit block, which is made anew for the entry's new place.
        extra.resize(record.central_extra_length);
        if (!record.written_extra.empty()) {
            extra = record.written_extra;
        } else if (!extra.empty()) {
            const auto at = static_cast<int64_t>(record.GetCentralExtraPosition());
            if (!FZipStream || FZipStream->Seek(at, TSeekOrigin::soBeginning) != at ||
                FZipStream->Read(extra.data(), extra.size()) != extra.size())
                throw EIncompleteZip("cannot read the extra field of \"" + record.StoredName() + "\"");
            if (FindExtraBlock(extra, kZip64ExtraId)) extra = WithoutExtraBlock(extra, kZip64ExtraId);
        }
        const uint16_t zip64 = record.GetCentralZip64Size();
        if (zip64 + extra.size() > 0xFFFF)
            throw EZipLimit("The extra field of \"" + record.StoredName() +
                            "\" has no room for the 64-bit sizes and offset its new place needs");
        if (zip64) record.version_needed = std::max(record.version_needed, kZipVersion45);
        record.central_extra_length = static_cast<uint16_t>(zip64 + extra.size());
        record.central_header_offset = static_cast<uint64_t>(FOutStream->Position());
        record.SaveCentralToStream(*FOutStream, extra);
    }
    FNewEndCentral.central_size = static_cast<uint64_t>(FOutStream->Position()) - FNewEndCentral.central_offset;
    FNewEndCentral.this_disk = 0;
    FNewEndCentral.SaveToStream(*FOutStream);
    // An entry taken a second time may have left the file longer than the archive.
    if (FOutStream->Size() > FOutStream->Position() && !FOutStream->Truncate()) throw ENotEnoughRoom();
}

void TZipWriter::finishFailedJob() {
    FPool.reset();  // the workers stop before anything of the job goes
    FCopyBuffer.reset();
    FDeflateBuffers.reset();
    FMaxCompressor.reset();
    FInStream.reset();
    FAesCipher.Abandon();
    FAesEntry = false;
    FKeySupply.reset();  // its threads stop
    FOutStream.reset();  // closes quietly; the file goes next
    FNameList.reset();  // the view goes before the records it points at
    FPositionList.reset();
    if (FOutCreated) platform::DeleteFile(FOutFileName);
    FOutCreated = false;
}

void TZipWriter::ExpandFilesList() {
    FTotalBytes = 0;
    FBytesDone = 0;
    // Freshening takes only files whose stored name is already in the archive: a name index of
    // the in-memory directory serves the lookups.
    TSortedZipView names(TZipSortMode::ByName);
    if (ZipAction == TZipAction::zaFreshen)
        for (size_t i = 0; i < FZipContents->Count(); ++i)
            if (!names.Find(*FZipContents->Items(i))) names.Add(*FZipContents->Items(i));
    auto inDirectory = [&](const std::string& path) {
        TZipHeaderInfo key;
        key.Setfilename(afterLastSlash(path));
        if (FStorePaths) key.Setdirectory(StoredFolderPart(path));
        return names.Find(key) != nullptr;
    };

    std::vector<std::string> kept, wildcards;
    for (const std::string& entry : FilesList) {
        if (!entry.empty() && entry.back() == '/') {
            kept.push_back(entry);  // an explicit folder entry
            continue;
        }
        std::string path = entry.find('/') == std::string::npos ? RootDir() + entry : entry;
        // Linux names may hold the wildcard characters: a file of that very name is taken as it is.
        platform::FindRecord rec;
        if (IsWildCard(entry) && !platform::FindFile(path, rec)) {
            wildcards.push_back(entry);
            continue;
        }
        if (IsInExcludeList(path)) continue;
        if (!platform::FindFile(path, rec)) {
            if (OnNoSuchFile) OnNoSuchFile(this, path);
            continue;
        }
        if (SkipIfArchiveBitNotSet && !(rec.attributes & platform::faArchive)) continue;
        if (ZipAction == TZipAction::zaFreshen && !inDirectory(path)) continue;
        FTotalBytes += static_cast<double>(rec.size);
        kept.push_back(path);
    }
    FilesList = std::move(kept);

    for (const std::string& original : wildcards) {
        std::string spec = original;
        bool recursion = Recurse;
        if (spec[0] == '|' || spec[0] == '>') {
            recursion = spec[0] == '>';
            spec.erase(0, 1);
        }
        size_t slash = spec.rfind('/');
        std::string folder = slash == std::string::npos ? std::string() : spec.substr(0, slash == 0 ? 1 : slash);
        // No folder part: the root folder, or else the current folder (never the file system's root).
        if (folder.empty()) folder = RootDir();
        std::string mask = slash == std::string::npos ? spec : spec.substr(slash + 1);
        if (mask == "*.*") mask = "*";
        if (!folder.empty() && !IsWildCard(folder) && !platform::DirectoryExists(folder)) {
            if (OnNothingMatched) OnNothingMatched(this, original);
            continue;
        }

        TDirSearch search(folder, mask, recursion);
        platform::FindRecord rec;
        size_t found = 0;  // files the pattern leads to, before freshening and the archive bit choose
        for (std::string path; !(path = search.NextFile(rec)).empty();) {
            if (OnRecursingFile) OnRecursingFile(this, path);
            if (path.back() == '/') {
                if (rec.kind == platform::FileKind::Other) {
                    // A folder that cannot be listed would come out as an empty entry, its files silently missing.
                    path.pop_back();
                    if (IsInExcludeList(path)) continue;
                    bool retry = false;
                    if (OnSkippingFile) OnSkippingFile(this, TSkipReason::srFileOpenError, path, -1, retry);
                    continue;
                }
                if (recursion && AddDirEntriesOnRecurse) FilesList.push_back(path);
                continue;
            }
            if (IsInExcludeList(path)) continue;
            CheckForCancel();
            if (isArchive(path, rec.size)) continue;
            ++found;
            if (SkipIfArchiveBitNotSet && !(rec.attributes & platform::faArchive)) continue;
            if (ZipAction == TZipAction::zaFreshen && !inDirectory(path)) continue;
            FilesList.push_back(path);
            FTotalBytes += static_cast<double>(rec.size);
        }
        if (found == 0 && OnNothingMatched) OnNothingMatched(this, original);
    }
}

bool TZipWriter::isArchive(const std::string& path, uint64_t size) const {
    if (platform::SameFileName(path, ZipName())) return true;
    return FUpdateMode && platform::IsSameFile(path, size, FArchiveStatus);
}

std::string TZipWriter::StoredFolderPart(const std::string& path) const {
    size_t slash = path.rfind('/');
    std::string folder;
    if (slash != std::string::npos) {
        folder = path.substr(0, slash == 0 ? 1 : slash);
        if (folder.back() != '/') folder += '/';
    }
    const std::string& root = RootDir();
    if (FRelativePaths && !root.empty() && platform::FileNameStartsWith(folder, root))
        folder = folder.size() == root.size() ? std::string() : folder.substr(root.size());
    // There is no drive part on Linux; the leading "/" of an absolute folder goes with the rest
    // of the cleaning (also with StoreVolumes, so that no name is absolute).
    return cleanFolderPart(folder);
}

std::string TZipWriter::StoredNameOf(const std::string& spec) const {
    std::string path = OEMConvert ? platform::OemFilter(spec) : spec;
    return (FStorePaths ? StoredFolderPart(path) : std::string()) + afterLastSlash(path);
}

// What a path leads to before it is opened: regular files only are opened, for a named pipe
// could block and a device could act on being opened.
TZipWriter::InputKind TZipWriter::examineInput(const std::string& path) {
    platform::FileSystem& fs = platform::fileSystem();
    platform::FileStatus target, link;
    const int error = fs.stat(path, target);
    if (error == 0 && target.kind == platform::FileKind::Regular) return InputKind::Regular;
    if (error == 0 && target.kind != platform::FileKind::Directory) return InputKind::Refused;
    // Rare ways only: the path itself tells a folder from a link to one, and a vanished file
    // from a link that leads nowhere.
    const int own = fs.lstat(path, link);
    if (own == -ENOENT || own == -ENOTDIR) return InputKind::Gone;
    return own == 0 && link.kind == platform::FileKind::Directory ? InputKind::Gone : InputKind::Refused;
}

bool TZipWriter::openInput(const std::string& path, platform::FileStatus& status) {
    for (;;) {
        const InputKind kind = examineInput(path);
        if (kind == InputKind::Regular) {
            try {
                FInStream = std::make_unique<TBufferedFileStream>(path, TFileMode::fmOpenRead);
            } catch (const platform::EFileError&) {
                FInStream.reset();
            }
            // The status of the file opened is the one the entry describes.
            if (FInStream && FInStream->Status(status) && status.kind == platform::FileKind::Regular) return true;
            FInStream.reset();
        }
        bool retry = false;
        if (OnSkippingFile) OnSkippingFile(this, TSkipReason::srFileOpenError, path, -1, retry);
        if (!retry) return false;
    }
}

void TZipWriter::checkNameLength(const std::string& path, const std::string& folder, const std::string& file) const {
    if (folder.size() + file.size() > 0xFFFF)
        throw EZipLimit("The name of \"" + path + "\" is too long for a ZIP archive: it would have " +
                        std::to_string(folder.size() + file.size()) + " bytes, and an entry's name holds at most 65535");
}

bool TZipWriter::AddFileToZip(const std::string& entry, const parallelpack::Packed* packed) {
    FFileBytesRead = 0;
    const bool isFolder = !entry.empty() && entry.back() == '/';
    Finally closeInput([this] { FInStream.reset(); });
    if (isFolder) describeFolder(entry);
    else if (packed) describeFile(entry, packed->status);
    else if (!openFile(entry)) return false;

    const std::string path = OEMConvert ? platform::OemFilter(entry) : entry;
    if (!nameEntry(path, isFolder)) return false;
    if (packed && !packedFits(*packed)) {
        // A handler of OnStartZip changed what the entry is packed with: it is packed here.
        packed = nullptr;
        platform::FileStatus status;
        if (!openInput(entry, status)) return false;
        FInputStatus = status;
        FFileReadLimit = status.size;
    }

    TZipHeaderInfo& header = *FZipHeader;
    const bool encrypt = !isFolder && !Password.empty();
    FAesEntry = encrypt && Encryption == TZipEncryption::zeAes256;
    Finally endAes([this] { FAesEntry = false; });
    writeFirstHeader(isFolder, !isFolder && header.uncompressed_size >= Zip64ReserveFrom);
    if (isFolder) {
        if (OnEndZip) OnEndZip(this, path, 0, 0, 0);
        return true;
    }
    if (packed && !packed->reuseFault.empty() && OnReuseFault) OnReuseFault(this, entry, packed->reuseFault);
    if (packed && packed->reused && !takePackedEarlierEntry(*packed, encrypt)) {
        // Not the entry it was checked for: the file is taken here as when there are no workers.
        packed = nullptr;
        platform::FileStatus status;
        if (!openInput(entry, status)) return false;
        FInputStatus = status;
        FFileReadLimit = status.size;
    }
    if (packed && !packed->reused) writePacked(*packed, encrypt);
    else if (!packed && !takeEarlierEntry(encrypt)) packEntry(encrypt);
    const uint64_t archiveSize = patchHeader(encrypt);
    const bool changed = packed ? packed->changed : inputChanged();
    FInStream.reset();
    if (changed && OnFileChanged) OnFileChanged(this, path);
    if (OnEndZip) OnEndZip(this, path, header.uncompressed_size, header.compressed_size, archiveSize);
    return true;
}

void TZipWriter::describeFolder(const std::string& path) {
    TZipHeaderInfo& header = *FZipHeader;
    // One look at the folder: its time and attributes when it is there, else the time of now.
    platform::FindRecord rec;
    if (platform::FindFile(path.substr(0, path.size() - 1), rec) && rec.kind == platform::FileKind::Directory) {
        header.last_mod_datetime = platform::DosDateTimeOfFile(rec.time);
        header.external_attributes = rec.attributes;
    } else {
        header.last_mod_datetime = platform::NowAsDosDateTime();
    }
    header.uncompressed_size = header.compressed_size = 0;
    header.crc32 = 0;
    header.compression_method = kMethodStored;
    header.internal_attributes = kInternalBinary;
}

bool TZipWriter::inputChanged() const {
    platform::FileStatus now;
    if (FFileBytesRead != FFileReadLimit || !FInStream || !FInStream->Status(now)) return true;
    return now.size != FInputStatus.size || now.mtime != FInputStatus.mtime || now.mtimeNsec != FInputStatus.mtimeNsec;
}

bool TZipWriter::openFile(const std::string& path) {
    platform::FileStatus status;
    if (!openInput(path, status)) return false;
    describeFile(path, status);
    return true;
}

void TZipWriter::describeFile(const std::string& path, const platform::FileStatus& status) {
    TZipHeaderInfo& header = *FZipHeader;
    FInputStatus = status;
    header.external_attributes = platform::AttributesOf(status, afterLastSlash(path));
    header.last_mod_datetime = platform::DosDateTimeOfFile(status.mtime);
    header.uncompressed_size = status.size;
    FFileReadLimit = status.size;
}

void TZipWriter::reportReads(uint64_t bytes) {
    for (uint64_t read = 0; read < bytes;) {
        read = std::min<uint64_t>(bytes, read + kCopyChunk);
        FBytesDone += static_cast<double>(read - FFileBytesRead);
        FFileBytesRead = read;
        if (OnFilePercentDone)
            OnFilePercentDone(this, CRate(static_cast<int64_t>(FZipHeader->uncompressed_size), static_cast<int64_t>(read)));
        if (OnTotalPercentDone) OnTotalPercentDone(this, writingPercent());
        CheckForCancel();
    }
}

void TZipWriter::writePacked(const parallelpack::Packed& packed, bool encrypt) {
    TZipHeaderInfo& header = *FZipHeader;
    header.general_purpose_flag |= packed.flagBits;
    header.internal_attributes = packed.internalAttributes;
    header.compression_method = packed.method;
    // The bytes go out in as many steps as the file took reads, each with the progress and the
    // yield of its read, so that the bars and Cancel behave as when the entry is packed here.
    const size_t total = packed.data.size();
    const uint64_t input = packed.bytesRead;
    const uint64_t steps = (input + kCopyChunk - 1) / kCopyChunk;
    size_t written = 0;
    for (uint64_t step = 1; step <= steps; ++step) {
        const auto upTo = static_cast<size_t>(step == steps ? total : static_cast<uint64_t>(total) * step / steps);
        writeRaw(packed.data.data() + written, upTo - written);
        written = upTo;
        const uint64_t read = std::min<uint64_t>(input, step * kCopyChunk);
        FBytesDone += static_cast<double>(read - FFileBytesRead);
        FFileBytesRead = read;
        if (OnFilePercentDone)
            OnFilePercentDone(this, CRate(static_cast<int64_t>(header.uncompressed_size), static_cast<int64_t>(read)));
        if (OnTotalPercentDone) OnTotalPercentDone(this, writingPercent());
        CheckForCancel();
    }
    if (written < total) {
        writeRaw(packed.data.data() + written, total - written);
        CheckForCancel();
    }
    FBytesWritten += total;
    FCrc = ~packed.crc;
    const uint64_t overhead = FAesEntry ? aescipher::kOverhead : encrypt ? kCryptHeadSize : 0;
    header.compressed_size = total - overhead;
}

bool TZipWriter::nameEntry(const std::string& path, bool isFolder) {
    TZipHeaderInfo& header = *FZipHeader;
    const std::string file = isFolder ? std::string() : afterLastSlash(path);
    const std::string folder = FStorePaths ? StoredFolderPart(path) : std::string();
    checkNameLength(path, folder, file);
    header.Setfilename(file);
    header.local_header_offset = static_cast<uint64_t>(FOutStream->Position());
    if (!isFolder) header.internal_attributes = kInternalUnknown;
    header.disk_number_start = 0;
    if (FStorePaths) header.Setdirectory(folder);
    // A folder entry without a folder part (no paths stored, or the root folder itself) would
    // have an empty name, which no reader can place: it is left out.
    if (isFolder && header.filename_length == 0) return false;

    if (FNameList->Find(header)) {
        bool retry = false;
        if (OnSkippingFile) OnSkippingFile(this, TSkipReason::srNoOverwrite, path, -1, retry);
        if (!isFolder) FTotalBytes -= static_cast<double>(header.uncompressed_size);
        return false;
    }
    bool skip = false;
    if (OnStartZip) OnStartZip(this, path, header, skip);
    if (skip) {
        if (!isFolder) FTotalBytes -= static_cast<double>(header.uncompressed_size);
        return false;
    }
    return true;
}

void TZipWriter::writeFirstHeader(bool isFolder, bool zip64) {
    TZipHeaderInfo& header = *FZipHeader;
    // An added entry has no extra field but the 64-bit block and, for an AES entry, the AES block
    // (its real method filled in when the data are written), whatever OnStartZip set.
    header.local_zip64 = zip64;
    header.written_extra.clear();
    if (FAesEntry) {
        uint8_t block[aescipher::kExtraSize];
        aescipher::MakeExtra(kMethodDeflated, block);
        header.written_extra.assign(reinterpret_cast<const char*>(block), sizeof block);
    }
    header.central_extra_length = static_cast<uint16_t>(header.written_extra.size());
    header.local_extra_length = static_cast<uint16_t>((zip64 ? kZip64LocalExtraSize : 0) + header.written_extra.size());
    if (zip64 || static_cast<uint64_t>(FOutStream->Position()) >= kZip64Mark32)
        header.version_needed = std::max(header.version_needed, kZipVersion45);
    if (!isFolder) {
        header.crc32 = 0xFFFFFFFF;
        header.compressed_size = 0;
        header.compression_method = kMethodDeflated;
        header.general_purpose_flag &= static_cast<uint16_t>(~kFlagEncrypted);  // not yet
    }
    header.SaveLocalToStream(*FOutStream);
}

void TZipWriter::packWithRetry(bool encrypt) {
    if (FAesEntry) return packAes();
    TZipHeaderInfo& header = *FZipHeader;
    // With a password the whole file is read once first for its CRC, which the encryption
    // header checks. A file that changed between the two reads would leave the header checking
    // a CRC the data do not have: the entry is then taken again from its start.
    const int64_t dataStart = FOutStream->Position();
    for (int attempt = 1;; ++attempt) {
        if (encrypt) {
            header.crc32 = crcPrePass();
            CryptHead(Password);
        }
        FCrc = 0xFFFFFFFF;
        packFile();
        if (!encrypt || ~FCrc == header.crc32) return;
        if (attempt == kEncryptAttempts)
            throw EZipReadError("The file \"" + FInStream->FileName() +
                                "\" kept changing while it was read; it cannot be encrypted");
        FBytesDone -= static_cast<double>(FFileBytesRead);
        FFileBytesRead = 0;
        rewindInput();
        FOutStream->Seek(dataStart, TSeekOrigin::soBeginning);
        header.compression_method = kMethodDeflated;
        header.internal_attributes = kInternalUnknown;
        header.general_purpose_flag &= static_cast<uint16_t>(~kFlagDeflateOptions);
    }
}

void TZipWriter::packEntry(bool encrypt) {
    TZipHeaderInfo& header = *FZipHeader;
    packWithRetry(encrypt);
    const uint64_t overhead = FAesEntry ? aescipher::kOverhead : encrypt ? kCryptHeadSize : 0;
    if (header.local_zip64 || (FFileBytesRead < kZip64Mark32 && header.compressed_size + overhead < kZip64Mark32))
        return;
    // The data came out too long for the local header written without the 64-bit block: the
    // entry is written again from its header, with the block.
    FBytesDone -= static_cast<double>(FFileBytesRead);
    FFileBytesRead = 0;
    rewindInput();
    FOutStream->Seek(static_cast<int64_t>(header.local_header_offset), TSeekOrigin::soBeginning);
    header.internal_attributes = kInternalUnknown;
    header.general_purpose_flag = static_cast<uint16_t>(header.general_purpose_flag & ~kFlagDeflateOptions);
    writeFirstHeader(false, true);
    packWithRetry(encrypt);
}

void TZipWriter::packAes() {
    // No CRC pre-pass: an AE-2 entry stores no CRC, its code authenticates the data.
    uint8_t head[aescipher::kHeaderSize];
    if (FKeySupply) FAesCipher.StartEncryptFrom(*FKeySupply, head);
    else FAesCipher.StartEncrypt(Password, head);
    writeRaw(head, sizeof head);
    FCrc = 0xFFFFFFFF;
    packFile();
    uint8_t code[aescipher::kCodeSize];
    FAesCipher.Finish(code);
    writeRaw(code, sizeof code);
}

void TZipWriter::writeRaw(const uint8_t* buffer, size_t count) {
    if (FOutStream->Write(buffer, count) != count) throw ENotEnoughRoom();
}

uint64_t TZipWriter::patchHeader(bool encrypt) {
    TZipHeaderInfo& header = *FZipHeader;
    // The entry describes the bytes actually read, also when the file shrank while it was read
    // (reads never go past the size it had when opened).
    header.uncompressed_size = FFileBytesRead;
    header.crc32 = ~FCrc;
    if (FAesEntry) {
        // The real method goes into the AES block; the headers name the AES method, need
        // version 5.1 and store no CRC.
        uint8_t block[aescipher::kExtraSize];
        aescipher::MakeExtra(header.compression_method, block);
        header.written_extra.assign(reinterpret_cast<const char*>(block), sizeof block);
        header.compression_method = aescipher::kMethodAes;
        header.version_needed = aescipher::kVersionNeeded;
        header.version_made_by = static_cast<uint16_t>((header.version_made_by & 0xFF00) | aescipher::kVersionNeeded);
        header.crc32 = 0;
        header.general_purpose_flag |= kFlagEncrypted;
        header.compressed_size += aescipher::kOverhead;
    } else if (encrypt) {
        header.general_purpose_flag |= kFlagEncrypted;
        header.compressed_size += kCryptHeadSize;
    }
    const int64_t resume = FOutStream->Position();
    FOutStream->Seek(static_cast<int64_t>(header.local_header_offset), TSeekOrigin::soBeginning);
    header.SaveLocalToStream(*FOutStream);
    FOutStream->Seek(resume, TSeekOrigin::soBeginning);
    return static_cast<uint64_t>(resume);
}

void TZipWriter::packFile() {
    TZipHeaderInfo& header = *FZipHeader;
    if (FPackLevel == 0 || IsInNoCompressList(header.filename())) storeFile();
    else if (FPackLevel == maxdeflate::kLevel && FFileReadLimit <= MaximumLevelLimit) packMaximum();
    else header.compressed_size = static_cast<uint64_t>(Deflate());
}

uint32_t TZipWriter::crcPrePass() {
    uint8_t* buffer = FCopyBuffer.get();
    uint32_t crc = 0xFFFFFFFF;
    for (uint64_t done = 0; done < FFileReadLimit;) {
        size_t n = FInStream->Read(buffer, static_cast<size_t>(std::min<uint64_t>(kPrePassChunk, FFileReadLimit - done)));
        checkInputRead();
        if (n == 0) break;
        crc = Update_CRC_buff(crc, buffer, n);
        done += n;
    }
    rewindInput();
    return ~crc;
}

void TZipWriter::checkInputRead() const {
    if (FInStream->LastError())
        throw EZipReadError("Cannot read the file \"" + FInStream->FileName() + "\". " +
                            platform::errorText(FInStream->LastError()));
}

void TZipWriter::rewindInput() {
    if (FInStream->Seek(0, TSeekOrigin::soBeginning) != 0)
        throw EZipReadError("Cannot read the file \"" + FInStream->FileName() + "\" again from its start");
}

void TZipWriter::CryptHead(const std::string& password) {
    uint8_t head[TTraditionalCipher::HeaderSize];
    FCipher.MakeHeader(password, FZipHeader->crc32, head);
    if (FOutStream->Write(head, sizeof head) != sizeof head) throw ENotEnoughRoom();
}

int64_t TZipWriter::Deflate() {
    TZipHeaderInfo& header = *FZipHeader;
    if (!FDeflateBuffers) FDeflateBuffers = std::make_unique<TDeflateBuffers>();  // level raised mid-job
    // Above its limit the maximum level packs as level 9 does.
    return FDeflater.Deflate(*FDeflateBuffers, std::min(FPackLevel, 9), *this,
                             {header.general_purpose_flag, header.internal_attributes, header.compression_method});
}

void TZipWriter::packMaximum() {
    TZipHeaderInfo& header = *FZipHeader;
    header.general_purpose_flag |= kFlagDeflateMaximum;  // as level 9 sets it
    if (FAbandonedTask) {
        // Memory stays within one entry's worth: a compression given up earlier ends first.
        while (!FAbandonedTask->WaitFor(std::chrono::milliseconds(kMaxWaitSlice))) CheckForCancel();
        FAbandonedTask.reset();
    }
    if (!FMaxCompressor) FMaxCompressor = std::make_shared<maxdeflate::Compressor>();

    // One sequential read of the whole file (never past the size it had when opened), with the
    // progress, the CRC and the yields of every read.
    const size_t limit = static_cast<size_t>(FFileReadLimit);
    uint8_t* data = FMaxCompressor->Input(limit);
    size_t size = 0;
    for (uint16_t n = 1; size < limit && n != 0; size += n)
        n = file_read(data + size, static_cast<uint16_t>(std::min<size_t>(kCopyChunk, limit - size)));

    const maxdeflate::Result result = compressMaximum(size);
    header.internal_attributes = result.internal_attributes;
    header.compression_method = result.stored ? kMethodStored : kMethodDeflated;
    uint8_t* out = result.stored ? data : FMaxCompressor->Output();
    const size_t count = result.stored ? size : result.size;
    for (size_t done = 0; done < count;) {
        const size_t step = std::min<size_t>(kCopyChunk, count - done);
        zfwrite(out + done, 1, step);
        done += step;
    }
    header.compressed_size = count;
}

maxdeflate::Result TZipWriter::compressMaximum(size_t size) {
    if (size < maxdeflate::kTaskThreshold) return FMaxCompressor->Compress(size);
    // A large entry takes seconds: it is compressed on a thread of its own while this one keeps
    // the host's message loop running, and a cancel does not wait for it.
    auto task = std::make_unique<maxdeflate::Task>(FMaxCompressor, size);
    try {
        while (!task->WaitFor(std::chrono::milliseconds(kMaxWaitSlice))) CheckForCancel();
    } catch (...) {
        FAbandonedTask = std::move(task);
        throw;
    }
    return task->Get();
}

void TZipWriter::storeFile() {
    TZipHeaderInfo& header = *FZipHeader;
    uint8_t* buffer = FCopyBuffer.get();
    uint64_t start = FBytesWritten;
    for (uint16_t n; (n = file_read(buffer, kCopyChunk)) != 0;) zfwrite(buffer, 1, n);
    header.compressed_size = FBytesWritten - start;
    header.compression_method = kMethodStored;
    header.internal_attributes = kInternalBinary;
}

uint16_t TZipWriter::file_read(uint8_t* buffer, uint16_t count) {
    uint64_t left = FFileReadLimit - FFileBytesRead;
    if (count > left) count = static_cast<uint16_t>(left);
    if (count == 0 || !FInStream) return 0;
    size_t n = FInStream->Read(buffer, count);
    checkInputRead();
    if (n == 0) return 0;
    FFileBytesRead += n;
    if (OnFilePercentDone)
        OnFilePercentDone(this, CRate(static_cast<int64_t>(FZipHeader->uncompressed_size), static_cast<int64_t>(FFileBytesRead)));
    FBytesDone += static_cast<double>(n);
    if (OnTotalPercentDone) OnTotalPercentDone(this, writingPercent());
    FCrc = Update_CRC_buff(FCrc, buffer, n);
    // Highly compressible input can take long between two blocks of output: the host gets its
    // turn after every read too, so that a Cancel is seen within one read.
    CheckForCancel();
    return static_cast<uint16_t>(n);
}

size_t TZipWriter::zfwrite(uint8_t* buffer, size_t size, size_t count) {
    size_t n = size * count;
    // With a password the block is encrypted here, in place, before it is written.
    if (FAesEntry) FAesCipher.Encrypt(buffer, n);
    else if (!Password.empty()) {
        if (OnEncrypt) OnEncrypt(this, buffer, n, Password);
        else FCipher.encrypt_buff(buffer, n);
    }
    if (FOutStream->Write(buffer, n) != n) throw ENotEnoughRoom();
    FBytesWritten += n;
    CheckForCancel();
    return n;
}
