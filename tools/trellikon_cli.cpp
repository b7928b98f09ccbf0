// trellikon-cli: templates and device transfers from the command line for
// installers who keep many templates. The commands live in cli_commands; here
// is the one table that names them: the words, arguments and options of each,
// what the help says of it and what runs it.

#include "cable_memory.h"
#include "checked_write.h"
#include "cli_commands.h"
#include "cli_company.h"
#include "console.h"
#include "file_system.h"
#include "option_table.h"
#include "register_location.h"
#include "system_serial_port.h"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace trellikon::cli;
namespace opt = trellikon::options;

// Every option of every command, declared once: what its value is, and what
// the help says of it where the commands' descriptions do not.
const std::vector<opt::Option>& options() {
    static const std::vector<opt::Option> table = [] {
        auto flag = [](const char* name) {
            opt::Option o;
            o.names = {name};
            return o;
        };
        auto valued = [](const char* name, const char* valueName, const char* valueIs) {
            opt::Option o;
            o.names = {name};
            o.takesValue = true;
            o.valueName = valueName;
            o.valueIs = valueIs;
            return o;
        };
        auto described = [](opt::Option o, const char* after, std::string help) {
            o.describedAfter = after;
            o.help = std::move(help);
            return o;
        };
        opt::Option registerFile =
            described(valued("--register", "PLIK", "nazwy pliku"), "write",
                      std::string("Plik rejestru instalacji. Bez tej opcji: zmienna środowiska\n"
                                  "TRELLIKON_REGISTER, a bez niej ") +
                          trellikon::reg::defaultRegisterText() +
                          ".\n"
                          "Rejestr jest otwierany tylko przez polecenia, które go używają;\n"
                          "dwa programy mogą go używać naraz. Uszkodzony rejestr jest tylko\n"
                          "czytany, a komunikat wskazuje najnowszą z trzech dziennych kopii\n"
                          "(PLIK.kopia-RRRR-MM-DD).");
        registerFile.inUsage = false; // a line under the usage says who takes it
        // Every write is checked now; the old word for it is still taken.
        opt::Option verify = flag("--verify");
        verify.inUsage = false;
        opt::Option only =
            described(valued("--only", "CZĘŚCI", "listy części"), "write",
                      "(dla write) Zapisuje tylko wybrane części pliku, po przecinku:\n"
                      "parameters (parametry, blok 1), texts (teksty alarmowe, bloki\n"
                      "2–4), subscribers (abonenci CLIP, bloki 5–8). Pozostałe bajty są\n"
                      "dokładnie takie, jak w urządzeniu przed zapisem (odczyt przed\n"
                      "zapisem, także z --no-register); do urządzenia idzie cały obraz.");
        // An unknown word is refused by name.
        only.take = [](const std::string& words) -> std::optional<std::string> {
            if (const auto choice = trellikon::checked::parseParts(words); !choice.ok())
                return choice.error;
            return std::nullopt;
        };
        opt::Option column = valued("--column", "NAZWA|NUMER", "nazwy albo numeru kolumny");
        column.repeats = true;
        return std::vector<opt::Option>{
            described(flag("--json"), "show", "(dla show) Jeden obiekt JSON w UTF-8, do skryptów."),
            described(valued("--installation", "NAZWA", "nazwy instalacji"), "write",
                      "(dla read i write) Instalacja w rejestrze, do której należy\n"
                      "wersja; nowa nazwa tworzy instalację. Bez tej opcji wersja jest\n"
                      "„nieprzypisane”, a read podaje najbliższą instalację."),
            described(flag("--no-register"), "write",
                      "(dla read i write) Nic nie trafia do rejestru; write zapisuje\n"
                      "wtedy bez kopii zapasowej i mówi o tym."),
            registerFile,
            verify,
            described(flag("--no-verify"), "write",
                      "(dla write i restore) Bez odczytu kontrolnego po zapisie; zapis\n"
                      "trafia do rejestru jako „zapis”. --verify (odczyt kontrolny) jest\n"
                      "domyślne i nadal przyjmowane."),
            described(flag("--force"), "write",
                      "(dla write i restore) Zapisuje także wtedy, gdy ustawienia\n"
                      "w urządzeniu zmieniły się od ostatniej wersji instalacji."),
            only,
            described(flag("--fast"), "write",
                      "(dla read i write) Następne zapytanie lub blok wychodzi, gdy tylko\n"
                      "nadejdzie poprawna odpowiedź na poprzednie, zamiast w następnym\n"
                      "takcie co 1000 ms; limity czasu pozostają te same. Domyślnie\n"
                      "program trzyma się tempa taktu, bo tylko w nim urządzenie na\n"
                      "pewno odpowiada."),
            valued("--output", "WYNIK", "nazwy pliku"),
            flag("--replace"),
            flag("--skip-refused"),
            described(flag("--server"), "history",
                      "(dla installations i history) Pyta serwer rejestru firmy wprost\n"
                      "(biuro, z połączeniem), zamiast kopii na tym komputerze."),
            flag("--yes"),
            column,
        };
    }();
    return table;
}

