#include "zip/archivereader.h"

#include <algorithm>
#include <cstdio>
#include <zlib.h>

#include "platform/codepage.h"
#include "zip/aescipher.h"
#include "zip/tradcipher.h"
#include "zip/ziprecords.h"

namespace {

constexpr uint32_t kSaturated32 = 0xFFFFFFFF;
constexpr uint16_t kHostUnix = 3;
constexpr size_t kEndFixed = 22;
constexpr size_t kLocalFixed = 30;
constexpr size_t kCentralFixed = 46;

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) { return get16(p) | uint32_t{get16(p + 2)} << 16; }
uint64_t get64(const uint8_t* p) { return get32(p) | uint64_t{get32(p + 4)} << 32; }

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// The ZIP64 extra field holds, in this order, those of the three 64-bit values whose 32-bit
// field is saturated. Each value taken is replaced; false when the field is too short for them.
bool takeZip64(std::string_view extra, uint64_t* usize, uint64_t* csize, uint64_t* offset, bool& used) {
    std::optional<std::string_view> block = FindExtraBlock(extra, kZip64ExtraId);
    if (!block) return !(usize && *usize == kSaturated32) && !(csize && *csize == kSaturated32) &&
                        !(offset && *offset == kSaturated32);
    size_t at = 0;
    for (uint64_t* value : {usize, csize, offset}) {
        if (!value || *value != kSaturated32) continue;
        if (at + 8 > block->size()) return false;
        *value = get64(reinterpret_cast<const uint8_t*>(block->data()) + at);
        at += 8;
        used = true;
    }
    return true;
}

std::string decodedName(const std::string& stored, uint16_t flags, uint16_t versionMadeBy) {
    const uint8_t host = static_cast<uint8_t>(versionMadeBy >> 8);
    if (flags & kLanguageEncodingFlag) return stored;
    // Names made on FAT or NTFS without the flag are in CP437; other systems keep their own bytes.
    if (host == kHostFat || host == kHostNtfs) return platform::Cp437ToUtf8(stored);
    return stored;
}

// Where the end record starts within the tail: the last signature whose comment reaches exactly
// to the end of the file, else the last one whose comment fits.
int64_t findEndRecord(const std::vector<uint8_t>& tail) {
    int64_t loose = -1;
    for (int64_t p = static_cast<int64_t>(tail.size()) - static_cast<int64_t>(kEndFixed); p >= 0; --p) {
        const uint8_t* e = tail.data() + p;
        if (!HasSignature(e, ENDSIG)) continue;
        const int64_t end = p + static_cast<int64_t>(kEndFixed) + get16(e + 20);
        if (end == static_cast<int64_t>(tail.size())) return p;
        if (loose < 0 && end < static_cast<int64_t>(tail.size())) loose = p;
    }
    return loose;
}

}  // namespace

bool TArchiveEntry::IsReadOnly() const {
    if (HasUnixMode()) return ((externalAttributes >> 16) & 0222) == 0;
    return externalAttributes & 0x01;
}

struct TArchiveReader::Inflater {
    z_stream stream{};
    bool ready = false;
    Inflater() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ready) inflateEnd(&stream);
    }
};

TArchiveReader::TArchiveReader(TStream& stream)
    : in_(stream), input_(new uint8_t[ChunkSize]), output_(new uint8_t[ChunkSize]), inflater_(new Inflater) {
    if (!inflater_->ready) throw EZipError("The decompressor cannot be set up");
    readDirectory();
}

TArchiveReader::TArchiveReader(TStream& stream, const TArchiveReader& directory)
    : in_(stream), size_(directory.size_), centralOffset_(directory.centralOffset_), input_(new uint8_t[ChunkSize]),
      output_(new uint8_t[ChunkSize]), inflater_(new Inflater) {
    if (!inflater_->ready) throw EZipError("The decompressor cannot be set up");
}

TArchiveReader::~TArchiveReader() = default;

void TArchiveReader::readAt(uint64_t at, void* buffer, size_t count, const char* what) {
    if (at > size_ || count > size_ - at || in_.Seek(static_cast<int64_t>(at), TSeekOrigin::soBeginning) != static_cast<int64_t>(at) ||
        in_.Read(buffer, count) != count)
        throw EIncompleteZip(std::string("cannot read ") + what);
}

