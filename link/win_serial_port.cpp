// Everything Windows-specific about the serial port lives here. The quirks:
//
// - The handle is opened without FILE_FLAG_OVERLAPPED, so every call on it is
//   synchronous and the system serialises them. The transmit-buffer-empty
//   wait (WaitCommEvent) and the writes are therefore guarded by a watchdog
//   on the thread pool that cancels this thread's pending call
//   (CancelSynchronousIo) when a driver never completes it; otherwise one
//   such USB adapter would freeze the window for good. The watchdog keeps
//   cancelling until the guarded span ends: a single cancel that landed
//   between two calls would leave the second one blocked. A guard that fired
//   closes the port, so a stalled driver costs one guard period, not one per
//   tick.
// - XonChar and XoffChar are 0x11 and 0x13 although XON/XOFF stays off:
//   Microsoft documents equal characters as an invalid record, and several USB
//   and virtual COM drivers enforce it (SetCommState fails), while the inbox
//   driver and Wine skip the check.
// - The time-outs are set, not left to the driver: a driver keeps what the
//   last program set, and a short write time-out left by a terminal program
//   cuts a 516-byte frame short while WriteFile reports success. Reads return
//   at once with what is waiting; writes have no total time-out (the guard
//   bounds them).
// - A driver that refuses the line settings or the time-outs fails the open
//   with its reason, rather than leaving a port that cannot work for the
//   connection time-out to report.
// - A read asks ClearCommError how many bytes wait and reads only those, so
//   ReadFile returns at once whatever time-outs the driver has.
// - fBinary is set although the line settings clear every other flag:
//   Windows supports binary transfers only and documents the flag as
//   required; a driver that honoured a cleared flag would end reads at the
//   end-of-file character (0), which frames carry all the time.

#include "win_serial_port.h"

#include "port_names.h"
#include "reopen_after_loss.h"
#include "win_comm_calls.h"
#include "windows_text.h"

#include <algorithm>

#include <windows.h>

namespace trellikon {

namespace {

// Queue sizes of the driver: a frame of 516 bytes fits either way.
constexpr DWORD kQueueSize = 520;
// A write, or the wait for its last byte to leave, that takes longer than
// this is cancelled: the wire needs 270 ms for the longest frame.
constexpr DWORD kStallLimitMs = 2000;
// How often the watchdog cancels again once it has fired.
constexpr DWORD kCancelRepeatMs = 50;

const WinCommCalls& systemCalls() {
    static const WinCommCalls calls;
    return calls;
}

HANDLE asHandle(void* h) {
    return static_cast<HANDLE>(h);
}

bool usable(void* h) {
    return h != nullptr && asHandle(h) != INVALID_HANDLE_VALUE;
}

std::string presentPortsSentence() {
    const auto ports = presentPorts();
    if (ports.empty())
        return "Windows nie zgłasza żadnego portu szeregowego.";
    std::string s = "Porty szeregowe obecne teraz: ";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i > 0)
            s += ", ";
        s += ports[i].name;
        if (!ports[i].description.empty())
            s += " (" + ports[i].description + ")";
    }
    return s + ".";
}

// Cancels the owning thread's pending synchronous call when the guarded span
// has not ended in time, and again every few milliseconds until it ends. One
// per guarded span.
class StallWatchdog {
  public:
    explicit StallWatchdog(const WinCommCalls& calls) : calls_(calls) {
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                          &thread_, THREAD_TERMINATE, FALSE, 0);
        if (thread_ != nullptr)
            ::CreateTimerQueueTimer(&timer_, nullptr, &StallWatchdog::fire, this, kStallLimitMs,
                                    kCancelRepeatMs, WT_EXECUTEDEFAULT);
    }
    ~StallWatchdog() {
        // INVALID_HANDLE_VALUE: wait for a callback already running to end.
        if (timer_ != nullptr)
            ::DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
        if (thread_ != nullptr)
            ::CloseHandle(thread_);
    }
    StallWatchdog(const StallWatchdog&) = delete;
    StallWatchdog& operator=(const StallWatchdog&) = delete;

    bool fired() const { return fired_ != 0; }

  private:
    static void CALLBACK fire(void* self, BOOLEAN) {
        auto* w = static_cast<StallWatchdog*>(self);
        ::InterlockedExchange(&w->fired_, 1);
        w->calls_.CancelSynchronousIo(w->thread_);
    }

    const WinCommCalls& calls_;
    HANDLE thread_ = nullptr;
    HANDLE timer_ = nullptr;
    volatile LONG fired_ = 0;
};

