#pragma once
// One exchange with the device, the same for the window program and the
// command line. The session owns the settings image with its decoded
// settings and the link over the port; it listens to the link, passes its
// texts, bars and windows on to its observer unchanged (they only display),
// does what follows an outcome (the decoding after a read, the next step of a
// write) and then tells the observer what happened, once, as a SessionEvent
// that carries what went wrong. Callers act on those events and the session's
// commands and questions; the link itself stays inside.
//
// A write is a run of steps, each with its place for the register
// (SessionStore):
//   check      the watch goes off; without a connection nothing is written
//   backup     the device's present content: this connection's read while the
//              device still holds it, else a read into a copy made now
//   decision   the session waits until the caller says proceed (with the bytes
//              to write) or cancel; the backup is there to look at. Only on
//              proceed is the backup committed, so a write the caller stops
//              leaves the register as it was and the next attempt asks again
//   write      the frames; the write is recorded at the last acknowledgement,
//              or, when the port loses its device first, as interrupted with
//              the blocks acknowledged
//   verify     when asked for, a read into a copy, there in readBack(); the
//              write's decision (register/write_decision.h) judges it and
//              adds the verdict to the write's record
// A step that starts a transfer never starts inside a tick: it waits in
// `later` until the running tick has ended.

#include "device_link.h"
#include "device_settings.h"
#include "session_store.h"
#include "tick_driver.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trellikon {

// What the session reports, once for each thing that happened: its kind and,
// for the kinds that end in a failure, what went wrong, worded as the windows
// word it (failure.h):
//   PortOpenFailed    the port's code (NoSuchDevice, Busy...), the message box's
//                     text and its detail (the system's words, the device)
//   ConnectFailed     NoAnswer; the connection window's text, and as the detail
//                     why no handshake came (what the line carried, the ports)
//   ReadFailed        NoAnswer; the read window's text (the loss of the port said)
//   ReadRefused, WriteRefused   NoAnswer; the text that asks for a connection
//   BackupFailed      why the present content could not be kept; NoAnswer when
//                     its read did not come, with that read's text as the detail
//   WriteFailed, WriteInterrupted   NoAnswer; the write window's text (for a
//                     write cut short, what it leaves in the device after it)
//   VerifyFailed      NoAnswer; the read-back's text
//   ConnectionLost    NoAnswer; the status line's text after the notice
struct SessionEvent {
    enum Kind {
        Connected,        // a handshake arrived
        ConnectFailed,    // no handshake within the connection time
        PortOpenFailed,   // the port would not open (the message was shown)
        ReadComplete,     // the program's image read whole and decoded
        ReadCopyComplete, // a read into a copy stored whole (a comparison's, the backup's)
        ReadFailed,       // a read timed out
        ReadRefused,      // a read without a connection (the message was shown)
        WriteRefused,     // a write without a connection
        BackupStarted,    // the backup's read into a copy begins
        BackupFailed,     // the present content could not be kept: nothing is written
        DecisionNeeded,   // the session waits for proceed() or cancel()
        WriteCancelled,   // the caller said cancel at the decision
        WriteComplete,    // the device acknowledged the last block
        WriteFailed,      // a write timed out
        VerifyStarted,    // the read-back begins
        VerifyComplete,   // the read-back is in readBack()
        VerifyFailed,     // the read-back did not come
        ConnectionLost,   // the device fell silent while the watch was on
        // The port lost its device during the frames: blocksAcknowledged() of the
        // eight are the new ones, the rest may be old; the register recorded what
        // was sent, and backupVersion() keeps what the device held before.
        WriteInterrupted,
    };
    Kind kind = Connected;
    Failure failure; // none for the kinds that are no failure

    friend bool operator==(const SessionEvent& e, Kind k) { return e.kind == k; }
};

// What a write cut short leaves in the device and what can be done about it,
// for the installer: `blocks` of 8 acknowledged, `backupVersion` the register's
// copy of the device from before the write (0: none).
std::string interruptedWriteText(int blocks, std::int64_t backupVersion);

// Who runs a session: it shows what the link shows, and acts on events.
class SessionObserver : public virtual LinkDisplay {
  public:
    virtual void sessionEvent(const SessionEvent&) {}
};

// For a caller that shows nothing (the simulated line, the fuzzers, the
// tests): the display calls do nothing; it listens to events.
class SilentObserver : public SessionObserver, public SilentDisplay {};

struct WriteSteps {
    bool verify = false; // a read-back after the last acknowledgement
    // The same bytes once more, after a read-back found them different: the
    // device's content is what that read found, so no backup and no decision.
    bool again = false;
};

class Session final : private LinkObserver {
  public:
    using Bytes = SettingsImage::Bytes;
    enum class Step { Idle, BackingUp, Deciding, Writing, Verifying };

    Session(SerialPort& port, SessionObserver& view);

    DeviceSettings& settings() { return settings_; }
    // The register's part; none records nothing and makes no backup read.
    void useStore(SessionStore* store) { store_ = store; }

    // Steps that must not run inside a tick (see above) wait here, in order.
    // Without `wake` they run right after the tick that queued them; with it
    // the caller is told that one waits and runs them by runDeferred() when
    // it can (the window: once the tick is over and no write window is up).
    void later(std::function<void()> step);
    std::function<void()> wake;
    bool stepWaiting() const { return !waiting_.empty(); }
    // Runs the steps waiting now; those they queue wait for the next call.
    void runDeferred();

