#pragma once
// Editing a template's settings without the windows: the keys of the
// inspector's JSON output, each value checked as the editor windows check it
// while it is typed, then the whole encoded as the windows encode it before a
// save. A template edited here and one edited through the windows with the
// same values hold the same bytes.
//
// Values arrive as UTF-8; texts are converted to Windows-1250, a character
// with no form there becoming "?" as it does in the windows.

#include "device_settings.h"
#include "failure.h"
#include "settings_encoder.h"
#include "subscriber_csv.h"

#include <string>
#include <utility>
#include <vector>

namespace trellikon {

// What the editor windows show for the decoded settings when they open, as a
// snapshot for the encoder: the stored values after the windows' own display
// steps (a balance code whose stored length fails its check is not shown; an
// output stored both permanently and timed shows timed; the test message's
// index only while the test message is on).
EditorSnapshot snapshotOfSettings(const DeviceSettings& settings);

struct TemplateEditResult {
    // Why nothing was changed. Usage: a key that does not exist or a value of
    // the wrong form (not a message of the windows, so the command line words
    // it), the first one met. Refused: the windows' own messages, then the
    // encoder's, one per line of the message and each in `refusals`.
    Failure failure;
    std::vector<std::string> refusals;
    // What the windows would have said without refusing the entry (an emptied
    // user number that the test message was sent to, for instance).
    std::vector<std::string> notices;

    bool ok() const { return !failure; }
};

// Applies KEY=VALUE pairs to the settings as the windows would take them and
// encodes the result into the image. On any refusal the image is left as it
// was. Decoded settings must have been filled from the image before.
TemplateEditResult setEntries(DeviceSettings& settings,
                              const std::vector<std::pair<std::string, std::string>>& entries);

// Adds callers at the lowest free positions, or removes them, with the
// subscriber window's rules and messages; the table is written into the image.
// `lines` receives the window's report of each number. All or nothing: on a
// refusal the image and the table are left as they were.
struct SubscriberEditResult {
    bool ok = false;
    std::vector<std::string> lines;
};
SubscriberEditResult addSubscribers(DeviceSettings& settings,
                                    const std::vector<std::string>& numbers);
SubscriberEditResult removeSubscribers(DeviceSettings& settings,
                                       const std::vector<std::string>& numbers);
// Imports the callers of a CSV file with the import window's verdicts; `lines`
// receives the report of every line, then the summary. All or nothing unless
// `skipRefused`: a refused line leaves the image and the table as they were.
SubscriberEditResult importSubscribers(DeviceSettings& settings, const csv::CallerFile& file,
                                       csv::ImportMode mode, bool skipRefused);

} // namespace trellikon
