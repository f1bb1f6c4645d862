// The reader base of the archive writer: archive name, file list, root folder, password, cancel
// flag, progress events and the in-memory directory of the archive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/bufferedstream.h"
#include "zip/sortedzip.h"
#include "zip/ziprecords.h"

class TZipReader {
public:
    using TFilePercentDone = std::function<void(TZipReader* Sender, int Percent)>;
    using TTotalPercentDone = std::function<void(TZipReader* Sender, int Percent)>;

    TZipReader();
    virtual ~TZipReader();
    TZipReader(const TZipReader&) = delete;
    TZipReader& operator=(const TZipReader&) = delete;

    // Full path of the archive. Another name (compared as the system compares file names:
    // exactly on Linux, ignoring case on Windows) drops the in-memory directory,
    // the remembered end record and any open archive stream; the same name keeps them.
    const std::string& ZipName() const { return FZipName; }
    virtual void SetZipName(const std::string& name);
    // Folder from which relative paths are taken; a non-empty value always ends with "/".
    const std::string& RootDir() const { return FRootDir; }
    void SetRootDir(const std::string& value);
    // The order in which the in-memory directory is presented.
    TZipSortMode SortMode() const { return FSortMode; }
    void SetSortMode(TZipSortMode mode);

    std::vector<std::string> FilesList;  // file specifications of the next job; emptied by every job
    std::string Password;                // non-empty: file entries are encrypted
    bool OEMConvert = true;              // names go through the OEM code page
    bool KeepZipOpen = false;

    // The host's process-messages step, run where a job lets the host's handlers run.
    std::function<void()> ProcessMessages;

    TFilePercentDone OnFilePercentDone;
    TTotalPercentDone OnTotalPercentDone;

    // Asks the running job to stop at its next yield.
    void CancelTheOperation() { FCancel = true; }

    // The in-memory directory of the archive (after a job: the entries just written).
    TSortedZip& ZipContents() { return *FZipContents; }
    const TEndCentral& EndCentral() const { return FEndCentral; }
    // Last-write time of the archive when its directory was made (seconds since the epoch).
    int64_t ZipDate() const { return FZipDate; }

    // Opens the archive ZipName read-only (anew, so that a file put in its place is seen) and
    // reads its directory, unless the in-memory directory was made from the file as it is now
    // (same last-write time and size). Raises EIncompleteZip and the other errors of
    // ReadZipDirectory for an archive it cannot read, the platform's file error when it cannot
    // be opened; the in-memory directory is then empty. With allowParentParts, entries named with
    // a ".." part are read too (for a job that removes them); without it such a directory is refused.
    void OpenZip(bool allowParentParts = false);

protected:
    // Drops the in-memory directory, the end record and the open archive stream.
    void ClearDirectory();
    // Remembers the archive's status as the one its in-memory directory was made from.
    void RememberZipStatus(const platform::FileStatus& status);

    std::string FZipName;
    std::string FRootDir;
    TZipSortMode FSortMode = TZipSortMode::ByNone;
    bool FCancel = false;
    std::unique_ptr<TSortedZip> FZipContents;
    TEndCentral FEndCentral;
    int64_t FZipDate = 0;
    int64_t FZipDateNsec = 0;
    uint64_t FZipSize = 0;
    bool FHaveDirectory = false;  // the in-memory directory belongs to the file ZipName
    bool FParentParts = false;    // and holds names with a ".." part
    std::unique_ptr<TBufferedFileStream> FZipStream;  // the existing archive while it is open
};
