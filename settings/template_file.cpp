#include "template_file.h"

#include <algorithm>

namespace trellikon {

SettingsImage::Bytes templateImage(std::span<const std::uint8_t> fileBytes) {
    SettingsImage::Bytes image;
    image.fill(0x1A);
    std::copy_n(fileBytes.begin(), std::min(fileBytes.size(), image.size()), image.begin());
    return image;
}

} // namespace trellikon
