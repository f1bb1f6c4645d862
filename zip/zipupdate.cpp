// The update path of TZipWriter: merging an existing archive's entries with the files of a job,
// copying entries, and putting the rewritten archive in the place of the old one.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/dostime.h"
#include "platform/filelock.h"
#include "platform/findfile.h"
#include "platform/wildcard.h"
#include "zip/zipdirectory.h"
#include "zip/ziperrors.h"
#include "zip/zipwriter.h"

namespace {

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool sameStatus(const platform::FileStatus& a, const platform::FileStatus& b) {
    return a.size == b.size && a.mtime == b.mtime && a.mtimeNsec == b.mtimeNsec;
}

}  // namespace

int64_t TZipWriter::DeleteEntries() {
    for (size_t i = 0; i < FZipContents->Count(); ++i)
        if (FZipContents->Items(i)->selected) {
            FilesList.clear();
            break;
        }
    FDeleteMode = true;
    try {
        const int64_t removed = ProcessFiles();
        FDeleteMode = false;
        return removed;
    } catch (...) {
        FDeleteMode = false;
        throw;
    }
}

uint32_t TZipWriter::FileDate(const std::string& path, uint64_t* size) {
    platform::FindRecord rec;
    std::string name = path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
    const bool found = platform::FindFile(name, rec);
    if (size) *size = found ? rec.size : 0;
    return GoodTimeStamp(found ? platform::DosDateTimeOfFile(rec.time) : platform::kInvalidDosDateTime);
}

void TZipWriter::MergeExisting() {
    // The first FilesList entry of each stored name, and in delete mode the wildcard patterns
    // (with their index, converted as names are).
    std::unordered_map<std::string, size_t> exact;
    std::vector<std::pair<size_t, std::string>> patterns;
    for (size_t j = 0; j < FilesList.size(); ++j) {
        if (FDeleteMode && IsWildCard(FilesList[j]))
            patterns.emplace_back(j, OEMConvert ? platform::OemFilter(FilesList[j]) : FilesList[j]);
        else if (FDeleteMode && HasParentPart(FilesList[j]))  // names an entry leading outside, as it is stored
            exact.emplace(OEMConvert ? platform::OemFilter(FilesList[j]) : FilesList[j], j);
        else exact.emplace(StoredNameOf(FilesList[j]), j);
    }
    std::vector<bool> used(FilesList.size(), false), hit(FilesList.size(), false);
    auto firstMatch = [&](const TZipHeaderInfo& entry, const std::string& name) {
        size_t best = std::string::npos;
        if (auto it = exact.find(name); it != exact.end() && !used[it->second]) best = it->second;
        for (const auto& [j, pattern] : patterns) {
            if (j >= best) break;
            if (IsMatch(pattern, pattern.find('/') != std::string::npos ? name : entry.filename())) return j;
        }
        return best;
    };
    auto removed = [&](const std::string& name) {
        bool skip = false;
        if (OnDeleteEntry) OnDeleteEntry(this, name, skip);
        if (!skip) ++FEntriesCount;
        return !skip;
    };

    const size_t count = FZipContents->Count();
    for (size_t i = 0; i < count; ++i) {
        TZipHeaderInfo& entry = *FZipContents->Items(i);
        const uint64_t limit = i + 1 < count ? FZipContents->Items(i + 1)->local_header_offset : FEndCentral.central_offset;
        if (entry.integrity_status == kIntegrityBad) {
            FDroppedEntries = true;
            continue;
        }
        const std::string name = entry.directory() + entry.filename();
        bool matched = false;
        uint64_t fileSize = 0;
        if (FDeleteMode && entry.selected) {
            entry.selected = 0;
            if (removed(name)) continue;
        } else if (size_t j = firstMatch(entry, name); j != std::string::npos) {
            matched = true;
            hit[j] = true;
            const std::string spec = FilesList[j];
            if (FDeleteMode) {
                // A wildcard pattern goes on matching further entries, also after a Skip.
                if (!IsWildCard(spec)) used[j] = true;
                if (removed(name)) continue;
            } else if (ZipAction != TZipAction::zaReplace && entry.last_mod_datetime != platform::kInvalidDosDateTime &&
                       GoodTimeStamp(entry.last_mod_datetime) >= FileDate(spec, &fileSize)) {
                // The entry is at least as new as the file (one with the invalid stamp never is): it
                // stays, and the file is done.
                used[j] = true;
                FTotalBytes -= static_cast<double>(fileSize);
                if (Dispose) FDisposeList.push_back(spec);
            } else {
                used[j] = true;
                if (OnUpdate) OnUpdate(this, TUpdateAction::uaReplacing, static_cast<int>(i));
                flushRun();
                FZipHeader = CreateNewZipHeader();
                if (AddFileToZip(spec)) {
                    addRecord(std::move(FZipHeader), spec, true);
                    continue;
                }
                // Nothing could be added in its place (the file is gone, cannot be opened, or was
                // skipped): the existing entry stays rather than being lost.
                FZipHeader.reset();
            }
        }
        if (FDeleteMode && HasParentPart(name))
            throw EIncompleteZip("the entry \"" + name + "\" has a name with a \"..\" part, which only removing it mends");
        if (matched && OnUpdate) OnUpdate(this, TUpdateAction::uaKeeping, static_cast<int>(i));
        auto copy = std::make_unique<TZipHeaderInfo>(entry);
        copy->selected = 0;
        copy->written_extra.clear();  // its extra fields are copied from the old archive
        MoveFile(*copy, limit);
        addRecord(std::move(copy), std::string(), false);
    }

    flushRun();
    if (FDeleteMode && OnNothingMatched)
        for (size_t j = 0; j < FilesList.size(); ++j)
            if (!hit[j]) OnNothingMatched(this, FilesList[j]);
    std::vector<std::string> left;
    for (size_t j = 0; j < FilesList.size(); ++j)
        if (!used[j]) left.push_back(std::move(FilesList[j]));
    FilesList = std::move(left);
}

