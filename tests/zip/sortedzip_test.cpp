#include "zip/sortedzip.h"

#include <gtest/gtest.h>

#include "zip/ziperrors.h"

namespace {

std::unique_ptr<TZipHeaderInfo> entry(const char* dir, const char* name, uint32_t offset, uint32_t size = 0) {
    auto h = std::make_unique<TZipHeaderInfo>();
    h->Setdirectory(dir);
    h->Setfilename(name);
    h->local_header_offset = offset;
    h->uncompressed_size = size;
    return h;
}

TEST(SortedZip, NamesDifferingOnlyInCaseAreDifferentKeys) {
    TSortedZip names(TZipSortMode::ByName);
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
    TSortedZip list(TZipSortMode::ByNone);
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
    TSortedZip other(TZipSortMode::ByNone);
    other.TakeFrom(list);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(other.Count(), 3u);
}

std::string names(TSortedZip& list) {
    std::string s;
    for (size_t i = 0; i < list.Count(); ++i) s += list.Items(i)->filename();
    return s;
}

TEST(SortedZip, TakeFromAnotherKeyLeavesBothListsWholeOnADuplicate) {
    // Two records of one name at different places: fine by position, a duplicate by name.
    TSortedZip byPlace(TZipSortMode::ByNone);
    byPlace.Add(entry("", "a", 0));
    byPlace.Add(entry("", "b", 100));
    byPlace.Add(entry("", "a", 200));
    TSortedZip byName(TZipSortMode::ByName);
    byName.Add(entry("", "x", 0));
    EXPECT_THROW(byName.TakeFrom(byPlace), EListError);
    EXPECT_EQ(names(byPlace), "aba");
    EXPECT_EQ(names(byName), "x");

    // Without the duplicate every record moves, keyed and presented by the new list's key.
    byPlace.Clear();
    byPlace.Add(entry("", "c", 0));
    byPlace.Add(entry("", "a", 100));
    byName.TakeFrom(byPlace);
    EXPECT_EQ(names(byName), "ac");
    EXPECT_EQ(byPlace.Count(), 0u);
    TZipHeaderInfo key;
    key.Setfilename("c");
    ASSERT_NE(byName.Find(key), nullptr);
    EXPECT_EQ(byName.Find(key)->local_header_offset, 0u);
    EXPECT_EQ(byPlace.Find(key), nullptr);
}

TEST(SortedZip, AViewIndexesRecordsOwnedElsewhere) {
    TSortedZip owner(TZipSortMode::ByNone);
    TSortedZipView byName(TZipSortMode::ByName);
    byName.Add(owner.Add(entry("Sub", "a", 0)));
    byName.Add(owner.Add(entry("", "a", 100)));
    // A second record of a taken name is refused by the view; the owner keeps it.
    TZipHeaderInfo& again = owner.Add(entry("Sub", "a", 200));
    EXPECT_THROW(byName.Add(again), EListError);
    EXPECT_EQ(owner.Count(), 3u);
    EXPECT_EQ(byName.Count(), 2u);
    const TZipHeaderInfo key = *entry("Sub", "a", 999);  // a key that is in neither list
    ASSERT_NE(byName.Find(key), nullptr);
    EXPECT_EQ(byName.Find(key), owner.Items(0));
    std::string order;
    for (const TZipHeaderInfo* h : byName) order += h->directory() + h->filename() + ";";
    EXPECT_EQ(order, "a;Sub/a;");
}

}  // namespace
