#pragma once
// The simulated device on a pseudo-terminal for the tests: on a thread of its
// own (RunningServer) or on the test's thread with a clock the test moves
// (SteppedServer); a raw opener for the slave, a port that counts what crosses
// it, and waits that end on what the server reports, never on a guess of how
// long the machine takes. Their time limits are only failure guards.

#include "pty_device_server.h"
#include "simulated_device.h"
#include "system_serial_port.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace trellikon::testing {

class RunningServer {
  public:
    explicit RunningServer(const SettingsImage::Bytes& memory, PtyServerOptions options = {},
                           SimulatedFaults faults = {})
        : device_(memory, faults), server_(device_, std::move(options)) {
        ok_ = server_.start(error_);
        if (ok_)
            thread_ = std::thread([this] { server_.run(); });
    }
    ~RunningServer() {
        server_.stop();
        if (thread_.joinable())
            thread_.join();
    }
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    PtyDeviceServer& server() { return server_; }
    const std::string& path() const { return server_.slavePath(); }

  private:
    SimulatedDevice device_;
    PtyDeviceServer server_;
    std::string error_;
    bool ok_ = false;
    std::thread thread_;
};

// The slave opened the way a terminal program would: raw, non-blocking.
inline int openRaw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fd;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

// Reads until `want` bytes have come or `timeoutMs` has passed.
inline std::vector<std::uint8_t> readFor(int fd, std::size_t want, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> got;
    while (got.size() < want) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        std::uint8_t buf[1024];
        const ssize_t n = ::read(fd, buf, std::min(sizeof buf, want - got.size()));
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
    }
    return got;
}

// Reads what has arrived, without waiting.
inline std::vector<std::uint8_t> readAvailable(int fd) {
    std::vector<std::uint8_t> got;
    for (;;) {
        std::uint8_t buf[1024];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
        else if (!(n < 0 && errno == EINTR))
            return got;
    }
}

inline void writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pollfd p{fd, POLLOUT, 0}; // until the other end has taken some
            if (::poll(&p, 1, 3000) <= 0)
                return;
        }
    }
}

// A guard far beyond anything the kernel or a busy machine takes.
inline constexpr int kGuardMs = 30'000;

// Waits until `ready` holds, looking every millisecond; false if the guard ran out.
inline bool waitUntil(const std::function<bool()>& ready, int guardMs = kGuardMs) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(guardMs);
    while (!ready()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Waits until the server has seen the program close the line.
inline bool waitForClose(PtyDeviceServer& server, int guardMs = kGuardMs) {
    return waitUntil([&] { return !server.slaveOpen(); }, guardMs);
}

// The program's port, counting what crosses it so that a test can tell when
// the terminal has delivered everything.
class CountingPort : public SerialPort {
  public:
    bool open(const std::string& name, LinkError& error) override { return port.open(name, error); }
    void close() override { port.close(); }
    bool valid() const override { return port.valid(); }
    bool lost() const override { return port.lost(); }
    void flush() override { port.flush(); }
    bool write(const std::uint8_t* data, std::size_t n) override {
        const bool ok = port.write(data, n);
        if (ok)
            written += n;
        return ok;
    }
    std::size_t read(std::uint8_t* data, std::size_t max) override {
        const std::size_t n = port.read(data, max);
        taken += n;
        return n;
    }
    SystemSerialPort port;
    std::uint64_t written = 0, taken = 0;
};

// The line has carried everything: the server took every byte the program
// wrote, the device has nothing left to send, and all it sent waits in the
// program's port or was read. What a busy machine delays is waited for.
inline bool lineSettled(PtyDeviceServer& server, CountingPort& port) {
    return server.bytesFromPc() == port.written && server.idle() &&
           port.taken + port.port.waiting() == server.bytesToPc();
}

// The server on the test's thread, on a clock that moves only when the test
// says: pacing, pauses and gaps are exact, whatever the machine's speed.
class SteppedServer {
  public:
    using Clock = std::chrono::steady_clock;

    explicit SteppedServer(const SettingsImage::Bytes& memory, PtyServerOptions options = {})
        : device_(memory) {
        options.clock = [this] { return now_; };
        server_ = std::make_unique<PtyDeviceServer>(device_, std::move(options));
        ok_ = server_->start(error_);
    }
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    PtyDeviceServer& server() { return *server_; }
    SimulatedDevice& device() { return device_; }
    const std::string& path() const { return server_->slavePath(); }
    std::int64_t elapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - epoch_).count();
    }

    // Moves the clock on and lets the server do what is due by then.
    void advance(std::chrono::microseconds by) {
        now_ += by;
        server_->poll(0);
    }
    // Lets the server run, the clock standing still, until `ready` holds
    // (the kernel passes bytes through the terminal in its own time).
    bool pollUntil(const std::function<bool()>& ready, int guardMs = kGuardMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(guardMs);
        while (!ready()) {
            if (Clock::now() > end)
                return false;
            server_->poll(1);
        }
        return true;
    }

  private:
    SimulatedDevice device_;
    const Clock::time_point epoch_ = Clock::now();
    Clock::time_point now_ = epoch_;
    std::unique_ptr<PtyDeviceServer> server_;
    std::string error_;
    bool ok_ = false;
};

} // namespace trellikon::testing
