// The command-line companion: rendering of templates, diff, device sessions on
// virtual time and their pace, and the program's exit codes.
#include "cable_memory.h"
#include "cli_commands.h"
#include "cp1250.h"
#include "fake_usb_adapter.h"
#include "files.h"
#include "memory_port.h"
#include "register_file.h"
#include "settings_comparison.h"
#include "simulated_device.h"
#include "template_view.h"
#include "virtual_line.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <random>
#include <sstream>

#include <sys/stat.h>

using namespace trellikon;
using Bytes = SettingsImage::Bytes;

namespace {

QByteArray toQt(const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()));
}
Bytes fromQt(const QByteArray& q) {
    Bytes b{};
    std::copy_n(q.constData(), std::min<qsizetype>(q.size(), static_cast<qsizetype>(b.size())),
                reinterpret_cast<char*>(b.data()));
    return b;
}
template <typename F> QByteArray image(F&& write) {
    SettingsImage im;
    write(im);
    return toQt(im.bytes());
}
std::string str(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

// Random bytes, or (structured) valid fields holding random bytes, so that
// every check passes and hostile bytes reach the output.
Bytes randomImage(unsigned seed, bool structured) {
    std::mt19937 rng(seed);
    auto byte = [&](int lo = 0) {
        return static_cast<char>(lo + static_cast<int>(rng() % (256u - static_cast<unsigned>(lo))));
    };
    auto bytes = [&](std::size_t n, int lo) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i)
            s += byte(lo);
        return s;
    };
    SettingsImage im;
    Bytes raw{};
    for (auto& x : raw)
        x = static_cast<std::uint8_t>(rng());
    im.setBytes(raw);
    if (!structured)
        return im.bytes();
    for (int k = 0; k < layout::kTextSlotCount; ++k)
        im.writeText(k, bytes(rng() % 101, 1));
    for (int n = 1; n <= layout::kSubscriberCount; n += 1 + static_cast<int>(rng() % 7))
        im.writeSubscriber(n, bytes(11, 0));
    for (std::size_t off :
         {layout::kDailySmsLimit, layout::kBalanceSmsCount, layout::kBalanceIntervalDays}) {
        const std::string v = bytes(4, 0);
        im.writeValueGroup(off, std::span(reinterpret_cast<const std::uint8_t*>(v.data()), 4));
    }
    const auto len = static_cast<std::uint8_t>(rng() % 21);
    im.writeValuePair(layout::kBalanceQueryCodeLength, len);
    for (std::size_t i = 0; i < len; ++i)
        im.set(layout::kBalanceQueryCode + i, static_cast<std::uint8_t>(byte()));
    im.set(layout::kBalanceQueryCodeCheck, im.checkByte(layout::kBalanceQueryCode, 100));
    return im.bytes();
}

QJsonValue at(const QJsonObject& root, const QString& path) {
    QJsonValue v = root;
    for (const QString& part : path.split('/')) {
        bool isIndex = false;
        const int i = part.toInt(&isIndex);
        v = isIndex ? v.toArray().at(i) : v.toObject().value(part);
    }
    return v;
}

QJsonObject jsonOf(const Bytes& b) {
    QJsonParseError e{};
    const auto doc = QJsonDocument::fromJson(
        QByteArray::fromStdString(inspector::renderJson(inspector::inspect(b))), &e);
    if (e.error != QJsonParseError::NoError)
        qWarning() << "JSON error" << e.errorString() << "at" << e.offset;
    return doc.object();
}

// Control characters that must never reach a terminal, in UTF-8: C0 but the
// line end, DEL, and C1 (encoded as 0xC2 0x80..0x9F).
bool terminalSafe(const std::string& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b < 0x20 && b != '\n') || b == 0x7F)
            return false;
        if (b == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) <= 0x9F)
            return false;
    }
    return true;
}
bool validUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toStdString() == s;
}

// Time that only moves when the session waits for its next tick.
using VirtualClock = trellikon::ManualTickClock;

// Time that is the virtual line's: it moves while the session sleeps and while
// a frame goes out.
struct LineClock final : cli::TickClock {
    VirtualLine& line;
    explicit LineClock(VirtualLine& l) : line(l) {}
    std::int64_t nowMs() override { return line.nowNs() / 1'000'000; }
    void sleepUntilMs(std::int64_t ms) override { line.advanceTo(ms * 1'000'000); }
};

} // namespace

class TestCliCommands : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void erasedImageDecodesToDefaults();
    void jsonValues_data();
    void jsonValues();
    void anyImageGivesValidJsonAndSafeShow_data();
    void anyImageGivesValidJsonAndSafeShow();
    void showEscapesText_data();
    void showEscapesText();
    void showMaskBits_data();
    void showMaskBits();
    void fallbackMarks_data();
    void fallbackMarks();
    void byteCoverMap_data();
    void byteCoverMap();
    void uncoveredBytesNeverChangeADecodedSetting();
    void diffReports_data();
    void diffReports();
    void deviceSessions_data();
    void deviceSessions();
    void deviceDiff_data();
    void deviceDiff();
    void connectFailureSaysWhatTheLineCarried_data();
    void connectFailureSaysWhatTheLineCarried();
    void missingPortGivesWayToTheRememberedCable_data();
    void missingPortGivesWayToTheRememberedCable();
    void portsListNamesTheAdapter();
    void transferPace_data();
    void transferPace();
    void programExitCodes_data();
    void programExitCodes();
    void exitCodeOfEachFailure_data();
    void exitCodeOfEachFailure();
    void personalDataFilesArePrivate_data();
    void personalDataFilesArePrivate();
};

void TestCliCommands::erasedImageDecodesToDefaults() {
    // An erased memory shows every default: empty numbers, limit 20, full masks, echo on.
    const QJsonObject j = jsonOf(SimulatedDevice::erased());
    QCOMPARE(j.value("sms_centre_number").toString(), QString());
    QCOMPARE(j.value("user_numbers").toArray(), (QJsonArray{"", "", "", ""}));
    QCOMPARE(j.value("daily_sms_limit").toString(), QString("20"));
    for (const char* mask : {"sms_mask", "ring_mask", "input_mask"})
        QCOMPARE(j.value(mask).toInt(-1), 255);
    QCOMPARE(j.value("echo_on").toBool(false), true);
    for (const char* off : {"output1_permanent", "output1_auto_on", "test_message_on",
                            "balance_days_valid", "clip_output2_on", "balance_info_on"})
        QCOMPARE(j.value(off).toBool(true), false);
    QCOMPARE(j.value("texts").toArray().at(0).toString(), QString("TRELLIKON: "));
    QCOMPARE(j.value("texts").toArray().at(14).toString(), QString("Test Systemu SMS"));
    QCOMPARE(j.value("subscribers").toArray().size(), 0);
}

