#pragma once
// The company register: a laptop's register synchronised with the company's
// PostgreSQL server (company_server.sql). Every change made here waits in the
// register's outbox (company_log.h) until a sync pushes it; a sync then pulls
// what the other laptops pushed, after the last change it has seen. A change
// carries its own id, so a sync cut anywhere is simply made again: the server
// applies each change once, and a pulled page is taken in whole, with the
// point it reached, or not at all.
//
// Fields of an installation (name, notes, the device's number) and of a
// version (its installation, kind, summary) take the latest change by a
// hybrid logical clock; a value that loses to a change made without knowing
// it is kept as a conflict. Versions never change, so both sides keep all.

#include "company_log.h"
#include "pg_link.h"
#include "register.h"

#include <cstdint>
#include <functional>
#include <string>

namespace trellikon::reg {

// The register_meta rows of a joined register.
namespace meta {
inline constexpr const char* kServer = "company_server"; // the server as shown; empty: not joined
inline constexpr const char* kLogin = "company_login";   // who this laptop's changes are by
inline constexpr const char* kAfter = "company_after";   // the last change pulled
inline constexpr const char* kSynced = "company_synced"; // when the last sync ended (UTC)
inline constexpr const char* kHlc = "company_hlc";       // the latest clock made or seen
} // namespace meta

// The server's schema this program was made for; a server whose oldest
// client is newer refuses to synchronise with it.
inline constexpr int kCompanySchema = 1;

// A hybrid logical clock: milliseconds, a counter for changes within one, and
// the computer; its text orders as the clock does.
struct Hlc {
    std::int64_t ms = 0;
    int counter = 0;
    std::string pc;
    static Hlc parse(const std::string& text);
    std::string text() const;
    Hlc next(std::int64_t nowMs, const std::string& pcId) const;
};

// The company register's address the user joined, kept in the user's
// settings (never a password): empty when none.
std::string companyAddress();
Failure setCompanyAddress(const std::string& uri);

struct SyncReport {
    int pushed = 0;     // changes the server took now
    int pulled = 0;     // changes taken in from the server
    int conflicts = 0;  // new conflicts found
    int erased = 0;     // installations erased on the administrator's order
    std::string notice; // what the installer should know (a newer server)
    PgError error;
    bool ok() const { return error.ok(); }
};

struct SyncOptions {
    std::size_t pushBatch = 200;
    int pullPage = 500;
    // Called before each push batch and pull page ("push"/"pull", its
    // number from 0): tests cut the connection there.
    std::function<void(const char* step, int n)> step;
};

// Joins the register to a company register: everything already in it waits
// to be pushed. `server` is how the server is shown, `login` who pushes.
Status joinCompany(Register& r, const std::string& server, const std::string& login);
// Leaves it: nothing waits any more; the register keeps all it has.
Status leaveCompany(Register& r);

SyncReport synchronise(Register& r, PgLink& link, const SyncOptions& options = {});

// One line for the register window and `register status`.
struct CompanyState {
    bool joined = false;
    std::string server;
    std::string syncedUtc; // empty: never
    long long waitingChanges = 0;
    long long waitingVersions = 0;
};
Result<CompanyState> companyState(Register& r);

Result<std::vector<Conflict>> companyConflicts(Register& r);
// Keeps the value that won (`keepLost` false) or brings back the one that
// lost, as a new change; for the same site created twice, `keepLost` false
// merges the newer into the older and true keeps both.
Status resolveConflict(Register& r, Id conflict, bool keepLost);

} // namespace trellikon::reg
