#include "device_session.h"

#include <algorithm>
#include <cstddef>
#include <ostream>
#include <utility>

namespace trellikon::cli {

DeviceSession::DeviceSession(SerialPort& port, TickClock& clock, std::ostream& progress, bool fast)
    : clock_(clock), progress_(progress), fast_(fast), port_(port), session_(port_, *this),
      ticks_(session_.tickDriver(clock)) {
    ticks_.afterTick = [this](TickDriver::Tick) { reportBlocks(session_.blocksDone()); };
    ticks_.whileWaiting = [this](std::int64_t nextDueMs) { return betweenTicks(nextDueMs); };
}

bool DeviceSession::GatheringPort::open(const std::string& portName, LinkError& error) {
    held_.clear();
    return port_.open(portName, error);
}

void DeviceSession::GatheringPort::close() {
    held_.clear();
    port_.close();
}

std::size_t DeviceSession::GatheringPort::read(std::uint8_t* data, std::size_t max) {
    const std::size_t fromHeld = std::min(max, held_.size());
    std::copy_n(held_.begin(), fromHeld, data);
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(fromHeld));
    if (fromHeld == max)
        return fromHeld;
    return fromHeld + port_.read(data + fromHeld, max - fromHeld);
}

std::size_t DeviceSession::GatheringPort::gather() {
    // No more than the link takes in one step; anything beyond waits in the
    // port, as it would without us.
    const std::size_t before = held_.size();
    if (before >= frame::kBufferSize)
        return before;
    held_.resize(frame::kBufferSize);
    const std::size_t got = port_.read(held_.data() + before, frame::kBufferSize - before);
    held_.resize(before + got);
    return held_.size();
}

void DeviceSession::say(const std::string& text) {
    // The link repeats itself (status line and window label); once is enough here.
    if (text.empty() || text == lastLine_)
        return;
    lastLine_ = text;
    progress_ << text << '\n' << std::flush;
}

void DeviceSession::statusText(const std::string& text) {
    say(text);
}

void DeviceSession::sessionEvent(const SessionEvent& what) {
    events_.push_back(what);
    switch (what.kind) {
    case SessionEvent::BackupStarted:
        if (backupBegins)
            backupBegins();
        break;
    case SessionEvent::VerifyStarted:
        if (verifyBegins)
            verifyBegins();
        break;
    case SessionEvent::ReadComplete:
    case SessionEvent::ReadCopyComplete:
    case SessionEvent::WriteComplete:
    case SessionEvent::VerifyComplete:
        // Told before the link's texts, so the last block is counted before
        // the line that says the transfer is over.
        reportBlocks(layout::kBlockCount);
        break;
    default:
        break;
    }
}

void DeviceSession::showWindow(LinkWindow window) {
    // Every window returns at once; a transfer's window says one has begun.
    if (window == LinkWindow::ConnectionLost) {
        lost_ = true;
        return;
    }
    if (window == LinkWindow::Connection)
        return;
    blocksReported_ = 0;
    // The device has answered the handshake already; no need to wait a tick.
    kick_ = fast_;
}

bool DeviceSession::answerWaiting() {
    if (!fast_ || !transferring())
        return false;
    const std::size_t answerSize =
        session_.reading() ? frame::kBlockFrameSize : frame::kRequestSize;
    return port_.gather() >= answerSize;
}

void DeviceSession::tickEarly() {
    // The tick starts over from here, so a request whose answer gets lost is
    // repeated after the tick's full second, as at the tick's own pace.
    ticks_.fireTimer1Now();
}

bool DeviceSession::betweenTicks(std::int64_t nextDueMs) {
    if (std::exchange(kick_, false) || answerWaiting()) {
        tickEarly();
        return true;
    }
    if (fast_ && transferring() && clock_.nowMs() + kPollMs < nextDueMs) {
        clock_.sleepUntilMs(clock_.nowMs() + kPollMs);
        return true;
    }
    return false;
}

DeviceSession::Wait DeviceSession::runUntil(std::initializer_list<SessionEvent::Kind> ends) {
    const auto ended = [&] {
        return std::any_of(events_.begin(), events_.end(), [&](const SessionEvent& e) {
            return std::find(ends.begin(), ends.end(), e.kind) != ends.end();
        });
    };
    const auto run = ticks_.runUntil([&] { return lost_ || ended(); }, kStallLimitMs);
    if (lost_)
        return Wait::Lost;
    return run.done ? Wait::Done : Wait::Stalled;
}

void DeviceSession::reportBlocks(int done) {
    while (blocksReported_ < done) {
        ++blocksReported_;
        progress_ << "blok " << blocksReported_ << " z " << layout::kBlockCount << '\n'
                  << std::flush;
    }
}

