#include "device_session.h"

#include <algorithm>
#include <cstddef>
#include <ostream>

namespace trellikon::cli {

DeviceSession::DeviceSession(SerialPort& port, TickClock& clock, std::ostream& progress, bool fast)
    : clock_(clock), progress_(progress), fast_(fast), port_(port), link_(settings_, port_, *this),
      ticks_(
          clock, [this] { link_.Timer1Timer(); }, [this] { link_.Timer2Timer(); }) {
    ticks_.afterTick = [this](TickDriver::Tick) { reportBlocks(); };
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

void DeviceSession::labelText(LinkWindow window, int label, const std::string& text) {
    if (label == 1) {
        if (window == LinkWindow::Connection)
            connectLabel_ = text;
        else if (window == LinkWindow::ReadProgress)
            readLabel_ = text;
        else if (window == LinkWindow::WriteProgress)
            writeLabel_ = text;
    }
    say(text);
}

void DeviceSession::outcome(LinkOutcome what) {
    outcome_ = what;
    // The link reports the outcome before its texts, so the last block is
    // counted before the line that says the transfer is over.
    if (what == LinkOutcome::ReadComplete || what == LinkOutcome::WriteComplete) {
        transferDone_ = true;
        reportBlocks();
    }
}

void DeviceSession::showWindow(LinkWindow window) {
    // Every window returns at once; only the loss notice changes what we do.
    if (window == LinkWindow::ConnectionLost)
        lost_ = true;
}

void DeviceSession::errorMessage(const std::string& text, const std::string& detail) {
    error_ = detail.empty() ? text : text + ": " + detail;
}

bool DeviceSession::answerWaiting() {
    if (!fast_ || transfer_ == Transfer::None)
        return false;
    const std::size_t answerSize =
        transfer_ == Transfer::Read ? frame::kBlockFrameSize : frame::kRequestSize;
    return port_.gather() >= answerSize;
}

void DeviceSession::tickEarly() {
    // The tick starts over from here, so a request whose answer gets lost is
    // repeated after the tick's full second, as at the tick's own pace.
    ticks_.fireTimer1Now();
}

bool DeviceSession::betweenTicks(std::int64_t nextDueMs) {
    if (answerWaiting()) {
        tickEarly();
        return true;
    }
    if (fast_ && transfer_ != Transfer::None && clock_.nowMs() + kPollMs < nextDueMs) {
        clock_.sleepUntilMs(clock_.nowMs() + kPollMs);
        return true;
    }
    return false;
}

DeviceSession::Wait DeviceSession::runUntil(const std::function<bool()>& done) {
    const auto run = ticks_.runUntil([&] { return lost_ || done(); }, kStallLimitMs);
    if (lost_)
        return Wait::Lost;
    return run.done ? Wait::Done : Wait::Stalled;
}

void DeviceSession::reportBlocks() {
    if (transfer_ == Transfer::None)
        return;
    // While a transfer runs, block_no counts the blocks already stored or acknowledged.
    const int done =
        transferDone_ ? layout::kBlockCount : std::min<int>(link_.block_no, layout::kBlockCount);
    while (blocksReported_ < done) {
        ++blocksReported_;
        progress_ << "blok " << blocksReported_ << " z " << layout::kBlockCount << '\n'
                  << std::flush;
    }
}

Outcome DeviceSession::linkFailure(Wait why, const std::string& linkMessage) {
    if (why == Wait::Lost) {
        link_.connectionLostOk();
        return {kExitLink, texts::kConnectionLostStatus};
    }
    if (why == Wait::Stalled)
        return {kExitLink, "Urządzenie nie odpowiada."};
    return {kExitLink, linkMessage};
}

Outcome DeviceSession::connect(const std::string& portName) {
    link_.setPortName(portName);
    ticks_.restart();
    outcome_.reset();
    if (!link_.connectCommand())
        return {kExitUsage, error_};
    progress_ << "Wyłącz i włącz urządzenie...\n" << std::flush;
    const Wait w = runUntil([&] { return link_.connected || !link_.connecting; });
    if (w == Wait::Done && outcome_ == LinkOutcome::Connected)
        return {};
    if (w == Wait::Done && outcome_ == LinkOutcome::ConnectFailed && !diagnosis_.empty())
        return {kExitLink, connectLabel_ + " " + diagnosis_};
    return linkFailure(w, connectLabel_);
}

Outcome DeviceSession::read(SettingsImage::Bytes& into) {
    error_.clear();
    link_.readCommand();
    if (!link_.read_active)
        return {kExitLink, error_.empty() ? texts::kReadNotConnected : error_};
    outcome_.reset();
    transfer_ = Transfer::Read;
    transferDone_ = false;
    blocksReported_ = 0;
    // The device has answered the handshake already; no need to wait a tick.
    if (fast_)
        tickEarly();
    const Wait w = runUntil([&] { return !link_.read_active; });
    transfer_ = Transfer::None;
    if (w != Wait::Done || outcome_ != LinkOutcome::ReadComplete)
        return linkFailure(w, readLabel_);
    into = settings_.image.bytes();
    return {};
}

Outcome DeviceSession::write(const SettingsImage::Bytes& bytes) {
    settings_.image.setBytes(bytes);
    writeLabel_.clear();
    outcome_.reset();
    transfer_ = Transfer::Write;
    transferDone_ = false;
    blocksReported_ = 0;
    link_.beginWrite();
    if (fast_)
        tickEarly();
    const Wait w = runUntil([&] { return !link_.write_active && !link_.write_progress; });
    transfer_ = Transfer::None;
    if (w != Wait::Done || outcome_ != LinkOutcome::WriteComplete)
        return linkFailure(w, writeLabel_);
    return {};
}

Outcome DeviceSession::verify(const SettingsImage::Bytes& expected,
                              SettingsImage::Bytes* readBack) {
    // The read-back lands in its own buffer; `expected` stays what was sent.
    SettingsImage::Bytes back{};
    if (Outcome r = read(back); !r.ok())
        return r;
    if (readBack)
        *readBack = back;
    const auto mismatch = std::mismatch(expected.begin(), expected.end(), back.begin());
    if (mismatch.first == expected.end())
        return {};
    const auto offset = static_cast<std::size_t>(mismatch.first - expected.begin());
    const std::size_t block = offset / layout::kBlockSize;
    return {kExitVerify,
            "weryfikacja nie powiodła się: blok " + std::to_string(block + 1) + " z " +
                std::to_string(layout::kBlockCount) + " (bajty " +
                std::to_string(block * layout::kBlockSize) + "–" +
                std::to_string((block + 1) * layout::kBlockSize - 1) +
                ") różni się od pliku, pierwszy różny bajt: " + std::to_string(offset)};
}

} // namespace trellikon::cli
