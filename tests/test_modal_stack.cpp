// The window stack: our own activation, not the window system's; where the
// file dialogs start; and text from outside made safe to show in a window.
#include "outside_text.h"
#include "window_support.h"
#include "window_test_support.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList calls;

class LoggedDialog : public StackDialog {
  public:
    explicit LoggedDialog(const QString& name) { setObjectName(name); }
    void FormActivate() override { calls << objectName() + "+"; }
    void FormDeactivate() override { calls << objectName() + "-"; }
};

class LoggedRoot : public StackWindow {
  public:
    QWidget w;
    QWidget* widget() override { return &w; }
    void FormActivate() override { calls << "root+"; }
    void FormDeactivate() override { calls << "root-"; }
};

} // namespace

class TestModalStack : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() { calls.clear(); }
    void cleanup() { QVERIFY(QApplication::activeModalWidget() == nullptr); }
    void showingOverAnotherSwapsActivation();
    void closingFromTheMiddleLeavesTheTopActive();
    void showingAWindowTwiceIsHarmless();
    void outsideTextInALine_data();
    void outsideTextInALine();
    void fileDialogsStartInTheLastFolder_data();
    void fileDialogsStartInTheLastFolder();
};

void TestModalStack::fileDialogsStartInTheLastFolder_data() {
    QTest::addColumn<QString>("chosen"); // relative to a temporary folder; "" for none
    QTest::addColumn<bool>("removeIt");
    QTest::addColumn<QString>("start"); // relative to it; "Documents" for the user's
    QTest::newRow("first time: Documents") << "" << false << "Documents";
    QTest::newRow("after a file chosen in a folder: that folder")
        << "szablony/a.sbn" << false << "szablony";
    QTest::newRow("the folder since removed: Documents") << "szablony/a.sbn" << true << "Documents";
    QTest::newRow("the program's folder: Documents") << "program/a.sbn" << false << "Documents";
}

// The open and save dialogs start in the folder last used, and in the user's
// Documents before that or when it is gone; never in the program's folder,
// which a Start-menu shortcut makes the working folder.
void TestModalStack::fileDialogsStartInTheLastFolder() {
    QFETCH(QString, chosen);
    QFETCH(bool, removeIt);
    QFETCH(QString, start);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath("szablony") && QDir(dir.path()).mkpath("program"));
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    if (!chosen.isEmpty())
        rememberDialogFolder(settings, dir.filePath(chosen));
    if (removeIt)
        QVERIFY(QDir(dir.filePath("szablony")).removeRecursively());
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString expected = start == "Documents"
                                 ? (documents.isEmpty() ? QDir::homePath() : documents)
                                 : dir.filePath(start);
    QCOMPARE(dialogStartFolder(settings, dir.filePath("program")), expected);
}

void TestModalStack::showingOverAnotherSwapsActivation() {
    // Showing B over A deactivates A and activates B; closing B reverses it.
    LoggedRoot root;
    LoggedDialog a("A"), b("B");
    ModalStack stack;
    stack.setRoot(&root);
    whenModal([&](QDialog*) {
        QCOMPARE(stack.top(), static_cast<StackWindow*>(&a));
        whenModal([&](QDialog* shown) {
            QCOMPARE(shown, static_cast<QDialog*>(&b));
            QCOMPARE(stack.depth(), std::size_t(3));
            b.reject(); // the title bar's close ends it like any other close
        });
        stack.showModal(&b);
        stack.closeWindow(&a);
    });
    stack.showModal(&a);
    QCOMPARE(calls, (QStringList{"root-", "A+", "A-", "B+", "B-", "A+", "A-", "root+"}));
    QCOMPARE(stack.depth(), std::size_t(1));
}

void TestModalStack::closingFromTheMiddleLeavesTheTopActive() {
    // A window closed from under another is not (de)activated; the top keeps going.
    LoggedRoot root;
    LoggedDialog a("A"), b("B");
    ModalStack stack;
    stack.setRoot(&root);
    whenModal([&](QDialog*) {
        whenModal([&](QDialog*) {
            calls.clear();
            stack.closeWindow(&a);
            QCOMPARE(calls, QStringList{});
            QVERIFY(!stack.isShown(&a));
            stack.closeWindow(&b);
            QCOMPARE(calls, (QStringList{"B-", "root+"}));
        });
        stack.showModal(&b);
    });
    stack.showModal(&a);
    QVERIFY(!a.isVisible() && !b.isVisible());
    QCOMPARE(stack.depth(), std::size_t(1));
    stack.closeWindow(&a); // closing what is not shown does nothing
    QCOMPARE(calls, (QStringList{"B-", "root+"}));
}

void TestModalStack::showingAWindowTwiceIsHarmless() {
    // A window already up is not shown a second time over itself.
    LoggedRoot root;
    LoggedDialog a("A");
    ModalStack stack;
    stack.setRoot(&root);
    whenModal([&](QDialog*) {
        stack.showModal(&a);
        QCOMPARE(stack.depth(), std::size_t(2));
    });
    stack.showModal(&a);
    QCOMPARE(calls, (QStringList{"root-", "A+", "A-", "root+"}));
}

void TestModalStack::outsideTextInALine_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("max");
    QTest::addColumn<QString>("shown"); // between the isolating marks
    QTest::newRow("short, as it is")
        << QString::fromUtf8("brama.sbn") << 60 << QString::fromUtf8("brama.sbn");
    QTest::newRow("long, cut in the middle")
        << QStringLiteral("abcdefghij") << 7 << QString::fromUtf8("abc…hij");
    // U+1F600 takes two UTF-16 units on either side of the cut.
    QTest::newRow("a character of two units is kept whole")
        << QString::fromUtf8("ab\U0001F600cdef\U0001F600gh") << 7 << QString::fromUtf8("ab…gh");
    QTest::newRow("line breaks, controls and direction marks shown")
        << QString::fromUtf8("a\nb\tc\u202Ed\u2066e\u200Ff") << 60
        << QString::fromUtf8("a\uFFFDb\uFFFDc\uFFFDd\uFFFDe\uFFFDf");
}

void TestModalStack::outsideTextInALine() {
    // A name from outside fits one line whatever its length, keeps every
    // character whole, and cannot change the direction of the text after it.
    QFETCH(QString, text);
    QFETCH(int, max);
    QFETCH(QString, shown);
    QCOMPARE(outside::line(text, max), QChar(0x2068) + shown + QChar(0x2069));
    QCOMPARE(outside::caption(QStringLiteral("R&D")), QString::fromUtf8("\u2068R&&D\u2069"));
    QCOMPARE(outside::toolTip(QStringLiteral("<img src=\"/dev/zero\">")),
             QStringLiteral("<p>&lt;img src=&quot;/dev/zero&quot;&gt;</p>"));
}

QTEST_MAIN(TestModalStack)
#include "test_modal_stack.moc"
