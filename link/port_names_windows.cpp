// Which ports Windows has and what stands behind them (see port_names.h). The
// ports are the system's own names, so only their presence and description are
// looked up, each time they are asked for (an adapter plugged in after start-up
// shows at once). The registry's serial-port map lists the ports that run; the
// friendly name comes from SetupAPI ("USB Serial Port (COM3)"), and a port
// that only the map knows is described by its kernel device.
//
// SetupAPI also tells what stands behind a port: the adapter's USB ids and
// serial number (from its device instance, or its parent's: an FTDI port is a
// child of the USB device), the driver's service, and whether the driver
// started. A port whose driver failed is in SetupAPI's list but not in the
// map; it is listed all the same, with its problem code, so that the user
// learns why it cannot be opened rather than finding nothing.

#include "port_names.h"

#include "win_serial_port.h"
#include "win_setup_calls.h"
#include "windows_text.h"

#include <algorithm>
#include <cctype>
#include <cwctype>

// Included after windows.h, which they need. initguid.h comes first, on its
// own, so that devguid.h defines the port class's GUID here instead of only
// declaring it.
#include <initguid.h>

#include <devguid.h>

namespace trellikon {

const WinSetupCalls& systemSetupCalls() {
    static const WinSetupCalls calls;
    return calls;
}

namespace {

const WinSetupCalls& callsOf(const PortEnvironment& env) {
    return env.setupCalls ? *env.setupCalls : systemSetupCalls();
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// A UTF-16 buffer of `bytes` bytes as UTF-8, without its terminating zeros.
std::string fromBuffer(const wchar_t* buffer, std::size_t bytes) {
    std::size_t chars = bytes / sizeof(wchar_t);
    while (chars > 0 && buffer[chars - 1] == L'\0')
        --chars;
    return narrow(std::wstring_view(buffer, chars));
}

std::string registryString(const WinSetupCalls& c, HKEY key, const wchar_t* value) {
    wchar_t buffer[256];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (c.RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ || size > sizeof buffer)
        return {};
    return fromBuffer(buffer, size);
}

// The registry's serial-port map: kernel device ("\Device\Serial0") -> port name.
std::vector<std::pair<std::string, std::string>> serialCommMap(const WinSetupCalls& c) {
    std::vector<std::pair<std::string, std::string>> map;
    HKEY key = nullptr;
    if (c.RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS)
        return map;
    for (DWORD i = 0; i < 1024; ++i) {
        wchar_t name[256];
        DWORD nameChars = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG r = c.RegEnumValueW(key, i, name, &nameChars, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ || nameChars > 256 || dataBytes > sizeof data)
            continue;
        map.emplace_back(narrow(std::wstring_view(name, nameChars)), fromBuffer(data, dataBytes));
    }
    c.RegCloseKey(key);
    return map;
}

// A text property of a device in a SetupAPI list; for a list of texts
// (hardware ids), the first.
std::string deviceProperty(const WinSetupCalls& c, HDEVINFO set, SP_DEVINFO_DATA& info,
                           DWORD property) {
    wchar_t buffer[512];
    DWORD size = 0;
    if (!c.SetupDiGetDeviceRegistryPropertyW(
            set, &info, property, nullptr, reinterpret_cast<BYTE*>(buffer), sizeof buffer, &size) ||
        size > sizeof buffer)
        return {};
    buffer[511] = L'\0';
    return narrow(std::wstring_view(buffer, std::wcslen(buffer)));
}

std::string instanceId(const WinSetupCalls& c, DEVINST device) {
    wchar_t buffer[MAX_DEVICE_ID_LEN + 1] = {};
    if (c.CM_Get_Device_IDW(device, buffer, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return {};
    buffer[MAX_DEVICE_ID_LEN] = L'\0';
    return narrow(std::wstring_view(buffer, std::wcslen(buffer)));
}

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](char ch) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    });
    return s;
}

// The 4 hex digits after `key` ("VID_") in an id; nothing when absent.
std::optional<std::uint16_t> idAfter(const std::string& id, const char* key) {
    const std::string u = upper(id);
    const auto at = u.find(key);
    if (at == std::string::npos || at + 4 + 4 > u.size())
        return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = at + 4; i < at + 8; ++i) {
        const char ch = u[i];
        const int digit = ch >= '0' && ch <= '9'   ? ch - '0'
                          : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                                   : -1;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint16_t>(value);
}

// Fills the ids, serial number and socket from a USB device instance
// ("USB\VID_0403&PID_6001\A50285BI"). The last part is the adapter's serial
// number unless Windows made it up, which its "&" shows ("5&2C1A3B&0&2").
bool takeUsbInstance(const WinSetupCalls& c, DEVINST device, UsbAdapter& a) {
    const std::string id = instanceId(c, device);
    if (upper(id).rfind("USB\\", 0) != 0)
        return false;
    const auto vid = idAfter(id, "VID_"), pid = idAfter(id, "PID_");
    if (!vid || !pid)
        return false;
    a.vendorId = *vid;
    a.productId = *pid;
    const std::string last = id.substr(id.rfind('\\') + 1);
    if (last.find('&') == std::string::npos)
        a.serial = shownText(last, 64);
    wchar_t location[256] = {};
    ULONG size = sizeof location;
    if (c.CM_Get_DevNode_Registry_PropertyW(device, CM_DRP_LOCATION_INFORMATION, nullptr, location,
                                            &size, 0) == CR_SUCCESS) {
        location[255] = L'\0';
        a.location = shownText(narrow(std::wstring_view(location, std::wcslen(location))), 64);
    }
    return true;
}

struct SetupPort {
    std::string name;     // PortName: "COM3"
    std::string friendly; // "USB Serial Port (COM3)"
    std::optional<UsbAdapter> adapter;
    DEVINST device = 0;
};

// An adapter whose driver is not installed at all (code 28) is not in the
// port class yet: Windows files it under "other devices". One with a chip
// that programming cables use is worth listing all the same.
void addAdaptersWithoutDriver(const WinSetupCalls& c, std::vector<SetupPort>& ports) {
    HDEVINFO set =
        c.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; i < 4096 && c.SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        ULONG status = 0, problem = 0;
        if (c.CM_Get_DevNode_Status(&status, &problem, info.DevInst, 0) != CR_SUCCESS ||
            (status & DN_HAS_PROBLEM) == 0)
            continue;
        const bool known = std::any_of(ports.begin(), ports.end(), [&](const SetupPort& p) {
            return p.device == info.DevInst;
        });
        UsbAdapter a;
        if (known || !takeUsbInstance(c, info.DevInst, a) ||
            knownChip(a.vendorId, a.productId).empty())
            continue;
        a.problemCode = static_cast<unsigned>(problem);
        a.model = shownText(deviceProperty(c, set, info, SPDRP_DEVICEDESC));
        SetupPort port;
        port.device = info.DevInst;
        port.adapter = std::move(a);
        ports.push_back(std::move(port));
    }
    c.SetupDiDestroyDeviceInfoList(set);
}

