// The termios layer against a real pseudo-terminal: the test holds the master
// side, which stands for the cable and the device.

#include "device_link.h"
#include "device_settings.h"
#include "link_recorder.h"
#include "posix_serial_port.h"
#include "reopen_after_loss.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace trellikon;

Q_DECLARE_METATYPE(LinkError::Code)

namespace {

class Pty {
  public:
    // `raw` false leaves the terminal's defaults, echo and line editing on,
    // as a real port has them before a program sets its own.
    explicit Pty(bool raw = true) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        slave_ = ::ptsname(master_);
        if (!raw)
            return;
        termios tio{};
        ::tcgetattr(master_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& slave() const { return slave_; }
    int master() const { return master_; }
    void closeMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    void send(const QByteArray& bytes) {
        QCOMPARE(::write(master_, bytes.constData(), std::size_t(bytes.size())),
                 ssize_t(bytes.size()));
    }

    // What the device side received, waiting up to `ms` for `n` bytes.
    QByteArray receive(qsizetype n, int ms = 2000) {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        char buf[1024];
        while (got.size() < n && t.elapsed() < ms) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t r = ::read(master_, buf, sizeof buf);
            if (r > 0)
                got.append(buf, r);
        }
        return got;
    }

  private:
    int master_ = -1;
    std::string slave_;
};

QByteArray allByteValues() {
    QByteArray b(256, 0);
    for (int i = 0; i < 256; ++i)
        b[i] = char(i);
    return b;
}

// Bytes waiting on the port side, seen through a second descriptor.
int waitingOn(int fd) {
    int n = 0;
    ::ioctl(fd, FIONREAD, &n);
    return n;
}

bool waitUntilWaiting(int fd, int n) {
    QElapsedTimer t;
    t.start();
    while (waitingOn(fd) < n && t.elapsed() < 2000)
        QTest::qSleep(1);
    return waitingOn(fd) >= n;
}

// Runs `body` in a child process as a user other than root (root passes both
// TIOCEXCL and file modes). Returns the body's result, or -1 when the child
// could not become that user.
int asOrdinaryUser(const std::function<int()>& body) {
    if (::geteuid() != 0)
        return body();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(255);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

class TestPosixSerialPort : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase();
    void opensByPathWithLineSettings();
    void openDiscardsWhatCameBeforeAndEchoesNothing();
    void everyByteBothWays_data();
    void everyByteBothWays();
    void readWithNothingWaitingReturnsAtOnce();
    void readTakesWhatIsWaitingUpToTheLimit();
    void reopenOnSameObject();
    void secondPortIsBusy();
    void othersKeptOutOnlyWhileOpen();
    void openErrors_data();
    void openErrors();
    void comNameThroughEnvironmentVariable();
    void pulledCableFailsQuietly();
    void stalledWriteGivesUp();
    void cablePulledMidTransferThenPutBack();
    void reopenRetriesOnlyAfterALoss();
    void permissionMessage_data();
    void permissionMessage();
    void permissionDeniedForRealUser();
    void holderInAnotherProcessIsNamed();
    void busyMessageNamesTheHolder_data();
    void busyMessageNamesTheHolder();

  private:
    QTemporaryDir tmp_;
};

void TestPosixSerialPort::initTestCase() {
    QVERIFY(tmp_.isValid());
    QFile regular(tmp_.filePath("regular-file"));
    QVERIFY(regular.open(QIODevice::WriteOnly));
    QDir(tmp_.path()).mkpath("fakeroot/dev");
    QFile fakeUsb(tmp_.filePath("fakeroot/dev/ttyUSB0"));
    QVERIFY(fakeUsb.open(QIODevice::WriteOnly));
}

// An opened path is raw 19200 8N1 with no flow control and reads that never wait.
void TestPosixSerialPort::opensByPathWithLineSettings() {
    Pty pty;
    QVERIFY(pty.ok());
    PosixSerialPort port;
    LinkError error;
    QVERIFY2(port.open(pty.slave(), error), error.message.c_str());
    QVERIFY(!error);
    QVERIFY(port.valid());
    QCOMPARE(port.devicePath(), pty.slave());

    // Terminal settings asked through the master are the slave's.
    termios tio{};
    QCOMPARE(::tcgetattr(pty.master(), &tio), 0);
    QCOMPARE(::cfgetospeed(&tio), speed_t(B19200));
    QCOMPARE(::cfgetispeed(&tio), speed_t(B19200));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), tcflag_t(0));
    QCOMPARE(tio.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    QCOMPARE(tio.c_iflag, tcflag_t(0));
    QCOMPARE(tio.c_oflag, tcflag_t(0));
    QCOMPARE(tio.c_lflag, tcflag_t(0));
    QCOMPARE(int(tio.c_cc[VMIN]), 0);
    QCOMPARE(int(tio.c_cc[VTIME]), 0);
}

