// The Register's side of the company log: every change a joined register
// makes is logged as it is made, in the same transaction, and later pushed to
// the server by company_sync.

#include "company_sync.h"
#include "register.h"

#include <chrono>
#include <cstdio>

namespace trellikon::reg {

CompanyStorage* Register::company() {
    CompanyStorage* c = storage_->company();
    if (!c || !c->hasCompanyTables())
        return nullptr;
    const auto server = c->meta(meta::kServer);
    return server && !server->empty() ? c : nullptr;
}

namespace {

std::int64_t systemNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

std::string Register::nextHlc() {
    CompanyStorage* c = storage_->company();
    const Hlc last = c ? Hlc::parse(c->meta(meta::kHlc).value_or("")) : Hlc{};
    const std::int64_t now = nowMs_ ? nowMs_() : systemNowMs();
    Hlc next = last.next(now, storage_->pcId());
    const std::string text = next.text();
    if (c)
        c->setMeta(meta::kHlc, text);
    return text;
}

void Register::observeHlc(const std::string& seen) {
    CompanyStorage* c = storage_->company();
    if (!c)
        return;
    const Hlc last = Hlc::parse(c->meta(meta::kHlc).value_or(""));
    const Hlc other = Hlc::parse(seen);
    if (other.ms > last.ms || (other.ms == last.ms && other.counter > last.counter))
        c->setMeta(meta::kHlc, Hlc{other.ms, other.counter, storage_->pcId()}.text());
}

std::string Register::installationUuid(Id id) {
    std::vector<Installation> found;
    if (id == 0 || !storage_->installations(found, false, id) || found.empty())
        return {};
    return found.front().uuid;
}

bool Register::logField(const char* kind, const std::string& entity, const std::string& field,
                        const std::string& value) {
    CompanyStorage* c = company();
    if (!c)
        return true;
    if (entity.empty())
        return false;
    std::optional<FieldClock> before;
    if (!c->clock(entity, field, before))
        return false;
    Change change;
    change.id = newUuid();
    change.kind = kind;
    change.entity = entity;
    change.field = field;
    change.value = value;
    change.hlc = nextHlc();
    change.prevHlc = before ? before->hlc : std::string();
    const FieldClock now{change.hlc, change.prevHlc, c->meta(meta::kLogin).value_or(""), nowUtc()};
    return c->enqueue(change) && c->setClock(entity, field, now);
}

bool Register::logVersion(const std::string& uuid, Id installation) {
    CompanyStorage* c = company();
    if (!c)
        return true;
    Change change;
    change.id = newUuid();
    change.kind = change::kVersion;
    change.entity = uuid;
    change.installation = installationUuid(installation);
    change.hlc = nextHlc();
    return c->enqueue(change);
}

bool Register::logInstallation(Id id, const std::string& name, const std::string& notes,
                               const std::string& devicePhone, const Installation* before) {
    if (!company())
        return true;
    const std::string uuid = installationUuid(id);
    // The name first: a laptop pulling a new installation learns its name
    // before anything else of it.
    return (before && before->name == name
                ? true
                : logField(change::kInstallation, uuid, field::kName, name)) &&
           (before && before->notes == notes
                ? true
                : logField(change::kInstallation, uuid, field::kNotes, notes)) &&
           (before && before->devicePhone == devicePhone
                ? true
                : logField(change::kInstallation, uuid, field::kDevicePhone, devicePhone));
}

Status Register::setInstallationField(Id id, const std::string& field, const std::string& value) {
    std::vector<Installation> found;
    if (!storage_->installations(found, false, id))
        return fail("nie można zmienić instalacji");
    if (found.empty())
        return registerFailure("w rejestrze nie ma instalacji " + std::to_string(id));
    Installation i = found.front();
    if (field == field::kName)
        i.name = value;
    else if (field == field::kNotes)
        i.notes = value;
    else if (field == field::kDevicePhone)
        i.devicePhone = value;
    if (std::string e = installationProblem(i.name, i.notes, i.devicePhone); !e.empty())
        return registerFailure(std::move(e));
    if (!storage_->updateInstallation(id, i.name, i.notes, i.devicePhone))
        return fail("nie można zmienić instalacji");
    return {};
}

} // namespace trellikon::reg
