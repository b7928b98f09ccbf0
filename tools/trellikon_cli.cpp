// trellikon-cli: templates and device transfers from the command line for
// installers who keep many templates. Only the arguments are handled here;
// the commands live in cli_commands.

#include "cli_commands.h"
#include "system_serial_port.h"

#include <algorithm>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include "windows_text.h"

#include <shellapi.h>
#endif

namespace {

using namespace trellikon::cli;

struct Command {
    const char* name;
    std::vector<const char*> positionals; // names for the messages
    std::vector<std::string> options;     // the options it takes
};

const std::vector<Command> kCommands = {
    {"show", {"PLIK"}, {"--json"}},
    {"diff", {"PLIK_A", "PLIK_B"}, {}},
    {"sheet", {"PLIK", "WYNIK.pdf"}, {}},
    {"read", {"PORT", "PLIK"}, {"--fast"}},
    {"write", {"PORT", "PLIK"}, {"--verify", "--fast"}},
    {"ports", {}, {}},
    {"demo", {"PLIK"}, {}},
};

int usage(const std::string& message) {
    return fail(std::cerr, kExitUsage, message + " (zobacz: " + kProgramName + " --help)");
}

// set FILE [--output OUT] KEY=VALUE...
int runSetCommand(const std::vector<std::string>& args) {
    std::string file, output;
    std::vector<std::string> assignments;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && a == "--output") {
            if (i + 1 == args.size())
                return usage("opcja --output wymaga nazwy pliku");
            output = args[++i];
        } else if (!optionsEnded && a.rfind("--output=", 0) == 0) {
            output = a.substr(9);
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            return usage("nieznana opcja „" + a + "” polecenia set");
        } else if (file.empty()) {
            file = a;
        } else {
            assignments.push_back(a);
        }
    }
    if (file.empty())
        return usage("brak argumentu PLIK polecenia set");
    if (assignments.empty())
        return usage("brak ustawień KLUCZ=WARTOŚĆ polecenia set");
    return runSet(file, output, assignments, std::cerr);
}

// subscribers export FILE [OUT]
// subscribers import FILE IN [--replace] [--skip-refused] [--output OUT]
int runSubscribersCsvCommand(const std::vector<std::string>& args) {
    const bool import = args[1] == "import";
    ImportOptions options;
    std::vector<std::string> rest;
    bool optionsEnded = false;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && import && a == "--replace") {
            options.replace = true;
        } else if (!optionsEnded && import && a == "--skip-refused") {
            options.skipRefused = true;
        } else if (!optionsEnded && import && a == "--output") {
            if (i + 1 == args.size())
                return usage("opcja --output wymaga nazwy pliku");
            options.outPath = args[++i];
        } else if (!optionsEnded && import && a.rfind("--output=", 0) == 0) {
            options.outPath = a.substr(9);
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            return usage("nieznana opcja „" + a + "” polecenia subscribers " + args[1]);
        } else {
            rest.push_back(a);
        }
    }
    const std::size_t least = import ? 2 : 1, most = 2;
    if (rest.size() < least)
        return usage(std::string("brak argumentu ") + (rest.empty() ? "PLIK" : "CSV") +
                     " polecenia subscribers " + args[1]);
    if (rest.size() > most)
        return usage("nadmiarowy argument „" + rest[most] + "” polecenia subscribers " + args[1]);
    if (import)
        return runSubscribersImport(rest[0], rest[1], options, std::cout, std::cerr);
    return runSubscribersExport(rest[0], rest.size() > 1 ? rest[1] : std::string(), std::cout,
                                std::cerr);
}

// subscribers add|remove FILE NUMBER...
int runSubscribersCommand(const std::vector<std::string>& args) {
    if (args.size() >= 2 && (args[1] == "export" || args[1] == "import"))
        return runSubscribersCsvCommand(args);
    if (args.size() < 2 || (args[1] != "add" && args[1] != "remove"))
        return usage("polecenie subscribers wymaga add, remove, import albo export");
    std::vector<std::string> rest;
    bool optionsEnded = false;
    for (std::size_t i = 2; i < args.size(); ++i) {
        if (!optionsEnded && args[i] == "--")
            optionsEnded = true;
        else if (!optionsEnded && args[i].size() > 1 && args[i][0] == '-')
            return usage("nieznana opcja „" + args[i] + "” polecenia subscribers");
        else
            rest.push_back(args[i]);
    }
    if (rest.size() < 2)
        return usage(rest.empty() ? "brak argumentu PLIK polecenia subscribers"
                                  : "brak argumentu NUMER polecenia subscribers");
    const std::vector<std::string> numbers(rest.begin() + 1, rest.end());
    return runSubscribers(args[1] == "add", rest[0], numbers, std::cout, std::cerr);
}

} // namespace

namespace {

// The arguments in UTF-8, which the commands expect. Windows hands main() its
// ANSI code page, which cannot carry every file name, so they are taken from
// the wide command line there, and the console is told to show UTF-8.
std::vector<std::string> commandArguments(int argc, char** argv) {
#ifdef _WIN32
    ::SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        std::vector<std::string> args;
        for (int i = 1; i < count; ++i)
            args.push_back(trellikon::narrow(wide[i]));
        ::LocalFree(wide);
        return args;
    }
#endif
    return std::vector<std::string>(argv + 1, argv + argc);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = commandArguments(argc, argv);
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

    if (args[0] == "set")
        return runSetCommand(args);
    if (args[0] == "subscribers")
        return runSubscribersCommand(args);

    const Command* cmd = nullptr;
    for (const Command& c : kCommands)
        if (args[0] == c.name)
            cmd = &c;
    if (!cmd)
        return usage("nieznane polecenie „" + args[0] + "”");

    std::set<std::string> given;
    bool optionsEnded = false;
    std::vector<std::string> positionals;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            if (std::find(cmd->options.begin(), cmd->options.end(), a) == cmd->options.end())
                return usage("nieznana opcja „" + a + "” polecenia " + cmd->name);
            given.insert(a);
        } else if (positionals.size() == cmd->positionals.size()) {
            return usage("nadmiarowy argument „" + a + "” polecenia " + cmd->name);
        } else {
            positionals.push_back(a);
        }
    }
    if (positionals.size() < cmd->positionals.size())
        return usage(std::string("brak argumentu ") + cmd->positionals[positionals.size()] +
                     " polecenia " + cmd->name);

    const std::string name = cmd->name;
    if (name == "show")
        return runShow(positionals[0], given.count("--json") > 0, std::cout, std::cerr);
    if (name == "diff" && !namesPort(positionals[0]))
        return runDiff(positionals[0], positionals[1], std::cout, std::cerr);
    if (name == "sheet")
        return runSheet(positionals[0], positionals[1], std::cerr);
    if (name == "ports")
        return runPorts(std::cout);
    if (name == "demo")
        return runDemo(positionals[0], std::cout, std::cerr);

    TransferOptions transfer;
    transfer.fast = given.count("--fast") > 0;
    transfer.verify = given.count("--verify") > 0;
    trellikon::SystemSerialPort port;
    SteadyTickClock clock;
    if (name == "diff")
        return runDiffDevice(positionals[0], positionals[1], port, clock, std::cout, std::cerr);
    if (name == "read")
        return runRead(positionals[0], positionals[1], transfer, port, clock, std::cerr);
    return runWrite(positionals[0], positionals[1], transfer, port, clock, std::cerr);
}