std::string refusedBy(const std::string& name, const char* what, DWORD code) {
    return "Sterownik portu " + name + " nie przyjął " + what + ": " + windowsErrorText(code) +
           ". Odłącz i podłącz kabel programujący; jeśli to nie pomoże, zainstaluj sterownik "
           "przejściówki od jej producenta.";
}

} // namespace

// On Windows the port name is the device itself, so no path is reported.
LinkError windowsOpenError(const std::string& name, unsigned long code) {
    using Code = LinkError::Code;
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return makeLinkError(Code::NoSuchDevice, {},
                             "Port " + name + " nie istnieje na tym komputerze. " +
                                 presentPortsSentence() +
                                 " Sprawdź, czy kabel programujący jest podłączony, i wybierz jego "
                                 "port (w Menedżerze urządzeń: Porty (COM i LPT)).");
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return makeLinkError(
            Code::Busy, {},
            "Port " + name +
                " jest zajęty przez inny program: program terminalowy (np. PuTTY), inny "
                "program konfiguracyjny, drugą kopię tego programu albo program producenta "
                "przejściówki. Zamknij programy terminalowe i inne programy konfiguracyjne, "
                "które mogą używać portu, i połącz się ponownie.");
    default:
        return makeLinkError(Code::Other, {},
                             "Nie można otworzyć portu " + name + ": " +
                                 windowsErrorText(static_cast<DWORD>(code)) + ".");
    }
}

std::string windowsDeviceName(const std::string& portName) {
    if (portName.rfind("\\\\", 0) == 0)
        return portName;
    return "\\\\.\\" + portName;
}

bool windowsDeviceGone(unsigned long code) {
    switch (code) {
    case ERROR_ACCESS_DENIED:        // the driver's answer once its device left
    case ERROR_BAD_COMMAND:          // the same from other USB-serial drivers
    case ERROR_DEVICE_NOT_CONNECTED: // CDC-ACM class driver
    case ERROR_DEVICE_REMOVED:
    case ERROR_OPERATION_ABORTED: // a driver cancelling its queue on removal, or our guard
    case ERROR_NOT_READY:         // Wine, once the terminal behind the port hung up
        return true;
    default:
        return false;
    }
}

WinSerialPort::WinSerialPort() : calls_(&systemCalls()) {}

WinSerialPort::WinSerialPort(const WinCommCalls& calls) : calls_(&calls) {}

WinSerialPort::~WinSerialPort() {
    close();
}

bool WinSerialPort::valid() const {
    return usable(handle_);
}

bool WinSerialPort::open(const std::string& portName, LinkError& error) {
    const bool afterLoss = lost_;
    close();
    lost_ = false;
    error = LinkError{};
    return openRetryingAfterLoss(
        afterLoss, error, [&](LinkError& e) { return openOnce(portName, e); },
        [this](unsigned ms) { calls_->Sleep(ms); });
}

