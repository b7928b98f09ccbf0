// The settings image, its field codecs, the decoders and Windows-1250.
#include "cp1250.h"
#include "device_settings.h"
#include "polish_plural.h"
#include "random_image.h"
#include "settings_image.h"
#include "system_support.h"

#include <QTest>

#include <limits>
#include <optional>
#include <random>

using namespace trellikon;
using namespace trellikon::layout;

namespace {

void putChars(SettingsImage& im, std::size_t offset, const std::string& s) {
    for (std::size_t i = 0; i < s.size(); ++i)
        im.set(offset + i, static_cast<std::uint8_t>(s[i]));
}

// Bytes a case puts into an erased image before decoding.
struct ByteWrite {
    std::size_t offset;
    std::uint8_t value;
};
using ByteWrites = std::vector<ByteWrite>;

ByteWrites operator+(ByteWrites a, const ByteWrites& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

Q_DECLARE_METATYPE(ByteWrites)

class TestSettings : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void polishPlural_data();
    void polishPlural();
    void checkByteRule();
    void erasedImageDecodesToDefaults();
    void phoneNumbers_data();
    void phoneNumbers();
    void textSlots_data();
    void textSlots();
    void headerCutAt52Bytes_data();
    void headerCutAt52Bytes();
    void subscriberOffsets_data();
    void subscriberOffsets();
    void outOfRangeNeverTouchesTheImage();
    void parameterFields_data();
    void parameterFields();
    void subscribersDecodeAndEncode();
    void removalFreesTheSlot();
    void cp1250MatchesIconv();
    void cp1250Conversions_data();
    void cp1250Conversions();
};

void TestSettings::checkByteRule() {
    // The check is 0xAA XOR every covered byte; empty and zero bytes leave 0xAA.
    SettingsImage im;
    putChars(im, 0, "abc");
    QCOMPARE(im.checkByte(0, 3), std::uint8_t(0xCA));
    QCOMPARE(im.checkByte(0, 0), std::uint8_t(0xAA));
    im.writeText(1, "abc");
    QCOMPARE(im.at(*textSlotOffset(1) + kTextCheck), std::uint8_t(0xCA));
    im.writeText(1, "");
    QCOMPARE(im.at(*textSlotOffset(1) + kTextCheck), std::uint8_t(0xAA));
    QCOMPARE(im.checkByte(4090, 100), im.checkByte(4090, 6)); // clipped at the end
    im.writeValuePair(kClipOutput1Enabled, 1);
    QCOMPARE(im.at(320), std::uint8_t(1));
    QCOMPARE(im.at(321), std::uint8_t(0xAB));
    im.writeValuePair(kClipOutput1Enabled, 0);
    QCOMPARE(im.at(320), std::uint8_t(0));
    QCOMPARE(im.at(321), std::uint8_t(0xAA));
    // A value group written by its writer decodes: output 1 on for 300 s.
    const std::uint8_t timed[] = {1, 0x01, 0x2C};
    im.writeValueGroup(kOutput1AutoEnabled, timed);
    QCOMPARE(im.at(kOutput1AutoCheck), std::uint8_t(0xAA ^ 1 ^ 0x01 ^ 0x2C));
    QVERIFY(im.readValueGroup(kOutput1AutoEnabled, 3).valid);
    DeviceSettings s;
    s.image = im;
    s.Decode_Parameters();
    QVERIFY(s.decoded.output1_auto_on);
    QCOMPARE(s.decoded.output1_auto_seconds, std::string("300"));
}

void TestSettings::erasedImageDecodesToDefaults() {
    // An erased memory fails every check, so every field takes its fallback.
    DeviceSettings s;
    s.decodeAll();
    const DecodedSettings& d = s.decoded;
    QVERIFY(d.sms_centre_number.empty());
    for (const auto& n : d.user_number)
        QVERIFY(n.empty());
    QVERIFY(!d.output1_permanent && !d.output2_permanent);
    QCOMPARE(d.daily_sms_limit, std::string("20"));
    QVERIFY(!d.output1_auto_on && d.output1_auto_seconds.empty());
    QVERIFY(!d.output2_auto_on && d.output2_auto_seconds.empty());
    QVERIFY(!d.test_message_on && d.test_message_user.empty());
    QCOMPARE(d.sms_mask, std::uint8_t(0xFF));
    QCOMPARE(d.ring_mask, std::uint8_t(0xFF));
    QCOMPARE(d.input_mask, std::uint8_t(0xFF));
    QVERIFY(d.echo_on);
    QVERIFY(d.balance_days.empty() && !d.balance_days_valid);
    QVERIFY(d.balance_sms_count.empty() && !d.balance_sms_count_valid);
    QVERIFY(d.balance_query_code.empty());
    QVERIFY(!d.balance_info_on && !d.balance_by_count_on && !d.balance_by_time_on);
    QVERIFY(!d.clip_output1_on && !d.clip_output2_on);
    for (int k = 0; k < kTextSlotCount; ++k)
        QCOMPARE(d.texts[static_cast<std::size_t>(k)], defaultText(k));
    QCOMPARE(d.message_header(), std::string("TRELLIKON: "));
    QCOMPARE(s.Count_Subscribers(), std::uint8_t(0));
    // A new program starts from exactly these parameters, before any decode of texts.
    DeviceSettings fresh;
    QCOMPARE(fresh.decoded.daily_sms_limit, std::string("20"));
    QCOMPARE(fresh.decoded.sms_mask, std::uint8_t(0xFF));
}

void TestSettings::phoneNumbers_data() {
    QTest::addColumn<QByteArray>("field"); // 20 bytes; "C" in position 19 = put the check there
    QTest::addColumn<QByteArray>("expected");
    auto field = [](QByteArray digits, bool check) {
        QByteArray f = digits.leftJustified(20, '\0', true);
        if (check) {
            std::uint8_t x = 0xAA;
            for (char c : digits)
                x ^= static_cast<std::uint8_t>(c);
            f[19] = static_cast<char>(x);
        }
        return f;
    };
    QTest::newRow("11 digits with check")
        << field("48601234567", true) << QByteArray("48601234567");
    QByteArray changed = field("48601234567", true);
    changed[3] = '9';
    QTest::newRow("a changed digit fails the old check") << changed << QByteArray();
    QTest::newRow("2 digits is valid") << field("12", true) << QByteArray("12");
    QTest::newRow("1 digit is invalid") << field("1", true) << QByteArray();
    QTest::newRow("17 digits is valid")
        << field("12345678901234567", true) << QByteArray("12345678901234567");
    QTest::newRow("18 digits is invalid") << field("123456789012345678", true) << QByteArray();
    QTest::newRow("20 digits read unchecked")
        << QByteArray("12345678901234567890") << QByteArray("12345678901234567890");
    QTest::newRow("erased") << QByteArray(20, '\xFF') << QByteArray();
    QTest::newRow("empty") << field("", true) << QByteArray();
}

void TestSettings::phoneNumbers() {
    // A number has 2..17 digits ended by a non-digit, with its check in byte 19.
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, expected);
    for (std::size_t offset : kPhoneFields) {
        DeviceSettings s;
        putChars(s.image, offset, field.toStdString());
        s.odczytaj_uzytkownikow();
        const std::string got = offset == kSmsCentreNumber
                                    ? s.decoded.sms_centre_number
                                    : s.decoded.user_number[(offset - kUserNumber1) / 20];
        QCOMPARE(QByteArray::fromStdString(got), expected);
    }
    // The writer gives what the reader accepts: an 18-digit number fills 0..17 and fails.
    SettingsImage im;
    im.writePhoneNumber(kUserNumber2, "123456789012345678");
    QCOMPARE(im.at(kUserNumber2 + 17), std::uint8_t('8'));
    QCOMPARE(im.at(kUserNumber2 + 18), std::uint8_t(0));
    QVERIFY(!im.readPhoneNumber(kUserNumber2).valid);
    im.writePhoneNumber(kUserNumber2, "12345678901234567");
    QCOMPARE(im.readPhoneNumber(kUserNumber2).value, std::string("12345678901234567"));
}

