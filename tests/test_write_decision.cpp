// The write's decision, every path through it, against a register in memory:
// what is asked, what is sent, what the register keeps afterwards. The journal
// is called as the session calls it around the frames.
#include "register.h"
#include "register_journal.h"
#include "write_decision.h"

#include <QTest>

using namespace trellikon;
using namespace trellikon::reg;
using Decision = checked::WriteDecision;
using Kind = Decision::Question::Kind;
using Answer = Decision::Answer;

namespace {

Bytes image(const std::string& user1, const std::string& caller43 = {},
            const std::string& text2 = "Alarm wejscie 2") {
    SettingsImage im;
    im.writePhoneNumber(layout::kSmsCentreNumber, "48601000310");
    im.writePhoneNumber(layout::kUserNumber1, user1);
    for (int n = 1; n <= layout::kSubscriberCount; ++n)
        im.freeSubscriber(n);
    if (!caller43.empty())
        im.writeSubscriber(43, caller43);
    im.writeText(2, text2);
    return im.bytes();
}

const std::string kPort = "/dev/ttyUSB0";

// The register with one installation whose latest version is `recorded`, and
// the journal of a run that chose it.
struct Fixture {
    Register* r = nullptr;
    Journal journal;
    Id site = 0;

    explicit Fixture(const Bytes& recorded, bool chosen = true)
        : journal(
              [this] {
                  auto opened = openRegister(":memory:");
                  r = opened.value.get();
                  return opened;
              },
              "0.1.0") {
        journal.store();
        site = r->createInstallation("Kowalska", "", "").value;
        r->record({recorded, kind::kRead, kPort, "0.1.0", site, "2026-03-05T12:00:00.000Z"});
        if (chosen)
            journal.keep(site);
    }
    // What the session does between proceed and the read-back.
    void frames(const Bytes& sent) {
        journal.writeBegun();
        journal.writeComplete(sent, kPort);
    }
    std::vector<VersionInfo> history() { return r->history({HistoryFilter::All, 0, 0}).value; }
};

} // namespace

class TestWriteDecision : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void everyPath_data();
    void everyPath();
    void takeDeviceAsksNoMore();
    void wrongByteAndWriteAgain();
    void restoreShowsAllItChanges();
    void interruptedWriteIsNoChangeOnSite();
};

void TestWriteDecision::everyPath_data() {
    // On site: "caller" adds caller 43 to the device, "text" changes text 2,
    // "" changes nothing. The program changes user 1 in every row.
    QTest::addColumn<QString>("onSite");
    QTest::addColumn<uint>("parts");
    QTest::addColumn<bool>("chosen");     // the installation chosen in this connection
    QTest::addColumn<bool>("unassigned"); // this connection's read left unassigned
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("asked");
    QTest::addColumn<bool>("written");
    QTest::addColumn<int>("versionsAfter"); // the recorded read, and what the answer adds

    const uint all = checked::kAllParts, params = checked::kParameters;
    const int write = int(Answer::Write), cancel = int(Answer::Cancel),
              take = int(Answer::TakeDevice);
    const int none = int(Kind::None), changed = int(Kind::ChangedOnSite);
    QTest::newRow("unchanged: nothing asked")
        << "" << all << true << false << write << none << true << 2;
    QTest::newRow("changed on site, write")
        << "caller" << all << true << false << write << changed << true << 2;
    QTest::newRow("changed on site, cancel: nothing sent, nothing recorded")
        << "caller" << all << true << false << cancel << changed << false << 1;
    QTest::newRow("changed on site, take the device's: its content recorded as the backup")
        << "caller" << all << true << false << take << changed << false << 2;
    QTest::newRow("parameters only: the callers stay as the device holds them, no loss")
        << "caller" << params << true << false << write << none << true << 2;
    QTest::newRow("parameters only, a text changed on site: no loss either")
        << "text" << params << true << false << write << none << true << 2;
    QTest::newRow("no installation chosen: the closest one's latest is asked about")
        << "caller" << all << false << false << write << changed << true << 2;
    QTest::newRow("read left unassigned: the device is no one's, nothing asked")
        << "caller" << all << false << true << write << none << true << 2;
}

void TestWriteDecision::everyPath() {
    QFETCH(QString, onSite);
    QFETCH(uint, parts);
    QFETCH(bool, chosen);
    QFETCH(bool, unassigned);
    QFETCH(int, answer);
    QFETCH(int, asked);
    QFETCH(bool, written);
    QFETCH(int, versionsAfter);

    const Bytes recorded = image("48600000001");
    const Bytes device = onSite == "caller" ? image("48600000001", "48500000043")
                         : onSite == "text" ? image("48600000001", {}, "Brama wejscie 2")
                                            : recorded;
    const Bytes program = image("48600000002");
    Fixture f(recorded, chosen);

    checked::WriteRequest request;
    request.settings = program;
    request.parts = parts;
    request.closest = true;
    request.readLeftUnassigned = unassigned;
    Decision d(&f.journal, request);
    QVERIFY(d.begin().ok());
    // The backup's read: what the device holds, not yet recorded.
    const Decision::Question& q = d.question(device);
    QCOMPARE(int(q.kind), asked);
    if (q.kind == Kind::ChangedOnSite) {
        QCOMPARE(q.installationName, std::string("Kowalska"));
        QCOMPARE(QString::fromStdString(checked::sinceLine(q.changed)),
                 QString::fromUtf8("zmienione w urządzeniu od 05.03.2026"));
    }
    const Decision::Decision out = d.answer(Answer(answer), kPort);
    QCOMPARE(out.write, written);
    QVERIFY(out.failure.ok());
    if (written) {
        f.frames(out.toWrite);
        // The chosen parts over what the device holds, nothing else of it lost.
        QCOMPARE(out.toWrite,
                 parts == checked::kAllParts ? program : checked::merge(device, program, parts));
        QVERIFY(!out.settings); // the program's settings stay its own
    }
    if (Answer(answer) == Answer::TakeDevice) {
        QVERIFY(out.settings);
        // The device's caller comes in; the program's user 1 stays.
        QCOMPARE(*out.settings, image("48600000002", "48500000043"));
    }
    QCOMPARE(int(f.history().size()), versionsAfter);
}

