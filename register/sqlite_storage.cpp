#include "sqlite_storage.h"

#include "cp1250.h"
#include "register_file.h"
#include "register_location.h"
#include "sha256.h"
#include "version_text.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <span>
#include <tuple>
#include <utility>

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

// What the third adds: the uuids an installation and a version keep on every
// computer they go to, the computer that recorded a version (register_meta's
// pc_id there) and the version it was made from. The unique indexes come
// once every row has its uuid.
constexpr const char* kSchema3Additions[] = {
    "ALTER TABLE installations ADD COLUMN uuid CHAR(36) NOT NULL DEFAULT ''",
    "ALTER TABLE versions ADD COLUMN uuid CHAR(36) NOT NULL DEFAULT ''",
    "ALTER TABLE versions ADD COLUMN pc_id CHAR(36) NOT NULL DEFAULT ''",
    "ALTER TABLE versions ADD COLUMN based_on CHAR(36)",
};
constexpr const char* kSchema3Indexes[] = {
    "CREATE UNIQUE INDEX installations_by_uuid ON installations (uuid)",
    "CREATE UNIQUE INDEX versions_by_uuid ON versions (uuid)",
};

constexpr const char* kVersionColumns =
    "v.id, v.installation_id, i.name, v.recorded_at, v.kind, v.port, v.program_version, "
    "v.summary, v.sha256, v.uuid, v.pc_id, v.based_on, v.content FROM versions v "
    "LEFT JOIN installations i ON i.id = v.installation_id ";

std::string reversed(const std::string& s) {
    return std::string(s.rbegin(), s.rend());
}

} // namespace

