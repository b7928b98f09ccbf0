// The main window, its commands and the progress and notice windows, offscreen.
#include "program_fixture.h"
#include "random_image.h"
#include "register_window.h"
#include "settings_comparison_window.h"
#include "window_test_support.h"

#include <QAccessible>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <random>

using namespace trellikon;

class TestMainWindow : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup();
    void startUpState();
    void controlsAreNamedForAssistiveTechnology();
    void portChoice();
    void portsBeyondTheEightAreOffered();
    void connectShowsAndClosesTheConnectionWindow();
    void connectionWindowOkLeavesTheAttemptRunning();
    void portOpenFailureShowsTheReason();
    void failedConnectSaysWhatTheLineCarried_data();
    void failedConnectSaysWhatTheLineCarried();
    void missingPortProposesTheRememberedCable_data();
    void missingPortProposesTheRememberedCable();
    void portTooltipNamesTheAdapterAsPlainText();
    void readWithoutConnectionIsRefused();
    void readThenOkOpensTheParametersEditor();
    void readTimeOutThenOkDisconnects();
    void connectionLostClosesTheSessionWindows();
    void noticeKeepsTheShortTickRunning();
    void parametersEditorIsArmedOnItsThirdTick();
    void templateLoad();
};

void TestMainWindow::cleanup() {
    // No test may leave a window of its own up.
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TestMainWindow::startUpState() {
    // A new program shows COM1, the first status text and the decoded defaults of an erased image.
    Program p;
    TForm1& f = *p.form1;
    QCOMPARE(f.windowTitle(), QStringLiteral("DOMOWY TRELLIKON"));
    QCOMPARE(f.Label5->text(),
             QString::fromUtf8("Wybierz port komputera, wyłącz i włącz urządzenie i naciśnij "
                               "przycisk \"Nawiąż połączenie\""));
    QCOMPARE(f.ComboBox1->count(), 8);
    QCOMPARE(f.ComboBox1->itemText(7), QStringLiteral("COM8"));
    QCOMPARE(f.ComboBox1->currentIndex(), 0);
    QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("COM1"));
    QCOMPARE(f.session().portName(), std::string("COM1"));
    QCOMPARE(f.Timer1->interval(), 1000);
    QCOMPARE(f.Timer2->interval(), 300);
    QCOMPARE(f.Timer3->interval(), 50);
    QVERIFY(!f.Timer3->isActive());
    QVERIFY(!f.session().connected() && !f.session().watching());
    QVERIFY(std::all_of(f.settings().image.bytes().begin(), f.settings().image.bytes().end(),
                        [](std::uint8_t b) { return b == 0xFF; }));
    const DecodedSettings& d = f.settings().decoded;
    QCOMPARE(d.daily_sms_limit, std::string("20"));
    QCOMPARE(d.sms_mask, std::uint8_t(0xFF));
    QCOMPARE(d.ring_mask, std::uint8_t(0xFF));
    QCOMPARE(d.input_mask, std::uint8_t(0xFF));
    QVERIFY(d.echo_on);
    QVERIFY(d.sms_centre_number.empty() && d.user_number[3].empty());

    // Every window exists from the start, created in order, with its caption; none is shown.
    EditorsContext& c = p.ctx();
    const DialogWindows& w = p.windows();
    const QList<StackDialog*> order = {c.form2, c.form3,  w.form4,  w.form5,  w.form6,  w.form7,
                                       w.form8, w.form10, w.form11, c.form12, c.form13, c.form14};
    const QStringList titles = {
        QString::fromUtf8("DOMOWY TRELLIKON - PARAMETRY USTAWIEŃ"),
        QString::fromUtf8("TRELLIKON DEFINIOWANIE PATRAMETRÓW I PROGRAMOWANIE"),
        QStringLiteral(" "),
        QStringLiteral(" "),
        QStringLiteral(" "), // shown as an empty bar
        QString::fromUtf8("DOMOWY TRELLIKON PODŁĄCZENIE DO KOMPUTERA"),
        QString::fromUtf8("DOMOWY TRELLIKON SCHEMAT MONTAŻOWY"),
        QString::fromUtf8("INFORMACJE O SYSTEMIE  I FIRMIE"),
        QStringLiteral("DOMOWY TRELLIKON"),
        QString::fromUtf8("TRELLIKON DEFINIOWANIE ABONENTÓW"),
        QStringLiteral("DODAJ"),
        QString::fromUtf8("USUŃ")};
    // The comparison and register windows, which are not the device's own
    // windows, and the second read window come after them.
    QList<StackDialog*> children = f.findChildren<StackDialog*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(children.size(), order.size() + 3);
    QCOMPARE(children.takeLast(), w.form4Again);
    QVERIFY(qobject_cast<RegisterWindow*>(children.takeLast()));
    QVERIFY(qobject_cast<ComparisonWindow*>(children.takeLast()));
    QCOMPARE(children, order);
    for (int i = 0; i < order.size(); ++i) {
        QCOMPARE(order[i]->windowTitle(), titles[i]);
        QVERIFY(!order[i]->isVisible());
    }
    QCOMPARE(p.form6()->ProgressBar1->maximum(), 150);
    QCOMPARE(p.form4()->ProgressBar1->maximum(), 100);
    QCOMPARE(p.form6()->Label1->text(),
             QString::fromUtf8("Trwa nawiązywanie polaczenia komputera z urządzeniem"));
    QCOMPARE(p.form11()->Label1->text(),
             QString::fromUtf8("Nastąpiło zerwanie komunikacji z  programem  "));
    QVERIFY(!(p.form11()->windowFlags() & Qt::WindowCloseButtonHint));
}

