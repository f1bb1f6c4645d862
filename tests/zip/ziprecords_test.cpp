#include "zip/ziprecords.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "testsupport.h"
#include "zip/ziperrors.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint16_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void put32(Bytes& b, uint32_t v) { put16(b, uint16_t(v)), put16(b, uint16_t(v >> 16)); }
void putText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// A file entry as the writer makes it after the data step.
TZipHeaderInfo sampleEntry() {
    TZipHeaderInfo h;
    h.SetOEMFlag(true);
    h.Setdirectory("Sub");
    h.Setfilename("a.txt");
    h.compression_method = 0;
    h.last_mod_datetime = 0x58A96C3D;
    h.crc32 = 0xCBF43926;
    h.compressed_size = h.uncompressed_size = 9;
    h.internal_attributes = 0;
    h.external_attributes = 0x21;
    return h;
}

TEST(ZipRecords, CrcMatchesTheZipCheckValueAndZlib) {
    const std::string check = "123456789";
    EXPECT_EQ(~Update_CRC_buff(0xFFFFFFFF, reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
    EXPECT_EQ(CRC_32_TAB[1], 0x77073096u);
    // The eight-byte steps agree with zlib and with UpdCRC for every length and alignment.
    Bytes data = testsupport::randomBytes(4096 + 7, 42);
    for (size_t start = 0; start < 8; ++start)
        for (size_t len : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(9), size_t(63), size_t(4096)}) {
            uint32_t bytewise = 0xFFFFFFFF;
            for (size_t i = 0; i < len; ++i) bytewise = UpdCRC(data[start + i], bytewise);
            uint32_t sliced = Update_CRC_buff(0xFFFFFFFF, data.data() + start, len);
            ASSERT_EQ(sliced, bytewise) << start << "+" << len;
            ASSERT_EQ(~sliced, crc32(0, data.data() + start, uInt(len))) << start << "+" << len;
        }
}

TEST(ZipRecords, ClearGivesTheDefaults) {
    TZipHeaderInfo h = sampleEntry();
    h.Clear();
    EXPECT_EQ(h.version_made_by, 20);
    EXPECT_EQ(h.version_needed, 20);
    EXPECT_EQ(h.general_purpose_flag, 0);
    EXPECT_EQ(h.compression_method, 8);
    EXPECT_EQ(h.crc32, 0xFFFFFFFFu);
    EXPECT_EQ(h.internal_attributes, 1);
    EXPECT_EQ(h.external_attributes, 0x20u);
    EXPECT_EQ(h.filename_length, 0);
    EXPECT_EQ(h.StoredName(), "");
    EXPECT_FALSE(h.OEMFlag());
    EXPECT_FALSE(h.filecomment.has_value());
}

TEST(ZipRecords, LocalHeaderBytes) {
    TZipHeaderInfo h = sampleEntry();
    TMemoryStream s;
    Bytes prefix(5, 0xAA);
    s.Write(prefix.data(), prefix.size());
    h.SaveLocalToStream(s);
    EXPECT_EQ(h.local_header_offset, 5u);
    Bytes expected = prefix;
    put32(expected, 0x04034B50), put16(expected, 20), put16(expected, 0), put16(expected, 0);
    put32(expected, 0x58A96C3D), put32(expected, 0xCBF43926), put32(expected, 9), put32(expected, 9);
    put16(expected, 9), put16(expected, 0), putText(expected, "Sub/a.txt");
    EXPECT_EQ(s.Data(), expected);
    EXPECT_EQ(h.GetLocalSize(), 39u);
    // Written again at the same place (the patch after the data), it covers the same bytes.
    h.crc32 = 1;
    s.Seek(5, TSeekOrigin::soBeginning);
    h.SaveLocalToStream(s);
    EXPECT_EQ(s.Data().size(), expected.size());
    EXPECT_EQ(s.Data()[5 + 14], 1);
}

TEST(ZipRecords, CentralHeaderBytes) {
    TZipHeaderInfo h = sampleEntry();
    h.local_header_offset = 0x01020304;
    TMemoryStream s;
    h.SaveCentralToStream(s);
    Bytes expected;
    put32(expected, 0x02014B50), put16(expected, 20), put16(expected, 20), put16(expected, 0), put16(expected, 0);
    put32(expected, 0x58A96C3D), put32(expected, 0xCBF43926), put32(expected, 9), put32(expected, 9);
    put16(expected, 9), put16(expected, 0), put16(expected, 0), put16(expected, 0), put16(expected, 0);
    put32(expected, 0x21), put32(expected, 0x01020304), putText(expected, "Sub/a.txt");
    EXPECT_EQ(s.Data(), expected);
    EXPECT_EQ(h.GetCentralSize(), 55u);
}

TEST(ZipRecords, EndRecordBytes) {
    TEndCentral e;
    TMemoryStream empty;
    e.SaveToStream(empty);
    Bytes expected = {0x50, 0x4B, 0x05, 0x06};
    expected.resize(22, 0);
    EXPECT_EQ(empty.Data(), expected);

    e.total_entries = e.entries_this_disk = 2;
    e.central_size = 0x70;
    e.central_offset = 0x1234;
    e.SetNewZipComment(std::string("note\0tail", 9));  // the comment ends at its zero byte
    EXPECT_EQ(e.GetEndCentralSize(), 26u);
    TMemoryStream s;
    e.SaveToStream(s);
    expected = {};
    put32(expected, 0x06054B50), put16(expected, 0), put16(expected, 0), put16(expected, 2), put16(expected, 2);
    put32(expected, 0x70), put32(expected, 0x1234), put16(expected, 4), putText(expected, "note");
    EXPECT_EQ(s.Data(), expected);
}

TEST(ZipRecords, HeadersAndEndRecordLoadFromTheirBytes) {
    Bytes local;
    put32(local, 0x04034B50), put16(local, 20), put16(local, 0x0809), put16(local, 8);
    put32(local, 0x58A96C3D), put32(local, 0xCBF43926), put32(local, 0x10203), put32(local, 0x40506);
    put16(local, 9), put16(local, 0x1234);
    TZipHeaderInfo h;
    ASSERT_TRUE(h.LoadLocalFromBuffer(local.data()));
    EXPECT_EQ(h.version_needed, 20);
    EXPECT_EQ(h.general_purpose_flag, 0x0809);
    EXPECT_TRUE(h.GetIsEncrypted());
    EXPECT_TRUE(h.GetHasDescriptor());
    EXPECT_EQ(h.compression_method, kMethodDeflated);
    EXPECT_EQ(h.last_mod_datetime, 0x58A96C3Du);
    EXPECT_EQ(h.crc32, 0xCBF43926u);
    EXPECT_EQ(h.compressed_size, 0x10203u);
    EXPECT_EQ(h.uncompressed_size, 0x40506u);
    EXPECT_EQ(h.filename_length, 9);
    EXPECT_EQ(h.local_extra_length, 0x1234);
    EXPECT_EQ(h.GetLocalSize(), 30u + 9 + 0x1234);

    Bytes central;
    put32(central, 0x02014B50), put16(central, 0x0314), put16(central, 20), put16(central, 2), put16(central, 0);
    put32(central, 0x58A96C3D), put32(central, 0xCBF43926), put32(central, 9), put32(central, 10);
    put16(central, 9), put16(central, 5), put16(central, 6), put16(central, 7), put16(central, 1);
    put32(central, 0x81A40000), put32(central, 0x01020304);
    TZipHeaderInfo c;
    ASSERT_TRUE(c.LoadCentralFromBuffer(central.data()));
    EXPECT_EQ(c.version_made_by, 0x0314);
    EXPECT_EQ(c.general_purpose_flag, kFlagDeflateMaximum);
    EXPECT_EQ(c.compression_method, kMethodStored);
    EXPECT_EQ(c.compressed_size, 9u);
    EXPECT_EQ(c.uncompressed_size, 10u);
    EXPECT_EQ(c.central_extra_length, 5);
    EXPECT_EQ(c.file_comment_length, 6);
    EXPECT_EQ(c.disk_number_start, 7);
    EXPECT_EQ(c.internal_attributes, kInternalText);
    EXPECT_EQ(c.external_attributes, 0x81A40000u);
    EXPECT_EQ(c.local_header_offset, 0x01020304u);
    EXPECT_EQ(c.GetCentralSize(), 46u + 9 + 5 + 6);
    c.central_header_offset = 100;
    EXPECT_EQ(c.GetCentralExtraPosition(), 100u + 46 + 9);

    Bytes end;
    put32(end, 0x06054B50), put16(end, 1), put16(end, 2), put16(end, 3), put16(end, 4);
    put32(end, 0x70), put32(end, 0x1234), put16(end, 8);
    TEndCentral e;
    ASSERT_TRUE(e.LoadFromBuffer(end.data()));
    EXPECT_EQ(e.this_disk, 1);
    EXPECT_EQ(e.central_disk, 2);
    EXPECT_EQ(e.entries_this_disk, 3);
    EXPECT_EQ(e.total_entries, 4);
    EXPECT_EQ(e.central_size, 0x70u);
    EXPECT_EQ(e.central_offset, 0x1234u);
    EXPECT_EQ(e.GetEndCentralSize(), 30u);

    // Each record refuses the bytes of another.
    EXPECT_FALSE(TZipHeaderInfo().LoadLocalFromBuffer(central.data()));
    EXPECT_FALSE(TZipHeaderInfo().LoadCentralFromBuffer(local.data()));
    EXPECT_FALSE(TEndCentral().LoadFromBuffer(local.data()));
    EXPECT_TRUE(HasSignature(end.data(), ENDSIG));
    EXPECT_FALSE(HasSignature(end.data(), LOCSIG));
}

TEST(ZipRecords, ADataDescriptorBelongsToItsEntryByItsCrcAndSizes) {
    TZipHeaderInfo h = sampleEntry();  // CRC 0xCBF43926, 9 bytes each
    auto d32 = [](bool sig, uint32_t crc, uint32_t size) {
        Bytes d;
        if (sig) put32(d, 0x08074B50);
        put32(d, crc), put32(d, size), put32(d, size);
        return d;
    };
    auto d64 = [](bool sig, uint32_t crc, uint32_t size) {
        Bytes d;
        if (sig) put32(d, 0x08074B50);
        put32(d, crc), put32(d, size), put32(d, 0), put32(d, size), put32(d, 0);
        return d;
    };
    struct Case {
        const char* name;
        Bytes bytes;
        size_t size;
    } cases[] = {
        {"with its signature", d32(true, 0xCBF43926, 9), 16},
        {"without a signature", d32(false, 0xCBF43926, 9), 12},
        {"64-bit sizes with its signature", d64(true, 0xCBF43926, 9), 24},
        {"64-bit sizes without a signature", d64(false, 0xCBF43926, 9), 20},
        {"the signature and another CRC", d32(true, 0x12345678, 9), 0},
        {"another CRC", d32(false, 0x12345678, 9), 0},
        {"other sizes", d32(true, 0xCBF43926, 8), 0},
        {"64-bit sizes cut short", d64(true, 0xCBF43926, 9), 0},
    };
    cases[7].bytes.pop_back();
    for (const Case& c : cases) {
        Bytes d = c.bytes;
        d.resize(24, 0xEE);  // what follows the descriptor
        EXPECT_EQ(h.DataDescriptorSize(d.data(), c.bytes.size()), c.size) << c.name;
    }
}

TEST(ZipRecords, ExtraFieldBlocksAreFoundByTheirId) {
    auto block = [](uint16_t id, const std::string& data) {
        Bytes b;
        put16(b, id), put16(b, uint16_t(data.size())), putText(b, data);
        return std::string(b.begin(), b.end());
    };
    const std::string field = block(0x5455, "time!") + block(0x0001, "12345678") + block(0x7875, "");
    struct Case {
        const char* name;
        std::string extra;
        uint16_t id;
        std::optional<std::string> data;
    } cases[] = {
        {"the first block", field, 0x5455, "time!"},
        {"a block after another", field, 0x0001, "12345678"},
        {"an empty block", field, 0x7875, ""},
        {"an id that is not there", field, 0x9901, std::nullopt},
        {"an empty field", "", 0x0001, std::nullopt},
        {"a block running past the field", field.substr(0, field.size() - 1) + block(0x0001, "x").substr(0, 3), 0x7875,
         std::nullopt},
        {"a block behind one that runs past the field", block(0x5455, "abc").substr(0, 6) + block(0x0001, "x"), 0x0001,
         std::nullopt},
        {"a head cut short", std::string("\x01\x00\x02", 3), 0x0001, std::nullopt},
    };
    for (const Case& c : cases) {
        auto found = FindExtraBlock(c.extra, c.id);
        EXPECT_EQ(found.has_value(), c.data.has_value()) << c.name;
        if (found && c.data) {
            EXPECT_EQ(std::string(*found), *c.data) << c.name;
        }
    }
}

struct NameCase {
    const char* name;
    bool oem;
    const char* directory;
    const char* filename;
    std::string stored;
    bool utf8Flag;
};

TEST(ZipRecords, StoredNamesAndTheirEncoding) {
    const NameCase cases[] = {
        {"ascii with OEM", true, "Docs", "a.txt", "Docs/a.txt", false},
        // Linux has no OEM code page: a name outside ASCII is stored as UTF-8 with bit 11, also
        // one that CP437 could hold (which every reader on Linux would restore wrong).
        {"name cp437 could hold", true, "", "caf\xC3\xA9.txt", "caf\xC3\xA9.txt", true},
        {"name cp437 lacks", true, "\xE6\x97\xA5", "\xE2\x82\xAC.txt", "\xE6\x97\xA5/\xE2\x82\xAC.txt", true},
        {"without OEM: utf-8", false, "", "caf\xC3\xA9.txt", "caf\xC3\xA9.txt", true},
        {"without OEM: ascii", false, "", "a.txt", "a.txt", false},
        {"bytes that are not utf-8", true, "", "caf\xE9", "caf\xE9", false},
        {"folder entry", true, "Sub/Deep/", "", "Sub/Deep/", false},
    };
    for (const NameCase& c : cases) {
        TZipHeaderInfo h;
        h.SetOEMFlag(c.oem);
        h.Setdirectory(c.directory);
        h.Setfilename(c.filename);
        EXPECT_EQ(h.StoredName(), c.stored) << c.name;
        EXPECT_EQ(h.filename_length, c.stored.size()) << c.name;
        EXPECT_EQ(bool(h.general_purpose_flag & kLanguageEncodingFlag), c.utf8Flag) << c.name;
        // UTF-8 names name NTFS as their origin so that every reader honours the flag.
        EXPECT_EQ(h.version_made_by, c.utf8Flag ? 0x0B14 : 0x0014) << c.name;
    }
}

TEST(ZipRecords, AssignKeepsTheTargetsNamesAndCopiesTheComment) {
    TZipHeaderInfo source = sampleEntry();
    source.filecomment = "remark";
    source.file_comment_length = 6;
    TZipHeaderInfo target;
    target.Setfilename("other.bin");
    target.Assign(source);
    EXPECT_EQ(target.crc32, source.crc32);
    EXPECT_EQ(target.external_attributes, 0x21u);
    EXPECT_EQ(target.StoredName(), "other.bin");
    EXPECT_EQ(target.filename_length, 9);
    EXPECT_FALSE(target.OEMFlag());
    EXPECT_EQ(target.filecomment, "remark");
}

TEST(ZipRecords, ShortWritesRaiseNotEnoughRoom) {
    // A stream that takes only the first bytes it is given.
    class Full : public TMemoryStream {
    public:
        size_t Write(const void* b, size_t n) override {
            size_t take = std::min(n, room);
            room -= take;
            return TMemoryStream::Write(b, take);
        }
        size_t room = 35;
    };
    TZipHeaderInfo h = sampleEntry();
    Full local, central, end;
    EXPECT_THROW(h.SaveLocalToStream(local), ENotEnoughRoom);
    EXPECT_THROW(h.SaveCentralToStream(central), ENotEnoughRoom);
    end.room = 10;
    EXPECT_THROW(TEndCentral().SaveToStream(end), ENotEnoughRoom);
}

TEST(ZipRecords, DateOutsideTheRangeIsZero) {
    TZipHeaderInfo h;
    h.SetDateTime(4102444800);  // 2100-01-01
    EXPECT_EQ(h.last_mod_datetime, 0u);
}

}  // namespace

