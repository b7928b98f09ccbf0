#include "cli_commands.h"

#include "cable_memory.h"
#include "cli_register.h"
#include "files.h"
#include "port_names.h"
#include "register_location.h"
#include "settings_comparison.h"
#include "template_edit.h"
#include "template_view.h"

#include <optional>
#include <ostream>

namespace trellikon::cli {

namespace {

using Bytes = SettingsImage::Bytes;

// A template as the program's own load reads it, with a warning for a size
// that only a damaged or foreign file has.
std::optional<Bytes> loadImage(const std::string& path, std::ostream& err) {
    const TemplateLoad load = loadTemplate(path);
    if (!load.ok) {
        fail(err, kExitUsage, "nie można odczytać pliku „" + path + "”: " + load.error);
        return std::nullopt;
    }
    if (load.fileSize < layout::kImageSize)
        err << kProgramName << ": ostrzeżenie: plik „" << path << "” ma " << load.fileSize
            << " B zamiast " << layout::kImageSize << "; brakujące bajty przyjęto jako 0x1A\n";
    else if (load.fileSize > layout::kImageSize)
        err << kProgramName << ": ostrzeżenie: plik „" << path << "” ma " << load.fileSize
            << " B zamiast " << layout::kImageSize << "; dalsze bajty pominięto\n";
    return load.bytes;
}

// A folder, a device or a Windows device name ("COM3.sbn"): no file can be saved there.
bool notAFileName(const std::string& path) {
    const PathKind kind = pathKind(path);
    return kind == PathKind::Directory || kind == PathKind::Other;
}

} // namespace

int fail(std::ostream& err, int code, const std::string& message) {
    err << kProgramName << ": " << message << '\n';
    return code;
}

namespace {
#ifdef _WIN32
constexpr const char* kPortHelp =
    R"(  COM1..COM8 (albo inny port COM, np. COM12): porty szeregowe Windows; jaki port
  ma przejściówka USB, mówi polecenie ports i Menedżer urządzeń. Po otwarciu
  portu wyłącz i włącz urządzenie; program czeka na nie około 18 sekund. Postęp
  jest wypisywany na stderr. Gdy urządzenie się nie zgłosi, komunikat mówi, co
  nadeszło z portu (nic, obce bajty albo uszkodzone ramki). Gdy wybranego portu
  nie ma, a kabel ostatniego udanego połączenia jest pod innym numerem COM,
  program łączy się przez tamten port i o tym pisze.)";
#else
constexpr const char* kPortHelp =
    R"(  COM1..COM8 albo ścieżka urządzenia (np. /dev/ttyUSB0). COMn to n-ty port
  szeregowy (najpierw adaptery USB i ACM), chyba że zmienna środowiska
  TRELLIKON_COMn podaje ścieżkę. Po otwarciu portu wyłącz i włącz urządzenie;
  program czeka na nie około 18 sekund. Postęp jest wypisywany na stderr.
  Gdy urządzenie się nie zgłosi, komunikat mówi, co nadeszło z portu (nic,
  obce bajty albo uszkodzone ramki). Gdy wybranego portu nie ma, a kabel
  ostatniego udanego połączenia jest pod inną nazwą, program łączy się przez
  tamten port i o tym pisze.)";
#endif
} // namespace

