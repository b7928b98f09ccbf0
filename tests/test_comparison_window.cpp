// The comparison window: the device read into a copy leaves the program's
// settings and editors exactly as they were; a file compared and taken in;
// a read that does not complete compares nothing; the settings sheet from the
// parameters editor.
#include "files.h"
#include "program_fixture.h"
#include "sample_image.h"
#include "settings_comparison_window.h"

#include <QFile>
#include <QTemporaryDir>

using namespace trellikon;
using namespace trellikon::layout;
using Bytes = SettingsImage::Bytes;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The template the program loads: the tests' sample installation.
SettingsImage templateImage() {
    return testing::sampleImage();
}

// The template with one user number, one text and one caller changed.
Bytes deviceImage() {
    SettingsImage im = templateImage();
    im.writePhoneNumber(kUserNumber2, "48600999999");
    im.writeText(input1OnText, "Alarm: okno");
    im.freeSubscriber(43);
    return im.bytes();
}

struct Kept {
    Bytes image;
    DecodedSettings decoded;
    SubscriberTable subscribers;
};
Kept keep(DeviceSettings& s) {
    return {s.image.bytes(), s.decoded, s.subscribers};
}

} // namespace

class TestComparisonWindow : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup();
    void deviceReadIntoACopy();
    void identicalDeviceGivesOneLine();
    void readThatDoesNotCompleteComparesNothing_data();
    void readThatDoesNotCompleteComparesNothing();
    void fileComparedAndTakenIn();
    void fileNameShownAsText_data();
    void fileNameShownAsText();
    void settingsSheetFromTheEditor();
};

void TestComparisonWindow::cleanup() {
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

// Loads the template into the program the way the user does.
static void loadTemplateFile(Program& p, const QString& path) {
    p.files.answers << path;
    whenModal([](QDialog*) {}); // the parameters editor the load opens
    p.form1->SpeedButton7Click();
}

static QString saveTemplate(QTemporaryDir& dir, const QString& name, const Bytes& b) {
    const QString path = dir.filePath(name);
    if (saveFileAtomically(fileLayerPath(path), b.data(), b.size()))
        return {};
    return path;
}

void TestComparisonWindow::deviceReadIntoACopy() {
    // The device's differences are listed, and afterwards the image, the decoded
    // settings, the list of callers and what the editors show are as before.
    Program p(deviceImage());
    QTemporaryDir dir;
    loadTemplateFile(p, saveTemplate(dir, "t.sbn", templateImage().bytes()));
    p.connect();
    const Kept before = keep(p.settings());

    QString results;
    bool editorOpened = false;
    QPointer<QTimer> editorWatch;
    whenModal([&](QDialog* d) {
        auto* w = qobject_cast<ComparisonWindow*>(d);
        QVERIFY(w);
        whenModal([&](QDialog*) { // the read progress window
            QVERIFY(p.tickUntil([&] { return !p.form1->session().reading(); }));
            QCOMPARE(p.form4()->Label1->text(), QString::fromUtf8(texts::kReadDone));
            editorWatch = whenModal([&](QDialog*) { editorOpened = true; }, 300, false);
            p.form4()->Button1->click();
        });
        w->DeviceButton->click();
        delete editorWatch; // nothing can open it any more
        QVERIFY(w->comparison());
        results = w->Results->toPlainText();
        QVERIFY2(w->comparison()->rows.size() == 3, qPrintable(results));
        QVERIFY(w->TakeButton->isEnabled());
        w->CloseButton->click();
    });
    p.form1->CompareButtonClick();
    QVERIFY(!editorOpened); // a copy read opens no editor
    QVERIFY2(results.contains("Numer użytkownika 2") && results.contains("48600999999") &&
                 results.contains("Komunikat 1+: aktywacja wejścia 1") &&
                 results.contains("Pozycja 43 (usunięty)") && results.contains("W urządzeniu"),
             qPrintable(results));

    QVERIFY(p.settings().image.bytes() == before.image);
    QVERIFY(p.settings().decoded == before.decoded);
    QVERIFY(p.settings().subscribers == before.subscribers);
    p.inParametersEditor([](TForm2* f) {
        QCOMPARE(f->Edit9->text(), QStringLiteral("48600100201"));
        QCOMPARE(f->Edit7->text(), QStringLiteral("48601000310"));
    });
    p.inTextsEditor([](TForm3* t) { QCOMPARE(t->Edit4->text(), QStringLiteral("Alarm: drzwi")); });
    QVERIFY(p.settings().image.bytes() == before.image);
}

void TestComparisonWindow::identicalDeviceGivesOneLine() {
    // A device just programmed from the loaded template: one line, nothing else.
    Program p(templateImage().bytes());
    QTemporaryDir dir;
    loadTemplateFile(p, saveTemplate(dir, "t.sbn", templateImage().bytes()));
    p.connect();
    QString results;
    whenModal([&](QDialog* d) {
        auto* w = qobject_cast<ComparisonWindow*>(d);
        QVERIFY(w);
        whenModal([&](QDialog*) {
            QVERIFY(p.tickUntil([&] { return !p.form1->session().reading(); }));
            p.form4()->Button1->click();
        });
        w->DeviceButton->click();
        results = w->Results->toPlainText();
    });
    p.form1->CompareButtonClick();
    QCOMPARE(results.trimmed(), QStringLiteral("Ustawienia zgodne"));
}

void TestComparisonWindow::readThatDoesNotCompleteComparesNothing_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("device falls silent: the read times out") << "silent";
    QTest::newRow("progress window closed before the end") << "closed";
    QTest::newRow("not connected") << "unconnected";
}

