// The Win32 serial port: device names, errors a user can act on; a driver
// played through the table of Win32 calls (settings it refuses, a cable pulled
// out, a send that never completes or is cut short, an output queue that
// empties late or never, damaged chunks, a close that hangs). Built a second time as
// test_win_serial_device (TRELLIKON_DEVICE_CASES), it checks on a real handle
// exclusive opening, the read-only-what-is-waiting rule, the line settings as
// the driver holds them and a port above COM8: TRELLIKON_TEST_PORT and
// TRELLIKON_TEST_HIGH_PORT name ports with a device behind them
// (scripts/windows-check.sh points Wine's COM1 and COM12 at the simulator), and
// without them that program fails instead of passing.
#include "port_names.h"
#include "reopen_after_loss.h"
#include "win_comm_calls.h"
#include "win_serial_port.h"
#include "windows_text.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <utility>

#include <windows.h>

using namespace trellikon;

namespace {

bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A driver played by the test: every call is recorded, and the one named in
// `failing` fails with `failCode`.
struct FakeDriver {
    QStringList calls;
    QString failing;
    DWORD failCode = 0;
    int createFailures = 0; // CreateFileA fails this many times with file not found
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    DWORD waiting = 0;        // what ClearCommError reports in the input queue
    int outQueueLooks = 0;    // ClearCommError reports output waiting this many times
    bool neverDrains = false; // ... or every time
    DWORD lineErrors = 0;     // ClearCommError's error flags, reported once
    bool cutShort = false;    // WriteFile takes one byte less than asked and succeeds
    bool stall = false;       // WriteFile blocks until the guard cancels it
    bool hang = false;        // CloseHandle and Sleep block until `release` (or 30 s)
    HANDLE cancelled = nullptr;
    HANDLE release = nullptr;
    bool hungUntilTimeout = false; // a hanging call was never released (read after a join)
    DWORD lastRead = 0;            // the count the last ReadFile asked for
    int sleeps = 0;
    ULONGLONG clock = 0; // the driver's time: only the port's pauses move it

    // A call that hangs in a dead driver: only `release` ends it; the guard's
    // 30 s end means nobody released it, because its caller was waiting.
    void hangIfAsked() {
        if (hang && ::WaitForSingleObject(release, 30000) != WAIT_OBJECT_0)
            hungUntilTimeout = true;
    }

    // The port's background threads call too (closing, reopening).
    void record(const QString& call) {
        static std::mutex callsMutex;
        const std::lock_guard<std::mutex> lock(callsMutex);
        calls << call;
    }

    bool fails(const char* call) {
        record(call);
        if (failing != call)
            return false;
        ::SetLastError(failCode);
        return true;
    }
};
FakeDriver* driver = nullptr;
HANDLE const kFakeHandle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x4C4));

