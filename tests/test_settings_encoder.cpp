// The settings encoder: what the editors show, checked and written into the image.
#include "device_settings.h"
#include "random_image.h"
#include "settings_encoder.h"

#include <QRegularExpression>
#include <QTest>

#include <map>

using namespace trellikon;
using namespace trellikon::layout;

namespace {

// The parameters editor after "factory settings", with an SMS centre given.
EditorSnapshot factory() {
    EditorSnapshot s;
    s.sms_centre_number = "48601000310";
    s.echo = true;
    s.sms_mask_user.fill(true);
    s.ring_mask_user.fill(true);
    s.input_mask_input.fill(true);
    s.output1_permanent_index = s.output2_permanent_index = 1;
    s.output1_auto_index = s.output2_auto_index = 1;
    s.daily_sms_limit = "20";
    s.balance_query_code = "*101#";
    for (int k = 0; k < kTextSlotCount; ++k)
        s.texts[std::size_t(k)] = defaultText(k);
    return s;
}

QString closes(const QString& m) {
    return "closes: " + m;
}
QString stays(const QString& m) {
    return "stays: " + m;
}

QStringList shown(const EncodeResult& r) {
    QStringList out;
    for (const auto& x : r.refusals)
        out << (x.closes_texts_editor ? closes : stays)(QString::fromStdString(x.message));
    return out;
}

// "120: 01 01 2C 86; 300: -- --" lists the bytes from each offset on: hex,
// "--" for the byte as it was before, 'text' for its characters, "00*98" repeats.
QString mismatch(const SettingsImage& before, const SettingsImage& after, const QString& bytes) {
    for (const QString& part : bytes.split(';', Qt::SkipEmptyParts)) {
        std::size_t at = part.section(':', 0, 0).trimmed().toUInt();
        for (const QString& token : part.section(':', 1).split(' ', Qt::SkipEmptyParts)) {
            QList<int> want;
            if (token.startsWith('\'')) {
                for (const QChar c : token.mid(1, token.size() - 2))
                    want << c.unicode();
            } else {
                const int times = token.contains('*') ? token.section('*', 1).toInt() : 1;
                const QString b = token.section('*', 0, 0);
                for (int i = 0; i < times; ++i)
                    want << (b == "--" ? -1 : b.toInt(nullptr, 16));
            }
            for (const int w : want) {
                const int expected = w < 0 ? before.at(at) : w;
                if (after.at(at) != expected)
                    return QString("byte %1 is %2, expected %3")
                        .arg(at)
                        .arg(after.at(at), 2, 16, QChar('0'))
                        .arg(expected, 2, 16, QChar('0'));
                ++at;
            }
        }
    }
    return {};
}

// The controls that the rows below name.
using S = EditorSnapshot;
const std::map<QString, std::string S::*> kTextControls = {
    {"centre", &S::sms_centre_number},      {"seconds1", &S::output1_auto_seconds},
    {"seconds2", &S::output2_auto_seconds}, {"daily", &S::daily_sms_limit},
    {"count", &S::balance_sms_count},       {"days", &S::balance_days},
    {"code", &S::balance_query_code},       {"testUser", &S::test_message_user}};
const std::map<QString, bool S::*> kCheckBoxes = {{"echo", &S::echo},
                                                  {"countOn", &S::balance_by_count},
                                                  {"info", &S::balance_info},
                                                  {"daysOn", &S::balance_by_time},
                                                  {"testOn", &S::test_message_on}};
const std::map<QString, int S::*> kRadioGroups = {{"perm1", &S::output1_permanent_index},
                                                  {"perm2", &S::output2_permanent_index},
                                                  {"auto1", &S::output1_auto_index},
                                                  {"auto2", &S::output2_auto_index}};

// "auto1=0 seconds1=300": the controls that differ from the factory state.
// "x*n" stands for n characters x; "sms=1001" ticks the boxes of users 1 and
// 4; user1..user4, text0..text14, clip1 and clip2 as named.
void change(EditorSnapshot& s, DecodedSettings& d, const QString& changes) {
    for (const QString& c : changes.split(' ', Qt::SkipEmptyParts)) {
        const QString key = c.section('=', 0, 0);
        const QString text = c.section('=', 1);
        const std::string v =
            text.size() > 2 && text[1] == '*'
                ? std::string(std::size_t(text.mid(2).toInt()), char(text[0].unicode()))
                : text.toStdString();
        const auto boxes = [&](auto& b) {
            for (std::size_t i = 0; i < b.size(); ++i)
                b[i] = i < v.size() && v[i] == '1';
        };
        const auto n = std::size_t(key.mid(key.indexOf(QRegularExpression("\\d"))).toInt());
        if (kTextControls.contains(key))
            s.*kTextControls.at(key) = v;
        else if (kCheckBoxes.contains(key))
            s.*kCheckBoxes.at(key) = v == "1";
        else if (kRadioGroups.contains(key))
            s.*kRadioGroups.at(key) = text.toInt();
        else if (key.startsWith("user"))
            s.user_number.at(n - 1) = v;
        else if (key.startsWith("text"))
            s.texts.at(n) = v;
        else if (key.startsWith("clip"))
            (n == 1 ? d.clip_output1_on : d.clip_output2_on) = v == "1";
        else if (key == "sms")
            boxes(s.sms_mask_user);
        else if (key == "ring")
            boxes(s.ring_mask_user);
        else if (key == "input")
            boxes(s.input_mask_input);
        else
            qFatal("no control %s", qPrintable(key));
    }
}

// The bytes that no field uses, and the subscriber blocks.
const std::pair<std::size_t, std::size_t> kNotEncoded[] = {
    {115, 119}, {124, 129}, {133, 134}, {139, 139},   {142, 144},   {147, 154},
    {157, 159}, {162, 164}, {276, 299}, {302, 304},   {306, 309},   {311, 314},
    {316, 319}, {322, 324}, {327, 511}, {1022, 1023}, {1534, 1535}, {2046, 4095}};

const char* const kCentre = "NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI CENTRUM SMS";
const char* const kOutput1 = "Czas automatycznego wysterowania wyjścia 1 powinien być liczbą w "
                             "zakresie od 1 do 999 sekund. Skoryguj ustawienia";
const char* const kOutput2 = "Czas automatycznego wysterowania wyjścia 2 powinien być liczbą w "
                             "zakresie od 1 do 999 sekund. Skoryguj ustawienia";
const char* const kDaysMissing = "Opcja czasowego informowania o stanie konta jest zaznaczona ale "
                                 "nie podano wartości. Skoryguj ustawienia";
const char* const kHeaderTooLong =
    "DEFINICJA KOMUNIKATU NAGŁÓWKA PRZEKRACZA 50 ZNAKÓW, ZMIEŃ USTAWIENIA";
const char* const kCountMinimum =
    "Minimalna wartość ilościowego informowania o stanie konta wynosi 10. Skoryguj ustawienia";

} // namespace