std::string helpText() {
    return R"(trellikon-cli – szablony ustawień (.sbn) i odczyt/zapis urządzenia

Użycie:
  trellikon-cli show [--json] PLIK
  trellikon-cli diff PLIK_A PLIK_B
  trellikon-cli diff PORT PLIK
  trellikon-cli sheet PLIK WYNIK.pdf
  trellikon-cli read [--fast] [--installation NAZWA] [--no-register] PORT PLIK
  trellikon-cli write [--no-verify] [--force] [--only CZĘŚCI] [--fast]
                [--installation NAZWA] [--no-register] PORT PLIK
  trellikon-cli set PLIK [--output WYNIK] KLUCZ=WARTOŚĆ...
  trellikon-cli subscribers add|remove PLIK NUMER...
  trellikon-cli subscribers export PLIK [WYNIK.csv]
  trellikon-cli subscribers import PLIK LISTA.csv [--replace] [--skip-refused]
                [--column NAZWA|NUMER]... [--output WYNIK]
  trellikon-cli installations [SZUKAJ]
  trellikon-cli history [NAZWA]
  trellikon-cli version ID PLIK
  trellikon-cli restore [--no-verify] [--force] [--fast] ID PORT
  trellikon-cli register export PLIK [NAZWA]
  trellikon-cli register import PLIK
  trellikon-cli ports
  trellikon-cli demo PLIK
  trellikon-cli help | --help | -h
  (polecenia rejestru oraz read i write przyjmują też --register PLIK)

Polecenia:
  show       Wypisuje wszystkie ustawienia szablonu pod nazwami z okien programu,
             tak jak program je odczytuje. Wartości tekstowe stoją w cudzysłowie;
             bajty sterujące są pokazane jako \xNN, cudzysłów jako \" i ukośnik
             odwrotny jako \\. Pole z błędną sumą kontrolną ma dopisek
             „(domyślna – błąd sumy kontrolnej)” i pokazuje wartość domyślną.
  --json     (dla show) Jeden obiekt JSON w UTF-8, do skryptów.
  diff       Porównuje dwa szablony: każde różniące się ustawienie pod nazwami
             grup i pól z okien programu (wartość w A i w B), abonentów CLIP
             według pozycji (dodany, usunięty, zmieniony) oraz liczbę
             różniących się bajtów, których nie czyta żadne ustawienie (bajty
             nieużywane). Przy zgodności wypisuje jedną linię „Ustawienia
             zgodne”. Gdy pierwszy argument to port (COMn albo ścieżka
             urządzenia), odczytuje urządzenie i porównuje je z PLIKIEM; kod 2
             oznacza wtedy każdy błąd, także brak odpowiedzi urządzenia. Plik
             o nazwie portu podaj ze ścieżką (./COM1).
  sheet      Zapisuje kartę ustawień szablonu jako dokument PDF (A4): wszystkie
             ustawienia pod nazwami z okien programu, komunikaty alarmowe tak,
             jak wysyła je urządzenie, listę abonentów CLIP i miejsce na podpis
             instalatora. Istniejący plik jest zastępowany w całości albo wcale.
  read       Odczytuje ustawienia z urządzenia do PLIKU (4096 bajtów). Istniejący
             plik jest zastępowany w całości albo wcale. Odczyt trafia też do
             rejestru instalacji jako wersja „odczyt”.
  write      Zapisuje PLIK do urządzenia; plik musi mieć dokładnie 4096 bajtów.
             Przed pierwszą ramką zapisu odczytuje urządzenie i zachowuje jego
             ustawienia w rejestrze jako „kopia przed zapisem”; gdy kopii nie
             da się zachować, nic nie jest zapisywane (kod 2). Gdy instalacja
             ma już wersję w rejestrze, a urządzenie zawiera coś innego,
             wypisuje różnice (jak diff) z nagłówkiem „zmienione w urządzeniu
             od DD.MM.RRRR” i nic nie zapisuje (kod 5), chyba że podano
             --force. Po zapisie odczytuje urządzenie i porównuje z tym, co
             wysłał; zapis trafia do rejestru jako „zapis sprawdzony”, przy
             różnicy jako „zapis niezgodny” (kod 4, różnice wypisane).
  --installation NAZWA
             (dla read i write) Instalacja w rejestrze, do której należy
             wersja; nowa nazwa tworzy instalację. Bez tej opcji wersja jest
             „nieprzypisane”, a read podaje najbliższą instalację.
  --no-register
             (dla read i write) Nic nie trafia do rejestru; write zapisuje
             wtedy bez kopii zapasowej i mówi o tym.
  --register PLIK
             Plik rejestru instalacji. Bez tej opcji: zmienna środowiska
             TRELLIKON_REGISTER, a bez niej )" +
           reg::defaultRegisterText() + R"(.
             Rejestr jest otwierany tylko przez polecenia, które go używają;
             dwa programy mogą go używać naraz. Uszkodzony rejestr jest tylko
             czytany, a komunikat wskazuje najnowszą z trzech dziennych kopii
             (PLIK.kopia-RRRR-MM-DD).
  --no-verify
             (dla write i restore) Bez odczytu kontrolnego po zapisie; zapis
             trafia do rejestru jako „zapis”. --verify (odczyt kontrolny) jest
             domyślne i nadal przyjmowane.
  --force    (dla write i restore) Zapisuje także wtedy, gdy ustawienia
             w urządzeniu zmieniły się od ostatniej wersji instalacji.
  --only CZĘŚCI
             (dla write) Zapisuje tylko wybrane części pliku, po przecinku:
             parameters (parametry, blok 1), texts (teksty alarmowe, bloki
             2–4), subscribers (abonenci CLIP, bloki 5–8). Pozostałe bajty są
             dokładnie takie, jak w urządzeniu przed zapisem (odczyt przed
             zapisem, także z --no-register); do urządzenia idzie cały obraz.
  --fast     (dla read i write) Następne zapytanie lub blok wychodzi, gdy tylko
             nadejdzie poprawna odpowiedź na poprzednie, zamiast w następnym
             takcie co 1000 ms; limity czasu pozostają te same. Domyślnie
             program trzyma się tempa taktu, bo tylko w nim urządzenie na
             pewno odpowiada.
  set        Zmienia ustawienia szablonu i zapisuje go (na miejscu albo jako
             WYNIK). Każda wartość przechodzi te same kontrole co w oknach
             programu, a całość jest kodowana jak przed zapisem z okna; przy
             odmowie wypisywany jest komunikat programu, plik zostaje bez zmian
             (kod 2). Klucze jak w show --json:
               sms_centre_number, user_numbers.1 .. user_numbers.4
               sms_mask, ring_mask (lista użytkowników, np. 1,2; pusta: żaden)
               input_mask (lista wejść 1..8, np. 1,2,3,4)
               echo_on, output1_permanent, output2_permanent,
               output1_auto_on, output2_auto_on (true/false)
               output1_auto_seconds, output2_auto_seconds, daily_sms_limit
               test_message_on (true/false), test_message_user (1..4)
               balance_query_code, balance_sms_count, balance_days
               balance_info_on, balance_by_count_on, balance_by_time_on,
               clip_output1_on, clip_output2_on (true/false)
               texts.0 (nagłówek) .. texts.14 (wiadomość testowa)
             Jak w oknie: włączenie wyjścia czasowego wyłącza stałe i podaje
             30 s, zezwolenie CLIP na wyjście bez czasu włącza je na 3 s (chyba
             że podano też czas); pusty kod badania konta wyłącza informowanie
             ilościowe i czasowe.
  subscribers
             add: dopisuje abonentów (11 cyfr) na najniższe wolne pozycje;
             remove: usuwa ich z listy i zwalnia ich pozycje. Dla każdego numeru
             wypisuje komunikat okna abonentów; przy odmowie plik bez zmian.
             export: zapisuje listę abonentów jako CSV (pozycja;numer, UTF-8 ze
             znacznikiem BOM, CRLF – arkusz kalkulacyjny otwiera go wprost);
             bez WYNIKU na standardowe wyjście.
             import: dopisuje numery z pliku CSV na najniższe wolne pozycje,
             a z --replace zastępuje nimi całą listę (pozycje z pliku zostają).
             Separator ; , albo tabulator, UTF-8, UTF-16 ze znacznikiem BOM
             („Tekst Unicode”) albo Windows-1250; nagłówek (także pod tytułem
             i pustymi wierszami) i kolumny rozpoznawane same. Numer
             „+48 601 234 567”, „601-234-567”, „0048601234567”,
             „="48601234567"”, „'601234567” albo komórka liczbowa
             „601234567,00” staje się 48601234567, „0 22 123 45 67” –
             48221234567. Liczba z ułamkiem lub w zapisie wykładniczym
             („4,86012E+10”) jest odrzucana: arkusz już zgubił cyfry; taką
             kolumnę trzeba sformatować jako tekst. Raport podaje kolumnę
             z numerami i każdą pominiętą kolumnę z telefonami; --column
             NAZWA|NUMER (nagłówek albo numer kolumny od 1, można podać kilka
             razy) wybiera kolumny, a każdy numer w nich to osobny abonent.
             Dla każdego wiersza wypisuje wynik: przyjęty (numer i pozycja),
             pominięty (powtórzony, już na liście) albo odrzucony (nie numer,
             lista pełna). Odrzucony wiersz: nic nie jest zapisywane (kod 2),
             chyba że podano --skip-refused; żaden przyjęty numer: nic nie
             jest zapisywane (kod 2) mimo --skip-refused. Cudzysłów nigdzie
             niezamknięty: plik odrzucony w całości, z numerem wiersza, w którym
             się otwiera. Wynik trafia do PLIKU albo do --output.
  installations
             Wypisuje instalacje z rejestru: nazwę, liczbę wersji i ostatnią
             wizytę (czas UTC), od ostatnio odwiedzanej. SZUKAJ wybiera te,
             których nazwa lub notatka zawiera ten tekst albo których numer
             urządzenia lub dowolny numer w ustawieniach (użytkownicy, centrum
             SMS, każdy abonent CLIP) kończy się tym numerem; pod instalacją
             stoi, gdzie numer znaleziono (np. „abonent CLIP 43”).
  history    Wypisuje wersje z rejestru, od najnowszej, w wierszach
             „ID  RRRR-MM-DD GG:MM  RODZAJ  INSTALACJA  PODSUMOWANIE” (czas
             UTC); z NAZWĄ tylko wersje tej instalacji, „history
             nieprzypisane” – wersje bez instalacji. Podsumowanie porównuje
             wersję z poprzednią wersją tej samej instalacji.
  version    Zapisuje 4096 bajtów wersji ID z rejestru do PLIKU (w całości albo
             wcale).
  restore    Zapisuje wersję ID z rejestru do urządzenia, jak write: najpierw
             kopia zapasowa urządzenia w rejestrze i sprawdzenie zmian
             w urządzeniu (kod 5), po zapisie odczyt kontrolny (kod 4).
  register   export: zapisuje do PLIKU instalację NAZWA (bez niej cały
             rejestr) z wszystkimi wersjami, do przeniesienia na inny
             komputer. import: dodaje do rejestru wersje z takiego pliku;
             wersje, które już są w rejestrze (ta sama treść i czas), są
             pomijane, więc ponowny import niczego nie dodaje. Plik uszkodzony
             albo obcy jest odrzucany w całości.
  ports      Wypisuje, które urządzenie oznacza teraz każda z nazw COM1..COM8,
             a potem każdy inny obecny port szeregowy z opisem; pod portem
             z przejściówką USB: jej układ, model, identyfikator USB, numer
             seryjny i sterownik (a gdy sterownik się nie uruchomił: co zrobić).
  demo       Zapisuje do PLIKU szablon z przykładowymi ustawieniami (np. jako
             pamięć symulatora trellikon-sim).
  help       Ten opis.