HANDLE WINAPI fakeCreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    driver->record("CreateFileA");
    if (driver->createFailures > 0) {
        --driver->createFailures;
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return kFakeHandle;
}
BOOL WINAPI fakeCloseHandle(HANDLE h) {
    driver->hangIfAsked();
    driver->record(h == kFakeHandle ? "CloseHandle" : "CloseHandle(other)");
    return TRUE;
}
BOOL WINAPI fakeSetupComm(HANDLE, DWORD, DWORD) {
    return !driver->fails("SetupComm");
}
BOOL WINAPI fakeSetCommState(HANDLE, LPDCB dcb) {
    driver->dcb = *dcb;
    return !driver->fails("SetCommState");
}
BOOL WINAPI fakeSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS t) {
    driver->timeouts = *t;
    return !driver->fails("SetCommTimeouts");
}
BOOL WINAPI fakeGetCommMask(HANDLE, LPDWORD mask) {
    *mask = 0;
    return !driver->fails("GetCommMask");
}
BOOL WINAPI fakeSetCommMask(HANDLE, DWORD) {
    return !driver->fails("SetCommMask");
}
BOOL WINAPI fakeFlushFileBuffers(HANDLE) {
    return !driver->fails("FlushFileBuffers");
}
BOOL WINAPI fakeWriteFile(HANDLE, LPCVOID, DWORD n, LPDWORD written, LPOVERLAPPED) {
    *written = 0;
    if (driver->stall) {
        driver->record("WriteFile");
        // Generous: the guard fires after 2 s.
        if (::WaitForSingleObject(driver->cancelled, 30000) == WAIT_OBJECT_0) {
            ::SetLastError(ERROR_OPERATION_ABORTED);
            return FALSE;
        }
    }
    if (driver->fails("WriteFile"))
        return FALSE;
    *written = driver->cutShort ? n - 1 : n;
    return TRUE;
}
BOOL WINAPI fakeClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status) {
    *errors = 0;
    if (driver->fails("ClearCommError"))
        return FALSE;
    *errors = std::exchange(driver->lineErrors, 0);
    *status = COMSTAT{};
    status->cbInQue = driver->waiting;
    if (driver->neverDrains || driver->outQueueLooks > 0) {
        status->cbOutQue = 64;
        --driver->outQueueLooks;
    }
    return TRUE;
}
BOOL WINAPI fakeReadFile(HANDLE, LPVOID, DWORD n, LPDWORD got, LPOVERLAPPED) {
    *got = 0;
    driver->lastRead = n;
    if (driver->fails("ReadFile"))
        return FALSE;
    *got = n;
    driver->waiting -= std::min(driver->waiting, n);
    return TRUE;
}
BOOL WINAPI fakePurgeComm(HANDLE, DWORD flags) {
    driver->record(QString("PurgeComm(%1)").arg(flags, 0, 16));
    return TRUE;
}
BOOL WINAPI fakeCancelSynchronousIo(HANDLE) {
    ::SetEvent(driver->cancelled);
    return TRUE;
}
VOID WINAPI fakeSleep(DWORD ms) {
    driver->hangIfAsked();
    ++driver->sleeps;
    driver->clock += ms;
}
ULONGLONG WINAPI fakeGetTickCount64() {
    return driver->clock;
}

WinCommCalls fakeCalls() {
    WinCommCalls c;
    c.CreateFileA = fakeCreateFileA;
    c.CloseHandle = fakeCloseHandle;
    c.SetupComm = fakeSetupComm;
    c.SetCommState = fakeSetCommState;
    c.SetCommTimeouts = fakeSetCommTimeouts;
    c.GetCommMask = fakeGetCommMask;
    c.SetCommMask = fakeSetCommMask;
    c.FlushFileBuffers = fakeFlushFileBuffers;
    c.WriteFile = fakeWriteFile;
    c.ClearCommError = fakeClearCommError;
    c.ReadFile = fakeReadFile;
    c.PurgeComm = fakePurgeComm;
    c.CancelSynchronousIo = fakeCancelSynchronousIo;
    c.Sleep = fakeSleep;
    c.GetTickCount64 = fakeGetTickCount64;
    return c;
}

// The real calls, keeping the handle the port opened so that the test can ask
// the driver what it holds.
HANDLE realHandle = INVALID_HANDLE_VALUE;
HANDLE WINAPI keepingCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                 DWORD disposition, DWORD flags, HANDLE templ) {
    realHandle = ::CreateFileA(name, access, share, sa, disposition, flags, templ);
    return realHandle;
}

// The port the device cases run on; a missing one fails the case.
#define REQUIRE_PORT(name, variable)                                                               \
    const char* name = std::getenv(variable);                                                      \
    if (name == nullptr || *name == '\0')                                                          \
    QFAIL(variable " names no port with a device behind it")

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

    void init();
    void cleanup();
    void lineSettingsEveryDriverTakes();
    void refusedSettingsFailTheOpen_data();
    void refusedSettingsFailTheOpen();
    void goneDeviceClosesThePort_data();
    void goneDeviceClosesThePort();
    void shortWriteIsAFailedSend();
    void sendWaitsUntilTheOutputQueueIsEmpty_data();
    void sendWaitsUntilTheOutputQueueIsEmpty();
    void damagedChunkIsDropped_data();
    void damagedChunkIsDropped();
    void stalledSendClosesThePort();
    void reopenAfterLossWaitsForTheCable();
    void deadPortNeverBlocksTheWindowsThread();

  private:
    FakeDriver fake_;
    WinCommCalls calls_ = fakeCalls();
};

