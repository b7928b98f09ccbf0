#pragma once
// The exchange with the device, driven by two ticks.
//
// How the pieces of this library fit together:
//   SerialPort / PosixSerialPort   move bytes (termios on Linux, a fake in tests)
//   DeviceLink                     the frame protocol: Timer1Timer (1000 ms) receives,
//                                  evaluates and sends frames; Timer2Timer (300 ms) runs
//                                  the time-outs, the progress bars and the loss watch
//   LinkDisplay                    everything the protocol shows: status line, labels,
//                                  bars, windows to show or close
//   LinkObserver                   the display and the outcomes, for the session
//   Session (session.h)            what follows an outcome; the one channel callers
//                                  hear outcomes on, as SessionEvents
//   frame                          the frame bytes both ends of the cable agree on
//   LineCensus                     what the line carried while waiting for the
//                                  handshake, said when none came
//   TickDriver                     the two ticks on a clock of the caller's choice
//                                  (the command line's steady clock, a test's jumps)
//
// The device's side (the simulated device, the in-memory port, the
// pseudo-terminal server and the virtual line) lives in sim/, a library the
// program does not link.
//
// DeviceLink owns no timer and no window; time is whatever calls its ticks.

#include "device_settings.h"
#include "frame.h"
#include "line_census.h"
#include "serial_port.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace trellikon {

// The windows the protocol drives.
enum class LinkWindow {
    Connection,     // waits for the device's handshake; labels 1 and 2, bar 0..150
    ReadProgress,   // label 1, bar 0..100
    WriteProgress,  // label 1, bar 0..100
    ConnectionLost, // the device fell silent
};

// What happened to the exchange, for callers that act on it rather than show
// it. An outcome is reported at the moment the link decides it, before the
// texts that tell the user; a complete read is reported once its last block is
// stored. The link decodes nothing: the session does, on that report.
enum class LinkOutcome {
    Connected,     // a handshake arrived (again, for every repeated handshake)
    ConnectFailed, // no handshake within the connection time
    ReadComplete,  // all eight blocks stored
    ReadTimedOut,
    WriteComplete, // the device acknowledged the last block
    WriteTimedOut,
    ConnectionLost, // the device fell silent while the watch was on
    // The port lost its device (a cable pulled out) before the last block was
    // acknowledged: the device holds the blocks acknowledged so far and maybe
    // the one on its way. A read cut short the same way ends as ReadTimedOut.
    WriteInterrupted,
};

// Everything the protocol shows: the status line, the windows' labels and
// bars, windows to show or close, error messages. A display and no more.
class LinkDisplay {
  public:
    virtual ~LinkDisplay() = default;
    virtual void statusText(const std::string& text) = 0; // the main window's status line
    virtual void labelText(LinkWindow window, int label, const std::string& text) = 0;
    virtual void barPosition(LinkWindow window, int position) = 0;
    // Shows a window modally. May return only when the window has been closed;
    // the ticks keep being called meanwhile.
    virtual void showWindow(LinkWindow window) = 0;
    virtual void closeWindow(LinkWindow window) = 0;
    // Why a connection attempt got no handshake, said after the fixed texts
    // of the status line and the connection window (below them); an empty
    // text when an attempt begins takes the last one away.
    virtual void connectDiagnosis(const std::string&) {}
    // An error message box: the fixed text, and details for the curious.
    virtual void errorMessage(const std::string& text, const std::string& detail) = 0;
};

// What the link talks to: its display, and whoever acts on its outcomes (the
// session; a rig that drives a bare link).
class LinkObserver : public virtual LinkDisplay {
  public:
    virtual void outcome(LinkOutcome) {}
};

// A display that shows nothing (the simulated line, the fuzzers, the tests).
class SilentDisplay : public virtual LinkDisplay {
  public:
    void statusText(const std::string&) override {}
    void labelText(LinkWindow, int, const std::string&) override {}
    void barPosition(LinkWindow, int) override {}
    void showWindow(LinkWindow) override {}
    void closeWindow(LinkWindow) override {}
    void errorMessage(const std::string&, const std::string&) override {}
};

