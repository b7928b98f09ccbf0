// trellikon-cli: templates and device transfers from the command line for
// installers who keep many templates. Only the arguments are handled here;
// the commands live in cli_commands.

#include "cable_memory.h"
#include "checked_write.h"
#include "cli_commands.h"
#include "files.h"
#include "option_table.h"
#include "system_serial_port.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include "windows_text.h"

#include <shellapi.h>
#endif

namespace {

using namespace trellikon::cli;
namespace opt = trellikon::options;

// The options of every command, declared once; one parser reads them all.
opt::Option flag(const char* name) {
    return {{name}};
}
opt::Option withFileName(const char* name) {
    return {{name}, true};
}
opt::Option withName(const char* name) {
    return {{name}, true};
}

// --only parameters,texts,subscribers: an unknown word is refused by name.
opt::Option onlyParts() {
    return {{"--only"}, true, [](const std::string& words) -> std::optional<std::string> {
                const auto choice = trellikon::checked::parseParts(words);
                if (choice.ok())
                    return std::nullopt;
                return choice.error;
            }};
}

struct Command {
    const char* name;     // as the command line names it: "show", "subscribers import"
    const char* spokenAs; // as its messages name it
    std::vector<opt::Option> options;
    // The names of the arguments the command takes, for the messages...
    std::vector<const char*> arguments;
    // ...or none: it counts its own arguments and words their lack itself.
    bool countsItsArguments = false;
};

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"show", "show", {flag("--json")}, {"PLIK"}},
        {"diff", "diff", {}, {"PLIK_A", "PLIK_B"}},
        {"sheet", "sheet", {}, {"PLIK", "WYNIK.pdf"}},
        {"read",
         "read",
         {flag("--fast"), withName("--installation"), flag("--no-register"),
          withFileName("--register")},
         {"PORT", "PLIK"}},
        {"write",
         "write",
         {flag("--verify"), flag("--no-verify"), flag("--force"), onlyParts(), flag("--fast"),
          withName("--installation"), flag("--no-register"), withFileName("--register")},
         {"PORT", "PLIK"}},
        {"installations", "installations", {withFileName("--register")}, {}, true},
        {"history", "history", {withFileName("--register")}, {}, true},
        {"version", "version", {withFileName("--register")}, {"ID", "PLIK"}},
        {"restore",
         "restore",
         {flag("--verify"), flag("--no-verify"), flag("--force"), flag("--fast"),
          withFileName("--register")},
         {"ID", "PORT"}},
        {"register export", "register export", {withFileName("--register")}, {}, true},
        {"register import", "register import", {withFileName("--register")}, {"PLIK"}},
        {"ports", "ports", {}, {}},
        {"demo", "demo", {}, {"PLIK"}},
        {"set", "set", {withFileName("--output")}, {}, true},
        {"subscribers add", "subscribers", {}, {}, true},
        {"subscribers remove", "subscribers", {}, {}, true},
        {"subscribers import",
         "subscribers import",
         {flag("--replace"), flag("--skip-refused"), withFileName("--output"),
          opt::Option{{"--column"}, true}},
         {},
         true},
        {"subscribers export", "subscribers export", {}, {}, true},
    };
    return table;
}

int usage(const std::string& message) {
    return fail(std::cerr, kExitUsage, message + " (zobacz: " + kProgramName + " --help)");
}

int complain(const Command& c, const opt::Complaint& complaint) {
    switch (complaint.kind) {
    case opt::Complaint::MissingValue:
        if (complaint.name == "--column")
            return usage("opcja --column wymaga nazwy albo numeru kolumny");
        if (complaint.name == "--installation")
            return usage("opcja --installation wymaga nazwy instalacji");
        if (complaint.name == "--only")
            return usage(trellikon::checked::parseParts("").error);
        return usage("opcja " + complaint.name + " wymaga nazwy pliku");
    case opt::Complaint::ExtraArgument:
        return usage("nadmiarowy argument „" + complaint.argument + "” polecenia " + c.spokenAs);
    case opt::Complaint::BadValue:
        if (!complaint.reason.empty())
            return usage(complaint.reason);
        break;
    case opt::Complaint::UnknownOption:
        break;
    }
    return usage("nieznana opcja „" + complaint.argument + "” polecenia " + c.spokenAs);
}

