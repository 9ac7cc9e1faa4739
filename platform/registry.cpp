#include "platform/registry.h"

#include <fcntl.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/files.h"
#include "platform/locations.h"
#include "platform/process_state.h"

namespace platform {
namespace {

constexpr std::int64_t kRootId = 1;
constexpr const char* kFormat = "veldana-registry 1";

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// The one connection of this process, and what went wrong last.
struct RegistryState {
    Db db;
    std::string path;      // path the connection was opened for
    bool writable = false;
    bool bad = false;      // the file is not a usable store
    std::string error;
};
RegistryState g_reg;

long Fail(long code, std::string why) {
    g_reg.error = std::move(why);
    return code;
}

std::string DbMessage(const char* what) {
    return std::string(what) + ": " + (g_reg.db ? sqlite3_errmsg(g_reg.db.get()) : "no store");
}

Stmt Prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(g_reg.db.get(), sql, -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        return nullptr;
    }
    return Stmt(s);
}

bool Exec(const char* sql) {
    return sqlite3_exec(g_reg.db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void BindText(sqlite3_stmt* s, int i, std::string_view t) {
    sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
}

// Result of examining an opened file.
enum class Shape { kStore, kEmpty, kForeign, kUnreadable };

Shape Examine() {
    Stmt s = Prepare("SELECT name FROM sqlite_master WHERE type = 'table'");
    if (!s) return Shape::kUnreadable;
    bool any = false, keys = false, vals = false, meta = false;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        std::string name = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
        any = true;
        keys |= name == "keys";
        vals |= name == "vals";
        meta |= name == "meta";
    }
    if (rc != SQLITE_DONE) return Shape::kUnreadable;
    if (!any) return Shape::kEmpty;
    if (!(keys && vals && meta)) return Shape::kForeign;
    Stmt f = Prepare("SELECT value FROM meta WHERE name = 'format'");
    if (!f || sqlite3_step(f.get()) != SQLITE_ROW) return Shape::kForeign;
    const unsigned char* v = sqlite3_column_text(f.get(), 0);
    return v != nullptr && std::string_view(reinterpret_cast<const char*>(v)) == kFormat
               ? Shape::kStore
               : Shape::kForeign;
}

bool CreateSchema() {
    if (!Exec("BEGIN IMMEDIATE")) return false;
    // Another process may have created it while we waited for the lock.
    if (Examine() == Shape::kStore) return Exec("COMMIT");
    bool ok = Exec(
        "CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT);"
        "CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
        " name TEXT NOT NULL COLLATE NOCASE, UNIQUE(parent, name));"
        "CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE,"
        " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"
        "INSERT INTO meta VALUES('format', 'veldana-registry 1');"
        "INSERT INTO keys VALUES(1, 0, 'HKEY_LOCAL_MACHINE');"
        "INSERT INTO keys VALUES(2, 1, 'SYSTEM');"
        "INSERT INTO keys VALUES(3, 2, 'CurrentControlSet');"
        "INSERT INTO keys VALUES(4, 3, 'Services');");
    if (!ok) {
        Exec("ROLLBACK");
        return false;
    }
    return Exec("COMMIT");
}

bool OpenDb(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_URI, nullptr);
    g_reg.db.reset(db);
    if (rc != SQLITE_OK) {
        g_reg.error = "cannot open the registry store " + path + ": " +
                      (db ? sqlite3_errmsg(db) : "out of memory");
        g_reg.db.reset();
        return false;
    }
    sqlite3_busy_timeout(db, 10000);
    sqlite3_extended_result_codes(db, 1);
    return true;
}

// A path as the path part of a file: URI.
std::string UriPath(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (c == '%' || c == '?' || c == '#' || c < 0x21 || c >= 0x7f) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// True when the file at `path` is empty (it may become a store) or begins as an SQLite
// database does; a file of any other content is never taken for a store, however short.
bool MayBeStore(const std::string& path) {
    FileHandle f(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!f.valid()) return true;  // what opening it says is reported later
    std::array<std::uint8_t, 16> head{};
    const long n = ReadSome(f.get(), head);
    static constexpr char kMagic[] = "SQLite format 3";  // and its terminating zero
    return n == 0 || (n == 16 && std::memcmp(head.data(), kMagic, 16) == 0);
}

// True when the file's header says WAL mode (both version bytes 2).
bool InWalMode(const std::string& path) {
    FileHandle f(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    std::array<std::uint8_t, 20> head{};
    return f.valid() && ReadSome(f.get(), head) == 20 && head[18] == 2 && head[19] == 2;
}

// SQLite's quick check of the open store: empty text when it is sound, else what is wrong.
std::string QuickCheck() {
    Stmt s = Prepare("PRAGMA quick_check");
    if (!s) return sqlite3_errmsg(g_reg.db.get());
    std::string result;
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
        const auto* text = sqlite3_column_text(s.get(), 0);
        std::string line = text ? reinterpret_cast<const char*>(text) : "";
        if (line == "ok") continue;
        if (!result.empty()) result += "; ";
        result += line;
    }
    return result;
}

// Opens (or re-opens, when the environment now names another file) the store.
bool Connect() {
    std::string path = RegistryStorePath();
    if (g_reg.db && path == g_reg.path && !g_reg.bad) return true;
    g_reg = RegistryState{};
    g_reg.path = path;

    std::error_code ec;
    auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) CreateDirectories(parent.string());

    bool exists = std::filesystem::exists(path, ec);
    if (exists && !MayBeStore(path)) {
        g_reg.error = path + " is not a valid registry store (not an SQLite database)";
        g_reg.bad = true;
        return false;
    }
    if (OpenDb(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) {
        // SQLite falls back to reading a file it may not write (a read-only mount).
        g_reg.writable = sqlite3_db_readonly(g_reg.db.get(), "main") == 0;
    } else if (exists && OpenDb(path, SQLITE_OPEN_READONLY)) {
        g_reg.writable = false;
    } else {
        g_reg.bad = true;
        return false;
    }

    Shape shape = Examine();
    if (shape == Shape::kUnreadable && exists && InWalMode(path)) {
        // A store left in WAL mode by an older console, in a place where this process may
        // not make the shared-memory file: read it as an immutable file instead.
        std::string why = sqlite3_errmsg(g_reg.db.get());
        g_reg.writable = false;
        if (OpenDb("file:" + UriPath(path) + "?immutable=1", SQLITE_OPEN_READONLY))
            shape = Examine();
        if (shape == Shape::kUnreadable) {
            g_reg.error = path + " is not a valid registry store (" + why + ")";
            g_reg.bad = true;
            return false;
        }
    }
    if (shape == Shape::kEmpty && g_reg.writable) {
        Exec("PRAGMA journal_mode=DELETE");
        if (!CreateSchema()) {
            g_reg.writable = false;
        }
        shape = Examine();
    }
    switch (shape) {
        case Shape::kStore:
            break;
        case Shape::kEmpty:
            g_reg.error = "the registry store " + path + " does not exist and cannot be created";
            g_reg.bad = true;
            return false;
        case Shape::kForeign: {
            const std::string damage = QuickCheck();
            g_reg.error = damage.empty() ? path + " is a database but not a registry store"
                                         : path + " is a damaged registry store (" + damage + ")";
            g_reg.bad = true;
            return false;
        }
        case Shape::kUnreadable:
            g_reg.error = path + " is not a valid registry store (" +
                          sqlite3_errmsg(g_reg.db.get()) + ")";
            g_reg.bad = true;
            return false;
    }
    if (g_reg.writable) {
        // A damaged store is never written to.
        const std::string damage = QuickCheck();
        if (!damage.empty()) {
            g_reg.error = path + " is a damaged registry store (" + damage + ")";
            g_reg.bad = true;
            return false;
        }
        // A rollback journal, not WAL: a reader then makes no file at all (a WAL reader
        // leaves -wal and -shm files behind, owned by whoever read), so the filter may
        // read the store as another user from a directory it cannot write.
        if (!Exec("PRAGMA journal_mode=DELETE")) g_reg.writable = false;
        Exec("PRAGMA synchronous=FULL");
    }
    g_reg.error.clear();
    return true;
}

long Ready() {
    if (!Connect()) return kErrBadDb;
    g_reg.error.clear();
    return kErrSuccess;
}

// Splits a backslash path into its parts; empty parts (doubled or leading
// backslashes) make the path invalid.
bool SplitPath(std::string_view path, std::vector<std::string_view>& parts) {
    parts.clear();
    if (path.empty()) return true;
    std::size_t start = 0;
    while (true) {
        std::size_t bs = path.find('\\', start);
        std::string_view part = path.substr(start, bs == std::string_view::npos ? bs : bs - start);
        if (part.empty()) {
            // A single trailing backslash is tolerated, as Windows does.
            return bs == std::string_view::npos && !parts.empty();
        }
        parts.push_back(part);
        if (bs == std::string_view::npos) return true;
        start = bs + 1;
    }
}

bool KeyExists(std::int64_t id) {
    Stmt s = Prepare("SELECT 1 FROM keys WHERE id = ?");
    if (!s) return false;
    sqlite3_bind_int64(s.get(), 1, id);
    return sqlite3_step(s.get()) == SQLITE_ROW;
}

// Finds the child of `parent` called `name`: its id, 0 when absent, -1 on error.
std::int64_t Child(std::int64_t parent, std::string_view name) {
    Stmt s = Prepare("SELECT id FROM keys WHERE parent = ? AND name = ?");
    if (!s) return -1;
    sqlite3_bind_int64(s.get(), 1, parent);
    BindText(s.get(), 2, name);
    int rc = sqlite3_step(s.get());
    if (rc == SQLITE_ROW) return sqlite3_column_int64(s.get(), 0);
    return rc == SQLITE_DONE ? 0 : -1;
}

long CheckHandle(const RegKey& key) {
    if (!key.IsOpen()) return Fail(kErrInvalidHandle, "the key is not open");
    if (!KeyExists(key.id)) return Fail(kErrKeyDeleted, "the key has been deleted");
    return kErrSuccess;
}

// Tests make the store refuse writes as a read-only one does (RefuseRegistryWrites).
bool g_refuseWrites = false;

long CheckWritable() {
    if (!g_reg.writable || g_refuseWrites)
        return Fail(kErrAccessDenied, "the registry store " + g_reg.path + " is read-only");
    return kErrSuccess;
}

long StepDone(Stmt& s, const char* what) {
    int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) return kErrSuccess;
    if (rc == SQLITE_READONLY || (rc & 0xff) == SQLITE_READONLY || (rc & 0xff) == SQLITE_CANTOPEN)
        return Fail(kErrAccessDenied, DbMessage(what));
    return Fail(kErrBadDb, DbMessage(what));
}

}  // namespace

