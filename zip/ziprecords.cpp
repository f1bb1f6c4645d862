#include "zip/ziprecords.h"

#include <algorithm>
#include <zlib.h>

#include <algorithm>

#include "platform/assert.h"
#include "platform/codepage.h"
#include "platform/dostime.h"
#include "zip/ziperrors.h"

namespace {

constexpr std::array<uint32_t, 256> makeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

// A whole value stored in a 16-bit field of a record (0xFFFF when it does not fit), and one stored
// in all of its 64 bits.
template <typename T> struct Narrow16 {
    T& v;
};
template <typename T> Narrow16(T&) -> Narrow16<T>;
template <typename T> struct Wide64 {
    T& v;
};
template <typename T> Wide64(T&) -> Wide64<T>;

// Little-endian fields written into a fixed buffer, one after the other. A 64-bit value goes into
// a 32-bit field, as 0xFFFFFFFF when it does not fit.
class Packer {
public:
    explicit Packer(uint8_t* out) : out_(out) {}
    void operator()(uint16_t v) {
        out_[n_++] = static_cast<uint8_t>(v);
        out_[n_++] = static_cast<uint8_t>(v >> 8);
    }
    void operator()(uint32_t v) {
        (*this)(static_cast<uint16_t>(v));
        (*this)(static_cast<uint16_t>(v >> 16));
    }
    void operator()(uint64_t v) { (*this)(static_cast<uint32_t>(std::min<uint64_t>(v, kZip64Mark32))); }
    template <typename T> void operator()(Narrow16<T> f) {
        (*this)(static_cast<uint16_t>(std::min<uint64_t>(f.v, kZip64Mark16)));
    }
    template <typename T> void operator()(Wide64<T> f) {
        (*this)(static_cast<uint32_t>(f.v));
        (*this)(static_cast<uint32_t>(uint64_t{f.v} >> 32));
    }
    size_t size() const { return n_; }

private:
    uint8_t* out_;
    size_t n_ = 0;
};

// Little-endian fields read from a fixed buffer, one after the other.
class Unpacker {
public:
    explicit Unpacker(const uint8_t* in) : in_(in) {}
    void operator()(uint16_t& v) {
        v = static_cast<uint16_t>(in_[n_] | in_[n_ + 1] << 8);
        n_ += 2;
    }
    void operator()(uint32_t& v) {
        uint16_t low, high;
        (*this)(low);
        (*this)(high);
        v = low | uint32_t{high} << 16;
    }
    void operator()(uint64_t& v) { v = u32(); }
    void operator()(Narrow16<uint64_t> f) {
        uint16_t v;
        (*this)(v);
        f.v = v;
    }
    void operator()(Wide64<uint64_t> f) {
        const uint64_t low = u32();
        f.v = low | uint64_t{u32()} << 32;
    }
    uint32_t u32() {
        uint32_t v;
        (*this)(v);
        return v;
    }
    uint64_t u64() {
        uint64_t v;
        (*this)(Wide64{v});
        return v;
    }
    size_t size() const { return n_; }

private:
    const uint8_t* in_;
    size_t n_ = 0;
};

// The layout of each record: its fields after the signature, in the order they are stored.
// Saving and loading both go through these, so that each layout is written down once.
template <typename Header, typename Field> void localLayout(Header& h, Field&& field) {
    field(h.version_needed), field(h.general_purpose_flag), field(h.compression_method);
    field(h.last_mod_datetime), field(h.crc32), field(h.compressed_size), field(h.uncompressed_size);
    field(h.filename_length), field(h.local_extra_length);
}

template <typename Header, typename Field> void centralLayout(Header& h, Field&& field) {
    field(h.version_made_by), field(h.version_needed), field(h.general_purpose_flag), field(h.compression_method);
    field(h.last_mod_datetime), field(h.crc32), field(h.compressed_size), field(h.uncompressed_size);
    field(h.filename_length), field(h.central_extra_length), field(h.file_comment_length);
    field(h.disk_number_start), field(h.internal_attributes), field(h.external_attributes);
    field(h.local_header_offset);
}

// The end record keeps its signature as a field of its own.
template <typename End, typename Field> void endLayout(End& e, Field&& field) {
    field(e.signature), field(e.this_disk), field(e.central_disk), field(Narrow16{e.entries_this_disk});
    field(Narrow16{e.total_entries}), field(e.central_size), field(e.central_offset), field(e.zip_comment_length);
}
// The 64-bit end record after its signature and its own size, with this writer's versions.
template <typename End, typename Field> void zip64EndLayout(End& e, uint16_t& madeBy, uint16_t& needed, uint32_t& thisDisk,
                                                            uint32_t& centralDisk, Field&& field) {
    field(madeBy), field(needed), field(thisDisk), field(centralDisk);
    field(Wide64{e.entries_this_disk}), field(Wide64{e.total_entries}), field(Wide64{e.central_size});
    field(Wide64{e.central_offset});
}
// What follows the signature and size of a 64-bit end record: the fixed part less those 12 bytes.
constexpr uint64_t kZip64EndRest = kZip64EndSize - 12;

void writeAll(TStream& stream, const void* data, size_t count) {
    if (count && stream.Write(data, count) != count) throw ENotEnoughRoom();
}

}  // namespace

