#pragma once
// The device's frames as bytes, for tests and fuzz targets that play the device
// by hand; and, from the frames they built and where each lies on the line,
// what one 1000 ms tick of the link may have done with what it read. The
// judgement never looks into the bytes: it knows which frames were sent.
#include "device_link.h"
#include "frame.h"
#include "settings_image.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace trellikon::testing {

// A read reply carrying `data` (512 bytes), `third` in its ignored byte.
inline std::vector<std::uint8_t> readReply(std::uint8_t third, const std::uint8_t* data) {
    std::vector<std::uint8_t> f(frame::kBlockFrameSize);
    f[0] = frame::kStart;
    f[1] = frame::kRead;
    f[2] = third;
    std::copy(data, data + layout::kBlockSize, f.begin() + 3);
    f.back() = SettingsImage::checkByteOf(std::span(f.data(), f.size() - 1));
    return f;
}

inline std::vector<std::uint8_t> ack(std::uint8_t block) {
    return {frame::kStart, frame::kWrite, block, static_cast<std::uint8_t>(frame::kWrite ^ block)};
}

inline std::vector<std::uint8_t> handshake() {
    return {frame::kStart, frame::kHandshake, frame::kHandshake};
}

// A frame as it was built: what the judge needs to know of it.
struct BuiltFrame {
    enum Kind { Handshake, Ack, Reply } kind = Handshake;
    std::uint8_t block = 0;         // an acknowledgement's block, a reply's ignored byte
    std::vector<std::uint8_t> data; // a reply's 512 bytes

    static BuiltFrame hello() { return {}; }
    static BuiltFrame ackOf(std::uint8_t block) { return {Ack, block, {}}; }
    static BuiltFrame reply(std::uint8_t third, const std::uint8_t* d) {
        return {Reply, third, std::vector<std::uint8_t>(d, d + layout::kBlockSize)};
    }
    std::vector<std::uint8_t> bytes() const {
        switch (kind) {
        case Handshake:
            return handshake();
        case Ack:
            return ack(block);
        case Reply:
            break;
        }
        return readReply(block, data.data());
    }
};

// Where on the line, counted in bytes from the first ever delivered, each
// built frame begins. Whatever else was delivered is no frame: a test that
// makes those bytes knows they hold none from any of their places (and that
// its replies' data hold none); a fuzz target's input may hold any, so a read
// that begins among them is judged without knowing what it held.
class Line {
  public:
    explicit Line(bool othersHoldNoFrame) : trusted_(othersHoldNoFrame) {}

    void frameAt(std::size_t at, const BuiltFrame& f) { frames_[at] = f; }

    // What one read of `n` bytes from `at` took: the frame it held whole from
    // its first byte; `known` is false when it began where any frame may hide.
    struct Read {
        bool known = true;
        const BuiltFrame* whole = nullptr;
    };
    Read read(std::size_t at, std::size_t n) const {
        Read r;
        const auto f = frames_.find(at);
        if (f != frames_.end())
            r.whole = n > 0 && f->second.bytes().size() <= n ? &f->second : nullptr;
        else
            r.known = trusted_ || n == 0;
        return r;
    }

  private:
    bool trusted_;
    std::map<std::size_t, BuiltFrame> frames_;
};

struct LinkSnapshot {
    std::uint8_t connected, block_no, request_block, read_active, write_active, write_progress;
    SettingsImage::Bytes image;

    static LinkSnapshot of(const DeviceLink& link, const DeviceSettings& settings) {
        return {link.connected,    link.block_no,       link.request_block,    link.read_active,
                link.write_active, link.write_progress, settings.image.bytes()};
    }
};

// Empty when the tick from `before` to `after` is what the read allows; else
// what it did that the read does not. A read of unknown bytes is held only
// to what no frame allows.
inline std::string judgeTick(const LinkSnapshot& before, const LinkSnapshot& after,
                             const Line::Read& read) {
    if (after.block_no >= layout::kBlockCount)
        return "block_no left 0..7: " + std::to_string(after.block_no);
    const BuiltFrame* f = read.whole;
    if (!read.known) {
        if (after.image == before.image)
            return {};
        if (!before.request_block)
            return "the image changed while no read was asking";
        const auto from = before.block_no * layout::kBlockSize;
        for (std::size_t i = 0; i < after.image.size(); ++i)
            if ((i < from || i >= from + layout::kBlockSize) && after.image[i] != before.image[i])
                return "the image changed elsewhere than in the block asked for";
        return {};
    }
    const bool ackCounts = f && f->kind == BuiltFrame::Ack && before.write_progress;
    const bool replyCounts = f && f->kind == BuiltFrame::Reply && before.request_block;

    if (after.image != before.image) {
        if (!replyCounts)
            return "the image changed without a whole read reply while a read was asking";
        SettingsImage::Bytes expected = before.image;
        std::copy(f->data.begin(), f->data.end(),
                  expected.begin() + before.block_no * layout::kBlockSize);
        if (after.image != expected)
            return "the image changed elsewhere than in the block asked for";
    }

    if (after.block_no != before.block_no) {
        if (ackCounts) {
            const int want = f->block <= 6 ? f->block + 1 : layout::kBlockCount - 1;
            if (after.block_no != want)
                return "an acknowledgement of block " + std::to_string(f->block) +
                       " moved block_no to " + std::to_string(after.block_no);
        } else if (replyCounts) {
            if (before.block_no > 6 || after.block_no != before.block_no + 1)
                return "a stored reply moved block_no from " + std::to_string(before.block_no) +
                       " to " + std::to_string(after.block_no);
        } else {
            return "block_no changed without a whole frame of the transfer under way";
        }
    }

    const bool handshake = f && f->kind == BuiltFrame::Handshake;
    if (!before.connected && after.connected && !handshake && !ackCounts && !replyCounts)
        return "connected without a whole frame";
    if (before.write_progress && !after.write_progress && !(ackCounts && f->block > 6))
        return "the write ended without a whole acknowledgement of the last block";
    if (before.read_active && !after.read_active && !(replyCounts && before.block_no == 7))
        return "the read ended without a whole reply for block 7";
    return {};
}

} // namespace trellikon::testing
