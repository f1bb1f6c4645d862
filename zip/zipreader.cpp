#include "zip/zipreader.h"

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
    FZipDate = 0;
    FZipStream.reset();
}
