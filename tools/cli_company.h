#pragma once
// The company register from the command line: the server's administration,
// a laptop joining it and synchronising, conflicts, erasure, and the office's
// questions asked of the server directly.

#include "cli_commands.h"

#include <iosfwd>
#include <string>

namespace trellikon::cli {

// server init|upgrade URL; server add-user URL LOGIN ROLE.
int runServerInit(const std::string& uri, bool upgrade, std::ostream& out, std::ostream& err);
int runServerAddUser(const std::string& uri, const std::string& login, const std::string& role,
                     std::ostream& out, std::ostream& err);

int runRegisterConnect(const RegisterChoice& choice, const std::string& uri, std::ostream& out,
                       std::ostream& err);
int runRegisterDisconnect(const RegisterChoice& choice, std::ostream& out, std::ostream& err);
// 0 synchronised; 3 the server cannot be reached (nothing lost); 2 refused.
int runRegisterSync(const RegisterChoice& choice, std::ostream& out, std::ostream& err);
int runRegisterStatus(const RegisterChoice& choice, std::ostream& out, std::ostream& err);

int runRename(const RegisterChoice& choice, const std::string& from, const std::string& to,
              std::ostream& err);
int runConflicts(const RegisterChoice& choice, std::ostream& out, std::ostream& err);
int runResolve(const RegisterChoice& choice, const std::string& id, const std::string& which,
               std::ostream& out, std::ostream& err);
int runErase(const RegisterChoice& choice, const std::string& name, bool yes, std::ostream& out,
             std::ostream& err);

// installations SZUKAJ --server, history NAME --server.
int runServerInstallations(const std::string& search, std::ostream& out, std::ostream& err);
int runServerHistory(const std::string& name, std::ostream& out, std::ostream& err);

} // namespace trellikon::cli
