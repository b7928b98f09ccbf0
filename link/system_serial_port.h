#pragma once
// The serial port of the platform the program is built for: termios on Linux,
// the Win32 communications calls on Windows. Nothing above this layer knows
// which one it has.

#ifdef _WIN32
#include "win_serial_port.h"
namespace trellikon {
using SystemSerialPort = WinSerialPort;
}
#else
#include "posix_serial_port.h"
namespace trellikon {
using SystemSerialPort = PosixSerialPort;
}
#endif
