#include "memory_port.h"

namespace trellikon {

bool MemoryPort::open(const std::string& portName, LinkError& error) {
    open_ = false;
    opened.push_back(portName);
    if (failOpen) {
        error = {LinkError::Code::Busy, portName, "The port is held by another program."};
        return false;
    }
    if (device_)
        device_->plugIn();
    open_ = true;
    return true;
}

bool MemoryPort::write(const std::uint8_t* data, std::size_t n) {
    if (!open_ || lost())
        return false;
    sent.emplace_back(data, data + n);
    if (device_)
        device_->receive(data, n);
    return true;
}

void MemoryPort::deliver(const std::vector<std::uint8_t>& bytes) {
    waiting_.insert(waiting_.end(), bytes.begin(), bytes.end());
}

void MemoryPort::pullFromDevice() {
    if (!device_)
        return;
    for (auto& chunk : device_->takeOutput())
        later_.push_back(std::move(chunk));
    // Everything up to the first pause has arrived; the rest arrives by a later read.
    bool first = true;
    while (!later_.empty() && (first || later_.front().pauseMs == 0)) {
        deliver(later_.front().bytes);
        later_.pop_front();
        first = false;
    }
}

std::size_t MemoryPort::read(std::uint8_t* data, std::size_t max) {
    if (!open_ || lost())
        return 0;
    pullFromDevice();
    std::size_t n = 0;
    while (n < max && !waiting_.empty()) {
        data[n++] = waiting_.front();
        waiting_.pop_front();
    }
    return n;
}

} // namespace trellikon
