// Files on Windows, over the wide Win32 file calls so that names with Polish
// letters work whatever the user's code page. The rules are those of
// files_posix.cpp: only a regular file is read, and a save goes to a temporary
// file beside the target that replaces it only once it is complete and
// flushed. What Windows adds:
//   - a device name ("COM3.sbn" in any folder up to Windows 10) opens the
//     device, so such names are refused before anything is opened, and every
//     handle is checked to be a disk file before a byte is read or written;
//   - names longer than MAX_PATH need the \\?\ form unless the machine allows
//     long paths, so a long name is made absolute and given that form;
//   - a name that is not valid UTF-8 is refused, not mended;
//   - another program may hold the target open for a moment (an antivirus,
//     the search indexer, a cloud client) or for good (a spreadsheet holding
//     a CSV, a PDF viewer): the replace is tried again for up to a second,
//     then refused in words that say what to do; and our own reads share
//     delete access, so that they hold up no other program's delete or
//     rename of the file.

#include "file_system.h"

#include "windows_text.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace trellikon {

namespace {

std::string lastErrorText() {
    return windowsErrorText(::GetLastError());
}

Failure lastErrorFailure() {
    return fileFailure(Failure::Code::FileOther, lastErrorText());
}

// The rule of the Windows that runs the program: Windows 11 is build 22000
// on. RtlGetVersion tells the truth whatever the program's manifest says.
DeviceNameRule systemDeviceNameRule() {
    static const DeviceNameRule rule = [] {
        using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        const FARPROC proc = ntdll ? ::GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
        OSVERSIONINFOW version{};
        version.dwOSVersionInfoSize = sizeof version;
        if (proc &&
            reinterpret_cast<RtlGetVersionCall>(reinterpret_cast<void*>(proc))(&version) == 0 &&
            version.dwMajorVersion >= 10 && version.dwBuildNumber >= 22000)
            return DeviceNameRule::Windows11;
        return DeviceNameRule::UpToWindows10;
    }();
    return rule;
}

// The name for the wide calls, or the reason there is none. A long name is
// made absolute and given the \\?\ form, with room for the temporary file's
// suffix that a save adds.
struct SystemPath {
    std::wstring path;
    Failure failure;
};

SystemPath systemPath(const std::string& utf8) {
    SystemPath r;
    if (isWindowsDeviceName(utf8, systemDeviceNameRule())) {
        r.failure = fileFailure(Failure::Code::FileDeviceName);
        return r;
    }
    std::optional<std::wstring> wide = widenExact(utf8);
    if (!wide) {
        r.failure = fileFailure(Failure::Code::FileBadName);
        return r;
    }
    if (wide->empty()) {
        r.failure = fileFailure(Failure::Code::FileMissing);
        return r;
    }
    constexpr std::size_t kRoomForSuffix = 32;
    if (wide->rfind(L"\\\\?\\", 0) == 0 || wide->size() + kRoomForSuffix < MAX_PATH) {
        r.path = std::move(*wide);
        return r;
    }
    DWORD n = ::GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    n = n > 0 ? ::GetFullPathNameW(wide->c_str(), n, full.data(), nullptr) : 0;
    if (n == 0 || n >= full.size()) {
        r.failure = lastErrorFailure();
        return r;
    }
    full.resize(n);
    if (full.rfind(L"\\\\", 0) == 0)
        r.path = L"\\\\?\\UNC\\" + full.substr(2); // \\server\share\...
    else
        r.path = L"\\\\?\\" + full;
    return r;
}

Failure loadReason(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
        return fileFailure(Failure::Code::FileMissing, windowsErrorText(code));
    case ERROR_ACCESS_DENIED:
        return fileFailure(Failure::Code::FileNoPermission, windowsErrorText(code));
    default:
        return fileFailure(Failure::Code::FileOther, windowsErrorText(code));
    }
}

// How long a replace that another program refuses is tried again.
constexpr ULONGLONG kHeldRetryMs = 1000;
constexpr DWORD kHeldPauseMs = 50;

