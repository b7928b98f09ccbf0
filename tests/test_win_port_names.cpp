// The Windows port list against a fake machine played through the table of
// SetupAPI, configuration manager and registry calls: the adapter behind each
// port (ids, serial number, socket, driver), and an adapter whose driver did
// not start listed with its problem instead of left out.
#include "cable_memory.h"
#include "port_names.h"
#include "win_serial_port.h"
#include "win_setup_calls.h"

#include <QStringList>
#include <QTest>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>

using namespace trellikon;

namespace {

// One device of the port class. Its device instance is the number after its
// position (1, 2, ...), its parent's that plus 1000.
struct FakeDevice {
    std::wstring portName; // the PortName value of its device key; empty: none
    std::wstring friendly, description, maker, service, hardwareId;
    std::wstring instanceId, location;     // its own
    std::wstring parentId, parentLocation; // empty: no parent of interest
    ULONG problem = 0;
    bool portClass = true; // false: filed under another class (no driver yet)
};

struct FakeMachine {
    std::vector<std::pair<std::wstring, std::wstring>> serialComm; // device -> port name
    std::vector<FakeDevice> devices;
};

FakeMachine* machine = nullptr;

const auto kSet = reinterpret_cast<HDEVINFO>(std::uintptr_t(0x30000));
const auto kSerialCommKey = reinterpret_cast<HKEY>(std::uintptr_t(0x20000));
constexpr std::uintptr_t kDeviceKeys = 0x10000;

bool isParent(DEVINST d) {
    return d > 1000;
}
const FakeDevice* deviceOf(DEVINST d) {
    const DEVINST own = isParent(d) ? d - 1000 : d;
    if (own < 1 || own > machine->devices.size())
        return nullptr;
    return &machine->devices[own - 1];
}

// Copies a text the way the system does: its size in bytes with the
// terminating zero (two for a list of texts), refused when it does not fit.
bool copyText(const std::wstring& text, void* buffer, DWORD capacity, DWORD* size, bool list) {
    const DWORD bytes = DWORD((text.size() + (list ? 2 : 1)) * sizeof(wchar_t));
    if (size)
        *size = bytes;
    if (bytes > capacity || buffer == nullptr)
        return false;
    auto* out = static_cast<wchar_t*>(buffer);
    std::wmemcpy(out, text.c_str(), text.size());
    out[text.size()] = L'\0';
    if (list)
        out[text.size() + 1] = L'\0';
    return true;
}

// Two lists: the port class's devices, and every device (no class named).
const auto kAllSet = reinterpret_cast<HDEVINFO>(std::uintptr_t(0x30001));

HDEVINFO WINAPI getClassDevs(const GUID* portClass, PCWSTR, HWND, DWORD) {
    return portClass ? kSet : kAllSet;
}
BOOL WINAPI enumDeviceInfo(HDEVINFO set, DWORD i, PSP_DEVINFO_DATA info) {
    DWORD seen = 0;
    for (std::size_t d = 0; d < machine->devices.size(); ++d) {
        if (set == kSet && !machine->devices[d].portClass)
            continue;
        if (seen++ == i) {
            info->DevInst = DEVINST(d + 1);
            return TRUE;
        }
    }
    ::SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}
HKEY WINAPI openDevRegKey(HDEVINFO, PSP_DEVINFO_DATA info, DWORD, DWORD, DWORD, REGSAM) {
    return reinterpret_cast<HKEY>(kDeviceKeys + info->DevInst);
}
BOOL WINAPI deviceRegistryProperty(HDEVINFO, PSP_DEVINFO_DATA info, DWORD property, PDWORD type,
                                   PBYTE buffer, DWORD capacity, PDWORD size) {
    const FakeDevice* d = deviceOf(info->DevInst);
    const std::wstring* text = nullptr;
    switch (property) {
    case SPDRP_FRIENDLYNAME:
        text = &d->friendly;
        break;
    case SPDRP_DEVICEDESC:
        text = &d->description;
        break;
    case SPDRP_MFG:
        text = &d->maker;
        break;
    case SPDRP_SERVICE:
        text = &d->service;
        break;
    case SPDRP_HARDWAREID:
        text = &d->hardwareId;
        break;
    default:
        break;
    }
    if (text == nullptr || text->empty()) {
        ::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (type)
        *type = property == SPDRP_HARDWAREID ? REG_MULTI_SZ : REG_SZ;
    if (!copyText(*text, buffer, capacity, size, property == SPDRP_HARDWAREID)) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}
BOOL WINAPI destroyList(HDEVINFO) {
    return TRUE;
}
CONFIGRET WINAPI devNodeStatus(PULONG status, PULONG problem, DEVINST d, ULONG) {
    const FakeDevice* device = deviceOf(d);
    if (!device)
        return CR_NO_SUCH_DEVNODE;
    const bool own = !isParent(d);
    *status = own && device->problem ? DN_HAS_PROBLEM : DN_STARTED | DN_DRIVER_LOADED;
    *problem = own ? device->problem : 0;
    return CR_SUCCESS;
}
CONFIGRET WINAPI getParent(PDEVINST parent, DEVINST d, ULONG) {
    const FakeDevice* device = deviceOf(d);
    if (!device || isParent(d) || device->parentId.empty())
        return CR_NO_SUCH_DEVNODE;
    *parent = d + 1000;
    return CR_SUCCESS;
}
CONFIGRET WINAPI deviceId(DEVINST d, PWCHAR buffer, ULONG length, ULONG) {
    const FakeDevice* device = deviceOf(d);
    if (!device)
        return CR_NO_SUCH_DEVNODE;
    const std::wstring& id = isParent(d) ? device->parentId : device->instanceId;
    if (id.size() + 1 > length)
        return CR_BUFFER_SMALL;
    std::wmemcpy(buffer, id.c_str(), id.size() + 1);
    return CR_SUCCESS;
}
CONFIGRET WINAPI devNodeProperty(DEVINST d, ULONG property, PULONG type, PVOID buffer,
                                 PULONG length, ULONG) {
    const FakeDevice* device = deviceOf(d);
    if (!device || property != CM_DRP_LOCATION_INFORMATION)
        return CR_NO_SUCH_VALUE;
    const std::wstring& location = isParent(d) ? device->parentLocation : device->location;
    if (location.empty())
        return CR_NO_SUCH_VALUE;
    if (type)
        *type = REG_SZ;
    DWORD size = 0;
    const bool fits = copyText(location, buffer, *length, &size, false);
    *length = size;
    return fits ? CR_SUCCESS : CR_BUFFER_SMALL;
}
LSTATUS WINAPI openKey(HKEY, LPCWSTR path, DWORD, REGSAM, PHKEY key) {
    if (std::wstring(path) != L"HARDWARE\\DEVICEMAP\\SERIALCOMM")
        return ERROR_FILE_NOT_FOUND;
    *key = kSerialCommKey;
    return ERROR_SUCCESS;
}
LSTATUS WINAPI enumValue(HKEY key, DWORD i, LPWSTR name, LPDWORD nameChars, LPDWORD, LPDWORD type,
                         LPBYTE data, LPDWORD dataBytes) {
    if (key != kSerialCommKey || i >= machine->serialComm.size())
        return ERROR_NO_MORE_ITEMS;
    const auto& [device, port] = machine->serialComm[i];
    if (device.size() + 1 > *nameChars)
        return ERROR_MORE_DATA;
    std::wmemcpy(name, device.c_str(), device.size() + 1);
    *nameChars = DWORD(device.size());
    *type = REG_SZ;
    return copyText(port, data, *dataBytes, dataBytes, false) ? ERROR_SUCCESS : ERROR_MORE_DATA;
}
LSTATUS WINAPI queryValue(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                          LPDWORD size) {
    const auto k = reinterpret_cast<std::uintptr_t>(key);
    if (k <= kDeviceKeys || std::wstring(name) != L"PortName")
        return ERROR_FILE_NOT_FOUND;
    const FakeDevice* device = deviceOf(DEVINST(k - kDeviceKeys));
    if (!device || device->portName.empty())
        return ERROR_FILE_NOT_FOUND;
    *type = REG_SZ;
    return copyText(device->portName, data, *size, size, false) ? ERROR_SUCCESS : ERROR_MORE_DATA;
}
LSTATUS WINAPI closeKey(HKEY) {
    return ERROR_SUCCESS;
}

WinSetupCalls fakeCalls() {
    WinSetupCalls c;
    c.SetupDiGetClassDevsW = getClassDevs;
    c.SetupDiEnumDeviceInfo = enumDeviceInfo;
    c.SetupDiOpenDevRegKey = openDevRegKey;
    c.SetupDiGetDeviceRegistryPropertyW = deviceRegistryProperty;
    c.SetupDiDestroyDeviceInfoList = destroyList;
    c.CM_Get_DevNode_Status = devNodeStatus;
    c.CM_Get_Parent = getParent;
    c.CM_Get_Device_IDW = deviceId;
    c.CM_Get_DevNode_Registry_PropertyW = devNodeProperty;
    c.RegOpenKeyExW = openKey;
    c.RegEnumValueW = enumValue;
    c.RegQueryValueExW = queryValue;
    c.RegCloseKey = closeKey;
    return c;
}

// The machine every case starts from: an FTDI cable on COM3 (its port a
// child of the USB device, which has the serial number), a CH340 on COM4
// (the port is the USB device; Windows made its instance's last part up),
// a counterfeit PL2303 on COM5 whose driver refused to start, a port
// without a driver and without a COM number, a CH340 whose driver was never
// installed (not in the port class yet), a mouse without a driver, and a
// built-in COM1.
FakeMachine sampleMachine() {
    FakeMachine m;
    m.serialComm = {{L"\\Device\\VCP0", L"COM3"},
                    {L"\\Device\\Serial0", L"COM1"},
                    {L"\\Device\\Serial2", L"COM4"}};
    FakeDevice ftdi;
    ftdi.portName = L"COM3";
    ftdi.friendly = L"USB Serial Port (COM3)";
    ftdi.description = L"USB Serial Port";
    ftdi.maker = L"FTDI";
    ftdi.service = L"FTSER2K";
    ftdi.hardwareId = L"FTDIBUS\\COMPORT&VID_0403&PID_6001";
    ftdi.instanceId = L"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000";
    ftdi.parentId = L"USB\\VID_0403&PID_6001\\A50285BI";
    ftdi.parentLocation = L"Port_#0002.Hub_#0001";
    FakeDevice ch340;
    ch340.portName = L"COM4";
    ch340.friendly = L"USB-SERIAL CH340 (COM4)";
    ch340.description = L"USB-SERIAL CH340";
    ch340.maker = L"wch.cn";
    ch340.service = L"CH341SER_A64";
    ch340.instanceId = L"USB\\VID_1A86&PID_7523\\5&2C1A3B&0&3";
    ch340.location = L"Port_#0003.Hub_#0001";
    FakeDevice clone;
    clone.portName = L"COM5";
    clone.friendly = L"Prolific USB-to-Serial Comm Port (COM5)";
    clone.description = L"Prolific USB-to-Serial Comm Port";
    clone.maker = L"Prolific";
    clone.service = L"Ser2pl";
    clone.instanceId = L"USB\\VID_067B&PID_2303\\6&1A2B3C&0&1";
    clone.location = L"Port_#0001.Hub_#0002";
    clone.problem = CM_PROB_FAILED_START;
    FakeDevice noDriver;
    noDriver.description = L"USB-Serial Controller\x1b[2J";
    noDriver.instanceId = L"ROOT\\UNKNOWN\\0000";
    noDriver.problem = CM_PROB_FAILED_INSTALL;
    FakeDevice ch340NoDriver;
    ch340NoDriver.description = L"USB2.0-Serial";
    ch340NoDriver.instanceId = L"USB\\VID_1A86&PID_7523\\5&99&0&4";
    ch340NoDriver.problem = CM_PROB_FAILED_INSTALL;
    ch340NoDriver.portClass = false;
    FakeDevice mouse; // a device without a driver but no cable's chip: not a port
    mouse.description = L"USB Input Device";
    mouse.instanceId = L"USB\\VID_046D&PID_C077\\5&1&0&5";
    mouse.problem = CM_PROB_FAILED_INSTALL;
    mouse.portClass = false;
    FakeDevice builtIn;
    builtIn.portName = L"COM1";
    builtIn.friendly = L"Communications Port (COM1)";
    builtIn.instanceId = L"ACPI\\PNP0501\\0";
    m.devices = {ftdi, ch340, clone, noDriver, ch340NoDriver, mouse, builtIn};
    return m;
}

} // namespace

class TestWinPortNames : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() { machine_ = sampleMachine(), machine = &machine_; }
    void cleanup() { machine = nullptr; }
    void portsWithTheirAdapters();
    void adapterByPortName_data();
    void adapterByPortName();
    void rememberedCableByItsSerialNumber();
    void busyPortSaysWhatToClose();

