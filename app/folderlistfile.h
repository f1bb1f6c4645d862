// The folder-list file "data.mvo": where it lies, and the folder list read from and written to it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace folderlist {

inline constexpr char kFileName[] = "data.mvo";

// The program's folder ending in "/": $MARVANE_PROGRAM_DIR when set (tests, scripted set-ups),
// otherwise the folder of the running executable.
std::string ProgramDir();

// The list file's path: in programDir when that folder is writable and not the bin folder of an
// installation, otherwise in the per-user folder $XDG_CONFIG_HOME/marvane/folvio/, for reading
// and writing alike. An installed program never writes beside its binary, not even as root.
std::string FilePath(const std::string& programDir);

// The lines of a text. CR LF, a lone CR and a lone LF each end a line (LF CR ends two); a break
// at the very end adds no line; a zero byte ends the text. Lines are kept whole, however long.
std::vector<std::string> SplitLines(std::string_view text);
// Every line followed by CR LF; no lines give the empty text.
std::string JoinLines(const std::vector<std::string>& lines);

// The file's lines. Throws std::runtime_error "Cannot open file <path>." when it cannot be read.
std::vector<std::string> Load(const std::string& path);
// Replaces the file's content in one step (a crash leaves the old list or the new one), creating
// the per-user folder when needed. A file the user made read-only is left alone. Throws
// std::runtime_error "Cannot create file <path>." when it cannot be written.
void Save(const std::string& path, const std::vector<std::string>& lines);

}  // namespace folderlist
