// The company register's windows without a server: the register window's
// line for each state, the address the connect dialog makes, and conflicts
// listed and settled.
#include "company_sync.h"
#include "company_windows.h"
#include "register.h"
#include "window_test_support.h"

#include <QtTest>

using namespace trellikon::reg;

class TestCompanyWindows : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void stateLine_data();
    void stateLine();
    void addressFromTheFields();
    void conflictsListedAndSettled();
};

void TestCompanyWindows::stateLine_data() {
    QTest::addColumn<bool>("joined");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("synced");
    QTest::addColumn<int>("versions");
    QTest::addColumn<int>("changes");
    QTest::addColumn<QString>("shown");
    using O = CompanyOutcome;
    QTest::newRow("alone") << false << int(O::None) << "" << 0 << 0
                           << "Rejestr tylko na tym komputerze";
    QTest::newRow("never") << true << int(O::None) << "" << 0 << 4
                           << "Rejestr firmy: jeszcze nie zsynchronizowano";
    // Sync times in the computer's own time (stored in UTC).
    QTest::newRow("today") << true << int(O::Done) << "2026-12-10T10:42:00" << 0 << 0
                           << "Rejestr firmy: zsynchronizowano 10:42";
    QTest::newRow("yesterday") << true << int(O::Done) << "2026-12-09T10:42:00" << 0 << 0
                               << "Rejestr firmy: zsynchronizowano 09.12.2026 10:42";
    QTest::newRow("3 versions") << true << int(O::Unreachable) << "" << 3 << 5
                                << "Bez połączenia z serwerem: 3 wersje czekają na wysłanie";
    QTest::newRow("1 version") << true << int(O::Unreachable) << "" << 1 << 1
                               << "Bez połączenia z serwerem: 1 wersja czeka na wysłanie";
    QTest::newRow("12 versions") << true << int(O::Unreachable) << "" << 12 << 12
                                 << "Bez połączenia z serwerem: 12 wersji czeka na wysłanie";
    QTest::newRow("22 versions") << true << int(O::Unreachable) << "" << 22 << 22
                                 << "Bez połączenia z serwerem: 22 wersje czekają na wysłanie";
    QTest::newRow("changes") << true << int(O::Unreachable) << "" << 0 << 2
                             << "Bez połączenia z serwerem: 2 zmiany czekają na wysłanie";
    QTest::newRow("running") << true << int(O::Running) << "" << 0 << 0
                             << "Rejestr firmy: synchronizacja…";
}

void TestCompanyWindows::stateLine() {
    QFETCH(bool, joined);
    QFETCH(int, outcome);
    QFETCH(QString, synced);
    QFETCH(int, versions);
    QFETCH(int, changes);
    QFETCH(QString, shown);
    const std::string utc = synced.isEmpty() ? std::string()
                                             : QDateTime::fromString(synced, Qt::ISODate)
                                                   .toUTC()
                                                   .toString(Qt::ISODateWithMs)
                                                   .toStdString();
    CompanyState state{joined, "firma", utc, changes, versions};
    const QDateTime now(QDate(2026, 12, 10), QTime(12, 0));
    QCOMPARE(companyStateText(state, {CompanyOutcome::Kind(outcome), {}}, now), shown);
}

void TestCompanyWindows::addressFromTheFields() {
    const std::string uri =
        companyUri(" rejestr.firma.pl ", 5433, "firma", "jan.kowalski",
                   QString::fromUtf8("/home/jan/Certyfikaty firmy/ca żółw.crt"));
    QCOMPARE(uri,
             std::string("postgresql://jan.kowalski@rejestr.firma.pl:5433/firma?sslrootcert="
                         "%2Fhome%2Fjan%2FCertyfikaty%20firmy%2Fca%20%C5%BC%C3%B3%C5%82w.crt"));
    std::string why;
    QVERIFY(PgLink::secureUri(uri, why));
}

void TestCompanyWindows::conflictsListedAndSettled() {
    auto opened = openRegister(":memory:");
    QVERIFY(opened.ok());
    Register& r = *opened.value;
    CompanyStorage* c = r.storage().company();
    QVERIFY(c && c->makeCompanyTables() && c->setMeta(meta::kServer, "firma"));
    const Id id = r.createInstallation("Lipowa 5", "", "").value;
    std::vector<Installation> rows;
    QVERIFY(r.storage().installations(rows, false, id));
    Conflict k;
    k.installation = rows.front().uuid;
    k.field = field::kName;
    k.kept = "Lipowa 5";
    k.lost = "Lipowa 5/7";
    k.lostWho = "ewa";
    k.lostHlc = "x";
    QVERIFY(c->addConflict(k));
    RecordingMessageBoxes messages;
    ModalStack stack;
    DialogContext ctx{&stack, &messages, nullptr, {}};
    ConflictsWindow window(ctx, r);
    QCOMPARE(window.ConflictList->topLevelItemCount(), 1);
    QCOMPARE(window.ConflictList->topLevelItem(0)->text(3), QString("Lipowa 5/7"));
    window.RestoreButton->click();
    QCOMPARE(window.ConflictList->topLevelItemCount(), 0);
    QCOMPARE(r.installationNamed("Lipowa 5/7").value->id, id);
    QVERIFY(messages.errors.isEmpty());
}

QTEST_MAIN(TestCompanyWindows)
#include "test_company_windows.moc"
