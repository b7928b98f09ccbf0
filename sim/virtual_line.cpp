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

int VirtualTimers::add(int intervalMs, std::function<void()> handler) {
    const std::int64_t interval = std::max<std::int64_t>(intervalMs, 1) * kNsPerMs;
    timers_.push_back({interval, line_.nowNs() + interval, std::move(handler)});
    return static_cast<int>(timers_.size()) - 1;
}

int VirtualTimers::nextIndex() const {
    int best = -1;
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        if (best < 0 || timers_[i].dueNs < timers_[static_cast<std::size_t>(best)].dueNs)
            best = static_cast<int>(i);
    }
    return best;
}

std::int64_t VirtualTimers::nextDueNs() const {
    const int i = nextIndex();
    return i < 0 ? kNever : timers_[static_cast<std::size_t>(i)].dueNs;
}

int VirtualTimers::runNext() {
    const int i = nextIndex();
    if (i < 0)
        return -1;
    Timer& t = timers_[static_cast<std::size_t>(i)];
    line_.advanceTo(t.dueNs);
    const std::int64_t activated = line_.nowNs();
    // Qt's rule: keep to the timer's own grid, unless that point has already
    // passed, then one interval from now.
    t.dueNs += t.intervalNs;
    if (t.dueNs < activated)
        t.dueNs = activated + t.intervalNs;
    t.handler();
    return i;
}

VirtualLinkRig::VirtualLinkRig(const SettingsImage::Bytes& memory, SimulatedFaults faults,
                               VirtualLine::Options options)
    : device_(memory, faults), line_(device_, options), link_(settings_, line_.port(), observer_),
      timers_(line_) {
    tick1000_ = timers_.add(1000, [this] { link_.Timer1Timer(); });
    timers_.add(300, [this] { link_.Timer2Timer(); });
    LinkError ignored;
    line_.port().open(link_.port_name, ignored);
}

void VirtualLinkRig::waitForPhase(int phaseMs) {
    while (timers_.runNext() != tick1000_) {
    }
    const std::int64_t at = line_.nowNs() + std::clamp(phaseMs, 0, 999) * kNsPerMs;
    while (timers_.nextDueNs() <= at)
        timers_.runNext();
    line_.advanceTo(at);
}

int VirtualLinkRig::runUntil(const std::function<bool()>& ended) {
    int ticks = 0;
    while (ticks < kTickLimit) {
        if (timers_.runNext() == tick1000_)
            ++ticks;
        if (ended())
            break;
    }
    return ticks;
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