// set FILE [--output OUT] KEY=VALUE...
int runSetCommand(const opt::Parsed& p) {
    const std::vector<std::string>& rest = p.arguments;
    if (rest.empty())
        return usage("brak argumentu PLIK polecenia set");
    if (rest.size() < 2)
        return usage("brak ustawień KLUCZ=WARTOŚĆ polecenia set");
    const auto output = p.given.find("--output");
    return runSet(rest[0], output == p.given.end() ? std::string() : output->second,
                  std::vector<std::string>(rest.begin() + 1, rest.end()), std::cerr);
}

// subscribers export FILE [OUT]
// subscribers import FILE IN [--replace] [--skip-refused] [--column C]... [--output OUT]
int runSubscribersCsvCommand(const std::string& sub, const opt::Parsed& p) {
    const bool import = sub == "import";
    const std::vector<std::string>& rest = p.arguments;
    const std::size_t least = import ? 2 : 1, most = 2;
    if (rest.size() < least)
        return usage(std::string("brak argumentu ") + (rest.empty() ? "PLIK" : "CSV") +
                     " polecenia subscribers " + sub);
    if (rest.size() > most)
        return usage("nadmiarowy argument „" + rest[most] + "” polecenia subscribers " + sub);
    if (import) {
        ImportOptions options;
        options.replace = p.given.count("--replace") > 0;
        options.skipRefused = p.given.count("--skip-refused") > 0;
        if (const auto output = p.given.find("--output"); output != p.given.end())
            options.outPath = output->second;
        if (const auto columns = p.every.find("--column"); columns != p.every.end())
            options.columns = columns->second;
        return runSubscribersImport(rest[0], rest[1], options, std::cout, std::cerr);
    }
    return runSubscribersExport(rest[0], rest.size() > 1 ? rest[1] : std::string(), std::cout,
                                std::cerr);
}

// subscribers add|remove FILE NUMBER...
int runSubscribersCommand(const std::string& sub, const opt::Parsed& p) {
    if (sub == "export" || sub == "import")
        return runSubscribersCsvCommand(sub, p);
    const std::vector<std::string>& rest = p.arguments;
    if (rest.size() < 2)
        return usage(rest.empty() ? "brak argumentu PLIK polecenia subscribers"
                                  : "brak argumentu NUMER polecenia subscribers");
    const std::vector<std::string> numbers(rest.begin() + 1, rest.end());
    return runSubscribers(sub == "add", rest[0], numbers, std::cout, std::cerr);
}

// The register's file and what a read or write records there.
RegisterChoice registerChoice(const opt::Parsed& p) {
    RegisterChoice choice;
    choice.mode = p.given.count("--no-register") ? RegisterChoice::Refused : RegisterChoice::Record;
    if (const auto file = p.given.find("--register"); file != p.given.end())
        choice.path = file->second;
    if (const auto name = p.given.find("--installation"); name != p.given.end())
        choice.installation = name->second;
    return choice;
}

// installations [SZUKAJ], history [NAZWA], register export PLIK [NAZWA]: an
// optional last argument.
int runRegisterListing(const std::string& name, const opt::Parsed& p) {
    const std::vector<std::string>& rest = p.arguments;
    const std::size_t least = name == "register export" ? 1 : 0, most = least + 1;
    if (rest.size() < least)
        return usage("brak argumentu PLIK polecenia " + name);
    if (rest.size() > most)
        return usage("nadmiarowy argument „" + rest[most] + "” polecenia " + name);
    const std::string last = rest.size() > least ? rest[least] : std::string();
    const RegisterChoice choice = registerChoice(p);
    if (name == "installations")
        return runInstallations(choice, last, std::cout, std::cerr);
    if (name == "history")
        return runHistory(choice, last, std::cout, std::cerr);
    return runRegisterExport(choice, rest[0], last, std::cerr);
}

