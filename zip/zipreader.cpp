#include "zip/zipreader.h"

#include "platform/filenamecase.h"
#include "zip/zipdirectory.h"
#include "zip/ziperrors.h"

TZipReader::TZipReader() : FZipContents(std::make_unique<TSortedZip>(TZipSortMode::ByNone)) {}

TZipReader::~TZipReader() = default;

void TZipReader::SetZipName(const std::string& name) {
    // The same name as the system compares names (exactly on Linux) keeps the directory.
    if (platform::SameFileName(name, FZipName)) return;
    FZipName = name;
    ClearDirectory();
}

void TZipReader::SetRootDir(const std::string& value) {
    FRootDir = value;
    if (!FRootDir.empty() && FRootDir.back() != '/') FRootDir += '/';
}

void TZipReader::SetSortMode(TZipSortMode mode) {
    FSortMode = mode;
    FZipContents->Sort(mode);
}

void TZipReader::ClearDirectory() {
    FZipContents->Clear();
    FEndCentral.Clear();
    FZipDate = FZipDateNsec = 0;
    FZipSize = 0;
    FHaveDirectory = false;
    FZipStream.reset();
}

void TZipReader::RememberZipStatus(const platform::FileStatus& status) {
    FZipDate = status.mtime;
    FZipDateNsec = status.mtimeNsec;
    FZipSize = status.size;
    FHaveDirectory = true;
    FParentParts = false;
}

void TZipReader::OpenZip(bool allowParentParts) {
    FZipStream.reset();
    FZipStream = std::make_unique<TBufferedFileStream>(FZipName, TFileMode::fmOpenRead);
    platform::FileStatus status;
    if (!FZipStream->Status(status)) throw EIncompleteZip("the status of the archive cannot be read");
    if (status.kind != platform::FileKind::Regular)
        throw EZipError("\"" + FZipName + "\" is not a regular file and cannot be rewritten as an archive");
    if (FHaveDirectory && status.mtime == FZipDate && status.mtimeNsec == FZipDateNsec && status.size == FZipSize &&
        (allowParentParts || !FParentParts))
        return;
    FHaveDirectory = false;
    try {
        ReadZipDirectory(*FZipStream, OEMConvert, *FZipContents, FEndCentral, allowParentParts);
    } catch (const EListError& e) {
        FZipContents->Clear();
        FEndCentral.Clear();
        throw EListError(std::string(e.what()) + " in the archive \"" + FZipName + "\"");
    } catch (...) {
        FZipContents->Clear();
        FEndCentral.Clear();
        throw;
    }
    RememberZipStatus(status);
    for (size_t i = 0; allowParentParts && i < FZipContents->Count() && !FParentParts; ++i)
        FParentParts = HasParentPart(FZipContents->Items(i)->StoredName());
}
