// The subscriber list and its add and remove dialogs, driven as a user reaches
// them: parameters editor, list, dialog.
#include "program_fixture.h"
#include "settings_encoder.h"
#include "subscriber_import_window.h"
#include "window_test_support.h"

#include <QAccessible>
#include <QGroupBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

using namespace trellikon;
using namespace trellikon::layout;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}
// A file the test hands to the import, written whole.
bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

std::string number(int n) {
    return QString::asprintf("486%08d", n).toStdString();
}

// Opens the list from the parameters editor and runs `step` in it; a step that
// does not leave by "Wstecz" leaves by the close box.
void inList(Program& p, const std::function<void(TForm12*, TForm2*)>& step) {
    p.inParametersEditor([&](TForm2* f) {
        whenModal([&](QDialog*) { step(p.ctx().form12, f); });
        f->SpeedButton4->click();
    });
}

// From the parameters editor on to the alarm texts editor, and the device
// programmed from there.
void programDevice(Program& p, TForm2* f) {
    whenModal([&](QDialog*) {
        whenModal([&](QDialog*) { p.tickUntil([&] { return !p.ctx().session->writing(); }); });
        p.form3()->SpeedButton4->click();
    });
    f->SpeedButton1->click();
}

// Runs `step` in the dialog that `opener` opens, then closes it.
void inDialog(QToolButton* opener, const std::function<void()>& step) {
    whenModal([&](QDialog*) { step(); });
    opener->click();
}

// Types a number key by key, presses the dialog's button, returns its message.
QString enter(QLineEdit* edit, QPushButton* button, QLabel* message, const std::string& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, QString::fromStdString(text));
    button->click();
    return message->text();
}
QString addCaller(Program& p, const std::string& text) {
    TForm13* d = p.ctx().form13;
    return enter(d->Edit1, d->Button1, d->Label2, text);
}
QString removeCaller(Program& p, const std::string& text) {
    TForm14* d = p.ctx().form14;
    return enter(d->Edit1, d->Button1, d->Label1, text);
}

// The grid's filled rows as "position number", top to bottom.
QStringList listed(const TForm12* w) {
    QStringList rows;
    for (int r = 0; r < w->StringGrid1->rowCount(); ++r)
        if (!w->StringGrid1->item(r, 0)->text().isEmpty())
            rows << w->StringGrid1->item(r, 0)->text() + u(" ") +
                        w->StringGrid1->item(r, 1)->text();
    return rows;
}

std::vector<std::uint8_t> slot(const SettingsImage& im, int n) {
    const auto at = long(*SettingsImage::subscriberOffset(n));
    return {im.bytes().begin() + at, im.bytes().begin() + at + 12};
}

} // namespace

class TestSubscriberWindows : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup() { QVERIFY(QApplication::activeModalWidget() == nullptr); }
    void windowsAndNames();
    void addingAndRemovingInTurn();
    void refusals();
    void addEntryTyping_data();
    void addEntryTyping();
    void interlock_data();
    void interlock();
    void openingTheListChangesNoSetting();
    void permissionBytes_data();
    void permissionBytes();
    void imageFollowsTheList();
    void importPreview_data();
    void importPreview();
    void importColumnChoice();
    void exportAndRefusedImport();
    void importShowsTheFileAsText();
    void importWindowKeepsItsSize_data();
    void importWindowKeepsItsSize();
};

