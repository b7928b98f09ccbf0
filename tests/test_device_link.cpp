// The frame protocol on ticks, against a scripted line and a simulated device.
#include "device_link.h"
#include "frame_bytes.h"
#include "link_recorder.h"
#include "memory_port.h"
#include "random_image.h"
#include "simulated_device.h"

#include <QTest>

#include <random>

using namespace trellikon;
using trellikon::testing::BuiltFrame;
using trellikon::testing::judgeTick;
using trellikon::testing::LinkSnapshot;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int kConn = 0, kRead = 1, kWrite = 2, kLost = 3;

using trellikon::testing::ack;
using trellikon::testing::handshake;
using trellikon::testing::readReply;

// A link wired to a scripted port (tests deliver bytes by hand).
// The link decodes nothing: what it read is decoded on its outcome, as the
// session does.
struct Bench {
    MemoryPort port;
    LinkRecorder out;
    // The frames delivered, where they lie on the line: what a judged tick
    // may have done is told from them, not from the bytes.
    trellikon::testing::Line line{true};
    std::size_t delivered = 0;
    DeviceSettings settings;
    DeviceLink link{settings, port, out};
    SimulatedDevice* device;
    explicit Bench(SimulatedDevice* d = nullptr) : port(d), device(d) {
        out.onOutcome = [this](LinkOutcome what) {
            if (what == LinkOutcome::ReadComplete && !link.readingCopy())
                settings.decodeAll();
        };
    }

    // Connect to the attached device, which announces itself at power-on.
    void connectToDevice() {
        QVERIFY(link.connectCommand());
        device->powerOn();
        link.Timer1Timer();
        QVERIFY(link.connected);
    }

    void connectNow() {
        QVERIFY(link.connectCommand());
        deliver(BuiltFrame::hello());
        link.Timer1Timer();
        QVERIFY(link.connected);
        port.sent.clear();
    }
    void deliver(const Bytes& bytes) {
        port.deliver(bytes);
        delivered += bytes.size();
    }
    // A frame that begins `later` bytes after the next byte delivered, whole or in parts.
    void expect(const BuiltFrame& f, std::size_t later = 0) { line.frameAt(delivered + later, f); }
    void deliver(const BuiltFrame& f) {
        expect(f);
        deliver(f.bytes());
    }
    // One 1000 ms tick; fails when it did something the frames it read do not allow.
    void judgedTick() {
        const std::size_t waiting = port.waiting();
        const std::size_t at = delivered - waiting;
        const auto before = LinkSnapshot::of(link, settings);
        link.Timer1Timer();
        const std::string verdict = judgeTick(before, LinkSnapshot::of(link, settings),
                                              line.read(at, waiting - port.waiting()));
        QVERIFY2(verdict.empty(), verdict.c_str());
    }
    int countSent(std::uint8_t command) const {
        int n = 0;
        for (const auto& f : port.sent)
            n += f.size() > 1 && f[1] == command;
        return n;
    }
};

} // namespace

class TestDeviceLink : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void frameBytes();
    void handshakeConnects();
    void duplicateHandshakeIsAnsweredTwice();
    void portOpenFailure();
    void fullReadWithSimulatedDevice();
    void damagedRepliesAreRequestedAgain_data();
    void damagedRepliesAreRequestedAgain();
    void writeFollowsTheDevicesBlockNumber();
    void acknowledgementAboveSevenEndsTheWrite_data();
    void acknowledgementAboveSevenEndsTheWrite();
    void fullWriteWithSimulatedDevice();
    void timeouts_data();
    void timeouts();
    void secondConnectAttemptGetsFullTime();
    void connectionLossWatch();
    void okBeforeReadEnds();
    void unpluggedPortFailsQuietly();
    void untrustedBytesNeverEscapeTheImage();
    void splitRepliesNeverStoreForeignBytes();
    void partialFrameIsNotCompletedByStaleBytes_data();
    void partialFrameIsNotCompletedByStaleBytes();
    void framesCountOnlyInTheirTransfer_data();
    void framesCountOnlyInTheirTransfer();
    void onlyWholeFramesCountUnderRandomSplits();
    void failedAttemptSaysWhatTheLineCarried_data();
    void failedAttemptSaysWhatTheLineCarried();
    void censusSeesFramesAcrossReads_data();
    void censusSeesFramesAcrossReads();
    void diagnosisTexts_data();
    void diagnosisTexts();
};

void TestDeviceLink::frameBytes() {
    // Read requests, acknowledgements and write frames carry 0xAA XOR their bytes as check.
    Bench b;
    b.connectNow();
    b.link.readCommand();
    const Bytes data(512, 0x11);
    for (std::uint8_t n = 0; n < 5; ++n) { // blocks 0..4 stored: the same tick asks for 5
        b.deliver(readReply(n, data.data()));
        b.link.Timer1Timer();
    }
    QCOMPARE(b.link.block_no, std::uint8_t(5));
    QCOMPARE(b.port.sent.back(), (Bytes{0xAA, 0x03, 0x05, 0x06}));

    Bench w;
    w.connectNow();
    w.settings.image.setBlock(0, Bytes(512, 0));
    w.link.beginWrite();
    w.link.Timer1Timer();
    QCOMPARE(w.port.sent.size(), std::size_t(1));
    const Bytes& f = w.port.sent.back();
    QCOMPARE(f.size(), std::size_t(516));
    QCOMPARE(f[0], std::uint8_t(0xAA));
    QCOMPARE(f[1], std::uint8_t(0x02));
    QCOMPARE(f[2], std::uint8_t(0x00));
    QCOMPARE(f[515], std::uint8_t(0x02));
    // The device's acknowledgement of block 7, as it puts it on the line, ends the write.
    w.port.deliver({0xAA, 0x02, 0x07, 0x05});
    w.link.Timer1Timer();
    QVERIFY(w.out.last() == LinkOutcome::WriteComplete);
}

