#include "company_sync.h"

#include "cp1250.h"
#include "file_system.h"
#include "register_location.h"
#include "sha256.h"
#include "version_text.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <utility>

namespace trellikon::reg {

// --- the hybrid logical clock ---

Hlc Hlc::parse(const std::string& text) {
    Hlc h;
    long long ms = 0;
    int counter = 0, used = 0;
    if (std::sscanf(text.c_str(), "%13lld-%5d-%n", &ms, &counter, &used) == 2 && used > 0) {
        h.ms = ms;
        h.counter = counter;
        h.pc = text.substr(static_cast<std::size_t>(used));
    }
    return h;
}

std::string Hlc::text() const {
    char head[32];
    std::snprintf(head, sizeof head, "%013lld-%05d-", static_cast<long long>(ms), counter);
    return head + pc;
}

Hlc Hlc::next(std::int64_t nowMs, const std::string& pcId) const {
    if (nowMs > ms)
        return {nowMs, 0, pcId};
    return {ms, counter + 1, pcId};
}

// --- where the address is kept ---

namespace {

std::string addressFile() {
    return userConfigFile("rejestr-firmy.txt");
}

} // namespace

std::string companyAddress() {
    const std::string file = addressFile();
    if (file.empty())
        return {};
    const FileRead read = readRegularFile(file, 4096);
    if (!read.ok())
        return {};
    std::string uri(read.bytes.begin(), read.bytes.end());
    while (!uri.empty() && (uri.back() == '\n' || uri.back() == '\r' || uri.back() == ' '))
        uri.pop_back();
    return uri;
}

Failure setCompanyAddress(const std::string& uri) {
    const std::string file = addressFile();
    if (uri.empty()) {
        removeFile(file);
        return {};
    }
    createFoldersFor(file);
    const std::string text = uri + "\n";
    return saveFileAtomically(file, reinterpret_cast<const std::uint8_t*>(text.data()),
                              text.size());
}

// --- joining ---

namespace {

using Transaction = StorageTransaction;

} // namespace

Status joinCompany(Register& r, const std::string& server, const std::string& login) {
    if (!r.writable())
        return r.storage().refusal();
    CompanyStorage* c = r.storage().company();
    if (!c)
        return registerFailure("ten rejestr nie może być połączony z rejestrem firmy");
    Transaction t(r.storage());
    if (!t.begun() || !c->makeCompanyTables())
        return r.storage().failure("nie można połączyć rejestru z rejestrem firmy");
    const auto before = c->meta(meta::kServer);
    if (!before)
        return r.storage().failure("nie można połączyć rejestru z rejestrem firmy");
    if (*before == server) { // joined already: only who pushes may change
        if (!c->setMeta(meta::kLogin, login) || !t.commit())
            return r.storage().failure("nie można połączyć rejestru z rejestrem firmy");
        return {};
    }
    if (!c->clearOutbox() || !c->setMeta(meta::kServer, server) ||
        !c->setMeta(meta::kLogin, login) || !c->setMeta(meta::kAfter, "0") ||
        !c->removeMeta(meta::kSynced))
        return r.storage().failure("nie można połączyć rejestru z rejestrem firmy");
    // Everything already here goes to the server at the first sync.
    std::vector<Installation> all;
    if (!r.storage().installations(all, false))
        return r.storage().failure("nie można połączyć rejestru z rejestrem firmy");
    for (const Installation& i : all)
        for (const auto& [name, value] :
             {std::pair{field::kName, i.name}, std::pair{field::kNotes, i.notes},
              std::pair{field::kDevicePhone, i.devicePhone}}) {
            // A value joined once before goes with the clock it had then:
            // joining again never makes it newer than what others did since.
            std::optional<FieldClock> known;
            if (!c->clock(i.uuid, name, known))
                return r.storage().failure("nie można połączyć rejestru z rejestrem firmy");
            Change ch;
            ch.id = newUuid();
            ch.kind = change::kInstallation;
            ch.entity = i.uuid;
            ch.field = name;
            ch.value = value;
            if (known) {
                ch.hlc = known->hlc;
                ch.prevHlc = known->prevHlc;
            }
            if (!(known ? c->enqueue(ch) : r.logField(change::kInstallation, i.uuid, name, value)))
                return r.storage().failure("nie można połączyć rejestru z rejestrem firmy");
        }
    bool logged = true;
    std::map<Id, std::string> uuids;
    for (const Installation& i : all)
        uuids[i.id] = i.uuid;
    if (!r.storage().eachVersion(0,
                                 [&](const StoredVersion& v) {
                                     Change ch;
                                     ch.id = newUuid();
                                     ch.kind = change::kVersion;
                                     ch.entity = v.version.info.uuid;
                                     ch.installation = uuids[v.version.info.installationId];
                                     ch.hlc = r.nextHlc();
                                     logged = c->enqueue(ch);
                                     return logged;
                                 }) ||
        !logged || !t.commit())
        return r.storage().failure("nie można połączyć rejestru z rejestrem firmy");
    return {};
}

Status leaveCompany(Register& r) {
    CompanyStorage* c = r.company();
    if (!c)
        return {};
    Transaction t(r.storage());
    if (!t.begun() || !c->clearOutbox() || !c->removeMeta(meta::kServer) ||
        !c->removeMeta(meta::kAfter) || !c->removeMeta(meta::kSynced) || !t.commit())
        return r.storage().failure("nie można odłączyć rejestru od rejestru firmy");
    return {};
}

// --- pushing ---

namespace {

void jsonText(std::string& out, const std::string& s) {
    out += '"';
    for (const char ch : s) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += ch;
        }
    }
    out += '"';
}

