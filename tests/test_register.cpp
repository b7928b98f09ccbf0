// The installations register: versions recorded and found, the export file,
// the first schema migrated, two programs at once, a damaged file left as it
// was, and no device write without a stored backup.
#include "checked_write.h"
#include "cli_commands.h"
#include "device_link.h"
#include "files.h"
#include "memory_port.h"
#include "register.h"
#include "register_file.h"
#include "register_journal.h"
#include "register_location.h"
#include "register_recovery.h"
#include "session.h"
#include "sha256.h"
#include "simulated_device.h"
#include "sqlite_storage.h"
#include "version_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

using namespace trellikon;
using namespace trellikon::reg;

namespace {

// Time that only moves when the session waits for its next tick.
using VirtualClock = trellikon::ManualTickClock;

// A sound image with these numbers: user 1 and the callers (position, number).
Bytes image(const std::string& user1, const std::vector<std::pair<int, std::string>>& callers,
            const std::string& smsCentre = "48601000310") {
    SettingsImage im;
    im.writePhoneNumber(layout::kSmsCentreNumber, smsCentre);
    im.writePhoneNumber(layout::kUserNumber1, user1);
    for (int n = 1; n <= layout::kSubscriberCount; ++n)
        im.freeSubscriber(n);
    for (const auto& [position, number] : callers)
        im.writeSubscriber(position, number);
    return im.bytes();
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::unique_ptr<Register> openAt(const QString& path, bool dailyCopy = false) {
    OpenOptions options;
    options.dailyCopy = dailyCopy;
    auto r = openRegister(path.toStdString(), options);
    if (!r.ok())
        qWarning("%s", r.failure.message.c_str());
    return std::move(r.value);
}

// The schema the register's file holds.
int schemaOf(Register& r) {
    return static_cast<SqliteStorage&>(r.storage()).schemaVersion();
}

Id record(Register& r, const Bytes& b, Id installation, const std::string& time = {},
          const char* kind = kind::kRead) {
    const auto id = r.record({b, kind, "COM1", "0.1.0", installation, time});
    if (!id.ok())
        qWarning("%s", id.failure.message.c_str());
    return id.value;
}

// A visit to the installation "Kowalska", recorded in the register at `path`.
cli::TransferOptions visitOfKowalska(const QString& path) {
    cli::TransferOptions options;
    options.record.mode = cli::RegisterChoice::Record;
    options.record.path = path.toStdString();
    options.record.installation = "Kowalska";
    return options;
}

#ifndef Q_OS_WIN
// Fills a disk but for about `room` bytes: written until the disk refuses,
// then given back.
bool fillDisk(const QString& filler, off_t room) {
    const int fd = ::open(filler.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    const std::vector<char> zeros(64 * 1024, 0);
    off_t written = 0;
    for (;;) {
        const ssize_t n = ::write(fd, zeros.data(), zeros.size());
        if (n <= 0)
            break;
        written += n;
    }
    const bool full = errno == ENOSPC && ::ftruncate(fd, std::max<off_t>(0, written - room)) == 0;
    ::close(fd);
    return full;
}
#endif

} // namespace

class TestRegister : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void sha256Vectors_data();
    void sha256Vectors();
    void polishCounts_data();
    void polishCounts();
    void searchByNumber_data();
    void searchByNumber();
    void summaryAndProposal();
    void importTwiceAddsNothing();
    void refusedImportChangesNothing_data();
    void refusedImportChangesNothing();
    void migratesEarlierSchemas_data();
    void migratesEarlierSchemas();
    void twoProgramsAtOnce();
    void damagedFileLeftByteForByte();
    void damageFoundWithoutTheDailyCheck_data();
    void damageFoundWithoutTheDailyCheck();
    void deleteRemovesEveryVersion();
    void noWriteWithoutStoredBackup_data();
    void noWriteWithoutStoredBackup();
    void restoreBacksUpFirst();
    void dailyCopiesRotate();
    void whereTheRegisterLives_data();
    void whereTheRegisterLives();
    void partsWords_data();
    void partsWords();
    void mergeKeepsTheDevicesOtherParts_data();
    void mergeKeepsTheDevicesOtherParts();
    void changedOnSiteNamesTheSetting_data();
    void changedOnSiteNamesTheSetting();
    void takeDeviceValuesWholeSettings();
    void verificationKind_data();
    void verificationKind();
    void checkedWriteFromTheCommandLine_data();
    void checkedWriteFromTheCommandLine();
    void interruptedWriteToldRecordedAndUndone_data();
    void interruptedWriteToldRecordedAndUndone();
    void writeVerdictOnlyFollowsAWrite();
    void writeEndedDuringItsCheckIsNoChangeOnSite();
    void backupOnAFullDiskIsNotAnnounced();
    void registerInTrouble_data();
    void registerInTrouble();
    void recoveryKeepsTheDamagedFile_data();
    void recoveryKeepsTheDamagedFile();
};

void TestRegister::sha256Vectors_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("digest");
    QTest::newRow("empty") << QByteArray()
                           << "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    QTest::newRow("abc") << QByteArray("abc")
                         << "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    QTest::newRow("448 bits: padding spills into a second block")
        << QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")
        << "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
    QTest::newRow("896 bits")
        << QByteArray(
               "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmno"
               "pqklmnopqrlmnopqrsmnopqrstnopqrstu")
        << "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1";
    QTest::newRow("a million a")
        << QByteArray(1'000'000, 'a')
        << "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
}

void TestRegister::sha256Vectors() {
    // The digest of the standard's test vectors, fed whole and in odd pieces.
    QFETCH(QByteArray, input);
    QFETCH(QString, digest);
    const auto* p = reinterpret_cast<const std::uint8_t*>(input.constData());
    const auto n = static_cast<std::size_t>(input.size());
    QCOMPARE(QString::fromStdString(hex(sha256(p, n))), digest);
    Sha256 pieces;
    for (std::size_t at = 0, step = 1; at < n; at += step, step = step % 97 + 13)
        pieces.add(p + at, std::min(step, n - at));
    QCOMPARE(QString::fromStdString(hex(pieces.finish())), digest);
}

void TestRegister::polishCounts_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");
    QTest::newRow("1 takes the singular") << 1 << "1 ustawienie";
    QTest::newRow("2 to 4 take the plural") << 3 << "3 ustawienia";
    QTest::newRow("5 takes the genitive") << 5 << "5 ustawień";
    QTest::newRow("12 to 14 take the genitive") << 13 << "13 ustawień";
    QTest::newRow("22 takes the plural") << 22 << "22 ustawienia";
    QTest::newRow("0 takes the genitive") << 0 << "0 ustawień";
}

void TestRegister::polishCounts() {
    // The summary's counts read as Polish does.
    QFETCH(int, n);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(countOf(n, "ustawienie", "ustawienia", "ustawień")), text);
}

void TestRegister::searchByNumber_data() {
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("found"); // installation names, one per line
    QTest::addColumn<QString>("match"); // what the first found says, or nothing
    QTest::newRow("a caller's number as residents say it") << "512 345 678"
                                                           << "Kowalska, Lipowa 5"
                                                           << "abonent CLIP 43: 48512345678";
    QTest::newRow("with the country code and dashes") << "+48 512-345-678"
                                                      << "Kowalska, Lipowa 5"
                                                      << "abonent CLIP 43";
    QTest::newRow("with 00 in front") << "0048512345678"
                                      << "Kowalska, Lipowa 5"
                                      << "abonent CLIP 43";
    QTest::newRow("a user number") << "600100200"
                                   << "Nowak, Polna 2"
                                   << "użytkownik 1";
    QTest::newRow("a caller only an older version held") << "48700000001"
                                                         << "Kowalska, Lipowa 5"
                                                         << "abonent CLIP 2";
    QTest::newRow("the device's own number") << "501 999 888"
                                             << "Nowak, Polna 2"
                                             << "numer urządzenia";
    QTest::newRow("the SMS centre both share") << "48601000310"
                                               << "Nowak, Polna 2\nKowalska, Lipowa 5"
                                               << "centrum SMS";
    QTest::newRow("a number nobody has") << "511111111"
                                         << ""
                                         << "";
    QTest::newRow("the middle of a number is not its end") << "51234"
                                                           << ""
                                                           << "";
    QTest::newRow("a name in capitals with Polish letters") << "ŁĄKOWA"
                                                            << "Wiśniewski, Łąkowa 1"
                                                            << "";
    QTest::newRow("notes") << "brama"
                           << "Nowak, Polna 2"
                           << "";
}

void TestRegister::searchByNumber() {
    // Installations are found by name, notes or any number of any of their
    // versions: users, SMS centre, every caller, with where it was found.
    QFETCH(QString, search);
    QFETCH(QString, found);
    QFETCH(QString, match);
    auto r = openAt(":memory:");
    QVERIFY(r);
    const Id kowalska = r->createInstallation("Kowalska, Lipowa 5", "", "").value;
    const Id nowak = r->createInstallation("Nowak, Polna 2", "brama wjazdowa", "48501999888").value;
    QVERIFY(r->createInstallation("Wiśniewski, Łąkowa 1", "", "").ok());
    record(*r, image("48600555000", {{2, "48700000001"}}), kowalska, "2026-01-01T10:00:00.000Z");
    record(*r, image("48600555000", {{43, "48512345678"}}), kowalska, "2026-02-01T10:00:00.000Z");
    record(*r, image("48600100200", {{1, "48600100200"}}), nowak, "2026-03-01T10:00:00.000Z");
    record(*r, image("48600100200", {{9, "48512345678"}}), 0); // unassigned: not listed

    const auto result = r->installations(search.toStdString());
    QVERIFY2(result.ok(), result.failure.message.c_str());
    QStringList names;
    for (const Found& f : result.value)
        names << QString::fromStdString(f.installation.name);
    QCOMPARE(names.join('\n'), found);
    if (!match.isEmpty()) {
        QVERIFY(!result.value.front().matches.empty());
        QVERIFY2(QString::fromStdString(result.value.front().matches.front()).startsWith(match),
                 result.value.front().matches.front().c_str());
    }
}