class TestSettingsEncoder : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void fieldBytes_data();
    void fieldBytes();
    void refusalsInStepOrder();
    void masksAndRoundTrip();
    void untouchedBytes_data();
    void untouchedBytes();
    void overLongValuesStayInTheirField_data();
    void overLongValuesStayInTheirField();
};

void TestSettingsEncoder::fieldBytes_data() {
    QTest::addColumn<QString>("changes");
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<QStringList>("refusals");
    const auto row = [](const char* name, const char* changes, const char* bytes,
                        QStringList refusals = {}) {
        QTest::newRow(name) << QString(changes) << QString(bytes) << refusals;
    };
    const QString user = "NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI UŻYTKOWNIKA NR ";
    row("factory state", "",
        "0: '48601000310' 00*8 93; 20: 00*80; 100: 00 00 AA 00 00 00 00 AA 00 00;"
        "110: '20' 00 00 A8; 120: 00 00 00 AA; 130: 00 00 --; 135: 00 00 00 AA; 140: 0F A5;"
        "145: 0F A5; 155: 01 AB; 160: FF 55; 165: 00*10; 175: '*101#' 00*95 93; 300: 05 AF;"
        "305: 00; 310: 00; 315: 00; 320: 00 AA; 325: 00 AA");
    row("centre of 17 digits", "centre=12345678901234567", "0: '12345678901234567' 00 00 9B");
    row("centre empty", "centre=", "0: 00*20", {closes(kCentre)});
    row("centre of one digit", "centre=7", "0: 00*20", {closes(kCentre)});
    row("centre of 18 digits", "centre=1*18", "0: 00*20", {closes(kCentre)});
    row("user emptied", "user2=", "40: 00*20");
    row("user of one digit", "user3=5", "60: 00*20", {stays(user + "3")});
    row("user of 18 digits", "user1=123456789012345678", "20: '123456789012345678' 00 A3");
    row("user of 19 digits", "user4=1*19", "80: 00*20", {stays(user + "4")});
    row("echo off", "echo=0", "155: 00 AA");
    row("SMS mask users 1 and 4", "sms=1001", "140: 09 A3");
    row("RING mask users 2 and 3", "ring=0110", "145: 06 AC");
    row("input mask inputs 1 and 8", "input=10000001", "160: 81 2B");
    row("output 1 permanently active", "perm1=0", "100: 01 00 AB 00 00");
    row("output 2 permanent unselected", "perm2=-1", "105: 00 00 AA 00 00");
    row("output 1 automatic 300 s", "auto1=0 seconds1=300", "120: 01 01 2C 86");
    row("output 1 not automatic", "seconds1=300", "120: 00 00 00 AA");
    row("output 1 unselected, no number", "auto1=-1 seconds1=abc", "120: 00 00 00 AA");
    row("output 2 of 70000 s cut to bytes", "auto2=0 seconds2=70000", "135: 01 11 70 CA");
    row("output 2 of -1 s", "auto2=0 seconds2=-1", "135: 01 00 FF 54");
    row("output 1 time no number", "auto1=0 seconds1=abc", "120: -- -- -- --", {closes(kOutput1)});
    row("output 1 time empty", "auto1=0", "120: -- -- -- --", {closes(kOutput1)});
    row("output 2 time beyond 32 bits", "auto2=0 seconds2=99999999999", "135: -- -- -- --",
        {closes(kOutput2)});
    row("test message to user 2", "testOn=1 testUser=2", "130: 01 02 A9");
    row("test message off", "testUser=2", "130: 00 00 --");
    row("test message to user 5", "testOn=1 testUser=5", "130: 00 00 --");
    row("test message index empty", "testOn=1", "130: 00 00 --",
        {stays("PODANO NIEPRAWIDŁOWY INDEX UŻYTKOWNIKA")});
    row("daily limit empty", "daily=", "110: 00 00 00 00 AA");
    row("daily limit of seven characters", "daily=0000010", "110: '0000' AA --");
    row("quantity 5", "countOn=1 count=5", "170: 35 00 00 00 9F; 310: 01", {closes(kCountMinimum)});
    row("quantity 9", "countOn=1 count=9", "170: 39 00 00 00 93", {closes(kCountMinimum)});
    row("quantity 10", "countOn=1 count=10", "170: '10' 00 00 AB");
    row("quantity empty", "countOn=1", "170: 00*5",
        {closes("Opcja iloćiowej informacji o stanie konta jest zaznaczona ale nie podano "
                "wartości. Skoryguj ustawienia")});
    row("quantity no number", "countOn=1 count=1x", "170: '1x' 00 00 E3",
        {closes("Ilościowe informowanie o stanie konta powinno być liczbą w zakresie od 10 do "
                "9999. Skoryguj ustawienia")});
    row("quantity off", "count=100", "170: 00*5; 310: 00");
    row("time report empty", "daysOn=1", "165: 00*5; 315: 01", {closes(kDaysMissing)});
    row("time report 7", "daysOn=1 days=7", "165: 37 00 00 00 9D");
    row("time report off", "days=7", "165: 00*5");
    row("balance reporting on", "info=1", "305: 01");
    row("query code of 20", "code=12345678901234567890",
        "175: '12345678901234567890' 00*80 AA; 300: 14 BE");
    row("query code of 21", "code=1*21", "175: 00*100 --; 300: -- --");
    row("query code empty", "code=", "175: 00*100 --; 300: -- --");
    row("CLIP both outputs", "clip1=1 clip2=1", "320: 01 AB; 325: 01 AB");
    row("header abc", "text0=abc", "512: 61 62 63 00*98 CA");
    row("header of 50", "text0=A*50", "512: 41*50 00*51 AA");
    row("header of 51", "text0=A*51", "512: 00*101 AA", {stays(kHeaderTooLong)});
    row("test text of 100", "text14=B*100", "1944: 42*100 00 AA");
}

