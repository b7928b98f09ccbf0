#pragma once
// The serial port as the device exchange uses it. The protocol builds frames
// and evaluates replies; a port only moves bytes.

#include "link_error.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace trellikon {

class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Closes whatever was open, then opens and configures `portName` ("COM1".."COM8"
    // or a device path). On failure the port is invalid and `error` says why.
    virtual bool open(const std::string& portName, LinkError& error) = 0;
    virtual void close() = 0;
    // True when the port is open and usable; sends are skipped otherwise.
    virtual bool valid() const = 0;
    // Waits until earlier output has left; never discards received bytes.
    virtual void flush() = 0;
    // Sends n bytes and returns when the transmit buffer is empty. False when
    // the port failed (a pulled cable); the caller does not need to react.
    virtual bool write(const std::uint8_t* data, std::size_t n) = 0;
    // Copies the bytes already waiting, at most `max`, to `data`. Never blocks;
    // returns 0 when nothing is waiting or the port failed.
    virtual std::size_t read(std::uint8_t* data, std::size_t max) = 0;
    // Received bytes waiting to be read; 0 when closed or when the port cannot say.
    virtual std::size_t waiting() const { return 0; }
    // True once the port has closed itself because its device went away (the
    // cable or the USB adapter pulled out, the line hung up), until the next
    // open(). A transfer under way then ends at once instead of at its time-out.
    virtual bool lost() const { return false; }
};

} // namespace trellikon