// Bytes that reached the port under the terminal's defaults are not the
// device's answer: they are gone once the port is open, and the terminal is
// raw from then on (no echo back to the device, no line editing).
void TestPosixSerialPort::openDiscardsWhatCameBeforeAndEchoesNothing() {
    Pty pty(false);
    QVERIFY(pty.ok());
    {
        // Opened once by someone, so that the terminal keeps what comes in.
        const int primer = ::open(pty.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(primer >= 0);
        termios tio{};
        QCOMPARE(::tcgetattr(primer, &tio), 0);
        QVERIFY(tio.c_lflag & ECHO);
        pty.send(QByteArray("\xAA\x01\x01stale\n", 9));
        QVERIFY(waitUntilWaiting(primer, 9));
        ::close(primer);
    }
    PosixSerialPort port;
    LinkError error;
    QVERIFY2(port.open(pty.slave(), error), error.message.c_str());
    termios tio{};
    QCOMPARE(::tcgetattr(pty.master(), &tio), 0);
    QCOMPARE(tio.c_lflag & (ECHO | ICANON), tcflag_t(0));
    QCOMPARE(port.waiting(), std::size_t(0));
    // What comes after the open is the device's, whole.
    pty.send(QByteArray("\xAA\x02\x03\x01", 4));
    QElapsedTimer t;
    t.start();
    while (port.waiting() < 4 && t.elapsed() < 2000)
        QTest::qSleep(1);
    std::uint8_t buf[64];
    QCOMPARE(port.read(buf, sizeof buf), std::size_t(4));
    QCOMPARE(int(buf[0]), 0xAA);
}

void TestPosixSerialPort::everyByteBothWays_data() {
    QTest::addColumn<bool>("toDevice");
    QTest::newRow("program to device") << true;
    QTest::newRow("device to program") << false;
}

// Raw mode lets every byte value 0x00..0xFF through unchanged in both directions.
void TestPosixSerialPort::everyByteBothWays() {
    QFETCH(bool, toDevice);
    Pty pty;
    QVERIFY(pty.ok());
    PosixSerialPort port;
    LinkError error;
    QVERIFY(port.open(pty.slave(), error));
    const QByteArray bytes = allByteValues() + allByteValues();

    if (toDevice) {
        QVERIFY(port.write(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                           std::size_t(bytes.size())));
        QCOMPARE(pty.receive(bytes.size()).toHex(), bytes.toHex());
    } else {
        pty.send(bytes);
        QByteArray got;
        std::uint8_t buf[600];
        QElapsedTimer t;
        t.start();
        while (got.size() < bytes.size() && t.elapsed() < 2000) {
            const std::size_t n = port.read(buf, sizeof buf);
            got.append(reinterpret_cast<const char*>(buf), qsizetype(n));
            if (n == 0)
                QTest::qSleep(1);
        }
        QCOMPARE(got.toHex(), bytes.toHex());
    }
}

// A read with nothing waiting returns 0 at once instead of waiting for input.
void TestPosixSerialPort::readWithNothingWaitingReturnsAtOnce() {
    Pty pty;
    QVERIFY(pty.ok());
    PosixSerialPort port;
    LinkError error;
    QVERIFY(port.open(pty.slave(), error));
    std::uint8_t buf[521];
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 100; ++i)
        QCOMPARE(port.read(buf, sizeof buf), std::size_t(0));
    QVERIFY(t.elapsed() < 200);
}