void TestSettingsEncoder::fieldBytes() {
    // Each field gets exactly its bytes from the editors' values; a refused
    // one is reported and left as the rule says.
    QFETCH(QString, changes);
    QFETCH(QString, bytes);
    QFETCH(QStringList, refusals);
    DeviceSettings settings;
    settings.image.setBytes(randomImage(7));
    const SettingsImage before = settings.image;
    EditorSnapshot s = factory();
    change(s, settings.decoded, changes);
    const EncodeResult r = Encode_Settings(s, settings);
    const QString wrong = mismatch(before, settings.image, bytes);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QCOMPARE(shown(r), refusals);
    QCOMPARE(r.encode_failed, !refusals.isEmpty());
}

void TestSettingsEncoder::refusalsInStepOrder() {
    // Every step runs: one call reports each refused entry once, in step
    // order, and closes the texts editor only for what it edits elsewhere.
    EditorSnapshot s = factory();
    DeviceSettings settings;
    change(s, settings.decoded,
           "centre= user2=5 user4=1*19 auto1=0 seconds1=abc auto2=0 testOn=1 testUser=x "
           "countOn=1 count=5 daysOn=1 text0=z*51");
    for (int k = 1; k < kTextSlotCount; ++k)
        s.texts[std::size_t(k)] = std::string(101, 'z');
    QStringList texts = {stays(kHeaderTooLong),
                         stays("DEFINICJA KOMUNIKATU ALARMU 1 przekracza 100 znaków"),
                         stays("DEFINICJA KOMUNIKATU ALARMOWEGO 2 PRZEKRACZA 100 ZNAKÓW ")};
    for (int n = 3; n <= 14; ++n)
        texts << stays(
            QString("DEFINICJA KOMUNIKATU ALARMOWEGO NR %1 PRZEKRACZA 100 ZNAKÓW ").arg(n));
    const QStringList expected =
        QStringList{closes(kCentre),
                    stays("NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI UŻYTKOWNIKA NR 2"),
                    stays("NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI UŻYTKOWNIKA NR 4"),
                    closes(kOutput1),
                    closes(kOutput2),
                    stays("PODANO NIEPRAWIDŁOWY INDEX UŻYTKOWNIKA"),
                    closes(kCountMinimum),
                    closes(kDaysMissing)} +
        texts;
    const EncodeResult all = Encode_Settings(s, settings);
    QCOMPARE(shown(all), expected);
    QVERIFY(all.encode_failed && all.closesTextsEditor());

    // The text encoder alone reports only the texts and never closes.
    const EncodeResult onlyTexts = Encode_Texts(s.texts, settings.image);
    QCOMPARE(shown(onlyTexts), texts);
    QVERIFY(onlyTexts.encode_failed && !onlyTexts.closesTextsEditor());

    // Good texts add no failure, so a caller's earlier one stands; a refused
    // centre does not keep the texts from being encoded.
    EditorSnapshot noCentre = factory();
    noCentre.sms_centre_number = "";
    QVERIFY(Encode_Settings(noCentre, settings).encode_failed);
    QVERIFY(settings.image.readText(messageHeaderText).valid);
    const EncodeResult good = Encode_Texts(noCentre.texts, settings.image);
    QVERIFY(!good.encode_failed && good.refusals.empty());
}

