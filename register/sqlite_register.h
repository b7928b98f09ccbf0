#pragma once
// The register in one SQLite file (see register_store.h for what it keeps).
//
// Opening looks at the file before changing anything in it: that it is a
// file of its own (not a symbolic link), that it is this program's register
// (its schema row), that a write-ahead log left beside it can be applied
// whole (SQLite would silently drop every commit after a damaged frame), and
// that it is sound: in full once a day (SQLite's quick check and every
// version's SHA-256), before the file gets its copy (SQLite's online backup;
// the newest three kept), otherwise its schema, installations and the
// versions' b-tree, so that a large register opens at once. A damaged file
// is opened only for reading, without its log, so that nothing of it
// changes; the notice then names the newest copy and its day. Damage met
// later, in a page or in a version's content, makes the register read-only
// in the same way. A missing or empty file where a register has been (its
// copies beside it) is reported, never replaced by a new register unless
// asked; a file on a read-only disk is opened for reading only.

#include "register_store.h"

#include <memory>
#include <string_view>

struct sqlite3;

namespace trellikon::reg {

// The schema this program writes; a file of the first schema is migrated when opened.
inline constexpr int kSchemaVersion = 2;
inline constexpr int kCopiesKept = 3;

struct OpenOptions {
    // Make a rotating copy when the newest is not from today (UTC), the whole
    // file checked first.
    bool dailyCopy = true;
    // Check the whole file at this opening whatever the day (the benchmark).
    bool checkWhole = false;
    // How long a change waits for another program's to finish.
    int busyTimeoutMs = 30'000;
    // Each recording on the disk before it returns. Only a bulk fill that can
    // be made again (the benchmark's) goes without.
    bool durable = true;
    // A command that only reads: a log found beside the file is left as it
    // is (never copied into the file nor deleted), the file's mode kept.
    bool readOnly = false;
    // The installer asked for a new register where the file is missing or
    // empty; otherwise one is made only where none has been (no daily copy
    // beside the name).
    bool createNew = false;
};

// The commits of a write-ahead log: those SQLite would apply (up to the first
// frame that does not check out) and those the log holds.
struct LogCommits {
    int present = 0;
    int valid = 0;
    bool damaged() const { return valid < present; }
};
LogCommits logCommits(std::string_view log);

class SqliteRegister final : public RegisterStore {
  public:
    // The register in `path` (created when missing; ":memory:" for one in memory).
    // Nothing and the reason when it cannot be opened at all.
    static std::unique_ptr<SqliteRegister> open(const std::string& path, std::string& error,
                                                const OpenOptions& options = {});
    ~SqliteRegister() override;
    SqliteRegister(const SqliteRegister&) = delete;
    SqliteRegister& operator=(const SqliteRegister&) = delete;

    bool writable() const override { return writable_; }
    std::string notice() const override { return notice_; }

    Result<Id> record(const NewVersion& v) override { return record(v, {}); }
    Result<Id> record(const NewVersion& v, const std::string& note) override;
    Status setWriteVerdict(Id version, const std::string& verdict) override;
    Result<std::optional<Version>> latest(Id installation) override;

    Result<Id> createInstallation(const std::string& name, const std::string& notes,
                                  const std::string& devicePhone) override;
    Status updateInstallation(Id id, const std::string& name, const std::string& notes,
                              const std::string& devicePhone) override;
    Status deleteInstallation(Id id) override;
    Result<std::optional<Installation>> installationNamed(const std::string& name) override;
    Result<std::vector<Found>> installations(const std::string& search) override;

    Result<std::vector<VersionInfo>> history(const HistoryFilter& filter) override;
    Result<std::optional<Version>> version(Id id) override;
    Status assign(Id version, Id installation) override;
    Result<std::vector<Proposal>> propose(const Bytes& bytes) override;

    Result<std::string> exportData(Id installation) override;
    Result<ImportReport> importFrom(ExportBytes& file) override;

    // The schema version the file holds.
    int schemaVersion();

  private:
    class Statement;
    class Transaction;
    explicit SqliteRegister(sqlite3* db, std::string path);

    std::string prepare(const OpenOptions& options, bool fresh, bool keepLog);
    // `why` (a sentence, or empty) says what was found damaged.
    void openDamaged(const std::string& why = {});
    std::string migrate(int from);
    std::string makeDailyCopy();
    // The reason a statement failed; a damaged page met here stops every write.
    std::string failure(const std::string& what);
    void damagedInUse();
    std::string damagedVersion(Id id);
    std::string damagedNotice(const std::string& why = {}) const;
    std::string refuseChange() const;

    Result<Id> insertVersion(const NewVersion& v, const std::string& summary);
    // The newest recorded before version `before` (0: of all).
    Result<std::optional<Version>> latestBefore(Id installation, Id before);
    Status indexNumbers(Id version, const Bytes& bytes);
    std::string summaryFor(Id installation, Id before, const Bytes& bytes, std::string& error);

    sqlite3* db_ = nullptr;
    std::string path_;
    bool writable_ = true;
    bool durable_ = true;
    bool checkedWhole_ = false; // the whole file checked at this opening
    std::string notice_;
};

} // namespace trellikon::reg