namespace {
void put64(Bytes& b, uint64_t v) { put32(b, uint32_t(v)), put32(b, uint32_t(v >> 32)); }
}  // namespace

// Only the values that reach 0xFFFFFFFF move to the central header's 64-bit block, in the
// format's order; the block's values come back when the header is read.
TEST(ZipRecords, TheCentralBlockHoldsOnlyTheValuesThatOverflow) {
    const uint64_t big = 0x123456789ull, mark = 0xFFFFFFFFull;
    struct Case {
        const char* name;
        uint64_t size, compressed, offset;
        std::vector<uint64_t> block;
    } cases[] = {
        {"all fit", 10, 9, 0xFFFFFFFE, {}},
        {"offset at the mark", 10, 9, mark, {mark}},
        {"uncompressed size only", big, 9, 5, {big}},
        {"compressed size only", 10, big, 5, {big}},
        {"both sizes", big + 1, big, 5, {big + 1, big}},
        {"all three", big + 2, big + 1, big, {big + 2, big + 1, big}},
    };
    for (const Case& c : cases) {
        TZipHeaderInfo h = sampleEntry();
        h.uncompressed_size = c.size, h.compressed_size = c.compressed, h.local_header_offset = c.offset;
        const uint16_t block = h.GetCentralZip64Size();
        EXPECT_EQ(block, c.block.empty() ? 0u : 4 + 8 * c.block.size()) << c.name;
        const std::string other("\x99\x99\x01\x00Z", 5);  // another block, carried after the 64-bit one
        h.central_extra_length = uint16_t(block + other.size());
        TMemoryStream s;
        h.SaveCentralToStream(s, other);
        const Bytes& b = s.Data();
        ASSERT_EQ(b.size(), 46u + 9 + block + other.size()) << c.name;
        Bytes expected;
        for (uint64_t v : {c.compressed, c.size, c.offset}) put32(expected, uint32_t(std::min(v, mark)));
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 8, b.begin() + 20)) << c.name;
        EXPECT_TRUE(std::equal(expected.begin() + 8, expected.end(), b.begin() + 42)) << c.name;
        if (block) {
            Bytes wanted;
            put16(wanted, 1), put16(wanted, uint16_t(block - 4));
            for (uint64_t v : c.block) put64(wanted, v);
            EXPECT_TRUE(std::equal(wanted.begin(), wanted.end(), b.begin() + 46 + 9)) << c.name;
        }
        TZipHeaderInfo back;
        ASSERT_TRUE(back.LoadCentralFromBuffer(b.data()));
        const std::string extra(b.begin() + 46 + 9, b.end());
        ASSERT_TRUE(back.LoadZip64FromCentralExtra(extra)) << c.name;
        EXPECT_EQ(back.uncompressed_size, c.size) << c.name;
        EXPECT_EQ(back.compressed_size, c.compressed) << c.name;
        EXPECT_EQ(back.local_header_offset, c.offset) << c.name;
        // A block one value short of the marks is refused.
        if (block) {
            std::string cut = extra.substr(0, block - 8);
            cut[2] = char(block - 12);
            TZipHeaderInfo shortened;
            ASSERT_TRUE(shortened.LoadCentralFromBuffer(b.data()));
            EXPECT_FALSE(shortened.LoadZip64FromCentralExtra(cut)) << c.name;
        }
    }
}

