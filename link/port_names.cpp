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

std::string shownText(std::string_view text, std::size_t limit) {
    std::string shown;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F)
            shown += c;
        else if (c == '\t')
            shown += ' ';
    }
    const auto first = shown.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    shown = shown.substr(first, shown.find_last_not_of(' ') - first + 1);
    if (shown.size() > limit) {
        std::size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80)
            --cut; // not inside a UTF-8 character
        shown.resize(cut);
    }
    return shown;
}

std::string knownChip(std::uint16_t vendorId, std::uint16_t productId) {
    switch (vendorId) {
    case 0x0403:
        return "FTDI";
    case 0x067B:
        return "Prolific PL2303";
    case 0x1A86:
        // The CH341 and the CH9102 share the maker's id; the CH340 is the one on cables.
        if (productId == 0x5523)
            return "WCH CH341";
        if (productId == 0x55D4)
            return "WCH CH9102";
        return "WCH CH340";
    case 0x10C4:
        return "Silicon Labs CP210x";
    default:
        return {};
    }
}

std::string usbIds(std::uint16_t vendorId, std::uint16_t productId) {
    static const char digits[] = "0123456789abcdef";
    std::string s = "0000:0000";
    for (int i = 3; i >= 0; --i) {
        s[static_cast<std::size_t>(i)] = digits[vendorId & 0xF];
        s[static_cast<std::size_t>(i) + 5] = digits[productId & 0xF];
        vendorId = static_cast<std::uint16_t>(vendorId >> 4);
        productId = static_cast<std::uint16_t>(productId >> 4);
    }
    return s;
}

std::string describeAdapter(const UsbAdapter& a) {
    // The chip first, when known: it says more than what a maker calls its cable.
    const std::string chip = a.hasIds() ? knownChip(a.vendorId, a.productId) : std::string();
    std::string s = chip.empty() ? a.maker : chip;
    if (!a.model.empty() && a.model != s)
        s += (s.empty() ? "" : " – ") + a.model;
    if (!chip.empty() && !a.maker.empty() && chip.find(a.maker) == std::string::npos &&
        a.model.find(a.maker) == std::string::npos)
        s += " (" + a.maker + ")";
    if (s.empty())
        s = "przejściówka USB";
    if (a.hasIds())
        s += ", USB " + usbIds(a.vendorId, a.productId);
    if (!a.serial.empty())
        s += ", nr seryjny " + a.serial;
    if (!a.driver.empty())
        s += ", sterownik " + a.driver;
    return s;
}

std::string adapterProblem(const UsbAdapter& a) {
    if (a.problemCode == 0)
        return {};
    const std::string code = " (kod " + std::to_string(a.problemCode) + ")";
    // 28: no driver installed; 10: the driver refused to start the device, which is
    // what the maker's newer drivers do to counterfeit PL2303 chips.
    if (a.problemCode == 28)
        return "Sterownik przejściówki nie jest zainstalowany" + code +
               ". Zainstaluj sterownik od producenta układu i podłącz kabel ponownie.";
    if (a.problemCode == 10 && a.vendorId == 0x067B)
        return "Sterownik przejściówki nie uruchomił się" + code +
               ". Tak sterownik Prolific traktuje podróbki układu PL2303: zainstaluj starszą "
               "wersję sterownika Prolific, która je obsługuje, albo użyj kabla z innym układem "
               "(FTDI, CH340, CP210x).";
    return "Sterownik przejściówki nie uruchomił się" + code +
           ". Odłącz i podłącz kabel; jeśli to nie pomoże, zainstaluj ponownie sterownik od "
           "producenta układu (Menedżer urządzeń pokazuje szczegóły).";
}

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

std::optional<std::string> comNameFor(const std::string& name, const PortEnvironment& env) {
    const auto device = resolvePortName(name, env);
    if (!device)
        return std::nullopt;
    for (int n = 1; n <= kComPortCount; ++n) {
        const std::string com = "COM" + std::to_string(n);
        if (const auto d = resolvePortName(com, env);
            d && sameDeviceKey(*d) == sameDeviceKey(*device))
            return com;
    }
    return std::nullopt;
}

std::string portLabel(const std::string& name, const PortEnvironment& env) {
    const auto com = comNameFor(name, env);
    if (!com || comNameNumber(name))
        return name;
    return *com + " (" + name + ")";
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
