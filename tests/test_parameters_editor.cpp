// The parameters editor: what it shows, what it refuses while typing, and what
// it stores when it is left. Real widgets, typed into and clicked, offscreen.
#include "program_fixture.h"
#include "window_test_support.h"

#include <QAccessible>
#include <QGroupBox>
#include <QTest>

using namespace trellikon;
using namespace trellikon::layout;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Types into an edit as a user does: the edit's existing text is replaced
// key by key (each key is a change).
void retype(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

// Pastes over the whole text: one change.
void paste(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    edit->insert(text);
}

bool switchedOn(QLineEdit* edit) {
    return edit->isEnabled() && edit->palette().color(QPalette::Base) != switchedOffColour();
}
bool switchedOff(QLineEdit* edit) {
    return !edit->isEnabled() && edit->palette().color(QPalette::Base) == switchedOffColour();
}

SettingsImage::Bytes imageWith(const std::function<void(SettingsImage&)>& fill) {
    SettingsImage im;
    fill(im);
    return im.bytes();
}

} // namespace

class TestParametersEditor : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup();
    void startUpDefaults();
    void controlsAreNamedForAssistiveTechnology();
    void operatorDetectedOnActivation_data();
    void operatorDetectedOnActivation();
    void operatorPresets_data();
    void operatorPresets();
    void smsCentreTyping();
    void userNumbers_data();
    void userNumbers();
    void emptiedUserSwitchesTheTestMessageOff();
    void outputInterlocks();
    void bothOutputModesStoredShowAutomatic();
    void fillingWindowSilencesTheChecks();
    void typingChecks_data();
    void typingChecks();
    void balanceCodeAndOptions();
    void factorySettingsKeepNumbersAndCode();
    void leavingStoresTheControls();
    void unsoundCodeLengthAndTestMessageOnActivation();
    void navigation();
};

