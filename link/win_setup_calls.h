#pragma once
// Windows only: the SetupAPI, configuration manager and registry calls the
// port list makes, as a table (as win_comm_calls.h does for the port). A test
// gives the list a table of its own that plays a machine's devices: adapters
// with and without serial numbers, one whose driver did not start.
//
// A replacement that fails sets the thread's last error (SetLastError) as the
// system would, or returns the configuration manager's error code.

#ifdef _WIN32

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

namespace trellikon {

struct WinSetupCalls {
    decltype(&::SetupDiGetClassDevsW) SetupDiGetClassDevsW = ::SetupDiGetClassDevsW;
    decltype(&::SetupDiEnumDeviceInfo) SetupDiEnumDeviceInfo = ::SetupDiEnumDeviceInfo;
    decltype(&::SetupDiOpenDevRegKey) SetupDiOpenDevRegKey = ::SetupDiOpenDevRegKey;
    decltype(&::SetupDiGetDeviceRegistryPropertyW) SetupDiGetDeviceRegistryPropertyW =
        ::SetupDiGetDeviceRegistryPropertyW;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList =
        ::SetupDiDestroyDeviceInfoList;
    decltype(&::CM_Get_DevNode_Status) CM_Get_DevNode_Status = ::CM_Get_DevNode_Status;
    decltype(&::CM_Get_Parent) CM_Get_Parent = ::CM_Get_Parent;
    decltype(&::CM_Get_Device_IDW) CM_Get_Device_IDW = ::CM_Get_Device_IDW;
    decltype(&::CM_Get_DevNode_Registry_PropertyW) CM_Get_DevNode_Registry_PropertyW =
        ::CM_Get_DevNode_Registry_PropertyW;
    decltype(&::RegOpenKeyExW) RegOpenKeyExW = ::RegOpenKeyExW;
    decltype(&::RegEnumValueW) RegEnumValueW = ::RegEnumValueW;
    decltype(&::RegQueryValueExW) RegQueryValueExW = ::RegQueryValueExW;
    decltype(&::RegCloseKey) RegCloseKey = ::RegCloseKey;
};

// The table the port list uses when its environment names none.
const WinSetupCalls& systemSetupCalls();

} // namespace trellikon

#endif
