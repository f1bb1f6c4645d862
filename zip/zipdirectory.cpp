#include "zip/zipdirectory.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "zip/ziperrors.h"

namespace {

// The end record lies within the last 22 + 65535 bytes (its fixed part and the longest comment).
constexpr int64_t kEndSearch = TEndCentral::FixedSize + 0xFFFF;

void readAt(TStream& in, int64_t at, void* buffer, size_t count, const std::string& what) {
    if (in.Seek(at, TSeekOrigin::soBeginning) != at || in.Read(buffer, count) != count)
        throw EIncompleteZip("cannot read " + what);
}

std::string readText(TStream& in, size_t count, const std::string& what) {
    std::string text(count, '\0');
    if (count && in.Read(text.data(), count) != count) throw EIncompleteZip("cannot read " + what);
    return text;
}

// Where the end record starts within the tail: the last signature whose comment reaches exactly
// to the end of the file, else the last one whose comment fits (bytes may follow the archive).
int64_t findEndRecord(const std::vector<uint8_t>& tail) {
    int64_t loose = -1;
    TEndCentral probe;
    for (int64_t p = static_cast<int64_t>(tail.size()) - static_cast<int64_t>(TEndCentral::FixedSize); p >= 0; --p) {
        if (!probe.LoadFromBuffer(tail.data() + p)) continue;
        int64_t end = p + probe.GetEndCentralSize();
        if (end == static_cast<int64_t>(tail.size())) return p;
        if (loose < 0 && end < static_cast<int64_t>(tail.size())) loose = p;
    }
    return loose;
}

// Whether length bytes from start reach past limit (without overflowing).
bool runsPast(uint64_t start, uint64_t length, uint64_t limit) { return start > limit || length > limit - start; }

// The end record's field holds the mark of a value in the 64-bit end record, or that value itself.
bool agrees(uint64_t classic, uint64_t wide, uint64_t mark) { return classic == mark || classic == wide; }

// Takes the counts, size and offset of the 64-bit end record the locator before the end record
// points at, when there is one; returns where the central directory has to end.
int64_t readZip64End(TStream& in, int64_t endPos, TEndCentral& end) {
    if (endPos < static_cast<int64_t>(kZip64LocatorSize)) return endPos;
    const int64_t locatorPos = endPos - static_cast<int64_t>(kZip64LocatorSize);
    uint8_t locator[kZip64LocatorSize];
    readAt(in, locatorPos, locator, sizeof locator, "the record before the end record");
    const std::optional<uint64_t> at = TEndCentral::Zip64EndOffset(locator);
    if (!at) return endPos;
    if (runsPast(*at, kZip64EndSize, static_cast<uint64_t>(locatorPos)))
        throw EIncompleteZip("the locator of the 64-bit end record points outside the archive");
    uint8_t record[kZip64EndSize];
    readAt(in, static_cast<int64_t>(*at), record, sizeof record, "the 64-bit end record");
    TEndCentral wide = end;
    if (!HasSignature(record, kZip64EndSig)) throw EIncompleteZip("the locator does not point at a 64-bit end record");
    if (!wide.LoadZip64FromBuffer(record)) throw EIncompleteZip("the archive spans several disks");
    if (!agrees(end.entries_this_disk, wide.entries_this_disk, kZip64Mark16) ||
        !agrees(end.total_entries, wide.total_entries, kZip64Mark16) ||
        !agrees(end.central_size, wide.central_size, kZip64Mark32) ||
        !agrees(end.central_offset, wide.central_offset, kZip64Mark32))
        throw EIncompleteZip("the 64-bit end record and the end record disagree");
    end.entries_this_disk = wide.entries_this_disk;
    end.total_entries = wide.total_entries;
    end.central_size = wide.central_size;
    end.central_offset = wide.central_offset;
    return static_cast<int64_t>(*at);
}

// A name the writer will not carry over: one no reader can place, or one that would be extracted
// outside the folder it is extracted into.
const char* badName(const std::string& name, bool allowParentParts) {
    if (name.empty()) return "an empty name";
    if (name.find('\0') != std::string::npos) return "a name with a zero byte";
    if (name[0] == '/' || name[0] == '\\') return "an absolute name";
    return !allowParentParts && HasParentPart(name) ? "a name with a \"..\" part" : nullptr;
}

}  // namespace

bool HasParentPart(const std::string& name) {
    for (size_t from = 0;;) {
        size_t sep = name.find_first_of("/\\", from);
        if (name.compare(from, sep == std::string::npos ? std::string::npos : sep - from, "..") == 0) return true;
        if (sep == std::string::npos) return false;
        from = sep + 1;
    }
}

