#pragma once
// One exchange with the device from the command line: the session (link/
// session.h) driven by the same two ticks the main window's timers give it
// (1000 ms and 300 ms), with progress printed instead of shown in windows. The
// session's events end every wait; a wall-clock cap only guards against a link
// that never settles.
//
// A fast session also runs the 1000 ms tick early, the moment a whole answer
// to the last request or block is waiting, so that a transfer moves at the
// line's speed; the time-outs and the pace of repeats stay those of the ticks.

#include "failure.h"
#include "session.h"
#include "tick_driver.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace trellikon::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitDifferent = 1,     // diff: the templates differ
    kExitUsage = 2,         // bad arguments, unreadable file, port that will not open
    kExitLink = 3,          // the device did not answer in time
    kExitVerify = 4,        // read-back after a write differs from the file
    kExitChangedOnSite = 5, // the device changed since the installation's latest version
};

// The ticks' clock: the program sleeps on the steady clock; tests jump.
using TickClock = trellikon::TickClock;
using SteadyTickClock = trellikon::SteadyTickClock;

// A command's exit code follows from its failure's code alone (failure.h):
// a usage error, a file or the port 2, no answer 3, a read-back that differs
// 4, a device changed on site 5, templates that differ 1.
int exitCodeOf(const Failure& failure);

class DeviceSession final : private SessionObserver {
  public:
    // Far beyond the link's own limits (18 s to connect, 15 s per transfer).
    static constexpr std::int64_t kStallLimitMs = 60'000;
    // How often a fast session looks for a whole answer between ticks: about
    // two byte times at 19200 baud, so an answer waits little for its turn.
    static constexpr std::int64_t kPollMs = 1;

    DeviceSession(SerialPort& port, TickClock& clock, std::ostream& progress, bool fast = false);

    // Opens the port and waits for the device's handshake. Without one, the
    // message says what the line carried meanwhile.
    Failure connect(const std::string& portName);
    // The ports named in the advice after a silent attempt (Session::listPorts).
    void listPorts(std::function<std::vector<std::string>()> now) {
        session_.listPorts(nullptr, std::move(now));
    }
    // The register's part in the write's steps (the backup, the record).
    void useStore(SessionStore* store) { session_.useStore(store); }
    // The eight blocks from the device into `into` (left untouched on failure).
    Failure read(SettingsImage::Bytes& into);
    // The write's steps: with a store the backup first; then `decide` (none:
    // proceed with `bytes`); the frames; with `verifyAfter` the read-back,
    // there in readBack() for the write's decision to judge.
    Failure write(const SettingsImage::Bytes& bytes, bool verifyAfter = false);
    // At the decision step: the backup (none without a store, or when the
    // device's content is not known) and the bytes about to be written, which
    // the caller may change. An outcome that is not ok cancels the write.
    std::function<Failure(const std::optional<SettingsImage::Bytes>& backup,
                          SettingsImage::Bytes& toWrite)>
        decide;
    // Called when the backup's read begins and when the read-back begins.
    std::function<void()> backupBegins, verifyBegins;
    // The device's content before the last write, and what the read-back found.
    const std::optional<SettingsImage::Bytes>& backup() const { return session_.backup(); }
    const std::optional<SettingsImage::Bytes>& readBack() const { return session_.readBack(); }
    // What the last write sent, and whether the device acknowledged all of it.
    const SettingsImage::Bytes& sent() const { return session_.sent(); }
    bool sentWhole() const {
        return std::find(events_.begin(), events_.end(), SessionEvent::WriteComplete) !=
               events_.end();
    }
    // Why the backup step refused the last write.
    const std::string& backupError() const { return session_.backupError(); }
    // The last write ended because the port lost its device; then the blocks
    // the device acknowledged, and the register's copy of what it held before.
    bool interrupted() const {
        return std::find(events_.begin(), events_.end(), SessionEvent::WriteInterrupted) !=
               events_.end();
    }
    int blocksAcknowledged() const { return session_.blocksAcknowledged(); }
    std::int64_t backupVersion() const { return session_.backupVersion(); }

  private:
    enum class Wait { Done, Lost, Stalled };

    // The link's port, passed through. A fast session collects arriving bytes
    // here to see when an answer is whole: reading them from the port itself
    // at the link's next step would split the frame, and the link takes a
    // frame only from a single read.
    class GatheringPort final : public SerialPort {
      public:
        explicit GatheringPort(SerialPort& port) : port_(port) {}
        bool open(const std::string& portName, LinkError& error) override;
        void close() override;
        bool valid() const override { return port_.valid(); }
        void flush() override { port_.flush(); }
        bool write(const std::uint8_t* data, std::size_t n) override {
            return port_.write(data, n);
        }
        std::size_t read(std::uint8_t* data, std::size_t max) override;
        bool lost() const override { return port_.lost(); }
        // Takes in what has arrived; returns how many bytes wait for the link.
        std::size_t gather();

      private:
        SerialPort& port_;
        std::vector<std::uint8_t> held_;
    };

    // Runs the ticks until one of `ends` is reported.
    Wait runUntil(std::initializer_list<SessionEvent::Kind> ends);
    bool answerWaiting();
    bool betweenTicks(std::int64_t nextDueMs);
    void tickEarly();
    void reportBlocks(int done);
    void say(const std::string& text);
    // The failure the last event of `kind` since the wait began carried.
    Failure failureOf(SessionEvent::Kind kind) const;
    bool transferring() const { return session_.reading() || session_.writing(); }
    Failure linkFailure(Wait why, SessionEvent::Kind ended);

    // The windows become lines on the progress stream.
    void statusText(const std::string& text) override;
    void labelText(LinkWindow, int, const std::string& text) override { say(text); }
    void barPosition(LinkWindow, int) override {}
    void showWindow(LinkWindow window) override;
    void closeWindow(LinkWindow) override {}
    // The message comes back as the command's failure (the event's).
    void errorMessage(const std::string&, const std::string&) override {}
    void sessionEvent(const SessionEvent& what) override;

    TickClock& clock_;
    std::ostream& progress_;
    const bool fast_;
    GatheringPort port_;
    Session session_;
    TickDriver& ticks_;

    bool lost_ = false;
    bool kick_ = false; // a transfer began: its first frame need not wait for the tick
    std::vector<SessionEvent> events_; // reported since the current wait began
    int blocksReported_ = 0;
    std::string lastLine_;
};

} // namespace trellikon::cli