class TestWinSerialDevice : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void portIsHeldExclusively();
    void readNeverWaits();
    void driverHoldsTheLineSettings();
    void portAboveCom8IsOfferedAndOpens();
};

void TestWinSerialPort::init() {
    fake_ = FakeDriver{};
    fake_.cancelled = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    fake_.release = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    driver = &fake_;
}

void TestWinSerialPort::cleanup() {
    ::SetEvent(fake_.release);
    ::CloseHandle(fake_.cancelled);
    ::CloseHandle(fake_.release);
    driver = nullptr;
}

// The record a USB driver refuses when XON equals XOFF gets distinct ones with
// XON/XOFF still off, and the time-outs are set after it, never left to the
// last program: reads return at once, writes have no total time-out.
void TestWinSerialPort::lineSettingsEveryDriverTakes() {
    WinSerialPort port(calls_);
    LinkError error;
    QVERIFY2(port.open("COM3", error), error.message.c_str());
    QVERIFY(port.valid());
    const DCB& d = fake_.dcb;
    QCOMPARE(d.DCBlength, DWORD(sizeof(DCB)));
    QCOMPARE(d.BaudRate, DWORD(CBR_19200));
    QCOMPARE(int(d.ByteSize), 8);
    QCOMPARE(int(d.Parity), NOPARITY);
    QCOMPARE(int(d.StopBits), ONESTOPBIT);
    QCOMPARE(int(d.fBinary), 1);
    QCOMPARE(int(d.fParity), 1);
    QCOMPARE(int(d.fRtsControl), RTS_CONTROL_ENABLE);
    QCOMPARE(int(d.fDtrControl), DTR_CONTROL_DISABLE);
    QCOMPARE(int(d.fOutX), 0);
    QCOMPARE(int(d.fInX), 0);
    QCOMPARE(int(d.fOutxCtsFlow), 0);
    QCOMPARE(int(d.fOutxDsrFlow), 0);
    QCOMPARE(int(d.fAbortOnError), 0);
    QCOMPARE(int(d.XonChar), 0x11);
    QCOMPARE(int(d.XoffChar), 0x13);
    const COMMTIMEOUTS& t = fake_.timeouts;
    QCOMPARE(t.ReadIntervalTimeout, DWORD(MAXDWORD));
    QCOMPARE(t.ReadTotalTimeoutMultiplier, DWORD(0));
    QCOMPARE(t.ReadTotalTimeoutConstant, DWORD(0));
    QCOMPARE(t.WriteTotalTimeoutMultiplier, DWORD(0));
    QCOMPARE(t.WriteTotalTimeoutConstant, DWORD(0));
    // What the driver held from before the settings is purged right after them.
    QCOMPARE(fake_.calls, (QStringList{"CreateFileA", "SetupComm", "SetCommState", "PurgeComm(f)",
                                       "SetCommTimeouts", "GetCommMask", "SetCommMask"}));
}

void TestWinSerialPort::refusedSettingsFailTheOpen_data() {
    QTest::addColumn<QString>("call");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("says");
    QTest::newRow("line settings refused: no port")
        << "SetCommState" << false << "Sterownik portu COM3 nie przyjął ustawień linii";
    QTest::newRow("time-outs refused: no port")
        << "SetCommTimeouts" << false << "Sterownik portu COM3 nie przyjął czasów oczekiwania";
    QTest::newRow("queue sizes refused: the port works anyway") << "SetupComm" << true << "";
}

// A driver that refuses what the port needs fails the open with its reason,
// and the handle is given back.
void TestWinSerialPort::refusedSettingsFailTheOpen() {
    QFETCH(QString, call);
    QFETCH(bool, opens);
    QFETCH(QString, says);
    fake_.failing = call;
    fake_.failCode = ERROR_INVALID_PARAMETER;
    WinSerialPort port(calls_);
    LinkError error;
    QCOMPARE(port.open("COM3", error), opens);
    QCOMPARE(port.valid(), opens);
    if (opens)
        return;
    QCOMPARE(int(error.code), int(LinkError::Code::Other));
    const QString message = QString::fromStdString(error.message);
    QVERIFY2(message.startsWith(says), qPrintable(message));
    // The system's own words follow, not just a number.
    QVERIFY2(message.contains(QString::fromStdString(windowsErrorText(ERROR_INVALID_PARAMETER))),
             qPrintable(message));
    QCOMPARE(fake_.calls.count("CloseHandle"), 1);
    QVERIFY(!fake_.calls.contains("SetCommMask"));
    // Nothing was sent over a port that is not there.
    std::uint8_t oneByte = 0;
    QVERIFY(!port.write(&oneByte, 1));
    QVERIFY(!fake_.calls.contains("WriteFile"));
}