void TestSettings::textSlots_data() {
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("length");
    QTest::newRow("header of 50") << 0 << 50;
    QTest::newRow("header of 70 is cut to 50") << 0 << 70;
    QTest::newRow("text of 100") << 3 << 100;
    QTest::newRow("text of 101 is cut to 100") << 14 << 101;
    QTest::newRow("empty text") << 7 << 0;
}

void TestSettings::textSlots() {
    // A written text always ends in a 0 byte before its check, which covers only its characters.
    QFETCH(int, slot);
    QFETCH(int, length);
    DeviceSettings s;
    std::string text;
    for (int i = 0; i < length; ++i)
        text += static_cast<char>('A' + i % 26);
    QVERIFY(s.image.writeText(slot, text));
    const std::size_t longest = slot == 0 ? kHeaderLongest : kTextLongest;
    const std::string stored = text.substr(0, longest);
    const std::size_t start = *textSlotOffset(slot);
    QCOMPARE(s.image.at(start + stored.size()), std::uint8_t(0));
    QCOMPARE(s.image.at(start + kTextCheck), s.image.checkByte(start, stored.size()));
    s.Decode_Texts();
    QCOMPARE(s.decoded.texts[static_cast<std::size_t>(slot)], stored);
    // The neighbouring slots were not touched.
    if (slot + 1 < kTextSlotCount)
        QCOMPARE(s.decoded.texts[static_cast<std::size_t>(slot + 1)], defaultText(slot + 1));
}

