// Linux pseudo-terminal behaviour this server relies on, found by experiment:
//
// - While no process has the slave open, poll() on the master reports POLLHUP,
//   but only once the slave has been opened and closed at least once. start()
//   opens and closes it once so that the first real open is seen like every
//   later one. The server never keeps the slave open: that would hide the
//   program's open and close from it.
// - POLLHUP is reported at once and for as long as the slave is closed, so
//   the master cannot be left in the poll set then; it is looked at every few
//   milliseconds instead.
// - Bytes written to the master but not yet read when the program closes the
//   slave stay in the slave's input queue and would greet the next program
//   that opens it. tcflush() on the master does not reach them; a flush on a
//   briefly opened slave does. A real port's input is gone after a close.
// - Terminal settings made on the master are the slave's: raw mode there
//   keeps every byte unchanged until the program sets its own.

#include "pty_device_server.h"

#include "error_text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace trellikon {

namespace {

using namespace std::chrono_literals;

// How often a closed slave is looked at for a new open.
constexpr auto kOpenCheckInterval = 20ms;
// Bytes go out in groups of about this much line time.
constexpr std::int64_t kGroupNs = 2'000'000;
// A chunk that should have started earlier than this starts now instead of
// going out in one burst.
constexpr auto kCatchUpLimit = 5ms;
// The PC's bytes waiting for the device; beyond this the master is not read,
// the pty fills and the program's writes wait, as on a slow cable.
constexpr std::size_t kTowardsDeviceLimit = 64 * 1024;

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

PtyDeviceServer::PtyDeviceServer(SimulatedDevice& device, PtyServerOptions options)
    : device_(device), options_(std::move(options)) {}

PtyDeviceServer::~PtyDeviceServer() {
    if (ownLink_) {
        // Only our own link: another run may have taken the name over.
        char target[PATH_MAX];
        const ssize_t n = ::readlink(options_.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_)
            ::unlink(options_.linkPath.c_str());
    }
    closeFd(master_);
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
}

bool PtyDeviceServer::start(std::string& error) {
    error.clear();
    if (master_ >= 0)
        return true;
    // Whatever was made before a failure goes again, so that a failed start
    // can be retried without losing descriptors.
    auto fail = [&](std::string why) {
        error = std::move(why);
        closeFd(master_);
        closeFd(wakeRead_);
        closeFd(wakeWrite_);
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return fail(errnoText("posix_openpt"));
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0)
        return fail(errnoText("pseudo-terminal setup"));
    slavePath_ = name;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    termios tio{};
    if (::tcgetattr(master_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
    }
    const int primer = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (primer >= 0)
        ::close(primer);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0)
        return fail(errnoText("pipe"));
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];

    if (!options_.linkPath.empty()) {
        const std::string& link = options_.linkPath;
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
            return fail(link + " exists and is not a symbolic link; it was left alone.");
        // Made beside it and renamed over it, so a program never sees the
        // name missing or half made.
        const std::string tmp = link + ".new-" + std::to_string(::getpid());
        ::unlink(tmp.c_str());
        if (::symlink(slavePath_.c_str(), tmp.c_str()) != 0 ||
            ::rename(tmp.c_str(), link.c_str()) != 0) {
            std::string why = errnoText("symbolic link " + link);
            ::unlink(tmp.c_str());
            return fail(std::move(why));
        }
        ownLink_ = true;
    }
    failure_.clear();
    epoch_ = clockNow();
    nextOpenCheck_ = epoch_;
    return true;
}

PtyDeviceServer::Clock::time_point PtyDeviceServer::clockNow() const {
    return options_.clock ? options_.clock() : Clock::now();
}

std::optional<PtyDeviceServer::Clock::time_point> PtyDeviceServer::nextDue() const {
    std::lock_guard lock(mutex_);
    return nextEvent();
}

bool PtyDeviceServer::idle() const {
    std::lock_guard lock(mutex_);
    return !powerOnAt_ && towardsDevice_.empty() && sending_.empty() && !device_.hasOutput();
}

std::int64_t PtyDeviceServer::deviceMs(Clock::time_point t) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t - epoch_).count();
}