int runCommand(const Command& cmd, const opt::Parsed& p) {
    const std::string name = cmd.name;
    if (name == "installations" || name == "history" || name == "register export")
        return runRegisterListing(name, p);
    if (name == "set")
        return runSetCommand(p);
    if (name.rfind("subscribers ", 0) == 0)
        return runSubscribersCommand(name.substr(12), p);

    const std::vector<std::string>& positionals = p.arguments;
    if (positionals.size() < cmd.arguments.size())
        return usage(std::string("brak argumentu ") + cmd.arguments[positionals.size()] +
                     " polecenia " + cmd.name);
    if (name == "show")
        return runShow(positionals[0], p.given.count("--json") > 0, std::cout, std::cerr);
    if (name == "diff" && !namesPort(positionals[0]))
        return runDiff(positionals[0], positionals[1], std::cout, std::cerr);
    if (name == "sheet")
        return runSheet(positionals[0], positionals[1], std::cerr);
    if (name == "ports")
        return runPorts(std::cout);
    if (name == "demo")
        return runDemo(positionals[0], std::cout, std::cerr);
    if (name == "version")
        return runVersion(registerChoice(p), positionals[0], positionals[1], std::cerr);
    if (name == "register import")
        return runRegisterImport(registerChoice(p), positionals[0], std::cerr);

    TransferOptions transfer;
    transfer.fast = p.given.count("--fast") > 0;
    // Every write is checked unless told not to; --verify stays accepted.
    transfer.verify = p.given.count("--no-verify") == 0;
    transfer.force = p.given.count("--force") > 0;
    if (const auto only = p.given.find("--only"); only != p.given.end())
        transfer.parts = trellikon::checked::parseParts(only->second).parts;
    transfer.cableFile = trellikon::defaultCableFile();
    transfer.record = registerChoice(p);
    trellikon::SystemSerialPort port;
    SteadyTickClock clock;
    if (name == "diff")
        return runDiffDevice(positionals[0], positionals[1], port, clock, std::cout, std::cerr);
    if (name == "read")
        return runRead(positionals[0], positionals[1], transfer, port, clock, std::cerr);
    if (name == "restore")
        return runRestore(transfer.record, positionals[0], positionals[1], transfer, port, clock,
                          std::cerr);
    return runWrite(positionals[0], positionals[1], transfer, port, clock, std::cerr);
}

} // namespace

namespace {

#ifdef _WIN32
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
#endif

// The arguments in UTF-8, which the commands expect. Windows hands main() its
// ANSI code page, which cannot carry every file name, so they are taken from
// the wide command line there; a name UTF-8 cannot carry (a lone surrogate,
// which NTFS allows) is refused rather than turned into another name.
std::optional<std::vector<std::string>> commandArguments(int argc, char** argv) {
#ifdef _WIN32
    speakUtf8ToConsole();
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        std::vector<std::string> args;
        bool exact = true;
        for (int i = 1; i < count && exact; ++i) {
            const std::optional<std::string> arg = trellikon::narrowExact(wide[i]);
            exact = arg.has_value();
            if (exact)
                args.push_back(*arg);
        }
        ::LocalFree(wide);
        if (!exact)
            return std::nullopt;
        return args;
    }
#endif
    return std::vector<std::string>(argv + 1, argv + argc);
}

} // namespace

int main(int argc, char** argv) {
    trellikon::markProgramRunning();
    const std::optional<std::vector<std::string>> arguments = commandArguments(argc, argv);
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
    if (args.empty())
        return usage("brak polecenia");
    if (args[0] == "help") {
        std::cout << helpText();
        return kExitOk;
    }

    // "subscribers" is a family: its second word names the command.
    std::string name = args[0];
    std::size_t from = 1;
    if (name == "subscribers") {
        const bool known = args.size() >= 2 && (args[1] == "add" || args[1] == "remove" ||
                                                args[1] == "import" || args[1] == "export");
        if (!known)
            return usage("polecenie subscribers wymaga add, remove, import albo export");
        name += " " + args[1];
        from = 2;
    }
    if (name == "register") {
        if (args.size() < 2 || (args[1] != "export" && args[1] != "import"))
            return usage("polecenie register wymaga export albo import");
        name += " " + args[1];
        from = 2;
    }
    const auto& table = commands();
    const auto cmd = std::find_if(table.begin(), table.end(),
                                  [&name](const Command& c) { return name == c.name; });
    if (cmd == table.end())
        return usage("nieznane polecenie „" + args[0] + "”");

    opt::Syntax syntax;
    if (!cmd->countsItsArguments)
        syntax.mostArguments = cmd->arguments.size();
    const opt::Parsed parsed = opt::parse(args, from, cmd->options, syntax);
    if (parsed.complaint)
        return complain(*cmd, *parsed.complaint);
    return runCommand(*cmd, parsed);
}
