// The tool's main cycle through its windows and the real port layer: read a
// simulated device on a pseudo-terminal, edit both editors, program it, and
// find exactly the edited settings in the device's memory.
#include "alarm_texts_editor.h"
#include "main_window.h"
#include "parameters_editor.h"
#include "programming_fixture.h"
#include "progress_dialog.h"
#include "pty_test_support.h"
#include "random_image.h"
#include "settings_encoder.h"
#include "system_serial_port.h"
#include "window_test_support.h"

#include <QTest>

using namespace trellikon;
using namespace trellikon::layout;
using namespace trellikon::testing;

namespace {

void paste(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    edit->insert(text);
}

// Settings as an installer might have left them on a device.
EditorSnapshot installedSettings() {
    EditorSnapshot s;
    s.sms_centre_number = "48601000310";
    s.user_number = {"48600100200", "48600100300", "", "600700800"};
    s.echo = true;
    s.sms_mask_user = {true, true, false, true};
    s.ring_mask_user = {true, false, false, false};
    s.input_mask_input = {true, true, true, false, false, true, true, true};
    s.output1_permanent_index = 1;
    s.output2_permanent_index = 0;
    s.output1_auto_index = 0;
    s.output2_auto_index = 1;
    s.output1_auto_seconds = "300";
    s.daily_sms_limit = "50";
    s.balance_info = true;
    s.balance_by_count = true;
    s.balance_sms_count = "100";
    s.balance_query_code = "*100#";
    s.test_message_on = true;
    s.test_message_user = "2";
    for (int slot = 0; slot < kTextSlotCount; ++slot)
        s.texts[std::size_t(slot)] = defaultText(slot);
    s.texts[powerLossText] = "Brak 230V";
    return s;
}

} // namespace

class TestProgrammingEndToEnd : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void readEditProgram();
};

void TestProgrammingEndToEnd::readEditProgram() {
    // What the editors show after the edit is what the device holds after
    // programming, byte for byte; unused bytes and callers come back as read.
    DeviceSettings installed;
    installed.image.setBytes(randomImage(31));
    const EditorSnapshot before = installedSettings();
    QVERIFY(!Encode_Settings(before, installed).encode_failed);
    const SettingsImage::Bytes memory = installed.image.bytes();

    PtyServerOptions options;
    options.baud = 0; // the line's pace is the link tests' business
    options.powerOnDelayMs = 50;
    RunningServer s(memory, options);
    QVERIFY2(s.ok(), s.error().c_str());

    ProgrammingFixture p(s.path());
    TForm1& form1 = p.form1;
    EditorsContext& ctx = p.ctx();
    const DialogWindows& windows = p.windows();
    auto tickUntil = [&](const std::function<bool()>& done) { return p.tickUntil(done); };

    whenModal([&](QDialog*) {
        QVERIFY(tickUntil([&] { return windows.form6 && !windows.form6->isVisible(); }));
    });
    form1.SpeedButton1Click();
    QVERIFY(form1.session().connected());

    EditorSnapshot after = before;
    QString writeLabel;
    whenModal([&](QDialog*) {
        QVERIFY(tickUntil([&] { return !form1.session().reading(); }));
        QVERIFY(!form1.session().readFailed());
        whenModal([&](QDialog*) { // the parameters editor
            TForm2* f = ctx.form2;
            p.armEditor();
            QCOMPARE(f->radiogroup6->ItemIndex(), 2);
            QCOMPARE(f->Edit4->text(), QStringLiteral("100"));
            paste(f->Edit10, QStringLiteral("48500900800"));
            after.user_number[2] = "48500900800";
            f->CheckBox3->click();
            after.sms_mask_user[2] = true;
            f->RadioGroup5->item(0)->click();
            paste(f->Edit12, QStringLiteral("45"));
            after.output2_permanent_index = 1;
            after.output2_auto_index = 0;
            after.output2_auto_seconds = "45";
            whenModal([&](QDialog*) { // the alarm texts editor
                TForm3* t = ctx.form3;
                QCOMPARE(t->Edit2->text(), QStringLiteral("Brak 230V"));
                QCOMPARE(t->Edit11->text(), QStringLiteral("2"));
                paste(t->Edit15, QStringLiteral("Alarm: garaz"));
                after.texts[input8OnText] = "Alarm: garaz";
                paste(t->Edit11, QStringLiteral("3"));
                after.test_message_user = "3";
                whenModal([&](QDialog*) { // the write progress window
                    QVERIFY(tickUntil([&] { return !form1.session().writing(); }));
                    writeLabel = windows.form5->Label1->text();
                });
                t->SpeedButton4->click();
            });
            f->SpeedButton1->click();
        });
        windows.form4->Button1->click();
    });
    form1.SpeedButton5Click();
    QVERIFY(p.messages.errors.isEmpty());
    QCOMPARE(p.answersMissed, 0);
    QCOMPARE(writeLabel.toStdString(), std::string(texts::kWriteDone));

    DeviceSettings expected;
    expected.image.setBytes(memory);
    QVERIFY(!Encode_Settings(after, expected).encode_failed);
    const auto written = s.server().memory();
    QVERIFY(written == expected.image.bytes());
    // The edits themselves, read back as the device's memory holds them.
    SettingsImage back;
    back.setBytes(written);
    QCOMPARE(back.readPhoneNumber(kUserNumber3).value, std::string("48500900800"));
    QCOMPARE(back.at(kSmsMask), std::uint8_t(0x0F)); // users 1..4
    QCOMPARE(back.at(kOutput2AutoSeconds + 1), std::uint8_t(45));
    QCOMPARE(back.readText(input8OnText).value, std::string("Alarm: garaz"));
    QCOMPARE(back.at(kTestMessageUser), std::uint8_t(3));
    for (std::size_t i = 2048; i < kImageSize; ++i)
        QCOMPARE(written[i], memory[i]);
    p.port.close();
}

QTEST_MAIN(TestProgrammingEndToEnd)
#include "test_programming_end_to_end.moc"
