// The entries of an earlier archive that a new archive can take over as they are: an index of its
// directory by stored name, the match of an entry against what a full run writes for a file, and
// the check of an entry's data before its bytes are copied.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/filesystem.h"
#include "zip/archivereader.h"
#include "zip/bufferedstream.h"

namespace entryreuse {

// The mark on an archive file that names the level every entry of it was written at. The level
// is in no entry (the flag bits tell only 1-2, 3-7 and 8-10), and the same bytes packed at
// another level give other data.
constexpr const char* kLevelMarkName = "user.folvio.level";

// The mark's text for an archive written at that level (at level 10 with the limit above which
// files are packed at level 9) whose file now has that status: a mark left on a file that was
// changed later no longer fits it.
std::string LevelMark(int level, uint64_t maximumLevelLimit, const platform::FileStatus& archive);
// Marks the archive file at path as written at that level; best effort (false when the file
// system keeps no marks).
bool MarkArchive(const std::string& path, int level, uint64_t maximumLevelLimit);

enum class TCipher { None, Traditional, Aes256 };

// What a full run writes for a file, as far as it is known before the file's data are read.
struct TWanted {
    uint64_t size = 0;
    uint32_t dosDateTime = 0;
    uint16_t flags = 0;   // the flag bits of the name (bit 11), before those of the level and the cipher
    bool store = false;   // the file is stored as it is (level 0, or its name is of the no-compress list)
    TCipher cipher = TCipher::None;
};

// The fields of a full run's entry that its compressor decides, as a fitting entry has them.
struct TTaken {
    uint16_t levelFlags = 0;  // the Deflate option bits (1 and 2)
    uint16_t method = 0;      // of the data, under any encryption
    uint16_t internalAttributes = 0;
};

// The directory of an earlier archive, read once; immutable afterwards, so that any number of
// threads may use it at once (each with a TReuseReader of its own for the data).
class TReuseIndex {
public:
    // Reads the directory of the archive at path for a run at level (0..10) and maximumLevelLimit.
    // Raises platform::EFileError when it cannot be opened, EIncompleteZip when it cannot be read.
    TReuseIndex(const std::string& path, int level, uint64_t maximumLevelLimit);

    const std::string& Path() const { return path_; }
    const platform::FileStatus& Status() const { return status_; }
    const TArchiveReader& Directory() const { return *directory_; }
    // The archive's mark says it was written whole at the run's level: deflated entries can be
    // taken; without it only stored ones, whose data do not depend on a level.
    bool LevelKnown() const { return levelKnown_; }

    // The first entry of that stored name; nullptr when there is none.
    const TArchiveEntry* Find(std::string_view storedName) const;
    // Whether the entry is what a full run writes for the file, apart from the CRC, which only the
    // file's data give (and which an AES entry does not store).
    bool Fits(const TArchiveEntry& entry, const TWanted& wanted) const;
    // The compressor's fields of the full run's entry, for an entry that fits.
    TTaken Take(const TArchiveEntry& entry, const TWanted& wanted) const;

private:
    std::string path_;
    platform::FileStatus status_;
    int level_;
    bool levelKnown_ = false;
    std::unique_ptr<TBufferedFileStream> stream_;  // read only while the directory is
    std::unique_ptr<TArchiveReader> directory_;
    std::unordered_map<std::string_view, size_t> byName_;  // into the directory's entries
};

// What the data of an entry were found to be.
enum class TVerdict {
    Holds,          // they inflate to the file's bytes (their CRC) under the run's password
    OtherPassword,  // they are under another password
    Damaged,        // they fail their check: damaged, or not the file's bytes
};

// One caller's reading of the earlier archive: its own handle and buffers.
class TReuseReader {
public:
    // Opens the index's archive anew; raises platform::EFileError when it cannot, EZipError when
    // the file is no longer the one the index was read from.
    explicit TReuseReader(const TReuseIndex& index);

    // Inflates the entry's data (decrypted with password) and compares their CRC with crc, the
    // file's; detail says what is wrong when they do not hold.
    TVerdict Check(const TArchiveEntry& entry, std::string_view password, uint32_t crc, std::string& detail);
    // The earlier archive's stream put at the entry's data (an encryption header included), for
    // copying its compressed bytes; raises EArchiveFault.
    TBufferedFileStream& SeekData(const TArchiveEntry& entry);

    // Runs after each chunk that Check reads; may raise to stop (a cancel).
    std::function<void()> OnChunk;

private:
    TBufferedFileStream stream_;
    TArchiveReader reader_;
};

}  // namespace entryreuse
