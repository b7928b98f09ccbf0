// The typing rules that the editors and the encoder share, and the editor
// model that gives their consequences in other fields.
#include "edit_session.h"
#include "editor_model.h"
#include "entry_messages.h"
#include "entry_rules.h"

#include <QTest>

using namespace trellikon::rules;
namespace editor = trellikon::editor;
namespace messages = trellikon::messages;
using editor::Field;

Q_DECLARE_METATYPE(editor::Field)

class TestEntryRules : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void numberRules_data();
    void numberRules();
    void characterRule_data();
    void characterRule();
    void verdicts_data();
    void verdicts();
    void consequences_data();
    void consequences();
    void callers_data();
    void callers();
    void masks();
    void editSession();
};

void TestEntryRules::numberRules_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("digits");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("isUnsigned");
    QTest::newRow("a telephone number is beyond 32 bits")
        << QByteArray("48601000310") << true << false << 0 << false;
    QTest::newRow("leading zeros are digits")
        << QByteArray("0000010") << true << true << 10 << true;
    QTest::newRow("empty is nothing") << QByteArray("") << false << false << 0 << false;
    QTest::newRow("a plus sign is not a digit")
        << QByteArray("+48601") << false << true << 48601 << false;
    QTest::newRow("minus one is whole") << QByteArray("-1") << false << true << -1 << false;
    QTest::newRow("a sign alone is nothing") << QByteArray("-") << false << false << 0 << false;
    QTest::newRow("an exponent is nothing") << QByteArray("1e5") << false << false << 0 << false;
    QTest::newRow("a decimal point is nothing")
        << QByteArray("1.5") << false << false << 0 << false;
    QTest::newRow("a blank inside") << QByteArray("48 601") << false << false << 0 << false;
    QTest::newRow("a trailing blank") << QByteArray("12 ") << false << false << 0 << false;
    QTest::newRow("hexadecimal") << QByteArray("0x1F") << false << false << 0 << false;
    QTest::newRow("largest 32-bit")
        << QByteArray("2147483647") << true << true << 2147483647 << true;
    QTest::newRow("one above 32 bits") << QByteArray("2147483648") << true << false << 0 << false;
    QTest::newRow("smallest 32-bit")
        << QByteArray("-2147483648") << false << true << int(-2147483648LL) << false;
    QTest::newRow("twenty digits")
        << QByteArray("99999999999999999999") << true << false << 0 << false;
    QTest::newRow("a Polish letter") << QByteArray("1\xB9") << false << false << 0 << false;
}

void TestEntryRules::numberRules() {
    // Digits only is what a stored telephone number can hold; a whole number
    // is a sign and digits within 32 bits; a digits field takes no sign.
    QFETCH(QByteArray, text);
    QFETCH(bool, digits);
    QFETCH(bool, whole);
    QFETCH(int, value);
    QFETCH(bool, isUnsigned);
    const std::string_view t(text.constData(), std::size_t(text.size()));
    QCOMPARE(digitsOnly(t), digits);
    QCOMPARE(wholeNumber(t).has_value(), whole);
    if (whole)
        QCOMPARE(*wholeNumber(t), value);
    QCOMPARE(unsignedNumber(t).has_value(), isUnsigned);
}

void TestEntryRules::characterRule_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("first"); // -1: the text may stand
    QTest::newRow("plain ASCII") << QByteArray("Zanik zasilania") << -1;
    QTest::newRow("braces stand") << QByteArray("{a}") << -1;
    QTest::newRow("tilde is refused") << QByteArray("ab~") << 2;
    QTest::newRow("DEL is refused") << QByteArray("\x7F") << 0;
    QTest::newRow("a Polish letter") << QByteArray("Pow\xF3t") << 3; // ó
    QTest::newRow("the first offender counts") << QByteArray("a\x9C~") << 1;
    QTest::newRow("empty") << QByteArray("") << -1;
}

void TestEntryRules::characterRule() {
    // A message text may hold characters up to '}' only.
    QFETCH(QByteArray, text);
    QFETCH(int, first);
    const auto found =
        firstForbiddenCharacter(std::string_view(text.constData(), std::size_t(text.size())));
    QCOMPARE(found.has_value() ? int(*found) : -1, first);
}

