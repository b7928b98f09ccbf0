// The installations register as the window program keeps it: every read into
// the program recorded and given its installation, no write from the windows
// before the device's present content is stored, the register window's search
// and delete.
#include "checked_write_windows.h"
#include "program_fixture.h"
#include "random_image.h"
#include "register.h"
#include "register_location.h"
#include "register_window.h"
#include "settings_comparison_window.h"
#include "settings_encoder.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

using namespace trellikon;
using namespace trellikon::reg;
using trellikon::layout::kTextSlotCount;
using Image = SettingsImage::Bytes;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Settings the editors accept as they are, with user 1 and these callers.
Image validImage(const std::string& user1, const std::vector<std::pair<int, std::string>>& callers,
                 unsigned seed = 31) {
    DeviceSettings d;
    d.image.setBytes(randomImage(seed));
    EditorSnapshot s;
    s.sms_centre_number = "48601000310";
    s.user_number = {user1, "48600100300", "", ""};
    s.sms_mask_user = {true, true, false, false};
    s.output1_auto_seconds = "300";
    s.daily_sms_limit = "50";
    s.test_message_user = "1";
    for (int slot = 0; slot < kTextSlotCount; ++slot)
        s.texts[std::size_t(slot)] = defaultText(slot);
    if (Encode_Settings(s, d).encode_failed)
        qFatal("the test's settings are refused");
    for (int n = 1; n <= 168; ++n)
        d.image.freeSubscriber(n);
    for (const auto& [position, number] : callers)
        d.image.writeSubscriber(position, number);
    return d.image.bytes();
}

// Runs `step` once `window` is the modal window on top; a window that never
// comes is no failure here (the test checks what happened instead).
QPointer<QTimer> whenWindow(QWidget* window, std::function<void()> step) {
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        if (QApplication::activeModalWidget() != window) {
            if (clock->elapsed() > 10'000)
                timer->deleteLater();
            return;
        }
        timer->stop();
        timer->deleteLater();
        step();
        if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible())
            dialog->done(QDialog::Rejected);
    });
    timer->start();
    return timer;
}

// Answers the question whose device it was: confirm the proposal, pick
// `installation`, create it as a new one, or say later.
void answerQuestion(AssignDialog* ask, const QString& answer, const QString& installation) {
    if (answer == "confirm") {
        ask->AssignButton->click();
    } else if (answer == "pick") {
        ask->InstallationBox->setCurrentIndex(ask->InstallationBox->findText(installation));
        ask->AssignButton->click();
    } else if (answer == "new") {
        whenModal([&](QDialog* d) {
            auto* edit = qobject_cast<InstallationDialog*>(d);
            QVERIFY(edit);
            edit->NameEdit->setText(installation);
            edit->OkButton->click();
        });
        ask->NewButton->click();
    } else {
        ask->LaterButton->click();
    }
}

// The program with a register of its own in a temporary folder.
struct RegisterProgram : Program {
    QTemporaryDir dir;
    QString path;
    int blocksWritten = 0;

    explicit RegisterProgram(const Image& memory, const QString& file = {}) : Program(memory) {
        path = file.isEmpty() ? dir.filePath(QStringLiteral("rejestr.sqlite")) : file;
        form1->useRegister(
            [this] {
                OpenOptions options;
                options.dailyCopy = false;
                return trellikon::reg::openRegister(path.toStdString(), options);
            },
            path.toStdString());
        device.onBlockWritten = [this](int) { ++blocksWritten; };
    }
    std::unique_ptr<Register> openRegister() {
        OpenOptions options;
        options.dailyCopy = false;
        auto r = trellikon::reg::openRegister(path.toStdString(), options);
        if (!r.ok())
            qFatal("%s", r.failure.message.c_str());
        return std::move(r.value);
    }
    std::vector<VersionInfo> history() { return openRegister()->history({}).value; }

    // Reads the device into the program and answers the question whose it is.
    void readAndAnswer(const std::function<void(AssignDialog*)>& answer) {
        bool asked = false;
        whenModal([&](QDialog*) {
            QVERIFY(tickUntil([this] { return !form1->session().reading(); }));
            whenModal([&](QDialog* d) {
                auto* ask = qobject_cast<AssignDialog*>(d);
                QVERIFY(ask);
                // Recorded before the question: a read is never lost for want of an answer.
                const auto before = history();
                QVERIFY(!before.empty());
                QCOMPARE(QString::fromStdString(before.front().installationName), u(kUnassigned));
                answer(ask);
                asked = true;
            });
            QVERIFY(QTest::qWaitFor([&] { return asked; }, 5000));
        });
        form1->SpeedButton5Click();
        QVERIFY(asked);
    }
};

} // namespace

class TestRegisterWindow : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup();
    void readIsRecordedAndAssigned_data();
    void readIsRecordedAndAssigned();
    void noWriteWithoutStoredBackup_data();
    void noWriteWithoutStoredBackup();
    void searchFindsTheInstallation_data();
    void searchFindsTheInstallation();
    void deleteRemovesItsVersions_data();
    void deleteRemovesItsVersions();
    void versionComparedWithVersionOrDevice_data();
    void versionComparedWithVersionOrDevice();
    void unassignedReadAssignedLater_data();
    void unassignedReadAssignedLater();
    void checkedWriteFromTheWindow_data();
    void checkedWriteFromTheWindow();
    void damagedRegisterOffersAWayOn_data();
    void damagedRegisterOffersAWayOn();
    void checkReadOnScreenUntilTheVerdict_data();
    void checkReadOnScreenUntilTheVerdict();
    void interruptedWriteOffersWaysOn_data();
    void interruptedWriteOffersWaysOn();
};

void TestRegisterWindow::cleanup() {
    QVERIFY(!QApplication::activeModalWidget());
}

void TestRegisterWindow::readIsRecordedAndAssigned_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("proposed");
    QTest::addColumn<QString>("installation");
    QTest::newRow("the closest installation is proposed and confirmed")
        << "confirm" << u("Kowalska, Lipowa 5, Tarnów") << u("Kowalska, Lipowa 5, Tarnów");
    QTest::newRow("another installation picked")
        << "pick" << u("Kowalska, Lipowa 5, Tarnów") << u("Nowak, Polna 3");
    QTest::newRow("a new installation created")
        << "new" << u("Kowalska, Lipowa 5, Tarnów") << u("Wiśniewski, Długa 1");
    QTest::newRow("later: the read stays unassigned")
        << "later" << u("Kowalska, Lipowa 5, Tarnów") << u(kUnassigned);
    QTest::newRow("a second read: the installation chosen in this connection is offered")
        << "again" << u("Nowak, Polna 3") << u("Nowak, Polna 3");
}

