// The archive writer: expands a list of file specifications and writes them into a new ZIP archive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "zip/bufferedstream.h"
#include "zip/sortedzip.h"
#include "zip/zipreader.h"
#include "zip/ziprecords.h"

enum class TZipAction { zaUpdate, zaReplace, zaFreshen };
enum class TSkipReason { srBadPassword, srNoOverwrite, srFileOpenError, srCreateError };
enum class TUpdateAction { uaReplacing, uaKeeping };
enum class TMultiMode { mmNone, mmSpan, mmBlocks };

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

class TZipWriter : public TZipReader {
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

    // Properties with couplings.
    bool StorePaths() const { return FStorePaths; }
    void SetStorePaths(bool value);  // false also clears RelativePaths and StoreVolumes
    bool RelativePaths() const { return FRelativePaths; }
    void SetRelativePaths(bool value);  // true also sets StorePaths and Recurse
    bool StoreVolumes() const { return FStoreVolumes; }
    void SetStoreVolumes(bool value);  // true also sets StorePaths
    int PackLevel() const { return FPackLevel; }
    void SetPackLevel(int value);  // clamped into 0..9

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

    TOnRecursingFile OnRecursingFile;
    TNoSuchFileEvent OnNoSuchFile;
    TStartZipInfo OnStartZipInfo;
    TStartZipEvent OnStartZip;
    TSkippingFile OnSkippingFile;
    TEncryptEvent OnEncrypt;
    TEndZipFileEvent OnEndZip;
    TUpdateEvent OnUpdate;
    TDeleteEvent OnDeleteEntry;
    TDisposeEvent OnDisposeFile;
    TZipComplete OnZipComplete;

    // Reads up to count bytes of the current file (never past the size it had when opened);
    // 0 at its end. Reports progress and runs the bytes through the CRC register. A read error
    // raises EZipReadError naming the file.
    uint16_t file_read(uint8_t* buffer, uint16_t count);
    // Writes size * count bytes to the archive; raises ENotEnoughRoom on a short write and
    // EZipLimit when the archive would reach 4 GiB; then yields and checks for cancellation.
    size_t zfwrite(uint8_t* buffer, size_t size, size_t count);

    bool IsInExcludeList(const std::string& path) const;
    bool IsInNoCompressList(const std::string& fileName) const;

    // The entry record of the file being added.
    TZipHeaderInfo& CurrentHeader() { return *FZipHeader; }

protected:
    int ProcessFiles();
    void ExpandFilesList();
    std::unique_ptr<TZipHeaderInfo> CreateNewZipHeader() const;
    bool AddFileToZip(const std::string& entry);
    // The folder part of the stored name of a path (with "/" at its end when not empty).
    std::string StoredFolderPart(const std::string& path) const;
    // Lets the host's handlers run and raises EUserCanceled when a cancel was asked for.
    void CheckForCancel();

private:
    bool openInput(const std::string& path, platform::FileStatus& status);
    void storeFile();
    void checkEntryLimits(const std::string& path, const TZipHeaderInfo& header) const;
    void finishFailedJob();

    bool FStorePaths = false;
    bool FRelativePaths = false;
    bool FStoreVolumes = false;
    int FPackLevel = 6;

    // Job state.
    std::unique_ptr<TBufferedFileStream> FOutStream;
    bool FOutCreated = false;
    std::unique_ptr<TBufferedFileStream> FInStream;
    std::string FInFileName;
    std::unique_ptr<TZipHeaderInfo> FZipHeader;
    std::unique_ptr<TSortedZip> FNameList;
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
    std::unique_ptr<uint8_t[]> FCopyBuffer;  // the stored copy's block
};