namespace {

// The verdict of rule `rule` for `text`; `n` is the rule's other argument
// (the user, the text slot, whether the output is timed or the report ticked).
EntryVerdict judge(const QByteArray& rule, std::string_view text, int n) {
    if (rule == "centre")
        return smsCentreEntry(text);
    if (rule == "user")
        return userNumberEntry(n, text);
    if (rule == "seconds")
        return outputSecondsRange(1, text, n == 1).refused() ? outputSecondsRange(1, text, n == 1)
                                                             : outputSecondsForm(1, text);
    if (rule == "limit")
        return dailyLimitEntry(text);
    if (rule == "code")
        return queryCodeEntry(text);
    if (rule == "report")
        return reportOptionEntry(n == 1, text);
    if (rule == "count")
        return smsCountEntry(text);
    if (rule == "days")
        return daysEntry(text);
    if (rule == "text")
        return textEntry(n, text, true);
    if (rule == "index")
        return testIndexEntry(text);
    return {};
}

} // namespace

void TestEntryRules::verdicts_data() {
    QTest::addColumn<QByteArray>("rule");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("n");
    QTest::addColumn<QByteArray>("message"); // empty: the entry stands
    QTest::addColumn<QByteArray>("putBack"); // "-": the text stays
    auto row = [](const char* name, const char* rule, const QByteArray& text, int n,
                  const char* message, const char* putBack) {
        QTest::newRow(name) << QByteArray(rule) << text << n << QByteArray(message ? message : "")
                            << QByteArray(putBack);
    };
    const char* none = nullptr;
    row("centre of 17 digits stands", "centre", "48501200777123456", 0, none, "-");
    row("centre of 18 digits is cleared", "centre", "485012007771234567", 0,
        messages::kCentreTooLong, "");
    row("an empty centre stands", "centre", "", 0, none, "-");
    row("a blank in the centre is cleared", "centre", "48 5", 0, messages::kDigitsOnly, "");
    row("user 2 has its own blanks", "user", "1e5", 2, messages::kDigitsOnlyUser2, "");
    row("user 4 of 18 digits", "user", "485012007771234567", 4, messages::kUserTooLong[3], "");
    row("user 5 does not exist", "user", "x", 5, none, "-");
    row("1 s timed stands", "seconds", "1", 1, none, "-");
    row("999 s timed stands", "seconds", "999", 1, none, "-");
    row("1000 s timed gives 30", "seconds", "1000", 1, messages::kOutputRange[0], "30");
    row("0 s untimed waits", "seconds", "0", 0, none, "-");
    row("-5 s timed gives 30", "seconds", "-5", 1, messages::kOutputRange[0], "30");
    row("a letter untimed still gives 30", "seconds", "x", 0, messages::kOutputRange[0], "30");
    row("an emptied time stands", "seconds", "", 1, none, "-");
    row("limit 1 stands", "limit", "1", 0, none, "-");
    row("limit 0 gives 20", "limit", "0", 0, messages::kLimitStartsWithZero, "20");
    row("limit 01 is a number", "limit", "01", 0, none, "-");
    row("limit 10000 gives 20", "limit", "10000", 0, messages::kLimitRange, "20");
    row("an emptied limit stands", "limit", "", 0, none, "-");
    row("code of 20 stands", "code", QByteArray(20, '*'), 0, none, "-");
    row("code of 21 is cleared", "code", QByteArray(21, '*'), 0, messages::kCodeTooLong, "");
    row("a report without a code", "report", "", 1, messages::kCodeFirst, "-");
    row("a report with a code", "report", "*100#", 1, none, "-");
    row("a report switched off without a code", "report", "", 0, none, "-");
    row("count 0 is warned about", "count", "0", 0, messages::kCountAtLeast10, "-");
    row("count 9 waits for the encoder", "count", "9", 0, none, "-");
    row("count 9999 stands", "count", "9999", 0, none, "-");
    row("count 10000 gives 10", "count", "10000", 0, messages::kCountAtMost9999, "10");
    row("count -1 waits for the encoder", "count", "-1", 0, none, "-");
    row("count +1 of five characters", "count", "+0001", 0, messages::kCountAtMost9999, "10");
    row("1 day stands", "days", "1", 0, none, "-");
    row("0 days give 1", "days", "0", 0, messages::kDaysRange, "1");
    row("999 days stand", "days", "999", 0, none, "-");
    row("a sign is no number of days", "days", "+5", 0, messages::kDaysNotNumber, "1");
    row("header of 51 characters", "text", QByteArray(51, 'a'), 0, messages::kTextTooLong[0], "-");
    row("alarm of 100 characters", "text", QByteArray(100, 'a'), 1, none, "-");
    row("alarm of 101 characters", "text", QByteArray(101, 'a'), 1, messages::kTextTooLong[1], "-");
    row("a tilde in the test text", "text", "~", 14, messages::kTextForbidden[14], "-");
    row("slot 15 does not exist", "text", "~", 15, none, "-");
    row("index 1 stands", "index", "1", 0, none, "-");
    row("index 0 is cleared", "index", "0", 0, messages::kIndexRange, "");
    row("index +4 is whole", "index", "+4", 0, none, "-");
    row("index x is cleared", "index", "x", 0, messages::kIndexRange, "");
}

