#pragma once
// Decodes a JPEG picture held in memory into plain RGB bytes, through libjpeg.
// No window type here: the diagram windows turn the bytes into an image.
//
// libjpeg's default error handling ends the process, and it reports a file
// cut short only as a warning (it invents an end and returns a grey bottom).
// This decoder turns every error and every warning into a failed result.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace trellikon {

struct JpegPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // width * height * 3 bytes, rows top to bottom
};

struct JpegDecodeResult {
    bool ok = false;
    JpegPicture picture; // empty unless ok
    std::string error;   // libjpeg's own message (English) unless ok
};

// Pictures larger than this on either side are refused before any pixel
// memory is taken: a damaged header may claim up to 65500 x 65500.
inline constexpr int kJpegMaxSide = 8192;

JpegDecodeResult decodeJpeg(std::span<const std::uint8_t> data);

} // namespace trellikon