void TestMainWindow::controlsAreNamedForAssistiveTechnology() {
    // Picture buttons read as the label beside them; controls carry their established names.
    Program p;
    struct Row {
        const char* button;
        QStringList labels;
    };
    const Row rows[] = {
        {"SpeedButton1", {"Label3"}},         {"SpeedButton5", {"Label4"}},
        {"SpeedButton6", {"Label1"}},         {"SpeedButton7", {"Label6"}},
        {"SpeedButton2", {"Label7"}},         {"SpeedButton3", {"Label8", "Label9"}},
        {"SpeedButton8", {"Label10"}},        {"SpeedButton4", {"Label11"}},
        {"RegisterButton", {"RegisterLabel"}}};
    for (const Row& r : rows) {
        auto* button = p.form1->findChild<QToolButton*>(QString::fromLatin1(r.button));
        QVERIFY2(button, r.button);
        QString expected;
        for (const QString& l : r.labels)
            expected += p.form1->findChild<QLabel*>(l)->text();
        QCOMPARE(button->accessibleName(), expected.trimmed());
        QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(button);
        QVERIFY(a11y);
        QCOMPARE(a11y->text(QAccessible::Name), expected.trimmed());
        QCOMPARE(a11y->role(), QAccessible::Button);
        QVERIFY(!button->icon().isNull());
        QVERIFY(button->text().isEmpty() || button->toolButtonStyle() == Qt::ToolButtonIconOnly);
        QVERIFY(button->isEnabled());
    }
    QVERIFY(!p.form1->ComboBox1->accessibleName().isEmpty());
    for (QWidget* w : p.form1->findChildren<QWidget*>())
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w))
            QVERIFY2(!w->objectName().isEmpty(), w->metaObject()->className());
    // The pictures are drawn for the screen's scale: a 2x pixmap is really 2x.
    const QPixmap sharp = p.form1->SpeedButton1->icon().pixmap(QSize(44, 44), 2.0);
    QCOMPARE(sharp.size(), QSize(88, 88));
    QCOMPARE(sharp.devicePixelRatio(), 2.0);
}

