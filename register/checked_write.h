#pragma once
// A write that cannot surprise the installer: what was changed on the device
// since the installation's latest version is shown before anything is sent,
// only the chosen parts of the settings go over what the device holds, and
// what was sent is compared with what the device gives back afterwards.
// The window program and the command line ask the same questions here.

#include "register_types.h"
#include "settings_comparison.h"

#include <string>
#include <string_view>
#include <vector>

namespace trellikon::checked {

using Bytes = SettingsImage::Bytes;

// The parts of the settings a write can be limited to, as a set of bits.
enum Part : unsigned {
    kParameters = 1u, // block 0
    kTexts = 2u,      // blocks 1..3
    kCallers = 4u,    // blocks 4..7
};
using Parts = unsigned;
inline constexpr Parts kAllParts = kParameters | kTexts | kCallers;

// The part a block belongs to.
Part partOfBlock(int block);
// "parametry", "teksty alarmowe", "abonenci CLIP", comma separated, in that order.
std::string partsText(Parts parts);

struct PartsChoice {
    Parts parts = 0;
    std::string error; // why the words were refused, in Polish
    bool ok() const { return error.empty(); }
};
// The command line's words: "parameters", "texts", "subscribers", comma separated.
PartsChoice parseParts(std::string_view words);

// What the device holds now with the chosen parts of `wanted` over it: every
// byte outside them stays as the device holds it, so the whole image can be
// written without touching what was not chosen.
Bytes merge(const Bytes& device, const Bytes& wanted, Parts parts);

// The installation's latest version against what the device holds now, and
// what the write puts in each setting changed there.
struct ChangedOnSite {
    comparison::Comparison differences; // here: the version, there: the device
    std::string since;                  // the version's day, "DD.MM.RRRR" (local time)
    std::vector<std::string> written{}; // beside each row: the value the write leaves

    bool changed() const { return !differences.equal(); }
};
// Only what the write would lose is listed: a setting changed on the device
// that the write leaves as the device holds it (a part not chosen, or the
// program already holding the same value) is no loss and no row.
ChangedOnSite changedOnSite(const reg::Version& latest, const Bytes& device, const Bytes& toWrite);
// "zmienione w urządzeniu od DD.MM.RRRR"
std::string sinceLine(const ChangedOnSite& c);
// The heading line and, for each setting, its three values: at the last
// visit, in the device now, after the write.
std::string renderChangedOnSite(const ChangedOnSite& c);

// A stored UTC time ("YYYY-MM-DDTHH:MM:SS.mmmZ") as the local day
// "DD.MM.RRRR"; a malformed one as its own first ten characters, made safe.
std::string localDay(const std::string& timeUtc);

// The program's settings with every setting the device changed since the
// recorded version taken from the device: each whole setting (its check
// byte with it) where the recorded version and the device differ, so that no
// setting is left half one and half the other.
Bytes takeDeviceValues(const Bytes& program, const Bytes& recorded, const Bytes& device);

// What a device holds by the register after a write cut short: block by
// block, what was sent or what it held before (the block on its way may have
// been stored with its acknowledgement lost), whichever `device` holds; the
// block from before where it holds neither. Compared with the device, only
// changes made since show.
Bytes afterInterruptedWrite(const Bytes& sent, const Bytes& before, const Bytes& device);

// What was sent against what the device gave back.
struct Verification {
    bool same = false;
    comparison::Comparison differences; // here: sent, there: read back

    // The register's kind for the write: "zapis sprawdzony" or "zapis niezgodny".
    const char* kind() const;
};
Verification verify(const Bytes& sent, const Bytes& readBack);

} // namespace trellikon::checked
