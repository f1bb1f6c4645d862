// The registry on Windows: the system's own hives through RegOpenKeyExW, RegQueryValueExW, RegSetValueExW and friends.
#include "platform/registry.h"

#include "platform/asciicase.h"
#include "platform/widepath_win32.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include "platform/winapi_win32.h"

namespace platform {

namespace fs = std::filesystem;
using win32::Utf8;
using win32::Wide;

// On Windows a key's "hive" is the system's open key handle, closed with the last RegKey holding it.
class SqliteHive {
public:
    SqliteHive(HKEY key, Hive hive) : key_(key), hive_(hive) {}
    ~SqliteHive() { RegCloseKey(key_); }
    SqliteHive(const SqliteHive&) = delete;
    SqliteHive& operator=(const SqliteHive&) = delete;
    HKEY key() const { return key_; }
    Hive hive() const { return hive_; }

private:
    HKEY key_;
    Hive hive_;
};

namespace {

// The key's full kernel name ("\REGISTRY\USER\<sid>\Software\..."), through ntdll's NtQueryKey.
std::wstring fullName(HKEY key) {
    std::vector<wchar_t> buffer(2048);
    ULONG length = 0;
    using QueryKey = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto query = ntdll ? reinterpret_cast<QueryKey>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryKey"))) : nullptr;
    constexpr int kKeyNameInformation = 3;
    if (!query || query(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(wchar_t)), &length) < 0)
        throw RegistryError(RegistryError::Code::Failed, "cannot name the registry key");
    ULONG bytes = 0;
    std::memcpy(&bytes, buffer.data(), sizeof bytes);
    return std::wstring(buffer.data() + sizeof(ULONG) / sizeof(wchar_t), bytes / sizeof(wchar_t));
}

// With MARVANE_REGISTRY_DIR set (the tests set a folder of their own) both hives are stand-ins
// below HKCU\Software\Marvane\Sandbox, one pair per folder, so that no test sees the user's
// settings or another test's; without it they are the system's own.
HKEY sandboxRoot(Hive hive) {
    const char* dir = std::getenv("MARVANE_REGISTRY_DIR");
    if (!dir || !*dir) return nullptr;
    static std::mutex mutex;
    static std::map<std::string, HKEY> roots;
    const std::string id = std::to_string(std::hash<std::string>{}(dir)) + (hive == Hive::CurrentUser ? "\\HKCU" : "\\HKLM");
    std::lock_guard lock(mutex);
    if (auto found = roots.find(id); found != roots.end()) return found->second;
    HKEY key = nullptr;
    const std::wstring path = Wide("Software\\Marvane\\Sandbox\\" + id);
    const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) throw RegistryError(RegistryError::Code::Failed, "cannot create the stand-in hive");
    roots.emplace(id, key);  // kept open for the process's life
    return key;
}