void TZipWriter::MoveFile(TZipHeaderInfo& record, uint64_t limit) {
    const std::string& name = record.StoredName();
    uint8_t local[TZipHeaderInfo::LocalFixedSize];
    TZipHeaderInfo stored;  // the fields of the old local header
    const int64_t at = static_cast<int64_t>(record.local_header_offset);
    if (FZipStream->Seek(at, TSeekOrigin::soBeginning) != at || FZipStream->Read(local, sizeof local) != sizeof local ||
        !stored.LoadLocalFromBuffer(local))
        throw EIncompleteZip("the local header of \"" + name + "\" is missing");
    const uint16_t nameLength = stored.filename_length, extraLength = stored.local_extra_length;
    const uint64_t dataEnd = static_cast<uint64_t>(at) + stored.GetLocalSize() + record.compressed_size;
    if (dataEnd < record.compressed_size) throw EIncompleteZip("the data of \"" + name + "\" run past the archive");
    // The old header's name and extra field: the header is compared with a new one by its name.
    std::string old(TZipHeaderInfo::LocalFixedSize + nameLength + extraLength, '\0');
    std::copy(local, local + sizeof local, old.begin());
    if (FZipStream->Read(old.data() + sizeof local, nameLength + extraLength) != size_t{nameLength} + extraLength)
        throw EIncompleteZip("the local header of \"" + name + "\" is cut short");
    const bool localZip64 =
        FindExtraBlock(std::string_view(old).substr(TZipHeaderInfo::LocalFixedSize + nameLength), kZip64ExtraId).has_value();
    old.resize(TZipHeaderInfo::LocalFixedSize + nameLength);

    // The old extra field is copied as it is, 64-bit block and all: no block of the record's own.
    record.local_zip64 = false;
    TZipHeaderInfo header = record;
    uint64_t descriptor = 0;
    if (record.GetHasDescriptor()) {
        // The data descriptor after the data (with or without its signature, with 32- or 64-bit
        // sizes) comes along.
        uint8_t d[4 + kDataDescriptor64Size];
        const size_t readable = static_cast<size_t>(std::min<uint64_t>(sizeof d, limit > dataEnd ? limit - dataEnd : 0));
        if (readable < kDataDescriptorSize ||
            FZipStream->Seek(static_cast<int64_t>(dataEnd), TSeekOrigin::soBeginning) != static_cast<int64_t>(dataEnd) ||
            FZipStream->Read(d, readable) != readable)
            throw EIncompleteZip("the data descriptor of \"" + name + "\" is missing");
        descriptor = record.DataDescriptorSize(d, readable, localZip64);
        if (descriptor == 0) throw EIncompleteZip("the data descriptor of \"" + name + "\" does not match its entry");
    }
    if (record.GetHasDescriptor() || localZip64) {
        // The local header keeps the values it had, as a reader of such an entry expects them:
        // those a descriptor follows, or the marks of sizes held in its 64-bit block.
        header.crc32 = stored.crc32;
        header.compressed_size = stored.compressed_size;
        header.uncompressed_size = stored.uncompressed_size;
    }
    if (dataEnd + descriptor > limit) throw EIncompleteZip("the data of \"" + name + "\" run into what follows them");

    record.local_extra_length = header.local_extra_length = extraLength;
    // A local header that comes out as it was lets the entry join the run of entries copied as
    // they are; any other gets its new header and its bytes are copied after it.
    TMemoryStream fresh;
    header.SaveLocalToStream(fresh, true);
    const uint64_t newOffset = static_cast<uint64_t>(outputPosition());
    if (old.size() == fresh.Data().size() && std::memcmp(old.data(), fresh.Data().data(), old.size()) == 0) {
        if (FRun.to != static_cast<uint64_t>(at)) {
            flushRun();
            FRun.from = static_cast<uint64_t>(at);
        }
        FRun.to = dataEnd + descriptor;
        record.local_header_offset = newOffset;
        return;
    }
    flushRun();
    header.SaveLocalToStream(*FOutStream, true);
    record.local_header_offset = header.local_header_offset;
    const int64_t from = at + static_cast<int64_t>(TZipHeaderInfo::LocalFixedSize) + nameLength;
    if (FZipStream->Seek(from, TSeekOrigin::soBeginning) != from)
        throw EIncompleteZip("the data of \"" + name + "\" cannot be reached");
    copyFromArchive(extraLength + record.compressed_size + descriptor, name);
}