void TestRegister::summaryAndProposal() {
    // A version's summary counts what changed since its installation's
    // version before it; a read is proposed the installation it looks like.
    auto r = openAt(":memory:");
    QVERIFY(r);
    const Id a = r->createInstallation("A", "", "").value;
    const Id b = r->createInstallation("B", "", "").value;
    record(*r, image("48600000001", {{1, "48600000011"}, {2, "48600000012"}}), a);
    record(*r, image("48600000002", {{1, "48600000021"}, {5, "48600000022"}}), b);
    Bytes changed = image("48600000009", {{1, "48600000099"}, {3, "48600000012"}});
    const Id v = record(*r, changed, a);
    QCOMPARE(QString::fromStdString(r->version(v).value->info.summary),
             "1 ustawienie, 3 abonentów CLIP");
    QCOMPARE(QString::fromStdString(r->latest(a).value->info.summary),
             "1 ustawienie, 3 abonentów CLIP");

    const Id unassigned = record(*r, image("48600000002", {{5, "48600000022"}}), 0);
    const auto proposals = r->propose(r->version(unassigned).value->bytes);
    QVERIFY(proposals.ok());
    QCOMPARE(proposals.value.size(), std::size_t{1});
    QCOMPARE(proposals.value.front().installationId, b);
    QVERIFY(r->assign(unassigned, b).ok());
    const auto assigned = r->version(unassigned).value->info;
    QCOMPARE(assigned.installationId, b);
    QCOMPARE(QString::fromStdString(assigned.summary), "1 abonent CLIP");
}

void TestRegister::importTwiceAddsNothing() {
    // Versions move by their identity: the same file imported twice, or
    // imported back where it came from, adds nothing.
    QTemporaryDir dir;
    auto from = openAt(dir.filePath("a.sqlite"));
    QVERIFY(from);
    const Id site = from->createInstallation("Kowalska", "notatka", "48501000000").value;
    record(*from, image("48600000001", {{43, "48512345678"}}), site);
    record(*from, image("48600000001", {}), site, {}, kind::kBackup);
    record(*from, image("48600000003", {}), 0);
    // A clock a few hours ahead of this computer's is no reason to refuse.
    record(*from, image("48600000004", {}), 0,
           utcTime(std::chrono::system_clock::now() + std::chrono::hours(23)));
    const auto file = from->exportData(0);
    QVERIFY(file.ok());

    auto to = openAt(dir.filePath("b.sqlite"));
    const auto first = to->importData(file.value);
    QVERIFY2(first.ok(), first.failure.message.c_str());
    QCOMPARE(first.value.installationsAdded, 1);
    QCOMPARE(first.value.versionsAdded, 4);
    const auto second = to->importData(file.value);
    QVERIFY(second.ok());
    QCOMPARE(second.value.installationsAdded, 0);
    QCOMPARE(second.value.versionsAdded, 0);
    QCOMPARE(second.value.versionsKnown, 4);
    QCOMPARE(to->history({}).value.size(), std::size_t{4});
    const auto back = from->importData(to->exportData(0).value);
    QCOMPARE(back.value.versionsAdded, 0);
    // What arrived is what left, and is found as it was.
    const auto found = to->installations("512345678").value;
    QCOMPARE(found.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(found.front().installation.notes), "notatka");
    QCOMPARE(from->history({}).value.front().sha256, to->history({}).value.front().sha256);
}

void TestRegister::refusedImportChangesNothing_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("reason");
    QTest::newRow("one byte of a version flipped") << "flip"
                                                   << "suma kontrolna";
    QTest::newRow("cut short") << "cut"
                               << "suma kontrolna";
    QTest::newRow("a foreign file") << "foreign"
                                    << "to nie jest plik eksportu";
    QTest::newRow("a newer format") << "format"
                                    << "format 2";
    QTest::newRow("a version of an unknown kind, checksum mended") << "kind"
                                                                   << "wersja 1";
    // What the program refuses everywhere else, in a file whose checksums hold.
    QTest::newRow("a version dated more than a day ahead")
        << "future"
        << "wersja 1 w pliku (instalacja „Kowalska”) ma datę 2099-01-01 00:00 (UTC), o ponad "
           "dobę późniejszą niż zegar tego komputera";
    QTest::newRow("a blank name") << "name:   "
                                  << "instalacja 1 w pliku: nazwa instalacji jest pusta";
    QTest::newRow("a name with leading spaces")
        << "name:  Kowalska"
        << "instalacja 1 w pliku: nazwa instalacji zaczyna się albo kończy";
    QTest::newRow("a name with a NUL") << "name:Kowal\\0ska"
                                       << "nazwa instalacji zawiera znak sterujący";
    QTest::newRow("a name with a line end") << "name:Kowal\nska"
                                            << "nazwa instalacji zawiera znak sterujący";
    QTest::newRow("a 64 kB name") << "long name"
                                  << "nazwa instalacji jest za długa (najwyżej 200 bajtów)";
    QTest::newRow("more versions than an export holds")
        << "count"
        << "plik podaje więcej wersji (100 001) albo instalacji (1), niż może mieć eksport "
           "rejestru: najwyżej 100 000 wersji i 10 000 instalacji";
}

