#include "system_support.h"

#include <algorithm>

#include <fcntl.h>
#include <iconv.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace trellikon::test {

namespace {

iconv_t openCp1250() {
    return iconv_open("UTF-8", "WINDOWS-1250");
}

} // namespace

bool systemCp1250Present() {
    const iconv_t cd = openCp1250();
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv_close(cd);
    return true;
}

std::optional<std::string> systemCp1250ToUtf8(std::uint8_t byte) {
    const iconv_t cd = openCp1250();
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* inp = in;
    char* outp = out;
    std::size_t inLeft = 1, outLeft = sizeof out;
    const bool defined = iconv(cd, &inp, &inLeft, &outp, &outLeft) != std::size_t(-1);
    iconv_close(cd);
    if (!defined)
        return std::nullopt;
    return std::string(out, sizeof out - outLeft);
}

bool systemIsWindows() {
    return false;
}

std::string nullDevice() {
    return "/dev/null";
}

bool makeNamedPipe(const std::string& path) {
    return ::mkfifo(path.c_str(), 0600) == 0;
}

void unblockPipe(const std::string& path) {
    const int w = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (w >= 0)
        ::close(w);
}

bool makeSymlink(const std::string& target, const std::string& link) {
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

bool makeUnreadable(const std::string& path) {
    return ::geteuid() != 0 && ::chmod(path.c_str(), 0) == 0;
}

bool makeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0;
}

BoundSocket::BoundSocket(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return;
    std::copy(path.begin(), path.end(), addr.sun_path);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

BoundSocket::~BoundSocket() {
    if (fd_ >= 0)
        ::close(fd_);
}

HeldFile::HeldFile(const std::string& path, Sharing) : fd_(::open(path.c_str(), O_RDONLY)) {
    if (fd_ >= 0)
        handle_ = &fd_;
}

HeldFile::~HeldFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace trellikon::test
