// The archive writer: expands a list of file specifications and writes them into a new ZIP archive,
// or merges them with an existing one that it rewrites beside itself and puts in its place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/filelock.h"
#include "platform/filesystem.h"
#include "zip/aescipher.h"
#include "zip/bufferedstream.h"
#include "zip/deflate.h"
#include "zip/entryreuse.h"
#include "zip/maxdeflate.h"
#include "zip/parallelpack.h"
#include "zip/sortedzip.h"
#include "zip/tradcipher.h"
#include "zip/zipreader.h"
#include "zip/ziprecords.h"

enum class TZipAction { zaUpdate, zaReplace, zaFreshen };
enum class TSkipReason { srBadPassword, srNoOverwrite, srFileOpenError, srCreateError };
enum class TUpdateAction { uaReplacing, uaKeeping };
enum class TMultiMode { mmNone, mmSpan, mmBlocks };
// The cipher of the entries written with a password: the traditional ZIP cipher (readable
// everywhere, weak) or AES-256 (method 99, extra field 0x9901, AE-2).
enum class TZipEncryption { zeTraditional, zeAes256 };

struct TMultiZipInfo {
    TMultiMode MultiMode = TMultiMode::mmNone;
};

// Percentages for the progress events: 0 when total <= 0, else part * 100 / total rounded to the
// nearest integer (ties to even) and capped at 100.
int CRate(int64_t total, int64_t part);
int CBigRate(double part, double total);

// The 64-bit extensions of the format go only where a value needs them: the extra block of a
// central header holds the sizes and the offset that reach 0xFFFFFFFF, and the 64-bit end record
// with its locator comes before the end record when the archive has more than 65535 entries or
// its central directory's size or offset reaches 0xFFFFFFFF. The local header is written before
// the data, when the compressed size is not known yet: a file of at least Zip64ReserveFrom bytes
// (kZip64ReserveFrom, 256 MiB below the limit, far more than Deflate and the encryption header can
// add) gets the 64-bit block with both sizes in its local header, filled in once they are known;
// a smaller file whose data still reach 0xFFFFFFFF bytes is packed once more from its start with
// the block (its progress then starts over). Entries with that block and entries above 4 GiB in
// the archive need version 4.5.
constexpr uint64_t kZip64ReserveFrom = 0xF0000000ull;

class TZipWriter : public TZipReader, private TDeflateHost {
public:
    using TOnRecursingFile = std::function<void(TZipReader* Sender, const std::string& FName)>;
    using TNoSuchFileEvent = std::function<void(TZipReader* Sender, const std::string& FName)>;
    using TStartZipInfo = std::function<void(TZipReader* Sender, int64_t NumFiles, double TotalBytes,
                                             TEndCentral& EndCentralRecord, bool& StopNow)>;
    using TStartZipEvent =
        std::function<void(TZipReader* Sender, const std::string& FName, TZipHeaderInfo& ZipHeader, bool& Skip)>;
    using TSkippingFile = std::function<void(TZipReader* Sender, TSkipReason Reason, const std::string& FName,
                                             int FileIndex, bool& Retry)>;
    using TEncryptEvent =
        std::function<void(TZipReader* Sender, uint8_t* buffer, size_t length, const std::string& Password)>;
    using TEndZipFileEvent = std::function<void(TZipReader* Sender, const std::string& FName, uint64_t UncompressedSize,
                                                uint64_t CompressedSize, uint64_t CurrentZipSize)>;
    using TUpdateEvent = std::function<void(TZipReader* Sender, TUpdateAction UDAction, int FileIndex)>;
    using TDeleteEvent = std::function<void(TZipReader* Sender, const std::string& FName, bool& Skip)>;
    using TDisposeEvent = std::function<void(TZipReader* Sender, const std::string& FName, bool& Skip)>;
    using TZipComplete = std::function<void(TZipReader* Sender, int64_t FileCount)>;
    using TReuseFaultEvent = std::function<void(TZipReader* Sender, const std::string& FName, const std::string& Detail)>;

    TZipWriter();
    ~TZipWriter() override;

    // Runs a zip job and returns the number of entries added; fires OnZipComplete with it.
    // Errors propagate after the partial archive was removed.
    int64_t Zip();
    // Runs a job that removes the selected entries of the in-memory directory (FilesList is then
    // ignored) or those matching FilesList; returns the number removed.
    int64_t DeleteEntries();

