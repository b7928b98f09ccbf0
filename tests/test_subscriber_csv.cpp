// The caller list's CSV files: what the reader makes of the files spreadsheets
// save, the verdict of every line, and the way back out.
#include "files.h"
#include "subscriber_csv.h"
#include "system_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace trellikon;
using namespace trellikon::csv;

namespace {

// "line:verdict[:number@position]" for every line, joined by " | ".
QString verdicts(const ImportPlan& plan) {
    QStringList out;
    for (const ImportLine& l : plan.lines) {
        QString s =
            QStringLiteral("%1:%2").arg(l.line).arg(QString::fromUtf8(verdictName(l.verdict)));
        if (l.verdict == Verdict::Accepted)
            s += QStringLiteral(":%1@%2").arg(QString::fromStdString(l.number)).arg(l.position);
        out << s;
    }
    return out.join(QStringLiteral(" | "));
}

ImportPlan planOf(const QByteArray& bytes, const SubscriberTable& table = {},
                  ImportMode mode = ImportMode::AddAtFreePositions) {
    const CallerText text = decodeCallerText(std::string_view(bytes.constData(), bytes.size()));
    if (!text.ok())
        qFatal("not text: %s", text.failure.message.c_str());
    const CallerFile file = readCallers(text.text);
    if (!file.ok)
        qFatal("not read: %s", file.error.c_str());
    return planImport(file, table, mode);
}

std::string number(int n) {
    return std::to_string(48600000000LL + n);
}

} // namespace

class TestSubscriberCsv : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void reader_data();
    void reader();
    void refusedFiles_data();
    void refusedFiles();
    void filesNotRead();
    void reasonsNameTheLine();
    void replaceKeepsPositions();
    void exportThenImportGivesTheSameImage();
    void spreadsheetFillsTheList();
    void reasonsInWords_data();
    void reasonsInWords();
    void unicodeText_data();
    void unicodeText();
    void severalNumberColumns();
    void spreadsheetFiles_data();
    void spreadsheetFiles();
    void exportResavedBySpreadsheet();
};

