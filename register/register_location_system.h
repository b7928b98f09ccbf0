#pragma once
// What register_location.cpp asks the system, answered by
// register_location_posix.cpp or register_location_windows.cpp.

#include <filesystem>
#include <string>

namespace trellikon::reg {

// UTF-8 names on every system: on Windows a std::string would be taken for
// the ANSI code page, which cannot carry every name.
inline std::filesystem::path pathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string nameOf(const std::filesystem::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

// An environment variable in UTF-8; empty when unset or not text.
std::string environment(const char* name);
// The user's own register file; empty when no home is known.
std::string userRegisterPath();
// A folder the program just made is the user's alone where the system can say so.
void keepFolderPrivate(const std::filesystem::path& folder);
// Whether this user may write the file or create files in the folder (false
// on a read-only disk too).
bool mayWrite(const std::filesystem::path& p);
// The file's name as a SQLite URI's path takes it ("C:\x" is "/C:/x").
std::string uriPath(const std::string& file);

} // namespace trellikon::reg