void TestMainWindow::portChoice() {
    // A chosen item is the port of the next connect; a typed name changes nothing.
    Program p;
    TForm1& f = *p.form1;
    f.ComboBox1->setCurrentIndex(3);
    Q_EMIT f.ComboBox1->activated(3);
    QCOMPARE(f.session().portName(), std::string("COM4"));
    f.ComboBox1->lineEdit()->selectAll();
    QTest::keyClicks(f.ComboBox1->lineEdit(), QStringLiteral("COM9"));
    QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("COM9"));
    QCOMPARE(f.ComboBox1ItemIndex(), -1);
    QCOMPARE(f.session().portName(), std::string("COM4"));
    p.connect();
    QCOMPARE(p.port.opened.back(), std::string("COM4"));
    // Choosing another port while connected changes nothing until the next connect.
    f.ComboBox1->setCurrentIndex(1);
    Q_EMIT f.ComboBox1->activated(1);
    QCOMPARE(p.port.opened.size(), std::size_t(1));
    QVERIFY(f.session().connected());
    QVERIFY(!f.ComboBox1->itemData(0, Qt::ToolTipRole).toString().isEmpty());
}

void TestMainWindow::portsBeyondTheEightAreOffered() {
    // Opening the list asks anew for the ports beyond COM1..COM8 and offers them
    // after the eight, with what stands behind them; choosing one is the next
    // connect's port, and a refresh never changes the choice.
    Program p;
    TForm1& f = *p.form1;
    std::vector<PresentPort> present{{"COM12", "USB Serial Port"}, {"COM9", ""}};
    f.ports().extraPorts = [&present] { return present; };
    QCOMPARE(f.ComboBox1->count(), 8); // the list at start is the eight names
    f.ComboBox1->showPopup();
    f.ComboBox1->hidePopup();
    QCOMPARE(f.ComboBox1->count(), 10);
    QCOMPARE(f.ComboBox1->itemText(7), QStringLiteral("COM8"));
    QCOMPARE(f.ComboBox1->itemText(8), QString::fromUtf8("COM12 – USB Serial Port"));
    QCOMPARE(f.ComboBox1->itemText(9), QStringLiteral("COM9"));
    QCOMPARE(f.ComboBox1->currentIndex(), 0);
    QCOMPARE(f.session().portName(), std::string("COM1"));

    f.ComboBox1->setCurrentIndex(8);
    Q_EMIT f.ComboBox1->activated(8);
    QCOMPARE(f.session().portName(), std::string("COM12"));
    p.connect();
    QCOMPARE(p.port.opened.back(), std::string("COM12"));

    // A new adapter ahead of the chosen one: the choice follows its port.
    present.insert(present.begin(), {"COM10", "Prolific USB-to-Serial Comm Port"});
    f.ComboBox1->showPopup();
    f.ComboBox1->hidePopup();
    QCOMPARE(f.ComboBox1->count(), 11);
    QCOMPARE(f.ComboBox1->currentText(), QString::fromUtf8("COM12 – USB Serial Port"));
    QCOMPARE(f.ComboBox1ItemIndex(), 9);
    // The chosen adapter pulled out: it leaves the list, the field and port_name stay.
    present = {{"COM10", "Prolific USB-to-Serial Comm Port"}};
    f.ComboBox1->showPopup();
    f.ComboBox1->hidePopup();
    QCOMPARE(f.ComboBox1->count(), 9);
    QCOMPARE(f.ComboBox1->currentText(), QString::fromUtf8("COM12 – USB Serial Port"));
    QCOMPARE(f.ComboBox1ItemIndex(), -1);
    QCOMPARE(f.session().portName(), std::string("COM12"));
    // A name typed into the field survives a refresh, and still changes nothing.
    f.ComboBox1->setCurrentIndex(2);
    Q_EMIT f.ComboBox1->activated(2);
    f.ComboBox1->lineEdit()->selectAll();
    QTest::keyClicks(f.ComboBox1->lineEdit(), QStringLiteral("COM77"));
    f.ComboBox1->showPopup();
    f.ComboBox1->hidePopup();
    QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("COM77"));
    QCOMPARE(f.session().portName(), std::string("COM3"));
}

