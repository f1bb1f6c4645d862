// The archive writer: expands a list of file specifications and writes them into a new ZIP archive,
// or merges them with an existing one that it rewrites beside itself and puts in its place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "zip/aescipher.h"
#include "zip/bufferedstream.h"
#include "zip/deflate.h"
#include "zip/maxdeflate.h"
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

// The largest file and the largest archive the ZIP format holds without its 64-bit extensions
// (0xFFFFFFFF itself marks those extensions), and the most entries.
constexpr uint64_t kZipMaxFileSize = 0xFFFFFFFEull;
constexpr uint64_t kZipMaxArchiveSize = 0xFFFFFFFFull;
constexpr uint32_t kZipMaxEntries = 0xFFFF;

class TZipWriter : public TZipReader, private TDeflateHost {
public:
    using TOnRecursingFile = std::function<void(TZipReader* Sender, const std::string& FName)>;
    using TNoSuchFileEvent = std::function<void(TZipReader* Sender, const std::string& FName)>;
    using TStartZipInfo = std::function<void(TZipReader* Sender, int NumFiles, double TotalBytes,
                                             TEndCentral& EndCentralRecord, bool& StopNow)>;
    using TStartZipEvent =
        std::function<void(TZipReader* Sender, const std::string& FName, TZipHeaderInfo& ZipHeader, bool& Skip)>;
    using TSkippingFile = std::function<void(TZipReader* Sender, TSkipReason Reason, const std::string& FName,
                                             int FileIndex, bool& Retry)>;
    using TEncryptEvent =
        std::function<void(TZipReader* Sender, uint8_t* buffer, size_t length, const std::string& Password)>;
    using TEndZipFileEvent = std::function<void(TZipReader* Sender, const std::string& FName, uint32_t UncompressedSize,
                                                uint32_t CompressedSize, uint32_t CurrentZipSize)>;
    using TUpdateEvent = std::function<void(TZipReader* Sender, TUpdateAction UDAction, int FileIndex)>;
    using TDeleteEvent = std::function<void(TZipReader* Sender, const std::string& FName, bool& Skip)>;
    using TDisposeEvent = std::function<void(TZipReader* Sender, const std::string& FName, bool& Skip)>;
    using TZipComplete = std::function<void(TZipReader* Sender, int FileCount)>;

    TZipWriter();
    ~TZipWriter() override;

    // Runs a zip job and returns the number of entries added; fires OnZipComplete with it.
    // Errors propagate after the partial archive was removed.
    int Zip();
    // Runs a job that removes the selected entries of the in-memory directory (FilesList is then
    // ignored) or those matching FilesList; returns the number removed.
    int DeleteEntries();

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
    // Files up to this size are packed at the maximum level in memory; larger ones at level 9.
    uint64_t MaximumLevelLimit = maxdeflate::kBufferLimit;

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

private:
    // Reads up to count bytes of the current file (never past the size it had when opened);
    // 0 at its end. Reports progress and runs the bytes through the CRC register. A read error
    // raises EZipReadError naming the file.
    uint16_t file_read(uint8_t* buffer, uint16_t count) override;
    // Writes size * count bytes to the archive; raises ENotEnoughRoom on a short write and
    // EZipLimit when the archive would reach 4 GiB; then yields and checks for cancellation.
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
    // Creates a new empty file with a unique name starting with "FVZ" in folder; returns its path.
    std::string TempFileName(const std::string& folder) const;
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

    int ProcessFiles();
    // Carries the entries of the existing archive over into the output, as ZipAction or delete
    // mode decide, taking what they used up out of FilesList.
    void MergeExisting();
    // Copies an entry of the existing archive to the output; record takes its new place.
    void MoveFile(TZipHeaderInfo& record, uint64_t limit);
    // Puts the finished temporary archive in the place of the existing one.
    void MoveTempFile();
    void ExpandFilesList();
    std::unique_ptr<TZipHeaderInfo> CreateNewZipHeader() const;
    bool AddFileToZip(const std::string& entry);
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
    // encrypted file changes under the CRC pre-pass; the local header patched with the final
    // CRC and sizes (returns the archive's size after the entry).
    void describeFolder(const std::string& path);
    bool openFile(const std::string& path);
    bool nameEntry(const std::string& path, bool isFolder);
    void writeFirstHeader(const std::string& path, bool isFolder, bool encrypt);
    void packWithRetry(bool encrypt);
    // An AES entry: salt and verifier, the data encrypted as they are written, the code.
    void packAes();
    uint32_t patchHeader(bool encrypt);
    // Writes bytes of the entry that the entry's cipher leaves alone.
    void writeRaw(const uint8_t* buffer, size_t count);

    enum class InputKind { Regular, Gone, Refused };
    // Gone: nothing of that path, or a folder; Refused: there but not to be opened (reported).
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
    // Raises EZipLimit when count more bytes at the output position would take the archive past 4 GiB.
    void checkArchiveRoom(uint64_t count);
    void checkEntryLimits(const std::string& path, const TZipHeaderInfo& header, uint64_t dataBytes);
    // Puts a record just written into both lists and the end record's counts; an added one
    // (not a copied one) is counted in the job's result and its source path may be disposed.
    void addRecord(std::unique_ptr<TZipHeaderInfo> record, const std::string& path, bool added);
    void openTemporaryOutput(const std::string& archive, const platform::FileStatus& existing);
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
    bool FKernelCopy = true;  // entry copies go inside the kernel until the system refuses
    struct {
        uint64_t from = 0, to = 0;
    } FRun;  // adjacent entries of the existing archive that are copied as they are, in one piece
    std::string FArchivePath;  // the file ZipName leads to (links followed), which the update replaces
    platform::FileStatus FArchiveStatus;  // the existing archive as its directory was read
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
    uint64_t FBytesWritten = 0;
    uint64_t FCentralBytes = 0;  // central directory size of the entries so far
    int FEntriesCount = 0;
    std::vector<std::string> FDisposeList;
    std::unique_ptr<uint8_t[]> FCopyBuffer;  // the stored copy's block, also the CRC pre-pass and entry copies
    std::unique_ptr<TDeflateBuffers> FDeflateBuffers;  // the compressor's work buffers, per job
    TDeflater FDeflater;  // the fixed code tables, computed once per writer
    std::shared_ptr<maxdeflate::Compressor> FMaxCompressor;  // the maximum level's buffers, per job
    // A maximum-level compression left to finish alone by a cancel; the next one waits for it.
    std::unique_ptr<maxdeflate::Task> FAbandonedTask;
    TTraditionalCipher FCipher;  // the keys of the entry being encrypted
    aescipher::TAesCipher FAesCipher;  // the keys of the AES entry being encrypted
    std::unique_ptr<aescipher::TKeySupply> FKeySupply;  // the keys of the AES entries to come, per job
    bool FAesEntry = false;            // the entry being written is an AES entry
};
