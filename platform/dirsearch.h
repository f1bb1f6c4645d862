// The folder walker: turns a folder, a file mask and a recursion flag into file and folder paths.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/findfile.h"

// One open folder listing of the walk.
class TSearchData {
public:
    // Lists folder ("/" appended when missing; empty means the current folder, names unprefixed).
    TSearchData(const std::string& folder, const std::string& mask);
    // Moves to the next entry; once exhausted it stays exhausted.
    void Next();

    std::string Path;  // ends with "/", or empty for the current folder
    std::string Mask;
    platform::FindRecord Rec;  // the current entry
    int FindResult;            // 0 while an entry is current
    // 0 when the folder could be listed, else the negated errno of the failure.
    int ListError() const { return listing_.error(); }

private:
    platform::DirectoryListing listing_;
};

bool IsDir(const platform::FindRecord& entry);
bool IsChildDir(const platform::FindRecord& entry);

// A depth-first walk in pre-order: each subfolder is returned before its contents. Folders come
// back with a trailing "/". Links to folders are not entered (they come back as files, which the
// writer then leaves out); the walk has no depth limit. A folder that cannot be listed (the start
// folder included, unless it is missing) comes back with kind Other and nothing below it.
class TDirSearch {
public:
    TDirSearch(const std::string& folder, const std::string& mask, bool recurse);
    // The next path, or the empty text when the walk is over; fills rec for the entry returned.
    std::string NextFile(platform::FindRecord& rec);

private:
    void push(const std::string& folder);

    std::vector<std::unique_ptr<TSearchData>> stack_;
    std::string mask_;
    bool recurse_;
    std::vector<std::string> patterns_;  // folder-name patterns of a start folder with wildcards
    std::string unlistedStart_;  // the start folder when it is there but cannot be listed, until returned
};
