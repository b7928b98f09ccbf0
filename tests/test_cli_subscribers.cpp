// trellikon-cli subscribers import run as a user runs it: the column choice,
// the report of every line with the number it took, and the cases that must
// leave the template untouched.
#include "device_settings.h"
#include "files.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace trellikon;

namespace {

QString fixture(const char* name) {
    return QStringLiteral(TRELLIKON_CSV_FIXTURES "/") + QString::fromLatin1(name);
}

std::vector<std::uint8_t> bytesOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = f.readAll();
    return std::vector<std::uint8_t>(all.begin(), all.end());
}

} // namespace

class TestCliSubscribers : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void import_data();
    void import();
};

void TestCliSubscribers::import_data() {
    QTest::addColumn<QString>("csv"); // a fixture's name, or "@" and the file's text
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("outHas");
    QTest::addColumn<QString>("errHas");
    QTest::addColumn<QStringList>("listed"); // "position=number" in the saved template
    const QString residents = fixture("mieszkancy.lo-semicolon.csv");
    QTest::newRow("the mobile column; the landline one named, a landline-only resident refused")
        << residents << QStringList{} << 2
        << QStringList{"numery z kolumny „Tel. komórkowy” (kolumna 4)",
                       "pominięta kolumna „Tel. stacjonarny” (kolumna 3): 5 numerów telefonów",
                       "--column", "wiersz 4: przyjęty 48722126970 – pozycja 2",
                       "wiersz 12: odrzucony – brak numeru telefonu w kolumnie „Tel. "
                       "komórkowy” (kolumna 4) (numer jest w kolumnie „Tel. stacjonarny” "
                       "(kolumna 3))"}
        << "nie został zmieniony" << QStringList{};
    QTest::newRow("both columns chosen by name: every number a caller")
        << residents << QStringList{"--column", "Tel. stacjonarny", "--column=tel. KOMÓRKOWY"} << 0
        << QStringList{"numery z kolumn „Tel. stacjonarny” (kolumna 3), „Tel. komórkowy” "
                       "(kolumna 4)",
                       "wiersz 4, „Tel. stacjonarny” (kolumna 3): przyjęty 48221234567 – "
                       "pozycja 2",
                       "wiersz 4, „Tel. komórkowy” (kolumna 4): przyjęty 48722126970 – "
                       "pozycja 3",
                       "Przyjęte: 14, pominięte z ostrzeżeniem: 1, odrzucone: 0"}
        << "" << QStringList{"1=48600000001", "2=48221234567", "3=48722126970", "15=48608000111"};
    QTest::newRow("a column by its number")
        << fixture("telefony.lo-unicode.txt") << QStringList{"--column", "3", "--skip-refused"} << 0
        << QStringList{"wiersz 2: przyjęty 48691234501 – pozycja 2"} << ""
        << QStringList{"2=48691234501", "3=48693111222", "4=48695555666"};
    QTest::newRow("a column the file does not have")
        << residents << QStringList{"--column", "Komórka"} << 2 << QStringList{}
        << "nie ma kolumny „Komórka”; kolumny: „Nazwisko i imię” (kolumna 1)" << QStringList{};
    QTest::newRow("--column needs a value") << residents << QStringList{"--column"} << 2
                                            << QStringList{} << "--column" << QStringList{};
    QTest::newRow("replace with every line refused leaves the list")
        << "@Telefon\n12\nabc\n"
        << QStringList{"--replace", "--skip-refused"} << 2
        << QStringList{"Przyjęte: 0, pominięte z ostrzeżeniem: 0, odrzucone: 2"}
        << "nie przyjęto żadnego numeru" << QStringList{};
    QTest::newRow("add with nothing accepted is no success")
        << "@Telefon\n48600000001\nabc\n"
        << QStringList{"--skip-refused"} << 2 << QStringList{"wiersz 2: pominięty"}
        << "nie przyjęto żadnego numeru" << QStringList{};
    QTest::newRow("an unclosed quote refuses the whole file")
        << "@Telefon;Uwagi\n601234567;ok\n601234568;\"brama\n601234569;x\n"
        << QStringList{"--skip-refused"} << 2 << QStringList{} << "cudzysłów otwarty w wierszu 3"
        << QStringList{};
}

void TestCliSubscribers::import() {
    QFETCH(QString, csv);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QStringList, outHas);
    QFETCH(QString, errHas);
    QFETCH(QStringList, listed);
    QTemporaryDir dir;
    const QString sbn = dir.filePath("t.sbn"), out = dir.filePath("out.sbn");
    DeviceSettings settings;
    settings.subscribers.set(1, "48600000001");
    settings.Encode_Subscribers();
    QVERIFY(!saveFileAtomically(sbn.toStdString(), settings.image.bytes().data(), 4096));
    const std::vector<std::uint8_t> before = bytesOf(sbn);
    if (csv.startsWith('@')) {
        const QString path = dir.filePath("lista.csv");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(csv.mid(1).toUtf8()) > 0);
        csv = path;
    }
    QProcess p;
    p.start(TRELLIKON_CLI_PATH,
            QStringList{"subscribers", "import", sbn, csv, "--output", out} + options);
    QVERIFY(p.waitForFinished(20000));
    const QString said = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitCode(), exitCode);
    for (const QString& line : outHas)
        QVERIFY2(said.contains(line), qPrintable(said + "\n-- wanted: " + line));
    QVERIFY2(err.contains(errHas), qPrintable(err));
    QCOMPARE(bytesOf(sbn), before);
    if (exitCode != 0) {
        QVERIFY(!QFile::exists(out));
        return;
    }
    const TemplateLoad load = loadTemplate(out.toStdString());
    QVERIFY(load.ok() && load.fileSize == 4096);
    DeviceSettings saved;
    saved.image.setBytes(load.bytes);
    saved.Decode_Subscribers();
    for (const QString& entry : listed) {
        const int position = entry.section('=', 0, 0).toInt();
        QCOMPARE(QString::fromStdString(saved.subscribers.entry(position).number),
                 entry.section('=', 1));
    }
}

QTEST_GUILESS_MAIN(TestCliSubscribers)
#include "test_cli_subscribers.moc"
