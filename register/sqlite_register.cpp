#include "sqlite_register.h"

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

std::string SqliteRegister::failure(const std::string& what) {
    const int code = sqlite3_extended_errcode(db_);
    if ((code & 0xFF) == SQLITE_CORRUPT || (code & 0xFF) == SQLITE_NOTADB)
        damagedInUse();
    return "rejestr „" + path_ + "”: " + what + ": " + reasonOf(code);
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
// also stops every write (SqliteRegister::failure).
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

std::unique_ptr<SqliteRegister> SqliteRegister::open(const std::string& path, std::string& error,
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
            std::unique_ptr<SqliteRegister> reg(new SqliteRegister(nullptr, path));
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
    std::unique_ptr<SqliteRegister> reg(new SqliteRegister(db, path));
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
        if (reg->schemaVersion() < kSchemaVersion) {
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

void SqliteRegister::openDamaged(const std::string& why) {
    // Closed without a checkpoint, then read as it lies on the disk.
    sqlite3_close_v2(db_);
    db_ = nullptr;
    sqlite3_open_v2(untouchedUri(path_).c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                    nullptr);
    writable_ = false;
    notice_ = damagedNotice(why);
}

std::string SqliteRegister::damagedNotice(const std::string& why) const {
    const std::string copy = newestSoundCopy(path_);
    std::string notice = "rejestr „" + path_ + "” jest uszkodzony: " + why +
                         "Otwarto go tylko do odczytu i nic nie zostanie w nim zapisane. ";
    notice += copy.empty() ? "Kopii rejestru nie ma; zachowaj uszkodzony plik (z plikiem "
                             "„-wal” obok, jeśli jest) i podaj nowy plik rejestru (--register)."
                           : restoreAdvice(path_, copy);
    return notice;
}

std::string SqliteRegister::prepare(const OpenOptions& options, bool fresh, bool keepLog) {
    if (fresh)
        sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    // With the log, a commit survives the program being killed; a backup is
    // also flushed to the disk at its commit (record()), so that it survives
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

// The installation's newest version by recording order (its row number),
// never by the time it carries: a time from a clock once ahead, or one
// imported from such a computer, would otherwise stay "latest" for good.
Result<std::optional<Version>> SqliteRegister::latestBefore(Id installation, Id before) {
    Result<std::optional<Version>> r;
    Statement q(db_, std::string("SELECT ") + kVersionColumns +
                         "WHERE v.installation_id = ? AND v.id < ? "
                         "ORDER BY v.id DESC LIMIT 1");
    q.bind(1, installation).bind(2, before == 0 ? std::numeric_limits<Id>::max() : before);
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
    return latestBefore(installation, 0);
}

std::string SqliteRegister::summaryFor(Id installation, Id before, const Bytes& bytes,
                                       std::string& error) {
    const auto previous = latestBefore(installation, before);
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

Result<Id> SqliteRegister::record(const NewVersion& given, const std::string& note) {
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
    // power cut during the write that follows it; so is a write, whose record
    // the next write's look for changes on site relies on. The setting is taken when
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
    } flushed(db_, durable_ && (v.kind == kind::kBackup || v.kind == kind::kWrite ||
                                v.kind == kind::kWriteInterrupted || v.kind == kind::kRestore));
    Transaction t(db_);
    if (!t.begun()) {
        r.error = failure("nie można zapisać wersji");
        return r;
    }
    std::string summary;
    if (v.installationId != 0) {
        Statement q(db_, "SELECT id FROM installations WHERE id = ?");
        if (q.bind(1, v.installationId).step() != SQLITE_ROW) {
            r.error = "w rejestrze nie ma instalacji " + std::to_string(v.installationId);
            return r;
        }
        summary = summaryFor(v.installationId, 0, v.bytes, r.error);
        if (!r.ok())
            return r;
    }
    if (!note.empty())
        summary = note + (summary.empty() ? "" : "; " + summary);
    r = insertVersion(v, summary);
    // A version whose commit failed (a full disk) was never stored: no id
    // may name it.
    if (r.ok() && !t.commit())
        r.error = failure("nie można zapisać wersji");
    if (!r.ok())
        r.value = 0;
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
    if (r.error = installationProblem(name, notes, devicePhone); !r.ok())
        return r;
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
    if (std::string e = installationProblem(name, notes, devicePhone); !e.empty())
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

Status SqliteRegister::setWriteVerdict(Id versionId, const std::string& verdict) {
    if (!writable_)
        return {refuseChange()};
    if (verdict != kind::kWriteVerified && verdict != kind::kWriteMismatch)
        return {"nieznany rodzaj wersji „" + verdict + "”"};
    Statement q(db_, "UPDATE versions SET kind = ? WHERE id = ? AND kind = ?");
    q.bind(1, verdict).bind(2, versionId).bind(3, std::string(kind::kWrite));
    if (!q.run())
        return {failure("nie można zapisać wyniku sprawdzenia zapisu")};
    if (sqlite3_changes(db_) == 1)
        return {};
    // A restore keeps its kind, which says what it was; a check that found
    // other bytes is said before its summary.
    Statement restore(db_, "UPDATE versions SET summary = ? || summary WHERE id = ? AND kind = ?");
    restore.bind(1, verdict == kind::kWriteMismatch ? std::string(kind::kWriteMismatch) + "; " : "")
        .bind(2, versionId)
        .bind(3, std::string(kind::kRestore));
    if (!restore.run())
        return {failure("nie można zapisać wyniku sprawdzenia zapisu")};
    if (sqlite3_changes(db_) != 1)
        return {"w rejestrze nie ma zapisu bez sprawdzenia o numerze " + std::to_string(versionId)};
    return {};
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
    const std::string summary = summaryFor(installation, versionId, v.value->bytes, error);
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

Result<ImportReport> SqliteRegister::importFrom(ExportBytes& file) {
    Result<ImportReport> r;
    if (!writable_) {
        r.error = refuseChange();
        return r;
    }
    // The whole file is read through and checked first, nothing of it kept
    // and nothing written; only a sound file is read again and taken in, and
    // its transaction commits only when that second reading ends sound too
    // (the file may have changed in between).
    if (r.error = checkExport(file); !r.ok())
        return r;
    if (!file.rewind()) {
        r.error = "nie można ponownie odczytać pliku: " + file.failure();
        return r;
    }
    ExportReader in(file);
    if (r.error = in.header(); !r.ok())
        return r;
    Transaction t(db_);
    if (!t.begun()) {
        r.error = failure("nie można zaimportować");
        return r;
    }
    std::vector<Id> ids;
    Statement find(db_, "SELECT id FROM installations WHERE name = ?");
    Statement add(db_, "INSERT INTO installations (name, notes, created_at, device_phone) "
                       "VALUES (?, ?, ?, ?)");
    for (std::uint32_t k = 0; k < in.installations(); ++k) {
        ExportInstallation i;
        if (!in.next(i)) {
            r.error = in.refusal();
            return r;
        }
        find.reset();
        const int rc = find.bind(1, i.name).step();
        if (rc == SQLITE_ROW) {
            ids.push_back(find.integer(0));
            continue;
        }
        add.reset();
        add.bind(1, i.name).bind(2, i.notes).bind(3, nowUtc()).bind(4, i.devicePhone);
        if (rc != SQLITE_DONE || !add.run()) {
            r.error = failure("nie można zaimportować");
            return r;
        }
        ids.push_back(sqlite3_last_insert_rowid(db_));
        ++r.value.installationsAdded;
    }
    Statement known(db_, "SELECT id FROM versions WHERE sha256 = ? AND recorded_at = ?");
    for (std::uint32_t k = 0; k < in.versions(); ++k) {
        ExportVersion e;
        if (!in.next(e)) {
            r.error = in.refusal();
            return r;
        }
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
    if (r.error = in.finish(); !r.ok())
        return r;
    if (!t.commit())
        r.error = failure("nie można zaimportować");
    return r;
}

} // namespace trellikon::reg
