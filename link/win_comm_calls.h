#pragma once
// Windows only: the Win32 calls the serial port makes, as a table. The port
// calls the system through it; a test swaps single entries to play a driver
// that refuses settings, a cable pulled out mid-frame or a write that never
// completes, which Wine's serial layer never does by itself.
//
// A replacement that fails sets the thread's last error (SetLastError) as the
// system would; the port reads it with GetLastError.

#ifdef _WIN32

#include <windows.h>

namespace trellikon {

struct WinCommCalls {
    decltype(&::CreateFileA) CreateFileA = ::CreateFileA;
    decltype(&::CloseHandle) CloseHandle = ::CloseHandle;
    decltype(&::SetupComm) SetupComm = ::SetupComm;
    decltype(&::SetCommState) SetCommState = ::SetCommState;
    decltype(&::SetCommTimeouts) SetCommTimeouts = ::SetCommTimeouts;
    decltype(&::GetCommMask) GetCommMask = ::GetCommMask;
    decltype(&::SetCommMask) SetCommMask = ::SetCommMask;
    decltype(&::FlushFileBuffers) FlushFileBuffers = ::FlushFileBuffers;
    decltype(&::WriteFile) WriteFile = ::WriteFile;
    decltype(&::ClearCommError) ClearCommError = ::ClearCommError;
    decltype(&::ReadFile) ReadFile = ::ReadFile;
    decltype(&::PurgeComm) PurgeComm = ::PurgeComm;
    // What the send guard calls on the blocked thread when a call stalls.
    decltype(&::CancelSynchronousIo) CancelSynchronousIo = ::CancelSynchronousIo;
    // The pause between the attempts to reopen a port after its device went
    // away, and between the looks at the output queue while a send drains.
    decltype(&::Sleep) Sleep = ::Sleep;
    // The clock that bounds those attempts and that wait.
    decltype(&::GetTickCount64) GetTickCount64 = ::GetTickCount64;
};

} // namespace trellikon

#endif
