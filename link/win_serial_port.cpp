// Everything Windows-specific about the serial port lives here. The quirks:
//
// - The handle is opened without FILE_FLAG_OVERLAPPED, so every call on it is
//   synchronous and the system serialises them. The transmit-buffer-empty
//   wait (WaitCommEvent) and the writes are therefore guarded by a watchdog
//   on the thread pool that cancels this thread's pending call
//   (CancelSynchronousIo) when a driver never completes it; otherwise one
//   such USB adapter would freeze the window for good.
// - A read asks ClearCommError how many bytes wait and reads only those, so
//   ReadFile returns at once whatever time-outs the driver has.
// - fBinary is set although the line settings clear every other flag:
//   Windows supports binary transfers only and documents the flag as
//   required; a driver that honoured a cleared flag would end reads at the
//   end-of-file character (0), which frames carry all the time.

#include "win_serial_port.h"

#include "port_names.h"
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

HANDLE asHandle(void* h) {
    return static_cast<HANDLE>(h);
}

bool usable(void* h) {
    return h != nullptr && asHandle(h) != INVALID_HANDLE_VALUE;
}

std::string presentPortsSentence() {
    const auto ports = listSerialPorts();
    if (ports.empty())
        return "Windows nie zgłasza żadnego portu szeregowego.";
    std::string s = "Porty szeregowe obecne teraz: ";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i > 0)
            s += ", ";
        s += ports[i];
        const std::string what = describePort(ports[i]);
        if (what.find(ports[i]) == std::string::npos)
            s += " (" + what + ")";
    }
    return s + ".";
}

// Cancels the owning thread's pending synchronous call when it has not
// completed in time. One per guarded call.
class StallWatchdog {
  public:
    StallWatchdog() {
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                          &thread_, THREAD_TERMINATE, FALSE, 0);
        if (thread_ != nullptr)
            ::CreateTimerQueueTimer(&timer_, nullptr, &StallWatchdog::fire, this, kStallLimitMs, 0,
                                    WT_EXECUTEONLYONCE);
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
        ::CancelSynchronousIo(w->thread_);
    }

    HANDLE thread_ = nullptr;
    HANDLE timer_ = nullptr;
    volatile LONG fired_ = 0;
};

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
                " jest zajęty przez inny program: program terminalowy, drugą kopię "
                "tego programu albo program producenta przejściówki. Zamknij tamten "
                "program i połącz się ponownie.");
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

WinSerialPort::~WinSerialPort() {
    close();
}

bool WinSerialPort::valid() const {
    return usable(handle_);
}

bool WinSerialPort::open(const std::string& portName, LinkError& error) {
    close();
    error = LinkError{};
    if (portName.empty()) {
        error = makeLinkError(LinkError::Code::NoSuchDevice, {}, "Nie wybrano portu.");
        return false;
    }
    const std::string device = windowsDeviceName(portName);
    HANDLE h = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        handle_ = h;
        error = windowsOpenError(portName, ::GetLastError());
        return false;
    }
    handle_ = h;
    path_ = device;

    // Failures of the configuration calls are left to the protocol's
    // time-outs, which report a port that does not work.
    ::SetupComm(h, kQueueSize, kQueueSize);
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
    ::SetCommState(h, &dcb);
    DWORD mask = 0;
    ::GetCommMask(h, &mask);
    ::SetCommMask(h, EV_TXEMPTY);
    return true;
}

void WinSerialPort::close() {
    if (usable(handle_))
        ::CloseHandle(asHandle(handle_));
    handle_ = nullptr;
    path_.clear();
}

void WinSerialPort::flush() {
    if (!usable(handle_))
        return;
    StallWatchdog watchdog;
    ::FlushFileBuffers(asHandle(handle_));
}

bool WinSerialPort::write(const std::uint8_t* data, std::size_t n) {
    if (!usable(handle_) || (data == nullptr && n != 0) || n > MAXDWORD)
        return false;
    StallWatchdog watchdog;
    DWORD written = 0;
    if (!::WriteFile(asHandle(handle_), data, static_cast<DWORD>(n), &written, nullptr) ||
        watchdog.fired())
        return false;
    DWORD events = 0;
    if (!::WaitCommEvent(asHandle(handle_), &events, nullptr) || watchdog.fired())
        return false;
    return written == n;
}

std::size_t WinSerialPort::waiting() const {
    if (!usable(handle_))
        return 0;
    DWORD errors = 0;
    COMSTAT status{};
    // A failed call counts as nothing waiting: a stale count would make the
    // following ReadFile wait for bytes that never come.
    if (!::ClearCommError(asHandle(handle_), &errors, &status))
        return 0;
    return status.cbInQue;
}

std::size_t WinSerialPort::read(std::uint8_t* data, std::size_t max) {
    if (!usable(handle_) || data == nullptr || max == 0)
        return 0;
    const std::size_t want = std::min(max, waiting());
    if (want == 0)
        return 0;
    DWORD got = 0;
    if (!::ReadFile(asHandle(handle_), data, static_cast<DWORD>(want), &got, nullptr))
        return 0;
    return got;
}

} // namespace trellikon
