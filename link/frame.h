#pragma once
// The frames on the cable, as both ends agree on them: DeviceLink builds and
// checks them on the program's side, the simulated device on the other.

#include <cstddef>
#include <cstdint>

namespace trellikon::frame {

inline constexpr std::uint8_t kStart = 0xAA;
inline constexpr std::uint8_t kHandshake = 0x01;
inline constexpr std::uint8_t kWrite = 0x02;
inline constexpr std::uint8_t kRead = 0x03;
inline constexpr std::size_t kHandshakeSize = 3;
inline constexpr std::size_t kRequestSize = 4; // read request, write acknowledgement
inline constexpr std::size_t kBlockFrameSize = 516;
inline constexpr std::size_t kBufferSize = 524;
inline constexpr std::size_t kReceiveLimit = 521;

} // namespace trellikon::frame
