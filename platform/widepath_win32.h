// Windows text and path helpers: UTF-8 to UTF-16 and back, long-path forms and errno values for Win32 errors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::win32 {

// UTF-16 of UTF-8 text (ill-formed bytes become U+FFFD) and back.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// The path as the wide API takes it: "\" between names and, once it would pass MAX_PATH, the
// absolute "\\?\" form (the "\\?\UNC\" form for a share), in which the system takes every
// character as it is; a path that already has that form is left alone.
std::wstring SystemPath(std::string_view path);
// A path the system gave, in the core's form: "/" between names, without a "\\?\" prefix.
std::string CorePath(std::wstring_view path);

// The errno value that best tells a Win32 error code (GetLastError()).
int ErrnoOf(unsigned long win32Error);

// Seconds since 1970 of a FILETIME (100 ns ticks since 1601), and the nanoseconds within them.
int64_t UnixSeconds(uint64_t fileTime);
int64_t UnixNanoseconds(uint64_t fileTime);

}  // namespace platform::win32
