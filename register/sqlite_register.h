#pragma once
// The register in one SQLite file (see register_store.h for what it keeps).
//
// Opening checks the file: in full (quick check) once a day, before a sound
// file gets its copy (SQLite's online backup; the newest three kept), and
// otherwise its schema, installations and the versions' b-tree, so that a
// large register opens at once. A damaged file is opened only for reading,
// without its write-ahead log, so that nothing of it changes; the notice then
// names the newest rotating copy. Damage met later, in a page or in a
// version's content, makes the register read-only in the same way.

#include "register_store.h"

#include <memory>

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
};

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

    std::string prepare(const OpenOptions& options);
    void openDamaged();
    std::string migrate(int from);
    std::string makeDailyCopy();
    // The reason a statement failed; a damaged page met here stops every write.
    std::string failure(const std::string& what);
    void damagedInUse();
    std::string damagedVersion(Id id);
    std::string damagedNotice() const;
    std::string refuseChange() const;

    Result<Id> insertVersion(const NewVersion& v, const std::string& summary);
    Result<std::optional<Version>> latestBefore(Id installation, const std::string& timeUtc,
                                                Id notId);
    Status indexNumbers(Id version, const Bytes& bytes);
    std::string summaryFor(Id installation, const std::string& timeUtc, Id notId,
                           const Bytes& bytes, std::string& error);

    sqlite3* db_ = nullptr;
    std::string path_;
    bool writable_ = true;
    bool durable_ = true;
    bool checkedWhole_ = false; // the whole file checked at this opening
    std::string notice_;
};

} // namespace trellikon::reg
