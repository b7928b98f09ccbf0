#pragma once

#include <string>
#include <utility>

namespace trellikon {

// The one error type of the link layer: what went wrong, in words a user can act on.
struct LinkError {
    enum class Code {
        None,
        NoSuchDevice,     // the name resolves to nothing, or the device is gone
        PermissionDenied, // the user may not open the device
        Busy,             // another program holds the port
        NotASerialPort,   // the path exists but is not a terminal device
        Other,
    };
    Code code = Code::None;
    std::string devicePath; // the path the port name stood for, when known
    std::string message;    // one or more sentences for the user (UTF-8)

    explicit operator bool() const { return code != Code::None; }
};

inline LinkError makeLinkError(LinkError::Code code, std::string devicePath, std::string message) {
    LinkError e;
    e.code = code;
    e.devicePath = std::move(devicePath);
    e.message = std::move(message);
    return e;
}

} // namespace trellikon