void TestDeviceLink::handshakeConnects() {
    // A handshake is answered in the same tick and the connection window closes ~2 s later.
    Bench b;
    QVERIFY(b.link.connectCommand());
    QCOMPARE(b.out.shown[kConn], 1);
    QCOMPARE(b.out.labels[kConn][1],
             QString::fromUtf8("Trwa nawiązywanie polączenia z urządzeniem"));
    QCOMPARE(b.out.status, QString::fromUtf8("Trwa nawiązywanie polączenia z urządzeniem"));
    QCOMPARE(b.port.opened, std::vector<std::string>{"COM1"});
    QVERIFY(b.link.connecting && b.link.watch_link);
    b.link.Timer1Timer(); // nothing waiting
    QVERIFY(b.port.sent.empty());
    b.deliver({0xAA, 0x01, 0x01});
    b.link.Timer1Timer();
    QCOMPARE(b.port.sent, (std::vector<Bytes>{{0xAA, 0x01, 0x01}}));
    QVERIFY(b.link.connected && !b.link.connecting);
    QCOMPARE(b.out.status, QString::fromUtf8("Połączenie z urządzeniem nawiązane"));
    QCOMPARE(b.out.labels[kConn][1], QString::fromUtf8("Polaczenie z urządzeniem nawiązane"));
    QCOMPARE(b.out.bars[kConn], 150);
    for (int i = 0; i < 6; ++i)
        b.link.Timer2Timer();
    QCOMPARE(b.out.closed[kConn], 0);
    b.link.Timer2Timer();
    QCOMPARE(b.out.closed[kConn], 1);
}

void TestDeviceLink::duplicateHandshakeIsAnsweredTwice() {
    // Every handshake is answered and restarts the connection window's closing delay.
    Bench b;
    QVERIFY(b.link.connectCommand());
    b.deliver({0xAA, 0x01, 0x01});
    b.link.Timer1Timer();
    for (int i = 0; i < 4; ++i)
        b.link.Timer2Timer();
    b.deliver({0xAA, 0x01, 0x01});
    b.link.Timer1Timer();
    QCOMPARE(b.countSent(0x01), 2);
    QCOMPARE(b.link.close_delay_ticks, 0);
    for (int i = 0; i < 6; ++i)
        b.link.Timer2Timer();
    QCOMPARE(b.out.closed[kConn], 0);
    b.link.Timer2Timer();
    QCOMPARE(b.out.closed[kConn], 1);
}

void TestDeviceLink::portOpenFailure() {
    // A port that cannot be opened shows the fixed message with its name and no window.
    Bench b;
    b.port.failOpen = true;
    b.link.setPortName("COM4");
    QVERIFY(!b.link.connectCommand());
    QCOMPARE(b.out.errors,
             QStringList{QString::fromUtf8("Niewłaściwa nazwa lub jest aktywny port COM4")});
    QCOMPARE(b.out.shown[kConn], 0);
    QVERIFY(!b.link.connecting);
    // No attempt began, so no loss of connection is reported later either.
    for (int i = 0; i < 200; ++i)
        b.link.Timer2Timer();
    QCOMPARE(b.out.shown[kLost], 0);
    // Opening again closes and reopens: the second open succeeds.
    b.port.failOpen = false;
    QVERIFY(b.link.connectCommand());
    QVERIFY(b.port.valid());
}

void TestDeviceLink::fullReadWithSimulatedDevice() {
    // Eight verified replies fill the image in order; the decoders run once, after block 7.
    SettingsImage::Bytes memory = randomImage(3);
    SettingsImage tmp;
    tmp.setBytes(memory);
    tmp.writeText(0, "HEADER");
    tmp.writeSubscriber(100, "48123456789");
    memory = tmp.bytes();
    SimulatedDevice device(memory);
    Bench b(&device);
    b.connectToDevice();
    b.settings.decoded.texts[0] = "stale";
    b.link.readCommand();
    QCOMPARE(b.out.shown[kRead], 1);
    QCOMPARE(b.out.labels[kRead][1], QString::fromUtf8("Trwa odczyt ustawień urządzenia"));
    int ticks = 0;
    while (b.link.read_active && ticks < 20) {
        b.link.Timer1Timer();
        ++ticks;
        if (b.link.read_active)
            QCOMPARE(QByteArray::fromStdString(b.settings.decoded.texts[0]), QByteArray("stale"));
    }
    QCOMPARE(ticks, 9); // one request per tick, the next one in the tick that stored a block
    QVERIFY(b.settings.image.bytes() == memory);
    QVERIFY((b.out.outcomes == std::vector{LinkOutcome::Connected, LinkOutcome::ReadComplete}));
    QCOMPARE(b.out.labels[kRead][1], QString::fromUtf8("Ustawienia zostały pobrane"));
    QCOMPARE(b.out.bars[kRead], 100);
    QCOMPARE(b.link.block_no, std::uint8_t(7));
    QCOMPARE(b.settings.decoded.message_header(), std::string("HEADER"));
    QCOMPARE(b.settings.subscribers.entry(100).number, std::string("48123456789"));
    QCOMPARE(device.counters().readRequests, 8);
    b.link.Timer1Timer();
    QCOMPARE(device.counters().readRequests, 8); // nothing more is asked
}

