// Everything Windows-specific about the serial port lives here. The quirks:
//
// - The handle is opened without FILE_FLAG_OVERLAPPED, so every call on it is
//   synchronous and the system serialises them. A send (the write and the
//   wait for the output queue to empty) is therefore guarded by a watchdog
//   on the thread pool that cancels this thread's pending call
//   (CancelSynchronousIo) when a driver never completes it; otherwise one
//   such USB adapter would freeze the window for good. The watchdog keeps
//   cancelling until the guarded span ends: a single cancel that landed
//   between two calls would leave the second one blocked. A guard that fired
//   closes the port, so a stalled driver costs one guard period, not one per
//   tick.
// - A send ends when ClearCommError reports the output queue empty, asked
//   every few milliseconds, not when the transmit-buffer-empty event comes:
//   Wine raises that event itself, but USB-serial drivers (FTDI, Prolific,
//   WCH, Silicon Labs) each implement it loosely, and one that never raises it
//   would stall every frame. The queue count is what every driver keeps.
// - A write the driver ends early (its own time-out) reports success with
//   fewer bytes: the rest of the frame is purged, so it cannot leave late and
//   run into the next frame, and the send counts as failed.
// - A chunk received with a framing, overrun or parity error (ClearCommError's
//   flags) is read and dropped, never evaluated. Flags that a ClearCommError
//   outside a read collected are kept for the next read.
// - XonChar and XoffChar are 0x11 and 0x13 although XON/XOFF stays off:
//   Microsoft documents equal characters as an invalid record, and several USB
//   and virtual COM drivers enforce it (SetCommState fails), while the inbox
//   driver and Wine skip the check.
// - DTR is off and RTS on: the lines the device's programming cable has
//   always been driven with, and the device has never been tried with DTR
//   on. A cable whose level converter draws its power from DTR (some
//   home-made ones do) would need DTR on instead.
// - The time-outs are set, not left to the driver: a driver keeps what the
//   last program set, and a short write time-out left by a terminal program
//   cuts a 516-byte frame short. Reads return at once with what is waiting;
//   writes have no total time-out (the guard bounds them).
// - Right after the line settings both queues are purged: what the driver
//   took in before them (another program's traffic, line noise at another
//   speed) would otherwise be read as the device's first bytes.
// - A driver that refuses the line settings or the time-outs fails the open
//   with its reason, rather than leaving a port that cannot work for the
//   connection time-out to report.
// - A read asks ClearCommError how many bytes wait and reads only those, so
//   ReadFile returns at once whatever time-outs the driver has.
// - fBinary is set although the line settings clear every other flag:
//   Windows supports binary transfers only and documents the flag as
//   required; a driver that honoured a cleared flag would end reads at the
//   end-of-file character (0), which frames carry all the time.
// - A handle whose device is gone is closed on a thread of its own, and the
//   attempts to reopen it run on another: a dead driver may take seconds over
//   CloseHandle, and re-enumeration takes 2 to 5 s, none of which the window
//   may wait for.

#include "win_serial_port.h"
#include "system_serial_port.h"

#include "port_names.h"
#include "reopen_after_loss.h"
#include "win_comm_calls.h"
#include "windows_text.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <future>
#include <memory>
#include <utility>

#include <windows.h>

namespace trellikon {

namespace {

// Queue sizes of the driver: a frame of 516 bytes fits either way, and a
// burst of line noise does not overflow the input.
constexpr DWORD kQueueSize = 4096;
// A write, or the wait for its last byte to leave, that takes longer than
// this is cancelled: the wire needs 270 ms for the longest frame.
constexpr DWORD kStallLimitMs = 2000;
// How often the watchdog cancels again once it has fired.
constexpr DWORD kCancelRepeatMs = 50;
// How long closing a port may hold the window's thread.
constexpr long kCloseWaitMs = 100;
// How long the attempts to reopen a lost port go on at most.
constexpr ULONGLONG kReopenWindowMs = 5000;
// How often a send asks whether the output queue is empty yet.
constexpr DWORD kDrainPollMs = 2;
// ERROR_NO_SUCH_DEVICE, which mingw-w64's headers do not define.
constexpr DWORD kErrorNoSuchDevice = 433;
// The errors for which a received chunk is dropped.
constexpr DWORD kLineErrors = CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_RXOVER;

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
    case ERROR_GEN_FAILURE:          // CDC-ACM and CH340 ports, pulled
    case ERROR_DEVICE_NOT_CONNECTED: // CDC-ACM class driver
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case kErrorNoSuchDevice:
    case ERROR_FILE_NOT_FOUND:    // the device object itself is gone
    case ERROR_INVALID_HANDLE:    // the driver dropped the handle with its device
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
    // The system's calls live as long as the program: a close that hangs in a
    // dead driver must not keep the program from ending. A table a test gave
    // may not outlive the port, so its calls are waited for.
    for (Closer& closer : closers_) {
        if (calls_ == &systemCalls())
            closer.thread.detach();
        else
            closer.thread.join();
    }
}

void* WinSerialPort::current() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return handle_;
}

