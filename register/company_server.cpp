#include "company_server.h"

#include "company_server_sql.h"
#include "company_sync.h"

#include <cstdlib>

namespace trellikon::reg {

PgError serverInit(PgLink& link, bool upgrade, std::string& said) {
    PgLink::Rows rows;
    if (!link.exec("SELECT to_regclass('trellikon.meta') IS NOT NULL", {}, &rows))
        return link.error();
    const bool present = rows.cell(0, 0) == "t";
    int schema = 0;
    if (present) {
        if (!link.exec("SELECT value FROM trellikon.meta WHERE name = 'schema'", {}, &rows))
            return link.error();
        schema = std::atoi(rows.cell(0, 0).c_str());
    }
    if (upgrade && !present)
        return {PgError::Failed, "na serwerze nie ma rejestru firmy: najpierw server init"};
    if (schema > kCompanySchema)
        return {PgError::Refused, "rejestr firmy na serwerze ma nowszy schemat (" +
                                      std::to_string(schema) + ") niż ten program (" +
                                      std::to_string(kCompanySchema) +
                                      "): użyj nowszej wersji programu"};
    if (!link.script(kCompanyServerSql))
        return link.error();
    if (!present)
        said = "Rejestr firmy utworzony na serwerze (schemat " + std::to_string(kCompanySchema) +
               ", role trellikon_technik, trellikon_biuro, trellikon_admin).";
    else if (schema < kCompanySchema)
        said = "Rejestr firmy zaktualizowany do schematu " + std::to_string(kCompanySchema) + ".";
    else
        said = "Rejestr firmy na serwerze jest aktualny (schemat " + std::to_string(schema) +
               "); funkcje odnowione.";
    return {};
}

PgError serverAddUser(PgLink& link, const std::string& login, const std::string& role,
                      const std::string& password) {
    if (role != "technik" && role != "biuro" && role != "admin")
        return {PgError::Failed, "nieznana rola „" + role + "” (technik, biuro albo admin)"};
    const auto secret = link.encryptedPassword(password, login);
    if (!secret)
        return link.error();
    if (!link.exec("SELECT trellikon.add_user($1, $2, $3)", {login, role, *secret}))
        return link.error();
    return {};
}

PgError serverErase(PgLink& link, const std::string& name, const std::string& pcId) {
    PgLink::Rows rows;
    if (!link.exec("SELECT trellikon.installation_named($1)", {name}, &rows))
        return link.error();
    const std::string uuid = rows.cell(0, 0);
    if (uuid.empty())
        return {PgError::Failed, "w rejestrze firmy nie ma instalacji „" + name + "”"};
    if (!link.exec("SELECT trellikon.erase($1::uuid, $2)", {uuid, pcId}))
        return link.error();
    return {};
}

PgError serverSearch(PgLink& link, const std::string& search, std::vector<ServerFound>& out) {
    PgLink::Rows rows;
    if (!link.exec("SELECT name, versions, last_visit, matches FROM trellikon.search($1)", {search},
                   &rows))
        return link.error();
    for (std::size_t i = 0; i < rows.rows.size(); ++i)
        out.push_back({rows.cell(i, 0), std::atoi(rows.cell(i, 1).c_str()), rows.cell(i, 2),
                       rows.cell(i, 3)});
    return {};
}

PgError serverHistory(PgLink& link, const std::string& name, std::vector<VersionInfo>& out) {
    PgLink::Rows rows;
    if (!link.exec(
            "SELECT uuid, recorded_at, kind, installation, summary FROM trellikon.history($1)",
            {name}, &rows))
        return link.error();
    for (std::size_t i = 0; i < rows.rows.size(); ++i) {
        VersionInfo v;
        v.uuid = rows.cell(i, 0);
        v.timeUtc = rows.cell(i, 1);
        v.kind = rows.cell(i, 2);
        v.installationName = rows.cell(i, 3);
        v.summary = rows.cell(i, 4);
        out.push_back(std::move(v));
    }
    return {};
}

} // namespace trellikon::reg
