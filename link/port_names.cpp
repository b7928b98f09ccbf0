#include "port_names.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace trellikon {

namespace {

// The number after "COM" when the rest of the name is digits only (saturated,
// so a long run of digits is still a COM name, just not a valid one).
std::optional<unsigned long> comSuffix(const std::string& name) {
    if (name.size() < 4)
        return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return std::nullopt;
    }
    const bool digitsOnly = std::all_of(name.begin() + 3, name.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (!digitsOnly)
        return std::nullopt;
    unsigned long number = 0;
    const auto [end, ec] = std::from_chars(name.data() + 3, name.data() + name.size(), number);
    (void)end;
    if (ec != std::errc{})
        return ~0ul;
    return number;
}

// One spelling per device: a TRELLIKON_COMn that names /dev/serial/by-id/...
// stands for the /dev/ttyUSB0 the list finds. Windows device names ("\\.\COM3")
// are kept as they are.
std::string sameDeviceKey(const std::string& device) {
    if (device.empty() || device.front() != '/')
        return device;
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(device, ec);
    return ec ? device : canonical.string();
}

} // namespace

std::optional<int> comPortNumber(const std::string& name) {
    const auto number = comSuffix(name);
    if (!number || *number < 1 || *number > kComPortCount)
        return std::nullopt;
    // "COM01" is not one of the eight names.
    if (name[3] == '0')
        return std::nullopt;
    return static_cast<int>(*number);
}

std::optional<unsigned long> comNameNumber(const std::string& name) {
    return comSuffix(name);
}

std::optional<std::string> PortEnvironment::systemGetenv(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value)
        return std::nullopt;
    return std::string(value);
}

std::vector<PresentPort> portsBeyondTheEight(const PortEnvironment& env) {
    std::vector<std::string> covered;
    for (int n = 1; n <= kComPortCount; ++n) {
        if (auto device = resolvePortName("COM" + std::to_string(n), env))
            covered.push_back(sameDeviceKey(*device));
    }
    std::vector<PresentPort> beyond;
    for (auto& port : presentPorts(env)) {
        const auto device = resolvePortName(port.name, env);
        if (!device ||
            std::find(covered.begin(), covered.end(), sameDeviceKey(*device)) == covered.end())
            beyond.push_back(std::move(port));
    }
    return beyond;
}

} // namespace trellikon