    // Properties with couplings.
    bool StorePaths() const { return FStorePaths; }
    void SetStorePaths(bool value);  // false also clears RelativePaths and StoreVolumes
    bool RelativePaths() const { return FRelativePaths; }
    void SetRelativePaths(bool value);  // true also sets StorePaths and Recurse
    bool StoreVolumes() const { return FStoreVolumes; }
    void SetStoreVolumes(bool value);  // true also sets StorePaths
    int PackLevel() const { return FPackLevel; }
    // Clamped into 0..10; 10 (maxdeflate::kLevel) is the maximum level, level 9 for files above
    // MaximumLevelLimit.
    void SetPackLevel(int value);

    // The cipher of the entries this job writes; copied entries keep theirs.
    TZipEncryption Encryption = TZipEncryption::zeTraditional;
    bool Recurse = false;
    TZipAction ZipAction = TZipAction::zaUpdate;
    bool AddDirEntriesOnRecurse = false;
    std::vector<std::string> ExcludeList;
    std::vector<std::string> NoCompressList;
    bool SkipIfArchiveBitNotSet = false;
    bool ResetArchiveBitOnZip = false;  // Linux files have no archive attribute to clear
    bool Dispose = false;
    std::string TempPath;
    bool DoProcessMessages = true;
    bool Store83Names = false;  // Linux has no short names: changes nothing
    bool FlushFilesOnClose = false;
    TMultiZipInfo MultiZipInfo;
    // A job holds the archive's lock from reading the old archive until the new one is in place;
    // another process's job on it waits for that, or with false fails at once with EZipBusy.
    bool WaitForArchiveLock = true;
    // false: when FilesList leads to no file, no new archive is made (an existing one is updated as always).
    bool MakeEmptyArchive = true;
    // Tests the finished archive before it is put in place (or kept as new): every entry read
    // back and checked. Entries carried over from the existing archive under another password
    // get the checks that need none. A bad entry fails the job with ETestFailed naming it;
    // the archive is then removed, an existing one stays as it was. The test takes the last
    // tenth of the total progress.
    bool TestAfterWriting = false;
    // Files up to this size are packed at the maximum level in memory; larger ones at level 9.
    uint64_t MaximumLevelLimit = maxdeflate::kBufferLimit;
    // Files of at least this size get the 64-bit block in their local header (see kZip64ReserveFrom).
    uint64_t Zip64ReserveFrom = kZip64ReserveFrom;
    // Above 1, files are packed this many at a time on worker threads (zip/parallelpack.h) while
    // this thread writes them in their order, with the same bytes and events as one at a time.
    // A host with its own OnEncrypt gets one at a time whenever there is a password.
    unsigned Threads = 1;
    // The bytes the workers may hold in all; a file too large for it is packed on this thread.
    size_t ParallelMemoryLimit = parallelpack::kDefaultMemoryLimit;
    // The most the workers held at once in the last job (0 when it had none).
    size_t LastParallelPeak() const { return FParallelPeak; }
    // An earlier archive of the same files (not the one being written): a file whose size, time
    // and CRC equal those of its entry there, written at this job's level, method and cipher (and
    // decrypting with Password), has that entry's data copied instead of packed anew, after they
    // were inflated and their CRC checked. The archive comes out as a full job would write it.
    // The level is known from the mark a job that wrote every entry of its archive leaves on the
    // file (entryreuse::kLevelMarkName); without it only stored entries are taken.
    std::string ReuseFrom;
    // The entries the last job took over from ReuseFrom.
    int64_t EntriesReused() const { return FEntriesReused; }

