#pragma once
// What "COM1".."COM8" stand for. On Windows they are the ports themselves and
// only their description comes from the system (port_names_windows.cpp).
//
// On Linux (port_names_linux.cpp): The windows offer the eight names a
// Windows user knows; the path behind a name is looked up each time a port is
// opened, so a cable plugged in after start-up is found.
//
// TRELLIKON_COMn, when set and not empty, names the device path outright (a
// /dev/serial/by-id link, the simulator's pseudo-terminal). Otherwise COMn is
// the n-th serial port present: USB adapters (/dev/ttyUSB*), then CDC-ACM
// adapters (/dev/ttyACM*), then built-in ports (/dev/ttyS*) that have a UART
// behind them. A laptop with one USB cable therefore finds the device on COM1.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trellikon {

inline constexpr int kComPortCount = 8;

// 1..8 for "COM1".."COM8" (any letter case, as on Windows); nothing otherwise.
std::optional<int> comPortNumber(const std::string& name);

// The number of any name that is "COM" followed by digits only (any letter
// case), saturated for a long run of digits; nothing for other names.
std::optional<unsigned long> comNameNumber(const std::string& name);

// For a tooltip: what stands behind `name` right now, or "brak portu" (no port).
std::string describePort(const std::string& name);

#ifdef _WIN32
// The ports the registry's serial-port map lists now, in COM order.
std::vector<std::string> listSerialPorts();
#else
// Where the lookup looks. The default is the running system; tests point
// `root` at a fake tree and `getenv` at a table.
struct PortEnvironment {
    std::string root = "/";
    std::function<std::optional<std::string>(const std::string&)> getenv = systemGetenv;

    static std::optional<std::string> systemGetenv(const std::string& name);
};

// The serial ports present, in COM order, as paths under env.root.
std::vector<std::string> listSerialPorts(const PortEnvironment& env);

// The device path `name` stands for. A COM name resolves as above and gives
// nothing when there is no such port; "COM" followed by any other number, or
// an empty name, gives nothing; anything else is already a path.
std::optional<std::string> resolvePortName(const std::string& name, const PortEnvironment& env);
std::optional<std::string> resolvePortName(const std::string& name);

// The path `name` stands for right now in `env`, or "brak portu" (no port).
std::string describePort(const std::string& name, const PortEnvironment& env);
#endif

} // namespace trellikon
