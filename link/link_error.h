#pragma once

#include "failure.h"

#include <string>
#include <utility>

namespace trellikon {

// The port's open fails as everything else does (failure.h): the codes it
// uses are NoSuchDevice, PermissionDenied, Busy, NotASerialPort and Other,
// and the detail holds the path the port name stood for, when known.
using LinkError = Failure;

inline LinkError makeLinkError(LinkError::Code code, std::string devicePath, std::string message) {
    return makeFailure(code, std::move(message), std::move(devicePath));
}

} // namespace trellikon
