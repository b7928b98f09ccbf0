// Keys that must not change settings behind the user's back: Enter presses
// only the button that has the focus, and Escape closes no window in which
// closing would store or throw away what was typed.
#include "program_fixture.h"
#include "window_test_support.h"

#include <QPushButton>
#include <QTest>

namespace {

StackDialog* window(Program& p, const char* objectName) {
    return p.form1->findChild<StackDialog*>(QString::fromLatin1(objectName),
                                            Qt::FindDirectChildrenOnly);
}

// Shows `w` as the program would and runs `step` in it.
void inWindow(Program& p, StackDialog* w, const std::function<void()>& step) {
    whenModal([&](QDialog* shown) {
        QCOMPARE(shown, w);
        step();
    });
    p.ctx().dialogs.stack->showModal(w);
}

// Every window of the program but the main one, by object name.
void addWindowRows() {
    QTest::addColumn<QByteArray>("name");
    for (const char* name : {"Form2", "Form3", "Form4", "Form5", "Form6", "Form7", "Form8",
                             "Form10", "Form11", "Form12", "Form13", "Form14"})
        QTest::newRow(name) << QByteArray(name);
}

} // namespace

class TestWindowKeys : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup() { QVERIFY(QApplication::activeModalWidget() == nullptr); }
    void enterInABoxPressesNoButton_data() { addWindowRows(); }
    void enterInABoxPressesNoButton();
    void enterPressesTheFocusedButton();
    void escape_data();
    void escape();
};

void TestWindowKeys::enterInABoxPressesNoButton() {
    // Enter in any text box of any window presses no button, and the window
    // stays open.
    QFETCH(QByteArray, name);
    Program p;
    StackDialog* w = window(p, name.constData());
    QVERIFY(w);
    inWindow(p, w, [&] {
        int clicks = 0;
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
            QObject::connect(b, &QAbstractButton::clicked, w, [&clicks] { ++clicks; });
        for (QLineEdit* box : w->findChildren<QLineEdit*>()) {
            if (!box->isEnabled())
                continue;
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Return);
            QTest::keyClick(box, Qt::Key_Enter, Qt::KeypadModifier);
            QVERIFY2(clicks == 0 && w->isVisible(), qPrintable(box->objectName()));
        }
    });
    QVERIFY(p.messages.errors.isEmpty());
}

void TestWindowKeys::enterPressesTheFocusedButton() {
    // A button that has the focus is pressed by Enter, as on Windows; the
    // same key in the add dialog's entry adds nothing.
    Program p;
    p.inTextsEditor([&](TForm3* t) {
        t->Button[3]->setFocus();
        QTest::keyClick(t->Button[3], Qt::Key_Return);
        QVERIFY(t->Edit4->text().isEmpty());
        QCOMPARE(t->Edit1->text(), QStringLiteral("TRELLIKON: "));
        QVERIFY(t->isVisible());
    });
    TForm13* add = p.ctx().form13;
    inWindow(p, add, [&] {
        add->Edit1->setFocus();
        QTest::keyClicks(add->Edit1, QStringLiteral("48600000001"));
        QTest::keyClick(add->Edit1, Qt::Key_Return);
        QVERIFY(add->Label2->text().isEmpty());
        add->Button1->setFocus();
        QTest::keyClick(add->Button1, Qt::Key_Return);
        QCOMPARE(add->Label2->text(), QString::fromUtf8("Zapisano abonenta na pozycji: 1"));
    });
    QCOMPARE(p.settings().subscribers.entry(1).number, std::string("48600000001"));
}

void TestWindowKeys::escape_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("closes");
    QTest::newRow("parameters editor") << QByteArray("Form2") << false;
    QTest::newRow("alarm texts editor") << QByteArray("Form3") << false;
    QTest::newRow("read progress") << QByteArray("Form4") << false;
    QTest::newRow("write progress") << QByteArray("Form5") << false;
    QTest::newRow("connection") << QByteArray("Form6") << false;
    QTest::newRow("connection lost") << QByteArray("Form11") << false;
    QTest::newRow("subscriber list") << QByteArray("Form12") << false;
    QTest::newRow("add subscriber") << QByteArray("Form13") << false;
    QTest::newRow("remove subscriber") << QByteArray("Form14") << false;
    QTest::newRow("cable diagram closes") << QByteArray("Form7") << true;
    QTest::newRow("mounting diagram closes") << QByteArray("Form8") << true;
    QTest::newRow("information closes") << QByteArray("Form10") << true;
}

void TestWindowKeys::escape() {
    // Escape closes only the windows that hold nothing to lose; in the others
    // it does nothing at all, wherever the focus is.
    QFETCH(QByteArray, name);
    QFETCH(bool, closes);
    Program p;
    StackDialog* w = window(p, name.constData());
    QVERIFY(w);
    inWindow(p, w, [&] {
        QWidget* focus = w->focusWidget() ? w->focusWidget() : w;
        QTest::keyClick(focus, Qt::Key_Escape);
        QCOMPARE(w->isVisible(), !closes);
    });
    QCOMPARE(p.ctx().dialogs.stack->depth(), std::size_t(1));
}

QTEST_MAIN(TestWindowKeys)
#include "test_window_keys.moc"