// The register's file and what a read or write records there.
RegisterChoice registerChoice(const opt::Call& c) {
    RegisterChoice choice;
    choice.mode = c.has("--no-register") ? RegisterChoice::Refused : RegisterChoice::Record;
    choice.path = c.value("--register");
    choice.installation = c.value("--installation");
    return choice;
}

// read, write, restore and diff with a port: the system's port and clock.
struct Transfer {
    TransferOptions options;
    trellikon::SystemSerialPort port;
    SteadyTickClock clock;

    explicit Transfer(const opt::Call& c) {
        options.fast = c.has("--fast");
        // Every write is checked unless told not to.
        options.verify = !c.has("--no-verify");
        options.force = c.has("--force");
        if (c.has("--only"))
            options.parts = trellikon::checked::parseParts(c.value("--only")).parts;
        options.cableFile = trellikon::defaultCableFile();
        options.record = registerChoice(c);
    }
};

int runDiffCommand(const opt::Call& c) {
    if (!namesPort(c.argument(0)))
        return runDiff(c.argument(0), c.argument(1), std::cout, std::cerr);
    Transfer t(c);
    return runDiffDevice(c.argument(0), c.argument(1), t.port, t.clock, std::cout, std::cerr);
}

int runImportCommand(const opt::Call& c) {
    ImportOptions options;
    options.replace = c.has("--replace");
    options.skipRefused = c.has("--skip-refused");
    options.outPath = c.value("--output");
    if (const auto columns = c.parsed.every.find("--column"); columns != c.parsed.every.end())
        options.columns = columns->second;
    return runSubscribersImport(c.argument(0), c.argument(1), options, std::cout, std::cerr);
}

// The words after the first argument, for commands that take any number.
std::vector<std::string> allFrom(const opt::Call& c, std::size_t first) {
    const auto& a = c.parsed.arguments;
    return std::vector<std::string>(a.begin() + static_cast<std::ptrdiff_t>(first), a.end());
}

std::string helpText();