void TestCliCommands::jsonValues_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QJsonValue>("expected");
    using I = SettingsImage;
    QTest::newRow("11-digit SMS centre")
        << image([](I& im) { im.writePhoneNumber(0, "48601000310"); }) << "sms_centre_number"
        << QJsonValue("48601000310");
    QTest::newRow("timed output 300 s") << image([](I& im) {
        im.writeValueGroup(120, std::array<std::uint8_t, 3>{1, 0x01, 0x2C});
    }) << "output1_auto_seconds" << QJsonValue("300");
    QTest::newRow("daily limit ends at its 0 byte") << image([](I& im) {
        im.writeValueGroup(110, std::array<std::uint8_t, 4>{'1', '2', 0, '9'});
    }) << "daily_sms_limit" << QJsonValue("12");
    QTest::newRow("query code by its stored length") << image([](I& im) {
        im.writeValuePair(300, 5);
        for (int i = 0; i < 100; ++i)
            im.set(175 + static_cast<std::size_t>(i),
                   i < 5 ? static_cast<std::uint8_t>("*101#"[i]) : 0);
        im.set(275, im.checkByte(175, 100));
    }) << "balance_query_code" << QJsonValue("*101#");
    QTest::newRow("Windows-1250 text becomes UTF-8") << image([](I& im) {
        im.writeText(1, "Za\xB3\xB9"
                        "cz \x8C");
    }) << "texts/1" << QJsonValue(QString::fromUtf8("Załącz Ś"));
    QTest::newRow("quote, backslash, tab, DEL, undefined byte") << image([](I& im) {
        im.writeText(14, str({'"', '\\', '\t', 0x7F, 0x81, 0x1B, '/'}));
    }) << "texts/14" << QJsonValue(QString::fromUtf16(u"\"\\\t\x7F\x81\x1B/"));
    QTest::newRow("subscriber 168 of any bytes") << image([](I& im) {
        im.writeSubscriber(168, str({'"', 0xB3, 1, 'x', 0xFF, '5', '5', '5', '5', '5', '5'}));
    }) << "subscribers/0/number" << QJsonValue(QString::fromUtf8("\"ł\x01x˙555555"));
    QTest::newRow("subscriber index") << image([](I& im) { im.writeSubscriber(43, "12345678901"); })
                                      << "subscribers/0/index" << QJsonValue(43);
    QTest::newRow("subscriber number keeps its 0 bytes")
        << image([](I& im) { im.writeSubscriber(7, "123"); }) << "subscribers/0/number"
        << QJsonValue(QString::fromUtf8("123\0\0\0\0\0\0\0\0", 11));
    QTest::newRow("subscriber number goes on after a 0 byte")
        << image([](I& im) {
               im.writeSubscriber(9, str({'1', 0, '3', 0xB3, 0, 0, 0, 0, 0, 0, '9'}));
           })
        << "subscribers/0/number"
        << QJsonValue(QString::fromUtf8("1\0"
                                        "3ł\0\0\0\0\0\0"
                                        "9",
                                        12));
}

void TestCliCommands::jsonValues() {
    // Each written field comes out as the value a window would show; a subscriber number whole.
    QFETCH(QByteArray, bytes);
    QFETCH(QString, path);
    QFETCH(QJsonValue, expected);
    QCOMPARE(at(jsonOf(fromQt(bytes)), path), expected);
}

void TestCliCommands::anyImageGivesValidJsonAndSafeShow_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("all 0x00") << toQt(Bytes{});
    QTest::newRow("all 0x1A (empty file)") << image([](SettingsImage& im) {
        for (std::size_t i = 0; i < layout::kImageSize; ++i)
            im.set(i, 0x1A);
    });
    for (unsigned seed = 1; seed <= 40; ++seed) {
        QTest::addRow("random %u", seed) << toQt(randomImage(seed, false));
        QTest::addRow("valid fields of random bytes %u", seed) << toQt(randomImage(seed, true));
    }
}

void TestCliCommands::anyImageGivesValidJsonAndSafeShow() {
    // Whatever the bytes, JSON parses with the fixed keys and types, and show stays terminal-safe.
    QFETCH(QByteArray, bytes);
    const auto in = inspector::inspect(fromQt(bytes));
    const std::string json = inspector::renderJson(in);
    QVERIFY(validUtf8(json));
    QVERIFY(terminalSafe(json)); // Qt's parser would let raw control bytes through
    QJsonParseError e{};
    const QJsonObject j = QJsonDocument::fromJson(QByteArray::fromStdString(json), &e).object();
    QCOMPARE(e.error, QJsonParseError::NoError);

    const QStringList strings = {
        "sms_centre_number", "daily_sms_limit", "output1_auto_seconds", "output2_auto_seconds",
        "test_message_user", "balance_days",    "balance_sms_count",    "balance_query_code"};
    const QStringList flags = {"output1_permanent",   "output2_permanent",       "output1_auto_on",
                               "output2_auto_on",     "test_message_on",         "echo_on",
                               "balance_days_valid",  "balance_sms_count_valid", "balance_info_on",
                               "balance_by_count_on", "balance_by_time_on",      "clip_output1_on",
                               "clip_output2_on"};
    const QStringList ints = {"sms_mask", "ring_mask", "input_mask"};
    QStringList keys = strings + flags + ints + QStringList{"user_numbers", "texts", "subscribers"};
    keys.sort();
    QCOMPARE(j.keys(), keys);
    for (const QString& k : strings)
        QVERIFY2(j.value(k).isString(), qPrintable(k));
    for (const QString& k : flags)
        QVERIFY2(j.value(k).isBool(), qPrintable(k));
    for (const QString& k : ints)
        QVERIFY2(j.value(k).isDouble(), qPrintable(k));
    QCOMPARE(j.value("user_numbers").toArray().size(), 4);
    const QJsonArray texts = j.value("texts").toArray();
    QCOMPARE(texts.size(), layout::kTextSlotCount);
    for (int k = 0; k < texts.size(); ++k) {
        const std::string want = cp1250ToUtf8(
            inspector::untilNul(in.settings.decoded.texts[static_cast<std::size_t>(k)]));
        QCOMPARE(texts.at(k).toString(), QString::fromStdString(want));
    }
    int last = 0;
    for (const QJsonValue& s : j.value("subscribers").toArray()) {
        const int index = s.toObject().value("index").toInt(-1);
        QVERIFY(index > last && index <= layout::kSubscriberCount);
        last = index;
        QVERIFY(s.toObject().value("number").isString());
        const std::string number = in.settings.subscribers.entry(index).number;
        QCOMPARE(s.toObject().value("number").toString(),
                 QString::fromStdString(cp1250ToUtf8(number)));
        QCOMPARE(s.toObject().keys(), (QStringList{"index", "number"}));
    }

    const std::string show = inspector::renderShow(in);
    QVERIFY(validUtf8(show));
    QVERIFY(terminalSafe(show));
}