void TestMainWindow::connectShowsAndClosesTheConnectionWindow() {
    // The connection window shows the attempt, then the handshake, and closes by itself.
    Program p;
    QString during, after;
    int stillUp = 0;
    whenModal([&](QDialog* d) {
        QCOMPARE(d, static_cast<QDialog*>(p.form6()));
        during = p.form6()->Label1->text();
        p.device.powerOn();
        p.form1->Timer1Timer();
        after = p.form6()->Label1->text();
        QCOMPARE(p.form6()->ProgressBar1->value(), 150);
        for (int i = 0; i < 6; ++i)
            p.form1->Timer2Timer();
        stillUp = p.form6()->isVisible();
        p.form1->Timer2Timer();
        QVERIFY(!p.form6()->isVisible());
    });
    p.form1->SpeedButton1Click();
    QCOMPARE(during, QString::fromUtf8("Trwa nawiązywanie polączenia z urządzeniem"));
    QCOMPARE(after, QString::fromUtf8("Polaczenie z urządzeniem nawiązane"));
    QCOMPARE(stillUp, 1);
    QCOMPARE(p.form1->Label5->text(), QString::fromUtf8("Połączenie z urządzeniem nawiązane"));
    QVERIFY(p.form1->session().connected());
    QCOMPARE(p.ctx().dialogs.stack->depth(), std::size_t(1));
}

void TestMainWindow::connectionWindowOkLeavesTheAttemptRunning() {
    // OK closes the connection window early; a later handshake still connects.
    Program p;
    whenModal([&](QDialog*) { QTest::mouseClick(p.form6()->Button1, Qt::LeftButton); });
    p.form1->SpeedButton1Click();
    QVERIFY(!p.form6()->isVisible());
    QVERIFY(p.form1->session().connecting());
    p.device.powerOn();
    p.form1->Timer1Timer();
    QVERIFY(p.form1->session().connected());
    // Closing a window that is not up is harmless.
    for (int i = 0; i < 8; ++i)
        p.form1->Timer2Timer();
}

void TestMainWindow::portOpenFailureShowsTheReason() {
    // A port that cannot be opened gives the fixed message, the reason in detail, no window.
    Program p;
    p.port.failOpen = true;
    p.form1->SpeedButton1Click();
    QCOMPARE(p.messages.errors,
             QStringList{QString::fromUtf8("Niewłaściwa nazwa lub jest aktywny port COM1")});
    QVERIFY(!p.messages.details[0].isEmpty());
    QVERIFY(!p.form6()->isVisible());
    QVERIFY(!p.form1->session().connecting());
}

void TestMainWindow::readWithoutConnectionIsRefused() {
    // Reading needs a connection; without one the message says what to do.
    Program p;
    p.form1->SpeedButton5Click();
    QCOMPARE(p.messages.errors.size(), 1);
    QCOMPARE(p.messages.errors[0],
             QString::fromUtf8(
                 "Odczyt ustawień nie może być przeprowadzony. Wybierz port komputera, wyłącz i "
                 "włącz urządzenie a następnie nacinij przycisk \"Nawiąż połączenie\""));
    QVERIFY(!p.form4()->isVisible());
}

