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

#include <iostream>

namespace trellikon::console {

std::optional<std::string> readSecret(const std::string& prompt) {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (in == INVALID_HANDLE_VALUE || !::GetConsoleMode(in, &mode))
        return std::nullopt; // not a console: scripts give TRELLIKON_NEW_PASSWORD
    std::cerr << prompt << std::flush;
    ::SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::wstring typed;
    wchar_t buffer[256];
    DWORD got = 0;
    bool ended = false;
    while (!ended && ::ReadConsoleW(in, buffer, 256, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got && !ended; ++i) {
            if (buffer[i] == L'\r' || buffer[i] == L'\n')
                ended = true;
            else
                typed += buffer[i];
        }
    }
    ::SetConsoleMode(in, mode);
    std::cerr << '\n';
    if (!ended)
        return std::nullopt;
    return narrow(typed);
}

} // namespace trellikon::console
