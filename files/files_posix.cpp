// Files on POSIX systems: see files.h for the rules both systems keep.
#include "file_system.h"

#include "error_text.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace trellikon {

namespace {

// The reasons an installer meets, in the program's own words; anything rarer
// in the system's.
Failure reason(int e) {
    switch (e) {
    case ENOENT:
    case ENOTDIR:
        return fileFailure(Failure::Code::FileMissing, errnoText(e));
    case EACCES:
    case EPERM:
        return fileFailure(Failure::Code::FileNoPermission, errnoText(e));
    default:
        return fileFailure(Failure::Code::FileOther, errnoText(e));
    }
}

Failure notRegular(const struct stat& st) {
    return fileFailure(S_ISDIR(st.st_mode) ? Failure::Code::FileIsDirectory
                                           : Failure::Code::FileNotRegular);
}

} // namespace

Failure FileReader::open(const std::string& path) {
    close();
    size_ = 0;
    failure_ = {};
    // The type is looked at before anything is opened: a blocking open of a
    // named pipe waits for a writer for ever, and opening a device can have
    // effects of its own (a serial port raises its modem lines).
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return failure_ = reason(errno);
    if (!S_ISREG(st.st_mode))
        return failure_ = notRegular(st);
    // Non-blocking, in case the name was swapped for something else meanwhile;
    // the descriptor's own type is what counts.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return failure_ = reason(errno);
    if (::fstat(fd, &st) != 0) {
        failure_ = reason(errno);
        ::close(fd);
        return failure_;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return failure_ = notRegular(st);
    }
    handle_ = fd;
    size_ = static_cast<std::uintmax_t>(st.st_size);
    return {};
}

long long FileReader::read(std::uint8_t* buffer, std::size_t n) {
    if (handle_ < 0)
        return -1;
    ssize_t got;
    do {
        got = ::read(static_cast<int>(handle_), buffer, n);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        failure_ = reason(errno);
    return got;
}

bool FileReader::rewind() {
    return handle_ >= 0 && ::lseek(static_cast<int>(handle_), 0, SEEK_SET) == 0;
}

void FileReader::close() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = -1;
}

FileReader::~FileReader() {
    close();
}

// Only the Windows installer asks whether a program runs.
void markProgramRunning() {}

PathKind pathKind(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return PathKind::Missing;
    if (S_ISDIR(st.st_mode))
        return PathKind::Directory;
    return S_ISREG(st.st_mode) ? PathKind::RegularFile : PathKind::Other;
}

Failure saveFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size,
                           FileAccess access) {
    // The rename would put a regular file in place of whatever has the name:
    // a folder fails anyway, but a device node or a pipe would be replaced
    // (or a named pipe block the writer), so only a regular file or a new
    // name is taken. Through a link, the file it leads to is replaced, and
    // the link stays.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return notRegular(st);
    std::string tmp = target + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        return fileFailure(Failure::Code::FileOther, errnoText());
    std::string error;
    std::size_t done = 0;
    while (done < size && error.empty()) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errnoText();
        else
            done += static_cast<std::size_t>(n);
    }
    if (error.empty() && ::fsync(fd) != 0)
        error = errnoText();
    // mkstemp creates 0600, which a private file keeps; a shared one gets the
    // permissions a new file would get, or those of the file it replaces.
    if (access == FileAccess::Shared) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        struct stat existing {};
        ::fchmod(fd, ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777)
                                                            : (0666 & ~mask));
    }
    if (::close(fd) != 0 && error.empty())
        error = errnoText();
    if (error.empty() && ::rename(tmp.c_str(), target.c_str()) != 0)
        error = errnoText();
    if (error.empty())
        return {};
    ::unlink(tmp.c_str());
    return fileFailure(Failure::Code::FileOther, error);
}

std::string userConfigFile(const std::string& name) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/trellikon/" + name;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/')
        return {};
    return std::string(home) + "/.config/trellikon/" + name;
}

void createFoldersFor(const std::string& path) {
    // One folder at a time, each made the user's alone as it is made; the
    // folders that were there keep what they have.
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::filesystem::path made;
    for (const std::filesystem::path& part : folder) {
        made /= part;
        if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST)
            return;
    }
}

} // namespace trellikon
