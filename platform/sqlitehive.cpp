#include "platform/sqlitehive.h"

#include "platform/filesystem.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>
#include <random>
#include <thread>

namespace platform {

namespace fs = std::filesystem;

namespace {

// "MVFR" in the database header marks a registry hive.
constexpr int kApplicationId = 0x4D564652;
constexpr int kSchemaVersion = 1;
// SQLite waits this long for a lock itself; the transaction is then retried until kBusyDeadline.
constexpr int kBusyTimeoutMs = 5000;
constexpr auto kBusyDeadline = std::chrono::seconds(120);

constexpr const char* kSchema = R"sql(
CREATE TABLE keys(
  id INTEGER PRIMARY KEY,
  parent INTEGER REFERENCES keys(id),
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  UNIQUE(parent, folded));
CREATE TABLE vals(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL REFERENCES keys(id),
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key, folded));
INSERT INTO keys(id, parent, name, folded) VALUES(1, NULL, '', '');
)sql";

// Another process holds the lock; the whole transaction is retried.
struct Busy {};
// The file is not a sound hive.
struct Damaged {
    std::string reason;
};

RegistryError::Code codeForErrno(int err) {
    return (err == EACCES || err == EPERM || err == EROFS) ? RegistryError::Code::AccessDenied
                                                           : RegistryError::Code::Failed;
}

[[noreturn]] void throwErrno(const std::string& what, int err) {
    throw RegistryError(codeForErrno(err), what + ": " + std::strerror(err));
}

void check(sqlite3* db, int rc, const fs::path& file) {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        throw Busy{};
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        throw Damaged{sqlite3_errstr(rc)};
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        throw RegistryError(RegistryError::Code::AccessDenied,
                            "the registry hive " + file.string() + " may not be written");
    case SQLITE_CONSTRAINT:
        if (rc == SQLITE_CONSTRAINT_FOREIGNKEY)
            throw RegistryError(RegistryError::Code::NotFound, "the registry key was deleted");
        break;
    default:
        break;
    }
    throw RegistryError(RegistryError::Code::Failed,
                        "registry hive " + file.string() + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
}

// One prepared statement, finalized on every path.
class Statement {
public:
    Statement(sqlite3* db, const fs::path& file, const char* sql) : db_(db), file_(file) {
        check(db_, sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr), file_);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, int64_t value) {
        check(db_, sqlite3_bind_int64(stmt_, index, value), file_);
        return *this;
    }
    Statement& bindText(int index, std::string_view text) {
        check(db_, sqlite3_bind_text(stmt_, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                                     SQLITE_TRANSIENT),
              file_);
        return *this;
    }
    Statement& bindBlob(int index, std::string_view bytes) {
        // A non-null pointer keeps an empty value an empty blob rather than NULL.
        check(db_, sqlite3_bind_blob(stmt_, index, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()),
                                     SQLITE_TRANSIENT),
              file_);
        return *this;
    }
    // True while there is a row.
    bool step() {
        int rc = sqlite3_step(stmt_);
        check(db_, rc, file_);
        return rc == SQLITE_ROW;
    }
    int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string bytes(int column) const {
        const void* p = sqlite3_column_blob(stmt_, column);
        int n = sqlite3_column_bytes(stmt_, column);
        return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
    }

private:
    sqlite3* db_;
    const fs::path& file_;
    sqlite3_stmt* stmt_ = nullptr;
};

void exec(sqlite3* db, const fs::path& file, const char* sql) {
    check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr), file);
}

int64_t queryInteger(sqlite3* db, const fs::path& file, const char* sql) {
    Statement s(db, file, sql);
    return s.step() ? s.integer(0) : 0;
}

void pause(int attempt) {
    static thread_local std::minstd_rand random(static_cast<unsigned>(getpid()));
    int ms = std::min(5 + attempt * 5, 50) + static_cast<int>(random() % 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Creates the folder and its missing parents with the given permissions.
void makeFolders(const fs::path& folder, mode_t mode) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) throwErrno("cannot create the registry folder " + folder.string(), ENOTDIR);
        return;
    }
    if (folder.has_parent_path() && folder.parent_path() != folder) makeFolders(folder.parent_path(), mode);
    if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST)
        throwErrno("cannot create the registry folder " + folder.string(), errno);
}

