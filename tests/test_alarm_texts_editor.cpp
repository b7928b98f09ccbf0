// The alarm texts editor: the change check of its boxes, the test message,
// and its commands (back, factory texts, write, template save).
#include "files.h"
#include "program_fixture.h"
#include "random_image.h"
#include "window_test_support.h"

#include <QFile>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace trellikon;
using namespace trellikon::layout;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

void paste(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    edit->insert(text);
}

// Types text key by key, Polish letters included (QTest's key tables know
// only ASCII).
void typeText(QLineEdit* edit, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &release);
    }
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QString kHeaderForbidden =
    u("Definicja treści nagłówka komunikatu alarmowego nie może zawierać polskich znaków");
const QString kAlarmForbidden =
    u("Definicja treści komunikatu alarmowego nie może zawierać polskich znaków");

// A write under way whose window the user closed: the device never
// acknowledges, so the link goes on sending.
void startUnansweredWrite(Program& p) {
    p.connect();
    whenModal([&p](QDialog*) { p.form5()->Button1->click(); });
    trellikon::WriteSteps framesAlone;
    framesAlone.again = true;
    p.ctx().session->write(framesAlone);
    QVERIFY(p.ctx().session->sending());
}

} // namespace

class TestAlarmTextsEditor : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup();
    void changeCheck();
    void messagesOfEachBox_data();
    void messagesOfEachBox();
    void charactersWithoutCodePageBecomeQuestionMarks();
    void activationLoadsTextsAndTestMessage();
    void factoryTextsThenBack();
    void enterInABoxChangesNoText_data();
    void enterInABoxChangesNoText();
    void backClosesEvenWhenATextIsRefused();
    void indexCheck_data();
    void indexCheck();
    void writeWithoutConnection();
    void writeRefusesATextTheDeviceCannotSend_data();
    void writeRefusesATextTheDeviceCannotSend();
    void connectionLostKeepsTypedTexts();
    void refusedWriteClosesIntoTheParametersEditor();
    void saveTemplate();
    void failedSaveKeepsTheOldFile();
};