RegKey HkeyLocalMachine() { return RegKey{kRootId}; }

void RefuseRegistryWrites(bool refuse) { g_refuseWrites = refuse; }

long RegOpenKey(const RegKey& parent, std::string_view subKey, RegKey& out) {
    out = RegKey{};
    if (long rc = Ready()) return rc;
    if (long rc = CheckHandle(parent)) return rc;
    std::vector<std::string_view> parts;
    if (!SplitPath(subKey, parts)) return Fail(kErrInvalidParameter, "invalid key path");
    std::int64_t id = parent.id;
    for (auto part : parts) {
        id = Child(id, part);
        if (id < 0) return Fail(kErrBadDb, DbMessage("cannot read the registry store"));
        if (id == 0) return Fail(kErrFileNotFound, "the key does not exist");
    }
    out.id = id;
    return kErrSuccess;
}

long RegCreateKey(const RegKey& parent, std::string_view subKey, RegKey& out) {
    out = RegKey{};
    if (long rc = Ready()) return rc;
    if (long rc = CheckHandle(parent)) return rc;
    std::vector<std::string_view> parts;
    if (!SplitPath(subKey, parts)) return Fail(kErrInvalidParameter, "invalid key path");
    std::int64_t id = parent.id;
    for (auto part : parts) {
        std::int64_t child = Child(id, part);
        if (child < 0) return Fail(kErrBadDb, DbMessage("cannot read the registry store"));
        if (child == 0) {
            if (long rc = CheckWritable()) return rc;
            Stmt s = Prepare("INSERT OR IGNORE INTO keys(parent, name) VALUES(?, ?)");
            if (!s) return Fail(kErrBadDb, DbMessage("cannot create the key"));
            sqlite3_bind_int64(s.get(), 1, id);
            BindText(s.get(), 2, part);
            if (long rc = StepDone(s, "cannot create the key")) return rc;
            child = Child(id, part);  // also right when another process made it first
            if (child <= 0) return Fail(kErrBadDb, DbMessage("cannot create the key"));
        }
        id = child;
    }
    out.id = id;
    return kErrSuccess;
}