// Every device of the port class present now, with its adapter; with
// `withoutDriver`, also the adapters whose driver was never installed.
std::vector<SetupPort> setupPorts(const WinSetupCalls& c, bool withoutDriver = false) {
    std::vector<SetupPort> ports;
    HDEVINFO set = c.SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return ports;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; i < 1024 && c.SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        SetupPort port;
        HKEY key = c.SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            port.name = registryString(c, key, L"PortName");
            c.RegCloseKey(key);
        }
        port.friendly = shownText(deviceProperty(c, set, info, SPDRP_FRIENDLYNAME));
        UsbAdapter a;
        ULONG status = 0, problem = 0;
        if (c.CM_Get_DevNode_Status(&status, &problem, info.DevInst, 0) == CR_SUCCESS &&
            (status & DN_HAS_PROBLEM) != 0)
            a.problemCode = static_cast<unsigned>(problem);
        bool usb = takeUsbInstance(c, info.DevInst, a);
        DEVINST parent = 0;
        if (!usb && c.CM_Get_Parent(&parent, info.DevInst, 0) == CR_SUCCESS)
            usb = takeUsbInstance(c, parent, a);
        if (!usb) {
            // Some drivers put the ids only in the port's hardware id
            // ("FTDIBUS\COMPORT&VID_0403&PID_6001").
            const std::string hardware = deviceProperty(c, set, info, SPDRP_HARDWAREID);
            const auto vid = idAfter(hardware, "VID_"), pid = idAfter(hardware, "PID_");
            if (vid && pid) {
                a.vendorId = *vid;
                a.productId = *pid;
                usb = true;
            }
        }
        if (usb) {
            a.maker = shownText(deviceProperty(c, set, info, SPDRP_MFG));
            a.model = shownText(deviceProperty(c, set, info, SPDRP_DEVICEDESC));
            a.driver = shownText(deviceProperty(c, set, info, SPDRP_SERVICE), 64);
            port.adapter = std::move(a);
        } else if (a.problemCode != 0) {
            UsbAdapter failed;
            failed.problemCode = a.problemCode;
            failed.model = shownText(deviceProperty(c, set, info, SPDRP_DEVICEDESC));
            port.adapter = std::move(failed);
        }
        port.device = info.DevInst;
        ports.push_back(std::move(port));
    }
    c.SetupDiDestroyDeviceInfoList(set);
    // Looking through every device costs more; only the whole list needs it.
    if (withoutDriver)
        addAdaptersWithoutDriver(c, ports);
    return ports;
}