void TArchiveReader::readDirectory() {
    const int64_t size = in_.Size();
    if (size < 0) throw EIncompleteZip("the size of the archive cannot be read");
    size_ = static_cast<uint64_t>(size);
    if (size_ < kEndFixed) throw EIncompleteZip("the file is too short to be an archive");

    std::vector<uint8_t> tail(static_cast<size_t>(std::min<uint64_t>(size_, kEndFixed + 0xFFFF)));
    const uint64_t tailStart = size_ - tail.size();
    readAt(tailStart, tail.data(), tail.size(), "the end of the archive");
    const int64_t found = findEndRecord(tail);
    if (found < 0) throw EIncompleteZip("no end record: the archive is truncated or not an archive");
    const uint8_t* e = tail.data() + found;
    const uint64_t endPos = tailStart + static_cast<uint64_t>(found);
    uint64_t count = get16(e + 10), centralSize = get32(e + 12), centralOffset = get32(e + 16);
    uint32_t thisDisk = get16(e + 4), centralDisk = get16(e + 6);
    uint64_t entriesHere = get16(e + 8);
    uint64_t directoryLimit = endPos;  // where the central directory must end

    if (endPos >= kZip64LocatorSize) {
        uint8_t locator[kZip64LocatorSize];
        readAt(endPos - kZip64LocatorSize, locator, sizeof locator, "the record before the end record");
        if (HasSignature(locator, kZip64LocatorSig)) {
            const uint64_t at = get64(locator + 8);
            if (at > endPos - kZip64LocatorSize || endPos - kZip64LocatorSize - at < kZip64EndSize)
                throw EIncompleteZip("the ZIP64 end record lies outside the archive");
            uint8_t z[kZip64EndSize];
            readAt(at, z, sizeof z, "the ZIP64 end record");
            if (!HasSignature(z, kZip64EndSig)) throw EIncompleteZip("the ZIP64 end record has no signature");
            thisDisk = get32(z + 16);
            centralDisk = get32(z + 20);
            entriesHere = get64(z + 24);
            count = get64(z + 32);
            centralSize = get64(z + 40);
            centralOffset = get64(z + 48);
            directoryLimit = at;
        }
    }
    if (thisDisk != 0 || centralDisk != 0 || entriesHere != count) throw EIncompleteZip("the archive spans several disks");
    if (centralOffset > directoryLimit || centralSize > directoryLimit - centralOffset)
        throw EIncompleteZip("the central directory runs past the end record");
    if (count > centralSize / kCentralFixed) throw EIncompleteZip("the end record claims more entries than the central directory holds");
    centralOffset_ = centralOffset;

    entries_.clear();
    entries_.reserve(static_cast<size_t>(count));
    const uint64_t centralEnd = centralOffset + centralSize;
    uint64_t at = centralOffset;
    std::string extra;
    for (uint64_t i = 0; i < count; ++i) {
        const std::string which = "central header " + std::to_string(i + 1);
        uint8_t h[kCentralFixed];
        if (centralEnd - at < kCentralFixed) throw EIncompleteZip(which + " lies past the central directory");
        readAt(at, h, sizeof h, which.c_str());
        if (!HasSignature(h, CENTSIG)) throw EIncompleteZip(which + " has no signature");
        const size_t nameLength = get16(h + 28), extraLength = get16(h + 30), commentLength = get16(h + 32);
        if (centralEnd - at - kCentralFixed < nameLength + extraLength + commentLength)
            throw EIncompleteZip(which + " runs past the central directory");
        TArchiveEntry entry;
        entry.versionMadeBy = get16(h + 4);
        entry.flags = get16(h + 8);
        entry.method = get16(h + 10);
        entry.dosDateTime = get32(h + 12);
        entry.crc32 = get32(h + 16);
        entry.compressedSize = get32(h + 20);
        entry.uncompressedSize = get32(h + 24);
        entry.internalAttributes = get16(h + 36);
        entry.externalAttributes = get32(h + 38);
        entry.localHeaderOffset = get32(h + 42);
        const uint16_t diskStart = get16(h + 34);
        entry.storedName.resize(nameLength);
        extra.resize(extraLength);
        if (nameLength) readAt(at + kCentralFixed, entry.storedName.data(), nameLength, which.c_str());
        if (extraLength) readAt(at + kCentralFixed + nameLength, extra.data(), extraLength, which.c_str());
        if (diskStart != 0 && diskStart != 0xFFFF) throw EIncompleteZip(which + " names another disk");
        if (!takeZip64(extra, &entry.uncompressedSize, &entry.compressedSize, &entry.localHeaderOffset, entry.zip64))
            throw EIncompleteZip(which + " has a ZIP64 field too short for its sizes");
        entry.name = decodedName(entry.storedName, entry.flags, entry.versionMadeBy);
        if (entry.method == aescipher::kMethodAes)
            if (std::optional<aescipher::ExtraData> aes = aescipher::ParseExtra(extra)) {
                entry.aesVersion = aes->vendorVersion;
                entry.aesStrength = aes->strength;
                entry.aesMethod = aes->method;
            }
        entries_.push_back(std::move(entry));
        at += kCentralFixed + nameLength + extraLength + commentLength;
    }
}

