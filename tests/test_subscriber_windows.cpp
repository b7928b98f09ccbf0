// The subscriber list and its add and remove dialogs, driven through the
// windows as a user reaches them: parameters editor, list, dialog.
#include "program_fixture.h"
#include "window_test_support.h"

#include <QAccessible>
#include <QGroupBox>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTest>

using namespace trellikon;
using namespace trellikon::layout;

namespace {

QString u(const char* utf8) { return QString::fromUtf8(utf8); }
std::string number(int n) { return QString::asprintf("486%08d", n).toStdString(); }

void retype(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

// Opens the list from the parameters editor and runs `step` in it; the step
// leaves by "Wstecz" or, when it does not, the list is closed by its close box.
void inList(Program& p, const std::function<void(TForm12*, TForm2*)>& step) {
    p.inParametersEditor([&](TForm2* f) {
        whenModal([&](QDialog*) { step(p.ctx().form12, f); });
        f->SpeedButton4->click();
    });
}

// Runs `step` in the dialog that `opener` opens, then closes it.
void inDialog(QToolButton* opener, const std::function<void()>& step) {
    whenModal([&](QDialog*) { step(); });
    opener->click();
}

// Types a number into a dialog and presses its button.
void enter(QLineEdit* edit, QPushButton* button, const std::string& text) {
    retype(edit, QString::fromStdString(text));
    button->click();
}

// The grid's filled rows as "position number", top to bottom.
QStringList listed(const TForm12* w) {
    QStringList rows;
    for (int r = 0; r < w->StringGrid1->rowCount(); ++r)
        if (!w->StringGrid1->item(r, 0)->text().isEmpty())
            rows << w->StringGrid1->item(r, 0)->text() + QLatin1Char(' ') +
                        w->StringGrid1->item(r, 1)->text();
    return rows;
}

std::vector<std::uint8_t> slot(const SettingsImage& im, int n) {
    const auto at = long(*SettingsImage::subscriberOffset(n));
    return {im.bytes().begin() + at, im.bytes().begin() + at + long(kSubscriberSlotSize)};
}

} // namespace

class TestSubscriberWindows : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup() { QVERIFY(QApplication::activeModalWidget() == nullptr); }
    void windowsAndNames();
    void addingAndRemovingInTurn();
    void fullListRefusesThe169th();
    void refusedWithoutChange();
    void addEntryTyping_data();
    void addEntryTyping();
    void interlock_data();
    void interlock();
    void permissionBytes_data();
    void permissionBytes();
    void imageFollowsTheList();
    void templateBringsItsCallers();
};

void TestSubscriberWindows::windowsAndNames() {
    // One header row over 168 read-only data rows at 10 points; every control
    // has a name a person would read aloud.
    Program p;
    TForm12* w = p.ctx().form12;
    QTableWidget* g = w->StringGrid1;
    QCOMPARE(g->rowCount(), 168);
    QVERIFY(!g->horizontalHeader()->isHidden() && g->verticalHeader()->isHidden());
    const QStringList heads = {u("Index"), u("Numer telefonu"), u("Nazwisko")};
    const int widths[3] = {54, 160, 465};
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(g->horizontalHeaderItem(c)->text(), heads[c]);
        QCOMPARE(g->columnWidth(c), widths[c]);
    }
    QCOMPARE(g->font().pointSize(), 10);
    QVERIFY(!(g->item(0, 1)->flags() & Qt::ItemIsEditable));
    QCOMPARE(g->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(w->titleLabel->text(), u("Abonenci"));
    QCOMPARE(w->Label4->text(), u("Sterowanie wyjść za pomocą CLIP"));
    QCOMPARE(w->RadioGroup2->title(), u("Wyjście nr 2"));
    QCOMPARE(w->RadioGroup2->item(0)->text(), u("TAK"));
    QCOMPARE(w->SpeedButton2->accessibleName(), u("Usuń abonenta"));
    QCOMPARE(w->RadioGroup1->accessibleName(), u("Sterowanie wyjść za pomocą CLIP: wyjście nr 1"));
    QCOMPARE(p.ctx().form13->numberLabel->text(), u("Numer telefonu:"));
    QCOMPARE(p.ctx().form14->Button1->text(), u("Usuń"));
    QVERIFY(p.ctx().form13->Label2->text().isEmpty() && p.ctx().form14->Label1->text().isEmpty());
    for (QWidget* window : {static_cast<QWidget*>(w), static_cast<QWidget*>(p.ctx().form13),
                            static_cast<QWidget*>(p.ctx().form14)})
        for (QWidget* c : window->findChildren<QWidget*>()) {
            if (!qobject_cast<QLineEdit*>(c) && !qobject_cast<QAbstractButton*>(c) &&
                !qobject_cast<QGroupBox*>(c) && c != g)
                continue;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
            QVERIFY2(a && !a->text(QAccessible::Name).isEmpty(), qPrintable(c->objectName()));
        }
    QCOMPARE(p.ctx().form14->Edit1->accessibleName(), u("Numer telefonu"));
}