void TestRegister::refusedImportChangesNothing() {
    // A damaged or foreign export file is refused whole: nothing of it is added.
    QFETCH(QString, damage);
    QFETCH(QString, reason);
    auto from = openAt(":memory:");
    const Id site = from->createInstallation("Kowalska", "", "").value;
    record(*from, image("48600000001", {}), site);
    std::string file = from->exportData(0).value;
    const std::size_t firstVersion = kExportMagic.size() + 12 + 4 + 8 + 4 + 4;
    if (damage == "flip")
        file[file.size() - 32 - 100] ^= 1;
    else if (damage == "cut")
        file.resize(file.size() - 1);
    else if (damage == "foreign")
        file = "SQLite format 3" + file;
    else if (damage == "format")
        file[kExportMagic.size()] = 2;
    else if (damage == "kind") {
        // "odczyt" becomes "odczyX" and the whole file's checksum is made right again.
        const std::size_t k = file.find("odczyt", firstVersion);
        QVERIFY(k != std::string::npos);
        file[k + 5] = 'X';
        file.resize(file.size() - 32);
        const Digest d = sha256(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
        file.append(reinterpret_cast<const char*>(d.data()), d.size());
    } else if (damage == "count") {
        file[kExportMagic.size() + 8] = char(0xA1); // 100 001 = 0x186A1
        file[kExportMagic.size() + 9] = char(0x86);
        file[kExportMagic.size() + 10] = 0x01;
    } else {
        // Written as the program writes a file, with what it never writes.
        ExportContent c = decodeExport(file).value;
        if (damage == "future")
            c.versions.at(0).timeUtc = "2099-01-01T00:00:00.000Z";
        else if (damage == "long name")
            c.installations.at(0).name = std::string(64 * 1024, 'K');
        else
            c.installations.at(0).name = damage.mid(5).replace("\\0", QChar(0)).toStdString();
        file = encodeExport(c);
    }
    auto to = openAt(":memory:");
    record(*to, image("48600000009", {}), 0);
    const auto result = to->importData(file);
    QVERIFY(!result.ok());
    QVERIFY2(QString::fromStdString(result.failure.message).contains(reason),
             result.failure.message.c_str());
    QCOMPARE(to->history({}).value.size(), std::size_t{1});
    QVERIFY(to->installations({}).value.empty());
}

void TestRegister::migratesEarlierSchemas_data() {
    QTest::addColumn<int>("schema");
    QTest::newRow("first") << 1;
    QTest::newRow("second") << 2;
}

bool isUuid(const std::string& u) {
    return u.size() == 36 && u[8] == '-' && u[13] == '-' && u[14] == '4' && u[18] == '-' &&
           u[23] == '-';
}

void TestRegister::migratesEarlierSchemas() {
    // A register written by an earlier schema opens in the current one: its
    // versions kept, their numbers indexed for the search (the first), the
    // device's number settable; every installation and version gets a uuid of
    // its own and the versions this computer's id.
    QFETCH(int, schema);
    QTemporaryDir dir;
    const QString path = dir.filePath("old.sqlite");
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    const char* firstSchema =
        "PRAGMA journal_mode=WAL;"
        "CREATE TABLE register_meta (name VARCHAR(40) PRIMARY KEY, value VARCHAR(200) NOT NULL);"
        "CREATE TABLE installations (id INTEGER PRIMARY KEY, name VARCHAR(200) NOT NULL UNIQUE, "
        "notes TEXT NOT NULL, created_at VARCHAR(24) NOT NULL);"
        "CREATE TABLE versions (id INTEGER PRIMARY KEY, installation_id INTEGER REFERENCES "
        "installations (id), recorded_at VARCHAR(24) NOT NULL, kind VARCHAR(40) NOT NULL, port "
        "VARCHAR(200) NOT NULL, program_version VARCHAR(40) NOT NULL, summary VARCHAR(400) NOT "
        "NULL, sha256 CHAR(64) NOT NULL, content BLOB NOT NULL);"
        "CREATE INDEX versions_by_installation ON versions (installation_id, recorded_at, id);"
        "CREATE INDEX versions_by_identity ON versions (sha256, recorded_at);"
        "CREATE INDEX versions_by_time ON versions (recorded_at, id);"
        "INSERT INTO register_meta VALUES ('schema', '1');"
        "INSERT INTO installations VALUES (1, 'Kowalska', '', '2025-05-01T08:00:00.000Z');"
        "INSERT INTO installations VALUES (2, 'Nowak', '', '2025-05-01T08:00:00.000Z');";
    QCOMPARE(sqlite3_exec(db, firstSchema, nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string secondSchema =
        std::string("ALTER TABLE installations ADD COLUMN device_phone VARCHAR(40) NOT NULL "
                    "DEFAULT '';"
                    "CREATE TABLE version_numbers (version_id INTEGER NOT NULL REFERENCES versions "
                    "(id), role VARCHAR(8) NOT NULL, position INTEGER NOT NULL, number VARCHAR(20) "
                    "NOT NULL, reversed VARCHAR(20) NOT NULL);"
                    "CREATE INDEX version_numbers_by_reversed ON version_numbers (reversed);"
                    "CREATE INDEX version_numbers_by_version ON version_numbers (version_id);"
                    "INSERT INTO version_numbers VALUES (1, '") +
        roleKey(NumberRole::Caller) +
        "', 43, '48512345678', '87654321584');"
        "UPDATE register_meta SET value = '2' WHERE name = 'schema';";
    if (schema == 2)
        QCOMPARE(sqlite3_exec(db, secondSchema.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    const Bytes old = image("48600000001", {{43, "48512345678"}});
    sqlite3_stmt* st = nullptr;
    QCOMPARE(sqlite3_prepare_v2(db,
                                "INSERT INTO versions VALUES (1, 1, '2025-05-01T08:00:00.000Z', "
                                "'odczyt', 'COM1', '0.0.9', 'pierwsza wersja', ?, ?)",
                                -1, &st, nullptr),
             SQLITE_OK);
    const std::string digest = hex(sha256(old.data(), old.size()));
    sqlite3_bind_text(st, 1, digest.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(st, 2, old.data(), static_cast<int>(old.size()), SQLITE_TRANSIENT);
    QCOMPARE(sqlite3_step(st), SQLITE_DONE);
    sqlite3_finalize(st);
    sqlite3_close(db);

    if (schema == 2) {
        // A command that only reads finds the versions and leaves the file as it is.
        const QByteArray lying = fileBytes(path);
        OpenOptions onlyRead;
        onlyRead.readOnly = true;
        onlyRead.dailyCopy = false;
        auto looked = openRegister(path.toStdString(), onlyRead);
        QVERIFY2(looked.ok(), looked.failure.message.c_str());
        QCOMPARE(looked.value->version(1).value->bytes, old);
        QCOMPARE(looked.value->installations("512345678").value.size(), std::size_t{1});
        looked.value.reset();
        QCOMPARE(fileBytes(path), lying);
    }
    auto r = openAt(path, true);
    QVERIFY(r);
    QVERIFY(r->writable());
    QCOMPARE(schemaOf(*r), kSchemaVersion);
    // The day's copy was made before the migration: it keeps the first schema.
    QCOMPARE(registerCopies(path.toStdString()).size(), std::size_t{1});
    QCOMPARE(r->version(1).value->bytes, old);
    const auto found = r->installations("512345678").value;
    QCOMPARE(found.size(), std::size_t{1});
    QVERIFY(r->updateInstallation(1, "Kowalska", "", "48501000000").ok());
    QCOMPARE(r->installations("501000000").value.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(r->history({}).value.front().programVersion), "0.0.9");
    const VersionInfo migrated = r->version(1).value->info;
    QVERIFY2(isUuid(migrated.uuid), migrated.uuid.c_str());
    QVERIFY(migrated.basedOn.empty());
    QVERIFY(isUuid(migrated.pcId));
    const auto both = r->installations({}).value;
    QCOMPARE(both.size(), std::size_t{2});
    QVERIFY(isUuid(both[0].installation.uuid) && isUuid(both[1].installation.uuid));
    QVERIFY(both[0].installation.uuid != both[1].installation.uuid);
    QVERIFY(both[0].installation.uuid != migrated.uuid);
    // What this computer records from now on carries the same computer's id.
    const Id added = record(*r, old, 1);
    QCOMPARE(r->version(added).value->info.pcId, migrated.pcId);
    QVERIFY(r->version(added).value->info.uuid != migrated.uuid);
    r.reset();
    r = openAt(path);
    QCOMPARE(schemaOf(*r), kSchemaVersion); // opened again: nothing to do
    QCOMPARE(r->version(1).value->info.uuid, migrated.uuid);
}

void TestRegister::twoProgramsAtOnce() {
    // Two connections writing the same file at the same time (the window and
    // a script): each waits for the other, and nothing is lost or refused.
    QTemporaryDir dir;
    const QString path = dir.filePath("shared.sqlite");
    auto first = openAt(path);
    auto second = openAt(path);
    QVERIFY(first && second);
    const Id site = first->createInstallation("Wspólna", "", "").value;
    constexpr int kEach = 40;
    std::vector<std::string> errors;
    std::mutex errorsLock;
    auto writer = [&](Register* r, int seed) {
        for (int i = 0; i < kEach; ++i) {
            const auto id = r->record({image("486000" + std::to_string(10000 + seed * 1000 + i),
                                             {{1 + i, "48512345678"}}),
                                       kind::kRead,
                                       "COM1",
                                       "0.1.0",
                                       i % 2 ? site : 0,
                                       {}});
            if (!id.ok()) {
                std::lock_guard<std::mutex> lock(errorsLock);
                errors.push_back(id.failure.message);
            }
        }
    };
    std::thread a(writer, first.get(), 1), b(writer, second.get(), 2);
    a.join();
    b.join();
    QVERIFY2(errors.empty(), errors.empty() ? "" : errors.front().c_str());
    QCOMPARE(first->history({}).value.size(), std::size_t{2 * kEach});
    QCOMPARE(second->installations("512345678").value.size(), std::size_t{1});
}

void TestRegister::damagedFileLeftByteForByte() {
    // A damaged register is found at open, only read, never written (not even
    // a log beside it), and the notice names the newest rotating copy.
    QTemporaryDir dir;
    const QString path = dir.filePath("rejestr.sqlite");
    {
        auto r = openAt(path);
        const Id site = r->createInstallation("Kowalska", "", "").value;
        for (int i = 0; i < 30; ++i)
            record(*r, image("48600000001", {{1 + i, "48512345678"}}), site);
    }
    for (const char* day : {"2026-01-01", "2026-01-03", "2026-01-02"})
        QVERIFY(QFile::copy(path, QString::fromStdString(copyName(path.toStdString(), day))));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.size() > 8 * 4096);
    f.seek(5 * 4096);
    f.write(QByteArray(4096, '\x5A'));
    f.close();
    const QByteArray damaged = fileBytes(path);
    const QStringList filesBefore = QDir(dir.path()).entryList(QDir::Files);

    auto opened = openRegister(path.toStdString());
    QVERIFY2(opened.ok(), opened.failure.message.c_str());
    auto r = std::move(opened.value);
    QVERIFY(!r->writable());
    const QString notice = QString::fromStdString(r->notice());
    QVERIFY2(notice.contains("uszkodzony") && notice.contains("rejestr.sqlite.kopia-2026-01-03"),
             qPrintable(notice));
    const auto refused = r->record({image("48600000001", {}), kind::kBackup, "COM1", "", 0, {}});
    QVERIFY(!refused.ok());
    QCOMPARE(QString::fromStdString(refused.failure.message), notice);
    QVERIFY(!r->createInstallation("Nowa", "", "").ok());
    QVERIFY(!r->importData(r->exportData(0).value).ok());
    r->installations("512345678"); // reading whatever can be read
    r.reset();
    QCOMPARE(fileBytes(path), damaged);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), filesBefore);
}

void TestRegister::damageFoundWithoutTheDailyCheck_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("foundAtOpen");
    QTest::newRow("the versions' b-tree: found at every opening") << "tree" << true;
    QTest::newRow("a version's content: found when it is read") << "content" << false;
}

void TestRegister::damageFoundWithoutTheDailyCheck() {
    // Between the daily checks of the whole file, an opening checks the
    // versions' b-tree, and a version's content is checked against its
    // SHA-256 whenever it is read: damage found either way stops every write
    // and leaves the file as it was.
    QFETCH(QString, damage);
    QFETCH(bool, foundAtOpen);
    QTemporaryDir dir;
    const QString path = dir.filePath("rejestr.sqlite");
    Bytes marked = image("48600000001", {{1, "48512345678"}});
    const QByteArray marker("ZNACZNIK-TRESCI-WERSJI");
    std::copy(marker.begin(), marker.end(), marked.begin() + 3000);
    Id markedId = 0;
    {
        auto r = openAt(path);
        const Id site = r->createInstallation("Kowalska", "", "").value;
        for (int i = 0; i < 30; ++i)
            record(*r, image("48600000001", {{1 + i, "48512345678"}}), site);
        markedId = r->record({marked, kind::kRead, "COM1", "", site, {}}).value;
    }
    qint64 at = -1;
    if (damage == "tree") {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE name = 'versions'", -1,
                           &st, nullptr);
        QCOMPARE(sqlite3_step(st), SQLITE_ROW);
        at = (sqlite3_column_int64(st, 0) - 1) * 4096;
        sqlite3_finalize(st);
        sqlite3_close_v2(db);
    } else {
        at = fileBytes(path).indexOf(marker);
    }
    QVERIFY(at > 0);
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(at);
        f.write(damage == "tree" ? QByteArray(4096, '\x5A') : QByteArray("X"));
    }
    const QByteArray damaged = fileBytes(path);

    auto r = openAt(path);
    QVERIFY(r);
    QCOMPARE(r->writable(), !foundAtOpen);
    if (!foundAtOpen) {
        const auto read = r->version(markedId);
        QVERIFY(!read.ok() && read.failure.message.find("uszkodzona") != std::string::npos);
        QVERIFY(!r->writable());
    }
    QVERIFY2(QString::fromStdString(r->notice()).contains("uszkodzony"), r->notice().c_str());
    QVERIFY(!r->record({image("48600000002", {}), kind::kBackup, "COM1", "", 0, {}}).ok());
    r.reset();
    QCOMPARE(fileBytes(path), damaged);
}