void TestSettings::headerCutAt52Bytes_data() {
    QTest::addColumn<bool>("checkOver52");
    QTest::addColumn<QByteArray>("expected");
    QByteArray first52;
    for (int i = 0; i < 52; ++i)
        first52 += char('A' + i % 26);
    QTest::newRow("check over the first 52 bytes") << true << first52;
    QTest::newRow("check over all 60 bytes") << false << QByteArray("TRELLIKON: ");
}

void TestSettings::headerCutAt52Bytes() {
    // The header decoder stops after 52 bytes, whatever follows them.
    QFETCH(bool, checkOver52);
    QFETCH(QByteArray, expected);
    DeviceSettings s;
    std::string sixty;
    for (int i = 0; i < 60; ++i)
        sixty += char('A' + i % 26);
    putChars(s.image, 512, sixty);
    s.image.set(572, 0);
    s.image.set(512 + kTextCheck, s.image.checkByte(512, checkOver52 ? 52 : 60));
    s.Decode_Texts();
    QCOMPARE(QByteArray::fromStdString(s.decoded.message_header()), expected);
    // The image's own reader gives the same answer as the decoder.
    const auto header = s.image.readText(messageHeaderText);
    QCOMPARE(header.valid, checkOver52);
    if (checkOver52)
        QCOMPARE(QByteArray::fromStdString(header.value), expected);
}

void TestSettings::subscriberOffsets_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("offset");
    QTest::newRow("slot 1") << 1 << 2048;
    QTest::newRow("slot 42 ends at 2551") << 42 << 2540;
    QTest::newRow("slot 43 starts at 2560") << 43 << 2560;
    QTest::newRow("slot 85") << 85 << 3072;
    QTest::newRow("slot 127") << 127 << 3584;
    QTest::newRow("slot 168 ends at 4087") << 168 << 4076;
    QTest::newRow("slot 0 does not exist") << 0 << -1;
    QTest::newRow("slot 169 does not exist") << 169 << -1;
    QTest::newRow("negative") << -5 << -1;
}

void TestSettings::subscriberOffsets() {
    // Each block holds 42 slots from its start; its last 8 bytes are unused.
    QFETCH(int, n);
    QFETCH(int, offset);
    const auto got = SettingsImage::subscriberOffset(n);
    QCOMPARE(got ? static_cast<int>(*got) : -1, offset);
}