void TestDeviceLink::damagedRepliesAreRequestedAgain_data() {
    QTest::addColumn<int>("damage"); // 0 flipped bit, 1 split across ticks, 2 bad start byte
    QTest::newRow("a flipped bit") << 0;
    QTest::newRow("a reply split across two ticks") << 1;
    QTest::newRow("a wrong start byte") << 2;
}

void TestDeviceLink::damagedRepliesAreRequestedAgain() {
    // A reply that fails its check is ignored and the same block is asked for again.
    QFETCH(int, damage);
    Bench b;
    b.connectNow();
    b.link.readCommand();
    b.link.Timer1Timer(); // request for block 0
    std::array<std::uint8_t, 512> data{};
    data.fill(0x5A);
    Bytes good = readReply(0, data.data());
    Bytes bad = good;
    if (damage == 0)
        bad[200] ^= 0x10;
    if (damage == 2)
        bad[0] = 0xAB;
    if (damage == 1) {
        b.deliver(Bytes(good.begin(), good.begin() + 300));
        b.link.Timer1Timer();
        b.deliver(Bytes(good.begin() + 300, good.end()));
    } else {
        b.deliver(bad);
    }
    b.link.Timer1Timer();
    QCOMPARE(b.link.block_no, std::uint8_t(0));
    QCOMPARE(b.settings.image.at(0), std::uint8_t(0xFF));
    QCOMPARE(b.port.sent.back(), (Bytes{0xAA, 0x03, 0x00, 0x03}));
    b.deliver(good);
    b.link.Timer1Timer();
    QCOMPARE(b.link.block_no, std::uint8_t(1));
    QCOMPARE(b.settings.image.at(511), std::uint8_t(0x5A));
    QCOMPARE(b.port.sent.back(), (Bytes{0xAA, 0x03, 0x01, 0x02}));
}

void TestDeviceLink::writeFollowsTheDevicesBlockNumber() {
    // An acknowledgement for block 3 sends block 4 next, even while we were at block 5.
    Bench b;
    b.connectNow();
    b.link.beginWrite();
    QCOMPARE(b.out.labels[kWrite][1], QString::fromUtf8("Trwa zapis ustawień do urządzenia"));
    b.deliver(ack(4));
    b.link.Timer1Timer();
    QCOMPARE(b.link.block_no, std::uint8_t(5));
    b.deliver(ack(3));
    b.link.Timer1Timer();
    QCOMPARE(b.link.block_no, std::uint8_t(4));
    QCOMPARE(b.port.sent.back()[2], std::uint8_t(4));
    // An acknowledgement whose check does not match changes nothing.
    b.deliver({0xAA, 0x02, 0x06, 0x00});
    b.link.Timer1Timer();
    QCOMPARE(b.link.block_no, std::uint8_t(4));
    QCOMPARE(b.port.sent.back()[2], std::uint8_t(4));
}

void TestDeviceLink::acknowledgementAboveSevenEndsTheWrite_data() {
    QTest::addColumn<int>("block");
    QTest::newRow("ack of block 7") << 7;
    QTest::newRow("ack of block 8") << 8;
    QTest::newRow("ack of block 255") << 255;
}

void TestDeviceLink::acknowledgementAboveSevenEndsTheWrite() {
    // Any checked acknowledgement past block 6 ends the write with the success text.
    QFETCH(int, block);
    Bench b;
    b.connectNow();
    b.link.beginWrite();
    b.deliver(ack(static_cast<std::uint8_t>(block)));
    b.link.Timer1Timer();
    QVERIFY(!b.link.write_active && !b.link.write_progress);
    QVERIFY((b.out.outcomes == std::vector{LinkOutcome::Connected, LinkOutcome::WriteComplete}));
    QCOMPARE(b.out.labels[kWrite][1],
             QString::fromUtf8("Programowanie urządzenia zakończono pomyślnie"));
    QCOMPARE(b.out.bars[kWrite], 100);
    QVERIFY(b.link.block_no <= 7);
    const auto sent = b.port.sent.size();
    b.link.Timer1Timer();
    QCOMPARE(b.port.sent.size(), sent); // no further write frames
    b.link.readCommand();
    b.link.Timer1Timer();
    QCOMPARE(b.port.sent.back(), (Bytes{0xAA, 0x03, 0x00, 0x03})); // a read starts at block 0
}

void TestDeviceLink::fullWriteWithSimulatedDevice() {
    // The image reaches the device block by block, each sent until acknowledged.
    SimulatedDevice device;
    Bench b(&device);
    b.connectToDevice();
    b.settings.image.setBytes(randomImage(9));
    b.link.beginWrite();
    int ticks = 0;
    while (b.link.write_progress && ticks < 20) {
        b.link.Timer1Timer();
        ++ticks;
    }
    QCOMPARE(ticks, 9);
    QVERIFY(device.memory() == b.settings.image.bytes());
    QVERIFY(b.link.connected);
    QCOMPARE(device.counters().writeBlocks, 8);
}

void TestDeviceLink::timeouts_data() {
    QTest::addColumn<int>("kind"); // 0 read, 1 write, 2 connect
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("outcome"); // the one LinkOutcome the time-out reports
    QTest::newRow("silent read ends after 51 ticks") << 0 << 51 << int(LinkOutcome::ReadTimedOut);
    QTest::newRow("unacknowledged write ends after 51 ticks")
        << 1 << 51 << int(LinkOutcome::WriteTimedOut);
    QTest::newRow("no handshake ends after 61 ticks") << 2 << 61 << int(LinkOutcome::ConnectFailed);
}