int64_t TZipWriter::outputPosition() { return FOutStream->Position() + static_cast<int64_t>(FRun.to - FRun.from); }

void TZipWriter::flushRun() {
    if (FRun.to > FRun.from) {
        const int64_t from = static_cast<int64_t>(FRun.from);
        if (FZipStream->Seek(from, TSeekOrigin::soBeginning) != from)
            throw EIncompleteZip("the entries at " + std::to_string(from) + " cannot be reached");
        copyFromArchive(FRun.to - FRun.from, "the entries at " + std::to_string(from));
    }
    FRun = {};
}

void TZipWriter::copyFromArchive(uint64_t count, const std::string& entryName) {
    uint8_t* buffer = FCopyBuffer.get();
    while (count > 0) {
        // Inside the kernel where the system can, a megabyte a step; else through the buffer.
        size_t n = static_cast<size_t>(std::min<uint64_t>(count, FKernelCopy ? kKernelCopyChunk : kCopyChunk));
        size_t done = FKernelCopy ? FOutStream->CopyFrom(*FZipStream, n) : 0;
        if (done == 0) {
            if (FOutStream->LastError()) throw ENotEnoughRoom();
            FKernelCopy = false;
            n = std::min<size_t>(n, kCopyChunk);
            if (FZipStream->Read(buffer, n) != n) throw EIncompleteZip("the archive ends inside \"" + entryName + "\"");
            if (FOutStream->Write(buffer, n) != n) throw ENotEnoughRoom();
            done = n;
        }
        count -= done;
        CheckForCancel();
    }
}

std::string TZipWriter::TemporaryPath() const {
    if (!TempPath.empty() && platform::DirectoryExists(TempPath))
        return TempPath.back() == '/' ? TempPath : TempPath + "/";
    return platform::TemporaryFolder();
}