  private:
    FakeMachine machine_;
    WinSetupCalls calls_ = fakeCalls();
    PortEnvironment env() const {
        PortEnvironment e;
        e.setupCalls = &calls_;
        return e;
    }
};

// Every port in COM order, each with what SetupAPI says stands behind it;
// a port whose driver failed is listed too, and one without a COM number last.
void TestWinPortNames::portsWithTheirAdapters() {
    QStringList got;
    for (const auto& p : presentPorts(env())) {
        QString line = QString::fromStdString(p.name + " | " + p.description);
        if (p.adapter)
            line += QString::fromStdString(" | " + describeAdapter(*p.adapter) + " @" +
                                           p.adapter->location + " #" +
                                           std::to_string(p.adapter->problemCode));
        got << line;
    }
    QCOMPARE(got,
             (QStringList{
                 "COM1 | Communications Port",
                 "COM3 | USB Serial Port | FTDI – USB Serial Port, USB 0403:6001, nr seryjny "
                 "A50285BI, sterownik FTSER2K @Port_#0002.Hub_#0001 #0",
                 "COM4 | USB-SERIAL CH340 | WCH CH340 – USB-SERIAL CH340 (wch.cn), USB 1a86:7523, "
                 "sterownik CH341SER_A64 @Port_#0003.Hub_#0001 #0",
                 "COM5 | Prolific USB-to-Serial Comm Port | Prolific PL2303 – Prolific "
                 "USB-to-Serial Comm Port, USB 067b:2303, sterownik Ser2pl @Port_#0001.Hub_#0002 "
                 "#10",
                 "(bez numeru COM) | przejściówka USB | USB-Serial Controller[2J @ #28",
                 "(bez numeru COM) | przejściówka USB | WCH CH340 – USB2.0-Serial, USB 1a86:7523 "
                 "@ #28"}));
    QVERIFY(portPresent("COM3", env()));
    QVERIFY(!portPresent("COM5", env())); // its driver did not start: nothing to open
    QVERIFY(!portPresent("COM9", env()));
}