// Creates an empty hive file with its permissions, durably, unless one exists.
void prepareFile(const fs::path& file, const HiveOptions& options) {
    makeFolders(file.parent_path(), options.folderMode);
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, options.fileMode);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
        SyncFolderOf(file.string());
    } else if (errno != EEXIST) {
        throwErrno("cannot create the registry hive " + file.string(), errno);
    }
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

// The error of every use of a damaged hive: it names the file and the way out, in one line.
RegistryError damagedHive(const fs::path& file, const std::string& reason) {
    return RegistryError(RegistryError::Code::Damaged,
                         "the registry hive " + file.string() + " is damaged (" + reason +
                             "); 'folvio-reg repair' saves what can still be read of it",
                         reason);
}

// The file as an SQLite URI that reads it as it stands, without locks or a log: for a hive this
// user may neither write nor make the log's shared-memory file beside.
std::string immutableUri(const fs::path& file) {
    std::string uri = "file:";
    for (const char c : file.string()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '%' || byte == '?' || byte == '#' || byte < 0x21 || byte > 0x7e) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned>(byte));
            uri += escaped;
        } else {
            uri += c;
        }
    }
    return uri + "?immutable=1";
}

bool hasLog(const fs::path& file) {
    struct stat st {};
    return ::stat((file.string() + "-wal").c_str(), &st) == 0 && st.st_size > 0;
}

// A key and a value as far as they could be read from a damaged hive.
struct SalvagedKey {
    int64_t id = 0, parent = 0;
    std::string name;
};
struct SalvagedValue {
    int64_t key = 0;
    std::string name;
    uint32_t type = 0;
    std::string data;
};

std::string columnBytes(sqlite3_stmt* s, int column) {
    const void* p = sqlite3_column_blob(s, column);
    const int n = sqlite3_column_bytes(s, column);
    return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

// Every row of a table that can still be read, in rowid order (a hive's rowids start at 1): a
// scan goes on until it meets a damaged page, then rowid after rowid is tried until a scan gets
// past it, up to the last rowid (or a bounded number of tries when even that cannot be read).
void salvageRows(sqlite3* db, const std::string& table, const std::string& columns,
                 const std::function<void(sqlite3_stmt*)>& take) {
    constexpr int kMaxTries = 100000;
    int64_t last = std::numeric_limits<int64_t>::max();
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, ("SELECT max(id) FROM " + table).c_str(), -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
        last = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    s = nullptr;
    const std::string scan = "SELECT id, " + columns + " FROM " + table + " WHERE id >= ?1 ORDER BY id";
    if (sqlite3_prepare_v2(db, scan.c_str(), -1, &s, nullptr) == SQLITE_OK) {
        int64_t next = 1;
        for (int tries = 0; next <= last && tries <= kMaxTries;) {
            sqlite3_reset(s);
            sqlite3_bind_int64(s, 1, next);
            bool any = false;
            int rc = SQLITE_DONE;
            while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
                const int64_t id = sqlite3_column_int64(s, 0);
                if (id < next) break;  // out of order: a garbled page
                take(s);
                any = true;
                if (id == std::numeric_limits<int64_t>::max()) {
                    rc = SQLITE_DONE;  // no rowid can follow
                    break;
                }
                next = id + 1;
            }
            if (rc == SQLITE_DONE) break;
            if (!any) ++next, ++tries;  // the scan met damage at once: try the next rowid
        }
    }
    sqlite3_finalize(s);
}

// The keys and values of a damaged hive that can still be read.
void salvage(const fs::path& file, std::vector<SalvagedKey>& keys, std::vector<SalvagedValue>& values) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return;
    }
    salvageRows(db, "keys", "parent, name", [&](sqlite3_stmt* s) {
        SalvagedKey key{sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1), columnBytes(s, 2)};
        if (key.id == SqliteHive::kRootKey || isValidKeyName(key.name)) keys.push_back(std::move(key));
    });
    salvageRows(db, "vals", "key, name, type, data", [&](sqlite3_stmt* s) {
        const int64_t type = sqlite3_column_int64(s, 3);
        SalvagedValue value{sqlite3_column_int64(s, 1), columnBytes(s, 2), static_cast<uint32_t>(type), columnBytes(s, 4)};
        if (type >= 0 && type <= 0xFFFFFFFF && isValidValueName(value.name)) values.push_back(std::move(value));
    });
    sqlite3_close(db);
}

