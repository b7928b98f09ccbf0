// The program started with a template as its argument (a double click on the
// file, "Open with", a file dropped on the program): the file is loaded as the
// load command loads it, and the parameters editor opens with its values; a
// file that cannot be read gets the load's message and the main window stays.
// The program's own options are answered before any window is made.
#include "command_line.h"
#include "program_fixture.h"
#include "program_version.h"
#include "random_image.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace trellikon;

class TestStartWithTemplate : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void startedWithAFile_data();
    void startedWithAFile();
    void fileDroppedOnTheWindow();
    void ownOptions_data();
    void ownOptions();
    void cleanup() { QVERIFY(!QApplication::activeModalWidget()); }
};

namespace {

const char* const kLoadFailed = "Odczyt pliku nie może być przeprowadzony";

// A template whose first user number is 600700800.
QString writeTemplate(const QTemporaryDir& dir, const QString& name) {
    SettingsImage saved;
    saved.setBytes(randomImage(11));
    saved.writePhoneNumber(layout::kUserNumber1, "600700800");
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(reinterpret_cast<const char*>(saved.bytes().data()), 4096);
    return path;
}

} // namespace

void TestStartWithTemplate::startedWithAFile_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("editor");
    QTest::addColumn<QString>("error");
    QTest::newRow("a template opens the editor with its values") << "t.sbn" << true << "";
    QTest::newRow("a name with Polish letters and blanks")
        << QString::fromUtf8("szablon Łódź żółć.sbn") << true << "";
    QTest::newRow("a missing file: the load's message, the main window")
        << "missing.sbn" << false << kLoadFailed;
    QTest::newRow("a folder: the load's message") << "." << false << kLoadFailed;
    QTest::newRow("no argument: the main window only") << "" << false << "";
}

void TestStartWithTemplate::startedWithAFile() {
    QFETCH(QString, argument);
    QFETCH(bool, editor);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeTemplate(dir, QStringLiteral("t.sbn"));
    writeTemplate(dir, QString::fromUtf8("szablon Łódź żółć.sbn"));
    QStringList arguments{QStringLiteral("trellikon")};
    if (!argument.isEmpty())
        arguments << QDir::toNativeSeparators(dir.filePath(argument));

    Program p;
    bool editorShown = false;
    QString number;
    QPointer<QTimer> watch = whenModal(
        [&](QDialog* d) {
            editorShown = d == p.form2();
            number = p.form2()->Edit8->text();
        },
        2000, editor);
    p.form1->openStartupFile(arguments);
    if (editor) {
        QTRY_VERIFY(editorShown);
        QCOMPARE(number, QStringLiteral("600700800"));
        QCOMPARE(p.settings().decoded.user_number[0], std::string("600700800"));
    } else if (!error.isEmpty()) {
        QTRY_COMPARE(p.messages.errors, QStringList{QString::fromUtf8(kLoadFailed)});
        QVERIFY(p.messages.details.first().startsWith(arguments.at(1)));
        QVERIFY(p.form1->isVisible());
    } else {
        QTest::qWait(50);
        QVERIFY(p.messages.errors.isEmpty());
    }
    QVERIFY(!editorShown || editor);
    delete watch;
    QVERIFY(p.files.filters.isEmpty()); // no dialog asked for the name
}

void TestStartWithTemplate::fileDroppedOnTheWindow() {
    // One local file dropped on the main window loads as the argument does;
    // anything else is not taken.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeTemplate(dir, QStringLiteral("t.sbn"));
    Program p;
    QMimeData two;
    two.setUrls({QUrl::fromLocalFile(path), QUrl::fromLocalFile(path)});
    QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &two, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(p.form1.get(), &refused);
    QVERIFY(!refused.isAccepted());

    QMimeData one;
    one.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &one, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(p.form1.get(), &enter);
    QVERIFY(enter.isAccepted());
    QString number;
    whenModal([&](QDialog*) { number = p.form2()->Edit8->text(); });
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &one, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(p.form1.get(), &drop);
    QTRY_COMPARE(number, QStringLiteral("600700800"));
}

void TestStartWithTemplate::ownOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QString>("begins");
    const QString usage = QString::fromUtf8("Użycie: trellikon [SZABLON.sbn]\n");
    QTest::newRow("--help") << QStringList{"--help"} << true << usage;
    QTest::newRow("-h") << QStringList{"-h"} << true << usage;
    QTest::newRow("--version") << QStringList{"--version"} << true
                               << QStringLiteral("trellikon %1\n").arg(kProgramVersion);
    QTest::newRow("no argument") << QStringList{} << false << "";
    QTest::newRow("a template is opened") << QStringList{"t.sbn"} << false << "";
    QTest::newRow("the toolkit's own option goes on to it")
        << QStringList{"-platform", "offscreen"} << false << "";
    QTest::newRow("only the first argument is an option")
        << QStringList{"t.sbn", "--help"} << false << "";
}

void TestStartWithTemplate::ownOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, answered);
    QFETCH(QString, begins);
    std::vector<QByteArray> bytes{"trellikon"};
    for (const QString& a : arguments)
        bytes.push_back(a.toUtf8());
    std::vector<const char*> argv;
    for (const QByteArray& b : bytes)
        argv.push_back(b.constData());
    argv.push_back(nullptr);
    const auto answer = answerCommandLine(int(bytes.size()), argv.data());
    QCOMPARE(answer.has_value(), answered);
    if (!answer)
        return;
    QCOMPARE(answer->status, 0);
    QVERIFY2(QString::fromStdString(answer->text).startsWith(begins), answer->text.c_str());
}

QTEST_MAIN(TestStartWithTemplate)
#include "test_start_with_template.moc"
