// The command line on Windows: the wide command line, a console switched to
// UTF-8 and back, and the system's own COM ports.
#include "console.h"

#include "windows_text.h"

#include <cstdlib>

#include <shellapi.h>

namespace trellikon::console {

namespace {

// The console's output code page as the program found it. The program
// speaks UTF-8 to the console and puts the old page back however it ends
// (returning, exit(), Ctrl+C, the console closed), so that the console the
// user goes on working in still shows the other programs' letters right.
UINT consolePageFound = 0;

void restoreConsolePage() {
    if (consolePageFound != 0)
        ::SetConsoleOutputCP(consolePageFound);
}

BOOL WINAPI onConsoleEvent(DWORD) {
    restoreConsolePage();
    return FALSE; // and let the system end the program as it would
}

void speakUtf8ToConsole() {
    const UINT found = ::GetConsoleOutputCP(); // 0 without a console
    if (found == 0 || found == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8))
        return;
    consolePageFound = found;
    std::atexit(restoreConsolePage);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace

std::optional<std::vector<std::string>> arguments(int argc, char** argv) {
    speakUtf8ToConsole();
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        std::vector<std::string> args;
        bool exact = true;
        for (int i = 1; i < count && exact; ++i) {
            const std::optional<std::string> arg = narrowExact(wide[i]);
            exact = arg.has_value();
            if (exact)
                args.push_back(*arg);
        }
        ::LocalFree(wide);
        if (!exact)
            return std::nullopt;
        return args;
    }
    return std::vector<std::string>(argv + 1, argv + argc);
}

bool namesDevicePath(const std::string& word) {
    return word.rfind("\\\\.\\", 0) == 0;
}

const char* portHelp() {
    return R"(  COM1..COM8 (albo inny port COM, np. COM12): porty szeregowe Windows; jaki port
  ma przejściówka USB, mówi polecenie ports i Menedżer urządzeń. Po otwarciu
  portu wyłącz i włącz urządzenie; program czeka na nie około 18 sekund. Postęp
  jest wypisywany na stderr. Gdy urządzenie się nie zgłosi, komunikat mówi, co
  nadeszło z portu (nic, obce bajty albo uszkodzone ramki). Gdy wybranego portu
  nie ma, a kabel ostatniego udanego połączenia jest pod innym numerem COM,
  program łączy się przez tamten port i o tym pisze.)";
}

bool drawsOffscreen() {
    return false;
}

} // namespace trellikon::console