void TestSettingsEncoder::masksAndRoundTrip() {
    // The masks built for the image, and every field written, decode back to
    // what the editors showed.
    EditorSnapshot s = factory();
    DeviceSettings settings;
    change(s, settings.decoded,
           "user1=601000001 user3=48601000003 user4=12 sms=1010 ring=0001 input=01000010 "
           "perm1=0 auto2=0 seconds2=999 testOn=1 testUser=4 info=1 countOn=1 count=9999 "
           "daysOn=1 days=30 clip2=1");
    s.texts[3] = "Alarm {1} w strefie";
    const DecodedSettings before = settings.decoded;
    QVERIFY(!Encode_Settings(s, settings).encode_failed);
    // The encoder writes the image only; the editors store their own values.
    QVERIFY(settings.decoded == before);

    DeviceSettings back;
    back.image = settings.image;
    back.decodeAll();
    const DecodedSettings& d = back.decoded;
    QCOMPARE(d.sms_centre_number, s.sms_centre_number);
    QCOMPARE(d.user_number, s.user_number);
    QCOMPARE(d.sms_mask, std::uint8_t(0x0A));
    QCOMPARE(d.ring_mask, std::uint8_t(0x01));
    QCOMPARE(d.input_mask, std::uint8_t(0x42));
    QVERIFY(d.output1_permanent && !d.output2_permanent && !d.output1_auto_on && d.output2_auto_on);
    QCOMPARE(d.output2_auto_seconds, std::string("999"));
    QVERIFY(d.test_message_on);
    QCOMPARE(d.test_message_user, std::string("4"));
    QVERIFY(d.balance_info_on && d.balance_by_count_on && d.balance_by_time_on && d.echo_on);
    QCOMPARE(d.balance_sms_count, std::string("9999"));
    QCOMPARE(d.balance_days, std::string("30\0\0", 4)); // four bytes as stored
    QCOMPARE(d.balance_query_code, std::string("*101#"));
    QVERIFY(!d.clip_output1_on && d.clip_output2_on);
    QCOMPARE(d.texts, s.texts);
}