    TOnRecursingFile OnRecursingFile;
    TNoSuchFileEvent OnNoSuchFile;
    TStartZipInfo OnStartZipInfo;
    TStartZipEvent OnStartZip;
    TSkippingFile OnSkippingFile;
    TEncryptEvent OnEncrypt;  // stands in for the traditional cipher only; AES entries keep theirs
    TEndZipFileEvent OnEndZip;
    TUpdateEvent OnUpdate;
    TDeleteEvent OnDeleteEntry;
    TDisposeEvent OnDisposeFile;
    TZipComplete OnZipComplete;
    // A file shrank, grew or was written to while it was packed: its entry holds what was read,
    // a consistent entry that may match neither the old file nor the new one.
    TNoSuchFileEvent OnFileChanged;
    // A wildcard specification of FilesList found no file (folders do not count), or a pattern
    // of a delete job matched no entry; the text as it stands in FilesList.
    TNoSuchFileEvent OnNothingMatched;
    // An entry of ReuseFrom that fits its file failed the check of its data (FName the file, which
    // is packed anew), or ReuseFrom cannot be read (FName empty: every file is packed).
    TReuseFaultEvent OnReuseFault;

private:
    // Reads up to count bytes of the current file (never past the size it had when opened);
    // 0 at its end. Reports progress and runs the bytes through the CRC register. A read error
    // raises EZipReadError naming the file.
    uint16_t file_read(uint8_t* buffer, uint16_t count) override;
    // Writes size * count bytes to the archive; raises ENotEnoughRoom on a short write; then
    // yields and checks for cancellation.
    size_t zfwrite(uint8_t* buffer, size_t size, size_t count) override;
    // Compresses the current file at PackLevel through file_read and zfwrite; returns the
    // compressed byte count. Sets the entry's flag bits, text/binary mark, and method 0 when a
    // one-block entry does not shrink.
    int64_t Deflate();

    bool IsInExcludeList(const std::string& path) const;
    bool IsInNoCompressList(const std::string& fileName) const;

    // Writes the 12-byte encryption header of the current entry to the archive.
    void CryptHead(const std::string& password);

    // The folder for a temporary archive when the archive's own folder cannot take one: TempPath
    // when it names a folder, else the system's temporary folder; ends with "/".
    std::string TemporaryPath() const;
    // Creates a new empty file with a unique name starting with "FVZ", the process id and "-" in
    // folder, having removed those there of writers that are gone; returns its path.
    std::string TempFileName(const std::string& folder) const;
    static constexpr const char* kTempStem = "FVZ";
    // Puts source in the place of destination so that destination always names a complete
    // file: a rename, or across file systems a copy beside destination renamed over it; source
    // is gone afterwards. Raises EZipError "Could not copy from ..." naming where source still
    // is when neither works; destination is then unchanged.
    void FileCopy(const std::string& source, const std::string& destination);
    // Renames source over destination in one step; false (error: the negated errno) when the
    // system refused.
    bool DoRenameCopy(const std::string& source, const std::string& destination, int& error);
    // The last-write time of a file or folder as a repaired DOS date and time (GoodTimeStamp);
    // with size, also the file's size (0 for a folder or when there is nothing of that path).
    static uint32_t FileDate(const std::string& path, uint64_t* size = nullptr);

    // The stored copy and the copy of existing entries move this many bytes a step.
    static constexpr uint16_t kCopyChunk = 32768;
    // Copies of existing entries inside the kernel move this many bytes a step.
    static constexpr size_t kKernelCopyChunk = 1 << 20;
    // While a large entry is compressed at the maximum level the host gets its turn this often (ms).
    static constexpr int kMaxWaitSlice = 5;
    // A locked archive is tried again this many ms apart; an empty one found unlocked (perhaps just
    // made, not yet locked by its maker) is looked at again this many times.
    static constexpr int kLockPollWait = 10;
    static constexpr int kEmptyArchiveLooks = 50;

    int64_t ProcessFiles();
    // Carries the entries of the existing archive over into the output, as ZipAction or delete
    // mode decide, taking what they used up out of FilesList.
    void MergeExisting();
    // Copies an entry of the existing archive to the output; record takes its new place.
    void MoveFile(TZipHeaderInfo& record, uint64_t limit);
    // The test of the finished output (TestAfterWriting): a fault raises ETestFailed.
    void testOutput();
    void testEntries();
    // The total progress of the writing, made room for the test when there is one.
    int writingPercent() const;
    // Puts the finished temporary archive in the place of the existing one.
    void MoveTempFile();
    void ExpandFilesList();
    std::unique_ptr<TZipHeaderInfo> CreateNewZipHeader() const;
    // packed: the entry as a worker packed it, or null when it is packed here.
    bool AddFileToZip(const std::string& entry, const parallelpack::Packed* packed = nullptr);
    // Whether the job packs on worker threads, and their pool for the files of FilesList.
    bool usesWorkers() const;
    std::unique_ptr<parallelpack::Pool> makePool() const;
    // Whether an entry packed by a worker is what this entry is to be after OnStartZip.
    bool packedFits(const parallelpack::Packed& packed) const;
    // The entry's data as a worker packed them, written with the progress and yields of packing.
    void writePacked(const parallelpack::Packed& packed, bool encrypt);
    // The folder part of the stored name of a path (with "/" at its end when not empty).
    std::string StoredFolderPart(const std::string& path) const;
    // Lets the host's handlers run and raises EUserCanceled when a cancel was asked for.
    void CheckForCancel();