void TestAlarmTextsEditor::cleanup() {
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TestAlarmTextsEditor::changeCheck() {
    // Length first, then the character rule (not for a change from an empty
    // accepted text); a restore is a change and is checked once more.
    Program p;
    p.inTextsEditor([&](TForm3* t) {
        QLineEdit* e = t->Edit3;
        paste(e, QStringLiteral("abc"));
        p.messages.errors.clear();
        typeText(e, u("ą"));
        QCOMPARE(p.messages.errors, QStringList{kAlarmForbidden});
        QCOMPARE(e->text(), QStringLiteral("abc"));
        for (const char* fine : {"{", "}"}) {
            QTest::keyClicks(e, QString::fromLatin1(fine));
        }
        QCOMPARE(e->text(), QStringLiteral("abc{}"));
        QCOMPARE(p.messages.errors.size(), 1);
        QTest::keyClicks(e, QStringLiteral("~"));
        QCOMPARE(p.messages.errors.size(), 2);
        QCOMPARE(e->text(), QStringLiteral("abc{}"));

        // Into an empty box a Polish letter is taken; the next key is refused,
        // and the restored text with the letter is refused again: two boxes.
        p.messages.errors.clear();
        e->clear();
        typeText(e, u("ó"));
        QVERIFY(p.messages.errors.isEmpty());
        QTest::keyClicks(e, QStringLiteral("k"));
        QCOMPARE(p.messages.errors, (QStringList{kAlarmForbidden, kAlarmForbidden}));
        QCOMPARE(e->text(), u("ó"));
        QCOMPARE(t->accepted_text[2], u("ó"));

        // 50 characters in the header, 100 in the others.
        p.messages.errors.clear();
        paste(t->Edit1, QString(50, QLatin1Char('h')));
        QTest::keyClicks(t->Edit1, QStringLiteral("x"));
        QCOMPARE(p.messages.errors,
                 QStringList{u("Definicja treści nagłówka komunikatu alarmowego nie moze "
                               "przekraczać 50 znaków")});
        QCOMPARE(t->Edit1->text(), QString(50, QLatin1Char('h')));
        p.messages.errors.clear();
        paste(t->Edit4, QString(100, QLatin1Char('a')));
        QTest::keyClicks(t->Edit4, QStringLiteral("x"));
        QCOMPARE(p.messages.errors,
                 QStringList{u("Definicja treści komunikatu alarmowego nie moze przekraczać "
                               "100 znaków")});
        QCOMPARE(t->Edit4->text().size(), 100);

        // A 120-character paste into an empty box is refused by length.
        p.messages.errors.clear();
        t->Button[4]->click(); // clears Edit5
        QVERIFY(t->Edit5->text().isEmpty() && t->accepted_text[4].isEmpty());
        paste(t->Edit5, QString(120, QLatin1Char('z')));
        QCOMPARE(p.messages.errors.size(), 1);
        QVERIFY(t->Edit5->text().isEmpty());
    });
}

void TestAlarmTextsEditor::messagesOfEachBox_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("clear");
    QTest::addColumn<int>("longest");
    QTest::addColumn<QString>("tooLong");
    QTest::addColumn<QString>("forbidden");
    const QString alarmLong =
        u("Definicja treści komunikatu alarmowego nie moze przekraczać 100 znaków");
    const QString twoBlanks =
        u("Definicja treści  komunikatu alarmowego nie może zawierać polskich znaków");
    QTest::newRow("header") << "Edit1"
                            << "Button14" << 50
                            << u("Definicja treści nagłówka komunikatu alarmowego nie moze "
                                 "przekraczać 50 znaków")
                            << kHeaderForbidden;
    QTest::newRow("0+") << "Edit2"
                        << "Button1" << 100 << alarmLong
                        << u("Definicja treści treści komunikatu alarmowego nie może zawierać "
                             "polskich znaków");
    const char* plain[] = {"Edit3", "Edit4", "Edit9", "Edit10", "Edit12", "Edit13"};
    const char* plainButtons[] = {"Button2", "Button3",  "Button8",
                                  "Button9", "Button10", "Button11"};
    for (int i = 0; i < 6; ++i)
        QTest::newRow(plain[i]) << plain[i] << plainButtons[i] << 100 << alarmLong
                                << kAlarmForbidden;
    const char* blanks[] = {"Edit5", "Edit6", "Edit7", "Edit8", "Edit14", "Edit15"};
    const char* blankButtons[] = {"Button4", "Button5",  "Button6",
                                  "Button7", "Button12", "Button13"};
    for (int i = 0; i < 6; ++i)
        QTest::newRow(blanks[i]) << blanks[i] << blankButtons[i] << 100 << alarmLong << twoBlanks;
    QTest::newRow("test message")
        << "Edit16"
        << "Button15" << 100
        << u("Definicja treści komunikatu testowego nie moze przekraczać 100 znaków")
        << u("Definicja treści komunikatu testowego nie może zawierać polskich znaków");
}

void TestAlarmTextsEditor::messagesOfEachBox() {
    // Every box has its own two messages and its own "Czyść".
    QFETCH(QString, edit);
    QFETCH(QString, clear);
    QFETCH(int, longest);
    QFETCH(QString, tooLong);
    QFETCH(QString, forbidden);
    Program p;
    p.inTextsEditor([&](TForm3* t) {
        auto* e = t->findChild<QLineEdit*>(edit);
        auto* c = t->findChild<QPushButton*>(clear);
        QVERIFY(e && c);
        c->click();
        QVERIFY(e->text().isEmpty());
        paste(e, QStringLiteral("a"));
        p.messages.errors.clear();
        typeText(e, u("ż"));
        paste(e, QString(longest + 1, QLatin1Char('a')));
        QCOMPARE(p.messages.errors, (QStringList{forbidden, tooLong}));
        QCOMPARE(e->text(), QStringLiteral("a"));
    });
}