void TestWinPortNames::adapterByPortName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("described"); // "" for no adapter
    QTest::addColumn<QString>("problem");   // how the advice begins, "" for none
    QTest::newRow("FTDI, any letter case") << "com3"
                                           << "FTDI – USB Serial Port, USB 0403:6001, nr seryjny "
                                              "A50285BI, sterownik FTSER2K"
                                           << "";
    QTest::newRow("a counterfeit PL2303: its driver refused it")
        << "COM5"
        << "Prolific PL2303 – Prolific USB-to-Serial Comm Port, USB 067b:2303, sterownik Ser2pl"
        << "Sterownik przejściówki nie uruchomił się (kod 10). Tak sterownik Prolific traktuje "
           "podróbki układu PL2303";
    QTest::newRow("a built-in port has no adapter") << "COM1"
                                                    << ""
                                                    << "";
    QTest::newRow("no such port") << "COM8"
                                  << ""
                                  << "";
}

void TestWinPortNames::adapterByPortName() {
    // The adapter behind a port name, and what to do when its driver failed.
    QFETCH(QString, name);
    QFETCH(QString, described);
    QFETCH(QString, problem);
    const auto a = adapterOf(name.toStdString(), env());
    QCOMPARE(a ? QString::fromStdString(describeAdapter(*a)) : QString(), described);
    const QString advice = a ? QString::fromStdString(adapterProblem(*a)) : QString();
    QVERIFY2(problem.isEmpty() ? advice.isEmpty() : advice.startsWith(problem), qPrintable(advice));
    if (name == "COM8")
        QCOMPARE(QString::fromStdString(describePort("COM8", env())), QString("brak portu"));
}