// Every command: its words, arguments, options (as they stand in the usage
// line), what the help says of it and what runs it.
const std::vector<opt::Command>& commands() {
    using A = opt::Argument;
    static const std::vector<opt::Command> table = {
        {"show",
         {A{"PLIK"}},
         {"--json"},
         0,
         {},
         "Wypisuje wszystkie ustawienia szablonu pod nazwami z okien programu,\n"
         "tak jak program je odczytuje. Wartości tekstowe stoją w cudzysłowie;\n"
         "bajty sterujące są pokazane jako \\xNN, cudzysłów jako \\\" i ukośnik\n"
         "odwrotny jako \\\\. Pole z błędną sumą kontrolną ma dopisek\n"
         "„(domyślna – błąd sumy kontrolnej)” i pokazuje wartość domyślną.",
         [](const opt::Call& c) {
             return runShow(c.argument(0), c.has("--json"), std::cout, std::cerr);
         }},
        {"diff",
         {A{"PLIK_A"}, A{"PLIK_B"}},
         {},
         0,
         {"PLIK_A PLIK_B", "PORT PLIK"},
         "Porównuje dwa szablony: każde różniące się ustawienie pod nazwami\n"
         "grup i pól z okien programu (wartość w A i w B), abonentów CLIP\n"
         "według pozycji (dodany, usunięty, zmieniony) oraz liczbę\n"
         "różniących się bajtów, których nie czyta żadne ustawienie (bajty\n"
         "nieużywane). Przy zgodności wypisuje jedną linię „Ustawienia\n"
         "zgodne”. Gdy pierwszy argument to port (COMn albo ścieżka\n"
         "urządzenia), odczytuje urządzenie i porównuje je z PLIKIEM; kod 2\n"
         "oznacza wtedy każdy błąd, także brak odpowiedzi urządzenia. Plik\n"
         "o nazwie portu podaj ze ścieżką (./COM1).",
         runDiffCommand},
        {"sheet",
         {A{"PLIK"}, A{"WYNIK.pdf"}},
         {},
         0,
         {},
         "Zapisuje kartę ustawień szablonu jako dokument PDF (A4): wszystkie\n"
         "ustawienia pod nazwami z okien programu, komunikaty alarmowe tak,\n"
         "jak wysyła je urządzenie, listę abonentów CLIP i miejsce na podpis\n"
         "instalatora. Istniejący plik jest zastępowany w całości albo wcale.",
         [](const opt::Call& c) { return runSheet(c.argument(0), c.argument(1), std::cerr); }},
        {"read",
         {A{"PORT"}, A{"PLIK"}},
         {"--fast", "--installation", "--no-register", "--register"},
         0,
         {},
         "Odczytuje ustawienia z urządzenia do PLIKU (4096 bajtów). Istniejący\n"
         "plik jest zastępowany w całości albo wcale. Odczyt trafia też do\n"
         "rejestru instalacji jako wersja „odczyt”.",
         [](const opt::Call& c) {
             Transfer t(c);
             return runRead(c.argument(0), c.argument(1), t.options, t.port, t.clock, std::cerr);
         }},
        {"write",
         {A{"PORT"}, A{"PLIK"}},
         {"--no-verify", "--verify", "--force", "--only", "--fast", "--installation",
          "--no-register", "--register"},
         0,
         {},
         "Zapisuje PLIK do urządzenia; plik musi mieć dokładnie 4096 bajtów.\n"
         "Przed pierwszą ramką zapisu odczytuje urządzenie i zachowuje jego\n"
         "ustawienia w rejestrze jako „kopia przed zapisem”; gdy kopii nie\n"
         "da się zachować, nic nie jest zapisywane (kod 2). Gdy instalacja\n"
         "ma już wersję w rejestrze, a urządzenie zawiera coś innego,\n"
         "wypisuje różnice (jak diff) z nagłówkiem „zmienione w urządzeniu\n"
         "od DD.MM.RRRR” i nic nie zapisuje (kod 5), chyba że podano\n"
         "--force. Po zapisie odczytuje urządzenie i porównuje z tym, co\n"
         "wysłał; zapis trafia do rejestru jako „zapis sprawdzony”, przy\n"
         "różnicy jako „zapis niezgodny” (kod 4, różnice wypisane).",
         [](const opt::Call& c) {
             Transfer t(c);
             return runWrite(c.argument(0), c.argument(1), t.options, t.port, t.clock, std::cerr);
         }},
        {"set",
         {A{"PLIK"}, A{"KLUCZ=WARTOŚĆ", false, true, "ustawień KLUCZ=WARTOŚĆ"}},
         {"--output"},
         1,
         {},
         "Zmienia ustawienia szablonu i zapisuje go (na miejscu albo jako\n"
         "WYNIK). Każda wartość przechodzi te same kontrole co w oknach\n"
         "programu, a całość jest kodowana jak przed zapisem z okna; przy\n"
         "odmowie wypisywany jest komunikat programu, plik zostaje bez zmian\n"
         "(kod 2). Klucze jak w show --json:\n"
         "  sms_centre_number, user_numbers.1 .. user_numbers.4\n"
         "  sms_mask, ring_mask (lista użytkowników, np. 1,2; pusta: żaden)\n"
         "  input_mask (lista wejść 1..8, np. 1,2,3,4)\n"
         "  echo_on, output1_permanent, output2_permanent,\n"
         "  output1_auto_on, output2_auto_on (true/false)\n"
         "  output1_auto_seconds, output2_auto_seconds, daily_sms_limit\n"
         "  test_message_on (true/false), test_message_user (1..4)\n"
         "  balance_query_code, balance_sms_count, balance_days\n"
         "  balance_info_on, balance_by_count_on, balance_by_time_on,\n"
         "  clip_output1_on, clip_output2_on (true/false)\n"
         "  texts.0 (nagłówek) .. texts.14 (wiadomość testowa)\n"
         "Jak w oknie: włączenie wyjścia czasowego wyłącza stałe i podaje\n"
         "30 s, zezwolenie CLIP na wyjście bez czasu włącza je na 3 s (chyba\n"
         "że podano też czas); pusty kod badania konta wyłącza informowanie\n"
         "ilościowe i czasowe; numer Centrum SMS jest wpisywany jak przy\n"
         "operatorze „INNY” i opróżnia kod badania konta (chyba że podano\n"
         "też kod).",
         [](const opt::Call& c) {
             return runSet(c.argument(0), c.value("--output"), allFrom(c, 1), std::cerr);
         }},
        {"subscribers add|remove",
         {A{"PLIK"}, A{"NUMER", false, true}},
         {},
         0,
         {},
         "add: dopisuje abonentów (11 cyfr) na najniższe wolne pozycje;\n"
         "remove: usuwa ich z listy i zwalnia ich pozycje. Dla każdego numeru\n"
         "wypisuje komunikat okna abonentów; przy odmowie plik bez zmian.\n"
         "export: zapisuje listę abonentów jako CSV (pozycja;numer, UTF-8 ze\n"
         "znacznikiem BOM, CRLF – arkusz kalkulacyjny otwiera go wprost);\n"
         "bez WYNIKU na standardowe wyjście.\n"
         "import: dopisuje numery z pliku CSV na najniższe wolne pozycje,\n"
         "a z --replace zastępuje nimi całą listę (pozycje z pliku zostają).\n"
         "Separator ; , albo tabulator, UTF-8, UTF-16 ze znacznikiem BOM\n"
         "(„Tekst Unicode”) albo Windows-1250; nagłówek (także pod tytułem\n"
         "i pustymi wierszami) i kolumny rozpoznawane same. Numer\n"
         "„+48 601 234 567”, „601-234-567”, „0048601234567”,\n"
         "„=\"48601234567\"”, „'601234567” albo komórka liczbowa\n"
         "„601234567,00” staje się 48601234567, „0 22 123 45 67” –\n"
         "48221234567. Liczba z ułamkiem lub w zapisie wykładniczym\n"
         "(„4,86012E+10”) jest odrzucana: arkusz już zgubił cyfry; taką\n"
         "kolumnę trzeba sformatować jako tekst. Raport podaje kolumnę\n"
         "z numerami i każdą pominiętą kolumnę z telefonami; --column\n"
         "NAZWA|NUMER (nagłówek albo numer kolumny od 1, można podać kilka\n"
         "razy) wybiera kolumny, a każdy numer w nich to osobny abonent.\n"
         "Dla każdego wiersza wypisuje wynik: przyjęty (numer i pozycja),\n"
         "pominięty (powtórzony, już na liście) albo odrzucony (nie numer,\n"
         "lista pełna). Odrzucony wiersz: nic nie jest zapisywane (kod 2),\n"
         "chyba że podano --skip-refused; żaden przyjęty numer: nic nie\n"
         "jest zapisywane (kod 2) mimo --skip-refused. Cudzysłów nigdzie\n"
         "niezamknięty: plik odrzucony w całości, z numerem wiersza, w którym\n"
         "się otwiera. Wynik trafia do PLIKU albo do --output.",
         [](const opt::Call& c) {
             return runSubscribers(c.word == "add", c.argument(0), allFrom(c, 1), std::cout,
                                   std::cerr);
         }},
        {"subscribers export",
         {A{"PLIK"}, A{"WYNIK.csv", true}},
         {},
         0,
         {},
         {},
         [](const opt::Call& c) {
             return runSubscribersExport(c.argument(0), c.optionalArgument(1), std::cout,
                                         std::cerr);
         }},
        {"subscribers import",
         {A{"PLIK"}, A{"LISTA.csv", false, false, "argumentu CSV"}},
         {"--replace", "--skip-refused", "--column", "--output"},
         2,
         {},
         {},
         runImportCommand},
        {"installations",
         {A{"SZUKAJ", true}},
         {"--server", "--register"},
         0,
         {},
         "Wypisuje instalacje z rejestru: nazwę, liczbę wersji i ostatnią\n"
         "wizytę (czas UTC), od ostatnio odwiedzanej. SZUKAJ wybiera te,\n"
         "których nazwa lub notatka zawiera ten tekst albo których numer\n"
         "urządzenia lub dowolny numer w ustawieniach (użytkownicy, centrum\n"
         "SMS, każdy abonent CLIP) kończy się tym numerem; pod instalacją\n"
         "stoi, gdzie numer znaleziono (np. „abonent CLIP 43”).",
         [](const opt::Call& c) {
             if (c.has("--server"))
                 return runServerInstallations(c.optionalArgument(0), std::cout, std::cerr);
             return runInstallations(registerChoice(c), c.optionalArgument(0), std::cout,
                                     std::cerr);
         }},
        {"history",
         {A{"NAZWA", true}},
         {"--server", "--register"},
         0,
         {},
         "Wypisuje wersje z rejestru, od najnowszej, w wierszach\n"
         "„ID  RRRR-MM-DD GG:MM  RODZAJ  INSTALACJA  PODSUMOWANIE” (czas\n"
         "UTC); z NAZWĄ tylko wersje tej instalacji, „history\n"
         "nieprzypisane” – wersje bez instalacji. Podsumowanie porównuje\n"
         "wersję z poprzednią wersją tej samej instalacji.",
         [](const opt::Call& c) {
             if (c.has("--server"))
                 return runServerHistory(c.optionalArgument(0), std::cout, std::cerr);
             return runHistory(registerChoice(c), c.optionalArgument(0), std::cout, std::cerr);
         }},
        {"version",
         {A{"ID"}, A{"PLIK"}},
         {"--register"},
         0,
         {},
         "Zapisuje 4096 bajtów wersji ID z rejestru do PLIKU (w całości albo\n"
         "wcale).",
         [](const opt::Call& c) {
             return runVersion(registerChoice(c), c.argument(0), c.argument(1), std::cerr);
         }},
        {"restore",
         {A{"ID"}, A{"PORT"}},
         {"--no-verify", "--verify", "--force", "--fast", "--register"},
         0,
         {},
         "Zapisuje wersję ID z rejestru do urządzenia, jak write: najpierw\n"
         "kopia zapasowa urządzenia w rejestrze i sprawdzenie zmian\n"
         "w urządzeniu (kod 5), po zapisie odczyt kontrolny (kod 4).",
         [](const opt::Call& c) {
             Transfer t(c);
             return runRestore(t.options.record, c.argument(0), c.argument(1), t.options, t.port,
                               t.clock, std::cerr);
         }},
        {"register export",
         {A{"PLIK"}, A{"NAZWA", true}},
         {"--register"},
         0,
         {},
         "export: zapisuje do PLIKU instalację NAZWA (bez niej cały\n"
         "rejestr) z wszystkimi wersjami, do przeniesienia na inny\n"
         "komputer. import: dodaje do rejestru wersje z takiego pliku;\n"
         "wersje, które już są w rejestrze (ta sama treść i czas), są\n"
         "pomijane, więc ponowny import niczego nie dodaje. Plik uszkodzony\n"
         "albo obcy jest odrzucany w całości.",
         [](const opt::Call& c) {
             return runRegisterExport(registerChoice(c), c.argument(0), c.optionalArgument(1),
                                      std::cerr);
         }},
        {"register import",
         {A{"PLIK"}},
         {"--register"},
         0,
         {},
         {},
         [](const opt::Call& c) {
             return runRegisterImport(registerChoice(c), c.argument(0), std::cerr);
         }},
        {"register new",
         {},
         {"--register"},
         0,
         {},
         "new: tworzy nowy, pusty rejestr tam, gdzie pliku rejestru nie ma\n"
         "albo jest pusty (0 bajtów). Bez tego polecenia program nie\n"
         "zastępuje nowym rejestrem pustego pliku ani brakującego pliku,\n"
         "obok którego są dzienne kopie (PLIK.kopia-RRRR-MM-DD): podaje\n"
         "najnowszą kopię do przywrócenia. Nowy rejestr ma własne kopie,\n"
         "które z czasem zastępują kopie poprzedniego: przenieś je wcześniej\n"
         "w inne miejsce.",
         [](const opt::Call& c) { return runRegisterNew(registerChoice(c), std::cerr); }},
        {"register connect",
         {A{"URL"}},
         {"--register"},
         0,
         {},
         "connect: łączy ten rejestr z rejestrem firmy na serwerze PostgreSQL\n"
         "(URL jak postgresql://jan@serwer:5432/firma?sslrootcert=ca.crt).\n"
         "Połączenie zawsze przez TLS ze sprawdzeniem certyfikatu i nazwy\n"
         "serwera (sslmode=verify-full); adres, który prosi o mniej albo\n"
         "zawiera hasło, jest odrzucany. Hasło bierze biblioteka libpq z jej\n"
         "pliku haseł (~/.pgpass, 0600). Adres trafia do ustawień\n"
         "użytkownika, a wszystko, co już jest w rejestrze, czeka na wysłanie.\n"
         "disconnect: kończy synchronizację; rejestr zostaje bez zmian.\n"
         "sync: wysyła zmiany czekające na tym komputerze i pobiera zmiany\n"
         "innych (kod 0 zsynchronizowano; 3 serwer nieosiągalny, nic nie\n"
         "zginęło; 2 odmowa: TLS, login, uprawnienia). status: jedna linia:\n"
         "serwer, czas ostatniej synchronizacji, liczba czekających zmian.",
         [](const opt::Call& c) {
             return runRegisterConnect(registerChoice(c), c.argument(0), std::cout, std::cerr);
         }},
        {"register disconnect",
         {},
         {"--register"},
         0,
         {},
         {},
         [](const opt::Call& c) {
             return runRegisterDisconnect(registerChoice(c), std::cout, std::cerr);
         }},
        {"register sync",
         {},
         {"--register"},
         0,
         {},
         {},
         [](const opt::Call& c) {
             return runRegisterSync(registerChoice(c), std::cout, std::cerr);
         }},
        {"register status",
         {},
         {"--register"},
         0,
         {},
         {},
         [](const opt::Call& c) {
             return runRegisterStatus(registerChoice(c), std::cout, std::cerr);
         }},
        {"rename",
         {A{"STARA"}, A{"NOWA"}},
         {"--register"},
         0,
         {},
         "Zmienia nazwę instalacji (w rejestrze firmy jak każda inna zmiana).",
         [](const opt::Call& c) {
             return runRename(registerChoice(c), c.argument(0), c.argument(1), std::cerr);
         }},
        {"conflicts",
         {},
         {"--register"},
         0,
         {},
         "Wypisuje konflikty rejestru firmy, po jednym w wierszu:\n"
         "„ID  INSTALACJA  POLE  WARTOŚĆ-ZACHOWANA  WARTOŚĆ-UTRACONA  KTO  KIEDY”\n"
         "(kto i kiedy zmienił wartość utraconą). POLE „ta-sama-instalacja”:\n"
         "ta sama instalacja założona na dwóch komputerach.",
         [](const opt::Call& c) { return runConflicts(registerChoice(c), std::cout, std::cerr); }},
        {"resolve",
         {A{"ID"}, A{"kept|lost"}},
         {"--register"},
         0,
         {},
         "Rozstrzyga konflikt ID: kept zostawia wartość zachowaną, lost\n"
         "przywraca utraconą (nowa zmiana). Dla ta-sama-instalacja kept łączy\n"
         "obie w jedną (wersje drugiej przechodzą do pierwszej), lost zostawia\n"
         "je osobno.",
         [](const opt::Call& c) {
             return runResolve(registerChoice(c), c.argument(0), c.argument(1), std::cout,
                               std::cerr);
         }},
        {"erase",
         {A{"NAZWA"}},
         {"--yes", "--register"},
         0,
         {},
         "Tylko login z rolą admin: usuwa dane klienta (RODO) – instalację,\n"
         "jej wersje i zapisy zmian – z serwera od razu, a z każdego\n"
         "komputera przy jego następnej synchronizacji. Zostaje tylko\n"
         "identyfikator usunięcia, czas i kto. Wymaga --yes. Wyeksportowane\n"
         "pliki są poza zasięgiem programu.",
         [](const opt::Call& c) {
             return runErase(registerChoice(c), c.argument(0), c.has("--yes"), std::cout,
                             std::cerr);
         }},
        {"server init",
         {A{"URL"}},
         {},
         0,
         {},
         "init: tworzy na serwerze PostgreSQL (13 lub nowszym) rejestr firmy:\n"
         "schemat trellikon, jego funkcje i role trellikon_technik,\n"
         "trellikon_biuro, trellikon_admin (ponowne uruchomienie niczego nie\n"
         "psuje). upgrade: aktualizuje schemat do tej wersji programu.\n"
         "add-user: dodaje login z rolą technik, biuro albo admin; hasło\n"
         "z terminala albo ze zmiennej TRELLIKON_NEW_PASSWORD. Ten sam SQL\n"
         "jest w pliku company_server.sql (dla psql).",
         [](const opt::Call& c) {
             return runServerInit(c.argument(0), false, std::cout, std::cerr);
         }},
        {"server upgrade",
         {A{"URL"}},
         {},
         0,
         {},
         {},
         [](const opt::Call& c) {
             return runServerInit(c.argument(0), true, std::cout, std::cerr);
         }},
        {"server add-user",
         {A{"URL"}, A{"LOGIN"}, A{"ROLA"}},
         {},
         0,
         {},
         {},
         [](const opt::Call& c) {
             return runServerAddUser(c.argument(0), c.argument(1), c.argument(2), std::cout,
                                     std::cerr);
         }},
        {"ports",
         {},
         {},
         0,
         {},
         "Wypisuje, które urządzenie oznacza teraz każda z nazw COM1..COM8,\n"
         "a potem każdy inny obecny port szeregowy z opisem; pod portem\n"
         "z przejściówką USB: jej układ, model, identyfikator USB, numer\n"
         "seryjny i sterownik (a gdy sterownik się nie uruchomił: co zrobić).",
         [](const opt::Call&) { return runPorts(std::cout); }},
        {"demo",
         {A{"PLIK"}},
         {},
         0,
         {},
         "Zapisuje do PLIKU szablon z przykładowymi ustawieniami (np. jako\n"
         "pamięć symulatora trellikon-sim).",
         [](const opt::Call& c) { return runDemo(c.argument(0), std::cout, std::cerr); }},
        // "help show" was always the help too.
        {"help",
         {A{"POLECENIE", true, true}},
         {},
         0,
         {"| --help | -h"},
         "Ten opis.",
         [](const opt::Call&) {
             std::cout << helpText();
             return kExitOk;
         }},
    };
    return table;
}