void TestWriteDecision::takeDeviceAsksNoMore() {
    // Once the device's values are taken, the device's content is the
    // installation's latest: the next write from the same program asks nothing.
    const Bytes device = image("48600000001", "48500000043");
    Fixture f(image("48600000001"));
    checked::WriteRequest request;
    request.settings = image("48600000002");
    Decision first(&f.journal, request);
    QVERIFY(first.begin().ok());
    QCOMPARE(first.question(device).kind, Kind::ChangedOnSite);
    const auto taken = first.answer(Answer::TakeDevice, kPort);
    QCOMPARE(f.history().front().kind, std::string(kind::kBackup));

    request.settings = *taken.settings;
    Decision second(&f.journal, request);
    QVERIFY(second.begin().ok());
    QCOMPARE(second.question(device).kind, Kind::None);
}

void TestWriteDecision::wrongByteAndWriteAgain() {
    // A read-back that differs in one byte is recorded as such; the same
    // bytes sent again and found right are a second, checked write.
    const Bytes program = image("48600000002");
    Fixture f(program);
    checked::WriteRequest request;
    request.settings = program;
    Decision d(&f.journal, request);
    QVERIFY(d.begin().ok());
    QCOMPARE(d.question(program).kind, Kind::None);
    const auto out = d.answer(Answer::Write, kPort);
    f.frames(out.toWrite);
    Bytes back = out.toWrite;
    back[std::size_t(layout::kUserNumber1) + 1] ^= 0x01;
    const checked::Verification wrong = d.verdict(out.toWrite, back);
    QVERIFY(!wrong.same);
    QVERIFY(!wrong.differences.equal());
    QCOMPARE(f.history().front().kind, std::string(kind::kWriteMismatch));

    f.frames(out.toWrite);
    QVERIFY(d.verdict(out.toWrite, out.toWrite).same);
    const auto h = f.history();
    QCOMPARE(h.at(0).kind, std::string(kind::kWriteVerified));
    QCOMPARE(h.at(1).kind, std::string(kind::kWriteMismatch));
}

void TestWriteDecision::restoreShowsAllItChanges() {
    // The window shows a restore's whole change whatever was changed on site,
    // sends it whole, and records it as the restore of that version; the
    // command line asks as for any write.
    const Bytes device = image("48600000001", "48500000043");
    Fixture f(image("48600000001"));
    const auto old = f.r->record({image("48600000009"), kind::kRead, kPort, "0.1.0", f.site, {}});
    const VersionInfo info = f.r->version(old.value).value->info;
    for (const bool window : {true, false}) {
        checked::WriteRequest request;
        request.settings = image("48600000002");
        request.sending = image("48600000009");
        request.restoring = info;
        request.parts = checked::kParameters;
        request.showRestore = window;
        Decision d(&f.journal, request);
        QVERIFY(d.begin().ok());
        const auto& q = d.question(device);
        QCOMPARE(q.kind, window ? Kind::Restore : Kind::ChangedOnSite);
        if (window) {
            QCOMPARE(q.restoring.id, old.value);
            QVERIFY(!q.restoreChange.equal());
        }
        const auto out = d.answer(Answer::Write, kPort);
        QCOMPARE(out.toWrite, image("48600000009"));
        QCOMPARE(*out.settings, image("48600000009"));
        f.frames(out.toWrite);
        QCOMPARE(f.history().front().kind, std::string(kind::kRestore));
        QVERIFY(f.history().front().summary.find("przywrócono wersję " +
                                                 std::to_string(old.value)) == 0);
    }
}

void TestWriteDecision::interruptedWriteIsNoChangeOnSite() {
    // After a write cut short at block 5 the device holds its first five
    // blocks over what it held: writing again asks nothing.
    const Bytes before = image("48600000001");
    Fixture f(before);
    const Bytes sent = image("48600000002", "48500000043", "Brama wejscie 2");
    f.journal.writeBegun();
    f.journal.writeInterrupted(sent, kPort, 5);
    Bytes device = before;
    std::copy(sent.begin(), sent.begin() + 5 * 512, device.begin());
    checked::WriteRequest request;
    request.settings = image("48600000003");
    request.sending = sent;
    Decision d(&f.journal, request);
    QVERIFY(d.begin().ok());
    QCOMPARE(d.question(device).kind, Kind::None);
    QCOMPARE(d.answer(Answer::Write, kPort).toWrite, sent);
    // Without the register nothing is asked and nothing recorded.
    Decision alone(nullptr, request);
    QVERIFY(alone.begin().ok());
    QCOMPARE(alone.question(image("48600000007")).kind, Kind::None);
    QVERIFY(alone.verdict(sent, sent).same);
}

QTEST_GUILESS_MAIN(TestWriteDecision)
#include "test_write_decision.moc"