void TestCliCommands::showEscapesText_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QByteArray("abc") << "\"abc\"";
    QTest::newRow("Polish letters pass") << QByteArray("\xB3\xB9\x9C") << "\"łąś\"";
    QTest::newRow("escape sequence") << QByteArray("\x1B[2J") << "\"\\x1B[2J\"";
    QTest::newRow("tab and line end") << QByteArray("a\tb\r\n") << "\"a\\x09b\\x0D\\x0A\"";
    QTest::newRow("DEL") << QByteArray("\x7F") << "\"\\x7F\"";
    QTest::newRow("undefined bytes decode to C1")
        << QByteArray("\x81\x83\x88\x90\x98") << "\"\\x81\\x83\\x88\\x90\\x98\"";
    QTest::newRow("quote and backslash cannot fake an escape")
        << QByteArray("\"\\x41") << "\"\\\"\\\\x41\"";
}

void TestCliCommands::showEscapesText() {
    // A text's bytes appear quoted, with every control byte as \xNN.
    QFETCH(QByteArray, text);
    QFETCH(QString, shown);
    SettingsImage im;
    im.writeText(layout::input1OnText, text.toStdString());
    const std::string out = inspector::renderShow(inspector::inspect(im.bytes()));
    QVERIFY2(out.find("  1+: " + shown.toStdString() + "\n") != std::string::npos, out.c_str());
}

void TestCliCommands::showMaskBits_data() {
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("mask");
    QTest::addColumn<QString>("line");
    QTest::newRow("SMS to user 1 is 0x08")
        << 140 << 0x08
        << "Maska SMS: 0x08 (użytkownik 1: tak, użytkownik 2: nie, użytkownik 3: nie, "
           "użytkownik 4: nie)";
    QTest::newRow("ringing user 4 is 0x01")
        << 145 << 0x01
        << "Maska dzwonienia: 0x01 (użytkownik 1: nie, użytkownik 2: nie, użytkownik 3: nie, "
           "użytkownik 4: tak)";
    QTest::newRow("input 1 is 0x80, input 8 is 0x01")
        << 160 << 0x81
        << "Maska wejść: 0x81 (wejście 1: tak, wejście 2: nie, wejście 3: nie, wejście 4: nie, "
           "wejście 5: nie, wejście 6: nie, wejście 7: nie, wejście 8: tak)";
}

void TestCliCommands::showMaskBits() {
    // Mask bits are shown per user (user 1 = 0x08 .. user 4 = 0x01) and per input (1 = 0x80).
    QFETCH(int, offset);
    QFETCH(int, mask);
    QFETCH(QString, line);
    SettingsImage im;
    im.writeValuePair(static_cast<std::size_t>(offset), static_cast<std::uint8_t>(mask));
    const std::string out = inspector::renderShow(inspector::inspect(im.bytes()));
    QVERIFY2(out.find("  " + line.toStdString() + "\n") != std::string::npos, out.c_str());
}

void TestCliCommands::fallbackMarks_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("marked");
    const QByteArray erased = toQt(SimulatedDevice::erased());
    QTest::newRow("erased limit") << erased << "Dobowy limit SMS" << true;
    QTest::newRow("erased echo") << erased << "Echo" << true;
    QTest::newRow("unchecked flag never marked") << erased << "Raport co ile dni" << false;
    QTest::newRow("erased text") << erased << "5+" << true;
    QTest::newRow("written limit") << image([](SettingsImage& im) { im.writeDigits(110, "5"); })
                                   << "Dobowy limit SMS" << false;
    QTest::newRow("written echo") << image([](SettingsImage& im) { im.writeValuePair(155, 1); })
                                  << "Echo" << false;
    QTest::newRow("written text") << image([](SettingsImage& im) { im.writeText(10, "x"); }) << "5+"
                                  << false;
    QTest::newRow("header past 52 bytes checked over 60") << image([](SettingsImage& im) {
        // Distinct letters, so that bytes 52..59 change the check.
        for (std::size_t i = 0; i < 60; ++i)
            im.set(512 + i, static_cast<std::uint8_t>('A' + i % 26));
        im.set(572, 0);
        im.set(613, im.checkByte(512, 60));
    }) << "Nagłówek wiadomości" << true;
}

void TestCliCommands::fallbackMarks() {
    // Exactly the fields whose check failed carry the default mark.
    QFETCH(QByteArray, bytes);
    QFETCH(QString, field);
    QFETCH(bool, marked);
    const inspector::Inspection in = inspector::inspect(fromQt(bytes));
    const std::string shown = inspector::renderShow(in);
    for (const auto& f : inspector::describe(in))
        if (f.name == field.toStdString()) {
            QCOMPARE(f.fallback, marked);
            // The listing puts the mark after the value, and only there.
            const std::size_t line = shown.find("  " + std::string(f.name) + ": ");
            QVERIFY(line != std::string::npos);
            const std::string text = shown.substr(line, shown.find('\n', line) - line);
            QCOMPARE(text.ends_with(std::string(" ") + inspector::kFallbackMark), marked);
            return;
        }
    QFAIL("no such field");
}

void TestCliCommands::byteCoverMap_data() {
    QTest::addColumn<int>("offset");
    QTest::addColumn<bool>("covered");
    const std::pair<int, bool> rows[] = {
        {0, true},     {99, true},    {101, true},   {103, false},  {109, false},  {115, false},
        {119, false},  {139, false},  {275, true},   {276, false},  {300, true},   {326, true},
        {327, false},  {511, false},  {512, true},   {613, true},   {1021, true},  {1022, false},
        {1023, false}, {1024, true},  {2045, true},  {2046, false}, {2047, false}, {2048, true},
        {2551, true},  {2552, false}, {2559, false}, {2560, true},  {3583, false}, {3584, true},
        {4087, true},  {4088, false}, {4095, false}, {4096, false},
    };
    for (const auto& [offset, covered] : rows)
        QTest::addRow("%d %s", offset, covered ? "covered" : "uncovered") << offset << covered;
}

