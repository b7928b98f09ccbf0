// The typing rules that the editors and the encoder share.
#include "entry_rules.h"

#include <QTest>

using namespace trellikon::rules;

class TestEntryRules : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void numberRules_data();
    void numberRules();
    void characterRule_data();
    void characterRule();
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

QTEST_APPLESS_MAIN(TestEntryRules)
#include "test_entry_rules.moc"