int exitCodeOf(const Failure& failure) {
    using C = Failure::Code;
    switch (failure.code) {
    case C::None:
        return kExitOk;
    case C::TemplatesDiffer:
        return kExitDifferent;
    case C::NoAnswer:
        return kExitLink;
    case C::VerifyDifferent:
        return kExitVerify;
    case C::ChangedOnSite:
        return kExitChangedOnSite;
    case C::FileMissing:
    case C::FileNoPermission:
    case C::FileIsDirectory:
    case C::FileNotRegular:
    case C::FileDeviceName:
    case C::FileBadName:
    case C::FileHeldElsewhere:
    case C::FileTooLarge:
    case C::FileContent:
    case C::FileOther:
    case C::Refused:
    case C::Usage:
    case C::NoSuchDevice:
    case C::PermissionDenied:
    case C::Busy:
    case C::NotASerialPort:
    case C::Register:
    case C::Other:
        break;
    }
    return kExitUsage;
}

Failure DeviceSession::failureOf(SessionEvent::Kind kind) const {
    const auto e = std::find(events_.rbegin(), events_.rend(), kind);
    return e == events_.rend() ? Failure{} : e->failure;
}

Failure DeviceSession::linkFailure(Wait why, SessionEvent::Kind ended) {
    if (why == Wait::Lost) {
        session_.connectionLostOk();
        return makeFailure(Failure::Code::NoAnswer, texts::kConnectionLostStatus);
    }
    if (why == Wait::Stalled)
        return makeFailure(Failure::Code::NoAnswer, "Urządzenie nie odpowiada.");
    return makeFailure(Failure::Code::NoAnswer, failureOf(ended).message);
}

Failure DeviceSession::connect(const std::string& portName) {
    session_.setPortName(portName);
    ticks_.restart();
    events_.clear();
    if (!session_.connect()) {
        // The port would not open: the reason worded as the message box has it.
        const Failure shown = failureOf(SessionEvent::PortOpenFailed);
        return makeFailure(
            shown.code, shown.detail.empty() ? shown.message : shown.message + ": " + shown.detail,
            session_.lastOpenError().detail);
    }
    progress_ << "Wyłącz i włącz urządzenie...\n" << std::flush;
    const Wait w = runUntil({SessionEvent::Connected, SessionEvent::ConnectFailed});
    if (w == Wait::Done && events_.back() == SessionEvent::Connected)
        return {};
    if (const Failure silent = failureOf(SessionEvent::ConnectFailed);
        w == Wait::Done && !silent.detail.empty())
        return makeFailure(Failure::Code::NoAnswer, silent.message + " " + silent.detail);
    return linkFailure(w, SessionEvent::ConnectFailed);
}

Failure DeviceSession::read(SettingsImage::Bytes& into) {
    events_.clear();
    session_.read();
    if (!events_.empty() && events_.back() == SessionEvent::ReadRefused)
        return events_.back().failure;
    const Wait w = runUntil({SessionEvent::ReadComplete, SessionEvent::ReadFailed});
    if (w != Wait::Done || events_.back() != SessionEvent::ReadComplete)
        return linkFailure(w, SessionEvent::ReadFailed);
    into = session_.settings().image.bytes();
    return {};
}

Failure DeviceSession::write(const SettingsImage::Bytes& bytes, bool verifyAfter) {
    events_.clear();
    WriteSteps steps;
    steps.verify = verifyAfter;
    session_.write(bytes, steps);
    Wait w = runUntil(
        {SessionEvent::WriteRefused, SessionEvent::BackupFailed, SessionEvent::DecisionNeeded});
    // Nothing was written; the backup's read or its record says why.
    if (w != Wait::Done ||
        std::find(events_.begin(), events_.end(), SessionEvent::ReadFailed) != events_.end())
        return makeFailure(Failure::Code::Other,
                           "nie udało się odczytać kopii zapasowej (" +
                               linkFailure(w, SessionEvent::ReadFailed).message +
                               "); nic nie zostało zapisane do urządzenia");
    if (events_.back() == SessionEvent::WriteRefused)
        return events_.back().failure;
    const auto notKept = [this]() -> Failure {
        return makeFailure(Failure::Code::Other, "nie można zachować kopii zapasowej: " +
                                                     failureOf(SessionEvent::BackupFailed).message +
                                                     "; nic nie zostało zapisane do urządzenia");
    };
    if (events_.back() == SessionEvent::BackupFailed)
        return notKept();
    SettingsImage::Bytes toWrite = bytes;
    if (decide) {
        if (Failure d = decide(session_.backup(), toWrite); !d.ok()) {
            session_.cancel();
            return d;
        }
    }
    events_.clear();
    session_.proceed(toWrite);
    // The backup is committed at proceed: without it nothing was sent.
    if (!events_.empty() && events_.back() == SessionEvent::BackupFailed)
        return notKept();
    w = runUntil(
        {SessionEvent::WriteComplete, SessionEvent::WriteFailed, SessionEvent::WriteInterrupted});
    // The read-back may have begun in the same turn as the last acknowledgement.
    if (w != Wait::Done || !sentWhole())
        return linkFailure(w, interrupted() ? SessionEvent::WriteInterrupted
                                            : SessionEvent::WriteFailed);
    if (!verifyAfter)
        return {};
    w = runUntil({SessionEvent::VerifyComplete, SessionEvent::VerifyFailed});
    if (w != Wait::Done || events_.back() != SessionEvent::VerifyComplete)
        return linkFailure(w, SessionEvent::VerifyFailed);
    return {};
}

} // namespace trellikon::cli
