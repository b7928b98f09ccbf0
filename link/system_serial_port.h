#pragma once
// The serial port of the system the program is built for, the one the window
// program and the command line open: termios on Linux (posix_serial_port.cpp),
// the Win32 communications calls on Windows (win_serial_port.cpp); the build
// compiles one of them, and each gives makeSystemSerialPort(). Nothing above
// this layer knows which it has. Both reopen a port whose cable was pulled
// through the one retry of reopen_after_loss.h.

#include "serial_port.h"

#include <memory>

namespace trellikon {

// A port of this system's kind, closed.
std::unique_ptr<SerialPort> makeSystemSerialPort();

class SystemSerialPort : public SerialPort {
  public:
    SystemSerialPort() : port_(makeSystemSerialPort()) {}

    bool open(const std::string& portName, LinkError& error) override {
        return port_->open(portName, error);
    }
    void close() override { port_->close(); }
    bool valid() const override { return port_->valid(); }
    void flush() override { port_->flush(); }
    bool write(const std::uint8_t* data, std::size_t n) override { return port_->write(data, n); }
    std::size_t read(std::uint8_t* data, std::size_t max) override {
        return port_->read(data, max);
    }
    std::size_t waiting() const override { return port_->waiting(); }
    bool lost() const override { return port_->lost(); }

  private:
    std::unique_ptr<SerialPort> port_;
};

} // namespace trellikon
