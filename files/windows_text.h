#pragma once
// Windows only: UTF-8, which the program uses throughout, to and from the
// UTF-16 of the system's wide calls (file names with Polish letters, the
// system's own messages and device names).

#ifdef _WIN32

#include <optional>
#include <string>
#include <string_view>

#include <windows.h>

namespace trellikon {

inline std::wstring widen(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

// The same for a name that must stay exact, such as a file's: malformed
// UTF-8 gives nothing rather than a replacement character, which would name
// another file.
inline std::optional<std::wstring> widenExact(std::string_view utf8) {
    if (utf8.empty())
        return std::wstring();
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                        static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0)
        return std::nullopt;
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                          w.data(), n);
    return w;
}

// UTF-16 from the system (a command line, a file name) as UTF-8; a lone
// surrogate, which UTF-8 cannot carry, gives nothing.
inline std::optional<std::string> narrowExact(std::wstring_view wide) {
    if (wide.empty())
        return std::string();
    const int n =
        ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(),
                              static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::nullopt;
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), static_cast<int>(wide.size()),
                          s.data(), n, nullptr, nullptr);
    return s;
}

inline std::string narrow(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), s.data(), n,
                              nullptr, nullptr);
    return s;
}

// The system's own words for a Win32 error code, without the closing full
// stop and line break, in the language of the user's Windows.
inline std::string windowsErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n > 0 && buffer != nullptr)
        text = narrow(std::wstring_view(buffer, n));
    if (buffer != nullptr)
        ::LocalFree(buffer);
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty())
        text = "błąd systemu " + std::to_string(code);
    return text;
}

} // namespace trellikon

#endif
