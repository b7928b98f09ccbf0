// Where the register lives on Linux: the XDG data folder, files and folders
// the user's alone.
#include "register_location.h"
#include "register_location_system.h"

#include <cstdlib>
#include <system_error>

#include <unistd.h>

namespace trellikon::reg {

namespace fs = std::filesystem;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string userRegisterPath() {
    std::string data = environment("XDG_DATA_HOME");
    if (data.empty() || data[0] != '/') { // a relative value is to be ignored
        const std::string home = environment("HOME");
        if (home.empty())
            return {};
        data = home + "/.local/share";
    }
    return data + "/trellikon/rejestr.sqlite";
}

std::string defaultRegisterText() {
    return "$XDG_DATA_HOME/trellikon/rejestr.sqlite\n"
           "(~/.local/share/trellikon/rejestr.sqlite, gdy XDG_DATA_HOME nie jest\n"
           "ustawiona)";
}

void keepFolderPrivate(const fs::path& folder) {
    std::error_code ec;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
}

void keepPrivate(const std::string& file) {
    std::error_code ec;
    fs::permissions(pathOf(file), fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace, ec);
}

bool mayWrite(const fs::path& p) {
    return ::access(p.c_str(), W_OK) == 0;
}

std::string uriPath(const std::string& file) {
    return file;
}

bool localTimeOf(std::tm utc, std::tm& local) {
    const std::time_t t = timegm(&utc);
    return t != -1 && localtime_r(&t, &local) != nullptr;
}

} // namespace trellikon::reg