void TestSettings::outOfRangeNeverTouchesTheImage() {
    // Bad block, slot and subscriber numbers are refused and leave every byte alone.
    SettingsImage im;
    im.setBytes(randomImage(7));
    const auto before = im.bytes();
    std::array<std::uint8_t, kBlockSize> data{};
    QVERIFY(!im.setBlock(8, data));
    QVERIFY(!im.setBlock(-1, data));
    QVERIFY(!im.setBlock(255, data));
    QVERIFY(!im.setBlock(0, std::span(data.data(), 100))); // short data
    QVERIFY(!im.block(8));
    QVERIFY(!im.writeText(15, "x"));
    QVERIFY(!im.writeText(-1, "x"));
    QVERIFY(!im.writeSubscriber(0, "12345678901"));
    QVERIFY(!im.writeSubscriber(169, "12345678901"));
    QVERIFY(!im.freeSubscriber(169));
    im.set(4096, 1);
    im.writeValuePair(4095, 7); // the pair's second byte would fall outside
    QCOMPARE(im.at(4095), std::uint8_t(7));
    im.set(4095, before[4095]);
    QCOMPARE(im.chars(4090, 100).size(), std::size_t(6));
    QVERIFY(im.bytes() == before);
    DeviceSettings s;
    s.subscribers.set(0, "1");
    s.subscribers.set(169, "1");
    QCOMPARE(s.Count_Subscribers(), std::uint8_t(0));
}

void TestSettings::parameterFields_data() {
    QTest::addColumn<ByteWrites>("bytes"); // written before decoding
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");
    // clang-format off
    constexpr std::size_t out1Low = kOutput1AutoSeconds + 1, out2Low = kOutput2AutoSeconds + 1;
    QTest::newRow("timed output 1 on, 300 s")
        << ByteWrites{{kOutput1AutoEnabled, 1}, {kOutput1AutoSeconds, 1}, {out1Low, 0x2C},
                      {kOutput1AutoCheck, 0xAA ^ 1 ^ 1 ^ 0x2C}}
        << "out1" << "1/300";
    QTest::newRow("timed output 1 off keeps its seconds")
        << ByteWrites{{kOutput1AutoEnabled, 0}, {kOutput1AutoSeconds, 1}, {out1Low, 0x2C},
                      {kOutput1AutoCheck, 0xAA ^ 1 ^ 0x2C}}
        << "out1" << "0/300";
    QTest::newRow("timed output 2 with a bad check")
        << ByteWrites{{kOutput2AutoEnabled, 1}, {kOutput2AutoSeconds, 0}, {out2Low, 5},
                      {kOutput2AutoCheck, 0}}
        << "out2" << "0/";
    const ByteWrites code = {{kBalanceQueryCode, '*'},     {kBalanceQueryCode + 1, '1'},
                             {kBalanceQueryCode + 2, '0'}, {kBalanceQueryCode + 3, '1'},
                             {kBalanceQueryCode + 4, '#'}};
    const std::uint8_t codeCheck = 0xAA ^ '*' ^ '1' ^ '0' ^ '1' ^ '#';
    QTest::newRow("query code *101#")
        << code + ByteWrites{{kBalanceQueryCodeLength, 5},
                             {kBalanceQueryCodeLength + 1, 5 ^ 0xAA},
                             {kBalanceQueryCodeCheck, codeCheck}}
        << "code" << "*101#";
    QTest::newRow("query code with a bad length pair")
        << code + ByteWrites{{kBalanceQueryCodeLength, 5}, {kBalanceQueryCodeLength + 1, 5},
                             {kBalanceQueryCodeCheck, codeCheck}}
        << "code" << "";
    QTest::newRow("query code with a bad area check")
        << code + ByteWrites{{kBalanceQueryCodeLength, 5},
                             {kBalanceQueryCodeLength + 1, 5 ^ 0xAA},
                             {kBalanceQueryCodeCheck, 0}}
        << "code" << "";
    QTest::newRow("test message to user 3")
        << ByteWrites{{kTestMessageEnabled, 1}, {kTestMessageUser, 3},
                      {kTestMessageCheck, 0xAA ^ 1 ^ 3}}
        << "test" << "1/3";
    QTest::newRow("test message to user 5 is off")
        << ByteWrites{{kTestMessageEnabled, 1}, {kTestMessageUser, 5},
                      {kTestMessageCheck, 0xAA ^ 1 ^ 5}}
        << "test" << "0/";
    QTest::newRow("test message switched off")
        << ByteWrites{{kTestMessageEnabled, 0}, {kTestMessageUser, 0}, {kTestMessageCheck, 0xAA}}
        << "test" << "0/";
    QTest::newRow("echo off") << ByteWrites{{kEchoEnabled, 0}, {kEchoEnabled + 1, 0xAA}} << "echo"
                              << "0";
    QTest::newRow("echo bad pair is on") << ByteWrites{{kEchoEnabled, 0}, {kEchoEnabled + 1, 0}}
                                         << "echo" << "1";
    QTest::newRow("sms mask 0x05") << ByteWrites{{kSmsMask, 5}, {kSmsMask + 1, 5 ^ 0xAA}}
                                   << "smsmask" << "5";
    QTest::newRow("daily limit keeps its zero bytes")
        << ByteWrites{{kDailySmsLimit, '5'},     {kDailySmsLimit + 1, 0}, {kDailySmsLimit + 2, 0},
                      {kDailySmsLimit + 3, 0}, {kDailySmsLimit + 4, 0xAA ^ '5'}}
        << "limit" << QString::fromLatin1("5\\0\\0\\0");
    QTest::newRow("permanent output 1")
        << ByteWrites{{kOutput1Permanent, 1}, {kOutput1PermanentReserved, 0},
                      {kOutput1PermanentCheck, 0xAB}}
        << "perm1" << "1";
    QTest::newRow("permanent output 1 bad check")
        << ByteWrites{{kOutput1Permanent, 1}, {kOutput1PermanentReserved, 0},
                      {kOutput1PermanentCheck, 0xAA}}
        << "perm1" << "0";
    QTest::newRow("balance count 150")
        << ByteWrites{{kBalanceSmsCount, '1'},     {kBalanceSmsCount + 1, '5'},
                      {kBalanceSmsCount + 2, '0'}, {kBalanceSmsCount + 3, 0},
                      {kBalanceSmsCount + 4, 0xAA ^ '1' ^ '5' ^ '0'}}
        << "count" << QString::fromLatin1("1/150\\0");
    QTest::newRow("unchecked balance switches")
        << ByteWrites{{kBalanceReportEnabled, 1}, {kBalanceByCountEnabled, 2},
                      {kBalanceByTimeEnabled, 1}}
        << "switches" << "101";
    // clang-format on
}