std::string helpText() {
    return std::string("trellikon-cli – szablony ustawień (.sbn) i odczyt/zapis urządzenia\n\n"
                       "Użycie:\n") +
           opt::usageLines(kProgramName, commands(), options()) +
           "  (polecenia rejestru oraz read i write przyjmują też --register PLIK)\n\n"
           "Polecenia:\n" +
           opt::descriptions(commands(), options()) + R"(
Pliki:
  Szablon to 4096 bajtów pamięci ustawień. Krótszy plik jest uzupełniany
  bajtami 0x1A, z dłuższego brane jest pierwsze 4096 bajtów; o obu przypadkach
  informuje ostrzeżenie na stderr. Nazwę zaczynającą się od „-” poprzedź „--”.

Port:
)" + trellikon::console::portHelp() +
           R"(

Przykład: dziesięć urządzeń z jednego szablonu, każde z innym numerem
użytkownika 1 (numery w pliku numery.txt, po jednym w wierszu):
  while read -r numer; do
      trellikon-cli set szablon.sbn --output urzadzenie.sbn "user_numbers.1=$numer" &&
      trellikon-cli write COM1 urzadzenie.sbn || break
      read -r -p "Podłącz następne urządzenie i naciśnij Enter " </dev/tty
  done < numery.txt