// Puts the fresh hive in the place of the damaged one, which is kept under a new name with its
// log, unless the file is no longer the one found damaged. Returns the damaged file's new name.
fs::path swapIn(const fs::path& file, dev_t device, ino_t inode, const fs::path& fresh) {
    const fs::path folder = file.parent_path();
    const int lock = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0) throwErrno("cannot repair the registry hive " + file.string(), errno);
    ::flock(lock, LOCK_EX);  // two repairs never move a fresh hive by mistake
    const auto fail = [&](const std::string& what, int err) {
        ::close(lock);
        throwErrno(what, err);
    };
    struct stat now {};
    if (::stat(file.c_str(), &now) != 0 || now.st_dev != device || now.st_ino != inode)
        fail("the registry hive " + file.string() + " changed while it was repaired; it is left as it is", EAGAIN);
    std::string aside = file.string() + ".damaged-" + timestamp();
    for (int n = 2; ::access(aside.c_str(), F_OK) == 0; ++n) aside = file.string() + ".damaged-" + timestamp() + "-" + std::to_string(n);
    if (::rename(file.c_str(), aside.c_str()) != 0) fail("cannot move the damaged registry hive " + file.string() + " aside", errno);
    for (const char* suffix : {"-wal", "-journal"}) ::rename((file.string() + suffix).c_str(), (aside + suffix).c_str());
    ::unlink((file.string() + "-shm").c_str());
    ::unlink((aside + "-shm").c_str());
    if (::rename(fresh.c_str(), file.c_str()) != 0) {
        const int err = errno;
        ::rename(aside.c_str(), file.c_str());
        fail("cannot put the repaired registry hive " + file.string() + " in place", err);
    }
    ::fsync(lock);
    ::close(lock);
    return aside;
}

}  // namespace

SqliteHive::SqliteHive(fs::path file, HiveOptions options) : file_(std::move(file)), options_(options) {}

SqliteHive::~SqliteHive() {
    if (db_) sqlite3_close_v2(db_);
}

std::shared_ptr<SqliteHive> SqliteHive::openForWriting(const fs::path& file, const HiveOptions& options) {
    return open(file, options, true);
}

std::shared_ptr<SqliteHive> SqliteHive::openExisting(const fs::path& file, const HiveOptions& options) {
    return open(file, options, false);
}

std::shared_ptr<SqliteHive> SqliteHive::open(const fs::path& file, const HiveOptions& options, bool create) {
    const auto deadline = std::chrono::steady_clock::now() + kBusyDeadline;
    for (int attempt = 0;; ++attempt) {
        if (create) prepareFile(file, options);
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) {
            if (errno != ENOENT) throwErrno("cannot open the registry hive " + file.string(), errno);
            if (!create) return nullptr;
            continue;  // moved aside by a repair just now: create it again
        }
        std::shared_ptr<SqliteHive> hive(new SqliteHive(file, options));
        hive->device_ = st.st_dev;
        hive->inode_ = st.st_ino;
        std::string damage;
        Opened opened;
        try {
            opened = hive->connect(create, damage);
        } catch (const Busy&) {
            hive.reset();
            if (std::chrono::steady_clock::now() > deadline)
                throw RegistryError(RegistryError::Code::Failed, "the registry hive " + file.string() + " stays busy");
            pause(attempt);
            continue;
        } catch (const Damaged& d) {
            opened = Opened::Damaged;
            damage = d.reason;
        }
        if (opened == Opened::Ready) return hive;
        hive.reset();
        if (opened == Opened::Empty) return nullptr;
        // Never replaced by an empty hive behind the user's back: its values may still be saved.
        throw damagedHive(file, damage);
    }
}