uint64_t TArchiveReader::checkLocalHeader(const TArchiveEntry& entry, bool& wideDescriptor) {
    const std::string& name = entry.name;
    const uint64_t at = entry.localHeaderOffset;
    uint8_t h[kLocalFixed];
    if (at >= size_ || size_ - at < kLocalFixed)
        throw EArchiveFault(name, TEntryFault::Truncated, "its local header lies past the end of the archive");
    try {
        readAt(at, h, sizeof h, "the local header");
    } catch (const EIncompleteZip&) {
        throw EArchiveFault(name, TEntryFault::LocalHeader, "its local header cannot be read");
    }
    if (!HasSignature(h, LOCSIG))
        throw EArchiveFault(name, TEntryFault::LocalHeader, "there is no local header at offset " + std::to_string(at));
    const size_t nameLength = get16(h + 26), extraLength = get16(h + 28);
    const uint64_t dataStart = at + kLocalFixed + nameLength + extraLength;
    if (dataStart > size_) throw EArchiveFault(name, TEntryFault::Truncated, "its local header runs past the end of the archive");
    std::string localName(nameLength, '\0'), extra(extraLength, '\0');
    if (in_.Read(localName.data(), nameLength) != nameLength || in_.Read(extra.data(), extraLength) != extraLength)
        throw EArchiveFault(name, TEntryFault::LocalHeader, "its local header cannot be read");
    auto mismatch = [&](const std::string& what) {
        throw EArchiveFault(name, TEntryFault::Mismatch, "the local header disagrees with the central one: " + what);
    };
    if (localName != entry.storedName) mismatch("it names \"" + localName + "\"");
    const uint16_t flags = get16(h + 6), method = get16(h + 8);
    // A ZIP64 field in the local header makes the data descriptor's sizes 64-bit.
    wideDescriptor = FindExtraBlock(extra, kZip64ExtraId).has_value();
    if (method != entry.method) mismatch("method " + std::to_string(method) + " for " + std::to_string(entry.method));
    if (entry.IsAes()) {
        const std::optional<aescipher::ExtraData> aes = aescipher::ParseExtra(extra);
        if (!aes) mismatch("it has no AES block");
        if (aes->vendorVersion != entry.aesVersion || aes->strength != entry.aesStrength || aes->method != entry.aesMethod)
            mismatch("its AES block differs");
    }
    // Bits 1 and 2 only describe the compressor's effort; the others change how the entry is read.
    if ((flags ^ entry.flags) & ~0x0006)
        mismatch("flags " + hex32(flags).substr(4) + " for " + hex32(entry.flags).substr(4));
    if (!(flags & kFlagDataDescriptor)) {
        const uint32_t crc = get32(h + 14);
        uint64_t csize = get32(h + 18), usize = get32(h + 22);
        bool used = false;
        if (!takeZip64(extra, &usize, &csize, nullptr, used)) mismatch("its ZIP64 field is too short for its sizes");
        if (crc != entry.crc32) mismatch("CRC " + hex32(crc) + " for " + hex32(entry.crc32));
        if (csize != entry.compressedSize)
            mismatch("compressed size " + std::to_string(csize) + " for " + std::to_string(entry.compressedSize));
        if (usize != entry.uncompressedSize) mismatch("size " + std::to_string(usize) + " for " + std::to_string(entry.uncompressedSize));
    }
    return dataStart;
}