void TestDeviceLink::timeouts() {
    // Overall time-outs count 300 ms ticks from the command, not per block.
    QFETCH(int, kind);
    QFETCH(int, ticks);
    QFETCH(int, outcome);
    Bench b;
    if (kind == 2)
        QVERIFY(b.link.connectCommand());
    else
        b.connectNow();
    if (kind == 0)
        b.link.readCommand();
    if (kind == 1)
        b.link.beginWrite();
    auto running = [&] {
        return kind == 0   ? b.link.read_active
               : kind == 1 ? b.link.write_progress
                           : b.link.connecting;
    };
    for (int i = 1; i < ticks; ++i) {
        b.link.Timer2Timer();
        QVERIFY2(running(), qPrintable(QString("ended at tick %1").arg(i)));
    }
    const auto before = b.out.outcomes.size();
    b.link.Timer2Timer();
    QVERIFY(!running());
    QCOMPARE(b.out.outcomes.size(), before + 1);
    QCOMPARE(int(b.out.outcomes.back()), outcome);
    const QString connectHint =
        QString::fromUtf8("Wybierz port komputera wyłącz i włącz urządzenie a następnie wcisnij "
                          "przycisk \"Nawiąż połączenie\".");
    if (kind == 0) {
        QVERIFY(b.link.read_failed && !b.link.connected && !b.link.request_block);
        QCOMPARE(b.out.labels[kRead][1], QString::fromUtf8("Błąd!  ") + connectHint);
        QCOMPARE(
            b.out.status,
            QString::fromUtf8("Nawiązanie połączenia z komputerem zostało zerwane. Wyłącz i włącz "
                              "urządzenie wybierz port i naciśnij przycisk \"Nawiąż połączenie\""));
        QVERIFY(!b.link.readWindowOk()); // OK then opens no editor
        QVERIFY(!b.link.connected);
    } else if (kind == 1) {
        QVERIFY(!b.link.write_active);
        QVERIFY(b.link.connected); // a write can be started again at once
        QCOMPARE(b.out.labels[kWrite][1], QString::fromUtf8("Błąd!  ") + connectHint.chopped(1));
        const auto sent = b.port.sent.size();
        b.link.Timer1Timer();
        QCOMPARE(b.port.sent.size(), sent);
    } else {
        QVERIFY(!b.link.connected && !b.link.watch_link);
        QCOMPARE(b.out.labels[kConn][1],
                 QString::fromUtf8("Nawiązanie polączenia z ukladem nie powiodlo się."));
        QCOMPARE(b.out.labels[kConn][2], connectHint);
        QCOMPARE(b.out.status, connectHint);
        QCOMPARE(b.out.bars[kConn], 0);
    }
}

void TestDeviceLink::secondConnectAttemptGetsFullTime() {
    // A new attempt after a successful one restarts every counter.
    Bench b;
    QVERIFY(b.link.connectCommand());
    for (int i = 0; i < 20; ++i)
        b.link.Timer2Timer();
    b.deliver({0xAA, 0x01, 0x01});
    b.link.Timer1Timer();
    QVERIFY(b.link.connected);
    QVERIFY(b.link.connectCommand());
    for (int i = 1; i < 61; ++i)
        b.link.Timer2Timer();
    QVERIFY(b.link.connecting);
    b.link.Timer2Timer();
    QVERIFY(!b.link.connecting);
    // The connection bar restarts each time it fills.
    QVERIFY(b.link.connectCommand());
    int restarts = 0, last = 0;
    for (int i = 0; i < 60; ++i) {
        b.link.Timer2Timer();
        restarts += b.out.bars[kConn] < last;
        last = b.out.bars[kConn];
    }
    QCOMPARE(restarts, 2);
}

void TestDeviceLink::connectionLossWatch() {
    // 81 silent ticks after a handshake show the notice once, and the tick may re-enter meanwhile.
    Bench b;
    QVERIFY(b.link.connectCommand());
    b.deliver({0xAA, 0x01, 0x01});
    b.link.Timer1Timer();
    int reentered = 0;
    b.out.onShow = [&](LinkWindow w) {
        if (w != LinkWindow::ConnectionLost)
            return;
        for (int i = 0; i < 100; ++i, ++reentered)
            b.link.Timer2Timer();
    };
    for (int i = 0; i < 80; ++i)
        b.link.Timer2Timer();
    QCOMPARE(b.out.shown[kLost], 0);
    b.link.Timer2Timer();
    QCOMPARE(b.out.shown[kLost], 1);
    QCOMPARE(reentered, 100);
    QVERIFY((b.out.outcomes == std::vector{LinkOutcome::Connected, LinkOutcome::ConnectionLost}));
    b.link.connectionLostOk();
    QVERIFY(!b.link.connected);
    QCOMPARE(
        b.out.status,
        QString::fromUtf8("Nastąpiło zerwanie komunikacji z programem.Wyłącz i włącz urządzenie, "
                          "wybierz port a następnie nasiśnij przycisk \"Nawiąż połączenie\""));
    // A read disarms the watch until the next connect.
    Bench r;
    r.connectNow();
    r.link.readCommand();
    for (int i = 0; i < 200; ++i)
        r.link.Timer2Timer();
    QCOMPARE(r.out.shown[kLost], 0);
}