void TestSubscriberCsv::reader_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected");
    auto row = [](const char* name, const QByteArray& file, const char* expected) {
        QTest::newRow(name) << file << QString::fromUtf8(expected);
    };
    const char* one = "1:nagłówek | 2:przyjęty:48601234567@1";
    row("semicolon, header, CRLF", "Pozycja;Numer telefonu\r\n1;48601234567\r\n", one);
    row("comma, LF", "lp,telefon\n7,48601234567\n", one);
    row("tab", "Nazwisko\tTelefon\nKowalski\t48601234567\n", one);
    row("old Mac line ends", "Telefon\r601234567\r", one);
    row("UTF-8 with a byte order mark", "\xEF\xBB\xBFTelefon\r\n+48 601 234 567\r\n", one);
    row("Windows-1250 header", "Imi\xEA;Nazwisko;Kom\xF3rka\r\nJan;Ko\xB3odziej;601234567\r\n",
        one);
    row("a quoted separator and quote",
        "Nazwisko;Telefon\n\"Nowak; \"\"Zenek\"\"\";\"601 234 567\"\n", one);
    row("a quoted line end counts its lines",
        "Adres;Telefon\n\"ul. Polna 1\nm. 4\";601234567\n;601234568\n",
        "1:nagłówek | 2:przyjęty:48601234567@1 | 4:przyjęty:48601234568@2");
    row("no header: the number column by content",
        "Kowalski;m. 4;601234567\nNowak;m. 5;601234568\n",
        "1:przyjęty:48601234567@1 | 2:przyjęty:48601234568@2");
    row("a comma inside a semicolon file", "Kowalski, Jan;601234567\n", "1:przyjęty:48601234567@1");
    row("telephone wins over a flat's number", "Numer mieszkania;Telefon\n12;601234567\n", one);
    row("blank lines and empty cells are left out", "\n;;\nTelefon\n\n601234567\n;;\n",
        "3:nagłówek | 5:przyjęty:48601234567@1");
    // Normalisation, each form on its own line.
    row("the usual Polish forms",
        "+48 601 234 561\n601-234-562\n0048601234563\n(601) 234.564\n48601234565\n"
        "601\xC2\xA0"
        "234\xC2\xA0"
        "566\n+48\xE2\x80\x93"
        "601234567\n",
        "1:przyjęty:48601234561@1 | 2:przyjęty:48601234562@2 | 3:przyjęty:48601234563@3 | "
        "4:przyjęty:48601234564@4 | 5:przyjęty:48601234565@5 | 6:przyjęty:48601234566@6 | "
        "7:przyjęty:48601234567@7");
    row("not telephone numbers",
        "60123456\n4860123456789\n601a34567\n4.86012E+10\n+\n00\n++48601234567\n",
        "1:odrzucony | 2:odrzucony | 3:odrzucony | 4:odrzucony | 5:odrzucony | 6:odrzucony | "
        "7:odrzucony");
    row("eleven digits stand as they are, leading zeros too", "00000000002\n000 0000 0002\n",
        "1:przyjęty:00000000002@1 | 2:pominięty");
    row("a number twice in the file", "601234567\n+48601234567\n",
        "1:przyjęty:48601234567@1 | 2:pominięty");
    // A phone cell in a spreadsheet's number format: its zero decimals are
    // not digits of the number; any other fraction or an exponent is refused.
    row("number cells with zero decimals",
        "Telefon\n722126970.00\n722126971,00\n722126972.0\n48722126973.00\n",
        "1:nagłówek | 2:przyjęty:48722126970@1 | 3:przyjęty:48722126971@2 | "
        "4:przyjęty:48722126972@3 | 5:przyjęty:48722126973@4");
    row("number cells the spreadsheet has rounded",
        "Telefon\n722126970.50\n4.86012E+10\n\"4,86012E+10\"\n4.86012e10\n",
        "1:nagłówek | 2:odrzucony | 3:odrzucony | 4:odrzucony | 5:odrzucony");
    // Excel's text-forcing forms (written by hand as Excel writes them).
    row("Excel's =\"...\" and apostrophe",
        "Telefon\r\n=\"48601234567\"\r\n\"=\"\"601234568\"\"\"\r\n'601234569\r\n'+48 601 234 "
        "570\r\n",
        "1:nagłówek | 2:przyjęty:48601234567@1 | 3:przyjęty:48601234568@2 | "
        "4:przyjęty:48601234569@3 | 5:przyjęty:48601234570@4");
    row("the old trunk prefix", "Telefon\n0 22 123 45 67\n(0-42) 630-11-22\n0 601 234 567\n",
        "1:nagłówek | 2:przyjęty:48221234567@1 | 3:przyjęty:48426301122@2 | "
        "4:przyjęty:48601234567@3");
    row("a line break and blanks around the number in its cell",
        "Telefon;Uwagi\n\"601234567\n\";a\n\" \r\n601234568 \";b\n",
        "1:nagłówek | 2:przyjęty:48601234567@1 | 4:przyjęty:48601234568@2");
    row("a title and blank rows above the header",
        "Lista mieszkańców 2024;;\n;;\n\nNazwisko;Lokal;Telefon\nNowak;3;601234567\n",
        "1:nagłówek | 4:nagłówek | 5:przyjęty:48601234567@1");
    row("a title above a header with a flat's number",
        "Mieszkańcy\nNazwisko;Numer lokalu;Numer kontaktowy\nNowak;12;601234567\n"
        "Kowal;12a;601234568\n",
        "1:nagłówek | 2:nagłówek | 3:przyjęty:48601234567@1 | 4:przyjęty:48601234568@2");
    row("a flat's number before the contact number: chosen by content",
        "Numer lokalu;Numer kontaktowy\n1;601234567\n2;601 234 568\n",
        "1:nagłówek | 2:przyjęty:48601234567@1 | 3:przyjęty:48601234568@2");
    row("a note naming a telephone is no header", "Kowalski;601234567;tel. po 18\n",
        "1:przyjęty:48601234567@1");
}