PtyDeviceServer::Clock::duration PtyDeviceServer::transmitTime(std::size_t bytes) const {
    if (options_.baud <= 0)
        return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(
        static_cast<std::int64_t>(bytes) * 10 * 1'000'000'000 / options_.baud));
}

std::size_t PtyDeviceServer::groupSize() const {
    if (options_.baud <= 0)
        return 4096;
    return static_cast<std::size_t>(
        std::max<std::int64_t>(1, options_.baud * kGroupNs / 10'000'000'000));
}

std::optional<PtyDeviceServer::Clock::time_point> PtyDeviceServer::nextChunkStart() const {
    if (!slaveOpen_ || !device_.hasOutput())
        return std::nullopt;
    const auto& chunk = device_.nextChunk();
    const auto ready = epoch_ + std::chrono::milliseconds(chunk.readyMs);
    return std::max(deviceLineFree_, ready) + std::chrono::milliseconds(chunk.pauseMs);
}

std::optional<PtyDeviceServer::Clock::time_point> PtyDeviceServer::nextEvent() const {
    std::optional<Clock::time_point> next;
    auto consider = [&next](std::optional<Clock::time_point> t) {
        if (t && (!next || *t < *next))
            next = t;
    };
    if (!slaveOpen_)
        consider(nextOpenCheck_);
    consider(powerOnAt_);
    if (!towardsDevice_.empty())
        consider(towardsDevice_.front().at);
    if (!sending_.empty()) {
        if (!masterFull_)
            consider(chunkStart_ + transmitTime(std::min(sending_.size(), sent_ + groupSize())));
    } else {
        consider(nextChunkStart());
    }
    return next;
}

bool PtyDeviceServer::poll(int timeoutMs) {
    if (stop_.load() || master_ < 0)
        return false;

    int waitMs = timeoutMs;
    bool readMaster = false;
    {
        std::lock_guard lock(mutex_);
        if (const auto next = nextEvent()) {
            const auto left = *next - clockNow();
            // Rounded up: waking a little early would only spin.
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            const int eventMs = static_cast<int>(std::clamp<std::int64_t>(ms, 0, INT_MAX));
            waitMs = waitMs < 0 ? eventMs : std::min(waitMs, eventMs);
        }
        readMaster = slaveOpen_;
    }
    std::size_t queued = 0; // only the loop thread touches the queues
    for (const auto& d : towardsDevice_)
        queued += d.bytes.size();

    pollfd fds[3];
    nfds_t n = 0;
    fds[n++] = {wakeRead_, POLLIN, 0};
    const nfds_t masterAt = n;
    if (readMaster) {
        short events = queued < kTowardsDeviceLimit ? POLLIN : 0;
        if (masterFull_)
            events = static_cast<short>(events | POLLOUT);
        fds[n++] = {master_, events, 0};
    }
    const nfds_t watchAt = n;
    if (watchFd_ >= 0)
        fds[n++] = {watchFd_, POLLIN, 0};

    if (::poll(fds, n, waitMs) < 0) {
        if (errno != EINTR) {
            // Anything else (no memory, too many descriptors) comes back at
            // once on every call: going round again would only spin.
            failure_ = errnoText("poll");
            stop_.store(true);
            return false;
        }
        for (nfds_t i = 0; i < n; ++i)
            fds[i].revents = 0; // a signal set a flag; look at the flags
    }
    char drain[64];
    while (::read(wakeRead_, drain, sizeof drain) > 0) {
    }
    if (stop_.load())
        return false;

    {
        std::lock_guard lock(mutex_);
        const auto now = clockNow();
        if (readMaster) {
            const short r = fds[masterAt].revents;
            if (r & POLLOUT)
                masterFull_ = false;
            if (r & (POLLHUP | POLLERR | POLLNVAL))
                slaveClosed();
            else if (r & POLLIN)
                readFromPc();
        } else if (now >= nextOpenCheck_) {
            checkForOpen();
        }
        if (powerOnRequested_.exchange(false) && slaveOpen_)
            device_.powerOn(deviceMs(now));
        if (powerOnAt_ && now >= *powerOnAt_) {
            powerOnAt_.reset();
            device_.powerOn(deviceMs(now));
        }
        deliverToDevice(now);
        if (device_.hungUp()) {
            hangUp();
            return false;
        }
        sendToPc(now);
    }

    if (watchFd_ >= 0 && fds[watchAt].revents != 0) {
        if ((fds[watchAt].revents & POLLNVAL) || !onWatchReadable_()) {
            watchFd_ = -1;
            onWatchReadable_ = nullptr;
        }
    }
    return !stop_.load();
}

void PtyDeviceServer::run() {
    while (poll(-1)) {
    }
}

void PtyDeviceServer::wake() {
    if (wakeWrite_ < 0)
        return;
    const int saved = errno; // may run in a signal handler
    const char c = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_, &c, 1);
    errno = saved;
}

void PtyDeviceServer::stop() {
    stop_.store(true);
    wake();
}

void PtyDeviceServer::powerOn() {
    powerOnRequested_.store(true);
    wake();
}

SettingsImage::Bytes PtyDeviceServer::memory() const {
    std::lock_guard lock(mutex_);
    return device_.memory();
}

void PtyDeviceServer::watch(int fd, std::function<bool()> onReadable) {
    watchFd_ = onReadable ? fd : -1;
    onWatchReadable_ = std::move(onReadable);
}

void PtyDeviceServer::checkForOpen() {
    nextOpenCheck_ = clockNow() + kOpenCheckInterval;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP))
        slaveOpened();
}