void TestDeviceLink::okBeforeReadEnds() {
    // OK during a read opens the editor at once; the read goes on and decodes at the end.
    SimulatedDevice device(randomImage(5));
    Bench b(&device);
    b.connectToDevice();
    b.link.readCommand();
    b.link.Timer1Timer();
    b.link.Timer1Timer();
    QVERIFY(b.link.readWindowOk());
    QVERIFY(b.link.read_active);
    while (b.link.read_active)
        b.link.Timer1Timer();
    QVERIFY(b.settings.image.bytes() == device.memory());
    // Without a connection the read is refused with the fixed message.
    Bench n;
    n.link.readCommand();
    QCOMPARE(n.out.errors.size(), 1);
    QVERIFY(n.out.errors[0].startsWith(
        QString::fromUtf8("Odczyt ustawień nie może być przeprowadzony.")));
    QCOMPARE(n.out.shown[kRead], 0);
}

void TestDeviceLink::unpluggedPortFailsQuietly() {
    // A port that vanished mid-read sends nothing, and the read ends at the
    // next 300 ms tick with its failure texts rather than at its time-out.
    SimulatedDevice device(randomImage(6));
    Bench b(&device);
    b.connectToDevice();
    b.link.readCommand();
    b.link.Timer1Timer();
    const auto sentBefore = b.link.framesSent();
    b.port.unplugged = true;
    b.link.Timer1Timer();
    b.link.Timer2Timer();
    QVERIFY(b.link.read_failed);
    QVERIFY(!b.link.read_active);
    QCOMPARE(b.out.labels[kRead][1], QString::fromUtf8(texts::kReadFailed) + "\n" +
                                         QString::fromUtf8(texts::kConnectionCut));
    QVERIFY(!b.link.connected);
    // The sends the port failed are counted as such, not as frames sent.
    QCOMPARE(b.link.framesSent(), sentBefore);
    QVERIFY(b.link.failedSends() > 0);
}

void TestDeviceLink::untrustedBytesNeverEscapeTheImage() {
    // Any byte sequence keeps the block counter on 0..7 and the image in one piece.
    std::mt19937 rng(42);
    for (int round = 0; round < 300; ++round) {
        Bench b;
        b.connectNow();
        if (round % 2)
            b.link.readCommand();
        else
            b.link.beginWrite();
        for (int tick = 0; tick < 30; ++tick) {
            Bytes noise;
            switch (rng() % 4) {
            case 0:
                noise = ack(static_cast<std::uint8_t>(rng()));
                break;
            case 1: {
                std::array<std::uint8_t, 512> d{};
                for (auto& x : d)
                    x = static_cast<std::uint8_t>(rng());
                noise = readReply(static_cast<std::uint8_t>(rng()), d.data());
                break;
            }
            case 2:
                noise.resize(rng() % 700);
                for (auto& x : noise)
                    x = static_cast<std::uint8_t>(rng());
                break;
            default:
                noise = {0xAA, static_cast<std::uint8_t>(rng() % 4)};
            }
            b.deliver(noise);
            b.link.Timer1Timer();
            b.link.Timer2Timer();
            QVERIFY(b.link.block_no <= 7);
            for (const auto& f : b.port.sent)
                QVERIFY(f.size() == 3 || f.size() == 4 || f.size() == 516);
        }
    }
}

namespace {

Bytes randomBlock(std::mt19937& rng) {
    Bytes d(512);
    for (auto& x : d)
        x = static_cast<std::uint8_t>(rng());
    return d;
}

Bytes blockOf(const DeviceSettings& s, int block) {
    const auto& image = s.image.bytes();
    return Bytes(image.begin() + block * 512, image.begin() + (block + 1) * 512);
}

const Bytes kErasedBlock(512, 0xFF);

} // namespace

void TestDeviceLink::splitRepliesNeverStoreForeignBytes() {
    // A reply that arrives in two parts is never completed with an earlier reply's bytes.
    std::mt19937 rng(20240);
    int foreign = 0;
    for (int round = 0; round < 20000; ++round) {
        Bench b;
        b.connectNow();
        b.link.readCommand();
        b.link.Timer1Timer();
        const Bytes data0 = randomBlock(rng);
        const Bytes data1 = randomBlock(rng);
        b.deliver(readReply(0, data0.data()));
        b.link.Timer1Timer();
        QCOMPARE(b.link.block_no, std::uint8_t(1));

        const BuiltFrame reply = BuiltFrame::reply(1, data1.data());
        const Bytes second = reply.bytes();
        const auto cut = static_cast<std::ptrdiff_t>(1 + rng() % 515);
        b.expect(reply);
        b.deliver(Bytes(second.begin(), second.begin() + cut));
        b.judgedTick();
        b.deliver(Bytes(second.begin() + cut, second.end()));
        b.judgedTick();
        foreign += blockOf(b.settings, 1) != kErasedBlock || b.link.block_no != 1;

        b.deliver(reply);
        b.judgedTick();
        QCOMPARE(b.link.block_no, std::uint8_t(2));
        QVERIFY(blockOf(b.settings, 0) == data0);
        QVERIFY(blockOf(b.settings, 1) == data1);
    }
    QCOMPARE(foreign, 0);
}

void TestDeviceLink::partialFrameIsNotCompletedByStaleBytes_data() {
    QTest::addColumn<QString>("phase");   // connect, read or write
    QTest::addColumn<bool>("replyFirst"); // a whole reply for block 0 comes before
    QTest::addColumn<QByteArray>("partial");
    QTest::newRow("AA 03 03 on a fresh link is no reply of zeros")
        << "read" << false << QByteArray("\xAA\x03\x03", 3);
    QTest::newRow("a lone AA after a reply repeats no block")
        << "read" << true << QByteArray("\xAA");
    QTest::newRow("AA 03 after a reply repeats no block")
        << "read" << true << QByteArray("\xAA\x03");
    QTest::newRow("AA 02 02 after the handshake acknowledges no block")
        << "write" << false << QByteArray("\xAA\x02\x02", 3);
    QTest::newRow("a lone AA after a handshake is no handshake")
        << "connect" << false << QByteArray("\xAA");
    QTest::newRow("AA 01 after a handshake is no handshake")
        << "connect" << false << QByteArray("\xAA\x01");
}

