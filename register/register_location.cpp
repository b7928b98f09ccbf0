#include "register_location.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include "windows_text.h"
#endif

namespace trellikon::reg {

namespace fs = std::filesystem;

namespace {

// UTF-8 names on every system: on Windows a std::string would be taken for
// the ANSI code page, which cannot carry every name.
fs::path pathOf(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string nameOf(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

std::string environment(const char* name) {
#ifdef _WIN32
    const wchar_t* value = ::_wgetenv(widen(name).c_str());
    if (!value)
        return {};
    return narrowExact(value).value_or(std::string());
#else
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
#endif
}

} // namespace

std::string registerPath(const std::string& given) {
    if (!given.empty())
        return given;
    if (std::string env = environment("TRELLIKON_REGISTER"); !env.empty())
        return env;
#ifdef _WIN32
    const std::string appData = environment("APPDATA");
    if (appData.empty())
        return {};
    return nameOf(pathOf(appData) / "Trellikon" / "rejestr.sqlite");
#else
    std::string data = environment("XDG_DATA_HOME");
    if (data.empty() || data[0] != '/') { // a relative value is to be ignored
        const std::string home = environment("HOME");
        if (home.empty())
            return {};
        data = home + "/.local/share";
    }
    return data + "/trellikon/rejestr.sqlite";
#endif
}

std::string defaultRegisterText() {
#ifdef _WIN32
    return "%APPDATA%\\Trellikon\\rejestr.sqlite";
#else
    return "$XDG_DATA_HOME/trellikon/rejestr.sqlite\n"
           "             (~/.local/share/trellikon/rejestr.sqlite, gdy XDG_DATA_HOME nie jest\n"
           "             ustawiona)";
#endif
}

std::string prepareFolder(const std::string& file) {
    const fs::path folder = pathOf(file).parent_path();
    if (folder.empty())
        return {};
    std::error_code ec;
    if (fs::is_directory(folder, ec))
        return {};
    fs::create_directories(folder, ec);
    if (ec)
        return "nie można utworzyć katalogu „" + nameOf(folder) + "”: " + ec.message();
#ifndef _WIN32
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
#endif
    return {};
}

void keepPrivate(const std::string& file) {
#ifndef _WIN32
    std::error_code ec;
    fs::permissions(pathOf(file), fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace, ec);
#else
    (void)file;
#endif
}

bool fileExists(const std::string& file) {
    std::error_code ec;
    return fs::exists(pathOf(file), ec);
}

std::string copyName(const std::string& file, const std::string& day) {
    return file + ".kopia-" + day;
}

std::vector<std::string> registerCopies(const std::string& file) {
    const fs::path p = pathOf(file);
    const std::string prefix = nameOf(p.filename()) + ".kopia-";
    std::vector<std::string> copies;
    std::error_code ec;
    fs::path folder = p.parent_path();
    if (folder.empty())
        folder = ".";
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = nameOf(it->path().filename());
        // "YYYY-MM-DD" after the prefix and nothing else (not a copy being made).
        if (name.size() == prefix.size() + 10 && name.rfind(prefix, 0) == 0)
            copies.push_back(nameOf(p.parent_path() / it->path().filename()));
    }
    std::sort(copies.rbegin(), copies.rend());
    return copies;
}

bool replaceFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(pathOf(from), pathOf(to), ec);
    return !ec;
}

void removeFile(const std::string& file) {
    std::error_code ec;
    fs::remove(pathOf(file), ec);
}

std::string untouchedUri(const std::string& file) {
    std::string uri = "file:";
#ifdef _WIN32
    // "C:\x" is "file:/C:/x" to SQLite.
    if (file.size() > 1 && file[1] == ':')
        uri += '/';
#endif
    for (char c : file) {
        if (c == '%' || c == '?' || c == '#') {
            static const char* const digits = "0123456789abcdef";
            const auto u = static_cast<unsigned char>(c);
            uri += '%';
            uri += digits[u >> 4];
            uri += digits[u & 15];
        }
#ifdef _WIN32
        else if (c == '\\')
            uri += '/';
#endif
        else
            uri += c;
    }
    return uri + "?mode=ro&immutable=1";
}

} // namespace trellikon::reg