void TestParametersEditor::cleanup() {
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TestParametersEditor::startUpDefaults() {
    // An erased image shows the decoders' defaults.
    Program p;
    p.inParametersEditor([&](TForm2* f) {
        QCOMPARE(f->radiogroup6->ItemIndex(), 4);
        QVERIFY(f->Edit7->isEnabled());
        for (QCheckBox* b : f->smsMaskBoxes())
            QVERIFY(b->isChecked());
        for (QCheckBox* b : f->ringMaskBoxes())
            QVERIFY(b->isChecked());
        for (QCheckBox* b : f->inputMaskBoxes())
            QVERIFY(b->isChecked());
        QVERIFY(f->CheckBox17->isChecked());
        QCOMPARE(f->RadioGroup2->ItemIndex(), 1);
        QCOMPARE(f->RadioGroup3->ItemIndex(), 1);
        QCOMPARE(f->RadioGroup4->ItemIndex(), 1);
        QCOMPARE(f->RadioGroup5->ItemIndex(), 1);
        QVERIFY(switchedOff(f->Edit5));
        QVERIFY(switchedOff(f->Edit12));
        QCOMPARE(f->Edit1->text(), QStringLiteral("20"));
        QVERIFY(!f->CheckBox9->isChecked() && !f->CheckBox10->isChecked() &&
                !f->CheckBox20->isChecked());
        QVERIFY(switchedOff(f->Edit2) && switchedOff(f->Edit3) && switchedOff(f->Edit4));
        for (QLineEdit* e : {f->Edit7, f->Edit8, f->Edit9, f->Edit10, f->Edit11, f->Edit2})
            QVERIFY(e->text().isEmpty());
    });
    QVERIFY(p.messages.errors.isEmpty() && p.messages.plains.isEmpty());
}

void TestParametersEditor::controlsAreNamedForAssistiveTechnology() {
    // Every control has its own spoken name; the two sets of user boxes say
    // which mask they belong to, and nested groups carry their own titles.
    Program p;
    TForm2* f = p.form2();
    QSet<QString> names;
    for (QWidget* w : f->findChildren<QWidget*>()) {
        if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractButton*>(w) &&
            !qobject_cast<QGroupBox*>(w))
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        QVERIFY2(a && !a->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
        if (qobject_cast<QCheckBox*>(w) || qobject_cast<QLineEdit*>(w))
            QVERIFY2(!names.contains(a->text(QAccessible::Name)), qPrintable(w->objectName()));
        names << a->text(QAccessible::Name);
    }
    QCOMPARE(f->CheckBox1->accessibleName(), u("Maska SMS: Użytkownik 1"));
    QCOMPARE(f->CheckBox5->accessibleName(), u("Maska RING: Użytkownik 1"));
    QCOMPARE(f->findChild<QGroupBox*>(QStringLiteral("GroupRingMask"))->accessibleName(),
             u("Maska RING"));
    QCOMPARE(f->Edit8->accessibleName(), u("Numer użytkownika 1"));
    QCOMPARE(f->findChild<QWidget*>(QStringLiteral("Edit12")), f->Edit12);
}

void TestParametersEditor::operatorDetectedOnActivation_data() {
    QTest::addColumn<QString>("number");
    QTest::addColumn<int>("operatorIndex");
    QTest::newRow("PLUS's number selects PLUS") << QStringLiteral("48601000310") << 2;
    QTest::newRow("ORANGE's number selects ORANGE") << QStringLiteral("48501200777") << 0;
    QTest::newRow("PLAY's number selects PLAY") << QStringLiteral("48790998250") << 3;
    QTest::newRow("any other number is INNY") << QStringLiteral("48123456789") << 4;
}

void TestParametersEditor::operatorDetectedOnActivation() {
    // The operator follows from the stored number; the code shown is the
    // stored one, not the operator's preset.
    QFETCH(QString, number);
    QFETCH(int, operatorIndex);
    const auto memory = imageWith([&](SettingsImage& im) {
        im.writePhoneNumber(kSmsCentreNumber, number.toStdString());
        const std::string code = "*555#";
        for (std::size_t i = 0; i < code.size(); ++i)
            im.set(kBalanceQueryCode + i, static_cast<std::uint8_t>(code[i]));
        for (std::size_t i = code.size(); i < kBalanceQueryCodeArea; ++i)
            im.set(kBalanceQueryCode + i, 0);
        im.set(kBalanceQueryCodeCheck, im.checkByte(kBalanceQueryCode, kBalanceQueryCodeArea));
        im.writeValuePair(kBalanceQueryCodeLength, static_cast<std::uint8_t>(code.size()));
    });
    Program p;
    p.settings().image.setBytes(memory);
    p.settings().Decode_Parameters();
    p.settings().odczytaj_uzytkownikow();
    p.inParametersEditor([&](TForm2* f) {
        QCOMPARE(f->radiogroup6->ItemIndex(), operatorIndex);
        QCOMPARE(f->Edit7->isEnabled(), operatorIndex == 4);
        QCOMPARE(f->Edit7->text(), number);
        QCOMPARE(f->Edit2->text(), QStringLiteral("*555#"));
    });
    QVERIFY(p.messages.errors.isEmpty());
}

void TestParametersEditor::operatorPresets_data() {
    QTest::addColumn<int>("operatorIndex");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("code");
    QTest::newRow("ORANGE") << 0 << QStringLiteral("48501200777") << QStringLiteral("*124*#");
    QTest::newRow("ERA") << 1 << QStringLiteral("48602951111") << QStringLiteral("*101#");
    QTest::newRow("PLUS") << 2 << QStringLiteral("48601000310") << QStringLiteral("*100#");
    QTest::newRow("PLAY empties the code") << 3 << QStringLiteral("48790998250") << QString();
    QTest::newRow("INNY empties both") << 4 << QString() << QString();
}

void TestParametersEditor::operatorPresets() {
    // Choosing an operator fills in its number and code; an empty code
    // switches both report options off.
    QFETCH(int, operatorIndex);
    QFETCH(QString, number);
    QFETCH(QString, code);
    Program p;
    p.inParametersEditor([&](TForm2* f) {
        // Start from another operator with both report options on.
        f->radiogroup6->item(operatorIndex == 1 ? 2 : 1)->click();
        f->CheckBox20->click();
        f->CheckBox10->click();
        QVERIFY(f->CheckBox20->isChecked() && switchedOn(f->Edit4));
        f->radiogroup6->item(operatorIndex)->click();
        QCOMPARE(f->radiogroup6->ItemIndex(), operatorIndex);
        QCOMPARE(f->Edit7->text(), number);
        QCOMPARE(f->Edit2->text(), code);
        QCOMPARE(f->Edit7->isEnabled(), operatorIndex == 4);
        const bool optionsKept = !code.isEmpty();
        QCOMPARE(f->CheckBox20->isChecked(), optionsKept);
        QCOMPARE(f->CheckBox10->isChecked(), optionsKept);
        QCOMPARE(switchedOn(f->Edit4), optionsKept);
        QCOMPARE(switchedOn(f->Edit3), optionsKept);
    });
    QVERIFY(p.messages.errors.isEmpty());
}

void TestParametersEditor::smsCentreTyping() {
    // With INNY every change of the number empties the code; the number takes
    // 17 digits at most and nothing but digits.
    Program p;
    p.inParametersEditor([&](TForm2* f) {
        paste(f->Edit2, QStringLiteral("*100#"));
        QTest::keyClicks(f->Edit7, QStringLiteral("4"));
        QVERIFY(f->Edit2->text().isEmpty());
        QVERIFY(p.messages.errors.isEmpty());

        retype(f->Edit7, QStringLiteral("12a"));
        QCOMPARE(p.messages.errors, QStringList{u("Numer powinien zawierać tylko cyfry")});
        QVERIFY(f->Edit7->text().isEmpty());

        p.messages.errors.clear();
        QTest::keyClicks(f->Edit7, QStringLiteral("12345678901234567"));
        QVERIFY(p.messages.errors.isEmpty());
        QTest::keyClicks(f->Edit7, QStringLiteral("8"));
        QCOMPARE(p.messages.errors, QStringList{u("Za duża liczba cyfr w definicji Centrum SMS")});
        QVERIFY(f->Edit7->text().isEmpty());

        // A sign, an exponent or a blank would be stored and read back as no number.
        for (const char* bad : {"+48601", "1e5", "48 601", "1.5"}) {
            p.messages.errors.clear();
            paste(f->Edit7, QString::fromLatin1(bad));
            QCOMPARE(p.messages.errors, QStringList{u("Numer powinien zawierać tylko cyfry")});
            QVERIFY(f->Edit7->text().isEmpty());
        }

        // The number of a chosen operator changed from code falls back to INNY.
        p.messages.errors.clear();
        f->radiogroup6->item(2)->click();
        f->Edit7->setText(QStringLiteral("48111"));
        QCOMPARE(f->radiogroup6->ItemIndex(), 4);
        QVERIFY(f->Edit7->text().isEmpty());
        QVERIFY(f->Edit7->isEnabled());
    });
}

void TestParametersEditor::userNumbers_data() {
    QTest::addColumn<int>("user");
    QTest::addColumn<QString>("tooLong");
    QTest::addColumn<QString>("notDigits");
    QTest::newRow("user 1") << 1 << u("Za duża liczba cyfr w definicji numeru użytkownika 1")
                            << u("Numer powinien zawierać tylko cyfry");
    QTest::newRow("user 2") << 2 << u("Za duża liczba cyfr w definicja uytkownika 2")
                            << u("Numer powinien zawierać tylko cyfry  ");
    QTest::newRow("user 3") << 3 << u("Za duża liczba cyfr w definicji uzytkownika 3")
                            << u("Numer powinien zawierać tylko cyfry");
    QTest::newRow("user 4") << 4 << u("Za duża liczba cyfr w definicji użytkownika 4")
                            << u("Numer powinien zawierać tylko cyfry");
}

void TestParametersEditor::userNumbers() {
    // 17 digits stand, an 18th empties the number; anything but digits too.
    QFETCH(int, user);
    QFETCH(QString, tooLong);
    QFETCH(QString, notDigits);
    Program p;
    p.inParametersEditor([&](TForm2* f) {
        QLineEdit* e = f->userNumberEdits()[std::size_t(user - 1)];
        QTest::keyClicks(e, QStringLiteral("12345678901234567"));
        QVERIFY(p.messages.errors.isEmpty());
        QCOMPARE(e->text().size(), 17);
        QTest::keyClicks(e, QStringLiteral("8"));
        QCOMPARE(p.messages.errors, QStringList{tooLong});
        QVERIFY(e->text().isEmpty());
        p.messages.errors.clear();
        QTest::keyClicks(e, QStringLiteral("60-"));
        QCOMPARE(p.messages.errors, QStringList{notDigits});
        QVERIFY(e->text().isEmpty());
    });
}

void TestParametersEditor::emptiedUserSwitchesTheTestMessageOff() {
    // Emptying the number that the test message goes to switches it off,
    // once; another user's number changes nothing.
    Program p;
    p.inParametersEditor([&](TForm2* f) {
        TForm3* t = p.form3();
        paste(f->Edit9, QStringLiteral("600100200"));
        paste(f->Edit10, QStringLiteral("600100300"));
        t->CheckBox1->setChecked(true);
        t->Edit11->setText(QStringLiteral("3"));
        paste(f->Edit9, QString());
        QVERIFY(p.messages.errors.isEmpty());
        QVERIFY(t->CheckBox1->isChecked());

        t->Edit11->setText(QStringLiteral("2"));
        paste(f->Edit9, QStringLiteral("600100200"));
        paste(f->Edit9, QString());
        QCOMPARE(p.messages.errors,
                 QStringList{u("zmień index uzytkownika do którego wysyłany jest SMS testowy")});
        QVERIFY(!t->CheckBox1->isChecked());
        QVERIFY(t->Edit11->text().isEmpty());
        QVERIFY(switchedOff(t->Edit11));

        // An 18th digit empties the number: the same watch, one message each.
        p.messages.errors.clear();
        t->CheckBox1->setChecked(true);
        t->Edit11->setText(QStringLiteral("3"));
        QTest::keyClicks(f->Edit10, QStringLiteral("123456789"));
        QCOMPARE(p.messages.errors.size(), 2);
        QVERIFY(!t->CheckBox1->isChecked());
    });
}

void TestParametersEditor::outputInterlocks() {
    // An output is either held on or switched on for a time, never both.
    Program p;
    p.inParametersEditor([&](TForm2* f) {
        struct Output {
            RadioGroup* permanent;
            RadioGroup* automatic;
            QLineEdit* seconds;
        };
        for (const Output& o : {Output{f->RadioGroup2, f->RadioGroup4, f->Edit5},
                                Output{f->RadioGroup3, f->RadioGroup5, f->Edit12}}) {
            o.automatic->item(0)->click(); // TAK
            QCOMPARE(o.permanent->ItemIndex(), 1);
            QCOMPARE(o.seconds->text(), QStringLiteral("30"));
            QVERIFY(switchedOn(o.seconds));
            o.permanent->item(0)->click(); // AKTYWNE
            QCOMPARE(o.automatic->ItemIndex(), 1);
            QVERIFY(switchedOff(o.seconds));
            o.permanent->item(1)->click(); // NIEAKTYWNE switches the time on again
            QVERIFY(switchedOn(o.seconds));
            QCOMPARE(o.automatic->ItemIndex(), 1);
        }
        QVERIFY(p.messages.errors.isEmpty());
    });
}

void TestParametersEditor::bothOutputModesStoredShowAutomatic() {
    // Stored as both permanent and automatic, output 1 shows NIEAKTYWNE and TAK.
    Program p;
    p.settings().image.writeValuePair(kOutput1Permanent, 1); // value, then its check at +1
    p.settings().image.set(kOutput1PermanentReserved, 0);
    p.settings().image.set(kOutput1PermanentCheck, 0xAB);
    const std::uint8_t timed[3] = {1, 0x01, 0x2C};
    p.settings().image.writeValueGroup(kOutput1AutoEnabled, timed);
    p.settings().Decode_Parameters();
    QVERIFY(p.settings().decoded.output1_permanent && p.settings().decoded.output1_auto_on);
    p.inParametersEditor([&](TForm2* f) {
        QCOMPARE(f->RadioGroup2->ItemIndex(), 1);
        QCOMPARE(f->RadioGroup4->ItemIndex(), 0);
        QCOMPARE(f->Edit5->text(), QStringLiteral("300"));
        QVERIFY(switchedOn(f->Edit5));
    });
}

void TestParametersEditor::fillingWindowSilencesTheChecks() {
    // Until the third 50 ms tick the numeric and check-box handlers stand
    // still: a stored option without a code loads without a message.
    Program p;
    p.settings().decoded.balance_by_count_on = true;
    p.settings().decoded.balance_query_code.clear();
    p.inParametersEditor(
        [&](TForm2* f) {
            QCOMPARE(p.ctx().edits_armed, std::uint8_t(0));
            QVERIFY(p.form1->Timer3->isActive());
            p.form1->Timer3->stop();
            QVERIFY(f->CheckBox20->isChecked());
            QVERIFY(p.messages.errors.isEmpty());
            paste(f->Edit4, QStringLiteral("x"));
            QVERIFY(p.messages.errors.isEmpty());
            p.form1->Timer3Timer();
            p.form1->Timer3Timer();
            QCOMPARE(p.ctx().edits_armed, std::uint8_t(0));
            p.form1->Timer3Timer();
            QCOMPARE(p.ctx().edits_armed, std::uint8_t(1));
            paste(f->Edit4, QStringLiteral("y"));
            QCOMPARE(p.messages.errors.size(), 1);
        },
        false);
    QVERIFY(!p.form1->Timer3->isActive());
}

void TestParametersEditor::typingChecks_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message"); // empty: none
    QTest::addColumn<QString>("after");
    const QString limit = u("Błąd! Dobowy limit SMS musi zawierać się w przedziale od 1 do 9999");
    const QString out1 = u("Błąd! Automatyczne wysterowanie wyjscia 1 musi zawierać się w "
                           "przedziale od 1 do 999 sekund.");
    const QString out2 = u("Błąd! Automatyczne wysterowanie wyjscia 2 musi zawierać się w "
                           "przedziale od 1 do 999 sekund.");
    const QString count10 = u("Błąd! Ilościowe informowanie o stanie konta ma zawierać się w "
                              "przedziale od 10 do 9999");
    const QString count9999 =
        u("Błąd! Ilościowe informowanie o stanie konta nie może przekraczać 9999 SMS");
    const QString daysSie = u("Błąd! Czasowe informowanie o stanie konta musi zawierać sie w "
                              "przedziale od 1 do 999 dni");
    const QString daysSię = u("Błąd! Czasowe informowanie o stanie konta musi zawierać się w "
                              "przedziale od 1 do 999 dni");
    auto row = [](const char* name, const char* edit, const char* typed, const QString& message,
                  const char* after) {
        QTest::newRow(name) << QString::fromLatin1(edit) << QString::fromLatin1(typed) << message
                            << QString::fromLatin1(after);
    };
    row("limit 0", "Edit1", "0", u("Błąd! Dobowy limit SMS nie może zaczynać sie od liczby 0"),
        "20");
    row("limit 10000", "Edit1", "10000", limit, "20");
    row("limit x", "Edit1", "x", limit, "20");
    row("limit -5 takes no sign", "Edit1", "-5", limit, "20");
    row("limit 9999", "Edit1", "9999", {}, "9999");
    row("limit 00000 would spill over", "Edit1", "00000", limit, "20");
    row("output 1 1000", "Edit5", "1000", out1, "30");
    row("output 1 x", "Edit5", "x", out1, "30");
    row("output 1 999", "Edit5", "999", {}, "999");
    row("output 2 1000", "Edit12", "1000", out2, "30");
    row("count 0 stays", "Edit4", "0", count10, "0");
    row("count 5 passes", "Edit4", "5", {}, "5");
    row("count 10000", "Edit4", "10000", count9999, "10");
    row("count x", "Edit4", "x", count9999, "10");
    row("count 00010 would spill over", "Edit4", "00010", count9999, "10");
    row("days 1000", "Edit3", "1000", daysSie, "1");
    row("days x", "Edit3", "x", daysSię, "1");
    row("days 0 is no interval", "Edit3", "0", daysSie, "1");
    row("days -1 takes no sign", "Edit3", "-1", daysSię, "1");
    row("days 999", "Edit3", "999", {}, "999");
}

