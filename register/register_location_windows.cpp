// Where the register lives on Windows: the roaming application data folder;
// the folder's own permissions already keep it the user's.
#include "register_location.h"
#include "register_location_system.h"
#include "windows_text.h"

#include <cstdlib>

#include <windows.h>

namespace trellikon::reg {

std::string environment(const char* name) {
    const wchar_t* value = ::_wgetenv(widen(name).c_str());
    if (!value)
        return {};
    return narrowExact(value).value_or(std::string());
}

std::string userRegisterPath() {
    const std::string appData = environment("APPDATA");
    if (appData.empty())
        return {};
    return nameOf(pathOf(appData) / "Trellikon" / "rejestr.sqlite");
}

std::string defaultRegisterText() {
    return "%APPDATA%\\Trellikon\\rejestr.sqlite";
}

void keepFolderPrivate(const std::filesystem::path&) {}

void keepPrivate(const std::string&) {}

bool mayWrite(const std::filesystem::path& p) {
    // A folder's read-only attribute says nothing about its files; a file's does.
    const DWORD attributes = ::GetFileAttributesW(p.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           ((attributes & FILE_ATTRIBUTE_DIRECTORY) || !(attributes & FILE_ATTRIBUTE_READONLY));
}

std::string uriPath(const std::string& file) {
    std::string path;
    if (file.size() > 1 && file[1] == ':')
        path += '/'; // "C:\x" is "file:/C:/x" to SQLite
    for (char c : file)
        path += c == '\\' ? '/' : c;
    return path;
}

bool localTimeOf(std::tm utc, std::tm& local) {
    const std::time_t t = _mkgmtime(&utc);
    return t != -1 && localtime_s(&local, &t) == 0;
}

} // namespace trellikon::reg