namespace texts {
// Fixed texts of the exchange, exactly as the user sees them (UTF-8).
extern const char* const kConnecting;
extern const char* const kConnectedStatus;
extern const char* const kConnectedWindow;
extern const char* const kConnectFailed;
extern const char* const kConnectFailedHint;
extern const char* const kReadStarted;
extern const char* const kReadDone;
extern const char* const kReadFailed;
extern const char* const kReadFailedStatus;
extern const char* const kWriteStarted;
extern const char* const kWriteDone;
extern const char* const kWriteFailed;
// Said after the failure text of a transfer that ended because the port lost
// its device.
extern const char* const kConnectionCut;
extern const char* const kReadNotConnected;
extern const char* const kPortOpenFailed; // followed directly by the port name
extern const char* const kConnectionLostStatus;
extern const char* const kInitialStatus;
} // namespace texts

class DeviceLink;

// One value of the link's state: everyone reads it, only the link changes it.
// Windows and tools change the state by the link's commands, never by hand.
template <typename T> class LinkValue {
  public:
    operator const T&() const { return value_; }
    const T& get() const { return value_; }

  private:
    friend class DeviceLink;
    LinkValue& operator=(const T& value) {
        value_ = value;
        return *this;
    }
    LinkValue& operator++() {
        ++value_;
        return *this;
    }
    T value_{};
};

class DeviceLink {
  public:
    static constexpr int kConnectBarMax = 150;
    static constexpr int kProgressBarMax = 100;
    static constexpr int kBarStep = 6;
    static constexpr int kSilenceLimit = 80;
    static constexpr int kCloseDelay = 6;
    static constexpr int kConnectLimit = 60;
    static constexpr int kTransferLimit = 50;

    // The link reads into and writes from the image alone.
    DeviceLink(SettingsImage& image, SerialPort& port, LinkObserver& observer);
    DeviceLink(DeviceSettings& settings, SerialPort& port, LinkObserver& observer)
        : DeviceLink(settings.image, port, observer) {}

    // Events.
    void Timer1Timer(); // receive step, then send step
    void Timer2Timer(); // supervision step

    // Commands.
    // Connect command: begins an attempt, opens the port, shows the connection
    // window. False when the port could not be opened (the message was shown).
    bool connectCommand();
    // Read command: refuses without a connection, else erases the image and
    // shows the read progress window. The link does not decode what it read.
    void readCommand();
    // Read into a copy: the same frames, ticks, time-outs, texts and progress
    // window as readCommand, but the blocks go into a buffer of the link's own,
    // so the program's image stays as it was. The read window's OK then opens
    // no editor.
    void readCopyCommand();
    // The copy once a copy read has stored all eight blocks (already when its
    // outcome is reported); nothing while it runs, after it failed, or once
    // another read has begun.
    const SettingsImage::Bytes* readCopy() const;
    // Whether the last read begun was one into the copy.
    bool readingCopy() const { return copy_read_; }
    // Starts sending the image (the caller has checked `connected` and encoded).
    void beginWrite();
    // Starts sending `bytes`, which must stay as they are until the write has
    // ended (the session's outgoing buffer); the image is not touched.
    void beginWrite(const SettingsImage::Bytes& bytes);
    // Stops sending write frames; a write's bar and time-out run on. The
    // template save ends with it.
    void endWrite();
    // Turns the connection-loss watch off; only the next connect arms it again.
    // A write command does this first, before it looks at the connection.
    void disarmWatch();
    // Back to the state at program start: no connection, no watch, no read or
    // write under way, the silence count at 0. The other tick counters are
    // left as they are.
    void reset();
    // Takes the line as connected without a handshake, for rigs that measure
    // the transfers alone (the program always connects by a handshake).
    void assumeConnected();
    // The port the next connect command opens ("COM1" until chosen).
    void setPortName(std::string name);

    // The OK buttons of the windows this protocol drives.
    // Read progress: true when the parameters editor should be opened; after a
    // failed read the connection is given up.
    bool readWindowOk();
    void connectionLostOk();

