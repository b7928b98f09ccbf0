// Template files on disk: only regular files are read, nothing makes a load
// wait, a save replaces only a file, and Windows' device names are known.
#include "files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <fstream>
#include <future>
#include <iterator>

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
    void saveReplacesOnlyFiles_data();
    void saveReplacesOnlyFiles();
    void windowsDeviceNames_data();
    void windowsDeviceNames();
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

void TestTemplateFile::saveReplacesOnlyFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");
    QTest::newRow("a new name gets the bytes") << "new"
                                               << "";
    QTest::newRow("an existing file is replaced") << "file"
                                                  << "";
    QTest::newRow("through a link the file behind it is replaced, the link stays") << "link to file"
                                                                                   << "";
    QTest::newRow("a folder is refused") << "directory"
                                         << "to jest katalog, nie plik";
    QTest::newRow("a named pipe is refused, not replaced by a file")
        << "fifo" << QString::fromUtf8("to nie jest zwykły plik");
    QTest::newRow("a link to a named pipe is refused")
        << "link to fifo" << QString::fromUtf8("to nie jest zwykły plik");
}

void TestTemplateFile::saveReplacesOnlyFiles() {
    // A save goes only into a regular file or a new name; whatever else holds
    // the name is left as it was, and no temporary file stays behind.
    QFETCH(QString, kind);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string file = dir.filePath("t.sbn").toStdString();
    const std::string fifo = dir.filePath("pipe.sbn").toStdString();
    std::ofstream(file, std::ios::binary) << "old contents, longer than the new";
    QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
    std::string path = dir.filePath("x.sbn").toStdString();
    std::string written = path;
    if (kind == "file")
        path = written = file;
    else if (kind == "link to file") {
        QCOMPARE(::symlink(file.c_str(), path.c_str()), 0);
        written = file;
    } else if (kind == "directory") {
        path = dir.filePath("sub").toStdString();
        QVERIFY(QDir().mkdir(QString::fromStdString(path)));
    } else if (kind == "fifo")
        path = fifo;
    else if (kind == "link to fifo")
        QCOMPARE(::symlink(fifo.c_str(), path.c_str()), 0);
    const std::uint8_t bytes[] = {0x00, 0x1A, 0xFF};
    auto save = std::async(std::launch::async, [path, &bytes] {
        return saveFileAtomically(path, bytes, sizeof bytes);
    });
    QVERIFY2(save.wait_for(std::chrono::seconds(10)) == std::future_status::ready,
             "the save waited");
    QCOMPARE(QString::fromStdString(save.get()), error);
    struct stat st {};
    if (error.isEmpty()) {
        std::ifstream in(written, std::ios::binary);
        const std::string back((std::istreambuf_iterator<char>(in)), {});
        QCOMPARE(back, std::string("\x00\x1A\xFF", 3));
        QCOMPARE(::lstat(path.c_str(), &st), 0);
        QCOMPARE(S_ISLNK(st.st_mode), kind == "link to file");
    } else {
        QCOMPARE(::stat(path.c_str(), &st), 0);
        QVERIFY(!S_ISREG(st.st_mode));
    }
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::System);
    for (const QString& name : left)
        QVERIFY2(!name.contains(QStringLiteral(".sbn.")), qPrintable(name));
}

void TestTemplateFile::windowsDeviceNames_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("windows10");
    QTest::addColumn<bool>("windows11");
    const auto row = [](const char* name, const char* path, bool w10, bool w11) {
        QTest::newRow(name) << QString::fromUtf8(path) << w10 << w11;
    };
    row("a port's name with an extension", "COM3.sbn", true, false);
    row("the same in a folder", "C:\\Szablony\\com3.sbn", true, false);
    row("forward slashes are separators too", "C:/Szablony/LPT1.csv", true, false);
    row("a bare port name", "COM3", true, true);
    row("a port name in a folder", "C:\\Szablony\\COM3", true, false);
    row("NUL is in every folder", "D:\\x\\nul", true, true);
    row("NUL with trailing dots and blanks", "D:\\x\\Nul. .", true, true);
    row("nul with an extension", "D:\\x\\nul.sbn", true, false);
    row("blanks before the extension", "com1 .sbn", true, false);
    row("two extensions", "aux.tar.gz", true, false);
    row("a colon ends the name", "COM4:", true, true);
    row("a drive's current folder", "C:COM2.sbn", true, false);
    row("superscript one", "COM\xC2\xB9.sbn", true, false);
    row("bare superscript three", "lpt\xC2\xB3", true, true);
    row("the console's own names", "CONOUT$", true, true);
    row("COM0 is a file", "COM0.sbn", false, false);
    row("COM10 is a file", "C:\\x\\COM10.sbn", false, false);
    row("superscript four is a file", "COM\xE2\x81\xB4.sbn", false, false);
    row("a longer word is a file", "CONSOLE.sbn", false, false);
    row("a name that ends in one is a file", "xcom3.sbn", false, false);
    row("a folder named COM3 is not the file", "C:\\COM3\\t.sbn", false, false);
    row("an ordinary template",
        "C:\\Szablony\\szablon \xC5\x81\xC3\xB3"
        "d\xC5\xBA.sbn",
        false, false);
    row("the device namespace", "\\\\.\\COM3", true, true);
    row("a port through \\?\\", "\\\\?\\COM12", true, true);
    row("GLOBALROOT", "\\\\?\\GLOBALROOT\\Device\\Serial0", true, true);
    row("a long file name through \\?\\", "\\\\?\\C:\\x\\t.sbn", false, false);
}

void TestTemplateFile::windowsDeviceNames() {
    // The names Windows opens as devices, by the rule of each version.
    QFETCH(QString, path);
    QFETCH(bool, windows10);
    QFETCH(bool, windows11);
    const std::string utf8 = path.toStdString();
    QCOMPARE(isWindowsDeviceName(utf8, DeviceNameRule::UpToWindows10), windows10);
    QCOMPARE(isWindowsDeviceName(utf8, DeviceNameRule::Windows11), windows11);
}

QTEST_APPLESS_MAIN(TestTemplateFile)
#include "test_template_file.moc"
