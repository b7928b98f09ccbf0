// The comparison engine behind the comparison window and `trellikon-cli diff`:
// rows under the editors' names, the changed characters of a text, the callers
// by position, and the program's own settings as one side.
#include "editor_model.h"
#include "sample_image.h"
#include "settings_comparison.h"
#include "template_view.h"

#include <QTest>

#include <functional>

using namespace trellikon;
using namespace trellikon::layout;
using Bytes = SettingsImage::Bytes;
using comparison::RowKind;

Q_DECLARE_METATYPE(comparison::RowKind)

namespace {

// A device as an installer leaves it: numbers, masks, outputs, texts, callers.
SettingsImage installed() {
    return testing::sampleImage();
}

Bytes changed(const std::function<void(SettingsImage&)>& change) {
    SettingsImage im = installed();
    change(im);
    return im.bytes();
}

QString joined(const std::vector<comparison::Segment>& segments, bool changedOnly) {
    QString s;
    for (const auto& seg : segments)
        if (!changedOnly || seg.changed)
            s += QString::fromStdString(seg.text) + (changedOnly ? "|" : "");
    return s;
}

} // namespace

class TestSettingsComparison : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void eachDifferenceOnceUnderItsName_data();
    void eachDifferenceOnceUnderItsName();
    void identicalSettingsGiveOneLine();
    void changedCharactersOfATextAreMarked_data();
    void changedCharactersOfATextAreMarked();
    void programSide_data();
    void programSide();
    void paddingAfterAValueIsNoDifference_data();
    void paddingAfterAValueIsNoDifference();
};

void TestSettingsComparison::eachDifferenceOnceUnderItsName_data() {
    QTest::addColumn<Bytes>("there");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("name");
    QTest::addColumn<RowKind>("kind");
    QTest::addColumn<QString>("here");
    QTest::addColumn<QString>("thereValue");
    QTest::newRow("user number") << changed([](SettingsImage& im) {
        im.writePhoneNumber(kUserNumber2, "48600999999");
    }) << "Definiowanie numerów użytkowników"
                                 << "Numer użytkownika 2" << RowKind::Setting << "48600100201"
                                 << "48600999999";
    QTest::newRow("number emptied")
        << changed([](SettingsImage& im) { im.writePhoneNumber(kSmsCentreNumber, ""); })
        << "Definiowanie Centrum SMS"
        << "Numer Centrum SMS" << RowKind::Setting << "48601000310"
        << "(puste)";
    QTest::newRow("mask") << changed([](SettingsImage& im) { im.writeValuePair(kSmsMask, 0x08); })
                          << "Definiowanie masek"
                          << "Maska SMS" << RowKind::Setting << "użytkownicy 1, 2"
                          << "użytkownik 1";
    QTest::newRow("input mask emptied")
        << changed([](SettingsImage& im) { im.writeValuePair(kInputMask, 0); })
        << "Definiowanie masek"
        << "Maska wejść" << RowKind::Setting << "wejścia 1, 2, 3, 4"
        << "żadne wejście";
    QTest::newRow("output mode") << changed([](SettingsImage& im) {
        const std::uint8_t on[] = {1, 0};
        im.writeValueGroup(kOutput2Permanent, on);
    }) << "Definiowanie sterowanie wyjść"
                                 << "Wysterowanie wyjścia na stałe: wyjście nr 2"
                                 << RowKind::Setting << "NIEAKTYWNE"
                                 << "AKTYWNE";
    QTest::newRow("text") << changed([](SettingsImage& im) {
        im.writeText(powerLossText, "Zanik 24V");
    }) << "Definiowanie komunikatów alarmowych"
                          << "Komunikat 0+: zanik zasilania" << RowKind::Text << "\"Zanik 230V\""
                          << "\"Zanik 24V\"";
    // The same value, once as the default a failed check gave (the installed
    // image never wrote ECHO) and once as stored: only the mark differs.
    QTest::newRow("check mended, value the same")
        << changed([](SettingsImage& im) { im.writeValuePair(kEchoEnabled, 1); })
        << "Definiowanie pozostałych parametrów"
        << "ECHO" << RowKind::Setting
        << QString::fromUtf8("tak ") + QString::fromUtf8(inspector::kFallbackMark) << "tak";
    QTest::newRow("caller added") << changed([](SettingsImage& im) {
        im.writeSubscriber(100, "48700000001");
    }) << "Abonenci"
                                  << "Pozycja 100" << RowKind::CallerAdded << "(wolna)"
                                  << "48700000001";
    QTest::newRow("caller removed")
        << changed([](SettingsImage& im) { im.freeSubscriber(43); }) << "Abonenci"
        << "Pozycja 43" << RowKind::CallerRemoved << "48512345678"
        << "(wolna)";
    QTest::newRow("caller changed")
        << changed([](SettingsImage& im) { im.writeSubscriber(2, "48600100299"); }) << "Abonenci"
        << "Pozycja 2" << RowKind::CallerChanged << "48600100201"
        << "48600100299";
}