void TestAlarmTextsEditor::charactersWithoutCodePageBecomeQuestionMarks() {
    // A character Windows-1250 cannot hold never stands in a box; Polish
    // letters do stand (and meet the character rule).
    Program p;
    p.inTextsEditor([&](TForm3* t) {
        t->Button[1]->click();
        paste(t->Edit2, u("a😀中b"));
        QCOMPARE(t->Edit2->text(), QStringLiteral("a??b"));
        t->Button[1]->click();
        paste(t->Edit2, u("Żółw"));
        QCOMPARE(t->Edit2->text(), u("Żółw"));
        t->Edit3->clear();
        t->Edit3->setText(u("€ ∞")); // from code as well
        QCOMPARE(t->Edit3->text(), u("€ ?"));
        QVERIFY(p.messages.errors.isEmpty());
    });
}

void TestAlarmTextsEditor::activationLoadsTextsAndTestMessage() {
    // Opening the window loads the texts decoded afresh from the image; the
    // parameters editor has set the test message from the decoded settings.
    Program p;
    p.settings().image.writeText(messageHeaderText, "DOM: ");
    p.settings().image.writeText(input8OnText, "Alarm strefa 8");
    p.settings().image.writePhoneNumber(kUserNumber2, "600100200");
    const std::uint8_t test[2] = {1, 2};
    p.settings().image.writeValueGroup(kTestMessageEnabled, test);
    p.settings().Decode_Parameters();
    p.settings().odczytaj_uzytkownikow();
    p.inTextsEditor([&](TForm3* t) {
        QCOMPARE(t->Label1->text(), u("Nagłówek komunikatu"));
        QCOMPARE(t->Edit1->text(), QStringLiteral("DOM: "));
        QCOMPARE(t->Edit15->text(), QStringLiteral("Alarm strefa 8"));
        QCOMPARE(t->Edit3->text(), QStringLiteral("Powrot zasilania"));
        QVERIFY(t->CheckBox1->isChecked());
        QCOMPARE(t->Edit11->text(), QStringLiteral("2"));
        QVERIFY(t->Edit11->isEnabled());
        t->CheckBox1->click();
        QVERIFY(!t->Edit11->isEnabled());
        QCOMPARE(t->Edit11->palette().color(QPalette::Base), switchedOffColour());
        paste(t->Edit4, QStringLiteral("Wejscie 1"));
    });
    // Leaving by the close box stores into the decoded settings, not the image.
    QCOMPARE(p.settings().decoded.texts[input1OnText], std::string("Wejscie 1"));
    QVERIFY(!p.settings().decoded.test_message_on);
    QCOMPARE(p.settings().image.at(*textSlotOffset(input1OnText)), std::uint8_t(0xFF));
    QVERIFY(p.messages.errors.isEmpty());
}

void TestAlarmTextsEditor::factoryTextsThenBack() {
    // Factory texts, then back, put the factory texts into the image.
    Program p;
    p.settings().image.setBytes(randomImage(5));
    const auto before = p.settings().image.bytes();
    p.inTextsEditor([&](TForm3* t) {
        t->SpeedButton1->click();
        QCOMPARE(t->Edit1->text(), QStringLiteral("TRELLIKON: "));
        QVERIFY(p.settings().image.bytes()[kTextSlotSize + 512] ==
                before[kTextSlotSize + 512]); // nothing written yet
        t->SpeedButton2->click();
        QVERIFY(!t->isVisible());
    });
    for (int slot = 0; slot < kTextSlotCount; ++slot) {
        const auto r = p.settings().image.readText(slot);
        QVERIFY(r.valid);
        QCOMPARE(r.value, defaultText(slot));
    }
    QCOMPARE(p.settings().image.at(512 + 10), std::uint8_t(' '));
    // Nothing but the text slots changed (and the code length when the
    // parameters editor was left).
    const auto after = p.settings().image.bytes();
    for (std::size_t i = 0; i < 512; ++i)
        if (i != kBalanceQueryCodeLength && i != kBalanceQueryCodeLength + 1)
            QCOMPARE(after[i], before[i]);
    for (std::size_t i = 2048; i < kImageSize; ++i)
        QCOMPARE(after[i], before[i]);
}

void TestAlarmTextsEditor::enterInABoxChangesNoText_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier);
    QTest::newRow("Enter of the keypad") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
}