void TestWinSerialPort::goneDeviceClosesThePort_data() {
    QTest::addColumn<QString>("call");
    QTest::addColumn<uint>("code");
    QTest::addColumn<bool>("gone");
    const struct {
        const char* name;
        DWORD code;
        bool gone;
    } errors[] = {
        {"access denied", ERROR_ACCESS_DENIED, true},
        {"bad command", ERROR_BAD_COMMAND, true},
        {"device not connected", ERROR_DEVICE_NOT_CONNECTED, true},
        {"device removed", ERROR_DEVICE_REMOVED, true},
        {"operation aborted", ERROR_OPERATION_ABORTED, true},
        {"not ready", ERROR_NOT_READY, true},
        {"device not functioning (CDC, CH340 pulled)", ERROR_GEN_FAILURE, true},
        {"invalid handle", ERROR_INVALID_HANDLE, true},
        {"file not found", ERROR_FILE_NOT_FOUND, true},
        {"device does not exist", ERROR_DEV_NOT_EXIST, true},
        {"no such device", 433, true},
        {"invalid parameter", ERROR_INVALID_PARAMETER, false},
        {"insufficient buffer", ERROR_INSUFFICIENT_BUFFER, false},
    };
    for (const char* call : {"WriteFile", "FlushFileBuffers", "ClearCommError", "ReadFile"}) {
        for (const auto& e : errors) {
            QTest::addRow("%s: %s", call, e.name) << call << uint(e.code) << e.gone;
        }
    }
}

// A call that fails because the device is gone closes the port at once, so
// that Windows can give the COM number back to the cable; any other failure
// fails only that call.
void TestWinSerialPort::goneDeviceClosesThePort() {
    QFETCH(QString, call);
    QFETCH(uint, code);
    QFETCH(bool, gone);
    WinSerialPort port(calls_);
    LinkError error;
    QVERIFY(port.open("COM3", error));
    fake_.calls.clear();
    fake_.failing = call;
    fake_.failCode = code;
    fake_.waiting = 10;
    std::uint8_t frame[516] = {0xAA, 0x02};
    if (call == "FlushFileBuffers") {
        port.flush();
    } else if (call == "WriteFile") {
        QVERIFY(!port.write(frame, sizeof frame));
    } else {
        QCOMPARE(port.read(frame, 521), std::size_t(0));
    }
    QCOMPARE(port.valid(), !gone);
    port.waitForBackgroundWork();
    QCOMPARE(fake_.calls.count("CloseHandle"), gone ? 1 : 0);
    // After a loss nothing more reaches the driver.
    fake_.failing.clear();
    fake_.calls.clear();
    const bool sent = port.write(frame, sizeof frame);
    QCOMPARE(sent, !gone);
    QCOMPARE(fake_.calls.isEmpty(), gone);
}

// A write the driver cut short is a failed send, though WriteFile succeeded,
// and what it kept of the frame is purged so that it cannot leave late.
void TestWinSerialPort::shortWriteIsAFailedSend() {
    WinSerialPort port(calls_);
    LinkError error;
    QVERIFY(port.open("COM3", error));
    fake_.cutShort = true;
    fake_.calls.clear();
    std::uint8_t frame[516] = {0xAA, 0x02};
    QVERIFY(!port.write(frame, sizeof frame));
    QVERIFY(port.valid());
    QCOMPARE(fake_.calls, (QStringList{"WriteFile", "PurgeComm(5)"}));
    fake_.cutShort = false;
    QVERIFY(port.write(frame, sizeof frame));
}