void TestMainWindow::readThenOkOpensTheParametersEditor() {
    // A complete read decodes the device's memory and OK leads straight to the parameters editor.
    SettingsImage memory;
    memory.setBytes(randomImage(21));
    memory.writePhoneNumber(layout::kSmsCentreNumber, "48601000310");
    memory.writeText(layout::powerLossText, "Brak 230V");
    memory.writeSubscriber(7, "48500100200");
    memory.writeValuePair(layout::kSmsMask, 0x05);
    Program p(memory.bytes());
    p.connect();
    bool editorShown = false;
    QString done;
    SettingsImage::Bytes imageRead{};
    DecodedSettings decodedRead;
    whenModal([&](QDialog*) {
        QCOMPARE(p.form4()->Label1->text(), QString::fromUtf8("Trwa odczyt ustawień urządzenia"));
        for (int i = 0; i < 9; ++i)
            p.form1->Timer1Timer();
        done = p.form4()->Label1->text();
        QCOMPARE(p.form4()->ProgressBar1->value(), 100);
        whenModal([&](QDialog* editor) {
            editorShown = editor == p.ctx().form2;
            QVERIFY(!p.form4()->isVisible());
            // As read: leaving the editor stores its controls (and the code length).
            imageRead = p.form1->settings().image.bytes();
            decodedRead = p.form1->settings().decoded;
        });
        QTest::mouseClick(p.form4()->Button1, Qt::LeftButton);
    });
    p.form1->SpeedButton5Click();
    QCOMPARE(done, QString::fromUtf8("Ustawienia zostały pobrane"));
    QVERIFY(editorShown);
    QVERIFY(imageRead == memory.bytes());
    const DecodedSettings& d = decodedRead;
    QCOMPARE(d.sms_centre_number, std::string("48601000310"));
    QCOMPARE(d.texts[layout::powerLossText], std::string("Brak 230V"));
    QCOMPARE(d.sms_mask, std::uint8_t(0x05));
    QCOMPARE(p.form1->settings().subscribers.entry(7).number, std::string("48500100200"));
    QCOMPARE(p.ctx().dialogs.stack->depth(), std::size_t(1));
}

void TestMainWindow::readTimeOutThenOkDisconnects() {
    // A read the device never answers times out; OK then leaves the tool disconnected.
    Program p;
    p.connect();
    p.device.setFaults(SimulatedFaults{.silentAfterFrames = 0});
    bool editorShown = false;
    QPointer<QTimer> editorWatch;
    whenModal([&](QDialog*) {
        for (int i = 0; i < 51; ++i) {
            p.form1->Timer1Timer();
            p.form1->Timer2Timer();
        }
        QVERIFY(p.form4()->Label1->text().startsWith(QString::fromUtf8("Błąd!  Wybierz port")));
        QVERIFY(p.form1->Label5->text().startsWith(
            QString::fromUtf8("Nawiązanie połączenia z komputerem zostało zerwane.")));
        editorWatch = whenModal([&](QDialog*) { editorShown = true; }, 300, false);
        QTest::mouseClick(p.form4()->Button1, Qt::LeftButton);
    });
    p.form1->SpeedButton5Click();
    // The editor would have opened inside the click on OK; nothing opens later.
    delete editorWatch.data();
    QVERIFY(!editorShown);
    QVERIFY(!p.form1->session().connected());
}

void TestMainWindow::connectionLostClosesTheSessionWindows() {
    // The notice's OK closes the session's windows, disconnects and says so in the status line.
    Program p;
    p.connect();
    QVERIFY(p.form1->session().watching());
    StackDialog* editor = p.ctx().form2;
    bool noticeShown = false;
    whenModal([&](QDialog*) {
        // The parameters editor is up; the device falls silent for 81 ticks.
        whenModal([&](QDialog* notice) {
            noticeShown = notice == p.windows().form11;
            notice->reject(); // Escape does not dismiss it
            QVERIFY(notice->isVisible());
            QTest::mouseClick(p.form11()->Button1, Qt::LeftButton);
            QVERIFY(!notice->isVisible());
            QVERIFY(!editor->isVisible());
        });
        for (int i = 0; i < 81; ++i)
            p.form1->Timer2Timer();
    });
    p.form1->SpeedButton6Click();
    QVERIFY(noticeShown);
    QVERIFY(!p.form1->session().connected());
    QCOMPARE(
        p.form1->Label5->text(),
        QString::fromUtf8("Nastąpiło zerwanie komunikacji z programem.Wyłącz i włącz urządzenie, "
                          "wybierz port a następnie nasiśnij przycisk \"Nawiąż połączenie\""));
    for (StackDialog* w : std::initializer_list<StackDialog*>{
             p.ctx().form2, p.ctx().form3, p.windows().form4, p.windows().form5, p.windows().form6,
             p.windows().form7, p.windows().form11})
        QVERIFY(!w->isVisible());
    QCOMPARE(p.ctx().dialogs.stack->depth(), std::size_t(1));
}

