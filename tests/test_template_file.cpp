// Template files on disk, on every system: only regular files are read and
// nothing makes a load wait; the reasons come in the program's words; names
// with Polish letters and names past 260 characters work both ways; a save
// replaces only a file, completely or not at all, also when another program
// holds it open; and Windows' device names are known (and on Windows never
// opened). A row that only one system has says so in its name.
#include "files.h"
#include "system_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <iterator>
#include <optional>

using namespace trellikon;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A name as the file layer takes it: UTF-8 with the system's separators.
std::string utf8(const QString& s) {
    return QDir::toNativeSeparators(s).toUtf8().toStdString();
}

std::filesystem::path fsPath(const std::string& utf8Name) {
    return std::filesystem::path(std::u8string(utf8Name.begin(), utf8Name.end()));
}

const bool kWindows = test::systemIsWindows();

// Rows for one system only.
bool posixOnly() {
    return !kWindows;
}
bool windowsOnly() {
    return kWindows;
}

} // namespace

class TestTemplateFile : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void onlyRegularFilesLoad_data();
    void onlyRegularFilesLoad();
    void saveReplacesOnlyFiles_data();
    void saveReplacesOnlyFiles();
    void saveReplacesWholeFileUnderAnyName();
    void failedSaveLeavesNothing();
    void saveOverAHeldFile_data();
    void saveOverAHeldFile();
    void deviceNamesAreNeverOpened_data();
    void deviceNamesAreNeverOpened();
    void longNamesWork();
    void malformedNames();
    void windowsDeviceNames_data();
    void windowsDeviceNames();
};

void TestTemplateFile::onlyRegularFilesLoad_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code"); // Failure::Code
    QTest::addColumn<QString>("error");
    using C = Failure::Code;
    // The reasons are shown to the user, in the program's language.
    const QString notRegular = QString::fromUtf8("to nie jest zwykły plik");
    const QString deviceName = QString::fromUtf8(load_reason::kDeviceName);
    QTest::newRow("a 10-byte file loads, padded with 0x1A") << "short" << int(C::None) << "";
    QTest::newRow("a Polish name loads") << "polish" << int(C::None) << "";
    QTest::newRow("a directory is refused")
        << "directory" << int(C::FileIsDirectory) << "to jest katalog, nie plik";
    QTest::newRow("a missing file is refused")
        << "missing" << int(C::FileMissing) << "plik nie istnieje";
    QTest::newRow("a missing folder is missing")
        << "in missing folder" << int(C::FileMissing) << "plik nie istnieje";
    QTest::newRow("the null device is refused, never opened")
        << "device" << int(kWindows ? C::FileDeviceName : C::FileNotRegular)
        << (kWindows ? deviceName : notRegular);
    if (windowsOnly())
        QTest::newRow("Windows: a port's name is a device in any folder, never opened")
            << "port name" << int(C::FileDeviceName) << deviceName;
    if (posixOnly()) {
        QTest::newRow("POSIX: a link to a regular file loads")
            << "link to file" << int(C::None) << "";
        QTest::newRow("POSIX: a named pipe is refused at once")
            << "fifo" << int(C::FileNotRegular) << notRegular;
        QTest::newRow("POSIX: a link to a named pipe is refused at once")
            << "link to fifo" << int(C::FileNotRegular) << notRegular;
        QTest::newRow("POSIX: a socket is refused")
            << "socket" << int(C::FileNotRegular) << notRegular;
        QTest::newRow("POSIX: a path through a file is missing")
            << "under a file" << int(C::FileMissing) << "plik nie istnieje";
        QTest::newRow("POSIX: an unreadable file is refused")
            << "unreadable" << int(C::FileNoPermission)
            << QString::fromUtf8("brak uprawnień do odczytu pliku");
    }
}