// A cable remembered on COM3 is found on COM6 after moving it: Windows gave it
// another number.
void TestWinPortNames::rememberedCableByItsSerialNumber() {
    const auto ftdi = adapterOf("COM3", env());
    QVERIFY(ftdi);
    const auto id = CableIdentity::of(*ftdi);
    QVERIFY(id && id->serial == "A50285BI");
    machine_.serialComm[0].second = L"COM6";
    machine_.devices[0].portName = L"COM6";
    machine_.devices[0].parentLocation = L"Port_#0004.Hub_#0001";
    const auto found =
        rememberedCableElsewhere("COM3", portPresent("COM3", env()), id, presentPorts(env()));
    QVERIFY(found);
    QCOMPARE(QString::fromStdString(found->name), QString("COM6"));
}

// Windows does not say cheaply who holds a port: the message says what to close.
void TestWinPortNames::busyPortSaysWhatToClose() {
    for (const unsigned long code : {5ul, 32ul}) {
        const QString message = QString::fromStdString(windowsOpenError("COM3", code).message);
        QVERIFY2(message.startsWith("Port COM3 jest zajęty przez inny program") &&
                     message.contains("Zamknij programy terminalowe i inne programy "
                                      "konfiguracyjne"),
                 qPrintable(message));
    }
}

QTEST_GUILESS_MAIN(TestWinPortNames)
#include "test_win_port_names.moc"
