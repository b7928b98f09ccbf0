#include "write_decision.h"

#include <utility>

namespace trellikon::checked {

WriteDecision::WriteDecision(reg::Journal* journal, WriteRequest request)
    : journal_(journal && journal->enabled() ? journal : nullptr), request_(std::move(request)) {
    // A restore goes whole.
    if (request_.restoring)
        request_.parts = kAllParts;
}

// A register found damaged is only read: the write goes on with a file for
// its backup, and asks nothing the register would answer.
reg::Register* WriteDecision::usableStore() {
    reg::Register* store = journal_ ? journal_->store() : nullptr;
    return store && store->writable() ? store : nullptr;
}

const Bytes& WriteDecision::sending() const {
    return request_.sending ? *request_.sending : request_.settings;
}

Failure WriteDecision::begin() {
    latest_.reset();
    reg::Register* store = usableStore();
    if (!store || journal_->installation() == 0)
        return {};
    auto latest = store->latest(journal_->installation());
    if (!latest.ok())
        return latest.failure;
    latest_ = std::move(latest.value);
    return {};
}

const WriteDecision::Question& WriteDecision::question(const std::optional<Bytes>& present) {
    question_ = {};
    compared_.reset();
    present_ = present;
    if (!journal_ || !present)
        return question_;
    if (request_.restoring && request_.showRestore) {
        question_.kind = Question::Kind::Restore;
        question_.restoring = *request_.restoring;
        question_.restoreChange = comparison::compareImages(sending(), *present);
        return question_;
    }
    reg::Register* store = usableStore();
    if (!store)
        return question_;
    // Asked against the installation this connection's read was given. A
    // read the installer left unassigned says the device is none of them as
    // far as anyone knows. Without a read of this connection (a next visit,
    // the backup read its first look) the closest installation's.
    std::optional<reg::Version> latest = latest_;
    if (!latest && request_.closest && !request_.readLeftUnassigned) {
        if (const reg::Id proposed = journal_->proposal(*present).installationId; proposed != 0)
            if (auto found = store->latest(proposed); found.ok() && found.value)
                latest = std::move(*found.value);
    }
    if (!latest)
        return question_;
    // After a write of ours cut short the device holds a mixture of two
    // recorded versions: only changes beyond that are asked about.
    if (const auto before = journal_->beforeInterrupted(*latest))
        latest->bytes = afterInterruptedWrite(latest->bytes, *before, *present);
    const Bytes toWrite =
        request_.parts == kAllParts ? sending() : merge(*present, sending(), request_.parts);
    ChangedOnSite changed = changedOnSite(*latest, *present, toWrite);
    if (!changed.changed())
        return question_;
    question_.kind = Question::Kind::ChangedOnSite;
    question_.changed = std::move(changed);
    question_.installationName = latest->info.installationName;
    compared_ = std::move(latest);
    return question_;
}

WriteDecision::Decision WriteDecision::answer(Answer answer, const std::string& port) {
    Decision d;
    if (answer == Answer::TakeDevice && compared_ && present_) {
        const Bytes& base = request_.restoring ? sending() : request_.settings;
        d.settings = takeDeviceValues(base, compared_->bytes, *present_);
        // What the device holds is this installation's now: the next write
        // compares with it and asks no more about these changes.
        journal_->choose(compared_->info.installationId);
        if (auto kept = journal_->recordBackup(*present_, port); !kept.ok())
            d.failure = std::move(kept.failure);
        return d;
    }
    if (answer != Answer::Write)
        return d;
    d.write = true;
    // A part alone: the rest of what is sent is what the device holds.
    d.toWrite = request_.parts != kAllParts && present_
                    ? merge(*present_, sending(), request_.parts)
                    : sending();
    if (request_.restoring) {
        d.settings = sending();
        if (journal_)
            journal_->restoring(request_.restoring->id);
    }
    return d;
}

Verification WriteDecision::verdict(const Bytes& sent, const Bytes& readBack) {
    Verification v = verify(sent, readBack);
    if (usableStore())
        journal_->writeChecked(v.same ? reg::Journal::Check::Same : reg::Journal::Check::Different);
    return v;
}

} // namespace trellikon::checked