void TestParametersEditor::typingChecks() {
    // Each numeric field's message and correction, for the text entered at once.
    QFETCH(QString, edit);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(QString, after);
    Program p;
    p.inParametersEditor([&](TForm2* f) {
        // Every field switched on, as a user would have it.
        f->RadioGroup4->item(0)->click();
        f->RadioGroup5->item(0)->click();
        paste(f->Edit2, QStringLiteral("*100#"));
        f->CheckBox20->click();
        f->CheckBox10->click();
        auto* e = f->findChild<QLineEdit*>(edit);
        QVERIFY(e && e->isEnabled());
        p.messages.errors.clear();
        paste(e, typed);
        QCOMPARE(p.messages.errors, message.isEmpty() ? QStringList{} : QStringList{message});
        QCOMPARE(e->text(), after);
    });
}

void TestParametersEditor::balanceCodeAndOptions() {
    // The code takes 20 characters; an option needs a code; unchecking the
    // report switch keeps the code and the options.
    Program p;
    p.inParametersEditor([&](TForm2* f) {
        f->CheckBox20->click();
        QVERIFY(!f->CheckBox20->isChecked());
        QCOMPARE(p.messages.errors, QStringList{u("Zdefiniuj najpierw numer badania stanu konta")});
        QVERIFY(switchedOff(f->Edit4));
        f->CheckBox9->click();
        QVERIFY(switchedOn(f->Edit2));
        QTest::keyClicks(f->Edit2, QStringLiteral("*12345678901234567#A"));
        QCOMPARE(f->Edit2->text().size(), 20);
        QVERIFY(p.messages.plains.isEmpty());
        f->CheckBox20->click();
        f->CheckBox10->click();
        QVERIFY(switchedOn(f->Edit4) && switchedOn(f->Edit3));
        f->CheckBox9->click();
        QVERIFY(switchedOff(f->Edit2));
        QCOMPARE(f->Edit2->text().size(), 20);
        QVERIFY(f->CheckBox20->isChecked() && f->CheckBox10->isChecked());
        f->CheckBox9->click();
        QTest::keyClicks(f->Edit2, QStringLiteral("B"));
        QCOMPARE(p.messages.plains,
                 QStringList{u("Za duża liczba znaków w definicji numeru badania stanu konta")});
        QVERIFY(f->Edit2->text().isEmpty());
        QVERIFY(!f->CheckBox20->isChecked() && !f->CheckBox10->isChecked());
        QVERIFY(switchedOff(f->Edit4) && switchedOff(f->Edit3));
        QCOMPARE(p.messages.errors.size(), 1);
    });
}

