// The settings sheet (PDF): real text with every value of a full template in
// it, the Polish letters exact, a small file, and the save's rules.
#include "cp1250.h"
#include "files.h"
#include "sample_image.h"
#include "settings_sheet.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace trellikon;
using namespace trellikon::layout;

namespace {

const char* const kPolish = "Zażółć gęślą jaźń ĄĆĘŁŃÓŚŹŻ";

std::string cp1250(const char* utf8) {
    return *utf8ToCp1250(utf8);
}

// Every field set, every text distinct, the first `callers` callers.
SettingsImage fullTemplate(int callers = kSubscriberCount) {
    SettingsImage im = testing::sampleImage();
    for (int n = 1; n <= kSubscriberCount; ++n)
        im.freeSubscriber(n);
    im.writePhoneNumber(kUserNumber1, "48600100201");
    im.writePhoneNumber(kUserNumber2, "48600100202");
    im.writePhoneNumber(kUserNumber3, "48600100203");
    im.writePhoneNumber(kUserNumber4, "48600100204");
    const std::uint8_t timed[] = {1, 0x01, 0x2C};
    im.writeValueGroup(kOutput1AutoEnabled, timed);
    im.writeDigits(kDailySmsLimit, "50");
    im.writeText(messageHeaderText, cp1250("DOM KOWALSKICH: "));
    for (int k = 1; k < kTextSlotCount; ++k)
        im.writeText(k, "Alarm nr " + std::to_string(k) + ": wejscie zgloszone");
    im.writeText(input8OnText, cp1250(kPolish));
    for (int n = 1; n <= callers; ++n)
        im.writeSubscriber(n, std::to_string(48500000000LL + n * 1000 + 7));
    return im;
}

// The PDF's text as a reader copies it, lines joined; `extra` picks pages or
// keeps the layout.
QString pdfText(const QString& path, const QStringList& extra = {}) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"),
            extra + QStringList{QStringLiteral("-enc"), QStringLiteral("UTF-8"), path,
                                QStringLiteral("-")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestSettingsSheet : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase();
    void everyValueIsText();
    void callerColumnsStayOnTheirPage_data();
    void callerColumnsStayOnTheirPage();
    void saveRules_data();
    void saveRules();
    void faceMustHaveThePolishLetters_data();
    void faceMustHaveThePolishLetters();
};

void TestSettingsSheet::faceMustHaveThePolishLetters_data() {
    QTest::addColumn<QString>("family");
    QTest::addColumn<bool>("usable");
    QTest::newRow("DejaVu Sans") << "DejaVu Sans" << true;
    QTest::newRow("a face the system lacks, though it would lend another")
        << "Brak Takiej Czcionki" << false;
}

// The sheet is written in a face that really has every Polish letter, never
// in a stand-in the system lends for a missing one.
void TestSettingsSheet::faceMustHaveThePolishLetters() {
    QFETCH(QString, family);
    QFETCH(bool, usable);
    QCOMPARE(sheet::hasPolishLetters(family), usable);
    QCOMPARE(sheet::sheetFontFamily(), QStringLiteral("DejaVu Sans"));
}

void TestSettingsSheet::initTestCase() {
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty(),
             "pdftotext (poppler-utils) is needed: scripts/setup.sh installs it");
}