void TestSettings::parameterFields() {
    // Each single value follows its own check and fallback.
    QFETCH(ByteWrites, bytes);
    QFETCH(QString, field);
    QFETCH(QString, expected);
    DeviceSettings s;
    if (field == "code") // the writer leaves the unused part of the code area at 0
        for (std::size_t o = kBalanceQueryCode; o < kBalanceQueryCodeCheck; ++o)
            s.image.set(o, 0);
    for (const auto& [offset, value] : bytes)
        s.image.set(offset, value);
    s.Decode_Parameters();
    const DecodedSettings& d = s.decoded;
    auto shown = [](const std::string& raw) {
        QString out;
        for (char c : raw)
            out += c == 0 ? QStringLiteral("\\0") : QString(QChar::fromLatin1(c));
        return out;
    };
    QString got;
    if (field == "out1")
        got = QString("%1/%2").arg(int(d.output1_auto_on)).arg(shown(d.output1_auto_seconds));
    else if (field == "out2")
        got = QString("%1/%2").arg(int(d.output2_auto_on)).arg(shown(d.output2_auto_seconds));
    else if (field == "code")
        got = shown(d.balance_query_code);
    else if (field == "test")
        got = QString("%1/%2").arg(int(d.test_message_on)).arg(shown(d.test_message_user));
    else if (field == "echo")
        got = QString::number(int(d.echo_on));
    else if (field == "smsmask")
        got = QString::number(d.sms_mask);
    else if (field == "limit")
        got = shown(d.daily_sms_limit);
    else if (field == "perm1")
        got = QString::number(int(d.output1_permanent));
    else if (field == "count")
        got = QString("%1/%2").arg(int(d.balance_sms_count_valid)).arg(shown(d.balance_sms_count));
    else if (field == "switches")
        got = QString("%1%2%3")
                  .arg(int(d.balance_info_on))
                  .arg(int(d.balance_by_count_on))
                  .arg(int(d.balance_by_time_on));
    QCOMPARE(got, expected);
}

