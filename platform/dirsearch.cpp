#include "platform/dirsearch.h"

#include "platform/filesystem.h"
#include "platform/wildcard.h"

#include <cerrno>
#include <utility>

TSearchData::TSearchData(const std::string& folder, const std::string& mask)
    : Path(folder), Mask(mask), listing_(folder) {
    if (!Path.empty() && Path.back() != '/') Path += '/';
    FindResult = listing_.First(Rec);
}

void TSearchData::Next() {
    if (FindResult == 0) FindResult = listing_.Next(Rec);
}

bool IsDir(const platform::FindRecord& entry) { return entry.attributes & platform::faDirectory; }

bool IsChildDir(const platform::FindRecord& entry) {
    return IsDir(entry) && entry.name != "." && entry.name != "..";
}

TDirSearch::TDirSearch(const std::string& folder, const std::string& mask, bool recurse)
    : mask_(mask), recurse_(recurse) {
    std::string start = folder;
    if (!start.empty() && start.back() != '/') start += '/';
    size_t wild = start.find_first_of("*?<>|");
    // Linux names may hold these characters: a folder that exists under that very name is walked
    // as it is, not taken for a pattern.
    if (wild != std::string::npos && !platform::DirectoryExists(start)) {
        // The base is the part before the folder holding the first wildcard; the rest gives one
        // folder-name pattern per level.
        size_t baseEnd = start.rfind('/', wild);
        baseEnd = baseEnd == std::string::npos ? 0 : baseEnd + 1;
        std::string rest = start.substr(baseEnd);
        start.resize(baseEnd);
        size_t from = 0;
        for (size_t slash; (slash = rest.find('/', from)) != std::string::npos; from = slash + 1)
            if (slash > from) patterns_.push_back(rest.substr(from, slash - from));
    }
    push(start);
    const int error = stack_.back()->ListError();
    if (error != 0 && error != -ENOENT && error != -ENOTDIR) {
        unlistedStart_ = start.empty() ? "./" : start;
        stack_.clear();
    }
}

void TDirSearch::push(const std::string& folder) {
    size_t level = stack_.size();
    stack_.push_back(std::make_unique<TSearchData>(folder, level < patterns_.size() ? patterns_[level] : mask_));
}

std::string TDirSearch::NextFile(platform::FindRecord& rec) {
    if (!unlistedStart_.empty()) {
        rec = platform::FindRecord{};
        rec.kind = platform::FileKind::Other;
        rec.attributes = platform::faDirectory;
        return std::exchange(unlistedStart_, std::string());
    }
    while (!stack_.empty()) {
        TSearchData& top = *stack_.back();
        if (top.FindResult != 0) {
            // This folder is finished: go on after it in its parent.
            stack_.pop_back();
            if (!stack_.empty()) stack_.back()->Next();
            continue;
        }
        const platform::FindRecord& entry = top.Rec;
        size_t level = stack_.size() - 1;
        if (level < patterns_.size()) {
            // Pattern levels only lead deeper; their folders are never returned.
            if (IsChildDir(entry) && IsMatch(patterns_[level], entry.name)) {
                const std::string path = top.Path + entry.name;
                push(path);
                if (stack_.back()->ListError() == 0) continue;
                // A folder on the way down that cannot be listed hides what the pattern would find.
                stack_.pop_back();
                rec = entry;
                rec.kind = platform::FileKind::Other;
                top.Next();
                return path + "/";
            }
            top.Next();
            continue;
        }
        if (IsDir(entry)) {
            if (recurse_ && IsChildDir(entry)) {
                std::string path = top.Path + entry.name + "/";
                rec = entry;
                push(path);  // the parent stays on this entry until the subfolder is finished
                if (stack_.back()->ListError() != 0) {
                    stack_.pop_back();
                    top.Next();
                    rec.kind = platform::FileKind::Other;
                }
                return path;
            }
            top.Next();
            continue;
        }
        // The mask sees a name without extension with a "." appended; the name itself is kept.
        bool hasDot = entry.name.find('.') != std::string::npos;
        if (IsMatch(top.Mask, hasDot ? entry.name : entry.name + ".")) {
            std::string path = top.Path + entry.name;
            rec = entry;
            top.Next();
            return path;
        }
        top.Next();
    }
    return std::string();
}
