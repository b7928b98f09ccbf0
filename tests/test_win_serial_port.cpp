// The Win32 serial port: device names, errors a user can act on, and, when
// TRELLIKON_TEST_PORT names a port with a device behind it (scripts/windows-check.sh
// points Wine's COM1 at the simulator), exclusive opening and the
// read-only-what-is-waiting rule on a real handle.
#include "win_serial_port.h"

#include <QTest>

#include <chrono>
#include <cstdlib>

#include <windows.h>

using namespace trellikon;

namespace {

bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace

class TestWinSerialPort : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void deviceNames_data();
    void deviceNames();
    void absentPortIsNamedInTheError_data();
    void absentPortIsNamedInTheError();
    void openErrorsSayWhatToDo_data();
    void openErrorsSayWhatToDo();
    void unopenedPortMovesNothing();
    void portIsHeldExclusively();
    void readNeverWaits();
};

void TestWinSerialPort::deviceNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("device");
    QTest::newRow("COM1 gets the device prefix") << "COM1"
                                                 << "\\\\.\\COM1";
    QTest::newRow("COM12 needs it to open at all") << "COM12"
                                                   << "\\\\.\\COM12";
    QTest::newRow("a device path stays") << "\\\\.\\COM3"
                                         << "\\\\.\\COM3";
}

void TestWinSerialPort::deviceNames() {
    QFETCH(QString, name);
    QFETCH(QString, device);
    QCOMPARE(QString::fromStdString(windowsDeviceName(name.toStdString())), device);
}

void TestWinSerialPort::absentPortIsNamedInTheError_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    QTest::newRow("no such port") << "COM197" << int(LinkError::Code::NoSuchDevice)
                                  << "Port COM197 nie istnieje na tym komputerze.";
    QTest::newRow("no name") << "" << int(LinkError::Code::NoSuchDevice) << "Nie wybrano portu.";
}

void TestWinSerialPort::absentPortIsNamedInTheError() {
    QFETCH(QString, name);
    QFETCH(int, code);
    QFETCH(QString, says);
    WinSerialPort port;
    LinkError error;
    QVERIFY(!port.open(name.toStdString(), error));
    QCOMPARE(int(error.code), code);
    QVERIFY2(QString::fromStdString(error.message).startsWith(says), error.message.c_str());
    QVERIFY(!port.valid());
}

void TestWinSerialPort::openErrorsSayWhatToDo_data() {
    QTest::addColumn<uint>("systemCode");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    QTest::newRow("file not found: no such port")
        << 2u << int(LinkError::Code::NoSuchDevice) << "Port COM3 nie istnieje na tym komputerze.";
    QTest::newRow("path not found: no such port")
        << 3u << int(LinkError::Code::NoSuchDevice) << "Port COM3 nie istnieje na tym komputerze.";
    QTest::newRow("access denied: another program holds it")
        << 5u << int(LinkError::Code::Busy) << "Port COM3 jest zajęty przez inny program";
    QTest::newRow("sharing violation: another program holds it")
        << 32u << int(LinkError::Code::Busy) << "Port COM3 jest zajęty przez inny program";
    QTest::newRow("anything else: the system's own words")
        << 31u << int(LinkError::Code::Other) << "Nie można otworzyć portu COM3: ";
}

void TestWinSerialPort::openErrorsSayWhatToDo() {
    QFETCH(uint, systemCode);
    QFETCH(int, code);
    QFETCH(QString, says);
    const LinkError e = windowsOpenError("COM3", systemCode);
    QCOMPARE(int(e.code), code);
    const QString message = QString::fromStdString(e.message);
    QVERIFY2(message.startsWith(says), qPrintable(message));
    // The system's message is there, not just the number.
    QVERIFY(message.size() > says.size() + 3);
    QVERIFY(e.devicePath.empty());
}

void TestWinSerialPort::unopenedPortMovesNothing() {
    WinSerialPort port;
    std::uint8_t buffer[8] = {1, 2, 3};
    QVERIFY(!port.valid());
    QVERIFY(!port.write(buffer, 3));
    QCOMPARE(port.read(buffer, sizeof buffer), std::size_t(0));
    port.flush();
    port.close();
}

void TestWinSerialPort::portIsHeldExclusively() {
    const char* name = std::getenv("TRELLIKON_TEST_PORT");
    if (name == nullptr || *name == '\0')
        QSKIP("TRELLIKON_TEST_PORT names no port with a device behind it");
    WinSerialPort first;
    WinSerialPort second;
    LinkError error;
    QVERIFY2(first.open(name, error), error.message.c_str());
    // Opening again on the same object closes the first handle first.
    QVERIFY2(first.open(name, error), error.message.c_str());
    if (runningUnderWine())
        QSKIP("Wine opens a serial device for any number of handles, whatever the share mode");
    QVERIFY(!second.open(name, error));
    QCOMPARE(int(error.code), int(LinkError::Code::Busy));
    first.close();
    QVERIFY2(second.open(name, error), error.message.c_str());
}

void TestWinSerialPort::readNeverWaits() {
    const char* name = std::getenv("TRELLIKON_TEST_PORT");
    if (name == nullptr || *name == '\0')
        QSKIP("TRELLIKON_TEST_PORT names no port with a device behind it");
    WinSerialPort port;
    LinkError error;
    QVERIFY2(port.open(name, error), error.message.c_str());
    std::uint8_t buffer[521];
    // Whatever the device sent at start is taken; then nothing waits, and a
    // read returns at once however long the driver's time-outs are.
    while (port.read(buffer, sizeof buffer) > 0) {
    }
    const auto start = std::chrono::steady_clock::now();
    QCOMPARE(port.read(buffer, sizeof buffer), std::size_t(0));
    QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(200));
    // Three bytes leave within the guard, however the driver reports it.
    const std::uint8_t bytes[3] = {0x00, 0x55, 0xFF};
    const auto sent = std::chrono::steady_clock::now();
    port.flush();
    QVERIFY(port.write(bytes, 3));
    QVERIFY(std::chrono::steady_clock::now() - sent < std::chrono::milliseconds(3000));
}

QTEST_GUILESS_MAIN(TestWinSerialPort)
#include "test_win_serial_port.moc"
