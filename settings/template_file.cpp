#include "template_file.h"

#include <algorithm>

namespace trellikon {

TemplateLoad loadTemplate(const std::string& path) {
    TemplateLoad r;
    r.bytes.fill(0x1A);
    FileRead file = readRegularFile(path, r.bytes.size());
    r.fileSize = file.fileSize;
    r.error = std::move(file.error);
    std::copy(file.bytes.begin(), file.bytes.end(), r.bytes.begin());
    r.ok = file.ok;
    return r;
}

} // namespace trellikon
