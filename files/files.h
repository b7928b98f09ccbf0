#pragma once
// The program's two file formats on disk: a template as the image it gives,
// a caller list as text. The bytes come from file_system.h, the formats from
// settings/ (template_file.h, subscriber_csv.h).

#include "file_system.h"
#include "settings_image.h"
#include "subscriber_csv.h"

#include <cstdint>
#include <string>

namespace trellikon {

struct TemplateLoad {
    SettingsImage::Bytes bytes{};
    std::uintmax_t fileSize = 0; // as found on disk; 4096 is the only regular size
    Failure failure;             // why the file could not be read

    bool ok() const { return !failure; }
};

// Reads a template as the image it gives (template_file.h): the first 4096
// bytes, a shorter file padded with 0x1A. Only a regular file is read.
TemplateLoad loadTemplate(const std::string& path);

namespace csv {
// A caller list chosen by the user, decoded to UTF-8 text (decodeCallerText):
// not a regular file, or larger than kLargestFile (FileTooLarge), is refused
// without reading it.
CallerText readCallerFile(const std::string& path);
} // namespace csv

} // namespace trellikon
