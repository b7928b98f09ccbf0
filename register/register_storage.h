#pragma once
// Where a Register (register.h) keeps its content: rows of installations,
// versions and the versions' phone numbers, changed in transactions. It knows
// no rule: what may be recorded, named or imported, and what a version's
// summary says, is the Register's. Its own is what the place it keeps the
// rows in needs: opening and checking it, its schema and migration, what it
// found damaged, why a statement failed.
//
// Every call that can fail returns false (or nothing); failure(what) then
// words why, at once, before anything else is asked of the storage.

#include "company_log.h"
#include "register_types.h"
#include "version_text.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trellikon::reg {

// A version as the storage returns it: `whole` is false for content that is
// not a whole image (a damaged place); its SHA-256 is the Register's to check.
struct StoredVersion {
    Version version;
    bool whole = false;
};

// A version's phone number an "ends with" search found.
struct NumberHit {
    Id installationId = 0;
    Id versionId = 0;
    std::string role; // roleKey()
    int position = 0;
    std::string number;
};

class RegisterStorage {
  public:
    virtual ~RegisterStorage() = default;

    // --- the place ---
    // False once only reading is allowed (damaged, read-only, newer).
    virtual bool writable() const = 0;
    // What the installer must know about the place as it was opened; empty
    // when all is well.
    virtual std::string notice() const = 0;
    // Why a change is refused while !writable().
    virtual Failure refusal() const = 0;
    // Why the last call failed, `what` said first ("nie można zapisać wersji").
    virtual Failure failure(const std::string& what) = 0;
    // Version `id`'s content does not match its SHA-256: the place is damaged.
    virtual Failure damagedVersion(Id id) = 0;
    // The computer this register is kept on (its versions' pc_id).
    virtual const std::string& pcId() const = 0;

    // --- transactions: all of one or nothing ---
    // `flush`: the commit is on the disk before it returns, whatever the
    // storage's usual durability (a backup, a write).
    virtual bool begin(bool flush = false) = 0;
    virtual bool commit() = 0;
    virtual void rollback() = 0;

    // --- installations ---
    // Its id, 0 when none is named so (`except`: other than this one).
    virtual std::optional<Id> installationIdNamed(const std::string& name, Id except = 0) = 0;
    virtual std::optional<bool> installationExists(Id id) = 0;
    // The new row's id; `uuid` empty: a new one is made.
    virtual std::optional<Id> insertInstallation(const std::string& name, const std::string& notes,
                                                 const std::string& devicePhone,
                                                 const std::string& createdUtc,
                                                 const std::string& uuid) = 0;
    // How many rows changed (0: no such installation).
    virtual std::optional<int> updateInstallation(Id id, const std::string& name,
                                                  const std::string& notes,
                                                  const std::string& devicePhone) = 0;
    // The installation, its versions and their numbers; the freed space
    // wiped when the transaction commits.
    virtual bool removeInstallation(Id id) = 0;
    // One installation (id != 0) or every one (by id); `visits`: with the
    // count and newest time of its versions.
    virtual bool installations(std::vector<Installation>& out, bool visits, Id only = 0) = 0;
    virtual std::optional<Installation> installationNamed(const std::string& name) = 0;
    // Counts and newest times for a few installations found otherwise.
    virtual bool fillVisits(std::vector<Found>& found) = 0;

    // --- versions ---
    // The new row's id. The uuid, pc_id and summary are given as they are
    // stored.
    virtual std::optional<Id> insertVersion(const NewVersion& v, const std::string& summary,
                                            const std::string& sha256) = 0;
    virtual bool version(Id id, std::optional<StoredVersion>& out) = 0;
    // The installation's newest version by recording order before `before`
    // (0: of all).
    virtual bool latestBefore(Id installation, Id before, std::optional<StoredVersion>& out) = 0;
    // Newest first (by time, then recording order); `limit` 0: every one.
    virtual bool history(const HistoryFilter& filter, std::vector<VersionInfo>& out) = 0;
    // Oldest first, with content: one installation's (id != 0) or every one's.
    virtual bool eachVersion(Id installation,
                             const std::function<bool(const StoredVersion&)>& take) = 0;
    // A version with this content and time, or this uuid; 0 when none.
    virtual std::optional<Id> versionWithIdentity(const std::string& sha256,
                                                  const std::string& timeUtc,
                                                  const std::string& uuid) = 0;
    // Rows changed: the kind of version `id` when it is `from`.
    virtual std::optional<int> setKind(Id id, const std::string& from, const std::string& to) = 0;
    // Rows changed: `prefix` before the summary of version `id` when its kind is `kind`.
    virtual std::optional<int> prefixSummary(Id id, const std::string& kind,
                                             const std::string& prefix) = 0;
    virtual bool setInstallation(Id version, Id installation, const std::string& summary) = 0;

    // --- the numbers index ---
    virtual bool insertNumbers(Id version, const std::vector<PhoneEntry>& numbers) = 0;
    // Numbers of assigned versions ending with `digits`, newest version first.
    virtual bool numbersEndingWith(const std::string& digits, std::vector<NumberHit>& out) = 0;
    // Installations any of whose versions holds exactly `number`.
    virtual bool installationsWithNumber(const std::string& number, std::vector<Id>& out) = 0;

    // --- the company register's log (company_log.h); none where not kept ---
    virtual CompanyStorage* company() { return nullptr; }
};

// One change, one transaction: everything or nothing is kept; rolled back
// unless committed.
class StorageTransaction {
  public:
    explicit StorageTransaction(RegisterStorage& s, bool flush = false) : s_(s) {
        begun_ = s_.begin(flush);
    }
    ~StorageTransaction() {
        if (begun_ && !done_)
            s_.rollback();
    }
    StorageTransaction(const StorageTransaction&) = delete;
    StorageTransaction& operator=(const StorageTransaction&) = delete;
    bool begun() const { return begun_; }
    bool commit() {
        done_ = s_.commit();
        return done_;
    }

  private:
    RegisterStorage& s_;
    bool begun_ = false;
    bool done_ = false;
};

} // namespace trellikon::reg
