// How the system compares file names: exactly on Linux, ignoring letter case on Windows.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// True where the file system takes "A.TXT" and "a.txt" for one name (Windows).
bool FileNamesIgnoreCase();

// The form in which names compare: the text itself on Linux; on Windows every letter in the
// system's upper case (as the file system folds names), other bytes as they are.
std::string FoldFileName(std::string_view name);

// <0, 0 or >0 as a orders before, with or after b under the system's rule; allocates nothing.
int CompareFileNames(std::string_view a, std::string_view b);

inline bool SameFileName(std::string_view a, std::string_view b) { return CompareFileNames(a, b) == 0; }

// Whether path begins with prefix under the system's rule.
inline bool FileNameStartsWith(std::string_view path, std::string_view prefix) {
    return path.size() >= prefix.size() && CompareFileNames(path.substr(0, prefix.size()), prefix) == 0;
}

}  // namespace platform