void TestSubscriberCsv::reader() {
    // Whatever the separator, quoting, encoding and line ends, the number
    // column is found and each number normalised to the list's eleven digits.
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    QCOMPARE(verdicts(planOf(file)), expected);
}

void TestSubscriberCsv::refusedFiles_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");
    QTest::newRow("UTF-16 cut in a code unit") << QByteArray("\xFF\xFE"
                                                             "6\0"
                                                             "0",
                                                             5)
                                               << "UTF-16";
    QTest::newRow("UTF-16 with a lone surrogate") << QByteArray("\xFF\xFE"
                                                                "6\0"
                                                                "\x00\xD8"
                                                                "0\0",
                                                                8)
                                                  << "UTF-16";
    QTest::newRow("UTF-16 without a byte order mark") << QByteArray("6\0"
                                                                    "0\0",
                                                                    4)
                                                      << "znak sterujący";
    QTest::newRow("an unclosed quote")
        << QByteArray("Telefon;Uwagi\n601234567;ok\n601234568;\"brama\n"
                      "601234569;x\n601234570;y\n")
        << "cudzysłów otwarty w wierszu 3";
    QTest::newRow("a zero byte") << QByteArray("601234567\n6012\0"
                                               "34567\n",
                                               20)
                                 << "wierszu 2";
    QTest::newRow("an escape character") << QByteArray("Telefon\n\x1B[2J\n") << "wierszu 2";
    QTest::newRow("a byte order mark over Windows-1250")
        << QByteArray("\xEF\xBB\xBFKom\xF3rka\n") << "UTF-8";
    QTest::newRow("empty") << QByteArray() << "żadnego wiersza";
    QTest::newRow("only blanks") << QByteArray(" \r\n;;\r\n") << "żadnego wiersza";
    QTest::newRow("only a header") << QByteArray("Pozycja;Numer telefonu\r\n") << "nagłówek";
    QTest::newRow("too many lines") << QByteArray("601234567\n").repeated(kMostLines + 1) << "5000";
}

void TestSubscriberCsv::refusedFiles() {
    // A file that is not text, or holds nothing to import, is refused as a
    // whole, with a reason.
    QFETCH(QByteArray, file);
    QFETCH(QString, error);
    const CallerText text = decodeCallerText(std::string_view(file.constData(), file.size()));
    const std::string why = text.ok() ? readCallers(text.text).error : text.failure.message;
    QVERIFY2(QString::fromStdString(why).contains(error), why.c_str());
}

