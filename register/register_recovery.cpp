#include "register_recovery.h"

#include "file_system.h"
#include "register_location.h"
#include "register_location_system.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

namespace trellikon::reg {

namespace fs = std::filesystem;

namespace {

// The register's own files: SQLite keeps the log and its index beside it.
const char* const kParts[] = {"", "-wal", "-shm"};

} // namespace

std::optional<DailyCopy> newestCopy(const std::string& file) {
    const std::vector<std::string> copies = registerCopies(file);
    if (copies.empty())
        return std::nullopt;
    const std::string& newest = copies.front();
    // registerCopies gives only names ending in "YYYY-MM-DD".
    const std::string day = newest.substr(newest.size() - 10);
    return DailyCopy{newest, day.substr(8, 2) + "." + day.substr(5, 2) + "." + day.substr(0, 4)};
}

std::string asideName(const std::string& file, const std::tm& when) {
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d-%02d%02d%02d", when.tm_year + 1900,
                  when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
    return file + ".uszkodzony-" + stamp;
}

std::string putAside(const std::string& file, const std::string& aside) {
    for (const char* part : kParts)
        if (fileExists(aside + part))
            return "plik „" + aside + part + "” już istnieje";
    std::vector<const char*> moved;
    for (const char* part : kParts) {
        if (!fileExists(file + part))
            continue;
        if (!replaceFile(file + part, aside + part)) {
            for (const char* back : moved)
                replaceFile(aside + back, file + back);
            return "nie można przenieść pliku „" + file + part + "”";
        }
        moved.push_back(part);
    }
    return {};
}

std::string restoreCopy(const std::string& file, const DailyCopy& copy, const std::string& aside) {
    if (std::string why = putAside(file, aside); !why.empty())
        return why;
    std::error_code ec;
    // Made beside the register and renamed over it, so that a copy cut short
    // never stands where the register is looked for.
    const std::string temporary = file + ".przywracanie";
    fs::remove(pathOf(temporary), ec);
    fs::copy_file(pathOf(copy.file), pathOf(temporary), ec);
    if (!ec) {
        keepPrivate(temporary);
        if (replaceFile(temporary, file))
            return {};
    }
    const std::string reason = ec ? "nie można jej skopiować" : "nie można zastąpić nią rejestru";
    removeFile(temporary);
    for (const char* part : kParts)
        if (fileExists(aside + part))
            replaceFile(aside + part, file + part);
    return "nie można przywrócić kopii „" + copy.file + "”: " + reason;
}

std::string FileBackup::storeBackup(const SettingsImage::Bytes& bytes, const std::string&) {
    if (const Failure f = saveFileAtomically(file_, bytes.data(), bytes.size()))
        return "nie można zapisać pliku „" + file_ + "”: " + f.message;
    keepPrivate(file_);
    return {};
}

} // namespace trellikon::reg
