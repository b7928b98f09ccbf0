#pragma once
// What the tests ask the system itself rather than the program, behind one
// header: system_support_posix.cpp or system_support_windows.cpp.

#include <cstdint>
#include <optional>
#include <string>

namespace trellikon::test {

// The system's own Windows-1250 converter (glibc's iconv, Windows' code page
// 1250) on one byte: its UTF-8, or nothing for a byte it leaves undefined.
// systemCp1250Present() is false when the system has no such converter.
bool systemCp1250Present();
std::optional<std::string> systemCp1250ToUtf8(std::uint8_t byte);

// True in the Windows build (run under Wine or on Windows).
bool systemIsWindows();

// The system's null device by a name a file dialog could return.
std::string nullDevice();

// Makes a named pipe (a FIFO) under `path`; false on a system whose files
// cannot be one.
bool makeNamedPipe(const std::string& path);
// Opens the pipe for writing without waiting, so that a reader stuck in its
// open goes on.
void unblockPipe(const std::string& path);

// A symbolic link `link` to `target`; false where links need privileges.
bool makeSymlink(const std::string& target, const std::string& link);

// Takes every permission off a file; false when this account reads it all
// the same (root, or a system without such permissions).
bool makeUnreadable(const std::string& path);

// Makes one folder (UTF-8 name), also when the whole name is past 260 characters.
bool makeFolder(const std::string& path);

// A local socket bound to a name in the file system, closed when it goes.
class BoundSocket {
  public:
    explicit BoundSocket(const std::string& path);
    ~BoundSocket();
    BoundSocket(const BoundSocket&) = delete;
    BoundSocket& operator=(const BoundSocket&) = delete;
    bool ok() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// Another program's open handle on a file, with the sharing it allows others
// (Windows' share modes; elsewhere an open file shares everything).
class HeldFile {
  public:
    enum Sharing { None, Read, ReadWrite };
    HeldFile(const std::string& path, Sharing sharing);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    bool held() const { return handle_ != nullptr; }

  private:
    void* handle_ = nullptr;
    int fd_ = -1;
};

} // namespace trellikon::test