// "USB Serial Port (COM3)" without the port's own name, which the list shows already.
std::string withoutPortName(std::string friendly, const std::string& name) {
    const std::string suffix = " (" + name + ")";
    if (friendly.size() > suffix.size() &&
        sameName(friendly.substr(friendly.size() - suffix.size()), suffix))
        friendly.erase(friendly.size() - suffix.size());
    return friendly;
}

const SetupPort* findSetupPort(const std::vector<SetupPort>& ports, const std::string& name) {
    for (const auto& p : ports) {
        if (!p.name.empty() && sameName(p.name, name))
            return &p;
    }
    return nullptr;
}

} // namespace

std::vector<PresentPort> presentPorts(const PortEnvironment& env) {
    const WinSetupCalls& c = callsOf(env);
    const auto setup = setupPorts(c, true);
    std::vector<PresentPort> ports;
    for (auto& [device, name] : serialCommMap(c)) {
        const SetupPort* s = findSetupPort(setup, name);
        std::string friendly = s ? withoutPortName(s->friendly, name) : std::string();
        if (friendly.empty())
            friendly = "port szeregowy " + device;
        ports.push_back({name, std::move(friendly), s ? s->adapter : std::nullopt});
    }
    // A port whose driver did not start is missing from the map.
    for (const auto& s : setup) {
        if (!s.adapter || s.adapter->problemCode == 0)
            continue;
        const bool listed = std::any_of(ports.begin(), ports.end(), [&](const PresentPort& p) {
            return !s.name.empty() && sameName(p.name, s.name);
        });
        if (listed)
            continue;
        const std::string name = s.name.empty() ? std::string("(bez numeru COM)") : s.name;
        std::string friendly = withoutPortName(s.friendly, name);
        ports.push_back(
            {name, friendly.empty() ? std::string("przejściówka USB") : friendly, s.adapter});
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
    std::string upperName = name;
    if (comNameNumber(name))
        upperName = upper(name);
    return windowsDeviceName(upperName);
}

std::string describePort(const std::string& name, const PortEnvironment& env) {
    const WinSetupCalls& c = callsOf(env);
    const auto setup = setupPorts(c);
    if (const SetupPort* s = findSetupPort(setup, name); s && !s->friendly.empty())
        return s->friendly;
    for (const auto& [device, port] : serialCommMap(c)) {
        if (sameName(port, name))
            return "port szeregowy " + device;
    }
    return "brak portu";
}

std::optional<UsbAdapter> adapterOf(const std::string& name, const PortEnvironment& env) {
    const auto setup = setupPorts(callsOf(env));
    if (const SetupPort* s = findSetupPort(setup, name))
        return s->adapter;
    return std::nullopt;
}

bool portPresent(const std::string& name, const PortEnvironment& env) {
    // A device path typed by hand cannot be looked up; opening it will tell.
    if (name.rfind("\\\\", 0) == 0)
        return true;
    for (const auto& [device, port] : serialCommMap(callsOf(env))) {
        if (sameName(port, name))
            return true;
    }
    return false;
}

} // namespace trellikon