void TestComparisonWindow::readThatDoesNotCompleteComparesNothing() {
    // The read's own message tells what happened; no difference is listed and
    // the program's settings stay as they were.
    QFETCH(QString, how);
    SimulatedFaults faults;
    faults.silentAfterFrames = how == "silent" ? 4 : -1;
    Program p(deviceImage());
    p.device.setFaults(faults);
    if (how != "unconnected")
        p.connect();
    const Kept before = keep(p.settings());
    QString results;
    bool compared = true;
    bool takeEnabled = true;
    whenModal([&](QDialog* d) {
        auto* w = qobject_cast<ComparisonWindow*>(d);
        QVERIFY(w);
        if (how != "unconnected")
            whenModal([&](QDialog*) {
                if (how == "silent") {
                    for (int i = 0; i < 8; ++i)
                        p.form1->Timer1Timer();
                    for (int i = 0; i < 60; ++i)
                        p.form1->Timer2Timer();
                    QCOMPARE(p.form4()->Label1->text(), QString::fromUtf8(texts::kReadFailed));
                } else {
                    p.form1->Timer1Timer();
                    p.form1->Timer1Timer();
                }
                p.form4()->Button1->click();
            });
        w->DeviceButton->click();
        results = w->Results->toPlainText();
        compared = w->comparison().has_value();
        takeEnabled = w->TakeButton->isEnabled();
    });
    p.form1->CompareButtonClick();
    QVERIFY(!compared);
    QVERIFY(!takeEnabled);
    QVERIFY2(results.contains("nic nie porównano"), qPrintable(results));
    if (how == "unconnected")
        QCOMPARE(p.messages.errors, QStringList{QString::fromUtf8(texts::kReadNotConnected)});
    QVERIFY(p.settings().image.bytes() == before.image);
    QVERIFY(p.settings().decoded == before.decoded);
}