void TestWinSerialPort::sendWaitsUntilTheOutputQueueIsEmpty_data() {
    QTest::addColumn<int>("looks");
    QTest::addColumn<bool>("sent");
    QTest::newRow("queue empty at once: no pause") << 0 << true;
    QTest::newRow("queue empty at the sixth look: five pauses") << 5 << true;
    QTest::newRow("queue never empties: purged, the port given up") << -1 << false;
}

// A send ends when the driver's output queue is empty, asked again after a
// short pause each time; a queue that never empties is a stuck driver, and a
// bounded one: the send fails and the port is given up.
void TestWinSerialPort::sendWaitsUntilTheOutputQueueIsEmpty() {
    QFETCH(int, looks);
    QFETCH(bool, sent);
    WinSerialPort port(calls_);
    LinkError error;
    QVERIFY(port.open("COM3", error));
    fake_.calls.clear();
    fake_.outQueueLooks = std::max(looks, 0);
    fake_.neverDrains = looks < 0;
    std::uint8_t frame[516] = {0xAA, 0x02};
    QCOMPARE(port.write(frame, sizeof frame), sent);
    QCOMPARE(port.valid(), sent);
    port.waitForBackgroundWork();
    if (sent) {
        QCOMPARE(fake_.sleeps, looks);
        QCOMPARE(fake_.calls.count("ClearCommError"), looks + 1);
    } else {
        // Bounded by 2 s of the driver's clock, a few milliseconds a look.
        QVERIFY2(fake_.clock >= 2000 && fake_.clock <= 2100,
                 qPrintable(QString::number(fake_.clock)));
        QVERIFY(fake_.sleeps >= 100);
        QVERIFY(fake_.calls.contains("PurgeComm(5)"));
        QCOMPARE(fake_.calls.count("CloseHandle"), 1);
    }
}

void TestWinSerialPort::damagedChunkIsDropped_data() {
    QTest::addColumn<uint>("flags");
    QTest::addColumn<bool>("seenBySend");
    QTest::newRow("framing error") << uint(CE_FRAME) << false;
    QTest::newRow("overrun") << uint(CE_OVERRUN) << false;
    QTest::newRow("parity error") << uint(CE_RXPARITY) << false;
    QTest::newRow("input queue overflow") << uint(CE_RXOVER) << false;
    QTest::newRow("framing error that a send's queue look took") << uint(CE_FRAME) << true;
    QTest::newRow("a break alone damages nothing received") << uint(CE_BREAK) << false;
}

// What waits when the driver flags a line error is read and dropped, never
// handed to the protocol, also when the send's look at the output queue took
// the flag; the next chunk is read as usual.
void TestWinSerialPort::damagedChunkIsDropped() {
    QFETCH(uint, flags);
    QFETCH(bool, seenBySend);
    WinSerialPort port(calls_);
    LinkError error;
    QVERIFY(port.open("COM3", error));
    fake_.lineErrors = flags;
    if (seenBySend) {
        std::uint8_t frame[3] = {0xAA, 0x01, 0x01};
        QVERIFY(port.write(frame, sizeof frame));
        QCOMPARE(fake_.lineErrors, DWORD(0));
    }
    const bool damaging = flags != CE_BREAK;
    fake_.waiting = 12;
    std::uint8_t buffer[521];
    QCOMPARE(port.read(buffer, sizeof buffer), damaging ? std::size_t(0) : std::size_t(12));
    QCOMPARE(fake_.lastRead, DWORD(12));
    QCOMPARE(fake_.waiting, DWORD(0));
    QVERIFY(port.valid());
    fake_.waiting = 7;
    QCOMPARE(port.read(buffer, sizeof buffer), std::size_t(7));
}

// A write that never ends is cancelled by the guard and closes the port: the
// next tick's send is skipped instead of stalling again.
void TestWinSerialPort::stalledSendClosesThePort() {
    WinSerialPort port(calls_);
    LinkError error;
    QVERIFY(port.open("COM3", error));
    fake_.stall = true;
    std::uint8_t frame[516] = {0xAA, 0x02};
    const auto start = std::chrono::steady_clock::now();
    QVERIFY(!port.write(frame, sizeof frame));
    QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(20));
    QVERIFY(!port.valid());
    port.waitForBackgroundWork();
    QCOMPARE(fake_.calls.count("CloseHandle"), 1);
    fake_.calls.clear();
    QVERIFY(!port.write(frame, sizeof frame));
    QVERIFY(fake_.calls.isEmpty());
}

