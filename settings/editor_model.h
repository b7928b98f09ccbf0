#pragma once
// The editors' rules with side effects, once for the windows and the command
// line: a value applied to a field gives the verdict of its rule and every
// change it causes in other fields; what each field shows when an editor
// opens; what the editors' values store back into the decoded settings; and
// adding and removing callers.
//
// The values live in an EditorSnapshot, the one form of "what the editors
// show". A window fills one from its controls, applies the user's change and
// puts the returned changes into its controls; their own handlers then run as
// the toolkit fires them, and each of those asks this model again. The
// command line applies its keys to a snapshot of its own, which takes every
// change, consequences of consequences included, as the windows' controls do.
//
// Texts are Windows-1250 bytes. Nothing here shows a message.

#include "device_settings.h"
#include "entry_rules.h"
#include "settings_encoder.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trellikon::editor {

// The radio groups that switch something: item 0 switches it on ("AKTYWNE",
// "TAK"), item 1 off ("NIEAKTYWNE", "NIE").
inline constexpr int kItemOn = 0, kItemOff = 1;
// The time offered when an output is switched on for a time...
inline constexpr const char* kTimedSeconds = "30";
// ...and when a caller is allowed to switch it.
inline constexpr const char* kClipSeconds = "3";

// The operators whose SMS centre and balance-query code the parameters editor
// knows; "INNY" is any other, whose centre's number is typed.
struct OperatorPreset {
    const char* number;
    const char* code;
};
inline constexpr int kOrange = 0, kEra = 1, kPlus = 2, kPlay = 3, kOtherOperator = 4;
inline constexpr OperatorPreset kOperatorPresets[4] = {
    {"48501200777", "*124*#"}, // ORANGE
    {"48602951111", "*101#"},  // ERA
    {"48601000310", "*100#"},  // PLUS
    {"48790998250", ""},       // PLAY
};
// The operator is not stored: it follows from the centre's number.
int operatorOfCentre(std::string_view number);

// Every field of the editors whose change has a rule or a consequence.
enum class Field {
    SmsCentre, // typed under "INNY", it empties the balance-query code
    User1,
    User2,
    User3,
    User4,
    Output1Permanent, // choice
    Output2Permanent,
    Output1Timed, // choice
    Output2Timed,
    Output1Seconds,
    Output2Seconds,
    DailyLimit,
    BalanceInfo, // tick
    QueryCode,
    ReportByCount, // tick
    SmsCount,
    ReportByTime, // tick
    Days,
    TestMessageOn, // tick
    TestMessageUser,
    ClipOutput1, // choice (the subscriber window)
    ClipOutput2,
    Text, // one of the fifteen, by slot
    // Ticks without a rule, by slot (0-based: user, input).
    Echo,
    SmsMask,
    RingMask,
    InputMask,
};

Field userField(int user);                // 1..4
Field permanentField(int output);         // 1..2
Field timedField(int output);             // 1..2
Field secondsField(int output);           // 1..2
Field clipField(int output);              // 1..2
bool isChoice(Field field);               // a tick or a radio group
std::optional<int> userOf(Field field);   // 1..4 for a user's number
std::optional<int> outputOf(Field field); // 1..2 for the output fields

// One change another field undergoes. Exactly one of the three is set.
struct Change {
    Field field;
    int slot = 0;                    // for Field::Text
    std::optional<std::string> text; // the field's new text
    std::optional<bool> on;          // a tick ticked, or a choice's item 0 selected
    std::optional<bool> editable;    // the field's edit switched on (or off, grey)

    bool operator==(const Change&) const = default;
};

struct Outcome {
    // The field's own rule. A refused entry with a replacement causes nothing
    // else: the replacement is an entry of its own (the window's edit runs its
    // handler again with it), and it has the consequences.
    rules::EntryVerdict verdict;
    // Said before the changes, refusing nothing (an emptied user number that
    // the test message went to).
    const char* notice = nullptr;
    std::vector<Change> changes; // in the order the windows make them
};

// Whether the rules that look at other fields are asked as each field is
// typed, or left to judgeTogether once every field of an edit is in.
enum class Judge { AsTyped, Together };

// Takes `text` (or `on`) into `shown` and returns what it causes. `shown`
// takes the replacement of a refused entry and every change, as controls
// would. Fields that `shown` does not hold (the CLIP permissions) are only
// judged for their consequences.
Outcome apply(EditorSnapshot& shown, Field field, std::string_view text,
              Judge judge = Judge::AsTyped, int slot = 0);
Outcome apply(EditorSnapshot& shown, Field field, bool on, Judge judge = Judge::AsTyped,
              int slot = 0);
// A text given as a literal is a text, not a flag.
inline Outcome apply(EditorSnapshot& shown, Field field, const char* text,
                     Judge judge = Judge::AsTyped, int slot = 0) {
    return apply(shown, field, std::string_view(text), judge, slot);
}

// A value as a control shows it, taken without asking any rule: what a
// window puts into its controls while it fills itself.
void setValue(EditorSnapshot& shown, Field field, std::string_view text, int slot = 0);
void setValue(EditorSnapshot& shown, Field field, bool on, int slot = 0);

// The rules across fields that Judge::Together left out, in a fixed order so
// that the order of the entries does not matter: each output's time while it
// is timed, a report switched on in this edit (`reportTurnedOn`: by count, by
// time) without a query code, the test message to a user without a number.
std::vector<rules::EntryVerdict> judgeTogether(const EditorSnapshot& shown,
                                               std::array<bool, 2> reportTurnedOn);

// What the two editors show for the decoded settings when they open: a
// balance code whose stored length fails its check is not shown; an output
// stored both permanently and timed shows timed; the test message's index only
// while the test message is on; the operator the centre's number belongs to.
EditorSnapshot shownOnOpen(const DeviceSettings& settings);

// The parameters editor's values stored back when it is left: the decoded
// settings and, straight into the image, the query code's length.
void storeParameters(const EditorSnapshot& shown, DeviceSettings& settings);
// The texts editor's values stored back when it is left.
void storeTexts(const EditorSnapshot& shown, DecodedSettings& decoded);

// Masks and their boxes (users 1..4, inputs 1..8).
std::uint8_t userMask(const std::array<bool, 4>& boxes);
std::uint8_t inputMask(const std::array<bool, 8>& boxes);
std::array<bool, 4> userBoxes(std::uint8_t mask);
std::array<bool, 8> inputBoxes(std::uint8_t mask);

// Callers. The typing rule of the add dialog's entry: digits only, at most
// eleven; the message when it is broken, or nullptr.
const char* callerTypingRefusal(std::string_view typed);
// What adding or removing a number did: the dialog's message, and the
// position it took or left (0 when nothing changed). `cleared`: the dialog
// empties its entry.
struct CallerEdit {
    const char* message = nullptr;
    int position = 0;
    bool cleared = false;
};
// Eleven digits at the lowest free position, unless listed already or full.
CallerEdit addCaller(SubscriberTable& table, const std::string& number);
CallerEdit removeCaller(SubscriberTable& table, const std::string& number);

} // namespace trellikon::editor
