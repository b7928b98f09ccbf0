// What Windows takes for a device rather than a file. Opening a device has
// effects of its own (a serial port raises its modem lines, and bytes written
// to it go out on the cable), so the file calls refuse these names before
// anything is opened. The rule is plain text work, built on every system so
// that its tests run everywhere.
#include "file_system.h"

#include <array>

namespace trellikon {

namespace {

std::string upperAscii(std::string_view s) {
    std::string u(s);
    for (char& c : u)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return u;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// "COM1" .. "COM9", "LPT1" .. "LPT9" and the superscript forms, which Windows
// counts as digits ("COM¹", U+00B9, U+00B2, U+00B3 as UTF-8); the fixed names.
bool isDeviceBaseName(std::string_view upper) {
    static constexpr std::array<std::string_view, 6> kFixed = {"CON", "PRN",    "AUX",
                                                               "NUL", "CONIN$", "CONOUT$"};
    for (std::string_view d : kFixed)
        if (upper == d)
            return true;
    if (!startsWith(upper, "COM") && !startsWith(upper, "LPT"))
        return false;
    const std::string_view digit = upper.substr(3);
    if (digit.size() == 1)
        return digit[0] >= '1' && digit[0] <= '9';
    return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

std::string_view trimTrailing(std::string_view s, std::string_view chars) {
    while (!s.empty() && chars.find(s.back()) != std::string_view::npos)
        s.remove_suffix(1);
    return s;
}

} // namespace

bool isWindowsDeviceName(std::string_view path, DeviceNameRule rule) {
    std::string p(path);
    for (char& c : p)
        if (c == '/')
            c = '\\';
    // The device namespace names devices explicitly; \\?\ hands the rest to
    // the system as it stands, where a name without a folder is a device too
    // (\\?\COM3, a volume).
    if (startsWith(p, "\\\\.\\"))
        return true;
    if (startsWith(p, "\\\\?\\")) {
        const std::string_view rest = std::string_view(p).substr(4);
        if (startsWith(upperAscii(rest), "GLOBALROOT") || rest.find('\\') == std::string_view::npos)
            return true;
    }
    const std::size_t slash = p.find_last_of('\\');
    std::string_view name = std::string_view(p).substr(slash == std::string::npos ? 0 : slash + 1);
    bool bare = slash == std::string::npos;
    // "C:COM3" is COM3 in the current folder of drive C.
    if (bare && name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) {
        name.remove_prefix(2);
        bare = false;
    }
    // A colon ends the name either way ("COM3:" is the port; a file name has none).
    name = name.substr(0, name.find(':'));
    if (rule == DeviceNameRule::UpToWindows10) {
        // Anything from the first dot on is dropped ("COM3.sbn", "nul.tar.gz"),
        // then trailing blanks ("COM3 .sbn").
        name = trimTrailing(name.substr(0, name.find('.')), " ");
        return isDeviceBaseName(upperAscii(name));
    }
    // Windows 11 drops only trailing dots and blanks, and then knows a device
    // only by its bare name, except NUL, which is in every folder.
    const std::string upper = upperAscii(trimTrailing(name, ". "));
    return upper == "NUL" || (bare && isDeviceBaseName(upper));
}

} // namespace trellikon
