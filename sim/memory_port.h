#pragma once
// A serial port in memory: what the PC sends is recorded (and handed to a
// simulated device, when one is attached); what the device sends waits until
// the PC reads it. Used by tests and by anything that runs the protocol
// without a cable.

#include "serial_port.h"
#include "simulated_device.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace trellikon {

class MemoryPort : public SerialPort {
  public:
    explicit MemoryPort(SimulatedDevice* device = nullptr) : device_(device) {}

    bool open(const std::string& portName, LinkError& error) override;
    void close() override { open_ = false; }
    bool valid() const override { return open_; }
    void flush() override {}
    bool write(const std::uint8_t* data, std::size_t n) override;
    std::size_t read(std::uint8_t* data, std::size_t max) override;

    // Bytes the device side puts on the line for the PC.
    void deliver(const std::vector<std::uint8_t>& bytes);
    // Fetches the attached device's output. A chunk that follows a pause
    // becomes readable only at the next read, as if it arrived a tick later.
    void pullFromDevice();

    std::vector<std::vector<std::uint8_t>> sent; // every write, in order
    std::vector<std::string> opened;             // every port name opened
    bool failOpen = false;                       // the next opens fail (busy)
    bool unplugged = false;                      // the cable pulled: the port is lost
    std::size_t waiting() const override { return waiting_.size(); }
    // Unplugged, or the attached device hung up (the next open() plugs the
    // device in again, as a cable put back).
    bool lost() const override { return unplugged || (device_ && device_->hungUp()); }

  private:
    SimulatedDevice* device_;
    bool open_ = false;
    std::deque<std::uint8_t> waiting_;
    std::deque<SimulatedDevice::Chunk> later_;
};

} // namespace trellikon
