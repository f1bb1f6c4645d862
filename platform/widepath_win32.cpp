#include "platform/widepath_win32.h"

#include <cerrno>
#include "platform/winapi_win32.h"

namespace platform::win32 {

namespace {

// Below this length a path goes to the system as it is; CreateDirectoryW stops 12 short of MAX_PATH.
constexpr size_t kShortPathLimit = MAX_PATH - 12;
constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kEpochTicks = 116444736000000000ULL;  // 1601 to 1970

}  // namespace

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::wstring SystemPath(std::string_view path) {
    std::wstring wide = Wide(path);
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    if (wide.size() < kShortPathLimit || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
    // The long form takes no "." or ".." parts and no "/": let the system resolve them first.
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return wide;
    std::wstring full(n, L'\0');
    const DWORD written = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    full.resize(written);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string CorePath(std::wstring_view path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) path.remove_prefix(6);
    else if (path.rfind(L"\\\\?\\", 0) == 0) path.remove_prefix(4);
    std::string utf8 = Utf8(path);
    for (char& c : utf8)
        if (c == '\\') c = '/';
    if (utf8.rfind("UNC/", 0) == 0) utf8 = "//" + utf8.substr(4);
    return utf8;
}

int ErrnoOf(unsigned long error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_PRIVILEGE_NOT_HELD: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED: return ENOSYS;
    case ERROR_NEGATIVE_SEEK: return EINVAL;
    default: return EIO;
    }
}

int64_t UnixSeconds(uint64_t fileTime) {
    return (static_cast<int64_t>(fileTime) - static_cast<int64_t>(kEpochTicks)) / static_cast<int64_t>(kTicksPerSecond) -
           (fileTime < kEpochTicks && (kEpochTicks - fileTime) % kTicksPerSecond ? 1 : 0);
}

int64_t UnixNanoseconds(uint64_t fileTime) {
    const int64_t ticks = static_cast<int64_t>(fileTime) - static_cast<int64_t>(kEpochTicks);
    const int64_t rest = ticks - UnixSeconds(fileTime) * static_cast<int64_t>(kTicksPerSecond);
    return rest * 100;
}

}  // namespace platform::win32