void TestParametersEditor::factorySettingsKeepNumbersAndCode() {
    // Factory settings reset masks, outputs, reports, ECHO and the limit, and
    // keep the SMS centre, the user numbers and the code.
    Program p;
    p.inParametersEditor([&](TForm2* f) {
        f->radiogroup6->item(1)->click(); // ERA
        paste(f->Edit8, QStringLiteral("600700800"));
        f->CheckBox20->click();
        paste(f->Edit4, QStringLiteral("50"));
        f->CheckBox2->click();
        f->CheckBox28->click();
        f->CheckBox17->click();
        f->RadioGroup2->item(0)->click();
        f->RadioGroup5->item(0)->click();
        paste(f->Edit1, QStringLiteral("7"));
        f->SpeedButton3->click();
        QCOMPARE(f->radiogroup6->ItemIndex(), 1);
        QCOMPARE(f->Edit7->text(), QStringLiteral("48602951111"));
        QCOMPARE(f->Edit2->text(), QStringLiteral("*101#"));
        QCOMPARE(f->Edit8->text(), QStringLiteral("600700800"));
        QVERIFY(f->CheckBox2->isChecked() && f->CheckBox28->isChecked() &&
                f->CheckBox17->isChecked());
        QCOMPARE(f->RadioGroup2->ItemIndex(), 1);
        QCOMPARE(f->RadioGroup5->ItemIndex(), 1);
        QVERIFY(f->Edit12->text().isEmpty() && f->Edit4->text().isEmpty());
        QVERIFY(!f->CheckBox20->isChecked() && !f->CheckBox9->isChecked());
        QVERIFY(switchedOff(f->Edit2));
        QCOMPARE(f->Edit1->text(), QStringLiteral("20"));
    });
    QVERIFY(p.messages.errors.isEmpty());
}

