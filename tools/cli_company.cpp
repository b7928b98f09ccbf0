#include "cli_company.h"

#include "cli_register.h"
#include "company_server.h"
#include "company_sync.h"
#include "console.h"
#include "pg_link.h"
#include "version_text.h"

#include <cstdlib>
#include <iostream>

namespace trellikon::cli {

namespace {

// What a failure of the server means for the exit code: 3 when it could not
// be reached (try again later, nothing lost), 2 otherwise.
int serverFailure(std::ostream& err, const reg::PgError& e) {
    err << kProgramName << ": " << plain(e.message) << '\n';
    return e.kind == reg::PgError::Unreachable ? kExitLink : kExitUsage;
}

std::unique_ptr<reg::PgLink> connectTo(const std::string& uri, std::ostream& err, int& code) {
    reg::PgError e;
    auto link = reg::PgLink::connect(uri, e);
    if (!link)
        code = serverFailure(err, e);
    return link;
}

// The address the register was joined with, or why there is none.
std::unique_ptr<reg::PgLink> connectJoined(std::ostream& err, int& code) {
    const std::string uri = reg::companyAddress();
    if (uri.empty()) {
        code = fail(err, usageFailure("nie połączono z rejestrem firmy (register connect URL)"));
        return nullptr;
    }
    return connectTo(uri, err, code);
}

// "2026-12-10 10:42" of a UTC time, or "-".
std::string when(const std::string& utc) {
    return utc.empty() ? std::string("-") : reg::shortTime(utc);
}

} // namespace

int runServerInit(const std::string& uri, bool upgrade, std::ostream& out, std::ostream& err) {
    int code = kExitOk;
    auto link = connectTo(uri, err, code);
    if (!link)
        return code;
    std::string said;
    if (const reg::PgError e = reg::serverInit(*link, upgrade, said); !e.ok())
        return serverFailure(err, e);
    out << said << '\n';
    return kExitOk;
}

int runServerAddUser(const std::string& uri, const std::string& login, const std::string& role,
                     std::ostream& out, std::ostream& err) {
    if (role != "technik" && role != "biuro" && role != "admin")
        return fail(
            err, usageFailure("nieznana rola „" + plain(role) + "” (technik, biuro albo admin)"));
    std::string password;
    if (const char* given = std::getenv("TRELLIKON_NEW_PASSWORD"); given && *given) {
        password = given;
    } else {
        const auto typed = console::readSecret("Hasło dla " + plain(login) + ": ");
        const auto again = typed ? console::readSecret("Powtórz hasło: ") : std::nullopt;
        if (!typed || !again)
            return fail(err, usageFailure("podaj hasło w terminalu albo w zmiennej "
                                          "TRELLIKON_NEW_PASSWORD"));
        if (*typed != *again)
            return fail(err, usageFailure("hasła się różnią"));
        password = *typed;
    }
    if (password.size() < 8)
        return fail(err, usageFailure("hasło musi mieć co najmniej 8 znaków"));
    int code = kExitOk;
    auto link = connectTo(uri, err, code);
    if (!link)
        return code;
    if (const reg::PgError e = reg::serverAddUser(*link, login, role, password); !e.ok())
        return serverFailure(err, e);
    out << "Login " << plain(login) << " ma rolę " << role << ".\n";
    return kExitOk;
}

int runRegisterConnect(const RegisterChoice& choice, const std::string& uri, std::ostream& out,
                       std::ostream& err) {
    std::string why;
    if (!reg::PgLink::secureUri(uri, why))
        return fail(err, usageFailure(why));
    int code = kExitOk;
    auto link = connectTo(uri, err, code);
    if (!link)
        return code;
    reg::PgLink::Rows info;
    if (!link->exec("SELECT role FROM trellikon.server_info()", {}, &info))
        return serverFailure(err, link->error());
    const std::string role = info.cell(0, 0);
    if (role.empty())
        return fail(err, usageFailure("login " + plain(link->user()) +
                                      " nie ma roli w rejestrze firmy (server add-user)"));
    auto r = openRegister(choice, true, err, code);
    if (!r)
        return code;
    const std::string shown = reg::PgLink::shownUri(uri);
    if (const reg::Status s = reg::joinCompany(*r, shown, link->user()); !s.ok())
        return fail(err, s.failure);
    if (const Failure f = reg::setCompanyAddress(uri); !f.ok())
        return fail(err, concerning("nie można zapamiętać adresu rejestru firmy: ", f));
    out << "Połączono z rejestrem firmy " << plain(shown) << " (rola " << role
        << "). Synchronizacja: " << kProgramName << " register sync\n";
    return kExitOk;
}

int runRegisterDisconnect(const RegisterChoice& choice, std::ostream& out, std::ostream& err) {
    int code = kExitOk;
    auto r = openRegister(choice, true, err, code);
    if (!r)
        return code;
    const auto state = reg::companyState(*r);
    if (!state.ok())
        return fail(err, state.failure);
    if (state.value.waitingChanges > 0)
        err << kProgramName
            << ": zmiany, które nie trafiły na serwer i nie trafią: " << state.value.waitingChanges
            << "; rejestr zachowuje je u siebie\n";
    if (const reg::Status s = reg::leaveCompany(*r); !s.ok())
        return fail(err, s.failure);
    if (const Failure f = reg::setCompanyAddress({}); !f.ok())
        return fail(err, f);
    out << "Rozłączono z rejestrem firmy; rejestr na tym komputerze zostaje bez zmian.\n";
    return kExitOk;
}

int runRegisterSync(const RegisterChoice& choice, std::ostream& out, std::ostream& err) {
    int code = kExitOk;
    auto r = openRegister(choice, true, err, code);
    if (!r)
        return code;
    if (!r->company())
        return fail(err, usageFailure("rejestr nie jest połączony z rejestrem firmy "
                                      "(register connect URL)"));
    auto link = connectJoined(err, code);
    if (!link) {
        const auto state = reg::companyState(*r);
        if (state.ok() && state.value.waitingChanges > 0)
            err << kProgramName << ": zmiany czekające na wysłanie: " << state.value.waitingChanges
                << "; nic nie zginęło\n";
        return code;
    }
    const reg::SyncReport report = reg::synchronise(*r, *link);
    if (!report.notice.empty())
        err << kProgramName << ": " << plain(report.notice) << '\n';
    if (!report.ok())
        return serverFailure(err, report.error);
    out << "Zsynchronizowano: wysłano " << report.pushed << ", pobrano " << report.pulled;
    if (report.conflicts > 0)
        out << ", nowe konflikty: " << report.conflicts << " (" << kProgramName << " conflicts)";
    if (report.erased > 0)
        out << ", usunięte na polecenie administratora: " << report.erased;
    out << '\n';
    return kExitOk;
}

int runRegisterStatus(const RegisterChoice& choice, std::ostream& out, std::ostream& err) {
    int code = kExitOk;
    auto r = openRegister(choice, false, err, code);
    if (!r)
        return code;
    const auto state = reg::companyState(*r);
    if (!state.ok())
        return fail(err, state.failure);
    if (!state.value.joined) {
        out << "Rejestr niepołączony z rejestrem firmy\n";
        return kExitOk;
    }
    out << plain(state.value.server) << "  ostatnia synchronizacja " << when(state.value.syncedUtc)
        << "  czeka na wysłanie: "
        << reg::countOf(static_cast<int>(state.value.waitingChanges), "zmiana", "zmiany", "zmian")
        << " ("
        << reg::countOf(static_cast<int>(state.value.waitingVersions), "wersja", "wersje", "wersji")
        << ")\n";
    return kExitOk;
}

int runRename(const RegisterChoice& choice, const std::string& from, const std::string& to,
              std::ostream& err) {
    int code = kExitOk;
    auto r = openRegister(choice, true, err, code);
    if (!r)
        return code;
    const auto found = r->installationNamed(from);
    if (!found.ok())
        return fail(err, found.failure);
    if (!found.value)
        return fail(err, usageFailure("w rejestrze nie ma instalacji „" + plain(from) + "”"));
    const reg::Installation& i = *found.value;
    if (const reg::Status s = r->updateInstallation(i.id, to, i.notes, i.devicePhone); !s.ok())
        return fail(err, s.failure);
    return kExitOk;
}

namespace {

const char* fieldWord(const std::string& field) {
    if (field == reg::field::kName)
        return "nazwa";
    if (field == reg::field::kNotes)
        return "notatki";
    if (field == reg::field::kDevicePhone)
        return "numer-urządzenia";
    if (field == reg::field::kSameSite)
        return "ta-sama-instalacja";
    return "pole";
}

std::string orDash(const std::string& s) {
    return s.empty() ? std::string("-") : plain(s);
}

} // namespace

int runConflicts(const RegisterChoice& choice, std::ostream& out, std::ostream& err) {
    int code = kExitOk;
    auto r = openRegister(choice, false, err, code);
    if (!r)
        return code;
    const auto all = reg::companyConflicts(*r);
    if (!all.ok())
        return fail(err, all.failure);
    for (const reg::Conflict& k : all.value)
        out << k.id << "  " << orDash(k.name) << "  " << fieldWord(k.field) << "  "
            << orDash(k.kept) << "  " << orDash(k.lost) << "  " << orDash(k.lostWho) << "  "
            << when(k.lostAtUtc) << '\n';
    return kExitOk;
}

int runResolve(const RegisterChoice& choice, const std::string& id, const std::string& which,
               std::ostream& out, std::ostream& err) {
    if (which != "kept" && which != "lost")
        return fail(err, usageFailure("resolve ID kept|lost: „" + plain(which) +
                                      "” nie jest "
                                      "ani kept, ani lost"));
    if (id.empty() || id.size() > 18 || id.find_first_not_of("0123456789") != std::string::npos)
        return fail(err, usageFailure("„" + plain(id) + "” nie jest numerem konfliktu"));
    int code = kExitOk;
    auto r = openRegister(choice, true, err, code);
    if (!r)
        return code;
    if (const reg::Status s = reg::resolveConflict(*r, std::stoll(id), which == "lost"); !s.ok())
        return fail(err, s.failure);
    out << "Konflikt " << id << " rozstrzygnięty; zmiana trafi do innych przy synchronizacji.\n";
    return kExitOk;
}

int runErase(const RegisterChoice& choice, const std::string& name, bool yes, std::ostream& out,
             std::ostream& err) {
    if (!yes)
        return fail(err, usageFailure("erase usuwa dane klienta na zawsze, z serwera i z każdego "
                                      "komputera: potwierdź opcją --yes"));
    int code = kExitOk;
    auto r = openRegister(choice, true, err, code);
    if (!r)
        return code;
    auto link = connectJoined(err, code);
    if (!link)
        return code;
    if (const reg::PgError e = reg::serverErase(*link, name, r->storage().pcId()); !e.ok())
        return serverFailure(err, e);
    // This laptop erases at once, the others at their next sync.
    const reg::SyncReport report = reg::synchronise(*r, *link);
    if (!report.ok())
        return serverFailure(err, report.error);
    out << "Dane instalacji „" << plain(name)
        << "” usunięto z serwera i z tego komputera; inne komputery usuną je przy następnej "
           "synchronizacji. Wyeksportowane pliki pozostają poza zasięgiem programu.\n";
    return kExitOk;
}

int runServerInstallations(const std::string& search, std::ostream& out, std::ostream& err) {
    int code = kExitOk;
    auto link = connectJoined(err, code);
    if (!link)
        return code;
    std::vector<reg::ServerFound> found;
    if (const reg::PgError e = reg::serverSearch(*link, search, found); !e.ok())
        return serverFailure(err, e);
    for (const reg::ServerFound& f : found) {
        out << plain(f.name) << "  " << reg::countOf(f.versions, "wersja", "wersje", "wersji")
            << "  ostatnia wizyta " << when(f.lastVisitUtc) << '\n';
        if (!f.matches.empty())
            out << "    " << plain(f.matches) << '\n';
    }
    return kExitOk;
}

int runServerHistory(const std::string& name, std::ostream& out, std::ostream& err) {
    int code = kExitOk;
    auto link = connectJoined(err, code);
    if (!link)
        return code;
    std::vector<reg::VersionInfo> versions;
    if (const reg::PgError e = reg::serverHistory(*link, name, versions); !e.ok())
        return serverFailure(err, e);
    for (const reg::VersionInfo& v : versions)
        out << v.uuid.substr(0, 8) << "  " << when(v.timeUtc) << "  " << plain(v.kind) << "  "
            << plain(v.installationName) << "  " << plain(v.summary) << '\n';
    return kExitOk;
}

} // namespace trellikon::cli
