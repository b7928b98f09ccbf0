#pragma once
// A PtyDeviceServer running on its own thread, and a raw opener for its slave.

#include "pty_device_server.h"
#include "simulated_device.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
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

// Reads whatever comes until the line has been quiet for `quietMs` (or
// `limitMs` have passed): the other end has said all it had to say.
inline std::vector<std::uint8_t> readUntilQuiet(int fd, int quietMs, int limitMs) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
    std::vector<std::uint8_t> got;
    while (Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, quietMs) == 0)
            break;
        std::uint8_t buf[1024];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return got;
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

// Waits until the server has seen the program close the line.
inline bool waitForClose(PtyDeviceServer& server, int timeoutMs = 1000) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (server.slaveOpen() && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return !server.slaveOpen();
}

} // namespace trellikon::testing
