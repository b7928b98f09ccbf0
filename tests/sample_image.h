#pragma once
// The installation the comparison, settings sheet and register tests start
// from: the demo template's house with a header and two texts of its own.
// ECHO is left unwritten, so that its value is the default a failed check gives.
#include "demo_template.h"

namespace trellikon::testing {

inline SettingsImage sampleImage() {
    using namespace layout;
    SettingsImage im = demoHouse();
    im.writeText(messageHeaderText, "DOM: ");
    im.writeText(powerLossText, "Zanik 230V");
    im.writeText(input1OnText, "Alarm: drzwi");
    return im;
}

} // namespace trellikon::testing