void TestSubscriberCsv::filesNotRead() {
    // A directory, a named pipe and a file over 1 MiB are refused without
    // being read (a pipe without a writer would hang a read).
    QTemporaryDir dir;
    // Windows has no named pipes among its files.
    const std::string fifo = dir.filePath(QStringLiteral("pipe")).toStdString();
    if (test::makeNamedPipe(fifo))
        QCOMPARE(readCallerFile(fifo).failure.message, std::string(load_reason::kNotRegularFile));
    QCOMPARE(readCallerFile(dir.path().toStdString()).failure.message,
             std::string(load_reason::kDirectory));
    const std::string big = dir.filePath(QStringLiteral("big.csv")).toStdString();
    const std::string text(kLargestFile + 1, '\n');
    QVERIFY(
        !saveFileAtomically(big, reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    const Failure tooLarge = readCallerFile(big).failure;
    QCOMPARE(int(tooLarge.code), int(Failure::Code::FileTooLarge));
    QVERIFY(QString::fromStdString(tooLarge.message).contains(QStringLiteral("1 MiB")));
    const Failure missing = readCallerFile(big.substr(0, big.size() - 1)).failure;
    QCOMPARE(int(missing.code), int(Failure::Code::FileMissing));
    QCOMPARE(missing.message, std::string(load_reason::kMissing));
}

void TestSubscriberCsv::reasonsNameTheLine() {
    // Every report line names its line in the file and says why in words.
    SubscriberTable table;
    table.set(4, "48601234568");
    const ImportPlan plan = planOf("Telefon\n601 23\n601234567\n601234567\n601234568\n", table);
    QStringList said;
    for (const ImportLine& l : plan.lines)
        said << QString::fromStdString(describe(l));
    QCOMPARE(said, QStringList({
                       QString::fromUtf8("wiersz 1: nagłówek – wiersz nagłówka"),
                       QString::fromUtf8(
                           "wiersz 2: odrzucony – „601 23” nie jest numerem telefonu (5 cyfr "
                           "zamiast 9 albo 11)"),
                       QString::fromUtf8("wiersz 3: przyjęty 48601234567 – pozycja 1"),
                       QString::fromUtf8("wiersz 4: pominięty – numer 48601234567 powtórzony w "
                                         "pliku (wiersz 3)"),
                       QString::fromUtf8("wiersz 5: pominięty – abonent 48601234568 jest już na "
                                         "liście (pozycja 4)"),
                   }));
    QCOMPARE(summary(plan), std::string("Przyjęte: 1, pominięte z ostrzeżeniem: 2, odrzucone: 1"));
}

void TestSubscriberCsv::replaceKeepsPositions() {
    // Replacing: positions from the file are kept; a taken or impossible one
    // gives way to the lowest position left free; the old list is gone and its
    // slots are freed by the next encoding.
    SubscriberTable table;
    table.set(1, number(900));
    table.set(2, number(901));
    const ImportPlan plan = planOf("Pozycja;Telefon\n5;600000001\n5;600000002\n;600000003\n"
                                   "200;600000004\n2;48600000901\n",
                                   table, ImportMode::ReplaceList);
    QCOMPARE(verdicts(plan),
             QString::fromUtf8("1:nagłówek | 2:przyjęty:48600000001@5 | 3:przyjęty:48600000002@1 "
                               "| 4:przyjęty:48600000003@3 | 5:przyjęty:48600000004@4 | "
                               "6:przyjęty:48600000901@2"));
    QVERIFY(plan.lines[2].reason.find("wiersz 2") != std::string::npos);
    QVERIFY(plan.lines[4].reason.find("200") != std::string::npos);
    QCOMPARE(plan.result.entry(1).number, number(2));
    QVERIFY(!plan.result.entry(6).removed && plan.result.entry(6).number.empty());
}

void TestSubscriberCsv::exportThenImportGivesTheSameImage() {
    // The exported file, imported back over another list with "replace",
    // gives the image the same bytes; the file is what a spreadsheet opens.
    DeviceSettings original;
    for (int n : {1, 2, 42, 43, 100, 168})
        original.subscribers.set(n, number(n));
    original.Encode_Subscribers();
    const std::string exported = exportSubscribers(original.subscribers);
    QVERIFY(exported.starts_with("\xEF\xBB\xBFPozycja;Numer telefonu\r\n1;48600000001\r\n"));
    QVERIFY(exported.ends_with("\r\n168;48600000168\r\n"));

    DeviceSettings other;
    for (int n = 1; n <= 60; ++n)
        other.subscribers.set(n, number(1000 + n));
    other.Encode_Subscribers();
    const ImportPlan plan =
        planOf(QByteArray::fromStdString(exported), other.subscribers, ImportMode::ReplaceList);
    QCOMPARE(plan.accepted, 6);
    other.subscribers = plan.result;
    other.Encode_Subscribers();
    QVERIFY(other.image.bytes() == original.image.bytes());
}

void TestSubscriberCsv::spreadsheetFillsTheList() {
    // 168 numbers in the forms people write them fill the list in one import;
    // the 169th is refused because the list is full.
    QByteArray file = "Lp.;Nazwisko;Telefon\r\n";
    const char* forms[] = {"+48 601 %03d %03d", "601-%03d-%03d", "0048601%03d%03d"};
    for (int i = 1; i <= 169; ++i)
        file += QByteArray::number(i) + ";Mieszkaniec " + QByteArray::number(i) + ";" +
                QString::asprintf(forms[i % 3], i / 1000, i % 1000).toUtf8() + "\r\n";
    ImportPlan plan = planOf(file);
    QCOMPARE(plan.accepted, 168);
    QCOMPARE(plan.refused, 1);
    QCOMPARE(QString::fromStdString(describe(plan.lines.back())),
             QString::fromUtf8("wiersz 170: odrzucony – lista pełna (168 abonentów)"));
    for (int n = 1; n <= 168; ++n)
        QCOMPARE(plan.result.entry(n).number,
                 "48601000" + QString::asprintf("%03d", n).toStdString());
}

void TestSubscriberCsv::reasonsInWords_data() {
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("reason");
    QTest::newRow("one digit") << QByteArray("6") << "1 cyfra zamiast";
    QTest::newRow("two digits") << QByteArray("60") << "2 cyfry zamiast";
    QTest::newRow("five digits") << QByteArray("601 23") << "5 cyfr zamiast";
    QTest::newRow("twelve digits") << QByteArray("486012345671") << "12 cyfr zamiast";
    QTest::newRow("twenty-two digits")
        << QByteArray("4860123456748601234567") << "22 cyfry zamiast";
    QTest::newRow("a line break inside") << QByteArray("601\n234567") << "(znak końca wiersza)";
    QTest::newRow("a zero-width space") << QByteArray("601\xE2\x80\x8B"
                                                      "234567")
                                        << "(niewidoczny znak U+200B)";
    QTest::newRow("a soft hyphen") << QByteArray("601\xC2\xAD"
                                                 "234567")
                                   << "(niewidoczny znak U+00AD)";
    QTest::newRow("a letter") << QByteArray("601a34567") << "(znak „a”)";
    QTest::newRow("a fraction") << QByteArray("722126970.50") << "ułamkową";
    QTest::newRow("an exponent") << QByteArray("4,86012E+10") << "wykładniczym";
}

void TestSubscriberCsv::reasonsInWords() {
    // A reason counts in proper Polish and names a character the user could
    // not see by its code, not as a blank between quotes; a number the
    // spreadsheet has rounded says to format the column as text.
    QFETCH(QByteArray, field);
    QFETCH(QString, reason);
    const NumberCheck check = normaliseNumber(std::string_view(field.constData(), field.size()));
    QVERIFY(check.number.empty());
    const QString said = QString::fromStdString(check.problem);
    QVERIFY2(said.contains(reason), qPrintable(said));
    QVERIFY2(!said.contains(QString::fromUtf8("„ ”")) && !said.contains(QLatin1Char('\n')),
             qPrintable(said));
    if (reason == QString::fromUtf8("ułamkową") || reason == QString::fromUtf8("wykładniczym"))
        QVERIFY(said.contains(QString::fromUtf8("jako tekst")));
}

void TestSubscriberCsv::unicodeText_data() {
    QTest::addColumn<bool>("bigEndian");
    QTest::newRow("little endian") << false;
    QTest::newRow("big endian") << true;
}

void TestSubscriberCsv::unicodeText() {
    // "Unicode text" of Excel and LibreOffice: UTF-16 with a byte order mark,
    // tab-separated; characters beyond the basic plane come through whole.
    QFETCH(bool, bigEndian);
    const QString text = QString::fromUtf8("Nazwisko\tTelefon\r\nŻółć 😀\t601 234 567\r\n");
    QByteArray bytes = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (const QChar c : text) {
        const char hi = static_cast<char>(c.unicode() >> 8),
                   lo = static_cast<char>(c.unicode() & 0xFF);
        bytes += bigEndian ? QByteArray(1, hi) + QByteArray(1, lo)
                           : QByteArray(1, lo) + QByteArray(1, hi);
    }
    const CallerText decoded = decodeCallerText(std::string_view(bytes.constData(), bytes.size()));
    QVERIFY2(decoded.ok(), decoded.failure.message.c_str());
    QCOMPARE(QString::fromStdString(decoded.text), text);
    QCOMPARE(verdicts(planOf(bytes)), QString::fromUtf8("1:nagłówek | 2:przyjęty:48601234567@1"));
}

void TestSubscriberCsv::severalNumberColumns() {
    // Of two telephone columns one is read and the other named in the notes;
    // a line with its number only in the other is refused with a pointer
    // there. Chosen together, each number is a caller, an empty cell beside
    // a number is no refusal, and only a line with no number at all is.
    const QByteArray bytes = "Nazwisko;Telefon 1;Telefon 2\nNowak;601234561;601234562\n"
                             "Kowal;;601234563\nZięba;601234564;\nBąk;;\n";
    const CallerText text = decodeCallerText(std::string_view(bytes.constData(), bytes.size()));
    CallerFile file = readCallers(text.text);
    QVERIFY(file.ok);
    QCOMPARE(file.numberColumns, std::vector<int>{1});
    QCOMPARE(columnNotes(file),
             (std::vector<std::string>{
                 "numery z kolumny „Telefon 1” (kolumna 2)",
                 "pominięta kolumna „Telefon 2” (kolumna 3): 2 numery telefonów"}));
    ImportPlan plan = planImport(file, {}, ImportMode::AddAtFreePositions);
    QCOMPARE(QString::fromStdString(describe(plan.lines[2])),
             QString::fromUtf8("wiersz 3: odrzucony – brak numeru telefonu w kolumnie „Telefon 1” "
                               "(kolumna 2) (numer jest w kolumnie „Telefon 2” (kolumna 3))"));

    QCOMPARE(findColumn(file, "telefon 2"), 2);
    QCOMPARE(findColumn(file, " Telefon2 "), 2);
    QCOMPARE(findColumn(file, "2"), 1);
    QCOMPARE(findColumn(file, "4"), -1);
    QCOMPARE(findColumn(file, "Komórka"), -1);
    chooseColumns(file, {2, 1, 2, 7, -1});
    QCOMPARE(file.numberColumns, (std::vector<int>{1, 2}));
    plan = planImport(file, {}, ImportMode::AddAtFreePositions);
    QCOMPARE(verdicts(plan),
             QString::fromUtf8("1:nagłówek | 2:przyjęty:48601234561@1 | "
                               "2:przyjęty:48601234562@2 | 3:przyjęty:48601234563@3 | "
                               "4:przyjęty:48601234564@4 | 5:odrzucony"));
    QCOMPARE(
        QString::fromStdString(describe(plan.lines[2])),
        QString::fromUtf8("wiersz 2, „Telefon 2” (kolumna 3): przyjęty 48601234562 – pozycja 2"));
    QCOMPARE(columnNotes(file).size(), std::size_t{1});

    // Replacing: a line's position goes to its first number.
    const QByteArray withPositions = "Lp;Tel. 1;Tel. 2\n7;601234561;601234562\n";
    const CallerText t2 =
        decodeCallerText(std::string_view(withPositions.constData(), withPositions.size()));
    CallerFile f2 = readCallers(t2.text);
    chooseColumns(f2, {0, 1, 2}); // the position column is never a number column
    QCOMPARE(f2.numberColumns, (std::vector<int>{1, 2}));
    QCOMPARE(verdicts(planImport(f2, {}, ImportMode::ReplaceList)),
             QString::fromUtf8("1:nagłówek | 2:przyjęty:48601234561@7 | 2:przyjęty:48601234562@1"));
}

namespace {

QString fixture(const QString& name) {
    return QStringLiteral(TRELLIKON_CSV_FIXTURES "/") + name;
}

} // namespace

void TestSubscriberCsv::spreadsheetFiles_data() {
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("readByDefault");
    const std::pair<const char*, const char*> sheets[] = {{"mieszkancy", "Tel. komórkowy"},
                                                          {"telefony", "Telefon 2"},
                                                          {"lokale", "Numer kontaktowy"}};
    for (const auto& [sheet, column] : sheets)
        for (const char* form : {".lo-semicolon.csv", ".lo-comma.csv", ".lo-unicode.txt",
                                 ".gnumeric.csv", ".gnumeric-preserve.csv"}) {
            const QString file = QString::fromLatin1(sheet) + QString::fromLatin1(form);
            QTest::newRow(qPrintable(file))
                << QString::fromLatin1(sheet) << file << QString::fromUtf8(column);
        }
}

void TestSubscriberCsv::spreadsheetFiles() {
    // Files LibreOffice and Gnumeric wrote from the sheets beside them (phone
    // cells partly in number format with two decimals, a title row, notes
    // with separators, quotes and line breaks): with every telephone column
    // chosen, each cell gives exactly the number the sheet holds, on its line.
    QFETCH(QString, sheet);
    QFETCH(QString, file);
    QFETCH(QString, readByDefault);
    QFile expectedFile(fixture(sheet + QStringLiteral(".expected")));
    QVERIFY(expectedFile.open(QIODevice::ReadOnly));
    QStringList expected, columns;
    for (const QString& l :
         QString::fromUtf8(expectedFile.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList parts = l.split('\t');
        QCOMPARE(parts.size(), 3);
        expected << parts[0] + ' ' + parts[2];
        if (!columns.contains(parts[1]))
            columns << parts[1];
    }
    const CallerText text = readCallerFile(fixture(file).toStdString());
    QVERIFY2(text.ok(), text.failure.message.c_str());
    CallerFile callers = readCallers(text.text);
    QVERIFY2(callers.ok, callers.error.c_str());
    QCOMPARE(callers.numberColumns.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(
                 callers.columns[static_cast<std::size_t>(callers.numberColumns[0])].name),
             readByDefault);
    // Every other telephone column is named as left out.
    QCOMPARE(columnNotes(callers).size(), static_cast<std::size_t>(columns.size()));

    std::vector<int> chosen;
    for (const QString& c : columns) {
        chosen.push_back(findColumn(callers, c.toStdString()));
        QVERIFY(chosen.back() >= 0);
    }
    chooseColumns(callers, chosen);
    const ImportPlan plan = planImport(callers, {}, ImportMode::AddAtFreePositions);
    QStringList got;
    for (const ImportLine& l : plan.lines) {
        QVERIFY2(l.verdict != Verdict::Refused, describe(l).c_str());
        if (l.verdict != Verdict::Header)
            got << QStringLiteral("%1 %2").arg(l.line).arg(QString::fromStdString(l.number));
    }
    QCOMPARE(got, expected);
}

void TestSubscriberCsv::exportResavedBySpreadsheet() {
    // Our export, opened in LibreOffice and saved again as CSV (see the
    // fixtures' README), imports back as the same list.
    SubscriberTable table;
    for (int n : {1, 2, 42, 43, 100, 168})
        table.set(n, number(n));
    QFile ours(fixture(QStringLiteral("eksport.csv")));
    QVERIFY(ours.open(QIODevice::ReadOnly));
    QCOMPARE(ours.readAll().toStdString(), exportSubscribers(table)); // the file is ours

    for (const char* name : {"eksport.lo-resaved.csv", "eksport.lo-resaved-comma.csv"}) {
        const CallerText text = readCallerFile(fixture(QString::fromLatin1(name)).toStdString());
        QVERIFY2(text.ok(), text.failure.message.c_str());
        const CallerFile file = readCallers(text.text);
        QVERIFY2(file.ok, file.error.c_str());
        SubscriberTable other;
        other.set(5, number(900));
        const ImportPlan plan = planImport(file, other, ImportMode::ReplaceList);
        QCOMPARE(plan.accepted, 6);
        for (int n = 1; n <= layout::kSubscriberCount; ++n)
            QCOMPARE(plan.result.entry(n).number, table.entry(n).number);
    }
}

QTEST_GUILESS_MAIN(TestSubscriberCsv)
#include "test_subscriber_csv.moc"
