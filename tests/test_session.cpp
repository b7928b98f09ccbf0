// The session's write steps against a simulated device: the register's
// places in them, what the caller may answer at the decision, and what the
// session reports.
#include "memory_port.h"
#include "random_image.h"
#include "session.h"
#include "simulated_device.h"

#include <QStringList>
#include <QTest>

#include <algorithm>
#include <functional>
#include <optional>

using namespace trellikon;
using Bytes = SettingsImage::Bytes;

namespace {

QString nameOf(const SessionEvent& e) {
    static const char* const names[] = {
        "Connected",      "ConnectFailed",  "PortOpenFailed", "ReadComplete",    "ReadCopyComplete",
        "ReadFailed",     "ReadRefused",    "WriteRefused",   "BackupStarted",   "BackupFailed",
        "DecisionNeeded", "WriteCancelled", "WriteComplete",  "WriteFailed",     "VerifyStarted",
        "VerifyComplete", "VerifyFailed",   "ConnectionLost", "WriteInterrupted"};
    return QString::fromLatin1(names[e.kind]);
}

class Recorder final : public SilentObserver {
  public:
    QStringList events;
    SessionEvent last;
    std::function<void(const SessionEvent&)> on;

    void sessionEvent(const SessionEvent& e) override {
        events << nameOf(e);
        last = e;
        if (on)
            on(e);
    }
};

// A register in memory that says what it was asked, and how many blocks the
// device had been sent when the backup was committed.
class Store final : public SessionStore {
  public:
    QStringList calls;
    std::string refuse, failBackup;
    std::optional<Bytes> backup;
    int blocksAtBackup = -1;
    std::function<int()> blocksWritten;

    void connected() override {
        stored_.reset();
        calls << "connected";
    }
    void readComplete(const Bytes& bytes, const std::string&) override {
        stored_ = bytes;
        calls << "read";
    }
    const Bytes* storedContent() const override { return stored_ ? &*stored_ : nullptr; }
    std::string readyForBackup() override { return refuse; }
    std::string storeBackup(const Bytes& bytes, const std::string&) override {
        calls << "backup";
        blocksAtBackup = blocksWritten();
        if (!failBackup.empty())
            return failBackup;
        backup = bytes;
        stored_ = bytes;
        return {};
    }
    void writeBegun() override {
        stored_.reset();
        calls << "begun";
    }
    void writeComplete(const Bytes&, const std::string&) override { calls << "write"; }
    void writeInterrupted(const Bytes& bytes, const std::string&, int blocks) override {
        calls << QString("interrupted after %1").arg(blocks);
        interrupted = bytes;
    }
    std::int64_t backupVersion() const override { return backup ? 17 : 0; }
    std::optional<Bytes> interrupted;

  private:
    std::optional<Bytes> stored_;
};

struct Rig {
    SimulatedDevice device;
    MemoryPort port{&device};
    Recorder out;
    Session session{port, out};
    ManualTickClock clock;
    TickDriver& ticks = session.tickDriver(clock);
    int blocksWritten = 0;

    explicit Rig(const Bytes& memory) : device(memory) {
        device.onBlockWritten = [this](int) { ++blocksWritten; };
        device.powerOn();
    }
    // The ticks until one of `ends` has been reported since `from`.
    bool runUntil(const QStringList& ends, qsizetype from = 0) {
        return ticks
            .runUntil(
                [&] {
                    return std::any_of(out.events.begin() + from, out.events.end(),
                                       [&](const QString& e) { return ends.contains(e); });
                },
                60'000)
            .done;
    }
};

} // namespace

class TestSession : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void writeSteps_data();
    void writeSteps();
    void readDecodesAndCopyReadDoesNot();
    void writeStartsOnlyOnceTheTickIsOver();
};