    void Timer1Timer();
    void Timer2Timer();
    // The two ticks on `clock`, for callers without timers of their own;
    // made at the first call.
    TickDriver& tickDriver(TickClock& clock);

    // The port and the line.
    void setPortName(std::string name) { link_.setPortName(std::move(name)); }
    const std::string& portName() const { return link_.port_name.get(); }
    // The ports that appeared since the program started and the ports there
    // now, named in the advice after a silent attempt; none when not set.
    void listPorts(std::function<std::vector<std::string>()> appeared,
                   std::function<std::vector<std::string>()> now);
    // Why the last connect command could not open the port.
    const LinkError& lastOpenError() const { return link_.lastOpenError(); }
    // Back to the state at program start (no connection, nothing under way).
    void reset() { link_.reset(); }

    // What the exchange is doing now.
    bool connected() const { return link_.connected != 0; }
    bool connecting() const { return link_.connecting != 0; }
    bool watching() const { return link_.watch_link != 0; } // the loss watch is on
    // The loss watch's ticks since the device last spoke; the notice comes
    // at the tick after DeviceLink::kSilenceLimit.
    int silentTicks() const { return link_.silence_ticks; }
    bool reading() const { return link_.read_active != 0; }
    bool readFailed() const { return link_.read_failed != 0; }
    bool writing() const { return link_.write_progress != 0; }
    bool sending() const { return link_.write_active != 0; } // write frames leave at each tick

    bool connect();
    void read();
    void readCopy();
    // The copy once a copy read has stored it whole.
    const Bytes* copy() const { return link_.readCopy(); }
    bool readingCopy() const { return link_.readingCopy(); }

    // The OK buttons of the link's windows. The read window's: true when the
    // parameters editor should be opened; after a failed read the connection
    // is given up. The connection-lost notice's: the connection is given up.
    bool readWindowOk() { return link_.readWindowOk(); }
    void connectionLostOk() { link_.connectionLostOk(); }
    // Stops sending write frames; the write's bar and time-out run on (the
    // template save ends with it).
    void endWrite() { link_.endWrite(); }

    // The check step alone: the watch off, the connection there. False (and
    // WriteRefused) without one; the caller says why.
    bool writeAllowed();
    // Writes the program's image through the steps (copied into the
    // outgoing buffer at the first frame), or `bytes`; the program's image
    // stays as it is either way.
    void write(const WriteSteps& steps = {});
    void write(const Bytes& bytes, const WriteSteps& steps = {});
    // The caller's answer at the decision step: `bytes` are sent instead.
    void proceed(const Bytes& bytes);
    void proceed();
    void cancel();
    Step step() const { return step_; }
    // The device's content before the write: the backup read, or this
    // connection's read when it still holds; none without a store.
    const std::optional<Bytes>& backup() const { return backup_; }
    // Why the backup step refused the write.
    const std::string& backupError() const { return backupError_; }
    // What the verification read found.
    const std::optional<Bytes>& readBack() const { return readBack_; }
    // What the last write sent (its outgoing buffer).
    const Bytes& sent() const { return sent_; }
    // Blocks stored or acknowledged in the transfer under way (0..8); 0
    // when none is.
    int blocksDone() const;
    // Blocks of the last write the device acknowledged (0..8): all eight after
    // a complete one, fewer after WriteInterrupted or WriteFailed.
    int blocksAcknowledged() const { return acknowledged_; }
    // The register's version of the device's content from before the last
    // write (its backup, or the read it relied on); 0 without a store or none.
    std::int64_t backupVersion() const { return store_ ? store_->backupVersion() : 0; }

  private:
    void statusText(const std::string& text) override { view_.statusText(text); }
    void labelText(LinkWindow window, int label, const std::string& text) override {
        view_.labelText(window, label, text);
    }
    void barPosition(LinkWindow window, int position) override {
        view_.barPosition(window, position);
    }
    void showWindow(LinkWindow window) override { view_.showWindow(window); }
    void closeWindow(LinkWindow window) override { view_.closeWindow(window); }
    void connectDiagnosis(const std::string& text) override { view_.connectDiagnosis(text); }
    void errorMessage(const std::string& text, const std::string& detail) override {
        view_.errorMessage(text, detail);
    }
    void outcome(LinkOutcome what) override;

    void tell(SessionEvent::Kind what, Failure failure = {});
    void startWrite(const WriteSteps& steps);
    void backupDone(const Bytes& bytes);
    void decide();
    void beginWriting();
    void verified(SessionEvent::Kind what, Failure failure = {});
    void finishStep(SessionEvent::Kind what, Failure failure = {});

    SessionObserver& view_;
    DeviceSettings settings_;
    DeviceLink link_;
    std::unique_ptr<TickDriver> ticks_;
    SessionStore* store_ = nullptr;
    std::vector<std::function<void()>> waiting_;

    Step step_ = Step::Idle;
    WriteSteps steps_;
    // What this connection read of the device, nothing written since: the
    // look before a write without a store. With one, the store alone says
    // what of the device is committed (SessionStore::storedContent).
    std::optional<Bytes> known_;
    std::optional<Bytes> backup_;
    bool backupToStore_ = false; // the backup read waits for proceed to be committed
    std::optional<Bytes> readBack_;
    std::optional<Bytes> chosen_; // the bytes to send instead of the program's image
    Bytes sent_{};                // the outgoing buffer the link writes from
    int acknowledged_ = 0;
    std::string backupError_;
};

} // namespace trellikon
