// The ZIP records (local header, central header, end record and their 64-bit extensions), their
// in-memory forms and CRC-32.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "zip/bufferedstream.h"

// Record signatures: local header, central header, end of the central directory.
constexpr uint32_t LOCSIG = 0x04034B50;
constexpr uint32_t CENTSIG = 0x02014B50;
constexpr uint32_t ENDSIG = 0x06054B50;
// The signature that may open a data descriptor, and that of the locator of the 64-bit end record,
// which lies right before the end record.
constexpr uint32_t kDataDescriptorSig = 0x08074B50;
constexpr uint32_t kZip64LocatorSig = 0x07064B50;
constexpr size_t kZip64LocatorSize = 20;
// The 64-bit end record (its fixed part), which the locator points at.
constexpr uint32_t kZip64EndSig = 0x06064B50;
constexpr size_t kZip64EndSize = 56;
// The extra block of the 64-bit extensions, and the values that mark a field as held there.
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kZip64Mark32 = 0xFFFFFFFF;
constexpr uint16_t kZip64Mark16 = 0xFFFF;
// The 64-bit extra block of a local header: both sizes, as the format asks there.
constexpr uint16_t kZip64LocalExtraSize = 4 + 16;

// Whether the four bytes at p are the signature.
bool HasSignature(const uint8_t* p, uint32_t signature);

// Compression methods.
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// General-purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;       // traditional encryption
constexpr uint16_t kFlagDeflateMaximum = 0x0002;  // Deflate at levels 8 to 10
constexpr uint16_t kFlagDeflateFast = 0x0004;     // Deflate at levels 1 and 2
constexpr uint16_t kFlagDeflateOptions = kFlagDeflateMaximum | kFlagDeflateFast;
constexpr uint16_t kFlagDataDescriptor = 0x0008;  // CRC and sizes follow the data
constexpr uint16_t kLanguageEncodingFlag = 0x0800;  // the stored name is UTF-8

// Format version 2.0, the one every record the writer makes needs and claims, and 4.5, which the
// records with the 64-bit extensions need.
constexpr uint16_t kZipVersion20 = 20;
constexpr uint16_t kZipVersion45 = 45;
// Systems of origin (upper byte of "version made by"), both with MS-DOS attribute bits.
constexpr uint8_t kHostFat = 0;
constexpr uint8_t kHostNtfs = 11;

// Internal file attributes.
constexpr uint16_t kInternalBinary = 0;
constexpr uint16_t kInternalText = 1;
constexpr uint16_t kInternalUnknown = 2;  // the data have not been looked at yet

// Integrity status of an entry record, as a reader's check of the entry found it.
constexpr uint8_t kIntegrityUnknown = 0;
constexpr uint8_t kIntegrityGood = 1;
constexpr uint8_t kIntegrityBad = 2;

// A data descriptor: the CRC and both sizes (12 bytes, or 20 with 64-bit sizes), with or without
// the signature in front.
constexpr size_t kDataDescriptorSize = 12;
constexpr size_t kDataDescriptor64Size = 20;

// Extra fields are blocks of a 16-bit id, a 16-bit size and that many bytes. The data of the first
// block with that id; nothing when there is none, or when the blocks before it do not fit the field.
std::optional<std::string_view> FindExtraBlock(std::string_view extra, uint16_t id);
// The extra field without its blocks of that id (blocks that do not fit the field stay as they are).
std::string WithoutExtraBlock(std::string_view extra, uint16_t id);

// The CRC-32 table of the ZIP format (reflected polynomial 0xEDB88320).
extern const std::array<uint32_t, 256> CRC_32_TAB;

// One CRC-32 step: the register after the byte.
inline uint32_t UpdCRC(uint8_t octet, uint32_t crc) { return CRC_32_TAB[(crc ^ octet) & 0xFF] ^ (crc >> 8); }

// The register after the bytes; the same as UpdCRC byte by byte, through zlib's crc32.
uint32_t Update_CRC_buff(uint32_t crc, const uint8_t* buffer, size_t length);