const std::array<uint32_t, 256> CRC_32_TAB = makeCrcTable();

bool HasSignature(const uint8_t* p, uint32_t signature) { return Unpacker(p).u32() == signature; }

std::optional<std::string_view> FindExtraBlock(std::string_view extra, uint16_t id) {
    constexpr size_t kBlockHead = 4;
    while (extra.size() >= kBlockHead) {
        uint16_t blockId, size;
        Unpacker head(reinterpret_cast<const uint8_t*>(extra.data()));
        head(blockId), head(size);
        if (kBlockHead + size > extra.size()) break;  // a block that runs past the field ends the walk
        if (blockId == id) return extra.substr(kBlockHead, size);
        extra.remove_prefix(kBlockHead + size);
    }
    return std::nullopt;
}

std::string WithoutExtraBlock(std::string_view extra, uint16_t id) {
    constexpr size_t kBlockHead = 4;
    std::string out;
    while (extra.size() >= kBlockHead) {
        uint16_t blockId, size;
        Unpacker head(reinterpret_cast<const uint8_t*>(extra.data()));
        head(blockId), head(size);
        if (kBlockHead + size > extra.size()) break;
        if (blockId != id) out.append(extra.substr(0, kBlockHead + size));
        extra.remove_prefix(kBlockHead + size);
    }
    out.append(extra);
    return out;
}

uint32_t Update_CRC_buff(uint32_t crc, const uint8_t* buffer, size_t length) {
    // zlib keeps the register inverted between calls; ours is the raw register.
    while (length > 0) {
        const auto step = static_cast<uInt>(std::min<size_t>(length, 1u << 30));
        crc = ~static_cast<uint32_t>(::crc32(~crc, buffer, step));
        buffer += step;
        length -= step;
    }
    return crc;
}

void TZipHeaderInfo::Clear() {
    version_made_by = kZipVersion20;
    version_needed = kZipVersion20;
    general_purpose_flag = 0;
    compression_method = kMethodDeflated;
    last_mod_datetime = 0;
    crc32 = 0xFFFFFFFF;
    compressed_size = 0;
    uncompressed_size = 0;
    filename_length = 0;
    central_extra_length = 0;
    local_extra_length = 0;
    file_comment_length = 0;
    disk_number_start = 0;
    internal_attributes = kInternalText;
    external_attributes = 0x20;
    local_header_offset = 0;
    central_header_offset = 0;
    filecomment.reset();
    written_extra.clear();
    decrypt_flag = 0;
    integrity_status = kIntegrityUnknown;
    selected = 0;
    local_zip64 = false;
    oem_flag_ = false;
    filename_.clear();
    directory_.clear();
    stored_.clear();
}

void TZipHeaderInfo::Assign(const TZipHeaderInfo& source) {
    if (&source == this) return;
    std::string filename = std::move(filename_), directory = std::move(directory_);
    bool oem = oem_flag_;
    *this = source;
    filename_ = std::move(filename);
    directory_ = std::move(directory);
    oem_flag_ = oem;
    // The name length and the encoding bit follow the names this record keeps.
    updateStoredName();
}