void ReadZipDirectory(TStream& in, bool oemConvert, TSortedZip& entries, TEndCentral& end, bool allowParentParts) {
    entries.Clear();
    end.Clear();
    const int64_t size = in.Size();
    if (size < 0) throw EIncompleteZip("the size of the archive cannot be read");
    if (size == 0) return;  // an empty file is an archive without entries
    if (size < static_cast<int64_t>(TEndCentral::FixedSize)) throw EIncompleteZip("the file is too short to be an archive");

    std::vector<uint8_t> tail(static_cast<size_t>(std::min(size, kEndSearch)));
    const int64_t tailStart = size - static_cast<int64_t>(tail.size());
    readAt(in, tailStart, tail.data(), tail.size(), "the end of the archive");
    const int64_t found = findEndRecord(tail);
    if (found < 0) throw EIncompleteZip("no end record");
    const uint8_t* e = tail.data() + found;
    const int64_t endPos = tailStart + found;
    end.LoadFromBuffer(e);
    // The comment exactly as stored (it may hold zero bytes).
    end.zip_comment = std::string(reinterpret_cast<const char*>(e) + TEndCentral::FixedSize, end.zip_comment_length);
    end.comment_position = endPos + static_cast<int64_t>(TEndCentral::FixedSize);

    const int64_t directoryLimit = readZip64End(in, endPos, end);
    if (end.this_disk != 0 || end.central_disk != 0 || end.entries_this_disk != end.total_entries)
        throw EIncompleteZip("the archive spans several disks");
    if (runsPast(end.central_offset, end.central_size, static_cast<uint64_t>(directoryLimit)))
        throw EIncompleteZip("the central directory runs past the end record");
    const uint64_t centralEnd = end.central_offset + end.central_size;
    if (end.total_entries > end.central_size / TZipHeaderInfo::CentralFixedSize)
        throw EIncompleteZip("the end record claims more entries than the central directory holds");

    TSortedZipView names(TZipSortMode::ByName);
    uint64_t at = end.central_offset;
    std::string extra;
    for (uint64_t i = 0; i < end.total_entries; ++i) {
        const std::string which = "central header " + std::to_string(i + 1);
        if (at + TZipHeaderInfo::CentralFixedSize > centralEnd) throw EIncompleteZip(which + " lies past the central directory");
        uint8_t h[TZipHeaderInfo::CentralFixedSize];
        readAt(in, static_cast<int64_t>(at), h, sizeof h, which);
        auto rec = std::make_unique<TZipHeaderInfo>();
        rec->SetOEMFlag(oemConvert);
        if (!rec->LoadCentralFromBuffer(h)) throw EIncompleteZip(which + " has no signature");
        rec->central_header_offset = at;
        const uint64_t next = at + rec->GetCentralSize();
        if (next > centralEnd) throw EIncompleteZip(which + " runs past the central directory");

        std::string name = readText(in, rec->filename_length, "the name of " + which);
        if (const char* why = badName(name, allowParentParts)) throw EIncompleteZip(which + " has " + why);
        if (rec->uncompressed_size == kZip64Mark32 || rec->compressed_size == kZip64Mark32 ||
            rec->local_header_offset == kZip64Mark32 || rec->disk_number_start == kZip64Mark16) {
            // Values held in the 64-bit block of the extra field, which follows the name.
            extra = readText(in, rec->central_extra_length, "the extra field of " + which);
            if (!rec->LoadZip64FromCentralExtra(extra))
                throw EIncompleteZip(which + " has a 64-bit extra block shorter than the values it must hold");
        }
        if (rec->file_comment_length) {
            const uint64_t commentAt = next - rec->file_comment_length;
            std::string comment(rec->file_comment_length, '\0');
            readAt(in, static_cast<int64_t>(commentAt), comment.data(), comment.size(), "the comment of " + which);
            rec->filecomment = std::move(comment);
        }
        rec->LoadStoredName(name);
        if (rec->disk_number_start != 0) throw EIncompleteZip(which + " names another disk");
        if (runsPast(rec->local_header_offset, TZipHeaderInfo::LocalFixedSize + rec->compressed_size, end.central_offset) ||
            rec->compressed_size > end.central_offset)
            throw EIncompleteZip("the data of \"" + name + "\" run into the central directory");
        if (entries.Find(*rec)) throw EIncompleteZip("two entries start at the same place");
        names.Add(*rec);  // raises "Duplicate Object index" for a second entry of the same name
        entries.Add(std::move(rec));
        at = next;
    }

    // Entries in the order of their places: none may reach into the next one (the last one was
    // checked against the central directory above).
    for (size_t i = 0; i + 1 < entries.Count(); ++i) {
        const TZipHeaderInfo& rec = *entries.Items(i);
        const TZipHeaderInfo& following = *entries.Items(i + 1);
        if (rec.local_header_offset + TZipHeaderInfo::LocalFixedSize + rec.compressed_size > following.local_header_offset)
            throw EIncompleteZip("the entries \"" + rec.StoredName() + "\" and \"" + following.StoredName() + "\" overlap");
    }
}
