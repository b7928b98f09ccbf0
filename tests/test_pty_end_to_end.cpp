// The whole chain on real time: DeviceLink, the termios port, a pseudo-terminal,
// the simulated device at 19200 baud.
#include "random_image.h"
#include "device_link.h"
#include "device_settings.h"
#include "link_recorder.h"
#include "posix_serial_port.h"
#include "pty_test_support.h"

#include <QTest>

#include <functional>
#include <random>

using namespace trellikon;
using namespace trellikon::testing;
using Clock = std::chrono::steady_clock;

namespace {

// The main window's two timers, on the wall clock, until `done` or `budget` runs out.
// Returns the number of 1000 ms ticks.
int tickUntil(DeviceLink& link, const std::function<bool()>& done,
              std::chrono::milliseconds budget) {
    const auto start = Clock::now();
    auto next1 = start + std::chrono::milliseconds(1000);
    auto next2 = start + std::chrono::milliseconds(300);
    int ticks = 0;
    while (!done() && Clock::now() - start < budget) {
        std::this_thread::sleep_until(std::min(next1, next2));
        const auto now = Clock::now();
        // As a timer does: keep the beat, or one interval from now when late.
        auto advance = [now](Clock::time_point& next, std::chrono::milliseconds interval) {
            next += interval;
            if (next < now)
                next = now + interval;
        };
        if (now >= next1) {
            advance(next1, std::chrono::milliseconds(1000));
            link.Timer1Timer();
            ++ticks;
        } else if (now >= next2) {
            advance(next2, std::chrono::milliseconds(300));
            link.Timer2Timer();
        }
    }
    return ticks;
}

} // namespace

class TestPtyEndToEnd : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void connectReadAndWrite();
};

void TestPtyEndToEnd::connectReadAndWrite() {
    // Through the real port layer the device is found, read exactly and written exactly.
    const auto memory = randomImage(11);
    RunningServer s(memory); // 19200 baud, handshake 300 ms after the open
    QVERIFY2(s.ok(), s.error().c_str());

    DeviceSettings settings;
    PosixSerialPort port;
    LinkRecorder windows; // the windows return at once
    DeviceLink link(settings, port, windows);
    link.setPortName(s.path());
    const auto start = Clock::now();

    QVERIFY(link.connectCommand());
    QVERIFY(windows.errors.empty());
    tickUntil(
        link, [&] { return link.connected != 0; }, std::chrono::seconds(4));
    QVERIFY(link.connected);
    QVERIFY(windows.outcomes == std::vector{LinkOutcome::Connected});

    link.readCommand();
    QVERIFY(link.read_active);
    const int readTicks = tickUntil(
        link, [&] { return !link.read_active; }, std::chrono::seconds(16));
    QVERIFY(!link.read_active);
    QVERIFY(!link.read_failed);
    QVERIFY(windows.outcomes.back() == LinkOutcome::ReadComplete);
    QVERIFY(settings.image.bytes() == memory);

    const auto image = randomImage(12);
    settings.image.setBytes(image);
    link.beginWrite();
    const int writeTicks = tickUntil(
        link, [&] { return !link.write_progress; }, std::chrono::seconds(16));
    QVERIFY(windows.outcomes.back() == LinkOutcome::WriteComplete);
    QVERIFY(s.server().memory() == image);
    port.close();

    const auto total = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    qInfo("read %d ticks, write %d ticks, %lld ms in all", readTicks, writeTicks,
          static_cast<long long>(total.count()));
    // One tick more than on the virtual line: a busy machine may make a tick late.
    QVERIFY(readTicks <= 10);
    QVERIFY(writeTicks <= 11);
}

QTEST_APPLESS_MAIN(TestPtyEndToEnd)
#include "test_pty_end_to_end.moc"