// With 600 bytes waiting, reads of at most 521 take 521, then the other 79, then nothing.
void TestPosixSerialPort::readTakesWhatIsWaitingUpToTheLimit() {
    Pty pty;
    QVERIFY(pty.ok());
    // Opened before the port takes the line exclusively, so it may watch the queue.
    const int watch = ::open(pty.slave().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(watch >= 0);
    PosixSerialPort port;
    LinkError error;
    QVERIFY(port.open(pty.slave(), error));

    QByteArray sent(600, 0);
    for (int i = 0; i < sent.size(); ++i)
        sent[i] = char(i * 7);
    pty.send(sent);
    QVERIFY(waitUntilWaiting(watch, 600));

    std::uint8_t buf[521];
    QCOMPARE(port.read(buf, 521), std::size_t(521));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(buf), 521), sent.left(521));
    QCOMPARE(port.read(buf, 521), std::size_t(79));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(buf), 79), sent.mid(521));
    QCOMPARE(port.read(buf, 521), std::size_t(0));
    ::close(watch);
}

// Opening again on the same object lets go of the port first, so it succeeds.
void TestPosixSerialPort::reopenOnSameObject() {
    Pty pty;
    QVERIFY(pty.ok());
    PosixSerialPort port;
    LinkError error;
    QVERIFY(port.open(pty.slave(), error));
    QVERIFY2(port.open(pty.slave(), error), error.message.c_str());
    QVERIFY(port.valid());
    const std::uint8_t byte = 0x5A;
    QVERIFY(port.write(&byte, 1));
    QCOMPARE(pty.receive(1), QByteArray(1, char(0x5A)));
}

// A second port object on a held line is refused as busy, and gets in once the first closes.
void TestPosixSerialPort::secondPortIsBusy() {
    Pty pty;
    QVERIFY(pty.ok());
    PosixSerialPort first;
    PosixSerialPort second;
    LinkError error;
    QVERIFY(first.open(pty.slave(), error));
    QVERIFY(!second.open(pty.slave(), error));
    QVERIFY(!second.valid());
    QCOMPARE(error.code, LinkError::Code::Busy);
    QCOMPARE(error.detail, pty.slave());
    QVERIFY(QString::fromStdString(error.message).contains("ModemManager"));
    first.close();
    QVERIFY2(second.open(pty.slave(), error), error.message.c_str());
}

// Other users' plain opens fail while the port is held and succeed after close
// (the exclusive flag would otherwise outlive us on a pseudo-terminal).
void TestPosixSerialPort::othersKeptOutOnlyWhileOpen() {
    Pty pty;
    QVERIFY(pty.ok());
    ::chmod(pty.slave().c_str(), 0666);
    const std::string path = pty.slave();
    auto plainOpenErrno = [path]() {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return errno;
        ::close(fd);
        return 0;
    };
    PosixSerialPort port;
    LinkError error;
    QVERIFY(port.open(path, error));
    const int whileOpen = asOrdinaryUser(plainOpenErrno);
    if (whileOpen < 0)
        QSKIP("cannot switch to an ordinary user here");
    QCOMPARE(whileOpen, EBUSY);
    port.close();
    QCOMPARE(asOrdinaryUser(plainOpenErrno), 0);
}