Pliki:
  Szablon to 4096 bajtów pamięci ustawień. Krótszy plik jest uzupełniany
  bajtami 0x1A, z dłuższego brane jest pierwsze 4096 bajtów; o obu przypadkach
  informuje ostrzeżenie na stderr. Nazwę zaczynającą się od „-” poprzedź „--”.

Port:
)" + std::string(kPortHelp) +
           R"(

Przykład: dziesięć urządzeń z jednego szablonu, każde z innym numerem
użytkownika 1 (numery w pliku numery.txt, po jednym w wierszu):
  while read -r numer; do
      trellikon-cli set szablon.sbn --output urzadzenie.sbn "user_numbers.1=$numer" &&
      trellikon-cli write --verify COM1 urzadzenie.sbn || break
      read -r -p "Podłącz następne urządzenie i naciśnij Enter " </dev/tty
  done < numery.txt

Przykład: lista mieszkańców z arkusza do szablonu i do urządzenia:
  trellikon-cli subscribers import szablon.sbn mieszkancy.csv --output brama.sbn &&
  trellikon-cli write --verify COM1 brama.sbn

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

namespace {
// The adapter's line, and what to do when its driver did not start.
void printAdapter(std::ostream& out, const std::optional<UsbAdapter>& adapter) {
    if (!adapter)
        return;
    out << "    " << describeAdapter(*adapter) << '\n';
    if (const std::string problem = adapterProblem(*adapter); !problem.empty())
        out << "    " << problem << '\n';
}
} // namespace

