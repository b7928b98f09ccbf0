// How many ticks the exchange takes on a 19200 baud line, in virtual time.
#include "random_image.h"
#include "virtual_line.h"

#include <QTest>

#include <random>

using namespace trellikon;

namespace {

constexpr std::int64_t kMs = 1'000'000;

} // namespace

class TestLinkTiming : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanLineBounds_data();
    void cleanLineBounds();
    void bytesArriveAtLineSpeed_data();
    void bytesArriveAtLineSpeed();
    void blockingSendDelaysTheOtherTimer();
    void splitRepliesCostOneTickEach_data();
    void splitRepliesCostOneTickEach();
};

void TestLinkTiming::cleanLineBounds_data() {
    QTest::addColumn<int>("phaseMs");
    QTest::addColumn<int>("processingMs");
    QTest::newRow("command just after a tick") << 1 << 5;
    QTest::newRow("command half way between ticks") << 500 << 5;
    QTest::newRow("command just before a tick") << 999 << 5;
    QTest::newRow("device slow to answer (200 ms)") << 500 << 200;
}

void TestLinkTiming::cleanLineBounds() {
    // On a clean line a read ends within 9 ticks of its command and a write within 10.
    QFETCH(int, phaseMs);
    QFETCH(int, processingMs);
    const VirtualLine::Options line{19200, processingMs};

    VirtualLinkRig reader(randomImage(1), {}, line);
    const auto read = reader.read(phaseMs);
    QVERIFY(read.finished);
    QVERIFY2(read.ticks <= 9, qPrintable(QString("read took %1 ticks").arg(read.ticks)));
    QVERIFY(read.identical);
    QCOMPARE(reader.device().counters().readRequests, 8);

    VirtualLinkRig writer(randomImage(2), {}, line);
    const auto write = writer.write(randomImage(3), phaseMs);
    QVERIFY(write.finished);
    QVERIFY2(write.ticks <= 10, qPrintable(QString("write took %1 ticks").arg(write.ticks)));
    QVERIFY(write.identical);
    QCOMPARE(writer.device().counters().writeBlocks, 8);
}

void TestLinkTiming::bytesArriveAtLineSpeed_data() {
    // Times count from the end of a read request; the device answers 5 ms
    // after it, and each of the 516 bytes takes 0.52 ms.
    QTest::addColumn<double>("afterMs");
    QTest::addColumn<int>("expected");
    QTest::newRow("nothing while the device thinks") << 4.0 << 0;
    QTest::newRow("one byte after one byte time") << 5.5 << 1;
    QTest::newRow("half the reply half way") << 139.0 << 257;
    QTest::newRow("the whole reply after 269 ms") << 275.0 << 516;
    QTest::newRow("nothing more later") << 2000.0 << 516;
}

void TestLinkTiming::bytesArriveAtLineSpeed() {
    // The PC reads only the bytes that have arrived, and a send keeps it busy for the frame's time.
    QFETCH(double, afterMs);
    QFETCH(int, expected);
    SimulatedDevice device(randomImage(4));
    VirtualLine line(device);
    LinkError error;
    QVERIFY(line.port().open("COM1", error));
    const std::uint8_t request[] = {0xAA, 0x03, 0x05, 0x06};
    QVERIFY(line.port().write(request, sizeof request));
    QCOMPARE(line.nowNs(), 4 * 10 * 1'000'000'000ll / 19200);

    line.advanceByMs(afterMs);
    std::vector<std::uint8_t> got(600);
    const auto n = static_cast<int>(line.port().read(got.data(), got.size()));
    QVERIFY2(std::abs(n - expected) <= 1, qPrintable(QString("%1 bytes arrived").arg(n)));
    if (n == 516)
        QCOMPARE(got[515], SettingsImage::checkByteOf(std::span(got.data(), 515)));

    // A block frame takes 268.75 ms to leave, and the clock moves with it.
    std::vector<std::uint8_t> block(516, 0);
    const auto before = line.nowNs();
    QVERIFY(line.port().write(block.data(), block.size()));
    QCOMPARE(line.nowNs() - before, 268'750'000ll);
}

void TestLinkTiming::blockingSendDelaysTheOtherTimer() {
    // A tick that blocks while sending makes the 300 ms tick late once; it then keeps its own beat.
    SimulatedDevice device;
    VirtualLine line(device);
    LinkError error;
    line.port().open("COM1", error);
    LineTickClock clock(line);
    const std::vector<std::uint8_t> block(516, 0);
    std::vector<std::int64_t> fired;
    TickDriver ticks(
        clock, [&] { line.port().write(block.data(), block.size()); },
        [&] { fired.push_back(line.nowNs()); });
    while (fired.size() < 6)
        ticks.step();
    const std::vector<std::int64_t> expected = {
        300 * kMs, 600 * kMs, 900 * kMs, 1000 * kMs + 268'750'000, 1500 * kMs, 1800 * kMs};
    QCOMPARE(fired, expected);
}

void TestLinkTiming::splitRepliesCostOneTickEach_data() {
    QTest::addColumn<bool>("reading");
    QTest::newRow("read") << true;
    QTest::newRow("write") << false;
}

void TestLinkTiming::splitRepliesCostOneTickEach() {
    // A reply split across ticks is asked for again and costs one tick, not the transfer.
    QFETCH(bool, reading);
    int splitRuns = 0;
    for (unsigned seed = 1; seed <= 30; ++seed) {
        SimulatedFaults faults;
        faults.seed = seed;
        faults.splitFrame = 0.15;
        VirtualLinkRig rig(randomImage(seed), faults);
        int splits = 0;
        rig.device().onFault = [&](const char* what) {
            splits += std::string(what) == "reply split";
        };
        const auto r = reading ? rig.read(seed * 37 % 1000)
                               : rig.write(randomImage(seed + 50), seed * 37 % 1000);
        const auto what =
            QString("seed %1: %2 ticks, %3 splits").arg(seed).arg(r.ticks).arg(splits);
        // Only so many repeats fit into the time-out of about 15 ticks.
        if (9 + splits <= 14) {
            QVERIFY2(r.finished, qPrintable(what));
            QVERIFY(r.identical);
            QVERIFY2(r.ticks == 9 + splits, qPrintable(what));
        }
        splitRuns += splits > 0;
    }
    QVERIFY(splitRuns >= 10); // the faults really happened
}

QTEST_APPLESS_MAIN(TestLinkTiming)
#include "test_link_timing.moc"