void TestSettingsComparison::eachDifferenceOnceUnderItsName() {
    // One change gives exactly one row, under the editor's group and caption,
    // with both values as the editor shows them; nothing else differs.
    QFETCH(Bytes, there);
    QFETCH(QString, group);
    QFETCH(QString, name);
    QFETCH(RowKind, kind);
    QFETCH(QString, here);
    QFETCH(QString, thereValue);
    const auto c = comparison::compareImages(installed().bytes(), there);
    QCOMPARE(c.rows.size(), std::size_t{1});
    const auto& r = c.rows.front();
    QCOMPARE(QString::fromStdString(r.group), group);
    QCOMPARE(QString::fromStdString(r.name), name);
    QCOMPARE(r.kind, kind);
    QCOMPARE(QString::fromStdString(r.here), here);
    QCOMPARE(QString::fromStdString(r.there), thereValue);
    QCOMPARE(c.uncoveredBytes, std::size_t{0});
    const std::string text = comparison::renderText(c, "tu", "tam");
    QVERIFY(text.find(name.toStdString()) != std::string::npos);
    QVERIFY(text.find(comparison::kEqual) == std::string::npos);
}

void TestSettingsComparison::identicalSettingsGiveOneLine() {
    // The same settings, even with every check failing, give one line and nothing else.
    for (const Bytes& b : {installed().bytes(), SettingsImage().bytes(), Bytes{}}) {
        const auto c = comparison::compareImages(b, b);
        QVERIFY(c.equal());
        QCOMPARE(comparison::renderText(c, "A", "B"), std::string("Ustawienia zgodne\n"));
    }
}

void TestSettingsComparison::changedCharactersOfATextAreMarked_data() {
    QTest::addColumn<QString>("here");
    QTest::addColumn<QString>("there");
    QTest::addColumn<QString>("hereChanged");
    QTest::addColumn<QString>("thereChanged");
    QTest::newRow("digits in the middle") << "Zanik 230V"
                                          << "Zanik 24V"
                                          << "30|"
                                          << "4|";
    QTest::newRow("a word added at the end") << "Alarm"
                                             << "Alarm garaz"
                                             << ""
                                             << " garaz|";
    QTest::newRow("a changed blank") << "Okno salon"
                                     << "Okno_salon"
                                     << " |"
                                     << "_|";
    QTest::newRow("nothing in common") << "abc"
                                       << "xyz"
                                       << "abc|"
                                       << "xyz|";
    QTest::newRow("a control byte shows escaped") << "A\x01"
                                                     "B"
                                                  << "AB"
                                                  << "\\x01|"
                                                  << "";
}

void TestSettingsComparison::changedCharactersOfATextAreMarked() {
    // The characters outside the longest common run are marked on each side,
    // and the segments put together give the whole value back.
    QFETCH(QString, here);
    QFETCH(QString, there);
    QFETCH(QString, hereChanged);
    QFETCH(QString, thereChanged);
    std::vector<comparison::Segment> a, b;
    comparison::markChanges(here.toStdString(), there.toStdString(), a, b);
    QCOMPARE(joined(a, true), hereChanged);
    QCOMPARE(joined(b, true), thereChanged);
    QCOMPARE(joined(b, false), there);
}

void TestSettingsComparison::programSide_data() {
    QTest::addColumn<Bytes>("file");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("here");
    const Bytes device = installed().bytes();
    QTest::newRow("loaded and untouched") << device << QStringList{} << "";
    QTest::newRow("erased memory: every default, no mark against itself")
        << SettingsImage().bytes() << QStringList{} << "";
    QTest::newRow("user number edited")
        << device << QStringList{"Numer użytkownika 3"} << "48500900800";
    QTest::newRow("caller removed in the list") << device << QStringList{"Pozycja 43"} << "(wolna)";
    QTest::newRow("erased memory, ECHO switched off in the editor")
        << SettingsImage().bytes() << QStringList{"ECHO"} << "nie";
}