void TestAlarmTextsEditor::enterInABoxChangesNoText() {
    // Enter in any of the sixteen boxes presses no "Czyść" and no other
    // button: every text stays, the window stays open, nothing is reported.
    QFETCH(int, key);
    QFETCH(int, modifiers);
    Program p;
    p.inTextsEditor([&](TForm3* t) {
        t->CheckBox1->click(); // the index box takes the focus only when on
        const auto edits = t->textEdits();
        QList<QLineEdit*> boxes(edits.begin(), edits.end());
        boxes << t->Edit11;
        QStringList before;
        for (QLineEdit* box : boxes)
            before << box->text();
        QVERIFY(!before[0].isEmpty());
        for (QLineEdit* box : boxes) {
            box->setFocus();
            QTest::keyClick(box, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
            QStringList now;
            for (QLineEdit* b : boxes)
                now << b->text();
            QVERIFY2(now == before, qPrintable(box->objectName()));
            QVERIFY2(t->isVisible(), qPrintable(box->objectName()));
        }
        QVERIFY(p.messages.errors.isEmpty());
    });
    QCOMPARE(fromDevice(p.settings().decoded.message_header()), u("TRELLIKON: "));
}

void TestAlarmTextsEditor::backClosesEvenWhenATextIsRefused() {
    // The back command closes the window whatever the text encoder says.
    Program p;
    p.inTextsEditor([&](TForm3* t) {
        {
            // Only the encoder's own contract can be tested this way: the
            // change check never lets a box hold this much.
            const QSignalBlocker quiet(t->Edit2);
            t->Edit2->setText(QString(120, QLatin1Char('a')));
        }
        t->SpeedButton2->click();
        QVERIFY(!t->isVisible());
        QCOMPARE(t->encode_failed, std::uint8_t(1));
    });
    QCOMPARE(p.messages.errors,
             QStringList{u("DEFINICJA KOMUNIKATU ALARMU 1 przekracza 100 znaków")});
    QCOMPARE(p.settings().image.at(614), std::uint8_t(0));
    QCOMPARE(p.settings().image.at(614 + kTextCheck), std::uint8_t(0xAA));
}

void TestAlarmTextsEditor::indexCheck_data() {
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("message");
    const QString range = u("Index użytkownika - pozycja na której użytkownik zapisany jest w "
                            "systemie ma zawierać się w przedziałe od 1 do 4 ");
    QTest::newRow("0") << "0" << range;
    QTest::newRow("5") << "5" << range;
    QTest::newRow("-1") << "-1" << range;
    QTest::newRow("x") << "x" << range;
    QTest::newRow("user 3 has no number") << "3" << u("Zdefiniuj najpierw użytkownika numer 3");
    QTest::newRow("user 2 has a number") << "2" << QString();
}

void TestAlarmTextsEditor::indexCheck() {
    // Opened from the parameters editor, the index must name a defined user;
    // one message for a refused index, which is emptied.
    QFETCH(QString, index);
    QFETCH(QString, message);
    Program p;
    p.inTextsEditor(
        [&](TForm3* t) {
            t->CheckBox1->setChecked(true);
            paste(t->Edit11, index);
            QCOMPARE(p.messages.errors, message.isEmpty() ? QStringList{} : QStringList{message});
            QCOMPARE(t->Edit11->text(), message.isEmpty() ? index : QString());
        },
        [](TForm2* f) { paste(f->Edit9, QStringLiteral("600100200")); });
    // Not opened from the parameters editor: no check.
    p.ctx().texts_opened_from_parameters = 0;
    paste(p.form3()->Edit11, QStringLiteral("7"));
    QCOMPARE(p.form3()->Edit11->text(), QStringLiteral("7"));
}

void TestAlarmTextsEditor::writeWithoutConnection() {
    // Without a connection the write says so and encodes nothing.
    Program p;
    const auto before = p.settings().image.bytes();
    // An attempt under way arms the watch before any connection; its window was closed.
    whenModal([&p](QDialog*) { p.form6()->Button1->click(); });
    p.form1->SpeedButton1Click();
    QVERIFY(p.ctx().session->watching() && !p.ctx().session->connected());
    p.inTextsEditor([&](TForm3* t) {
        paste(t->Edit3, QStringLiteral("Nowy tekst"));
        t->SpeedButton4->click();
        QVERIFY(t->isVisible());
    });
    QCOMPARE(p.messages.errors,
             QStringList{u("Zapis ustawień nie może być przeprowadzony, Wybierz port komputera, "
                           "wyłącz i włącz urządzenie a następnie nacinij przycisk \"Nawiąż "
                           "połączenie\"")});
    QVERIFY(!p.ctx().session->watching());
    for (int slot = 0; slot < kTextSlotCount; ++slot)
        QCOMPARE(p.settings().image.at(*textSlotOffset(slot)), before[*textSlotOffset(slot)]);
}

void TestAlarmTextsEditor::writeRefusesATextTheDeviceCannotSend_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("a Polish letter pasted into an empty box")
        << u("Edit3") << u("Żółw") << u("Komunikat 0-: powrót zasilania: ") + kAlarmForbidden;
    QTest::newRow("quotes and a dash from a word processor")
        << u("Edit1") << u("„DOM” – ") << u("Nagłówek komunikatu: ") + kHeaderForbidden;
}

