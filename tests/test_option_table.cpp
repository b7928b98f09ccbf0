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

QTEST_MAIN(TestOptionTable)
#include "test_option_table.moc"
