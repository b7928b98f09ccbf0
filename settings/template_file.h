#pragma once
// Template files (*.sbn): the 4096 image bytes and nothing else. Reading one
// from disk is the file layer's job (files.h); this is what its bytes mean.

#include "settings_image.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace trellikon {

// The image a template's bytes give: its first 4096 bytes; past the end of a
// shorter file the image holds 0x1A, and further bytes of a longer one are
// ignored.
SettingsImage::Bytes templateImage(std::span<const std::uint8_t> fileBytes);

} // namespace trellikon
