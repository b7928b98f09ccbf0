#include "sqlite_register.h"

#include "cp1250.h"
#include "register_file.h"
#include "register_location.h"
#include "sha256.h"
#include "version_text.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

// The SQL below is what PostgreSQL runs too, for a register a company's
// installers share. Where this implementation has to differ, it says so:
//  - the schema's types (INTEGER PRIMARY KEY here, an identity column there;
//    BLOB here, BYTEA there) and sqlite3_last_insert_rowid() (RETURNING id);
//  - BEGIN IMMEDIATE, which takes the write lock at once so that the busy
//    timeout, not a failed upgrade, settles two programs writing (BEGIN there);
//  - the PRAGMAs of the connection (write-ahead log, synchronous, secure
//    delete, quick check), which PostgreSQL's server keeps by itself.
// The schema's version lives in a table of its own, not in PRAGMA user_version.

namespace trellikon::reg {

namespace {

constexpr const char* kSchema2[] = {
    "CREATE TABLE register_meta (name VARCHAR(40) PRIMARY KEY, value VARCHAR(200) NOT NULL)",
    "CREATE TABLE installations (id INTEGER PRIMARY KEY, name VARCHAR(200) NOT NULL UNIQUE, "
    "notes TEXT NOT NULL, created_at VARCHAR(24) NOT NULL, "
    "device_phone VARCHAR(40) NOT NULL DEFAULT '')",
    "CREATE TABLE versions (id INTEGER PRIMARY KEY, "
    "installation_id INTEGER REFERENCES installations (id), recorded_at VARCHAR(24) NOT NULL, "
    "kind VARCHAR(40) NOT NULL, port VARCHAR(200) NOT NULL, "
    "program_version VARCHAR(40) NOT NULL, summary VARCHAR(400) NOT NULL, "
    "sha256 CHAR(64) NOT NULL, content BLOB NOT NULL)",
    "CREATE INDEX versions_by_installation ON versions (installation_id, recorded_at, id)",
    "CREATE INDEX versions_by_identity ON versions (sha256, recorded_at)",
    "CREATE INDEX versions_by_time ON versions (recorded_at, id)",
};
// What the second schema adds to the first: the device's own number, and the
// phone numbers of every version, kept reversed so that "ends with" is a
// range of an index ("601234567" finds 48601234567).
constexpr const char* kSchema2Additions[] = {
    "CREATE TABLE version_numbers (version_id INTEGER NOT NULL REFERENCES versions (id), "
    "role VARCHAR(8) NOT NULL, position INTEGER NOT NULL, number VARCHAR(20) NOT NULL, "
    "reversed VARCHAR(20) NOT NULL)",
    "CREATE INDEX version_numbers_by_reversed ON version_numbers (reversed)",
    "CREATE INDEX version_numbers_by_version ON version_numbers (version_id)",
};

constexpr const char* kVersionColumns =
    "v.id, v.installation_id, i.name, v.recorded_at, v.kind, v.port, v.program_version, "
    "v.summary, v.sha256, v.content FROM versions v "
    "LEFT JOIN installations i ON i.id = v.installation_id ";

std::string reversed(const std::string& s) {
    return std::string(s.rbegin(), s.rend());
}

std::string cleanName(const std::string& name) {
    const auto first = name.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return name.substr(first, name.find_last_not_of(" \t") - first + 1);
}

std::string checkText(const std::string& what, const std::string& s, std::size_t most) {
    if (!validUtf8(s))
        return what + " nie jest poprawnym tekstem UTF-8";
    if (s.size() > most)
        return what + " jest za długa (najwyżej " + std::to_string(most) + " bajtów)";
    return {};
}

} // namespace

class SqliteRegister::Statement {
  public:
    Statement(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st_, nullptr) != SQLITE_OK)
            st_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(st_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return st_ != nullptr; }
    void reset() {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }
    Statement& bind(int i, const std::string& s) {
        sqlite3_bind_text(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int i, Id v) {
        sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    Statement& bindOwner(int i, Id v) { // 0: none
        if (v == 0)
            sqlite3_bind_null(st_, i);
        else
            sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    Statement& bind(int i, const Bytes& b) {
        sqlite3_bind_blob(st_, i, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error; a statement that did not prepare is an error.
    int step() { return st_ ? sqlite3_step(st_) : SQLITE_ERROR; }
    bool run() {
        const int rc = step();
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    std::string text(int c) const {
        const auto* p = sqlite3_column_text(st_, c);
        return p ? std::string(reinterpret_cast<const char*>(p),
                               static_cast<std::size_t>(sqlite3_column_bytes(st_, c)))
                 : std::string();
    }
    Id integer(int c) const { return sqlite3_column_int64(st_, c); }
    // False for content that is not 4096 bytes.
    bool bytes(int c, Bytes& out) const {
        const void* p = sqlite3_column_blob(st_, c);
        if (!p || sqlite3_column_bytes(st_, c) != static_cast<int>(out.size()))
            return false;
        std::copy_n(static_cast<const std::uint8_t*>(p), out.size(), out.begin());
        return true;
    }

  private:
    sqlite3_stmt* st_ = nullptr;
};

// One recording, one transaction: everything or nothing reaches the file.
class SqliteRegister::Transaction {
  public:
    explicit Transaction(sqlite3* db) : db_(db) {
        begun_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Transaction() {
        if (begun_ && !done_)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool begun() const { return begun_; }
    bool commit() {
        done_ = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        return done_;
    }

  private:
    sqlite3* db_;
    bool begun_ = false;
    bool done_ = false;
};

SqliteRegister::SqliteRegister(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

SqliteRegister::~SqliteRegister() {
    sqlite3_close_v2(db_);
}

std::string SqliteRegister::failure(const std::string& what) {
    std::string why;
    const int code = sqlite3_extended_errcode(db_) & 0xFF;
    if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
        damagedInUse();
    switch (code) {
    case SQLITE_FULL:
        why = "brak miejsca na dysku";
        break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
        why = "brak uprawnień do zapisu pliku";
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        why = "rejestr jest zajęty przez inny program";
        break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        why = "plik rejestru jest uszkodzony";
        break;
    case SQLITE_IOERR:
        why = "błąd zapisu na dysk";
        break;
    default:
        why = sqlite3_errmsg(db_);
    }
    return "rejestr „" + path_ + "”: " + what + ": " + why;
}

std::string SqliteRegister::damagedVersion(Id id) {
    damagedInUse();
    return "rejestr „" + path_ + "”: wersja " + std::to_string(id) + " jest uszkodzona";
}

void SqliteRegister::damagedInUse() {
    if (!writable_)
        return;
    // Found after the opening's check: from now on only read, and closing
    // leaves the log beside the file instead of copying it in.
    writable_ = false;
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    notice_ = damagedNotice();
}

std::string SqliteRegister::refuseChange() const {
    return notice_.empty() ? "rejestr „" + path_ + "” jest tylko do odczytu" : notice_;
}

namespace {

// No copy of the register is from today (UTC) yet.
bool copyDue(const std::string& path) {
    const std::vector<std::string> copies = registerCopies(path);
    return copies.empty() || copies.front() != copyName(path, nowUtc().substr(0, 10));
}

// The first row of a check PRAGMA is "ok" for a sound file.
bool checkSays(sqlite3* db, const char* sql, bool& damaged) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    std::string first;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            const auto* p = sqlite3_column_text(st, 0);
            first = p ? reinterpret_cast<const char*>(p) : "";
        }
    }
    sqlite3_finalize(st);
    if (rc == SQLITE_ROW)
        damaged = first != "ok";
    else
        damaged = (sqlite3_errcode(db) & 0xFF) != SQLITE_BUSY;
    return rc == SQLITE_ROW && !damaged;
}

// Reads every page of a b-tree but its content's overflow pages: SQLite
// checks each page it reads, and a damaged one fails the count.
bool walkSays(sqlite3* db, const char* sql, bool& damaged) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(st);
    sqlite3_finalize(st);
    damaged = rc != SQLITE_ROW && (sqlite3_errcode(db) & 0xFF) != SQLITE_BUSY;
    return rc == SQLITE_ROW;
}

// Whether the file may be written to; `damaged` tells a damaged file from one
// that could not be looked at (busy). The whole file's quick check reads all
// of it, a second for a large register: it runs once a day, before the daily
// copy, so that a damaged file never pushes a sound copy out. Every other
// opening checks the file's first page and schema, the installations in
// full, and the b-tree of the versions themselves (what a read or a write
// walks first); the rest, the search index and the versions' content, is
// checked as it is read (SQLite's page checks, each version's SHA-256), and
// damage found then also stops every write (SqliteRegister::failure).
bool fileSound(sqlite3* db, bool whole, bool& damaged) {
    damaged = false;
    if (whole)
        return checkSays(db, "PRAGMA quick_check", damaged);
    // Reading the schema reads the first page; a file that is not a
    // register, or an empty one, is told apart later (prepare()).
    std::set<std::string> tables;
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &st,
                                nullptr);
    if (rc == SQLITE_OK)
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            if (const auto* p = sqlite3_column_text(st, 0))
                tables.insert(reinterpret_cast<const char*>(p));
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) {
        damaged = (sqlite3_errcode(db) & 0xFF) != SQLITE_BUSY;
        return false;
    }
    for (const char* table : {"register_meta", "installations"})
        if (tables.count(table) &&
            !checkSays(db, ("PRAGMA quick_check(" + std::string(table) + ")").c_str(), damaged))
            return false;
    return !tables.count("versions") ||
           walkSays(db, "SELECT COUNT(*) FROM versions NOT INDEXED", damaged);
}

} // namespace

std::unique_ptr<SqliteRegister> SqliteRegister::open(const std::string& path, std::string& error,
                                                     const OpenOptions& options) {
    error.clear();
    if (path.empty()) {
        error = "nie wiadomo, gdzie trzymać rejestr (brak katalogu domowego); podaj --register "
                "PLIK";
        return nullptr;
    }
    const bool memory = path == ":memory:";
    const bool exists = !memory && fileExists(path);
    if (!memory && !exists)
        if (error = prepareFolder(path); !error.empty())
            return nullptr;
    // Without a log beside it, the file is checked as it lies, by a
    // connection that cannot leave anything behind (not even a log); with
    // one, the log is part of what is checked, and this connection, which
    // will not copy the log into the file, checks both.
    bool checked = false;
    const bool whole = exists && (options.checkWhole || (options.dailyCopy && copyDue(path)));
    if (exists && !fileExists(path + "-wal")) {
        sqlite3* untouched = nullptr;
        sqlite3_open_v2(untouchedUri(path).c_str(), &untouched,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        bool damaged = false;
        fileSound(untouched, whole, damaged);
        sqlite3_close_v2(untouched);
        if (damaged) {
            std::unique_ptr<SqliteRegister> reg(new SqliteRegister(nullptr, path));
            reg->openDamaged();
            return reg;
        }
        checked = true;
    }
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (exists ? 0 : SQLITE_OPEN_CREATE);
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = "nie można otworzyć rejestru „" + path +
                "”: " + (db ? sqlite3_errmsg(db) : "brak pamięci");
        sqlite3_close_v2(db);
        return nullptr;
    }
    std::unique_ptr<SqliteRegister> reg(new SqliteRegister(db, path));
    reg->checkedWhole_ = whole;
    if (!memory && !exists)
        keepPrivate(path);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, options.busyTimeoutMs);
    // Until the file is known sound, closing must not copy its log into it.
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    if (exists && !checked) {
        bool damaged = false;
        if (!fileSound(db, whole, damaged)) {
            if (!damaged) {
                error = reg->failure("nie można sprawdzić pliku");
                return nullptr;
            }
            reg->openDamaged();
            return reg;
        }
    }
    if (error = reg->prepare(options); !error.empty())
        return nullptr;
    return reg;
}

void SqliteRegister::openDamaged() {
    // Closed without a checkpoint, then read as it lies on the disk.
    sqlite3_close_v2(db_);
    db_ = nullptr;
    sqlite3_open_v2(untouchedUri(path_).c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                    nullptr);
    writable_ = false;
    notice_ = damagedNotice();
}

std::string SqliteRegister::damagedNotice() const {
    const std::vector<std::string> copies = registerCopies(path_);
    std::string notice = "rejestr „" + path_ +
                         "” jest uszkodzony: otwarto go tylko do odczytu i nic nie zostanie w "
                         "nim zapisane. ";
    notice += copies.empty() ? "Kopii rejestru nie ma; zachowaj uszkodzony plik i podaj nowy "
                               "plik rejestru (--register)."
                             : "Najnowsza kopia to „" + copies.front() +
                                   "”: zamknij program, zachowaj uszkodzony plik pod inną "
                                   "nazwą i skopiuj kopię na jego miejsce.";
    return notice;
}

std::string SqliteRegister::prepare(const OpenOptions& options) {
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    // With the log, a commit survives the program being killed; a backup is
    // also flushed to the disk at its commit (record()), so that it survives
    // a power cut during the write that follows it.
    durable_ = options.durable;
    sqlite3_exec(db_, durable_ ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=OFF", nullptr,
                 nullptr, nullptr);
    // Deleted installations leave zeros, not residents' numbers, behind.
    sqlite3_exec(db_, "PRAGMA secure_delete=ON", nullptr, nullptr, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);

    int tables = 0;
    {
        Statement q(db_, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'");
        if (q.step() != SQLITE_ROW)
            return failure("nie można odczytać pliku");
        tables = static_cast<int>(q.integer(0));
    }
    if (tables == 0) {
        Transaction t(db_);
        if (!t.begun())
            return failure("nie można zapisać");
        for (const char* sql : kSchema2)
            if (!Statement(db_, sql).run())
                return failure("nie można utworzyć rejestru");
        for (const char* sql : kSchema2Additions)
            if (!Statement(db_, sql).run())
                return failure("nie można utworzyć rejestru");
        if (!Statement(db_, "INSERT INTO register_meta (name, value) VALUES ('schema', '2')")
                 .run() ||
            !t.commit())
            return failure("nie można utworzyć rejestru");
        return {};
    }
    const int schema = schemaVersion();
    if (schema <= 0)
        return "plik „" + path_ + "” nie jest rejestrem instalacji";
    if (schema > kSchemaVersion) {
        writable_ = false;
        notice_ = "rejestr „" + path_ +
                  "” pochodzi z nowszej wersji programu: otwarto go tylko do odczytu";
        return {};
    }
    if (checkedWhole_ && options.dailyCopy)
        if (const std::string e = makeDailyCopy(); !e.empty())
            notice_ = e;
    if (schema < kSchemaVersion)
        return migrate(schema);
    return {};
}

int SqliteRegister::schemaVersion() {
    Statement q(db_, "SELECT value FROM register_meta WHERE name = 'schema'");
    if (q.step() != SQLITE_ROW)
        return 0;
    const std::string v = q.text(0);
    return v.size() == 1 && v[0] >= '1' && v[0] <= '9' ? v[0] - '0' : 0;
}

std::string SqliteRegister::migrate(int from) {
    if (from != 1)
        return "plik „" + path_ + "” nie jest rejestrem instalacji";
    Transaction t(db_);
    if (!t.begun())
        return failure("nie można uaktualnić rejestru");
    if (!Statement(db_, "ALTER TABLE installations ADD COLUMN device_phone VARCHAR(40) NOT NULL "
                        "DEFAULT ''")
             .run())
        return failure("nie można uaktualnić rejestru");
    for (const char* sql : kSchema2Additions)
        if (!Statement(db_, sql).run())
            return failure("nie można uaktualnić rejestru");
    {
        Statement all(db_, "SELECT id, content FROM versions");
        std::vector<std::pair<Id, Bytes>> versions;
        int rc;
        while ((rc = all.step()) == SQLITE_ROW) {
            Bytes b{};
            if (all.bytes(1, b))
                versions.emplace_back(all.integer(0), b);
        }
        if (rc != SQLITE_DONE)
            return failure("nie można uaktualnić rejestru");
        for (const auto& [id, bytes] : versions)
            if (const Status s = indexNumbers(id, bytes); !s.ok())
                return s.error;
    }
    if (!Statement(db_, "UPDATE register_meta SET value = '2' WHERE name = 'schema'").run() ||
        !t.commit())
        return failure("nie można uaktualnić rejestru");
    return {};
}

std::string SqliteRegister::makeDailyCopy() {
    if (!copyDue(path_))
        return {};
    std::vector<std::string> copies = registerCopies(path_);
    const std::string target = copyName(path_, nowUtc().substr(0, 10));
    const std::string temporary = target + ".tmp";
    removeFile(temporary);
    sqlite3* copy = nullptr;
    bool ok = sqlite3_open_v2(temporary.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                              nullptr) == SQLITE_OK;
    if (ok) {
        keepPrivate(temporary);
        sqlite3_backup* b = sqlite3_backup_init(copy, "main", db_, "main");
        ok = b && sqlite3_backup_step(b, -1) == SQLITE_DONE;
        ok = sqlite3_backup_finish(b) == SQLITE_OK && ok;
    }
    sqlite3_close_v2(copy);
    if (!ok || !replaceFile(temporary, target)) {
        removeFile(temporary);
        return "ostrzeżenie: nie udało się zrobić dziennej kopii rejestru „" + target + "”";
    }
    copies.insert(copies.begin(), target);
    for (std::size_t i = kCopiesKept; i < copies.size(); ++i)
        removeFile(copies[i]);
    return {};
}

Status SqliteRegister::indexNumbers(Id version, const Bytes& bytes) {
    Statement insert(db_, "INSERT INTO version_numbers (version_id, role, position, number, "
                          "reversed) VALUES (?, ?, ?, ?, ?)");
    for (const PhoneEntry& e : phoneNumbers(bytes)) {
        insert.reset();
        insert.bind(1, version)
            .bind(2, std::string(roleKey(e.role)))
            .bind(3, Id{e.position})
            .bind(4, e.number)
            .bind(5, reversed(e.number));
        if (!insert.run())
            return {failure("nie można zapisać numerów wersji")};
    }
    return {};
}

namespace {

// A version row as kVersionColumns selects it; false for a row whose content
// is not the whole image it was (a damaged file): a changed byte of a version
// is never shown, compared or written back to a device.
bool readVersion(const auto& q, Version& v, bool withBytes) {
    v.info.id = q.integer(0);
    v.info.installationId = q.integer(1);
    v.info.installationName = v.info.installationId ? q.text(2) : kUnassigned;
    v.info.timeUtc = q.text(3);
    v.info.kind = q.text(4);
    v.info.port = q.text(5);
    v.info.programVersion = q.text(6);
    v.info.summary = q.text(7);
    v.info.sha256 = q.text(8);
    return !withBytes ||
           (q.bytes(9, v.bytes) && hex(sha256(v.bytes.data(), v.bytes.size())) == v.info.sha256);
}

} // namespace

Result<std::optional<Version>> SqliteRegister::latestBefore(Id installation,
                                                            const std::string& timeUtc, Id notId) {
    Result<std::optional<Version>> r;
    Statement q(db_, std::string("SELECT ") + kVersionColumns +
                         "WHERE v.installation_id = ? AND v.recorded_at <= ? AND v.id <> ? "
                         "ORDER BY v.recorded_at DESC, v.id DESC LIMIT 1");
    q.bind(1, installation).bind(2, timeUtc).bind(3, notId);
    const int rc = q.step();
    if (rc == SQLITE_ROW) {
        Version v;
        if (!readVersion(q, v, true)) {
            r.error = damagedVersion(v.info.id);
            return r;
        }
        r.value = v;
    } else if (rc != SQLITE_DONE) {
        r.error = failure("nie można odczytać wersji");
    }
    return r;
}

Result<std::optional<Version>> SqliteRegister::latest(Id installation) {
    return latestBefore(installation, "9999", 0);
}

std::string SqliteRegister::summaryFor(Id installation, const std::string& timeUtc, Id notId,
                                       const Bytes& bytes, std::string& error) {
    const auto previous = latestBefore(installation, timeUtc, notId);
    if (!previous.ok()) {
        error = previous.error;
        return {};
    }
    return summaryLine(previous.value ? &previous.value->bytes : nullptr, bytes);
}

Result<Id> SqliteRegister::insertVersion(const NewVersion& v, const std::string& summary) {
    Result<Id> r;
    Statement q(db_, "INSERT INTO versions (installation_id, recorded_at, kind, port, "
                     "program_version, summary, sha256, content) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    q.bindOwner(1, v.installationId)
        .bind(2, v.timeUtc)
        .bind(3, v.kind)
        .bind(4, v.port)
        .bind(5, v.programVersion)
        .bind(6, summary)
        .bind(7, hex(sha256(v.bytes.data(), v.bytes.size())))
        .bind(8, v.bytes);
    if (!q.run()) {
        r.error = failure("nie można zapisać wersji");
        return r;
    }
    // PostgreSQL: INSERT ... RETURNING id.
    r.value = sqlite3_last_insert_rowid(db_);
    if (const Status s = indexNumbers(r.value, v.bytes); !s.ok())
        r.error = s.error;
    return r;
}

Result<Id> SqliteRegister::record(const NewVersion& given) {
    Result<Id> r;
    if (!writable_) {
        r.error = refuseChange();
        return r;
    }
    NewVersion v = given;
    if (v.timeUtc.empty())
        v.timeUtc = nowUtc();
    if (!knownKind(v.kind) || !wellFormedTime(v.timeUtc)) {
        r.error = "nieznany rodzaj wersji „" + v.kind + "”";
        return r;
    }
    if (!validUtf8(v.port) || !validUtf8(v.programVersion)) {
        r.error = "nazwa portu nie jest poprawnym tekstem UTF-8";
        return r;
    }
    // A backup is flushed to the disk at its commit, so that it survives a
    // power cut during the write that follows it. The setting is taken when
    // the transaction begins: changed inside one, it would not flush this commit.
    struct Flushed {
        sqlite3* db;
        bool on;
        Flushed(sqlite3* d, bool o) : db(d), on(o) {
            if (on)
                sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
        }
        ~Flushed() {
            if (on)
                sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
        }
        Flushed(const Flushed&) = delete;
        Flushed& operator=(const Flushed&) = delete;
    } flushed(db_, durable_ && v.kind == kind::kBackup);
    Transaction t(db_);
    if (!t.begun()) {
        r.error = failure("nie można zapisać wersji");
        return r;
    }
    std::string summary = v.summary;
    if (v.installationId != 0) {
        Statement q(db_, "SELECT id FROM installations WHERE id = ?");
        if (q.bind(1, v.installationId).step() != SQLITE_ROW) {
            r.error = "w rejestrze nie ma instalacji " + std::to_string(v.installationId);
            return r;
        }
        if (summary.empty())
            summary = summaryFor(v.installationId, v.timeUtc, 0, v.bytes, r.error);
        if (!r.ok())
            return r;
    }
    r = insertVersion(v, summary);
    if (r.ok() && !t.commit())
        r.error = failure("nie można zapisać wersji");
    return r;
}

Result<Id> SqliteRegister::createInstallation(const std::string& givenName,
                                              const std::string& notes,
                                              const std::string& devicePhone) {
    Result<Id> r;
    if (!writable_) {
        r.error = refuseChange();
        return r;
    }
    const std::string name = cleanName(givenName);
    if (name.empty()) {
        r.error = "nazwa instalacji jest pusta";
        return r;
    }
    for (const std::string& e :
         {checkText("nazwa instalacji", name, 200), checkText("notatka", notes, kLongestText),
          checkText("numer urządzenia", devicePhone, 40)})
        if (!e.empty()) {
            r.error = e;
            return r;
        }
    Transaction t(db_);
    if (!t.begun()) {
        r.error = failure("nie można dodać instalacji");
        return r;
    }
    Statement exists(db_, "SELECT id FROM installations WHERE name = ?");
    if (exists.bind(1, name).step() == SQLITE_ROW) {
        r.error = "instalacja „" + name + "” już jest w rejestrze";
        return r;
    }
    Statement q(db_, "INSERT INTO installations (name, notes, created_at, device_phone) "
                     "VALUES (?, ?, ?, ?)");
    q.bind(1, name).bind(2, notes).bind(3, nowUtc()).bind(4, devicePhone);
    if (!q.run() || !t.commit()) {
        r.error = failure("nie można dodać instalacji");
        return r;
    }
    r.value = sqlite3_last_insert_rowid(db_);
    return r;
}

Status SqliteRegister::updateInstallation(Id id, const std::string& givenName,
                                          const std::string& notes,
                                          const std::string& devicePhone) {
    if (!writable_)
        return {refuseChange()};
    const std::string name = cleanName(givenName);
    if (name.empty())
        return {"nazwa instalacji jest pusta"};
    for (const std::string& e :
         {checkText("nazwa instalacji", name, 200), checkText("notatka", notes, kLongestText),
          checkText("numer urządzenia", devicePhone, 40)})
        if (!e.empty())
            return {e};
    Transaction t(db_);
    Statement other(db_, "SELECT id FROM installations WHERE name = ? AND id <> ?");
    if (other.bind(1, name).bind(2, id).step() == SQLITE_ROW)
        return {"instalacja „" + name + "” już jest w rejestrze"};
    Statement q(db_, "UPDATE installations SET name = ?, notes = ?, device_phone = ? WHERE id = ?");
    q.bind(1, name).bind(2, notes).bind(3, devicePhone).bind(4, id);
    if (!t.begun() || !q.run() || !t.commit())
        return {failure("nie można zmienić instalacji")};
    if (sqlite3_changes(db_) == 0)
        return {"w rejestrze nie ma instalacji " + std::to_string(id)};
    return {};
}

Status SqliteRegister::deleteInstallation(Id id) {
    if (!writable_)
        return {refuseChange()};
    Transaction t(db_);
    const bool done =
        t.begun() &&
        Statement(db_, "DELETE FROM version_numbers WHERE version_id IN "
                       "(SELECT id FROM versions WHERE installation_id = ?)")
            .bind(1, id)
            .run() &&
        Statement(db_, "DELETE FROM versions WHERE installation_id = ?").bind(1, id).run() &&
        Statement(db_, "DELETE FROM installations WHERE id = ?").bind(1, id).run();
    if (!done || !t.commit())
        return {failure("nie można usunąć instalacji")};
    // With secure_delete the freed pages hold zeros; the checkpoint moves them
    // into the file and empties the log, which held the pages as they were.
    // Another program reading at this moment holds the log back; its next
    // checkpoint finishes the job.
    sqlite3_exec(db_, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    return {};
}

Result<std::optional<Installation>> SqliteRegister::installationNamed(const std::string& name) {
    Result<std::optional<Installation>> r;
    Statement q(db_, "SELECT i.id, i.name, i.notes, i.device_phone, COUNT(v.id), "
                     "MAX(v.recorded_at) FROM installations i "
                     "LEFT JOIN versions v ON v.installation_id = i.id WHERE i.name = ? "
                     "GROUP BY i.id, i.name, i.notes, i.device_phone");
    const int rc = q.bind(1, cleanName(name)).step();
    if (rc == SQLITE_ROW)
        r.value = Installation{
            q.integer(0), q.text(1), q.text(2), q.text(3), static_cast<int>(q.integer(4)),
            q.text(5)};
    else if (rc != SQLITE_DONE)
        r.error = failure("nie można odczytać instalacji");
    return r;
}

Result<std::vector<Found>> SqliteRegister::installations(const std::string& search) {
    Result<std::vector<Found>> r;
    // Installations are few (a thousand is a large register): their names and
    // notes are searched here, with Polish capitals folded, which SQL's lower()
    // does not do everywhere (PostgreSQL would use ILIKE). A search counts the
    // versions of the installations it found only.
    const bool searching = !cleanName(search).empty();
    Statement q(db_, searching ? "SELECT id, name, notes, device_phone FROM installations"
                               : "SELECT i.id, i.name, i.notes, i.device_phone, COUNT(v.id), "
                                 "MAX(v.recorded_at) FROM installations i "
                                 "LEFT JOIN versions v ON v.installation_id = i.id "
                                 "GROUP BY i.id, i.name, i.notes, i.device_phone");
    std::vector<Found> all;
    int rc;
    while ((rc = q.step()) == SQLITE_ROW)
        all.push_back({Installation{q.integer(0), q.text(1), q.text(2), q.text(3),
                                    searching ? 0 : static_cast<int>(q.integer(4)),
                                    searching ? std::string() : q.text(5)},
                       {}});
    if (rc != SQLITE_DONE) {
        r.error = failure("nie można odczytać instalacji");
        return r;
    }
    // The most recently visited first; never visited last, by name.
    const auto byLastVisit = [](const Found& a, const Found& b) {
        return std::tie(b.installation.lastVisitUtc, a.installation.name) <
               std::tie(a.installation.lastVisitUtc, b.installation.name);
    };
    if (!searching) {
        std::sort(all.begin(), all.end(), byLastVisit);
        r.value = std::move(all);
        return r;
    }
    const std::string folded = foldCase(cleanName(search));
    const std::string number = searchedNumber(search);
    std::map<Id, std::vector<std::string>> byNumber;
    if (!number.empty()) {
        // Digits after the last one are ':' in the collation: the range holds
        // exactly the numbers whose reversal starts with the reversed search.
        const std::string low = reversed(number), high = low + ":";
        Statement n(db_, "SELECT v.installation_id, n.role, n.position, n.number, v.id "
                         "FROM version_numbers n JOIN versions v ON v.id = n.version_id "
                         "WHERE n.reversed >= ? AND n.reversed < ? "
                         "AND v.installation_id IS NOT NULL "
                         "ORDER BY v.recorded_at DESC, v.id DESC");
        n.bind(1, low).bind(2, high);
        std::set<std::tuple<Id, std::string, Id, std::string>> seen;
        while ((rc = n.step()) == SQLITE_ROW) {
            const Id owner = n.integer(0);
            const std::string role = n.text(1);
            const Id position = n.integer(2);
            const std::string found = n.text(3);
            if (!seen.insert({owner, role, position, found}).second)
                continue;
            auto& lines = byNumber[owner];
            if (lines.size() >= 20)
                continue;
            const auto known = roleFromKey(role);
            lines.push_back((known ? roleText(*known, static_cast<int>(position)) : "numer") +
                            ": " + found + " (wersja " + std::to_string(n.integer(4)) + ")");
        }
        if (rc != SQLITE_DONE) {
            r.error = failure("nie można przeszukać numerów");
            return r;
        }
    }
    for (Found& f : all) {
        const Installation& i = f.installation;
        bool hit = foldCase(i.name).find(folded) != std::string::npos ||
                   foldCase(i.notes).find(folded) != std::string::npos;
        if (!number.empty()) {
            const std::string device = searchedNumber(i.devicePhone);
            if (device.size() >= number.size() &&
                device.compare(device.size() - number.size(), number.size(), number) == 0) {
                f.matches.push_back("numer urządzenia: " + i.devicePhone);
                hit = true;
            }
            if (const auto it = byNumber.find(i.id); it != byNumber.end()) {
                f.matches.insert(f.matches.end(), it->second.begin(), it->second.end());
                hit = true;
            }
        }
        if (hit)
            r.value.push_back(std::move(f));
    }
    Statement visits(db_, "SELECT COUNT(*), MAX(recorded_at) FROM versions "
                          "WHERE installation_id = ?");
    for (Found& f : r.value) {
        visits.reset();
        if (visits.bind(1, f.installation.id).step() != SQLITE_ROW) {
            r.error = failure("nie można odczytać instalacji");
            return r;
        }
        f.installation.versions = static_cast<int>(visits.integer(0));
        f.installation.lastVisitUtc = visits.text(1);
    }
    std::sort(r.value.begin(), r.value.end(), byLastVisit);
    return r;
}

Result<std::vector<VersionInfo>> SqliteRegister::history(const HistoryFilter& filter) {
    Result<std::vector<VersionInfo>> r;
    std::string sql = std::string("SELECT ") + kVersionColumns;
    if (filter.which == HistoryFilter::OfInstallation)
        sql += "WHERE v.installation_id = ? ";
    else if (filter.which == HistoryFilter::Unassigned)
        sql += "WHERE v.installation_id IS NULL ";
    sql += "ORDER BY v.recorded_at DESC, v.id DESC";
    Statement q(db_, sql);
    if (filter.which == HistoryFilter::OfInstallation)
        q.bind(1, filter.installationId);
    int rc;
    while ((filter.limit == 0 || static_cast<int>(r.value.size()) < filter.limit) &&
           (rc = q.step()) == SQLITE_ROW) {
        Version v;
        readVersion(q, v, false);
        r.value.push_back(std::move(v.info));
    }
    if (filter.limit != 0 && static_cast<int>(r.value.size()) == filter.limit)
        return r;
    if (rc != SQLITE_DONE)
        r.error = failure("nie można odczytać historii");
    return r;
}

Result<std::optional<Version>> SqliteRegister::version(Id id) {
    Result<std::optional<Version>> r;
    Statement q(db_, std::string("SELECT ") + kVersionColumns + "WHERE v.id = ?");
    const int rc = q.bind(1, id).step();
    if (rc == SQLITE_ROW) {
        Version v;
        if (!readVersion(q, v, true))
            r.error = damagedVersion(id);
        else
            r.value = v;
    } else if (rc != SQLITE_DONE) {
        r.error = failure("nie można odczytać wersji");
    }
    return r;
}

Status SqliteRegister::assign(Id versionId, Id installation) {
    if (!writable_)
        return {refuseChange()};
    Transaction t(db_);
    if (!t.begun())
        return {failure("nie można przypisać wersji")};
    const auto v = version(versionId);
    if (!v.ok())
        return {v.error};
    if (!v.value)
        return {"w rejestrze nie ma wersji " + std::to_string(versionId)};
    Statement exists(db_, "SELECT id FROM installations WHERE id = ?");
    if (exists.bind(1, installation).step() != SQLITE_ROW)
        return {"w rejestrze nie ma instalacji " + std::to_string(installation)};
    std::string error;
    const std::string summary =
        summaryFor(installation, v.value->info.timeUtc, versionId, v.value->bytes, error);
    if (!error.empty())
        return {error};
    Statement q(db_, "UPDATE versions SET installation_id = ?, summary = ? WHERE id = ?");
    q.bind(1, installation).bind(2, summary).bind(3, versionId);
    if (!q.run() || !t.commit())
        return {failure("nie można przypisać wersji")};
    return {};
}

Result<std::vector<Proposal>> SqliteRegister::propose(const Bytes& bytes) {
    Result<std::vector<Proposal>> r;
    const std::vector<PhoneEntry> mine = phoneNumbers(bytes);
    // Candidates: installations any of whose versions hold one of the numbers
    // (not the SMS centre, which an operator's sites share).
    std::set<Id> candidates;
    Statement q(db_, "SELECT DISTINCT v.installation_id FROM version_numbers n "
                     "JOIN versions v ON v.id = n.version_id "
                     "WHERE n.reversed = ? AND v.installation_id IS NOT NULL");
    std::set<std::string> asked;
    for (const PhoneEntry& e : mine) {
        if (e.role == NumberRole::SmsCentre || !asked.insert(e.number).second)
            continue;
        q.reset();
        q.bind(1, reversed(e.number));
        int rc;
        while ((rc = q.step()) == SQLITE_ROW)
            candidates.insert(q.integer(0));
        if (rc != SQLITE_DONE) {
            r.error = failure("nie można przeszukać numerów");
            return r;
        }
    }
    for (Id c : candidates) {
        const auto last = latest(c);
        if (!last.ok()) {
            r.error = last.error;
            return r;
        }
        if (!last.value)
            continue;
        const int score = closeness(mine, phoneNumbers(last.value->bytes));
        if (score > 0)
            r.value.push_back({c, last.value->info.installationName, score});
    }
    std::stable_sort(r.value.begin(), r.value.end(),
                     [](const Proposal& a, const Proposal& b) { return a.score > b.score; });
    return r;
}

Result<std::string> SqliteRegister::exportData(Id installation) {
    Result<std::string> r;
    ExportContent c;
    std::map<Id, std::size_t> index;
    {
        Statement q(db_, installation != 0
                             ? "SELECT id, name, notes, device_phone FROM installations "
                               "WHERE id = ?"
                             : "SELECT id, name, notes, device_phone FROM installations "
                               "ORDER BY id");
        if (installation != 0)
            q.bind(1, installation);
        int rc;
        while ((rc = q.step()) == SQLITE_ROW) {
            c.installations.push_back({q.text(1), q.text(2), q.text(3)});
            index[q.integer(0)] = c.installations.size();
        }
        if (rc != SQLITE_DONE) {
            r.error = failure("nie można odczytać instalacji");
            return r;
        }
        if (installation != 0 && c.installations.empty()) {
            r.error = "w rejestrze nie ma instalacji " + std::to_string(installation);
            return r;
        }
    }
    Statement q(db_, std::string("SELECT ") + kVersionColumns +
                         (installation != 0 ? "WHERE v.installation_id = ? " : "") +
                         "ORDER BY v.recorded_at, v.id");
    if (installation != 0)
        q.bind(1, installation);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
        Version v;
        if (!readVersion(q, v, true)) {
            r.error = damagedVersion(v.info.id);
            return r;
        }
        const auto owner = index.find(v.info.installationId);
        c.versions.push_back({owner == index.end() ? 0 : owner->second, v.info.timeUtc, v.info.kind,
                              v.info.port, v.info.programVersion, v.info.summary, v.bytes});
    }
    if (rc != SQLITE_DONE) {
        r.error = failure("nie można odczytać wersji");
        return r;
    }
    r.value = encodeExport(c);
    return r;
}

Result<ImportReport> SqliteRegister::importData(std::string_view file) {
    Result<ImportReport> r;
    if (!writable_) {
        r.error = refuseChange();
        return r;
    }
    const Result<ExportContent> content = decodeExport(file);
    if (!content.ok()) {
        r.error = content.error;
        return r;
    }
    Transaction t(db_);
    if (!t.begun()) {
        r.error = failure("nie można zaimportować");
        return r;
    }
    std::vector<Id> ids;
    for (const ExportInstallation& i : content.value.installations) {
        Statement find(db_, "SELECT id FROM installations WHERE name = ?");
        const int rc = find.bind(1, i.name).step();
        if (rc == SQLITE_ROW) {
            ids.push_back(find.integer(0));
            continue;
        }
        Statement add(db_, "INSERT INTO installations (name, notes, created_at, device_phone) "
                           "VALUES (?, ?, ?, ?)");
        add.bind(1, i.name).bind(2, i.notes).bind(3, nowUtc()).bind(4, i.devicePhone);
        if (rc != SQLITE_DONE || !add.run()) {
            r.error = failure("nie można zaimportować");
            return r;
        }
        ids.push_back(sqlite3_last_insert_rowid(db_));
        ++r.value.installationsAdded;
    }
    Statement known(db_, "SELECT id FROM versions WHERE sha256 = ? AND recorded_at = ?");
    for (const ExportVersion& e : content.value.versions) {
        NewVersion v;
        v.bytes = e.bytes;
        v.kind = e.kind;
        v.port = e.port;
        v.programVersion = e.programVersion;
        v.timeUtc = e.timeUtc;
        v.installationId = e.installation == 0 ? 0 : ids[e.installation - 1];
        known.reset();
        known.bind(1, hex(sha256(e.bytes.data(), e.bytes.size()))).bind(2, e.timeUtc);
        const int rc = known.step();
        if (rc == SQLITE_ROW) {
            ++r.value.versionsKnown;
            continue;
        }
        // The summary travels with the version: it was made against the same
        // installation's version before it, which travels too.
        const Result<Id> added = rc == SQLITE_DONE ? insertVersion(v, e.summary) : Result<Id>{};
        if (rc != SQLITE_DONE || !added.ok()) {
            r.error = added.ok() ? failure("nie można zaimportować") : added.error;
            return r;
        }
        ++r.value.versionsAdded;
    }
    if (!t.commit())
        r.error = failure("nie można zaimportować");
    return r;
}

} // namespace trellikon::reg