void TestRegister::deleteRemovesEveryVersion() {
    // Deleting an installation removes its versions and their numbers from
    // the file itself, not only from the lists.
    QTemporaryDir dir;
    const QString path = dir.filePath("r.sqlite");
    auto r = openAt(path);
    const Id gone = r->createInstallation("Do usunięcia", "", "").value;
    const Id kept = r->createInstallation("Zostaje", "", "").value;
    record(*r, image("48600000001", {{1, "48777123456"}}), gone);
    record(*r, image("48600000002", {{1, "48600000022"}}), kept);
    QVERIFY(r->deleteInstallation(gone).ok());
    QVERIFY(r->installations("777123456").value.empty());
    QCOMPARE(r->history({}).value.size(), std::size_t{1});
    r.reset();
    const QByteArray everything = fileBytes(path) + fileBytes(path + "-wal");
    QVERIFY(!everything.contains("48777123456"));
    QVERIFY(!everything.contains("Do usuni"));
    QVERIFY(everything.contains("48600000022"));
}

void TestRegister::noWriteWithoutStoredBackup_data() {
    QTest::addColumn<QString>("registerState");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("register stored the backup: written")
        << "sound" << 0 << "Kopia zapasowa w rejestrze: wersja 1";
    QTest::newRow("register cannot be created: nothing written")
        << "impossible" << 2 << "nie można utworzyć katalogu";
    QTest::newRow("register damaged: nothing written") << "damaged" << 2 << "uszkodzony";
    QTest::newRow("backup read fails: nothing written")
        << "silent device" << 2 << "nie udało się odczytać kopii zapasowej";
    QTest::newRow("--no-register writes and says it has no backup")
        << "refused" << 0 << "zapis bez kopii zapasowej w rejestrze (--no-register)";
}

void TestRegister::noWriteWithoutStoredBackup() {
    // Before the first write frame the device's content is committed to the
    // register; when it cannot be, no block is written and the exit code is 2.
    QFETCH(QString, registerState);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QString registerPath = dir.filePath("r/rejestr.sqlite");
    if (registerState == "impossible") {
        QFile blocker(dir.filePath("plik"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        registerPath = dir.filePath("plik/rejestr.sqlite");
    } else if (registerState == "damaged") {
        QVERIFY(QDir().mkpath(dir.filePath("r")));
        QFile f(registerPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("SQLite format 3\0", 16) + QByteArray(8000, '\x7F'));
    }
    const QByteArray registerBefore = fileBytes(registerPath);
    const Bytes present = image("48600000001", {{43, "48512345678"}});
    const Bytes wanted = image("48600000002", {{43, "48512345678"}});
    const QString file = dir.filePath("nowy.sbn");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(wanted.data()), wanted.size());
    }
    SimulatedFaults faults;
    faults.silentAfterFrames = registerState == "silent device" ? 3 : -1;
    SimulatedDevice device(present, faults);
    int blocksWritten = 0;
    device.onBlockWritten = [&](int) { ++blocksWritten; };
    device.powerOn();
    MemoryPort port(&device);
    VirtualClock clock;
    cli::TransferOptions options;
    options.record.mode =
        registerState == "refused" ? cli::RegisterChoice::Refused : cli::RegisterChoice::Record;
    options.record.path = registerPath.toStdString();
    options.record.installation = "Kowalska";
    std::ostringstream err;
    const int rc = cli::runWrite("COM1", file.toStdString(), options, port, clock, err);
    QVERIFY2(QString::fromStdString(err.str()).contains(message), err.str().c_str());
    QCOMPARE(rc, exitCode);
    if (exitCode != 0) {
        QVERIFY2(err.str().find("nic nie zostało zapisane") != std::string::npos ||
                     registerState != "silent device",
                 err.str().c_str());
        QCOMPARE(blocksWritten, 0);
        QCOMPARE(device.memory(), present);
        if (registerState != "silent device")
            QCOMPARE(fileBytes(registerPath), registerBefore);
        return;
    }
    QCOMPARE(device.memory(), wanted);
    if (registerState == "refused") {
        QVERIFY(!QFile::exists(registerPath));
        return;
    }
#ifndef Q_OS_WIN
    // Residents' numbers: the file and its folder are the user's alone.
    namespace fs = std::filesystem;
    QCOMPARE(fs::status(registerPath.toStdString()).permissions(),
             fs::perms::owner_read | fs::perms::owner_write);
    QCOMPARE(fs::status(dir.filePath("r").toStdString()).permissions(), fs::perms::owner_all);
#endif
    auto r = openAt(registerPath);
    const auto history = r->history({}).value;
    QCOMPARE(history.size(), std::size_t{2});
    QCOMPARE(QString::fromStdString(history[1].kind), kind::kBackup);
    QCOMPARE(r->version(history[1].id).value->bytes, present);
    QCOMPARE(QString::fromStdString(history[0].kind), kind::kWrite);
    QCOMPARE(r->version(history[0].id).value->bytes, wanted);
    QCOMPARE(QString::fromStdString(history[0].summary), "1 ustawienie");
    // The write names what it was made over: the backup just before it.
    QCOMPARE(history[0].basedOn, history[1].uuid);
    QVERIFY(history[1].basedOn.empty());
}

void TestRegister::restoreBacksUpFirst() {
    // restore writes a recorded version to the device, after the device's
    // present content is stored, and both belong to the version's installation.
    QTemporaryDir dir;
    const QString path = dir.filePath("rejestr.sqlite");
    const Bytes old = image("48600000001", {{1, "48512345678"}});
    const Bytes present = image("48600000002", {});
    Id site = 0, oldVersion = 0;
    {
        auto r = openAt(path);
        site = r->createInstallation("Kowalska", "", "").value;
        oldVersion = record(*r, old, site);
    }
    SimulatedDevice device(present);
    device.powerOn();
    MemoryPort port(&device);
    VirtualClock clock;
    cli::RegisterChoice choice;
    choice.path = path.toStdString();
    std::ostringstream err;
    // The device holds other settings than the installation's latest version:
    // a restore asks for --force like a write (checkedWriteFromTheCommandLine).
    cli::TransferOptions options;
    options.force = true;
    QCOMPARE(cli::runRestore(choice, std::to_string(oldVersion), "COM1", options, port, clock, err),
             0);
    QCOMPARE(device.memory(), old);
    auto r = openAt(path);
    const auto history = r->history({HistoryFilter::OfInstallation, site, 0}).value;
    QCOMPARE(history.size(), std::size_t{3});
    QCOMPARE(r->version(history[1].id).value->bytes, present);
    QCOMPARE(QString::fromStdString(history[1].kind), kind::kBackup);
    // Recorded as what it is: that version put back.
    QCOMPARE(QString::fromStdString(history[0].kind), kind::kRestore);
    QVERIFY2(err.str().find("instalacja „Kowalska”") != std::string::npos, err.str().c_str());
    // A version the register does not hold touches nothing.
    QCOMPARE(cli::runRestore(choice, "999", "COM1", {}, port, clock, err), 2);
    QCOMPARE(r->history({}).value.size(), std::size_t{3});
}

void TestRegister::dailyCopiesRotate() {
    // A sound register gets one copy a day, before anything is written to it;
    // the newest three are kept, and a copy being made is never taken for one.
    QTemporaryDir dir;
    const QString path = dir.filePath("rejestr.sqlite");
    {
        auto r = openAt(path, true);
        record(*r, image("48600000001", {}), 0);
    }
    QVERIFY(registerCopies(path.toStdString()).empty()); // a new register has nothing to copy
    for (const char* day : {"2026-01-01", "2026-01-02", "2026-01-03"})
        QVERIFY(QFile::copy(path, QString::fromStdString(copyName(path.toStdString(), day))));
    QVERIFY(QFile::copy(path, path + ".kopia-2099-01-01.tmp"));
    // A name of a copy's length that is no day: neither named nor restored.
    QVERIFY(QFile::copy(path, path + ".kopia-9999&&&&&&"));
    const std::string today = nowUtc().substr(0, 10);
    openAt(path, true).reset();
    auto copies = registerCopies(path.toStdString());
    QCOMPARE(copies.size(), std::size_t{3});
    QCOMPARE(copies.front(), copyName(path.toStdString(), today));
    QCOMPARE(copies.back(), copyName(path.toStdString(), "2026-01-02"));
    {
        auto r = openAt(path, true);
        record(*r, image("48600000002", {}), 0);
    }
    // The second open of the day made no copy: today's holds one version.
    auto copy = openAt(QString::fromStdString(copies.front()));
    QCOMPARE(copy->history({}).value.size(), std::size_t{1});
    QCOMPARE(registerCopies(path.toStdString()), copies);
}

