#pragma once
// The installation the comparison, settings sheet and register tests start
// from, as an installer leaves a house: two users' numbers, the masks, both
// outputs off, a header and two texts, three callers. ECHO is left unwritten,
// so that its value is the default a failed check gives.
#include "settings_image.h"

namespace trellikon::testing {

inline SettingsImage sampleImage() {
    using namespace layout;
    SettingsImage im;
    im.writePhoneNumber(kSmsCentreNumber, "48601000310");
    im.writePhoneNumber(kUserNumber1, "48600100200");
    im.writePhoneNumber(kUserNumber2, "48600100201");
    im.writePhoneNumber(kUserNumber3, "");
    im.writePhoneNumber(kUserNumber4, "");
    const std::uint8_t off[] = {0, 0};
    im.writeValueGroup(kOutput1Permanent, off);
    im.writeValueGroup(kOutput2Permanent, off);
    im.writeValuePair(kSmsMask, 0x0C);   // users 1 and 2
    im.writeValuePair(kRingMask, 0x08);  // user 1
    im.writeValuePair(kInputMask, 0xF0); // inputs 1..4
    im.writeText(messageHeaderText, "DOM: ");
    im.writeText(powerLossText, "Zanik 230V");
    im.writeText(input1OnText, "Alarm: drzwi");
    im.writeSubscriber(1, "48600100200");
    im.writeSubscriber(2, "48600100201");
    im.writeSubscriber(43, "48512345678");
    return im;
}

} // namespace trellikon::testing
