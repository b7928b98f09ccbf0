#pragma once
// The whole program with its windows on a real serial port, a device at the
// port's other end, for the tests that connect, read, edit and program through
// the windows: the pseudo-terminal simulator on Linux, a COM port under Wine.
//
// The link's two timers are ticked by the tick driver on a clock of their own.
// Before each tick the fixture waits until the device's answer to what the
// link last sent (or the handshake after the port opened) has wholly arrived:
// an event, so a busy machine makes a tick late, never an answer missing.
// The wait's limit is only a failure guard.
#include "frame.h"
#include "main_window.h"
#include "system_serial_port.h"
#include "tick_driver.h"
#include "window_test_support.h"

#include <QTest>

#include <functional>
#include <string>

namespace trellikon::testing {

// The system's port, knowing how many bytes the device owes the link.
class AnswerWaitingPort final : public SerialPort {
  public:
    bool open(const std::string& name, LinkError& error) override {
        const bool ok = port.open(name, error);
        owed_ = ok ? frame::kHandshakeSize : 0; // the device announces itself
        return ok;
    }
    void close() override {
        port.close();
        owed_ = 0;
    }
    bool valid() const override { return port.valid(); }
    bool lost() const override { return port.lost(); }
    void flush() override { port.flush(); }
    bool write(const std::uint8_t* data, std::size_t n) override {
        const bool ok = port.write(data, n);
        if (ok && n > 1 && data[0] == frame::kStart) {
            if (n == frame::kRequestSize && data[1] == frame::kRead)
                owed_ = frame::kBlockFrameSize;
            else if (n == frame::kBlockFrameSize && data[1] == frame::kWrite)
                owed_ = frame::kRequestSize; // the acknowledgement
            else
                owed_ = 0; // the handshake answer is not answered
        }
        return ok;
    }
    std::size_t read(std::uint8_t* data, std::size_t max) override {
        const std::size_t n = port.read(data, max);
        owed_ = n >= owed_ ? 0 : owed_ - n;
        return n;
    }
    // What the device owes has arrived and waits to be read.
    bool answerWhole() const { return owed_ == 0 || port.waiting() >= owed_; }

    SystemSerialPort port;

  private:
    std::size_t owed_ = 0;
};

class ProgrammingFixture {
  public:
    explicit ProgrammingFixture(const std::string& portName, int answerGuardMs = 30'000)
        : answerGuardMs_(answerGuardMs) {
        form1.ports().cables = CableMemory(""); // never the user's own
        // The transfers alone: nothing kept in a register, no backup read before a write.
        form1.useRegister({});
        form1.createWindows();
        form1.Timer1->stop();
        form1.Timer2->stop();
        form1.show();
        form1.session().setPortName(portName);
        ticks.beforeTick = [this](TickDriver::Tick) {
            if (!QTest::qWaitFor([this] { return port.answerWhole(); }, answerGuardMs_))
                ++answersMissed;
        };
    }
    EditorsContext& ctx() { return form1.editorsContext(); }
    const DialogWindows& windows() { return form1.dialogWindows(); }

    // The two timers, in time order, until `done` holds.
    bool tickUntil(const std::function<bool()>& done, int maxTimer1Ticks = 60) {
        return ticks.runTicksUntil(done, maxTimer1Ticks).done;
    }
    // The three ticks of the 50 ms timer after which an editor's handlers act.
    void armEditor() {
        form1.Timer3->stop();
        for (int i = 0; i < 3; ++i)
            form1.Timer3Timer();
    }

    AnswerWaitingPort port;
    RecordingMessageBoxes messages;
    ScriptedFileDialogs files;
    TForm1 form1{port, messages, files};
    ManualTickClock clock;
    TickDriver ticks{clock, [this] { form1.Timer1Timer(); }, [this] { form1.Timer2Timer(); }};
    int answersMissed = 0; // waits that ran into the guard

  private:
    int answerGuardMs_;
};

} // namespace trellikon::testing
