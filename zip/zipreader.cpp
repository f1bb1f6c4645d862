#include "zip/zipreader.h"

#include "zip/zipdirectory.h"
#include "zip/ziperrors.h"

TZipReader::TZipReader() : FZipContents(std::make_unique<TSortedZip>(TZipSortMode::ByNone, true)) {}

TZipReader::~TZipReader() = default;

void TZipReader::SetZipName(const std::string& name) {
    // Linux names are case-sensitive: only the very same text keeps the directory.
    if (name == FZipName) return;
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
}

void TZipReader::OpenZip() {
    FZipStream.reset();
    FZipStream = std::make_unique<TBufferedFileStream>(FZipName, TFileMode::fmOpenRead);
    platform::FileStatus status;
    if (!FZipStream->Status(status)) throw EIncompleteZip("the status of the archive cannot be read");
    if (status.kind != platform::FileKind::Regular)
        throw EZipError("\"" + FZipName + "\" is not a regular file and cannot be rewritten as an archive");
    if (FHaveDirectory && status.mtime == FZipDate && status.mtimeNsec == FZipDateNsec && status.size == FZipSize)
        return;
    FHaveDirectory = false;
    try {
        ReadZipDirectory(*FZipStream, OEMConvert, *FZipContents, FEndCentral);
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
}

void TZipReader::Init_Keys(const std::string& password) {
    FKeys[0] = 0x12345678;
    FKeys[1] = 0x23456789;
    FKeys[2] = 0x34567890;
    for (char c : password) update_keys(static_cast<uint8_t>(c));
}

void TZipReader::update_keys(uint8_t c) {
    FKeys[0] = UpdCRC(c, FKeys[0]);
    FKeys[1] = (FKeys[1] + (FKeys[0] & 0xFF)) * 134775813u + 1;
    FKeys[2] = UpdCRC(static_cast<uint8_t>(FKeys[1] >> 24), FKeys[2]);
}

uint8_t TZipReader::decrypt_byte() const {
    uint32_t t = (FKeys[2] & 0xFFFF) | 2;
    return static_cast<uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8);
}