HKEY rootOf(Hive hive) {
    if (HKEY sandbox = sandboxRoot(hive)) return sandbox;
    return hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

RegistryError errorOf(LSTATUS status, const std::string& what) {
    const RegistryError::Code code = status == ERROR_ACCESS_DENIED ? RegistryError::Code::AccessDenied
                                     : status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED
                                         ? RegistryError::Code::NotFound
                                         : RegistryError::Code::Failed;
    return RegistryError(code, what + ": error " + std::to_string(status));
}

void checkValueName(std::string_view name) {
    if (!isValidValueName(name))
        throw RegistryError(RegistryError::Code::InvalidName, "invalid registry value name");
}

// A string value's data and every name, UTF-8 in the core and UTF-16 in the system, so that every
// other program reads the text. Bytes that are no UTF-8 (a scrambled password) go as the lone surrogates
// U+DC80 to U+DCFF and come back as the same bytes: every stored byte round-trips exactly.
std::wstring textToSystem(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
        const uint8_t b = byte(i);
        const size_t length = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 1) {
            wide += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        char32_t c = length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
        bool ok = length != 0 && i + length <= text.size();
        for (size_t k = 1; ok && k < length; ++k) {
            ok = (byte(i + k) & 0xC0) == 0x80;
            c = (c << 6) | (byte(i + k) & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are no UTF-8 either.
        const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        ok = ok && c >= least && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        if (!ok) {
            wide += static_cast<wchar_t>(0xDC00 | b);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(c);
        }
        i += length;
    }
    return wide;
}

std::string textFromSystem(std::wstring_view wide) {
    std::string text;
    text.reserve(wide.size());
    auto put = [&](char32_t c) {
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    };
    for (size_t i = 0; i < wide.size(); ++i) {
        const char32_t u = static_cast<char16_t>(wide[i]);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            put(0x10000 + ((u - 0xD800) << 10) + (static_cast<char16_t>(wide[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            text += static_cast<char>(u & 0xFF);  // a byte that was no UTF-8
        } else {
            put(u == 0xD800 || (u > 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
        }
    }
    return text;
}

std::string textFromSystem(const std::vector<BYTE>& data) {
    std::wstring wide(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(wide.data(), data.data(), wide.size() * sizeof(wchar_t));
    return textFromSystem(std::wstring_view(wide));
}

// The key path in the system's form: names joined by "\", without the trailing one.
std::wstring systemKeyPath(const std::vector<std::string>& names) {
    std::string path;
    for (const std::string& name : names) path += (path.empty() ? "" : "\\") + name;
    return textToSystem(path);
}

bool isText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

std::vector<std::string> enumerate(HKEY key, bool values) {
    std::vector<std::string> names;
    std::wstring name(values ? kMaxValueNameLength + 1 : kMaxKeyNameLength + 1, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        const LSTATUS status = values ? RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr)
                                      : RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS || status == ERROR_KEY_DELETED) break;
        if (status != ERROR_SUCCESS) throw errorOf(status, "cannot list the registry key");
        names.push_back(textFromSystem(std::wstring_view(name.data(), length)));
    }
    return names;
}

}  // namespace

std::optional<RegKey> RegKey::open(Hive hive, std::string_view path) {
    const std::wstring wide = systemKeyPath(splitKeyPath(path));
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(rootOf(hive), wide.c_str(), 0, KEY_READ | KEY_WRITE, &key);
    // A key this user may only read (the machine's, mostly) opens for reading.
    if (status == ERROR_ACCESS_DENIED) status = RegOpenKeyExW(rootOf(hive), wide.c_str(), 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (status != ERROR_SUCCESS) throw errorOf(status, "cannot open the registry key '" + std::string(path) + "'");
    return RegKey(std::make_shared<SqliteHive>(key, hive), 0);
}

RegKey RegKey::create(Hive hive, std::string_view path) {
    const std::wstring wide = systemKeyPath(splitKeyPath(path));
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExW(rootOf(hive), wide.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) throw errorOf(status, "cannot create the registry key '" + std::string(path) + "'");
    return RegKey(std::make_shared<SqliteHive>(key, hive), 0);
}

RegKey::RegKey(std::shared_ptr<SqliteHive> hive, int64_t id) : hive_(std::move(hive)), id_(id) {}
RegKey::RegKey(RegKey&&) noexcept = default;
RegKey& RegKey::operator=(RegKey&&) noexcept = default;
RegKey::~RegKey() = default;

void RegKey::close() { hive_.reset(); }

const SqliteHive& RegKey::hive() const {
    if (!hive_) throw RegistryError(RegistryError::Code::Failed, "the registry key is closed");
    return *hive_;
}

SqliteHive& RegKey::hive() {
    if (!hive_) throw RegistryError(RegistryError::Code::Failed, "the registry key is closed");
    return *hive_;
}

std::optional<RegValue> RegKey::read(std::string_view name) const {
    checkValueName(name);
    const HKEY key = hive().key();
    const std::wstring wide = textToSystem(name);
    std::vector<BYTE> data;
    DWORD type = REG_NONE;
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        const LSTATUS status = RegQueryValueExW(key, wide.c_str(), nullptr, &type, data.empty() ? nullptr : data.data(), &size);
        if (status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED) return std::nullopt;
        if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && data.empty() && size > 0)) {
            data.resize(size);  // the value grew meanwhile, or this was the size query
            continue;
        }
        if (status != ERROR_SUCCESS) throw errorOf(status, "cannot read the registry value '" + std::string(name) + "'");
        data.resize(size);
        break;
    }
    RegValue value;
    value.type = type;
    value.data = isText(type) ? textFromSystem(data) : std::string(data.begin(), data.end());
    return value;
}

void RegKey::write(std::string_view name, uint32_t type, std::string_view data) {
    checkValueName(name);
    const HKEY key = hive().key();
    const std::wstring wide = textToSystem(name);
    LSTATUS status;
    if (isText(type)) {
        const std::wstring text = textToSystem(data);
        status = RegSetValueExW(key, wide.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.data()),
                                static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    } else {
        status = RegSetValueExW(key, wide.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size()));
    }
    if (status != ERROR_SUCCESS) throw errorOf(status, "cannot write the registry value '" + std::string(name) + "'");
    // Durable on return, as the caller is promised.
    RegFlushKey(key);
}

bool RegKey::erase(std::string_view name) {
    checkValueName(name);
    const LSTATUS status = RegDeleteValueW(hive().key(), textToSystem(name).c_str());
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED) return false;
    if (status != ERROR_SUCCESS) throw errorOf(status, "cannot delete the registry value '" + std::string(name) + "'");
    RegFlushKey(hive().key());
    return true;
}

std::vector<std::string> RegKey::valueNames() const { return enumerate(hive().key(), true); }

std::vector<std::string> RegKey::subkeyNames() const {
    std::vector<std::string> names = enumerate(hive().key(), false);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return foldName(a) < foldName(b); });
    return names;
}