void TestSettingsEncoder::untouchedBytes_data() {
    QTest::addColumn<QString>("changes");
    QTest::addColumn<bool>("textsOnly");
    QTest::newRow("everything valid") << QString("auto1=0 seconds1=5 testOn=1 testUser=3") << false;
    QTest::newRow("everything refused")
        << QString("centre=1*30 code=1*30 user1=5 user2=5 user3=5 user4=5 auto1=0 auto2=0 "
                   "testOn=1 countOn=1 daysOn=1 text0=x*300 text9=x*300 text14=x*300")
        << false;
    QTest::newRow("texts only") << QString("text3=abc text10=x*300") << true;
}

void TestSettingsEncoder::untouchedBytes() {
    // Unused bytes and the subscriber blocks go back to the device as read;
    // the text encoder writes nothing outside the text slots.
    QFETCH(QString, changes);
    QFETCH(bool, textsOnly);
    EditorSnapshot s = factory();
    DeviceSettings settings;
    change(s, settings.decoded, changes);
    settings.image.setBytes(randomImage(11));
    const SettingsImage before = settings.image;
    if (textsOnly)
        Encode_Texts(s.texts, settings.image);
    else
        Encode_Settings(s, settings);
    for (const auto& [first, last] : kNotEncoded)
        for (std::size_t i = first; i <= last; ++i)
            QCOMPARE(settings.image.at(i), before.at(i));
    if (textsOnly)
        for (std::size_t i = 0; i < kBlockSize; ++i)
            QCOMPARE(settings.image.at(i), before.at(i));
}

void TestSettingsEncoder::overLongValuesStayInTheirField_data() {
    QTest::addColumn<QString>("changes");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("size");
    const auto row = [](const char* changes, int first, int size) {
        QTest::newRow(changes) << QString(changes) << first << size;
    };
    row("daily=0000010", 110, 5);
    row("count=123456", 170, 5);
    row("days=12345", 165, 5);
    row("centre=9*25", 0, 20);
    row("user4=9*25", 80, 20);
    row("code=#*120", 175, 127);
    row("text0=h*120", 512, 102);
    row("text14=t*250", 1944, 102);
    row("seconds1=99999999999", 120, 4);
    row("testUser=99999999999", 130, 3);
}

void TestSettingsEncoder::overLongValuesStayInTheirField() {
    // Whatever a control holds, the encoder writes nothing beyond that
    // value's own field: compared with a valid value, no other byte differs.
    QFETCH(QString, changes);
    QFETCH(int, first);
    QFETCH(int, size);
    EditorSnapshot valid = factory();
    DeviceSettings a, b;
    change(valid, a.decoded,
           "auto1=0 seconds1=30 testOn=1 testUser=1 countOn=1 count=100 "
           "daysOn=1 days=7");
    EditorSnapshot overLong = valid;
    change(overLong, b.decoded, changes);
    a.image.setBytes(randomImage(13));
    b.image = a.image;
    Encode_Settings(valid, a);
    Encode_Settings(overLong, b);
    for (std::size_t i = 0; i < kImageSize; ++i)
        if (i < std::size_t(first) || i >= std::size_t(first + size))
            QCOMPARE(b.image.at(i), a.image.at(i));
}

QTEST_GUILESS_MAIN(TestSettingsEncoder)
#include "test_settings_encoder.moc"
