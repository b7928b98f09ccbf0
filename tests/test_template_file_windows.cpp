// Template files on Windows: only regular files load, reasons come in the
// program's words, names with Polish letters and names past 260 characters
// work both ways, a device name is never opened, and a save either replaces
// the file completely or leaves it as it was, also when another program holds
// it open.
#include "files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>

#include <windows.h>

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

std::string utf8(const QString& s) {
    return s.toUtf8().toStdString();
}

} // namespace

class TestTemplateFile : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void onlyRegularFilesLoad_data();
    void onlyRegularFilesLoad();
    void saveReplacesWholeFileUnderAnyName();
    void failedSaveLeavesNothing();
    void saveOverAHeldFile_data();
    void saveOverAHeldFile();
    void deviceNamesAreNeverOpened_data();
    void deviceNamesAreNeverOpened();
    void longNamesWork();
    void malformedNamesAreRefused();
};

void TestTemplateFile::onlyRegularFilesLoad_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("error");
    QTest::newRow("a 10-byte file loads, padded with 0x1A") << "short" << true << "";
    QTest::newRow("a Polish name loads") << "polish" << true << "";
    QTest::newRow("a directory is refused") << "directory" << false << load_reason::kDirectory;
    QTest::newRow("the null device is refused by its name, never opened")
        << "device" << false << load_reason::kDeviceName;
    QTest::newRow("a port's name is a device in any folder, never opened")
        << "port name" << false << load_reason::kDeviceName;
    QTest::newRow("a missing file is refused") << "missing" << false << load_reason::kMissing;
    QTest::newRow("a missing folder is missing")
        << "in missing folder" << false << load_reason::kMissing;
}

void TestTemplateFile::onlyRegularFilesLoad() {
    QFETCH(QString, kind);
    QFETCH(bool, ok);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("t.sbn"));
    const QString polish = dir.filePath(QString::fromUtf8("szablon Łódź-żółć.sbn"));
    writeFile(file, "0123456789");
    writeFile(polish, "0123456789");
    QString path = dir.filePath(QStringLiteral("x.sbn"));
    if (kind == "short")
        path = file;
    else if (kind == "polish")
        path = polish;
    else if (kind == "directory")
        path = dir.path();
    else if (kind == "device")
        path = QStringLiteral("\\\\.\\NUL");
    else if (kind == "port name")
        path = dir.filePath(QStringLiteral("com1.sbn"));
    else if (kind == "in missing folder")
        path = dir.filePath(QStringLiteral("nie ma/x.sbn"));
    const TemplateLoad r = loadTemplate(utf8(QDir::toNativeSeparators(path)));
    QCOMPARE(QString::fromStdString(r.error), error);
    QCOMPARE(r.ok, ok);
    if (ok) {
        QCOMPARE(r.fileSize, std::uintmax_t(10));
        QCOMPARE(r.bytes[9], std::uint8_t('9'));
        QCOMPARE(r.bytes[10], std::uint8_t(0x1A));
        QCOMPARE(r.bytes[4095], std::uint8_t(0x1A));
    }
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
    QCOMPARE(QString::fromStdString(saveFileAtomically(utf8(path), bytes.data(), bytes.size())),
             QString());
    const QByteArray back = readFile(path);
    QCOMPARE(back, QByteArray(reinterpret_cast<const char*>(bytes.data()), 4096));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

void TestTemplateFile::failedSaveLeavesNothing() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("nie ma/x.sbn"));
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    QVERIFY(!saveFileAtomically(utf8(path), bytes, sizeof bytes).empty());
    QVERIFY(!QFile::exists(path));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size(), 0);
}

void TestTemplateFile::saveOverAHeldFile_data() {
    QTest::addColumn<uint>("sharing");
    QTest::newRow("held without sharing (a spreadsheet)") << 0u;
    QTest::newRow("held for reading, shared for reading") << uint(FILE_SHARE_READ);
    QTest::newRow("held, shared for reading and writing")
        << uint(FILE_SHARE_READ | FILE_SHARE_WRITE);
}

