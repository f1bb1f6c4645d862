// Where an installed program finds its shared files: the installation's share folder, found from the program's own folder.
#pragma once

#include <string>

namespace installlayout {

// The share folder ("<prefix>/share/", ending in "/") of the installation whose bin folder is
// programDir, recognised by the program's desktop entry in it; the empty text for a program
// that runs from where it was built or unpacked.
std::string DataDir(const std::string& programDir);

// True when programDir is the bin folder of an installation.
inline bool IsInstalled(const std::string& programDir) { return !DataDir(programDir).empty(); }

// The path of one of the installation's documentation files ("<prefix>/share/doc/folvio/<name>");
// the empty text when programDir is not the bin folder of an installation.
std::string DocFile(const std::string& programDir, const std::string& name);

}  // namespace installlayout
