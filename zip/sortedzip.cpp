#include "zip/sortedzip.h"

#include <algorithm>

#include "platform/filenamecase.h"
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
        if (int c = platform::CompareFileNames(a.directory(), b.directory())) return c;
        return platform::CompareFileNames(a.filename(), b.filename());
    case TZipSortMode::ByFileName:
        if (int c = platform::CompareFileNames(a.filename(), b.filename())) return c;
        return platform::CompareFileNames(a.directory(), b.directory());
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

bool TSortedZipView::KeyLess::operator()(const TZipHeaderInfo* a, const TZipHeaderInfo* b) const {
    return CompareZipHeaders(mode, *a, *b) < 0;
}

bool TSortedZipView::KeyLess::operator()(const TZipHeaderInfo* a, const TZipHeaderInfo& b) const {
    return CompareZipHeaders(mode, *a, b) < 0;
}

bool TSortedZipView::KeyLess::operator()(const TZipHeaderInfo& a, const TZipHeaderInfo* b) const {
    return CompareZipHeaders(mode, a, *b) < 0;
}

void TSortedZipView::Add(TZipHeaderInfo& item) {
    if (!keys_.insert(&item).second) {
        // The message names the entry, so that the user can tell which one to remove.
        throw EListError("Duplicate Object index: " +
                         (KeyMode() == TZipSortMode::ByNone
                              ? "two entries start at byte " + std::to_string(item.local_header_offset)
                              : "two entries are named \"" + item.StoredName() + "\""));
    }
}

TZipHeaderInfo* TSortedZipView::Find(const TZipHeaderInfo& key) const {
    auto it = keys_.find(key);
    return it == keys_.end() ? nullptr : *it;
}

TSortedZip::TSortedZip(TZipSortMode keyMode) : keys_(keyMode), presentation_(keyMode) {}

TZipHeaderInfo& TSortedZip::Add(std::unique_ptr<TZipHeaderInfo> item) {
    keys_.Add(*item);  // a duplicate leaves here, and item takes the record with it
    // Records usually arrive in key order (offsets grow, names come from a sorted source).
    if (!items_.empty() && CompareZipHeaders(presentation_, *items_.back(), *item) > 0) arranged_ = false;
    items_.push_back(std::move(item));
    return *items_.back();
}

TZipHeaderInfo* TSortedZip::Items(size_t index) {
    arrange();
    return items_.at(index).get();
}

void TSortedZip::arrange() {
    if (arranged_) return;
    using Item = std::unique_ptr<TZipHeaderInfo>;
    const TZipSortMode key = keys_.KeyMode();
    std::sort(items_.begin(), items_.end(),
              [key](const Item& a, const Item& b) { return CompareZipHeaders(key, *a, *b) < 0; });
    if (presentation_ != key) {
        const TZipSortMode mode = presentation_;
        std::stable_sort(items_.begin(), items_.end(),
                         [mode](const Item& a, const Item& b) { return CompareZipHeaders(mode, *a, *b) < 0; });
    }
    arranged_ = true;
}

void TSortedZip::Sort(TZipSortMode mode) {
    presentation_ = mode;
    arranged_ = false;
}

void TSortedZip::Clear() {
    keys_.Clear();  // the index goes first: it must never outlive the records it points at
    items_.clear();
    arranged_ = true;
}

void TSortedZip::TakeFrom(TSortedZip& other) {
    if (&other == this) return;
    // The index of this list's key is made before anything moves, so that a duplicate key
    // leaves both lists whole.
    TSortedZipView keys(keys_.KeyMode());
    for (const auto& item : other.items_) keys.Add(*item);
    Clear();
    keys_ = std::move(keys);
    items_ = std::move(other.items_);
    arranged_ = false;
    other.Clear();
}