// The connect after a loss tries again while Plug and Play brings the cable
// back, a bounded number of times, in the background: the open itself
// succeeds at once and the port becomes valid when the cable is back. An
// ordinary absent port fails at once.
void TestWinSerialPort::reopenAfterLossWaitsForTheCable() {
    WinSerialPort port(calls_);
    LinkError error;
    fake_.createFailures = 1;
    QVERIFY(!port.open("COM3", error));
    QCOMPARE(int(error.code), int(LinkError::Code::NoSuchDevice));
    QCOMPARE(fake_.sleeps, 0);

    QVERIFY(port.open("COM3", error));
    fake_.failing = "ClearCommError";
    fake_.failCode = ERROR_DEVICE_REMOVED;
    std::uint8_t oneByte = 0;
    QCOMPARE(port.read(&oneByte, 1), std::size_t(0));
    QVERIFY(!port.valid());
    port.waitForBackgroundWork();
    fake_.failing.clear();

    fake_.createFailures = 3;
    QVERIFY2(port.open("COM3", error), error.message.c_str());
    port.waitForBackgroundWork();
    QVERIFY(port.valid());
    QVERIFY(!port.opening());
    QCOMPARE(QString::fromStdString(port.devicePath()), "\\\\.\\COM3");
    QCOMPARE(fake_.sleeps, 3);

    // Lost again, and the cable stays away: every attempt, then the message.
    fake_.failing = "ReadFile";
    fake_.failCode = ERROR_ACCESS_DENIED;
    fake_.waiting = 1;
    QCOMPARE(port.read(&oneByte, 1), std::size_t(0));
    QVERIFY(!port.valid());
    QVERIFY(port.lost()); // a transfer under way ends at once
    port.waitForBackgroundWork();
    fake_.sleeps = 0;
    fake_.calls.clear();
    fake_.createFailures = 1000;
    QVERIFY(port.open("COM3", error));
    QVERIFY(!port.lost());
    port.waitForBackgroundWork();
    QVERIFY(!port.valid());
    QVERIFY(!port.opening());
    QCOMPARE(fake_.calls.count("CreateFileA"), kWindowsReopenAttempts);
    QCOMPARE(fake_.sleeps, kWindowsReopenAttempts - 1);
    // Nothing was sent meanwhile, and the next open after that is an ordinary one.
    std::uint8_t frame[3] = {0xAA, 0x01, 0x01};
    QVERIFY(!port.write(frame, sizeof frame));
    fake_.calls.clear();
    QVERIFY(!port.open("COM3", error));
    QCOMPARE(int(error.code), int(LinkError::Code::NoSuchDevice));
    QCOMPARE(fake_.calls, QStringList{"CreateFileA"});
}

// A dead port's CloseHandle that hangs in its driver, and the wait for the
// cable to return, never hold the calling (the window's) thread: the driver's
// calls block until the test releases them, which it does only after the
// port's calls have returned. Had the port waited for them, they would have
// run into their 30 s guard instead.
void TestWinSerialPort::deadPortNeverBlocksTheWindowsThread() {
    WinSerialPort port(calls_);
    LinkError error;
    QVERIFY(port.open("COM3", error));
    fake_.hang = true;
    fake_.failing = "ReadFile";
    fake_.failCode = ERROR_GEN_FAILURE;
    fake_.waiting = 5;
    std::uint8_t buffer[16];
    QCOMPARE(port.read(buffer, sizeof buffer), std::size_t(0));
    QVERIFY(!port.valid());
    fake_.failing.clear();
    fake_.createFailures = 1000; // the cable stays away
    QVERIFY(port.open("COM3", error));
    QVERIFY(!port.valid());
    std::uint8_t frame[3] = {0xAA, 0x01, 0x01};
    QVERIFY(!port.write(frame, sizeof frame));
    ::SetEvent(fake_.release);
    port.waitForBackgroundWork();
    QVERIFY(!fake_.hungUntilTimeout);
    QVERIFY(!port.valid());

    // A port closed by the user whose driver then hangs in CloseHandle.
    ::ResetEvent(fake_.release);
    fake_.createFailures = 0;
    WinSerialPort other(calls_);
    QVERIFY(other.open("COM3", error));
    QVERIFY(other.valid());
    other.close();
    QVERIFY(!other.valid());
    ::SetEvent(fake_.release);
    other.waitForBackgroundWork();
    QVERIFY(!fake_.hungUntilTimeout);
}

