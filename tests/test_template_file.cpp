// Loading a template: only regular files are read, and nothing makes the load wait.
#include "template_file.h"

#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <fstream>
#include <future>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace trellikon;

class TestTemplateFile : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void onlyRegularFilesLoad_data();
    void onlyRegularFilesLoad();
};

void TestTemplateFile::onlyRegularFilesLoad_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("error");
    QTest::newRow("a 10-byte file loads, padded with 0x1A") << "short" << true << "";
    QTest::newRow("a link to a regular file loads") << "link to file" << true << "";
    // The reasons are shown to the user, in the program's language.
    const QString notRegular = QString::fromUtf8("to nie jest zwykły plik");
    QTest::newRow("a directory is refused") << "directory" << false << "to jest katalog, nie plik";
    QTest::newRow("a named pipe is refused at once") << "fifo" << false << notRegular;
    QTest::newRow("a link to a named pipe is refused at once")
        << "link to fifo" << false << notRegular;
    QTest::newRow("a device is refused") << "device" << false << notRegular;
    QTest::newRow("a socket is refused") << "socket" << false << notRegular;
    QTest::newRow("a missing file is refused") << "missing" << false << "plik nie istnieje";
    QTest::newRow("a path through a file is missing")
        << "under a file" << false << "plik nie istnieje";
    QTest::newRow("an unreadable file is refused")
        << "unreadable" << false << QString::fromUtf8("brak uprawnień do odczytu pliku");
}

void TestTemplateFile::onlyRegularFilesLoad() {
    // A regular file is read; anything else fails with the load's error, without blocking.
    QFETCH(QString, kind);
    QFETCH(bool, ok);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string file = dir.filePath("t.sbn").toStdString();
    const std::string fifo = dir.filePath("pipe.sbn").toStdString();
    std::string path = dir.filePath("x.sbn").toStdString();
    std::ofstream(file, std::ios::binary) << "0123456789";
    QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
    int sock = -1;
    if (kind == "short")
        path = file;
    else if (kind == "link to file")
        QCOMPARE(::symlink(file.c_str(), path.c_str()), 0);
    else if (kind == "directory")
        path = dir.path().toStdString();
    else if (kind == "fifo")
        path = fifo;
    else if (kind == "link to fifo")
        QCOMPARE(::symlink(fifo.c_str(), path.c_str()), 0);
    else if (kind == "device")
        path = "/dev/null";
    else if (kind == "under a file")
        path = file + "/x.sbn";
    else if (kind == "unreadable") {
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        QCOMPARE(::chmod(file.c_str(), 0), 0);
        path = file;
    } else if (kind == "socket") {
        sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        QVERIFY(path.size() < sizeof addr.sun_path);
        std::copy(path.begin(), path.end(), addr.sun_path);
        QCOMPARE(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }

    auto load = std::async(std::launch::async, [path] { return loadTemplate(path); });
    if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Give the stuck open its writer so that the test can end, then fail.
        const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        load.wait();
        ::close(w);
        QFAIL("the load waited on a named pipe");
    }
    const TemplateLoad r = load.get();
    if (sock >= 0)
        ::close(sock);
    QCOMPARE(r.ok, ok);
    QCOMPARE(QString::fromStdString(r.error), error);
    if (ok) {
        QCOMPARE(r.fileSize, std::uintmax_t(10));
        QCOMPARE(r.bytes[9], std::uint8_t('9'));
        QCOMPARE(r.bytes[10], std::uint8_t(0x1A));
        QCOMPARE(r.bytes[4095], std::uint8_t(0x1A));
    }
}

QTEST_APPLESS_MAIN(TestTemplateFile)
#include "test_template_file.moc"