Przykład: lista mieszkańców z arkusza do szablonu i do urządzenia:
  trellikon-cli subscribers import szablon.sbn mieszkancy.csv --output brama.sbn &&
  trellikon-cli write COM1 brama.sbn

Kody wyjścia:
  0  sukces; dla diff: ustawienia są zgodne
  1  diff: ustawienia się różnią
  2  błędne argumenty, plik nie do odczytu lub zapisu, port nie do otwarcia,
     plik dla write o rozmiarze innym niż 4096 bajtów, odmowa set/subscribers,
     odrzucony wiersz albo żaden przyjęty numer subscribers import, rejestr
     nie do otwarcia lub zapisu, kopia zapasowa przed zapisem niezachowana
  3  urządzenie się nie zgłosiło albo przekroczony został czas odczytu/zapisu
  4  write, restore: ustawienia odczytane z urządzenia po zapisie różnią się
     od wysłanych (zapis niezgodny)
  5  write, restore: ustawienia w urządzeniu zmieniły się od ostatniej wersji
     instalacji w rejestrze; nic nie zostało zapisane (zapis mimo to: --force)
)";
}

int usage(const std::string& message) {
    return fail(std::cerr, usageFailure(message + " (zobacz: " + kProgramName + " --help)"));
}

// A word list as a sentence says it: "add, remove, export albo import".
std::string either(const std::vector<std::string>& words) {
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i)
        out += (i == 0 ? "" : i + 1 == words.size() ? " albo " : ", ") + words[i];
    return out;
}