void TZipHeaderInfo::Setfilename(const std::string& value) {
    filename_ = value;
    updateStoredName();
}

void TZipHeaderInfo::Setdirectory(const std::string& value) {
    directory_ = value;
    if (!directory_.empty() && directory_.back() != '/') directory_ += '/';
    updateStoredName();
}

void TZipHeaderInfo::SetOEMFlag(bool value) {
    oem_flag_ = value;
    updateStoredName();
}

void TZipHeaderInfo::updateStoredName() {
    std::string joined = directory_ + filename_;
    std::string oem;
    bool nonAscii = false;
    for (char c : joined) nonAscii |= static_cast<uint8_t>(c) >= 0x80;
    if (oem_flag_ && platform::AnsiToOem(joined, oem)) {
        stored_ = std::move(oem);
        general_purpose_flag &= static_cast<uint16_t>(~kLanguageEncodingFlag);
    } else {
        // Names CP437 cannot hold (or every name, without the OEM flag) are stored as they are;
        // well-formed UTF-8 outside ASCII is marked as such so that readers do not garble it.
        stored_ = std::move(joined);
        if (nonAscii && platform::IsUtf8(stored_)) general_purpose_flag |= kLanguageEncodingFlag;
        else general_purpose_flag &= static_cast<uint16_t>(~kLanguageEncodingFlag);
    }
    // Info-ZIP's unzip reads the names of entries made on FAT as CP437 even with bit 11 set;
    // NTFS as the system of origin keeps the same attribute bits and lets every reader see UTF-8.
    uint8_t host = static_cast<uint8_t>(version_made_by >> 8);
    if (host == kHostFat || host == kHostNtfs) {
        host = (general_purpose_flag & kLanguageEncodingFlag) ? kHostNtfs : kHostFat;
        version_made_by = static_cast<uint16_t>((host << 8) | (version_made_by & 0xFF));
    }
    FOLVIO_ASSERT(stored_.size() <= 0xFFFF);
    filename_length = static_cast<uint16_t>(stored_.size());
}

void TZipHeaderInfo::LoadStoredName(const std::string& stored) {
    stored_ = stored;
    FOLVIO_ASSERT(stored_.size() <= 0xFFFF);
    filename_length = static_cast<uint16_t>(stored_.size());
    bool madeOnFat = (version_made_by >> 8) == kHostFat;
    std::string name = !(general_purpose_flag & kLanguageEncodingFlag) && madeOnFat && oem_flag_
                           ? platform::OemToAnsi(stored)
                           : stored;
    size_t slash = name.rfind('/');
    directory_ = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    filename_ = slash == std::string::npos ? name : name.substr(slash + 1);
}

void TZipHeaderInfo::SetDateTime(std::time_t moment) { last_mod_datetime = platform::DateTimeToDosDateTime(moment); }

void TZipHeaderInfo::SaveLocalToStream(TStream& stream, [[maybe_unused]] bool oldExtraFollows) {
    local_header_offset = static_cast<uint64_t>(stream.Position());
    uint8_t fixed[LocalFixedSize];
    Packer p(fixed);
    p(LOCSIG);
    if (local_zip64) {
        // Both sizes move to the block, whatever their values.
        TZipHeaderInfo marked = *this;
        marked.compressed_size = marked.uncompressed_size = kZip64Mark32;
        localLayout(marked, p);
    } else {
        localLayout(*this, p);
    }
    FOLVIO_ASSERT(p.size() == LocalFixedSize);
    writeAll(stream, fixed, LocalFixedSize);
    writeAll(stream, stored_.data(), filename_length);
    if (local_zip64) {
        FOLVIO_ASSERT(local_extra_length >= kZip64LocalExtraSize);
        uint8_t block[kZip64LocalExtraSize];
        Packer b(block);
        b(kZip64ExtraId), b(static_cast<uint16_t>(kZip64LocalExtraSize - 4));
        b(Wide64{uncompressed_size}), b(Wide64{compressed_size});
        writeAll(stream, block, sizeof block);
    }
    FOLVIO_ASSERT(oldExtraFollows ? written_extra.empty() && !local_zip64
                                  : local_extra_length == (local_zip64 ? kZip64LocalExtraSize : 0) + written_extra.size());
    writeAll(stream, written_extra.data(), written_extra.size());
}