void TestDeviceLink::partialFrameIsNotCompletedByStaleBytes() {
    // Bytes left in the buffer by an earlier read never complete a frame that came only in part.
    QFETCH(QString, phase);
    QFETCH(bool, replyFirst);
    QFETCH(QByteArray, partial);
    Bench b;
    b.connectNow();
    if (phase == "connect")
        QVERIFY(b.link.connectCommand());
    if (phase == "read") {
        b.link.readCommand();
        b.link.Timer1Timer();
    }
    if (phase == "write") {
        b.link.beginWrite();
        b.link.Timer1Timer();
    }
    if (replyFirst) {
        std::mt19937 rng(5);
        b.deliver(BuiltFrame::reply(0, randomBlock(rng).data()));
        b.judgedTick();
    }
    const auto before = LinkSnapshot::of(b.link, b.settings);
    const int answers = b.countSent(0x01);
    b.deliver(Bytes(partial.begin(), partial.end()));
    b.judgedTick();
    const auto after = LinkSnapshot::of(b.link, b.settings);
    QCOMPARE(after.block_no, before.block_no);
    QCOMPARE(after.connected, before.connected);
    QVERIFY(after.image == before.image);
    QCOMPARE(b.countSent(0x01), answers);
}

void TestDeviceLink::framesCountOnlyInTheirTransfer_data() {
    QTest::addColumn<QString>("phase");
    QTest::addColumn<QString>("frame"); // reply, ack7 or handshake
    QTest::newRow("a reply with no transfer changes nothing") << "idle"
                                                              << "reply";
    QTest::newRow("a reply after the read has ended changes nothing") << "read done"
                                                                      << "reply";
    QTest::newRow("a reply during a write changes nothing") << "write"
                                                            << "reply";
    QTest::newRow("an acknowledgement during a read changes nothing") << "read"
                                                                      << "ack7";
    QTest::newRow("an acknowledgement with no transfer changes nothing") << "idle"
                                                                         << "ack7";
    QTest::newRow("a late acknowledgement leaves a timed-out write failed") << "write timed out"
                                                                            << "ack7";
    QTest::newRow("a handshake during a read is answered") << "read"
                                                           << "handshake";
    QTest::newRow("a handshake during a write is answered") << "write"
                                                            << "handshake";
}

void TestDeviceLink::framesCountOnlyInTheirTransfer() {
    // Replies count only while a read asks for blocks, acknowledgements only during a write.
    QFETCH(QString, phase);
    QFETCH(QString, frame);
    std::mt19937 rng(77);
    std::array<Bytes, 8> device;
    for (auto& d : device)
        d = randomBlock(rng);
    Bench b;
    b.connectNow();
    if (phase.startsWith("read")) {
        b.link.readCommand();
        b.link.Timer1Timer();
        const int blocks = phase == "read done" ? 8 : 1;
        for (int k = 0; k < blocks; ++k) {
            b.deliver(BuiltFrame::reply(static_cast<std::uint8_t>(k), device[k].data()));
            b.judgedTick();
        }
        QCOMPARE(bool(b.link.read_active), phase == "read");
    }
    if (phase.startsWith("write")) {
        b.settings.image.setBytes(randomImage(8));
        b.link.beginWrite();
        b.link.Timer1Timer();
        if (phase == "write timed out")
            for (int i = 0; i < 51; ++i)
                b.link.Timer2Timer();
    }
    b.settings.decoded.texts[0] = "kept";
    const auto before = LinkSnapshot::of(b.link, b.settings);
    const QStringList events = b.out.events;
    const int answers = b.countSent(0x01);

    if (frame == "reply")
        b.deliver(BuiltFrame::reply(3, randomBlock(rng).data()));
    else if (frame == "ack7")
        b.deliver(BuiltFrame::ackOf(7));
    else
        b.deliver(BuiltFrame::hello());
    b.judgedTick();

    const auto after = LinkSnapshot::of(b.link, b.settings);
    QVERIFY(after.image == before.image);
    QCOMPARE(after.block_no, before.block_no);
    QCOMPARE(after.read_active, before.read_active);
    QCOMPARE(after.write_progress, before.write_progress);
    QCOMPARE(b.settings.decoded.texts[0], std::string("kept"));
    if (frame == "handshake") {
        QCOMPARE(b.countSent(0x01), answers + 1);
    } else {
        QCOMPARE(b.out.events, events); // no label, status or bar text changed
        QCOMPARE(b.countSent(0x01), answers);
    }
    if (phase == "read") {
        // The read goes on from where it was and ends with every block the device sent.
        for (int k = 1; k < 8; ++k) {
            b.deliver(BuiltFrame::reply(static_cast<std::uint8_t>(k), device[k].data()));
            b.judgedTick();
        }
        QVERIFY(!b.link.read_active);
        QVERIFY(b.out.last() == LinkOutcome::ReadComplete);
        QCOMPARE(b.out.labels[kRead][1], QString::fromUtf8("Ustawienia zostały pobrane"));
        for (int k = 0; k < 8; ++k)
            QVERIFY(blockOf(b.settings, k) == device[static_cast<std::size_t>(k)]);
    }
}

