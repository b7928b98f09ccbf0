// Where the port names lead on Linux, and which ports are present: see port_names.h.
#include "port_names.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace trellikon {

namespace fs = std::filesystem;

namespace {

// Entries of `dir` named `prefix` followed by a number, in numeric order:
// ttyUSB2 comes before ttyUSB10, which a plain sort would reverse.
std::vector<std::pair<unsigned long, std::string>> numberedEntries(const fs::path& dir,
                                                                   const std::string& prefix) {
    std::vector<std::pair<unsigned long, std::string>> found;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const char* first = name.data() + prefix.size();
        const char* last = name.data() + name.size();
        unsigned long number = 0;
        auto [end, parsed] = std::from_chars(first, last, number);
        if (parsed != std::errc{} || end != last)
            continue;
        found.emplace_back(number, name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Every ttyS the kernel knows gets a node, with or without a chip behind it;
// only the sysfs UART type tells them apart (0 means none).
bool hasUart(const fs::path& root, const std::string& ttyName) {
    std::ifstream in(root / "sys/class/tty" / ttyName / "type");
    long type = 0;
    if (!(in >> type))
        return false;
    return type != 0;
}

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// What stands behind a tty, as sysfs tells it: a USB adapter's product string
// (kept by the USB device, one or two levels above the tty's own device), else
// the kind of port.
std::string ttyDescription(const fs::path& root, const std::string& tty) {
    std::error_code ec;
    fs::path device = fs::canonical(root / "sys/class/tty" / tty / "device", ec);
    for (int up = 0; !ec && up < 3 && device.has_relative_path(); ++up) {
        if (std::string product = firstLine(device / "product"); !product.empty())
            return product;
        device = device.parent_path();
    }
    if (tty.rfind("ttyS", 0) == 0)
        return "port szeregowy komputera";
    if (tty.rfind("ttyACM", 0) == 0)
        return "przejściówka USB (CDC-ACM)";
    return "przejściówka USB";
}

std::uint16_t hexId(const std::string& text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc{} || end != text.data() + text.size() || value > 0xFFFF)
        return 0;
    return static_cast<std::uint16_t>(value);
}

// The USB adapter behind a tty, from sysfs: the tty's device is a USB serial
// port (ttyUSB) or interface (ttyACM); the USB device that carries the ids,
// the strings and the serial number is a level or two above it, and its
// folder's name is where it is plugged in ("1-1.2": bus 1, port 1, then 2).
std::optional<UsbAdapter> ttyAdapter(const fs::path& root, const std::string& tty) {
    std::error_code ec;
    const fs::path ttyDevice = fs::canonical(root / "sys/class/tty" / tty / "device", ec);
    if (ec)
        return std::nullopt;
    fs::path usb = ttyDevice;
    bool found = false;
    for (int up = 0; up < 4 && usb.has_relative_path(); ++up) {
        if (fs::exists(usb / "idVendor", ec)) {
            found = true;
            break;
        }
        usb = usb.parent_path();
    }
    if (!found)
        return std::nullopt;
    UsbAdapter a;
    a.vendorId = hexId(firstLine(usb / "idVendor"));
    a.productId = hexId(firstLine(usb / "idProduct"));
    a.maker = shownText(firstLine(usb / "manufacturer"));
    a.model = shownText(firstLine(usb / "product"));
    a.serial = shownText(firstLine(usb / "serial"), 64);
    a.location = shownText(usb.filename().string(), 64);
    // The driver of the tty's own device (ftdi_sio, ch341, cdc_acm); for a
    // ttyUSB that device has one, for a ttyACM the interface it is.
    for (fs::path d = ttyDevice; a.driver.empty() && d != usb && d.has_relative_path();
         d = d.parent_path()) {
        const fs::path driver = fs::read_symlink(d / "driver", ec);
        if (!ec)
            a.driver = shownText(driver.filename().string(), 64);
    }
    return a;
}

// The paths of the serial ports present, in COM order.
std::vector<std::string> presentPaths(const PortEnvironment& env) {
    const fs::path root(env.root.empty() ? std::string("/") : env.root);
    const fs::path dev = root / "dev";
    std::vector<std::string> ports;
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        for (const auto& entry : numberedEntries(dev, prefix))
            ports.push_back((dev / entry.second).string());
    }
    for (const auto& entry : numberedEntries(dev, "ttyS")) {
        if (hasUart(root, entry.second))
            ports.push_back((dev / entry.second).string());
    }
    return ports;
}

} // namespace

std::vector<PresentPort> presentPorts(const PortEnvironment& env) {
    const fs::path root(env.root.empty() ? std::string("/") : env.root);
    std::vector<PresentPort> ports;
    for (auto& path : presentPaths(env)) {
        const std::string tty = fs::path(path).filename().string();
        ports.push_back({std::move(path), ttyDescription(root, tty), ttyAdapter(root, tty)});
    }
    return ports;
}

std::optional<std::string> resolvePortName(const std::string& name, const PortEnvironment& env) {
    if (name.empty())
        return std::nullopt;
    const auto number = comPortNumber(name);
    if (!number) {
        if (comNameNumber(name))
            return std::nullopt; // COM0, COM9, COM01: not a name the program offers
        return name;
    }
    if (env.getenv) {
        const auto value = env.getenv("TRELLIKON_COM" + std::to_string(*number));
        if (value && !value->empty())
            return value;
    }
    const auto ports = presentPaths(env);
    if (static_cast<std::size_t>(*number) > ports.size())
        return std::nullopt;
    return ports[static_cast<std::size_t>(*number) - 1];
}

std::optional<UsbAdapter> adapterOf(const std::string& name, const PortEnvironment& env) {
    const auto path = resolvePortName(name, env);
    if (!path)
        return std::nullopt;
    // A /dev/serial/by-id name or a variable leads to the tty by a link.
    std::error_code ec;
    const fs::path device = fs::weakly_canonical(fs::path(*path), ec);
    const std::string tty = (ec ? fs::path(*path) : device).filename().string();
    if (tty.empty())
        return std::nullopt;
    return ttyAdapter(fs::path(env.root.empty() ? std::string("/") : env.root), tty);
}

bool portPresent(const std::string& name, const PortEnvironment& env) {
    const auto path = resolvePortName(name, env);
    std::error_code ec;
    return path && fs::exists(fs::path(*path), ec);
}

std::string describePort(const std::string& name, const PortEnvironment& env) {
    return resolvePortName(name, env).value_or("brak portu");
}

} // namespace trellikon