void TestSettingsSheet::everyValueIsText() {
    // A full template's sheet holds every user number, every alarm text as sent
    // (header first), all 168 callers and the Polish letters, as searchable
    // text; with all callers it stays well under 200 kB.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("karta.pdf"));
    const SettingsImage im = fullTemplate();
    sheet::SheetOrigin origin{QStringLiteral("plik „brama.sbn”"),
                              QDateTime(QDate(2026, 12, 9), QTime(1, 30))};
    QVERIFY(sheet::writeSheet(path.toStdString(), inspector::inspect(im.bytes()), origin).empty());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.read(5) == "%PDF-");
    QVERIFY2(f.size() < 200 * 1024, qPrintable(QString::number(f.size())));
    // The same face on every system, embedded.
    f.seek(0);
    const QByteArray bytes = f.readAll();
    QVERIFY(bytes.contains("DejaVuSans") && bytes.contains("/FontFile"));

    const QString text = pdfText(path);
    QVERIFY(!text.isEmpty());
    // A text may be broken over lines where the page is too narrow for it.
    QString flat = text;
    flat.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
    QVERIFY(flat.contains(QStringLiteral("plik „brama.sbn”")));
    QVERIFY(flat.contains(QStringLiteral("09.12.2026, 01:30")));
    for (int i = 1; i <= 4; ++i)
        QVERIFY(flat.contains(QStringLiteral("4860010020%1").arg(i)));
    QVERIFY(flat.contains(QStringLiteral("48601000310")));
    for (int k = 1; k < kTextSlotCount; ++k) {
        const QString sent =
            k == input8OnText
                ? QStringLiteral("DOM KOWALSKICH: ") + QString::fromUtf8(kPolish)
                : QStringLiteral("DOM KOWALSKICH: Alarm nr %1: wejscie zgloszone").arg(k);
        QVERIFY2(flat.contains(sent), qPrintable(sent));
    }
    // Numbers are never broken, so each stands whole in the raw text.
    for (int n = 1; n <= kSubscriberCount; ++n)
        QVERIFY2(text.contains(QString::number(48500000000LL + n * 1000 + 7)),
                 qPrintable(QString::number(n)));
    for (const char* caption :
         {"Definiowanie numerów użytkowników", "Wysterowanie wyjścia na stałe",
          "Czas wysterowania wyjścia nr 1 w sekundach", "Abonenci CLIP (168 z 168)",
          "Imię i nazwisko"})
        QVERIFY2(flat.contains(QString::fromUtf8(caption)), caption);
}

void TestSettingsSheet::callerColumnsStayOnTheirPage_data() {
    QTest::addColumn<int>("callers");
    QTest::newRow("full list") << kSubscriberCount;
    QTest::newRow("part of a page") << 97;
    QTest::newRow("one caller") << 1;
}

// The list is read down each column, so a page break must not cut a column:
// down every page's columns, page after page, the positions come in order
// and none is missing.
void TestSettingsSheet::callerColumnsStayOnTheirPage() {
    QFETCH(int, callers);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("karta.pdf"));
    sheet::SheetOrigin origin{QStringLiteral("plik „brama.sbn”"), QDateTime::currentDateTime()};
    QVERIFY(sheet::writeSheet(path.toStdString(), inspector::inspect(fullTemplate(callers).bytes()),
                              origin)
                .empty());
    const QRegularExpression pair(QStringLiteral("(\\d+) 485\\d{8}"));
    QList<int> read;
    for (int page = 1; page < 10; ++page) {
        const QString text =
            pdfText(path, {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                           QStringLiteral("-l"), QString::number(page)});
        if (text.isEmpty())
            break;
        QList<QList<int>> columns(4);
        for (const QString& line : text.split(u'\n')) {
            int column = 0;
            for (auto m = pair.globalMatch(line); m.hasNext() && column < 4; ++column)
                columns[column].append(m.next().captured(1).toInt());
        }
        for (const auto& column : columns)
            read += column;
    }
    QList<int> expected;
    for (int n = 1; n <= callers; ++n)
        expected.append(n);
    QCOMPARE(read, expected);
}

void TestSettingsSheet::saveRules_data() {
    QTest::addColumn<QString>("target");
    QTest::newRow("into a directory") << "@dir";
    QTest::newRow("into a folder that does not exist") << "@dir/no/such/karta.pdf";
}

void TestSettingsSheet::saveRules() {
    // A sheet that cannot be written reports why and leaves nothing behind.
    QFETCH(QString, target);
    QTemporaryDir dir;
    target.replace(QStringLiteral("@dir"), dir.path());
    const std::string e =
        sheet::writeSheet(target.toStdString(), inspector::inspect(fullTemplate().bytes()), {});
    QVERIFY(!e.empty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{});
}

QTEST_MAIN(TestSettingsSheet)
#include "test_settings_sheet.moc"