void TestSubscriberWindows::addingAndRemovingInTurn() {
    // The dialogs stay open for number after number; a freed position is the
    // next one filled, and the grid keeps positions in ascending order.
    Program p;
    inList(p, [&](TForm12* w, TForm2*) {
        TForm13* add = p.ctx().form13;
        TForm14* del = p.ctx().form14;
        inDialog(w->SpeedButton1, [&] {
            for (int n = 1; n <= 10; ++n) {
                enter(add->Edit1, add->Button1, number(n));
                QCOMPARE(add->Label2->text(), u("Zapisano abonenta na pozycji: %1").arg(n));
                QVERIFY(add->Edit1->text().isEmpty());
            }
        });
        inDialog(w->SpeedButton2, [&] {
            enter(del->Edit1, del->Button1, number(5));
            QCOMPARE(del->Label1->text(), u("Usunięto abonenta z pozycji: 5"));
            QVERIFY(del->Edit1->text().isEmpty());
            QCOMPARE(listed(w).size(), 9);
            QTest::keyClicks(del->Edit1, QStringLiteral("4"));
            QVERIFY(del->Label1->text().isEmpty()); // typing clears the last message
        });
        inDialog(w->SpeedButton1, [&] {
            enter(add->Edit1, add->Button1, number(55));
            QCOMPARE(add->Label2->text(), u("Zapisano abonenta na pozycji: 5"));
        });
        QStringList expected;
        for (int n = 1; n <= 10; ++n)
            expected << QStringLiteral("%1 %2").arg(n).arg(QString::fromStdString(number(n == 5 ? 55 : n)));
        QCOMPARE(listed(w), expected);
        w->SpeedButton3->click();
    });
    QCOMPARE(p.settings().Count_Subscribers(), std::uint8_t(10));
}

void TestSubscriberWindows::fullListRefusesThe169th() {
    // The 168th number takes the last free position; the 169th is refused.
    Program p;
    for (int n = 1; n <= 168; ++n)
        if (n != 100)
            p.settings().subscribers.set(n, number(n));
    inList(p, [&](TForm12* w, TForm2*) {
        TForm13* add = p.ctx().form13;
        inDialog(w->SpeedButton1, [&] {
            enter(add->Edit1, add->Button1, number(1000));
            QCOMPARE(add->Label2->text(), u("Zapisano abonenta na pozycji: 100"));
            enter(add->Edit1, add->Button1, number(1001));
            QCOMPARE(add->Label2->text(), u("Abonenta nie zapisano. Przepełnienie pamięci"));
            QVERIFY(add->Edit1->text().isEmpty());
        });
        QCOMPARE(listed(w).size(), 168);
        QCOMPARE(listed(w).last(), QStringLiteral("168 ") + QString::fromStdString(number(168)));
    });
    QCOMPARE(p.settings().subscribers.entry(100).number, number(1000));
    QCOMPARE(p.settings().Count_Subscribers(), std::uint8_t(168));
}

void TestSubscriberWindows::refusedWithoutChange() {
    // Gaps are not listed; a number already listed is refused even above the
    // first free position; removing an empty or unknown number changes nothing.
    Program p;
    p.settings().subscribers.set(3, number(3));
    p.settings().subscribers.set(4, number(4));
    const SubscriberTable before = p.settings().subscribers;
    inList(p, [&](TForm12* w, TForm2*) {
        QCOMPARE(listed(w), (QStringList{QStringLiteral("3 48600000003"),
                                         QStringLiteral("4 48600000004")}));
        TForm13* add = p.ctx().form13;
        TForm14* del = p.ctx().form14;
        inDialog(w->SpeedButton1, [&] {
            enter(add->Edit1, add->Button1, number(4));
            QCOMPARE(add->Label2->text(), u("Abonent o podanym numerze istnieje"));
            QVERIFY(add->Edit1->text().isEmpty());
        });
        inDialog(w->SpeedButton2, [&] {
            del->Button1->click();
            QCOMPARE(del->Label1->text(), u("Abonent o podanym numerze nie istnieje"));
            del->Label1->clear();
            enter(del->Edit1, del->Button1, number(7));
            QCOMPARE(del->Label1->text(), u("Abonent o podanym numerze nie istnieje"));
            QVERIFY(del->Edit1->text().isEmpty());
        });
        QCOMPARE(listed(w).size(), 2);
    });
    QVERIFY(p.settings().subscribers == before);
    QVERIFY(p.messages.errors.isEmpty());
}