void TestPosixSerialPort::openErrors_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<LinkError::Code>("code");
    QTest::addColumn<QString>("devicePath"); // {tmp} is the test's directory
    QTest::addColumn<QString>("mentions");

    using C = LinkError::Code;
    QTest::newRow("missing path is no such device")
        << "{tmp}/no/such/tty" << C::NoSuchDevice << "{tmp}/no/such/tty"
        << "nie istnieje";
    QTest::newRow("regular file is not a serial port")
        << "{tmp}/regular-file" << C::NotASerialPort << "{tmp}/regular-file"
        << "portem szeregowym";
    QTest::newRow("directory is not a serial port") << "{tmp}" << C::NotASerialPort << "{tmp}"
                                                    << "portem szeregowym";
    QTest::newRow("COM beyond the ports present lists those found")
        << "COM2" << C::NoSuchDevice << ""
        << "{tmp}/fakeroot/dev/ttyUSB0";
    QTest::newRow("COM beyond the ports present names its variable")
        << "COM2" << C::NoSuchDevice << ""
        << "TRELLIKON_COM2";
    QTest::newRow("COM that resolves to a plain file is not a serial port")
        << "COM1" << C::NotASerialPort << "{tmp}/fakeroot/dev/ttyUSB0"
        << "portem szeregowym";
    QTest::newRow("stale variable is blamed") << "COM4" << C::NoSuchDevice << "{tmp}/gone"
                                              << "TRELLIKON_COM4";
    QTest::newRow("COM9 is not a port name") << "COM9" << C::NoSuchDevice << ""
                                             << "COM1 do COM8";
}

// A failed open says why in a code a window can act on and words a user can act on.
void TestPosixSerialPort::openErrors() {
    QFETCH(QString, name);
    QFETCH(LinkError::Code, code);
    QFETCH(QString, devicePath);
    QFETCH(QString, mentions);
    for (QString* s : {&name, &devicePath, &mentions})
        s->replace("{tmp}", tmp_.path());

    PortEnvironment env;
    env.root = tmp_.filePath("fakeroot").toStdString();
    const std::string gone = tmp_.filePath("gone").toStdString();
    env.getenv = [gone](const std::string& var) -> std::optional<std::string> {
        if (var == "TRELLIKON_COM4")
            return gone;
        return std::nullopt;
    };
    PosixSerialPort port(env);
    LinkError error;
    QVERIFY(!port.open(name.toStdString(), error));
    QVERIFY(!port.valid());
    QCOMPARE(error.code, code);
    QCOMPARE(QString::fromStdString(error.detail), devicePath);
    QVERIFY2(QString::fromStdString(error.message).contains(mentions), error.message.c_str());
}

// TRELLIKON_COMn in the real environment points COMn at any path, here the pty.
void TestPosixSerialPort::comNameThroughEnvironmentVariable() {
    Pty pty;
    QVERIFY(pty.ok());
    qputenv("TRELLIKON_COM5", QByteArray::fromStdString(pty.slave()));
    PosixSerialPort port;
    LinkError error;
    const bool opened = port.open("COM5", error);
    qunsetenv("TRELLIKON_COM5");
    QVERIFY2(opened, error.message.c_str());
    QCOMPARE(port.devicePath(), pty.slave());
    pty.send(QByteArray(1, char(0xAA)));
    std::uint8_t byte = 0;
    QElapsedTimer t;
    t.start();
    while (port.read(&byte, 1) == 0 && t.elapsed() < 2000)
        QTest::qSleep(1);
    QCOMPARE(int(byte), 0xAA);
}

