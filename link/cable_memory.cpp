#include "cable_memory.h"

#include "file_system.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

namespace trellikon {

namespace {

constexpr std::size_t kLargestFile = 4096;

std::optional<std::uint16_t> hexId(const std::string& text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc{} || end != text.data() + text.size() || text.size() != 4)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::optional<CableIdentity> CableIdentity::of(const UsbAdapter& a) {
    if (!a.hasIds() || (a.serial.empty() && a.location.empty()))
        return std::nullopt;
    CableIdentity id;
    id.vendorId = a.vendorId;
    id.productId = a.productId;
    id.serial = a.serial;
    if (id.serial.empty())
        id.location = a.location;
    return id;
}

bool CableIdentity::matches(const UsbAdapter& a) const {
    if (a.vendorId != vendorId || a.productId != productId)
        return false;
    return serial.empty() ? !location.empty() && a.location == location : a.serial == serial;
}

std::string CableIdentity::text() const {
    std::string s = "usb " + usbIds(vendorId, productId) + "\n";
    if (!serial.empty())
        s += "serial " + serial + "\n";
    else
        s += "location " + location + "\n";
    return s;
}

std::optional<CableIdentity> CableIdentity::parse(const std::string& text) {
    CableIdentity id;
    bool ids = false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto blank = line.find(' ');
        if (blank == std::string::npos)
            continue;
        const std::string key = line.substr(0, blank), value = line.substr(blank + 1);
        if (key == "usb" && value.size() == 9 && value[4] == ':') {
            const auto v = hexId(value.substr(0, 4)), p = hexId(value.substr(5));
            if (v && p) {
                id.vendorId = *v;
                id.productId = *p;
                ids = true;
            }
        } else if (key == "serial") {
            id.serial = shownText(value, 64);
        } else if (key == "location") {
            id.location = shownText(value, 64);
        }
    }
    if (!ids || (id.serial.empty() && id.location.empty()))
        return std::nullopt;
    if (!id.serial.empty())
        id.location.clear();
    return id;
}

std::string defaultCableFile() {
    return userConfigFile("cable.txt");
}

CableMemory::CableMemory(std::string file) : file_(std::move(file)) {}

std::optional<CableIdentity> CableMemory::remembered() const {
    if (file_.empty())
        return std::nullopt;
    const FileRead read = readRegularFile(file_, kLargestFile);
    if (!read.ok())
        return std::nullopt;
    return CableIdentity::parse(std::string(read.bytes.begin(), read.bytes.end()));
}

std::string CableMemory::remember(const UsbAdapter& adapter) {
    const auto id = CableIdentity::of(adapter);
    if (file_.empty() || !id)
        return {};
    if (const auto known = remembered(); known && known->text() == id->text())
        return {}; // the same cable again: no write each time
    createFoldersFor(file_);
    const std::string text = id->text();
    return saveFileAtomically(file_, reinterpret_cast<const std::uint8_t*>(text.data()),
                              text.size())
        .message;
}

std::optional<PresentPort> rememberedCableElsewhere(const std::string& chosen, bool chosenPresent,
                                                    const std::optional<CableIdentity>& cable,
                                                    const std::vector<PresentPort>& present) {
    if (chosenPresent || !cable)
        return std::nullopt;
    for (const auto& port : present) {
        if (port.name != chosen && port.adapter && port.adapter->problemCode == 0 &&
            cable->matches(*port.adapter))
            return port;
    }
    return std::nullopt;
}

} // namespace trellikon