void TestSettingsComparison::programSide() {
    // The program's settings (as edited, with the callers a write would leave)
    // against the file they were loaded from: only the edits differ, and a
    // default kept from a failed check is no difference.
    QFETCH(Bytes, file);
    QFETCH(QStringList, names);
    QFETCH(QString, here);
    DeviceSettings program;
    program.image.setBytes(file);
    program.decodeAll();
    const QString row = QTest::currentDataTag();
    if (row.contains("user number"))
        program.decoded.user_number[2] = "48500900800";
    if (row.contains("caller removed"))
        program.subscribers.remove(43);
    if (row.contains("ECHO"))
        program.decoded.echo_on = false;
    const auto c =
        comparison::compare(inspector::inspectProgram(program), inspector::inspect(file));
    QStringList got;
    for (const auto& r : c.rows)
        got << QString::fromStdString(r.name);
    QCOMPARE(got, names);
    if (!names.isEmpty())
        QCOMPARE(QString::fromStdString(c.rows.front().here), here);
    QCOMPARE(c.uncoveredBytes, std::size_t{0});
}

void TestSettingsComparison::paddingAfterAValueIsNoDifference_data() {
    QTest::addColumn<Bytes>("device");
    using Four = std::array<std::uint8_t, 4>;
    const auto digits = [](std::size_t offset, Four bytes) {
        return changed([=](SettingsImage& im) { im.writeValueGroup(offset, bytes); });
    };
    QTest::newRow("daily limit with 0x00 after it, as the encoder writes it")
        << digits(kDailySmsLimit, {'5', '0', 0, 0});
    QTest::newRow("daily limit 7 with a stale byte after its 0")
        << digits(kDailySmsLimit, {'7', 0, 0, '3'});
    QTest::newRow("daily limit padded with 0xFF") << digits(kDailySmsLimit, {'5', '0', 0xFF, 0xFF});
    QTest::newRow("daily limit padded with spaces") << digits(kDailySmsLimit, {'5', '0', ' ', ' '});
    QTest::newRow("balance days with a stale tail")
        << digits(kBalanceIntervalDays, {'3', 0, '9', '9'});
    QTest::newRow("balance SMS count with 0x00 after it")
        << digits(kBalanceSmsCount, {'1', '5', 0, 0});
    QTest::newRow("alarm text with a stale tail after its 0") << changed([](SettingsImage& im) {
        im.writeText(3, "Alarm");
        im.set(*textSlotOffset(3) + 40, 'z');
    });
    QTest::newRow("erased memory") << SettingsImage().bytes();
}

void TestSettingsComparison::paddingAfterAValueIsNoDifference() {
    // A device whose memory the program read, shown in the editors (whose
    // controls end a value at its first 0 byte) and left untouched, holds what
    // the program holds: the comparison says so whatever the padding.
    QFETCH(Bytes, device);
    DeviceSettings program;
    program.image.setBytes(device);
    program.decodeAll();
    EditorSnapshot shown = editor::shownOnOpen(program);
    const auto asAControlHoldsIt = [](std::string& s) { s = std::string(inspector::untilNul(s)); };
    for (std::string* s :
         {&shown.sms_centre_number, &shown.daily_sms_limit, &shown.balance_sms_count,
          &shown.balance_days, &shown.balance_query_code, &shown.output1_auto_seconds,
          &shown.output2_auto_seconds, &shown.test_message_user})
        asAControlHoldsIt(*s);
    for (auto& s : shown.user_number)
        asAControlHoldsIt(s);
    for (auto& s : shown.texts)
        asAControlHoldsIt(s);
    editor::storeParameters(shown, program);
    editor::storeTexts(shown, program.decoded);

    const auto windows =
        comparison::compare(inspector::inspectProgram(program), inspector::inspect(device));
    QVERIFY2(windows.equal(), comparison::renderText(windows, "program", "urządzenie").c_str());
}

QTEST_GUILESS_MAIN(TestSettingsComparison)
#include "test_settings_comparison.moc"
