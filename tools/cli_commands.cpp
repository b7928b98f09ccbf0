#include "cli_commands.h"

#include "template_view.h"
#include "port_names.h"
#include "template_file.h"

#include <optional>
#include <ostream>
#include <sys/stat.h>

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

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

int fail(std::ostream& err, int code, const std::string& message) {
    err << kProgramName << ": " << message << '\n';
    return code;
}

std::string helpText() {
    return R"(trellikon-cli – szablony ustawień (.sbn) i odczyt/zapis urządzenia

Użycie:
  trellikon-cli show [--json] PLIK
  trellikon-cli diff PLIK_A PLIK_B
  trellikon-cli read [--fast] PORT PLIK
  trellikon-cli write [--verify] [--fast] PORT PLIK
  trellikon-cli ports
  trellikon-cli demo PLIK
  trellikon-cli help | --help | -h

Polecenia:
  show       Wypisuje wszystkie ustawienia szablonu pod nazwami z okien programu,
             tak jak program je odczytuje. Wartości tekstowe stoją w cudzysłowie;
             bajty sterujące są pokazane jako \xNN, cudzysłów jako \" i ukośnik
             odwrotny jako \\. Pole z błędną sumą kontrolną ma dopisek
             „(domyślna – błąd sumy kontrolnej)” i pokazuje wartość domyślną.
  --json     (dla show) Jeden obiekt JSON w UTF-8, do skryptów.
  diff       Porównuje dwa szablony: każde różniące się ustawienie (wartość w A
             i w B) oraz liczbę różniących się bajtów, których nie czyta żadne
             ustawienie (bajty nieużywane).
  read       Odczytuje ustawienia z urządzenia do PLIKU (4096 bajtów). Istniejący
             plik jest zastępowany w całości albo wcale.
  write      Zapisuje PLIK do urządzenia; plik musi mieć dokładnie 4096 bajtów.
  --verify   (dla write) Po zapisie odczytuje urządzenie i porównuje z plikiem.
  --fast     (dla read i write) Następne zapytanie lub blok wychodzi, gdy tylko
             nadejdzie poprawna odpowiedź na poprzednie, zamiast w następnym
             takcie co 1000 ms; limity czasu pozostają te same. Domyślnie
             program trzyma się tempa taktu, bo tylko w nim urządzenie na
             pewno odpowiada.
  ports      Wypisuje, które urządzenie oznacza teraz każda z nazw COM1..COM8.
  demo       Zapisuje do PLIKU szablon z przykładowymi ustawieniami (np. jako
             pamięć symulatora trellikon-sim).
  help       Ten opis.

Pliki:
  Szablon to 4096 bajtów pamięci ustawień. Krótszy plik jest uzupełniany
  bajtami 0x1A, z dłuższego brane jest pierwsze 4096 bajtów; o obu przypadkach
  informuje ostrzeżenie na stderr. Nazwę zaczynającą się od „-” poprzedź „--”.

Port:
  COM1..COM8 albo ścieżka urządzenia (np. /dev/ttyUSB0). COMn to n-ty port
  szeregowy (najpierw adaptery USB i ACM), chyba że zmienna środowiska
  TRELLIKON_COMn podaje ścieżkę. Po otwarciu portu wyłącz i włącz urządzenie;
  program czeka na nie około 18 sekund. Postęp jest wypisywany na stderr.

Kody wyjścia:
  0  sukces; dla diff: szablony są równe
  1  diff: szablony się różnią
  2  błędne argumenty, plik nie do odczytu lub zapisu, port nie do otwarcia,
     plik dla write o rozmiarze innym niż 4096 bajtów
  3  urządzenie się nie zgłosiło albo przekroczony został czas odczytu/zapisu
  4  write --verify: ustawienia odczytane z urządzenia różnią się od pliku
)";
}

int runPorts(std::ostream& out) {
    for (int n = 1; n <= kComPortCount; ++n) {
        const std::string name = "COM" + std::to_string(n);
        out << name << ": " << describePort(name) << '\n';
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
        "DOM KOWALSKICH: ", "Zanik zasilania 230V", "Powrot zasilania 230V",
        "Alarm: drzwi wejsciowe", "Drzwi wejsciowe zamkniete", "Alarm: okno salon",
        "Okno salon zamkniete", "Alarm: czujka ruchu", "Czujka ruchu spokoj",
        "Alarm: czujka dymu", "Alarm: zalanie piwnicy", "Aktywacja wejscia nr 6",
        "Aktywacja wejscia nr 7", "Aktywacja wejscia nr 8", "Test Systemu SMS"};
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
    const std::string error =
        saveFileAtomically(outPath, im.bytes().data(), im.bytes().size());
    if (!error.empty())
        return fail(err, kExitUsage, "nie można zapisać " + outPath + ": " + error);
    out << outPath << '\n';
    return kExitOk;
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
    const auto d = inspector::diff(*a, *b);
    out << inspector::renderDiff(d) << std::flush;
    return d.equal() ? kExitOk : kExitDifferent;
}

int runRead(const std::string& portName, const std::string& outPath, const TransferOptions& options,
            SerialPort& port, TickClock& clock, std::ostream& err) {
    // Found out now rather than after the device has been read.
    if (outPath.empty() || isDirectory(outPath))
        return fail(err, kExitUsage, "„" + outPath + "” nie jest nazwą pliku");
    DeviceSession session(port, clock, err, options.fast);
    if (Outcome r = session.connect(portName); !r.ok())
        return fail(err, r.exitCode, r.message);
    Bytes bytes{};
    if (Outcome r = session.read(bytes); !r.ok())
        return fail(err, r.exitCode, r.message);
    if (const std::string e = saveFileAtomically(outPath, bytes.data(), bytes.size()); !e.empty())
        return fail(err, kExitUsage, "nie można zapisać pliku „" + outPath + "”: " + e);
    err << "Zapisano „" << outPath << "”\n";
    return kExitOk;
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
    DeviceSession session(port, clock, err, options.fast);
    if (Outcome r = session.connect(portName); !r.ok())
        return fail(err, r.exitCode, r.message);
    if (Outcome r = session.write(load.bytes); !r.ok())
        return fail(err, r.exitCode, r.message);
    if (options.verify) {
        err << "Weryfikacja: odczyt ustawień z urządzenia\n";
        if (Outcome r = session.verify(load.bytes); !r.ok())
            return fail(err, r.exitCode, r.message);
        err << "Weryfikacja zakończona: urządzenie zawiera zapisany plik\n";
    }
    return kExitOk;
}

} // namespace trellikon::cli