int runPorts(std::ostream& out, const PortEnvironment& env) {
    for (int n = 1; n <= kComPortCount; ++n) {
        const std::string name = "COM" + std::to_string(n);
        out << name << ": " << describePort(name, env) << '\n';
        printAdapter(out, adapterOf(name, env));
    }
    for (const auto& port : portsBeyondTheEight(env)) {
        out << port.name << ": " << port.description << '\n';
        printAdapter(out, port.adapter);
    }
    return kExitOk;
}

namespace {
SettingsImage demoImage() {
    using namespace layout;
    SettingsImage im;
    im.writePhoneNumber(kSmsCentreNumber, "48601000310");
    im.writePhoneNumber(kUserNumber1, "48600100200");
    im.writePhoneNumber(kUserNumber2, "48600100201");
    im.writePhoneNumber(kUserNumber3, "");
    im.writePhoneNumber(kUserNumber4, "");
    const std::uint8_t permanentOff[] = {0, 0};
    im.writeValueGroup(kOutput1Permanent, permanentOff);
    im.writeValueGroup(kOutput2Permanent, permanentOff);
    im.writeDigits(kDailySmsLimit, "50");
    const std::uint8_t output1Timed[] = {1, 0x01, 0x2C}; // on for 300 s
    im.writeValueGroup(kOutput1AutoEnabled, output1Timed);
    const std::uint8_t output2Off[] = {0, 0, 0};
    im.writeValueGroup(kOutput2AutoEnabled, output2Off);
    const std::uint8_t testToUser1[] = {1, 1};
    im.writeValueGroup(kTestMessageEnabled, testToUser1);
    im.writeValuePair(kSmsMask, 0x0C);  // users 1 and 2
    im.writeValuePair(kRingMask, 0x08); // user 1
    im.writeValuePair(kEchoEnabled, 1);
    im.writeValuePair(kInputMask, 0xF0); // inputs 1..4
    im.writeDigits(kBalanceIntervalDays, "7");
    im.writeDigits(kBalanceSmsCount, "100");
    for (std::size_t i = 0; i < kBalanceQueryCodeArea; ++i)
        im.set(kBalanceQueryCode + i, 0);
    const std::string code = "*101#";
    for (std::size_t i = 0; i < code.size(); ++i)
        im.set(kBalanceQueryCode + i, static_cast<std::uint8_t>(code[i]));
    im.set(kBalanceQueryCodeCheck, im.checkByte(kBalanceQueryCode, kBalanceQueryCodeArea));
    im.writeValuePair(kBalanceQueryCodeLength, static_cast<std::uint8_t>(code.size()));
    im.writeFlag(kBalanceReportEnabled, true);
    im.writeFlag(kBalanceByCountEnabled, false);
    im.writeFlag(kBalanceByTimeEnabled, true);
    im.writeValuePair(kClipOutput1Enabled, 1);
    im.writeValuePair(kClipOutput2Enabled, 0);
    const char* const texts[kTextSlotCount] = {
        "DOM KOWALSKICH: ",       "Zanik zasilania 230V",      "Powrot zasilania 230V",
        "Alarm: drzwi wejsciowe", "Drzwi wejsciowe zamkniete", "Alarm: okno salon",
        "Okno salon zamkniete",   "Alarm: czujka ruchu",       "Czujka ruchu spokoj",
        "Alarm: czujka dymu",     "Alarm: zalanie piwnicy",    "Aktywacja wejscia nr 6",
        "Aktywacja wejscia nr 7", "Aktywacja wejscia nr 8",    "Test Systemu SMS"};
    for (int k = 0; k < kTextSlotCount; ++k)
        im.writeText(k, texts[k]);
    im.writeSubscriber(1, "48600100200");
    im.writeSubscriber(2, "48600100201");
    im.writeSubscriber(43, "48512345678");
    return im;
}
} // namespace

