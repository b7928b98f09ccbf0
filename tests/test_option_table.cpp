// The command-line programs' one option parser: each syntax switch, and the
// first complaint in the order the arguments were given.
#include "option_table.h"

#include <QTest>

using namespace trellikon::options;

namespace {

std::vector<std::string> words(const char* line) {
    std::vector<std::string> out;
    for (const QString& w : QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        out.push_back(w == QLatin1String("''") ? std::string() : w.toStdString());
    return out;
}

// What the parser made of a line: the arguments, the options with their
// values, or the complaint, as one line of text.
QString outcome(const Parsed& p) {
    if (p.complaint) {
        static const char* const kinds[] = {"unknown", "missing", "bad", "extra"};
        return QStringLiteral("%1 %2 (%3)%4")
            .arg(QString::fromLatin1(kinds[p.complaint->kind]),
                 QString::fromStdString(p.complaint->argument),
                 QString::fromStdString(p.complaint->name),
                 p.complaint->reason.empty()
                     ? QString()
                     : QStringLiteral(": ") + QString::fromStdString(p.complaint->reason));
    }
    QStringList parts;
    for (const auto& a : p.arguments)
        parts << QStringLiteral("[%1]").arg(QString::fromStdString(a));
    for (const auto& [name, value] : p.given)
        parts << QStringLiteral("%1=%2").arg(QString::fromStdString(name),
                                             QString::fromStdString(value));
    if (p.endedBy)
        parts << QStringLiteral("ended");
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestOptionTable : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void parse_data();
    void parse();
    void commandLine_data();
    void commandLine();
    void usageLines();
};

void TestOptionTable::parse_data() {
    // Rows: the syntax, the arguments, what the parser makes of them.
    QTest::addColumn<QString>("syntax");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    auto row = [](const char* name, const char* syntax, const char* line, const char* expected) {
        QTest::newRow(name) << QString::fromLatin1(syntax) << QString::fromLatin1(line)
                            << QString::fromLatin1(expected);
    };
    row("flags and arguments mix", "cli", "a --fast b", "[a] [b] --fast=");
    row("value follows its option", "cli", "--output o a", "[a] --output=o");
    row("value after an equals sign", "cli", "--output=o a", "[a] --output=o");
    row("empty value after an equals sign", "cli", "--output= a", "[a] --output=");
    row("an option's value may look like an option", "cli", "--output --fast", "--output=--fast");
    row("last option without its value", "cli", "a --output", "missing --output (--output)");
    row("flag given a value is unknown", "cli", "--fast=1", "unknown --fast=1 (--fast)");
    row("unknown option named whole", "cli", "--nope=1", "unknown --nope=1 (--nope)");
    row("double dash ends the options", "cli", "-- --fast -x", "[--fast] [-x]");
    row("a lone dash is an argument", "cli", "-", "[-]");
    row("one argument too many", "cli2", "a b c --nope", "extra c (c)");
    row("first complaint wins", "cli2", "--nope a b c", "unknown --nope (--nope)");
    row("flag ignores a value where allowed", "sim", "--fast=1", "--fast=");
    row("bare word is an unknown option", "sim", "word", "unknown word (word)");
    row("double dash is an unknown option", "sim", "--", "unknown -- (--)");
    row("refused value", "sim", "--count=x", "bad --count=x (--count): not a count");
    row("help ends before a later complaint", "sim", "-h --nope", "--help= ended");
    row("complaint before help", "sim", "--nope -h", "unknown --nope (--nope)");
    row("no equals sign where not allowed", "bench", "--count=5", "unknown --count=5 (--count=5)");
    row("count taken", "bench", "--count 5", "--count=5");
}

void TestOptionTable::parse() {
    QFETCH(QString, syntax);
    QFETCH(QString, line);
    QFETCH(QString, expected);
    const std::vector<Option> table = {
        {{"--help", "-h"}, false, {}, true},
        {{"--fast"}},
        {{"--output"}, true},
        {{"--count"},
         true,
         [](const std::string& v) -> std::optional<std::string> {
             if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos)
                 return "not a count";
             return std::nullopt;
         }},
    };
    Syntax s;
    if (syntax == QLatin1String("cli2")) {
        s.mostArguments = 2;
    } else if (syntax != QLatin1String("cli")) {
        s.doubleDashEndsOptions = false;
        s.takesArguments = false;
        s.flagsIgnoreInlineValues = syntax == QLatin1String("sim");
        s.inlineValues = syntax == QLatin1String("sim");
    }
    const std::string text = line.toStdString();
    QCOMPARE(outcome(trellikon::options::parse(words(text.c_str()), 0, table, s)), expected);
}

namespace {

// A small program: a family with alternatives, a repeated argument, an
// optional one, an option with a value.
const std::vector<Option>& sampleOptions() {
    static const std::vector<Option> table = [] {
        Option out;
        out.names = {"--out"};
        out.takesValue = true;
        out.valueName = "WYNIK";
        Option fast;
        fast.names = {"--fast"};
        return std::vector<Option>{out, fast};
    }();
    return table;
}

const std::vector<Command>& sampleCommands() {
    static const std::vector<Command> table = {
        {"show", {Argument{"PLIK"}}, {"--fast"}},
        {"list add|remove", {Argument{"PLIK"}, Argument{"NUMER", false, true}}, {"--out"}, 1},
        {"list export", {Argument{"PLIK"}, Argument{"WYNIK", true}}},
        {"set", {Argument{"PLIK"}, Argument{"K=W", false, true, "settings K=W"}}},
    };
    return table;
}

} // namespace

void TestOptionTable::commandLine_data() {
    // Rows: the words, then the command found with its alternative and
    // arguments, or the complaint.
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    auto row = [](const char* name, const char* line, const char* expected) {
        QTest::newRow(name) << QString::fromLatin1(line) << QString::fromLatin1(expected);
    };
    row("nothing", "", "no command");
    row("a command", "show a", "show: [a]");
    row("an alternative of the last word", "list remove f 1 2",
        "list add|remove remove: [f] [1] [2]");
    row("option between arguments", "list add f --out o 1", "list add|remove add: [f] [1] --out=o");
    row("family without its word", "list", "word of list: add remove export");
    row("family with a wrong word", "list sort f", "word of list: add remove export");
    row("unknown command", "sort", "unknown sort");
    row("optional argument left out", "list export f", "list export export: [f]");
    row("one argument too many", "list export f o x", "option of list export: extra x");
    row("first argument missing", "list add", "list add|remove lacks argumentu PLIK");
    row("repeated argument missing", "list add f", "list add|remove lacks argumentu NUMER");
    row("a lack worded otherwise", "set f", "set lacks settings K=W");
    row("option of another command", "show --out o a", "option of show: unknown --out");
}

void TestOptionTable::commandLine() {
    QFETCH(QString, line);
    QFETCH(QString, expected);
    const CommandLine read =
        readCommandLine(words(line.toStdString().c_str()), sampleCommands(), sampleOptions());
    QString got;
    if (read.complaint) {
        const CommandComplaint& c = *read.complaint;
        switch (c.kind) {
        case CommandComplaint::NoCommand:
            got = QStringLiteral("no command");
            break;
        case CommandComplaint::UnknownCommand:
            got = QStringLiteral("unknown ") + QString::fromStdString(c.given);
            break;
        case CommandComplaint::WordMissing: {
            QStringList choices;
            for (const std::string& w : c.choices)
                choices << QString::fromStdString(w);
            got = QStringLiteral("word of %1: %2")
                      .arg(QString::fromStdString(c.given), choices.join(QLatin1Char(' ')));
            break;
        }
        case CommandComplaint::Option:
            got = QStringLiteral("option of %1: %2 %3")
                      .arg(QString::fromStdString(c.command->words),
                           c.option->kind == Complaint::ExtraArgument ? QStringLiteral("extra")
                                                                      : QStringLiteral("unknown"),
                           QString::fromStdString(c.option->argument));
            break;
        case CommandComplaint::ArgumentMissing:
            got = QStringLiteral("%1 lacks %2")
                      .arg(QString::fromStdString(c.command->words),
                           QString::fromStdString(c.missing->lack()));
            break;
        }
    } else {
        QVERIFY(read.call);
        const Call& call = *read.call;
        got = QString::fromStdString(call.command.words);
        if (call.word != call.command.words)
            got += QLatin1Char(' ') + QString::fromStdString(call.word);
        got += QStringLiteral(": ") + outcome(call.parsed);
    }
    QCOMPARE(got, expected);
}

void TestOptionTable::usageLines() {
    // The usage lines come from the rows: options where the row puts them,
    // brackets for the optional, dots for the repeated, and a line too long
    // broken between whole units, never inside "[--out WYNIK]".
    QCOMPARE(QString::fromStdString(
                 trellikon::options::usageLines("p", sampleCommands(), sampleOptions())),
             QStringLiteral("  p show [--fast] PLIK\n"
                            "  p list add|remove PLIK [--out WYNIK] NUMER...\n"
                            "  p list export PLIK [WYNIK]\n"
                            "  p set PLIK K=W...\n"));
    QCOMPARE(QString::fromStdString(
                 trellikon::options::usageLines("program", sampleCommands(), sampleOptions(), 30))
                 .section(QLatin1Char('\n'), 1, 3),
             QStringLiteral("  program list add|remove PLIK\n"
                            "          [--out WYNIK]\n"
                            "          NUMER..."));
}

QTEST_MAIN(TestOptionTable)
#include "test_option_table.moc"
