#pragma once
// Files on disk as bytes and names, the same functions on every system.
// Names are UTF-8 on Windows (turned into the wide names of the system's
// calls there) and the system's own bytes elsewhere. Nothing here knows a
// file format: files.h reads the program's formats through these.
//
//   readRegularFile     the start of a regular file, anything else refused unopened
//   FileReader          a regular file read a piece at a time, however large
//   saveFileAtomically  a file replaced whole or left as it was, shared or private
//   pathKind            what a name stands for: nothing, a folder, a file, other
//   userConfigFile      where a small file of the user's own settings lives
//
// files_posix.cpp and files_windows.cpp hold the system calls; what Windows
// takes for a device rather than a file is a rule of its own (device_names.cpp),
// tested on every system.

#include "failure.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trellikon {

// The reasons a file is not read or saved that an installer meets, in the
// program's own words (rarer ones come in the system's).
namespace load_reason {
inline constexpr const char* kMissing = "plik nie istnieje";
inline constexpr const char* kNoPermission = "brak uprawnień do odczytu pliku";
inline constexpr const char* kDirectory = "to jest katalog, nie plik";
inline constexpr const char* kNotRegularFile = "to nie jest zwykły plik";
inline constexpr const char* kDeviceName =
    "ta nazwa oznacza w systemie Windows urządzenie (np. port COM), nie plik";
inline constexpr const char* kBadName = "nazwa pliku nie jest poprawnym tekstem UTF-8";
// A save whose final replace another program keeps refusing (a spreadsheet
// holding a CSV, a PDF viewer, an antivirus or a cloud client).
inline constexpr const char* kHeldElsewhere =
    "Plik jest otwarty w innym programie – zamknij go i zapisz ponownie";
} // namespace load_reason

// A file's failure: the message is the reason above that goes with the code,
// or for FileOther the system's words (`systemText`), which the detail keeps.
inline Failure fileFailure(Failure::Code code, std::string systemText = {}) {
    using C = Failure::Code;
    const char* reason = code == C::FileMissing         ? load_reason::kMissing
                         : code == C::FileNoPermission  ? load_reason::kNoPermission
                         : code == C::FileIsDirectory   ? load_reason::kDirectory
                         : code == C::FileNotRegular    ? load_reason::kNotRegularFile
                         : code == C::FileDeviceName    ? load_reason::kDeviceName
                         : code == C::FileBadName       ? load_reason::kBadName
                         : code == C::FileHeldElsewhere ? load_reason::kHeldElsewhere
                                                        : nullptr;
    std::string message = reason ? std::string(reason) : systemText;
    return makeFailure(code, std::move(message), std::move(systemText));
}

struct FileRead {
    std::vector<std::uint8_t> bytes; // at most the limit asked for
    std::uintmax_t fileSize = 0;     // as found on disk
    Failure failure;                 // why the file could not be read

    bool ok() const { return !failure; }
};

// Reads at most `limit` bytes from the start of a file. Anything that is not a
// regular file (a directory, a named pipe, a device, a Windows device name such
// as "COM3.sbn") is refused at once, without waiting and without opening it;
// unreadable files fail too.
FileRead readRegularFile(const std::string& path, std::size_t limit);

// A regular file opened under readRegularFile's rules, read from the start a
// piece at a time: for a file whose size alone may refuse it, or that is too
// large to hold whole.
class FileReader {
  public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // No failure when the file is open; anything that is not a regular file
    // is refused unopened.
    Failure open(const std::string& path);
    // As found on disk when opened.
    std::uintmax_t size() const { return size_; }
    // Up to n bytes into the buffer: how many, 0 at the end of the file, or a
    // negative number when reading failed (failure() says why).
    long long read(std::uint8_t* buffer, std::size_t n);
    // Back to the first byte; false when not possible.
    bool rewind();
    const Failure& failure() const { return failure_; }

  private:
    void close();
    std::intptr_t handle_ = -1; // the descriptor, or the Windows handle
    std::uintmax_t size_ = 0;
    Failure failure_;
};

// Who may read a file the program saves. A Private file holds residents'
// numbers (a register export, a device's settings read out, a settings sheet,
// a caller list): on Linux it is the user's alone (0600), whether it is new or
// replaces one; a Shared file gets what a new file gets from the umask, or
// keeps the permissions of the file it replaces. On Windows a file has its
// folder's permissions either way.
enum class FileAccess { Shared, Private };

// Writes the bytes to `path` so that the file is either the complete new
// content or left as it was: a temporary file beside it, flushed to disk, then
// renamed over the target. A name that is not a file's (a folder, a device, a
// Windows device name) is refused before anything is opened, and nothing is
// written to what turns out not to be a disk file. On Windows a replace that
// another program's open handle refuses is tried again for up to 1 s, then
// refused with load_reason::kHeldElsewhere; the old file stays. Returns no
// failure on success.
Failure saveFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size,
                           FileAccess access = FileAccess::Shared);

enum class PathKind { Missing, Directory, RegularFile, Other };
// What the name stands for now (a link counts as what it leads to).
PathKind pathKind(const std::string& path);

// Which of Windows' rules for device names applies: up to Windows 10 a device
// name is one in any folder and with any extension ("C:\x\COM3.sbn"); Windows
// 11 takes only the bare name for a device, and "NUL" in any folder.
enum class DeviceNameRule { UpToWindows10, Windows11 };
// Whether Windows opens a device rather than a file under this name (UTF-8):
// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 and their superscript forms
// (COM¹, LPT³), in any case, with trailing blanks and dots; and the \\.\ and
// \\?\ device paths.
bool isWindowsDeviceName(std::string_view path, DeviceNameRule rule);

// The file `name` in the program's folder of the user's settings
// ($XDG_CONFIG_HOME/trellikon or ~/.config/trellikon, %APPDATA%\trellikon);
// empty when no home is known.
std::string userConfigFile(const std::string& name);

// Creates the folders a file's name leads through, as far as they are
// missing, each the user's alone on Linux (0700); what fails shows when the
// file is saved.
void createFoldersFor(const std::string& path);

} // namespace trellikon

namespace trellikon {

// Marks this process as a running Trellikon program for as long as it runs,
// so that the Windows installer and uninstaller refuse to replace or remove
// files in use (a named mutex there; nothing elsewhere). Called once by each
// program's main().
void markProgramRunning();

// The mutex's name; the installer script asks for the same one.
inline constexpr const char* kRunningMarkName = "Trellikon.ProgramRunning";

} // namespace trellikon
