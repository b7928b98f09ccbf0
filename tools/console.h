#pragma once
// What the command line meets that differs between systems, behind one header:
// console_posix.cpp and console_windows.cpp, one chosen by the build.
//
// Windows hands main() its arguments in the ANSI code page, which cannot carry
// every file name, and its console shows bytes in an OEM code page; the
// program takes the wide command line and speaks UTF-8 to the console. The
// port names a user types and what they mean differ too.

#include <optional>
#include <string>
#include <vector>

namespace trellikon::console {

// The program's arguments in UTF-8, which the commands expect; nothing when
// one cannot be (a lone surrogate, which NTFS allows in a name: refused
// rather than turned into another name). Also sets the console up for UTF-8
// output for as long as the program runs.
std::optional<std::vector<std::string>> arguments(int argc, char** argv);

// Whether a word names a device path of this system ("/dev/ttyUSB0",
// "\\.\COM12") rather than a file; COMn is a port on every system.
bool namesDevicePath(const std::string& word);

// The help's paragraph on what PORT may be here.
const char* portHelp();

// Whether drawing (the settings sheet's fonts) needs Qt's offscreen platform
// unless the user chose one: a Linux console may have no display.
bool drawsOffscreen();

} // namespace trellikon::console

namespace trellikon::console {
// A line typed at the terminal without being shown (a new password), after
// `prompt` on stderr; nothing when there is no terminal or input ends.
std::optional<std::string> readSecret(const std::string& prompt);
} // namespace trellikon::console
