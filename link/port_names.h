#pragma once
// What a port name stands for, and which serial ports are present. The same
// functions on both systems: port_names_posix.cpp and port_names_windows.cpp
// answer them, port_names.cpp holds what the two share.
//
// Windows: "COM1".."COM8" and every other COM name are the system's own ports;
// the registry's serial-port map says which are present and SetupAPI what
// stands behind them ("USB Serial Port").
//
// Linux: the windows offer the eight names a Windows user knows; the path
// behind a name is looked up each time a port is opened, so a cable plugged in
// after start-up is found. TRELLIKON_COMn, when set and not empty, names the
// device path outright (a /dev/serial/by-id link, the simulator's
// pseudo-terminal). Otherwise COMn is the n-th serial port present: USB
// adapters (/dev/ttyUSB*), then CDC-ACM adapters (/dev/ttyACM*), then built-in
// ports (/dev/ttyS*) that have a UART behind them. A laptop with one USB cable
// therefore finds the device on COM1. A port beyond the eighth is reached by
// its path.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trellikon {

inline constexpr int kComPortCount = 8;

// Where a lookup looks. The default is the running system; tests point `root`
// at a fake tree and `getenv` at a table. Only Linux looks here: Windows asks
// its registry and ignores both.
struct PortEnvironment {
    std::string root = "/";
    std::function<std::optional<std::string>(const std::string&)> getenv = systemGetenv;

    static std::optional<std::string> systemGetenv(const std::string& name);
};

// A serial port present now.
struct PresentPort {
    std::string name;        // what the port is opened by: "COM12", "/dev/ttyUSB9"
    std::string description; // what stands behind it, for people: "USB Serial Port"
};

// 1..8 for "COM1".."COM8" (any letter case, as on Windows); nothing otherwise.
std::optional<int> comPortNumber(const std::string& name);

// The number of any name that is "COM" followed by digits only (any letter
// case), saturated for a long run of digits; nothing for other names.
std::optional<unsigned long> comNameNumber(const std::string& name);

// Every serial port present now, in COM order. Windows names a port by its COM
// name, Linux by its device path (under env.root).
std::vector<PresentPort> presentPorts(const PortEnvironment& env = {});

// The device `name` stands for: "\\.\COM12" on Windows; on Linux a COM name
// resolves as above and gives nothing when there is no such port, "COM"
// followed by any other number gives nothing, anything else is already a path.
// An empty name gives nothing.
std::optional<std::string> resolvePortName(const std::string& name,
                                           const PortEnvironment& env = {});

// For a tooltip: what stands behind `name` right now, or "brak portu" (no port).
std::string describePort(const std::string& name, const PortEnvironment& env = {});

// The present ports that none of COM1..COM8 stands for now: the port list
// offers them after the eight names.
std::vector<PresentPort> portsBeyondTheEight(const PortEnvironment& env = {});

} // namespace trellikon
