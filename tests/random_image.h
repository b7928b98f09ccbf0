#pragma once
// Random settings images for the tests: the same seed gives the same bytes.
#include "settings_image.h"

#include <random>

inline trellikon::SettingsImage::Bytes randomImage(unsigned seed) {
    std::mt19937 rng(seed);
    trellikon::SettingsImage::Bytes b;
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}
