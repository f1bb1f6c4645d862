// A sorted list of archive entry records that rejects duplicate keys.
#pragma once

#include <cstddef>
#include <set>
#include <vector>

#include "zip/ziprecords.h"

enum class TZipSortMode { ByName, ByFileName, ByDirectoryName, ByDate, ByCompressedSize, ByUnCompressedSize, ByRate, ByNone };

// Entry records in the order of a sort mode. The key is the mode the list was made with:
// ByName (folder part, then file name, compared exactly: Linux names are case-sensitive) or
// ByNone (disk number, then local header offset). Add raises EListError "Duplicate Object index"
// for a key the list already holds, followed by the entry's name or place. An owning list deletes its records.
class TSortedZip {
public:
    TSortedZip(TZipSortMode keyMode, bool ownsObjects);
    ~TSortedZip();
    TSortedZip(const TSortedZip&) = delete;
    TSortedZip& operator=(const TSortedZip&) = delete;

    void Add(TZipHeaderInfo* item);
    // The record with the same key, or nullptr.
    TZipHeaderInfo* Find(const TZipHeaderInfo& key) const;
    size_t Count() const { return items_.size(); }
    // The records in the order of the presentation mode (the key mode until Sort is called).
    TZipHeaderInfo* Items(size_t index);
    // Presents the records in another order; equal records keep their key order.
    void Sort(TZipSortMode mode);
    TZipSortMode SortMode() const { return presentation_; }
    void Clear();
    // Moves every record of other into this list (other is left empty).
    void TakeFrom(TSortedZip& other);

private:
    struct KeyLess {
        TZipSortMode mode;
        bool operator()(const TZipHeaderInfo* a, const TZipHeaderInfo* b) const;
    };
    void arrange();

    TZipSortMode keyMode_;
    TZipSortMode presentation_;
    bool owns_;
    std::set<TZipHeaderInfo*, KeyLess> keys_;
    std::vector<TZipHeaderInfo*> items_;
    bool arranged_ = true;
};

// Orders two records by a sort mode: negative, 0 or positive.
int CompareZipHeaders(TZipSortMode mode, const TZipHeaderInfo& a, const TZipHeaderInfo& b);
