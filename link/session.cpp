#include "session.h"

#include <algorithm>
#include <utility>

namespace trellikon {

namespace {
const char* const kBackupReadFailed = "odczyt ustawień z urządzenia nie został zakończony";
} // namespace

std::string interruptedWriteText(int blocks, std::int64_t backupVersion) {
    const std::string total = std::to_string(layout::kBlockCount);
    std::string text = blocks > 0
                           ? "Zapis przerwany po bloku " + std::to_string(blocks) + " z " + total +
                                 ": urządzenie zawiera częściowo nowe ustawienia."
                           // The first block may have been stored with its acknowledgement lost.
                           : "Zapis przerwany przed potwierdzeniem bloku 1 z " + total +
                                 ": urządzenie może zawierać częściowo nowe ustawienia.";
    text += " Podłącz kabel i zapisz ponownie albo przywróć kopię sprzed zapisu";
    if (backupVersion > 0)
        text += " (wersja " + std::to_string(backupVersion) + ")";
    return text + ".";
}

Session::Session(SerialPort& port, SessionObserver& view)
    : view_(view), link_(settings_, port, *this) {
    link_.interruptedWriteNote = [this] {
        return interruptedWriteText(acknowledged_, backupVersion());
    };
}

TickDriver& Session::tickDriver(TickClock& clock) {
    if (!ticks_)
        ticks_ = std::make_unique<TickDriver>(
            clock, [this] { Timer1Timer(); }, [this] { Timer2Timer(); });
    return *ticks_;
}

void Session::Timer1Timer() {
    link_.Timer1Timer();
    if (!wake)
        runDeferred();
}

void Session::Timer2Timer() {
    link_.Timer2Timer();
    if (!wake)
        runDeferred();
}

void Session::later(std::function<void()> step) {
    waiting_.push_back(std::move(step));
    if (wake)
        wake();
}

void Session::runDeferred() {
    for (auto& step : std::exchange(waiting_, {}))
        step();
}

void Session::tell(SessionEvent::Kind what, Failure failure) {
    view_.sessionEvent(SessionEvent{what, std::move(failure)});
}

void Session::listPorts(std::function<std::vector<std::string>()> appeared,
                        std::function<std::vector<std::string>()> now) {
    link_.appearedPorts = std::move(appeared);
    link_.portsNow = std::move(now);
}

int Session::blocksDone() const {
    if (!link_.read_active && !link_.write_progress)
        return 0;
    return std::min<int>(link_.block_no, layout::kBlockCount);
}

namespace {
Failure noAnswer(std::string text, std::string detail = {}) {
    return makeFailure(Failure::Code::NoAnswer, std::move(text), std::move(detail));
}
} // namespace

bool Session::connect() {
    if (link_.connectCommand())
        return true;
    tell(SessionEvent::PortOpenFailed, link_.openFailure());
    return false;
}

// The read's window may be modal and the whole read over once the command
// returns: the refusal is told from the connection the command met.
void Session::read() {
    const bool refused = !link_.connected;
    link_.readCommand();
    if (refused)
        tell(SessionEvent::ReadRefused, noAnswer(texts::kReadNotConnected));
}

void Session::readCopy() {
    const bool refused = !link_.connected;
    link_.readCopyCommand();
    if (refused)
        tell(SessionEvent::ReadRefused, noAnswer(texts::kReadNotConnected));
}

bool Session::writeAllowed() {
    link_.disarmWatch();
    if (link_.connected)
        return true;
    tell(SessionEvent::WriteRefused, noAnswer(texts::kReadNotConnected));
    return false;
}

void Session::write(const Bytes& bytes, const WriteSteps& steps) {
    chosen_ = bytes;
    startWrite(steps);
}

void Session::write(const WriteSteps& steps) {
    chosen_.reset();
    startWrite(steps);
}

void Session::startWrite(const WriteSteps& steps) {
    if (!writeAllowed())
        return;
    steps_ = steps;
    backup_.reset();
    backupToStore_ = false;
    readBack_.reset();
    backupError_.clear();
    if (steps.again) {
        beginWriting();
        return;
    }
    if (!store_) {
        backup_ = known_;
        decide();
        return;
    }
    if (std::string why = store_->readyForBackup(); !why.empty()) {
        backupError_ = std::move(why);
        tell(SessionEvent::BackupFailed, makeFailure(Failure::Code::Other, backupError_));
        return;
    }
    if (const Bytes* stored = store_->storedContent()) {
        backup_ = *stored;
        decide();
        return;
    }
    step_ = Step::BackingUp;
    tell(SessionEvent::BackupStarted);
    link_.readCopyCommand();
}

void Session::backupDone(const Bytes& bytes) {
    known_ = bytes;
    backup_ = bytes;
    backupToStore_ = store_ != nullptr;
    decide();
}

void Session::decide() {
    step_ = Step::Deciding;
    tell(SessionEvent::DecisionNeeded);
}

void Session::proceed(const Bytes& bytes) {
    if (step_ != Step::Deciding)
        return;
    chosen_ = bytes;
    beginWriting();
}

void Session::proceed() {
    if (step_ == Step::Deciding)
        beginWriting();
}

void Session::cancel() {
    if (step_ == Step::Deciding)
        finishStep(SessionEvent::WriteCancelled);
}

void Session::beginWriting() {
    // Nothing leaves for the device before its present content is kept.
    if (std::exchange(backupToStore_, false) && backup_) {
        if (std::string why = store_->storeBackup(*backup_, portName()); !why.empty()) {
            backupError_ = std::move(why);
            finishStep(SessionEvent::BackupFailed, makeFailure(Failure::Code::Other, backupError_));
            return;
        }
    }
    if (store_)
        store_->writeBegun();
    sent_ = chosen_ ? *chosen_ : settings_.image.bytes();
    acknowledged_ = 0;
    known_.reset();
    step_ = Step::Writing;
    link_.beginWrite(sent_);
}

// The write is recorded already; what the read-back found is judged, and
// added to its record, by the write's decision (register/write_decision.h).
void Session::verified(SessionEvent::Kind what, Failure failure) {
    finishStep(what, std::move(failure));
}

void Session::finishStep(SessionEvent::Kind what, Failure failure) {
    step_ = Step::Idle;
    tell(what, std::move(failure));
}

void Session::outcome(LinkOutcome what) {
    switch (what) {
    case LinkOutcome::Connected:
        known_.reset();
        if (store_)
            store_->connected();
        tell(SessionEvent::Connected);
        return;
    case LinkOutcome::ConnectFailed:
        tell(SessionEvent::ConnectFailed, noAnswer(link_.failureText(), link_.diagnosis()));
        return;
    case LinkOutcome::ReadComplete:
        if (!link_.readingCopy()) {
            settings_.decodeAll();
            known_ = settings_.image.bytes();
            if (store_)
                store_->readComplete(*known_, portName());
            tell(SessionEvent::ReadComplete);
            return;
        }
        if (step_ == Step::BackingUp) {
            tell(SessionEvent::ReadCopyComplete);
            // The write's first frame must not leave from inside this tick.
            const Bytes copied = *link_.readCopy();
            later([this, copied] { backupDone(copied); });
            return;
        }
        known_ = *link_.readCopy();
        if (step_ == Step::Verifying) {
            readBack_ = known_;
            verified(SessionEvent::VerifyComplete);
            return;
        }
        tell(SessionEvent::ReadCopyComplete);
        return;
    case LinkOutcome::ReadTimedOut: {
        const std::string why = link_.failureText();
        tell(SessionEvent::ReadFailed, noAnswer(why));
        if (step_ == Step::BackingUp) {
            backupError_ = kBackupReadFailed;
            finishStep(SessionEvent::BackupFailed, noAnswer(backupError_, why));
        } else if (step_ == Step::Verifying) {
            verified(SessionEvent::VerifyFailed, noAnswer(why));
        }
        return;
    }
    case LinkOutcome::WriteComplete:
        acknowledged_ = layout::kBlockCount;
        if (store_)
            store_->writeComplete(sent_, portName());
        if (step_ == Step::Writing && steps_.verify) {
            step_ = Step::Verifying;
            tell(SessionEvent::WriteComplete);
            later([this] {
                tell(SessionEvent::VerifyStarted);
                const bool refused = !link_.connected;
                link_.readCopyCommand();
                if (refused && step_ == Step::Verifying)
                    verified(SessionEvent::VerifyFailed, noAnswer(texts::kReadNotConnected));
            });
            return;
        }
        finishStep(SessionEvent::WriteComplete);
        return;
    case LinkOutcome::WriteTimedOut:
        acknowledged_ = std::min<int>(link_.block_no, layout::kBlockCount);
        finishStep(SessionEvent::WriteFailed, noAnswer(link_.failureText()));
        return;
    case LinkOutcome::WriteInterrupted:
        // The block counter names the next block to send: as many were acknowledged.
        acknowledged_ = std::min<int>(link_.block_no, layout::kBlockCount);
        if (store_)
            store_->writeInterrupted(sent_, portName(), acknowledged_);
        // The window says the same once this report is over.
        finishStep(SessionEvent::WriteInterrupted,
                   noAnswer(link_.failureText() + "\n" +
                            interruptedWriteText(acknowledged_, backupVersion())));
        return;
    case LinkOutcome::ConnectionLost:
        tell(SessionEvent::ConnectionLost, noAnswer(texts::kConnectionLostStatus));
        return;
    }
}

} // namespace trellikon
