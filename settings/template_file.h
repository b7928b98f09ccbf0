#pragma once
// Template files (*.sbn): the 4096 image bytes and nothing else.

#include "settings_image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace trellikon {

// The reasons a template does not load that an installer meets, in the
// program's own words (rarer ones come in the system's).
namespace load_reason {
inline constexpr const char* kMissing = "plik nie istnieje";
inline constexpr const char* kNoPermission = "brak uprawnień do odczytu pliku";
inline constexpr const char* kDirectory = "to jest katalog, nie plik";
inline constexpr const char* kNotRegularFile = "to nie jest zwykły plik";
} // namespace load_reason

struct TemplateLoad {
    bool ok = false;
    SettingsImage::Bytes bytes{};
    std::uintmax_t fileSize = 0; // as found on disk; 4096 is the only regular size
    std::string error;           // why the file could not be read, when !ok; in Polish
};

struct FileRead {
    bool ok = false;
    std::vector<std::uint8_t> bytes; // at most the limit asked for
    std::uintmax_t fileSize = 0;     // as found on disk
    std::string error;               // why the file could not be read, when !ok; in Polish
};

// Reads at most `limit` bytes from the start of a file. Anything that is not a
// regular file (a directory, a named pipe, a device) is refused at once,
// without waiting and without opening it; unreadable files fail too.
FileRead readRegularFile(const std::string& path, std::size_t limit);

// Reads the first 4096 bytes of a file; a shorter file leaves the rest of the
// image at 0x1A, further bytes are ignored. Anything that is not a regular file
// (a directory, a named pipe, a device) is refused at once, without waiting;
// unreadable files fail too.
TemplateLoad loadTemplate(const std::string& path);

// Writes the bytes to `path` so that the file is either the complete new
// content or left as it was: a temporary file beside it, flushed to disk, then
// renamed over the target. Returns an empty string on success, else the reason.
std::string saveFileAtomically(const std::string& path, const std::uint8_t* data,
                               std::size_t size);

} // namespace trellikon