// Moves the finished temporary file over the target; no failure on success.
Failure replaceHeldFile(const std::wstring& tmp, const std::wstring& target) {
    const ULONGLONG start = ::GetTickCount64();
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(tmp.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return {};
        const DWORD code = ::GetLastError();
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED)
            return fileFailure(Failure::Code::FileOther, windowsErrorText(code));
        // A read-only file or a folder the user may not write is not a
        // program's doing and does not pass by waiting.
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_READONLY))
            return fileFailure(Failure::Code::FileOther, windowsErrorText(code));
        // Counted in pauses as well as in time, so that a clock that does not
        // move cannot keep the save waiting.
        if (::GetTickCount64() - start >= kHeldRetryMs ||
            attempt >= static_cast<int>(kHeldRetryMs / kHeldPauseMs))
            return fileFailure(Failure::Code::FileHeldElsewhere, windowsErrorText(code));
        ::Sleep(kHeldPauseMs);
    }
}

} // namespace

Failure FileReader::open(const std::string& path) {
    close();
    size_ = 0;
    failure_ = {};
    const SystemPath name = systemPath(path);
    if (name.failure)
        return failure_ = name.failure;
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!::GetFileAttributesExW(name.path.c_str(), GetFileExInfoStandard, &attributes))
        return failure_ = loadReason(::GetLastError());
    if (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return failure_ = fileFailure(Failure::Code::FileIsDirectory);
    HANDLE h = ::CreateFileW(name.path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return failure_ = loadReason(::GetLastError());
    // A name can still lead to a device (a link, a name the rule above does
    // not know); only a disk file is read.
    LARGE_INTEGER size{};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &size)) {
        ::CloseHandle(h);
        return failure_ = fileFailure(Failure::Code::FileNotRegular);
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    size_ = static_cast<std::uintmax_t>(size.QuadPart);
    return {};
}

long long FileReader::read(std::uint8_t* buffer, std::size_t n) {
    if (handle_ == -1)
        return -1;
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 20));
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, want, &got, nullptr)) {
        failure_ = loadReason(::GetLastError());
        return -1;
    }
    return got;
}

bool FileReader::rewind() {
    LARGE_INTEGER start{};
    return handle_ != -1 &&
           ::SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), start, nullptr, FILE_BEGIN);
}

void FileReader::close() {
    if (handle_ != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

FileReader::~FileReader() {
    close();
}

PathKind pathKind(const std::string& path) {
    const SystemPath name = systemPath(path);
    if (name.failure)
        return name.failure.is(Failure::Code::FileDeviceName) ? PathKind::Other : PathKind::Missing;
    const DWORD attributes = ::GetFileAttributesW(name.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathKind::Directory;
    return (attributes & FILE_ATTRIBUTE_DEVICE) ? PathKind::Other : PathKind::RegularFile;
}

void markProgramRunning() {
    // Never closed: the system releases it when the process ends, however it
    // ends.
    static const HANDLE mark = ::CreateMutexA(nullptr, FALSE, kRunningMarkName);
    (void)mark;
}

// A file gets its folder's permissions, private or not.
Failure saveFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size,
                           FileAccess) {
    static std::atomic<unsigned> counter{0};
    const SystemPath name = systemPath(path);
    if (name.failure)
        return name.failure;
    const std::wstring& target = name.path;
    const DWORD existing = ::GetFileAttributesW(target.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY))
        return fileFailure(Failure::Code::FileIsDirectory);
    std::wstring tmp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = target + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
              std::to_wstring(counter++) + L".tmp";
        h = ::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            return lastErrorFailure();
    }
    if (h == INVALID_HANDLE_VALUE)
        return lastErrorFailure();
    // Not a byte goes anywhere but to a file on a disk.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        return fileFailure(Failure::Code::FileNotRegular);
    }
    std::string error;
    std::size_t done = 0;
    while (done < size && error.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 20));
        DWORD n = 0;
        if (!::WriteFile(h, data + done, chunk, &n, nullptr) || n == 0)
            error = lastErrorText();
        else
            done += n;
    }
    if (error.empty() && !::FlushFileBuffers(h))
        error = lastErrorText();
    ::CloseHandle(h);
    Failure failure =
        error.empty() ? replaceHeldFile(tmp, target) : fileFailure(Failure::Code::FileOther, error);
    if (failure)
        ::DeleteFileW(tmp.c_str());
    return failure;
}

std::string userConfigFile(const std::string& name) {
    const wchar_t* appData = ::_wgetenv(L"APPDATA");
    if (!appData || !*appData)
        return {};
    return narrow(std::wstring_view(appData)) + "\\trellikon\\" + name;
}

void createFoldersFor(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(widen(path)).parent_path(), ec);
}

} // namespace trellikon