void TestParametersEditor::leavingStoresTheControls() {
    // Leaving by "WSTECZ" or by the close box stores the controls, and the
    // code's length with its check goes into image bytes 300 and 301.
    for (bool byBack : {true, false}) {
        Program p;
        p.inParametersEditor([&](TForm2* f) {
            paste(f->Edit8, QStringLiteral("600700800"));
            f->CheckBox9->click();
            paste(f->Edit2, QStringLiteral("*1234#"));
            f->CheckBox1->click();
            f->CheckBox24->click();
            f->RadioGroup4->item(0)->click();
            retype(f->Edit5, QStringLiteral("120"));
            f->CheckBox10->click();
            paste(f->Edit3, QStringLiteral("7"));
            paste(f->Edit1, QStringLiteral("55"));
            if (byBack)
                f->SpeedButton2->click();
        });
        const DecodedSettings& d = p.settings().decoded;
        QCOMPARE(d.user_number[0], std::string("600700800"));
        QCOMPARE(d.balance_query_code, std::string("*1234#"));
        QVERIFY(d.balance_info_on && d.balance_by_time_on && d.balance_days_valid);
        QVERIFY(!d.balance_by_count_on);
        QCOMPARE(d.balance_days, std::string("7"));
        QCOMPARE(d.sms_mask, std::uint8_t(0x07));
        QCOMPARE(d.input_mask, std::uint8_t(0xEF));
        QVERIFY(d.output1_auto_on && !d.output1_permanent);
        QCOMPARE(d.output1_auto_seconds, std::string("120"));
        QCOMPARE(d.daily_sms_limit, std::string("55"));
        QCOMPARE(p.settings().image.at(300), std::uint8_t(6));
        QCOMPARE(p.settings().image.at(301), std::uint8_t(6 ^ 0xAA));
        // Shown again as stored.
        p.inParametersEditor([&](TForm2* f) {
            QCOMPARE(f->Edit2->text(), QStringLiteral("*1234#"));
            QCOMPARE(f->Edit5->text(), QStringLiteral("120"));
            QVERIFY(f->CheckBox10->isChecked() && switchedOn(f->Edit3));
        });
        QVERIFY(p.messages.errors.isEmpty());
    }
}