int runDemo(const std::string& outPath, std::ostream& out, std::ostream& err) {
    const SettingsImage im = demoImage();
    const std::string error = saveFileAtomically(outPath, im.bytes().data(), im.bytes().size());
    if (!error.empty())
        return fail(err, kExitUsage, "nie można zapisać " + outPath + ": " + error);
    out << outPath << '\n';
    return kExitOk;
}

namespace {

// The template's settings as the program holds them after loading it.
std::optional<DeviceSettings> loadSettings(const std::string& path, std::ostream& err) {
    const auto bytes = loadImage(path, err);
    if (!bytes)
        return std::nullopt;
    DeviceSettings settings;
    settings.image.setBytes(*bytes);
    settings.decodeAll();
    settings.Decode_Subscribers();
    return settings;
}

int saveSettings(const DeviceSettings& settings, const std::string& path, std::ostream& err) {
    const auto& bytes = settings.image.bytes();
    if (const std::string e = saveFileAtomically(path, bytes.data(), bytes.size()); !e.empty())
        return fail(err, kExitUsage, "nie można zapisać pliku „" + path + "”: " + e);
    return kExitOk;
}

} // namespace

int runSet(const std::string& path, const std::string& outPath,
           const std::vector<std::string>& assignments, std::ostream& err) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (const std::string& a : assignments) {
        const std::size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0)
            return fail(err, kExitUsage, "„" + a + "” nie ma postaci KLUCZ=WARTOŚĆ");
        entries.emplace_back(a.substr(0, eq), a.substr(eq + 1));
    }
    auto settings = loadSettings(path, err);
    if (!settings)
        return kExitUsage;
    const TemplateEditResult r = setEntries(*settings, entries);
    if (!r.usage_error.empty())
        return fail(err, kExitUsage, r.usage_error + " (klucze: trellikon-cli --help)");
    for (const std::string& notice : r.notices)
        err << kProgramName << ": " << notice << '\n';
    if (!r.ok) {
        for (const std::string& refusal : r.refusals)
            fail(err, kExitUsage, refusal);
        return fail(err, kExitUsage, "szablon nie został zmieniony");
    }
    return saveSettings(*settings, outPath.empty() ? path : outPath, err);
}

