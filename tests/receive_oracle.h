#pragma once
// An independent judge of one 1000 ms tick: from the link's state before the
// tick and the bytes its read really took from the line, it says whether what
// the tick did to the state and the image could have come from those bytes.
// Used by the link tests and by the receive-step fuzz target, so it stays free
// of Qt.

#include "device_link.h"
#include "memory_port.h"

#include <cstdint>
#include <string>
#include <vector>

namespace trellikon::testing {

// A MemoryPort that remembers what each read handed over.
class RecordingPort : public MemoryPort {
  public:
    using MemoryPort::MemoryPort;
    std::size_t read(std::uint8_t* data, std::size_t max) override {
        const std::size_t n = MemoryPort::read(data, max);
        lastRead.assign(data, data + n);
        return n;
    }
    std::vector<std::uint8_t> lastRead;
};

struct LinkSnapshot {
    std::uint8_t connected, block_no, request_block, read_active, write_active, write_progress;
    SettingsImage::Bytes image;

    static LinkSnapshot of(const DeviceLink& link, const DeviceSettings& settings) {
        return {link.connected,    link.block_no,       link.request_block,    link.read_active,
                link.write_active, link.write_progress, settings.image.bytes()};
    }
};

// The frame that `bytes` hold whole from their first byte, if any.
struct WholeFrame {
    bool handshake = false;
    bool ack = false;
    std::uint8_t ackBlock = 0;
    bool reply = false;

    explicit WholeFrame(const std::vector<std::uint8_t>& b) {
        using namespace frame;
        if (b.size() >= kHandshakeSize && b[0] == kStart && b[1] == kHandshake &&
            b[2] == kHandshake)
            handshake = true;
        if (b.size() >= kRequestSize && b[0] == kStart && b[1] == kWrite &&
            b[3] == (kWrite ^ b[2])) {
            ack = true;
            ackBlock = b[2];
        }
        if (b.size() >= kBlockFrameSize && b[0] == kStart && b[1] == kRead &&
            b[kBlockFrameSize - 1] ==
                SettingsImage::checkByteOf(std::span(b.data(), kBlockFrameSize - 1)))
            reply = true;
    }
};

// Empty when the tick from `before` to `after` is explained by `read`; else
// what it did that those bytes do not allow.
inline std::string judgeTick(const LinkSnapshot& before, const LinkSnapshot& after,
                             const std::vector<std::uint8_t>& read) {
    const WholeFrame f(read);
    const bool ackCounts = f.ack && before.write_progress;
    const bool replyCounts = f.reply && before.request_block;

    if (after.block_no >= layout::kBlockCount)
        return "block_no left 0..7: " + std::to_string(after.block_no);

    if (after.image != before.image) {
        if (!replyCounts)
            return "the image changed without a whole read reply while a read was asking";
        SettingsImage::Bytes expected = before.image;
        std::copy(read.begin() + 3, read.begin() + 3 + layout::kBlockSize,
                  expected.begin() + before.block_no * layout::kBlockSize);
        if (after.image != expected)
            return "the image changed elsewhere than in the block asked for";
    }

    if (after.block_no != before.block_no) {
        if (ackCounts) {
            const int want = f.ackBlock <= 6 ? f.ackBlock + 1 : layout::kBlockCount - 1;
            if (after.block_no != want)
                return "an acknowledgement of block " + std::to_string(f.ackBlock) +
                       " moved block_no to " + std::to_string(after.block_no);
        } else if (replyCounts) {
            if (before.block_no > 6 || after.block_no != before.block_no + 1)
                return "a stored reply moved block_no from " + std::to_string(before.block_no) +
                       " to " + std::to_string(after.block_no);
        } else {
            return "block_no changed without a whole frame of the transfer under way";
        }
    }

    if (!before.connected && after.connected && !f.handshake && !ackCounts && !replyCounts)
        return "connected without a whole frame";
    if (before.write_progress && !after.write_progress && !(ackCounts && f.ackBlock > 6))
        return "the write ended without a whole acknowledgement of the last block";
    if (before.read_active && !after.read_active && !(replyCounts && before.block_no == 7))
        return "the read ended without a whole reply for block 7";
    return {};
}

} // namespace trellikon::testing