void TestParametersEditor::unsoundCodeLengthAndTestMessageOnActivation() {
    // A code whose stored length fails its check is not shown and is dropped
    // from the decoded settings; the stored test message reaches the texts
    // editor's check box and index, and an unset one clears them.
    for (bool testMessage : {true, false}) {
        Program p;
        p.settings().decoded.balance_query_code = "*555#";
        p.settings().decoded.balance_info_on = false;
        p.settings().image.set(300, 5);
        p.settings().image.set(301, 5);
        p.settings().decoded.test_message_on = testMessage;
        p.settings().decoded.test_message_user = "3";
        p.form3()->Edit11->setText(QStringLiteral("2"));
        p.inParametersEditor([&](TForm2* f) {
            QCOMPARE(f->Edit2->text(), QString());
            QVERIFY(!f->CheckBox9->isChecked() && !switchedOn(f->Edit2));
            QCOMPARE(p.form3()->CheckBox1->isChecked(), testMessage);
            QCOMPARE(p.form3()->Edit11->text(), testMessage ? QStringLiteral("3") : QString());
        });
        QCOMPARE(p.settings().decoded.balance_query_code, std::string());
        QVERIFY(p.messages.errors.isEmpty());
    }
}

void TestParametersEditor::navigation() {
    // The texts editor opens with the texts decoded afresh and the flag set;
    // coming back clears it. The subscriber list opens from its button.
    Program p;
    p.settings().image.writeText(powerLossText, "Brak zasilania");
    bool textsShown = false, subscribersShown = false;
    p.inParametersEditor([&](TForm2* f) {
        whenModal([&](QDialog* d) {
            textsShown = d == p.form3();
            QCOMPARE(p.ctx().texts_opened_from_parameters, std::uint8_t(1));
            QCOMPARE(p.settings().decoded.texts[powerLossText], std::string("Brak zasilania"));
        });
        f->SpeedButton1->click();
        QCOMPARE(p.ctx().texts_opened_from_parameters, std::uint8_t(0));
        whenModal([&](QDialog* d) { subscribersShown = d == p.ctx().form12; });
        f->SpeedButton4->click();
    });
    QVERIFY(textsShown);
    QVERIFY(subscribersShown);
}

QTEST_MAIN(TestParametersEditor)
#include "test_parameters_editor.moc"