void TestSession::writeSteps_data() {
    QTest::addColumn<QString>("store");  // none, sound, refuses, keeps nothing
    QTest::addColumn<bool>("readFirst"); // the program read the device in this connection
    QTest::addColumn<QString>("answer"); // proceed, other bytes, cancel
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QStringList>("events"); // from the write command on
    QTest::addColumn<QStringList>("calls");  // the store's, from the write command on
    QTest::addColumn<QString>("holds");      // present, wanted, other

    const QStringList written{"DecisionNeeded", "WriteComplete"};
    QTest::newRow("no register: the decision at once, then the frames")
        << "none" << false << "proceed" << false << written << QStringList{} << "wanted";
    QTest::newRow("no register: this connection's read is the backup shown")
        << "none" << true << "proceed" << false << written << QStringList{} << "wanted";
    QTest::newRow("nothing read: the backup read, committed before the first frame")
        << "sound" << false << "proceed" << false
        << QStringList{"BackupStarted", "ReadCopyComplete", "DecisionNeeded", "WriteComplete"}
        << QStringList{"backup", "begun", "write"} << "wanted";
    QTest::newRow("read in this connection and stored: no second read")
        << "sound" << true << "proceed" << false << written << QStringList{"begun", "write"}
        << "wanted";
    QTest::newRow("register refuses: nothing read, nothing written")
        << "refuses" << false << "proceed" << false << QStringList{"BackupFailed"} << QStringList{}
        << "present";
    QTest::newRow("backup not kept: nothing written")
        << "keeps nothing" << false << "proceed" << false
        << QStringList{"BackupStarted", "ReadCopyComplete", "DecisionNeeded", "BackupFailed"}
        << QStringList{"backup"} << "present";
    QTest::newRow("cancel after the backup read: nothing committed, the next write asks again")
        << "sound" << false << "cancel" << false
        << QStringList{"BackupStarted", "ReadCopyComplete", "DecisionNeeded", "WriteCancelled"}
        << QStringList{} << "present";
    QTest::newRow("cancel at the decision: nothing written")
        << "sound" << true << "cancel" << false << QStringList{"DecisionNeeded", "WriteCancelled"}
        << QStringList{} << "present";
    QTest::newRow("proceed with other bytes: those are written")
        << "sound" << true << "other bytes" << false << written << QStringList{"begun", "write"}
        << "other";
    QTest::newRow("verify: the read-back after the last acknowledgement")
        << "sound" << true << "proceed" << true
        << QStringList{"DecisionNeeded", "WriteComplete", "VerifyStarted", "VerifyComplete"}
        << QStringList{"begun", "write"} << "wanted";
    QTest::newRow("cable pulled after block 5: told at once, recorded as interrupted")
        << "sound" << false << "hang up after 5" << false
        << QStringList{"BackupStarted", "ReadCopyComplete", "DecisionNeeded", "WriteInterrupted"}
        << QStringList{"backup", "begun", "interrupted after 5"} << "5 wanted";
}

void TestSession::writeSteps() {
    // A write backs up first when a register is kept, waits for the caller's
    // word, and writes nothing before the backup is committed.
    QFETCH(QString, store);
    QFETCH(bool, readFirst);
    QFETCH(QString, answer);
    QFETCH(bool, verify);
    QFETCH(QStringList, events);
    QFETCH(QStringList, calls);
    QFETCH(QString, holds);
    const Bytes present = randomImage(21);
    const Bytes wanted = randomImage(22);
    const Bytes other = randomImage(23);
    Rig rig(present);
    Store register_;
    register_.blocksWritten = [&] { return rig.blocksWritten; };
    if (store != "none")
        rig.session.useStore(&register_);
    if (store == "refuses")
        register_.refuse = "rejestr jest uszkodzony";
    if (store == "keeps nothing")
        register_.failBackup = "dysk pełny";
    const bool hangUp = answer.startsWith("hang up");
    if (hangUp) {
        SimulatedFaults faults;
        faults.hangUpAfterBlock = answer.section(' ', -1).toInt();
        rig.device.setFaults(faults);
    }

    QVERIFY(rig.session.connect());
    QVERIFY(rig.runUntil({"Connected"}));
    if (readFirst) {
        rig.session.read();
        QVERIFY(rig.runUntil({"ReadComplete"}));
    }
    const auto from = rig.out.events.size();
    register_.calls.clear();
    rig.out.on = [&](const SessionEvent& e) {
        if (e != SessionEvent::DecisionNeeded)
            return;
        // The device's content before the write is there to look at.
        QVERIFY(rig.session.backup() ==
                (store == "none" && !readFirst ? std::nullopt : std::optional<Bytes>(present)));
        QCOMPARE(rig.blocksWritten, 0);
    };
    const Bytes program = rig.session.settings().image.bytes();
    WriteSteps steps;
    steps.verify = verify;
    rig.session.write(wanted, steps);
    rig.runUntil({"DecisionNeeded", "BackupFailed"}, from);
    if (rig.session.step() == Session::Step::Deciding) {
        if (answer == "cancel")
            rig.session.cancel();
        else if (answer == "other bytes")
            rig.session.proceed(other);
        else
            rig.session.proceed();
    }
    const std::int64_t writeBegan = rig.clock.nowMs();
    rig.runUntil({"WriteCancelled", "BackupFailed", "WriteInterrupted",
                  verify ? "VerifyComplete" : "WriteComplete"},
                 from);

    QCOMPARE(rig.out.events.mid(from), events);
    QCOMPARE(register_.calls, calls);
    QCOMPARE(rig.session.step(), Session::Step::Idle);
    // What was sent went from the session's own buffer: the program keeps its image.
    QVERIFY(rig.session.settings().image.bytes() == program);
    // The end of the write carries what went wrong, as the windows word it.
    const std::string why = rig.out.last.failure.message;
    if (events.last() == "BackupFailed")
        QCOMPARE(why, register_.refuse + register_.failBackup);
    else if (hangUp)
        QCOMPARE(why, std::string(texts::kWriteFailed) + "\n" + texts::kConnectionCut + "\n" +
                          interruptedWriteText(5, 17));
    else
        QVERIFY(rig.out.last.failure.ok());
    if (calls.contains("backup"))
        QCOMPARE(register_.blocksAtBackup, 0);
    Bytes expected = holds == "present" ? present : holds == "other" ? other : wanted;
    if (hangUp) {
        // The first five blocks are new, the rest as before; the register has
        // what was sent, and the session says how far it got. A write of five
        // blocks takes five ticks; the loss is told within two seconds of it.
        std::copy(present.begin() + 5 * 512, present.end(), expected.begin() + 5 * 512);
        QCOMPARE(rig.session.blocksAcknowledged(), 5);
        QCOMPARE(rig.session.backupVersion(), std::int64_t{17});
        QVERIFY(register_.interrupted == wanted);
        QVERIFY2(rig.clock.nowMs() - writeBegan <= 5 * 1000 + 2000,
                 qPrintable(QString::number(rig.clock.nowMs() - writeBegan)));
    }
    QVERIFY(rig.device.memory() == expected);
    if (holds == "present")
        QCOMPARE(rig.blocksWritten, 0);
    if (verify)
        QVERIFY(rig.session.readBack() == expected);
}

