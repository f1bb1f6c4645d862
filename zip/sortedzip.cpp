#include "zip/sortedzip.h"

#include <algorithm>

#include "zip/ziperrors.h"

namespace {

template <typename T> int three(T a, T b) { return a < b ? -1 : (b < a ? 1 : 0); }

double rate(const TZipHeaderInfo& h) {
    return h.uncompressed_size ? 1.0 - double(h.compressed_size) / double(h.uncompressed_size) : 0.0;
}

}  // namespace

int CompareZipHeaders(TZipSortMode mode, const TZipHeaderInfo& a, const TZipHeaderInfo& b) {
    switch (mode) {
    case TZipSortMode::ByName:
        if (int c = a.directory().compare(b.directory())) return c;
        return a.filename().compare(b.filename());
    case TZipSortMode::ByFileName:
        if (int c = a.filename().compare(b.filename())) return c;
        return a.directory().compare(b.directory());
    case TZipSortMode::ByDirectoryName:
        return CompareZipHeaders(TZipSortMode::ByName, a, b);
    case TZipSortMode::ByDate:
        return three(a.last_mod_datetime, b.last_mod_datetime);
    case TZipSortMode::ByCompressedSize:
        return three(a.compressed_size, b.compressed_size);
    case TZipSortMode::ByUnCompressedSize:
        return three(a.uncompressed_size, b.uncompressed_size);
    case TZipSortMode::ByRate:
        return three(rate(a), rate(b));
    case TZipSortMode::ByNone:
        if (int c = three(a.disk_number_start, b.disk_number_start)) return c;
        return three(a.local_header_offset, b.local_header_offset);
    }
    return 0;
}

bool TSortedZip::KeyLess::operator()(const TZipHeaderInfo* a, const TZipHeaderInfo* b) const {
    return CompareZipHeaders(mode, *a, *b) < 0;
}

TSortedZip::TSortedZip(TZipSortMode keyMode, bool ownsObjects)
    : keyMode_(keyMode), presentation_(keyMode), owns_(ownsObjects), keys_(KeyLess{keyMode}) {}

TSortedZip::~TSortedZip() { Clear(); }

void TSortedZip::Add(TZipHeaderInfo* item) {
    if (!keys_.insert(item).second) {
        // The message names the entry, so that the user can tell which one to remove.
        const std::string which = keyMode_ == TZipSortMode::ByNone
                                      ? "two entries start at byte " + std::to_string(item->local_header_offset)
                                      : "two entries are named \"" + item->StoredName() + "\"";
        if (owns_) delete item;
        throw EListError("Duplicate Object index: " + which);
    }
    // Records usually arrive in key order (offsets grow, names come from a sorted source).
    if (!items_.empty() && CompareZipHeaders(presentation_, *items_.back(), *item) > 0) arranged_ = false;
    items_.push_back(item);
}

TZipHeaderInfo* TSortedZip::Find(const TZipHeaderInfo& key) const {
    auto it = keys_.find(const_cast<TZipHeaderInfo*>(&key));
    return it == keys_.end() ? nullptr : *it;
}

TZipHeaderInfo* TSortedZip::Items(size_t index) {
    arrange();
    return items_.at(index);
}

void TSortedZip::arrange() {
    if (arranged_) return;
    items_.assign(keys_.begin(), keys_.end());
    if (presentation_ != keyMode_) {
        TZipSortMode mode = presentation_;
        std::stable_sort(items_.begin(), items_.end(), [mode](const TZipHeaderInfo* a, const TZipHeaderInfo* b) {
            return CompareZipHeaders(mode, *a, *b) < 0;
        });
    }
    arranged_ = true;
}

void TSortedZip::Sort(TZipSortMode mode) {
    presentation_ = mode;
    arranged_ = false;
}

void TSortedZip::Clear() {
    if (owns_)
        for (TZipHeaderInfo* item : items_) delete item;
    items_.clear();
    keys_.clear();
    arranged_ = true;
}

void TSortedZip::TakeFrom(TSortedZip& other) {
    Clear();
    for (TZipHeaderInfo* item : other.items_) Add(item);
    other.items_.clear();
    other.keys_.clear();
    other.arranged_ = true;
}
