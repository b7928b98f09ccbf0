// The simulated device on a pseudo-terminal: power-on, pacing, closing, the link.
#include "pty_device_server.h"
#include "pty_test_support.h"
#include "random_image.h"

#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <random>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace trellikon;
using namespace trellikon::testing;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

const Bytes kHandshake = {0xAA, 0x01, 0x01};
const Bytes kReadBlock5 = {0xAA, 0x03, 0x05, 0x06};

int openDescriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

long long msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

} // namespace

class TestPtyDeviceServer : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void handshakeFollowsEveryOpen();
    void repliesArePaced_data();
    void repliesArePaced();
    void closingDropsWhatWasNotSent();
    void link_data();
    void link();
    void garbageNeverStopsTheDevice();
    void failedStartLeavesNoDescriptorOpen();
    void failingPollEndsTheLoop();
};

void TestPtyDeviceServer::handshakeFollowsEveryOpen() {
    // Every opening of the slave is answered by a handshake after the power-on delay.
    RunningServer s(SimulatedDevice::erased());
    QVERIFY2(s.ok(), s.error().c_str());
    QVERIFY(!s.server().slaveOpen());
    for (int round = 0; round < 2; ++round) {
        const auto opened = Clock::now();
        const int fd = openRaw(s.path());
        QVERIFY(fd >= 0);
        QCOMPARE(readFor(fd, 3, kGuardMs), kHandshake);
        const auto after = msSince(opened);
        QVERIFY2(after >= 290, qPrintable(QString("after %1 ms").arg(after)));
        QVERIFY(s.server().slaveOpen());
        // A power cycle on demand announces the device again.
        s.server().powerOn();
        QCOMPARE(readFor(fd, 3, kGuardMs), kHandshake);
        QCOMPARE(readFor(fd, 1, 100).size(), std::size_t(0));
        ::close(fd);
        QVERIFY(waitForClose(s.server()));
    }
}

void TestPtyDeviceServer::repliesArePaced_data() {
    QTest::addColumn<int>("baud");
    QTest::addColumn<double>("lineMs"); // the 4-byte request and the 516-byte reply, 10 bits each
    QTest::newRow("19200 baud") << 19200 << 270.83;
    QTest::newRow("9600 baud") << 9600 << 541.67;
    QTest::newRow("unpaced") << 0 << 0.0;
}

void TestPtyDeviceServer::repliesArePaced() {
    // A read reply arrives intact, never ahead of the line at the chosen speed and not later than
    // it.
    QFETCH(int, baud);
    QFETCH(double, lineMs);
    using namespace std::chrono_literals;
    const auto memory = randomImage(7);
    PtyServerOptions options;
    options.baud = baud;
    options.powerOnDelayMs = 0;
    SteppedServer s(memory, options);
    QVERIFY2(s.ok(), s.error().c_str());
    const int fd = openRaw(s.path());
    QVERIFY(fd >= 0);
    s.advance(20ms); // the server looks for an open this often
    QVERIFY(s.pollUntil([&] {
        s.advance(1ms);
        return s.server().bytesToPc() == 3;
    }));
    QCOMPARE(readFor(fd, 3, kGuardMs), kHandshake);

    writeAll(fd, kReadBlock5);
    QVERIFY(s.pollUntil([&] { return s.server().bytesFromPc() == 4; }));
    // The clock in steps of 0.5 ms: the bytes handed over by then, against
    // what the line can carry in that time (with one group of 2 ms in hand).
    const double bytesPerMs = baud / 10'000.0;
    double ms = 0;
    for (; s.server().bytesToPc() < 3 + 516 && ms < 5000; ms += 0.5) {
        const double sent = static_cast<double>(s.server().bytesToPc() - 3);
        QVERIFY2(sent <= ms * bytesPerMs + 1,
                 qPrintable(QString("%1 bytes after %2 ms").arg(sent).arg(ms)));
        s.advance(500us);
    }
    QVERIFY2(std::abs(ms - lineMs) <= 3.5, qPrintable(QString("took %1 ms").arg(ms)));
    const Bytes reply = readFor(fd, 516, kGuardMs);
    ::close(fd);
    QCOMPARE(reply.size(), std::size_t(516));
    QVERIFY(std::equal(reply.begin() + 3, reply.end() - 1, memory.begin() + 5 * 512));
}

void TestPtyDeviceServer::closingDropsWhatWasNotSent() {
    // A program that closes mid-reply finds only the new handshake when it opens again.
    RunningServer s(randomImage(8));
    QVERIFY2(s.ok(), s.error().c_str());
    int fd = openRaw(s.path());
    QVERIFY(fd >= 0);
    QCOMPARE(readFor(fd, 3, kGuardMs), kHandshake);
    writeAll(fd, kReadBlock5);
    QCOMPARE(readFor(fd, 40, kGuardMs).size(), std::size_t(40));
    ::close(fd);
    QVERIFY(waitForClose(s.server())); // with the rest of the reply still unsent
    fd = openRaw(s.path());
    QVERIFY(fd >= 0);
    QCOMPARE(readFor(fd, 3, kGuardMs), kHandshake);
    QCOMPARE(readFor(fd, 1, 400).size(), std::size_t(0));
    ::close(fd);
}