void TestMainWindow::noticeKeepsTheShortTickRunning() {
    // The notice is shown from inside the real Timer2 tick, which must go on running meanwhile.
    Program p;
    p.connect();
    while (p.form1->session().silentTicks() < 80) // the next tick shows the notice
        p.form1->Timer2Timer();
    int ticksWhileUp = -1;
    bool done = false;
    whenModal([&](QDialog*) {
        TForm1& f = *p.form1;
        // A write begun over the notice: its bar moves at each 300 ms tick.
        whenModal([&](QDialog*) {
            int moves = 0;
            const auto counting =
                QObject::connect(p.form5()->ProgressBar1, &QProgressBar::valueChanged,
                                 p.form5()->ProgressBar1, [&moves] { ++moves; });
            QTRY_VERIFY_WITH_TIMEOUT(moves >= 2, 5000);
            QObject::disconnect(counting);
            ticksWhileUp = moves;
            p.form5()->Button1->click();
        });
        trellikon::WriteSteps framesAlone;
        framesAlone.again = true;
        f.session().write(framesAlone);
        QTest::mouseClick(p.form11()->Button1, Qt::LeftButton);
        done = true;
    });
    // The tick's length is not what is tested; a short one keeps the test quick.
    p.form1->Timer2->setInterval(20);
    p.form1->Timer2->start();
    QTRY_VERIFY_WITH_TIMEOUT(done, 5000);
    p.form1->Timer2->stop();
    QVERIFY2(ticksWhileUp >= 2, qPrintable(QString::number(ticksWhileUp)));
    QVERIFY(!p.form1->session().connected());
}

void TestMainWindow::parametersEditorIsArmedOnItsThirdTick() {
    // Opening the parameters editor starts the 50 ms timer that arms its handlers on the third
    // tick.
    Program p;
    whenModal([&](QDialog*) {
        QVERIFY(p.form1->Timer3->isActive());
        QCOMPARE(p.ctx().edits_armed, std::uint8_t(0));
        p.form1->Timer3Timer();
        p.form1->Timer3Timer();
        QCOMPARE(p.ctx().edits_armed, std::uint8_t(0));
        p.form1->Timer3Timer();
        QCOMPARE(p.ctx().edits_armed, std::uint8_t(1));
        QVERIFY(!p.form1->Timer3->isActive());
        p.form1->Timer3->start();
    });
    p.form1->SpeedButton6Click();
    QVERIFY(!p.form1->Timer3->isActive()); // stopped when the editor was left
}

