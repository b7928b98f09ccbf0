#pragma once
// The operating system's own words for an error number. Every message that
// passes a failed call's reason on to the user takes it from here, so that the
// template file, the serial port and the simulator say it the same way.

#include <cerrno>
#include <string>
#include <string_view>
#include <system_error>

namespace trellikon {

inline std::string errnoText(int e = errno) {
    return std::system_category().message(e);
}

// "what: reason", for a call named in the message.
inline std::string errnoText(std::string_view what, int e = errno) {
    std::string s(what);
    s += ": ";
    s += errnoText(e);
    return s;
}

} // namespace trellikon