SqliteHive::Opened SqliteHive::connect(bool create, std::string& damage) {
    // Read-write where the file allows it; SQLite falls back to read-only for a write-protected file.
    int rc = sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        int err = sqlite3_system_errno(db_);
        std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        if (err == ENOENT && !create) return Opened::Empty;
        throw RegistryError(codeForErrno(err), "cannot open the registry hive " + file_.string() + ": " + message);
    }
    auto configure = [&] {
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        exec(db_, file_, "PRAGMA foreign_keys=ON");
    };
    configure();
    const bool readOnly = sqlite3_db_readonly(db_, "main") == 1;

    // Header and tables are read in one snapshot, as another process may be creating them right now.
    int64_t applicationId = 0;
    auto inspect = [&]() -> bool {
        applicationId = queryInteger(db_, file_, "PRAGMA application_id");
        if (applicationId == 0) return queryInteger(db_, file_, "SELECT count(*) FROM sqlite_schema") == 0;
        if (applicationId != kApplicationId) return false;
        if (queryInteger(db_, file_, "PRAGMA user_version") > kSchemaVersion)
            throw RegistryError(RegistryError::Code::Failed,
                                "the registry hive " + file_.string() + " was written by a newer version");
        Statement quick(db_, file_, "PRAGMA quick_check");
        if (!quick.step() || quick.bytes(0) != "ok") {
            damage = "its integrity check failed";
            return false;
        }
        if (queryInteger(db_, file_, "SELECT count(*) FROM sqlite_schema WHERE name IN ('keys','vals')") != 2 ||
            queryInteger(db_, file_, "SELECT count(*) FROM keys WHERE id=1 AND parent IS NULL") != 1) {
            damage = "its tables are missing";
            return false;
        }
        return true;
    };
    auto inspectInSnapshot = [&] {
        exec(db_, file_, "BEGIN");
        try {
            const bool sound = inspect();
            exec(db_, file_, "COMMIT");
            return sound;
        } catch (...) {
            if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    };
    bool sound = false;
    try {
        sound = inspectInSnapshot();
    } catch (const RegistryError&) {
        // A write-protected hive in a folder this user may not write either (one made by another
        // user): SQLite cannot make the log's shared-memory file it reads through. Without a log
        // the file alone holds every value, and it is read as it stands.
        if (!readOnly || hasLog(file_)) throw;
        sqlite3_close_v2(db_);
        db_ = nullptr;
        if (sqlite3_open_v2(immutableUri(file_).c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK)
            throw RegistryError(RegistryError::Code::AccessDenied, "cannot read the registry hive " + file_.string());
        configure();
        sound = inspectInSnapshot();
    }
    if (!sound) {
        if (damage.empty()) damage = "it is not a registry hive";
        return Opened::Damaged;
    }
    if (applicationId == 0) {
        if (!create) return Opened::Empty;
        if (readOnly)
            throw RegistryError(RegistryError::Code::AccessDenied, "the registry hive " + file_.string() + " may not be written");
    }

    if (!readOnly) {
        // Every commit reaches the disk before it returns, so a power cut keeps it.
        exec(db_, file_, options_.writeAheadLog ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=DELETE");
        exec(db_, file_, "PRAGMA synchronous=FULL");
    }
    if (applicationId == 0) {
        transaction(true, [&] {
            // Another process may have created the tables while this one waited for the lock.
            if (queryInteger(db_, file_, "PRAGMA application_id") == kApplicationId) return;
            exec(db_, file_, kSchema);
            exec(db_, file_, ("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str());
            exec(db_, file_, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        });
    }
    return Opened::Ready;
}

void SqliteHive::transaction(bool write, const std::function<void()>& body) const {
    if (write && sqlite3_db_readonly(db_, "main") == 1)
        throw RegistryError(RegistryError::Code::AccessDenied, "the registry hive " + file_.string() + " may not be written");
    const auto deadline = std::chrono::steady_clock::now() + kBusyDeadline;
    for (int attempt = 0;; ++attempt) {
        try {
            // IMMEDIATE takes the write lock up front, so two writers wait instead of deadlocking.
            exec(db_, file_, write ? "BEGIN IMMEDIATE" : "BEGIN");
            body();
            exec(db_, file_, "COMMIT");
            return;
        } catch (const Busy&) {
            if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            if (std::chrono::steady_clock::now() > deadline)
                throw RegistryError(RegistryError::Code::Failed, "the registry hive " + file_.string() + " stays busy");
            pause(attempt);
        } catch (const Damaged& d) {
            if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw damagedHive(file_, d.reason);
        } catch (...) {
            if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }
}

std::optional<int64_t> SqliteHive::lookUp(const std::vector<std::string>& names) const {
    int64_t id = kRootKey;
    for (const std::string& name : names) {
        Statement s(db_, file_, "SELECT id FROM keys WHERE parent=?1 AND folded=?2");
        s.bind(1, id).bindText(2, foldName(name));
        if (!s.step()) return std::nullopt;
        id = s.integer(0);
    }
    return id;
}

std::optional<int64_t> SqliteHive::findKey(const std::vector<std::string>& names) const {
    std::optional<int64_t> found;
    transaction(false, [&] { found = lookUp(names); });
    return found;
}

int64_t SqliteHive::ensureKey(const std::vector<std::string>& names) {
    int64_t id = kRootKey;
    for (const std::string& name : names) {
        const std::string folded = foldName(name);
        Statement find(db_, file_, "SELECT id FROM keys WHERE parent=?1 AND folded=?2");
        find.bind(1, id).bindText(2, folded);
        if (find.step()) {
            id = find.integer(0);
            continue;
        }
        Statement insert(db_, file_, "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)");
        insert.bind(1, id).bindText(2, name).bindText(3, folded).step();
        id = sqlite3_last_insert_rowid(db_);
    }
    return id;
}

int64_t SqliteHive::createKey(const std::vector<std::string>& names) {
    int64_t id = kRootKey;
    transaction(true, [&] { id = ensureKey(names); });
    return id;
}

bool SqliteHive::deleteKey(const std::vector<std::string>& names) {
    bool deleted = false;
    transaction(true, [&] {
        deleted = false;
        const std::optional<int64_t> found = lookUp(names);
        if (!found) return;
        const int64_t id = *found;
        if (id == kRootKey)
            throw RegistryError(RegistryError::Code::InvalidName, "the root of a hive cannot be deleted");
        Statement values(db_, file_,
                         "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
                         "DELETE FROM vals WHERE key IN tree");
        values.bind(1, id).step();
        Statement keys(db_, file_,
                       "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
                       "DELETE FROM keys WHERE id IN tree");
        keys.bind(1, id).step();
        deleted = true;
    });
    return deleted;
}

std::optional<RegValue> SqliteHive::readValue(int64_t key, std::string_view name) const {
    std::optional<RegValue> value;
    transaction(false, [&] {
        Statement s(db_, file_, "SELECT type, data FROM vals WHERE key=?1 AND folded=?2");
        s.bind(1, key).bindText(2, foldName(name));
        if (s.step()) value = RegValue{static_cast<uint32_t>(s.integer(0)), s.bytes(1)};
        else value.reset();
    });
    return value;
}

void SqliteHive::putValue(int64_t key, std::string_view name, uint32_t type, std::string_view data) {
    // The upsert keeps the name as first written and the value's place in the enumeration.
    Statement s(db_, file_,
                "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                "ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data");
    s.bind(1, key).bindText(2, name).bindText(3, foldName(name)).bind(4, type).bindBlob(5, data).step();
}

void SqliteHive::writeValue(int64_t key, std::string_view name, uint32_t type, std::string_view data) {
    transaction(true, [&] { putValue(key, name, type, data); });
}

bool SqliteHive::deleteValue(int64_t key, std::string_view name) {
    bool deleted = false;
    transaction(true, [&] {
        Statement s(db_, file_, "DELETE FROM vals WHERE key=?1 AND folded=?2");
        s.bind(1, key).bindText(2, foldName(name)).step();
        deleted = sqlite3_changes(db_) > 0;
    });
    return deleted;
}

std::vector<std::string> SqliteHive::names(const char* sql, int64_t key) const {
    std::vector<std::string> found;
    transaction(false, [&] {
        found.clear();
        Statement s(db_, file_, sql);
        s.bind(1, key);
        while (s.step()) found.push_back(s.bytes(0));
    });
    return found;
}

std::vector<std::string> SqliteHive::valueNames(int64_t key) const {
    return names("SELECT name FROM vals WHERE key=?1 ORDER BY id", key);
}

std::vector<std::string> SqliteHive::subkeyNames(int64_t key) const {
    return names("SELECT name FROM keys WHERE parent=?1 ORDER BY folded", key);
}

std::optional<std::string> SqliteHive::keyPath(int64_t key) const {
    std::optional<std::string> path;
    transaction(false, [&] {
        path.reset();
        std::string joined;
        for (int64_t id = key; id != kRootKey;) {
            Statement s(db_, file_, "SELECT parent, name FROM keys WHERE id=?1");
            s.bind(1, id);
            if (!s.step()) return;
            joined = s.bytes(1) + (joined.empty() ? "" : "\\" + joined);
            id = s.integer(0);
        }
        path = joined;
    });
    return path;
}

HiveRepair SqliteHive::repair(const fs::path& file, const HiveOptions& options) {
    HiveRepair result;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        if (errno == ENOENT) return result;
        throwErrno("cannot open the registry hive " + file.string(), errno);
    }
    try {
        openExisting(file, options);
        return result;  // sound, or empty
    } catch (const RegistryError& e) {
        if (e.code() != RegistryError::Code::Damaged) throw;
        result.reason = e.detail();
    }
    result.damaged = true;

    std::vector<SalvagedKey> keys;
    std::vector<SalvagedValue> values;
    const fs::path log = file.string() + "-wal";
    std::error_code ec;
    const bool hadLog = fs::exists(log, ec);
    salvage(file, keys, values);
    if (!hadLog) ::unlink(log.c_str());  // made by the salvage's reading: no part of the damaged copy

    const fs::path fresh = file.string() + ".repair-" + std::to_string(::getpid());
    const auto removeFresh = [&] {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((fresh.string() + suffix).c_str());
    };
    removeFresh();
    try {
        std::shared_ptr<SqliteHive> hive = openForWriting(fresh, options);
        hive->transaction(true, [&] {
            result.keys = result.values = result.orphans = 0;
            std::map<int64_t, const SalvagedKey*> byId;
            for (const SalvagedKey& key : keys)
                if (key.id != kRootKey) byId.emplace(key.id, &key);
            // The names from the root down to a key. A key whose parent was lost goes below
            // "Recovered\key N", N the lost parent's number; a loop or too deep a path is dropped.
            auto pathOf = [&](int64_t id, bool& orphan) -> std::optional<std::vector<std::string>> {
                std::vector<std::string> names;
                orphan = false;
                for (int64_t at = id; at != kRootKey;) {
                    if (names.size() > kMaxKeyDepth) return std::nullopt;
                    const auto found = byId.find(at);
                    if (found == byId.end()) {
                        orphan = true;
                        names.push_back("key " + std::to_string(at));
                        names.push_back("Recovered");
                        break;
                    }
                    names.push_back(found->second->name);
                    at = found->second->parent;
                }
                if (names.size() > kMaxKeyDepth) return std::nullopt;
                std::reverse(names.begin(), names.end());
                return names;
            };
            std::map<int64_t, int64_t> placed{{kRootKey, kRootKey}};
            for (const auto& [id, key] : byId) {
                bool orphan = false;
                const std::optional<std::vector<std::string>> names = pathOf(id, orphan);
                if (!names) continue;
                placed[id] = hive->ensureKey(*names);
                ++result.keys;
                if (orphan) ++result.orphans;
            }
            for (const SalvagedValue& value : values) {
                auto target = placed.find(value.key);
                if (target == placed.end()) {
                    bool orphan = false;
                    const std::optional<std::vector<std::string>> names = pathOf(value.key, orphan);
                    if (!names) continue;
                    target = placed.emplace(value.key, hive->ensureKey(*names)).first;
                    ++result.orphans;
                }
                hive->putValue(target->second, value.name, value.type, value.data);
                ++result.values;
            }
        });
    } catch (...) {
        removeFresh();
        throw;
    }
    try {
        result.keptAs = swapIn(file, st.st_dev, st.st_ino, fresh);
    } catch (...) {
        removeFresh();
        throw;
    }
    return result;
}

}  // namespace platform
