#pragma once
// What a register joined to a company register keeps for it: the changes
// waiting to go to the server (the outbox), which change set each field, the
// conflicts found at a pull, and where the last pull ended. The rules of
// merging are company_sync's; this is only where they keep their rows.

#include "register_types.h"
#include "version_text.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace trellikon::reg {

namespace change {
inline constexpr const char* kInstallation = "installation";  // a field of an installation
inline constexpr const char* kVersion = "version";            // a version, whole
inline constexpr const char* kVersionField = "version_field"; // its installation, kind or summary
inline constexpr const char* kErasure = "erasure";            // a client's data erased
} // namespace change

// What the history says before the summary of two writes made from one
// version on two computers, neither knowing of the other.
inline constexpr const char* kParallelWrite = "równoległy zapis z tej samej wersji; ";

// The fields that merge by the latest change.
namespace field {
inline constexpr const char* kName = "name";
inline constexpr const char* kNotes = "notes";
inline constexpr const char* kDevicePhone = "device_phone";
inline constexpr const char* kDeleted = "deleted";
inline constexpr const char* kInstallationOf =
    "installation"; // of a version: the installation's uuid
inline constexpr const char* kKind = "kind";
inline constexpr const char* kSummary = "summary";
// A conflict that is no field: the same site created twice.
inline constexpr const char* kSameSite = "instalacja";
} // namespace field

// One change: made here (the outbox) or pulled from the server.
struct Change {
    std::string id;     // a uuid: the server applies each change once
    std::string kind;   // change::
    std::string entity; // the installation's or the version's uuid
    // A version: its installation's uuid when it was recorded (empty:
    // unassigned); an erasure: the installation erased.
    std::string installation;
    std::string field;
    std::string value;
    std::string hlc;     // the hybrid logical clock of the change
    std::string prevHlc; // the clock of the value it replaced here
    // As the server recorded them (pulled changes).
    std::string pcId;
    std::string login;
    std::string atUtc;
    long long seq = 0;
    // kind "version": the version itself, and the numbers in it.
    std::optional<Version> version;
};

// Which change set a field's present value, and who made it.
struct FieldClock {
    std::string hlc;
    std::string prevHlc;
    std::string who;
    std::string atUtc;
};

struct Conflict {
    Id id = 0;
    std::string installation; // its uuid
    std::string name;         // its name now
    std::string field;        // field::, or field::kSameSite
    std::string kept;
    std::string lost;
    std::string keptWho, keptAtUtc;
    std::string lostWho, lostAtUtc;
    std::string lostHlc;
    std::string other; // kSameSite: the other installation's uuid
};

class CompanyStorage {
  public:
    virtual ~CompanyStorage() = default;

    // The server this register is joined to (shown form), empty when none.
    virtual std::optional<std::string> meta(const std::string& name) = 0;
    virtual bool setMeta(const std::string& name, const std::string& value) = 0;
    virtual bool removeMeta(const std::string& name) = 0;
    // Makes the tables of the company log (nothing when they are there).
    virtual bool makeCompanyTables() = 0;
    virtual bool hasCompanyTables() = 0;

    virtual bool enqueue(const Change& c) = 0;
    // The oldest waiting changes, versions with their content.
    virtual bool outbox(std::size_t limit, std::vector<Change>& out) = 0;
    virtual bool sent(const std::vector<std::string>& ids) = 0;
    // How many changes wait, and how many of them are versions.
    virtual bool waiting(long long& changes, long long& versions) = 0;
    virtual bool clearOutbox() = 0;

    virtual bool clock(const std::string& entity, const std::string& field,
                       std::optional<FieldClock>& out) = 0;
    virtual bool setClock(const std::string& entity, const std::string& field,
                          const FieldClock& c) = 0;

    // 0 when none has this uuid.
    virtual std::optional<Id> installationByUuid(const std::string& uuid) = 0;
    virtual std::optional<Id> versionByUuid(const std::string& uuid) = 0;
    virtual bool setVersionKind(Id version, const std::string& kind) = 0;
    virtual bool setVersionSummary(Id version, const std::string& summary) = 0;
    // The versions made from version `basedOn` (its uuid): id and summary.
    virtual bool versionsBasedOn(const std::string& basedOn,
                                 std::vector<std::pair<Id, std::string>>& out) = 0;

    virtual bool addConflict(const Conflict& c) = 0;
    virtual bool conflicts(std::vector<Conflict>& out) = 0;
    virtual bool removeConflict(Id id) = 0;

    // The installation with this uuid, its versions, their numbers, and every
    // change, clock and conflict of them, gone; the freed space wiped.
    virtual bool erase(const std::string& installationUuid) = 0;
    // Gives the file back the space erased rows held (outside a transaction).
    virtual bool vacuum() = 0;
};

} // namespace trellikon::reg
