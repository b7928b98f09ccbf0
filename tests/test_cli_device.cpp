// trellikon-cli against the simulated device on a pseudo-terminal: the real
// termios layer and real 1000/300 ms ticks, end to end.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray pattern(int seed) {
    QByteArray b(4096, '\0');
    for (int i = 0; i < b.size(); ++i)
        b[i] = static_cast<char>((i * 7 + seed * (i / 512 + 1)) & 0xFF);
    return b;
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestCliDevice : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void transfers_data();
    void transfers();
    void cablePulledDuringAWrite();

  private:
    QTemporaryDir dir_;
    QProcess sim_;
    QString pty_;
    QString memory_;
};

void TestCliDevice::initTestCase() {
    QVERIFY(dir_.isValid());
    memory_ = dir_.filePath("device.sbn");
    QVERIFY(writeFile(memory_, pattern(1)));
    sim_.start(TRELLIKON_SIM_PATH, {"--baud", "0", "--memory", memory_});
    // The limits here only guard against a simulator that never starts.
    QVERIFY(sim_.waitForStarted(30000));
    while (!sim_.canReadLine() && sim_.waitForReadyRead(30000)) {
    }
    pty_ = QString::fromUtf8(sim_.readLine()).trimmed();
    QVERIFY2(pty_.startsWith('/'), qPrintable(pty_));
}

void TestCliDevice::cleanupTestCase() {
    sim_.terminate();
    sim_.waitForFinished(30000);
}

void TestCliDevice::transfers_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("file");   // written to @file before the run
    QTest::addColumn<QString>("mustMatch"); // afterwards this holds the device memory
    // For a write of some parts: per block, from the file (f) or as the device held it (d).
    QTest::addColumn<QString>("blocks");
    QTest::newRow("read saves the device memory")
        << QStringList{"read", "@pty", "@out"} << QByteArray() << "@out"
        << "ffffffff";
    QTest::newRow("write --verify leaves the file in the device")
        << QStringList{"write", "--verify", "@pty", "@file"} << pattern(2) << "@memory"
        << "ffffffff";
    QTest::newRow("read --fast saves the device memory")
        << QStringList{"read", "--fast", "@pty", "@out"} << QByteArray() << "@out"
        << "ffffffff";
    QTest::newRow("write --fast --verify leaves the file in the device")
        << QStringList{"write", "--fast", "--verify", "@pty", "@file"} << pattern(3) << "@memory"
        << "ffffffff";
    QTest::newRow("write --only subscribers: blocks 0-3 stay as the device held them")
        << QStringList{"write", "--fast", "--only", "subscribers", "@pty", "@file"} << pattern(4)
        << "@memory"
        << "ddddffff";
}

void TestCliDevice::transfers() {
    // A read returns the device's memory byte for byte; a verified write puts the file there.
    QFETCH(QStringList, args);
    QFETCH(QByteArray, file);
    QFETCH(QString, mustMatch);
    QFETCH(QString, blocks);
    const QMap<QString, QString> places = {{"@pty", pty_},
                                           {"@out", dir_.filePath("out.sbn")},
                                           {"@file", dir_.filePath("in.sbn")},
                                           {"@memory", memory_}};
    for (QString& a : args)
        a = places.value(a, a);
    if (!file.isEmpty())
        QVERIFY(writeFile(places["@file"], file));
    const QByteArray before = readFile(memory_);

    QProcess cli;
    // The transfers record in a register of the test's own, never the user's.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TRELLIKON_REGISTER", dir_.filePath("rejestr.sqlite"));
    cli.setProcessEnvironment(env);
    cli.start(TRELLIKON_CLI_PATH, args);
    QVERIFY(cli.waitForFinished(60000));
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(cli.exitCode() == 0, qPrintable(err));
    QVERIFY(err.contains("blok 8 z 8"));
    QByteArray expected = file.isEmpty() ? before : file;
    for (int b = 0; b < 8; ++b)
        if (blocks.at(b) == 'd')
            expected.replace(b * 512, 512, before.mid(b * 512, 512));
    QCOMPARE(readFile(places[mustMatch]), expected);
}

void TestCliDevice::cablePulledDuringAWrite() {
    // The simulator hangs up after the fifth block: the write ends with exit
    // 3, says how far it got and how to restore the backup, the register keeps
    // it as interrupted, and the device holds five new blocks.
    QTemporaryDir dir;
    const QString memory = dir.filePath("device.sbn");
    QVERIFY(writeFile(memory, pattern(5)));
    const QString file = dir.filePath("in.sbn");
    QVERIFY(writeFile(file, pattern(6)));
    QProcess sim;
    sim.start(TRELLIKON_SIM_PATH,
              {"--baud", "0", "--memory", memory, "--hang-up-after-block", "5"});
    QVERIFY(sim.waitForStarted(30000));
    while (!sim.canReadLine() && sim.waitForReadyRead(30000)) {
    }
    const QString pty = QString::fromUtf8(sim.readLine()).trimmed();
    QVERIFY2(pty.startsWith('/'), qPrintable(pty));

    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString registerPath = dir.filePath("rejestr.sqlite");
    env.insert("TRELLIKON_REGISTER", registerPath);
    cli.setProcessEnvironment(env);
    cli.start(TRELLIKON_CLI_PATH, {"write", "--fast", "--installation", "Kowalska", pty, file});
    QVERIFY(cli.waitForFinished(60000));
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(cli.exitCode() == 3, qPrintable(err));
    QVERIFY2(err.contains("Zapis przerwany po bloku 5 z 8: urządzenie zawiera częściowo nowe "
                          "ustawienia. Podłącz kabel i zapisz ponownie albo przywróć kopię "
                          "sprzed zapisu (wersja 1)."),
             qPrintable(err));
    QVERIFY2(err.contains("(zapis przerwany, instalacja „Kowalska”)"), qPrintable(err));
    QVERIFY2(err.contains("trellikon-cli restore 1 " + pty), qPrintable(err));
    QVERIFY(sim.waitForFinished(30000)); // its end of the line is gone
    QByteArray expected = pattern(6).left(5 * 512) + pattern(5).mid(5 * 512);
    QCOMPARE(readFile(memory), expected);
}

QTEST_GUILESS_MAIN(TestCliDevice)
#include "test_cli_device.moc"