std::string WinSerialPort::devicePath() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

bool WinSerialPort::valid() const {
    return usable(current());
}

void WinSerialPort::publish(void* handle, const std::string& portName) {
    const std::lock_guard<std::mutex> lock(mutex_);
    handle_ = handle;
    path_ = windowsDeviceName(portName);
}

bool WinSerialPort::open(const std::string& portName, LinkError& error) {
    const bool afterLoss = lost_;
    close();
    lost_ = false;
    error = LinkError{};
    if (!afterLoss) {
        void* h = openOnce(portName, error);
        if (h)
            publish(h, portName);
        return h != nullptr;
    }
    // The cable may be on its way back, or its old handle not yet released:
    // every attempt runs on a thread of their own (even a failed one asks
    // SetupAPI for the ports present, for its message), and the connection
    // attempt starts meanwhile; its time-out tells the user if none succeeds.
    // Bounded by the attempts and by time, whichever ends first.
    stopOpening_ = false;
    opening_ = true;
    opener_ = std::thread([this, portName] {
        const ULONGLONG start = calls_->GetTickCount64();
        void* h = nullptr;
        LinkError e;
        const auto once = [&](LinkError& attemptError) {
            if (stopOpening_ || calls_->GetTickCount64() - start > kReopenWindowMs) {
                attemptError = makeLinkError(LinkError::Code::Other, {}, {});
                return false;
            }
            h = openOnce(portName, attemptError);
            return h != nullptr;
        };
        const auto pause = [&](unsigned ms) {
            if (!stopOpening_)
                calls_->Sleep(ms);
        };
        if (openRetryingAfterLoss(true, e, once, pause, kWindowsReopenAttempts))
            publish(h, portName);
        opening_ = false;
    });
    return true;
}

void* WinSerialPort::openOnce(const std::string& portName, LinkError& error) {
    error = LinkError{};
    if (portName.empty()) {
        error = makeLinkError(LinkError::Code::NoSuchDevice, {}, "Nie wybrano portu.");
        return nullptr;
    }
    const WinCommCalls& c = *calls_;
    const std::string device = windowsDeviceName(portName);
    HANDLE h = c.CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = windowsOpenError(portName, ::GetLastError());
        return nullptr;
    }
    auto refuse = [&](const char* what) -> void* {
        const DWORD code = ::GetLastError();
        c.CloseHandle(h);
        error = makeLinkError(LinkError::Code::Other, {}, refusedBy(portName, what, code));
        return nullptr;
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
    // Bytes the driver took in or queued out under the settings it had before
    // are not ours; the one discard of received bytes (every later flush drains).
    c.PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD; // with both totals 0: return what is waiting
    if (!c.SetCommTimeouts(h, &timeouts))
        return refuse("czasów oczekiwania odczytu i zapisu");
    DWORD mask = 0;
    c.GetCommMask(h, &mask);
    c.SetCommMask(h, EV_TXEMPTY);
    return h;
}

void WinSerialPort::stopOpening() {
    stopOpening_ = true;
    if (opener_.joinable())
        opener_.join();
    opening_ = false;
}

void WinSerialPort::waitForBackgroundWork() {
    if (opener_.joinable())
        opener_.join();
    for (Closer& closer : closers_)
        closer.thread.join();
    closers_.clear();
}

void WinSerialPort::close() {
    stopOpening();
    void* h = nullptr;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        h = std::exchange(handle_, nullptr);
        path_.clear();
    }
    // A healthy port is released before the next open asks for it; a driver
    // that hangs in CloseHandle finishes it in the background.
    closeInBackground(h, std::chrono::milliseconds(kCloseWaitMs));
    lineErrors_ = 0;
}

void WinSerialPort::closeAsLost() {
    void* h = nullptr;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        h = std::exchange(handle_, nullptr);
        path_.clear();
    }
    lost_ = true;
    lineErrors_ = 0;
    closeInBackground(h, std::chrono::milliseconds(0));
}

