#include "cli_commands.h"

#include "cable_memory.h"
#include "cli_register.h"
#include "console.h"
#include "demo_template.h"
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
    if (!load.ok()) {
        fail(err, concerning("nie można odczytać pliku „" + path + "”: ", load.failure));
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

int fail(std::ostream& err, const Failure& failure) {
    err << kProgramName << ": " << failure.message << '\n';
    return exitCodeOf(failure);
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

int runDemo(const std::string& outPath, std::ostream& out, std::ostream& err) {
    const SettingsImage im = demoTemplate();
    if (const Failure e = saveFileAtomically(outPath, im.bytes().data(), im.bytes().size()))
        return fail(err, concerning("nie można zapisać " + outPath + ": ", e));
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
    if (const Failure e = saveFileAtomically(path, bytes.data(), bytes.size()))
        return fail(err, concerning("nie można zapisać pliku „" + path + "”: ", e));
    return kExitOk;
}

} // namespace

int runSet(const std::string& path, const std::string& outPath,
           const std::vector<std::string>& assignments, std::ostream& err) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (const std::string& a : assignments) {
        const std::size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0)
            return fail(err, usageFailure("„" + a + "” nie ma postaci KLUCZ=WARTOŚĆ"));
        entries.emplace_back(a.substr(0, eq), a.substr(eq + 1));
    }
    auto settings = loadSettings(path, err);
    if (!settings)
        return kExitUsage;
    const TemplateEditResult r = setEntries(*settings, entries);
    if (r.failure.is(Failure::Code::Usage))
        return fail(err, concerning({}, r.failure, " (klucze: trellikon-cli --help)"));
    for (const std::string& notice : r.notices)
        err << kProgramName << ": " << notice << '\n';
    if (!r.ok()) {
        for (const std::string& refusal : r.refusals)
            fail(err, makeFailure(Failure::Code::Refused, refusal));
        return fail(err, makeFailure(Failure::Code::Refused, "szablon nie został zmieniony"));
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
        return fail(err, makeFailure(Failure::Code::Refused, "szablon nie został zmieniony"));
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
    if (const Failure e = saveFileAtomically(outPath, bytes, text.size(), FileAccess::Private))
        return fail(err, concerning("nie można zapisać pliku „" + outPath + "”: ", e));
    err << "Zapisano abonentów do pliku „" << outPath << "”: " << count << '\n';
    return kExitOk;
}

int runSubscribersImport(const std::string& path, const std::string& csvPath,
                         const ImportOptions& options, std::ostream& out, std::ostream& err) {
    auto settings = loadSettings(path, err);
    if (!settings)
        return kExitUsage;
    const csv::CallerText text = csv::readCallerFile(csvPath);
    if (!text.ok())
        return fail(err,
                    concerning("nie można zaimportować pliku „" + csvPath + "”: ", text.failure));
    csv::CallerFile file = csv::readCallers(text.text);
    if (!file.ok)
        return fail(err, makeFailure(Failure::Code::FileContent, "nie można zaimportować pliku „" +
                                                                     csvPath + "”: " + file.error));
    if (!options.columns.empty()) {
        std::vector<int> chosen;
        for (const std::string& wanted : options.columns) {
            const int column = csv::findColumn(file, wanted);
            if (column < 0 || column == file.positionColumn) {
                std::string known;
                for (std::size_t c = 0; c < file.columns.size(); ++c)
                    known += (c ? ", " : "") + csv::columnName(file, static_cast<int>(c));
                return fail(err,
                            usageFailure(column < 0
                                             ? "w pliku „" + csvPath + "” nie ma kolumny „" +
                                                   wanted + "”; kolumny: " + known
                                             : "kolumna " + csv::columnName(file, column) +
                                                   " to pozycje na liście, nie numery telefonów"));
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
        return fail(err, makeFailure(Failure::Code::Refused,
                                     "nie przyjęto żadnego numeru; szablon nie został zmieniony"));
    }
    const SubscriberEditResult r = importSubscribers(*settings, file, mode, options.skipRefused);
    for (const std::string& line : r.lines)
        out << line << '\n';
    if (!r.ok)
        return fail(
            err, makeFailure(
                     Failure::Code::Refused,
                     "szablon nie został zmieniony (odrzucone wiersze; --skip-refused pomija je)"));
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
    return console::namesDevicePath(arg);
}

int runDiffDevice(const std::string& portName, const std::string& path, SerialPort& port,
                  TickClock& clock, std::ostream& out, std::ostream& err) {
    // The file first: a typing error should not cost a device read.
    const auto file = loadImage(path, err);
    if (!file)
        return kExitUsage;
    DeviceSession session(port, clock, err, false);
    // Whatever keeps the device from being compared, a diff ends with 2.
    const auto unanswered = [](const Failure& r) {
        return makeFailure(Failure::Code::Other, r.message);
    };
    if (Failure r = session.connect(portName); !r.ok())
        return fail(err, unanswered(r));
    Bytes device{};
    if (Failure r = session.read(device); !r.ok())
        return fail(err, unanswered(r));
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

Failure connectRemembering(DeviceSession& session, const std::string& chosen,
                           const TransferOptions& o, std::ostream& err) {
    const std::string portName = portOrRememberedCable(chosen, o, err);
    session.listPorts([&o] {
        std::vector<std::string> labels;
        for (const auto& p : presentPorts(o.ports))
            labels.push_back(portLabel(p.name, o.ports));
        return labels;
    });
    Failure r = session.connect(portName);
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
        return fail(err, usageFailure("„" + outPath + "” nie jest nazwą pliku"));
    TransferRecord record;
    if (const int rc = record.open(options.record, err); rc != kExitOk)
        return rc;
    DeviceSession session(port, clock, err, options.fast);
    session.useStore(record.store());
    if (Failure r = connectRemembering(session, portName, options, err); !r.ok())
        return fail(err, r);
    Bytes bytes{};
    if (Failure r = session.read(bytes); !r.ok())
        return fail(err, r);
    if (const Failure e =
            saveFileAtomically(outPath, bytes.data(), bytes.size(), FileAccess::Private))
        return fail(err, concerning("nie można zapisać pliku „" + outPath + "”: ", e));
    err << "Zapisano „" << outPath << "”\n";
    return record.tellRead(bytes, err);
}

int runWrite(const std::string& portName, const std::string& inPath, const TransferOptions& options,
             SerialPort& port, TickClock& clock, std::ostream& err) {
    const TemplateLoad load = loadTemplate(inPath);
    if (!load.ok())
        return fail(err, concerning("nie można odczytać pliku „" + inPath + "”: ", load.failure));
    // A padded or cut image would overwrite the device with bytes nobody chose.
    if (load.fileSize != layout::kImageSize)
        return fail(err,
                    usageFailure("plik „" + inPath + "” ma " + std::to_string(load.fileSize) +
                                 " B; do urządzenia zapisuję tylko pliki o rozmiarze dokładnie " +
                                 std::to_string(layout::kImageSize) + " B"));
    TransferRecord record;
    if (const int rc = record.open(options.record, err); rc != kExitOk)
        return rc;
    return writeToDevice(portName, load.bytes, options, record, port, clock, err);
}

} // namespace trellikon::cli