TEST(ZipRecords, AReservedLocalHeaderMarksBothSizesAndHoldsThemInItsBlock) {
    TZipHeaderInfo h = sampleEntry();
    h.local_zip64 = true;
    h.local_extra_length = kZip64LocalExtraSize;
    h.uncompressed_size = 0xFFFFFFF0;
    h.compressed_size = 0x100000004ull;
    TMemoryStream s;
    h.SaveLocalToStream(s);
    Bytes expected;
    put32(expected, 0x04034B50), put16(expected, 20), put16(expected, 0), put16(expected, 0);
    put32(expected, 0x58A96C3D), put32(expected, 0xCBF43926), put32(expected, 0xFFFFFFFF), put32(expected, 0xFFFFFFFF);
    put16(expected, 9), put16(expected, 20), putText(expected, "Sub/a.txt");
    put16(expected, 1), put16(expected, 16), put64(expected, 0xFFFFFFF0), put64(expected, 0x100000004ull);
    EXPECT_EQ(s.Data(), expected);
}

// The 64-bit end record and its locator come before the end record exactly when a count passes
// 65535 or the directory's size or offset reaches 0xFFFFFFFF; the end record then holds marks.
TEST(ZipRecords, TheEndRecordGetsIts64BitRecordOnlyWhenAValueOverflows) {
    struct Case {
        const char* name;
        uint64_t entries, size, offset;
        bool zip64;
    } cases[] = {
        {"65535 entries", 65535, 100, 200, false},
        {"65536 entries", 65536, 100, 200, true},
        {"size below the mark", 3, 0xFFFFFFFE, 200, false},
        {"size at the mark", 3, 0xFFFFFFFF, 200, true},
        {"offset at the mark", 3, 100, 0xFFFFFFFF, true},
        {"offset past 4 GiB", 3, 100, 0x500000000ull, true},
    };
    for (const Case& c : cases) {
        TEndCentral e;
        e.total_entries = e.entries_this_disk = c.entries;
        e.central_size = c.size;
        e.central_offset = c.offset;
        EXPECT_EQ(e.NeedsZip64(), c.zip64) << c.name;
        TMemoryStream s;
        s.Write("0123456789", 10);  // the record's place is its offset in the stream
        e.SaveToStream(s);
        const Bytes& b = s.Data();
        ASSERT_EQ(b.size(), 10 + 22 + (c.zip64 ? 56u + 20 : 0u)) << c.name;
        TEndCentral classic;
        ASSERT_TRUE(classic.LoadFromBuffer(b.data() + b.size() - 22));
        EXPECT_EQ(classic.total_entries, std::min<uint64_t>(c.entries, 0xFFFF)) << c.name;
        EXPECT_EQ(classic.central_size, std::min<uint64_t>(c.size, 0xFFFFFFFF)) << c.name;
        EXPECT_EQ(classic.central_offset, std::min<uint64_t>(c.offset, 0xFFFFFFFF)) << c.name;
        if (!c.zip64) continue;
        const std::optional<uint64_t> at = TEndCentral::Zip64EndOffset(b.data() + b.size() - 42);
        ASSERT_TRUE(at.has_value()) << c.name;
        EXPECT_EQ(*at, 10u) << c.name;
        TEndCentral wide;
        ASSERT_TRUE(wide.LoadZip64FromBuffer(b.data() + *at)) << c.name;
        EXPECT_EQ(wide.total_entries, c.entries) << c.name;
        EXPECT_EQ(wide.entries_this_disk, c.entries) << c.name;
        EXPECT_EQ(wide.central_size, c.size) << c.name;
        EXPECT_EQ(wide.central_offset, c.offset) << c.name;
        EXPECT_EQ(b[10 + 12], 45) << c.name;  // version made by
        EXPECT_EQ(b[10 + 14], 45) << c.name;  // version needed
    }
    EXPECT_FALSE(TEndCentral::Zip64EndOffset(Bytes(20, 0).data()).has_value());
}

TEST(ZipRecords, ExtraBlocksOfOneIdAreTakenOut) {
    const std::string a("\x01\x00\x02\x00xy", 6), b("\x0A\x00\x01\x00z", 5), loose("\x07\x00\x09", 3);
    EXPECT_EQ(WithoutExtraBlock(a + b, 1), b);
    EXPECT_EQ(WithoutExtraBlock(b + a + b, 1), b + b);
    EXPECT_EQ(WithoutExtraBlock(b, 1), b);
    EXPECT_EQ(WithoutExtraBlock(a + loose, 1), loose);  // bytes that make no block stay
    EXPECT_EQ(WithoutExtraBlock("", 1), "");
}
