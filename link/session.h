#pragma once
// One exchange with the device, the same for the window program and the
// command line. The session owns the settings image with its decoded
// settings and the link over the port; it listens to the link, passes its
// texts, bars and windows on to its observer unchanged, does what follows an
// outcome (the decoding after a read, the next step of a write) and then tells
// the observer what happened, once, as a SessionEvent. Callers act on those
// events and never on the link's fields.
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
//   verify     when asked for, a read into a copy; its verdict is added to the
//              write's record, and the read-back is there to compare
// A step that starts a transfer never starts inside a tick: it runs through
// `defer` (the window: once the running tick has ended) or, without one, right
// after the tick that finished the step before.

#include "device_link.h"
#include "device_settings.h"
#include "session_store.h"
#include "tick_driver.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace trellikon {

enum class SessionEvent {
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

// What a write cut short leaves in the device and what can be done about it,
// for the installer: `blocks` of 8 acknowledged, `backupVersion` the register's
// copy of the device from before the write (0: none).
std::string interruptedWriteText(int blocks, std::int64_t backupVersion);

class SessionObserver : public LinkObserver {
  public:
    virtual void sessionEvent(SessionEvent) {}
};

// For a caller that shows nothing (the simulated line, the fuzzers, the
// tests): the display calls do nothing; it listens to outcomes and events.
class SilentObserver : public SessionObserver {
  public:
    void statusText(const std::string&) override {}
    void labelText(LinkWindow, int, const std::string&) override {}
    void barPosition(LinkWindow, int) override {}
    void showWindow(LinkWindow) override {}
    void closeWindow(LinkWindow) override {}
    void errorMessage(const std::string&, const std::string&) override {}
};

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
    // The link, for its commands that are not about outcomes (the OK buttons,
    // the port's name, the template save) and for what it knows of the line.
    DeviceLink& link() { return link_; }
    const DeviceLink& link() const { return link_; }
    // The register's part; none records nothing and makes no backup read.
    void useStore(SessionStore* store) { store_ = store; }
    // How a step that starts a transfer is run later (see above).
    std::function<void(std::function<void()>)> defer;

    void Timer1Timer();
    void Timer2Timer();
    // The two ticks on `clock`, for callers without timers of their own;
    // made at the first call.
    TickDriver& tickDriver(TickClock& clock);

    void setPortName(std::string name) { link_.setPortName(std::move(name)); }
    const std::string& portName() const { return link_.port_name.get(); }
    bool connected() const { return link_.connected != 0; }

    bool connect();
    void read();
    void readCopy();
    // The copy once a copy read has stored it whole.
    const Bytes* copy() const { return link_.readCopy(); }
    bool readingCopy() const { return link_.readingCopy(); }

    // The check step alone: the watch off, the connection there. False (and
    // WriteRefused) without one; the caller says why.
    bool writeAllowed();
    // Writes the program's image through the steps; `bytes` first replaces it.
    void write(const WriteSteps& steps = {});
    void write(const Bytes& bytes, const WriteSteps& steps = {});
    // The caller's answer at the decision step.
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
    // What the last write sent (the program's image at its first frame).
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

    void tell(SessionEvent what) { view_.sessionEvent(what); }
    void later(std::function<void()> step);
    void runLater();
    void backupDone(const Bytes& bytes);
    void decide();
    void beginWriting();
    void verified(SessionEvent what);
    void finishStep(SessionEvent what);

    SessionObserver& view_;
    DeviceSettings settings_;
    DeviceLink link_;
    std::unique_ptr<TickDriver> ticks_;
    SessionStore* store_ = nullptr;
    std::function<void()> pending_;

    Step step_ = Step::Idle;
    WriteSteps steps_;
    bool deviceKnown_ = false; // this connection's read, nothing written since
    Bytes known_{};
    std::optional<Bytes> backup_;
    bool backupToStore_ = false; // the backup read waits for proceed to be committed
    std::optional<Bytes> readBack_;
    Bytes sent_{};
    int acknowledged_ = 0;
    std::string backupError_;
};

} // namespace trellikon