std::string TZipWriter::TempFileName(const std::string& folder) const {
    // Each writer in a folder clears what writers killed while writing left there.
    platform::RemoveStaleTemporaries(folder, kTempStem);
    return platform::CreateTemporaryFile(folder, platform::TemporaryPrefix(kTempStem));
}

void TZipWriter::openTemporaryOutput(const std::string& archive, const platform::FileStatus& existing) {
    // The rewritten archive is made beside the old one, so that one rename puts it in place; the
    // archive a link leads to is the one replaced, not the link.
    FArchivePath = archive;
#ifdef _WIN32
    // Windows replaces no read-only file: refuse before the work rather than after it.
    if (!(existing.mode & 0200)) throw EZipError("The archive \"" + ZipName() + "\" is read-only; it was left as it is");
#endif
    platform::FileStatus link;
    if (platform::fileSystem().lstat(archive, link) == 0 && link.kind == platform::FileKind::Symlink) {
        std::error_code ec;
        std::filesystem::path target = std::filesystem::canonical(archive, ec);
        if (!ec) FArchivePath = target.string();
    }
    try {
        FOutFileName = TempFileName(folderOf(FArchivePath));
    } catch (const platform::EFileError&) {
        FOutFileName = TempFileName(TemporaryPath());  // the archive's folder takes no new file
    }
    FOutCreated = true;
    FOutStream = std::make_unique<TBufferedFileStream>(FOutFileName, TFileMode::fmCreate);
    FOutputLock.Acquire(FOutFileName, false);  // tells later writers it is not left over
    FOutStream->SetPermissions(existing.mode);  // the new archive keeps the old one's permissions
}

void TZipWriter::MoveTempFile() {
    FZipStream.reset();
    // The archive must still be the one whose entries were carried over: another program's
    // change to it would otherwise be lost.
    platform::FileStatus now;
    if (platform::fileSystem().stat(FArchivePath, now) != 0 || !sameStatus(now, FArchiveStatus))
        throw EZipError("The archive \"" + ZipName() +
                        "\" was changed by another program while it was rewritten; it was left as it is");
    try {
        FileCopy(FOutFileName, FArchivePath);
    } catch (...) {
        FOutCreated = false;  // the temporary file now holds the only copy of the new archive
        throw;
    }
    FOutCreated = false;
}

bool TZipWriter::DoRenameCopy(const std::string& source, const std::string& destination, int& error) {
    error = platform::fileSystem().rename(source, destination);
    return error == 0;
}

void TZipWriter::FileCopy(const std::string& source, const std::string& destination) {
    int error = 0;
    if (DoRenameCopy(source, destination, error)) {
        platform::SyncFolderOf(destination);
        return;
    }
    std::string reason = platform::errorText(error);
    if (error == -EXDEV) {
        // Another file system: the bytes go into a new file beside the destination first, which
        // then takes its place in one step.
        std::string beside;
        try {
            beside = TempFileName(folderOf(destination));
            TBufferedFileStream in(source, TFileMode::fmOpenRead);
            TBufferedFileStream out(beside, TFileMode::fmCreate);
            platform::FileStatus status;
            if (!in.Status(status)) throw EZipError(platform::errorText(in.LastError()));
            out.SetPermissions(status.mode);
            std::vector<uint8_t> buffer(kCopyChunk);
            uint64_t copied = 0;
            for (size_t n; (n = in.Read(buffer.data(), buffer.size())) > 0; copied += n)
                if (out.Write(buffer.data(), n) != n) throw ENotEnoughRoom();
            if (in.LastError()) throw EZipError(platform::errorText(in.LastError()));
            if (copied == 0 || copied != status.size) throw EZipError("not every byte could be copied.");
            if (!out.Close(true)) throw ENotEnoughRoom();
            if (!DoRenameCopy(beside, destination, error)) throw EZipError(platform::errorText(error));
            platform::SyncFolderOf(destination);
            platform::DeleteFile(source);
            return;
        } catch (const std::exception& e) {
            reason = e.what();
            if (!beside.empty()) platform::DeleteFile(beside);
        }
    }
    throw EZipError("Could not copy from " + source + " -> " + destination + ": " + reason + ". The archive \"" +
                    destination + "\" is unchanged; the new archive is \"" + source + "\"");
}