void TArchiveReader::checkDescriptor(const TArchiveEntry& entry, uint64_t at, bool wideSizes) {
    uint8_t d[24] = {};
    const size_t wide = wideSizes ? 8 : 4;
    size_t need = 4 + 2 * wide;
    if (at + 4 <= size_ && in_.Seek(static_cast<int64_t>(at), TSeekOrigin::soBeginning) == static_cast<int64_t>(at) &&
        in_.Read(d, 4) == 4 && HasSignature(d, kDataDescriptorSig))
        at += 4;
    if (at > size_ || size_ - at < need)
        throw EArchiveFault(entry.name, TEntryFault::Truncated, "its data descriptor lies past the end of the archive");
    readAt(at, d, need, "the data descriptor");
    const uint32_t crc = get32(d);
    const uint64_t csize = wide == 8 ? get64(d + 4) : get32(d + 4);
    const uint64_t usize = wide == 8 ? get64(d + 12) : get32(d + 8);
    if (crc != entry.crc32 || csize != entry.compressedSize || usize != entry.uncompressedSize)
        throw EArchiveFault(entry.name, TEntryFault::Mismatch, "its data descriptor disagrees with the central header");
}

uint64_t TArchiveReader::locateData(const TArchiveEntry& entry, bool& wideDescriptor) {
    const std::string& name = entry.name;
    if (entry.IsAes()) {
        if (entry.aesVersion != 1 && entry.aesVersion != 2)
            throw EArchiveFault(name, TEntryFault::Method, "it uses compression method 99 without a readable AES block");
        if (entry.aesStrength != aescipher::kStrength256)
            throw EArchiveFault(name, TEntryFault::Method,
                                "it uses AES with key strength " + std::to_string(entry.aesStrength) +
                                    ", which this reader lacks (only AES-256)");
    }
    if (entry.DataMethod() != kMethodStored && entry.DataMethod() != kMethodDeflated)
        throw EArchiveFault(name, TEntryFault::Method,
                            "it uses compression method " + std::to_string(entry.DataMethod()) + ", which this reader lacks");
    const uint64_t dataStart = checkLocalHeader(entry, wideDescriptor);
    if (dataStart > size_ || entry.compressedSize > size_ - dataStart)
        throw EArchiveFault(name, TEntryFault::Truncated, "its data reach past the end of the archive");
    if (entry.localHeaderOffset < centralOffset_ && dataStart + entry.compressedSize > centralOffset_)
        throw EArchiveFault(name, TEntryFault::Data, "its data run into the central directory");
    return dataStart;
}

uint64_t TArchiveReader::DataOffset(const TArchiveEntry& entry) {
    bool wideDescriptor = false;
    return locateData(entry, wideDescriptor);
}

void TArchiveReader::CheckHeaders(const TArchiveEntry& entry) {
    bool wideDescriptor = false;
    const uint64_t dataStart = locateData(entry, wideDescriptor);
    if (entry.IsAes() && entry.compressedSize < aescipher::kOverhead)
        throw EArchiveFault(entry.name, TEntryFault::Data, "its data are shorter than the AES header and code");
    if (entry.IsEncrypted() && entry.compressedSize < TTraditionalCipher::HeaderSize)
        throw EArchiveFault(entry.name, TEntryFault::Data, "its data are shorter than the encryption header");
    if (entry.flags & kFlagDataDescriptor) checkDescriptor(entry, dataStart + entry.compressedSize, wideDescriptor);
}