void TestRegister::whereTheRegisterLives_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("environment"); // TRELLIKON_REGISTER
    QTest::addColumn<QString>("dataHome");    // XDG_DATA_HOME
    QTest::addColumn<QString>("expected");
    QTest::newRow("--register wins") << "/a/r.sqlite"
                                     << "/b/r.sqlite"
                                     << "/c"
                                     << "/a/r.sqlite";
    QTest::newRow("then the environment") << ""
                                          << "/b/r.sqlite"
                                          << "/c"
                                          << "/b/r.sqlite";
#ifdef Q_OS_WIN
    QTest::newRow("then the user's application data") << ""
                                                      << ""
                                                      << "C:\\Dane"
                                                      << "C:\\Dane\\Trellikon\\rejestr.sqlite";
#else
    QTest::newRow("then the user's data folder") << ""
                                                 << ""
                                                 << "/c"
                                                 << "/c/trellikon/rejestr.sqlite";
    QTest::newRow("a relative data folder is ignored")
        << ""
        << ""
        << "c"
        << "@HOME/.local/share/trellikon/rejestr.sqlite";
    QTest::newRow("no data folder: under the home")
        << ""
        << ""
        << ""
        << "@HOME/.local/share/trellikon/rejestr.sqlite";
#endif
}

void TestRegister::whereTheRegisterLives() {
    // The file of --register, else TRELLIKON_REGISTER, else the user's own
    // (XDG_DATA_HOME, or APPDATA on Windows).
    QFETCH(QString, given);
    QFETCH(QString, environment);
    QFETCH(QString, dataHome);
    QFETCH(QString, expected);
#ifdef Q_OS_WIN
    const char* dataVariable = "APPDATA";
#else
    const char* dataVariable = "XDG_DATA_HOME";
#endif
    const QByteArray savedRegister = qgetenv("TRELLIKON_REGISTER");
    const QByteArray savedData = qgetenv(dataVariable);
    qputenv("TRELLIKON_REGISTER", environment.toUtf8());
    qputenv(dataVariable, dataHome.toUtf8());
    const QString found = QString::fromStdString(registerPath(given.toStdString()));
    qputenv("TRELLIKON_REGISTER", savedRegister);
    qputenv(dataVariable, savedData);
    QCOMPARE(found, QString(expected).replace("@HOME", qEnvironmentVariable("HOME")));
}

void TestRegister::partsWords_data() {
    QTest::addColumn<QString>("words");
    QTest::addColumn<uint>("parts");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("one word") << "subscribers" << uint(checked::kCallers) << QString();
    QTest::newRow("two words, blanks around") << " parameters , texts" << uint(3) << QString();
    QTest::newRow("all three, one twice")
        << "texts,subscribers,parameters,texts" << uint(checked::kAllParts) << QString();
    QTest::newRow("nothing") << "" << uint(0) << "wymaga części do zapisu";
    QTest::newRow("an unknown word names it and the known ones")
        << "parameters,callers" << uint(0)
        << "nieznana część „callers” w opcji --only (znane: parameters, texts, subscribers)";
    QTest::newRow("an empty word between commas")
        << "texts,,subscribers" << uint(0) << "nieznana część „”";
    QTest::newRow("a control character is not echoed") << "te\x1bxts" << uint(0) << "te?xts";
}

void TestRegister::partsWords() {
    // --only takes any of the three words; anything else is refused, naming
    // what was given and what is known, and chooses nothing.
    QFETCH(QString, words);
    QFETCH(uint, parts);
    QFETCH(QString, refusal);
    const checked::PartsChoice c = checked::parseParts(words.toStdString());
    QCOMPARE(uint(c.parts), parts);
    if (refusal.isEmpty())
        QVERIFY2(c.ok(), c.error.c_str());
    else
        QVERIFY2(QString::fromStdString(c.error).contains(refusal), c.error.c_str());
}

void TestRegister::mergeKeepsTheDevicesOtherParts_data() {
    QTest::addColumn<uint>("parts");
    QTest::addColumn<QString>("fromWanted"); // one letter per block: w wanted, d device
    QTest::newRow("parameters") << uint(checked::kParameters) << "wddddddd";
    QTest::newRow("texts") << uint(checked::kTexts) << "dwwwdddd";
    QTest::newRow("subscribers") << uint(checked::kCallers) << "ddddwwww";
    QTest::newRow("parameters and subscribers")
        << uint(checked::kParameters | checked::kCallers) << "wdddwwww";
    QTest::newRow("all") << uint(checked::kAllParts) << "wwwwwwww";
}