void TestSubscriberWindows::addEntryTyping_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("pasted"); // at once, else key by key
    QTest::addColumn<bool>("box");    // "Numer powinien 11 cyfr", entry emptied
    QTest::addColumn<QString>("label"); // after pressing "Dodaj"
    const QString notEleven = u("Numer powinien zawierać 11 cyfr");
    QTest::newRow("10 digits stay for correction") << u("4860100031") << false << false << notEleven;
    QTest::newRow("a 12th digit") << u("486010003101") << false << true << notEleven;
    QTest::newRow("a letter") << u("4860a") << false << true << notEleven;
    // Numbers to a number converter, never a caller's number.
    QTest::newRow("a sign") << u("+4860100031") << true << true << notEleven;
    QTest::newRow("a decimal point") << u("4860100.031") << true << true << notEleven;
    QTest::newRow("an exponent") << u("486010003e1") << true << true << notEleven;
    QTest::newRow("a blank") << u("4860 ") << false << true << notEleven;
    QTest::newRow("11 digits") << u("48601000310") << true << false
                               << u("Zapisano abonenta na pozycji: 1");
}

void TestSubscriberWindows::addEntryTyping() {
    // Only digits, and no more than 11, can stand in the add entry; typing
    // also clears the last message.
    QFETCH(QString, typed);
    QFETCH(bool, pasted);
    QFETCH(bool, box);
    QFETCH(QString, label);
    Program p;
    inList(p, [&](TForm12* w, TForm2*) {
        TForm13* add = p.ctx().form13;
        inDialog(w->SpeedButton1, [&] {
            add->Label2->setText(QStringLiteral("old"));
            if (pasted)
                add->Edit1->insert(typed); // a paste is one change by the user
            else
                QTest::keyClicks(add->Edit1, typed);
            QVERIFY(add->Label2->text().isEmpty());
            QCOMPARE(p.messages.errors, box ? QStringList{u("Numer powinien 11 cyfr")} : QStringList{});
            QCOMPARE(add->Edit1->text(), box ? QString() : typed);
            const QString kept = add->Edit1->text();
            add->Button1->click();
            QCOMPARE(add->Label2->text(), label);
            QCOMPARE(add->Edit1->text(), kept.size() == 11 ? QString() : kept);
        });
    });
}

void TestSubscriberWindows::interlock_data() {
    QTest::addColumn<int>("output");
    QTest::addColumn<bool>("alreadyTimed");
    QTest::newRow("output 1") << 1 << false;
    QTest::newRow("output 2") << 2 << false;
    QTest::newRow("output 1 already timed keeps its time") << 1 << true;
}

void TestSubscriberWindows::interlock() {
    // "TAK" for an output that is not switched on for a time switches it on
    // for 3 seconds, and that lasts: the editor shows it on return and the
    // decoded settings hold it. "NIE" changes nothing.
    QFETCH(int, output);
    QFETCH(bool, alreadyTimed);
    Program p;
    const QString seconds = alreadyTimed ? QStringLiteral("120") : QStringLiteral("3");
    auto timed = [output](TForm2* f) { return output == 1 ? f->RadioGroup4 : f->RadioGroup5; };
    auto time = [output](TForm2* f) { return output == 1 ? f->Edit5 : f->Edit12; };
    auto other = [output](TForm2* f) { return output == 1 ? f->RadioGroup5 : f->RadioGroup4; };
    p.inParametersEditor([&](TForm2* f) {
        if (alreadyTimed) {
            timed(f)->item(0)->click();
            retype(time(f), seconds);
        }
        whenModal([&](QDialog*) {
            TForm12* w = p.ctx().form12;
            RadioGroup* clip = output == 1 ? w->RadioGroup1 : w->RadioGroup2;
            clip->item(0)->click();
            QCOMPARE(timed(f)->ItemIndex(), 0);
            QCOMPARE(time(f)->text(), seconds);
            QVERIFY(time(f)->isEnabled());
            clip->item(1)->click();
            clip->item(0)->click();
            w->SpeedButton3->click();
        });
        f->SpeedButton4->click();
        QCOMPARE(timed(f)->ItemIndex(), 0);
        QCOMPARE(time(f)->text(), seconds);
        QCOMPARE(other(f)->ItemIndex(), 1);
    });
    const DecodedSettings& d = p.settings().decoded;
    QVERIFY(output == 1 ? d.output1_auto_on && !d.output2_auto_on
                        : d.output2_auto_on && !d.output1_auto_on);
    QCOMPARE(output == 1 ? d.output1_auto_seconds : d.output2_auto_seconds, seconds.toStdString());
    QVERIFY(output == 1 ? d.clip_output1_on : d.clip_output2_on);
    QVERIFY(p.messages.errors.isEmpty());
    // Programming from here writes the encoder's copy of these settings.
}