uint16_t TZipHeaderInfo::GetCentralZip64Size() const {
    uint16_t size = 0;
    for (uint64_t v : {uncompressed_size, compressed_size, local_header_offset})
        if (v >= kZip64Mark32) size += 8;
    return size ? static_cast<uint16_t>(size + 4) : 0;
}

bool TZipHeaderInfo::LoadZip64FromCentralExtra(std::string_view extra) {
    // Without the block the fields hold their values themselves, as in archives older than the extensions.
    const std::optional<std::string_view> block = FindExtraBlock(extra, kZip64ExtraId);
    if (!block) return true;
    const auto* data = reinterpret_cast<const uint8_t*>(block->data());
    size_t left = block->size();
    for (uint64_t* v : {&uncompressed_size, &compressed_size, &local_header_offset}) {
        if (*v != kZip64Mark32) continue;
        if (left < 8) return false;
        Unpacker u(data);
        *v = u.u64();
        data += 8, left -= 8;
    }
    if (disk_number_start == kZip64Mark16) {
        if (left < 4) return false;
        disk_number_start = Unpacker(data).u32() == 0 ? 0 : 1;  // only the first disk matters: others are refused
    }
    return true;
}

void TZipHeaderInfo::SaveCentralToStream(TStream& stream, std::string_view extra) const {
    uint8_t fixed[CentralFixedSize];
    Packer p(fixed);
    p(CENTSIG);
    centralLayout(*this, p);
    FOLVIO_ASSERT(p.size() == CentralFixedSize);
    writeAll(stream, fixed, CentralFixedSize);
    writeAll(stream, stored_.data(), filename_length);
    const uint16_t zip64 = GetCentralZip64Size();
    FOLVIO_ASSERT(zip64 + extra.size() == central_extra_length);
    if (zip64) {
        // Only the values that do not fit their fields, in the format's order.
        uint8_t block[4 + 24];
        Packer b(block);
        b(kZip64ExtraId), b(static_cast<uint16_t>(zip64 - 4));
        for (uint64_t v : {uncompressed_size, compressed_size, local_header_offset})
            if (v >= kZip64Mark32) b(Wide64{v});
        writeAll(stream, block, zip64);
    }
    writeAll(stream, extra.data(), extra.size());
    if (file_comment_length) {
        std::string comment = filecomment ? filecomment->substr(0, file_comment_length) : std::string();
        comment.resize(file_comment_length, '\0');  // the length field and the bytes always agree
        writeAll(stream, comment.data(), comment.size());
    }
}

bool TZipHeaderInfo::LoadLocalFromBuffer(const uint8_t* fixed) {
    Unpacker u(fixed);
    if (u.u32() != LOCSIG) return false;
    localLayout(*this, u);
    FOLVIO_ASSERT(u.size() == LocalFixedSize);
    return true;
}

bool TZipHeaderInfo::LoadCentralFromBuffer(const uint8_t* fixed) {
    Unpacker u(fixed);
    if (u.u32() != CENTSIG) return false;
    centralLayout(*this, u);
    FOLVIO_ASSERT(u.size() == CentralFixedSize);
    return true;
}

size_t TZipHeaderInfo::DataDescriptorSize(const uint8_t* bytes, size_t available, bool zip64First) const {
    // The signature is optional: the CRC then comes first. Each form counts only when its sizes match too.
    auto matches = [&](size_t sig, bool wide) {
        const size_t size = sig + (wide ? kDataDescriptor64Size : kDataDescriptorSize);
        if (available < size) return false;
        Unpacker u(bytes + sig);
        const uint32_t crc = u.u32();
        const uint64_t compressed = wide ? u.u64() : u.u32();
        const uint64_t uncompressed = wide ? u.u64() : u.u32();
        return crc == crc32 && compressed == compressed_size && uncompressed == uncompressed_size;
    };
    const bool signature = available >= 4 && Unpacker(bytes).u32() == kDataDescriptorSig;
    for (size_t sig : {size_t{4}, size_t{0}}) {
        if (sig && !signature) continue;
        for (bool wide : {zip64First, !zip64First})
            if (matches(sig, wide)) return sig + (wide ? kDataDescriptor64Size : kDataDescriptorSize);
    }
    return 0;
}