int runSubscribers(bool add, const std::string& path, const std::vector<std::string>& numbers,
                   std::ostream& out, std::ostream& err) {
    auto settings = loadSettings(path, err);
    if (!settings)
        return kExitUsage;
    const SubscriberEditResult r =
        add ? addSubscribers(*settings, numbers) : removeSubscribers(*settings, numbers);
    for (std::size_t i = 0; i < r.lines.size(); ++i)
        out << numbers[i] << ": " << r.lines[i] << '\n';
    if (!r.ok)
        return fail(err, kExitUsage, "szablon nie został zmieniony");
    return saveSettings(*settings, path, err);
}

int runSubscribersExport(const std::string& path, const std::string& outPath, std::ostream& out,
                         std::ostream& err) {
    const auto settings = loadSettings(path, err);
    if (!settings)
        return kExitUsage;
    int count = 0;
    const std::string text = csv::exportSubscribers(settings->subscribers, &count);
    if (outPath.empty()) {
        out << text << std::flush;
        return kExitOk;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    if (const std::string e = saveFileAtomically(outPath, bytes, text.size()); !e.empty())
        return fail(err, kExitUsage, "nie można zapisać pliku „" + outPath + "”: " + e);
    err << "Zapisano abonentów do pliku „" << outPath << "”: " << count << '\n';
    return kExitOk;
}

int runSubscribersImport(const std::string& path, const std::string& csvPath,
                         const ImportOptions& options, std::ostream& out, std::ostream& err) {
    auto settings = loadSettings(path, err);
    if (!settings)
        return kExitUsage;
    const csv::CallerText text = csv::readCallerFile(csvPath);
    if (!text.ok)
        return fail(err, kExitUsage,
                    "nie można zaimportować pliku „" + csvPath + "”: " + text.error);
    csv::CallerFile file = csv::readCallers(text.text);
    if (!file.ok)
        return fail(err, kExitUsage,
                    "nie można zaimportować pliku „" + csvPath + "”: " + file.error);
    if (!options.columns.empty()) {
        std::vector<int> chosen;
        for (const std::string& wanted : options.columns) {
            const int column = csv::findColumn(file, wanted);
            if (column < 0 || column == file.positionColumn) {
                std::string known;
                for (std::size_t c = 0; c < file.columns.size(); ++c)
                    known += (c ? ", " : "") + csv::columnName(file, static_cast<int>(c));
                return fail(err, kExitUsage,
                            column < 0 ? "w pliku „" + csvPath + "” nie ma kolumny „" + wanted +
                                             "”; kolumny: " + known
                                       : "kolumna " + csv::columnName(file, column) +
                                             " to pozycje na liście, nie numery telefonów");
            }
            chosen.push_back(column);
        }
        csv::chooseColumns(file, chosen);
    }
    const std::vector<std::string> notes = csv::columnNotes(file);
    for (const std::string& note : notes)
        out << note << '\n';
    if (options.columns.empty() && notes.size() > 1)
        out << "(--column NAZWA|NUMER wybiera kolumny z numerami; można ją podać kilka razy)\n";
    const auto mode =
        options.replace ? csv::ImportMode::ReplaceList : csv::ImportMode::AddAtFreePositions;
    // Nothing to take in leaves the template as it is, whatever the options:
    // a replace would only empty the list.
    if (const csv::ImportPlan plan = csv::planImport(file, settings->subscribers, mode);
        plan.accepted == 0) {
        for (const csv::ImportLine& line : plan.lines)
            out << csv::describe(line) << '\n';
        out << csv::summary(plan) << '\n';
        return fail(err, kExitUsage, "nie przyjęto żadnego numeru; szablon nie został zmieniony");
    }
    const SubscriberEditResult r = importSubscribers(*settings, file, mode, options.skipRefused);
    for (const std::string& line : r.lines)
        out << line << '\n';
    if (!r.ok)
        return fail(err, kExitUsage,
                    "szablon nie został zmieniony (odrzucone wiersze; --skip-refused pomija je)");
    return saveSettings(*settings, options.outPath.empty() ? path : options.outPath, err);
}

int runShow(const std::string& path, bool json, std::ostream& out, std::ostream& err) {
    const auto bytes = loadImage(path, err);
    if (!bytes)
        return kExitUsage;
    const auto in = inspector::inspect(*bytes);
    out << (json ? inspector::renderJson(in) : inspector::renderShow(in)) << std::flush;
    return kExitOk;
}

int runDiff(const std::string& pathA, const std::string& pathB, std::ostream& out,
            std::ostream& err) {
    const auto a = loadImage(pathA, err);
    if (!a)
        return kExitUsage;
    const auto b = loadImage(pathB, err);
    if (!b)
        return kExitUsage;
    const auto c = comparison::compareImages(*a, *b);
    out << comparison::renderText(c, "A", "B") << std::flush;
    return c.equal() ? kExitOk : kExitDifferent;
}

bool namesPort(const std::string& arg) {
    if (arg.size() > 3 && (arg[0] == 'C' || arg[0] == 'c') && (arg[1] == 'O' || arg[1] == 'o') &&
        (arg[2] == 'M' || arg[2] == 'm') &&
        arg.find_first_not_of("0123456789", 3) == std::string::npos)
        return true;
#ifdef _WIN32
    return arg.rfind("\\\\.\\", 0) == 0;
#else
    return arg.rfind("/dev/", 0) == 0;
#endif
}

int runDiffDevice(const std::string& portName, const std::string& path, SerialPort& port,
                  TickClock& clock, std::ostream& out, std::ostream& err) {
    // The file first: a typing error should not cost a device read.
    const auto file = loadImage(path, err);
    if (!file)
        return kExitUsage;
    DeviceSession session(port, clock, err, false);
    if (Outcome r = session.connect(portName); !r.ok())
        return fail(err, kExitUsage, r.message);
    Bytes device{};
    if (Outcome r = session.read(device); !r.ok())
        return fail(err, kExitUsage, r.message);
    const auto c = comparison::compareImages(device, *file);
    out << comparison::renderText(c, "urządzenie", "szablon") << std::flush;
    return c.equal() ? kExitOk : kExitDifferent;
}

namespace {

// The chosen port, or, when it is missing and the cable of the last
// successful connection is behind another one now, that one (said on `err`).
std::string portOrRememberedCable(const std::string& chosen, const TransferOptions& o,
                                  std::ostream& err) {
    if (o.cableFile.empty() || portPresent(chosen, o.ports))
        return chosen;
    const auto found = rememberedCableElsewhere(
        chosen, false, CableMemory(o.cableFile).remembered(), presentPorts(o.ports));
    if (!found || !found->adapter)
        return chosen;
    const std::string name = comNameFor(found->name, o.ports).value_or(found->name);
    err << "Portu " << chosen << " nie ma, ale kabel ostatniego udanego połączenia ("
        << describeAdapter(*found->adapter) << ") jest teraz na porcie " << name << ": łączę przez "
        << name << ".\n";
    return name;
}

} // namespace

Outcome connectRemembering(DeviceSession& session, const std::string& chosen,
                           const TransferOptions& o, std::ostream& err) {
    const std::string portName = portOrRememberedCable(chosen, o, err);
    session.link().portsNow = [&o] {
        std::vector<std::string> labels;
        for (const auto& p : presentPorts(o.ports))
            labels.push_back(portLabel(p.name, o.ports));
        return labels;
    };
    Outcome r = session.connect(portName);
    if (r.ok() && !o.cableFile.empty()) {
        if (const auto adapter = adapterOf(portName, o.ports)) {
            // Not worth failing a transfer for; the next connection tries again.
            if (const std::string e = CableMemory(o.cableFile).remember(*adapter); !e.empty())
                err << kProgramName << ": ostrzeżenie: nie zapamiętano kabla: " << e << '\n';
        }
    }
    return r;
}

int runRead(const std::string& portName, const std::string& outPath, const TransferOptions& options,
            SerialPort& port, TickClock& clock, std::ostream& err) {
    // Found out now rather than after the device has been read.
    if (outPath.empty() || notAFileName(outPath))
        return fail(err, kExitUsage, "„" + outPath + "” nie jest nazwą pliku");
    TransferRecord record;
    if (const int rc = record.open(options.record, err); rc != kExitOk)
        return rc;
    DeviceSession session(port, clock, err, options.fast);
    if (Outcome r = connectRemembering(session, portName, options, err); !r.ok())
        return fail(err, r.exitCode, r.message);
    Bytes bytes{};
    if (Outcome r = session.read(bytes); !r.ok())
        return fail(err, r.exitCode, r.message);
    if (const std::string e = saveFileAtomically(outPath, bytes.data(), bytes.size()); !e.empty())
        return fail(err, kExitUsage, "nie można zapisać pliku „" + outPath + "”: " + e);
    err << "Zapisano „" << outPath << "”\n";
    return record.add(bytes, reg::kind::kRead, portName, err);
}

int runWrite(const std::string& portName, const std::string& inPath, const TransferOptions& options,
             SerialPort& port, TickClock& clock, std::ostream& err) {
    const TemplateLoad load = loadTemplate(inPath);
    if (!load.ok)
        return fail(err, kExitUsage, "nie można odczytać pliku „" + inPath + "”: " + load.error);
    // A padded or cut image would overwrite the device with bytes nobody chose.
    if (load.fileSize != layout::kImageSize)
        return fail(err, kExitUsage,
                    "plik „" + inPath + "” ma " + std::to_string(load.fileSize) +
                        " B; do urządzenia zapisuję tylko pliki o rozmiarze dokładnie " +
                        std::to_string(layout::kImageSize) + " B");
    TransferRecord record;
    if (const int rc = record.open(options.record, err); rc != kExitOk)
        return rc;
    return writeToDevice(portName, load.bytes, options, record, port, clock, err);
}

} // namespace trellikon::cli