std::string RegKey::path() const {
    // The system keeps no path in a handle: the key's full name comes from the kernel object.
    const std::wstring full = fullName(hive().key());
    std::wstring below;
    if (HKEY sandbox = sandboxRoot(hive().hive())) {
        const std::wstring root = fullName(sandbox);
        if (full.size() >= root.size()) below = full.substr(root.size());
    } else if (hive().hive() == Hive::LocalMachine) {
        const std::wstring machine = L"\\REGISTRY\\MACHINE";
        if (full.size() >= machine.size()) below = full.substr(machine.size());
    } else {
        // "\REGISTRY\USER\<sid>\...": the part after the user's SID.
        const std::wstring user = L"\\REGISTRY\\USER\\";
        const size_t sid = full.size() > user.size() ? full.find(L'\\', user.size()) : std::wstring::npos;
        if (sid != std::wstring::npos) below = full.substr(sid);
    }
    if (!below.empty() && below.front() == L'\\') below.erase(0, 1);
    return textFromSystem(std::wstring_view(below));
}

HiveRepair repairHive(Hive) { return HiveRepair{}; }  // the system keeps its hives sound itself

bool deleteKeyTree(Hive hive, std::string_view path) {
    const std::vector<std::string> names = splitKeyPath(path);
    if (names.empty()) throw RegistryError(RegistryError::Code::InvalidName, "the root of a hive cannot be deleted");
    const std::wstring wide = systemKeyPath(names);
    LSTATUS status = RegDeleteTreeW(rootOf(hive), wide.c_str());
    if (status == ERROR_FILE_NOT_FOUND) return false;
    if (status == ERROR_SUCCESS) status = RegDeleteKeyW(rootOf(hive), wide.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        throw errorOf(status, "cannot delete the registry key '" + std::string(path) + "'");
    return true;
}

fs::path hiveDirectory(Hive) { return {}; }

fs::path hiveFile(Hive hive) { return hiveName(hive); }  // the system's hive, named as the registry names it

}  // namespace platform