void TestRegisterWindow::readIsRecordedAndAssigned() {
    // A complete read into the program is a version at once, then the
    // installer says whose device it was; the closest installation is offered.
    QFETCH(QString, answer);
    QFETCH(QString, proposed);
    QFETCH(QString, installation);
    const int reads = answer == "again" ? 2 : 1;
    const Image memory = validImage("48600100200", {{43, "48512345678"}, {44, "48512000111"}});
    RegisterProgram p(memory);
    {
        auto r = p.openRegister();
        const Id kowalska = r->createInstallation("Kowalska, Lipowa 5, Tarnów", "", "").value;
        r->createInstallation("Nowak, Polna 3", "", "");
        QVERIFY(r->record({validImage("48600100200", {{43, "48512345678"}}, 7), kind::kRead, "COM1",
                           "", kowalska, "2026-01-01T10:00:00.000Z"})
                    .ok());
    }
    p.connect();
    if (answer == "again") {
        p.readAndAnswer([&](AssignDialog* ask) {
            ask->InstallationBox->setCurrentIndex(ask->InstallationBox->findText(installation));
            ask->AssignButton->click();
        });
        answer = "confirm";
    }
    QString offered;
    p.readAndAnswer([&](AssignDialog* ask) {
        offered = ask->InstallationBox->currentText();
        answerQuestion(ask, answer, installation);
    });
    QCOMPARE(offered, proposed);
    const auto versions = p.history();
    // The version recorded before the test began, and one for each read.
    QCOMPARE(versions.size(), std::size_t(reads + 1));
    QCOMPARE(QString::fromStdString(versions.front().kind), u(kind::kRead));
    QCOMPARE(QString::fromStdString(versions.front().installationName), installation);
    QCOMPARE(QString::fromStdString(versions.front().port), QStringLiteral("COM1"));
    QVERIFY(p.openRegister()->version(versions.front().id).value->bytes == memory);
    QVERIFY(p.messages.errors.isEmpty());
}

void TestRegisterWindow::noWriteWithoutStoredBackup_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<QStringList>("kinds"); // newest first
    QTest::addColumn<QString>("message");
    QTest::newRow("no read in this connection: the device is backed up, then written")
        << "sound" << QStringList{u("zapis sprawdzony"), u("kopia przed zapisem")} << QString();
    QTest::newRow("read in this connection: written without another read")
        << "read first" << QStringList{u("zapis sprawdzony"), u("odczyt")} << QString();
    QTest::newRow("register damaged: nothing written")
        << "damaged" << QStringList{} << u("rejestr jest uszkodzony");
    QTest::newRow("register cannot be created: nothing written")
        << "impossible" << QStringList{} << u("nie można utworzyć");
    QTest::newRow("the backup read fails: nothing written")
        << "silent device" << QStringList{}
        << u("odczyt ustawień z urządzenia nie został zakończony");
    QTest::newRow("restore from the register window: asked, backed up first")
        << "restore" << QStringList{u("przywrócenie"), u("kopia przed zapisem"), u("odczyt")}
        << QString();
}

