#pragma once
// The exchange in virtual time: how many ticks a read or a write really takes
// on a 19200 baud cable, measured in microseconds of computing instead of
// seconds of waiting.
//
//   VirtualLine      a serial cable between the PC and a SimulatedDevice on a
//                    virtual clock; its port() is the PC's end
//   LineTickClock    that clock for the tick driver (tick_driver.h), which
//                    fires the timers the way a single-threaded event loop does
//   VirtualLinkRig   DeviceLink, its two ticks and a device, wired together,
//                    with one call per measured read or write
//
// Bytes take 10 bit times each (8N1) in both directions. A write blocks the
// PC until its last byte has left, as the serial port's does, so the clock
// moves on while the PC sends; the next timer then fires late. The device
// sees a frame when its last byte has arrived and answers after a short
// processing time; the PC reads only the bytes that have arrived by then.

#include "device_link.h"
#include "device_settings.h"
#include "serial_port.h"
#include "session.h"
#include "simulated_device.h"
#include "tick_driver.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trellikon {

class VirtualLine {
  public:
    struct Options {
        int baud = 19200;     // 0: bytes take no time at all
        int processingMs = 5; // from a frame's last byte to the device's answer
    };

    explicit VirtualLine(SimulatedDevice& device) : VirtualLine(device, Options{}) {}
    VirtualLine(SimulatedDevice& device, Options options);

    std::int64_t nowNs() const { return now_; }
    // Lets time pass to `ns` (never backwards): the device takes in what has
    // reached it and starts sending what is due.
    void advanceTo(std::int64_t ns);
    void advanceByMs(double ms);
    // The device is switched on now and announces itself.
    void powerOn();

    // The PC's end of the cable.
    SerialPort& port() { return port_; }

    // How long `count` bytes take on the line.
    std::int64_t transmitNs(std::size_t count) const;
    // Bytes on their way to the PC or waiting there, arrived or not.
    std::size_t bytesTowardsPc() const { return towardsPc_.size(); }

  private:
    class PcPort : public SerialPort {
      public:
        explicit PcPort(VirtualLine& line) : line_(line) {}
        bool open(const std::string& portName, LinkError& error) override;
        void close() override { open_ = false; }
        bool valid() const override { return open_; }
        void flush() override {}
        bool write(const std::uint8_t* data, std::size_t n) override;
        std::size_t read(std::uint8_t* data, std::size_t max) override;

      private:
        VirtualLine& line_;
        bool open_ = false;
    };

    struct Delivery {
        std::int64_t atNs;
        std::vector<std::uint8_t> bytes;
    };
    struct Arrival {
        std::int64_t atNs;
        std::uint8_t byte;
    };

    void pcSends(const std::uint8_t* data, std::size_t n);
    std::size_t pcReads(std::uint8_t* data, std::size_t max);
    std::int64_t nextChunkStart() const;

    SimulatedDevice& device_;
    Options options_;
    PcPort port_;
    std::int64_t now_ = 0;
    std::int64_t pcLineFreeNs_ = 0;     // the PC's transmitter is busy until then
    std::int64_t deviceLineFreeNs_ = 0; // the device's transmitter is busy until then
    std::deque<Delivery> towardsDevice_;
    std::deque<Arrival> towardsPc_;
};

// The line's clock as the tick driver's: it moves while the driver sleeps and
// while a frame goes out.
class LineTickClock final : public TickClock {
  public:
    explicit LineTickClock(VirtualLine& line) : line_(line) {}
    std::int64_t nowMs() override { return line_.nowNs() / 1'000'000; }
    void sleepUntilMs(std::int64_t ms) override { line_.advanceTo(ms * 1'000'000); }

  private:
    VirtualLine& line_;
};

// DeviceLink against a SimulatedDevice over a VirtualLine, with Timer1Timer
// every 1000 ms and Timer2Timer every 300 ms.
class VirtualLinkRig {
  public:
    struct Transfer {
        bool finished = false;  // ended by its own success, not by a time-out
        int ticks = 0;          // 1000 ms ticks after the command, up to the end
        bool identical = false; // the PC's image equals the device's memory
    };

    explicit VirtualLinkRig(const SettingsImage::Bytes& memory, SimulatedFaults faults = {},
                            VirtualLine::Options options = {});

    // Starts a read `phaseMs` (0..999) after a 1000 ms tick, on a link that
    // counts as connected, and runs the ticks until the read has ended.
    Transfer read(int phaseMs = 500);
    // The same for writing `image`.
    Transfer write(const SettingsImage::Bytes& image, int phaseMs = 500);

    SimulatedDevice& device() { return device_; }
    VirtualLine& line() { return line_; }
    DeviceLink& link() { return link_; }
    DeviceSettings& settings() { return settings_; }

    // Gives up on a transfer after this many ticks; the protocol's own
    // time-outs end one long before.
    static constexpr int kTickLimit = 100;

  private:
    // The windows return at once and show nothing; the outcome tells a
    // successful write from a timed-out one.
    class QuietObserver : public LinkObserver, public SilentDisplay {
      public:
        void outcome(LinkOutcome what) override { last = what; }
        std::optional<LinkOutcome> last;
    };

    void waitForPhase(int phaseMs);
    // Runs the timers until `ended` holds after a tick; counts the 1000 ms ticks.
    int runUntil(const std::function<bool()>& ended);

    SimulatedDevice device_;
    VirtualLine line_;
    DeviceSettings settings_;
    QuietObserver observer_;
    DeviceLink link_;
    LineTickClock clock_;
    TickDriver ticks_;
};

} // namespace trellikon
