#pragma once
// The serial port over the Win32 communications calls: the port opened
// exclusively for blocking use, 19200 8N1 with parity checking switched on,
// RTS on, DTR off, no flow control, 520-byte driver queues, and the
// transmit-buffer-empty event as the only one watched.
//
// After the device disappears (a pulled USB adapter) the handle is kept and
// valid() stays true until the next open() or close(): writes and reads then
// fail at once, and the protocol's time-outs tell the user.

#include "serial_port.h"

#include <string>

namespace trellikon {

class WinSerialPort : public SerialPort {
  public:
    WinSerialPort() = default;
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
    void* handle_ = nullptr; // a HANDLE; null before the first open
    std::string path_;
};

// The Win32 device name for a port name: "COM1" becomes "\\.\COM1" (needed
// above COM9, harmless below); a name that already is a device path stays.
std::string windowsDeviceName(const std::string& portName);

// Why CreateFileA could not open `portName`, from the system's error code, in
// words a user can act on: no such port, held by another program, or the
// system's own message.
LinkError windowsOpenError(const std::string& portName, unsigned long code);

} // namespace trellikon
