// The receive step fed whatever the line may bring, between ticks, during a
// connection attempt, a read and a write.
//
// Input: a first byte choosing where the link starts (connecting, reading,
// writing), then operations, each an operation byte and its arguments:
//   0..3  raw bytes: a 16-bit length (mod 700), then that many bytes
//   4     n 300 ms ticks (n from the next byte)
//   5     a read reply with a valid check: 512 data bytes, then a 16-bit cut;
//         a cut inside the frame delivers it in two parts, a tick apart
//   6     an acknowledgement with a valid check for the next byte's block,
//         cut after the next byte mod 5 bytes
//   7     a command: connect, read, write, or an OK button
// Every delivery is followed by a 1000 ms tick.
//
// Checked after every 1000 ms tick, from the frames built here and where each
// lies on the line (frame_bytes.h), never by reading the bytes again: block_no
// stays 0..7; the image changes only while a read asks for blocks, and only in
// the block asked for. A read that begins with a frame built here is judged
// in full: the image changes only by that reply's data, the block counter,
// the connection and the ends of a transfer move only on that frame, whole
// and of the transfer under way. Every frame sent is well formed.
#include "device_link.h"
#include "frame_bytes.h"
#include "memory_port.h"
#include "session.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace trellikon;
using namespace trellikon::testing;
using Bytes = std::vector<std::uint8_t>;

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "receive step: %s\n", what.c_str());
    std::abort();
}

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), left_(size) {}
    bool empty() const { return left_ == 0; }
    std::uint8_t byte() {
        if (left_ == 0)
            return 0;
        --left_;
        return *p_++;
    }
    std::size_t word() { return byte() | (std::size_t(byte()) << 8); }
    Bytes bytes(std::size_t n) {
        n = std::min(n, left_);
        Bytes b(p_, p_ + n);
        p_ += n;
        left_ -= n;
        return b;
    }

  private:
    const std::uint8_t* p_;
    std::size_t left_;
};

class Quiet : public LinkObserver, public SilentDisplay {
  public:
    void barPosition(LinkWindow w, int position) override {
        const int max =
            w == LinkWindow::Connection ? DeviceLink::kConnectBarMax : DeviceLink::kProgressBarMax;
        if (position < 0 || position > max)
            fail("a bar outside its range");
    }
};

struct Rig {
    DeviceSettings settings;
    MemoryPort port;
    Quiet quiet;
    DeviceLink link{settings, port, quiet};
    // The fuzzer's raw bytes may hold frames anywhere: only the frames built
    // here are known.
    Line line{false};
    std::size_t delivered = 0;

    void tick() {
        const std::size_t waiting = port.waiting();
        const std::size_t at = delivered - waiting;
        const auto before = LinkSnapshot::of(link, settings);
        link.Timer1Timer();
        const auto after = LinkSnapshot::of(link, settings);
        const std::string verdict =
            judgeTick(before, after, line.read(at, waiting - port.waiting()));
        if (!verdict.empty())
            fail(verdict);
        checkSent();
    }

    void checkSent() {
        for (const Bytes& f : port.sent) {
            if (f.size() < 3 || f[0] != frame::kStart)
                fail("a frame sent without its start byte");
            const bool checked =
                f.back() == SettingsImage::checkByteOf(std::span(f.data(), f.size() - 1));
            if (f.size() == frame::kHandshakeSize) {
                if (f[1] != frame::kHandshake || f[2] != frame::kHandshake)
                    fail("a bad handshake answer");
            } else if (f.size() == frame::kRequestSize) {
                if (f[1] != frame::kRead || f[2] >= layout::kBlockCount || !checked)
                    fail("a bad read request");
            } else if (f.size() == frame::kBlockFrameSize) {
                const auto block = settings.image.block(f[2]);
                if (f[1] != frame::kWrite || !block || !checked ||
                    !std::equal(block->begin(), block->end(), f.begin() + 3))
                    fail("a bad write frame");
            } else {
                fail("a frame of " + std::to_string(f.size()) + " bytes sent");
            }
        }
        port.sent.clear();
    }

    void deliverRaw(const Bytes& b) {
        port.deliver(b);
        delivered += b.size();
    }

    void deliver(const Bytes& b) {
        deliverRaw(b);
        tick();
    }

    // A built frame, whole or cut in two a tick apart.
    void deliver(const BuiltFrame& f, std::size_t cut) {
        line.frameAt(delivered, f);
        const Bytes b = f.bytes();
        if (cut > 0 && cut < b.size()) {
            deliverRaw(Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(cut)));
            tick();
            deliverRaw(Bytes(b.begin() + static_cast<std::ptrdiff_t>(cut), b.end()));
        } else {
            deliverRaw(b);
        }
        tick();
    }

    void connected() {
        link.connectCommand();
        line.frameAt(delivered, BuiltFrame::hello());
        deliverRaw(handshake());
        tick();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    Rig r;
    switch (in.byte() % 3) {
    case 0:
        r.link.connectCommand();
        break;
    case 1:
        r.connected();
        r.link.readCommand();
        break;
    default: {
        r.connected();
        SettingsImage::Bytes image;
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<std::uint8_t>(i * 7 + 3);
        r.settings.image.setBytes(image);
        r.link.beginWrite();
    }
    }

    int ops = 0;
    while (!in.empty() && ++ops < 4000) {
        const std::uint8_t op = in.byte() % 8;
        switch (op) {
        case 0:
        case 1:
        case 2:
        case 3:
            r.deliver(in.bytes(in.word() % 700));
            break;
        case 4: {
            const auto before = r.settings.image.bytes();
            for (int n = in.byte() % 64; n >= 0; --n) {
                r.link.Timer2Timer();
                if (r.link.block_no >= layout::kBlockCount)
                    fail("block_no left 0..7 in a 300 ms tick");
            }
            if (r.settings.image.bytes() != before)
                fail("a 300 ms tick changed the image");
            break;
        }
        case 5: {
            const std::uint8_t third = in.byte();
            Bytes d = in.bytes(layout::kBlockSize);
            d.resize(layout::kBlockSize, 0xFF);
            r.deliver(BuiltFrame::reply(third, d.data()), in.word() % 600);
            break;
        }
        case 6: {
            const std::uint8_t b = in.byte();
            r.deliver(BuiltFrame::ackOf(b), in.byte() % 5);
            break;
        }
        default:
            switch (in.byte() % 5) {
            case 0:
                r.link.connectCommand();
                break;
            case 1:
                r.link.readCommand();
                break;
            case 2:
                r.link.beginWrite();
                break;
            case 3:
                r.link.readWindowOk();
                break;
            default:
                r.link.connectionLostOk();
            }
            r.checkSent();
        }
    }
    return 0;
}