void TestSubscriberWindows::windowsAndNames() {
    // One header row over 168 read-only rows at 10 points; every control has
    // a name a person would read aloud.
    Program p;
    TForm12* w = p.ctx().form12;
    QTableWidget* g = w->StringGrid1;
    QCOMPARE(g->rowCount(), 168);
    QVERIFY(!g->horizontalHeader()->isHidden() && g->verticalHeader()->isHidden());
    const QStringList heads = {u("Index"), u("Numer telefonu"), u("Nazwisko")};
    for (int c = 0; c < 3; ++c)
        QCOMPARE(g->horizontalHeaderItem(c)->text(), heads[c]);
    QCOMPARE(QList<int>({g->columnWidth(0), g->columnWidth(1), g->columnWidth(2)}),
             QList<int>({54, 160, 465}));
    QCOMPARE(g->font().pointSize(), 10);
    QVERIFY(!(g->item(0, 1)->flags() & Qt::ItemIsEditable));
    QCOMPARE(g->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(w->Label4->text(), u("Sterowanie wyjść za pomocą CLIP"));
    QCOMPARE(w->RadioGroup2->title(), u("Wyjście nr 2"));
    QCOMPARE(p.ctx().form13->numberLabel->text(), u("Numer telefonu:"));
    QCOMPARE(w->RadioGroup1->accessibleName(), u("Sterowanie wyjść za pomocą CLIP: wyjście nr 1"));
    QCOMPARE(w->SpeedButton2->accessibleName(), u("Usuń abonenta"));
    QCOMPARE(w->importButton->accessibleName(), u("Import z pliku CSV"));
    QCOMPARE(w->exportButton->accessibleName(), u("Eksport do pliku CSV"));
    QCOMPARE(p.ctx().form14->Edit1->accessibleName(), u("Numer telefonu"));
    QVERIFY(p.ctx().form13->Label2->text().isEmpty() && p.ctx().form14->Label1->text().isEmpty());
    for (QWidget* window : std::initializer_list<QWidget*>{w, p.ctx().form13, p.ctx().form14})
        for (QWidget* c : window->findChildren<QWidget*>())
            if (qobject_cast<QLineEdit*>(c) || qobject_cast<QAbstractButton*>(c) ||
                qobject_cast<QGroupBox*>(c) || c == g) {
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
                QVERIFY2(a && !a->text(QAccessible::Name).isEmpty(), qPrintable(c->objectName()));
            }
}

void TestSubscriberWindows::addingAndRemovingInTurn() {
    // The dialogs stay open for number after number; a freed position is the
    // next one filled; the full list refuses the 169th number.
    Program p;
    inList(p, [&](TForm12* w, TForm2*) {
        inDialog(w->SpeedButton1, [&] {
            for (int n = 1; n <= 10; ++n)
                QCOMPARE(addCaller(p, number(n)), u("Zapisano abonenta na pozycji: %1").arg(n));
            QVERIFY(p.ctx().form13->Edit1->text().isEmpty());
        });
        inDialog(w->SpeedButton2, [&] {
            QCOMPARE(removeCaller(p, number(5)), u("Usunięto abonenta z pozycji: 5"));
            QVERIFY(p.ctx().form14->Edit1->text().isEmpty());
            QTest::keyClicks(p.ctx().form14->Edit1, u("4"));
            QVERIFY(p.ctx().form14->Label1->text().isEmpty());
        });
        inDialog(w->SpeedButton1,
                 [&] { QCOMPARE(addCaller(p, number(55)), u("Zapisano abonenta na pozycji: 5")); });
        QStringList expected;
        for (int n = 1; n <= 10; ++n)
            expected << u("%1 %2").arg(n).arg(QString::fromStdString(number(n == 5 ? 55 : n)));
        QCOMPARE(listed(w), expected);

        for (int n = 11; n <= 168; ++n)
            if (n != 100)
                p.settings().subscribers.set(n, number(n));
        inDialog(w->SpeedButton1, [&] {
            QCOMPARE(addCaller(p, number(1000)), u("Zapisano abonenta na pozycji: 100"));
            QCOMPARE(addCaller(p, number(1001)), u("Abonenta nie zapisano. Przepełnienie pamięci"));
            QVERIFY(p.ctx().form13->Edit1->text().isEmpty());
        });
        QCOMPARE(listed(w).size(), 168);
        QCOMPARE(listed(w).last(), u("168 ") + QString::fromStdString(number(168)));
    });
}

void TestSubscriberWindows::refusals() {
    // Gaps are not listed; a listed number is refused even above the first
    // free position; removing an empty or unknown number changes nothing.
    Program p;
    p.settings().subscribers.set(3, number(3));
    p.settings().subscribers.set(4, number(4));
    const SubscriberTable before = p.settings().subscribers;
    inList(p, [&](TForm12* w, TForm2*) {
        QCOMPARE(listed(w), QStringList({u("3 48600000003"), u("4 48600000004")}));
        inDialog(w->SpeedButton1, [&] {
            QCOMPARE(addCaller(p, number(4)), u("Abonent o podanym numerze istnieje"));
            QVERIFY(p.ctx().form13->Edit1->text().isEmpty());
        });
        inDialog(w->SpeedButton2, [&] {
            QCOMPARE(removeCaller(p, {}), u("Abonent o podanym numerze nie istnieje"));
            QCOMPARE(removeCaller(p, number(7)), u("Abonent o podanym numerze nie istnieje"));
        });
    });
    QVERIFY(p.settings().subscribers == before);
}

void TestSubscriberWindows::addEntryTyping_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("pasted"); // at once, else key by key
    QTest::addColumn<bool>("box");    // "Numer powinien 11 cyfr", entry emptied
    QTest::newRow("10 digits stay for correction") << u("4860100031") << false << false;
    QTest::newRow("a 12th digit") << u("486010003101") << false << true;
    QTest::newRow("a letter") << u("4860a") << false << true;
    QTest::newRow("a blank") << u("4860 ") << false << true;
    // Numbers to a number converter, never a caller's number.
    QTest::newRow("a sign") << u("+4860100031") << true << true;
    QTest::newRow("a decimal point") << u("4860100.031") << true << true;
    QTest::newRow("an exponent") << u("486010003e1") << true << true;
    QTest::newRow("11 digits") << u("48601000310") << true << false;
}

