// Reading and saving files on Windows, over the wide Win32 file calls so that
// names with Polish letters work whatever the user's code page. The rules are
// those of file_access_posix.cpp: only a regular file is read, and a save goes
// to a temporary file beside the target that replaces it only once it is
// complete and flushed.

#include "template_file.h"

#include "file_read_loop.h"
#include "windows_text.h"

#include <algorithm>
#include <atomic>
#include <cwctype>

namespace trellikon {

namespace {

std::string lastErrorText() {
    return windowsErrorText(::GetLastError());
}

// A device, not a file: the \\.\ namespace, or one of the names that are
// devices in every folder ("COM1", "nul.sbn"). Opening a serial port has
// effects of its own, so these are refused before anything is opened.
bool isDeviceName(const std::wstring& path) {
    if (path.rfind(L"\\\\.\\", 0) == 0 || path.rfind(L"\\\\?\\GLOBALROOT", 0) == 0)
        return true;
    const std::size_t slash = path.find_last_of(L"\\/:");
    std::wstring base = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
    base = base.substr(0, base.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (wchar_t& c : base)
        c = static_cast<wchar_t>(std::towupper(c));
    static const wchar_t* const kDevices[] = {L"CON", L"PRN",    L"AUX",
                                              L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* d : kDevices) {
        if (base == d)
            return true;
    }
    return base.size() == 4 && (base.rfind(L"COM", 0) == 0 || base.rfind(L"LPT", 0) == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

std::string loadReason(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
        return load_reason::kMissing;
    case ERROR_ACCESS_DENIED:
        return load_reason::kNoPermission;
    default:
        return windowsErrorText(code);
    }
}

} // namespace

FileRead readRegularFile(const std::string& path, std::size_t limit) {
    FileRead r;
    const std::wstring wide = widen(path);
    if (isDeviceName(wide)) {
        r.error = load_reason::kNotRegularFile;
        return r;
    }
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &attributes)) {
        r.error = loadReason(::GetLastError());
        return r;
    }
    if (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        r.error = load_reason::kDirectory;
        return r;
    }
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        r.error = loadReason(::GetLastError());
        return r;
    }
    // A name such as "COM1" or "NUL" opens a device, not a file.
    LARGE_INTEGER size{};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &size)) {
        ::CloseHandle(h);
        r.error = load_reason::kNotRegularFile;
        return r;
    }
    readUpToLimit(r, static_cast<std::uintmax_t>(size.QuadPart), limit,
                  [&](std::uint8_t* buffer, std::size_t n) -> long long {
                      DWORD got = 0;
                      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 20));
                      return ::ReadFile(h, buffer, want, &got, nullptr) ? got : -1;
                  });
    if (!r.ok)
        r.error = loadReason(::GetLastError());
    ::CloseHandle(h);
    return r;
}

std::string saveFileAtomically(const std::string& path, const std::uint8_t* data,
                               std::size_t size) {
    static std::atomic<unsigned> counter{0};
    const std::wstring target = widen(path);
    std::wstring tmp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = target + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
              std::to_wstring(counter++) + L".tmp";
        h = ::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            return lastErrorText();
    }
    if (h == INVALID_HANDLE_VALUE)
        return lastErrorText();
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
    if (error.empty() && !::MoveFileExW(tmp.c_str(), target.c_str(),
                                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = lastErrorText();
    if (!error.empty())
        ::DeleteFileW(tmp.c_str());
    return error;
}

} // namespace trellikon
