#pragma once
// The company register's server: one connection to PostgreSQL through libpq,
// always over TLS with the server's certificate and name checked
// (sslmode=verify-full). Statements take text parameters and give text
// columns; nothing here knows the register's tables.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trellikon::reg {

// Why the server did not do what was asked.
struct PgError {
    enum Kind {
        None,
        // The server cannot be reached now (network, server down, connection
        // cut): nothing was changed that the next attempt does not redo.
        Unreachable,
        // The server refused: TLS, login or rights. Trying again will not help.
        Refused,
        // A statement failed otherwise.
        Failed,
    };
    Kind kind = None;
    std::string message; // Polish first, the server's own words after a colon
    bool ok() const { return kind == None; }
};

class PgLink {
  public:
    // The URI as it is connected to: sslmode=verify-full added when it names
    // no sslmode. Nothing, and why, for a URI that is no postgresql:// URI,
    // asks for a weaker sslmode or carries a password (passwords live in
    // libpq's password file).
    static std::optional<std::string> secureUri(const std::string& uri, std::string& why);
    // What the installer is shown of a URI: host, port and database.
    static std::string shownUri(const std::string& uri);
    // False when this program was built without the server link.
    static bool available();

    static std::unique_ptr<PgLink> connect(const std::string& uri, PgError& error);
    ~PgLink();
    PgLink(const PgLink&) = delete;
    PgLink& operator=(const PgLink&) = delete;

    // A statement's rows, as text (NULL: nothing).
    struct Rows {
        std::vector<std::vector<std::optional<std::string>>> rows;
        std::string cell(std::size_t row, std::size_t column) const {
            return row < rows.size() && column < rows[row].size() && rows[row][column]
                       ? *rows[row][column]
                       : std::string();
        }
    };
    using Params = std::vector<std::optional<std::string>>;
    // Runs one statement (several, without parameters, when `params` is
    // empty and `script`); false and error() when it failed.
    bool exec(const std::string& sql, const Params& params, Rows* out = nullptr);
    bool script(const std::string& sql);
    const PgError& error() const { return error_; }
    // The login the connection is made as.
    std::string user() const;
    // The server's process serving this connection (tests cut it).
    int backendPid() const;
    // The password as the server keeps it (SCRAM), so that a new login's
    // password never travels or is logged as typed.
    std::optional<std::string> encryptedPassword(const std::string& password,
                                                 const std::string& login);

  private:
    struct Impl;
    explicit PgLink(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    PgError error_;
};

} // namespace trellikon::reg