void PtyDeviceServer::slaveOpened() {
    const auto now = clockNow();
    slaveOpen_ = true;
    slaveOpenShared_.store(true);
    powerOnAt_ = now + std::chrono::milliseconds(std::max(options_.powerOnDelayMs, 0));
    pcLineFree_ = now;
    deviceLineFree_ = now;
    masterFull_ = false;
    if (onSlaveOpenChanged)
        onSlaveOpenChanged(true);
}

void PtyDeviceServer::slaveClosed() {
    slaveOpen_ = false;
    powerOnAt_.reset();
    towardsDevice_.clear();
    sending_.clear();
    sent_ = 0;
    masterFull_ = false;
    device_.discardOutput();
    flushSlaveInput();
    // Told only now: a program that opens the port again as soon as it sees
    // it closed must not find the old reply's bytes still in the queue.
    slaveOpenShared_.store(false);
    nextOpenCheck_ = clockNow() + kOpenCheckInterval;
    if (onSlaveOpenChanged)
        onSlaveOpenChanged(false);
}

void PtyDeviceServer::hangUp() {
    // Closing the device end hangs the terminal up: the program's next call
    // on its port meets the hang-up, as when a USB adapter is pulled out.
    closeFd(master_);
    slaveOpen_ = false;
    slaveOpenShared_.store(false);
    powerOnAt_.reset();
    towardsDevice_.clear();
    sending_.clear();
    sent_ = 0;
    hungUp_.store(true);
    if (onSlaveOpenChanged)
        onSlaveOpenChanged(false);
}

void PtyDeviceServer::flushSlaveInput() {
    ::tcflush(master_, TCIOFLUSH);
    const int s = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s >= 0) {
        ::tcflush(s, TCIOFLUSH);
        ::close(s);
    }
}

void PtyDeviceServer::readFromPc() {
    std::uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // EAGAIN: all read; EIO: the slave is closing, POLLHUP follows
        bytesFromPc_ += static_cast<std::uint64_t>(n);
        // Each group reaches the device when its last byte would have come
        // down the cable.
        const auto now = clockNow();
        const std::size_t group = groupSize();
        for (std::size_t i = 0; i < static_cast<std::size_t>(n); i += group) {
            const std::size_t len = std::min(group, static_cast<std::size_t>(n) - i);
            pcLineFree_ = std::max(pcLineFree_, now) + transmitTime(len);
            towardsDevice_.push_back(
                {pcLineFree_, std::vector<std::uint8_t>(buf + i, buf + i + len)});
        }
    }
}

void PtyDeviceServer::deliverToDevice(Clock::time_point now) {
    while (!towardsDevice_.empty() && towardsDevice_.front().at <= now) {
        const Delivery d = std::move(towardsDevice_.front());
        towardsDevice_.pop_front();
        device_.receive(d.bytes.data(), d.bytes.size(), deviceMs(d.at));
    }
}

void PtyDeviceServer::sendToPc(Clock::time_point now) {
    if (!slaveOpen_)
        return;
    for (;;) {
        if (sending_.empty()) {
            const auto start = nextChunkStart();
            if (!start || *start > now)
                return;
            sending_ = device_.takeChunk().bytes;
            sent_ = 0;
            chunkStart_ = std::max(*start, now - kCatchUpLimit);
            if (sending_.empty())
                continue;
        }
        std::size_t due = sending_.size();
        if (options_.baud > 0) {
            const auto elapsedNs =
                std::chrono::duration_cast<std::chrono::nanoseconds>(now - chunkStart_).count();
            const auto bytes =
                std::max<std::int64_t>(elapsedNs, 0) * options_.baud / 10'000'000'000;
            due = std::min(due, static_cast<std::size_t>(bytes));
        }
        while (sent_ < due && !masterFull_) {
            const ssize_t w = ::write(master_, sending_.data() + sent_, due - sent_);
            if (w > 0) {
                sent_ += static_cast<std::size_t>(w);
                bytesToPc_ += static_cast<std::uint64_t>(w);
            } else if (w < 0 && errno == EINTR)
                continue;
            else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                masterFull_ = true; // the program is not reading; wait for room
            else
                return; // the slave is going away; POLLHUP follows
        }
        if (sent_ < sending_.size())
            return;
        deviceLineFree_ = chunkStart_ + transmitTime(sending_.size());
        sending_.clear();
        sent_ = 0;
    }
}

} // namespace trellikon