    struct SavedSettings {
        TZipSortMode sortMode;
        bool keepZipOpen;
    };
    // The steps of a job: set-up (settings put aside for the job), writing the archive,
    // committing it (closed and put in place), and the end of a job that succeeded, that
    // failed, and of every job.
    SavedSettings startJob();
    void writeJob();
    void commitJob();
    void finishSucceededJob();
    void finishFailedJob();
    void endJob(const SavedSettings& saved);

    // The steps of adding one entry: the fields of a folder entry, or the file opened and
    // checked against the limits (false: left out); its name, the duplicate check and
    // OnStartZip (false: left out); the first local header; the data, taken again while an
    // encrypted file changes under the CRC pre-pass, and once more with the 64-bit block in the
    // local header when they reach 4 GiB without it; the local header patched with the final
    // CRC and sizes (returns the archive's size after the entry).
    void describeFolder(const std::string& path);
    bool openFile(const std::string& path);
    void describeFile(const std::string& path, const platform::FileStatus& status);
    bool nameEntry(const std::string& path, bool isFolder);
    void writeFirstHeader(bool isFolder, bool zip64);
    void packWithRetry(bool encrypt);
    void packEntry(bool encrypt);
    uint64_t patchHeader(bool encrypt);
    // Whether the file just packed is no longer as it was when opened (size, time) or gave fewer bytes.
    bool inputChanged() const;
    // An AES entry: salt and verifier, the data encrypted as they are written, the code.
    void packAes();
    // Writes bytes of the entry that the entry's cipher leaves alone.
    void writeRaw(const uint8_t* buffer, size_t count);
    // Reads the directory of ReuseFrom for the job (zipreuse.cpp).
    void openReuseSource();
    // The file (its first local header written) read once for its CRC and, when its entry of
    // ReuseFrom fits and holds its bytes, that entry's data copied; false: the file is to be packed,
    // read again from its start.
    bool takeEarlierEntry(bool encrypt);
    // What a full job writes for the file of header (of that size), as far as the data do not decide it.
    entryreuse::TWanted wantedFor(const TZipHeaderInfo& header, uint64_t size, bool encrypt, bool aes) const;
    // The entry of ReuseFrom that fits a file as opened (null: none); the workers call it at once.
    const TArchiveEntry* reusableFor(const std::string& file, const platform::FileStatus& status) const;
    // The entry a worker checked, copied when it still fits the entry after OnStartZip.
    bool takePackedEarlierEntry(const parallelpack::Packed& packed, bool encrypt);
    void copyEarlierEntry(const TArchiveEntry& entry, const entryreuse::TWanted& wanted, bool encrypt);
    // The progress events and yields of reading that many bytes of the current file.
    void reportReads(uint64_t bytes);

    enum class InputKind { Regular, Gone, Refused };
    // Gone: nothing of that path, or a folder; Refused: there but not to be opened. Both are reported.
    static InputKind examineInput(const std::string& path);
    bool openInput(const std::string& path, platform::FileStatus& status);
    void packFile();
    void storeFile();
    // The maximum level: the whole file read into memory, compressed, then written (or stored).
    void packMaximum();
    maxdeflate::Result compressMaximum(size_t size);
    uint32_t crcPrePass();
    // Raise EZipReadError naming the file being added: after a failed read of it, and when it
    // cannot be taken back to its start for a second read.
    void checkInputRead() const;
    void rewindInput();
    // Raises EZipLimit when the stored name of a path would be longer than a record holds.
    void checkNameLength(const std::string& path, const std::string& folder, const std::string& file) const;
    // Puts a record just written into both lists and the end record's counts; an added one
    // (not a copied one) is counted in the job's result and its source path may be disposed.
    void addRecord(std::unique_ptr<TZipHeaderInfo> record, const std::string& path, bool added);
    void openTemporaryOutput(const std::string& archive, const platform::FileStatus& existing);
    // Locks the archive ZipName names (existing: its status) and returns true, or returns false
    // when there is none. The file locked is the one the name leads to once the lock is held.
    bool lockExistingArchive(platform::FileStatus& existing);
    // Reads the directory and the status of the archive the job updates.
    void readExistingArchive();
    // Makes the new archive ZipName names and locks it; false when another job made it first.
    bool createNewArchive();
    void writeCentralDirectory();
    // Copies count bytes from the existing archive's current position to the output.
    void copyFromArchive(uint64_t count, const std::string& entryName);
    // The output position, counting the run of entries still waiting to be copied.
    int64_t outputPosition();
    // Copies the waiting run of entries.
    void flushRun();
    // Whether a file of that size the walk yields is the archive being updated, under its own name
    // or another path to the same file (a link, "./", "//"): the archive is never packed into itself.
    bool isArchive(const std::string& path, uint64_t size) const;
    // The stored name a file or folder specification would get (folder part and file name).
    std::string StoredNameOf(const std::string& spec) const;