void TestSettings::subscribersDecodeAndEncode() {
    // Valid slots fill their entries, whatever their bytes; encoding them back changes nothing.
    for (unsigned seed : {1u, 2u, 3u}) {
        DeviceSettings s;
        s.image.setBytes(randomImage(seed));
        s.image.writeSubscriber(1, "48601234567");
        s.image.writeSubscriber(168, "ab\x01\xff"
                                     "defghij");
        s.Decode_Subscribers();
        QCOMPARE(s.subscribers.entry(1).number, std::string("48601234567"));
        QCOMPARE(s.subscribers.entry(1).slot_index, std::uint8_t(1));
        QCOMPARE(s.subscribers.entry(168).number, std::string("ab\x01\xff"
                                                              "defghij"));
        QVERIFY(s.Count_Subscribers() >= 2);
        const auto before = s.image.bytes();
        s.Encode_Subscribers();
        QVERIFY(s.image.bytes() == before);
    }
    DeviceSettings erased;
    erased.Decode_Subscribers();
    QCOMPARE(erased.Count_Subscribers(), std::uint8_t(0));
    std::string text;
    erased.image.writeSubscriber(5, std::string(11, '\0'));
    QVERIFY(erased.Decode_Subscriber(5, text)); // eleven zeros with check 0xAA is "valid"
    for (std::size_t i = 0; i < 12; ++i)
        erased.image.set(*SettingsImage::subscriberOffset(6) + i, 0);
    QVERIFY(!erased.Decode_Subscriber(6, text)); // twelve zeros: free
}

void TestSettings::removalFreesTheSlot() {
    // A removed caller leaves a free slot; an entry never filled leaves its slot alone.
    DeviceSettings s;
    s.image.setBytes(randomImage(11));
    s.image.writeSubscriber(10, "48111111111");
    s.image.writeSubscriber(20, "48222222222");
    s.Decode_Subscribers();
    QVERIFY(s.subscribers.remove(10));
    const auto before = s.image.bytes();
    s.Encode_Subscribers();
    const std::size_t at10 = *SettingsImage::subscriberOffset(10);
    for (std::size_t i = 0; i < kSubscriberSlotSize; ++i)
        QCOMPARE(s.image.at(at10 + i), std::uint8_t(0xFF));
    std::string text;
    QVERIFY(!s.Decode_Subscriber(10, text));
    QVERIFY(s.Decode_Subscriber(20, text));
    for (std::size_t o = 0; o < kImageSize; ++o)
        if (o < at10 || o >= at10 + kSubscriberSlotSize)
            QCOMPARE(s.image.at(o), before[o]);

    // Slots the table never held survive an encode of an empty table unchanged.
    DeviceSettings t;
    t.image.setBytes(randomImage(12));
    t.image.writeSubscriber(3, "48333333333");
    const auto loaded = t.image.bytes();
    t.Encode_Subscribers();
    QVERIFY(t.image.bytes() == loaded);

    // Removing and adding again at the same place writes the new number.
    s.subscribers.remove(20);
    s.subscribers.set(20, "48999999999");
    s.Encode_Subscribers();
    QVERIFY(s.Decode_Subscriber(20, text));
    QCOMPARE(text, std::string("48999999999"));
}

void TestSettings::cp1250MatchesIconv() {
    // Our table agrees with the system's converter (glibc's iconv, or Windows'
    // own code page) on every defined byte.
    QVERIFY(test::systemCp1250Present());
    for (int b = 0; b < 256; ++b) {
        const std::uint8_t byte = static_cast<std::uint8_t>(b);
        const auto theirs = test::systemCp1250ToUtf8(byte);
        const std::string ours = cp1250ToUtf8(std::string(1, static_cast<char>(byte)));
        const bool undefinedByte = b == 0x81 || b == 0x83 || b == 0x88 || b == 0x90 || b == 0x98;
        if (theirs)
            QCOMPARE(QByteArray::fromStdString(ours), QByteArray::fromStdString(*theirs));
        else
            QVERIFY2(undefinedByte, qPrintable(QString::number(b, 16)));
        // Every byte, defined or not, comes back unchanged.
        const auto back = utf8ToCp1250(ours);
        QVERIFY(back && back->size() == 1 && static_cast<std::uint8_t>((*back)[0]) == byte);
    }
}