// One archive entry (local and central header fields, stored name, comment).
class TZipHeaderInfo {
public:
    static constexpr size_t LocalFixedSize = 30;
    static constexpr size_t CentralFixedSize = 46;

    uint16_t version_made_by;
    uint16_t version_needed;
    uint16_t general_purpose_flag;
    uint16_t compression_method;
    uint32_t last_mod_datetime;  // DOS time in the low 16 bits, date in the high 16 bits
    uint32_t crc32;
    // Sizes and offsets hold their whole values; the records store 0xFFFFFFFF for those that do
    // not fit 32 bits and the values themselves in the 64-bit extra block.
    uint64_t compressed_size;
    uint64_t uncompressed_size;
    uint16_t filename_length;
    uint16_t central_extra_length;
    uint16_t local_extra_length;
    uint16_t file_comment_length;
    uint16_t disk_number_start;
    uint16_t internal_attributes;
    uint32_t external_attributes;
    uint64_t local_header_offset;
    uint64_t central_header_offset;
    std::optional<std::string> filecomment;
    // The extra field of an entry written by this job, in both its headers (the local header
    // writes it after the name); empty for a copied entry, whose extra fields stay in its old archive.
    std::string written_extra;
    uint8_t decrypt_flag;
    uint8_t integrity_status;  // 0 unknown, 1 good, 2 bad
    uint8_t selected;
    // The local header carries the 64-bit extra block with both sizes (0xFFFFFFFF in its own
    // fields); local_extra_length counts the block.
    bool local_zip64;

    TZipHeaderInfo() { Clear(); }
    void Clear();
    // Copies every field except the OEM flag and the two name parts; the comment is copied too.
    void Assign(const TZipHeaderInfo& source);

    const std::string& filename() const { return filename_; }
    const std::string& directory() const { return directory_; }
    void Setfilename(const std::string& value);
    // Appends "/" to a non-empty value that lacks it.
    void Setdirectory(const std::string& value);
    bool OEMFlag() const { return oem_flag_; }
    void SetOEMFlag(bool value);

    // The bytes of the stored name: folder part and file name joined, in CP437 when the OEM flag
    // is set and CP437 can hold the name, else as UTF-8 (flag bit 11 then marks a non-ASCII name,
    // and NTFS stands as the system of origin in place of FAT).
    const std::string& StoredName() const { return stored_; }
    // Takes the stored name of an entry read from an archive. The bytes stay exactly as they are
    // (name length, flag bit 11 and system of origin untouched); the name parts are decoded: as
    // UTF-8 with bit 11, from CP437 for a name made on FAT when the OEM flag is set, else as they are.
    void LoadStoredName(const std::string& stored);

    void SetDateTime(std::time_t moment);  // 0 for a year outside 1980 to 2099
    bool GetIsEncrypted() const { return general_purpose_flag & kFlagEncrypted; }
    bool GetHasDescriptor() const { return general_purpose_flag & kFlagDataDescriptor; }
    bool GetHasComment() const { return file_comment_length > 0; }
    uint32_t GetLocalSize() const {
        return static_cast<uint32_t>(LocalFixedSize + filename_length + local_extra_length);
    }
    uint32_t GetCentralSize() const {
        return static_cast<uint32_t>(CentralFixedSize + filename_length + central_extra_length + file_comment_length);
    }
    // Where the extra field of the central header this record was read from lies in its archive.
    uint64_t GetCentralExtraPosition() const { return central_header_offset + CentralFixedSize + filename_length; }
    // The length of the 64-bit extra block the central header needs: 4 plus 8 for each of the
    // uncompressed size, compressed size and local header offset that reaches 0xFFFFFFFF; 0 when none does.
    uint16_t GetCentralZip64Size() const;
    // Takes the values the central header marks as held in its 64-bit block out of its extra field
    // (in the format's order: uncompressed size, compressed size, offset, disk). False when a marked
    // value is missing: no block, or one shorter than the fields it must hold.
    bool LoadZip64FromCentralExtra(std::string_view extra);

