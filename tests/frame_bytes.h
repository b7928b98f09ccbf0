#pragma once
// The device's frames as bytes, for tests and fuzz targets that play the device by hand.
#include "settings_image.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace trellikon::testing {

// A read reply carrying `data` (512 bytes), `third` in its ignored byte.
inline std::vector<std::uint8_t> readReply(std::uint8_t third, const std::uint8_t* data) {
    std::vector<std::uint8_t> f(516);
    f[0] = 0xAA;
    f[1] = 0x03;
    f[2] = third;
    std::copy(data, data + 512, f.begin() + 3);
    f[515] = SettingsImage::checkByteOf(std::span(f.data(), 515));
    return f;
}

inline std::vector<std::uint8_t> ack(std::uint8_t block) {
    return {0xAA, 0x02, block, static_cast<std::uint8_t>(0x02 ^ block)};
}

} // namespace trellikon::testing
