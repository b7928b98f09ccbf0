#pragma once
// The options of the command-line programs (trellikon-cli, trellikon-sim, the
// link benchmark), declared as tables and read by one parser. A program lists
// its options (names, whether a value follows, what the value does) and the
// syntax it has always accepted; the parser reads the arguments in order and
// stops at the first complaint, which the program words in its own language.
//
// A program with commands (trellikon-cli) also lists them: the words that name
// each, its arguments and options and what it does. The same rows give the
// usage lines and descriptions of the help, the argument counts the parser
// holds a command to, and the function that runs it, so a command or option
// is declared once.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace trellikon::options {

struct Option {
    std::vector<std::string> names; // every spelling: "--help", "-h"
    bool takesValue = false;
    // Takes the value (empty for a flag): nothing when taken, else why not.
    std::function<std::optional<std::string>(const std::string& value)> take = {};
    // Parsing ends here (help): the arguments after it are not looked at.
    bool ends = false;
    // For the help of a program with commands: what the value is in the
    // usage line ("NAZWA") and in the complaint of its lack ("nazwy
    // instalacji"); whether it may be given again; what it does (none: its
    // commands' descriptions say it), described after which command's
    // description; whether it shows in the usage lines.
    const char* valueName = nullptr;
    const char* valueIs = nullptr;
    bool repeats = false;
    std::string help = {};
    const char* describedAfter = nullptr;
    bool inUsage = true;
};

struct Syntax {
    // "--" ends the options: everything after it is an argument.
    bool doubleDashEndsOptions = true;
    // "--name=value" gives an option its value.
    bool inlineValues = true;
    // A flag given "=value" is the flag, the value ignored; otherwise the
    // whole argument is an unknown option.
    bool flagsIgnoreInlineValues = false;
    // Words that are not options are arguments; otherwise each is an unknown option.
    bool takesArguments = true;
    // More arguments than this are refused at the first one too many.
    std::optional<std::size_t> mostArguments;
};

struct Complaint {
    enum Kind { UnknownOption, MissingValue, BadValue, ExtraArgument } kind;
    std::string argument; // as it was given
    std::string name;     // the option's name as given, without "=value"
    std::string reason;   // BadValue: what the option said
};

struct Parsed {
    std::vector<std::string> arguments;
    std::map<std::string, std::string> given; // by the option's first name: its last value
    std::map<std::string, std::vector<std::string>>
        every;                       // every value, in order, for repeatable options
    const Option* endedBy = nullptr; // the `ends` option that stopped parsing
    std::optional<Complaint> complaint;
};

inline bool looksLikeOption(const std::string& a) {
    return a.size() > 1 && a[0] == '-';
}

// Reads args[from..] against `table`.
inline Parsed parse(const std::vector<std::string>& args, std::size_t from,
                    const std::vector<Option>& table, const Syntax& syntax) {
    Parsed p;
    auto find = [&table](const std::string& name) -> const Option* {
        for (const Option& o : table)
            for (const std::string& n : o.names)
                if (n == name)
                    return &o;
        return nullptr;
    };
    auto complain = [&p](Complaint::Kind kind, const std::string& argument, const std::string& name,
                         std::string reason = {}) {
        p.complaint = Complaint{kind, argument, name, std::move(reason)};
        return p;
    };
    bool optionsEnded = false;
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && syntax.doubleDashEndsOptions && a == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || (syntax.takesArguments && !looksLikeOption(a))) {
            if (syntax.mostArguments && p.arguments.size() == *syntax.mostArguments)
                return complain(Complaint::ExtraArgument, a, a);
            p.arguments.push_back(a);
            continue;
        }
        std::string name = a;
        std::optional<std::string> inlineValue;
        if (syntax.inlineValues && a.rfind("--", 0) == 0) {
            if (const auto eq = a.find('='); eq != std::string::npos) {
                name = a.substr(0, eq);
                inlineValue = a.substr(eq + 1);
            }
        }
        const Option* option = find(name);
        if (!option || (inlineValue && !option->takesValue && !syntax.flagsIgnoreInlineValues))
            return complain(Complaint::UnknownOption, a, name);
        std::string value;
        if (option->takesValue) {
            if (inlineValue)
                value = *inlineValue;
            else if (i + 1 < args.size())
                value = args[++i];
            else
                return complain(Complaint::MissingValue, a, name);
        }
        if (option->take)
            if (auto refusal = option->take(value))
                return complain(Complaint::BadValue, a, name, std::move(*refusal));
        p.given[option->names.front()] = value;
        p.every[option->names.front()].push_back(value);
        if (option->ends) {
            p.endedBy = option;
            return p;
        }
    }
    return p;
}