    bool FStorePaths = false;
    bool FRelativePaths = false;
    bool FStoreVolumes = false;
    int FPackLevel = 6;

    // Job state.
    std::unique_ptr<TBufferedFileStream> FOutStream;
    std::string FOutFileName;  // the archive itself, or the temporary file in update mode
    bool FOutCreated = false;
    bool FDeleteMode = false;
    bool FUpdateMode = false;
    bool FDroppedEntries = false;  // damaged entries of the existing archive were left behind
    bool FArchiveKept = false;     // the update changed nothing: the old archive stays as it is
    bool FKernelCopy = true;  // entry copies go inside the kernel until the system refuses
    struct {
        uint64_t from = 0, to = 0;
    } FRun;  // adjacent entries of the existing archive that are copied as they are, in one piece
    std::string FArchivePath;  // the file ZipName leads to (links followed), which the update replaces
    platform::FileStatus FArchiveStatus;  // the existing archive as its directory was read
    platform::FileLock FArchiveLock;  // the archive's, or the new archive's, for the job
    platform::FileLock FOutputLock;   // the temporary archive's while the job writes it
    std::unique_ptr<TBufferedFileStream> FInStream;
    std::unique_ptr<TZipHeaderInfo> FZipHeader;
    std::unique_ptr<TSortedZipView> FNameList;  // a view of the records FPositionList owns
    std::unique_ptr<TSortedZip> FPositionList;
    TEndCentral FNewEndCentral;
    uint32_t FCrc = 0xFFFFFFFF;
    double FTotalBytes = 0;
    double FBytesDone = 0;
    uint64_t FFileBytesRead = 0;
    uint64_t FFileReadLimit = 0;
    platform::FileStatus FInputStatus;  // the file being added as it was opened
    uint64_t FBytesWritten = 0;
    int64_t FEntriesCount = 0;
    std::vector<std::string> FDisposeList;
    std::unique_ptr<uint8_t[]> FCopyBuffer;  // the stored copy's block, also the CRC pre-pass and entry copies
    std::unique_ptr<TDeflateBuffers> FDeflateBuffers;  // the compressor's work buffers, per job
    TDeflater FDeflater;  // the fixed code tables, computed once per writer
    std::shared_ptr<maxdeflate::Compressor> FMaxCompressor;  // the maximum level's buffers, per job
    // A maximum-level compression left to finish alone by a cancel; the next one waits for it.
    std::unique_ptr<maxdeflate::Task> FAbandonedTask;
    TTraditionalCipher FCipher;  // the keys of the entry being encrypted
    std::set<uint64_t> FAddedOffsets;  // where the entries this job added begin in the output
    aescipher::TAesCipher FAesCipher;  // the keys of the AES entry being encrypted
    std::unique_ptr<aescipher::TKeySupply> FKeySupply;  // the keys of the AES entries to come, per job
    bool FAesEntry = false;            // the entry being written is an AES entry
    std::unique_ptr<parallelpack::Pool> FPool;  // the workers of a job that has them
    size_t FParallelPeak = 0;
    std::shared_ptr<const entryreuse::TReuseIndex> FReuseIndex;  // ReuseFrom's directory, per job
    std::unique_ptr<entryreuse::TReuseReader> FReuseReader;      // and this thread's reading of it
    int64_t FEntriesReused = 0;
    int FJobLevel = 0;  // the level the job started with: the archive is marked with it
};