void TestTemplateFile::onlyRegularFilesLoad() {
    // A regular file is read; anything else fails with the load's error, without blocking.
    QFETCH(QString, kind);
    QFETCH(int, code);
    QFETCH(QString, error);
    const bool ok = code == int(Failure::Code::None);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("t.sbn"));
    const QString fifo = dir.filePath(QStringLiteral("pipe.sbn"));
    writeFile(file, "0123456789");
    QString path = dir.filePath(QStringLiteral("x.sbn"));
    std::optional<test::BoundSocket> socket;
    if (kind == "short") {
        path = file;
    } else if (kind == "polish") {
        path = dir.filePath(QString::fromUtf8("szablon Łódź-żółć.sbn"));
        writeFile(path, "0123456789");
    } else if (kind == "directory") {
        path = dir.path();
    } else if (kind == "device") {
        path = QString::fromStdString(test::nullDevice());
    } else if (kind == "port name") {
        path = dir.filePath(QStringLiteral("com1.sbn"));
    } else if (kind == "in missing folder") {
        path = dir.filePath(QStringLiteral("nie ma/x.sbn"));
    } else if (kind == "link to file") {
        QVERIFY(test::makeSymlink(utf8(file), utf8(path)));
    } else if (kind == "fifo") {
        QVERIFY(test::makeNamedPipe(utf8(fifo)));
        path = fifo;
    } else if (kind == "link to fifo") {
        QVERIFY(test::makeNamedPipe(utf8(fifo)));
        QVERIFY(test::makeSymlink(utf8(fifo), utf8(path)));
    } else if (kind == "under a file") {
        path = file + QStringLiteral("/x.sbn");
    } else if (kind == "unreadable") {
        if (!test::makeUnreadable(utf8(file)))
            QSKIP("this account reads every file");
        path = file;
    } else if (kind == "socket") {
        socket.emplace(utf8(path));
        QVERIFY(socket->ok());
    }

    const std::string name = utf8(path);
    auto load = std::async(std::launch::async, [name] { return loadTemplate(name); });
    if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Give the stuck open its writer so that the test can end, then fail.
        test::unblockPipe(utf8(fifo));
        load.wait();
        QFAIL("the load waited on a named pipe");
    }
    const TemplateLoad r = load.get();
    QCOMPARE(QString::fromStdString(r.failure.message), error);
    QCOMPARE(int(r.failure.code), code);
    QCOMPARE(r.ok(), ok);
    if (ok) {
        QCOMPARE(r.fileSize, std::uintmax_t(10));
        QCOMPARE(r.bytes[9], std::uint8_t('9'));
        QCOMPARE(r.bytes[10], std::uint8_t(0x1A));
        QCOMPARE(r.bytes[4095], std::uint8_t(0x1A));
    }
}

void TestTemplateFile::saveReplacesOnlyFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code"); // Failure::Code
    QTest::addColumn<QString>("error");
    using C = Failure::Code;
    const QString notRegular = QString::fromUtf8("to nie jest zwykły plik");
    QTest::newRow("a new name gets the bytes") << "new" << int(C::None) << "";
    QTest::newRow("an existing file is replaced") << "file" << int(C::None) << "";
    QTest::newRow("a folder is refused")
        << "directory" << int(C::FileIsDirectory) << "to jest katalog, nie plik";
    if (posixOnly()) {
        QTest::newRow("POSIX: through a link the file behind it is replaced, the link stays")
            << "link to file" << int(C::None) << "";
        QTest::newRow("POSIX: a named pipe is refused, not replaced by a file")
            << "fifo" << int(C::FileNotRegular) << notRegular;
        QTest::newRow("POSIX: a link to a named pipe is refused")
            << "link to fifo" << int(C::FileNotRegular) << notRegular;
    }
}

