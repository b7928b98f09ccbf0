// A build without libpq: the company register is not reachable from it.
#include "pg_link.h"

namespace trellikon::reg {

struct PgLink::Impl {};

namespace {
const char* const kAbsent =
    "ta wersja programu nie obsługuje rejestru firmy (brak biblioteki libpq)";
}

std::optional<std::string> PgLink::secureUri(const std::string&, std::string& why) {
    why = kAbsent;
    return std::nullopt;
}
std::string PgLink::shownUri(const std::string& uri) {
    return uri;
}
bool PgLink::available() {
    return false;
}
std::unique_ptr<PgLink> PgLink::connect(const std::string&, PgError& error) {
    error = {PgError::Refused, kAbsent};
    return nullptr;
}
PgLink::PgLink(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PgLink::~PgLink() = default;
bool PgLink::exec(const std::string&, const Params&, Rows*) {
    error_ = {PgError::Refused, kAbsent};
    return false;
}
bool PgLink::script(const std::string&) {
    error_ = {PgError::Refused, kAbsent};
    return false;
}
std::string PgLink::user() const {
    return {};
}
int PgLink::backendPid() const {
    return 0;
}
std::optional<std::string> PgLink::encryptedPassword(const std::string&, const std::string&) {
    return std::nullopt;
}

} // namespace trellikon::reg
