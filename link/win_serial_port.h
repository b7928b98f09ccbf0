#pragma once
// The serial port over the Win32 communications calls: the port opened
// exclusively for blocking use, 19200 8N1 with parity checking switched on,
// RTS on, DTR off, no flow control (with distinct XON and XOFF characters all
// the same), 520-byte driver queues, reads that return at once, writes with no
// driver time-out, and the transmit-buffer-empty event as the only one watched.
//
// When a call fails because the device is gone (a USB adapter pulled out) or
// a send stalls past its guard, the handle is closed at once, so Windows can
// give the COM number back to the cable when it returns; valid() is then
// false, sends are skipped and the protocol's time-outs tell the user. The
// next open() retries for a while (reopen_after_loss.h).

#include "serial_port.h"

#include <string>

namespace trellikon {

struct WinCommCalls;

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

    // Received bytes waiting to be read, as ClearCommError reports them; 0
    // when closed or when the port cannot say.
    std::size_t waiting() const;

    // The device name the last successful open() used ("\\.\COM1"); empty when closed.
    const std::string& devicePath() const { return path_; }

  private:
    bool openOnce(const std::string& portName, LinkError& error);
    // Closes the port after a failed call when `code` says the device is gone.
    void closeIfGone(unsigned long code);
    void closeAsLost();

    const WinCommCalls* calls_;
    void* handle_ = nullptr; // a HANDLE; null before the first open and after a loss
    std::string path_;
    bool lost_ = false; // closed because the device went away; the next open retries
};

// True for the errors a call on a port returns once its device is gone:
// access denied, bad command, device not connected, device removed, aborted,
// not ready.
bool windowsDeviceGone(unsigned long code);

// The Win32 device name for a port name: "COM1" becomes "\\.\COM1" (needed
// above COM9, harmless below); a name that already is a device path stays.
std::string windowsDeviceName(const std::string& portName);

// Why CreateFileA could not open `portName`, from the system's error code, in
// words a user can act on: no such port, held by another program, or the
// system's own message.
LinkError windowsOpenError(const std::string& portName, unsigned long code);

} // namespace trellikon