// Another program's handle on the target refuses the final replace: the save
// tries again for a second, then says what to do, and the old file is whole
// and no temporary file stays.
void TestTemplateFile::saveOverAHeldFile() {
    QFETCH(uint, sharing);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QString::fromUtf8("abonenci źle.csv"));
    const QByteArray old(300, 'o');
    writeFile(path, old);
    HANDLE held =
        ::CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                      GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
    QVERIFY(held != INVALID_HANDLE_VALUE);
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    const auto start = std::chrono::steady_clock::now();
    const std::string error = saveFileAtomically(utf8(path), bytes, sizeof bytes);
    const auto took = std::chrono::steady_clock::now() - start;
    ::CloseHandle(held);
    QCOMPARE(
        QString::fromStdString(error),
        QString::fromUtf8("Plik jest otwarty w innym programie – zamknij go i zapisz ponownie"));
    QVERIFY(took >= std::chrono::milliseconds(900));
    QCOMPARE(readFile(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
    // Once the other program lets go, the same save goes through.
    QCOMPARE(QString::fromStdString(saveFileAtomically(utf8(path), bytes, sizeof bytes)),
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
    // A save onto a device name in a folder is refused before anything is
    // opened: no bytes go to the port, and no file or temporary file is made.
    QFETCH(QString, name);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = utf8(QDir::toNativeSeparators(dir.filePath(name)));
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    QCOMPARE(QString::fromStdString(saveFileAtomically(path, bytes, sizeof bytes)),
             QString::fromUtf8(load_reason::kDeviceName));
    QCOMPARE(QString::fromStdString(loadTemplate(path).error),
             QString::fromUtf8(load_reason::kDeviceName));
    QCOMPARE(pathKind(path), PathKind::Other);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
}

void TestTemplateFile::longNamesWork() {
    // Folders and a name that are together well past the old 260-character
    // limit: save, load, replace and the folder test all work.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString folder = QDir::toNativeSeparators(dir.path());
    for (int i = 0; i < 5; ++i) {
        folder += QStringLiteral("\\") + QString(60, QChar(u'a' + i));
        const std::wstring wide = L"\\\\?\\" + folder.toStdWString();
        QVERIFY(::CreateDirectoryW(wide.c_str(), nullptr));
    }
    const std::string folderName = utf8(QDir::toNativeSeparators(folder));
    QCOMPARE(pathKind(folderName), PathKind::Directory);
    const std::string path =
        utf8(QDir::toNativeSeparators(folder + QStringLiteral("/szablon żółć.sbn")));
    QVERIFY(path.size() > 300);
    std::vector<std::uint8_t> bytes(4096);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13);
    for (int round = 0; round < 2; ++round) {
        QCOMPARE(QString::fromStdString(saveFileAtomically(path, bytes.data(), bytes.size())),
                 QString());
        const TemplateLoad back = loadTemplate(path);
        QCOMPARE(QString::fromStdString(back.error), QString());
        QVERIFY(std::equal(bytes.begin(), bytes.end(), back.bytes.begin()));
        QCOMPARE(pathKind(path), PathKind::RegularFile);
        bytes[0] ^= 0xFF;
    }
}

void TestTemplateFile::malformedNamesAreRefused() {
    // A name that is not valid UTF-8 names no file: it is refused rather than
    // mended into another name.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = utf8(QDir::toNativeSeparators(dir.path())) + "\\x\xC5.sbn";
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    QCOMPARE(QString::fromStdString(saveFileAtomically(path, bytes, sizeof bytes)),
             QString::fromUtf8(load_reason::kBadName));
    QCOMPARE(QString::fromStdString(loadTemplate(path).error),
             QString::fromUtf8(load_reason::kBadName));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
}

QTEST_APPLESS_MAIN(TestTemplateFile)
#include "test_template_file_windows.moc"
