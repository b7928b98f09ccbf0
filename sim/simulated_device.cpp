#include "simulated_device.h"

#include "frame.h"

#include <algorithm>
#include <string>

namespace trellikon {

using namespace frame;

bool SimulatedFaults::any() const {
    return mode != LineMode::Normal || flipBit > 0 || dropFrame > 0 || splitFrame > 0 ||
           duplicateHandshake > 0 || wrongAckBlock > 0 || replyDelayMs > 0 ||
           silentAfterFrames >= 0 || wrongStoredByte >= 0 || hangUpAfterBlock > 0;
}

SettingsImage::Bytes SimulatedDevice::erased() {
    SettingsImage::Bytes b;
    b.fill(0xFF);
    return b;
}

SimulatedDevice::SimulatedDevice(const SettingsImage::Bytes& memory, SimulatedFaults faults)
    : memory_(memory), faults_(faults), rng_(faults.seed) {}

void SimulatedDevice::setFaults(const SimulatedFaults& faults) {
    faults_ = faults;
    rng_.seed(faults.seed);
}

bool SimulatedDevice::chance(double p) {
    if (p <= 0)
        return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p;
}

namespace {
// What a GPS receiver on the same port would say: plain text, which never
// holds the start byte of a frame.
const char* const kForeignLines = "$GPRMC,120000.00,V,,,,,,,091226,,,N*7C\r\n"
                                  "$GPGSV,1,1,00*79\r\n";
} // namespace

bool SimulatedDevice::throughLine(std::vector<std::uint8_t>& f) {
    switch (faults_.mode) {
    case LineMode::Normal:
        return true;
    case LineMode::Silent:
        if (onFault)
            onFault("line silent");
        return false;
    case LineMode::Garbage: {
        const std::string text(kForeignLines);
        f.assign(text.begin(), text.end());
        if (onFault)
            onFault("another device's text instead of a frame");
        return true;
    }
    case LineMode::Damaged:
        // The check byte is the last one; a handshake's third byte stands for it.
        f.back() ^= 0x04;
        if (onFault)
            onFault("check byte damaged");
        return true;
    }
    return true;
}

void SimulatedDevice::powerOn(std::int64_t nowMs) {
    input_.clear();
    std::vector<std::uint8_t> hs = {kStart, kHandshake, kHandshake};
    if (!throughLine(hs))
        return;
    if (onFrame)
        onFrame(false, hs);
    output_.push_back(Chunk{0, hs, nowMs, false});
    if (chance(faults_.duplicateHandshake)) {
        if (onFault)
            onFault("handshake sent twice");
        if (onFrame)
            onFrame(false, hs);
        output_.push_back(Chunk{1200, hs, nowMs, false});
    }
}

void SimulatedDevice::receive(const std::uint8_t* data, std::size_t n, std::int64_t nowMs) {
    if (n == 0 || hungUp_)
        return;
    if (!input_.empty() && nowMs - lastByteMs_ > 100)
        input_.clear(); // the rest of that frame never came
    lastByteMs_ = nowMs;
    input_.insert(input_.end(), data, data + n);
    parse();
}

void SimulatedDevice::parse() {
    for (;;) {
        // Hunt for a start byte followed by a known command.
        auto start = std::find(input_.begin(), input_.end(), kStart);
        if (start != input_.begin()) {
            ++counters_.badFrames; // noise in front of a frame
            input_.erase(input_.begin(), start);
        }
        if (input_.size() < 2)
            return;
        std::size_t length = 0;
        switch (input_[1]) {
        case kHandshake:
            length = kHandshakeSize;
            break;
        case kRead:
            length = kRequestSize;
            break;
        case kWrite:
            length = kBlockFrameSize;
            break;
        default:
            ++counters_.badFrames;
            input_.erase(input_.begin());
            continue;
        }
        if (input_.size() < length)
            return;
        std::vector<std::uint8_t> f(input_.begin(),
                                    input_.begin() + static_cast<std::ptrdiff_t>(length));
        const bool checked =
            input_[1] == kHandshake
                ? f[2] == kHandshake
                : f.back() == SettingsImage::checkByteOf(std::span(f.data(), f.size() - 1));
        if (!checked) {
            ++counters_.badFrames;
            input_.erase(input_.begin()); // resynchronise on the next start byte
            continue;
        }
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(length));
        if (hangUpDue_) {
            hungUp_ = true;
            input_.clear();
            output_.clear();
            if (onFault)
                onFault("hung up: the cable pulled");
            return;
        }
        if (onFrame)
            onFrame(true, f);
        handleFrame(f);
    }
}

