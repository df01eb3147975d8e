#include "platform/registry/hive.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/strings.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

namespace platform::registry {

namespace {

// Long enough for any other process's write to finish; SQLite retries until then.
constexpr int kBusyTimeoutMs = 30'000;

LONG ErrorFromSqlite(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
        return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_BUSY;
    case SQLITE_NOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_CANTOPEN:
        return ERROR_CANTOPEN;
    case SQLITE_IOERR:
        return ERROR_CANTWRITE;
    default:
        return ERROR_REGISTRY_CORRUPT;
    }
}

std::u16string Fold(const std::u16string& name) {
    std::u16string folded = name;
    for (auto& c : folded)
        c = FoldUpper(c);
    return folded;
}

// One prepared statement; finalised when it goes out of scope.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return m_rc == SQLITE_OK; }
    int PrepareError() const { return m_rc; }

    Statement& Bind(int index, int64_t value) {
        sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    // Binds bytes as a blob; zero bytes bind an empty blob, never NULL.
    Statement& Bind(int index, const void* data, size_t size) {
        static const char kEmpty = 0;
        sqlite3_bind_blob64(m_stmt, index, size ? data : &kEmpty, size, SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int index, const std::u16string& text) {
        return Bind(index, text.data(), text.size() * sizeof(char16_t));
    }

    // SQLITE_ROW, SQLITE_DONE or an error.
    int Step() { return sqlite3_step(m_stmt); }

    int64_t Int(int column) { return sqlite3_column_int64(m_stmt, column); }
    Bytes Blob(int column) {
        const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        return data ? Bytes(data, data + size) : Bytes();
    }
    std::u16string Text16(int column) {
        const Bytes bytes = Blob(column);
        std::u16string text(bytes.size() / sizeof(char16_t), u'\0');
        if (!text.empty())
            std::memcpy(text.data(), bytes.data(), text.size() * sizeof(char16_t));
        return text;
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc = SQLITE_OK;
};

LONG Exec(sqlite3* db, const char* sql) {
    return ErrorFromSqlite(sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

// Runs a statement that returns no rows.
LONG Run(Statement& statement) {
    if (!statement.Ok())
        return ErrorFromSqlite(statement.PrepareError());
    const int rc = statement.Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc);
}

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER,
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    written INTEGER NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys(parent, fold);
CREATE TABLE IF NOT EXISTS vals(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    key INTEGER NOT NULL,
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS vals_by_name ON vals(key, fold);
INSERT OR IGNORE INTO keys(id, parent, name, fold, written) VALUES(1, NULL, x'', x'', 0);
)sql";

} // namespace

// The writers of one hive, in every process, take turns in the order they come. SQLite's own wait for a busy
// database sleeps and tries again, longer each time, while another process that keeps writing takes the
// database again and again in between: a writer could wait for seconds. Here a writer waits in the kernel for
// an open-file-description lock on a file beside the hive (byte 1), which hands it over the moment it is free.
// Byte 0 is the queue: a writer holds it while it waits for byte 1, so the writer that just finished queues up
// behind the one that waited instead of taking the turn again at once. The kernel drops both locks of a process
// that dies.
class WriterTurn {
public:
    explicit WriterTurn(int fd) : m_fd(fd) {
        if (m_fd < 0)
            return;
        Lock(kQueue, F_WRLCK);
        Lock(kTurn, F_WRLCK);
        Lock(kQueue, F_UNLCK);
    }
    ~WriterTurn() {
        if (m_fd >= 0)
            Lock(kTurn, F_UNLCK);
    }
    WriterTurn(const WriterTurn&) = delete;
    WriterTurn& operator=(const WriterTurn&) = delete;

private:
    static constexpr off_t kQueue = 0;
    static constexpr off_t kTurn = 1;

    // A lock that cannot be taken (the file system refuses such locks) leaves the wait to SQLite's busy timeout.
    void Lock(off_t byte, short type) {
        struct flock range {};
        range.l_type = type;
        range.l_whence = SEEK_SET;
        range.l_start = byte;
        range.l_len = 1;
        while (fcntl(m_fd, F_OFD_SETLKW, &range) != 0 && errno == EINTR) {
        }
    }

    int m_fd;
};

// A transaction on the hive's connection: rolled back unless committed. A writing transaction waits for its turn
// and then takes SQLite's write lock at once (BEGIN IMMEDIATE), so that two processes never deadlock upgrading
// their read locks; reading transactions run beside writers (WAL) and wait for nobody.
class Hive::Transaction {
public:
    Transaction(sqlite3* db, bool write, int turnFd) : m_db(db) {
        if (write)
            m_turn.emplace(turnFd);
        m_error = Exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN");
        m_open = m_error == ERROR_SUCCESS;
    }
    ~Transaction() {
        if (m_open)
            Exec(m_db, "ROLLBACK");
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    LONG Error() const { return m_error; }
    LONG Commit() {
        const LONG error = Exec(m_db, "COMMIT");
        if (error == ERROR_SUCCESS)
            m_open = false;
        return error;
    }

private:
    std::optional<WriterTurn> m_turn;
    sqlite3* m_db;
    LONG m_error;
    bool m_open = false;
};

std::shared_ptr<Hive> Hive::Open(const std::string& file, LONG& error) {
    std::shared_ptr<Hive> hive(new Hive);
    hive->m_file = file;
    std::lock_guard lock(hive->m_mutex);
    error = hive->OpenConnection();
    return error == ERROR_SUCCESS ? hive : nullptr;
}

Hive::~Hive() {
    if (m_db && m_pid == getpid())
        sqlite3_close_v2(m_db);
    if (m_turnFd >= 0)
        close(m_turnFd);
}

LONG Hive::OpenConnection() {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(m_file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return ErrorFromSqlite(rc);
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    LONG error = Exec(db, "PRAGMA journal_mode=WAL");
    if (error == ERROR_SUCCESS)
        error = Exec(db, "PRAGMA synchronous=FULL");
    // A process of its own has a description of its own for the writers' lock file: one inherited across fork
    // would share the parent's locks.
    if (m_turnFd >= 0)
        close(m_turnFd);
    m_turnFd = open((m_file + "-writers").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (error == ERROR_SUCCESS) {
        Transaction transaction(db, true, m_turnFd);
        error = transaction.Error();
        if (error == ERROR_SUCCESS)
            error = Exec(db, kSchema);
        if (error == ERROR_SUCCESS)
            error = transaction.Commit();
    }
    if (error != ERROR_SUCCESS) {
        sqlite3_close_v2(db);
        return error;
    }
    m_db = db;
    m_pid = getpid();
    return ERROR_SUCCESS;
}

sqlite3* Hive::Db() {
    // A connection must not be used across fork: the child leaves the parent's connection untouched (closing it
    // would disturb the parent's locks) and opens its own.
    if (m_db && m_pid != getpid()) {
        m_db = nullptr;
        if (OpenConnection() != ERROR_SUCCESS)
            return nullptr;
    }
    return m_db;
}

namespace {

LONG KeyExists(sqlite3* db, KeyId key) {
    Statement statement(db, "SELECT 1 FROM keys WHERE id = ?");
    if (!statement.Ok())
        return ErrorFromSqlite(statement.PrepareError());
    statement.Bind(1, key);
    const int rc = statement.Step();
    if (rc == SQLITE_ROW)
        return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_KEY_DELETED : ErrorFromSqlite(rc);
}

LONG FindChild(sqlite3* db, KeyId parent, const std::u16string& name, KeyId& child) {
    Statement statement(db, "SELECT id FROM keys WHERE parent = ? AND fold = ?");
    if (!statement.Ok())
        return ErrorFromSqlite(statement.PrepareError());
    statement.Bind(1, parent).Bind(2, Fold(name));
    const int rc = statement.Step();
    if (rc == SQLITE_ROW) {
        child = statement.Int(0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : ErrorFromSqlite(rc);
}

LONG Touch(sqlite3* db, KeyId key) {
    Statement statement(db, "UPDATE keys SET written = ? WHERE id = ?");
    statement.Bind(1, clock::Now()).Bind(2, key);
    return Run(statement);
}

} // namespace

#define HIVE_BEGIN(write)                                                                                              \
    std::lock_guard lock(m_mutex);                                                                                     \
    sqlite3* db = Db();                                                                                                \
    if (!db)                                                                                                           \
        return ERROR_CANTOPEN;                                                                                         \
    Transaction transaction(db, write, m_turnFd);                                                                      \
    if (transaction.Error() != ERROR_SUCCESS)                                                                          \
        return transaction.Error();

LONG Hive::CheckKey(KeyId key) {
    HIVE_BEGIN(false);
    return KeyExists(db, key);
}

LONG Hive::Find(KeyId from, const Path& path, KeyId& found) {
    HIVE_BEGIN(false);
    if (LONG error = KeyExists(db, from))
        return error;
    KeyId current = from;
    for (const auto& component : path) {
        if (LONG error = FindChild(db, current, component, current))
            return error;
    }
    found = current;
    return ERROR_SUCCESS;
}

LONG Hive::Create(KeyId from, const Path& path, bool mayCreate, KeyId& found, bool& created) {
    HIVE_BEGIN(true);
    if (LONG error = KeyExists(db, from))
        return error;
    created = false;
    KeyId current = from;
    for (const auto& component : path) {
        KeyId child = 0;
        LONG error = FindChild(db, current, component, child);
        if (error == ERROR_FILE_NOT_FOUND) {
            if (!mayCreate)
                return ERROR_ACCESS_DENIED;
            Statement insert(db, "INSERT INTO keys(parent, name, fold, written) VALUES(?, ?, ?, ?)");
            insert.Bind(1, current).Bind(2, component).Bind(3, Fold(component)).Bind(4, clock::Now());
            if ((error = Run(insert)))
                return error;
            child = sqlite3_last_insert_rowid(db);
            if ((error = Touch(db, current)))
                return error;
            created = true;
        } else if (error) {
            return error;
        }
        current = child;
    }
    if (created) {
        if (LONG error = transaction.Commit())
            return error;
    }
    found = current;
    return ERROR_SUCCESS;
}

LONG Hive::DeleteKey(KeyId key) {
    HIVE_BEGIN(true);
    if (key == kRootKey)
        return ERROR_ACCESS_DENIED;
    if (LONG error = KeyExists(db, key))
        return error == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : error;
    Statement children(db, "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
    children.Bind(1, key);
    const int rc = children.Step();
    if (rc == SQLITE_ROW)
        return ERROR_ACCESS_DENIED;
    if (rc != SQLITE_DONE)
        return ErrorFromSqlite(rc);

    Statement parentOf(db, "SELECT parent FROM keys WHERE id = ?");
    parentOf.Bind(1, key);
    if (parentOf.Step() != SQLITE_ROW)
        return ERROR_REGISTRY_CORRUPT;
    const KeyId parent = parentOf.Int(0);

    Statement values(db, "DELETE FROM vals WHERE key = ?");
    values.Bind(1, key);
    if (LONG error = Run(values))
        return error;
    Statement erase(db, "DELETE FROM keys WHERE id = ?");
    erase.Bind(1, key);
    if (LONG error = Run(erase))
        return error;
    if (LONG error = Touch(db, parent))
        return error;
    return transaction.Commit();
}

LONG Hive::QueryValue(KeyId key, const std::u16string& name, DWORD& type, Bytes& data) {
    HIVE_BEGIN(false);
    if (LONG error = KeyExists(db, key))
        return error;
    Statement statement(db, "SELECT type, data FROM vals WHERE key = ? AND fold = ?");
    statement.Bind(1, key).Bind(2, Fold(name));
    const int rc = statement.Step();
    if (rc == SQLITE_DONE)
        return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW)
        return ErrorFromSqlite(rc);
    type = static_cast<DWORD>(statement.Int(0));
    data = statement.Blob(1);
    return ERROR_SUCCESS;
}

LONG Hive::SetValue(KeyId key, const std::u16string& name, DWORD type, const BYTE* data, DWORD size) {
    HIVE_BEGIN(true);
    if (LONG error = KeyExists(db, key))
        return error;
    // An existing value is updated in place so that it keeps its enumeration position (and its name's case).
    Statement update(db, "UPDATE vals SET type = ?, data = ? WHERE key = ? AND fold = ?");
    update.Bind(1, type).Bind(2, data, size).Bind(3, key).Bind(4, Fold(name));
    if (LONG error = Run(update))
        return error;
    if (sqlite3_changes(db) == 0) {
        Statement insert(db, "INSERT INTO vals(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?)");
        insert.Bind(1, key).Bind(2, name).Bind(3, Fold(name)).Bind(4, type).Bind(5, data, size);
        if (LONG error = Run(insert))
            return error;
    }
    if (LONG error = Touch(db, key))
        return error;
    return transaction.Commit();
}

LONG Hive::DeleteValue(KeyId key, const std::u16string& name) {
    HIVE_BEGIN(true);
    if (LONG error = KeyExists(db, key))
        return error;
    Statement erase(db, "DELETE FROM vals WHERE key = ? AND fold = ?");
    erase.Bind(1, key).Bind(2, Fold(name));
    if (LONG error = Run(erase))
        return error;
    if (sqlite3_changes(db) == 0)
        return ERROR_FILE_NOT_FOUND;
    if (LONG error = Touch(db, key))
        return error;
    return transaction.Commit();
}

LONG Hive::EnumKey(KeyId key, DWORD index, std::u16string& name, int64_t& lastWrite) {
    HIVE_BEGIN(false);
    if (LONG error = KeyExists(db, key))
        return error;
    Statement statement(db, "SELECT name, written FROM keys WHERE parent = ? ORDER BY id LIMIT 1 OFFSET ?");
    statement.Bind(1, key).Bind(2, static_cast<int64_t>(index));
    const int rc = statement.Step();
    if (rc == SQLITE_DONE)
        return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW)
        return ErrorFromSqlite(rc);
    name = statement.Text16(0);
    lastWrite = statement.Int(1);
    return ERROR_SUCCESS;
}

LONG Hive::EnumValue(KeyId key, DWORD index, Value& value) {
    HIVE_BEGIN(false);
    if (LONG error = KeyExists(db, key))
        return error;
    Statement statement(db, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY id LIMIT 1 OFFSET ?");
    statement.Bind(1, key).Bind(2, static_cast<int64_t>(index));
    const int rc = statement.Step();
    if (rc == SQLITE_DONE)
        return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW)
        return ErrorFromSqlite(rc);
    value.name = statement.Text16(0);
    value.type = static_cast<DWORD>(statement.Int(1));
    value.data = statement.Blob(2);
    return ERROR_SUCCESS;
}

LONG Hive::QueryInfo(KeyId key, KeyInfo& info) {
    HIVE_BEGIN(false);
    Statement self(db, "SELECT written FROM keys WHERE id = ?");
    self.Bind(1, key);
    int rc = self.Step();
    if (rc == SQLITE_DONE)
        return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW)
        return ErrorFromSqlite(rc);
    info.lastWrite = self.Int(0);

    Statement keys(db, "SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent = ?");
    keys.Bind(1, key);
    if ((rc = keys.Step()) != SQLITE_ROW)
        return ErrorFromSqlite(rc);
    info.subKeys = static_cast<DWORD>(keys.Int(0));
    info.maxSubKeyLength = static_cast<DWORD>(keys.Int(1) / 2);

    Statement values(db, "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(data)), 0) "
                         "FROM vals WHERE key = ?");
    values.Bind(1, key);
    if ((rc = values.Step()) != SQLITE_ROW)
        return ErrorFromSqlite(rc);
    info.values = static_cast<DWORD>(values.Int(0));
    info.maxValueNameLength = static_cast<DWORD>(values.Int(1) / 2);
    info.maxValueLength = static_cast<DWORD>(values.Int(2));
    return ERROR_SUCCESS;
}

#undef HIVE_BEGIN

} // namespace platform::registry
