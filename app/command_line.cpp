#include "command_line.h"

#include "program_version.h"

#include <string_view>

std::optional<CommandLineAnswer> answerCommandLine(int argc, const char* const* argv) {
    if (argc < 2 || !argv[1])
        return std::nullopt;
    const std::string_view option = argv[1];
    if (option == "--version")
        return CommandLineAnswer{std::string("trellikon ") + kProgramVersion + "\n"};
    if (option != "--help" && option != "-h")
        return std::nullopt;
    return CommandLineAnswer{
        R"(Użycie: trellikon [SZABLON.sbn]

Program konfiguracyjny urządzenia DOMOWY TRELLIKON: odczytuje ustawienia
urządzenia przez kabel do programowania, pokazuje je w oknach i zapisuje
z powrotem.

  SZABLON.sbn   otwiera szablon ustawień, tak jak przycisk
                „Odczyt szablonu ustawień z dysku”
  --help, -h    ten opis
  --version     wersja programu

Plik, którego nazwa zaczyna się od „-”, podaj ze ścieżką (./-plik.sbn).
Odczyt, zapis i szablony z wiersza poleceń: trellikon-cli --help.
)"};
}