void TestAlarmTextsEditor::writeRefusesATextTheDeviceCannotSend() {
    // A text pasted into an empty box is not checked as it arrives; the write
    // checks every text by the typing rule and sends nothing when one fails.
    QFETCH(QString, edit);
    QFETCH(QString, text);
    QFETCH(QString, message);
    Program p;
    p.connect();
    const auto before = p.device.memory();
    p.inTextsEditor([&](TForm3* t) {
        auto* e = t->findChild<QLineEdit*>(edit);
        QVERIFY(e);
        e->clear();
        paste(e, text);
        QCOMPARE(e->text(), text);
        QVERIFY(p.messages.errors.isEmpty());
        t->SpeedButton4->click();
        QVERIFY(t->isVisible());
    });
    QCOMPARE(p.messages.errors, QStringList{message});
    QVERIFY(!p.ctx().session->sending());
    QVERIFY(!p.form5()->isVisible());
    QVERIFY(p.device.memory() == before);
}

void TestAlarmTextsEditor::connectionLostKeepsTypedTexts() {
    // The notice closes the editors; the texts typed since the texts editor
    // opened are there when it is opened again.
    Program p;
    p.connect();
    p.inTextsEditor([&](TForm3* t) {
        paste(t->Edit4, QStringLiteral("Brama otwarta"));
        whenModal([&](QDialog*) { QTest::mouseClick(p.form11()->Button1, Qt::LeftButton); });
        for (int i = 0; i < 81 && p.ctx().session->connected(); ++i)
            p.form1->Timer2Timer();
        QVERIFY(!t->isVisible());
    });
    QVERIFY(!p.ctx().session->connected());
    QString shown;
    p.inTextsEditor([&](TForm3* t) {
        shown = t->Edit4->text();
        t->SpeedButton2->click();
    });
    QCOMPARE(shown, QStringLiteral("Brama otwarta"));
}

void TestAlarmTextsEditor::refusedWriteClosesIntoTheParametersEditor() {
    // A refused SMS centre shows the encoder's message, then the write's; the
    // texts editor closes and the parameters editor is active again.
    Program p;
    p.connect();
    bool backInParameters = false;
    p.inParametersEditor([&](TForm2* f) {
        whenModal([&](QDialog*) {
            p.form3()->SpeedButton4->click();
            QVERIFY(!p.form3()->isVisible());
        });
        f->SpeedButton1->click();
        backInParameters = p.ctx().dialogs.stack->top() == f;
    });
    QVERIFY(backInParameters);
    QCOMPARE(p.messages.errors,
             (QStringList{u("NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI CENTRUM SMS"),
                          u("Zapis ustawień nie może być przeprowadzony,skoryguj ustawienia")}));
    QVERIFY(!p.ctx().session->sending());
    QVERIFY(!p.form5()->isVisible());
}

