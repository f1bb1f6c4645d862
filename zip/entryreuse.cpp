#include "zip/entryreuse.h"

#include <cerrno>

#include "zip/aescipher.h"
#include "zip/deflate.h"
#include "zip/maxdeflate.h"
#include "zip/ziperrors.h"
#include "zip/ziprecords.h"

namespace entryreuse {

namespace {

// Names the compressor whose output the mark vouches for: raised when its bytes change.
constexpr const char* kCompressorGeneration = "deflate-1";

// The option bits a full run at that level sets on a deflated entry (the maximum level sets 9's).
uint16_t levelFlags(int level) { return level >= maxdeflate::kLevel ? kFlagDeflateMaximum : DeflateFlagBits(level); }

}  // namespace

std::string LevelMark(int level, uint64_t maximumLevelLimit, const platform::FileStatus& archive) {
    std::string mark = kCompressorGeneration;
    mark.append(" level=").append(std::to_string(level));
    if (level == maxdeflate::kLevel) mark.append("/").append(std::to_string(maximumLevelLimit));
    mark.append(" size=").append(std::to_string(archive.size));
    mark.append(" mtime=").append(std::to_string(archive.mtime)).append(".").append(std::to_string(archive.mtimeNsec));
    return mark;
}

bool MarkArchive(const std::string& path, int level, uint64_t maximumLevelLimit) {
    platform::FileSystem& files = platform::fileSystem();
    platform::FileStatus status;
    if (files.stat(path, status) != 0) return false;
    return files.setMark(path, kLevelMarkName, LevelMark(level, maximumLevelLimit, status)) == 0;
}

TReuseIndex::TReuseIndex(const std::string& path, int level, uint64_t maximumLevelLimit)
    : path_(path), level_(level), stream_(std::make_unique<TBufferedFileStream>(path, TFileMode::fmOpenRead)) {
    if (!stream_->Status(status_)) throw EIncompleteZip("the status of the archive cannot be read");
    directory_ = std::make_unique<TArchiveReader>(*stream_);
    std::string mark;
    levelKnown_ = platform::fileSystem().getMark(path, kLevelMarkName, mark) == 0 &&
                  mark == LevelMark(level, maximumLevelLimit, status_);
    const auto& entries = directory_->Entries();
    byName_.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) byName_.emplace(entries[i].storedName, i);
}

const TArchiveEntry* TReuseIndex::Find(std::string_view storedName) const {
    const auto it = byName_.find(storedName);
    return it == byName_.end() ? nullptr : &directory_->Entries()[it->second];
}

bool TReuseIndex::Fits(const TArchiveEntry& entry, const TWanted& wanted) const {
    if (entry.IsFolder() || entry.uncompressedSize != wanted.size || entry.dosDateTime != wanted.dosDateTime) return false;
    if (entry.flags & kFlagDataDescriptor) return false;  // a full run writes none
    switch (wanted.cipher) {
    case TCipher::None:
        if (entry.IsEncrypted()) return false;
        break;
    case TCipher::Traditional:
        if (!(entry.flags & kFlagEncrypted) || entry.IsAes()) return false;
        break;
    case TCipher::Aes256:
        if (!entry.IsAes() || !(entry.flags & kFlagEncrypted) || entry.aesVersion != aescipher::kVendorVersionAe2 ||
            entry.aesStrength != aescipher::kStrength256)
            return false;
        break;
    }
    const uint16_t flags = static_cast<uint16_t>(wanted.flags | (wanted.cipher == TCipher::None ? 0 : kFlagEncrypted));
    // Stored data are the file's bytes whatever level wrote them; the headers are the full run's.
    if (wanted.store)
        return entry.DataMethod() == kMethodStored && (entry.flags & ~kFlagDeflateOptions) == flags;
    // Deflated data are the full run's only when the same compressor wrote them at the same level.
    if (!levelKnown_ || level_ == 0) return false;
    const uint16_t bits = levelFlags(level_);
    if (entry.flags != (flags | bits) || entry.internalAttributes > kInternalText) return false;
    // The compressor stores an entry that does not shrink, keeping the level's bits; at levels 3
    // to 7, which have none, such an entry cannot be told from one of the no-compress list.
    return entry.DataMethod() == kMethodDeflated || (entry.DataMethod() == kMethodStored && bits != 0);
}

TTaken TReuseIndex::Take(const TArchiveEntry& entry, const TWanted& wanted) const {
    if (wanted.store) return {0, kMethodStored, kInternalBinary};
    return {static_cast<uint16_t>(entry.flags & kFlagDeflateOptions), entry.DataMethod(), entry.internalAttributes};
}

TReuseReader::TReuseReader(const TReuseIndex& index)
    : stream_(index.Path(), TFileMode::fmOpenRead), reader_(stream_, index.Directory()) {
    platform::FileStatus now;
    const platform::FileStatus& then = index.Status();
    if (!stream_.Status(now) || now.device != then.device || now.inode != then.inode || now.size != then.size ||
        now.mtime != then.mtime || now.mtimeNsec != then.mtimeNsec)
        throw EZipError("The archive \"" + index.Path() + "\" changed after its directory was read");
    reader_.OnChunk = [this](uint64_t) {
        if (OnChunk) OnChunk();
    };
}

TVerdict TReuseReader::Check(const TArchiveEntry& entry, std::string_view password, uint32_t crc, std::string& detail) {
    // The reader checks the stored CRC, which the caller found equal to the file's; an AES entry
    // stores none, so its data's CRC is taken here.
    if (!entry.IsAes() && entry.crc32 != crc) {
        detail = "its CRC is not the file's";
        return TVerdict::Damaged;
    }
    uint32_t got = ~crc;
    try {
        if (entry.IsAes()) {
            got = 0xFFFFFFFF;
            reader_.Extract(entry, password,
                            [&](const uint8_t* data, size_t length) { got = Update_CRC_buff(got, data, length); });
        } else {
            reader_.Test(entry, password);
        }
    } catch (const EArchiveFault& e) {
        detail = e.Detail();
        return e.Fault() == TEntryFault::Password || e.Fault() == TEntryFault::NoPassword ? TVerdict::OtherPassword
                                                                                            : TVerdict::Damaged;
    }
    if (~got == crc) return TVerdict::Holds;
    detail = "its data are not the file's bytes";
    return TVerdict::Damaged;
}

TBufferedFileStream& TReuseReader::SeekData(const TArchiveEntry& entry) {
    const auto at = static_cast<int64_t>(reader_.DataOffset(entry));
    if (stream_.Seek(at, TSeekOrigin::soBeginning) != at)
        throw EArchiveFault(entry.name, TEntryFault::Truncated, "its data cannot be read");
    return stream_;
}

}  // namespace entryreuse
