// Reads ZIP archives back and checks them: the central directory (ZIP64 fields included), each
// entry's local header against its central one, and its data through traditional or AES decryption,
// zlib's inflate, the CRC, the AES authentication code and both sizes, streamed through fixed buffers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zip/bufferedstream.h"
#include "zip/ziperrors.h"

// One entry as the central directory describes it; sizes and offsets are 64-bit wherever the
// archive keeps them (the 32-bit fields, or their ZIP64 extra field).
struct TArchiveEntry {
    std::string storedName;  // the name's bytes as stored
    std::string name;        // the name as UTF-8 ("/" ends a folder's name)
    uint16_t versionMadeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosDateTime = 0;  // DOS time in the low 16 bits, date in the high 16 bits
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t localHeaderOffset = 0;
    uint16_t internalAttributes = 0;  // bit 0: text
    uint32_t externalAttributes = 0;
    bool zip64 = false;  // a size or the offset came from the ZIP64 extra field
    // Of an AES entry (method 99), its 0x9901 block: vendor version (1 or 2, 0 without a block),
    // key strength and the method of the data under the encryption.
    uint16_t aesVersion = 0;
    uint8_t aesStrength = 0;
    uint16_t aesMethod = 0;

    bool IsFolder() const { return !name.empty() && name.back() == '/'; }
    bool IsEncrypted() const { return (flags & 0x0001) || IsAes(); }
    bool IsAes() const { return method == 99; }
    // The method of the data once decrypted.
    uint16_t DataMethod() const { return IsAes() ? aesMethod : method; }
    // The system of origin keeps Unix modes in the upper half of the external attributes.
    bool HasUnixMode() const { return (versionMadeBy >> 8) == 3 && (externalAttributes >> 16) != 0; }
    bool IsSymlink() const { return HasUnixMode() && ((externalAttributes >> 16) & 0170000) == 0120000; }
    // The DOS read-only bit, or a Unix mode without any write permission.
    bool IsReadOnly() const;
};

// What is wrong with an entry.
enum class TEntryFault {
    LocalHeader,  // no local header where the central one points
    Mismatch,     // the local header disagrees with the central one
    Method,       // a compression method other than stored and Deflate (or AES-256 over them)
    NoPassword,   // encrypted, and no password was given
    Password,     // the password's check byte does not match
    Data,         // the compressed data are damaged
    Crc,          // the CRC of the data differs from the stored one
    Tampered,     // the AES authentication code does not match: the data were changed
    Size,         // the data's size differs from the stored one
    Truncated,    // the data reach past the end of the archive
};

// A bad entry: the message names it and what is wrong with it.
class EArchiveFault : public EZipError {
public:
    EArchiveFault(std::string entry, TEntryFault fault, const std::string& detail)
        : EZipError("\"" + entry + "\": " + detail), entry_(std::move(entry)), fault_(fault), detail_(detail) {}
    const std::string& Entry() const { return entry_; }
    TEntryFault Fault() const { return fault_; }
    const std::string& Detail() const { return detail_; }

private:
    std::string entry_;
    TEntryFault fault_;
    std::string detail_;
};

// An archive just written failed the test after writing. Entry is the bad entry's name (empty
// when the directory itself could not be read), Detail what is wrong.
class ETestFailed : public EZipError {
public:
    ETestFailed(const std::string& archive, std::string entry, std::string detail)
        : EZipError("The archive \"" + archive + "\" failed its test: " +
                    (entry.empty() ? detail : "\"" + entry + "\": " + detail)),
          entry_(std::move(entry)), detail_(std::move(detail)) {}
    const std::string& Entry() const { return entry_; }
    const std::string& Detail() const { return detail_; }

private:
    std::string entry_;
    std::string detail_;
};

class TArchiveReader {
public:
    // Chunks of the data read and inflated at a time.
    static constexpr size_t ChunkSize = 65536;
    using TSink = std::function<void(const uint8_t* data, size_t length)>;

    // Reads the central directory of the archive in stream (which must outlive the reader).
    // Raises EIncompleteZip, naming what was found wrong, for a directory it cannot read. The
    // entries take no more memory than the directory's bytes.
    explicit TArchiveReader(TStream& stream);
    // Reads entries of a directory another reader of the same archive has read, through a stream
    // of its own (one per thread): its own Entries() stay empty.
    TArchiveReader(TStream& stream, const TArchiveReader& directory);
    ~TArchiveReader();
    TArchiveReader(const TArchiveReader&) = delete;
    TArchiveReader& operator=(const TArchiveReader&) = delete;

    const std::vector<TArchiveEntry>& Entries() const { return entries_; }
    // The archive's bytes: what Extract of every entry reads at most, for progress.
    uint64_t ArchiveSize() const { return size_; }
    uint64_t CentralOffset() const { return centralOffset_; }

    // Reads the entry's data, checks them and hands the plain bytes to sink (when set) as they
    // come; password opens an encrypted entry. Raises EArchiveFault for anything wrong, after
    // which sink may have had part of the data.
    void Extract(const TArchiveEntry& entry, std::string_view password, const TSink& sink);
    void Test(const TArchiveEntry& entry, std::string_view password) { Extract(entry, password, nullptr); }
    // The checks that need no password: the method, the local header against the central one,
    // the data inside the archive and the data descriptor; raises EArchiveFault.
    void CheckHeaders(const TArchiveEntry& entry);
    // Where the entry's data (an encryption header included) begin, its method and local header
    // checked; raises EArchiveFault.
    uint64_t DataOffset(const TArchiveEntry& entry);

    // Runs after each chunk with the archive bytes it took; may raise to stop (a cancel).
    std::function<void(uint64_t bytes)> OnChunk;

private:
    void readDirectory();
    void readAt(uint64_t at, void* buffer, size_t count, const char* what);
    // The method and the local header checked, the data inside the archive; returns where they begin.
    uint64_t locateData(const TArchiveEntry& entry, bool& wideDescriptor);
    // Checks the local header against the central one; returns where the entry's data begin
    // and whether a data descriptor after them has 64-bit sizes.
    uint64_t checkLocalHeader(const TArchiveEntry& entry, bool& wideDescriptor);
    void checkDescriptor(const TArchiveEntry& entry, uint64_t at, bool wideSizes);
    // Hands the entry's decrypted data, `remaining` bytes from the stream's position, through
    // decrypt to the inflater or straight on; checks sizes and CRC.
    void readData(const TArchiveEntry& entry, uint64_t remaining, const std::function<void(uint8_t*, size_t)>& decrypt,
                  bool maybeWrongPassword, const TSink& sink);

    TStream& in_;
    uint64_t size_ = 0;
    uint64_t centralOffset_ = 0;
    std::vector<TArchiveEntry> entries_;
    std::unique_ptr<uint8_t[]> input_, output_;
    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
};

// Tests every entry of the archive at path in the order of the directory. The first bad entry
// raises EArchiveFault; an unreadable directory EIncompleteZip; an archive that cannot be opened
// platform::EFileError. progress gets the share of the archive read so far (0 to 1).
void TestArchiveFile(const std::string& path, std::string_view password,
                     const std::function<void(double share)>& progress = nullptr);
