// Which ports Windows has and what stands behind them (see port_names.h). The
// ports are the system's own names, so only their presence and description are
// looked up, each time they are asked for (an adapter plugged in after start-up
// shows at once). The registry's serial-port map lists the ports present; the
// friendly name comes from SetupAPI ("USB Serial Port (COM3)"), and a port
// that only the map knows is described by its kernel device.

#include "port_names.h"

#include "win_serial_port.h"
#include "windows_text.h"

#include <algorithm>
#include <cctype>

// Included after windows.h, which they need. initguid.h comes first, on its
// own, so that devguid.h defines the port class's GUID here instead of only
// declaring it.
#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

namespace trellikon {

namespace {

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

std::string registryString(HKEY key, const wchar_t* value) {
    wchar_t buffer[256];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (::RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    std::size_t chars = size / sizeof(wchar_t);
    while (chars > 0 && buffer[chars - 1] == L'\0')
        --chars;
    return narrow(std::wstring_view(buffer, chars));
}

// The registry's serial-port map: kernel device ("\Device\Serial0") -> port name.
std::vector<std::pair<std::string, std::string>> serialCommMap() {
    std::vector<std::pair<std::string, std::string>> map;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS)
        return map;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameChars = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG r = ::RegEnumValueW(key, i, name, &nameChars, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        std::size_t chars = dataBytes / sizeof(wchar_t);
        while (chars > 0 && data[chars - 1] == L'\0')
            --chars;
        map.emplace_back(narrow(std::wstring_view(name, nameChars)),
                         narrow(std::wstring_view(data, chars)));
    }
    ::RegCloseKey(key);
    return map;
}

// SetupAPI's friendly name of the present port called `name`; empty when none.
std::string friendlyName(const std::string& name) {
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return {};
    std::string found;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; found.empty() && ::SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        const std::string portName = registryString(key, L"PortName");
        ::RegCloseKey(key);
        if (!sameName(portName, name))
            continue;
        wchar_t buffer[256];
        DWORD size = 0;
        if (::SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                                reinterpret_cast<BYTE*>(buffer), sizeof buffer,
                                                &size)) {
            std::size_t chars = size / sizeof(wchar_t);
            while (chars > 0 && buffer[chars - 1] == L'\0')
                --chars;
            found = narrow(std::wstring_view(buffer, chars));
        }
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return found;
}

// "USB Serial Port (COM3)" without the port's own name, which the list shows already.
std::string withoutPortName(std::string friendly, const std::string& name) {
    const std::string suffix = " (" + name + ")";
    if (friendly.size() > suffix.size() &&
        sameName(friendly.substr(friendly.size() - suffix.size()), suffix))
        friendly.erase(friendly.size() - suffix.size());
    return friendly;
}

} // namespace

std::vector<PresentPort> presentPorts(const PortEnvironment&) {
    std::vector<PresentPort> ports;
    for (auto& [device, name] : serialCommMap()) {
        std::string friendly = withoutPortName(friendlyName(name), name);
        if (friendly.empty())
            friendly = "port szeregowy " + device;
        ports.push_back({std::move(name), std::move(friendly)});
    }
    // COM2 before COM10; names that are not COM names last, as they came.
    std::stable_sort(ports.begin(), ports.end(), [](const PresentPort& a, const PresentPort& b) {
        const auto na = comNameNumber(a.name);
        const auto nb = comNameNumber(b.name);
        if (na && nb)
            return *na < *nb;
        return na.has_value() && !nb.has_value();
    });
    return ports;
}

std::optional<std::string> resolvePortName(const std::string& name, const PortEnvironment&) {
    if (name.empty())
        return std::nullopt;
    // Device names are case-blind; one spelling lets callers compare them.
    std::string upper = name;
    if (comNameNumber(name)) {
        std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
            return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        });
    }
    return windowsDeviceName(upper);
}

std::string describePort(const std::string& name, const PortEnvironment&) {
    if (const std::string friendly = friendlyName(name); !friendly.empty())
        return friendly;
    for (const auto& [device, port] : serialCommMap()) {
        if (sameName(port, name))
            return "port szeregowy " + device;
    }
    return "brak portu";
}

} // namespace trellikon