void TestMainWindow::templateLoad() {
    // A template replaces the image, its decoded settings and its callers, and
    // opens the parameters editor.
    QTemporaryDir dir;
    SettingsImage saved;
    saved.setBytes(randomImage(5));
    saved.writePhoneNumber(layout::kUserNumber1, "600700800");
    saved.writeSubscriber(3, "48111222333");
    const QString path = dir.filePath(QStringLiteral("szablon.sbn"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(saved.bytes().data()), 4096);
    file.close();

    Program p;
    p.form1->settings().subscribers.set(9, "48999888777");
    p.files.answers = {path, QString(), dir.filePath(QStringLiteral("missing.sbn"))};
    bool editorShown = false;
    SettingsImage::Bytes imageLoaded{};
    whenModal([&](QDialog* d) {
        editorShown = d == p.ctx().form2;
        imageLoaded = p.form1->settings().image.bytes();
    });
    p.form1->SpeedButton7Click();
    QVERIFY(editorShown);
    QCOMPARE(p.files.filters[0], QStringLiteral("sbn (*.sbn)"));
    QVERIFY(imageLoaded == saved.bytes());
    QCOMPARE(p.form1->settings().decoded.user_number[0], std::string("600700800"));
    // The subscriber list is the file's callers, and only theirs.
    DeviceSettings fromFile;
    fromFile.image = saved;
    fromFile.Decode_Subscribers();
    QVERIFY(p.form1->settings().subscribers == fromFile.subscribers);
    QCOMPARE(p.form1->settings().subscribers.entry(3).number, std::string("48111222333"));
    QVERIFY(p.form1->settings().subscribers.entry(9).number != "48999888777");
    const SettingsImage::Bytes imageAfterEditor = p.form1->settings().image.bytes();
    p.form1->SpeedButton7Click(); // cancelled: nothing happens
    QVERIFY(p.messages.errors.isEmpty());
    p.form1->SpeedButton7Click(); // a file that is not there
    QCOMPARE(p.messages.errors,
             QStringList{QString::fromUtf8("Odczyt pliku nie może być przeprowadzony")});
    QVERIFY(p.form1->settings().image.bytes() == imageAfterEditor);
}

void TestMainWindow::failedConnectSaysWhatTheLineCarried_data() {
    QTest::addColumn<int>("mode"); // LineMode
    QTest::addColumn<QString>("diagnosis");
    QTest::newRow("silent: the port that came since start first")
        << int(LineMode::Silent)
        << "Nie odebrano z urządzenia ani jednego bajtu. Sprawdź, czy urządzenie jest zasilane, "
           "czy wtyk kabla jest dobrze osadzony w gnieździe urządzenia i czy wybrano właściwy "
           "port. Od uruchomienia programu pojawił się port COM4: sprawdź najpierw jego.";
    QTest::newRow("another device's text")
        << int(LineMode::Garbage)
        << "Odebrano 58 bajtów, ale żadnej ramki urządzenia. Możliwa przyczyna: inne urządzenie "
           "na tym porcie albo zła prędkość.";
    QTest::newRow("<damaged> frames")
        << int(LineMode::Damaged)
        << "Odebrano 1 ramkę urządzenia z błędną sumą kontrolną. Możliwa przyczyna: uszkodzony "
           "przewód lub zakłócenia.";
}

void TestMainWindow::failedConnectSaysWhatTheLineCarried() {
    // The status line and the connection window keep their fixed texts and say
    // below them what the line carried; the next attempt starts without it.
    QFETCH(int, mode);
    QFETCH(QString, diagnosis);
    Program p;
    SimulatedFaults faults;
    faults.mode = LineMode(mode);
    p.device.setFaults(faults);
    p.form1->ports().portsAtStart = {"COM3"};
    p.form1->ports().allPorts = [] {
        return std::vector<PresentPort>{{"COM3", "port szeregowy"}, {"COM4", "USB Serial Port"}};
    };
    QString shown;
    bool visible = false;
    whenModal([&](QDialog*) {
        p.device.powerOn();
        for (int i = 0; i < 61; ++i) {
            p.form1->Timer2Timer();
            if (i % 3 == 0)
                p.form1->Timer1Timer();
        }
        shown = p.form6()->DiagnosisLabel->text();
        visible = p.form6()->DiagnosisLabel->isVisible();
    });
    p.form1->SpeedButton1Click();
    QVERIFY(!p.form1->session().connecting() && !p.form1->session().connected());
    QCOMPARE(shown, diagnosis);
    QVERIFY(visible);
    QCOMPARE(p.form6()->Label1->text(), QString::fromUtf8(texts::kConnectFailed));
    QCOMPARE(p.form6()->Label2->text(), QString::fromUtf8(texts::kConnectFailedHint));
    QCOMPARE(p.form1->Label5->text(),
             QString::fromUtf8(texts::kConnectFailedHint) + "\n" + diagnosis);
    QCOMPARE(p.form1->Label5->textFormat(), Qt::PlainText);
    QCOMPARE(p.form6()->DiagnosisLabel->textFormat(), Qt::PlainText);

    whenModal([&](QDialog*) { visible = p.form6()->DiagnosisLabel->isVisible(); });
    p.form1->SpeedButton1Click();
    QVERIFY(!visible);
    QCOMPARE(p.form1->Label5->text(), QString::fromUtf8(texts::kConnecting));
}

void TestMainWindow::missingPortProposesTheRememberedCable_data() {
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("opened");
    QTest::newRow("Yes: the cable's port is chosen and opened") << true << "COM7";
    QTest::newRow("No: the chosen port is tried") << false << "COM1";
}

void TestMainWindow::missingPortProposesTheRememberedCable() {
    // A chosen port that is missing, with the remembered cable present under
    // another name: a question, and on Yes that port is the choice.
    QFETCH(bool, yes);
    QFETCH(QString, opened);
    Program p;
    QTemporaryDir dir;
    UsbAdapter ftdi;
    ftdi.vendorId = 0x0403, ftdi.productId = 0x6001, ftdi.serial = "A50285BI";
    ftdi.model = "FT232R USB UART", ftdi.driver = "FTSER2K";
    TForm1& f = *p.form1;
    f.ports().cables = CableMemory(dir.filePath("cable.txt").toStdString());
    QVERIFY(f.ports().cables.remember(ftdi).empty());
    f.ports().allPorts = [&] {
        return std::vector<PresentPort>{{"COM7", "USB Serial Port", ftdi}};
    };
    f.ports().portThere = [](const std::string& name) { return name == "COM7"; };
    f.ports().adapterBehind = [&](const std::string& name) {
        return name == "COM7" ? std::optional<UsbAdapter>(ftdi) : std::nullopt;
    };
    p.messages.answers = {yes};
    whenModal([&](QDialog*) {}, 5000, false);
    f.SpeedButton1Click();
    QCOMPARE(p.messages.questions,
             QStringList{QString::fromUtf8(
                 "Portu \u2068COM1\u2069 nie ma, ale kabel ostatniego udanego połączenia "
                 "(\u2068FTDI – FT232R USB UART, USB 0403:6001, nr seryjny A50285BI, sterownik "
                 "FTSER2K\u2069) jest teraz podłączony jako \u2068COM7\u2069. Połączyć przez "
                 "\u2068COM7\u2069?")});
    QCOMPARE(QString::fromStdString(p.port.opened.back()), opened);
    QCOMPARE(QString::fromStdString(f.session().portName()), opened);
    QCOMPARE(f.ComboBox1->currentText(), opened);
    // The chosen port present: no question.
    f.ports().portThere = [](const std::string&) { return true; };
    whenModal([&](QDialog*) {}, 5000, false);
    f.SpeedButton1Click();
    QCOMPARE(p.messages.questions.size(), 1);
}

void TestMainWindow::portTooltipNamesTheAdapterAsPlainText() {
    // Tooltips are rich text: an adapter's strings are escaped, never markup.
    Program p;
    TForm1& f = *p.form1;
    UsbAdapter a;
    a.vendorId = 0x067b, a.productId = 0x2303, a.model = "<b>Cable</b> & co", a.problemCode = 10;
    f.ports().adapterBehind = [&](const std::string& name) {
        return name == "COM2" ? std::optional<UsbAdapter>(a) : std::nullopt;
    };
    f.ComboBox1->showPopup();
    f.ComboBox1->hidePopup();
    const QString tip = f.ComboBox1->itemData(1, Qt::ToolTipRole).toString();
    QVERIFY2(tip.startsWith("<p>COM2: "), qPrintable(tip));
    QVERIFY2(tip.contains("</p><p>Prolific PL2303 – &lt;b&gt;Cable&lt;/b&gt; &amp; co, USB "
                          "067b:2303</p><p>Sterownik przejściówki nie uruchomił się (kod 10). "
                          "Tak sterownik Prolific traktuje podróbki układu PL2303"),
             qPrintable(tip));
    QVERIFY(!f.ComboBox1->itemData(0, Qt::ToolTipRole).toString().contains("Prolific"));
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
