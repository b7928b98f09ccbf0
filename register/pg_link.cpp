#include "pg_link.h"

#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace trellikon::reg {

namespace {

struct ResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

struct OptionsDeleter {
    void operator()(PQconninfoOption* o) const { PQconninfoFree(o); }
};

std::string trimmed(const char* message) {
    std::string s = message ? message : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// A connection that did not come up: refused (TLS, login, the database or
// its role) or not reached (the server, the network).
PgError connectionFailure(PGconn* conn) {
    const std::string detail = trimmed(PQerrorMessage(conn));
    static const std::array kRefusals = {
        "password", "authentication", "certificate", "SSL",        "pg_hba.conf", "role",
        "database", "permission",     "uwierzytel",  "certyfikat", "hasło",       "root cert"};
    const bool refused = PQconnectionNeedsPassword(conn) ||
                         std::any_of(kRefusals.begin(), kRefusals.end(),
                                     [&](const char* p) { return contains(detail, p); });
    if (refused)
        return {PgError::Refused, "serwer rejestru firmy odmówił połączenia: " + detail};
    return {PgError::Unreachable, "nie można połączyć się z serwerem rejestru firmy: " + detail};
}

} // namespace

struct PgLink::Impl {
    PGconn* conn = nullptr;
    ~Impl() { PQfinish(conn); }
};

bool PgLink::available() {
    return true;
}

std::optional<std::string> PgLink::secureUri(const std::string& uri, std::string& why) {
    if (uri.rfind("postgresql://", 0) != 0 && uri.rfind("postgres://", 0) != 0) {
        why = "adres rejestru firmy musi zaczynać się od postgresql://";
        return std::nullopt;
    }
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, OptionsDeleter> options(PQconninfoParse(uri.c_str(), &error));
    if (!options) {
        why = "błędny adres rejestru firmy: " + trimmed(error);
        PQfreemem(error);
        return std::nullopt;
    }
    bool hasMode = false;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val)
            continue;
        const std::string key = o->keyword;
        if (key == "password" && *o->val) {
            why = "adres rejestru firmy nie może zawierać hasła: hasło należy do pliku haseł "
                  "biblioteki libpq (~/.pgpass, na Windows %APPDATA%\\postgresql\\pgpass.conf)";
            return std::nullopt;
        }
        if (key == "sslmode") {
            if (std::strcmp(o->val, "verify-full") != 0) {
                why = std::string("rejestr firmy wymaga sslmode=verify-full (TLS ze sprawdzeniem "
                                  "certyfikatu i nazwy serwera), a adres podaje sslmode=") +
                      o->val;
                return std::nullopt;
            }
            hasMode = true;
        }
        if (key == "requiressl" || key == "sslnegotiation") {
            why = "adres rejestru firmy nie może zmieniać sposobu TLS (" + key + ")";
            return std::nullopt;
        }
    }
    if (hasMode)
        return uri;
    return uri + (uri.find('?') == std::string::npos ? "?" : "&") + "sslmode=verify-full";
}

std::string PgLink::shownUri(const std::string& uri) {
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, OptionsDeleter> options(PQconninfoParse(uri.c_str(), &error));
    PQfreemem(error);
    if (!options)
        return uri;
    std::string host, port, db, user;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val)
            continue;
        const std::string key = o->keyword;
        if (key == "host")
            host = o->val;
        else if (key == "port")
            port = o->val;
        else if (key == "dbname")
            db = o->val;
        else if (key == "user")
            user = o->val;
    }
    return (user.empty() ? "" : user + "@") + host + (port.empty() ? "" : ":" + port) + "/" + db;
}