void TestEntryRules::verdicts() {
    // Each rule takes an entry, or refuses it with its words and, where the
    // box gets a replacement, that replacement.
    QFETCH(QByteArray, rule);
    QFETCH(QByteArray, text);
    QFETCH(int, n);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, putBack);
    const EntryVerdict v =
        judge(rule, std::string_view(text.constData(), std::size_t(text.size())), n);
    QCOMPARE(QByteArray(v.refused() ? v.message : ""), message);
    QCOMPARE(v.put_back ? QByteArray::fromStdString(*v.put_back) : QByteArray("-"), putBack);
}

namespace {

// A snapshot as a fresh device shows it: no output switched, a query code,
// users 1 and 2, the test message to user 1, every text empty.
trellikon::EditorSnapshot fresh() {
    trellikon::EditorSnapshot s;
    s.output1_permanent_index = s.output2_permanent_index = editor::kItemOff;
    s.output1_auto_index = s.output2_auto_index = editor::kItemOff;
    s.balance_query_code = "*100#";
    s.balance_by_count = s.balance_by_time = true;
    s.user_number = {"48600000001", "48600000002", "", ""};
    s.test_message_on = true;
    s.test_message_user = "1";
    return s;
}

// The changes as one line each: "field=text", "field:on", "field:editable".
QStringList describe(const std::vector<editor::Change>& changes) {
    QStringList lines;
    for (const editor::Change& c : changes) {
        const QString f = QString::number(int(c.field));
        if (c.text)
            lines << f + "=" + QString::fromStdString(*c.text);
        if (c.on)
            lines << f + (*c.on ? ":on" : ":off");
        if (c.editable)
            lines << f + (*c.editable ? ":editable" : ":grey");
    }
    return lines;
}

QString f(Field field) {
    return QString::number(int(field));
}

} // namespace

