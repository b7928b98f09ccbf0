#include "register_journal.h"

#include <utility>

namespace trellikon::reg {

Journal::Journal(Opener opener, std::string programVersion)
    : opener_(std::move(opener)), programVersion_(std::move(programVersion)) {}

Register* Journal::store() {
    if (store_ || !opener_)
        return store_.get();
    auto opened = opener_();
    store_ = std::move(opened.value);
    error_ = store_ ? Failure{} : opened.failure;
    if (!store_ && error_.ok())
        error_ = registerFailure("rejestru instalacji nie można otworzyć");
    return store_.get();
}

std::string Journal::takeNotice() {
    if (!store_ || noticeGiven_)
        return {};
    noticeGiven_ = true;
    return store_->notice();
}

void Journal::connected() {
    installation_ = kept_;
    deviceContent_.reset();
    backupVersion_ = 0;
    backupUuid_.clear();
}

Result<Id> Journal::add(const Bytes& bytes, const char* kind, const std::string& port,
                        Id installation, const std::string& note, const std::string& basedOn) {
    Register* r = store();
    if (!r)
        return {0, error_};
    lastUuid_ = newUuid();
    return r->record({bytes, kind, port, programVersion_, installation, {}, basedOn, lastUuid_},
                     note);
}

Result<Id> Journal::recordRead(const Bytes& bytes, const std::string& port) {
    auto stored = add(bytes, kind::kRead, port, kept_);
    deviceContent_.reset();
    if (stored.ok()) {
        deviceContent_ = bytes;
        backupVersion_ = stored.value;
        backupUuid_ = lastUuid_;
    }
    return stored;
}

Proposal Journal::proposal(const Bytes& bytes) {
    Register* r = store();
    if (!r)
        return {};
    if (installation_ != 0) {
        // Its name from its newest version: cheaper than listing them all.
        const auto newest = r->history({HistoryFilter::OfInstallation, installation_, 1});
        if (newest.ok() && !newest.value.empty())
            return {installation_, newest.value.front().installationName, 0};
    }
    const auto proposals = r->propose(bytes);
    if (!proposals.ok() || proposals.value.empty())
        return {};
    return proposals.value.front();
}

Status Journal::assign(Id version, Id installation) {
    Register* r = store();
    if (!r)
        return error_;
    Status done = r->assign(version, installation);
    if (done.ok())
        installation_ = installation;
    return done;
}

Result<Id> Journal::recordBackup(const Bytes& bytes, const std::string& port) {
    auto stored = add(bytes, kind::kBackup, port, installation_);
    deviceContent_.reset();
    if (stored.ok()) {
        deviceContent_ = bytes;
        backupVersion_ = stored.value;
        backupUuid_ = lastUuid_;
    }
    return stored;
}

Result<Id> Journal::recordWrite(const Bytes& bytes, const std::string& port, const char* what,
                                const std::string& note) {
    deviceContent_.reset();
    return add(bytes, what, port, installation_, note, backupUuid_);
}

void Journal::readComplete(const Bytes& bytes, const std::string& port) {
    lastRead_ = recordRead(bytes, port);
}

std::string Journal::readyForBackup() {
    Register* r = store();
    if (!r)
        return error_.message;
    if (!r->writable())
        return "rejestr jest uszkodzony i tylko do odczytu";
    return {};
}

std::string Journal::storeBackup(const Bytes& bytes, const std::string& port) {
    lastBackup_ = recordBackup(bytes, port);
    return lastBackup_.failure.message;
}

void Journal::writeComplete(const Bytes& bytes, const std::string& port) {
    lastWrite_ = {};
    lastWriteKind_ = kind::kWrite;
    if (!store())
        return;
    if (const Id version = std::exchange(restoring_, 0); version != 0) {
        // Recorded as a restore that names its version; a check that finds
        // other bytes is said in its summary (writeChecked).
        lastWriteKind_ = kind::kRestore;
        deviceContent_.reset();
        lastWrite_ = add(bytes, kind::kRestore, port, installation_,
                         "przywrócono wersję " + std::to_string(version), backupUuid_);
        return;
    }
    lastWrite_ = recordWrite(bytes, port, lastWriteKind_);
}

void Journal::writeChecked(Check check) {
    Register* r = store();
    if (!r || !lastWrite_.ok() || lastWrite_.value == 0)
        return;
    const char* verdict = check == Check::Same ? kind::kWriteVerified : kind::kWriteMismatch;
    if (const Status done = r->setWriteVerdict(lastWrite_.value, verdict); !done.ok()) {
        lastWrite_.failure = done.failure;
        return;
    }
    if (lastWriteKind_ != kind::kRestore)
        lastWriteKind_ = verdict;
}

void Journal::writeInterrupted(const Bytes& bytes, const std::string& port, int blocks) {
    lastWrite_ = {};
    lastWriteKind_ = kind::kWriteInterrupted;
    if (!store())
        return;
    lastWrite_ = recordWrite(bytes, port, lastWriteKind_,
                             "przerwany po bloku " + std::to_string(blocks) + " z " +
                                 std::to_string(layout::kBlockCount));
}

std::optional<Bytes> Journal::beforeInterrupted(const Version& latest) {
    Register* r = store();
    if (!r || latest.info.kind != kind::kWriteInterrupted || latest.info.installationId == 0)
        return std::nullopt;
    const auto two = r->history({HistoryFilter::OfInstallation, latest.info.installationId, 2});
    // Only while the interrupted write is the installation's newest: what
    // came after it is what the device held then.
    if (!two.ok() || two.value.size() < 2 || two.value.front().id != latest.info.id)
        return std::nullopt;
    const auto before = r->version(two.value[1].id);
    if (!before.ok() || !before.value)
        return std::nullopt;
    return before.value->bytes;
}

} // namespace trellikon::reg
