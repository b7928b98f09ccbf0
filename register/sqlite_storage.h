#pragma once
// The register's rows in one SQLite file (register_storage.h).
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

#include "register.h"
#include "register_storage.h"

#include <memory>
#include <string_view>

struct sqlite3;

namespace trellikon::reg {

// The schema this program writes; a file of an earlier one is migrated when opened.
inline constexpr int kSchemaVersion = 3;
inline constexpr int kCopiesKept = 3;

// The commits of a write-ahead log: those SQLite would apply (up to the first
// frame that does not check out) and those the log holds.
struct LogCommits {
    int present = 0;
    int valid = 0;
    bool damaged() const { return valid < present; }
};
LogCommits logCommits(std::string_view log);

class SqliteStorage final : public RegisterStorage, public CompanyStorage {
  public:
    // The register in `path` (created when missing; ":memory:" for one in memory).
    // Nothing and the reason when it cannot be opened at all.
    static std::unique_ptr<SqliteStorage> open(const std::string& path, Failure& failure,
                                               const OpenOptions& options = {});
    ~SqliteStorage() override;
    SqliteStorage(const SqliteStorage&) = delete;
    SqliteStorage& operator=(const SqliteStorage&) = delete;

    bool writable() const override { return writable_; }
    std::string notice() const override { return notice_; }
    Failure refusal() const override;
    Failure failure(const std::string& what) override;
    Failure damagedVersion(Id id) override;
    const std::string& pcId() const override { return pcId_; }

    bool begin(bool flush) override;
    bool commit() override;
    void rollback() override;

    std::optional<Id> installationIdNamed(const std::string& name, Id except) override;
    std::optional<bool> installationExists(Id id) override;
    std::optional<Id> insertInstallation(const std::string& name, const std::string& notes,
                                         const std::string& devicePhone,
                                         const std::string& createdUtc,
                                         const std::string& uuid) override;
    std::optional<int> updateInstallation(Id id, const std::string& name, const std::string& notes,
                                          const std::string& devicePhone) override;
    bool removeInstallation(Id id) override;
    bool installations(std::vector<Installation>& out, bool visits, Id only) override;
    std::optional<Installation> installationNamed(const std::string& name) override;
    bool fillVisits(std::vector<Found>& found) override;

    std::optional<Id> insertVersion(const NewVersion& v, const std::string& summary,
                                    const std::string& sha256) override;
    bool version(Id id, std::optional<StoredVersion>& out) override;
    bool latestBefore(Id installation, Id before, std::optional<StoredVersion>& out) override;
    bool history(const HistoryFilter& filter, std::vector<VersionInfo>& out) override;
    bool eachVersion(Id installation,
                     const std::function<bool(const StoredVersion&)>& take) override;
    std::optional<Id> versionWithIdentity(const std::string& sha256, const std::string& timeUtc,
                                          const std::string& uuid) override;
    std::optional<int> setKind(Id id, const std::string& from, const std::string& to) override;
    std::optional<int> prefixSummary(Id id, const std::string& kind,
                                     const std::string& prefix) override;
    bool setInstallation(Id version, Id installation, const std::string& summary) override;

    bool insertNumbers(Id version, const std::vector<PhoneEntry>& numbers) override;
    bool numbersEndingWith(const std::string& digits, std::vector<NumberHit>& out) override;
    bool installationsWithNumber(const std::string& number, std::vector<Id>& out) override;

    // The schema version the file holds.
    CompanyStorage* company() override { return this; }
    std::optional<std::string> meta(const std::string& name) override;
    bool setMeta(const std::string& name, const std::string& value) override;
    bool removeMeta(const std::string& name) override;
    bool makeCompanyTables() override;
    bool hasCompanyTables() override;
    bool enqueue(const Change& c) override;
    bool outbox(std::size_t limit, std::vector<Change>& out) override;
    bool sent(const std::vector<std::string>& ids) override;
    bool waiting(long long& changes, long long& versions) override;
    bool clearOutbox() override;
    bool clock(const std::string& entity, const std::string& field,
               std::optional<FieldClock>& out) override;
    bool setClock(const std::string& entity, const std::string& field,
                  const FieldClock& c) override;
    std::optional<Id> installationByUuid(const std::string& uuid) override;
    std::optional<Id> versionByUuid(const std::string& uuid) override;
    bool setVersionKind(Id version, const std::string& kind) override;
    bool setVersionSummary(Id version, const std::string& summary) override;
    bool versionsBasedOn(const std::string& basedOn,
                         std::vector<std::pair<Id, std::string>>& out) override;
    bool addConflict(const Conflict& c) override;
    bool conflicts(std::vector<Conflict>& out) override;
    bool removeConflict(Id id) override;
    bool erase(const std::string& installationUuid) override;
    bool vacuum() override;

    int schemaVersion();

  private:
    class Statement;
    explicit SqliteStorage(sqlite3* db, std::string path);
    static std::unique_ptr<SqliteStorage> openAt(const std::string& path, std::string& error,
                                                 const OpenOptions& options);

    std::string prepare(const OpenOptions& options, bool fresh, bool keepLog);
    // `why` (a sentence, or empty) says what was found damaged.
    void openDamaged(const std::string& why = {});
    std::string migrate(int from);
    bool migrateFrom1();
    // A file of the second schema read, unchanged, as if it were of the third.
    bool readAsCurrent();
    // This computer's id, made and kept in the file at its first use.
    std::string readPcId(bool make);
    std::string makeDailyCopy();
    std::string failureText(const std::string& what);
    void damagedInUse();
    std::string damagedNotice(const std::string& why = {}) const;
    std::string refuseChange() const;

    sqlite3* db_ = nullptr;
    std::string path_;
    std::string pcId_;
    bool writable_ = true;
    bool durable_ = true;
    bool checkedWhole_ = false; // the whole file checked at this opening
    bool flushed_ = false;      // the open transaction commits to the disk
    bool wipe_ = false;         // the open transaction removed an installation
    bool numbersFailed_ = false;
    std::string notice_;
};

} // namespace trellikon::reg