void TestCliCommands::byteCoverMap() {
    // Fields, checks, whole text and subscriber slots are covered; unused and block tails are not.
    QFETCH(int, offset);
    QFETCH(bool, covered);
    QCOMPARE(inspector::byteCovered(static_cast<std::size_t>(offset)), covered);
}

void TestCliCommands::uncoveredBytesNeverChangeADecodedSetting() {
    // Changing any byte the map calls uncovered leaves every decoded setting as it was.
    std::vector<Bytes> bases = {SimulatedDevice::erased(), Bytes{}, randomImage(7, true)};
    for (const Bytes& base : bases) {
        const auto before = inspector::inspect(base);
        for (std::size_t i = 0; i < layout::kImageSize; ++i) {
            if (inspector::byteCovered(i))
                continue;
            Bytes changed = base;
            changed[i] ^= 0x5A;
            const auto after = inspector::inspect(changed);
            QVERIFY2(after.settings.decoded == before.settings.decoded &&
                         after.settings.subscribers == before.settings.subscribers,
                     qPrintable(QString("offset %1").arg(i)));
        }
    }
}

void TestCliCommands::diffReports_data() {
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<int>("uncovered");
    using I = SettingsImage;
    const QByteArray base = image([](I& im) {
        im.writeText(3, "Alarm");
        im.writeValuePair(155, 1);
        im.writeSubscriber(1, "11111111111");
    });
    auto from = [&](auto&& change) {
        SettingsImage im;
        im.setBytes(fromQt(base));
        change(im);
        return toQt(im.bytes());
    };
    QTest::newRow("same image") << base << base << QStringList{} << 0;
    QTest::newRow("unused byte") << base << from([](I& im) { im.set(115, 0); }) << QStringList{}
                                 << 1;
    QTest::newRow("reserved byte outside its check")
        << base << from([](I& im) { im.set(103, 0); }) << QStringList{} << 1;
    QTest::newRow("text and block tails") << base << from([](I& im) {
        im.writeText(3, "Alarm!");
        im.set(2046, 0);
        im.set(4095, 0);
    }) << QStringList{"Komunikat 1+: aktywacja wejścia 1"}
                                          << 2;
    QTest::newRow("bytes after a text's 0 are covered and unseen")
        << base << from([](I& im) { im.set(818 + 50, 'z'); }) << QStringList{} << 0;
    QTest::newRow("two different failed checks give the same default")
        << from([](I& im) { im.set(1536, 'a'); }) << from([](I& im) { im.set(1536, 'b'); })
        << QStringList{} << 0;
    QTest::newRow("echo on by check and on by default")
        << base << from([](I& im) { im.set(156, 0); }) << QStringList{"ECHO"} << 0;
    QTest::newRow("daily limit differing only after its 0 byte: the same value") << from([](I& im) {
        im.writeValueGroup(110, std::array<std::uint8_t, 4>{'7', 0, 0, 0});
    }) << from([](I& im) {
        im.writeValueGroup(110, std::array<std::uint8_t, 4>{'7', 0, 0, 1});
    }) << QStringList{} << 0;
    QTest::newRow("daily limit padded with 0xFF is another value") << from([](I& im) {
        im.writeValueGroup(110, std::array<std::uint8_t, 4>{'7', 0, 0, 0});
    }) << from([](I& im) {
        im.writeValueGroup(110, std::array<std::uint8_t, 4>{'7', 0xFF, 0xFF, 0xFF});
    }) << QStringList{"Definicja dobowego limitu SMS"} << 0;
    QTest::newRow("subscriber added and one removed") << base << from([](I& im) {
        im.writeSubscriber(43, "22222222222");
        im.freeSubscriber(1);
    }) << QStringList{"Pozycja 1", "Pozycja 43"} << 0;
    QTest::newRow("only the seconds of a timed output") << from([](I& im) {
        im.writeValueGroup(120, std::array<std::uint8_t, 3>{1, 0, 10});
    }) << from([](I& im) {
        im.writeValueGroup(120, std::array<std::uint8_t, 3>{1, 0, 11});
    }) << QStringList{"Czas wysterowania wyjścia nr 1 w sekundach"}
                                                        << 0;
}

void TestCliCommands::diffReports() {
    // Diff names every decoded setting that differs and counts differing bytes no setting reads.
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(QStringList, settings);
    QFETCH(int, uncovered);
    const auto d = comparison::compareImages(fromQt(a), fromQt(b));
    QStringList names;
    for (const auto& x : d.rows) {
        names << QString::fromStdString(x.name);
        QVERIFY2(x.here != x.there, x.name.c_str()); // a reported difference is visible
    }
    QCOMPARE(names, settings);
    QCOMPARE(d.uncoveredBytes, static_cast<std::size_t>(uncovered));
    QCOMPARE(d.equal(), settings.isEmpty() && uncovered == 0);
}

void TestCliCommands::deviceSessions_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("powerOn");
    QTest::addColumn<int>("silentAfter");
    QTest::addColumn<int>("corruptBlock");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("read saves the device memory")
        << "read" << true << -1 << -1 << 0 << "blok 8 z 8";
    QTest::newRow("device never switched on: connect time-out")
        << "read" << false << -1 << -1 << 3 << texts::kConnectFailed;
    QTest::newRow("device falls silent during the read")
        << "read" << true << 3 << -1 << 3 << texts::kReadFailed;
    QTest::newRow("port will not open")
        << "open-fails" << true << -1 << -1 << 2 << texts::kPortOpenFailed;
    QTest::newRow("write and verify")
        << "write" << true << -1 << -1 << 0 << "Weryfikacja zakończona";
    QTest::newRow("device never acknowledges")
        << "write" << true << 0 << -1 << 3 << texts::kWriteFailed;
    QTest::newRow("device loses block 6: verify names it")
        << "write" << true << -1 << 5 << 4 << "blok 6 z 8 (bajty";
}

