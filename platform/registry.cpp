#include "platform/registry.h"

#include "platform/asciicase.h"
#include "platform/environment.h"
#ifndef _WIN32
#include "platform/sqlitehive.h"
#endif

#include <cstdlib>

namespace platform {

namespace fs = std::filesystem;

namespace {

#ifndef _WIN32
HiveOptions optionsFor(Hive hive) {
    // The user's hive is private to the user; the machine's is written by root and read by everyone.
    if (hive == Hive::CurrentUser) return HiveOptions{0600, 0700, true};
    return HiveOptions{0644, 0755, false};
}

RegistryError closedKey() { return RegistryError(RegistryError::Code::Failed, "the registry key is closed"); }

void checkValueName(std::string_view name) {
    if (!isValidValueName(name))
        throw RegistryError(RegistryError::Code::InvalidName, "invalid registry value name");
}
#endif

}  // namespace

std::string RegValue::text() const { return data.substr(0, data.find('\0')); }

std::string textData(std::string_view text) {
    std::string data(text);
    data.push_back('\0');
    return data;
}

std::string dwordData(uint32_t value) {
    std::string data(4, '\0');
    for (size_t i = 0; i < 4; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xff);
    return data;
}

uint32_t dwordOf(std::string_view data) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[static_cast<size_t>(i)]);
    return value;
}

std::string foldName(std::string_view name) { return AsciiLower(name); }

bool isValidKeyName(std::string_view name) {
    if (name.empty() || name.size() > kMaxKeyNameLength) return false;
    for (char ch : name)
        if (const auto c = static_cast<unsigned char>(ch); c == '\\' || c < 0x20 || c == 0x7f) return false;
    return true;
}

bool isValidValueName(std::string_view name) {
    return name.size() <= kMaxValueNameLength && name.find('\0') == std::string_view::npos;
}

std::vector<std::string> splitKeyPath(std::string_view path) {
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    std::vector<std::string> names;
    if (path.empty()) return names;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        std::string_view name = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!isValidKeyName(name) || names.size() == kMaxKeyDepth)
            throw RegistryError(RegistryError::Code::InvalidName, "invalid registry key path '" + std::string(path) + "'");
        names.emplace_back(name);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return names;
}

std::string hiveName(Hive hive) { return hive == Hive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE"; }

std::optional<Hive> parseHiveName(std::string_view name) {
    const std::string folded = foldName(name);
    if (folded == "hkcu" || folded == "hkey_current_user") return Hive::CurrentUser;
    if (folded == "hklm" || folded == "hkey_local_machine") return Hive::LocalMachine;
    return std::nullopt;
}

// The hives of our own; the Windows build keys into the system's registry (registry_win32.cpp).
#ifndef _WIN32
fs::path hiveDirectory(Hive hive) {
    if (const char* dir = std::getenv("MARVANE_REGISTRY_DIR"); dir && *dir) return dir;
    if (hive == Hive::LocalMachine) return "/var/lib/marvane/registry";
    return configHome() / "marvane" / "registry";
}

fs::path hiveFile(Hive hive) { return hiveDirectory(hive) / (hiveName(hive) + ".db"); }

RegKey::RegKey(std::shared_ptr<SqliteHive> hive, int64_t id) : hive_(std::move(hive)), id_(id) {}
RegKey::RegKey(RegKey&&) noexcept = default;
RegKey& RegKey::operator=(RegKey&&) noexcept = default;
RegKey::~RegKey() = default;

void RegKey::close() { hive_.reset(); }

const SqliteHive& RegKey::hive() const {
    if (!hive_) throw closedKey();
    return *hive_;
}

SqliteHive& RegKey::hive() {
    if (!hive_) throw closedKey();
    return *hive_;
}

std::optional<RegKey> RegKey::open(Hive hive, std::string_view path) {
    const std::vector<std::string> names = splitKeyPath(path);
    std::shared_ptr<SqliteHive> file = SqliteHive::openExisting(hiveFile(hive), optionsFor(hive));
    if (!file) return std::nullopt;
    std::optional<int64_t> id = file->findKey(names);
    if (!id) return std::nullopt;
    return RegKey(std::move(file), *id);
}

RegKey RegKey::create(Hive hive, std::string_view path) {
    const std::vector<std::string> names = splitKeyPath(path);
    std::shared_ptr<SqliteHive> file = SqliteHive::openForWriting(hiveFile(hive), optionsFor(hive));
    int64_t id = file->createKey(names);
    return RegKey(std::move(file), id);
}

std::optional<RegValue> RegKey::read(std::string_view name) const {
    checkValueName(name);
    return hive().readValue(id_, name);
}

void RegKey::write(std::string_view name, uint32_t type, std::string_view data) {
    checkValueName(name);
    hive().writeValue(id_, name, type, data);
}

bool RegKey::erase(std::string_view name) {
    checkValueName(name);
    return hive().deleteValue(id_, name);
}

std::vector<std::string> RegKey::valueNames() const { return hive().valueNames(id_); }

std::vector<std::string> RegKey::subkeyNames() const { return hive().subkeyNames(id_); }

std::string RegKey::path() const {
    std::optional<std::string> path = hive().keyPath(id_);
    if (!path) throw RegistryError(RegistryError::Code::NotFound, "the registry key was deleted");
    return *path;
}

HiveRepair repairHive(Hive hive) { return SqliteHive::repair(hiveFile(hive), optionsFor(hive)); }

bool deleteKeyTree(Hive hive, std::string_view path) {
    const std::vector<std::string> names = splitKeyPath(path);
    if (names.empty()) throw RegistryError(RegistryError::Code::InvalidName, "the root of a hive cannot be deleted");
    std::shared_ptr<SqliteHive> file = SqliteHive::openExisting(hiveFile(hive), optionsFor(hive));
    return file && file->deleteKey(names);
}

#endif

}  // namespace platform