void TestTemplateFile::saveReplacesOnlyFiles() {
    // A save goes only into a regular file or a new name; whatever else holds
    // the name is left as it was, and no temporary file stays behind.
    QFETCH(QString, kind);
    QFETCH(int, code);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string file = utf8(dir.filePath(QStringLiteral("t.sbn")));
    const std::string fifo = utf8(dir.filePath(QStringLiteral("pipe.sbn")));
    writeFile(dir.filePath(QStringLiteral("t.sbn")), "old contents, longer than the new");
    std::string path = utf8(dir.filePath(QStringLiteral("x.sbn")));
    std::string written = path;
    if (kind == "file") {
        path = written = file;
    } else if (kind == "link to file") {
        QVERIFY(test::makeSymlink(file, path));
        written = file;
    } else if (kind == "directory") {
        path = utf8(dir.filePath(QStringLiteral("sub")));
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("sub"))));
    } else if (kind == "fifo") {
        QVERIFY(test::makeNamedPipe(fifo));
        path = fifo;
    } else if (kind == "link to fifo") {
        QVERIFY(test::makeNamedPipe(fifo));
        QVERIFY(test::makeSymlink(fifo, path));
    }
    const std::uint8_t bytes[] = {0x00, 0x1A, 0xFF};
    auto save = std::async(std::launch::async, [path, &bytes] {
        return saveFileAtomically(path, bytes, sizeof bytes);
    });
    QVERIFY2(save.wait_for(std::chrono::seconds(10)) == std::future_status::ready,
             "the save waited");
    const Failure failure = save.get();
    QCOMPARE(QString::fromStdString(failure.message), error);
    QCOMPARE(int(failure.code), code);
    std::error_code ec;
    if (error.isEmpty()) {
        QCOMPARE(readFile(QString::fromStdString(written)), QByteArray("\x00\x1A\xFF", 3));
        QCOMPARE(std::filesystem::is_symlink(fsPath(path), ec), kind == "link to file");
    } else {
        QVERIFY(std::filesystem::exists(fsPath(path), ec));
        QVERIFY(!std::filesystem::is_regular_file(fsPath(path), ec));
    }
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::System);
    for (const QString& name : left)
        QVERIFY2(!name.contains(QStringLiteral(".sbn.")), qPrintable(name));
}

void TestTemplateFile::saveReplacesWholeFileUnderAnyName() {
    // An existing, longer file is replaced by exactly the new bytes, and no
    // temporary file stays behind.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QString::fromUtf8("urządzenie ęą.sbn"));
    writeFile(path, QByteArray(8000, 'x'));
    std::vector<std::uint8_t> bytes(4096);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    QCOMPARE(
        QString::fromStdString(saveFileAtomically(utf8(path), bytes.data(), bytes.size()).message),
        QString());
    const QByteArray back = readFile(path);
    QCOMPARE(back, QByteArray(reinterpret_cast<const char*>(bytes.data()), 4096));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

void TestTemplateFile::failedSaveLeavesNothing() {
    // A save into a folder that is not there fails and makes nothing.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("nie ma/x.sbn"));
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    QVERIFY(saveFileAtomically(utf8(path), bytes, sizeof bytes));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size(), 0);
}

void TestTemplateFile::saveOverAHeldFile_data() {
    QTest::addColumn<int>("sharing"); // test::HeldFile::Sharing
    QTest::newRow("held without sharing (a spreadsheet)") << int(test::HeldFile::None);
    QTest::newRow("held for reading, shared for reading") << int(test::HeldFile::Read);
    QTest::newRow("held, shared for reading and writing") << int(test::HeldFile::ReadWrite);
}

