#pragma once
// The serial port over the Win32 communications calls: the port opened
// exclusively for blocking use, 19200 8N1 with parity checking switched on,
// RTS on, DTR off, no flow control (with distinct XON and XOFF characters all
// the same), 4096-byte driver queues, reads that return at once, writes with
// no driver time-out, and a send that ends once the driver's output queue is
// empty (polled, not waited for as an event).
//
// When a call fails because the device is gone (a USB adapter pulled out) or
// a send stalls past its guard, the handle is given up at once and closed on
// a thread of its own (a dead driver can take seconds over it), so Windows
// can give the COM number back to the cable when it returns; valid() is then
// false and lost() true, so that the protocol ends a transfer at once. The
// next open() succeeds at once and tries the port on a thread of its own for
// up to 5 s (opening() is true meanwhile; the port is valid() once an attempt
// succeeds). close() waits for CloseHandle at most 100 ms. The window's
// thread never waits longer for a dead port.

#include "serial_port.h"

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace trellikon {

struct WinCommCalls;

// Attempts to open a port again after its device went away, 100 ms apart:
// Plug and Play takes 2 to 5 s to bring a USB cable back.
inline constexpr int kWindowsReopenAttempts = 50;

class WinSerialPort : public SerialPort {
  public:
    WinSerialPort();
    // Makes its Win32 calls through `calls`, which must outlive the port.
    explicit WinSerialPort(const WinCommCalls& calls);
    ~WinSerialPort() override;
    WinSerialPort(const WinSerialPort&) = delete;
    WinSerialPort& operator=(const WinSerialPort&) = delete;

    bool open(const std::string& portName, LinkError& error) override;
    void close() override;
    bool valid() const override;
    void flush() override;
    bool write(const std::uint8_t* data, std::size_t n) override;
    std::size_t read(std::uint8_t* data, std::size_t max) override;

    std::size_t waiting() const override;
    bool lost() const override { return lost_; }

    // The device name the last successful open() used ("\\.\COM1"); empty when closed.
    std::string devicePath() const;

    // True while the attempts to reopen a port whose device went away go on
    // in the background; the port becomes valid() when one succeeds.
    bool opening() const { return opening_; }

    // Waits until the closing of lost handles and the attempts to reopen have
    // ended (tests, which must not look at their driver meanwhile).
    void waitForBackgroundWork();

  private:
    // The configured handle, or null with `error` set.
    void* openOnce(const std::string& portName, LinkError& error);
    void publish(void* handle, const std::string& portName);
    void* current() const;
    void stopOpening();
    // Closes the port after a failed call when `code` says the device is gone.
    void closeIfGone(unsigned long code);
    void closeAsLost();
    // CloseHandle on a thread of its own, waited for at most `wait`.
    void closeInBackground(void* handle, std::chrono::milliseconds wait);
    // A send's call failed: the port is given up when the guard fired or the
    // device is gone. Always false.
    bool sendFailed(bool guardFired, unsigned long code);

    const WinCommCalls* calls_;
    mutable std::mutex mutex_; // handle_ and path_, which the reopening thread publishes
    void* handle_ = nullptr;   // a HANDLE; null before the first open and after a loss
    std::string path_;
    bool lost_ = false; // closed because the device went away; the next open retries
    // Line errors (framing, overrun, parity) that a ClearCommError outside a
    // read took from the driver; the next read drops its chunk for them.
    mutable unsigned long lineErrors_ = 0;
    std::thread opener_;
    std::atomic<bool> opening_{false};
    std::atomic<bool> stopOpening_{false};
    struct Closer {
        std::thread thread;
        std::shared_future<void> done;
    };
    std::vector<Closer> closers_;
};

// True for the errors a call on a port returns once its device is gone:
// access denied, bad command, device not connected, device removed, no such
// device, device does not exist, not found, invalid handle, general failure
// (what CDC-ACM and CH340 ports return when pulled), aborted, not ready.
bool windowsDeviceGone(unsigned long code);

// The Win32 device name for a port name: "COM1" becomes "\\.\COM1" (needed
// above COM9, harmless below); a name that already is a device path stays.
std::string windowsDeviceName(const std::string& portName);

// Why CreateFileA could not open `portName`, from the system's error code, in
// words a user can act on: no such port, held by another program, or the
// system's own message.
LinkError windowsOpenError(const std::string& portName, unsigned long code);

} // namespace trellikon