void TArchiveReader::Extract(const TArchiveEntry& entry, std::string_view password, const TSink& sink) {
    const std::string& name = entry.name;
    bool wideDescriptor = false;
    const uint64_t dataStart = locateData(entry, wideDescriptor);

    uint64_t remaining = entry.compressedSize;
    const bool encrypted = entry.IsEncrypted();
    if (in_.Seek(static_cast<int64_t>(dataStart), TSeekOrigin::soBeginning) != static_cast<int64_t>(dataStart))
        throw EArchiveFault(name, TEntryFault::Truncated, "its data cannot be read");
    if (encrypted && password.empty())
        throw EArchiveFault(name, TEntryFault::NoPassword, "it is encrypted and needs a password");
    if (entry.IsAes()) {
        if (remaining < aescipher::kOverhead)
            throw EArchiveFault(name, TEntryFault::Data, "its data are shorter than the AES header and code");
        uint8_t head[aescipher::kHeaderSize];
        if (in_.Read(head, sizeof head) != sizeof head)
            throw EArchiveFault(name, TEntryFault::Truncated, "its encryption header cannot be read");
        remaining -= aescipher::kOverhead;
        aescipher::TAesCipher cipher;
        if (!cipher.StartDecrypt(password, head)) throw EArchiveFault(name, TEntryFault::Password, "the password is wrong");
        auto decrypt = [&](uint8_t* data, size_t length) { cipher.Decrypt(data, length); };
        // The code covers the encrypted bytes: a fault found in the data is first weighed against it,
        // so that changed data are reported as such and not as damage of the compressed stream.
        auto verify = [&](uint64_t left) {
            while (left > 0) {
                const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, ChunkSize));
                if (in_.Read(input_.get(), chunk) != chunk)
                    throw EArchiveFault(name, TEntryFault::Truncated, "its data cannot be read to their end");
                cipher.Decrypt(input_.get(), chunk);
                left -= chunk;
            }
            uint8_t code[aescipher::kCodeSize];
            if (in_.Read(code, sizeof code) != sizeof code)
                throw EArchiveFault(name, TEntryFault::Truncated, "its authentication code cannot be read");
            if (!cipher.Verify(code))
                throw EArchiveFault(name, TEntryFault::Tampered,
                                    "the data were changed: their authentication code does not match");
        };
        const uint64_t codeAt = dataStart + aescipher::kHeaderSize + remaining;
        try {
            readData(entry, remaining, decrypt, false, sink);
        } catch (const EArchiveFault& e) {
            if (e.Fault() != TEntryFault::Data && e.Fault() != TEntryFault::Size && e.Fault() != TEntryFault::Crc) throw;
            const int64_t at = in_.Seek(0, TSeekOrigin::soCurrent);
            if (at < 0 || static_cast<uint64_t>(at) > codeAt) throw;
            verify(codeAt - static_cast<uint64_t>(at));
            throw;
        }
        verify(0);
    } else {
        TTraditionalCipher cipher;
        if (encrypted) {
            uint8_t head[TTraditionalCipher::HeaderSize];
            if (remaining < sizeof head)
                throw EArchiveFault(name, TEntryFault::Data, "its data are shorter than the encryption header");
            if (in_.Read(head, sizeof head) != sizeof head)
                throw EArchiveFault(name, TEntryFault::Truncated, "its encryption header cannot be read");
            remaining -= sizeof head;
            cipher.Init_Keys(password);
            cipher.decrypt_buff(head, sizeof head);
            // The check byte is the CRC's top byte; writers that give the CRC after the data use
            // the time's top byte instead.
            const uint8_t check = head[sizeof head - 1];
            const bool good = check == static_cast<uint8_t>(entry.crc32 >> 24) ||
                              ((entry.flags & kFlagDataDescriptor) && check == static_cast<uint8_t>(entry.dosDateTime >> 8));
            if (!good) throw EArchiveFault(name, TEntryFault::Password, "the password is wrong");
        }
        auto decrypt = [&](uint8_t* data, size_t length) {
            if (encrypted) cipher.decrypt_buff(data, length);
        };
        readData(entry, remaining, decrypt, encrypted, sink);
    }
    if (entry.flags & kFlagDataDescriptor) checkDescriptor(entry, dataStart + entry.compressedSize, wideDescriptor);
}

