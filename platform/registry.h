// The registry: per-user and machine-wide hives of keys holding typed values, kept on disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class Hive { CurrentUser, LocalMachine };

// Value types, numbered as registry files number them.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;

// Longest key name and value name, in bytes, and the deepest key path.
inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;
inline constexpr size_t kMaxKeyDepth = 512;

struct RegValue {
    uint32_t type = REG_NONE;
    std::string data;  // the stored bytes, exactly

    bool isText() const { return type == REG_SZ || type == REG_EXPAND_SZ; }
    // The text of a string value: its bytes up to the first zero byte.
    std::string text() const;
    bool operator==(const RegValue&) const = default;
};

// The data of a REG_SZ value holding this text: its bytes and one terminating zero byte.
std::string textData(std::string_view text);
// The data of a REG_DWORD value (four bytes, least significant first).
std::string dwordData(uint32_t value);
// The number in the data of a REG_DWORD value; the data must be four bytes long.
uint32_t dwordOf(std::string_view data);

class RegistryError : public std::runtime_error {
public:
    enum class Code {
        NotFound,      // the key or value does not exist
        AccessDenied,  // the hive may not be written (or read) by this user
        InvalidName,   // a key path or value name the registry cannot hold
        InvalidType,   // a value of another type than the caller can use
        Damaged,       // the hive file is damaged: nothing is read from it or written to it
        Failed,        // anything else: unreadable hive, I/O error
    };
    RegistryError(Code code, const std::string& message, std::string detail = "")
        : std::runtime_error(message), code_(code), detail_(std::move(detail)) {}
    Code code() const { return code_; }
    // What was found wrong with a damaged hive, in a few words.
    const std::string& detail() const { return detail_; }

private:
    Code code_;
    std::string detail_;
};

class SqliteHive;

// An open key: a handle that is released when the object goes away or close() is called.
// Key paths use "\" between names; one trailing "\" is ignored, the empty path is the hive's root.
// Key and value names are compared ignoring ASCII case and kept as first written.
class RegKey {
public:
    // Opens an existing key; nullopt when it (or the hive) does not exist. Throws RegistryError
    // when the hive cannot be read (Damaged for a damaged hive, which is left as it is for
    // repairHive) or the path is not a valid key path.
    static std::optional<RegKey> open(Hive hive, std::string_view path);
    // Opens a key, creating it and any missing parents. Throws RegistryError.
    static RegKey create(Hive hive, std::string_view path);

    RegKey(RegKey&&) noexcept;
    RegKey& operator=(RegKey&&) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey();

    void close();
    bool isOpen() const { return hive_ != nullptr; }

    // The value of that name; nullopt when missing (or when the key was deleted meanwhile).
    std::optional<RegValue> read(std::string_view name) const;
    // Writes a value, replacing any earlier value of that name whatever its type. Durable on return.
    void write(std::string_view name, uint32_t type, std::string_view data);
    void writeText(std::string_view name, std::string_view text) { write(name, REG_SZ, textData(text)); }
    // Deletes a value; false when there was none.
    bool erase(std::string_view name);
    // Value names in the order the values were first written.
    std::vector<std::string> valueNames() const;
    // Names of the direct subkeys, sorted ignoring ASCII case.
    std::vector<std::string> subkeyNames() const;
    // The key's path below its hive, with the names as first written.
    std::string path() const;

private:
    RegKey(std::shared_ptr<SqliteHive> hive, int64_t id);
    const SqliteHive& hive() const;
    SqliteHive& hive();

    std::shared_ptr<SqliteHive> hive_;
    int64_t id_ = 0;
};

// What repairHive did.
struct HiveRepair {
    bool damaged = false;          // false: the hive is sound or missing, and nothing was changed
    std::string reason;            // what was found wrong with it
    std::filesystem::path keptAs;  // the damaged file, moved aside beside the fresh hive
    size_t keys = 0, values = 0;   // what the fresh hive holds of it
    size_t orphans = 0;            // keys and values whose parent key was lost, now below "Recovered"
};

// Repairs a damaged hive: every key and value that can still be read goes into a fresh hive,
// which takes the damaged one's place; the damaged file is kept beside it. A sound hive is left
// alone. Throws RegistryError when the repair cannot be done (the damaged hive then stays).
HiveRepair repairHive(Hive hive);

// Deletes a key with all its subkeys and values; false when it did not exist. The root of a hive
// cannot be deleted (RegistryError InvalidName).
bool deleteKeyTree(Hive hive, std::string_view path);

// The names of a key path, validated; throws RegistryError InvalidName.
std::vector<std::string> splitKeyPath(std::string_view path);
// Whether a text can be one key name: 1 to 255 bytes, no "\", no control bytes.
bool isValidKeyName(std::string_view name);
// Whether a text can be a value name: at most 16383 bytes, no zero byte (the empty name is the default value).
bool isValidValueName(std::string_view name);
// ASCII lower case, the form in which names are compared.
std::string foldName(std::string_view name);

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
std::string hiveName(Hive hive);
// HKCU, HKLM or the long names, any letter case.
std::optional<Hive> parseHiveName(std::string_view name);
// The folder of a hive: MARVANE_REGISTRY_DIR when set, otherwise $XDG_CONFIG_HOME/marvane/registry
// (default ~/.config) for the user's hive and /var/lib/marvane/registry for the machine's.
std::filesystem::path hiveDirectory(Hive hive);
std::filesystem::path hiveFile(Hive hive);

}  // namespace platform