// One argument of a command as the usage line and the complaints name it.
struct Argument {
    const char* name;      // "PLIK"
    bool optional = false; // [PLIK]
    bool repeats = false;  // PLIK...: any number more
    // What its lack is called when not "argumentu NAME": "ustawień KLUCZ=WARTOŚĆ".
    const char* lacking = nullptr;

    std::string lack() const { return lacking ? lacking : std::string("argumentu ") + name; }
};

struct Call;

struct Command {
    // The words naming it; the last may offer alternatives: "subscribers add|remove".
    std::string words;
    std::vector<Argument> arguments = {};
    std::vector<std::string> options = {}; // by their first name in the program's option table
    // How many arguments stand before the options in the usage line.
    std::size_t optionsAfter = 0;
    // The usage lines' text after the words, when not made from the arguments
    // and options (a command with two forms).
    std::vector<std::string> usage = {};
    // What it does, one line per line of the help (a family of commands
    // describes itself once, at its first row). Lines wrap by hand: the help
    // keeps the lines as they are written.
    std::string help = {};
    std::function<int(const Call&)> run = {};

    // The words without the alternatives: how messages name the command.
    std::string spoken() const {
        const auto bar = words.find('|');
        if (bar == std::string::npos)
            return words;
        const auto space = words.rfind(' ', bar);
        return space == std::string::npos ? std::string() : words.substr(0, space);
    }
    // The first word: the family's name in the help.
    std::string family() const { return words.substr(0, words.find(' ')); }
    // The alternatives of the last word ("add", "remove"), or the last word.
    std::vector<std::string> lastWords() const {
        std::vector<std::string> out;
        std::string last = words.substr(words.rfind(' ') + 1);
        for (std::size_t at = 0;;) {
            const auto bar = last.find('|', at);
            out.push_back(last.substr(at, bar - at));
            if (bar == std::string::npos)
                return out;
            at = bar + 1;
        }
    }
    std::size_t wordCount() const {
        return static_cast<std::size_t>(std::count(words.begin(), words.end(), ' ')) + 1;
    }
    std::size_t leastArguments() const {
        return static_cast<std::size_t>(std::count_if(
            arguments.begin(), arguments.end(), [](const Argument& a) { return !a.optional; }));
    }
    std::optional<std::size_t> mostArguments() const {
        if (std::any_of(arguments.begin(), arguments.end(),
                        [](const Argument& a) { return a.repeats; }))
            return std::nullopt;
        return arguments.size();
    }
};

// A command as it was called: which alternative of its last word, the
// arguments and options.
struct Call {
    const Command& command;
    std::string word;
    Parsed parsed;

    bool has(const std::string& option) const { return parsed.given.count(option) > 0; }
    std::string value(const std::string& option) const {
        const auto v = parsed.given.find(option);
        return v == parsed.given.end() ? std::string() : v->second;
    }
    const std::string& argument(std::size_t i) const { return parsed.arguments.at(i); }
    std::string optionalArgument(std::size_t i) const {
        return i < parsed.arguments.size() ? parsed.arguments[i] : std::string();
    }
};

// What reading a command line against the commands found, when it found no
// command to run.
struct CommandComplaint {
    enum Kind {
        NoCommand,      // no words at all
        UnknownCommand, // `given` names no command
        WordMissing,    // `given` is a family; `choices` are its second words
        Option,         // `option` says what; `command` whose
        ArgumentMissing // `command` lacks `missing`
    } kind;
    std::string given;
    std::vector<std::string> choices = {};
    const Command* command = nullptr;
    std::optional<Complaint> option = std::nullopt;
    const Argument* missing = nullptr;
};

struct CommandLine {
    std::optional<Call> call;
    std::optional<CommandComplaint> complaint;
};

inline const Option* findOption(const std::vector<Option>& table, const std::string& name) {
    for (const Option& o : table)
        if (o.names.front() == name)
            return &o;
    return nullptr;
}

