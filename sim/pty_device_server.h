#pragma once
// Serves a SimulatedDevice on a pseudo-terminal, so that the real program and
// its real termios layer can be run against the device without hardware.
//
// A program opens the slave end (slavePath(), or the symlink) as it would a
// serial port. Opening it counts as switching the device on: the handshake
// follows a moment later. Closing it loses whatever the device had not sent
// yet, as pulling the cable would. Bytes travel at the configured baud rate
// both ways, timed by the monotonic clock (or the options' clock) in small
// groups, so a 516-byte frame takes its 269 ms at 19200 baud as on the real
// cable. Destroying the server closes the terminal's device end: the program
// sees its port hung up, as when the cable is pulled out.
//
// The loop runs on one thread (run(), or poll() called repeatedly). stop()
// and powerOn() may be called from any thread and from a signal handler;
// memory() from any thread. The device's callbacks run on the loop thread.

#include "settings_image.h"
#include "simulated_device.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace trellikon {

struct PtyServerOptions {
    int baud = 19200;         // 10 bits a byte (8N1); 0: as fast as the pty takes them
    int powerOnDelayMs = 300; // from the slave's opening to the handshake
    std::string linkPath;     // a symlink to the slave, made by start(), removed at the end
    // The time that paces bytes and pauses; empty: the monotonic clock. On a
    // clock of its own (a test's virtual time) the server does at each poll()
    // whatever that clock says is due, so a caller that moves the clock and
    // polls runs seconds of the line in no time.
    std::function<std::chrono::steady_clock::time_point()> clock;
};

class PtyDeviceServer {
  public:
    explicit PtyDeviceServer(SimulatedDevice& device, PtyServerOptions options = {});
    ~PtyDeviceServer(); // closes the pseudo-terminal and removes the symlink
    PtyDeviceServer(const PtyDeviceServer&) = delete;
    PtyDeviceServer& operator=(const PtyDeviceServer&) = delete;

    // Creates the pseudo-terminal and the symlink. A symlink already at the
    // link path is replaced (a crashed run leaves one behind); anything else
    // there is left alone and start() fails. On failure `error` says why.
    bool start(std::string& error);
    const std::string& slavePath() const { return slavePath_; }
    const std::string& linkPath() const { return options_.linkPath; }

    // One round: waits up to `timeoutMs` (-1: until something happens) and
    // does whatever is due. Returns false once stop() was called, or when
    // waiting failed for good (failure() says why).
    bool poll(int timeoutMs);
    // Rounds until stop().
    void run();
    void stop();
    bool stopped() const { return stop_.load(); }
    // The device hung up (SimulatedFaults::hangUpAfterBlock): the terminal was
    // closed and the loop has ended. Any thread.
    bool hungUp() const { return hungUp_.load(); }
    // Why the loop ended by itself (waiting for events failed for good);
    // empty while it runs and after stop(). Read it on the loop thread.
    const std::string& failure() const { return failure_; }

    // Switches the device off and on: it sends its handshake again. Ignored
    // while no program has the slave open, as nobody would hear it.
    void powerOn();
    bool slaveOpen() const { return slaveOpenShared_.load(); }

    // The device's memory as it is now.
    SettingsImage::Bytes memory() const;

    // Also watches `fd` (the simulator's standard input): `onReadable` runs on
    // the loop thread when the descriptor is readable or has hung up, and the
    // watch ends when it returns false.
    void watch(int fd, std::function<bool()> onReadable);

    // Called on the loop thread when a program opens or closes the slave.
    std::function<void(bool open)> onSlaveOpenChanged;

    // When the loop has something to do next by the clock (pass bytes on,
    // end a pause, look for the program's open); nothing when it only waits
    // for bytes from the program.
    std::optional<std::chrono::steady_clock::time_point> nextDue() const;
    // Bytes taken from the program and bytes handed to it so far, from any
    // thread. With the program's own count of what it wrote and read they
    // tell a test when the line has carried everything (no guessing by the
    // clock how long that takes on a busy machine).
    std::uint64_t bytesFromPc() const { return bytesFromPc_.load(); }
    std::uint64_t bytesToPc() const { return bytesToPc_.load(); }
    // Nothing on its way to the device and nothing it still has to send (a
    // pending power-on handshake counts as something to send). Any thread.
    bool idle() const;

  private:
    using Clock = std::chrono::steady_clock;

    struct Delivery {
        Clock::time_point at;
        std::vector<std::uint8_t> bytes;
    };

    Clock::time_point clockNow() const;
    std::int64_t deviceMs(Clock::time_point t) const;
    Clock::duration transmitTime(std::size_t bytes) const;
    std::size_t groupSize() const;
    std::optional<Clock::time_point> nextChunkStart() const;
    std::optional<Clock::time_point> nextEvent() const;

    void checkForOpen();
    void slaveOpened();
    void slaveClosed();
    void flushSlaveInput();
    void hangUp();
    void readFromPc();
    void deliverToDevice(Clock::time_point now);
    void sendToPc(Clock::time_point now);
    void wake();

    SimulatedDevice& device_;
    PtyServerOptions options_;
    mutable std::mutex mutex_; // held while the loop uses the device

    int master_ = -1;
    int wakeRead_ = -1, wakeWrite_ = -1;
    std::string slavePath_;
    bool ownLink_ = false;
    Clock::time_point epoch_ = Clock::now();

    std::atomic<bool> stop_{false};
    std::atomic<bool> powerOnRequested_{false};
    std::atomic<bool> slaveOpenShared_{false};
    std::atomic<bool> hungUp_{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "used from signal handlers");

    bool slaveOpen_ = false;
    std::optional<Clock::time_point> powerOnAt_;
    Clock::time_point nextOpenCheck_{};

    // PC to device.
    std::deque<Delivery> towardsDevice_;
    Clock::time_point pcLineFree_{};
    // Device to PC: the chunk being sent, how much of it has gone out.
    std::vector<std::uint8_t> sending_;
    std::size_t sent_ = 0;
    Clock::time_point chunkStart_{};
    Clock::time_point deviceLineFree_{};
    bool masterFull_ = false;

    int watchFd_ = -1;
    std::function<bool()> onWatchReadable_;
    std::string failure_;
    std::atomic<std::uint64_t> bytesFromPc_{0};
    std::atomic<std::uint64_t> bytesToPc_{0};
};

} // namespace trellikon
