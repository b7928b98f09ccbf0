#pragma once
// A house as an installer leaves it, for the template `trellikon-cli demo`
// writes and for the tests that need a believable installation.

#include "settings_image.h"

namespace trellikon {

// The house's bones: the SMS centre, two users' numbers (3 and 4 empty), both
// outputs off, the SMS, ring and input masks, three callers (1, 2, 43). No
// texts; ECHO and every other setting left unwritten.
SettingsImage demoHouse();

// The house with every setting written and every text filled: the demo template.
SettingsImage demoTemplate();

} // namespace trellikon