// Finds the command the first words name, reads the rest against its
// options, and holds it to its argument counts.
inline CommandLine readCommandLine(const std::vector<std::string>& args,
                                   const std::vector<Command>& commands,
                                   const std::vector<Option>& options) {
    CommandLine line;
    if (args.empty()) {
        line.complaint = CommandComplaint{CommandComplaint::NoCommand, {}};
        return line;
    }
    std::vector<std::string> family;
    for (const Command& c : commands) {
        const std::size_t n = c.wordCount();
        if (c.family() == args[0] && n > 1) {
            for (const std::string& w : c.lastWords())
                family.push_back(w);
        }
        if (args.size() < n)
            continue;
        std::string fixed;
        for (std::size_t i = 0; i + 1 < n; ++i)
            fixed += args[i] + ' ';
        const std::vector<std::string> last = c.lastWords();
        if (c.words.compare(0, fixed.size(), fixed) != 0 ||
            c.words.find(' ', fixed.size()) != std::string::npos ||
            std::find(last.begin(), last.end(), args[n - 1]) == last.end())
            continue;
        std::vector<Option> table;
        for (const std::string& name : c.options)
            if (const Option* o = findOption(options, name))
                table.push_back(*o);
        Syntax syntax;
        syntax.mostArguments = c.mostArguments();
        Parsed parsed = parse(args, n, table, syntax);
        if (parsed.complaint) {
            line.complaint =
                CommandComplaint{CommandComplaint::Option, args[0], {}, &c, parsed.complaint};
            return line;
        }
        const std::size_t given = parsed.arguments.size();
        if (given < c.leastArguments()) {
            // The first argument not given that must be: the optional ones
            // before it were taken by the ones that were.
            std::size_t required = 0;
            for (const Argument& a : c.arguments) {
                if (a.optional)
                    continue;
                if (required++ == given) {
                    line.complaint = CommandComplaint{
                        CommandComplaint::ArgumentMissing, args[0], {}, &c, std::nullopt, &a};
                    return line;
                }
            }
        }
        line.call.emplace(Call{c, args[n - 1], std::move(parsed)});
        return line;
    }
    line.complaint = CommandComplaint{family.empty() ? CommandComplaint::UnknownCommand
                                                     : CommandComplaint::WordMissing,
                                      args[0], family};
    return line;
}

// The width of a UTF-8 text in characters.
inline std::size_t textWidth(const std::string& s) {
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The usage lines: "  PROGRAM WORDS [--option VALUE] ARGUMENT...", wrapped
// at `width` with the rest indented under the words.
inline std::string usageLines(const std::string& program, const std::vector<Command>& commands,
                              const std::vector<Option>& options, std::size_t width = 80) {
    const std::string lead = "  " + program + " ";
    const std::string indent(lead.size(), ' ');
    auto optionUnit = [](const Option& o) {
        std::string u = "[" + o.names.front();
        if (o.valueName)
            u += std::string(" ") + o.valueName;
        return u + (o.repeats ? "]..." : "]");
    };
    auto argumentUnit = [](const Argument& a) {
        std::string u = a.optional ? "[" + std::string(a.name) + "]" : std::string(a.name);
        return a.repeats ? u + "..." : u;
    };
    std::string out;
    for (const Command& c : commands) {
        std::vector<std::vector<std::string>> forms;
        if (!c.usage.empty()) {
            for (const std::string& u : c.usage)
                forms.push_back({c.words, u});
        } else {
            std::vector<std::string> units = {c.words};
            for (std::size_t i = 0; i < c.arguments.size() && i < c.optionsAfter; ++i)
                units.push_back(argumentUnit(c.arguments[i]));
            for (const std::string& name : c.options)
                if (const Option* o = findOption(options, name); o && o->inUsage)
                    units.push_back(optionUnit(*o));
            for (std::size_t i = c.optionsAfter; i < c.arguments.size(); ++i)
                units.push_back(argumentUnit(c.arguments[i]));
            forms.push_back(units);
        }
        for (const auto& units : forms) {
            std::string row = lead + units.front();
            for (std::size_t i = 1; i < units.size(); ++i) {
                if (textWidth(row) + 1 + textWidth(units[i]) > width) {
                    out += row + '\n';
                    row = indent + units[i];
                } else {
                    row += ' ' + units[i];
                }
            }
            out += row + '\n';
        }
    }
    return out;
}

// The descriptions: each family of commands, and after it the options
// described after it, as "  NAME       line" with the following lines under
// the first; a name too long for its column stands on a line of its own.
inline std::string descriptions(const std::vector<Command>& commands,
                                const std::vector<Option>& options) {
    constexpr std::size_t column = 13;
    std::string out;
    auto entry = [&out](const std::string& label, const std::string& text) {
        std::string row = "  " + label;
        if (textWidth(row) + 1 > column) {
            out += row + '\n';
            row.clear();
        }
        row.resize(column, ' ');
        for (std::size_t at = 0;;) {
            const auto end = text.find('\n', at);
            out += row + text.substr(at, end - at) + '\n';
            if (end == std::string::npos)
                return;
            row.assign(column, ' ');
            at = end + 1;
        }
    };
    for (const Command& c : commands) {
        if (c.help.empty())
            continue;
        entry(c.family(), c.help);
        for (const Option& o : options)
            if (!o.help.empty() && o.describedAfter && c.words == o.describedAfter)
                entry(o.names.front() + (o.valueName ? std::string(" ") + o.valueName : ""),
                      o.help);
    }
    return out;
}

} // namespace trellikon::options