// On a real port the driver holds what was asked, read back as it has it.
void TestWinSerialDevice::driverHoldsTheLineSettings() {
    REQUIRE_PORT(name, "TRELLIKON_TEST_PORT");
    WinCommCalls calls;
    calls.CreateFileA = keepingCreateFileA;
    WinSerialPort port(calls);
    LinkError error;
    QVERIFY2(port.open(name, error), error.message.c_str());
    DCB d{};
    d.DCBlength = sizeof d;
    QVERIFY(::GetCommState(realHandle, &d));
    QCOMPARE(d.BaudRate, DWORD(CBR_19200));
    QCOMPARE(int(d.ByteSize), 8);
    QCOMPARE(int(d.Parity), NOPARITY);
    QCOMPARE(int(d.StopBits), ONESTOPBIT);
    QCOMPARE(int(d.fOutX), 0);
    QCOMPARE(int(d.fInX), 0);
    QCOMPARE(int(d.fOutxCtsFlow), 0);
    // (RTS and DTR are not read back: a pseudo-terminal behind Wine's port
    // has no modem lines, and Wine reports DTR on whatever was asked.)
    QVERIFY(d.XonChar != d.XoffChar);
    QCOMPARE(int(d.XonChar), 0x11);
    QCOMPARE(int(d.XoffChar), 0x13);
    COMMTIMEOUTS t{};
    QVERIFY(::GetCommTimeouts(realHandle, &t));
    QCOMPARE(t.ReadIntervalTimeout, DWORD(MAXDWORD));
    QCOMPARE(t.ReadTotalTimeoutMultiplier, DWORD(0));
    QCOMPARE(t.ReadTotalTimeoutConstant, DWORD(0));
    QCOMPARE(t.WriteTotalTimeoutMultiplier, DWORD(0));
    QCOMPARE(t.WriteTotalTimeoutConstant, DWORD(0));
}

// A port above COM8 (Wine's registry maps TRELLIKON_TEST_HIGH_PORT to the
// simulator) is among those the port list appends, described, and works.
void TestWinSerialDevice::portAboveCom8IsOfferedAndOpens() {
    REQUIRE_PORT(name, "TRELLIKON_TEST_HIGH_PORT");
    QStringList offered;
    for (const auto& p : portsBeyondTheEight())
        offered << QString::fromStdString(p.name + "|" + p.description);
    QVERIFY2(offered.filter(QRegularExpression("^" + QString(name) + "\\|.+")).size() == 1,
             qPrintable(offered.join(", ")));
    for (const QString& p : offered)
        QVERIFY2(!comPortNumber(p.section('|', 0, 0).toStdString()), qPrintable(p));
    WinSerialPort port;
    LinkError error;
    QVERIFY2(port.open(name, error), error.message.c_str());
    QCOMPARE(QString::fromStdString(port.devicePath()), "\\\\.\\" + QString(name));
    const std::uint8_t bytes[3] = {0xAA, 0x01, 0x01};
    QVERIFY(port.write(bytes, 3));
}

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
    QVERIFY(e.detail.empty());
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

void TestWinSerialDevice::portIsHeldExclusively() {
    REQUIRE_PORT(name, "TRELLIKON_TEST_PORT");
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

void TestWinSerialDevice::readNeverWaits() {
    REQUIRE_PORT(name, "TRELLIKON_TEST_PORT");
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

#ifdef TRELLIKON_DEVICE_CASES
QTEST_GUILESS_MAIN(TestWinSerialDevice)
#else
QTEST_GUILESS_MAIN(TestWinSerialPort)
#endif
#include "test_win_serial_port.moc"
