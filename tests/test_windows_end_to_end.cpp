// The program's main cycle on Windows, through the Win32 port: connect to the
// device on TRELLIKON_TEST_PORT, read it, change a user number in the
// parameters editor, program it from the alarm texts editor, and find the
// change in the device's memory file (TRELLIKON_TEST_MEMORY). Under Wine,
// scripts/windows-check.sh points COM1 at trellikon-sim and gives both. With
// TRELLIKON_SHOT_DIR, the windows are saved there as pictures on the way.
// Without a device the test fails: CTest labels it "device", and runs without
// one leave it out (ctest -LE device).
#include "alarm_texts_editor.h"
#include "files.h"
#include "main_window.h"
#include "parameters_editor.h"
#include "programming_fixture.h"
#include "progress_dialog.h"
#include "settings_encoder.h"
#include "system_serial_port.h"
#include "window_test_support.h"

#include <QDir>
#include <QTest>

using namespace trellikon;
using namespace trellikon::layout;
using namespace trellikon::testing;

namespace {

QString environment(const char* name) {
    return qEnvironmentVariable(name);
}

void shoot(QWidget* w, const QString& name) {
    const QString dir = environment("TRELLIKON_SHOT_DIR");
    if (!dir.isEmpty() && w != nullptr)
        w->window()->grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

SettingsImage::Bytes memoryFile(const QString& path) {
    const TemplateLoad load = loadTemplate(path.toStdString());
    return load.ok() ? load.bytes : SettingsImage::Bytes{};
}

} // namespace

class TestWindowsEndToEnd : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void readEditProgram();
};

void TestWindowsEndToEnd::readEditProgram() {
    const QString portName = environment("TRELLIKON_TEST_PORT");
    const QString memoryPath = environment("TRELLIKON_TEST_MEMORY");
    if (portName.isEmpty() || memoryPath.isEmpty())
        QFAIL("TRELLIKON_TEST_PORT and TRELLIKON_TEST_MEMORY must name the device and its memory "
              "file");
    const SettingsImage::Bytes before = memoryFile(memoryPath);

    ProgrammingFixture p(portName.toStdString());
    TForm1& form1 = p.form1;
    EditorsContext& ctx = p.ctx();
    const DialogWindows& windows = p.windows();
    RecordingMessageBoxes& messages = p.messages;
    auto tickUntil = [&](const std::function<bool()>& done) { return p.tickUntil(done); };

    whenModal(
        [&](QDialog* w) {
            QVERIFY(tickUntil([&] { return windows.form6 && !windows.form6->isVisible(); }));
            shoot(w, QStringLiteral("connected"));
        },
        10000);
    form1.SpeedButton1Click();
    QVERIFY2(form1.session().connected(), qPrintable(messages.errors.join('\n')));

    QString writeLabel;
    whenModal(
        [&](QDialog* readWindow) {
            QVERIFY(tickUntil([&] { return !form1.session().reading(); }));
            QVERIFY(!form1.session().readFailed());
            QVERIFY(form1.editorsContext().settings->image.bytes() == before);
            shoot(readWindow, QStringLiteral("read-done"));
            whenModal([&](QDialog*) { // the parameters editor
                TForm2* f = ctx.form2;
                p.armEditor();
                f->Edit10->selectAll();
                f->Edit10->insert(QStringLiteral("48500900800"));
                shoot(f, QStringLiteral("parameters-editor"));
                whenModal([&](QDialog*) { // the alarm texts editor
                    TForm3* t = ctx.form3;
                    shoot(t, QStringLiteral("alarm-texts-editor"));
                    whenModal(
                        [&](QDialog*) { // the write progress window
                            QVERIFY(tickUntil([&] { return !form1.session().writing(); }));
                            writeLabel = windows.form5->Label1->text();
                        },
                        10000);
                    t->SpeedButton4->click();
                });
                f->SpeedButton1->click();
            });
            windows.form4->Button1->click();
        },
        10000);
    form1.SpeedButton5Click();
    shoot(&form1, QStringLiteral("main-window"));
    QVERIFY2(messages.errors.isEmpty(), qPrintable(messages.errors.join('\n')));
    QCOMPARE(writeLabel.toStdString(), std::string(texts::kWriteDone));
    QCOMPARE(p.answersMissed, 0);

    // The device saves its memory file after every block it takes.
    SettingsImage after;
    after.setBytes(memoryFile(memoryPath));
    QCOMPARE(after.readPhoneNumber(kUserNumber3).value, std::string("48500900800"));
    const SettingsImage::Bytes written = after.bytes();
    for (std::size_t i = 2048; i < kImageSize; ++i)
        QCOMPARE(written[i], before[i]);
    p.port.close();
}

QTEST_MAIN(TestWindowsEndToEnd)
#include "test_windows_end_to_end.moc"