class SqliteStorage::Statement {
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
        if (!st_) // a statement a damaged file did not let prepare
            return;
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

namespace {

// The schema's own changes, one transaction: everything or nothing reaches the file.
class Transaction {
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

} // namespace

SqliteStorage::SqliteStorage(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

SqliteStorage::~SqliteStorage() {
    sqlite3_close_v2(db_);
}

namespace {

// What the installer reads of a SQLite result code: never SQLite's own
// (English) text.
std::string reasonOf(int code) {
    switch (code & 0xFF) {
    case SQLITE_FULL:
        return "brak miejsca na dysku";
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return "brak uprawnień do zapisu pliku";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "rejestr jest zajęty przez inny program";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return "plik rejestru jest uszkodzony";
    case SQLITE_IOERR:
        return "błąd odczytu lub zapisu dysku";
    case SQLITE_CANTOPEN:
        return "nie można otworzyć pliku (brak dostępu do pliku albo do jego katalogu)";
    case SQLITE_NOMEM:
        return "brak pamięci";
    case SQLITE_NOLFS:
        return "system plików nie obsługuje tak dużego pliku";
    default:
        return "nieoczekiwany błąd bazy danych (kod " + std::to_string(code) + ")";
    }
}

} // namespace

std::string SqliteStorage::failureText(const std::string& what) {
    const int code = sqlite3_extended_errcode(db_);
    if ((code & 0xFF) == SQLITE_CORRUPT || (code & 0xFF) == SQLITE_NOTADB)
        damagedInUse();
    return "rejestr „" + path_ + "”: " + what + ": " + reasonOf(code);
}

Failure SqliteStorage::failure(const std::string& what) {
    return registerFailure(failureText(what));
}

Failure SqliteStorage::refusal() const {
    return registerFailure(refuseChange());
}

Failure SqliteStorage::damagedVersion(Id id) {
    damagedInUse();
    return registerFailure("rejestr „" + path_ + "”: wersja " + std::to_string(id) +
                           " jest uszkodzona");
}

void SqliteStorage::damagedInUse() {
    if (!writable_)
        return;
    // Found after the opening's check: from now on only read, and closing
    // leaves the log beside the file instead of copying it in.
    writable_ = false;
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    notice_ = damagedNotice();
}

std::string SqliteStorage::refuseChange() const {
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

// Every version's content against its SHA-256: what SQLite's own checks
// cannot see (a changed byte in a page whose structure is intact).
bool versionsSound(sqlite3* db, bool& damaged) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT sha256, content FROM versions", -1, &st, nullptr);
    if (rc == SQLITE_OK)
        while (!damaged && (rc = sqlite3_step(st)) == SQLITE_ROW) {
            const auto* content = static_cast<const std::uint8_t*>(sqlite3_column_blob(st, 1));
            const auto size = static_cast<std::size_t>(sqlite3_column_bytes(st, 1));
            const auto* want = sqlite3_column_text(st, 0);
            damaged = !content || !want || size != Bytes{}.size() ||
                      hex(sha256(content, size)) != reinterpret_cast<const char*>(want);
        }
    sqlite3_finalize(st);
    if (!damaged && rc != SQLITE_DONE)
        damaged = (sqlite3_errcode(db) & 0xFF) != SQLITE_BUSY;
    return !damaged && rc == SQLITE_DONE;
}

// Whether the file may be written to; `damaged` tells a damaged file from one
// that could not be looked at (busy). The whole file's check reads all of it
// and compares every version with its SHA-256, a second or two for a large
// register: it runs once a day, before the daily copy, so that a damaged file
// never becomes a copy nor pushes a sound one out. Every other opening checks
// the file's first page and schema, the installations in full, and the
// b-tree of the versions themselves (what a read or a write walks first);
// the rest, the search index and the versions' content, is checked as it is
// read (SQLite's page checks, each version's SHA-256), and damage found then
// also stops every write (SqliteStorage::failure).
bool fileSound(sqlite3* db, bool whole, bool& damaged) {
    damaged = false;
    if (whole)
        return checkSays(db, "PRAGMA quick_check", damaged) && versionsSound(db, damaged);
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

// What a file holds, looked at without changing a byte of it.
enum class Kind { Register, Foreign, Unreadable };
Kind kindOf(sqlite3* db, int& code) {
    code = SQLITE_OK;
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT value FROM register_meta WHERE name = 'schema'", -1,
                                &st, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(st);
    int schema = 0;
    if (rc == SQLITE_ROW) {
        const auto* v = sqlite3_column_text(st, 0);
        if (v && v[0] >= '1' && v[0] <= '9' && v[1] == 0)
            schema = v[0] - '0';
    }
    sqlite3_finalize(st);
    if (rc == SQLITE_ROW || rc == SQLITE_DONE)
        return rc == SQLITE_ROW && schema >= 1 ? Kind::Register : Kind::Foreign;
    // A table that is not there fails to prepare with a plain error; a file
    // SQLite could not read fails with why.
    code = sqlite3_extended_errcode(db);
    return (code & 0xFF) == SQLITE_ERROR ? Kind::Foreign : Kind::Unreadable;
}

std::uint32_t bigEndian32(const unsigned char* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

// The write-ahead log's running checksum over `n` bytes (a multiple of 8),
// its words in the byte order the log's magic number names.
void logChecksum(const unsigned char* p, std::size_t n, bool big, std::uint32_t& s0,
                 std::uint32_t& s1) {
    const auto word = [big](const unsigned char* w) {
        return big ? bigEndian32(w)
                   : std::uint32_t{w[3]} << 24 | std::uint32_t{w[2]} << 16 |
                         std::uint32_t{w[1]} << 8 | std::uint32_t{w[0]};
    };
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
        s0 += word(p + i) + s1;
        s1 += word(p + i + 4) + s0;
    }
}

} // namespace

LogCommits logCommits(std::string_view log) {
    // SQLite applies a log up to the first frame that does not check out (its
    // salts, its running checksum) and drops the rest without a word, commits
    // included. Frames of an earlier use of the log (other salts) past this
    // use's end are not its own; a commit of this use past a bad frame is.
    LogCommits c;
    const auto* p = reinterpret_cast<const unsigned char*>(log.data());
    if (log.size() < 32 || (bigEndian32(p) & ~1u) != 0x377f0682u)
        return c;
    const bool big = (bigEndian32(p) & 1u) != 0;
    const std::uint32_t pageSize = bigEndian32(p + 8);
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0)
        return c;
    std::uint32_t s0 = 0, s1 = 0;
    logChecksum(p, 24, big, s0, s1);
    bool chain = s0 == bigEndian32(p + 24) && s1 == bigEndian32(p + 28);
    const std::size_t frame = 24 + std::size_t{pageSize};
    for (std::size_t at = 32; at + frame <= log.size(); at += frame) {
        const unsigned char* f = p + at;
        if (bigEndian32(f + 8) != bigEndian32(p + 16) ||
            bigEndian32(f + 12) != bigEndian32(p + 20)) {
            chain = false;
            continue;
        }
        if (chain) {
            logChecksum(f, 8, big, s0, s1);
            logChecksum(f + 24, pageSize, big, s0, s1);
            chain = bigEndian32(f) != 0 && s0 == bigEndian32(f + 16) && s1 == bigEndian32(f + 20);
        }
        if (bigEndian32(f + 4) != 0) {
            ++c.present;
            if (chain)
                ++c.valid;
        }
    }
    return c;
}

namespace {

// The day of a rotating copy, "DD.MM.RRRR", from its name.
std::string copyDay(const std::string& copy) {
    const std::string day = copy.substr(copy.size() - 10);
    return day.substr(8, 2) + "." + day.substr(5, 2) + "." + day.substr(0, 4);
}

// The newest copy beside the file that can be a register: every copy was made
// from a file that had just passed the whole check, so none is named that is
// empty or not a file of its own.
std::string newestSoundCopy(const std::string& path) {
    for (const std::string& c : registerCopies(path))
        if (fileSize(c) > 0 && !isSymbolicLink(c) && !isOtherThanFile(c))
            return c;
    return {};
}

std::string restoreAdvice(const std::string& path, const std::string& copy) {
    return "Najnowsza kopia to „" + copy + "” z " + copyDay(copy) +
           ": zamknij program, zachowaj obecny plik (i plik „-wal” obok, jeśli jest) pod inną "
           "nazwą i skopiuj kopię na miejsce „" +
           path + "”.";
}

// Why a new register is not made at `path`, where the file is missing or
// empty; empty when it may be: only where no register has been.
std::string noNewRegister(const std::string& path, bool emptyFile) {
    const std::string copy = newestSoundCopy(path);
    if (copy.empty() && !emptyFile)
        return {};
    std::string why = emptyFile ? "plik rejestru „" + path +
                                      "” jest pusty (0 bajtów): nie został zmieniony ani "
                                      "zastąpiony nowym rejestrem. "
                                : "rejestru „" + path +
                                      "” nie ma, choć obok są jego dzienne kopie: nowy rejestr "
                                      "nie został utworzony. ";
    why += copy.empty() ? std::string("Kopii rejestru obok nie ma. ")
                        : restoreAdvice(path, copy) + " ";
    return why + "Nowy, pusty rejestr w tym miejscu: trellikon-cli register new.";
}

sqlite3* openConnection(const std::string& name, int flags) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(name.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    return db;
}

} // namespace

std::unique_ptr<SqliteStorage> SqliteStorage::open(const std::string& path, Failure& failure,
                                                   const OpenOptions& options) {
    std::string error;
    auto storage = openAt(path, error, options);
    failure = error.empty() ? Failure{} : registerFailure(error);
    if (!error.empty())
        storage.reset();
    return storage;
}

std::unique_ptr<SqliteStorage> SqliteStorage::openAt(const std::string& path, std::string& error,
                                                     const OpenOptions& options) {
    error.clear();
    if (path.empty()) {
        error = "nie wiadomo, gdzie trzymać rejestr (brak katalogu domowego); podaj --register "
                "PLIK";
        return nullptr;
    }
    const bool memory = path == ":memory:";
    if (!memory && isSymbolicLink(path)) {
        // Whatever the link points to would be changed and copied under this
        // name: a register of someone else's, or a file that is not one.
        error = "rejestr „" + path +
                "” jest dowiązaniem symbolicznym: rejestru nie otwiera się przez dowiązanie; "
                "podaj nazwę samego pliku (--register)";
        return nullptr;
    }
    if (!memory && isOtherThanFile(path)) {
        error = "„" + path + "” nie jest plikiem rejestru (to katalog albo urządzenie)";
        return nullptr;
    }
    const bool exists = !memory && fileSize(path) > 0;
    if (!memory && !exists) {
        if (!options.createNew)
            if (error = noNewRegister(path, fileExists(path)); !error.empty())
                return nullptr;
        if (error = prepareFolder(path); !error.empty())
            return nullptr;
    }
    const bool whole = exists && (options.checkWhole || (options.dailyCopy && copyDue(path)));
    const bool logPresent = exists && fileSize(path + "-wal") > 0;
    const bool readOnlyPlace = exists && !writablePlace(path);
    if (exists) {
        // Nothing in the file changes before it is known to be a sound
        // register. Without a log beside it, the file is looked at as it lies,
        // by a connection that cannot leave anything behind (not even a log);
        // with one, the log is part of what is looked at, by a connection that
        // will not copy it into the file.
        sqlite3* look =
            logPresent
                ? openConnection(path, readOnlyPlace ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE)
                : openConnection(untouchedUri(path), SQLITE_OPEN_URI | SQLITE_OPEN_READONLY);
        if (!look) {
            error = "nie można otworzyć rejestru „" + path + "”: " + reasonOf(SQLITE_CANTOPEN);
            return nullptr;
        }
        sqlite3_db_config(look, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_busy_timeout(look, options.busyTimeoutMs);
        std::string lost;
        int code = SQLITE_OK;
        Kind kind = Kind::Register;
        bool damaged = false;
        // The read held while the log is read keeps another program's
        // checkpoint from starting the log over meanwhile.
        sqlite3_exec(look, "BEGIN", nullptr, nullptr, nullptr);
        kind = kindOf(look, code);
        if (logPresent && kind != Kind::Foreign) {
            std::string log;
            const LogCommits c = readWholeFile(path + "-wal", log) ? logCommits(log) : LogCommits{};
            if (c.damaged()) {
                damaged = true;
                lost = "jego dziennik zmian („" + path + "-wal”) jest uszkodzony: z " +
                       std::to_string(c.present) + " zapisanych w nim zmian " +
                       std::to_string(c.present - c.valid) +
                       " nie da się odtworzyć (każdy odczyt i zapis urządzenia to jedna "
                       "zmiana). Plik i dziennik zostały nietknięte. ";
            }
        }
        if (!damaged && kind == Kind::Register && !fileSound(look, whole, damaged) && !damaged)
            code = sqlite3_extended_errcode(look); // busy: looked at by no one
        if (!damaged && kind == Kind::Unreadable)
            damaged = (code & 0xFF) == SQLITE_CORRUPT || (code & 0xFF) == SQLITE_NOTADB;
        sqlite3_exec(look, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close_v2(look);
        if (damaged) {
            std::unique_ptr<SqliteStorage> reg(new SqliteStorage(nullptr, path));
            reg->openDamaged(lost);
            return reg;
        }
        if (kind == Kind::Foreign) {
            error = "plik „" + path + "” nie jest rejestrem instalacji (nie został zmieniony)";
            return nullptr;
        }
        if (kind == Kind::Unreadable || code != SQLITE_OK) {
            error = "nie można sprawdzić rejestru „" + path + "”: " + reasonOf(code);
            return nullptr;
        }
    }
    // A read-only disk or file: listed and searched as it lies. (A name is
    // taken for a URI only where it was made one: "file:x" is a file's name.)
    sqlite3* db = readOnlyPlace && !logPresent
                      ? openConnection(untouchedUri(path), SQLITE_OPEN_URI | SQLITE_OPEN_READONLY)
                      : openConnection(path, readOnlyPlace ? SQLITE_OPEN_READONLY
                                             : exists      ? SQLITE_OPEN_READWRITE
                                                      : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!db) {
        error = "nie można otworzyć rejestru „" + path + "”: " + reasonOf(SQLITE_CANTOPEN);
        return nullptr;
    }
    std::unique_ptr<SqliteStorage> reg(new SqliteStorage(db, path));
    reg->checkedWhole_ = whole;
    if (!memory && !exists)
        keepPrivate(path);
    sqlite3_busy_timeout(db, options.busyTimeoutMs);
    // Until the file is known sound, closing must not copy its log into it;
    // a command that only reads leaves a log it found as it was.
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    if (readOnlyPlace) {
        reg->writable_ = false;
        reg->notice_ = "rejestr „" + path +
                       "” leży na dysku albo w pliku tylko do odczytu: można go przeglądać i "
                       "przeszukiwać, ale nic nie zostanie w nim zapisane.";
        if (reg->schemaVersion() < kSchemaVersion && !reg->readAsCurrent()) {
            error = "rejestru „" + path +
                    "” ze starszej wersji programu nie da się czytać z dysku tylko do odczytu";
            return nullptr;
        }
        return reg;
    }
    if (error = reg->prepare(options, !exists, options.readOnly && logPresent); !error.empty())
        return nullptr;
    return reg;
}

void SqliteStorage::openDamaged(const std::string& why) {
    // Closed without a checkpoint, then read as it lies on the disk.
    sqlite3_close_v2(db_);
    db_ = nullptr;
    sqlite3_open_v2(untouchedUri(path_).c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                    nullptr);
    writable_ = false;
    notice_ = damagedNotice(why);
}

std::string SqliteStorage::damagedNotice(const std::string& why) const {
    const std::string copy = newestSoundCopy(path_);
    std::string notice = "rejestr „" + path_ + "” jest uszkodzony: " + why +
                         "Otwarto go tylko do odczytu i nic nie zostanie w nim zapisane. ";
    notice += copy.empty() ? "Kopii rejestru nie ma; zachowaj uszkodzony plik (z plikiem "
                             "„-wal” obok, jeśli jest) i podaj nowy plik rejestru (--register)."
                           : restoreAdvice(path_, copy);
    return notice;
}

std::string SqliteStorage::prepare(const OpenOptions& options, bool fresh, bool keepLog) {
    if (fresh)
        sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    // With the log, a commit survives the program being killed; a backup is
    // also flushed to the disk at its commit (begin(true)), so that it survives
    // a power cut during the write that follows it.
    durable_ = options.durable;
    sqlite3_exec(db_, durable_ ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=OFF", nullptr,
                 nullptr, nullptr);
    // Deleted installations leave zeros, not residents' numbers, behind.
    sqlite3_exec(db_, "PRAGMA secure_delete=ON", nullptr, nullptr, nullptr);
    if (!keepLog)
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);

    if (fresh) {
        Transaction t(db_);
        if (!t.begun())
            return failureText("nie można zapisać");
        // A new file gets the schemas' statements in the order a migrated one had them.
        const std::span<const char* const> parts[] = {kSchema2, kSchema2Additions,
                                                      kSchema3Additions, kSchema3Indexes};
        for (const auto part : parts)
            for (const char* sql : part)
                if (!Statement(db_, sql).run())
                    return failureText("nie można utworzyć rejestru");
        if (!Statement(db_, "INSERT INTO register_meta (name, value) VALUES ('schema', '3')")
                 .run() ||
            readPcId(true).empty() || !t.commit())
            return failureText("nie można utworzyć rejestru");
        return {};
    }
    // A register of this program (looked at before this connection opened):
    // its journal mode is its own, a write-ahead log (a copy put back may
    // have lost it). A command that only reads changes nothing.
    if (!options.readOnly)
        sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
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
    // A command that only reads leaves a file of the second schema as it is.
    if (schema < kSchemaVersion && options.readOnly && readAsCurrent()) {
        writable_ = false;
        return {};
    }
    if (schema < kSchemaVersion)
        if (std::string e = migrate(schema); !e.empty())
            return e;
    readPcId(false);
    return {};
}

bool SqliteStorage::readAsCurrent() {
    // Views of the connection's own (in its temporary schema, which names
    // find first) give the second schema's tables the third's columns,
    // empty; the file is not touched.
    if (schemaVersion() != 2)
        return false;
    return Statement(db_, "CREATE TEMP VIEW installations AS "
                          "SELECT *, '' AS uuid FROM main.installations")
               .run() &&
           Statement(db_, "CREATE TEMP VIEW versions AS SELECT *, '' AS uuid, '' AS pc_id, "
                          "NULL AS based_on FROM main.versions")
               .run();
}

int SqliteStorage::schemaVersion() {
    Statement q(db_, "SELECT value FROM register_meta WHERE name = 'schema'");
    if (q.step() != SQLITE_ROW)
        return 0;
    const std::string v = q.text(0);
    return v.size() == 1 && v[0] >= '1' && v[0] <= '9' ? v[0] - '0' : 0;
}

std::string SqliteStorage::migrate(int from) {
    if (from != 1 && from != 2)
        return "plik „" + path_ + "” nie jest rejestrem instalacji";
    Transaction t(db_);
    if (!t.begun())
        return failureText("nie można uaktualnić rejestru");
    if (from == 1 && !migrateFrom1())
        return failureText(numbersFailed_ ? "nie można zapisać numerów wersji"
                                          : "nie można uaktualnić rejestru");
    // The third: every installation and version gets its uuid (new ones
    // here), every version the computer that recorded it (this one).
    for (const char* sql : kSchema3Additions)
        if (!Statement(db_, sql).run())
            return failureText("nie można uaktualnić rejestru");
    const std::string pc = readPcId(true);
    if (pc.empty())
        return failureText("nie można uaktualnić rejestru");
    for (const char* table : {"installations", "versions"}) {
        std::vector<Id> ids;
        Statement all(db_, std::string("SELECT id FROM ") + table);
        int rc;
        while ((rc = all.step()) == SQLITE_ROW)
            ids.push_back(all.integer(0));
        if (rc != SQLITE_DONE)
            return failureText("nie można uaktualnić rejestru");
        Statement set(db_, std::string("UPDATE ") + table + " SET uuid = ?" +
                               (std::string(table) == "versions" ? ", pc_id = ?" : "") +
                               " WHERE id = ?");
        for (const Id id : ids) {
            set.reset();
            set.bind(1, newUuid());
            if (std::string(table) == "versions")
                set.bind(2, pc).bind(3, id);
            else
                set.bind(2, id);
            if (!set.run())
                return failureText("nie można uaktualnić rejestru");
        }
    }
    for (const char* sql : kSchema3Indexes)
        if (!Statement(db_, sql).run())
            return failureText("nie można uaktualnić rejestru");
    if (!Statement(db_, "UPDATE register_meta SET value = '3' WHERE name = 'schema'").run() ||
        !t.commit())
        return failureText("nie można uaktualnić rejestru");
    return {};
}

bool SqliteStorage::migrateFrom1() {
    // The second schema: the device's own number and the numbers index.
    numbersFailed_ = false;
    if (!Statement(db_, "ALTER TABLE installations ADD COLUMN device_phone VARCHAR(40) NOT NULL "
                        "DEFAULT ''")
             .run())
        return false;
    for (const char* sql : kSchema2Additions)
        if (!Statement(db_, sql).run())
            return false;
    Statement all(db_, "SELECT id, content FROM versions");
    std::vector<std::pair<Id, Bytes>> versions;
    int rc;
    while ((rc = all.step()) == SQLITE_ROW) {
        Bytes b{};
        if (all.bytes(1, b))
            versions.emplace_back(all.integer(0), b);
    }
    if (rc != SQLITE_DONE)
        return false;
    for (const auto& [id, bytes] : versions)
        if (!insertNumbers(id, phoneNumbers(bytes))) {
            numbersFailed_ = true;
            return false;
        }
    return true;
}

std::string SqliteStorage::readPcId(bool make) {
    Statement q(db_, "SELECT value FROM register_meta WHERE name = 'pc_id'");
    if (q.step() == SQLITE_ROW)
        return pcId_ = q.text(0);
    if (!make)
        return {};
    const std::string id = newUuid();
    if (!Statement(db_, "INSERT INTO register_meta (name, value) VALUES ('pc_id', ?)")
             .bind(1, id)
             .run())
        return {};
    return pcId_ = id;
}

std::string SqliteStorage::makeDailyCopy() {
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

// --- transactions ---

bool SqliteStorage::begin(bool flush) {
    // A flushed commit is on the disk when it returns (a backup survives a
    // power cut during the write that follows it). The setting is taken when
    // the transaction begins: changed inside one, it would not flush this commit.
    flushed_ = durable_ && flush;
    if (flushed_)
        sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    wipe_ = false;
    // BEGIN IMMEDIATE takes the write lock at once, so that the busy timeout,
    // not a failed upgrade, settles two programs writing.
    const bool begun = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!begun && flushed_) {
        flushed_ = false;
        sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    }
    return begun;
}

bool SqliteStorage::commit() {
    const bool done = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!done)
        return false; // rollback() ends it
    if (flushed_)
        sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    flushed_ = false;
    // With secure_delete the freed pages hold zeros; the checkpoint moves them
    // into the file and empties the log, which held the pages as they were.
    // Another program reading at this moment holds the log back; its next
    // checkpoint finishes the job.
    if (std::exchange(wipe_, false))
        sqlite3_exec(db_, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    return true;
}

void SqliteStorage::rollback() {
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    if (flushed_)
        sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    flushed_ = wipe_ = false;
}

// --- installations ---

std::optional<Id> SqliteStorage::installationIdNamed(const std::string& name, Id except) {
    Statement q(db_, "SELECT id FROM installations WHERE name = ? AND id <> ?");
    const int rc = q.bind(1, name).bind(2, except).step();
    if (rc == SQLITE_ROW)
        return q.integer(0);
    if (rc == SQLITE_DONE)
        return Id{0};
    return std::nullopt;
}

std::optional<bool> SqliteStorage::installationExists(Id id) {
    Statement q(db_, "SELECT id FROM installations WHERE id = ?");
    const int rc = q.bind(1, id).step();
    if (rc == SQLITE_ROW || rc == SQLITE_DONE)
        return rc == SQLITE_ROW;
    return std::nullopt;
}

std::optional<Id> SqliteStorage::insertInstallation(const std::string& name,
                                                    const std::string& notes,
                                                    const std::string& devicePhone,
                                                    const std::string& createdUtc,
                                                    const std::string& uuid) {
    Statement q(db_, "INSERT INTO installations (name, notes, created_at, device_phone, uuid) "
                     "VALUES (?, ?, ?, ?, ?)");
    q.bind(1, name).bind(2, notes).bind(3, createdUtc).bind(4, devicePhone).bind(5, uuid);
    if (!q.run())
        return std::nullopt;
    // PostgreSQL: INSERT ... RETURNING id.
    return sqlite3_last_insert_rowid(db_);
}

std::optional<int> SqliteStorage::updateInstallation(Id id, const std::string& name,
                                                     const std::string& notes,
                                                     const std::string& devicePhone) {
    Statement q(db_, "UPDATE installations SET name = ?, notes = ?, device_phone = ? WHERE id = ?");
    q.bind(1, name).bind(2, notes).bind(3, devicePhone).bind(4, id);
    if (!q.run())
        return std::nullopt;
    return sqlite3_changes(db_);
}

bool SqliteStorage::removeInstallation(Id id) {
    const bool done =
        Statement(db_, "DELETE FROM version_numbers WHERE version_id IN "
                       "(SELECT id FROM versions WHERE installation_id = ?)")
            .bind(1, id)
            .run() &&
        Statement(db_, "DELETE FROM versions WHERE installation_id = ?").bind(1, id).run() &&
        Statement(db_, "DELETE FROM installations WHERE id = ?").bind(1, id).run();
    wipe_ = wipe_ || done;
    return done;
}

bool SqliteStorage::installations(std::vector<Installation>& out, bool visits, Id only) {
    std::string sql = visits ? "SELECT i.id, i.name, i.notes, i.device_phone, i.uuid, COUNT(v.id), "
                               "MAX(v.recorded_at) FROM installations i "
                               "LEFT JOIN versions v ON v.installation_id = i.id "
                             : "SELECT i.id, i.name, i.notes, i.device_phone, i.uuid "
                               "FROM installations i ";
    if (only != 0)
        sql += "WHERE i.id = ? ";
    if (visits)
        sql += "GROUP BY i.id, i.name, i.notes, i.device_phone, i.uuid ";
    sql += "ORDER BY i.id";
    Statement q(db_, sql);
    if (only != 0)
        q.bind(1, only);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW)
        out.push_back(Installation{q.integer(0), q.text(1), q.text(2), q.text(3),
                                   visits ? static_cast<int>(q.integer(5)) : 0,
                                   visits ? q.text(6) : std::string(), q.text(4)});
    return rc == SQLITE_DONE;
}

std::optional<Installation> SqliteStorage::installationNamed(const std::string& name) {
    Statement q(db_, "SELECT i.id, i.name, i.notes, i.device_phone, COUNT(v.id), "
                     "MAX(v.recorded_at), i.uuid FROM installations i "
                     "LEFT JOIN versions v ON v.installation_id = i.id WHERE i.name = ? "
                     "GROUP BY i.id, i.name, i.notes, i.device_phone, i.uuid");
    const int rc = q.bind(1, name).step();
    if (rc == SQLITE_ROW)
        return Installation{
            q.integer(0), q.text(1), q.text(2), q.text(3), static_cast<int>(q.integer(4)),
            q.text(5),    q.text(6)};
    if (rc == SQLITE_DONE)
        return Installation{};
    return std::nullopt;
}

bool SqliteStorage::fillVisits(std::vector<Found>& found) {
    Statement visits(db_, "SELECT COUNT(*), MAX(recorded_at) FROM versions "
                          "WHERE installation_id = ?");
    for (Found& f : found) {
        visits.reset();
        if (visits.bind(1, f.installation.id).step() != SQLITE_ROW)
            return false;
        f.installation.versions = static_cast<int>(visits.integer(0));
        f.installation.lastVisitUtc = visits.text(1);
    }
    return true;
}

// --- versions ---

namespace {

// A version row as kVersionColumns selects it.
void readVersion(const auto& q, StoredVersion& s, bool withBytes) {
    VersionInfo& i = s.version.info;
    i.id = q.integer(0);
    i.installationId = q.integer(1);
    i.installationName = i.installationId ? q.text(2) : kUnassigned;
    i.timeUtc = q.text(3);
    i.kind = q.text(4);
    i.port = q.text(5);
    i.programVersion = q.text(6);
    i.summary = q.text(7);
    i.sha256 = q.text(8);
    i.uuid = q.text(9);
    i.pcId = q.text(10);
    i.basedOn = q.text(11);
    s.whole = withBytes && q.bytes(12, s.version.bytes);
}

} // namespace

std::optional<Id> SqliteStorage::insertVersion(const NewVersion& v, const std::string& summary,
                                               const std::string& sha256) {
    Statement q(db_, "INSERT INTO versions (installation_id, recorded_at, kind, port, "
                     "program_version, summary, sha256, content, uuid, pc_id, based_on) "
                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    q.bindOwner(1, v.installationId)
        .bind(2, v.timeUtc)
        .bind(3, v.kind)
        .bind(4, v.port)
        .bind(5, v.programVersion)
        .bind(6, summary)
        .bind(7, sha256)
        .bind(8, v.bytes)
        .bind(9, v.uuid)
        .bind(10, v.pcId.empty() ? pcId_ : v.pcId);
    if (!v.basedOn.empty())
        q.bind(11, v.basedOn);
    if (!q.run())
        return std::nullopt;
    return sqlite3_last_insert_rowid(db_);
}

bool SqliteStorage::version(Id id, std::optional<StoredVersion>& out) {
    Statement q(db_, std::string("SELECT ") + kVersionColumns + "WHERE v.id = ?");
    const int rc = q.bind(1, id).step();
    if (rc == SQLITE_ROW)
        readVersion(q, out.emplace(), true);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool SqliteStorage::latestBefore(Id installation, Id before, std::optional<StoredVersion>& out) {
    // The newest id from the index alone, then that one row with its content:
    // an installation's other versions are never read.
    Statement q(db_, std::string("SELECT ") + kVersionColumns +
                         "WHERE v.id = (SELECT MAX(id) FROM versions "
                         "WHERE installation_id = ? AND id < ?)");
    q.bind(1, installation).bind(2, before == 0 ? std::numeric_limits<Id>::max() : before);
    const int rc = q.step();
    if (rc == SQLITE_ROW)
        readVersion(q, out.emplace(), true);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool SqliteStorage::history(const HistoryFilter& filter, std::vector<VersionInfo>& out) {
    std::string sql = std::string("SELECT ") + kVersionColumns;
    if (filter.which == HistoryFilter::OfInstallation)
        sql += "WHERE v.installation_id = ? ";
    else if (filter.which == HistoryFilter::Unassigned)
        sql += "WHERE v.installation_id IS NULL ";
    sql += "ORDER BY v.recorded_at DESC, v.id DESC";
    Statement q(db_, sql);
    if (filter.which == HistoryFilter::OfInstallation)
        q.bind(1, filter.installationId);
    int rc = SQLITE_DONE;
    while ((filter.limit == 0 || static_cast<int>(out.size()) < filter.limit) &&
           (rc = q.step()) == SQLITE_ROW) {
        StoredVersion v;
        readVersion(q, v, false);
        out.push_back(std::move(v.version.info));
    }
    return rc == SQLITE_DONE || rc == SQLITE_ROW;
}

bool SqliteStorage::eachVersion(Id installation,
                                const std::function<bool(const StoredVersion&)>& take) {
    Statement q(db_, std::string("SELECT ") + kVersionColumns +
                         (installation != 0 ? "WHERE v.installation_id = ? " : "") +
                         "ORDER BY v.recorded_at, v.id");
    if (installation != 0)
        q.bind(1, installation);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
        StoredVersion v;
        readVersion(q, v, true);
        if (!take(v))
            return true;
    }
    return rc == SQLITE_DONE;
}

std::optional<Id> SqliteStorage::versionWithIdentity(const std::string& sha256,
                                                     const std::string& timeUtc,
                                                     const std::string& uuid) {
    Statement q(db_, uuid.empty()
                         ? "SELECT id FROM versions WHERE sha256 = ? AND recorded_at = ?"
                         : "SELECT id FROM versions WHERE (sha256 = ? AND recorded_at = ?) "
                           "OR uuid = ? LIMIT 1");
    q.bind(1, sha256).bind(2, timeUtc);
    if (!uuid.empty())
        q.bind(3, uuid);
    const int rc = q.step();
    if (rc == SQLITE_ROW)
        return q.integer(0);
    if (rc == SQLITE_DONE)
        return Id{0};
    return std::nullopt;
}

std::optional<int> SqliteStorage::setKind(Id id, const std::string& from, const std::string& to) {
    Statement q(db_, "UPDATE versions SET kind = ? WHERE id = ? AND kind = ?");
    if (!q.bind(1, to).bind(2, id).bind(3, from).run())
        return std::nullopt;
    return sqlite3_changes(db_);
}

std::optional<int> SqliteStorage::prefixSummary(Id id, const std::string& kind,
                                                const std::string& prefix) {
    Statement q(db_, "UPDATE versions SET summary = ? || summary WHERE id = ? AND kind = ?");
    if (!q.bind(1, prefix).bind(2, id).bind(3, kind).run())
        return std::nullopt;
    return sqlite3_changes(db_);
}

bool SqliteStorage::setInstallation(Id version, Id installation, const std::string& summary) {
    Statement q(db_, "UPDATE versions SET installation_id = ?, summary = ? WHERE id = ?");
    return q.bind(1, installation).bind(2, summary).bind(3, version).run();
}

// --- the numbers index ---

bool SqliteStorage::insertNumbers(Id version, const std::vector<PhoneEntry>& numbers) {
    Statement insert(db_, "INSERT INTO version_numbers (version_id, role, position, number, "
                          "reversed) VALUES (?, ?, ?, ?, ?)");
    for (const PhoneEntry& e : numbers) {
        insert.reset();
        insert.bind(1, version)
            .bind(2, std::string(roleKey(e.role)))
            .bind(3, Id{e.position})
            .bind(4, e.number)
            .bind(5, reversed(e.number));
        if (!insert.run())
            return false;
    }
    return true;
}

bool SqliteStorage::numbersEndingWith(const std::string& digits, std::vector<NumberHit>& out) {
    // Digits after the last one are ':' in the collation: the range holds
    // exactly the numbers whose reversal starts with the reversed search.
    const std::string low = reversed(digits), high = low + ":";
    Statement n(db_, "SELECT v.installation_id, n.role, n.position, n.number, v.id "
                     "FROM version_numbers n JOIN versions v ON v.id = n.version_id "
                     "WHERE n.reversed >= ? AND n.reversed < ? "
                     "AND v.installation_id IS NOT NULL "
                     "ORDER BY v.recorded_at DESC, v.id DESC");
    n.bind(1, low).bind(2, high);
    int rc;
    while ((rc = n.step()) == SQLITE_ROW)
        out.push_back(
            {n.integer(0), n.integer(4), n.text(1), static_cast<int>(n.integer(2)), n.text(3)});
    return rc == SQLITE_DONE;
}

bool SqliteStorage::installationsWithNumber(const std::string& number, std::vector<Id>& out) {
    Statement q(db_, "SELECT DISTINCT v.installation_id FROM version_numbers n "
                     "JOIN versions v ON v.id = n.version_id "
                     "WHERE n.reversed = ? AND v.installation_id IS NOT NULL");
    q.bind(1, reversed(number));
    int rc;
    while ((rc = q.step()) == SQLITE_ROW)
        out.push_back(q.integer(0));
    return rc == SQLITE_DONE;
}

// --- the company register's log ---

namespace {

// Made when the register joins a company register, never by a migration: a
// register that never joins one has none of them, and an older program
// opening a joined one leaves them alone.
constexpr const char* kCompanyTables[] = {
    "CREATE TABLE IF NOT EXISTS company_outbox (seq INTEGER PRIMARY KEY, "
    "change_id CHAR(36) NOT NULL UNIQUE, kind VARCHAR(20) NOT NULL, entity CHAR(36) NOT NULL, "
    "installation VARCHAR(36) NOT NULL, field VARCHAR(20) NOT NULL, value TEXT NOT NULL, "
    "hlc VARCHAR(80) NOT NULL, prev_hlc VARCHAR(80) NOT NULL)",
    "CREATE TABLE IF NOT EXISTS company_clocks (entity CHAR(36) NOT NULL, "
    "field VARCHAR(20) NOT NULL, hlc VARCHAR(80) NOT NULL, prev_hlc VARCHAR(80) NOT NULL, "
    "who VARCHAR(80) NOT NULL, at VARCHAR(24) NOT NULL, PRIMARY KEY (entity, field))",
    "CREATE TABLE IF NOT EXISTS company_conflicts (id INTEGER PRIMARY KEY, "
    "installation CHAR(36) NOT NULL, field VARCHAR(20) NOT NULL, kept TEXT NOT NULL, "
    "lost TEXT NOT NULL, kept_who VARCHAR(80) NOT NULL, kept_at VARCHAR(24) NOT NULL, "
    "lost_who VARCHAR(80) NOT NULL, lost_at VARCHAR(24) NOT NULL, lost_hlc VARCHAR(80) NOT NULL, "
    "other VARCHAR(36) NOT NULL, UNIQUE (installation, field, lost_hlc, other))",
};

} // namespace

std::optional<std::string> SqliteStorage::meta(const std::string& name) {
    Statement q(db_, "SELECT value FROM register_meta WHERE name = ?");
    const int rc = q.bind(1, name).step();
    if (rc == SQLITE_ROW)
        return q.text(0);
    if (rc == SQLITE_DONE)
        return std::string();
    return std::nullopt;
}

bool SqliteStorage::setMeta(const std::string& name, const std::string& value) {
    return Statement(db_, "INSERT INTO register_meta (name, value) VALUES (?, ?) "
                          "ON CONFLICT (name) DO UPDATE SET value = excluded.value")
        .bind(1, name)
        .bind(2, value)
        .run();
}

bool SqliteStorage::removeMeta(const std::string& name) {
    return Statement(db_, "DELETE FROM register_meta WHERE name = ?").bind(1, name).run();
}

bool SqliteStorage::makeCompanyTables() {
    for (const char* sql : kCompanyTables)
        if (!Statement(db_, sql).run())
            return false;
    return true;
}

bool SqliteStorage::hasCompanyTables() {
    Statement q(db_,
                "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'company_outbox'");
    return q.step() == SQLITE_ROW;
}

bool SqliteStorage::enqueue(const Change& c) {
    return Statement(db_, "INSERT INTO company_outbox (change_id, kind, entity, installation, "
                          "field, value, hlc, prev_hlc) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(1, c.id)
        .bind(2, c.kind)
        .bind(3, c.entity)
        .bind(4, c.installation)
        .bind(5, c.field)
        .bind(6, c.value)
        .bind(7, c.hlc)
        .bind(8, c.prevHlc)
        .run();
}

bool SqliteStorage::outbox(std::size_t limit, std::vector<Change>& out) {
    Statement q(db_, "SELECT seq, change_id, kind, entity, installation, field, value, hlc, "
                     "prev_hlc FROM company_outbox ORDER BY seq LIMIT ?");
    q.bind(1, static_cast<Id>(limit));
    Statement v(db_, std::string("SELECT ") + kVersionColumns + "WHERE v.uuid = ?");
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
        Change c;
        c.seq = q.integer(0);
        c.id = q.text(1);
        c.kind = q.text(2);
        c.entity = q.text(3);
        c.installation = q.text(4);
        c.field = q.text(5);
        c.value = q.text(6);
        c.hlc = q.text(7);
        c.prevHlc = q.text(8);
        if (c.kind == change::kVersion) {
            v.reset();
            const int found = v.bind(1, c.entity).step();
            if (found == SQLITE_ROW) {
                StoredVersion s;
                readVersion(v, s, true);
                if (!s.whole)
                    return false;
                c.version = std::move(s.version);
            } else if (found != SQLITE_DONE) {
                return false;
            }
        }
        out.push_back(std::move(c));
    }
    return rc == SQLITE_DONE;
}

bool SqliteStorage::sent(const std::vector<std::string>& ids) {
    Statement q(db_, "DELETE FROM company_outbox WHERE change_id = ?");
    for (const std::string& id : ids) {
        q.reset();
        if (!q.bind(1, id).run())
            return false;
    }
    return true;
}

bool SqliteStorage::waiting(long long& changes, long long& versions) {
    Statement q(db_, "SELECT COUNT(*), COALESCE(SUM(kind = 'version'), 0) FROM company_outbox");
    if (q.step() != SQLITE_ROW)
        return false;
    changes = q.integer(0);
    versions = q.integer(1);
    return true;
}

bool SqliteStorage::clearOutbox() {
    return Statement(db_, "DELETE FROM company_outbox").run();
}

bool SqliteStorage::clock(const std::string& entity, const std::string& field,
                          std::optional<FieldClock>& out) {
    Statement q(db_, "SELECT hlc, prev_hlc, who, at FROM company_clocks "
                     "WHERE entity = ? AND field = ?");
    const int rc = q.bind(1, entity).bind(2, field).step();
    if (rc == SQLITE_ROW)
        out = FieldClock{q.text(0), q.text(1), q.text(2), q.text(3)};
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool SqliteStorage::setClock(const std::string& entity, const std::string& field,
                             const FieldClock& c) {
    return Statement(db_, "INSERT INTO company_clocks (entity, field, hlc, prev_hlc, who, at) "
                          "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (entity, field) DO UPDATE SET "
                          "hlc = excluded.hlc, prev_hlc = excluded.prev_hlc, who = excluded.who, "
                          "at = excluded.at")
        .bind(1, entity)
        .bind(2, field)
        .bind(3, c.hlc)
        .bind(4, c.prevHlc)
        .bind(5, c.who)
        .bind(6, c.atUtc)
        .run();
}

namespace {

template <typename Q> std::optional<Id> idOrNone(Q& q) {
    const int rc = q.step();
    if (rc == SQLITE_ROW)
        return q.integer(0);
    if (rc == SQLITE_DONE)
        return Id{0};
    return std::nullopt;
}

} // namespace

std::optional<Id> SqliteStorage::installationByUuid(const std::string& uuid) {
    Statement q(db_, "SELECT id FROM installations WHERE uuid = ?");
    q.bind(1, uuid);
    return idOrNone(q);
}

std::optional<Id> SqliteStorage::versionByUuid(const std::string& uuid) {
    Statement q(db_, "SELECT id FROM versions WHERE uuid = ?");
    q.bind(1, uuid);
    return idOrNone(q);
}

bool SqliteStorage::setVersionKind(Id version, const std::string& kind) {
    return Statement(db_, "UPDATE versions SET kind = ? WHERE id = ?")
        .bind(1, kind)
        .bind(2, version)
        .run();
}

bool SqliteStorage::setVersionSummary(Id version, const std::string& summary) {
    return Statement(db_, "UPDATE versions SET summary = ? WHERE id = ?")
        .bind(1, summary)
        .bind(2, version)
        .run();
}

bool SqliteStorage::versionsBasedOn(const std::string& basedOn,
                                    std::vector<std::pair<Id, std::string>>& out) {
    Statement q(db_, "SELECT id, summary FROM versions WHERE based_on = ? ORDER BY id");
    q.bind(1, basedOn);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW)
        out.emplace_back(q.integer(0), q.text(1));
    return rc == SQLITE_DONE;
}

bool SqliteStorage::addConflict(const Conflict& c) {
    return Statement(db_, "INSERT INTO company_conflicts (installation, field, kept, lost, "
                          "kept_who, kept_at, lost_who, lost_at, lost_hlc, other) "
                          "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING")
        .bind(1, c.installation)
        .bind(2, c.field)
        .bind(3, c.kept)
        .bind(4, c.lost)
        .bind(5, c.keptWho)
        .bind(6, c.keptAtUtc)
        .bind(7, c.lostWho)
        .bind(8, c.lostAtUtc)
        .bind(9, c.lostHlc)
        .bind(10, c.other)
        .run();
}

bool SqliteStorage::conflicts(std::vector<Conflict>& out) {
    Statement q(db_, "SELECT c.id, c.installation, i.name, c.field, c.kept, c.lost, "
                     "c.kept_who, c.kept_at, c.lost_who, c.lost_at, c.lost_hlc, c.other "
                     "FROM company_conflicts c JOIN installations i ON i.uuid = c.installation "
                     // Gone with an installation deleted or merged since: no longer shown.
                     "WHERE c.other = '' OR c.other IN (SELECT uuid FROM installations) "
                     "ORDER BY c.id");
    int rc;
    while ((rc = q.step()) == SQLITE_ROW)
        out.push_back(Conflict{q.integer(0), q.text(1), q.text(2), q.text(3), q.text(4), q.text(5),
                               q.text(6), q.text(7), q.text(8), q.text(9), q.text(10), q.text(11)});
    return rc == SQLITE_DONE;
}

bool SqliteStorage::removeConflict(Id id) {
    return Statement(db_, "DELETE FROM company_conflicts WHERE id = ?").bind(1, id).run();
}

bool SqliteStorage::erase(const std::string& uuid) {
    // The versions first, while their installation still names them.
    const char* statements[] = {
        "DELETE FROM company_clocks WHERE entity = ?1 OR entity IN (SELECT v.uuid FROM versions v "
        "JOIN installations i ON i.id = v.installation_id WHERE i.uuid = ?1)",
        "DELETE FROM company_outbox WHERE entity = ?1 OR installation = ?1 OR "
        "(kind = 'version_field' AND field = 'installation' AND value = ?1) OR entity IN "
        "(SELECT v.uuid FROM versions v JOIN installations i ON i.id = v.installation_id "
        "WHERE i.uuid = ?1)",
        "DELETE FROM company_conflicts WHERE installation = ?1 OR other = ?1",
        "DELETE FROM version_numbers WHERE version_id IN (SELECT v.id FROM versions v "
        "JOIN installations i ON i.id = v.installation_id WHERE i.uuid = ?1)",
        "DELETE FROM versions WHERE installation_id IN (SELECT id FROM installations "
        "WHERE uuid = ?1)",
        "DELETE FROM installations WHERE uuid = ?1",
    };
    for (const char* sql : statements)
        if (!Statement(db_, sql).bind(1, uuid).run())
            return false;
    wipe_ = true;
    return true;
}

bool SqliteStorage::vacuum() {
    return sqlite3_exec(db_, "VACUUM", nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace trellikon::reg