void WinSerialPort::closeInBackground(void* h, std::chrono::milliseconds wait) {
    if (!usable(h))
        return;
    // Closers that have finished are let go, so that a long session of
    // connects does not pile up threads.
    std::erase_if(closers_, [](Closer& c) {
        if (c.done.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return false;
        c.thread.join();
        return true;
    });
    auto closed = std::make_shared<std::promise<void>>();
    std::shared_future<void> done = closed->get_future().share();
    const WinCommCalls* calls = calls_;
    closers_.push_back({std::thread([calls, h, closed] {
                            calls->CloseHandle(asHandle(h));
                            closed->set_value();
                        }),
                        done});
    if (wait.count() > 0)
        done.wait_for(wait);
}

void WinSerialPort::closeIfGone(unsigned long code) {
    if (windowsDeviceGone(code))
        closeAsLost();
}

bool WinSerialPort::sendFailed(bool guardFired, unsigned long code) {
    if (guardFired)
        closeAsLost();
    else
        closeIfGone(code);
    return false;
}

void WinSerialPort::flush() {
    void* h = current();
    if (!usable(h))
        return;
    StallWatchdog watchdog(*calls_);
    if (!calls_->FlushFileBuffers(asHandle(h)))
        sendFailed(watchdog.fired(), ::GetLastError());
    else if (watchdog.fired())
        closeAsLost();
}

bool WinSerialPort::write(const std::uint8_t* data, std::size_t n) {
    void* h = current();
    if (!usable(h) || (data == nullptr && n != 0) || n > MAXDWORD)
        return false;
    const WinCommCalls& c = *calls_;
    StallWatchdog watchdog(c);
    DWORD written = 0;
    if (!c.WriteFile(asHandle(h), data, static_cast<DWORD>(n), &written, nullptr))
        return sendFailed(watchdog.fired(), ::GetLastError());
    if (watchdog.fired()) {
        closeAsLost();
        return false;
    }
    if (written != n) {
        c.PurgeComm(asHandle(h), PURGE_TXABORT | PURGE_TXCLEAR);
        return false;
    }
    // The wait until the last byte has left, bounded in time: a pause may
    // last longer than asked.
    const ULONGLONG start = c.GetTickCount64();
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!c.ClearCommError(asHandle(h), &errors, &status))
            return sendFailed(watchdog.fired(), ::GetLastError());
        lineErrors_ |= errors & kLineErrors;
        if (status.cbOutQue == 0)
            return true;
        if (watchdog.fired() || c.GetTickCount64() - start >= kStallLimitMs) {
            // A queue that does not empty is a driver stuck like one that
            // never completes the write.
            c.PurgeComm(asHandle(h), PURGE_TXABORT | PURGE_TXCLEAR);
            closeAsLost();
            return false;
        }
        c.Sleep(kDrainPollMs);
    }
}

std::size_t WinSerialPort::waiting() const {
    void* h = current();
    if (!usable(h))
        return 0;
    DWORD errors = 0;
    COMSTAT status{};
    // A failed call counts as nothing waiting: a stale count would make the
    // following ReadFile wait for bytes that never come.
    if (!calls_->ClearCommError(asHandle(h), &errors, &status))
        return 0;
    lineErrors_ |= errors & kLineErrors;
    return status.cbInQue;
}

std::size_t WinSerialPort::read(std::uint8_t* data, std::size_t max) {
    void* h = current();
    if (!usable(h) || data == nullptr || max == 0)
        return 0;
    DWORD errors = 0;
    COMSTAT status{};
    if (!calls_->ClearCommError(asHandle(h), &errors, &status)) {
        closeIfGone(::GetLastError());
        return 0;
    }
    const bool damaged = ((errors | std::exchange(lineErrors_, 0)) & kLineErrors) != 0;
    if (damaged) {
        // Whatever waits now arrived with the damaged bytes among it: read it
        // and let it go, so that it is neither evaluated nor read again.
        std::array<std::uint8_t, kQueueSize> sink;
        const DWORD count = std::min<DWORD>(status.cbInQue, kQueueSize);
        DWORD got = 0;
        if (count > 0 && !calls_->ReadFile(asHandle(h), sink.data(), count, &got, nullptr))
            closeIfGone(::GetLastError());
        return 0;
    }
    const std::size_t want = std::min<std::size_t>(max, status.cbInQue);
    if (want == 0)
        return 0;
    DWORD got = 0;
    if (!calls_->ReadFile(asHandle(h), data, static_cast<DWORD>(want), &got, nullptr)) {
        closeIfGone(::GetLastError());
        return 0;
    }
    return got;
}

std::unique_ptr<SerialPort> makeSystemSerialPort() {
    return std::make_unique<WinSerialPort>();
}

} // namespace trellikon