void jsonField(std::string& out, const char* name, const std::string& value, bool nullWhenEmpty) {
    out += ",\"";
    out += name;
    out += "\":";
    if (nullWhenEmpty && value.empty())
        out += "null";
    else
        jsonText(out, value);
}

bool bytesOf(const std::string& hex, Bytes& out) {
    if (hex.size() != out.size() * 2)
        return false;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int hi = nibble(hex[2 * i]), lo = nibble(hex[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return true;
}

std::string batchJson(const std::vector<Change>& changes) {
    std::string out = "[";
    for (const Change& c : changes) {
        if (out.size() > 1)
            out += ',';
        out += "{\"id\":";
        jsonText(out, c.id);
        jsonField(out, "kind", c.kind, false);
        jsonField(out, "entity", c.entity, false);
        jsonField(out, "installation", c.installation, true);
        jsonField(out, "field", c.field, true);
        jsonField(out, "value", c.value, c.kind == change::kVersion);
        jsonField(out, "hlc", c.hlc, false);
        jsonField(out, "prev", c.prevHlc, true);
        if (c.version) {
            const VersionInfo& i = c.version->info;
            jsonField(out, "recorded_at", i.timeUtc, false);
            jsonField(out, "vkind", i.kind, false);
            jsonField(out, "port", i.port, false);
            jsonField(out, "program_version", i.programVersion, false);
            jsonField(out, "summary", i.summary, false);
            jsonField(out, "sha256", i.sha256, false);
            jsonField(out, "content", hex(c.version->bytes.data(), c.version->bytes.size()), false);
            jsonField(out, "based_on", i.basedOn, true);
            out += ",\"numbers\":[";
            bool first = true;
            for (const PhoneEntry& e : phoneNumbers(c.version->bytes)) {
                out += first ? "{\"role\":" : ",{\"role\":";
                first = false;
                jsonText(out, roleKey(e.role));
                out += ",\"position\":" + std::to_string(e.position) + ",\"number\":";
                jsonText(out, e.number);
                out += '}';
            }
            out += ']';
        }
        out += '}';
    }
    return out + "]";
}

SyncReport failed(SyncReport report, PgError::Kind kind, std::string message) {
    report.error = {kind, std::move(message)};
    return report;
}

bool push(Register& r, CompanyStorage& c, PgLink& link, const SyncOptions& options,
          SyncReport& report, int& batchNo) {
    for (;;) {
        std::vector<Change> batch;
        if (!c.outbox(options.pushBatch, batch)) {
            report.error = {PgError::Failed,
                            r.storage().failure("nie można odczytać zmian do wysłania").message};
            return false;
        }
        if (batch.empty())
            return true;
        // A version deleted here before it went has nothing to send.
        std::vector<std::string> gone;
        std::erase_if(batch, [&](const Change& ch) {
            const bool missing = ch.kind == change::kVersion && !ch.version;
            if (missing)
                gone.push_back(ch.id);
            return missing;
        });
        if (options.step)
            options.step("push", batchNo);
        ++batchNo;
        PgLink::Rows rows;
        if (!batch.empty() && !link.exec("SELECT trellikon.sync_push($1, $2::jsonb)",
                                         {r.storage().pcId(), batchJson(batch)}, &rows)) {
            report.error = link.error();
            return false;
        }
        report.pushed += std::atoi(rows.cell(0, 0).c_str());
        // The server has them: a cut from here on only sends them again,
        // and the server skips what it has.
        std::vector<std::string> ids = std::move(gone);
        for (const Change& ch : batch)
            ids.push_back(ch.id);
        Transaction t(r.storage());
        if (!t.begun() || !c.sent(ids) || !t.commit()) {
            report.error = {PgError::Failed,
                            r.storage().failure("nie można zapisać wysłanych zmian").message};
            return false;
        }
    }
}

// --- pulling ---

// The value a field has here now.
std::string presentValue(const Installation& i, const std::string& field) {
    if (field == field::kName)
        return i.name;
    if (field == field::kNotes)
        return i.notes;
    if (field == field::kDevicePhone)
        return i.devicePhone;
    return {};
}

class Puller {
  public:
    Puller(Register& r, CompanyStorage& c, SyncReport& report)
        : r_(r), s_(r.storage()), c_(c), report_(report) {}

    // Takes in one change; false when the register could not.
    bool take(const Change& ch) {
        if (ch.kind == change::kErasure)
            return erase(ch);
        if (!ch.pcId.empty() && ch.pcId == s_.pcId())
            return true; // made here: the register has it already
        r_.observeHlc(ch.hlc);
        // What another computer sent is checked as typed text is: a value
        // this program would refuse is passed over, never stored, and never
        // stops the sync of everything after it.
        if (!acceptable(ch))
            return true;
        if (ch.kind == change::kInstallation)
            return installationField(ch);
        if (ch.kind == change::kVersion)
            return version(ch);
        if (ch.kind == change::kVersionField)
            return versionField(ch);
        return true; // a kind a newer program makes: nothing for this one
    }

    std::set<std::string> created; // installations first seen in this sync
    bool erased = false;

  private:
    static bool acceptable(const Change& ch) {
        if (ch.kind == change::kInstallation) {
            if (ch.field == field::kName)
                return installationProblem(ch.value, "", "").empty();
            if (ch.field == field::kNotes)
                return installationProblem("x", ch.value, "").empty();
            if (ch.field == field::kDevicePhone)
                return installationProblem("x", "", ch.value).empty();
            return true;
        }
        if (ch.kind == change::kVersion && ch.version) {
            const VersionInfo& i = ch.version->info;
            return knownKind(i.kind) && wellFormedTime(i.timeUtc) && validUtf8(i.port) &&
                   validUtf8(i.programVersion) && validUtf8(i.summary) && validUtf8(i.basedOn);
        }
        if (ch.kind == change::kVersionField) {
            if (ch.field == field::kKind)
                return knownKind(ch.value);
            return validUtf8(ch.value);
        }
        return true;
    }

    bool erase(const Change& ch) {
        const auto id = c_.installationByUuid(ch.entity);
        if (!id || !c_.erase(ch.entity))
            return false;
        if (*id != 0)
            ++report_.erased;
        erased = true;
        created.erase(ch.entity);
        return true;
    }

    // A name no other installation here has: `wanted`, or with " (2)"...
    std::optional<std::string> freeName(const std::string& wanted, Id self) {
        for (int n = 1;; ++n) {
            std::string name = n == 1 ? wanted : wanted + " (" + std::to_string(n) + ")";
            const auto taken = s_.installationIdNamed(name, self);
            if (!taken)
                return std::nullopt;
            if (*taken == 0)
                return name;
        }
    }

    // The name installation `self` (uuid `selfUuid`; 0 when not made yet)
    // takes when it is to be called `wanted`. Two installations with one
    // name: the one with the greater uuid takes a number, on every laptop
    // alike, renamed as a change of its own; the two are offered for merging.
    std::optional<std::string> settleName(Id self, const std::string& selfUuid,
                                          const std::string& wanted) {
        const auto other = s_.installationIdNamed(wanted, self);
        if (!other)
            return std::nullopt;
        if (*other == 0)
            return wanted;
        std::vector<Installation> rows;
        if (!s_.installations(rows, false, *other) || rows.empty())
            return std::nullopt;
        const Installation& o = rows.front();
        if (selfUuid > o.uuid) {
            const auto numbered = freeName(wanted, self);
            if (!numbered || !offerMerge(o.uuid, o.name, selfUuid, *numbered))
                return std::nullopt;
            pendingRename_ = *numbered;
            return numbered;
        }
        const auto numbered = freeName(wanted, 0);
        if (!numbered || !r_.setInstallationField(*other, field::kName, *numbered).ok() ||
            !r_.logField(change::kInstallation, o.uuid, field::kName, *numbered) ||
            !offerMerge(selfUuid, wanted, o.uuid, *numbered))
            return std::nullopt;
        return wanted;
    }

    // After the pulled change's clock is set: the number it was given here
    // goes to everyone as a rename.
    bool logPendingRename(const std::string& uuid) {
        if (pendingRename_.empty())
            return true;
        const std::string name = std::exchange(pendingRename_, {});
        return r_.logField(change::kInstallation, uuid, field::kName, name);
    }

    bool offerMerge(const std::string& keptUuid, const std::string& keptName,
                    const std::string& otherUuid, const std::string& otherName) {
        Conflict k;
        k.installation = keptUuid;
        k.field = field::kSameSite;
        k.kept = keptName;
        k.lost = otherName;
        k.other = otherUuid;
        k.lostHlc = otherUuid;
        std::vector<Conflict> known;
        if (!c_.conflicts(known))
            return false;
        for (const Conflict& x : known)
            if (x.field == field::kSameSite &&
                ((x.installation == keptUuid && x.other == otherUuid) ||
                 (x.installation == otherUuid && x.other == keptUuid)))
                return true;
        ++report_.conflicts;
        return c_.addConflict(k);
    }

    bool installationField(const Change& ch) {
        const std::string& field = ch.field;
        auto id = c_.installationByUuid(ch.entity);
        if (!id)
            return false;
        if (*id == 0) {
            if (field == field::kDeleted)
                return setClock(ch);
            // A new installation: its name normally comes first.
            // Deleted here, or erased: not brought back by a later change.
            std::optional<FieldClock> gone;
            if (!c_.clock(ch.entity, field::kDeleted, gone))
                return false;
            if (gone)
                return true;
            const std::string wanted =
                field == field::kName ? ch.value : "instalacja " + ch.entity.substr(0, 8);
            const auto name =
                field == field::kName ? settleName(0, ch.entity, wanted) : freeName(wanted, 0);
            if (!name)
                return false;
            const auto added = s_.insertInstallation(*name, "", "", ch.atUtc, ch.entity);
            if (!added)
                return false;
            created.insert(ch.entity);
            if (field != field::kName)
                return applyField(*added, ch) && setClock(ch);
            return setClock(ch) && logPendingRename(ch.entity);
        }
        std::optional<FieldClock> here;
        if (!c_.clock(ch.entity, field, here))
            return false;
        std::vector<Installation> rows;
        if (!s_.installations(rows, false, *id) || rows.empty())
            return false;
        const std::string present = presentValue(rows.front(), field);
        if (!here || ch.hlc > here->hlc) {
            if (here && here->hlc != ch.prevHlc && present != ch.value &&
                field != field::kDeleted &&
                !conflict(rows.front(), field, ch.value, ch.login, ch.atUtc, present, *here))
                return false;
            return applyField(*id, ch) && setClock(ch) && logPendingRename(ch.entity);
        }
        if (ch.hlc < here->hlc && here->prevHlc != ch.hlc && present != ch.value &&
            field != field::kDeleted) {
            const FieldClock lost{ch.hlc, ch.prevHlc, ch.login, ch.atUtc};
            return conflict(rows.front(), field, present, here->who, here->atUtc, ch.value, lost);
        }
        return true;
    }

    bool conflict(const Installation& i, const std::string& field, const std::string& kept,
                  const std::string& keptWho, const std::string& keptAt, const std::string& lost,
                  const FieldClock& lostClock) {
        Conflict k;
        k.installation = i.uuid;
        k.field = field;
        k.kept = kept;
        k.lost = lost;
        k.keptWho = keptWho;
        k.keptAtUtc = keptAt;
        k.lostWho = lostClock.who;
        k.lostAtUtc = lostClock.atUtc;
        k.lostHlc = lostClock.hlc;
        ++report_.conflicts;
        return c_.addConflict(k);
    }

    bool applyField(Id id, const Change& ch) {
        if (ch.field == field::kDeleted) {
            if (ch.value != "1")
                return true; // brought back: its rows come with the next full join
            created.erase(ch.entity);
            return s_.removeInstallation(id);
        }
        if (ch.field == field::kName) {
            const auto name = settleName(id, ch.entity, ch.value);
            return name && r_.setInstallationField(id, field::kName, *name).ok();
        }
        if (ch.field != field::kNotes && ch.field != field::kDevicePhone)
            return true;
        return r_.setInstallationField(id, ch.field, ch.value).ok();
    }

    bool setClock(const Change& ch) {
        return c_.setClock(ch.entity, ch.field, FieldClock{ch.hlc, ch.prevHlc, ch.login, ch.atUtc});
    }

    bool version(const Change& ch) {
        const auto known = c_.versionByUuid(ch.entity);
        if (!known)
            return false;
        if (*known != 0 || !ch.version)
            return true;
        NewVersion v;
        v.bytes = ch.version->bytes;
        const VersionInfo& i = ch.version->info;
        v.kind = i.kind;
        v.port = i.port;
        v.programVersion = i.programVersion;
        v.timeUtc = i.timeUtc;
        v.basedOn = i.basedOn;
        v.uuid = ch.entity;
        v.pcId = ch.pcId;
        const auto owner =
            ch.installation.empty() ? std::optional<Id>(0) : c_.installationByUuid(ch.installation);
        if (!owner)
            return false;
        v.installationId = *owner;
        if (!r_.takeVersion(v, i.summary).ok())
            return false;
        return v.basedOn.empty() || markParallelWrites(v.basedOn);
    }

    // Two writes made from one version on two computers: both marked in the
    // history, on every computer that has both.
    bool markParallelWrites(const std::string& basedOn) {
        std::vector<std::pair<Id, std::string>> siblings;
        if (!c_.versionsBasedOn(basedOn, siblings))
            return false;
        if (siblings.size() < 2)
            return true;
        for (const auto& [id, summary] : siblings)
            if (summary.rfind(kParallelWrite, 0) != 0 &&
                !c_.setVersionSummary(id, kParallelWrite + summary))
                return false;
        return true;
    }

    bool versionField(const Change& ch) {
        const auto id = c_.versionByUuid(ch.entity);
        if (!id)
            return false;
        if (*id == 0)
            return true;
        std::optional<FieldClock> here;
        if (!c_.clock(ch.entity, ch.field, here))
            return false;
        if (here && ch.hlc <= here->hlc)
            return true;
        bool done = true;
        if (ch.field == field::kKind) {
            done = c_.setVersionKind(*id, ch.value);
        } else if (ch.field == field::kSummary) {
            done = c_.setVersionSummary(*id, ch.value);
        } else if (ch.field == field::kInstallationOf) {
            std::optional<StoredVersion> v;
            const auto owner =
                ch.value.empty() ? std::optional<Id>(0) : c_.installationByUuid(ch.value);
            done = owner && s_.version(*id, v) && v &&
                   s_.setInstallation(*id, *owner, v->version.info.summary);
        }
        return done && setClock(ch);
    }

    Register& r_;
    RegisterStorage& s_;
    CompanyStorage& c_;
    SyncReport& report_;
    std::string pendingRename_;
};

// A change as sync_pull's row gives it.
std::optional<Change> pulledChange(const PgLink::Rows& rows, std::size_t i) {
    Change c;
    c.seq = std::atoll(rows.cell(i, 0).c_str());
    c.kind = rows.cell(i, 1);
    c.id = rows.cell(i, 2);
    c.entity = rows.cell(i, 3);
    c.installation = rows.cell(i, 4);
    c.field = rows.cell(i, 5);
    c.value = rows.cell(i, 6);
    c.hlc = rows.cell(i, 7);
    c.prevHlc = rows.cell(i, 8);
    c.pcId = rows.cell(i, 9);
    c.login = rows.cell(i, 10);
    c.atUtc = rows.cell(i, 11);
    if (c.kind == change::kVersion && rows.rows[i][18]) {
        Version v;
        v.info.timeUtc = rows.cell(i, 12);
        v.info.kind = rows.cell(i, 13);
        v.info.port = rows.cell(i, 14);
        v.info.programVersion = rows.cell(i, 15);
        v.info.summary = rows.cell(i, 16);
        v.info.sha256 = rows.cell(i, 17);
        v.info.basedOn = rows.cell(i, 19);
        // A version whose bytes do not match its SHA-256 is never taken.
        if (!bytesOf(rows.cell(i, 18), v.bytes) ||
            hex(sha256(v.bytes.data(), v.bytes.size())) != v.info.sha256)
            return std::nullopt;
        c.version = std::move(v);
    }
    return c;
}

// Installations first seen in this sync that look like one already here:
// the same device number, or the same user numbers in their latest versions.
bool offerSameSites(Register& r, CompanyStorage& c, const std::set<std::string>& created,
                    SyncReport& report) {
    if (created.empty())
        return true;
    std::vector<Installation> all;
    if (!r.storage().installations(all, false))
        return false;
    // Each installation's marks, read once: its device number and its users.
    std::map<std::string, std::vector<const Installation*>> byMark;
    for (const Installation& i : all) {
        if (!i.devicePhone.empty())
            byMark["tel:" + i.devicePhone].push_back(&i);
        std::string users;
        const auto latest = r.latest(i.id);
        if (latest.ok() && latest.value)
            for (const PhoneEntry& e : phoneNumbers(latest.value->bytes))
                if (e.role == NumberRole::User)
                    users += std::to_string(e.position) + ":" + e.number + ",";
        if (!users.empty())
            byMark["users:" + users].push_back(&i);
    }
    std::vector<Conflict> known;
    if (!c.conflicts(known))
        return false;
    for (const auto& [mark, sites] : byMark) {
        (void)mark;
        for (const Installation* n : sites) {
            if (!created.count(n->uuid))
                continue;
            for (const Installation* o : sites) {
                if (o == n || created.count(o->uuid))
                    continue;
                const bool offered =
                    std::any_of(known.begin(), known.end(), [&](const Conflict& x) {
                        return x.field == field::kSameSite &&
                               ((x.installation == o->uuid && x.other == n->uuid) ||
                                (x.installation == n->uuid && x.other == o->uuid));
                    });
                if (offered)
                    continue;
                Conflict k;
                k.installation = o->uuid;
                k.field = field::kSameSite;
                k.kept = o->name;
                k.lost = n->name;
                k.other = n->uuid;
                k.lostHlc = n->uuid;
                if (!c.addConflict(k))
                    return false;
                known.push_back(k);
                ++report.conflicts;
            }
        }
    }
    return true;
}

bool pull(Register& r, CompanyStorage& c, PgLink& link, const SyncOptions& options,
          SyncReport& report, std::set<std::string>& created) {
    for (int page = 0;; ++page) {
        const auto after = c.meta(meta::kAfter);
        if (!after) {
            report.error = {PgError::Failed,
                            r.storage().failure("nie można odczytać rejestru").message};
            return false;
        }
        if (options.step)
            options.step("pull", page);
        PgLink::Rows rows;
        if (!link.exec("SELECT * FROM trellikon.sync_pull($1::bigint, $2::integer)",
                       {after->empty() ? "0" : *after, std::to_string(options.pullPage)}, &rows)) {
            report.error = link.error();
            return false;
        }
        if (rows.rows.empty())
            return true;
        Transaction t(r.storage());
        if (!t.begun()) {
            report.error = {PgError::Failed,
                            r.storage().failure("nie można zapisać zmian z serwera").message};
            return false;
        }
        Puller puller(r, c, report);
        long long last = 0;
        for (std::size_t i = 0; i < rows.rows.size(); ++i) {
            const auto ch = pulledChange(rows, i);
            if (!ch) {
                report.error = {PgError::Failed,
                                "serwer rejestru firmy przysłał wersję z błędną sumą SHA-256"};
                return false;
            }
            if (!puller.take(*ch)) {
                report.error = {PgError::Failed,
                                r.storage().failure("nie można zapisać zmian z serwera").message};
                return false;
            }
            last = ch->seq;
            ++report.pulled;
        }
        if (!c.setMeta(meta::kAfter, std::to_string(last)) || !t.commit()) {
            report.error = {PgError::Failed,
                            r.storage().failure("nie można zapisać zmian z serwera").message};
            return false;
        }
        created.insert(puller.created.begin(), puller.created.end());
        // Erased rows leave no trace in the file's free pages either.
        if (puller.erased)
            c.vacuum();
        if (static_cast<int>(rows.rows.size()) < options.pullPage)
            return true;
    }
}

} // namespace

SyncReport synchronise(Register& r, PgLink& link, const SyncOptions& options) {
    SyncReport report;
    CompanyStorage* c = r.company();
    if (!c)
        return failed(report, PgError::Refused, "rejestr nie jest połączony z rejestrem firmy");
    if (!r.writable())
        return failed(report, PgError::Refused, r.storage().refusal().message);
    PgLink::Rows info;
    if (!link.exec("SELECT schema, oldest_client, role FROM trellikon.server_info()", {}, &info)) {
        report.error = link.error();
        return report;
    }
    const int schema = std::atoi(info.cell(0, 0).c_str());
    const int oldest = std::atoi(info.cell(0, 1).c_str());
    if (oldest > kCompanySchema)
        return failed(report, PgError::Refused,
                      "serwer rejestru firmy wymaga nowszej wersji programu: zaktualizuj program");
    if (schema > kCompanySchema)
        report.notice = "serwer rejestru firmy ma nowszy schemat (" + std::to_string(schema) +
                        "); synchronizacja działa, ale zaktualizuj program";
    // A login that may only read pulls, and its changes stay waiting.
    const bool mayPush = info.cell(0, 2) == "technik" || info.cell(0, 2) == "admin";
    int batch = 0;
    std::set<std::string> created;
    if (mayPush && !push(r, *c, link, options, report, batch))
        return report;
    if (!pull(r, *c, link, options, report, created))
        return report;
    if (!created.empty()) {
        Transaction t(r.storage());
        if (!t.begun() || !offerSameSites(r, *c, created, report) || !t.commit()) {
            report.error = {PgError::Failed,
                            r.storage().failure("nie można zapisać zmian z serwera").message};
            return report;
        }
    }
    // A name taken twice was settled by a rename of ours: it goes now.
    if (mayPush && !push(r, *c, link, options, report, batch))
        return report;
    Transaction t(r.storage());
    if (!t.begun() || !c->setMeta(meta::kSynced, nowUtc()) || !t.commit())
        report.error = {PgError::Failed,
                        r.storage().failure("nie można zapisać stanu synchronizacji").message};
    return report;
}

// --- state and conflicts ---

Result<CompanyState> companyState(Register& r) {
    Result<CompanyState> out;
    CompanyStorage* c = r.company();
    if (!c)
        return out;
    out.value.joined = true;
    out.value.server = c->meta(meta::kServer).value_or("");
    out.value.syncedUtc = c->meta(meta::kSynced).value_or("");
    if (!c->waiting(out.value.waitingChanges, out.value.waitingVersions))
        out.failure = r.storage().failure("nie można odczytać stanu rejestru firmy");
    return out;
}

Result<std::vector<Conflict>> companyConflicts(Register& r) {
    Result<std::vector<Conflict>> out;
    CompanyStorage* c = r.company();
    if (c && !c->conflicts(out.value))
        out.failure = r.storage().failure("nie można odczytać konfliktów");
    return out;
}

Status resolveConflict(Register& r, Id id, bool keepLost) {
    CompanyStorage* c = r.company();
    if (!c)
        return registerFailure("rejestr nie jest połączony z rejestrem firmy");
    std::vector<Conflict> all;
    if (!c->conflicts(all))
        return r.storage().failure("nie można odczytać konfliktów");
    const auto k =
        std::find_if(all.begin(), all.end(), [&](const Conflict& x) { return x.id == id; });
    if (k == all.end())
        return registerFailure("nie ma konfliktu o numerze " + std::to_string(id));
    const auto installation = c->installationByUuid(k->installation);
    if (!installation)
        return r.storage().failure("nie można odczytać instalacji");
    if (k->field == field::kSameSite) {
        const auto other = c->installationByUuid(k->other);
        if (!other)
            return r.storage().failure("nie można odczytać instalacji");
        if (!keepLost && *installation != 0 && *other != 0)
            if (Status s = r.merge(*other, *installation); !s.ok())
                return s;
    } else if (keepLost && *installation != 0) {
        std::vector<Installation> rows;
        if (!r.storage().installations(rows, false, *installation) || rows.empty())
            return r.storage().failure("nie można odczytać instalacji");
        Installation i = rows.front();
        if (k->field == field::kName)
            i.name = k->lost;
        else if (k->field == field::kNotes)
            i.notes = k->lost;
        else if (k->field == field::kDevicePhone)
            i.devicePhone = k->lost;
        if (Status s = r.updateInstallation(i.id, i.name, i.notes, i.devicePhone); !s.ok())
            return s;
    }
    Transaction t(r.storage());
    if (!t.begun() || !c->removeConflict(id) || !t.commit())
        return r.storage().failure("nie można zapisać rozstrzygnięcia");
    return {};
}

} // namespace trellikon::reg