void TArchiveReader::readData(const TArchiveEntry& entry, uint64_t remaining,
                              const std::function<void(uint8_t*, size_t)>& decrypt, bool maybeWrongPassword,
                              const TSink& sink) {
    const std::string& name = entry.name;
    const uint16_t method = entry.DataMethod();
    // With the right password a fault of the data is damage; past the check byte a wrong one is
    // still possible (one in 256), so the message says so.
    const std::string orPassword = maybeWrongPassword ? " (or the password is wrong)" : "";
    if (method == kMethodStored && remaining != entry.uncompressedSize)
        throw EArchiveFault(name, TEntryFault::Size,
                            "it is stored in " + std::to_string(remaining) + " bytes, but its size is " +
                                std::to_string(entry.uncompressedSize));

    z_stream& z = inflater_->stream;
    if (method == kMethodDeflated) inflateReset(&z);
    uint32_t crc = 0xFFFFFFFF;
    uint64_t produced = 0;
    bool ended = method == kMethodStored;
    auto deliver = [&](const uint8_t* data, size_t length) {
        if (length > entry.uncompressedSize - produced)
            throw EArchiveFault(name, TEntryFault::Size,
                                "its data are longer than its size of " + std::to_string(entry.uncompressedSize) +
                                    " bytes" + orPassword);
        produced += length;
        crc = Update_CRC_buff(crc, data, length);
        if (sink) sink(data, length);
    };
    while (remaining > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(remaining, ChunkSize));
        if (in_.Read(input_.get(), chunk) != chunk)
            throw EArchiveFault(name, TEntryFault::Truncated, "its data cannot be read to their end");
        remaining -= chunk;
        decrypt(input_.get(), chunk);
        if (method == kMethodStored) {
            deliver(input_.get(), chunk);
        } else {
            if (ended) throw EArchiveFault(name, TEntryFault::Data, "data follow the end of its compressed stream" + orPassword);
            z.next_in = input_.get();
            z.avail_in = static_cast<uInt>(chunk);
            do {
                z.next_out = output_.get();
                z.avail_out = static_cast<uInt>(ChunkSize);
                const int result = inflate(&z, Z_NO_FLUSH);
                if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                    throw EArchiveFault(name, TEntryFault::Data,
                                        std::string("its compressed data are damaged (") + (z.msg ? z.msg : "inflate failed") +
                                            ")" + orPassword);
                deliver(output_.get(), ChunkSize - z.avail_out);
                if (result == Z_STREAM_END) {
                    ended = true;
                    break;
                }
                if (result == Z_BUF_ERROR) break;  // no progress possible: it wants more input
            } while (z.avail_in > 0 || z.avail_out == 0);
            if (ended && (z.avail_in > 0 || remaining > 0))
                throw EArchiveFault(name, TEntryFault::Data, "data follow the end of its compressed stream" + orPassword);
        }
        if (OnChunk) OnChunk(chunk);
    }
    if (!ended) throw EArchiveFault(name, TEntryFault::Data, "its compressed data end too early" + orPassword);
    if (produced != entry.uncompressedSize)
        throw EArchiveFault(name, TEntryFault::Size,
                            "its data are " + std::to_string(produced) + " bytes, but its size is " +
                                std::to_string(entry.uncompressedSize) + orPassword);
    crc ^= 0xFFFFFFFF;
    // AE-2 stores no CRC: the authentication code stands for it.
    if (entry.IsAes() && entry.aesVersion == 2) return;
    if (crc != entry.crc32)
        throw EArchiveFault(name, TEntryFault::Crc,
                            "its CRC is " + hex32(crc) + " where " + hex32(entry.crc32) + " is stored" + orPassword);
}

void TestArchiveFile(const std::string& path, std::string_view password, const std::function<void(double)>& progress) {
    TBufferedFileStream stream(path, TFileMode::fmOpenRead);
    TArchiveReader reader(stream);
    const double total = static_cast<double>(std::max<uint64_t>(reader.ArchiveSize(), 1));
    uint64_t done = 0;
    if (progress) reader.OnChunk = [&](uint64_t bytes) { progress(static_cast<double>(done += bytes) / total); };
    for (const TArchiveEntry& entry : reader.Entries()) reader.Test(entry, password);
    if (progress) progress(1.0);
}