void TestRegisterWindow::noWriteWithoutStoredBackup() {
    // Before the first write frame the device's present content is committed
    // to the register; when it cannot be, not one block is written and the
    // installer is told why.
    QFETCH(QString, state);
    QFETCH(QStringList, kinds);
    QFETCH(QString, message);
    const Image present = validImage("48600100200", {{43, "48512345678"}});
    const Image wanted = validImage("48600999888", {{43, "48512345678"}}, 8);
    QTemporaryDir dir;
    QString file;
    if (state == "damaged") {
        file = dir.filePath(QStringLiteral("rejestr.sqlite"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("SQLite format 3\0", 16) + QByteArray(8000, '\x7F'));
    } else if (state == "impossible") {
        QFile blocker(dir.filePath(QStringLiteral("plik")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        file = dir.filePath(QStringLiteral("plik/rejestr.sqlite"));
    }
    RegisterProgram p(present, file);
    if (state == "restore") {
        auto r = p.openRegister();
        const Id site = r->createInstallation("Kowalska", "", "").value;
        QVERIFY(
            r->record({wanted, kind::kRead, "COM1", "", site, "2026-01-01T10:00:00.000Z"}).ok());
    }
    p.connect();
    if (state == "read first")
        p.readAndAnswer([](AssignDialog* ask) { ask->LaterButton->click(); });
    if (state == "silent device")
        p.device.setFaults(SimulatedFaults{.silentAfterFrames = 0});
    if (state != "restore")
        p.settings().loadImage(wanted);

    int reads = 0;
    bool writeShown = false;
    // The parts to write: all, as offered.
    auto parts = everyWindow(ofClass<WritePartsDialog>(), [](QWidget* w) {
        qobject_cast<WritePartsDialog*>(w)->WriteButton->click();
    });
    // A restore asks first, with what it changes on the device; Cancel is
    // the default. It asks nothing else.
    bool changedShown = false, restoreShown = false;
    auto changed = everyWindow(ofClass<DifferencesDialog>(), [&](QWidget* w) {
        auto* d = qobject_cast<DifferencesDialog*>(w);
        changedShown = changedShown || w->objectName() == QStringLiteral("ChangedOnSiteDialog");
        if (w->objectName() == QStringLiteral("RestoreDialog")) {
            restoreShown = d->WriteButton->text() == u("Przywróć") &&
                           d->CancelButton->text() == u("Anuluj") && d->CancelButton->isDefault() &&
                           d->DifferenceList->topLevelItemCount() > 0 &&
                           d->HeadingLabel->text().startsWith(u("Wersja "));
        }
        d->WriteButton->click();
    });
    // The register will not back the write up: the way on offered, here cancelled.
    QString trouble;
    auto troubled = everyWindow(ofClass<RegisterTroubleDialog>(), [&](QWidget* w) {
        auto* d = qobject_cast<RegisterTroubleDialog*>(w);
        trouble = d->HeadingLabel->text();
        d->CancelButton->click();
    });
    // The backup read before the write and the check after it.
    auto backupRead = everyWindow([&](QWidget* w) { return w == p.form4(); },
                                  [&](QWidget*) {
                                      ++reads;
                                      for (int i = 0; i < 12 && p.form4()->isVisible(); ++i)
                                          p.form1->Timer1Timer();
                                      if (!p.form4()->isVisible())
                                          return; // complete: the write follows by itself
                                      for (int i = 0; i < 51; ++i) {
                                          p.form1->Timer1Timer();
                                          p.form1->Timer2Timer();
                                      }
                                      p.form4()->Button1->click();
                                  });
    bool storedFirst = false;
    auto write = whenWindow(p.form5(), [&] {
        writeShown = true;
        // Before the first write frame, what the device holds is committed.
        const auto before = p.history();
        storedFirst = p.blocksWritten == 0 && !before.empty() &&
                      p.openRegister()->version(before.front().id).value->bytes == present;
        p.tickUntil([&] { return !p.form1->session().writing(); });
    });
    if (state == "restore") {
        whenModal([&](QDialog*) {
            RegisterWindow* w = p.form1->registerWindow();
            QCOMPARE(w->VersionList->topLevelItemCount(), 1);
            w->WriteButton->click();
        });
        p.form1->RegisterButton->click();
    } else {
        p.inTextsEditor([&](TForm3* t) { t->SpeedButton4->click(); });
    }
    delete backupRead.data();
    delete write.data();
    delete parts.data();
    delete changed.data();
    delete troubled.data();

    // The backup's read when the device was not read in this connection, and
    // the check's read after a write.
    const int backupReads = state == "sound" || state == "silent device" || state == "restore";
    QCOMPARE(reads, backupReads + (message.isEmpty() ? 1 : 0));
    QVERIFY(!changedShown);
    QCOMPARE(restoreShown, state == "restore");
    if (message.isEmpty()) {
        QVERIFY2(p.messages.errors.isEmpty(), qPrintable(p.messages.errors.join('\n')));
        QCOMPARE(
            p.messages.plains,
            QStringList{u("Zapis sprawdzony – urządzenie zawiera dokładnie wysłane ustawienia")});
        QVERIFY(writeShown);
        QVERIFY(storedFirst);
        QStringList recorded;
        for (const VersionInfo& v : p.history())
            recorded << QString::fromStdString(v.kind);
        QCOMPARE(recorded, kinds);
        const auto versions = p.history();
        auto r = p.openRegister();
        // What was written is what the device holds; a restore writes the version as it is.
        QVERIFY(r->version(versions.at(0).id).value->bytes == p.device.memory());
        QVERIFY(state != "restore" || p.device.memory() == wanted);
        QVERIFY(p.device.memory() != present);
        QVERIFY(r->version(versions.at(1).id).value->bytes == present);
        // A restored installation's backup and write are that installation's.
        if (state == "restore")
            for (int i : {0, 1})
                QCOMPARE(versions.at(std::size_t(i)).installationName, std::string("Kowalska"));
        return;
    }
    QVERIFY(!writeShown);
    QCOMPARE(p.blocksWritten, 0);
    QVERIFY(p.device.memory() == present);
    const QString told = state == "damaged" || state == "impossible"
                             ? trouble
                             : (p.messages.errors.isEmpty() ? QString() : p.messages.errors.last());
    QVERIFY2(told.contains(message) && told.startsWith(u("Nic nie zostało zapisane do urządzenia")),
             qPrintable(told + '\n' + p.messages.errors.join('\n')));
}

void TestRegisterWindow::searchFindsTheInstallation_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("found");
    QTest::addColumn<QString>("match");
    QTest::newRow("a caller's number")
        << u("512345678") << u("Kowalska, Lipowa 5, Tarnów") << u("abonent CLIP 43: 48512345678");
    QTest::newRow("a caller's number as people write it")
        << u("+48 512 345 678") << u("Kowalska, Lipowa 5, Tarnów") << u("abonent CLIP 43");
    QTest::newRow("a user's number")
        << u("600777888") << u("Nowak, Polna 3") << u("użytkownik 1: 48600777888");
    QTest::newRow("the name in other letters")
        << u("KOWALSKA") << u("Kowalska, Lipowa 5, Tarnów") << QString();
    QTest::newRow("the notes") << u("brama") << u("Nowak, Polna 3") << QString();
}

void TestRegisterWindow::searchFindsTheInstallation() {
    // The register window finds an installation as one types: by name, notes,
    // or any phone number in its settings, and says where the number is.
    QFETCH(QString, typed);
    QFETCH(QString, found);
    QFETCH(QString, match);
    RegisterProgram p(SimulatedDevice::erased());
    {
        auto r = p.openRegister();
        const Id a = r->createInstallation("Kowalska, Lipowa 5, Tarnów", "", "").value;
        const Id b = r->createInstallation("Nowak, Polna 3", "brama wjazdowa", "").value;
        r->record(
            {validImage("48600100200", {{43, "48512345678"}}), kind::kRead, "COM1", "", a, {}});
        r->record(
            {validImage("48600777888", {{2, "48500000002"}}, 9), kind::kRead, "COM2", "", b, {}});
    }
    QStringList shown, matches;
    int versions = -1;
    whenModal([&](QDialog* d) {
        auto* w = qobject_cast<RegisterWindow*>(d);
        QVERIFY(w);
        QCOMPARE(w->InstallationList->topLevelItemCount(), 2);
        QTest::keyClicks(w->SearchEdit, typed);
        QVERIFY(QTest::qWaitFor([w] { return !w->searchPending(); }, 5000));
        for (int i = 0; i < w->InstallationList->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = w->InstallationList->topLevelItem(i);
            shown << item->text(0);
            for (int c = 0; c < item->childCount(); ++c)
                matches << item->child(c)->text(0);
        }
        versions = w->VersionList->topLevelItemCount();
    });
    p.form1->RegisterButton->click();
    QCOMPARE(shown, QStringList{found});
    QCOMPARE(versions, 1);
    if (match.isEmpty())
        QVERIFY(matches.isEmpty());
    else
        QVERIFY2(matches.size() == 1 && matches.front().startsWith(match),
                 qPrintable(matches.join('\n')));
}

void TestRegisterWindow::deleteRemovesItsVersions_data() {
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("confirmed: the installation and its versions are gone") << true;
    QTest::newRow("cancelled: nothing changes") << false;
}

void TestRegisterWindow::deleteRemovesItsVersions() {
    // Deleting asks first, saying the versions go for good; then the
    // installation and every version of it are gone, the others stay.
    QFETCH(bool, confirmed);
    RegisterProgram p(SimulatedDevice::erased());
    {
        auto r = p.openRegister();
        const Id gone = r->createInstallation("Do usunięcia <b>x</b>", "", "").value;
        const Id kept = r->createInstallation("Zostaje", "", "").value;
        for (unsigned i = 0; i < 3; ++i)
            r->record({validImage("48600100200", {{1, "48777123456"}}, i),
                       kind::kRead,
                       "COM1",
                       "",
                       gone,
                       {}});
        r->record({validImage("48600100201", {}), kind::kRead, "COM1", "", kept, {}});
    }
    p.messages.confirmAnswer = confirmed;
    QStringList left;
    whenModal([&](QDialog* d) {
        auto* w = qobject_cast<RegisterWindow*>(d);
        QVERIFY(w);
        w->SearchEdit->setText(u("usunięcia"));
        QVERIFY(QTest::qWaitFor([w] { return !w->searchPending(); }, 5000));
        QCOMPARE(w->InstallationList->topLevelItem(0)->text(0), u("Do usunięcia <b>x</b>"));
        QCOMPARE(w->VersionList->topLevelItemCount(), 3);
        w->DeleteButton->click();
        w->SearchEdit->clear();
        QVERIFY(QTest::qWaitFor([w] { return !w->searchPending(); }, 5000));
        for (int i = 0; i < w->InstallationList->topLevelItemCount(); ++i)
            left << w->InstallationList->topLevelItem(i)->text(0);
    });
    p.form1->RegisterButton->click();
    QCOMPARE(p.messages.questions.size(), 1);
    QVERIFY(p.messages.questions.front().contains(u("„\u2068Do usunięcia <b>x</b>\u2069”")));
    QVERIFY(p.messages.questions.front().contains(u("(3) zostaną usunięte z pliku rejestru na "
                                                    "zawsze")));
    auto r = p.openRegister();
    QCOMPARE(left.size(), confirmed ? 1 : 2);
    QCOMPARE(r->history({}).value.size(), std::size_t(confirmed ? 1 : 4));
    QCOMPARE(r->installations("777123456").value.size(), std::size_t(confirmed ? 0 : 1));
}

void TestRegisterWindow::versionComparedWithVersionOrDevice_data() {
    QTest::addColumn<QString>("with");
    QTest::addColumn<QString>("left");  // user 1 as the left column has it
    QTest::addColumn<QString>("right"); // and the right
    QTest::newRow("two versions: the older on the left")
        << "versions" << u("48600100200") << u("48600100999");
    QTest::newRow("a version and the device, read into a copy")
        << "device" << u("48600100999") << u("48600555000");
    QTest::newRow("the device not connected: told so, nothing compared")
        << "unconnected" << QString() << QString();
}

void TestRegisterWindow::versionComparedWithVersionOrDevice() {
    // A version is compared with another version or with the device in the
    // comparison window; the program's own settings are neither side and stay
    // as they were.
    QFETCH(QString, with);
    QFETCH(QString, left);
    QFETCH(QString, right);
    RegisterProgram p(validImage("48600555000", {{43, "48512345678"}}));
    {
        auto r = p.openRegister();
        const Id site = r->createInstallation("Kowalska", "", "").value;
        QVERIFY(r->record({validImage("48600100200", {{43, "48512345678"}}), kind::kRead, "COM1",
                           "", site, "2026-01-01T10:00:00.000Z"})
                    .ok());
        QVERIFY(r->record({validImage("48600100999", {{43, "48512345678"}}), kind::kWrite, "COM1",
                           "", site, "2026-02-01T10:00:00.000Z"})
                    .ok());
    }
    if (with != "unconnected")
        p.connect();
    const Image program = p.settings().image.bytes();
    std::optional<comparison::Comparison> found;
    QString results, source;
    whenModal([&](QDialog* d) {
        auto* w = qobject_cast<RegisterWindow*>(d);
        QVERIFY(w);
        QCOMPARE(w->VersionList->topLevelItemCount(), 2);
        QVERIFY(!w->CompareVersionsButton->isEnabled());
        auto watch = whenWindow(p.form1->comparisonWindow(), [&] {
            ComparisonWindow* c = p.form1->comparisonWindow();
            found = c->comparison();
            results = c->Results->toPlainText();
            source = c->SourceLabel->text();
            c->CloseButton->click();
        });
        if (with == "versions") {
            w->VersionList->topLevelItem(1)->setSelected(true);
            QVERIFY(w->CompareVersionsButton->isEnabled());
            QVERIFY(!w->OpenButton->isEnabled()); // one version's commands wait for one
            w->CompareVersionsButton->click();
        } else {
            auto read = whenWindow(p.form4(), [&] {
                QVERIFY(p.tickUntil([&] { return !p.form1->session().reading(); }));
                p.form4()->Button1->click();
            });
            w->CompareDeviceButton->click();
            delete read.data();
        }
        delete watch.data();
    });
    p.form1->RegisterButton->click();
    QVERIFY(p.settings().image.bytes() == program);
    if (with == "unconnected") {
        QVERIFY(!found);
        QCOMPARE(p.messages.errors, QStringList{QString::fromUtf8(texts::kReadNotConnected)});
        return;
    }
    QVERIFY2(found && found->rows.size() == 1, qPrintable(results));
    QCOMPARE(QString::fromStdString(found->rows.front().here), left);
    QCOMPARE(QString::fromStdString(found->rows.front().there), right);
    QVERIFY2(source.contains(u("Kowalska")), qPrintable(source));
    QVERIFY2(results.contains(with == "versions" ? u("odczyt 2026-01-01") : u("W urządzeniu")),
             qPrintable(results));
    QVERIFY2(p.messages.errors.isEmpty(), qPrintable(p.messages.errors.join('\n')));
}

void TestRegisterWindow::unassignedReadAssignedLater_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("installation");
    QTest::newRow("the proposed installation confirmed")
        << "confirm" << u("Kowalska, Lipowa 5, Tarnów");
    QTest::newRow("a new installation") << "new" << u("Wiśniewski, Długa 1");
    QTest::newRow("cancelled: stays unassigned") << "later" << u(kUnassigned);
}

void TestRegisterWindow::unassignedReadAssignedLater() {
    // A read kept unassigned is given its installation from the register
    // window, the closest one proposed, as the question after a read does.
    QFETCH(QString, answer);
    QFETCH(QString, installation);
    RegisterProgram p(SimulatedDevice::erased());
    Id read = 0;
    {
        auto r = p.openRegister();
        const Id site = r->createInstallation("Kowalska, Lipowa 5, Tarnów", "", "").value;
        r->createInstallation("Nowak, Polna 3", "", "");
        QVERIFY(r->record({validImage("48600100200", {{43, "48512345678"}}, 7), kind::kRead, "COM1",
                           "", site, "2026-01-01T10:00:00.000Z"})
                    .ok());
        read = r->record({validImage("48600100200", {{43, "48512345678"}}), kind::kRead, "COM1", "",
                          0, "2026-03-01T10:00:00.000Z"})
                   .value;
    }
    QString offered;
    QStringList versionsShown;
    whenModal([&](QDialog* d) {
        auto* w = qobject_cast<RegisterWindow*>(d);
        QVERIFY(w);
        QTreeWidgetItem* unassigned =
            w->InstallationList->topLevelItem(w->InstallationList->topLevelItemCount() - 1);
        QCOMPARE(unassigned->text(0), u("(nieprzypisane)"));
        QVERIFY(!w->AssignButton->isEnabled()); // an installation's version has one
        w->InstallationList->setCurrentItem(unassigned);
        QVERIFY(w->AssignButton->isEnabled());
        whenModal([&](QDialog* a) {
            auto* ask = qobject_cast<AssignDialog*>(a);
            QVERIFY(ask);
            offered = ask->InstallationBox->currentText();
            answerQuestion(ask, answer, installation);
        });
        w->AssignButton->click();
        for (int i = 0; i < w->VersionList->topLevelItemCount(); ++i)
            versionsShown << w->VersionList->topLevelItem(i)->text(0);
        if (answer != "later")
            QVERIFY(w->chosenInstallation() > 0);
    });
    p.form1->RegisterButton->click();
    QCOMPARE(offered, u("Kowalska, Lipowa 5, Tarnów"));
    const auto v = p.openRegister()->version(read).value;
    QVERIFY(v);
    QCOMPARE(QString::fromStdString(v->info.installationName), installation);
    // The window shows where the read went: among that installation's versions.
    QCOMPARE(versionsShown.size(), answer == "confirm" ? 2 : 1);
    QVERIFY(p.messages.errors.isEmpty());
}

void TestRegisterWindow::checkedWriteFromTheWindow_data() {
    QTest::addColumn<bool>("changedOnSite"); // a caller added on the device after the visit
    QTest::addColumn<QString>("answer");     // to the changed-on-site window
    QTest::addColumn<QString>("parts");      // ticked in the parts window; empty: cancelled
    QTest::addColumn<int>("wrongByte");      // the device stores this byte wrong (-1: none)
    QTest::addColumn<QStringList>("kinds");  // recorded by the write, newest first
    QTest::addColumn<bool>("readLater");     // read first, its installation left for later
    QTest::newRow("changed on site, written anyway, checked")
        << true << "write"
        << "ptc" << -1 << QStringList{u("zapis sprawdzony"), u("kopia przed zapisem")} << false;
    QTest::newRow("changed on site, cancelled: nothing written")
        << true << "cancel"
        << "ptc" << -1 << QStringList{} << false;
    QTest::newRow("changed on site, the device's values taken: nothing written")
        << true << "take"
        << "ptc" << -1 << QStringList{u("kopia przed zapisem")} << false;
    QTest::newRow("the callers alone: blocks 0-3 stay the device's")
        << false << ""
        << "c" << -1 << QStringList{u("zapis sprawdzony"), u("kopia przed zapisem")} << false;
    QTest::newRow("the parts window cancelled: nothing read, nothing written")
        << false << ""
        << "" << -1 << QStringList{} << false;
    QTest::newRow("a byte stored wrong: the differing caller listed")
        << false << ""
        << "ptc" << 5 * 512 + 5 << QStringList{u("zapis niezgodny"), u("kopia przed zapisem")}
        << false;
    QTest::newRow("a byte stored wrong, written again: sent and checked once more")
        << false << "again"
        << "ptc" << 5 * 512 + 5
        << QStringList{u("zapis niezgodny"), u("zapis niezgodny"), u("kopia przed zapisem")}
        << false;
    QTest::newRow("read, its installation later: nothing to compare with, no question")
        << true << "cancel"
        << "ptc" << -1 << QStringList{u("zapis sprawdzony")} << true;
}

void TestRegisterWindow::checkedWriteFromTheWindow() {
    // At the next visit a write from the editors offers the parts, shows what
    // was changed on the device since the installation's latest version, and
    // checks what arrived by reading the device back.
    QFETCH(bool, changedOnSite);
    QFETCH(QString, answer);
    QFETCH(QString, parts);
    QFETCH(int, wrongByte);
    QFETCH(QStringList, kinds);
    QFETCH(bool, readLater);
    const Image visit = validImage("48600100200", {{43, "48512345678"}});
    const Image present =
        changedOnSite ? validImage("48600100200", {{43, "48512345678"}, {44, "48500000044"}})
                      : visit;
    const Image wanted = validImage("48600999888", {{43, "48512345678"}, {2, "48500000002"}}, 8);
    RegisterProgram p(present);
    {
        auto r = p.openRegister();
        const Id site = r->createInstallation("Kowalska, Lipowa 5, Tarnów", "", "").value;
        QVERIFY(r->record({visit, kind::kRead, "COM1", "", site, "2026-03-05T12:00:00.000Z"}).ok());
    }
    SimulatedFaults faults;
    faults.wrongStoredByte = wrongByte;
    p.device.setFaults(faults);
    p.connect();
    // The read is the closest to the installation's, and not given to it.
    if (readLater)
        p.readAndAnswer([](AssignDialog* ask) { ask->LaterButton->click(); });
    p.settings().loadImage(wanted);

    int reads = 0;
    QStringList changedRows, mismatchRows;
    QString heading;
    auto choose = everyWindow(ofClass<WritePartsDialog>(), [&](QWidget* w) {
        auto* d = qobject_cast<WritePartsDialog*>(w);
        // All parts are offered ticked.
        QVERIFY(d->ParametersBox->isChecked() && d->TextsBox->isChecked() &&
                d->CallersBox->isChecked());
        if (parts.isEmpty()) {
            d->CancelButton->click();
            return;
        }
        d->ParametersBox->setChecked(parts.contains('p'));
        d->TextsBox->setChecked(parts.contains('t'));
        d->CallersBox->setChecked(parts.contains('c'));
        d->WriteButton->click();
    });
    auto differences = everyWindow(ofClass<DifferencesDialog>(), [&](QWidget* w) {
        auto* d = qobject_cast<DifferencesDialog*>(w);
        QStringList rows;
        for (int i = 0; i < d->DifferenceList->topLevelItemCount(); ++i)
            rows << QString(d->DifferenceList->topLevelItem(i)->text(0) + " | " +
                            d->DifferenceList->topLevelItem(i)->text(2) +
                            (d->DifferenceList->columnCount() > 3
                                 ? " | " + d->DifferenceList->topLevelItem(i)->text(3)
                                 : QString()))
                        .remove(QChar(0x2068))
                        .remove(QChar(0x2069));
        if (w->objectName() == QStringLiteral("ChangedOnSiteDialog")) {
            changedRows = rows;
            heading = d->HeadingLabel->text();
            (answer == "write"  ? d->WriteButton
             : answer == "take" ? d->TakeButton
                                : d->CancelButton)
                ->click();
        } else {
            // "again": the first verdict is answered by writing again.
            QPushButton* button =
                answer == "again" && mismatchRows.isEmpty() ? d->WriteButton : d->CancelButton;
            mismatchRows = rows;
            button->click();
        }
    });
    auto readWindow = everyWindow([&](QWidget* w) { return w == p.form4(); },
                                  [&](QWidget*) {
                                      ++reads;
                                      p.tickUntil([&] { return !p.form4()->isVisible(); });
                                  });
    auto write =
        everyWindow([&](QWidget* w) { return w == p.form5(); },
                    [&](QWidget*) { p.tickUntil([&] { return !p.form1->session().writing(); }); });
    const int versionsBefore = int(p.history().size());
    p.inTextsEditor([&](TForm3* t) { t->SpeedButton4->click(); });
    delete choose.data();
    delete differences.data();
    delete readWindow.data();
    delete write.data();

    QVERIFY2(p.messages.errors.isEmpty(), qPrintable(p.messages.errors.join('\n')));
    const auto history = p.history();
    QStringList recorded;
    for (int i = 0; i < int(history.size()) - versionsBefore; ++i)
        recorded << QString::fromStdString(history.at(std::size_t(i)).kind);
    QCOMPARE(recorded, kinds);
    if (changedOnSite && !readLater) {
        QCOMPARE(heading, u("Instalacja „\u2068Kowalska, Lipowa 5, Tarnów\u2069”: ustawienia "
                            "zmienione w urządzeniu od 05.03.2026."));
        // At the last visit, in the device, after the write: the write frees it.
        QCOMPARE(changedRows,
                 QStringList{u("Abonenci – Pozycja 44 (dodany) | 48500000044 | (wolna)")});
    }
    if (readLater)
        QVERIFY2(changedRows.isEmpty(), qPrintable(changedRows.join('\n')));
    const bool written = !kinds.isEmpty() && kinds.front().startsWith(u("zapis"));
    // The backup's read (none after a read in this connection), and one check
    // for every write.
    const int backups = readLater ? 0 : 1;
    const int writes = int(kinds.size()) - backups;
    QCOMPARE(reads, parts.isEmpty() ? 0 : written ? backups + writes : 1);
    QCOMPARE(p.blocksWritten, written ? 8 * writes : 0);
    if (!written) {
        QCOMPARE(p.blocksWritten, 0);
        QVERIFY(p.device.memory() == present);
        if (answer == "take") {
            // The caller added on site is in the program now; the program's
            // own user 1 stays.
            const auto left = comparison::compareImages(p.settings().image.bytes(), present);
            for (const auto& row : left.rows)
                QVERIFY2(row.name != "Pozycja 44", row.name.c_str());
            QVERIFY(!left.rows.empty());
            QCOMPARE(p.messages.plains.size(), 1);
            QVERIFY(p.messages.plains.front().contains(u("Nic nie zostało zapisane")));
        }
        return;
    }
    const Image sent = p.openRegister()->version(history.front().id).value->bytes;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const bool chosen = parts.contains("ptttcccc"[i / layout::kBlockSize]);
        if (!chosen)
            QVERIFY2(sent[i] == present[i], qPrintable(QString::number(i)));
    }
    if (wrongByte < 0) {
        QVERIFY(p.device.memory() == sent);
        QCOMPARE(p.messages.plains, QStringList{u("Zapis sprawdzony – urządzenie zawiera "
                                                  "dokładnie wysłane ustawienia")});
        QVERIFY(mismatchRows.isEmpty());
    } else {
        QVERIFY(p.device.memory() != sent);
        QVERIFY(p.messages.plains.isEmpty());
        QCOMPARE(mismatchRows.size(), 1);
        // One digit wrong breaks the caller's check: the device has lost it.
        QVERIFY2(mismatchRows.front().contains(u("Abonenci – Pozycja 43 (usunięty)")),
                 qPrintable(mismatchRows.join('\n')));
    }
    // A part alone leaves the program's own settings as they were.
    if (parts != "ptc")
        QVERIFY(comparison::compareImages(p.settings().image.bytes(), sent).rows.size() > 0);
}