    // Port operations in the form the frames use.
    bool Read_Comm(std::size_t n);
    // False when the port failed the send or cut it short.
    bool Write_Comm(std::size_t n);

    int bar(LinkWindow window) const;
    const LinkError& lastOpenError() const { return open_error_; }
    // The port's failed open as its message box says it: the fixed text with
    // the port's name, the system's words (and the device the name stood
    // for) as the detail; the code of lastOpenError.
    Failure openFailure() const;
    // The words the last failed attempt or transfer shows in its window (its
    // first label), known already when its outcome is reported; a write cut
    // short says what it leaves in the device after them (interruptedWriteNote).
    const std::string& failureText() const { return failure_text_; }
    // Why the last connection attempt got no handshake (connectDiagnosis),
    // known already when ConnectFailed is reported.
    const std::string& diagnosis() const { return diagnosis_; }
    // What the line carried since the last connect command opened the port.
    const LineCensus& lineCensus() const { return census_.census(); }
    // The ports that appeared since the program started, and the ports there
    // now, for the advice after a silent attempt; none when not set.
    std::function<std::vector<std::string>()> appearedPorts;
    std::function<std::vector<std::string>()> portsNow;
    // What a write cut short by a lost port leaves in the device, said after
    // the fixed texts of its window; asked after the outcome was reported.
    std::function<std::string()> interruptedWriteNote;

    // Link state; every field starts at 0. Read-only outside the link.
    LinkValue<std::string> port_name;
    LinkValue<std::uint8_t> connected;
    LinkValue<std::uint8_t> connecting;
    LinkValue<std::uint8_t> answer_handshake;
    LinkValue<int> connect_ticks;
    LinkValue<std::uint8_t> watch_link;
    LinkValue<int> silence_ticks;
    LinkValue<std::uint8_t> close_connect_window;
    LinkValue<int> close_delay_ticks;
    LinkValue<std::uint8_t> block_no;
    LinkValue<std::uint8_t> request_block;
    LinkValue<std::uint8_t> read_active;
    LinkValue<int> read_ticks;
    LinkValue<std::uint8_t> read_failed;
    LinkValue<std::uint8_t> write_active;
    LinkValue<std::uint8_t> write_progress;
    LinkValue<int> write_ticks;

    const std::array<std::uint8_t, frame::kBufferSize>& send_buffer() const { return send_; }
    const std::array<std::uint8_t, frame::kBufferSize>& receive_buffer() const { return receive_; }
    // How many bytes the last Read_Comm put at the start of receive_buffer.
    // Whatever lies beyond them is left over from earlier reads.
    std::size_t receive_count() const { return receive_count_; }

    // Read-only view for callers that report progress (the command-line tool).
    std::uint64_t framesSent() const { return frames_sent_; }
    // Frames the port failed to send whole; the protocol's time-outs handle them.
    std::uint64_t failedSends() const { return failed_sends_; }

  private:
    void beginRead(bool copy);
    void failRead(const std::string& text);
    void endTransferOnLoss();
    void receiveStep();
    void sendStep();
    void sendFrame(std::size_t n);
    int* barSlot(LinkWindow window);
    void setBar(LinkWindow window, int position);
    void advanceBar(LinkWindow window, int max);
    void label(LinkWindow window, int n, const char* text);

    SettingsImage& image_;
    SerialPort& port_;
    LinkObserver& out_;
    LinkError open_error_;
    LineCensusTaker census_;
    std::array<std::uint8_t, frame::kBufferSize> send_{};
    std::array<std::uint8_t, frame::kBufferSize> receive_{};
    std::size_t receive_count_ = 0;
    int connect_bar_ = 0;
    int read_bar_ = 0;
    int write_bar_ = 0;
    std::uint64_t frames_sent_ = 0;
    std::uint64_t failed_sends_ = 0;
    SettingsImage copy_;
    const SettingsImage::Bytes* outgoing_ = nullptr; // what a write sends; the image without
    std::string failure_text_;
    std::string diagnosis_;
    bool copy_read_ = false;
    bool copy_complete_ = false;
};

} // namespace trellikon