void TestCliCommands::deviceSessions() {
    // The session ends on the link's own outcome, with the program's exit code and
    // message, at the tick's pace and with --fast alike.
    QFETCH(QString, command);
    QFETCH(bool, powerOn);
    QFETCH(int, silentAfter);
    QFETCH(int, corruptBlock);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const Bytes deviceMemory = randomImage(11, true);
    const Bytes file = randomImage(12, false);
    for (const bool fast : {false, true}) {
        SimulatedFaults faults;
        faults.silentAfterFrames = silentAfter;
        SimulatedDevice device(deviceMemory, faults);
        device.onBlockWritten = [&](int block) {
            if (block == corruptBlock) {
                Bytes m = device.memory();
                m[static_cast<std::size_t>(block) * 512 + 17] ^= 1;
                device.setMemory(m);
            }
        };
        if (powerOn)
            device.powerOn();
        MemoryPort port(&device);
        port.failOpen = command == "open-fails";
        VirtualClock clock;
        QTemporaryDir dir;
        const std::string path = dir.filePath("t.sbn").toStdString();
        std::ostringstream err;
        cli::TransferOptions options;
        options.fast = fast;
        options.verify = true;
        // The write's source, or the old file a read replaces whole or not at all.
        QVERIFY(!saveFileAtomically(path, file.data(), file.size()));
        const int rc = command == "write" ? cli::runWrite("COM1", path, options, port, clock, err)
                                          : cli::runRead("COM1", path, options, port, clock, err);
        QVERIFY2(err.str().find(message.toStdString()) != std::string::npos, err.str().c_str());
        QCOMPARE(rc, exitCode);
        QVERIFY(clock.now < cli::DeviceSession::kStallLimitMs); // ended by the link, not the cap
        if (rc == 0 && command == "read")
            QCOMPARE(loadTemplate(path).bytes, deviceMemory);
        if (rc == 0 && command == "write")
            QCOMPARE(device.memory(), file);
        if (rc != 0 || command == "write")
            QCOMPARE(loadTemplate(path).bytes, file);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"t.sbn"}); // no temp left
    }
}

void TestCliCommands::deviceDiff_data() {
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outHas");
    QTest::addColumn<QString>("errHas");
    QTest::newRow("device just programmed from the file") << "same" << 0 << "Ustawienia zgodne"
                                                          << "";
    QTest::newRow("one setting changed since")
        << "one changed" << 1 << "Numer użytkownika 2\n    urządzenie: 48600999999"
        << "";
    QTest::newRow("device never switched on")
        << "off" << 2 << "" << QString::fromUtf8(texts::kConnectFailed);
    QTest::newRow("device falls silent during the read")
        << "silent" << 2 << "" << QString::fromUtf8(texts::kReadFailed);
    QTest::newRow("file missing: the device is not read") << "no file" << 2 << ""
                                                          << "nie istnieje";
}

void TestCliCommands::deviceDiff() {
    // diff PORT FILE reads the device and compares: 0 equal, 1 different, 2 any error.
    QFETCH(QString, device);
    QFETCH(int, exitCode);
    QFETCH(QString, outHas);
    QFETCH(QString, errHas);
    const Bytes file = randomImage(13, true);
    Bytes memory = file;
    if (device == "one changed") {
        SettingsImage im;
        im.setBytes(memory);
        im.writePhoneNumber(layout::kUserNumber2, "48600999999");
        memory = im.bytes();
    }
    SimulatedFaults faults;
    faults.silentAfterFrames = device == "silent" ? 3 : -1;
    SimulatedDevice sim(memory, faults);
    if (device != "off")
        sim.powerOn();
    MemoryPort port(&sim);
    VirtualClock clock;
    QTemporaryDir dir;
    const std::string path = dir.filePath("t.sbn").toStdString();
    if (device != "no file")
        QVERIFY(!saveFileAtomically(path, file.data(), file.size()));
    std::ostringstream out, err;
    const int rc = cli::runDiffDevice("COM1", path, port, clock, out, err);
    QVERIFY2(out.str().find(outHas.toStdString()) != std::string::npos, out.str().c_str());
    QVERIFY2(err.str().find(errHas.toStdString()) != std::string::npos, err.str().c_str());
    QCOMPARE(rc, exitCode);
    if (rc == 0)
        QCOMPARE(out.str(), std::string("Ustawienia zgodne\n"));
    if (device == "no file")
        QCOMPARE(sim.memory(), memory); // nothing was asked of the device
    QCOMPARE(sim.memory(), memory);     // a diff never writes
}

void TestCliCommands::transferPace_data() {
    QTest::addColumn<bool>("write");
    QTest::addColumn<bool>("fast");
    QTest::newRow("read at the tick's pace") << false << false;
    QTest::newRow("read with --fast") << false << true;
    QTest::newRow("write at the tick's pace") << true << false;
    QTest::newRow("write with --fast") << true << true;
}

void TestCliCommands::transferPace() {
    // By default a request or block goes out once a second; with --fast it follows
    // the previous answer at once, and a transfer takes little more than the wire's time.
    QFETCH(bool, write);
    QFETCH(bool, fast);
    SimulatedDevice device(randomImage(21, false));
    VirtualLine line(device); // 19200 baud, the device answers after 5 ms
    LineClock clock{line};
    std::vector<std::int64_t> arrivals; // of each request or block at the device, in ms
    device.onFrame = [&](bool fromPc, const std::vector<std::uint8_t>& f) {
        if (fromPc && f.size() > 1 && f[1] == (write ? frame::kWrite : frame::kRead))
            arrivals.push_back(line.nowNs() / 1'000'000);
    };
    line.powerOn();
    std::ostringstream progress;
    cli::DeviceSession session(line.port(), clock, progress, fast);
    QVERIFY(session.connect("COM1").ok());

    const Bytes image = randomImage(22, false);
    Bytes got{};
    const std::int64_t start = clock.nowMs();
    QVERIFY(write ? session.write(image).ok() : session.read(got).ok());
    const std::int64_t took = clock.nowMs() - start;
    QCOMPARE(write ? device.memory() : got, write ? image : device.memory());
    QCOMPARE(arrivals.size(), std::size_t{8}); // nothing was asked twice
    // Eight 516-byte and eight 4-byte frames at 19200 baud 8N1.
    const std::int64_t wireMs = 8 * (516 + 4) * 10 * 1000 / 19200;
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        const std::int64_t gap = arrivals[i] - arrivals[i - 1];
        if (fast)
            QVERIFY2(gap < 300, qPrintable(QString("gap %1 ms").arg(gap)));
        else
            QVERIFY2(std::abs(gap - 1000) <= 2, qPrintable(QString("gap %1 ms").arg(gap)));
    }
    if (fast)
        QVERIFY2(took < wireMs + 300, qPrintable(QString("%1 ms").arg(took)));
    else
        QVERIFY2(took >= 8000 && took < 10000, qPrintable(QString("%1 ms").arg(took)));
}