bool WinSerialPort::openOnce(const std::string& portName, LinkError& error) {
    error = LinkError{};
    if (portName.empty()) {
        error = makeLinkError(LinkError::Code::NoSuchDevice, {}, "Nie wybrano portu.");
        return false;
    }
    const WinCommCalls& c = *calls_;
    const std::string device = windowsDeviceName(portName);
    HANDLE h = c.CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        handle_ = h;
        error = windowsOpenError(portName, ::GetLastError());
        return false;
    }
    auto refuse = [&](const char* what) {
        const DWORD code = ::GetLastError();
        c.CloseHandle(h);
        handle_ = INVALID_HANDLE_VALUE;
        error = makeLinkError(LinkError::Code::Other, {}, refusedBy(portName, what, code));
        return false;
    };

    // The queue sizes are a wish the driver may round or ignore; its refusal
    // does not stop the port from working.
    c.SetupComm(h, kQueueSize, kQueueSize);
    DCB dcb;
    std::fill_n(reinterpret_cast<unsigned char*>(&dcb), sizeof dcb, 0);
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = CBR_19200;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    if (!c.SetCommState(h, &dcb))
        return refuse("ustawień linii (19200 bodów, 8 bitów danych, bez parzystości, 1 bit stopu)");
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD; // with both totals 0: return what is waiting
    if (!c.SetCommTimeouts(h, &timeouts))
        return refuse("czasów oczekiwania odczytu i zapisu");
    DWORD mask = 0;
    c.GetCommMask(h, &mask);
    c.SetCommMask(h, EV_TXEMPTY);
    handle_ = h;
    path_ = device;
    return true;
}

void WinSerialPort::close() {
    if (usable(handle_))
        calls_->CloseHandle(asHandle(handle_));
    handle_ = nullptr;
    path_.clear();
}

void WinSerialPort::closeAsLost() {
    close();
    lost_ = true;
}

void WinSerialPort::closeIfGone(unsigned long code) {
    if (windowsDeviceGone(code))
        closeAsLost();
}

void WinSerialPort::flush() {
    if (!usable(handle_))
        return;
    StallWatchdog watchdog(*calls_);
    const bool flushed = calls_->FlushFileBuffers(asHandle(handle_));
    const DWORD code = flushed ? 0 : ::GetLastError();
    if (watchdog.fired())
        closeAsLost();
    else if (!flushed)
        closeIfGone(code);
}

bool WinSerialPort::write(const std::uint8_t* data, std::size_t n) {
    if (!usable(handle_) || (data == nullptr && n != 0) || n > MAXDWORD)
        return false;
    const WinCommCalls& c = *calls_;
    StallWatchdog watchdog(c);
    DWORD written = 0;
    DWORD code = 0;
    bool sent = c.WriteFile(asHandle(handle_), data, static_cast<DWORD>(n), &written, nullptr);
    if (!sent)
        code = ::GetLastError();
    DWORD events = 0;
    if (sent && !watchdog.fired() && !c.WaitCommEvent(asHandle(handle_), &events, nullptr)) {
        sent = false;
        code = ::GetLastError();
    }
    if (watchdog.fired()) {
        closeAsLost();
        return false;
    }
    if (!sent) {
        closeIfGone(code);
        return false;
    }
    // A driver's own time-out ends a write early and still reports success.
    return written == n;
}

std::size_t WinSerialPort::waiting() const {
    if (!usable(handle_))
        return 0;
    DWORD errors = 0;
    COMSTAT status{};
    // A failed call counts as nothing waiting: a stale count would make the
    // following ReadFile wait for bytes that never come.
    if (!calls_->ClearCommError(asHandle(handle_), &errors, &status))
        return 0;
    return status.cbInQue;
}

std::size_t WinSerialPort::read(std::uint8_t* data, std::size_t max) {
    if (!usable(handle_) || data == nullptr || max == 0)
        return 0;
    DWORD errors = 0;
    COMSTAT status{};
    if (!calls_->ClearCommError(asHandle(handle_), &errors, &status)) {
        closeIfGone(::GetLastError());
        return 0;
    }
    const std::size_t want = std::min<std::size_t>(max, status.cbInQue);
    if (want == 0)
        return 0;
    DWORD got = 0;
    if (!calls_->ReadFile(asHandle(handle_), data, static_cast<DWORD>(want), &got, nullptr)) {
        closeIfGone(::GetLastError());
        return 0;
    }
    return got;
}

} // namespace trellikon
