#pragma once
// Where the register lives, and the files around it: the one place of the
// register that knows the operating system.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace trellikon::reg {

// The file name given on the command line, else the environment's
// TRELLIKON_REGISTER, else the user's own: $XDG_DATA_HOME/trellikon/rejestr.sqlite
// (~/.local/share when unset) or %APPDATA%\Trellikon\rejestr.sqlite. Empty
// when no home is known.
std::string registerPath(const std::string& given);

// The default, as the help text names it (lines broken for its column).
std::string defaultRegisterText();

// Creates the register's folder when missing; on Linux a new folder is the
// user's alone (0700). Empty on success, else the reason.
std::string prepareFolder(const std::string& file);
// On Linux: the file is the user's alone (0600).
void keepPrivate(const std::string& file);
bool fileExists(const std::string& file);
// Whether the name itself is a symbolic link (not followed).
bool isSymbolicLink(const std::string& file);
// Whether the name is something other than a file (a folder, a device).
bool isOtherThanFile(const std::string& file);
// The file's size in bytes; 0 when it is missing or cannot be looked at.
std::uintmax_t fileSize(const std::string& file);
// The whole file; false when it cannot be read.
bool readWholeFile(const std::string& file, std::string& out);
// Whether this program may change the file and create files beside it (a
// read-only disk, a read-only file or folder cannot be).
bool writablePlace(const std::string& file);

// The rotating copies of the register: "<file>.kopia-YYYY-MM-DD", newest first.
std::vector<std::string> registerCopies(const std::string& file);
std::string copyName(const std::string& file, const std::string& day);
// Replaces `to` with `from` (both UTF-8 names); false when it could not.
bool replaceFile(const std::string& from, const std::string& to);
void removeFile(const std::string& file);
// The SQLite URI that opens the file for reading only, changing nothing (not
// even its write-ahead log): how a damaged register is opened.
std::string untouchedUri(const std::string& file);

// A moment given in UTC as this computer's local time; false when the system
// cannot convert it.
bool localTimeOf(std::tm utc, std::tm& local);

} // namespace trellikon::reg