void TestCliCommands::programExitCodes_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stderrHas");
    QTest::newRow("no arguments") << QStringList{} << 2 << "brak polecenia";
    QTest::newRow("missing file") << QStringList{"show"} << 2 << "brak argumentu PLIK";
    QTest::newRow("missing second file") << QStringList{"diff", "@a"} << 2 << "PLIK_B";
    QTest::newRow("directory") << QStringList{"show", "@dir"} << 2 << "to jest katalog";
    QTest::newRow("file that does not exist") << QStringList{"show", "@none"} << 2 << "@none";
    QTest::newRow("unknown option") << QStringList{"show", "--yaml", "@a"} << 2 << "--yaml";
    QTest::newRow("option of another command")
        << QStringList{"diff", "--json", "@a", "@a"} << 2 << "--json";
    QTest::newRow("--fast is for transfers only")
        << QStringList{"show", "--fast", "@a"} << 2 << "--fast";
    QTest::newRow("unknown command") << QStringList{"list"} << 2 << "list";
    QTest::newRow("extra argument") << QStringList{"show", "@a", "@a"} << 2 << "nadmiarowy";
    QTest::newRow("help") << QStringList{"show", "--help"} << 0 << "";
    QTest::newRow("help command") << QStringList{"help"} << 0 << "";
    QTest::newRow("show") << QStringList{"show", "@a"} << 0 << "";
    QTest::newRow("short file warns")
        << QStringList{"show", "--json", "@short"} << 0 << "ostrzeżenie";
    QTest::newRow("equal files") << QStringList{"diff", "@a", "@copy"} << 0 << "";
    QTest::newRow("different files") << QStringList{"diff", "@a", "@b"} << 1 << "";
    QTest::newRow("diff with a directory") << QStringList{"diff", "@a", "@dir"} << 2 << "@dir";
    QTest::newRow("diff against a port that does not exist")
        << QStringList{"diff", "/dev/no-such-tty-here", "@a"} << 2 << texts::kPortOpenFailed;
    QTest::newRow("diff of a port and a missing file")
        << QStringList{"diff", "COM1", "@none"} << 2 << "@none";
    QTest::newRow("sheet of a template") << QStringList{"sheet", "@a", "@dir/a.pdf"} << 0 << "";
    QTest::newRow("sheet of a missing file")
        << QStringList{"sheet", "@none", "@dir/a.pdf"} << 2 << "@none";
    QTest::newRow("sheet into a directory") << QStringList{"sheet", "@a", "@dir"} << 2 << "@dir";
    QTest::newRow("write refuses a short file")
        << QStringList{"write", "COM1", "@short"} << 2 << "4096";
    QTest::newRow("read into a directory") << QStringList{"read", "COM1", "@dir"} << 2 << "@dir";
    QTest::newRow("import") << QStringList{"subscribers", "import", "@a", "@good"} << 0 << "";
    QTest::newRow("import with a refused line writes nothing")
        << QStringList{"subscribers", "import", "@a", "@wrong"} << 2 << "nie został zmieniony";
    QTest::newRow("import skipping the refused line")
        << QStringList{"subscribers", "import",   "--skip-refused", "@a",
                       "@wrong",      "--output", "@dir/out.sbn"}
        << 0 << "";
    QTest::newRow("import from a directory")
        << QStringList{"subscribers", "import", "@a", "@dir"} << 2 << "to jest katalog, nie plik";
    QTest::newRow("import without a list")
        << QStringList{"subscribers", "import", "@a"} << 2 << "brak argumentu CSV";
    QTest::newRow("export to standard output")
        << QStringList{"subscribers", "export", "@a"} << 0 << "";
    QTest::newRow("--replace is for import only")
        << QStringList{"subscribers", "export", "--replace", "@a"} << 2 << "--replace";
    QTest::newRow("port that does not exist")
        << QStringList{"read", "@dir/no-such-tty", "@dir/out.sbn"} << 2 << texts::kPortOpenFailed;
    // A register import judges the size and the header before reading on,
    // and takes in nothing the program refuses everywhere else.
    const QStringList import = {"register", "import", "--register", "@dir/r.sqlite"};
    QTest::newRow("register import of a 2 GiB file: refused unread")
        << import + QStringList{"@huge"} << 2
        << "plik „@huge” odrzucony: plik jest za duży (2 147 483 648 bajtów): eksport rejestru "
           "ma najwyżej 100 000 wersji i 10 000 instalacji, czyli najwyżej 1 143 480 062 bajty";
    QTest::newRow("register import of 2 GiB of zeros")
        << import + QStringList{"@zeros"} << 2 << "to nie jest plik eksportu";
    QTest::newRow("register import of a blank name")
        << import + QStringList{"@unnamed"} << 2 << "nazwa instalacji jest pusta";
    QTest::newRow("register import of a name with leading spaces")
        << import + QStringList{"@spaced"} << 2 << "zaczyna się albo kończy odstępem";
    QTest::newRow("register import of a name with a NUL")
        << import + QStringList{"@nul"} << 2 << "nazwa instalacji zawiera znak sterujący";
    QTest::newRow("register import of a version dated 2099")
        << import + QStringList{"@future"} << 2
        << "wersja 1 w pliku (instalacja „Kowalska”) ma datę 2099-01-01 00:00 (UTC)";
    QTest::newRow("register import of a sound file")
        << import + QStringList{"@export"} << 0
        << "Zaimportowano: 1 nowa instalacja, 1 nowa wersja";
}