void TestRegister::mergeKeepsTheDevicesOtherParts() {
    // Every byte outside the chosen parts is the device's, every byte inside
    // them the program's.
    QFETCH(uint, parts);
    QFETCH(QString, fromWanted);
    Bytes device{}, wanted{};
    for (std::size_t i = 0; i < device.size(); ++i) {
        device[i] = static_cast<std::uint8_t>(i * 7);
        wanted[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    const Bytes merged = checked::merge(device, wanted, parts);
    for (std::size_t i = 0; i < merged.size(); ++i) {
        const bool w = fromWanted.at(int(i / layout::kBlockSize)) == 'w';
        QVERIFY2(merged[i] == (w ? wanted[i] : device[i]), qPrintable(QString::number(i)));
    }
}

void TestRegister::changedOnSiteNamesTheSetting_data() {
    QTest::addColumn<QString>("program"); // what the program would write
    QTest::addColumn<QString>("written"); // beside the caller added on site; empty: no loss
    QTest::newRow("the write drops the caller added on site: listed") << "recorded"
                                                                      << "(wolna)";
    QTest::newRow("the write puts another number there: listed") << "other"
                                                                 << "48500000099";
    QTest::newRow("the program holds the same caller: no loss") << "device"
                                                                << "";
    QTest::newRow("the callers not written: no loss") << "parameters only"
                                                      << "";
}

void TestRegister::changedOnSiteNamesTheSetting() {
    // The device's caller added since the recorded version is named under the
    // editors' words, with the day of that version and what the write leaves
    // there; a write that leaves the device's value loses nothing and asks
    // nothing; the same device as recorded changed nothing.
    QFETCH(QString, program);
    QFETCH(QString, written);
    Version latest;
    latest.bytes = image("48600000001", {{1, "48512345678"}});
    latest.info.timeUtc = "2026-03-05T12:00:00.000Z";
    const Bytes device = image("48600000001", {{1, "48512345678"}, {43, "48500000043"}});
    Bytes toWrite = image("48600000002", {{1, "48512345678"}});
    if (program == "other")
        toWrite = image("48600000002", {{1, "48512345678"}, {43, "48500000099"}});
    else if (program == "device")
        toWrite = image("48600000002", {{1, "48512345678"}, {43, "48500000043"}});
    else if (program == "parameters only")
        toWrite = checked::merge(device, toWrite, checked::kParameters);
    const checked::ChangedOnSite c = checked::changedOnSite(latest, device, toWrite);
    QCOMPARE(c.changed(), !written.isEmpty());
    QCOMPARE(c.written.size(), c.differences.rows.size());
    if (written.isEmpty())
        return;
    QCOMPARE(QString::fromStdString(c.written.front()), written);
    QCOMPARE(QString::fromStdString(checked::sinceLine(c)),
             QString::fromUtf8("zmienione w urządzeniu od 05.03.2026"));
    const QString text = QString::fromStdString(checked::renderChangedOnSite(c));
    QVERIFY2(text.contains(QString::fromUtf8("Pozycja 43 (dodany)\n    wersja z 05.03.2026: "
                                             "(wolna)\n    urządzenie: 48500000043\n    "
                                             "zostanie zapisane: ") +
                           written),
             qPrintable(text));
    QVERIFY(!checked::changedOnSite(latest, latest.bytes, toWrite).changed());
    // A time the register could not have written is shown safe, not parsed.
    QCOMPARE(QString::fromStdString(checked::localDay("2026-\x01-05")),
             QStringLiteral("2026-?-05"));
}

void TestRegister::takeDeviceValuesWholeSettings() {
    // What the device changed since the version comes into the program whole;
    // the program's own edits of other settings stay.
    SettingsImage recorded;
    recorded.setBytes(image("48600000001", {{1, "48512345678"}}));
    QVERIFY(recorded.writeText(2, "Alarm wejscie 2"));
    SettingsImage device = recorded, program = recorded;
    // On site: a caller added and the same text changed at its start.
    device.writeSubscriber(43, "48500000043");
    QVERIFY(device.writeText(2, "Brama wejscie 2"));
    // In the program: user 1 and the end of that text.
    program.writePhoneNumber(layout::kUserNumber1, "48600000009");
    QVERIFY(program.writeText(2, "Alarm wejscie 9"));
    const Bytes taken =
        checked::takeDeviceValues(program.bytes(), recorded.bytes(), device.bytes());
    const auto left = comparison::compareImages(taken, device.bytes());
    QCOMPARE(left.rows.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(left.rows.front().name),
             QString::fromUtf8("Numer użytkownika 1"));
    QCOMPARE(left.uncoveredBytes, std::size_t{0});
}

void TestRegister::verificationKind_data() {
    QTest::addColumn<int>("wrongByte"); // -1: none
    QTest::newRow("the same bytes: checked") << -1;
    QTest::newRow("one caller's byte wrong: not the same") << 4 * 512 + 3;
    QTest::newRow("one unread byte wrong: not the same either") << 4095;
}

void TestRegister::verificationKind() {
    QFETCH(int, wrongByte);
    const Bytes sent = image("48600000001", {{1, "48512345678"}});
    Bytes back = sent;
    if (wrongByte >= 0)
        back[std::size_t(wrongByte)] ^= 0x10;
    const checked::Verification v = checked::verify(sent, back);
    QCOMPARE(v.same, wrongByte < 0);
    QCOMPARE(QString::fromUtf8(v.kind()),
             QString::fromUtf8(wrongByte < 0 ? "zapis sprawdzony" : "zapis niezgodny"));
    QCOMPARE(v.differences.equal(), wrongByte < 0);
}

void TestRegister::checkedWriteFromTheCommandLine_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("changedOnSite"); // a caller added on site after the first visit
    QTest::addColumn<bool>("force");
    QTest::addColumn<QString>("only");
    QTest::addColumn<int>("wrongByte"); // -1: the device keeps every byte
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("kinds"); // newest first, after the first visit's read
    QTest::addColumn<QString>("message");
    QTest::newRow("changed between two connections: stopped, the setting named")
        << "write" << true << false << "" << -1 << 5 << QStringList{}
        << "Pozycja 43 (dodany)\n    wersja z ";
    QTest::newRow("changed, --force: written and checked")
        << "write" << true << true << "" << -1 << 0
        << QStringList{"zapis sprawdzony", "kopia przed zapisem"} << "--force";
    QTest::newRow("unchanged since the last visit: written without asking")
        << "write" << false << false << "" << -1 << 0
        << QStringList{"zapis sprawdzony", "kopia przed zapisem"} << "Weryfikacja zakończona";
    QTest::newRow("restore of an unchanged device: recorded as a restore of that version")
        << "restore" << false << false << "" << -1 << 0
        << QStringList{QString::fromUtf8("przywrócenie"), "kopia przed zapisem"}
        << QString::fromUtf8("(przywrócenie, instalacja „Kowalska”)");
    QTest::newRow("restore of a changed device: stopped the same way")
        << "restore" << true << false << "" << -1 << 5 << QStringList{}
        << "zmienione w urządzeniu od ";
    QTest::newRow("--only subscribers: blocks 0-3 stay the device's")
        << "write" << false << false << "subscribers" << -1 << 0
        << QStringList{"zapis sprawdzony", "kopia przed zapisem"} << "Zapis części: abonenci CLIP";
    QTest::newRow("--only parameters,texts without a register")
        << "no register" << false << false << "parameters,texts" << -1 << 0 << QStringList{}
        << "Zapis części: parametry, teksty alarmowe";
    QTest::newRow("a byte stored wrong: exit 4, zapis niezgodny")
        << "write" << false << false << "" << 4 * 512 + 12 + 5 << 4
        << QStringList{"zapis niezgodny", "kopia przed zapisem"} << "Pozycja 2";
}

void TestRegister::checkedWriteFromTheCommandLine() {
    // A visit reads the device into the installation; at the next visit a
    // write first looks at what changed on the device since, sends only the
    // chosen parts over what it holds, and reads it back to check.
    QFETCH(QString, command);
    QFETCH(bool, changedOnSite);
    QFETCH(bool, force);
    QFETCH(QString, only);
    QFETCH(int, wrongByte);
    QFETCH(int, exitCode);
    QFETCH(QStringList, kinds);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath("rejestr.sqlite");
    const Bytes firstVisit = image("48600000001", {{1, "48512345678"}});
    Bytes wanted = image("48600000002", {{1, "48512345678"}, {2, "48512000002"}});
    SettingsImage texts;
    texts.setBytes(wanted);
    QVERIFY(texts.writeText(3, "Pozar w hali"));
    wanted = texts.bytes();
    const QString file = dir.filePath("nowy.sbn");
    QVERIFY(!saveFileAtomically(file.toStdString(), wanted.data(), wanted.size()));

    SimulatedDevice device(firstVisit);
    device.powerOn();
    MemoryPort port(&device);
    VirtualClock clock;
    cli::TransferOptions options = visitOfKowalska(path);
    std::ostringstream err;
    QCOMPARE(
        cli::runRead("COM1", dir.filePath("odczyt.sbn").toStdString(), options, port, clock, err),
        0);
    const Id firstRead = openAt(path)->history({}).value.front().id;

    // Between the visits the administrator adds a caller by other means.
    Bytes present = firstVisit;
    if (changedOnSite) {
        SettingsImage m;
        m.setBytes(present);
        m.writeSubscriber(43, "48500000043");
        present = m.bytes();
    }
    SimulatedFaults faults;
    faults.wrongStoredByte = wrongByte;
    device.setFaults(faults);
    device.setMemory(present);
    device.powerOn();
    const int framesBefore = device.counters().writeBlocks;
    options.verify = true;
    options.force = force;
    if (!only.isEmpty())
        options.parts = checked::parseParts(only.toStdString()).parts;
    if (command == "no register")
        options.record.mode = cli::RegisterChoice::Off;
    err.str({});
    const int rc = command == "restore"
                       ? cli::runRestore(options.record, std::to_string(firstRead), "COM1", options,
                                         port, clock, err)
                       : cli::runWrite("COM1", file.toStdString(), options, port, clock, err);
    QVERIFY2(QString::fromStdString(err.str()).contains(message), err.str().c_str());
    QCOMPARE(rc, exitCode);

    const auto history = openAt(path)->history({}).value;
    QStringList recorded;
    for (std::size_t i = 0; i + 1 < history.size(); ++i)
        recorded << QString::fromStdString(history[i].kind);
    QCOMPARE(recorded, kinds);
    if (exitCode == 5) {
        // Not one write frame, and nothing recorded: the next attempt asks again.
        QCOMPARE(device.counters().writeBlocks, framesBefore);
        QCOMPARE(device.memory(), present);
        return;
    }
    const Bytes source = command == "restore" ? firstVisit : wanted;
    const Bytes sent = checked::merge(present, source, options.parts);
    Bytes expected = sent;
    if (wrongByte >= 0)
        expected[std::size_t(wrongByte)] ^= 0x01;
    QCOMPARE(device.memory(), expected);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const bool chosen =
            (options.parts & checked::partOfBlock(int(i / layout::kBlockSize))) != 0;
        QVERIFY2(sent[i] == (chosen ? source[i] : present[i]), qPrintable(QString::number(i)));
    }
    // The register keeps what was sent, under the verdict of the check.
    if (!kinds.isEmpty())
        QCOMPARE(openAt(path)->version(history.front().id).value->bytes, sent);
    // A restore names its version first, then what it changed.
    if (command == "restore")
        QCOMPARE(QString::fromStdString(history.front().summary),
                 QString::fromUtf8("przywrócono wersję %1; bez zmian").arg(firstRead));
}

void TestRegister::recoveryKeepsTheDamagedFile_data() {
    QTest::addColumn<bool>("restore"); // else a new register
    QTest::addColumn<bool>("copyThere");
    QTest::newRow("the newest daily copy takes the damaged file's place") << true << true;
    QTest::newRow("a new register: the damaged file kept aside") << false << true;
    QTest::newRow("a new register without any copy") << false << false;
}

