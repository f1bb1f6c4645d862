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
#include <cstring>
#include <ctime>
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

// Moves a damaged hive (and its log) aside under a new name and says so on stderr, unless another
// process already did. Folder lock: two processes never move a fresh hive by mistake.
void setAside(const fs::path& file, dev_t device, ino_t inode, const std::string& reason) {
    const fs::path folder = file.parent_path();
    int lock = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0) throwErrno("cannot set aside the damaged registry hive " + file.string(), errno);
    ::flock(lock, LOCK_EX);
    struct stat now {};
    if (::stat(file.c_str(), &now) == 0 && now.st_dev == device && now.st_ino == inode) {
        std::string aside = file.string() + ".damaged-" + timestamp();
        for (int n = 2; ::access(aside.c_str(), F_OK) == 0; ++n)
            aside = file.string() + ".damaged-" + timestamp() + "-" + std::to_string(n);
        if (::rename(file.c_str(), aside.c_str()) != 0) {
            int err = errno;
            ::close(lock);
            std::fprintf(stderr, "The registry hive %s is damaged (%s) and cannot be set aside: %s\n",
                         file.c_str(), reason.c_str(), std::strerror(err));
            throwErrno("the registry hive " + file.string() + " is damaged and cannot be set aside", err);
        }
        for (const char* suffix : {"-wal", "-journal"})
            ::rename((file.string() + suffix).c_str(), (aside + suffix).c_str());
        ::unlink((file.string() + "-shm").c_str());
        ::fsync(lock);
        std::fprintf(stderr, "The registry hive %s was damaged (%s); it was set aside as %s and a fresh hive is used.\n",
                     file.c_str(), reason.c_str(), aside.c_str());
    }
    ::close(lock);
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
    int setAsides = 0;
    for (int attempt = 0;; ++attempt) {
        if (create) prepareFile(file, options);
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) {
            if (errno != ENOENT) throwErrno("cannot open the registry hive " + file.string(), errno);
            if (!create) return nullptr;
            continue;  // set aside by another process just now: create it again
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
        if (++setAsides > 3)
            throw RegistryError(RegistryError::Code::Failed, "the registry hive " + file.string() + " keeps being damaged");
        setAside(file, st.st_dev, st.st_ino, damage);
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
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    exec(db_, file_, "PRAGMA foreign_keys=ON");
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
            damage = quick.bytes(0);
            return false;
        }
        if (queryInteger(db_, file_, "SELECT count(*) FROM sqlite_schema WHERE name IN ('keys','vals')") != 2 ||
            queryInteger(db_, file_, "SELECT count(*) FROM keys WHERE id=1 AND parent IS NULL") != 1) {
            damage = "tables missing";
            return false;
        }
        return true;
    };
    bool sound = false;
    exec(db_, file_, "BEGIN");
    try {
        sound = inspect();
        exec(db_, file_, "COMMIT");
    } catch (...) {
        if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    if (!sound) {
        if (damage.empty()) damage = "not a registry hive";
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
    if (setAside_)
        throw RegistryError(RegistryError::Code::Failed, "the registry hive " + file_.string() + " was damaged and set aside");
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
            setAside_ = true;
            setAside(file_, device_, inode_, d.reason);
            throw RegistryError(RegistryError::Code::Failed,
                                "the registry hive " + file_.string() + " is damaged (" + d.reason + ")");
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

int64_t SqliteHive::createKey(const std::vector<std::string>& names) {
    int64_t id = kRootKey;
    transaction(true, [&] {
        id = kRootKey;
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
    });
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

void SqliteHive::writeValue(int64_t key, std::string_view name, uint32_t type, std::string_view data) {
    transaction(true, [&] {
        // The upsert keeps the name as first written and the value's place in the enumeration.
        Statement s(db_, file_,
                    "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                    "ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data");
        s.bind(1, key).bindText(2, name).bindText(3, foldName(name)).bind(4, type).bindBlob(5, data).step();
    });
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

}  // namespace platform