void TEndCentral::Clear() {
    signature = ENDSIG;
    this_disk = 0;
    central_disk = 0;
    entries_this_disk = 0;
    total_entries = 0;
    central_size = 0;
    central_offset = 0;
    zip_comment_length = 0;
    zip_comment.reset();
    comment_position = 0;
    modified = false;
}

void TEndCentral::Assign(const TEndCentral& source) {
    if (&source == this) return;
    *this = source;
    if (zip_comment) SetNewZipComment(*zip_comment);
}

void TEndCentral::SetNewZipComment(const std::string& text) {
    std::string comment = text.substr(0, text.find('\0'));
    if (comment.size() > 0xFFFF) comment.resize(0xFFFF);
    zip_comment_length = static_cast<uint16_t>(comment.size());
    zip_comment = std::move(comment);
}

bool TEndCentral::NeedsZip64() const {
    return total_entries > kZip64Mark16 || entries_this_disk > kZip64Mark16 || central_size >= kZip64Mark32 ||
           central_offset >= kZip64Mark32;
}

void TEndCentral::SaveToStream(TStream& stream) const {
    if (NeedsZip64()) {
        const uint64_t at = static_cast<uint64_t>(stream.Position());
        uint8_t record[kZip64EndSize + kZip64LocatorSize];
        Packer p(record);
        uint16_t madeBy = kZipVersion45, needed = kZipVersion45;
        uint32_t disk = 0, centralDisk = 0;
        uint64_t rest = kZip64EndRest;
        p(kZip64EndSig), p(Wide64{rest});
        zip64EndLayout(*this, madeBy, needed, disk, centralDisk, p);
        FOLVIO_ASSERT(p.size() == kZip64EndSize);
        uint32_t diskOfRecord = 0, disks = 1;
        p(kZip64LocatorSig), p(diskOfRecord), p(Wide64{at}), p(disks);
        FOLVIO_ASSERT(p.size() == sizeof record);
        writeAll(stream, record, sizeof record);
    }
    uint8_t fixed[FixedSize];
    Packer p(fixed);
    endLayout(*this, p);
    FOLVIO_ASSERT(p.size() == FixedSize);
    writeAll(stream, fixed, FixedSize);
    if (zip_comment_length) {
        std::string comment = zip_comment ? zip_comment->substr(0, zip_comment_length) : std::string();
        comment.resize(zip_comment_length, '\0');  // the length field and the bytes always agree
        writeAll(stream, comment.data(), comment.size());
    }
}

bool TEndCentral::LoadFromBuffer(const uint8_t* fixed) {
    Unpacker u(fixed);
    endLayout(*this, u);
    FOLVIO_ASSERT(u.size() == FixedSize);
    return signature == ENDSIG;
}

std::optional<uint64_t> TEndCentral::Zip64EndOffset(const uint8_t* locator) {
    Unpacker u(locator);
    if (u.u32() != kZip64LocatorSig) return std::nullopt;
    u.u32();  // the disk of the 64-bit end record; the record itself names its disks
    return u.u64();
}

bool TEndCentral::LoadZip64FromBuffer(const uint8_t* fixed) {
    Unpacker u(fixed);
    if (u.u32() != kZip64EndSig) return false;
    u.u64();  // the record's size: what lies past its fixed part is not used
    uint16_t madeBy, needed;
    uint32_t disk, centralDisk;
    zip64EndLayout(*this, madeBy, needed, disk, centralDisk, u);
    FOLVIO_ASSERT(u.size() == kZip64EndSize);
    return disk == 0 && centralDisk == 0;
}
