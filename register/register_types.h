#pragma once
// The installations register: every device an installer looks after, and
// every read and write of it, kept for good. This header holds what the
// register speaks in: plain structs, UTF-8, and its failures.
//
//   register.h          Register, the one class the program talks to (the
//                       session records through it, the windows and the
//                       command line list and search through it): every rule
//   register_storage.h  the rows and transactions a Register keeps its
//                       content in; sqlite_storage.h keeps them in one file
//   version_text.h      what the register derives from a version's bytes: the
//                       phone numbers it is searched by, the one-line summary
//                       against the previous version, the closeness of two reads
//   register_file.h     the export file: versioned, self-checking, imported by
//                       the versions' identity (content hash and time)
//   register_location.h where the register lives by default, and its copies
//
// A version never changes once recorded: its bytes, their SHA-256, the time
// (UTC), the kind, the port and the program's version. Only its assignment to
// an installation (an unassigned read assigned later), the summary, which
// is derived from the installation's previous version, and a write's verdict
// (its kind from "zapis" to what the read-back found, once) may be set
// afterwards.

#include "failure.h"
#include "settings_image.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trellikon::reg {

using Bytes = SettingsImage::Bytes;
using Id = std::int64_t; // 0: none

class ExportBytes; // register_file.h

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

// A new random (version 4) UUID, lower-case: "0b7f...-4...-...".
std::string newUuid();

// What a version without an installation shows in place of one.
inline constexpr const char* kUnassigned = "nieprzypisane";

// The longest name, notes and device number an installation may have, in
// bytes of UTF-8.
inline constexpr std::size_t kLongestName = 200;
inline constexpr std::size_t kLongestNotes = 64 * 1024;
inline constexpr std::size_t kLongestDevicePhone = 40;
// Why an installation cannot have this name, these notes or this device
// number, in Polish; empty when it can. A name is one line of text, as typed
// and as given on the command line: not blank, no blank at either end (a
// name given with one is trimmed first), valid UTF-8, no control character.
std::string installationProblem(std::string_view name, std::string_view notes,
                                std::string_view devicePhone);

// A register's failure: its reason, in Polish, as the installer reads it.
inline Failure registerFailure(std::string message) {
    return makeFailure(Failure::Code::Register, std::move(message));
}

struct Status {
    Failure failure; // why, when not ok
    Status() = default;
    Status(Failure f) : failure(std::move(f)) {}
    bool ok() const { return failure.ok(); }
};

template <typename T> struct Result {
    T value{};
    Failure failure; // why, when not ok
    bool ok() const { return failure.ok(); }
};

struct Installation {
    Id id = 0;
    std::string name;
    std::string notes;
    std::string devicePhone; // the device's own number, or empty
    int versions = 0;
    std::string lastVisitUtc; // the newest version's time, or empty
    std::string uuid{};       // the same on every computer it travels to
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
    std::string sha256;    // of the bytes, lower-case hex
    std::string uuid{};    // made where it was recorded, kept wherever it goes
    std::string pcId{};    // the computer that recorded it
    std::string basedOn{}; // the version this one was made from, or empty
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
    // The version this one was made from: the backup before a write or a
    // restore, the read before an edit. Empty: none known.
    std::string basedOn{};
    std::string uuid{}; // empty: a new one (an import gives the file's)
    std::string pcId{}; // empty: this computer (a pulled version: its own)
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

} // namespace trellikon::reg