void TestSettings::cp1250Conversions_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes"); // empty = refused
    QTest::addColumn<uint>("bad");
    QTest::newRow("Polish letters")
        << QString::fromUtf8("Zażółć gęślą jaźń ŁŚ")
        << QByteArray("Za\xbf\xf3\xb3\xe6 g\xea\x9cl\xb9 ja\x9f\xf1 \xa3\x8c") << 0u;
    QTest::newRow("euro sign") << QString::fromUtf8("€5")
                               << QByteArray("\x80"
                                             "5")
                               << 0u;
    QTest::newRow("Cyrillic has no form") << QString::fromUtf8("aф") << QByteArray() << 0x0444u;
    QTest::newRow("emoji has no form") << QString::fromUtf8("a😀") << QByteArray() << 0x1F600u;
    QTest::newRow("Latin-1 letter outside the page")
        << QString::fromUtf8("ñ") << QByteArray() << 0xF1u;
}

void TestSettings::cp1250Conversions() {
    // A character without a Windows-1250 form is reported, never replaced by a wrong byte.
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(uint, bad);
    char32_t badCp = 0;
    const auto got = utf8ToCp1250(text.toStdString(), &badCp);
    if (bytes.isEmpty()) {
        QVERIFY(!got);
        QCOMPARE(uint(badCp), bad);
    } else {
        QVERIFY(got);
        QCOMPARE(QByteArray::fromStdString(*got), bytes);
        QCOMPARE(QString::fromStdString(cp1250ToUtf8(*got)), text);
    }
    QVERIFY(!utf8ToCp1250("\xC3"));         // truncated sequence
    QVERIFY(!utf8ToCp1250("\xC0\xAF"));     // overlong form
    QVERIFY(!utf8ToCp1250("\xED\xA0\x80")); // surrogate
    if (!bytes.isEmpty())
        QCOMPARE(QByteArray::fromStdString(utf8ToCp1250Replacing(text.toStdString())), bytes);
    // As a text box takes it: one "?" for each character without a form or
    // malformed sequence, everything else kept.
    QCOMPARE(utf8ToCp1250Replacing("a\xD1\x84 \xF0\x9F\x98\x80\xC3"), std::string("a? ??"));
}

void TestSettings::polishPlural_data() {
    QTest::addColumn<qlonglong>("n");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0 takes many") << 0ll << "0 bajtów";
    QTest::newRow("1 alone takes one") << 1ll << "1 bajt";
    QTest::newRow("2 to 4 take few") << 4ll << "4 bajty";
    QTest::newRow("5 takes many") << 5ll << "5 bajtów";
    QTest::newRow("11 takes many") << 11ll << "11 bajtów";
    QTest::newRow("12 to 14 take many") << 14ll << "14 bajtów";
    QTest::newRow("21 takes many, not one") << 21ll << "21 bajtów";
    QTest::newRow("22 takes few") << 22ll << "22 bajty";
    QTest::newRow("112 takes many") << 112ll << "112 bajtów";
    QTest::newRow("1002 takes few") << 1002ll << "1002 bajty";
    QTest::newRow("-3 like 3") << -3ll << "-3 bajty";
    QTest::newRow("the smallest number does not overflow")
        << std::numeric_limits<long long>::min() << "-9223372036854775808 bajtów";
}

void TestSettings::polishPlural() {
    // Polish counts take one of three forms by the last one or two digits.
    QFETCH(qlonglong, n);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(polishCount(n, "bajt", "bajty", "bajtów")), expected);
}

QTEST_APPLESS_MAIN(TestSettings)
#include "test_settings.moc"
