#pragma once
// A PostgreSQL server of the test's own (pg_test_server.sh): started in a
// folder of its own on a free port with TLS certificates made for it, stopped
// and removed by the destructor. Logins' passwords go into a libpq password
// file that PGPASSFILE names for the whole test process.

#include <QString>

#include <string>

class PgTestServer {
  public:
    PgTestServer() = default;
    ~PgTestServer();
    PgTestServer(const PgTestServer&) = delete;
    PgTestServer& operator=(const PgTestServer&) = delete;

    bool start();
    void stop();
    bool restart();
    // The certificate the server shows: "good", "wronghost" (signed by the
    // same CA for another host name) or "wrongca" (another CA's).
    bool useCert(const char* which);

    int port() const { return port_; }
    std::string caFile() const { return dir_ + "/ca.crt"; }
    std::string otherCaFile() const { return dir_ + "/other-ca.crt"; }
    // postgresql://LOGIN@localhost:PORT/DB?sslrootcert=CA (the program adds
    // sslmode=verify-full itself).
    std::string uri(const std::string& login, const std::string& db = "postgres") const;
    std::string superuserUri(const std::string& db = "postgres") const {
        return uri("postgres", db);
    }
    void addPassword(const std::string& login, const std::string& password);

    // Runs SQL as the superuser over the server's own socket: its output,
    // trimmed; psqlOk says whether it succeeded.
    std::string psql(const std::string& sql, const std::string& db = "postgres");
    bool psqlOk(const std::string& sql, const std::string& db = "postgres");

  private:
    bool script(const QStringList& args, QByteArray* out = nullptr);
    std::string dir_;
    int port_ = 0;
};
