#include "register_location.h"

#include "register_location_system.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>

namespace trellikon::reg {

namespace fs = std::filesystem;

std::string registerPath(const std::string& given) {
    if (!given.empty())
        return given;
    if (std::string env = environment("TRELLIKON_REGISTER"); !env.empty())
        return env;
    return userRegisterPath();
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
    keepFolderPrivate(folder);
    return {};
}

bool fileExists(const std::string& file) {
    std::error_code ec;
    return fs::exists(pathOf(file), ec);
}

bool isSymbolicLink(const std::string& file) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(pathOf(file), ec));
}

bool isOtherThanFile(const std::string& file) {
    std::error_code ec;
    const fs::file_status s = fs::symlink_status(pathOf(file), ec);
    return !ec && fs::exists(s) && !fs::is_regular_file(s);
}

std::uintmax_t fileSize(const std::string& file) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(pathOf(file), ec);
    return ec ? 0 : size;
}

bool readWholeFile(const std::string& file, std::string& out) {
    out.clear();
    std::ifstream in(pathOf(file), std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writablePlace(const std::string& file) {
    fs::path folder = pathOf(file).parent_path();
    if (folder.empty())
        folder = ".";
    return mayWrite(folder) && (!fileExists(file) || mayWrite(pathOf(file)));
}

std::string copyName(const std::string& file, const std::string& day) {
    return file + ".kopia-" + day;
}

namespace {

bool isDay(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i)
        if (i == 4 || i == 7 ? s[i] != '-' : (s[i] < '0' || s[i] > '9'))
            return false;
    return s.size() == 10;
}

} // namespace

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
        // "YYYY-MM-DD" after the prefix and nothing else (not a copy being made,
        // not a file that only looks like one): its day is shown and restored.
        if (name.size() == prefix.size() + 10 && name.rfind(prefix, 0) == 0 &&
            isDay(std::string_view(name).substr(prefix.size())))
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
    for (char c : uriPath(file)) {
        if (c == '%' || c == '?' || c == '#') {
            static const char* const digits = "0123456789abcdef";
            const auto u = static_cast<unsigned char>(c);
            uri += '%';
            uri += digits[u >> 4];
            uri += digits[u & 15];
        } else {
            uri += c;
        }
    }
    return uri + "?mode=ro&immutable=1";
}

} // namespace trellikon::reg