void TestRegisterWindow::damagedRegisterOffersAWayOn_data() {
    QTest::addColumn<QString>("way");
    QTest::newRow("the newest daily copy restored") << "restore";
    QTest::newRow("a new register") << "new";
    // The register as the program opens it by itself: after the way on it
    // is opened again, not left without one.
    QTest::newRow("the program's own register: the daily copy restored") << "restore-own";
    QTest::newRow("the program's own register: a new one") << "new-own";
    QTest::newRow("written without the register, the device's content in a file first")
        << "without";
    QTest::newRow("without the register, no file named: nothing written") << "no file";
}

void TestRegisterWindow::damagedRegisterOffersAWayOn() {
    // A write the damaged register cannot back up offers what can be done in
    // the window: its newest daily copy or a new register, the damaged file
    // kept aside; or a write that first saves what the device holds to a file.
    QFETCH(QString, way);
    const bool own = way.endsWith(QStringLiteral("-own"));
    if (own)
        way.chop(4);
    const Image present = validImage("48600100200", {{43, "48512345678"}});
    const Image wanted = validImage("48600999888", {{43, "48512345678"}}, 8);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("rejestr.sqlite"));
    const QByteArray testRegister = qgetenv("TRELLIKON_REGISTER");
    const auto putBack = qScopeGuard([&] { qputenv("TRELLIKON_REGISTER", testRegister); });
    {
        OpenOptions options;
        options.dailyCopy = false;
        auto opened = openRegister(copyName(file.toStdString(), "2026-03-04"), options);
        QVERIFY2(opened.ok(), opened.failure.message.c_str());
        auto copy = std::move(opened.value);
        QVERIFY(copy->createInstallation("Kowalska", "", "").ok());
    }
    const QByteArray damaged = QByteArray("SQLite format 3\0", 16) + QByteArray(8000, '\x7F');
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(damaged);
    }
    RegisterProgram p(present, file);
    if (own) {
        // As the program starts: no opener given before.
        p.form1->useRegister({});
        qputenv("TRELLIKON_REGISTER", file.toUtf8());
        p.form1->setUpRegister();
    }
    p.connect();
    p.settings().loadImage(wanted);
    const QString saved = dir.filePath(QStringLiteral("przed-zapisem"));
    if (way == "without")
        p.files.answers << saved;
    QString offered;
    auto parts = everyWindow(ofClass<WritePartsDialog>(), [](QWidget* w) {
        qobject_cast<WritePartsDialog*>(w)->WriteButton->click();
    });
    auto trouble = everyWindow(ofClass<RegisterTroubleDialog>(), [&](QWidget* w) {
        auto* d = qobject_cast<RegisterTroubleDialog*>(w);
        QVERIFY(d->RestoreButton);
        offered = d->RestoreButton->text();
        (way == "restore" ? d->RestoreButton
         : way == "new"   ? d->NewButton
                          : d->WithoutButton)
            ->click();
    });
    auto reads =
        everyWindow([&](QWidget* w) { return w == p.form4(); },
                    [&](QWidget*) { p.tickUntil([&] { return !p.form4()->isVisible(); }); });
    auto write =
        everyWindow([&](QWidget* w) { return w == p.form5(); },
                    [&](QWidget*) { p.tickUntil([&] { return !p.form1->session().writing(); }); });
    p.inTextsEditor([&](TForm3* t) { t->SpeedButton4->click(); });
    delete parts.data();
    delete trouble.data();
    delete reads.data();
    delete write.data();

    QCOMPARE(offered, u("Przywróć kopię z 04.03.2026"));
    const QStringList aside =
        QDir(dir.path()).entryList({QStringLiteral("rejestr.sqlite.uszkodzony-*")});
    if (way == "without" || way == "no file") {
        QVERIFY(aside.isEmpty());
        QFile kept(saved + QStringLiteral(".sbn"));
        if (way == "no file") {
            QVERIFY(!kept.exists());
            QVERIFY(p.device.memory() == present);
            return;
        }
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QVERIFY(kept.readAll() == QByteArray(reinterpret_cast<const char*>(present.data()),
                                             qsizetype(present.size())));
        // Written and checked: the device holds what was sent, not what it held.
        QVERIFY(p.device.memory() != present);
        QCOMPARE(p.messages.plains, QStringList{u("Zapis sprawdzony – urządzenie zawiera "
                                                  "dokładnie wysłane ustawienia")});
        return;
    }
    // Nothing written yet; the damaged file whole under its new name; the
    // register opened anew and writable.
    QVERIFY(p.device.memory() == present);
    QCOMPARE(aside.size(), 1);
    QFile kept(dir.filePath(aside.front()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QVERIFY(kept.readAll() == damaged);
    QCOMPARE(p.messages.plains.size(), 1);
    QVERIFY2(p.messages.plains.front().contains(aside.front()),
             qPrintable(p.messages.plains.front()));
    Register* store = p.form1->journal().store();
    QVERIFY(store && store->writable());
    const auto installations = store->installations("").value;
    QCOMPARE(installations.size(), std::size_t(way == "restore" ? 1 : 0));
}

namespace {
QStringList* qtWarnings = nullptr;
void keepWarning(QtMsgType, const QMessageLogContext&, const QString& text) {
    if (qtWarnings)
        *qtWarnings << text;
}
} // namespace

void TestRegisterWindow::checkReadOnScreenUntilTheVerdict_data() {
    QTest::addColumn<bool>("readFirst"); // read, and the editors opened by the read window's OK
    QTest::newRow("backup read, write, check") << false;
    QTest::newRow("read, the editors from its OK, write, check") << true;
}

void TestRegisterWindow::checkReadOnScreenUntilTheVerdict() {
    // Ticked as the program's own timers tick, one tick per turn of the event
    // loop: from the write window's OK until the verdict, a read window is
    // the modal window on screen and says that it checks the write, and no
    // modal loop is entered twice.
    QFETCH(bool, readFirst);
    const Image present = validImage("48600100200", {{43, "48512345678"}});
    const Image wanted = validImage("48600999888", {{43, "48512345678"}}, 8);
    RegisterProgram p(present);
    p.connect();

    QStringList warnings;
    qtWarnings = &warnings;
    const QtMessageHandler before = qInstallMessageHandler(keepWarning);
    bool okClicked = false;
    QStringList gaps, blocks;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        // The verdict is the end: no more ticks for an idle line.
        if (!p.messages.plains.isEmpty() || !p.messages.errors.isEmpty()) {
            ticker.stop();
            return;
        }
        QWidget* top = QApplication::activeModalWidget();
        if (!okClicked && top == p.form5() && !p.form1->session().writing()) {
            okClicked = true;
            p.form5()->Button1->click();
            return;
        }
        if (okClicked && p.form1->session().step() == Session::Step::Verifying) {
            auto* shown = qobject_cast<TForm4*>(top);
            if (!shown || !shown->isVisible() ||
                !shown->windowTitle().contains(u("Sprawdzanie zapisu – nie odłączaj kabla")))
                gaps << (top ? top->objectName() : QStringLiteral("none"));
            else if (blocks.isEmpty() || blocks.last() != shown->CheckLabel->text())
                blocks << shown->CheckLabel->text();
        }
        p.ticks.step();
    });
    auto parts = everyWindow(ofClass<WritePartsDialog>(), [&](QWidget* w) {
        ticker.start();
        qobject_cast<WritePartsDialog*>(w)->WriteButton->click();
    });
    // In the texts editor: the program's settings written (after a read,
    // the settings read), the editor left only once the verdict is in.
    const auto write = [&](TForm3* t) {
        t->SpeedButton4->click();
        QVERIFY(QTest::qWaitFor(
            [&] { return !p.messages.plains.isEmpty() || !p.messages.errors.isEmpty(); }, 5000));
    };
    if (readFirst) {
        // As an installer goes: the read's question answered later, the
        // read window's OK, the parameters editor it opens, the texts editor.
        whenModal([&](QDialog*) {
            QVERIFY(p.tickUntil([&] { return !p.form1->session().reading(); }));
            bool asked = false;
            whenModal([&](QDialog* d) {
                qobject_cast<AssignDialog*>(d)->LaterButton->click();
                asked = true;
            });
            QVERIFY(QTest::qWaitFor([&] { return asked; }, 5000));
            whenModal([&](QDialog*) {
                p.armEditor();
                whenModal([&](QDialog*) { write(p.form3()); });
                p.form2()->SpeedButton1->click();
            });
            p.form4()->Button1->click();
        });
        p.form1->SpeedButton5Click();
    } else {
        p.settings().loadImage(wanted);
        p.inTextsEditor(write);
    }
    ticker.stop();
    delete parts.data();
    qInstallMessageHandler(before);
    qtWarnings = nullptr;

    QVERIFY(okClicked);
    QVERIFY2(gaps.isEmpty(), qPrintable(gaps.join(' ')));
    QVERIFY2(warnings.filter(QStringLiteral("Recursive call")).isEmpty(),
             qPrintable(warnings.join('\n')));
    QVERIFY2(blocks.size() >= 2 && blocks.first().endsWith(u("bloku 1 z 8")) &&
                 blocks.last().endsWith(u("bloku 8 z 8")),
             qPrintable(blocks.join(" | ")));
    QVERIFY2(p.messages.errors.isEmpty(), qPrintable(p.messages.errors.join('\n')));
    QCOMPARE(p.messages.plains, QStringList{u("Zapis sprawdzony – urządzenie zawiera dokładnie "
                                              "wysłane ustawienia")});
}