// After the other end vanishes, the first call that meets the hang-up closes
// the port, whichever call it is, and nothing hangs.
void TestPosixSerialPort::pulledCableFailsQuietly() {
    for (const char* first : {"write", "read", "flush"}) {
        Pty pty;
        QVERIFY(pty.ok());
        PosixSerialPort port;
        LinkError error;
        QVERIFY(port.open(pty.slave(), error));
        pty.closeMaster();

        std::uint8_t frame[516] = {0xAA, 0x02};
        QElapsedTimer t;
        t.start();
        if (qstrcmp(first, "write") == 0)
            QVERIFY(!port.write(frame, sizeof frame));
        else if (qstrcmp(first, "read") == 0)
            QCOMPARE(port.read(frame, 521), std::size_t(0));
        else
            port.flush();
        if (qstrcmp(first, "flush") == 0 && port.valid()) {
            // A terminal with nothing to send may drain without noticing; the
            // next read does.
            QCOMPARE(port.read(frame, 521), std::size_t(0));
        }
        QVERIFY2(!port.valid(), first);
        QVERIFY(port.devicePath().empty());
        QVERIFY(!port.write(frame, sizeof frame));
        QVERIFY(t.elapsed() < 1000);
    }
}

// A write the other end never takes gives up after a bounded wait instead of hanging.
void TestPosixSerialPort::stalledWriteGivesUp() {
    Pty pty;
    QVERIFY(pty.ok());
    PosixSerialPort port;
    LinkError error;
    QVERIFY(port.open(pty.slave(), error));
    std::vector<std::uint8_t> flood(1 << 20, 0x55); // far more than the pty buffers
    QElapsedTimer t;
    t.start();
    QVERIFY(!port.write(flood.data(), flood.size()));
    QVERIFY(t.elapsed() >= 1500);
    QVERIFY(t.elapsed() < 10000);
    // One stall costs one bound: the port is closed, the next send is skipped.
    QVERIFY(!port.valid());
}

// The programming cable pulled while a block is on its way, and plugged in
// again: the port closes at the loss, the link's own time-out reports the
// read, and the next connect opens the port where the cable came back, even
// when it takes the system a moment to show it.
void TestPosixSerialPort::cablePulledMidTransferThenPutBack() {
    auto first = std::make_unique<Pty>();
    QVERIFY(first->ok());
    std::string current = first->slave();
    int lookupsUntilBack = 0; // how many more lookups find no port
    PortEnvironment env;
    env.root = tmp_.filePath("emptyroot").toStdString();
    env.getenv = [&](const std::string& var) -> std::optional<std::string> {
        if (var != "TRELLIKON_COM5")
            return std::nullopt;
        if (lookupsUntilBack > 0) {
            --lookupsUntilBack;
            return std::nullopt;
        }
        return current;
    };
    PosixSerialPort port(env);
    DeviceSettings settings;
    LinkRecorder out;
    DeviceLink link(settings, port, out);
    link.setPortName("COM5");

    QVERIFY(link.connectCommand());
    first->send(QByteArray("\xAA\x01\x01", 3)); // the device's handshake
    QElapsedTimer t;
    t.start();
    while (!link.connected && t.elapsed() < 2000) {
        link.Timer1Timer();
        QTest::qSleep(1);
    }
    QVERIFY(link.connected);
    QCOMPARE(first->receive(3), QByteArray("\xAA\x01\x01", 3));

    link.readCommand();
    link.Timer1Timer(); // asks for block 0
    QCOMPARE(first->receive(4).size(), 4);
    first->send(QByteArray(200, char(0xAA))); // the first part of the reply
    t.restart();
    while (port.waiting() < 200 && t.elapsed() < 2000)
        QTest::qSleep(1);
    link.Timer1Timer();
    first.reset(); // the cable pulled: the device's end closes
    link.Timer1Timer();
    QVERIFY(!port.valid());
    for (int tick = 0; tick <= DeviceLink::kTransferLimit; ++tick)
        link.Timer2Timer();
    QVERIFY(out.last() == LinkOutcome::ReadTimedOut);

    // Plugged in again; the system shows the port only on the third look.
    Pty second;
    QVERIFY(second.ok());
    current = second.slave();
    lookupsUntilBack = 2;
    out.errors.clear();
    QVERIFY2(link.connectCommand(), qPrintable(out.events.join('\n')));
    QVERIFY(out.errors.isEmpty());
    QVERIFY(port.valid());
    QCOMPARE(port.devicePath(), second.slave());
    second.send(QByteArray("\xAA\x01\x01", 3));
    t.restart();
    while (!link.connected && t.elapsed() < 2000) {
        link.Timer1Timer();
        QTest::qSleep(1);
    }
    QVERIFY(link.connected);
    QCOMPARE(second.receive(3), QByteArray("\xAA\x01\x01", 3));
}

