#include "pg_test_server.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

PgTestServer::~PgTestServer() {
    stop();
}

bool PgTestServer::script(const QStringList& args, QByteArray* out) {
    QProcess p;
    p.start(QStringLiteral(TRELLIKON_PG_TEST_SERVER), args);
    if (!p.waitForFinished(120'000))
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    if (p.exitCode() != 0)
        qWarning("pg_test_server.sh: %s", p.readAllStandardError().constData());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool PgTestServer::start() {
    // The server's own user must reach the folder: made here, open to read.
    char folder[] = "/tmp/trellikon-pg-XXXXXX";
    if (!mkdtemp(folder))
        return false;
    dir_ = folder;
    QFile::setPermissions(QString::fromStdString(dir_),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                              QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                              QFileDevice::ReadOther | QFileDevice::ExeOther);
    QByteArray out;
    if (!script({"start", QString::fromStdString(dir_)}, &out))
        return false;
    for (const QByteArray& line : out.split('\n'))
        if (line.startsWith("PGTEST_PORT="))
            port_ = line.mid(12).toInt();
    setenv("PGPASSFILE", (dir_ + "/pgpass").c_str(), 1);
    return port_ != 0;
}

void PgTestServer::stop() {
    if (dir_.empty())
        return;
    script({"stop", QString::fromStdString(dir_)});
    dir_.clear();
    port_ = 0;
}

bool PgTestServer::restart() {
    return script({"restart", QString::fromStdString(dir_)});
}

bool PgTestServer::useCert(const char* which) {
    return script({"cert", QString::fromStdString(dir_), which});
}

std::string PgTestServer::uri(const std::string& login, const std::string& db) const {
    return "postgresql://" + login + "@localhost:" + std::to_string(port_) + "/" + db +
           "?sslrootcert=" + caFile();
}

void PgTestServer::addPassword(const std::string& login, const std::string& password) {
    QFile f(QString::fromStdString(dir_ + "/pgpass"));
    if (f.open(QIODevice::Append))
        f.write(QByteArray::fromStdString("localhost:" + std::to_string(port_) + ":*:" + login +
                                          ":" + password + "\n"));
}

namespace {

QProcess* runPsql(QProcess& p, const std::string& dir, int port, const std::string& sql,
                  const std::string& db) {
    p.start("psql", {"-h", QString::fromStdString(dir), "-p", QString::number(port), "-U",
                     "postgres", "-d", QString::fromStdString(db), "-v", "ON_ERROR_STOP=1", "-Atq",
                     "-c", QString::fromStdString(sql)});
    p.waitForFinished(120'000);
    return &p;
}

} // namespace

std::string PgTestServer::psql(const std::string& sql, const std::string& db) {
    QProcess p;
    runPsql(p, dir_, port_, sql, db);
    if (p.exitCode() != 0)
        qWarning("psql: %s", p.readAllStandardError().constData());
    return p.readAllStandardOutput().trimmed().toStdString();
}

bool PgTestServer::psqlOk(const std::string& sql, const std::string& db) {
    QProcess p;
    runPsql(p, dir_, port_, sql, db);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
