#include "register.h"

#include "cp1250.h"
#include "register_file.h"
#include "register_location.h"
#include "sha256.h"
#include "sqlite_storage.h"
#include "version_text.h"

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <set>
#include <tuple>

namespace trellikon::reg {

namespace {

std::string cleanName(const std::string& name) {
    const auto first = name.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return name.substr(first, name.find_last_not_of(" \t") - first + 1);
}

std::string shaOf(const Bytes& b) {
    return hex(sha256(b.data(), b.size()));
}

} // namespace

std::string newUuid() {
    thread_local std::mt19937_64 random = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    std::array<std::uint8_t, 16> b{};
    for (std::size_t i = 0; i < b.size(); i += 8) {
        const std::uint64_t r = random();
        for (std::size_t k = 0; k < 8; ++k)
            b[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40); // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80); // the RFC's variant
    const std::string h = hex(b.data(), b.size());
    return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) +
           "-" + h.substr(20);
}

// One change, one transaction. Its failure is worded (Register::fail) before
// the destructor rolls back.
class Register::Transaction : public StorageTransaction {
  public:
    using StorageTransaction::StorageTransaction;
};

Register::Register(std::unique_ptr<RegisterStorage> storage) : storage_(std::move(storage)) {}

Register::~Register() = default;

Result<std::optional<Version>> Register::checked(bool read, std::optional<StoredVersion>& stored,
                                                 const char* what) {
    Result<std::optional<Version>> r;
    if (!read) {
        r.failure = fail(what);
        return r;
    }
    if (!stored)
        return r;
    const Version& v = stored->version;
    if (!stored->whole || shaOf(v.bytes) != v.info.sha256) {
        r.failure = storage_->damagedVersion(v.info.id);
        return r;
    }
    r.value = v;
    return r;
}

Result<std::optional<Version>> Register::latestBefore(Id installation, Id before) {
    std::optional<StoredVersion> stored;
    const bool read = storage_->latestBefore(installation, before, stored);
    return checked(read, stored, "nie można odczytać wersji");
}

Result<std::optional<Version>> Register::latest(Id installation) {
    return latestBefore(installation, 0);
}

Result<std::optional<Version>> Register::version(Id id) {
    std::optional<StoredVersion> stored;
    const bool read = storage_->version(id, stored);
    return checked(read, stored, "nie można odczytać wersji");
}

std::string Register::summaryFor(Id installation, Id before, const Bytes& bytes, Failure& failure) {
    const auto previous = latestBefore(installation, before);
    if (!previous.ok()) {
        failure = previous.failure;
        return {};
    }
    return summaryLine(previous.value ? &previous.value->bytes : nullptr, bytes);
}

Result<Id> Register::insertVersion(const NewVersion& given, const std::string& summary) {
    Result<Id> r;
    NewVersion v = given;
    if (v.uuid.empty())
        v.uuid = newUuid();
    const auto id = storage_->insertVersion(v, summary, shaOf(v.bytes));
    if (!id) {
        r.failure = fail("nie można zapisać wersji");
        return r;
    }
    r.value = *id;
    if (!storage_->insertNumbers(r.value, phoneNumbers(v.bytes)))
        r.failure = fail("nie można zapisać numerów wersji");
    else if (v.pcId.empty() && !logVersion(v.uuid, v.installationId))
        r.failure = fail("nie można zapisać zmiany dla rejestru firmy");
    return r;
}

Result<Id> Register::record(const NewVersion& given, const std::string& note) {
    Result<Id> r;
    if (!writable()) {
        r.failure = storage_->refusal();
        return r;
    }
    NewVersion v = given;
    if (v.timeUtc.empty())
        v.timeUtc = nowUtc();
    if (!knownKind(v.kind) || !wellFormedTime(v.timeUtc)) {
        r.failure = registerFailure("nieznany rodzaj wersji „" + v.kind + "”");
        return r;
    }
    if (!validUtf8(v.port) || !validUtf8(v.programVersion)) {
        r.failure = registerFailure("nazwa portu nie jest poprawnym tekstem UTF-8");
        return r;
    }
    // A backup is on the disk at its commit, so that it survives a power cut
    // during the write that follows it; so is a write, whose record the next
    // write's look for changes on site relies on.
    Transaction t(*storage_, v.kind == kind::kBackup || v.kind == kind::kWrite ||
                                 v.kind == kind::kWriteInterrupted || v.kind == kind::kRestore);
    if (!t.begun()) {
        r.failure = fail("nie można zapisać wersji");
        return r;
    }
    std::string summary;
    if (v.installationId != 0) {
        const auto exists = storage_->installationExists(v.installationId);
        if (!exists || !*exists) {
            r.failure = registerFailure("w rejestrze nie ma instalacji " +
                                        std::to_string(v.installationId));
            return r;
        }
        summary = summaryFor(v.installationId, 0, v.bytes, r.failure);
        if (!r.ok())
            return r;
    }
    if (!note.empty())
        summary = note + (summary.empty() ? "" : "; " + summary);
    r = insertVersion(v, summary);
    // A version whose commit failed (a full disk) was never stored: no id
    // may name it.
    if (r.ok() && !t.commit())
        r.failure = fail("nie można zapisać wersji");
    if (!r.ok())
        r.value = 0;
    return r;
}

Result<Id> Register::createInstallation(const std::string& givenName, const std::string& notes,
                                        const std::string& devicePhone) {
    Result<Id> r;
    if (!writable()) {
        r.failure = storage_->refusal();
        return r;
    }
    const std::string name = cleanName(givenName);
    if (std::string e = installationProblem(name, notes, devicePhone); !e.empty()) {
        r.failure = registerFailure(std::move(e));
        return r;
    }
    Transaction t(*storage_);
    if (!t.begun()) {
        r.failure = fail("nie można dodać instalacji");
        return r;
    }
    if (const auto other = storage_->installationIdNamed(name); other && *other != 0) {
        r.failure = registerFailure("instalacja „" + name + "” już jest w rejestrze");
        return r;
    }
    const auto id = storage_->insertInstallation(name, notes, devicePhone, nowUtc(), newUuid());
    if (!id || !logInstallation(*id, name, notes, devicePhone, nullptr) || !t.commit()) {
        r.failure = fail("nie można dodać instalacji");
        return r;
    }
    r.value = *id;
    return r;
}

Status Register::updateInstallation(Id id, const std::string& givenName, const std::string& notes,
                                    const std::string& devicePhone) {
    if (!writable())
        return storage_->refusal();
    const std::string name = cleanName(givenName);
    if (std::string e = installationProblem(name, notes, devicePhone); !e.empty())
        return registerFailure(std::move(e));
    Transaction t(*storage_);
    if (const auto other = storage_->installationIdNamed(name, id); other && *other != 0)
        return registerFailure("instalacja „" + name + "” już jest w rejestrze");
    std::vector<Installation> before;
    if (!t.begun() || !storage_->installations(before, false, id))
        return fail("nie można zmienić instalacji");
    std::optional<int> changed;
    if (!(changed = storage_->updateInstallation(id, name, notes, devicePhone)) ||
        (!before.empty() && !logInstallation(id, name, notes, devicePhone, &before.front())) ||
        !t.commit())
        return fail("nie można zmienić instalacji");
    if (*changed == 0)
        return registerFailure("w rejestrze nie ma instalacji " + std::to_string(id));
    return {};
}

Status Register::deleteInstallation(Id id) {
    if (!writable())
        return storage_->refusal();
    Transaction t(*storage_);
    // In a company register the deletion is a mark: the server keeps the
    // installation and its versions, and every laptop removes it from view.
    if (!t.begun() ||
        !logField(change::kInstallation, installationUuid(id), field::kDeleted, "1") ||
        !storage_->removeInstallation(id) || !t.commit())
        return fail("nie można usunąć instalacji");
    return {};
}

Status Register::merge(Id from, Id into) {
    if (!writable())
        return storage_->refusal();
    Transaction t(*storage_);
    if (!t.begun())
        return fail("nie można połączyć instalacji");
    const std::string target = installationUuid(into);
    std::vector<VersionInfo> moving;
    HistoryFilter filter;
    filter.which = HistoryFilter::OfInstallation;
    filter.installationId = from;
    if (target.empty() || !storage_->history(filter, moving))
        return fail("nie można połączyć instalacji");
    for (const VersionInfo& v : moving)
        if (!storage_->setInstallation(v.id, into, v.summary) ||
            !logField(change::kVersionField, v.uuid, field::kInstallationOf, target))
            return fail("nie można połączyć instalacji");
    if (!logField(change::kInstallation, installationUuid(from), field::kDeleted, "1") ||
        !storage_->removeInstallation(from) || !t.commit())
        return fail("nie można połączyć instalacji");
    return {};
}

Result<std::optional<Installation>> Register::installationNamed(const std::string& name) {
    Result<std::optional<Installation>> r;
    const auto found = storage_->installationNamed(cleanName(name));
    if (!found)
        r.failure = fail("nie można odczytać instalacji");
    else if (found->id != 0)
        r.value = *found;
    return r;
}

Result<std::vector<Found>> Register::installations(const std::string& search) {
    Result<std::vector<Found>> r;
    // Installations are few (a thousand is a large register): their names and
    // notes are searched here, with Polish capitals folded, which SQL's lower()
    // does not do everywhere. A search counts the versions of the
    // installations it found only.
    const bool searching = !cleanName(search).empty();
    std::vector<Installation> rows;
    if (!storage_->installations(rows, !searching)) {
        r.failure = fail("nie można odczytać instalacji");
        return r;
    }
    std::vector<Found> all;
    all.reserve(rows.size());
    for (Installation& i : rows)
        all.push_back({std::move(i), {}});
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
        std::vector<NumberHit> hits;
        if (!storage_->numbersEndingWith(number, hits)) {
            r.failure = fail("nie można przeszukać numerów");
            return r;
        }
        std::set<std::tuple<Id, std::string, int, std::string>> seen;
        for (const NumberHit& n : hits) {
            if (!seen.insert({n.installationId, n.role, n.position, n.number}).second)
                continue;
            auto& lines = byNumber[n.installationId];
            if (lines.size() >= 20)
                continue;
            const auto known = roleFromKey(n.role);
            lines.push_back((known ? roleText(*known, n.position) : "numer") + ": " + n.number +
                            " (wersja " + std::to_string(n.versionId) + ")");
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
    if (!storage_->fillVisits(r.value)) {
        r.failure = fail("nie można odczytać instalacji");
        return r;
    }
    std::sort(r.value.begin(), r.value.end(), byLastVisit);
    return r;
}

Result<std::vector<VersionInfo>> Register::history(const HistoryFilter& filter) {
    Result<std::vector<VersionInfo>> r;
    if (!storage_->history(filter, r.value))
        r.failure = fail("nie można odczytać historii");
    return r;
}

Status Register::setWriteVerdict(Id versionId, const std::string& verdict) {
    if (!writable())
        return storage_->refusal();
    if (verdict != kind::kWriteVerified && verdict != kind::kWriteMismatch)
        return registerFailure("nieznany rodzaj wersji „" + verdict + "”");
    Transaction t(*storage_);
    if (!t.begun())
        return fail("nie można zapisać wyniku sprawdzenia zapisu");
    std::optional<StoredVersion> stored;
    if (!storage_->version(versionId, stored))
        return fail("nie można zapisać wyniku sprawdzenia zapisu");
    const std::string uuid = stored ? stored->version.info.uuid : std::string();
    const auto changed = storage_->setKind(versionId, kind::kWrite, verdict);
    if (!changed)
        return fail("nie można zapisać wyniku sprawdzenia zapisu");
    if (*changed == 1) {
        if (!logField(change::kVersionField, uuid, field::kKind, verdict) || !t.commit())
            return fail("nie można zapisać wyniku sprawdzenia zapisu");
        return {};
    }
    // A restore keeps its kind, which says what it was; a check that found
    // other bytes is said before its summary.
    const auto restore = storage_->prefixSummary(
        versionId, kind::kRestore,
        verdict == kind::kWriteMismatch ? std::string(kind::kWriteMismatch) + "; " : "");
    if (!restore)
        return fail("nie można zapisać wyniku sprawdzenia zapisu");
    if (*restore != 1)
        return registerFailure("w rejestrze nie ma zapisu bez sprawdzenia o numerze " +
                               std::to_string(versionId));
    std::optional<StoredVersion> after;
    if (!storage_->version(versionId, after) || !after ||
        !logField(change::kVersionField, uuid, field::kSummary, after->version.info.summary) ||
        !t.commit())
        return fail("nie można zapisać wyniku sprawdzenia zapisu");
    return {};
}

Status Register::assign(Id versionId, Id installation) {
    if (!writable())
        return storage_->refusal();
    Transaction t(*storage_);
    if (!t.begun())
        return fail("nie można przypisać wersji");
    const auto v = version(versionId);
    if (!v.ok())
        return v.failure;
    if (!v.value)
        return registerFailure("w rejestrze nie ma wersji " + std::to_string(versionId));
    const auto exists = storage_->installationExists(installation);
    if (!exists || !*exists)
        return registerFailure("w rejestrze nie ma instalacji " + std::to_string(installation));
    Failure failure;
    const std::string summary = summaryFor(installation, versionId, v.value->bytes, failure);
    if (!failure.ok())
        return failure;
    const std::string& uuid = v.value->info.uuid;
    if (!storage_->setInstallation(versionId, installation, summary) ||
        !logField(change::kVersionField, uuid, field::kInstallationOf,
                  installationUuid(installation)) ||
        !logField(change::kVersionField, uuid, field::kSummary, summary) || !t.commit())
        return fail("nie można przypisać wersji");
    return {};
}

Result<std::vector<Proposal>> Register::propose(const Bytes& bytes) {
    Result<std::vector<Proposal>> r;
    const std::vector<PhoneEntry> mine = phoneNumbers(bytes);
    // Candidates: installations any of whose versions hold one of the numbers
    // (not the SMS centre, which an operator's sites share).
    std::vector<Id> found;
    std::set<std::string> asked;
    for (const PhoneEntry& e : mine) {
        if (e.role == NumberRole::SmsCentre || !asked.insert(e.number).second)
            continue;
        if (!storage_->installationsWithNumber(e.number, found)) {
            r.failure = fail("nie można przeszukać numerów");
            return r;
        }
    }
    const std::set<Id> candidates(found.begin(), found.end());
    for (Id c : candidates) {
        const auto last = latest(c);
        if (!last.ok()) {
            r.failure = last.failure;
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

Result<std::string> Register::exportData(Id installation) {
    Result<std::string> r;
    ExportContent c;
    std::map<Id, std::size_t> index;
    std::vector<Installation> rows;
    if (!storage_->installations(rows, false, installation)) {
        r.failure = fail("nie można odczytać instalacji");
        return r;
    }
    if (installation != 0 && rows.empty()) {
        r.failure =
            registerFailure("w rejestrze nie ma instalacji " + std::to_string(installation));
        return r;
    }
    for (const Installation& i : rows) {
        c.installations.push_back({i.name, i.notes, i.devicePhone});
        index[i.id] = c.installations.size();
    }
    Failure damaged;
    const bool read = storage_->eachVersion(installation, [&](const StoredVersion& s) {
        const Version& v = s.version;
        if (!s.whole || shaOf(v.bytes) != v.info.sha256) {
            damaged = storage_->damagedVersion(v.info.id);
            return false;
        }
        const auto owner = index.find(v.info.installationId);
        c.versions.push_back({owner == index.end() ? 0 : owner->second, v.info.timeUtc, v.info.kind,
                              v.info.port, v.info.programVersion, v.info.summary, v.bytes});
        return true;
    });
    if (!damaged.ok()) {
        r.failure = damaged;
        return r;
    }
    if (!read) {
        r.failure = fail("nie można odczytać wersji");
        return r;
    }
    r.value = encodeExport(c);
    return r;
}

Result<ImportReport> Register::importData(std::string_view file) {
    ExportText bytes(file);
    return importFrom(bytes);
}

Result<ImportReport> Register::importFrom(ExportBytes& file) {
    Result<ImportReport> r;
    if (!writable()) {
        r.failure = storage_->refusal();
        return r;
    }
    const auto refuse = [&r](std::string why) {
        r.failure = registerFailure(std::move(why));
        return r;
    };
    // The whole file is read through and checked first, nothing of it kept
    // and nothing written; only a sound file is read again and taken in, and
    // its transaction commits only when that second reading ends sound too
    // (the file may have changed in between).
    if (std::string e = checkExport(file); !e.empty())
        return refuse(std::move(e));
    if (!file.rewind())
        return refuse("nie można ponownie odczytać pliku: " + file.failure());
    ExportReader in(file);
    if (std::string e = in.header(); !e.empty())
        return refuse(std::move(e));
    Transaction t(*storage_);
    if (!t.begun()) {
        r.failure = fail("nie można zaimportować");
        return r;
    }
    std::vector<Id> ids;
    for (std::uint32_t k = 0; k < in.installations(); ++k) {
        ExportInstallation i;
        if (!in.next(i))
            return refuse(in.refusal());
        const auto found = storage_->installationIdNamed(i.name);
        if (found && *found != 0) {
            ids.push_back(*found);
            continue;
        }
        const auto added = found ? storage_->insertInstallation(i.name, i.notes, i.devicePhone,
                                                                nowUtc(), newUuid())
                                 : std::nullopt;
        if (!added || !logInstallation(*added, i.name, i.notes, i.devicePhone, nullptr)) {
            r.failure = fail("nie można zaimportować");
            return r;
        }
        ids.push_back(*added);
        ++r.value.installationsAdded;
    }
    for (std::uint32_t k = 0; k < in.versions(); ++k) {
        ExportVersion e;
        if (!in.next(e))
            return refuse(in.refusal());
        NewVersion v;
        v.bytes = e.bytes;
        v.kind = e.kind;
        v.port = e.port;
        v.programVersion = e.programVersion;
        v.timeUtc = e.timeUtc;
        v.installationId = e.installation == 0 ? 0 : ids[e.installation - 1];
        const auto known = storage_->versionWithIdentity(shaOf(e.bytes), e.timeUtc, v.uuid);
        if (known && *known != 0) {
            ++r.value.versionsKnown;
            continue;
        }
        // The summary travels with the version: it was made against the same
        // installation's version before it, which travels too.
        const Result<Id> added = known ? insertVersion(v, e.summary) : Result<Id>{};
        if (!known || !added.ok()) {
            r.failure = added.ok() ? fail("nie można zaimportować") : added.failure;
            return r;
        }
        ++r.value.versionsAdded;
    }
    if (std::string e = in.finish(); !e.empty())
        return refuse(std::move(e));
    if (!t.commit())
        r.failure = fail("nie można zaimportować");
    return r;
}

Result<std::unique_ptr<Register>> openRegister(const std::string& location,
                                               const OpenOptions& options) {
    // A path (or ":memory:"): the register in one SQLite file on this computer.
    Result<std::unique_ptr<Register>> r;
    auto storage = SqliteStorage::open(location, r.failure, options);
    if (storage)
        r.value = std::make_unique<Register>(std::move(storage));
    return r;
}

} // namespace trellikon::reg
