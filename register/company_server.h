#pragma once
// The company register's server as its administrator and the office use it:
// making and upgrading its schema, adding logins, erasing a client's data,
// and searching it directly.

#include "pg_link.h"
#include "register_types.h"

#include <string>
#include <vector>

namespace trellikon::reg {

// Makes the schema, its functions and roles (`upgrade`: brings an existing
// one up to this program's). `said` gets what was done.
PgError serverInit(PgLink& link, bool upgrade, std::string& said);
// A login with one of the roles "technik", "biuro", "admin".
PgError serverAddUser(PgLink& link, const std::string& login, const std::string& role,
                      const std::string& password);
// Erases the installation named so from the server; `pcId` says from where.
PgError serverErase(PgLink& link, const std::string& name, const std::string& pcId);

struct ServerFound {
    std::string name;
    int versions = 0;
    std::string lastVisitUtc;
    std::string matches; // "user 2: 48601234567; ..." when found by a number
};
PgError serverSearch(PgLink& link, const std::string& search, std::vector<ServerFound>& out);
// One installation's versions (every one's when `name` is empty), newest first.
PgError serverHistory(PgLink& link, const std::string& name, std::vector<VersionInfo>& out);

} // namespace trellikon::reg
