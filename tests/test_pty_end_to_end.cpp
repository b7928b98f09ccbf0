// The whole chain on real time: DeviceLink, the termios port, a pseudo-terminal,
// the simulated device at 19200 baud, the two ticks on the steady clock. Before
// each tick the line is let settle (the device's answer wholly in the port), so
// that a machine too busy to keep the beat makes a tick late, not a read fail.
#include "device_link.h"
#include "device_settings.h"
#include "link_recorder.h"
#include "pty_test_support.h"
#include "random_image.h"
#include "system_serial_port.h"
#include "tick_driver.h"

#include <QTest>

using namespace trellikon;
using namespace trellikon::testing;
using Clock = std::chrono::steady_clock;

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
    CountingPort port;
    LinkRecorder windows; // the windows return at once
    DeviceLink link(settings, port, windows);
    link.setPortName(s.path());
    SteadyTickClock clock;
    TickDriver ticks(
        clock, [&] { link.Timer1Timer(); }, [&] { link.Timer2Timer(); });
    bool settled = true;
    ticks.beforeTick = [&](TickDriver::Tick) {
        if (port.valid())
            settled = settled && waitUntil([&] {
                          return s.server().slaveOpen() && lineSettled(s.server(), port);
                      });
    };
    const auto start = Clock::now();

    QVERIFY(link.connectCommand());
    QVERIFY(windows.errors.empty());
    ticks.restart();
    ticks.runTicksUntil([&] { return link.connected != 0; }, 10);
    QVERIFY(settled);
    QVERIFY(link.connected);
    QVERIFY(windows.outcomes == std::vector{LinkOutcome::Connected});

    link.readCommand();
    QVERIFY(link.read_active);
    const int readTicks = ticks.runTicksUntil([&] { return !link.read_active; }, 16).timer1Ticks;
    QVERIFY(settled);
    QVERIFY(!link.read_active);
    QVERIFY(!link.read_failed);
    QVERIFY(windows.outcomes.back() == LinkOutcome::ReadComplete);
    QVERIFY(settings.image.bytes() == memory);

    const auto image = randomImage(12);
    settings.image.setBytes(image);
    link.beginWrite();
    const int writeTicks =
        ticks.runTicksUntil([&] { return !link.write_progress; }, 16).timer1Ticks;
    QVERIFY(settled);
    QVERIFY(windows.outcomes.back() == LinkOutcome::WriteComplete);
    QVERIFY(s.server().memory() == image);
    port.close();

    const auto total = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    qInfo("read %d ticks, write %d ticks, %lld ms in all", readTicks, writeTicks,
          static_cast<long long>(total.count()));
    // As on the virtual line: each tick finds the whole answer to the one before.
    QVERIFY2(readTicks <= 9, qPrintable(QString("%1 ticks").arg(readTicks)));
    QVERIFY2(writeTicks <= 10, qPrintable(QString("%1 ticks").arg(writeTicks)));
}

QTEST_APPLESS_MAIN(TestPtyEndToEnd)
#include "test_pty_end_to_end.moc"