long RegQueryValue(const RegKey& key, std::string_view name, unsigned& type, std::string& data,
                   std::size_t capacity) {
    data.clear();
    type = kRegNone;
    if (long rc = Ready()) return rc;
    if (long rc = CheckHandle(key)) return rc;
    Stmt s = Prepare("SELECT type, data FROM vals WHERE key = ? AND name = ?");
    if (!s) return Fail(kErrBadDb, DbMessage("cannot read the registry store"));
    sqlite3_bind_int64(s.get(), 1, key.id);
    BindText(s.get(), 2, name);
    int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) return Fail(kErrFileNotFound, "the value does not exist");
    if (rc != SQLITE_ROW) return Fail(kErrBadDb, DbMessage("cannot read the registry store"));
    type = static_cast<unsigned>(sqlite3_column_int64(s.get(), 0));
    const void* blob = sqlite3_column_blob(s.get(), 1);
    std::size_t size = static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 1));
    if (size > capacity) return Fail(kErrMoreData, "the value does not fit");
    if (size > 0) data.assign(static_cast<const char*>(blob), size);
    return kErrSuccess;
}

long RegSetValue(const RegKey& key, std::string_view name, unsigned type, std::string_view data) {
    if (long rc = Ready()) return rc;
    if (long rc = CheckHandle(key)) return rc;
    if (long rc = CheckWritable()) return rc;
    // On conflict the stored name keeps its case, as on Windows.
    Stmt s = Prepare(
        "INSERT INTO vals(key, name, type, data) VALUES(?, ?, ?, ?)"
        " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
    if (!s) return Fail(kErrBadDb, DbMessage("cannot write the value"));
    sqlite3_bind_int64(s.get(), 1, key.id);
    BindText(s.get(), 2, name);
    sqlite3_bind_int64(s.get(), 3, type);
    sqlite3_bind_blob(s.get(), 4, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    return StepDone(s, "cannot write the value");
}

long RegDeleteValue(const RegKey& key, std::string_view name) {
    if (long rc = Ready()) return rc;
    if (long rc = CheckHandle(key)) return rc;
    if (long rc = CheckWritable()) return rc;
    Stmt s = Prepare("DELETE FROM vals WHERE key = ? AND name = ?");
    if (!s) return Fail(kErrBadDb, DbMessage("cannot delete the value"));
    sqlite3_bind_int64(s.get(), 1, key.id);
    BindText(s.get(), 2, name);
    if (long rc = StepDone(s, "cannot delete the value")) return rc;
    if (sqlite3_changes(g_reg.db.get()) == 0)
        return Fail(kErrFileNotFound, "the value does not exist");
    return kErrSuccess;
}

long RegDeleteTree(const RegKey& parent, std::string_view subKey) {
    RegKey target;
    if (long rc = RegOpenKey(parent, subKey, target)) return rc;
    if (target.id == kRootId) return Fail(kErrAccessDenied, "the root key cannot be deleted");
    if (long rc = CheckWritable()) return rc;
    if (!Exec("BEGIN IMMEDIATE")) return Fail(kErrAccessDenied, DbMessage("cannot delete the key"));
    const char* kTree =
        "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL"
        " SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) ";
    std::string delVals = std::string(kTree) + "DELETE FROM vals WHERE key IN (SELECT id FROM tree)";
    std::string delKeys = std::string(kTree) + "DELETE FROM keys WHERE id IN (SELECT id FROM tree)";
    for (const std::string& sql : {delVals, delKeys}) {
        Stmt s = Prepare(sql.c_str());
        long rc = s ? kErrSuccess : Fail(kErrBadDb, DbMessage("cannot delete the key"));
        if (s) {
            sqlite3_bind_int64(s.get(), 1, target.id);
            rc = StepDone(s, "cannot delete the key");
        }
        if (rc != kErrSuccess) {
            std::string why = g_reg.error;
            Exec("ROLLBACK");
            return Fail(rc, why);
        }
    }
    if (!Exec("COMMIT")) {
        std::string why = DbMessage("cannot delete the key");
        Exec("ROLLBACK");
        return Fail(kErrAccessDenied, why);
    }
    return kErrSuccess;
}

long RegEnumKey(const RegKey& key, std::size_t index, std::string& name) {
    name.clear();
    if (long rc = Ready()) return rc;
    if (long rc = CheckHandle(key)) return rc;
    Stmt s = Prepare("SELECT name FROM keys WHERE parent = ? ORDER BY name LIMIT 1 OFFSET ?");
    if (!s) return Fail(kErrBadDb, DbMessage("cannot read the registry store"));
    sqlite3_bind_int64(s.get(), 1, key.id);
    sqlite3_bind_int64(s.get(), 2, static_cast<sqlite3_int64>(index));
    int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) return kErrNoMoreItems;
    if (rc != SQLITE_ROW) return Fail(kErrBadDb, DbMessage("cannot read the registry store"));
    name = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
    return kErrSuccess;
}

long RegEnumValue(const RegKey& key, std::size_t index, std::string& name, unsigned& type,
                  std::string& data) {
    name.clear();
    data.clear();
    type = kRegNone;
    if (long rc = Ready()) return rc;
    if (long rc = CheckHandle(key)) return rc;
    Stmt s = Prepare(
        "SELECT name, type, data FROM vals WHERE key = ? ORDER BY name LIMIT 1 OFFSET ?");
    if (!s) return Fail(kErrBadDb, DbMessage("cannot read the registry store"));
    sqlite3_bind_int64(s.get(), 1, key.id);
    sqlite3_bind_int64(s.get(), 2, static_cast<sqlite3_int64>(index));
    int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) return kErrNoMoreItems;
    if (rc != SQLITE_ROW) return Fail(kErrBadDb, DbMessage("cannot read the registry store"));
    name = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
    type = static_cast<unsigned>(sqlite3_column_int64(s.get(), 1));
    const void* blob = sqlite3_column_blob(s.get(), 2);
    int size = sqlite3_column_bytes(s.get(), 2);
    if (size > 0) data.assign(static_cast<const char*>(blob), static_cast<std::size_t>(size));
    return kErrSuccess;
}

