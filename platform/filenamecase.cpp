#include "platform/filenamecase.h"

namespace platform {

// Linux file names are case-sensitive: the same name is the same bytes.
bool FileNamesIgnoreCase() { return false; }

std::string FoldFileName(std::string_view name) { return std::string(name); }

int CompareFileNames(std::string_view a, std::string_view b) { return a.compare(b); }

}  // namespace platform