void TestPtyDeviceServer::link_data() {
    QTest::addColumn<QString>("before"); // what the link path holds at start
    QTest::newRow("nothing there") << "";
    QTest::newRow("a stale link from a crashed run") << "stale";
    QTest::newRow("a regular file is left alone") << "file";
}

void TestPtyDeviceServer::link() {
    // The link to the slave replaces an old link, never a file, and goes away with the server.
    QFETCH(QString, before);
    QTemporaryDir dir;
    const std::string path = dir.filePath("ttyDEVICE").toStdString();
    if (before == "stale")
        QCOMPARE(::symlink("/dev/pts/nonexistent", path.c_str()), 0);
    if (before == "file")
        std::ofstream(path) << "keep me";

    SimulatedDevice device;
    PtyServerOptions options;
    options.linkPath = path;
    {
        PtyDeviceServer server(device, options);
        std::string error;
        const bool started = server.start(error);
        if (before == "file") {
            QVERIFY(!started);
            QVERIFY(error.find(path) != std::string::npos);
        } else {
            QVERIFY2(started, error.c_str());
            char target[256] = {};
            QVERIFY(::readlink(path.c_str(), target, sizeof target - 1) > 0);
            QCOMPARE(std::string(target), server.slavePath());
        }
    }
    struct stat st {};
    if (before == "file") {
        std::ifstream in(path);
        std::string text;
        std::getline(in, text);
        QCOMPARE(text, std::string("keep me"));
    } else {
        QCOMPARE(::lstat(path.c_str(), &st), -1);
    }
}

void TestPtyDeviceServer::garbageNeverStopsTheDevice() {
    // Any bytes from the program are survived, and a clean request afterwards is answered.
    using namespace std::chrono_literals;
    PtyServerOptions options;
    options.baud = 0;
    options.powerOnDelayMs = 0;
    SteppedServer s(randomImage(9), options);
    QVERIFY2(s.ok(), s.error().c_str());
    const int fd = openRaw(s.path());
    QVERIFY(fd >= 0);
    s.advance(20ms);
    QVERIFY(s.pollUntil([&] { return s.server().bytesToPc() == 3; }));
    QCOMPARE(readFor(fd, 3, kGuardMs), kHandshake);
    std::uint64_t written = 0, heard = 3;
    // Whatever the junk makes the device say is taken off the line as it comes.
    auto takeAll = [&] {
        return s.pollUntil([&] {
            heard += readAvailable(fd).size();
            return s.server().bytesFromPc() == written && s.server().idle() &&
                   heard == s.server().bytesToPc();
        });
    };
    std::mt19937 rng(99);
    for (int round = 0; round < 50; ++round) {
        Bytes junk(std::uniform_int_distribution<std::size_t>(1, 700)(rng));
        for (auto& b : junk)
            b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0xAA : rng());
        writeAll(fd, junk);
        written += junk.size();
        QVERIFY(takeAll());
    }
    // A pause longer than the gap after which a partial frame is forgotten.
    s.advance(150ms);
    QVERIFY(takeAll());
    writeAll(fd, kReadBlock5);
    written += kReadBlock5.size();
    QVERIFY(s.pollUntil([&] { return s.server().bytesToPc() == heard + 516; }));
    const Bytes reply = readFor(fd, 516, kGuardMs);
    ::close(fd);
    QCOMPARE(reply.size(), std::size_t(516));
    QCOMPARE(reply[0], std::uint8_t(0xAA));
    QCOMPARE(reply[1], std::uint8_t(0x03));
    QCOMPARE(reply[2], std::uint8_t(5));
}

void TestPtyDeviceServer::failedStartLeavesNoDescriptorOpen() {
    // A start that fails late closes what it opened, however often it is tried.
    QTemporaryDir dir;
    const std::string path = dir.filePath("ttyDEVICE").toStdString();
    std::ofstream(path) << "keep me";
    SimulatedDevice device;
    PtyServerOptions options;
    options.linkPath = path;
    const int before = openDescriptors();
    {
        PtyDeviceServer server(device, options);
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::string error;
            QVERIFY(!server.start(error));
            QCOMPARE(openDescriptors(), before);
        }
    }
    QCOMPARE(openDescriptors(), before);
}

void TestPtyDeviceServer::failingPollEndsTheLoop() {
    // When waiting for events fails for another reason than a signal, the loop ends with it.
    SimulatedDevice device;
    PtyDeviceServer server(device);
    std::string error;
    QVERIFY2(server.start(error), error.c_str());
    int pipeFds[2];
    QCOMPARE(::pipe(pipeFds), 0);
    server.watch(pipeFds[0], [] { return true; });
    // poll() refuses more descriptors than the process may hold: EINVAL on every call.
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 1;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
    // A poll that waited instead of failing would return true after the guard.
    const bool going = server.poll(kGuardMs);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    QVERIFY(!going);
    QVERIFY2(server.failure().find("poll") == 0, server.failure().c_str());
    server.run(); // returns at once instead of spinning
    QVERIFY(!server.poll(0));
}

QTEST_APPLESS_MAIN(TestPtyDeviceServer)
#include "test_pty_device_server.moc"
