#include "zip/sortedzip.h"

#include <gtest/gtest.h>

#include "zip/ziperrors.h"

namespace {

TZipHeaderInfo* entry(const char* dir, const char* name, uint32_t offset, uint32_t size = 0) {
    auto* h = new TZipHeaderInfo;
    h->Setdirectory(dir);
    h->Setfilename(name);
    h->local_header_offset = offset;
    h->uncompressed_size = size;
    return h;
}

TEST(SortedZip, NamesDifferingOnlyInCaseAreDifferentKeys) {
    TSortedZip names(TZipSortMode::ByName, true);
    names.Add(entry("Docs", "Readme.txt", 0));
    names.Add(entry("Docs", "README.txt", 1));
    names.Add(entry("docs", "Readme.txt", 2));
    EXPECT_EQ(names.Count(), 3u);
    EXPECT_THROW(names.Add(entry("Docs", "Readme.txt", 3)), EListError);
    TZipHeaderInfo key;
    key.Setdirectory("docs");
    key.Setfilename("Readme.txt");
    ASSERT_NE(names.Find(key), nullptr);
    EXPECT_EQ(names.Find(key)->local_header_offset, 2u);
}

TEST(SortedZip, PositionOrderAndOtherPresentations) {
    TSortedZip list(TZipSortMode::ByNone, true);
    list.Add(entry("", "c", 200, 1));
    list.Add(entry("", "a", 0, 3));
    list.Add(entry("", "b", 100, 2));
    EXPECT_THROW(list.Add(entry("", "d", 100)), EListError);
    auto order = [&] {
        std::string s;
        for (size_t i = 0; i < list.Count(); ++i) s += list.Items(i)->filename();
        return s;
    };
    EXPECT_EQ(order(), "abc");
    list.Sort(TZipSortMode::ByUnCompressedSize);
    EXPECT_EQ(order(), "cba");
    list.Sort(TZipSortMode::ByNone);
    EXPECT_EQ(order(), "abc");
    TSortedZip other(TZipSortMode::ByNone, true);
    other.TakeFrom(list);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(other.Count(), 3u);
}

}  // namespace
