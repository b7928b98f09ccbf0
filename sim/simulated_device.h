#pragma once
// The device's side of every frame, without any transport. Bytes from the PC go
// in through receive(); what the device sends comes out of takeOutput() as
// chunks, each with the pause that precedes it (a transport honours the pause).
// A transport that keeps time (the pseudo-terminal server, the virtual line)
// takes one chunk at a time instead, when its moment has come, so that a new
// request can still cancel the unsent rest of a split reply.
//
// The device answers the handshake answer with nothing, a read request for block
// 0..7 with a read reply, and a write block for 0..7 by storing it and sending an
// acknowledgement. Optional faults, chosen by a seeded generator, damage or
// reshape its replies the way a poor cable or a busy device would; a line
// mode replaces everything it sends (LineMode).

#include "settings_image.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <random>
#include <vector>

namespace trellikon {

// What the PC hears from the port as a whole. Anything but Normal plays a
// connection that cannot succeed, for the link to tell which case it was.
enum class LineMode {
    Normal,
    Silent,  // nothing at all: no power, the cable not in the device, another port
    Garbage, // another device's text lines instead of frames, never the start byte
    Damaged, // the device's frames, each with its check byte damaged
};

struct SimulatedFaults {
    LineMode mode = LineMode::Normal;
    std::uint32_t seed = 1;
    double flipBit = 0;      // probability a reply has one bit flipped
    double dropFrame = 0;    // probability a reply is not sent at all
    double splitFrame = 0;   // probability a reply is sent in two parts
    int splitPauseMs = 1100; //   with this pause between them
    // A new request normally makes the device abandon the unsent rest of a split
    // reply. With this set it finishes the old reply first, which keeps the PC
    // out of step with the frames for many ticks (it looks for a frame only at
    // the start of what it read); the benchmark shows the cost of that.
    bool finishSplitReplies = false;
    double duplicateHandshake = 0; // probability a handshake is sent twice
    double wrongAckBlock = 0;      // probability an acknowledgement names another block
    int replyDelayMs = 0;          // pause before every reply
    int silentAfterFrames = -1;    // stop answering after this many replies (-1: never)
    // A memory cell that does not keep what is written to it: the byte at this
    // offset is stored with its lowest bit flipped whenever its block is
    // written (-1: none), while the write is acknowledged as sound.
    int wrongStoredByte = -1;
    // The cable pulled in the middle of a write: once the device has
    // acknowledged this many blocks of a write (1..7; 0: never), it hangs up
    // at the next frame, which it neither stores nor answers. The frame that
    // follows the acknowledgement shows that the PC has read it; a transport
    // then closes the line (hungUp()).
    int hangUpAfterBlock = 0;

    bool any() const;
};

class SimulatedDevice {
  public:
    struct Chunk {
        int pauseMs = 0; // wait this long before sending the bytes
        std::vector<std::uint8_t> bytes;
        // When the device produced it (the `nowMs` of the receive() or powerOn()
        // that caused it). A chunk goes out `pauseMs` after this moment or after
        // the previous chunk has left, whichever is later.
        std::int64_t readyMs = 0;
        bool restOfFrame = false; // the second part of a split reply
    };

    explicit SimulatedDevice(const SettingsImage::Bytes& memory = erased(),
                             SimulatedFaults faults = {});
    static SettingsImage::Bytes erased();

    // The device has been switched on: it announces itself.
    void powerOn(std::int64_t nowMs = 0);
    // Bytes from the PC; `nowMs` is any monotonic clock, used to drop the rest
    // of a frame that stopped arriving (a gap of more than 100 ms).
    void receive(const std::uint8_t* data, std::size_t n, std::int64_t nowMs = 0);
    // Puts `bytes` on the line as they are, `pauseMs` after `nowMs`, whatever
    // was asked: a frame nobody asked for, a late copy, noise.
    void sendUnasked(std::vector<std::uint8_t> bytes, int pauseMs = 0, std::int64_t nowMs = 0);
    // What the device has to send, oldest first.
    std::vector<Chunk> takeOutput();
    bool hasOutput() const { return !output_.empty(); }
    // The oldest chunk, left in place (hasOutput() must be true), and taking it.
    const Chunk& nextChunk() const { return output_.front(); }
    Chunk takeChunk();
    // Forgets everything not yet sent (the line was closed).
    void discardOutput() { output_.clear(); }

    const SettingsImage::Bytes& memory() const { return memory_; }
    void setMemory(const SettingsImage::Bytes& memory) { memory_ = memory; }
    void setFaults(const SimulatedFaults& faults);

    // Called after a block was written into the memory (to save it, for example).
    std::function<void(int block)> onBlockWritten;
    // Called for every frame received and sent, for logging.
    std::function<void(bool fromPc, const std::vector<std::uint8_t>& frame)> onFrame;
    // Called when a fault is injected, with a few words saying which.
    std::function<void(const char* fault)> onFault;

    struct Counters {
        int handshakes = 0, readRequests = 0, writeBlocks = 0, badFrames = 0;
    };
    const Counters& counters() const { return counters_; }
    // The device hung up (SimulatedFaults::hangUpAfterBlock): it takes in and
    // sends nothing more until it is plugged in again.
    bool hungUp() const { return hungUp_; }
    void plugIn() { hungUp_ = hangUpDue_ = false; }

  private:
    void parse();
    void handleFrame(const std::vector<std::uint8_t>& frame);
    void reply(std::vector<std::uint8_t> frame, bool isAck);
    // Puts out a frame as the line mode lets it through; false when nothing goes out.
    bool throughLine(std::vector<std::uint8_t>& frame);
    void abandonUnsentRest();
    bool chance(double p);

    SettingsImage::Bytes memory_;
    SimulatedFaults faults_;
    std::mt19937 rng_;
    std::vector<std::uint8_t> input_;
    std::int64_t lastByteMs_ = 0;
    std::deque<Chunk> output_;
    int replies_ = 0;
    Counters counters_;
    bool hangUpDue_ = false; // the acknowledgement that ends the line has gone out
    bool hungUp_ = false;
};

} // namespace trellikon
