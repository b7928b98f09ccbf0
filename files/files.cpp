// The readers of the program's two file formats: the system's part is
// readRegularFile, the format's part lives in settings/.
#include "files.h"

#include "template_file.h"

namespace trellikon {

TemplateLoad loadTemplate(const std::string& path) {
    TemplateLoad r;
    FileRead file = readRegularFile(path, layout::kImageSize);
    r.fileSize = file.fileSize;
    r.failure = std::move(file.failure);
    r.bytes = templateImage(file.bytes);
    return r;
}

namespace csv {

CallerText readCallerFile(const std::string& path) {
    CallerText r;
    const FileRead file = readRegularFile(path, kLargestFile + 1);
    if (!file.ok()) {
        r.failure = file.failure;
        return r;
    }
    if (file.fileSize > kLargestFile || file.bytes.size() > kLargestFile) {
        r.failure =
            makeFailure(Failure::Code::FileTooLarge,
                        "plik jest większy niż 1 MiB; lista abonentów ma najwyżej 168 numerów");
        return r;
    }
    return decodeCallerText(
        std::string_view(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size()));
}

} // namespace csv

} // namespace trellikon