void TestComparisonWindow::fileComparedAndTakenIn() {
    // A template compared with the program; taken in, it replaces the program's
    // settings as a load does and the parameters editor shows them.
    Program p;
    QTemporaryDir dir;
    const Bytes other = deviceImage();
    p.files.answers << saveTemplate(dir, "inny.sbn", other);
    QString source, results, editorNumber;
    bool taken = false;
    whenModal([&](QDialog* d) {
        auto* w = qobject_cast<ComparisonWindow*>(d);
        QVERIFY(w);
        w->FileButton->click();
        source = w->SourceLabel->text();
        results = w->Results->toPlainText();
        whenModal([&](QDialog*) { // the parameters editor
            editorNumber = p.form2()->Edit9->text();
            // As loaded; leaving the editor stores its controls back.
            taken = p.settings().image.bytes() == other;
        });
        w->TakeButton->click();
    });
    p.form1->CompareButtonClick();
    QVERIFY2(source.contains("inny.sbn"), qPrintable(source));
    QVERIFY(results.contains("W szablonie") && results.contains("Definiowanie masek"));
    QCOMPARE(editorNumber, QStringLiteral("48600999999"));
    QVERIFY(taken);
    QCOMPARE(p.form1->settingsOrigin(), QString::fromUtf8("plik „\u2068inny.sbn\u2069”"));
}

void TestComparisonWindow::fileNameShownAsText_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown"); // between the isolating marks
    const QString markup =
        u("<img src=\"&#47;dev&#47;zero\"><font size=6 color=red>Ustawienia zgodne<br>nic.sbn");
    QTest::newRow("markup is text") << markup << markup.left(29) + u("…") + markup.right(30);
    QTest::newRow("an entity stays as typed") << u("&lt;v2&gt;.sbn") << u("&lt;v2&gt;.sbn");
    QTest::newRow("a direction override cannot turn the name")
        << u("faktura_\u202Efdp.sbn") << u("faktura_\uFFFDfdp.sbn");
    const QString longName = QString(246, QLatin1Char('a')) + u(".sbn");
    QTest::newRow("250 characters, shortened in the middle")
        << longName
        << QString(29, QLatin1Char('a')) + u("…") + QString(26, QLatin1Char('a')) + u(".sbn");
}

void TestComparisonWindow::fileNameShownAsText() {
    // A template's name is the user's, or whoever sent the file: the line above
    // the differences shows it as plain text, shortened, isolated from the
    // text around it, and the window keeps its width.
    QFETCH(QString, name);
    QFETCH(QString, shown);
    Program p;
    QTemporaryDir dir;
    // Written directly: a name this long leaves no room for a temporary one.
    QFile file(dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    const Bytes other = deviceImage();
    file.write(reinterpret_cast<const char*>(other.data()), qint64(other.size()));
    file.close();
    p.files.answers << file.fileName();
    whenModal([&](QDialog* d) {
        auto* w = qobject_cast<ComparisonWindow*>(d);
        QVERIFY(w);
        w->FileButton->click();
        QCOMPARE(w->SourceLabel->textFormat(), Qt::PlainText);
        QCOMPARE(w->SourceLabel->text(), u("Porównanie z: plik „\u2068%1\u2069”").arg(shown));
        const QString whole = QString(name).replace(QChar(0x202E), QChar(0xFFFD));
        QCOMPARE(w->SourceLabel->toolTip(), u("<p>%1</p>").arg(whole.toHtmlEscaped()));
        QVERIFY2(w->sizeHint().width() < 1200, qPrintable(QString::number(w->sizeHint().width())));
        w->CloseButton->click();
    });
    p.form1->CompareButtonClick();
}

void TestComparisonWindow::settingsSheetFromTheEditor() {
    // The parameters editor writes the sheet of what it shows, as a PDF.
    Program p;
    QTemporaryDir dir;
    loadTemplateFile(p, saveTemplate(dir, "t.sbn", templateImage().bytes()));
    const QString pdf = dir.filePath("karta");
    p.files.answers << pdf;
    p.inParametersEditor([](TForm2* f) { f->SheetButton->click(); });
    QCOMPARE(p.messages.plains,
             QStringList{QString::fromUtf8("Operacja zapisu do pliku przeprowadzona pomyślnie")});
    QFile f(pdf + ".pdf");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.read(5) == "%PDF-");
}

QTEST_MAIN(TestComparisonWindow)
#include "test_comparison_window.moc"