void TestCliCommands::programExitCodes() {
    // The program's exit code and one-line message for each kind of misuse and result.
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, stderrHas);
    QTemporaryDir dir;
    const QString a = dir.filePath("a.sbn");
    SettingsImage im;
    QVERIFY(!saveFileAtomically(a.toStdString(), im.bytes().data(), 4096));
    QFile::copy(a, dir.filePath("copy.sbn"));
    im.set(2046, 0); // an unused byte
    QVERIFY(!saveFileAtomically(dir.filePath("b.sbn").toStdString(), im.bytes().data(), 4096));
    QVERIFY(!saveFileAtomically(dir.filePath("short.sbn").toStdString(), im.bytes().data(), 100));
    for (const auto& [name, text] : {std::pair{"good.csv", "601 234 567\r\n"},
                                     std::pair{"wrong.csv", "601 234 567\r\nabc\r\n"}}) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) > 0);
    }
    // Export files: one sound, the others with what only another program writes.
    const auto exportFile = [&](const char* name, const std::string& installation,
                                const std::string& time) {
        reg::ExportContent c;
        c.installations.push_back({installation, "", ""});
        c.versions.push_back({1, time, reg::kind::kRead, "COM1", "0.1.0", "pierwsza wersja", {}});
        const std::string file = reg::encodeExport(c);
        QVERIFY(!saveFileAtomically(dir.filePath(name).toStdString(),
                                    reinterpret_cast<const std::uint8_t*>(file.data()),
                                    file.size()));
    };
    exportFile("export.rejestr", "Kowalska", "2026-01-02T03:04:05.006Z");
    exportFile("blank.rejestr", "  ", "2026-01-02T03:04:05.006Z");
    exportFile("spaced.rejestr", "  Kowalska", "2026-01-02T03:04:05.006Z");
    exportFile("nul.rejestr", std::string("Kowal\0ska", 10), "2026-01-02T03:04:05.006Z");
    exportFile("future.rejestr", "Kowalska", "2099-01-01T00:00:00.000Z");
    // 2 GiB that take no room on the disk, one with an export's header.
    for (const char* name : {"huge.rejestr", "zeros.rejestr"}) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        if (name[0] == 'h')
            f.write(QByteArray(reg::kExportMagic.data(), qsizetype(reg::kExportMagic.size())) +
                    QByteArray("\x01\0\0\0", 4));
        QVERIFY(f.resize(qint64(2) << 30));
    }
    QMap<QString, QString> places = {{"@a", a},
                                     {"@good", dir.filePath("good.csv")},
                                     {"@wrong", dir.filePath("wrong.csv")},
                                     {"@b", dir.filePath("b.sbn")},
                                     {"@copy", dir.filePath("copy.sbn")},
                                     {"@short", dir.filePath("short.sbn")},
                                     {"@none", dir.filePath("none.sbn")},
                                     {"@export", dir.filePath("export.rejestr")},
                                     {"@unnamed", dir.filePath("blank.rejestr")},
                                     {"@spaced", dir.filePath("spaced.rejestr")},
                                     {"@nul", dir.filePath("nul.rejestr")},
                                     {"@future", dir.filePath("future.rejestr")},
                                     {"@huge", dir.filePath("huge.rejestr")},
                                     {"@zeros", dir.filePath("zeros.rejestr")},
                                     {"@dir", dir.path()}};
    auto expand = [&](QString s) {
        for (auto it = places.begin(); it != places.end(); ++it)
            s.replace(it.key(), it.value());
        return s;
    };
    for (QString& arg : args)
        arg = expand(arg);

    QProcess p;
    p.start(TRELLIKON_CLI_PATH, args);
    QVERIFY(p.waitForFinished(20000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(err.contains(expand(stderrHas)), qPrintable(err));
    QCOMPARE(p.exitCode(), exitCode);
    if (exitCode == 2) // one error line, the last (progress may come before it)
        QVERIFY(err.endsWith('\n') && err.count("trellikon-cli: ") == 1 &&
                err.section('\n', -2, -2).startsWith("trellikon-cli: "));
    if (exitCode == 0 && args.contains("--json"))
        QVERIFY(QJsonDocument::fromJson(out.toUtf8()).isObject());
    if (args.contains("--help") || args.contains("help"))
        QVERIFY(out.contains("Kody wyjścia") && out.contains("--verify") &&
                out.contains("--fast") && out.contains("diff"));
}

void TestCliCommands::connectFailureSaysWhatTheLineCarried_data() {
    QTest::addColumn<int>("mode"); // LineMode
    QTest::addColumn<QString>("said");
    QTest::newRow("silent line") << int(LineMode::Silent)
                                 << "Nie odebrano z urządzenia ani jednego bajtu. Sprawdź,";
    QTest::newRow("another device's text")
        << int(LineMode::Garbage)
        << "Odebrano 58 bajtów, ale żadnej ramki urządzenia. Możliwa przyczyna: inne urządzenie "
           "na tym porcie albo zła prędkość.";
    QTest::newRow("damaged frames")
        << int(LineMode::Damaged)
        << "Odebrano 1 ramkę urządzenia z błędną sumą kontrolną. Możliwa przyczyna: uszkodzony "
           "przewód lub zakłócenia.";
}

void TestCliCommands::connectFailureSaysWhatTheLineCarried() {
    // No handshake: exit code 3, the fixed text, then what the line carried.
    QFETCH(int, mode);
    QFETCH(QString, said);
    SimulatedFaults faults;
    faults.mode = LineMode(mode);
    SimulatedDevice device(randomImage(11, true), faults);
    device.powerOn();
    MemoryPort port(&device);
    VirtualClock clock;
    QTemporaryDir dir;
    std::ostringstream err;
    cli::TransferOptions options;
    const int rc =
        cli::runRead("COM1", dir.filePath("t.sbn").toStdString(), options, port, clock, err);
    QCOMPARE(rc, 3);
    const std::string expected =
        std::string(cli::kProgramName) + ": " + texts::kConnectFailed + " " + said.toStdString();
    QVERIFY2(err.str().find(expected) != std::string::npos, err.str().c_str());
    QVERIFY(!QFile::exists(dir.filePath("t.sbn")));
}

void TestCliCommands::missingPortGivesWayToTheRememberedCable_data() {
    QTest::addColumn<QString>("remembered"); // the cable file's text, "" for none
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("said"); // on stderr, "" for nothing about the cable
    const QString ftdi = "usb 0403:6001\nserial A50285BI\n";
    QTest::newRow("COM3 missing, the cable is COM1 now")
        << ftdi << "COM3"
        << "COM1"
        << "Portu COM3 nie ma, ale kabel ostatniego udanego połączenia (FTDI – FT232R USB UART, "
           "USB 0403:6001, nr seryjny A50285BI, sterownik ftdi_sio) jest teraz na porcie COM1: "
           "łączę przez COM1.";
    QTest::newRow("a missing path gives way too")
        << ftdi << "/dev/ttyUSB7"
        << "COM1"
        << "Portu /dev/ttyUSB7 nie ma, ale kabel ostatniego udanego połączenia";
    QTest::newRow("another cable remembered: the chosen port is tried")
        << "usb 1a86:7523\nlocation 1-4\n"
        << "COM3"
        << "COM3"
        << "";
    QTest::newRow("nothing remembered yet: the cable that answers is") << ""
                                                                       << "COM1"
                                                                       << "COM1"
                                                                       << "";
}

void TestCliCommands::missingPortGivesWayToTheRememberedCable() {
    // A missing port gives way to the cable of the last connection, and the
    // cable that answers is remembered.
    QFETCH(QString, remembered);
    QFETCH(QString, chosen);
    QFETCH(QString, opened);
    QFETCH(QString, said);
    QTemporaryDir machine, dir;
    addUsbAdapter(machine.path(), "ttyUSB0|0403:6001|FTDI|FT232R USB UART|A50285BI|ftdi_sio|1-1.2");
    cli::TransferOptions options;
    options.ports.root = machine.path().toStdString();
    options.ports.getenv = nullptr;
    options.cableFile = dir.filePath("cfg/cable.txt").toStdString();
    if (!remembered.isEmpty()) {
        QVERIFY(QDir().mkpath(dir.filePath("cfg")));
        QFile f(QString::fromStdString(options.cableFile));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(remembered.toUtf8());
    }
    SimulatedDevice device(randomImage(11, true));
    device.powerOn();
    MemoryPort port(&device);
    VirtualClock clock;
    std::ostringstream err;
    const int rc = cli::runRead(chosen.toStdString(), dir.filePath("t.sbn").toStdString(), options,
                                port, clock, err);
    QVERIFY2(rc == 0, err.str().c_str());
    QCOMPARE(QString::fromStdString(port.opened.at(0)), opened);
    const QString text = QString::fromStdString(err.str());
    if (said.isEmpty())
        QVERIFY2(!text.contains("kabel ostatniego"), qPrintable(text));
    else
        QVERIFY2(text.contains(said), qPrintable(text));
    // The memory port answered as COM1, which is the FTDI cable: it is kept now.
    const auto kept = CableMemory(options.cableFile).remembered();
    if (opened == "COM1")
        QVERIFY(kept && kept->serial == "A50285BI");
}

void TestCliCommands::portsListNamesTheAdapter() {
    // ports: each name with its device, and below it the adapter.
    QTemporaryDir machine;
    addUsbAdapter(machine.path(), "ttyUSB0|1a86:7523||USB Serial||ch341-uart|1-2");
    PortEnvironment env;
    env.root = machine.path().toStdString();
    env.getenv = nullptr;
    std::ostringstream out;
    QCOMPARE(cli::runPorts(out, env), 0);
    const QStringList lines = QString::fromStdString(out.str()).split('\n');
    QCOMPARE(lines.value(0), "COM1: " + machine.path() + "/dev/ttyUSB0");
    QCOMPARE(lines.value(1), "    WCH CH340 – USB Serial, USB 1a86:7523, sterownik ch341-uart");
    QCOMPARE(lines.value(2), QString::fromUtf8("COM2: brak portu"));
}

void TestCliCommands::exitCodeOfEachFailure_data() {
    // The one place an exit code comes from: every code of a failure, so that
    // a code added later cannot fall through to the wrong number unseen.
    QTest::addColumn<int>("code"); // Failure::Code
    QTest::addColumn<int>("exitCode");
    using C = Failure::Code;
    const std::pair<C, int> rows[] = {
        {C::None, 0},
        {C::TemplatesDiffer, 1},
        {C::Usage, 2},
        {C::Refused, 2},
        {C::FileMissing, 2},
        {C::FileNoPermission, 2},
        {C::FileIsDirectory, 2},
        {C::FileNotRegular, 2},
        {C::FileDeviceName, 2},
        {C::FileBadName, 2},
        {C::FileHeldElsewhere, 2},
        {C::FileTooLarge, 2},
        {C::FileContent, 2},
        {C::FileOther, 2},
        {C::NoSuchDevice, 2},
        {C::PermissionDenied, 2},
        {C::Busy, 2},
        {C::NotASerialPort, 2},
        {C::Register, 2},
        {C::Other, 2},
        {C::NoAnswer, 3},
        {C::VerifyDifferent, 4},
        {C::ChangedOnSite, 5},
    };
    for (const auto& [code, exitCode] : rows)
        QTest::addRow("code %d", int(code)) << int(code) << exitCode;
    QCOMPARE(std::size(rows), std::size_t(C::Other) + 1);
}

void TestCliCommands::exitCodeOfEachFailure() {
    QFETCH(int, code);
    QFETCH(int, exitCode);
    const Failure f = makeFailure(Failure::Code(code), "powód");
    QCOMPARE(cli::exitCodeOf(f), exitCode);
    std::ostringstream err;
    QCOMPARE(cli::fail(err, f), exitCode);
    QCOMPARE(err.str(), std::string("trellikon-cli: powód\n"));
}

void TestCliCommands::personalDataFilesArePrivate_data() {
    QTest::addColumn<QStringList>("args"); // after a read into the register; none: the read
    QTest::addColumn<QString>("written");
    QTest::newRow("read") << QStringList{} << "@dir/odczyt.sbn";
    QTest::newRow("version") << QStringList{"version", "--register", "@reg", "1", "@dir/w.sbn"}
                             << "@dir/w.sbn";
    QTest::newRow("register export")
        << QStringList{"register", "export", "--register", "@reg", "@dir/e.rejestr"}
        << "@dir/e.rejestr";
    QTest::newRow("callers as CSV")
        << QStringList{"subscribers", "export", "@dir/odczyt.sbn", "@dir/a.csv"} << "@dir/a.csv";
    QTest::newRow("settings sheet")
        << QStringList{"sheet", "@dir/odczyt.sbn", "@dir/k.pdf"} << "@dir/k.pdf";
}

void TestCliCommands::personalDataFilesArePrivate() {
    // Files holding residents' numbers are the user's alone (0600), whatever
    // the umask would let others read; so are the folders the program makes
    // for its own files (0700).
    QFETCH(QStringList, args);
    QFETCH(QString, written);
    const mode_t umaskWas = ::umask(022);
    QTemporaryDir machine, dir;
    addUsbAdapter(machine.path(), "ttyUSB0|0403:6001|FTDI|FT232R USB UART|A50285BI|ftdi_sio|1-1.2");
    const QString registerPath = dir.filePath("dane/rejestr.sqlite");
    cli::TransferOptions options;
    options.ports.root = machine.path().toStdString();
    options.ports.getenv = nullptr;
    options.cableFile = dir.filePath("ustawienia/cable.txt").toStdString();
    options.record.mode = cli::RegisterChoice::Record;
    options.record.path = registerPath.toStdString();
    SimulatedDevice device(randomImage(11, true));
    device.powerOn();
    MemoryPort port(&device);
    VirtualClock clock;
    std::ostringstream err;
    QVERIFY2(cli::runRead("COM1", dir.filePath("odczyt.sbn").toStdString(), options, port, clock,
                          err) == 0,
             err.str().c_str());
    const auto modeOf = [](const QString& path) {
        struct stat st {};
        return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
    };
    QCOMPARE(modeOf(dir.filePath("dane")), 0700);
    QCOMPARE(modeOf(dir.filePath("ustawienia")), 0700);
    for (QString& arg : args)
        arg.replace("@dir", dir.path()).replace("@reg", registerPath);
    written.replace("@dir", dir.path());
    if (!args.isEmpty()) {
        QProcess p;
        p.start(TRELLIKON_CLI_PATH, args);
        QVERIFY(p.waitForFinished(20000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    }
    QCOMPARE(modeOf(written), 0600);
    ::umask(umaskWas);
}

QTEST_GUILESS_MAIN(TestCliCommands)
#include "test_cli_commands.moc"
