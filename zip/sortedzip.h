// Sorted lists of archive entry records that reject duplicate keys: an owning list and a view.
#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <vector>

#include "zip/ziprecords.h"

enum class TZipSortMode { ByName, ByFileName, ByDirectoryName, ByDate, ByCompressedSize, ByUnCompressedSize, ByRate, ByNone };

// Orders two records by a sort mode: negative, 0 or positive.
int CompareZipHeaders(TZipSortMode mode, const TZipHeaderInfo& a, const TZipHeaderInfo& b);

// An index by key over records that live elsewhere; it owns none of them. The key is the mode
// the index was made with: ByName (folder part, then file name, compared as the system compares
// file names: exactly on Linux, ignoring case on Windows) or ByNone (disk number, then local header offset). Records must outlive
// their place in the index.
class TSortedZipView {
public:
    explicit TSortedZipView(TZipSortMode keyMode) : keys_(KeyLess{keyMode}) {}

    // Raises EListError "Duplicate Object index" for a key the index already holds, followed by
    // the entry's name (or its place, for ByNone).
    void Add(TZipHeaderInfo& item);
    // The record with the same key, or nullptr.
    TZipHeaderInfo* Find(const TZipHeaderInfo& key) const;
    size_t Count() const { return keys_.size(); }
    TZipSortMode KeyMode() const { return keys_.key_comp().mode; }
    void Clear() { keys_.clear(); }
    // The records in key order.
    auto begin() const { return keys_.begin(); }
    auto end() const { return keys_.end(); }

private:
    // Compares records, and a record with a key record that need not be in the index.
    struct KeyLess {
        using is_transparent = void;
        TZipSortMode mode;
        bool operator()(const TZipHeaderInfo* a, const TZipHeaderInfo* b) const;
        bool operator()(const TZipHeaderInfo* a, const TZipHeaderInfo& b) const;
        bool operator()(const TZipHeaderInfo& a, const TZipHeaderInfo* b) const;
    };

    std::set<TZipHeaderInfo*, KeyLess> keys_;
};

// Entry records owned by the list, in the order of a sort mode, indexed by the key the list was
// made with (see TSortedZipView).
class TSortedZip {
public:
    explicit TSortedZip(TZipSortMode keyMode);
    TSortedZip(const TSortedZip&) = delete;
    TSortedZip& operator=(const TSortedZip&) = delete;

    // Takes the record and returns it. Raises EListError "Duplicate Object index" for a key the
    // list already holds; the record is then dropped.
    TZipHeaderInfo& Add(std::unique_ptr<TZipHeaderInfo> item);
    // The record with the same key, or nullptr.
    TZipHeaderInfo* Find(const TZipHeaderInfo& key) const { return keys_.Find(key); }
    size_t Count() const { return items_.size(); }
    // The records in the order of the presentation mode (the key mode until Sort is called).
    TZipHeaderInfo* Items(size_t index);
    // Presents the records in another order; equal records keep their key order.
    void Sort(TZipSortMode mode);
    TZipSortMode SortMode() const { return presentation_; }
    void Clear();
    // Moves every record of other into this list, whose records it replaces; other is left
    // empty. When other's records cannot all be keyed here (two with the same key in this list's
    // mode), raises EListError "Duplicate Object index" and leaves both lists as they were.
    void TakeFrom(TSortedZip& other);

private:
    void arrange();

    TSortedZipView keys_;
    TZipSortMode presentation_;
    std::vector<std::unique_ptr<TZipHeaderInfo>> items_;
    bool arranged_ = true;  // items_ are in presentation order
};
