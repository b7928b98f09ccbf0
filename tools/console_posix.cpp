// The command line on Linux: arguments are the system's bytes, the console
// takes UTF-8, and ports are device paths or COMn looked up (port_names.h).
#include "console.h"

namespace trellikon::console {

std::optional<std::vector<std::string>> arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

bool namesDevicePath(const std::string& word) {
    return word.rfind("/dev/", 0) == 0;
}

const char* portHelp() {
    return R"(  COM1..COM8 albo ścieżka urządzenia (np. /dev/ttyUSB0). COMn to n-ty port
  szeregowy (najpierw adaptery USB i ACM), chyba że zmienna środowiska
  TRELLIKON_COMn podaje ścieżkę. Po otwarciu portu wyłącz i włącz urządzenie;
  program czeka na nie około 18 sekund. Postęp jest wypisywany na stderr.
  Gdy urządzenie się nie zgłosi, komunikat mówi, co nadeszło z portu (nic,
  obce bajty albo uszkodzone ramki). Gdy wybranego portu nie ma, a kabel
  ostatniego udanego połączenia jest pod inną nazwą, program łączy się przez
  tamten port i o tym pisze.)";
}

bool drawsOffscreen() {
    return true;
}

} // namespace trellikon::console

#include <cstdio>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace trellikon::console {

std::optional<std::string> readSecret(const std::string& prompt) {
    if (!isatty(STDIN_FILENO))
        return std::nullopt;
    std::cerr << prompt << std::flush;
    termios before{};
    const bool quiet = tcgetattr(STDIN_FILENO, &before) == 0;
    if (quiet) {
        termios hidden = before;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (quiet)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    std::cerr << '\n';
    if (!got)
        return std::nullopt;
    return line;
}

} // namespace trellikon::console