void TestSubscriberWindows::permissionBytes_data() {
    QTest::addColumn<bool>("out1");
    QTest::addColumn<bool>("out2");
    QTest::addColumn<bool>("byBack");
    QTest::newRow("NIE, NIE, Wstecz") << false << false << true;
    QTest::newRow("TAK, NIE, Wstecz") << true << false << true;
    QTest::newRow("NIE, TAK, close box") << false << true << false;
    QTest::newRow("TAK, TAK, close box") << true << true << false;
}

void TestSubscriberWindows::permissionBytes() {
    // Leaving the list stores each permission with its check at 320/321 and
    // 325/326, and the list shows them again next time.
    QFETCH(bool, out1);
    QFETCH(bool, out2);
    QFETCH(bool, byBack);
    Program p;
    p.settings().image.set(320, 0x55); // anything but what leaving writes
    p.settings().image.set(325, 0x55);
    inList(p, [&](TForm12* w, TForm2*) {
        w->RadioGroup1->item(out1 ? 0 : 1)->click();
        w->RadioGroup2->item(out2 ? 0 : 1)->click();
        if (byBack)
            w->SpeedButton3->click();
    });
    const auto& im = p.settings().image;
    QCOMPARE(im.at(320), std::uint8_t(out1));
    QCOMPARE(im.at(321), std::uint8_t(out1 ? 0xAB : 0xAA));
    QCOMPARE(im.at(325), std::uint8_t(out2));
    QCOMPARE(im.at(326), std::uint8_t(out2 ? 0xAB : 0xAA));
    inList(p, [&](TForm12* w, TForm2*) {
        QCOMPARE(w->RadioGroup1->ItemIndex(), out1 ? 0 : 1);
        QCOMPARE(w->RadioGroup2->ItemIndex(), out2 ? 0 : 1);
    });
}

void TestSubscriberWindows::imageFollowsTheList() {
    // The image holds the list whenever the list window is left, a dialog
    // opening over it included; a removed caller's slot is freed, a slot never
    // filled keeps its bytes.
    SettingsImage start;
    start.writeSubscriber(5, number(5));
    start.writeSubscriber(6, number(6));
    for (std::size_t i = 0; i < kSubscriberSlotSize; ++i) // not a subscriber: its check fails
        start.set(*SettingsImage::subscriberOffset(7) + i, std::uint8_t(0x30 + i));
    Program p;
    p.settings().image = start;
    p.settings().Decode_Subscribers();
    inList(p, [&](TForm12* w, TForm2*) {
        TForm13* add = p.ctx().form13;
        inDialog(w->SpeedButton1, [&] { enter(add->Edit1, add->Button1, number(1)); });
        inDialog(w->SpeedButton2, [&] {
            QVERIFY(p.settings().image.readSubscriber(1).valid); // written as the dialog opened
            enter(p.ctx().form14->Edit1, p.ctx().form14->Button1, number(5));
        });
        w->SpeedButton3->click();
    });
    QCOMPARE(slot(p.settings().image, 5), std::vector<std::uint8_t>(kSubscriberSlotSize, 0xFF));
    QCOMPARE(p.settings().image.readSubscriber(6).value, number(6));
    QCOMPARE(p.settings().image.readSubscriber(1).value, number(1));
    for (int n : {7, 8, 168})
        QCOMPARE(slot(p.settings().image, n), slot(start, n));
}

void TestSubscriberWindows::templateBringsItsCallers() {
    // A loaded template's callers are the ones listed, and leaving the list
    // writes them, not the callers held before.
    QTemporaryDir dir;
    SettingsImage file;
    file.writeSubscriber(2, number(2));
    const QString path = dir.filePath(QStringLiteral("t.sbn"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(reinterpret_cast<const char*>(file.bytes().data()), 4096);
    out.close();
    Program p;
    p.settings().subscribers.set(9, number(9));
    p.files.answers = {path};
    whenModal([&](QDialog*) {
        whenModal([&](QDialog*) {
            QCOMPARE(listed(p.ctx().form12), QStringList{QStringLiteral("2 48600000002")});
        });
        p.form2()->SpeedButton4->click();
    });
    p.form1->SpeedButton7Click();
    QVERIFY(!p.settings().image.readSubscriber(9).valid);
    QCOMPARE(p.settings().image.readSubscriber(2).value, number(2));
}

QTEST_MAIN(TestSubscriberWindows)
#include "test_subscriber_windows.moc"
