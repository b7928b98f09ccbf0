#pragma once
// The programming cable of the last successful connection, remembered between
// runs so that the cable is found again when it comes back under another port
// name (another USB socket, another COM number).
//
// An adapter is known by its serial number where it has one, else by its USB
// ids and the socket it is plugged into. One small text file in the user's
// configuration folder holds it, shared by the window program and
// trellikon-cli: a cable used in either is known to both. It is written
// atomically (files/), so a failed write leaves the last good one.

#include "port_names.h"

#include <optional>
#include <string>
#include <vector>

namespace trellikon {

// What identifies an adapter across runs.
struct CableIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;   // when the adapter has one, it alone (with the ids) decides
    std::string location; // else the USB socket

    static std::optional<CableIdentity> of(const UsbAdapter& adapter);
    bool matches(const UsbAdapter& adapter) const;

    // The file's text and back; nothing for a text that is not one.
    std::string text() const;
    static std::optional<CableIdentity> parse(const std::string& text);
};

// The file the cable is kept in: trellikon/cable.txt in $XDG_CONFIG_HOME
// (~/.config) on Linux, in %APPDATA% on Windows; empty when neither is known.
std::string defaultCableFile();

class CableMemory {
  public:
    // An empty name remembers nothing (tests, a system without a home).
    explicit CableMemory(std::string file = defaultCableFile());

    std::optional<CableIdentity> remembered() const;
    // Keeps the adapter; an adapter without ids is not kept. Returns why the
    // file could not be written, or an empty text.
    std::string remember(const UsbAdapter& adapter);
    const std::string& file() const { return file_; }

  private:
    std::string file_;
};

// The port of `present` the remembered cable is behind, when the chosen port
// is missing and that port is another: nothing otherwise.
std::optional<PresentPort> rememberedCableElsewhere(const std::string& chosen, bool chosenPresent,
                                                    const std::optional<CableIdentity>& cable,
                                                    const std::vector<PresentPort>& present);

} // namespace trellikon