void TestEntryRules::consequences_data() {
    QTest::addColumn<QString>("start"); // a change to the fresh snapshot first
    QTest::addColumn<Field>("field");
    QTest::addColumn<QString>("value"); // "on" / "off" for a choice
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QString>("after"); // what the snapshot then says, in short
    const QString timed1 = f(Field::Output1Timed), perm1 = f(Field::Output1Permanent),
                  sec1 = f(Field::Output1Seconds);
    QTest::newRow("timed output on offers 30 s and drops the permanent one")
        << "perm1" << Field::Output1Timed << "on"
        << QStringList{perm1 + ":off", sec1 + ":editable", sec1 + "=30"} << "timed1 30";
    QTest::newRow("permanent output on drops the timed one")
        << "timed1" << Field::Output1Permanent << "on"
        << QStringList{timed1 + ":off", sec1 + ":grey"} << "perm1";
    QTest::newRow("permanent output off frees the time")
        << "" << Field::Output1Permanent << "off" << QStringList{sec1 + ":editable"} << "";
    QTest::newRow("CLIP on an untimed output sets 3 s")
        << "perm1" << Field::ClipOutput1 << "on"
        << QStringList{timed1 + ":on", sec1 + "=3", sec1 + ":editable"} << "timed1 3";
    QTest::newRow("CLIP on a timed output keeps its time")
        << "timed1" << Field::ClipOutput1 << "on" << QStringList{} << "timed1 7";
    QTest::newRow("CLIP off changes nothing")
        << "" << Field::ClipOutput2 << "off" << QStringList{} << "";
    QTest::newRow("an empty code switches both reports off")
        << "" << Field::QueryCode << ""
        << QStringList{f(Field::ReportByCount) + ":off", f(Field::SmsCount) + ":grey",
                       f(Field::ReportByTime) + ":off", f(Field::Days) + ":grey"}
        << "no reports";
    QTest::newRow("a refused code only gives way to its replacement")
        << "" << Field::QueryCode << QString(21, '*') << QStringList{} << "no reports";
    QTest::newRow("a report ticked without a code is taken back")
        << "no code" << Field::ReportByCount << "on" << QStringList{} << "no reports";
    QTest::newRow("emptying the test message's user switches it off")
        << "" << Field::User1 << ""
        << QStringList{f(Field::TestMessageOn) + ":off", f(Field::TestMessageUser) + "=",
                       f(Field::TestMessageUser) + ":grey"}
        << "no test";
    QTest::newRow("emptying another user keeps the test message")
        << "" << Field::User2 << "" << QStringList{} << "";
    QTest::newRow("the test message ticked frees its index")
        << "" << Field::TestMessageOn << "on"
        << QStringList{f(Field::TestMessageUser) + ":editable"} << "";
    QTest::newRow("the test message to a user without a number")
        << "" << Field::TestMessageUser << "3" << QStringList{} << "";
    QTest::newRow("a centre typed under another operator empties the code")
        << "other operator" << Field::SmsCentre << "48123456789"
        << QStringList{f(Field::QueryCode) + "="} << "no reports";
    QTest::newRow("a known operator's centre keeps the code")
        << "orange" << Field::SmsCentre << "48501200777" << QStringList{} << "";
}

void TestEntryRules::consequences() {
    // A value applied to a field gives every change it causes elsewhere, and
    // the snapshot takes them all, consequences of consequences included.
    QFETCH(QString, start);
    QFETCH(Field, field);
    QFETCH(QString, value);
    QFETCH(QStringList, changes);
    QFETCH(QString, after);
    trellikon::EditorSnapshot s = fresh();
    if (start == "perm1")
        s.output1_permanent_index = editor::kItemOn;
    if (start == "timed1") {
        s.output1_auto_index = editor::kItemOn;
        s.output1_auto_seconds = "7";
    }
    if (start == "no code")
        s.balance_query_code.clear();
    if (start == "no code")
        s.balance_by_count = s.balance_by_time = false;
    if (start == "other operator")
        s.sms_operator_index = editor::kOtherOperator;
    if (start == "orange")
        s.sms_operator_index = editor::kOrange;
    const editor::Outcome out = editor::isChoice(field)
                                    ? editor::apply(s, field, value == "on")
                                    : editor::apply(s, field, value.toStdString());
    QCOMPARE(describe(out.changes), changes);
    QString now;
    if (s.output1_auto_index == editor::kItemOn)
        now = "timed1 " + QString::fromStdString(s.output1_auto_seconds);
    else if (s.output1_permanent_index == editor::kItemOn)
        now = "perm1";
    if (!s.balance_by_count && !s.balance_by_time)
        now = "no reports";
    if (!s.test_message_on)
        now = "no test";
    QCOMPARE(now, after);
    // Only the emptied user of the test message has words of its own.
    QCOMPARE(out.notice != nullptr, after == "no test");
    if (field == Field::TestMessageUser)
        QCOMPARE(QByteArray(out.verdict.message), QByteArray(messages::kDefineUserFirst[2]));
}

