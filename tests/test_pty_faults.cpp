// The link through the real serial port layer and a pseudo-terminal, against
// the simulated device failing in each way a cable or a device can. The
// simulator runs in this thread on a virtual clock: the ticks move the clock,
// and the rig waits only for the kernel to pass bytes through the terminal,
// so the seconds of line time of every case take milliseconds.
#include "device_link.h"
#include "device_settings.h"
#include "frame_bytes.h"
#include "link_recorder.h"
#include "pty_device_server.h"
#include "pty_test_support.h"
#include "random_image.h"
#include "session.h"
#include "simulated_device.h"
#include "system_serial_port.h"
#include "tick_driver.h"

#include <QTest>

#include <chrono>
#include <functional>
#include <memory>

using namespace trellikon;
using namespace std::chrono_literals;
using trellikon::testing::ack;
using trellikon::testing::CountingPort;
using trellikon::testing::readReply;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using Image = SettingsImage::Bytes;

namespace {

constexpr int kConn = 0, kRead = 1, kWrite = 2;

// A bare DeviceLink on the system's serial port, the device on a PtyDeviceServer, one clock.
class Rig {
  public:
    Rig(const Image& memory, const SimulatedFaults& faults) : device(memory, faults) {
        PtyServerOptions options;
        options.baud = 0; // the ticks, not the line speed, decide what a read finds
        options.powerOnDelayMs = 300;
        options.clock = [this] { return now(); };
        server = std::make_unique<PtyDeviceServer>(device, options);
        started = server->start(error);
        link.setPortName(server->slavePath());
        // What the session adds to a bare link: the decoding after a read,
        // what a write cut short leaves (no register, so no copy to name).
        out.onOutcome = [this](LinkOutcome what) {
            if (what == LinkOutcome::ReadComplete && !link.readingCopy())
                settings.decodeAll();
        };
        link.interruptedWriteNote = [this] {
            return interruptedWriteText(std::min<int>(link.block_no, layout::kBlockCount), 0);
        };
        ticks.beforeTick = [this](TickDriver::Tick) { settle(); };
        ticks.afterTick = [this](TickDriver::Tick which) {
            if (which == TickDriver::Tick::Timer1 && afterTick)
                afterTick();
            if (which == TickDriver::Tick::Timer2 && onTimer2)
                onTimer2();
            settle();
        };
    }

    Clock::time_point now() const { return epoch + std::chrono::milliseconds(clock.now); }
    // The device's own milliseconds, for what it is told to send.
    std::int64_t deviceMs() const { return clock.now; }

    // Lets the simulator do everything due by now, and waits until every byte
    // either side sent has reached the other. Only the kernel's passing bytes
    // through the terminal takes real time; the guard is far beyond it.
    void settle() {
        const auto giveUp = Clock::now() + 30s;
        while (server) {
            server->poll(1);
            const auto due = server->nextDue();
            if (server->bytesFromPc() == port.written && !(due && *due <= now()) &&
                port.taken + port.port.waiting() == server->bytesToPc())
                return;
            if (Clock::now() > giveUp) {
                stuck = true;
                return;
            }
        }
    }

    // The main window's two timers on the virtual clock until `done`, or
    // `limit` 1000 ms ticks. `afterTick` runs after each 1000 ms tick, before
    // the device has heard what that tick sent.
    void runUntil(const std::function<bool()>& done, int limit) {
        ticks.runTicksUntil([&] { return stuck || done(); }, limit);
    }

    // The programming cable pulled: the device's end of the terminal closes.
    void pullCable() { server.reset(); }

    SimulatedDevice device;
    const Clock::time_point epoch = Clock::now();
    ManualTickClock clock;
    std::unique_ptr<PtyDeviceServer> server;
    bool started = false;
    std::string error;
    bool stuck = false;
    std::function<void()> afterTick, onTimer2;

    CountingPort port;
    LinkRecorder out;
    DeviceSettings settings;
    DeviceLink link{settings, port, out};
    TickDriver ticks{clock, [this] { link.Timer1Timer(); }, [this] { link.Timer2Timer(); }};
};

// `first` blocks of `a`, the rest of `b`.
Image blocksThenRest(const Image& a, int first, const Image& b) {
    Image r = b;
    std::copy(a.begin(), a.begin() + first * 512, r.begin());
    return r;
}

std::uint8_t xorOf(const Bytes& b, std::size_t n) {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < n; ++i)
        x ^= b[i];
    return x;
}

// A memory whose block 1 reply, split the way `faults` splits it, has a first
// part with the same XOR as the same bytes of the block 0 reply: evaluated
// with block 0's bytes behind it, that part passes block 0's check byte.
Image stalePassingMemory(SimulatedFaults& faults) {
    Image memory = randomImage(31);
    for (faults.seed = 1;; ++faults.seed) {
        SimulatedDevice probe(memory, faults);
        const std::uint8_t request[] = {0xAA, 0x03, 0x01, 0x02};
        probe.receive(request, sizeof request);
        const std::size_t cut = probe.takeOutput().front().bytes.size();
        if (cut < 4 || cut > 514)
            continue;
        const Bytes r0 = readReply(0, memory.data());
        const Bytes r1 = readReply(1, memory.data() + 512);
        memory[512] ^= static_cast<std::uint8_t>(xorOf(r0, cut) ^ xorOf(r1, cut));
        return memory;
    }
}

} // namespace

