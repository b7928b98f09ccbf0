#include "virtual_line.h"

#include <algorithm>
#include <limits>

namespace trellikon {

namespace {
constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kBitsPerByte = 10; // start bit, 8 data bits, stop bit
} // namespace

VirtualLine::VirtualLine(SimulatedDevice& device, Options options)
    : device_(device), options_(options), port_(*this) {}

std::int64_t VirtualLine::transmitNs(std::size_t count) const {
    if (options_.baud <= 0)
        return 0;
    return static_cast<std::int64_t>(count) * kBitsPerByte * 1'000'000'000 / options_.baud;
}

void VirtualLine::powerOn() {
    device_.powerOn(now_ / kNsPerMs);
}

std::int64_t VirtualLine::nextChunkStart() const {
    if (!device_.hasOutput())
        return kNever;
    const auto& chunk = device_.nextChunk();
    const std::int64_t ready = chunk.readyMs * kNsPerMs + options_.processingMs * kNsPerMs;
    // readyMs is whole milliseconds, so it may lie a fraction before now.
    return std::max({deviceLineFreeNs_, ready, now_}) + chunk.pauseMs * kNsPerMs;
}

void VirtualLine::advanceTo(std::int64_t ns) {
    // Both kinds of event are taken strictly in time order: a request that
    // reaches the device before a pending chunk is due may still cancel it.
    for (;;) {
        const std::int64_t delivery = towardsDevice_.empty() ? kNever : towardsDevice_.front().atNs;
        const std::int64_t chunkStart = nextChunkStart();
        if (std::min(delivery, chunkStart) > ns)
            break;
        if (delivery <= chunkStart) {
            now_ = std::max(now_, delivery);
            const Delivery d = std::move(towardsDevice_.front());
            towardsDevice_.pop_front();
            device_.receive(d.bytes.data(), d.bytes.size(), now_ / kNsPerMs);
        } else {
            now_ = std::max(now_, chunkStart);
            const auto chunk = device_.takeChunk();
            for (std::size_t i = 0; i < chunk.bytes.size(); ++i)
                towardsPc_.push_back({now_ + transmitNs(i + 1), chunk.bytes[i]});
            deviceLineFreeNs_ = now_ + transmitNs(chunk.bytes.size());
        }
    }
    now_ = std::max(now_, ns);
}

void VirtualLine::advanceByMs(double ms) {
    advanceTo(now_ + static_cast<std::int64_t>(ms * static_cast<double>(kNsPerMs)));
}

void VirtualLine::pcSends(const std::uint8_t* data, std::size_t n) {
    const std::int64_t start = std::max(now_, pcLineFreeNs_);
    pcLineFreeNs_ = start + transmitNs(n);
    // The device acts on a frame only once it is complete, so the bytes can
    // reach it together with the last one.
    towardsDevice_.push_back({pcLineFreeNs_, std::vector<std::uint8_t>(data, data + n)});
    advanceTo(pcLineFreeNs_);
}

std::size_t VirtualLine::pcReads(std::uint8_t* data, std::size_t max) {
    advanceTo(now_);
    std::size_t n = 0;
    while (n < max && !towardsPc_.empty() && towardsPc_.front().atNs <= now_) {
        data[n++] = towardsPc_.front().byte;
        towardsPc_.pop_front();
    }
    return n;
}

bool VirtualLine::PcPort::open(const std::string&, LinkError& error) {
    error = LinkError{};
    open_ = true;
    return true;
}

bool VirtualLine::PcPort::write(const std::uint8_t* data, std::size_t n) {
    if (!open_ || (data == nullptr && n != 0))
        return false;
    line_.pcSends(data, n);
    return true;
}

std::size_t VirtualLine::PcPort::read(std::uint8_t* data, std::size_t max) {
    if (!open_ || data == nullptr)
        return 0;
    return line_.pcReads(data, max);
}

VirtualLinkRig::VirtualLinkRig(const SettingsImage::Bytes& memory, SimulatedFaults faults,
                               VirtualLine::Options options)
    : device_(memory, faults), line_(device_, options), link_(settings_, line_.port(), observer_),
      clock_(line_), ticks_(
                         clock_, [this] { link_.Timer1Timer(); }, [this] { link_.Timer2Timer(); }) {
    LinkError ignored;
    line_.port().open(link_.port_name, ignored);
}

void VirtualLinkRig::waitForPhase(int phaseMs) {
    while (ticks_.step() != TickDriver::Tick::Timer1) {
    }
    const std::int64_t at = clock_.nowMs() + std::clamp(phaseMs, 0, 999);
    while (ticks_.nextDueMs() <= at)
        ticks_.step();
    clock_.sleepUntilMs(at);
}

int VirtualLinkRig::runUntil(const std::function<bool()>& ended) {
    return ticks_.runTicksUntil(ended, kTickLimit).timer1Ticks;
}

VirtualLinkRig::Transfer VirtualLinkRig::read(int phaseMs) {
    waitForPhase(phaseMs);
    link_.assumeConnected();
    link_.readCommand();
    Transfer r;
    r.ticks = runUntil([this] { return !link_.read_active; });
    r.finished = !link_.read_active && !link_.read_failed;
    r.identical = settings_.image.bytes() == device_.memory();
    return r;
}

VirtualLinkRig::Transfer VirtualLinkRig::write(const SettingsImage::Bytes& image, int phaseMs) {
    waitForPhase(phaseMs);
    settings_.image.setBytes(image);
    link_.assumeConnected();
    observer_.last.reset();
    link_.beginWrite();
    Transfer r;
    r.ticks = runUntil([this] { return !link_.write_progress; });
    r.finished = observer_.last == LinkOutcome::WriteComplete;
    r.identical = device_.memory() == image;
    return r;
}

} // namespace trellikon