// Only the connect right after a loss waits for the port to come back, and
// only a bounded number of times; an ordinary missing port is reported at once.
void TestPosixSerialPort::reopenRetriesOnlyAfterALoss() {
    int lookups = 0;
    std::string path;
    PortEnvironment env;
    env.root = tmp_.filePath("emptyroot").toStdString();
    env.getenv = [&](const std::string& var) -> std::optional<std::string> {
        if (var != "TRELLIKON_COM6")
            return std::nullopt;
        ++lookups;
        return path.empty() ? std::nullopt : std::optional<std::string>(path);
    };
    PosixSerialPort port(env);
    LinkError error;
    QVERIFY(!port.open("COM6", error));
    QCOMPARE(error.code, LinkError::Code::NoSuchDevice);
    QCOMPARE(lookups, 1);

    {
        Pty pty;
        QVERIFY(pty.ok());
        path = pty.slave();
        QVERIFY2(port.open("COM6", error), error.message.c_str());
        pty.closeMaster();
        std::uint8_t byte = 0;
        QCOMPARE(port.read(&byte, 1), std::size_t(0));
        QVERIFY(!port.valid());
    }
    // The cable never comes back: every attempt made, then the usual message.
    path.clear();
    lookups = 0;
    QVERIFY(!port.open("COM6", error));
    QCOMPARE(error.code, LinkError::Code::NoSuchDevice);
    QCOMPARE(lookups, kReopenAttempts);
    // The loss was answered; the connect after that does not wait again.
    lookups = 0;
    QVERIFY(!port.open("COM6", error));
    QCOMPARE(lookups, 1);
}

void TestPosixSerialPort::permissionMessage_data() {
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("userInGroup");
    QTest::addColumn<bool>("sessionHasGroup");
    QTest::addColumn<QStringList>("mentions");
    QTest::addColumn<QStringList>("avoids");

    QTest::newRow("not in the group: ask to be added")
        << "dialout"
        << "anna" << false << false
        << QStringList{"nie jest w tej grupie", "usermod -aG dialout anna", "zaloguj się ponownie"}
        << QStringList{"Wyloguj"};
    QTest::newRow("added but this session lacks it: log out and in")
        << "dialout"
        << "anna" << true << false
        << QStringList{"\"dialout\"", "ta sesja jeszcze jej nie ma", "Wyloguj"}
        << QStringList{"usermod"};
    QTest::newRow("session has the group yet refused: device permissions")
        << "uucp"
        << "anna" << true << true << QStringList{"\"uucp\"", "uprawnień urządzenia"}
        << QStringList{"usermod", "Wyloguj"};
    QTest::newRow("root's group is never suggested")
        << "root"
        << "anna" << false << false << QStringList{"administrator", "dialout"}
        << QStringList{"usermod"};
    QTest::newRow("unknown group still points to an administrator")
        << ""
        << "anna" << false << false << QStringList{"administrator"} << QStringList{"usermod"};
    QTest::newRow("unknown user falls back to $USER")
        << "dialout"
        << "" << false << false << QStringList{"usermod -aG dialout $USER"} << QStringList{};
}