void TestDeviceLink::onlyWholeFramesCountUnderRandomSplits() {
    // Handshakes, acknowledgements and replies cut anywhere count only when one read holds them
    // whole.
    std::mt19937 rng(31337);
    for (int round = 0; round < 1500; ++round) {
        Bench b;
        const int phase = round % 3;
        if (phase == 0) {
            QVERIFY(b.link.connectCommand());
        } else {
            b.connectNow();
            if (phase == 1)
                b.link.readCommand();
            else
                b.link.beginWrite();
        }
        // What a confused device might say, back to back, then cut at random
        // places: whole frames, and frames broken off before they could be
        // taken for any (a handshake's or an acknowledgement's first bytes;
        // every frame begins with AA, so none completes them).
        Bytes stream;
        for (int f = 0; f < 12; ++f) {
            Bytes frameBytes;
            switch (rng() % 4) {
            case 0:
                b.expect(BuiltFrame::hello(), stream.size());
                frameBytes = BuiltFrame::hello().bytes();
                break;
            case 1: {
                const auto a = BuiltFrame::ackOf(static_cast<std::uint8_t>(rng() % 9));
                b.expect(a, stream.size());
                frameBytes = a.bytes();
                break;
            }
            case 2: {
                const auto r = BuiltFrame::reply(static_cast<std::uint8_t>(rng() % 8),
                                                 randomBlock(rng).data());
                b.expect(r, stream.size());
                frameBytes = r.bytes();
                break;
            }
            default:
                frameBytes = rng() % 2 ? handshake() : ack(static_cast<std::uint8_t>(rng() % 9));
                frameBytes.resize(1 + rng() % (frameBytes.size() - 1));
            }
            stream.insert(stream.end(), frameBytes.begin(), frameBytes.end());
        }
        std::size_t at = 0;
        while (at < stream.size()) {
            const std::size_t len = std::min<std::size_t>(stream.size() - at, 1 + rng() % 600);
            b.deliver(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                            stream.begin() + static_cast<std::ptrdiff_t>(at + len)));
            at += len;
            b.judgedTick();
            if (QTest::currentTestFailed())
                return;
            b.link.Timer2Timer();
        }
    }
}

Q_DECLARE_METATYPE(LineMode)

void TestDeviceLink::failedAttemptSaysWhatTheLineCarried_data() {
    QTest::addColumn<LineMode>("mode");
    QTest::addColumn<int>("powerOns"); // switched off and on this often during the attempt
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("damaged");
    QTest::addColumn<QString>("diagnosis"); // how the text after the fixed ones begins
    QTest::newRow("silent line: not a byte")
        << LineMode::Silent << 2 << 0 << 0 << 0
        << "Nie odebrano z urządzenia ani jednego bajtu. Sprawdź, czy urządzenie jest zasilane";
    QTest::newRow("another device's text: bytes but no frame")
        << LineMode::Garbage << 1 << 58 << 0 << 0
        << "Odebrano 58 bajtów, ale żadnej ramki urządzenia. Możliwa przyczyna: inne "
           "urządzenie na tym porcie albo zła prędkość.";
    QTest::newRow("one damaged handshake")
        << LineMode::Damaged << 1 << 3 << 1 << 1
        << "Odebrano 1 ramkę urządzenia z błędną sumą kontrolną. Możliwa przyczyna: "
           "uszkodzony przewód lub zakłócenia.";
    QTest::newRow("three damaged handshakes")
        << LineMode::Damaged << 3 << 9 << 3 << 3 << "Odebrano 3 ramki urządzenia z błędną";
    QTest::newRow("five damaged handshakes")
        << LineMode::Damaged << 5 << 15 << 5 << 5 << "Odebrano 5 ramek urządzenia z błędną";
}

void TestDeviceLink::failedAttemptSaysWhatTheLineCarried() {
    // An attempt without a handshake keeps its fixed texts and then says what
    // the line carried: nothing, something else, or the device's frames damaged.
    QFETCH(LineMode, mode);
    QFETCH(int, powerOns);
    QFETCH(int, bytes);
    QFETCH(int, frames);
    QFETCH(int, damaged);
    QFETCH(QString, diagnosis);
    SimulatedFaults faults;
    faults.mode = mode;
    SimulatedDevice device(SimulatedDevice::erased(), faults);
    Bench b(&device);
    b.link.portsNow = [] { return std::vector<std::string>{"COM1", "COM4"}; };
    QVERIFY(b.link.connectCommand());
    QVERIFY(b.out.diagnosis.isEmpty());
    int ticks = 0;
    while (b.link.connecting && ticks < 200) {
        if (ticks % 10 == 0 && ticks / 10 < powerOns)
            device.powerOn();
        b.link.Timer2Timer();
        if (++ticks % 3 == 0)
            b.link.Timer1Timer();
    }
    QVERIFY(!b.link.connecting && !b.link.connected);
    QCOMPARE(b.out.last(), LinkOutcome::ConnectFailed);
    QCOMPARE(int(b.link.lineCensus().bytes), bytes);
    QCOMPARE(int(b.link.lineCensus().frames), frames);
    QCOMPARE(int(b.link.lineCensus().damagedFrames), damaged);
    // The fixed texts stay as they are; the diagnosis comes after them.
    QCOMPARE(b.out.status, QString::fromUtf8(texts::kConnectFailedHint));
    QCOMPARE(b.out.labels[kConn][1], QString::fromUtf8(texts::kConnectFailed));
    QVERIFY2(b.out.diagnosis.startsWith(diagnosis), qPrintable(b.out.diagnosis));
    if (mode == LineMode::Silent)
        QVERIFY(b.out.diagnosis.endsWith("Porty szeregowe obecne teraz: COM1, COM4."));
    // The next attempt starts without the old diagnosis and counts afresh.
    QVERIFY(b.link.connectCommand());
    QVERIFY(b.out.diagnosis.isEmpty());
    QCOMPARE(int(b.link.lineCensus().bytes), 0);
}