void SimulatedDevice::handleFrame(const std::vector<std::uint8_t>& f) {
    const std::uint8_t block = f[2];
    switch (f[1]) {
    case kHandshake:
        ++counters_.handshakes;
        return;
    case kRead: {
        ++counters_.readRequests;
        abandonUnsentRest();
        if (block >= layout::kBlockCount)
            return;
        std::vector<std::uint8_t> r = {kStart, kRead, block};
        const auto from = memory_.begin() + static_cast<std::ptrdiff_t>(block) * layout::kBlockSize;
        r.insert(r.end(), from, from + layout::kBlockSize);
        r.push_back(SettingsImage::checkByteOf(r));
        reply(std::move(r), false);
        return;
    }
    case kWrite: {
        ++counters_.writeBlocks;
        abandonUnsentRest();
        if (block >= layout::kBlockCount)
            return;
        std::copy(f.begin() + 3, f.begin() + 3 + layout::kBlockSize,
                  memory_.begin() + static_cast<std::ptrdiff_t>(block) * layout::kBlockSize);
        if (const int wrong = faults_.wrongStoredByte;
            wrong >= 0 && wrong < static_cast<int>(layout::kImageSize) &&
            wrong / static_cast<int>(layout::kBlockSize) == block)
            memory_[static_cast<std::size_t>(wrong)] ^= 0x01;
        if (onBlockWritten)
            onBlockWritten(block);
        std::vector<std::uint8_t> ack = {kStart, kWrite, block, 0};
        ack[3] = static_cast<std::uint8_t>(kWrite ^ block);
        reply(std::move(ack), true);
        if (faults_.hangUpAfterBlock > 0 && block + 1 == faults_.hangUpAfterBlock)
            hangUpDue_ = true;
        return;
    }
    default:
        return;
    }
}

void SimulatedDevice::abandonUnsentRest() {
    // The PC asked again, so it has given up on the reply it got only half of:
    // serve the new request instead of finishing the old one (otherwise the rest
    // and the new reply arrive together, and the PC, which looks for a frame only
    // at the start of what it read, stays out of step with the frames for many
    // ticks).
    if (faults_.finishSplitReplies)
        return;
    const auto rest = std::remove_if(output_.begin(), output_.end(),
                                     [](const Chunk& c) { return c.restOfFrame; });
    if (rest != output_.end() && onFault)
        onFault("rest of a split reply abandoned");
    output_.erase(rest, output_.end());
}

void SimulatedDevice::reply(std::vector<std::uint8_t> f, bool isAck) {
    auto fault = [this](const char* what) {
        if (onFault)
            onFault(what);
    };
    if (faults_.silentAfterFrames >= 0 && replies_ >= faults_.silentAfterFrames) {
        fault("silent");
        return;
    }
    ++replies_;
    if (isAck && chance(faults_.wrongAckBlock)) {
        // An acknowledgement that names an earlier block, with a valid check.
        f[2] = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, f[2])(rng_));
        f[3] = static_cast<std::uint8_t>(kWrite ^ f[2]);
        fault("acknowledgement names another block");
    }
    if (chance(faults_.dropFrame)) {
        fault("reply dropped");
        return;
    }
    if (!throughLine(f))
        return;
    if (chance(faults_.flipBit)) {
        const auto i = std::uniform_int_distribution<std::size_t>(0, f.size() - 1)(rng_);
        f[i] ^= static_cast<std::uint8_t>(1u << std::uniform_int_distribution<int>(0, 7)(rng_));
        fault("bit flipped");
    }
    if (onFrame)
        onFrame(false, f);
    const std::int64_t ready = lastByteMs_;
    if (f.size() > 1 && chance(faults_.splitFrame)) {
        const auto cut = std::uniform_int_distribution<std::size_t>(1, f.size() - 1)(rng_);
        fault("reply split");
        const auto at = f.begin() + static_cast<std::ptrdiff_t>(cut);
        output_.push_back(Chunk{faults_.replyDelayMs, {f.begin(), at}, ready, false});
        output_.push_back(Chunk{faults_.splitPauseMs, {at, f.end()}, ready, true});
        return;
    }
    output_.push_back(Chunk{faults_.replyDelayMs, std::move(f), ready, false});
}

void SimulatedDevice::sendUnasked(std::vector<std::uint8_t> bytes, int pauseMs,
                                  std::int64_t nowMs) {
    if (onFrame)
        onFrame(false, bytes);
    output_.push_back(Chunk{pauseMs, std::move(bytes), nowMs, false});
}

SimulatedDevice::Chunk SimulatedDevice::takeChunk() {
    Chunk c = std::move(output_.front());
    output_.pop_front();
    return c;
}

std::vector<SimulatedDevice::Chunk> SimulatedDevice::takeOutput() {
    std::vector<Chunk> out(output_.begin(), output_.end());
    output_.clear();
    return out;
}

} // namespace trellikon
