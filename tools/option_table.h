#pragma once
// The options of the command-line programs (trellikon-cli, trellikon-sim, the
// link benchmark), declared as tables and read by one parser. A program lists
// its options (names, whether a value follows, what the value does) and the
// syntax it has always accepted; the parser reads the arguments in order and
// stops at the first complaint, which the program words in its own language.

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

} // namespace trellikon::options