std::unique_ptr<PgLink> PgLink::connect(const std::string& uri, PgError& error) {
    std::string why;
    const auto secure = secureUri(uri, why);
    if (!secure) {
        error = {PgError::Refused, why};
        return nullptr;
    }
    // A server that does not answer is given up on after a while, never waited
    // for forever; the statements' results are read as UTF-8.
    const char* keys[] = {"dbname", "connect_timeout", "client_encoding", "application_name",
                          nullptr};
    const char* values[] = {secure->c_str(), "10", "UTF8", "trellikon", nullptr};
    auto impl = std::make_unique<Impl>();
    impl->conn = PQconnectdbParams(keys, values, 1);
    if (!impl->conn) {
        error = {PgError::Unreachable, "brak pamięci na połączenie z serwerem rejestru firmy"};
        return nullptr;
    }
    if (PQstatus(impl->conn) != CONNECTION_OK) {
        error = connectionFailure(impl->conn);
        return nullptr;
    }
    // verify-full was asked for; a libpq that connected otherwise is not trusted.
    if (!PQsslInUse(impl->conn)) {
        error = {PgError::Refused, "połączenie z serwerem rejestru firmy nie jest szyfrowane"};
        return nullptr;
    }
    error = {};
    return std::unique_ptr<PgLink>(new PgLink(std::move(impl)));
}

PgLink::PgLink(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PgLink::~PgLink() = default;

bool PgLink::exec(const std::string& sql, const Params& params, Rows* out) {
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const auto& p : params)
        values.push_back(p ? p->c_str() : nullptr);
    Result r(PQexecParams(impl_->conn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                          values.data(), nullptr, nullptr, 0));
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const char* state = r ? PQresultErrorField(r.get(), PG_DIAG_SQLSTATE) : nullptr;
        const std::string code = state ? state : "";
        const char* primary = r ? PQresultErrorField(r.get(), PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        const std::string detail =
            primary ? trimmed(primary) : trimmed(PQerrorMessage(impl_->conn));
        if (PQstatus(impl_->conn) == CONNECTION_BAD || code.rfind("08", 0) == 0 ||
            code.rfind("57P", 0) == 0)
            error_ = {PgError::Unreachable,
                      "połączenie z serwerem rejestru firmy przerwane: " + detail};
        else if (code.rfind("28", 0) == 0 || code == "42501")
            error_ = {PgError::Refused, "serwer rejestru firmy odmówił: " + detail};
        else if (code.rfind("TK", 0) == 0) // the register's own refusals, worded by the server
            error_ = {PgError::Refused, detail};
        else
            error_ = {PgError::Failed, "serwer rejestru firmy: " + detail};
        return false;
    }
    error_ = {};
    if (out) {
        out->rows.clear();
        const int n = PQntuples(r.get());
        const int columns = PQnfields(r.get());
        out->rows.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            auto& row = out->rows.emplace_back();
            row.reserve(static_cast<std::size_t>(columns));
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(r.get(), i, c))
                    row.emplace_back();
                else
                    row.emplace_back(
                        std::string(PQgetvalue(r.get(), i, c),
                                    static_cast<std::size_t>(PQgetlength(r.get(), i, c))));
            }
        }
    }
    return true;
}

bool PgLink::script(const std::string& sql) {
    Result r(PQexec(impl_->conn, sql.c_str()));
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
        error_ = {};
        return true;
    }
    const char* state = r ? PQresultErrorField(r.get(), PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state ? state : "";
    const std::string detail = trimmed(PQerrorMessage(impl_->conn));
    if (PQstatus(impl_->conn) == CONNECTION_BAD)
        error_ = {PgError::Unreachable,
                  "połączenie z serwerem rejestru firmy przerwane: " + detail};
    else if (code.rfind("28", 0) == 0 || code == "42501")
        error_ = {PgError::Refused, "serwer rejestru firmy odmówił: " + detail};
    else
        error_ = {PgError::Failed, "serwer rejestru firmy: " + detail};
    return false;
}

std::string PgLink::user() const {
    const char* u = PQuser(impl_->conn);
    return u ? u : "";
}

int PgLink::backendPid() const {
    return PQbackendPID(impl_->conn);
}

std::optional<std::string> PgLink::encryptedPassword(const std::string& password,
                                                     const std::string& login) {
    char* e = PQencryptPasswordConn(impl_->conn, password.c_str(), login.c_str(), "scram-sha-256");
    if (!e) {
        error_ = {PgError::Failed,
                  "nie można zaszyfrować hasła: " + trimmed(PQerrorMessage(impl_->conn))};
        return std::nullopt;
    }
    std::string out = e;
    PQfreemem(e);
    return out;
}

} // namespace trellikon::reg
