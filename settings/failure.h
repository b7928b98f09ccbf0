#pragma once
// What went wrong, in one shape for every layer: a file not read or saved, an
// edit refused, a port that would not open, a device that did not answer. The
// code is what a caller decides on (the command line's exit code, whether a
// save may be tried again); the message is what the user reads, exactly as
// the program words it; the detail is the system's part (its error text, the
// device a port name stood for), for a second line or a report.

#include <string>
#include <utility>

namespace trellikon {

struct Failure {
    enum class Code {
        None,
        // A file not read or not saved.
        FileMissing,
        FileNoPermission,
        FileIsDirectory,
        FileNotRegular,
        FileDeviceName, // a Windows device name (COM3.sbn), never opened
        FileBadName,    // not valid UTF-8
        FileHeldElsewhere,
        FileTooLarge,
        FileContent, // read, but what it holds is refused (a caller list that is not text)
        FileOther,   // the system's own reason
        // An edit of the settings.
        Refused, // the editor windows' rules said no
        Usage,   // a key that does not exist, a value of the wrong form
        // The serial port's open.
        NoSuchDevice,     // the name resolves to nothing, or the device is gone
        PermissionDenied, // the user may not open the device
        Busy,             // another program holds the port
        NotASerialPort,   // the path exists but is not a terminal device
        // The device.
        NoAnswer,        // no handshake, or a transfer that did not complete
        VerifyDifferent, // the read-back after a write differs from what was written
        ChangedOnSite,   // the device changed since the installation's latest version
        TemplatesDiffer,
        // The installations register: not opened, not read, a change refused.
        Register,
        Other,
    };
    Code code = Code::None;
    std::string message; // one or more sentences for the user (UTF-8, Polish)
    std::string detail;  // the system's words, the device's path; may be empty

    explicit operator bool() const { return code != Code::None; }
    bool ok() const { return code == Code::None; }
    bool is(Code c) const { return code == c; }
};

inline Failure makeFailure(Failure::Code code, std::string message, std::string detail = {}) {
    Failure f;
    f.code = code;
    f.message = std::move(message);
    f.detail = std::move(detail);
    return f;
}

} // namespace trellikon