void TestSubscriberWindows::addEntryTyping() {
    // Only digits, and no more than 11, can stand in the add entry, and only
    // 11 are added; the user's typing clears the last message.
    QFETCH(QString, typed);
    QFETCH(bool, pasted);
    QFETCH(bool, box);
    Program p;
    inList(p, [&](TForm12* w, TForm2*) {
        TForm13* d = p.ctx().form13;
        inDialog(w->SpeedButton1, [&] {
            d->Label2->setText(u("old"));
            if (pasted)
                d->Edit1->insert(typed); // one change by the user
            else
                QTest::keyClicks(d->Edit1, typed);
            QVERIFY(d->Label2->text().isEmpty());
            const QStringList boxes =
                box ? QStringList{u("Numer powinien 11 cyfr")} : QStringList{};
            QCOMPARE(p.messages.errors, boxes);
            QCOMPARE(d->Edit1->text(), box ? QString() : typed);
            const QString kept = d->Edit1->text();
            const bool eleven = kept.size() == 11;
            d->Button1->click();
            QCOMPARE(d->Label2->text(), eleven ? u("Zapisano abonenta na pozycji: 1")
                                               : u("Numer powinien zawierać 11 cyfr"));
            QCOMPARE(d->Edit1->text(), eleven ? QString() : kept);
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
    // "TAK" for an output not switched on for a time switches it on for 3
    // seconds, and that lasts: the editor shows it on return and the decoded
    // settings hold it. "NIE" changes nothing.
    QFETCH(int, output);
    QFETCH(bool, alreadyTimed);
    Program p;
    p.connect();
    const QString seconds = alreadyTimed ? u("120") : u("3");
    auto timed = [output](TForm2* f) { return output == 1 ? f->RadioGroup4 : f->RadioGroup5; };
    auto time = [output](TForm2* f) { return output == 1 ? f->Edit5 : f->Edit12; };
    p.inParametersEditor([&](TForm2* f) {
        if (alreadyTimed) {
            timed(f)->item(0)->click();
            time(f)->setText(seconds);
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
        QCOMPARE((output == 1 ? f->RadioGroup5 : f->RadioGroup4)->ItemIndex(), 1);
        // Programming writes them.
        f->radiogroup6->item(2)->click();
        programDevice(p, f);
    });
    const auto& memory = p.device.memory();
    const std::size_t at = output == 1 ? kOutput1AutoEnabled : kOutput2AutoEnabled;
    QCOMPARE(memory[at], std::uint8_t(1));
    QCOMPARE(memory[at + 1] * 256 + memory[at + 2], seconds.toInt());
    QCOMPARE(memory[output == 1 ? kClipOutput1Enabled : kClipOutput2Enabled], std::uint8_t(1));
    const DecodedSettings& d = p.settings().decoded;
    QCOMPARE(d.output1_auto_on, output == 1);
    QCOMPARE(d.output2_auto_on, output == 2);
    QCOMPARE(output == 1 ? d.output1_auto_seconds : d.output2_auto_seconds, seconds.toStdString());
    QVERIFY(output == 1 ? d.clip_output1_on : d.clip_output2_on);
    QVERIFY(p.messages.errors.isEmpty());
}

void TestSubscriberWindows::openingTheListChangesNoSetting() {
    // Showing the stored permissions is not a change by the user. A device
    // whose output 1 is permanently on, not timed, with CLIP on for output 1,
    // is read; opening the list and leaving it untouched changes no decoded
    // setting and no image byte, and programming writes back what was read.
    EditorSnapshot installed;
    installed.sms_centre_number = "48601000310";
    installed.user_number = {"48600100200", "", "", ""};
    installed.echo = true;
    installed.sms_mask_user = {true, false, false, false};
    installed.ring_mask_user = {true, false, false, false};
    installed.input_mask_input.fill(true);
    installed.output1_permanent_index = 0; // AKTYWNE
    installed.output1_auto_index = 1;      // NIE
    installed.output2_permanent_index = 1;
    installed.output2_auto_index = 1;
    installed.daily_sms_limit = "1234"; // four digits read back as written
    for (int s = 0; s < kTextSlotCount; ++s)
        installed.texts[std::size_t(s)] = defaultText(s);
    DeviceSettings device;
    device.decoded.clip_output1_on = true;
    QVERIFY(!Encode_Settings(installed, device).encode_failed);
    device.image.writeSubscriber(4, number(4));
    device.image.writeValuePair(kBalanceQueryCodeLength, 0); // as the parameters editor stores it
    const SettingsImage::Bytes memory = device.image.bytes();

    Program p(memory);
    p.connect();
    bool listShown = false;
    whenModal([&](QDialog*) {
        QVERIFY(p.tickUntil([&] { return !p.form1->session().reading(); }));
        whenModal([&](QDialog*) {
            TForm2* f = p.form2();
            p.armEditor();
            QCOMPARE(f->RadioGroup2->ItemIndex(), 0);
            QCOMPARE(f->RadioGroup4->ItemIndex(), 1);
            QVERIFY(p.settings().decoded.clip_output1_on);
            const DecodedSettings decoded = p.settings().decoded;
            const SettingsImage::Bytes image = p.settings().image.bytes();
            whenModal([&](QDialog* list) {
                listShown = list == p.ctx().form12;
                QCOMPARE(p.ctx().form12->RadioGroup1->ItemIndex(), 0);
                p.ctx().form12->SpeedButton3->click();
            });
            f->SpeedButton4->click();
            QVERIFY(listShown);
            QVERIFY(p.settings().decoded == decoded);
            QVERIFY(p.settings().image.bytes() == image);
            QCOMPARE(f->RadioGroup2->ItemIndex(), 0);
            QCOMPARE(f->RadioGroup4->ItemIndex(), 1);
            QVERIFY(!f->Edit5->isEnabled());
            // Programmed as it stands.
            programDevice(p, f);
        });
        p.form4()->Button1->click();
    });
    p.form1->SpeedButton5Click();
    QVERIFY(p.messages.errors.isEmpty());
    QVERIFY(p.device.memory() == memory);
}

void TestSubscriberWindows::permissionBytes_data() {
    QTest::addColumn<bool>("out1");
    QTest::addColumn<bool>("out2");
    QTest::addColumn<bool>("byBack");
    QTest::newRow("NIE, NIE, Wstecz") << false << false << true;
    QTest::newRow("TAK, NIE, Wstecz") << true << false << true;
    QTest::newRow("NIE, TAK, close box") << false << true << false;
}

void TestSubscriberWindows::permissionBytes() {
    // Leaving the list stores each permission with its check at 320/321 and
    // 325/326, and the list shows them again next time.
    QFETCH(bool, out1);
    QFETCH(bool, out2);
    QFETCH(bool, byBack);
    Program p;
    p.settings().image.set(320, 0x55);
    p.settings().image.set(325, 0x55);
    inList(p, [&](TForm12* w, TForm2*) {
        w->RadioGroup1->item(out1 ? 0 : 1)->click();
        w->RadioGroup2->item(out2 ? 0 : 1)->click();
        if (byBack)
            w->SpeedButton3->click();
    });
    const auto& im = p.settings().image;
    QCOMPARE(QList<int>({im.at(320), im.at(321), im.at(325), im.at(326)}),
             QList<int>({out1, out1 ? 0xAB : 0xAA, out2, out2 ? 0xAB : 0xAA}));
    inList(p, [&](TForm12* w, TForm2*) {
        QCOMPARE(w->RadioGroup1->ItemIndex(), out1 ? 0 : 1);
        QCOMPARE(w->RadioGroup2->ItemIndex(), out2 ? 0 : 1);
    });
}

void TestSubscriberWindows::imageFollowsTheList() {
    // The image holds the list whenever the list window is left, a dialog
    // opening over it included: a removed caller's slot is freed, a slot never
    // filled keeps its bytes. A loaded template brings its own callers.
    SettingsImage start;
    start.writeSubscriber(5, number(5));
    start.writeSubscriber(6, number(6));
    for (std::size_t i = 0; i < 12; ++i) // not a subscriber: its check fails
        start.set(*SettingsImage::subscriberOffset(7) + i, std::uint8_t(0x30 + i));
    QTemporaryDir dir;
    const QString path = dir.filePath(u("t.sbn"));
    QVERIFY(writeFile(path, QByteArray(reinterpret_cast<const char*>(start.bytes().data()), 4096)));

    Program p;
    p.settings().subscribers.set(9, number(9)); // the last device's caller
    p.files.answers = {path};
    whenModal([&](QDialog*) {
        whenModal([&](QDialog*) {
            TForm12* w = p.ctx().form12;
            QCOMPARE(listed(w), QStringList({u("5 48600000005"), u("6 48600000006")}));
            inDialog(w->SpeedButton1, [&] { addCaller(p, number(1)); });
            inDialog(w->SpeedButton2, [&] {
                QVERIFY(p.settings().image.readSubscriber(1).valid); // written as it opened
                removeCaller(p, number(5));
            });
            w->SpeedButton3->click();
        });
        p.form2()->SpeedButton4->click();
    });
    p.form1->SpeedButton7Click();
    const SettingsImage& im = p.settings().image;
    QCOMPARE(slot(im, 5), std::vector<std::uint8_t>(12, 0xFF));
    QCOMPARE(im.readSubscriber(1).value, number(1));
    for (int n : {6, 7, 9, 168})
        QCOMPARE(slot(im, n), slot(start, n));
}

void TestSubscriberWindows::importPreview_data() {
    QTest::addColumn<bool>("replace");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QStringList>("after");
    const QStringList before = {u("1 48600000001"), u("3 48600000003")};
    QTest::newRow("added, confirmed")
        << false << true << QStringList{u("1 48600000001"), u("2 48601000002"), before[1]};
    QTest::newRow("replaced, confirmed")
        << true << true << QStringList{u("1 48601000002"), u("2 48600000001")};
    QTest::newRow("replaced, cancelled") << true << false << before;
}

void TestSubscriberWindows::importPreview() {
    // The preview lists every line with its verdict and the counts for the
    // mode chosen; only "Importuj" changes the list, and the image then holds
    // it as after the add dialog.
    QFETCH(bool, replace);
    QFETCH(bool, confirm);
    QFETCH(QStringList, after);
    QTemporaryDir dir;
    const QString path = dir.filePath(u("lista.csv"));
    QVERIFY(writeFile(path, "Telefon\r\n601 000 002\r\n+48 600 000 001\r\nabc\r\n"));

    Program p;
    p.settings().subscribers.set(1, number(1));
    p.settings().subscribers.set(3, number(3));
    p.settings().Encode_Subscribers();
    const SettingsImage before = p.settings().image;
    p.files.answers = {path};
    inList(p, [&](TForm12* w, TForm2*) {
        whenModal([&](QDialog* shown) {
            SubscriberImportWindow* v = w->importWindow;
            QCOMPARE(shown, v);
            QCOMPARE(v->linesGrid->rowCount(), 4);
            QCOMPARE(v->linesGrid->item(1, 2)->text(), u("48601000002"));
            QCOMPARE(v->linesGrid->item(1, 4)->text(), u("2"));
            QCOMPARE(v->linesGrid->item(2, 3)->text(), u("pominięty"));
            QVERIFY(v->linesGrid->item(3, 5)->text().contains(u("nie jest numerem telefonu")));
            QCOMPARE(v->summaryLabel->text(),
                     u("Przyjęte: 1, pominięte z ostrzeżeniem: 1, odrzucone: 1"));
            if (replace) {
                v->modeGroup->item(1)->click();
                QCOMPARE(v->summaryLabel->text(),
                         u("Przyjęte: 2, pominięte z ostrzeżeniem: 0, odrzucone: 1"));
            }
            QVERIFY(p.settings().subscribers.entry(2).number.empty()); // not yet
            (confirm ? v->confirmButton : v->cancelButton)->click();
        });
        w->importButton->click();
        QCOMPARE(listed(w), after);
        w->SpeedButton3->click();
    });
    QCOMPARE(p.files.filters, QStringList{u("CSV (*.csv *.txt)")});
    const SettingsImage& im = p.settings().image;
    if (!confirm) // the callers' blocks as they were
        QVERIFY(
            std::equal(im.bytes().begin() + 2048, im.bytes().end(), before.bytes().begin() + 2048));
    for (const QString& row : after)
        QCOMPARE(QString::fromStdString(im.readSubscriber(row.section(' ', 0, 0).toInt()).value),
                 row.section(' ', 1));
    if (replace && confirm)
        QCOMPARE(slot(im, 3), std::vector<std::uint8_t>(12, 0xFF));
}

void TestSubscriberWindows::exportAndRefusedImport() {
    // Export writes the list and says how many callers; a file that is not
    // text is refused in a message box and no preview opens.
    QTemporaryDir dir;
    const QString binary = dir.filePath(u("obraz.csv"));
    QVERIFY(writeFile(binary, QByteArray("601234567\0\1\2", 12)));
    Program p;
    p.settings().subscribers.set(7, number(7));
    p.files.answers = {dir.filePath(u("lista")), binary};
    inList(p, [&](TForm12* w, TForm2*) {
        w->exportButton->click();
        QCOMPARE(p.messages.plains, QStringList{u("Zapisano do pliku abonentów: 1")});
        QPointer<QTimer> watch = whenModal(
            [](QDialog*) { QFAIL("no preview for a file that is not text"); }, 300, false);
        w->importButton->click();
        delete watch; // nothing can open any more
        QCOMPARE(p.messages.errors.size(), 1);
        QVERIFY(p.messages.errors[0].startsWith(
            u("Nie można zaimportować pliku „\u2068obraz.csv\u2069”")));
    });
    QFile written(dir.filePath(u("lista.csv")));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(),
             QByteArray("\xEF\xBB\xBFPozycja;Numer telefonu\r\n7;48600000007\r\n"));
}

void TestSubscriberWindows::importColumnChoice() {
    // Each column with telephone numbers has a box in the preview; the one
    // the reader took is ticked. Ticking the other reads both, each number a
    // caller; ticking none accepts nothing and "Importuj" is off.
    QTemporaryDir dir;
    const QString path = dir.filePath(u("telefony.csv"));
    QVERIFY(writeFile(path, "Nazwisko;Telefon 1;Telefon 2\r\nNowak;601000001;601000002\r\n"
                            "Kowal;;601000003\r\nZięba;601000004;\r\n"));
    Program p;
    p.files.answers = {path};
    inList(p, [&](TForm12* w, TForm2*) {
        whenModal([&](QDialog*) {
            SubscriberImportWindow* v = w->importWindow;
            QCOMPARE(v->columnBoxes.size(), std::size_t{2});
            QCOMPARE(v->columnBoxes[0]->text(), u("\u2068Telefon 1\u2069 (kolumna 2)"));
            QVERIFY(v->columnBoxes[0]->isChecked() && !v->columnBoxes[1]->isChecked());
            QCOMPARE(v->summaryLabel->text(),
                     u("Przyjęte: 2, pominięte z ostrzeżeniem: 0, odrzucone: 1"));
            QVERIFY(v->linesGrid->item(2, 5)->text().contains(u("Telefon 2")));
            v->columnBoxes[1]->click();
            QCOMPARE(v->summaryLabel->text(),
                     u("Przyjęte: 4, pominięte z ostrzeżeniem: 0, odrzucone: 0"));
            QCOMPARE(v->linesGrid->rowCount(), 5);
            QCOMPARE(v->linesGrid->item(2, 0)->text(), u("2"));
            QCOMPARE(v->linesGrid->item(2, 2)->text(), u("48601000002"));
            QVERIFY(v->linesGrid->item(2, 5)->text().contains(u("Telefon 2")));
            v->columnBoxes[0]->click();
            v->columnBoxes[1]->click();
            QVERIFY(!v->confirmButton->isEnabled());
            QVERIFY(v->summaryLabel->text().contains(u("zaznacz kolumnę")));
            v->columnBoxes[0]->click();
            v->columnBoxes[1]->click();
            v->confirmButton->click();
        });
        w->importButton->click();
        QCOMPARE(listed(w), QStringList({u("1 48601000001"), u("2 48601000002"), u("3 48601000003"),
                                         u("4 48601000004")}));
        w->SpeedButton3->click();
    });
}

void TestSubscriberWindows::importShowsTheFileAsText() {
    // A file name, a column name and a cell are shown as the text they are:
    // markup is neither drawn nor followed, "%1" and "&" stay as typed, a
    // direction override is shown as a mark and turns nothing around it; and a
    // refused file's name reaches the message as the same plain line.
    QTemporaryDir dir;
    const QString name = u("<b>ZAUFANY<b>_\u202Evsc.csv");
    const QString path = dir.filePath(name);
    QVERIFY(writeFile(path, "Nazwisko;Tel. dom&praca %1\r\n<img src=\"/dev/zero\">;601000001\r\n"));
    const QString refusedName = u("<font color=red>UWAGA<br><img src=\"&#47;dev&#47;zero\">.csv");
    QVERIFY(writeFile(dir.filePath(refusedName), QByteArray("\0\1\2", 3)));

    Program p;
    p.files.answers = {path, dir.filePath(refusedName)};
    inList(p, [&](TForm12* w, TForm2*) {
        whenModal([&](QDialog*) {
            SubscriberImportWindow* v = w->importWindow;
            QCOMPARE(v->fileLabel->textFormat(), Qt::PlainText);
            QCOMPARE(v->fileLabel->text(), u("Plik: \u2068<b>ZAUFANY<b>_\uFFFDvsc.csv\u2069"));
            QCOMPARE(v->columnBoxes.size(), std::size_t{1});
            QCOMPARE(v->columnBoxes[0]->text(), u("\u2068Tel. dom&&praca %1\u2069 (kolumna 2)"));
            QVERIFY(v->columnBoxes[0]->accessibleName().contains(u("dom&praca %1")));
            QCOMPARE(v->linesGrid->item(1, 1)->toolTip(),
                     u("<p>&lt;img src=&quot;/dev/zero&quot;&gt;;601000001</p>"));
            v->cancelButton->click();
        });
        w->importButton->click();
        w->importButton->click();
    });
    QCOMPARE(p.messages.errors.size(), 1);
    QVERIFY2(p.messages.errors[0].startsWith(u("Nie można zaimportować pliku „\u2068") +
                                             refusedName + u("\u2069”:")),
             qPrintable(p.messages.errors[0]));

    // The program's message boxes render any text as plain text.
    QString shownText;
    Qt::TextFormat format = Qt::AutoText;
    whenModal([&](QDialog* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        QVERIFY(box);
        shownText = box->text();
        format = box->textFormat();
        box->accept();
    });
    QtMessageBoxes().error(nullptr, p.messages.errors[0]);
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(shownText, p.messages.errors[0]);
}

void TestSubscriberWindows::importWindowKeepsItsSize_data() {
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<QString>("more");
    QByteArray many;
    for (int c = 1; c <= 2000; ++c) {
        many += "Telefon " + QByteArray::number(c) + (c < 2000 ? ";" : "");
    }
    QTest::newRow("2,000 telephone columns")
        << many << 12
        << u("Pozostałe kolumny z numerami (1988) nie są tu pokazane: \u2068Telefon 13\u2069, "
             "\u2068Telefon 14\u2069, \u2068Telefon 15\u2069, \u2068Telefon 16\u2069, "
             "\u2068Telefon 17\u2069, …");
    QTest::newRow("a 20,000-character column name")
        << QByteArray("tel") + QByteArray(19997, 'x') << 1 << QString();
}

void TestSubscriberWindows::importWindowKeepsItsSize() {
    // Whatever the file holds, the preview stays a window that fits a screen:
    // the columns offered are a few, in a row that scrolls, the rest named in
    // one line; the file is still read whole.
    QFETCH(QByteArray, header);
    QFETCH(int, boxes);
    QFETCH(QString, more);
    const int columns = static_cast<int>(header.count(';')) + 1;
    QByteArray row;
    for (int c = 0; c < columns; ++c)
        row += QByteArray::number(601000000 + c) + (c + 1 < columns ? ";" : "");
    QTemporaryDir dir;
    const QString path = dir.filePath(u("szeroki.csv"));
    QVERIFY(writeFile(path, header + "\r\n" + row + "\r\n"));
    Program p;
    p.files.answers = {path};
    inList(p, [&](TForm12* w, TForm2*) {
        whenModal([&](QDialog*) {
            SubscriberImportWindow* v = w->importWindow;
            QCOMPARE(static_cast<int>(v->columnBoxes.size()), boxes);
            QVERIFY(v->columnBoxes[0]->isChecked());
            QCOMPARE(v->moreColumnsLabel->isVisibleTo(v), !more.isEmpty());
            QCOMPARE(v->moreColumnsLabel->text(), more);
            QVERIFY2(v->sizeHint().width() < 1600, qPrintable(QString::number(v->width())));
            QVERIFY2(v->width() < 1600, qPrintable(QString::number(v->width())));
            QCOMPARE(v->linesGrid->rowCount(), 2);
            v->cancelButton->click();
        });
        w->importButton->click();
    });
}

QTEST_MAIN(TestSubscriberWindows)
#include "test_subscriber_windows.moc"
