#pragma once
// The installations register as the program talks to it: every rule of it
// (names and device numbers, the closest installation, summaries, import,
// kinds and verdicts, which version is the latest) over a storage
// (register_storage.h) that only keeps rows.
//
// A version never changes once recorded: its bytes, their SHA-256, the time
// (UTC), the kind, the port and the program's version. Only its assignment to
// an installation (an unassigned read assigned later), the summary, which
// is derived from the installation's previous version, and a write's verdict
// (its kind from "zapis" to what the read-back found, once) may be set
// afterwards.

#include "register_storage.h"
#include "register_types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace trellikon::reg {

class Register {
  public:
    explicit Register(std::unique_ptr<RegisterStorage> storage);
    ~Register();
    Register(const Register&) = delete;
    Register& operator=(const Register&) = delete;

    // False for a register found damaged: it is only read, and every change
    // fails with notice().
    bool writable() const { return storage_->writable(); }
    // What the installer must know about the register as it was opened
    // (damaged, where its newest copy is); empty when all is well.
    std::string notice() const { return storage_->notice(); }
    RegisterStorage& storage() { return *storage_; }

    // --- what a session needs ---
    // Records a version in one transaction: committed when this returns ok.
    Result<Id> record(const NewVersion& v) { return record(v, {}); }
    // The same, with `note` said before its summary (how far a write cut
    // short got: "przerwany po bloku 5 z 8").
    Result<Id> record(const NewVersion& v, const std::string& note);
    // The read-back's verdict on a write recorded at its last acknowledgement:
    // its kind goes from "zapis" to `verdict` ("zapis sprawdzony" or "zapis
    // niezgodny"), and never otherwise. The write is recorded before its
    // check so that a program ended during the check read leaves the write
    // known; a second version for the verdict would have repeated the bytes
    // and shown one write as two. The kind only ever gains the check's
    // answer: what was sent, when and where, stays as recorded.
    Status setWriteVerdict(Id version, const std::string& verdict);
    // The installation's newest version by recording order, never by the
    // time it carries: a time from a clock once ahead, or one imported from
    // such a computer, would otherwise stay "latest" for good.
    Result<std::optional<Version>> latest(Id installation);

    // --- installations ---
    Result<Id> createInstallation(const std::string& name, const std::string& notes,
                                  const std::string& devicePhone);
    // Renames it and sets its notes and the device's number.
    Status updateInstallation(Id id, const std::string& name, const std::string& notes,
                              const std::string& devicePhone);
    // Removes it and all its versions for good.
    Status deleteInstallation(Id id);
    Result<std::optional<Installation>> installationNamed(const std::string& name);
    // Every installation, or those whose name or notes contain `search`
    // (letters in any case), or, when it is a phone number (three digits or
    // more), whose device or any version's numbers end with it; the most
    // recently visited first.
    Result<std::vector<Found>> installations(const std::string& search);

    // --- versions ---
    // Newest first.
    Result<std::vector<VersionInfo>> history(const HistoryFilter& filter);
    Result<std::optional<Version>> version(Id id);
    // Gives an unassigned version its installation (and its summary against
    // that installation's version before it).
    Status assign(Id version, Id installation);
    // The installations whose latest version is closest to these bytes
    // (user numbers, SMS centre, callers), closest first; none when nothing matches.
    Result<std::vector<Proposal>> propose(const Bytes& bytes);

    // --- moving to another computer ---
    // One installation (or all, and the unassigned versions, when 0) as the
    // bytes of an export file (register_file.h).
    Result<std::string> exportData(Id installation);
    // --- the company register (company_sync.h) ---
    // The storage of the company log when this register is joined to one.
    CompanyStorage* company();
    // The next hybrid logical clock: later than every one made or seen here.
    std::string nextHlc();
    // Makes sure later clocks are later than one seen from another computer.
    void observeHlc(const std::string& hlc);
    // The wall clock the hybrid clock starts from, in ms since 1970 (tests
    // give laptops clocks that differ).
    void setWallClock(std::function<std::int64_t()> nowMs) { nowMs_ = std::move(nowMs); }
    // The installation's uuid, empty when none has this id.
    std::string installationUuid(Id id);
    // Logs a field's new value as a change, when joined (inside a transaction).
    bool logField(const char* kind, const std::string& entity, const std::string& field,
                  const std::string& value);
    // Sets an installation's name, notes or device number, as pulled or as
    // chosen in a conflict, without logging it (the caller decides).
    Status setInstallationField(Id id, const std::string& field, const std::string& value);
    // Takes in a version recorded elsewhere, with its own uuid, computer and
    // summary, inside the caller's transaction; it is not logged again.
    Result<Id> takeVersion(const NewVersion& v, const std::string& summary) {
        return insertVersion(v, summary);
    }
    // Moves every version of `from` into `into` and deletes `from`: two
    // installations that turned out to be one site.
    Status merge(Id from, Id into);

    // Takes in an export file: all of it or, when it is damaged or foreign,
    // nothing. Versions already present (same content and time) are skipped;
    // installations are matched by name. The file is read as it goes, never
    // held whole.
    Result<ImportReport> importFrom(ExportBytes& file);
    // The same for a file held in memory.
    Result<ImportReport> importData(std::string_view file);

  private:
    class Transaction;
    Failure fail(const std::string& what) { return storage_->failure(what); }
    // The version as stored, or why not: a changed byte of a version is
    // never shown, compared or written back to a device.
    Result<std::optional<Version>> checked(bool read, std::optional<StoredVersion>& stored,
                                           const char* what);
    Result<std::optional<Version>> latestBefore(Id installation, Id before);
    Result<Id> insertVersion(const NewVersion& v, const std::string& summary);
    std::string summaryFor(Id installation, Id before, const Bytes& bytes, Failure& failure);

    bool logVersion(const std::string& uuid, Id installation);
    bool logInstallation(Id id, const std::string& name, const std::string& notes,
                         const std::string& devicePhone, const Installation* before);

    std::unique_ptr<RegisterStorage> storage_;
    std::function<std::int64_t()> nowMs_;
};

// How a register is opened.
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

// The register at `location`: a file's path (":memory:" for one in memory).
// Nothing and the reason when it cannot be opened at all.
Result<std::unique_ptr<Register>> openRegister(const std::string& location,
                                               const OpenOptions& options = {});

} // namespace trellikon::reg
