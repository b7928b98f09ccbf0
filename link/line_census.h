#pragma once
// What the line carried while the program waited for the device's handshake,
// and what that says about a connection attempt that got none.
//
// The link takes a frame only from the start of a single read; the census
// looks at the bytes as one stream instead, so a frame split between two
// reads, or one that follows noise, is still counted. It tells apart a
// silent line (no power, cable not seated, wrong port), a line that carries
// something else (another device, another speed) and one that carries the
// device's frames damaged (a poor cable, interference).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace trellikon {

struct LineCensus {
    std::uint64_t bytes = 0;         // every byte received
    std::uint64_t frames = 0;        // whole device frames: start byte, known command, length
    std::uint64_t damagedFrames = 0; // of those, frames whose check does not hold
};

class LineCensusTaker {
  public:
    void reset();
    void feed(const std::uint8_t* data, std::size_t n);
    const LineCensus& census() const { return census_; }

  private:
    void take(std::uint8_t byte);

    LineCensus census_;
    std::vector<std::uint8_t> pending_; // the frame being collected, from its start byte
};

// What an attempt that ended without a handshake says about the line, after
// the fixed texts: one of the three cases and what to check. `appeared` are
// the ports that came since the program started (tried first), `present`
// the ports there now; either may be empty.
std::string connectDiagnosis(const LineCensus& census, const std::vector<std::string>& appeared,
                             const std::vector<std::string>& present);

} // namespace trellikon