void TestSession::readDecodesAndCopyReadDoesNot() {
    // A read into the program is decoded and recorded; a read into a copy is neither.
    SettingsImage image;
    image.setBytes(randomImage(31));
    image.writeText(0, "NAGLOWEK");
    Rig rig(image.bytes());
    Store register_;
    rig.session.useStore(&register_);
    QVERIFY(rig.session.connect());
    QVERIFY(rig.runUntil({"Connected"}));
    rig.session.settings().decoded.texts[0] = "stare";
    rig.session.readCopy();
    QVERIFY(rig.runUntil({"ReadCopyComplete"}));
    QVERIFY(rig.session.copy() && *rig.session.copy() == image.bytes());
    QCOMPARE(rig.session.settings().decoded.texts[0], std::string("stare"));
    QCOMPARE(register_.calls, QStringList{"connected"});
    const auto from = rig.out.events.size();
    rig.session.read();
    QVERIFY(rig.runUntil({"ReadComplete"}, from));
    QCOMPARE(rig.session.settings().decoded.message_header(), std::string("NAGLOWEK"));
    QCOMPARE(register_.calls, (QStringList{"connected", "read"}));
}

void TestSession::writeStartsOnlyOnceTheTickIsOver() {
    // After the backup's read, the write waits for the caller's runDeferred: a
    // window must not be shown from inside the tick that stored the last block.
    Rig rig(randomImage(41));
    Store register_;
    register_.blocksWritten = [&] { return rig.blocksWritten; };
    rig.session.useStore(&register_);
    int wakes = 0;
    rig.session.wake = [&] { ++wakes; };
    QVERIFY(rig.session.connect());
    QVERIFY(rig.runUntil({"Connected"}));
    rig.session.write(randomImage(42));
    QVERIFY(rig.ticks.runUntil([&] { return rig.session.stepWaiting(); }, 60'000).done);
    QCOMPARE(wakes, 1);
    QCOMPARE(rig.session.step(), Session::Step::BackingUp);
    QVERIFY(!register_.calls.contains("backup"));
    rig.session.runDeferred();
    QVERIFY(!rig.session.stepWaiting());
    QCOMPARE(rig.session.step(), Session::Step::Deciding);
    rig.session.proceed();
    QVERIFY(rig.runUntil({"WriteComplete"}));
    QVERIFY(rig.device.memory() == randomImage(42));
}

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