std::string RegistryError() { return g_reg.error; }

void ResetRegistry() {
    g_reg = RegistryState{};
    g_refuseWrites = false;
}
namespace {
const platform::StateReset kResetRegistry{platform::StateLayer::kPlatform, &ResetRegistry};
}  // namespace

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
    });
}

bool ReadRegistryKeyValues(const std::string& storePath, std::string_view keyPath,
                           RegistryValues& values, std::string& error) {
    values.clear();
    sqlite3* raw = nullptr;
    const std::string uri = "file:" + UriPath(storePath) + "?mode=ro";
    const int rc = sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    Db db(raw);
    auto fail = [&](const std::string& what) {
        error = storePath + ": " + what + (db ? std::string(": ") + sqlite3_errmsg(db.get()) : "");
        return false;
    };
    if (rc != SQLITE_OK) return fail("cannot open the registry store");
    sqlite3_busy_timeout(db.get(), 2000);
    auto prepare = [&](const char* sql) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db.get(), sql, -1, &s, nullptr) != SQLITE_OK) {
            sqlite3_finalize(s);
            s = nullptr;
        }
        return Stmt(s);
    };
    // One read transaction, so that the values are those of one moment.
    if (sqlite3_exec(db.get(), "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail("cannot read the registry store");
    std::vector<std::string_view> parts;
    if (!SplitPath(keyPath, parts)) {
        error = "invalid key path";
        return false;
    }
    Stmt child = prepare("SELECT id FROM keys WHERE parent = ? AND name = ?");
    if (!child) return fail("not a registry store");
    std::int64_t id = kRootId;
    for (std::string_view part : parts) {
        sqlite3_reset(child.get());
        sqlite3_bind_int64(child.get(), 1, id);
        BindText(child.get(), 2, part);
        const int step = sqlite3_step(child.get());
        if (step == SQLITE_DONE) return true;  // no such key: no values
        if (step != SQLITE_ROW) return fail("cannot read the registry store");
        id = sqlite3_column_int64(child.get(), 0);
    }
    Stmt rows = prepare("SELECT name, data FROM vals WHERE key = ?");
    if (!rows) return fail("not a registry store");
    sqlite3_bind_int64(rows.get(), 1, id);
    int step;
    while ((step = sqlite3_step(rows.get())) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(rows.get(), 0));
        const auto* data = static_cast<const char*>(sqlite3_column_blob(rows.get(), 1));
        std::string text(data ? data : "", static_cast<std::size_t>(sqlite3_column_bytes(rows.get(), 1)));
        values[name ? name : ""] = text.substr(0, text.find('\0'));
    }
    if (step != SQLITE_DONE) {
        values.clear();
        return fail("cannot read the registry store");
    }
    return true;
}

}  // namespace platform
