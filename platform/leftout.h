// Why a file that a folder listing named cannot be packed, in the words of the message that says it was left out.
#pragma once

#include <string>

namespace platform {

// The reason, as far as the file system tells (through the installed file system): "it is gone",
// "its path is too long", "it is a link to a folder, which is not followed", "it cannot be read"
// (a folder that cannot be listed), "it is a link that leads nowhere", "it is a named pipe", "it
// is a socket", "it is a device", "it cannot be opened for reading" (a regular file), or the
// system's own text.
std::string LeftOutReason(const std::string& path);

}  // namespace platform
