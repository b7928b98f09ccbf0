#pragma once
// The device's frames as bytes, for tests and fuzz targets that play the device by hand.
#include "frame.h"
#include "settings_image.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace trellikon::testing {

// A read reply carrying `data` (512 bytes), `third` in its ignored byte.
inline std::vector<std::uint8_t> readReply(std::uint8_t third, const std::uint8_t* data) {
    std::vector<std::uint8_t> f(frame::kBlockFrameSize);
    f[0] = frame::kStart;
    f[1] = frame::kRead;
    f[2] = third;
    std::copy(data, data + layout::kBlockSize, f.begin() + 3);
    f.back() = SettingsImage::checkByteOf(std::span(f.data(), f.size() - 1));
    return f;
}

inline std::vector<std::uint8_t> ack(std::uint8_t block) {
    return {frame::kStart, frame::kWrite, block, static_cast<std::uint8_t>(frame::kWrite ^ block)};
}

} // namespace trellikon::testing