// The refusal names the device's group and tells "not a member" from "member
// since the last login", and never suggests root, sudo or chmod.
void TestPosixSerialPort::permissionMessage() {
    QFETCH(QString, group);
    QFETCH(QString, user);
    QFETCH(bool, userInGroup);
    QFETCH(bool, sessionHasGroup);
    QFETCH(QStringList, mentions);
    QFETCH(QStringList, avoids);

    PermissionFacts facts;
    facts.devicePath = "/dev/ttyUSB0";
    facts.group = group.toStdString();
    facts.user = user.toStdString();
    facts.userInGroup = userInGroup;
    facts.sessionHasGroup = sessionHasGroup;
    const QString message = QString::fromStdString(permissionDeniedMessage(facts));
    QVERIFY2(message.contains("/dev/ttyUSB0"), qPrintable(message));
    for (const QString& m : mentions)
        QVERIFY2(message.contains(m), qPrintable(m + " missing from: " + message));
    for (const QString& a : avoids + QStringList{"sudo", "chmod", "jako root"})
        QVERIFY2(!message.contains(a), qPrintable(a + " found in: " + message));
}

// A user outside the device's group is refused with PermissionDenied naming that group.
void TestPosixSerialPort::permissionDeniedForRealUser() {
    Pty pty;
    QVERIFY(pty.ok());
    const std::string path = pty.slave();
    std::string expectedGroup;
    if (::geteuid() == 0) {
        const group* gr = ::getgrnam("dialout");
        const gid_t gid = gr ? gr->gr_gid : 20;
        expectedGroup = gr ? "\"dialout\"" : "\"20\"";
        QCOMPARE(::chown(path.c_str(), 0, gid), 0);
        QCOMPARE(::chmod(path.c_str(), 0660), 0);
    } else {
        QCOMPARE(::chmod(path.c_str(), 0), 0); // even the owner is refused now
    }
    const int result = asOrdinaryUser([path, expectedGroup]() {
        PosixSerialPort port;
        LinkError error;
        if (port.open(path, error))
            return 1;
        if (error.code != LinkError::Code::PermissionDenied || error.detail != path)
            return 2;
        if (error.message.find(path) == std::string::npos ||
            error.message.find(expectedGroup) == std::string::npos)
            return 3;
        return 0;
    });
    if (result < 0)
        QSKIP("cannot switch to an ordinary user here");
    QCOMPARE(result, 0);
}

// A port held by another process names that process and its number; once it
// lets go, the port opens.
void TestPosixSerialPort::holderInAnotherProcessIsNamed() {
    Pty pty;
    QVERIFY(pty.ok());
    int opened[2], release[2];
    QVERIFY(::pipe(opened) == 0 && ::pipe(release) == 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(opened[0]);
        ::close(release[1]);
        PosixSerialPort holder;
        LinkError e;
        const char ok = holder.open(pty.slave(), e) ? '1' : '0';
        (void)!::write(opened[1], &ok, 1);
        char c;
        (void)!::read(release[0], &c, 1); // until the parent is done, or gone
        ::_exit(0);
    }
    ::close(opened[1]);
    ::close(release[0]);
    char ok = 0;
    const bool heard = ::read(opened[0], &ok, 1) == 1;
    PosixSerialPort port;
    LinkError error;
    const bool openedWhileHeld = port.open(pty.slave(), error);
    ::close(release[1]); // the child ends
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(opened[0]);
    QVERIFY(heard && ok == '1');
    QVERIFY(!openedWhileHeld);
    QCOMPARE(error.code, LinkError::Code::Busy);
    const QString expected = QString("Port %1 jest zajęty przez program test_posix_serial_port "
                                     "(PID %2). Zamknij ten program")
                                 .arg(QString::fromStdString(pty.slave()))
                                 .arg(child);
    QVERIFY2(QString::fromStdString(error.message).startsWith(expected), error.message.c_str());
    QVERIFY2(port.open(pty.slave(), error), error.message.c_str());
}

