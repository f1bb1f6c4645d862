// One registry hive kept in a SQLite database file: schema, durable transactions, contention and damage.
#pragma once

#include "platform/registry.h"

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace platform {

struct HiveOptions {
    mode_t fileMode = 0600;   // permissions of a new hive file
    mode_t folderMode = 0700; // permissions of folders created for it
    // Write-ahead log for hives only their owner uses; a rollback journal where other users read
    // without write access (they could not open the log's shared-memory file).
    bool writeAheadLog = true;
};

class SqliteHive {
public:
    // Opens the hive, creating the file and its folder when missing.
    static std::shared_ptr<SqliteHive> openForWriting(const std::filesystem::path& file, const HiveOptions& options);
    // Opens an existing hive, read-only when this user may not write it; nullptr when there is none.
    static std::shared_ptr<SqliteHive> openExisting(const std::filesystem::path& file, const HiveOptions& options);
    // Both throw RegistryError Damaged for a damaged file, which they leave as it is; this puts
    // what can still be read of it into a fresh hive in its place and keeps it beside.
    static HiveRepair repair(const std::filesystem::path& file, const HiveOptions& options);

    ~SqliteHive();
    SqliteHive(const SqliteHive&) = delete;
    SqliteHive& operator=(const SqliteHive&) = delete;

    static constexpr int64_t kRootKey = 1;

    std::optional<int64_t> findKey(const std::vector<std::string>& names) const;
    int64_t createKey(const std::vector<std::string>& names);
    // Deletes the key with everything below it; false when it did not exist.
    bool deleteKey(const std::vector<std::string>& names);

    std::optional<RegValue> readValue(int64_t key, std::string_view name) const;
    void writeValue(int64_t key, std::string_view name, uint32_t type, std::string_view data);
    bool deleteValue(int64_t key, std::string_view name);
    std::vector<std::string> valueNames(int64_t key) const;
    std::vector<std::string> subkeyNames(int64_t key) const;
    // The names from the root down to the key, joined by "\"; nullopt when it was deleted.
    std::optional<std::string> keyPath(int64_t key) const;

    const std::filesystem::path& file() const { return file_; }

private:
    enum class Opened { Ready, Empty, Damaged };

    SqliteHive(std::filesystem::path file, HiveOptions options);
    static std::shared_ptr<SqliteHive> open(const std::filesystem::path& file, const HiveOptions& options, bool create);
    Opened connect(bool create, std::string& damage);
    // Runs one transaction, retrying it while other processes hold the hive busy.
    void transaction(bool write, const std::function<void()>& body) const;
    // The key the names lead to from the root, inside a running transaction; nullopt when one is missing.
    std::optional<int64_t> lookUp(const std::vector<std::string>& names) const;
    // Inside a running write transaction: the key the names lead to, created where missing.
    int64_t ensureKey(const std::vector<std::string>& names);
    // Inside a running write transaction: writes one value.
    void putValue(int64_t key, std::string_view name, uint32_t type, std::string_view data);
    // The first column of every row a one-parameter query yields for the key.
    std::vector<std::string> names(const char* sql, int64_t key) const;

    std::filesystem::path file_;
    HiveOptions options_;
    dev_t device_ = 0;  // identity of the file this connection opened
    ino_t inode_ = 0;
    sqlite3* db_ = nullptr;
};

}  // namespace platform