void TestRegister::recoveryKeepsTheDamagedFile() {
    // The damaged register and its log keep every byte under a new name
    // beside it; a restore puts the newest daily copy in its place and keeps
    // the copy; nothing is deleted.
    QFETCH(bool, restore);
    QFETCH(bool, copyThere);
    QTemporaryDir dir;
    const std::string file = dir.filePath("rejestr.sqlite").toStdString();
    const auto put = [](const std::string& name, const QByteArray& bytes) {
        QFile f(QString::fromStdString(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    const auto bytesOf = [](const std::string& name) {
        QFile f(QString::fromStdString(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    };
    put(file, "damaged");
    put(file + "-wal", "log");
    if (copyThere) {
        put(reg::copyName(file, "2026-03-01"), "older");
        put(reg::copyName(file, "2026-03-04"), "newest");
    }
    const auto copy = reg::newestCopy(file);
    QCOMPARE(copy.has_value(), copyThere);
    if (copy)
        QCOMPARE(QString::fromStdString(copy->day), QStringLiteral("04.03.2026"));
    std::tm when{};
    when.tm_year = 126;
    when.tm_mon = 2;
    when.tm_mday = 5;
    when.tm_hour = 9;
    when.tm_min = 7;
    when.tm_sec = 3;
    const std::string aside = reg::asideName(file, when);
    QCOMPARE(QString::fromStdString(aside),
             QString::fromStdString(file) + ".uszkodzony-2026-03-05-090703");
    const std::string failed =
        restore ? reg::restoreCopy(file, *copy, aside) : reg::putAside(file, aside);
    QVERIFY2(failed.empty(), failed.c_str());
    QCOMPARE(bytesOf(aside), QByteArray("damaged"));
    QCOMPARE(bytesOf(aside + "-wal"), QByteArray("log"));
    QVERIFY(!reg::fileExists(file + "-wal"));
    QCOMPARE(bytesOf(file), restore ? QByteArray("newest") : QByteArray("(none)"));
    if (copy)
        QCOMPARE(bytesOf(copy->file), QByteArray("newest"));
    // The same name again is refused, and nothing moves.
    if (!restore) {
        put(file, "second");
        QVERIFY(!reg::putAside(file, aside).empty());
        QCOMPARE(bytesOf(file), QByteArray("second"));
        QCOMPARE(bytesOf(aside), QByteArray("damaged"));
    }
}

void TestRegister::interruptedWriteToldRecordedAndUndone_data() {
    QTest::addColumn<QString>("then"); // what the installer does with the cable back
    QTest::newRow("restore the backup named") << "restore";
    QTest::newRow("write again") << "write";
}

void TestRegister::interruptedWriteToldRecordedAndUndone() {
    // A write whose port loses its device says at once how far it got, records
    // what was sent as interrupted, exits 3 with the restore command, and
    // neither the restore nor a new write then takes the device for changed on site.
    QFETCH(QString, then);
    QTemporaryDir dir;
    const QString path = dir.filePath("rejestr.sqlite");
    const Bytes present = image("48600000001", {{1, "48512345678"}});
    const Bytes wanted = image("48600000002", {{1, "48512345678"}, {2, "48512000002"}});
    const QString file = dir.filePath("nowy.sbn");
    QVERIFY(!saveFileAtomically(file.toStdString(), wanted.data(), wanted.size()));
    SimulatedFaults faults;
    faults.hangUpAfterBlock = 5;
    SimulatedDevice device(present, faults);
    VirtualClock clock;
    std::int64_t fifthAckedAt = -1;
    int blocks = 0;
    device.onBlockWritten = [&](int) {
        if (++blocks == 5)
            fifthAckedAt = clock.nowMs();
    };
    device.powerOn();
    MemoryPort port(&device);
    cli::TransferOptions options = visitOfKowalska(path);
    options.verify = true;
    std::ostringstream err;
    QCOMPARE(cli::runWrite("COM1", file.toStdString(), options, port, clock, err), 3);
    const QString said = QString::fromStdString(err.str());
    const QString told = QString::fromUtf8(texts::kWriteFailed) + "\n" +
                         QString::fromUtf8(texts::kConnectionCut) + "\n" +
                         "Zapis przerwany po bloku 5 z 8: urządzenie zawiera częściowo nowe "
                         "ustawienia. Podłącz kabel i zapisz ponownie albo przywróć kopię sprzed "
                         "zapisu (wersja 1).";
    QVERIFY2(said.contains("trellikon-cli: " + told), qPrintable(said));
    const QString command = "trellikon-cli restore --register " + path + " 1 COM1";
    QVERIFY2(said.contains(command), qPrintable(said));
    QVERIFY(fifthAckedAt >= 0);
    QVERIFY2(clock.nowMs() - fifthAckedAt <= 2000, qPrintable(QString::number(clock.nowMs())));
    Bytes mixed = wanted;
    std::copy(present.begin() + 5 * 512, present.end(), mixed.begin() + 5 * 512);
    QCOMPARE(device.memory(), mixed);
    {
        auto r = openAt(path);
        const auto history = r->history({}).value;
        QCOMPARE(history.size(), std::size_t{2});
        QCOMPARE(QString::fromStdString(history[0].kind), kind::kWriteInterrupted);
        QVERIFY2(QString::fromStdString(history[0].summary).startsWith("przerwany po bloku 5 z 8"),
                 history[0].summary.c_str());
        QCOMPARE(r->version(history[0].id).value->bytes, wanted);
        QCOMPARE(QString::fromStdString(history[1].kind), kind::kBackup);
    }

    // The cable back in: what the device holds is this program's own doing.
    device.setFaults({});
    device.powerOn();
    err.str({});
    const int rc = then == "restore"
                       ? cli::runRestore(options.record, "1", "COM1", options, port, clock, err)
                       : cli::runWrite("COM1", file.toStdString(), options, port, clock, err);
    QVERIFY2(rc == 0, err.str().c_str());
    QCOMPARE(device.memory(), then == "restore" ? present : wanted);
}

void TestRegister::writeVerdictOnlyFollowsAWrite() {
    // A write's kind takes its check's verdict once; no other version's kind changes.
    auto r = openAt(":memory:");
    const Bytes b = image("48600000001", {});
    const Id write = record(*r, b, 0, {}, kind::kWrite);
    const Id read = record(*r, b, 0);
    QVERIFY(r->setWriteVerdict(write, kind::kWriteVerified).ok());
    QCOMPARE(QString::fromStdString(r->version(write).value->info.kind), kind::kWriteVerified);
    QVERIFY(!r->setWriteVerdict(write, kind::kWriteMismatch).ok());
    QVERIFY(!r->setWriteVerdict(read, kind::kWriteVerified).ok());
    QVERIFY(!r->setWriteVerdict(write, kind::kRead).ok());
    QCOMPARE(QString::fromStdString(r->version(read).value->info.kind), kind::kRead);
    QCOMPARE(QString::fromStdString(r->version(write).value->info.kind), kind::kWriteVerified);
}

void TestRegister::writeEndedDuringItsCheckIsNoChangeOnSite() {
    // A write is in the register from its last acknowledgement: a program
    // ended during the check read leaves it known, and the next write does
    // not take this program's own write for a change made on site.
    QTemporaryDir dir;
    const QString path = dir.filePath("rejestr.sqlite");
    const Bytes present = image("48600000001", {{1, "48512345678"}});
    const Bytes first = image("48600000002", {{1, "48512345678"}});
    const Bytes second = image("48600000003", {{1, "48512345678"}});
    Id site = 0;
    {
        auto r = openAt(path);
        site = r->createInstallation("Kowalska", "", "").value;
        record(*r, present, site);
    }
    SimulatedDevice device(present);
    device.powerOn();
    MemoryPort port(&device);
    VirtualClock clock;
    {
        reg::Journal journal([&] { return openRegister(path.toStdString()); }, "0.1.0");
        journal.keep(site);
        struct Events final : SilentObserver {
            bool checking = false;
            void sessionEvent(const SessionEvent& e) override {
                checking = checking || e == SessionEvent::VerifyStarted;
            }
        } events;
        Session session(port, events);
        session.useStore(&journal);
        QVERIFY(session.connect());
        QVERIFY(
            session.tickDriver(clock).runUntil([&] { return session.connected(); }, 60'000).done);
        WriteSteps steps;
        steps.verify = true;
        session.write(first, steps);
        QVERIFY(session.tickDriver(clock)
                    .runUntil([&] { return session.step() == Session::Step::Deciding; }, 60'000)
                    .done);
        session.proceed();
        QVERIFY(session.tickDriver(clock).runUntil([&] { return events.checking; }, 60'000).done);
        // The program ends here, its check read under way.
    }
    QCOMPARE(device.memory(), first);
    QCOMPARE(QString::fromStdString(openAt(path)->history({}).value.front().kind), kind::kWrite);

    const QString file = dir.filePath("nowy.sbn");
    QVERIFY(!saveFileAtomically(file.toStdString(), second.data(), second.size()));
    // The next visit: the check read's reply died with the program.
    device.discardOutput();
    device.powerOn();
    MemoryPort again(&device);
    cli::TransferOptions options = visitOfKowalska(path);
    options.verify = true;
    std::ostringstream err;
    QVERIFY2(cli::runWrite("COM1", file.toStdString(), options, again, clock, err) == 0,
             err.str().c_str());
    QCOMPARE(device.memory(), second);
}

void TestRegister::backupOnAFullDiskIsNotAnnounced() {
    // The disk fills up at the backup's commit: the backup is not in the
    // register, so no version number is told for it, and the device is not
    // written.
#ifdef Q_OS_WIN
    QSKIP("a small disk of its own is mounted on Linux only");
#else
    QTemporaryDir dir;
    const QString disk = dir.filePath("dysk");
    QVERIFY(QDir().mkpath(disk));
    if (::mount("tmpfs", disk.toLocal8Bit().constData(), "tmpfs", 0, "size=1m") != 0)
        QSKIP(qPrintable("a full disk needs a small tmpfs, which this test may not mount: " +
                         QString::fromLocal8Bit(std::strerror(errno))));
    struct Unmount {
        QByteArray at;
        ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
    } unmount{disk.toLocal8Bit()};
    const QString path = disk + "/rejestr.sqlite";
    // The first visit makes the register, the installation and today's copy.
    SimulatedDevice device(image("48600000001", {{1, "48512345678"}}));
    device.powerOn();
    MemoryPort port(&device);
    VirtualClock clock;
    cli::TransferOptions options = visitOfKowalska(path);
    std::ostringstream err;
    QCOMPARE(
        cli::runRead("COM1", dir.filePath("odczyt.sbn").toStdString(), options, port, clock, err),
        0);
    const Bytes wanted = image("48600000002", {{1, "48512345678"}});
    const QString file = dir.filePath("nowy.sbn");
    QVERIFY(!saveFileAtomically(file.toStdString(), wanted.data(), wanted.size()));

    // Room for the register's shared memory (32 KiB) and a page of its log,
    // not for the backup's pages.
    QVERIFY(fillDisk(disk + "/wypelnienie", 40 * 1024));
    const Bytes present = device.memory();
    const int framesBefore = device.counters().writeBlocks;
    device.powerOn();
    err.str({});
    const int rc = cli::runWrite("COM1", file.toStdString(), options, port, clock, err);
    const QString said = QString::fromStdString(err.str());
    QVERIFY2(said.contains("brak miejsca na dysku"), qPrintable(said));
    QVERIFY2(!said.contains("Kopia zapasowa w rejestrze"), qPrintable(said));
    QCOMPARE(rc, 2);
    QCOMPARE(device.counters().writeBlocks, framesBefore);
    QCOMPARE(device.memory(), present);
    // With room again, the register holds the first visit's read alone.
    QVERIFY(QFile::remove(disk + "/wypelnienie"));
    const auto history = openAt(path)->history({}).value;
    QCOMPARE(history.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(history.front().kind), QString(kind::kRead));
#endif
}

void TestRegister::registerInTrouble_data() {
    QTest::addColumn<QString>("trouble");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("said");
    QTest::newRow("a log left by a crash, one frame damaged: said, log and file kept")
        << "damaged log" << 0
        << QStringList{"dziennik zmian", "z 3 zapisanych w nim zmian", "nie da się odtworzyć",
                       "kopia-2026-01-03” z 03.01.2026"};
    QTest::newRow("a sound log left by a crash: read, and left for a change to apply")
        << "sound log" << 0 << QStringList{};
    QTest::newRow("a log cut in its last frame (killed while writing): what was committed read")
        << "cut log" << 0 << QStringList{};
    QTest::newRow("an emptied file with copies beside it: the newest named, nothing made")
        << "emptied" << 2
        << QStringList{"jest pusty", "kopia-2026-01-03” z 03.01.2026", "register new"};
    QTest::newRow("a removed file with copies beside it: the same")
        << "removed" << 2 << QStringList{"nie ma, choć obok", "kopia-2026-01-03"};
    QTest::newRow("an emptied file, the installer asks for a new register")
        << "new asked" << 0 << QStringList{"Utworzono nowy, pusty rejestr"};
    QTest::newRow("a version dated in the future is not the latest")
        << "future" << 0 << QStringList{"Weryfikacja zakończona"};
    QTest::newRow("a changed byte of a version: no daily copy made nor pushed out")
        << "damaged version" << 0 << QStringList{"uszkodzony", "kopia-2026-01-03” z 03.01.2026"};
    QTest::newRow("another program's database: not a register, not changed")
        << "foreign" << 2 << QStringList{"nie jest rejestrem instalacji"};
    QTest::newRow("a symbolic link: refused")
        << "link" << 2 << QStringList{"dowiązaniem symbolicznym"};
    QTest::newRow("a folder: said in Polish") << "folder" << 2 << QStringList{"nie jest plikiem"};
    QTest::newRow("a read-only folder: listed, nothing recorded")
        << "read-only" << 0 << QStringList{"tylko do odczytu", "nic nie zostanie"};
}

void TestRegister::registerInTrouble() {
    // Whatever happened to the file, the command line says what it found, in
    // Polish, names the copy to restore, and changes nothing it does not own.
    QFETCH(QString, trouble);
    QFETCH(int, exitCode);
    QFETCH(QStringList, said);
    QTemporaryDir dir;
    const QString path = dir.filePath("rejestr.sqlite");
    const std::string name = path.toStdString();
    Bytes marked = image("48600000001", {{1, "48512345678"}});
    const QByteArray marker("ZNACZNIK-TRESCI-WERSJI");
    std::copy(marker.begin(), marker.end(), marked.begin() + 3000);
    {
        auto r = openAt(path);
        const Id site = r->createInstallation("Kowalska", "", "").value;
        record(*r, image("48600000001", {}), site);
        record(*r, marked, site);
    }
    for (const char* day : {"2026-01-01", "2026-01-03", "2026-01-02"})
        QVERIFY(QFile::copy(path, QString::fromStdString(copyName(name, day))));
    cli::RegisterChoice choice;
    choice.path = name;
    const auto flip = [](const QString& file, qint64 at) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(at));
        char c = 0;
        QVERIFY(f.getChar(&c) && f.seek(at) && f.putChar(static_cast<char>(c ^ 0x20)));
    };

    bool unmount = false;
    const auto unmounted = qScopeGuard([&] {
        if (unmount)
            QProcess::execute("umount", {dir.path()});
    });
    if (trouble.endsWith("log")) {
        // Three recordings left in the log of a program that never closed.
        const QString live = dir.filePath("live/rejestr.sqlite");
        QVERIFY(QDir().mkpath(dir.filePath("live")) && QFile::copy(path, live));
        auto held = openAt(live);
        for (int i = 0; i < 3; ++i)
            record(*held, image("48600000002", {{2 + i, "48512345678"}}), 1);
        QVERIFY(QFile::remove(path) && QFile::copy(live, path) &&
                QFile::copy(live + "-wal", path + "-wal"));
        if (trouble == "damaged log")
            flip(path + "-wal", 32 + 24 + 4096 + 24 + 100); // the second frame's page
        if (trouble == "cut log") // the last recording's commit never got whole to the disk
            QVERIFY(QFile::resize(path + "-wal", QFileInfo(path + "-wal").size() - 100));
    } else if (trouble == "emptied" || trouble == "new asked") {
        QVERIFY(QFile::resize(path, 0));
    } else if (trouble == "removed") {
        QVERIFY(QFile::remove(path));
    } else if (trouble == "future") {
        auto r = openAt(path);
        record(*r, image("48600000003", {}), 1, "2099-01-01T00:00:00.000Z");
        record(*r, image("48600000004", {}), 1);
    } else if (trouble == "damaged version") {
        flip(path, fileBytes(path).indexOf(marker));
    } else if (trouble == "foreign") {
        QVERIFY(QFile::remove(path));
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(name.c_str(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db,
                              "CREATE TABLE notatki (tekst TEXT); INSERT INTO notatki "
                              "VALUES ('nie ruszać')",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    } else if (trouble == "link") {
        const QString target = dir.filePath("gdzie-indziej.sqlite");
        QVERIFY(QFile::rename(path, target));
        std::error_code ec;
        std::filesystem::create_symlink(target.toStdString(), name, ec);
        if (ec)
            QSKIP("symbolic links cannot be made here");
        choice.path = name;
    } else if (trouble == "folder") {
        choice.path = dir.path().toStdString();
    } else if (trouble == "read-only") {
#ifdef Q_OS_WIN
        QSKIP("the read-only attribute of a folder does not stop writes on Windows");
#else
        if (::geteuid() != 0) {
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        } else if (QProcess::execute("mount", {"--bind", dir.path(), dir.path()}) != 0) {
            QSKIP("run as root, whom no permission stops, where no read-only mount can be made");
        } else {
            // Root writes through any permission: the folder itself made read-only.
            unmount = true;
            if (QProcess::execute("mount", {"-o", "remount,ro,bind", dir.path()}) != 0)
                QSKIP("run as root, where the folder cannot be mounted read-only");
        }
#endif
    }
    // SQLite's shared-memory index beside a log is no part of the register.
    const auto files = [&dir] {
        QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::System);
        names.removeIf([](const QString& n) { return n.endsWith("-shm"); });
        return names;
    };
    const QStringList filesBefore = files();
    const QByteArray fileBefore = fileBytes(path), logBefore = fileBytes(path + "-wal");

    std::ostringstream out, err;
    int rc = 0;
    if (trouble == "new asked") {
        rc = cli::runRegisterNew(choice, err);
        QCOMPARE(cli::runHistory(choice, {}, out, err), 0);
        QVERIFY(out.str().empty());
    } else if (trouble == "future") {
        SimulatedDevice device(image("48600000004", {}));
        device.powerOn();
        MemoryPort port(&device);
        VirtualClock clock;
        const Bytes wanted = image("48600000005", {});
        const QString file = dir.filePath("nowy.sbn");
        QVERIFY(!saveFileAtomically(file.toStdString(), wanted.data(), wanted.size()));
        cli::TransferOptions options;
        options.record = choice;
        options.record.mode = cli::RegisterChoice::Record;
        options.record.installation = "Kowalska";
        options.verify = true;
        rc = cli::runWrite("COM1", file.toStdString(), options, port, clock, err);
    } else {
        rc = cli::runHistory(choice, {}, out, err);
    }
#ifndef Q_OS_WIN
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
#endif
    const QString told = QString::fromStdString(err.str());
    QVERIFY2(rc == exitCode, qPrintable(told));
    for (const QString& s : said)
        QVERIFY2(told.contains(s), qPrintable(told));
    for (const char* english : {"database", "unable", "not an error", "disk I/O"})
        QVERIFY2(!told.contains(english), qPrintable(told));

    if (trouble == "sound log" || trouble == "cut log") {
        // Read whole; a command that only reads leaves the log to the next change.
        QCOMPARE(QString::fromStdString(out.str()).count('\n'), trouble == "sound log" ? 5 : 4);
        QVERIFY2(!told.contains("uszkodzony"), qPrintable(told));
        QCOMPARE(fileBytes(path + "-wal"), logBefore);
    }
    if (trouble == "damaged version") {
        // The copy last proven sound stays; the damaged file became none.
        QCOMPARE(registerCopies(name).size(), std::size_t{3});
        QCOMPARE(registerCopies(name).back(), copyName(name, "2026-01-01"));
    }
    if (trouble == "read-only")
        QCOMPARE(QString::fromStdString(out.str()).count('\n'), 2);
    if (trouble != "new asked" && trouble != "future" && trouble != "sound log" &&
        trouble != "cut log") {
        QCOMPARE(fileBytes(path), fileBefore);
        QCOMPARE(fileBytes(path + "-wal"), logBefore);
        QCOMPARE(files(), filesBefore);
    }
}

QTEST_GUILESS_MAIN(TestRegister)
#include "test_register.moc"