void TestDeviceLink::censusSeesFramesAcrossReads_data() {
    QTest::addColumn<QList<QByteArray>>("reads"); // what each read brings
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("damaged");
    const QByteArray hs("\xAA\x01\x01", 3), bad("\xAA\x01\x07", 3);
    QTest::newRow("a handshake cut in two is still a frame")
        << QList<QByteArray>{hs.left(1), hs.mid(1)} << 1 << 0;
    QTest::newRow("noise, then a damaged handshake")
        << QList<QByteArray>{QByteArray("AT\r\n\xAA\x09", 6) + bad} << 1 << 1;
    QTest::newRow("a start byte twice: the second starts the frame")
        << QList<QByteArray>{QByteArray("\xAA", 1) + bad} << 1 << 1;
    QTest::newRow("an acknowledgement with a wrong check")
        << QList<QByteArray>{QByteArray("\xAA\x02\x03\x02", 4)} << 1 << 1;
    QTest::newRow("a start byte without a command is no frame")
        << QList<QByteArray>{QByteArray("\xAA\x55\xAA\x7E", 4)} << 0 << 0;
}

void TestDeviceLink::censusSeesFramesAcrossReads() {
    // The census reads the bytes as one stream: a frame is counted wherever
    // reads cut it and whatever came before it.
    QFETCH(QList<QByteArray>, reads);
    QFETCH(int, frames);
    QFETCH(int, damaged);
    LineCensusTaker census;
    int bytes = 0;
    for (const QByteArray& r : reads) {
        census.feed(reinterpret_cast<const std::uint8_t*>(r.constData()), std::size_t(r.size()));
        bytes += int(r.size());
    }
    QCOMPARE(int(census.census().bytes), bytes);
    QCOMPARE(int(census.census().frames), frames);
    QCOMPARE(int(census.census().damagedFrames), damaged);
}

void TestDeviceLink::diagnosisTexts_data() {
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("damaged");
    QTest::addColumn<QStringList>("appeared");
    QTest::addColumn<QString>("expected");
    const QStringList none;
    QTest::newRow("silent, one port came since start")
        << 0 << 0 << 0 << QStringList{"/dev/ttyUSB1"}
        << "Nie odebrano z urządzenia ani jednego bajtu. Sprawdź, czy urządzenie jest "
           "zasilane, czy wtyk kabla jest dobrze osadzony w gnieździe urządzenia i czy "
           "wybrano właściwy port. Od uruchomienia programu pojawił się port /dev/ttyUSB1: "
           "sprawdź najpierw jego.";
    QTest::newRow("silent, two ports came since start")
        << 0 << 0 << 0 << QStringList{"COM5", "COM7"}
        << "Nie odebrano z urządzenia ani jednego bajtu. Sprawdź, czy urządzenie jest "
           "zasilane, czy wtyk kabla jest dobrze osadzony w gnieździe urządzenia i czy "
           "wybrano właściwy port. Od uruchomienia programu pojawiły się porty COM5, COM7: "
           "sprawdź najpierw je.";
    QTest::newRow("1 bajt") << 1 << 0 << 0 << none
                            << "Odebrano 1 bajt, ale żadnej ramki urządzenia. Możliwa "
                               "przyczyna: inne urządzenie na tym porcie albo zła prędkość.";
    QTest::newRow("2 bajty") << 2 << 0 << 0 << none
                             << "Odebrano 2 bajty, ale żadnej ramki urządzenia. Możliwa "
                                "przyczyna: inne urządzenie na tym porcie albo zła prędkość.";
    QTest::newRow("12 bajtów") << 12 << 0 << 0 << none
                               << "Odebrano 12 bajtów, ale żadnej ramki urządzenia. Możliwa "
                                  "przyczyna: inne urządzenie na tym porcie albo zła prędkość.";
    QTest::newRow("1024 bajty") << 1024 << 0 << 0 << none
                                << "Odebrano 1024 bajty, ale żadnej ramki urządzenia. Możliwa "
                                   "przyczyna: inne urządzenie na tym porcie albo zła prędkość.";
    QTest::newRow("22 ramki, damaged ones win over noise")
        << 700 << 30 << 22 << none
        << "Odebrano 22 ramki urządzenia z błędną sumą kontrolną. Możliwa przyczyna: "
           "uszkodzony przewód lub zakłócenia.";
    QTest::newRow("sound frames but no handshake taken")
        << 6 << 2 << 0 << none
        << "Odebrano 2 ramki urządzenia, ale nie jego zgłoszenie. Wyłącz i włącz urządzenie "
           "jeszcze raz.";
}

void TestDeviceLink::diagnosisTexts() {
    // The three cases word for word, with the Polish form of the count.
    QFETCH(int, bytes);
    QFETCH(int, frames);
    QFETCH(int, damaged);
    QFETCH(QStringList, appeared);
    QFETCH(QString, expected);
    LineCensus c;
    c.bytes = std::uint64_t(bytes);
    c.frames = std::uint64_t(frames);
    c.damagedFrames = std::uint64_t(damaged);
    std::vector<std::string> names;
    for (const QString& a : appeared)
        names.push_back(a.toStdString());
    QCOMPARE(QString::fromStdString(connectDiagnosis(c, names, {"COM1"})), expected);
}

QTEST_APPLESS_MAIN(TestDeviceLink)
#include "test_device_link.moc"