void TestTemplateFile::saveOverAHeldFile() {
    // Another program's handle on the target. Windows refuses the final
    // replace: the save tries again for a second, then says what to do, the
    // old file is whole and no temporary file stays; once the other program
    // lets go, the same save goes through. Elsewhere an open file is no
    // obstacle to its replacement.
    QFETCH(int, sharing);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QString::fromUtf8("abonenci źle.csv"));
    const QByteArray old(300, 'o');
    writeFile(path, old);
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    std::string error;
    std::chrono::steady_clock::duration took{};
    {
        const test::HeldFile held(utf8(path), test::HeldFile::Sharing(sharing));
        QVERIFY(held.held());
        const auto start = std::chrono::steady_clock::now();
        error = saveFileAtomically(utf8(path), bytes, sizeof bytes).message;
        took = std::chrono::steady_clock::now() - start;
    }
    if (!kWindows) {
        QCOMPARE(QString::fromStdString(error), QString());
        QCOMPARE(readFile(path), QByteArray("\x01\x02\x03\x04"));
        return;
    }
    QCOMPARE(
        QString::fromStdString(error),
        QString::fromUtf8("Plik jest otwarty w innym programie – zamknij go i zapisz ponownie"));
    QVERIFY(took >= std::chrono::milliseconds(900));
    QCOMPARE(readFile(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
    QCOMPARE(QString::fromStdString(saveFileAtomically(utf8(path), bytes, sizeof bytes).message),
             QString());
    QCOMPARE(readFile(path), QByteArray("\x01\x02\x03\x04"));
}

void TestTemplateFile::deviceNamesAreNeverOpened_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("COM3.sbn") << "COM3.sbn";
    QTest::newRow("nul.sbn") << "nul.sbn";
    QTest::newRow("LPT1.csv") << "LPT1.csv";
    QTest::newRow("com1 .sbn, a blank before the dot") << "com1 .sbn";
    QTest::newRow("COM with a superscript one") << QString::fromUtf8("COM¹.sbn");
    QTest::newRow("bare AUX") << "AUX";
}

void TestTemplateFile::deviceNamesAreNeverOpened() {
    // On Windows a save onto a device name in a folder is refused before
    // anything is opened: no bytes go to the port, and no file or temporary
    // file is made. Elsewhere the same name is an ordinary file's.
    QFETCH(QString, name);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = utf8(dir.filePath(name));
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    const QStringList entries =
        kWindows ? QStringList() : QStringList{name}; // what the folder holds afterwards
    const QString refused = kWindows ? QString::fromUtf8(load_reason::kDeviceName) : QString();
    QCOMPARE(QString::fromStdString(saveFileAtomically(path, bytes, sizeof bytes).message),
             refused);
    QCOMPARE(QString::fromStdString(loadTemplate(path).failure.message), refused);
    QCOMPARE(pathKind(path), kWindows ? PathKind::Other : PathKind::RegularFile);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             entries);
}

void TestTemplateFile::longNamesWork() {
    // Folders and a name that are together well past the old 260-character
    // limit: save, load, replace and the folder test all work.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString folder = dir.path();
    for (int i = 0; i < 5; ++i) {
        folder += QStringLiteral("/") + QString(60, QChar(u'a' + i));
        QVERIFY(test::makeFolder(utf8(folder)));
    }
    QCOMPARE(pathKind(utf8(folder)), PathKind::Directory);
    const std::string path = utf8(folder + QString::fromUtf8("/szablon żółć.sbn"));
    QVERIFY(path.size() > 300);
    std::vector<std::uint8_t> bytes(4096);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13);
    for (int round = 0; round < 2; ++round) {
        QCOMPARE(
            QString::fromStdString(saveFileAtomically(path, bytes.data(), bytes.size()).message),
            QString());
        const TemplateLoad back = loadTemplate(path);
        QCOMPARE(QString::fromStdString(back.failure.message), QString());
        QVERIFY(std::equal(bytes.begin(), bytes.end(), back.bytes.begin()));
        QCOMPARE(pathKind(path), PathKind::RegularFile);
        bytes[0] ^= 0xFF;
    }
}

void TestTemplateFile::malformedNames() {
    // On Windows a name that is not valid UTF-8 names no file: it is refused
    // rather than mended into another name. On Linux a name is the system's
    // bytes, and the same bytes name a file.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = utf8(dir.filePath(QStringLiteral("x"))) + "\xC5.sbn";
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    const QString refused = kWindows ? QString::fromUtf8(load_reason::kBadName) : QString();
    QCOMPARE(QString::fromStdString(saveFileAtomically(path, bytes, sizeof bytes).message),
             refused);
    QCOMPARE(QString::fromStdString(loadTemplate(path).failure.message), refused);
    // Counted by the system: Qt leaves out a name it cannot decode.
    std::error_code ec;
    const auto entries =
        std::distance(std::filesystem::directory_iterator(fsPath(utf8(dir.path())), ec),
                      std::filesystem::directory_iterator());
    QCOMPARE(int(entries), kWindows ? 0 : 1);
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
