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

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trellikon {

inline constexpr int kComPortCount = 8;

// Where a lookup looks. The default is the running system; tests point `root`
// at a fake tree and `getenv` at a table. Only Linux looks there: Windows asks
// its registry and SetupAPI, through `setupCalls`.
struct WinSetupCalls;

struct PortEnvironment {
    std::string root = "/";
    std::function<std::optional<std::string>(const std::string&)> getenv = systemGetenv;
    // Windows: the SetupAPI and registry calls of the port list (a test's
    // fake machine); null: the system's.
    const WinSetupCalls* setupCalls = nullptr;

    static std::optional<std::string> systemGetenv(const std::string& name);
};

// The USB adapter behind a port, as the system knows it. Every text comes
// from the adapter or its driver: untrusted, shown only as plain text. The
// lookups keep printable characters only and cut long texts.
struct UsbAdapter {
    std::string maker;          // the adapter's manufacturer string: "FTDI"
    std::string model;          // its product string: "FT232R USB UART"
    std::uint16_t vendorId = 0; // USB ids; both 0 when unknown
    std::uint16_t productId = 0;
    std::string serial;       // empty when the adapter has none
    std::string driver;       // "ftdi_sio" (Linux), "FTSER2K" (Windows)
    std::string location;     // where it is plugged in: "1-1.2", "Port_#0002.Hub_#0001"
    unsigned problemCode = 0; // Windows: why its driver did not start; 0 while it runs

    bool hasIds() const { return vendorId != 0 || productId != 0; }
};

// A serial port present now.
struct PresentPort {
    std::string name;        // what the port is opened by: "COM12", "/dev/ttyUSB9"
    std::string description; // what stands behind it, for people: "USB Serial Port"
    std::optional<UsbAdapter> adapter = std::nullopt; // a USB adapter, when one is behind it
};

// The chips programming cables are made with, named as people know them
// ("FTDI", "Prolific PL2303", "WCH CH340", "Silicon Labs CP210x"); empty for others.
std::string knownChip(std::uint16_t vendorId, std::uint16_t productId);

// "0403:6001": the USB ids as lsusb and Windows' hardware ids write them.
std::string usbIds(std::uint16_t vendorId, std::uint16_t productId);

// Whether the port `name` stands for is there now.
bool portPresent(const std::string& name, const PortEnvironment& env = {});

// One line about an adapter: "FTDI – FT232R USB UART (FTDI), USB 0403:6001,
// nr seryjny A50285BI, sterownik ftdi_sio". Parts the adapter lacks are left out.
std::string describeAdapter(const UsbAdapter& adapter);

// For an adapter whose driver did not start (Windows): that fact and what to
// do; empty while the driver runs.
std::string adapterProblem(const UsbAdapter& adapter);

// The adapter behind the port `name` stands for now; nothing when there is no
// such port or no USB adapter behind it.
std::optional<UsbAdapter> adapterOf(const std::string& name, const PortEnvironment& env = {});

// A text from an adapter or a driver made fit to show: control characters
// dropped, blanks at the ends trimmed, at most `limit` bytes (never cutting a
// UTF-8 character).
std::string shownText(std::string_view text, std::size_t limit = 128);

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

// Which of COM1..COM8 stands for the present port `name` now ("COM2" for
// /dev/ttyACM0 behind it; "COM3" for "com3" on Windows); nothing when none does.
std::optional<std::string> comNameFor(const std::string& name, const PortEnvironment& env = {});

// A present port as advice names it: "COM2 (/dev/ttyACM0)" when one of the
// eight names stands for it, else its own name ("COM12", "/dev/ttyUSB9").
std::string portLabel(const std::string& name, const PortEnvironment& env = {});

// The present ports that none of COM1..COM8 stands for now: the port list
// offers them after the eight names.
std::vector<PresentPort> portsBeyondTheEight(const PortEnvironment& env = {});

} // namespace trellikon