void TestPosixSerialPort::busyMessageNamesTheHolder_data() {
    // Processes of a fake /proc: "pid|argv0 or empty|comm|fd target or empty"
    QTest::addColumn<QStringList>("processes");
    QTest::addColumn<QString>("expected"); // the message, or how it begins and ends ("...")
    const QString tty = "/dev/ttyUSB0";
    QTest::newRow("another trellikon-cli")
        << QStringList{"1|/sbin/init|systemd|", "4121|/usr/bin/trellikon-cli|trellikon-cli|" + tty}
        << "Port /dev/ttyUSB0 jest zajęty przez program trellikon-cli (PID 4121). Zamknij ten "
           "program (to może być program terminalowy albo druga kopia tego programu) i połącz "
           "się ponownie.";
    QTest::newRow("ModemManager named as such, with its fix")
        << QStringList{"812|/usr/sbin/ModemManager|ModemManager|" + tty}
        << "Port /dev/ttyUSB0 jest zajęty przez ModemManager (PID 812). ModemManager przez "
           "kilka sekund po podłączeniu kabla sprawdza, czy nie jest to modem: odczekaj chwilę "
           "i połącz się ponownie. Jeśli to się powtarza, poproś administratora o regułę udev "
           "z ENV{ID_MM_DEVICE_IGNORE}=\"1\" dla tej przejściówki.";
    QTest::newRow("two holders, the comm when argv is empty")
        << QStringList{"7||picocom|" + tty, "9|/usr/bin/minicom|minicom|" + tty}
        << "Port /dev/ttyUSB0 jest zajęty przez program picocom (PID 7) oraz program minicom "
           "(PID 9). ...";
    QTest::newRow("control characters of a name are not shown")
        << QStringList{"33|/tmp/evil\x1b[2J|evil|" + tty}
        << "Port /dev/ttyUSB0 jest zajęty przez program evil[2J (PID 33). ...";
    QTest::newRow("this process is not another program")
        << QStringList{"77|/usr/bin/trellikon|trellikon|" + tty}
        << "/dev/ttyUSB0 jest zajęty przez inny program: ... to konto go nie widzi.";
    QTest::newRow("holder hidden, ModemManager running")
        << QStringList{"812|/usr/sbin/ModemManager|ModemManager|", "900|/usr/bin/cat|cat|/tmp/x"}
        << "/dev/ttyUSB0 jest zajęty przez inny program: ... ModemManager działa teraz (PID "
           "812); jeśli to się powtarza, poproś administratora o regułę udev z "
           "ENV{ID_MM_DEVICE_IGNORE}=\"1\" dla tej przejściówki.";
}

void TestPosixSerialPort::busyMessageNamesTheHolder() {
    // The holder comes from the descriptors in /proc; a name from there is untrusted.
    QFETCH(QStringList, processes);
    QFETCH(QString, expected);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString proc = root.filePath("proc");
    for (const QString& p : processes) {
        const QStringList f = p.split('|');
        const QString dir = proc + "/" + f[0];
        QVERIFY(QDir().mkpath(dir + "/fd"));
        QFile cmdline(dir + "/cmdline");
        QVERIFY(cmdline.open(QIODevice::WriteOnly));
        if (!f[1].isEmpty())
            cmdline.write(f[1].toUtf8() + QByteArray("\0-x\0", 4));
        QFile comm(dir + "/comm");
        QVERIFY(comm.open(QIODevice::WriteOnly));
        comm.write(f[2].toUtf8() + "\n");
        QVERIFY(QFile::link("/dev/null", dir + "/fd/0"));
        if (!f[3].isEmpty())
            QVERIFY(QFile::link(f[3], dir + "/fd/5"));
    }
    BusyFacts facts;
    facts.devicePath = "/dev/ttyUSB0";
    facts.holders = findPortHolders(facts.devicePath, proc.toStdString(), 77);
    facts.modemManager = findProcess("ModemManager", proc.toStdString());
    const QString message = QString::fromStdString(busyMessage(facts));
    if (!expected.contains("...")) {
        QCOMPARE(message, expected);
        return;
    }
    const QStringList ends = expected.split("...");
    QVERIFY2(message.startsWith(ends[0]) && message.endsWith(ends[1]), qPrintable(message));
}

QTEST_GUILESS_MAIN(TestPosixSerialPort)
#include "test_posix_serial_port.moc"