int complain(const opt::CommandComplaint& c) {
    using K = opt::CommandComplaint;
    switch (c.kind) {
    case K::NoCommand:
        return usage("brak polecenia");
    case K::UnknownCommand:
        return usage("nieznane polecenie „" + c.given + "”");
    case K::WordMissing:
        return usage("polecenie " + c.given + " wymaga " + either(c.choices));
    case K::ArgumentMissing:
        return usage("brak " + c.missing->lack() + " polecenia " + c.command->spoken());
    case K::Option:
        break;
    }
    const opt::Complaint& o = *c.option;
    const std::string spoken = c.command->spoken();
    switch (o.kind) {
    case opt::Complaint::MissingValue: {
        const opt::Option* option = opt::findOption(options(), o.name);
        return usage("opcja " + o.name + " wymaga " +
                     (option && option->valueIs ? option->valueIs : "wartości"));
    }
    case opt::Complaint::ExtraArgument:
        return usage("nadmiarowy argument „" + o.argument + "” polecenia " + spoken);
    case opt::Complaint::BadValue:
        // The option's own reason, when it gives one (--only names the word).
        if (!o.reason.empty())
            return usage(o.reason);
        break;
    case opt::Complaint::UnknownOption:
        break;
    }
    return usage("nieznana opcja „" + o.argument + "” polecenia " + spoken);
}

} // namespace

int main(int argc, char** argv) {
    trellikon::markProgramRunning();
    const std::optional<std::vector<std::string>> arguments =
        trellikon::console::arguments(argc, argv);
    if (!arguments)
        return usage(
            "argument zawiera znak spoza Unicode (nazwy z takim znakiem nie są obsługiwane)");
    const std::vector<std::string>& args = *arguments;
    for (const std::string& a : args) {
        if (a == "--")
            break;
        if (a == "--help" || a == "-h") {
            std::cout << helpText();
            return kExitOk;
        }
    }
    const opt::CommandLine line = opt::readCommandLine(args, commands(), options());
    if (line.complaint)
        return complain(*line.complaint);
    return line.call->command.run(*line.call);
}