void TestRegisterWindow::interruptedWriteOffersWaysOn_data() {
    QTest::addColumn<QString>("answer");    // in the window offered at the next connection
    QTest::addColumn<QStringList>("kinds"); // recorded after the cut, newest first
    QTest::newRow("written again: checked, the mixture left by the cut is no change on site")
        << "again" << QStringList{u("zapis sprawdzony"), u("kopia przed zapisem")};
    QTest::newRow("the copy from before the write restored, its differences asked first")
        << "restore" << QStringList{u("przywrócenie"), u("kopia przed zapisem")};
    QTest::newRow("later (Escape): nothing written, offered again at the next connection")
        << "later" << QStringList{};
}

void TestRegisterWindow::interruptedWriteOffersWaysOn() {
    // A write whose cable is pulled after block 5 has its ways on once the
    // cable is back: the same bytes through the checked write, or the copy
    // from before it through the restore; the device is left as it is until then.
    QFETCH(QString, answer);
    QFETCH(QStringList, kinds);
    const QString site = u("Kowalska, Lipowa 5, Tarnów");
    const Image present = validImage("48600100200", {{43, "48512345678"}});
    // Position 160 lies past block 5: the cut leaves it out.
    const Image wanted = validImage("48600999888", {{43, "48512345678"}, {160, "48500000160"}}, 8);
    RegisterProgram p(present);
    QVERIFY(p.openRegister()->createInstallation(site.toStdString(), "", "").ok());
    SimulatedFaults faults;
    faults.hangUpAfterBlock = 5;
    p.device.setFaults(faults);
    p.connect();
    // Read and given to the installation: the cut write becomes its latest version.
    p.readAndAnswer([&](AssignDialog* ask) { answerQuestion(ask, "pick", site); });
    const Id backup = Id(p.history().front().id);
    p.settings().loadImage(wanted);

    QStringList writeTexts, questions, offers;
    auto parts = everyWindow(ofClass<WritePartsDialog>(), [](QWidget* w) {
        qobject_cast<WritePartsDialog*>(w)->WriteButton->click();
    });
    auto differences = everyWindow(ofClass<DifferencesDialog>(), [&](QWidget* w) {
        questions << w->objectName();
        auto* d = qobject_cast<DifferencesDialog*>(w);
        (w->objectName() == QStringLiteral("RestoreDialog") ? d->WriteButton : d->CancelButton)
            ->click();
    });
    auto offer = everyWindow(ofClass<InterruptedWriteDialog>(), [&](QWidget* w) {
        auto* d = qobject_cast<InterruptedWriteDialog*>(w);
        QVERIFY(d->RestoreButton);
        offers << d->HeadingLabel->text() + " | " + d->WriteButton->text() + " | " +
                      d->RestoreButton->text() + " | " + d->LaterButton->text();
        if (answer == "again")
            d->WriteButton->click();
        else if (answer == "restore")
            d->RestoreButton->click();
        else
            QTest::keyClick(d, Qt::Key_Escape);
    });
    auto reads =
        everyWindow([&](QWidget* w) { return w == p.form4(); },
                    [&](QWidget*) { p.tickUntil([&] { return !p.form4()->isVisible(); }); });
    auto write = everyWindow([&](QWidget* w) { return w == p.form5(); },
                             [&](QWidget*) {
                                 p.tickUntil([&] { return !p.form1->session().writing(); });
                                 writeTexts << p.form5()->Label1->text();
                             });
    // Every watcher ends with the test, a failed check included.
    const auto stop = qScopeGuard([&] {
        for (QTimer* watcher :
             {parts.data(), differences.data(), offer.data(), reads.data(), write.data()})
            delete watcher;
    });
    p.inTextsEditor([&](TForm3* t) { t->SpeedButton4->click(); });

    // What the editors encoded went out; blocks 5 to 7 stayed as they were.
    const Image sent = p.openRegister()->version(p.history().front().id).value->bytes;
    Image mixed = sent;
    std::copy(present.begin() + 5 * 512, present.end(), mixed.begin() + 5 * 512);
    QVERIFY(mixed != sent);
    QVERIFY(p.device.memory() == mixed);
    QCOMPARE(QString::fromStdString(p.history().front().kind), u("zapis przerwany"));
    QVERIFY2(writeTexts.join(' ').contains(u("Zapis przerwany po bloku 5 z 8")),
             qPrintable(writeTexts.join('\n')));
    QVERIFY(offers.isEmpty());

    // The cable back, the device switched off and on, "Nawiąż połączenie".
    p.device.setFaults({});
    p.messages = {};
    const std::size_t versionsBefore = p.history().size();
    p.connect();
    if (answer != "later")
        QVERIFY(QTest::qWaitFor(
            [&] { return !p.messages.plains.isEmpty() || !p.messages.errors.isEmpty(); }, 5000));
    else
        p.connect(); // and once more
    QCOMPARE(offers.size(), answer == "later" ? 2 : 1);
    QCOMPARE(offers.front(), QString::fromStdString(interruptedWriteText(5, backup)) +
                                 u(" | &Zapisz ponownie | &Przywróć kopię | Póź&niej"));
    QVERIFY2(p.messages.errors.isEmpty(), qPrintable(p.messages.errors.join('\n')));
    const auto history = p.history();
    QStringList recorded;
    for (std::size_t i = 0; i + versionsBefore < history.size(); ++i)
        recorded << QString::fromStdString(history.at(i).kind);
    QCOMPARE(recorded, kinds);
    QCOMPARE(questions,
             answer == "restore" ? QStringList{QStringLiteral("RestoreDialog")} : QStringList{});
    if (answer == "later") {
        QVERIFY(p.device.memory() == mixed);
        return;
    }
    QVERIFY(p.device.memory() == (answer == "again" ? sent : present));
    QCOMPARE(p.messages.plains, QStringList{u("Zapis sprawdzony – urządzenie zawiera dokładnie "
                                              "wysłane ustawienia")});
    if (answer == "restore")
        QCOMPARE(QString::fromStdString(history.front().summary).section(';', 0, 0),
                 u("przywrócono wersję %1").arg(backup));
}

QTEST_MAIN(TestRegisterWindow)
#include "test_register_window.moc"