    // Sets local_header_offset to the stream position, then writes the local header and name, and
    // with local_zip64 the 64-bit extra block (the other bytes of the extra field are the caller's).
    // Raises ENotEnoughRoom when the stream takes fewer bytes. oldExtraFollows: the caller copies an
    // entry's old extra field after the header (of local_extra_length bytes) instead of written_extra.
    void SaveLocalToStream(TStream& stream, bool oldExtraFollows = false);
    // Writes the central header, the name, the extra field (the 64-bit block when a value needs it,
    // then the other blocks: a copied entry's old bytes without their 64-bit block; central_extra_length
    // counts both) and the comment (zero bytes when not loaded, so that the length field and the
    // bytes agree). Raises ENotEnoughRoom when the stream takes fewer bytes.
    void SaveCentralToStream(TStream& stream, std::string_view extra = {}) const;

    // Take the fields of a stored header's fixed part (LocalFixedSize or CentralFixedSize bytes);
    // false when the bytes do not begin with its signature. filename_length is the stored length
    // until LoadStoredName takes the name; the names, the comment and the record's own flags stay.
    bool LoadLocalFromBuffer(const uint8_t* fixed);
    bool LoadCentralFromBuffer(const uint8_t* fixed);
    // The length of the data descriptor that starts with these bytes (up to 24 of them, available
    // of them readable) when it belongs to this entry: its CRC and sizes match, with 32-bit sizes
    // (16 with its signature, 12 without) or with 64-bit ones (24 or 20), those first with zip64First
    // (a local header with the 64-bit block announces them); 0 when it is none of this entry's.
    size_t DataDescriptorSize(const uint8_t* bytes, size_t available, bool zip64First = false) const;

private:
    void updateStoredName();

    std::string filename_;
    std::string directory_;
    std::string stored_;
    bool oem_flag_ = false;
};

// The end-of-central-directory record.
class TEndCentral {
public:
    static constexpr size_t FixedSize = 22;

    uint32_t signature;
    uint16_t this_disk;
    uint16_t central_disk;
    // The whole counts, size and offset; the end record stores 0xFFFF or 0xFFFFFFFF for those that
    // do not fit it, and the 64-bit end record before it holds them all.
    uint64_t entries_this_disk;
    uint64_t total_entries;
    uint64_t central_size;
    uint64_t central_offset;
    uint16_t zip_comment_length;
    std::optional<std::string> zip_comment;
    int64_t comment_position;
    bool modified;

    TEndCentral() { Clear(); }
    void Clear();
    void Assign(const TEndCentral& source);
    // Takes a private copy of the comment (up to a zero byte, at most 65535 bytes).
    void SetNewZipComment(const std::string& text);
    uint32_t GetEndCentralSize() const { return FixedSize + zip_comment_length; }
    // Whether the counts, the size or the offset need the 64-bit end record: more than 65535
    // entries, or a size or offset that reaches 0xFFFFFFFF.
    bool NeedsZip64() const;
    // Writes, when NeedsZip64, the 64-bit end record and its locator at the stream position, then
    // the 22 bytes and the comment; raises ENotEnoughRoom on a short write.
    void SaveToStream(TStream& stream) const;
    // Takes the 22 bytes of a stored end record, signature included (the comment stays); false
    // when they do not begin with ENDSIG.
    bool LoadFromBuffer(const uint8_t* fixed);
    // The offset of the 64-bit end record the 20 bytes of a locator point at; nothing when they
    // are not a locator.
    static std::optional<uint64_t> Zip64EndOffset(const uint8_t* locator);
    // Takes the counts, size and offset of the fixed part of a 64-bit end record (kZip64EndSize
    // bytes); false when it has no signature or names another disk than the first.
    bool LoadZip64FromBuffer(const uint8_t* fixed);
};
