#include "zip/zipdirectory.h"

#include <gtest/gtest.h>

#include "zip/ziperrors.h"

namespace {

uint32_t dos(int year, int month, int day, int hour, int minute, int second2) {
    return uint32_t(year - 1980) << 25 | uint32_t(month) << 21 | uint32_t(day) << 16 | uint32_t(hour) << 11 |
           uint32_t(minute) << 5 | uint32_t(second2);
}

TEST(ZipDirectory, GoodTimeStampRepairsEachFieldAlone) {
    struct Case {
        uint32_t given, repaired;
    } cases[] = {
        {dos(2024, 2, 29, 23, 59, 29), dos(2024, 2, 29, 23, 59, 29)},
        {0, dos(1980, 1, 1, 0, 0, 0)},
        {0xFFFFFFFF, dos(2099, 12, 31, 23, 59, 29)},
        {dos(2030, 13, 0, 24, 60, 30), dos(2030, 12, 1, 23, 59, 29)},
        {dos(2100, 6, 15, 12, 30, 10), dos(2099, 6, 15, 12, 30, 10)},
    };
    for (const Case& c : cases) EXPECT_EQ(GoodTimeStamp(c.given), c.repaired) << std::hex << c.given;
}

// An archive of stored entries, each given by its stored name bytes, flag and system of origin.
struct Named {
    std::string stored;
    uint16_t flag;
    uint8_t host;
};

TMemoryStream archiveOf(const std::vector<Named>& names, const std::string& comment, const std::string& after = "") {
    TMemoryStream out;
    std::vector<TZipHeaderInfo> records(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        TZipHeaderInfo& h = records[i];
        h.Setfilename(names[i].stored);  // ASCII-safe: the bytes are taken as they are
        h.compression_method = 0;
        h.crc32 = 0;
        h.SaveLocalToStream(out);
    }
    TEndCentral end;
    end.central_offset = uint32_t(out.Position());
    for (size_t i = 0; i < names.size(); ++i) {
        TZipHeaderInfo& h = records[i];
        h.general_purpose_flag = names[i].flag;
        h.version_made_by = uint16_t(names[i].host << 8 | 20);
        h.LoadStoredName(names[i].stored);
        h.SaveCentralToStream(out);
    }
    end.central_size = uint32_t(out.Position() - end.central_offset);
    end.total_entries = end.entries_this_disk = uint16_t(names.size());
    end.zip_comment = comment;
    end.zip_comment_length = uint16_t(comment.size());
    end.SaveToStream(out);
    out.Write(after.data(), after.size());
    return out;
}

TEST(ZipDirectory, NamesAreDecodedAsTheirWriterMeantThem) {
    TMemoryStream in = archiveOf({{"caf\x82.txt", 0, 0},                          // CP437 from FAT
                                  {"dir/\xC3\xA9t\xC3\xA9.txt", 0x800, 11},        // UTF-8 with bit 11
                                  {"raw/\xE9t\xE9", 0, 3}},                       // bytes from Unix
                                 "");
    TSortedZip entries(TZipSortMode::ByNone);
    TEndCentral end;
    ReadZipDirectory(in, true, entries, end);
    ASSERT_EQ(entries.Count(), 3u);
    EXPECT_EQ(entries.Items(0)->filename(), "caf\xC3\xA9.txt");
    EXPECT_EQ(entries.Items(0)->StoredName(), "caf\x82.txt");
    EXPECT_EQ(entries.Items(1)->directory(), "dir/");
    EXPECT_EQ(entries.Items(1)->filename(), "\xC3\xA9t\xC3\xA9.txt");
    EXPECT_EQ(entries.Items(2)->filename(), "\xE9t\xE9");
    EXPECT_EQ(entries.Items(2)->general_purpose_flag, 0);
    EXPECT_EQ(entries.Items(2)->version_made_by >> 8, 3);
}

TEST(ZipDirectory, TheEndRecordIsFoundPastCommentsAndTrailingBytes) {
    const std::string signature("PK\x05\x06", 4);
    struct Case {
        const char* what;
        std::string comment, after;
    } cases[] = {
        {"plain", "", ""},
        {"a comment holding the signature", "note " + signature + std::string(18, '\0') + " end", ""},
        {"a comment with zero bytes", std::string("a\0b", 3), ""},
        {"bytes after the archive", "", "trailing"},
    };
    for (const Case& c : cases) {
        TMemoryStream in = archiveOf({{"a.txt", 0, 0}}, c.comment, c.after);
        TSortedZip entries(TZipSortMode::ByNone);
        TEndCentral end;
        ReadZipDirectory(in, true, entries, end);
        EXPECT_EQ(entries.Count(), 1u) << c.what;
        EXPECT_EQ(end.zip_comment.value_or(""), c.comment) << c.what;
    }
}

TEST(ZipDirectory, EmptyAndTinyFiles) {
    TSortedZip entries(TZipSortMode::ByNone);
    TEndCentral end;
    TMemoryStream empty;
    ReadZipDirectory(empty, true, entries, end);
    EXPECT_EQ(entries.Count(), 0u);
    for (size_t n : {1, 21}) {
        TMemoryStream tiny;
        tiny.Write(std::string(n, 'P').data(), n);
        EXPECT_THROW(ReadZipDirectory(tiny, true, entries, end), EIncompleteZip) << n;
    }
}

}  // namespace