void TestAlarmTextsEditor::saveTemplate() {
    // The save encodes, asks for a name and writes exactly the image under
    // that name; every byte value survives a save and a load.
    QTemporaryDir dir;
    Program p;
    p.settings().image.setBytes(randomImage(9));
    p.settings().Decode_Parameters();
    p.settings().odczytaj_uzytkownikow();
    const QString path = dir.filePath(QStringLiteral("abc"));
    p.files.answers = {path};
    startUnansweredWrite(p);
    p.inTextsEditor(
        [&](TForm3* t) {
            t->SpeedButton3->click();
            QVERIFY(t->isVisible());
        },
        [](TForm2* f) {
            f->radiogroup6->item(2)->click(); // PLUS
            paste(f->Edit8, QStringLiteral("600700800"));
        });
    QCOMPARE(p.files.filters, QStringList{QStringLiteral("sbn (sbn)")});
    QCOMPARE(p.messages.plains,
             QStringList{u("Operacja zapisu do pliku przeprowadzona pomyślnie")});
    QVERIFY(p.messages.errors.isEmpty());
    QVERIFY(!p.ctx().session->sending());
    QVERIFY(!QFile::exists(path + QStringLiteral(".sbn")));
    const QByteArray saved = readFile(path);
    QCOMPARE(saved.size(), 4096);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(p.settings().image.bytes().data()), 4096),
             saved);
    QCOMPARE(p.settings().image.readPhoneNumber(kUserNumber1).value, std::string("600700800"));
    QCOMPARE(p.settings().image.readPhoneNumber(kSmsCentreNumber).value,
             std::string("48601000310"));
    QCOMPARE(p.settings().image.bytes()[3000], randomImage(9)[3000]);

    // An image holding every byte value comes back unchanged from a file.
    SettingsImage::Bytes all{};
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    QVERIFY(!saveFileAtomically(path.toStdString(), all.data(), all.size()));
    const auto loaded = loadTemplate(path.toStdString());
    QVERIFY(loaded.ok() && loaded.bytes == all);

    // A refused entry: its message only, no dialog, no file.
    Program q;
    q.files.answers = {dir.filePath(QStringLiteral("never"))};
    q.inTextsEditor([&](TForm3* t) { t->SpeedButton3->click(); });
    QCOMPARE(q.messages.errors,
             QStringList{u("NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI CENTRUM SMS")});
    QVERIFY(q.files.filters.isEmpty());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("never"))));

    // A cancelled dialog: no message, no file, and the write flag still cleared.
    Program c;
    startUnansweredWrite(c);
    c.inTextsEditor([&](TForm3* t) { t->SpeedButton3->click(); },
                    [](TForm2* f) { f->radiogroup6->item(2)->click(); });
    QCOMPARE(c.files.filters.size(), 1);
    QVERIFY(c.messages.plains.isEmpty() && c.messages.errors.isEmpty());
    QVERIFY(!c.ctx().session->sending());
}

void TestAlarmTextsEditor::failedSaveKeepsTheOldFile() {
    // A save that fails part-way (a full disk) or cannot start (a folder that
    // takes no files) says so and leaves an earlier template untouched.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("szablon.sbn"));
    const QByteArray old(4096, '\x5A');
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    Program p;
    p.files.answers = {path, QStringLiteral("/proc/szablon.sbn")};
    auto saveWithFileLimit = [&](rlim_t limit) {
        // Writes beyond the limit fail as on a full disk.
        struct rlimit saved {};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        struct rlimit small = saved;
        small.rlim_cur = limit;
        auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &small);
        p.form3()->SpeedButton3->click();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    };
    p.inTextsEditor(
        [&](TForm3*) {
            saveWithFileLimit(1000);
            p.form3()->SpeedButton3->click();
        },
        [](TForm2* f) { f->radiogroup6->item(0)->click(); });
    QCOMPARE(p.messages.plains, (QStringList{u("Operacja zapisu nie powiodła się"),
                                             u("Operacja zapisu nie powiodła się")}));
    QCOMPARE(readFile(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("szablon.sbn")});
}

QTEST_MAIN(TestAlarmTextsEditor)
#include "test_alarm_texts_editor.moc"