class TestPtyFaults : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void faultsEndInTheirDocumentedState_data();
    void faultsEndInTheirDocumentedState();
};

void TestPtyFaults::faultsEndInTheirDocumentedState_data() {
    QTest::addColumn<QString>("transfer"); // read or write
    QTest::addColumn<QString>("fault");
    for (const char* t : {"read", "write"}) {
        for (const char* f :
             {"flipped bits", "split frames", "dropped frames", "silence", "pulled cable"})
            QTest::addRow("%s: %s", t, f) << t << f;
    }
    QTest::newRow("read: a split reply that passes a stale check") << "read"
                                                                   << "stale check";
    QTest::newRow("read: duplicate handshake") << "read"
                                               << "duplicate handshake";
    QTest::newRow("read: bytes after the read has ended") << "read"
                                                          << "bytes after the end";
    QTest::newRow("write: acknowledgements naming other blocks") << "write"
                                                                 << "wrong ack";
}

void TestPtyFaults::faultsEndInTheirDocumentedState() {
    // Each fault ends in its documented state, with no byte in the image or the device that was not
    // sent.
    QFETCH(QString, transfer);
    QFETCH(QString, fault);
    const bool writing = transfer == "write";
    Image memory = randomImage(21);
    const Image image = randomImage(22);

    SimulatedFaults faults;
    faults.seed = 5;
    SimulatedFaults staleSplit;
    staleSplit.splitFrame = 1;
    if (fault == "flipped bits")
        faults.flipBit = 0.25;
    if (fault == "split frames")
        faults.splitFrame = 0.2;
    if (fault == "dropped frames")
        faults.dropFrame = 0.25;
    if (fault == "silence")
        faults.silentAfterFrames = 3;
    if (fault == "duplicate handshake")
        faults.duplicateHandshake = 1;
    if (fault == "wrong ack")
        faults.wrongAckBlock = 0.3;
    if (fault == "stale check")
        memory = stalePassingMemory(staleSplit);

    Rig rig(memory, faults);
    QVERIFY2(rig.started, rig.error.c_str());
    int injected = 0;
    rig.device.onFault = [&](const char*) { ++injected; };

    // Connect: the device announces itself a moment after the port opens.
    QVERIFY(rig.link.connectCommand());
    rig.runUntil([&] { return rig.link.connected != 0; }, 5);
    QVERIFY(rig.out.last() == LinkOutcome::Connected);
    QVERIFY(rig.link.connected);
    QCOMPARE(rig.out.status, QString::fromUtf8(texts::kConnectedStatus));
    QCOMPARE(rig.out.labels[kConn][1], QString::fromUtf8(texts::kConnectedWindow));
    if (fault == "duplicate handshake") {
        // The second handshake is answered too and starts the closing delay again.
        Clock::time_point second{}, closed{};
        rig.onTimer2 = [&] {
            if (rig.out.closed[kConn] == 1 && closed == Clock::time_point{})
                closed = rig.now();
        };
        rig.runUntil([&] { return rig.device.counters().handshakes == 2; }, 5);
        QCOMPARE(rig.device.counters().handshakes, 2);
        second = rig.now();
        QCOMPARE(rig.out.closed[kConn], 0);
        rig.runUntil([&] { return rig.out.closed[kConn] != 0; }, 10);
        QCOMPARE(rig.out.closed[kConn], 1);
        QVERIFY(closed - second >= 6 * 300ms);
        rig.onTimer2 = nullptr;
    }

    Clock::time_point pulledAt{};
    if (fault == "pulled cable") {
        rig.afterTick = [&] {
            if (rig.link.block_no == 3 && rig.server) {
                rig.pullCable();
                pulledAt = rig.now();
            }
        };
    }
    int stage = 0;
    if (fault == "stale check") {
        // Block 1's reply is split once, at the cut that makes its first part pass.
        rig.afterTick = [&] {
            if (stage == 0 && rig.link.block_no == 1) {
                rig.device.setFaults(staleSplit);
                stage = 1;
            } else if (stage == 1) {
                rig.device.setFaults({});
                stage = 2;
            }
        };
    }

    rig.settings.decoded.texts[0] = "kept";
    if (writing) {
        rig.settings.image.setBytes(image);
        rig.link.beginWrite();
        rig.runUntil([&] { return !rig.link.write_progress; }, 40);
    } else {
        rig.link.readCommand();
        rig.runUntil([&] { return !rig.link.read_active; }, 40);
    }
    rig.afterTick = nullptr;
    QVERIFY(!rig.stuck);
    if (faults.any() || fault == "stale check")
        QVERIFY(injected > 0);

    const bool pulled = fault == "pulled cable";
    const bool fails = fault == "silence" || pulled;
    if (pulled) {
        // A port that reports its device gone ends the transfer within two
        // seconds, not at the time-out kept for a silent device.
        QVERIFY(pulledAt != Clock::time_point{});
        QVERIFY2(rig.now() - pulledAt <= 2s,
                 qPrintable(QString::number((rig.now() - pulledAt) / 1ms)));
    }
    // Where a transfer stopped: silence after three replies, the cable pulled
    // once block 3 was due. A silent device still stores the block it does
    // not acknowledge.
    const int done = 3;
    if (writing) {
        QVERIFY(!rig.link.write_progress && !rig.link.write_active);
        // After a time-out a write can be tried again at once; a lost port
        // needs a new connection.
        QCOMPARE(bool(rig.link.connected), !pulled);
        QVERIFY(rig.settings.image.bytes() == image);
        QVERIFY(rig.out.last() == (pulled  ? LinkOutcome::WriteInterrupted
                                   : fails ? LinkOutcome::WriteTimedOut
                                           : LinkOutcome::WriteComplete));
        if (pulled) {
            // The fixed text first, then the loss and what the device holds.
            QCOMPARE(rig.out.labels[kWrite][1],
                     QString::fromUtf8(texts::kWriteFailed) + "\n" +
                         QString::fromUtf8(texts::kConnectionCut) + "\n" +
                         QString::fromUtf8("Zapis przerwany po bloku 3 z 8: urządzenie zawiera "
                                           "częściowo nowe ustawienia. Podłącz kabel i zapisz "
                                           "ponownie albo przywróć kopię sprzed zapisu."));
            QVERIFY(rig.device.memory() == blocksThenRest(image, done, memory));
        } else if (fails) {
            QCOMPARE(rig.out.labels[kWrite][1], QString::fromUtf8(texts::kWriteFailed));
            const int stored = fault == "silence" ? done + 1 : done;
            QVERIFY(rig.device.memory() == blocksThenRest(image, stored, memory));
        } else {
            QCOMPARE(rig.out.labels[kWrite][1], QString::fromUtf8(texts::kWriteDone));
            QCOMPARE(rig.out.bars[kWrite], 100);
            QVERIFY(rig.device.memory() == image);
            if (fault == "wrong ack")
                QVERIFY(rig.device.counters().writeBlocks > 8);
        }
        return;
    }

    QVERIFY(!rig.link.read_active && !rig.link.request_block);
    QVERIFY(rig.out.last() == (fails ? LinkOutcome::ReadTimedOut : LinkOutcome::ReadComplete));
    if (fails) {
        QCOMPARE(rig.out.labels[kRead][1],
                 QString::fromUtf8(texts::kReadFailed) +
                     (pulled ? "\n" + QString::fromUtf8(texts::kConnectionCut) : QString()));
        QCOMPARE(rig.out.status, QString::fromUtf8(texts::kReadFailedStatus));
        QVERIFY(rig.link.read_failed && !rig.link.connected);
        Image erased;
        erased.fill(0xFF);
        QVERIFY(rig.settings.image.bytes() == blocksThenRest(memory, done, erased));
        QCOMPARE(rig.settings.decoded.texts[0], std::string("kept")); // no decoding
        return;
    }
    QCOMPARE(rig.out.labels[kRead][1], QString::fromUtf8(texts::kReadDone));
    QCOMPARE(rig.out.status, QString::fromUtf8(texts::kConnectedStatus));
    QVERIFY(!rig.link.read_failed && rig.link.connected);
    QVERIFY(rig.settings.image.bytes() == memory);
    DeviceSettings expected;
    expected.image.setBytes(memory);
    expected.decodeAll();
    QVERIFY(rig.settings.decoded == expected.decoded);
    QVERIFY(rig.settings.subscribers == expected.subscribers);

    if (fault == "bytes after the end") {
        // A late reply, an acknowledgement and a lone start byte, a tick apart, change nothing.
        rig.settings.decoded.texts[0] = "edited";
        const QStringList events = rig.out.events;
        const int requests = rig.device.counters().readRequests;
        rig.device.sendUnasked(readReply(3, image.data() + 3 * 512), 0, rig.deviceMs());
        rig.device.sendUnasked(ack(7), 1000, rig.deviceMs());
        rig.device.sendUnasked({0xAA}, 1000, rig.deviceMs());
        const auto taken = rig.port.taken;
        rig.runUntil([] { return false; }, 5);
        QCOMPARE(rig.port.taken, taken + 516 + 4 + 1);
        QVERIFY(rig.settings.image.bytes() == memory);
        QCOMPARE(rig.settings.decoded.texts[0], std::string("edited"));
        QCOMPARE(rig.out.events, events);
        QCOMPARE(rig.device.counters().readRequests, requests);
        QVERIFY(!rig.stuck);
    }
}

QTEST_APPLESS_MAIN(TestPtyFaults)
#include "test_pty_faults.moc"
