#include "system_support.h"

#include "windows_text.h"

namespace trellikon::test {

bool systemCp1250Present() {
    return true;
}

std::optional<std::string> systemCp1250ToUtf8(std::uint8_t byte) {
    const char in = static_cast<char>(byte);
    wchar_t out[4] = {};
    const int n = ::MultiByteToWideChar(1250, MB_ERR_INVALID_CHARS, &in, 1, out, 4);
    if (n <= 0)
        return std::nullopt;
    return narrow(std::wstring_view(out, static_cast<std::size_t>(n)));
}

bool systemIsWindows() {
    return true;
}

std::string nullDevice() {
    return "\\\\.\\NUL";
}

bool makeNamedPipe(const std::string&) {
    return false;
}

void unblockPipe(const std::string&) {}

bool makeSymlink(const std::string&, const std::string&) {
    return false;
}

bool makeUnreadable(const std::string&) {
    return false;
}

bool makeFolder(const std::string& path) {
    const std::wstring wide = L"\\\\?\\" + widen(path);
    return ::CreateDirectoryW(wide.c_str(), nullptr) != 0;
}

BoundSocket::BoundSocket(const std::string&) {}

BoundSocket::~BoundSocket() = default;

HeldFile::HeldFile(const std::string& path, Sharing sharing) {
    const DWORD share = sharing == None   ? 0
                        : sharing == Read ? FILE_SHARE_READ
                                          : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const HANDLE h =
        ::CreateFileW(widen(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        handle_ = h;
}

HeldFile::~HeldFile() {
    if (handle_)
        ::CloseHandle(handle_);
}

} // namespace trellikon::test