void TestEntryRules::callers_data() {
    QTest::addColumn<QStringList>("steps"); // "+number" adds, "-number" removes
    QTest::addColumn<QStringList>("said");  // message and position
    const QString a = "48600000001", b = "48600000002";
    QTest::newRow("lowest free position")
        << QStringList{"+" + a, "+" + b, "-" + a, "+" + b, "+" + a}
        << QStringList{QString(messages::kAddedAt) + "1", QString(messages::kAddedAt) + "2",
                       QString(messages::kRemovedFrom) + "1", messages::kAlreadyListed,
                       QString(messages::kAddedAt) + "1"};
    QTest::newRow("ten digits are not a caller")
        << QStringList{"+4860000000"} << QStringList{messages::kNotElevenDigits};
    QTest::newRow("an empty number is never found")
        << QStringList{"-", "-" + a} << QStringList{messages::kNotListed, messages::kNotListed};
}

void TestEntryRules::callers() {
    // Callers go to the lowest free position, once each; removing frees it.
    QFETCH(QStringList, steps);
    QFETCH(QStringList, said);
    trellikon::SubscriberTable table;
    QStringList got;
    for (const QString& step : steps) {
        const std::string number = step.mid(1).toStdString();
        const editor::CallerEdit e = step.startsWith('+') ? editor::addCaller(table, number)
                                                          : editor::removeCaller(table, number);
        got << QString::fromUtf8(e.message) + (e.position ? QString::number(e.position) : "");
    }
    QCOMPARE(got, said);
}

void TestEntryRules::masks() {
    // User 1 and input 1 are the highest used bits; a mask survives its boxes.
    QCOMPARE(editor::userMask({true, false, false, false}), std::uint8_t(0x08));
    QCOMPARE(editor::inputMask({true, false, false, false, false, false, false, true}),
             std::uint8_t(0x81));
    for (int m = 0; m < 256; ++m) {
        const auto mask = std::uint8_t(m);
        QCOMPARE(editor::inputMask(editor::inputBoxes(mask)), mask);
        QCOMPARE(editor::userMask(editor::userBoxes(mask)), std::uint8_t(mask & 0x0F));
    }
    // A typed caller is judged while it is typed: digits only, at most eleven.
    QVERIFY(!editor::callerTypingRefusal(""));
    QVERIFY(!editor::callerTypingRefusal("486"));
    QCOMPARE(editor::callerTypingRefusal("486000000012"), messages::kTypedNotNumber);
    QCOMPARE(editor::callerTypingRefusal("48-"), messages::kTypedNotNumber);
}

void TestEntryRules::editSession() {
    // The editors' one owner: a caller allowed on an untimed output reaches
    // the views and the stored settings at once; a refused entry's replacement
    // waits for the window to enter it, with its own notice.
    trellikon::DeviceSettings settings;
    settings.decoded.user_number = {"48600000001", "", "", ""};
    settings.decoded.test_message_on = true;
    settings.decoded.test_message_user = "1";
    trellikon::EditSession session(settings);
    session.open();
    QStringList shown;
    session.addView([&](const std::vector<editor::Change>& c) { shown << describe(c); });
    QVERIFY(session.allowCaller(2));
    const QString timed2 = f(Field::Output2Timed), sec2 = f(Field::Output2Seconds);
    QCOMPARE(shown, (QStringList{timed2 + ":on", sec2 + "=3", sec2 + ":editable"}));
    QVERIFY(settings.decoded.output2_auto_on);
    QCOMPARE(settings.decoded.output2_auto_seconds, std::string("3"));
    QVERIFY(!session.allowCaller(2));

    const auto refused = session.enter(Field::User1, std::string(18, '4'));
    QVERIFY(refused.verdict.refused() && refused.verdict.put_back == std::string());
    QVERIFY(session.shown().test_message_on);
    QVERIFY(session.enter(Field::User1, std::string()).notice != nullptr);
    QVERIFY(!session.shown().test_message_on);
}

QTEST_APPLESS_MAIN(TestEntryRules)
#include "test_entry_rules.moc"
