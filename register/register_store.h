#pragma once
// The installations register: every device an installer looks after, and
// every read and write of it, kept for good.
//
//   RegisterStore       the one interface the program talks to (the session
//                       records through it, the windows and the command line
//                       list and search through it); plain structs, UTF-8
//   SqliteRegister      its implementation in one SQLite file (sqlite_register.h)
//   version_text.h      what the register derives from a version's bytes: the
//                       phone numbers it is searched by, the one-line summary
//                       against the previous version, the closeness of two reads
//   register_file.h     the export file: versioned, self-checking, imported by
//                       the versions' identity (content hash and time)
//   register_location.h where the register lives by default, and its copies
//
// A version never changes once recorded: its bytes, their SHA-256, the time
// (UTC), the kind, the port and the program's version. Only its assignment to
// an installation (an unassigned read assigned later) and the summary, which
// is derived from the installation's previous version, may be set afterwards.

#include "settings_image.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trellikon::reg {

using Bytes = SettingsImage::Bytes;
using Id = std::int64_t; // 0: none

// The kinds of version, as the installer reads them.
namespace kind {
inline constexpr const char* kRead = "odczyt";
inline constexpr const char* kBackup = "kopia przed zapisem";
inline constexpr const char* kWrite = "zapis";
inline constexpr const char* kWriteVerified = "zapis sprawdzony";
inline constexpr const char* kWriteMismatch = "zapis niezgodny";
// The frames stopped before the last block was acknowledged: the device holds
// part of the new settings.
inline constexpr const char* kWriteInterrupted = "zapis przerwany";
// A version of the register written back to the device.
inline constexpr const char* kRestore = "przywrócenie";
} // namespace kind
bool knownKind(std::string_view k);

// What a version without an installation shows in place of one.
inline constexpr const char* kUnassigned = "nieprzypisane";

struct Status {
    std::string error; // the reason, in Polish, when not ok
    bool ok() const { return error.empty(); }
};

template <typename T> struct Result {
    T value{};
    std::string error;
    bool ok() const { return error.empty(); }
};

struct Installation {
    Id id = 0;
    std::string name;
    std::string notes;
    std::string devicePhone; // the device's own number, or empty
    int versions = 0;
    std::string lastVisitUtc; // the newest version's time, or empty
};

// An installation a search found, and why: the phone numbers it matched, each
// as "abonent CLIP 43: 48512345678 (wersja 17)", newest version first.
struct Found {
    Installation installation;
    std::vector<std::string> matches;
};

struct VersionInfo {
    Id id = 0;
    Id installationId = 0;        // 0: unassigned
    std::string installationName; // kUnassigned when unassigned
    std::string timeUtc;          // "YYYY-MM-DDTHH:MM:SS.mmmZ"
    std::string kind;
    std::string port;
    std::string programVersion;
    std::string summary;
    std::string sha256; // of the bytes, lower-case hex
};

struct Version {
    VersionInfo info;
    Bytes bytes{};
};

struct NewVersion {
    Bytes bytes{};
    std::string kind = kind::kRead;
    std::string port;
    std::string programVersion;
    Id installationId = 0; // 0: kept unassigned
    std::string timeUtc;   // empty: now
    std::string summary{}; // empty: made against the installation's version before it
};

// An installation whose latest version looks like the same device.
struct Proposal {
    Id installationId = 0;
    std::string name;
    int score = 0; // higher is closer
};

struct ImportReport {
    int installationsAdded = 0;
    int versionsAdded = 0;
    int versionsKnown = 0; // already in the register: not added again
};

// Which versions a history lists.
struct HistoryFilter {
    enum Which { All, OfInstallation, Unassigned } which = All;
    Id installationId = 0;
    int limit = 0; // 0: every one
};

class RegisterStore {
  public:
    virtual ~RegisterStore() = default;

    // False for a register found damaged: it is only read, and every change
    // fails with notice().
    virtual bool writable() const = 0;
    // What the installer must know about the register as it was opened
    // (damaged, where its newest copy is); empty when all is well.
    virtual std::string notice() const = 0;

    // --- what a session needs ---
    // Records a version in one transaction: committed when this returns ok.
    virtual Result<Id> record(const NewVersion& v) = 0;
    virtual Result<std::optional<Version>> latest(Id installation) = 0;

    // --- installations ---
    virtual Result<Id> createInstallation(const std::string& name, const std::string& notes,
                                          const std::string& devicePhone) = 0;
    // Renames it and sets its notes and the device's number.
    virtual Status updateInstallation(Id id, const std::string& name, const std::string& notes,
                                      const std::string& devicePhone) = 0;
    // Removes it and all its versions from the file for good.
    virtual Status deleteInstallation(Id id) = 0;
    virtual Result<std::optional<Installation>> installationNamed(const std::string& name) = 0;
    // Every installation, or those whose name or notes contain `search`
    // (letters in any case), or, when it is a phone number (three digits or
    // more), whose device or any version's numbers end with it; the most
    // recently visited first.
    virtual Result<std::vector<Found>> installations(const std::string& search) = 0;

    // --- versions ---
    // Newest first.
    virtual Result<std::vector<VersionInfo>> history(const HistoryFilter& filter) = 0;
    virtual Result<std::optional<Version>> version(Id id) = 0;
    // Gives an unassigned version its installation (and its summary against
    // that installation's version before it).
    virtual Status assign(Id version, Id installation) = 0;
    // The installations whose latest version is closest to these bytes
    // (user numbers, SMS centre, callers), closest first; none when nothing matches.
    virtual Result<std::vector<Proposal>> propose(const Bytes& bytes) = 0;

    // --- moving to another computer ---
    // One installation (or all, and the unassigned versions, when 0) as the
    // bytes of an export file (register_file.h).
    virtual Result<std::string> exportData(Id installation) = 0;
    // Takes in an export file: all of it or, when it is damaged or foreign,
    // nothing. Versions already present (same content and time) are skipped;
    // installations are matched by name.
    virtual Result<ImportReport> importData(std::string_view file) = 0;
};

} // namespace trellikon::reg
