#pragma once
// The checks that the editors apply to an entry while it is typed, and that the
// encoder applies again before a write: text in, verdict out. The windows show
// the messages; nothing here knows about them.
//
// The verdicts at the end are the one home of each typing rule: the editors'
// change handlers and the command line's template edit both ask them, so a
// value refused in a window is refused by `set` with the same words.
//
// Texts are Windows-1250 bytes, one byte per character.

#include "settings_image.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trellikon::rules {

// Longest telephone number the device keeps, and the shortest it reads back.
inline constexpr std::size_t kPhoneNumberLongest = 17;
inline constexpr std::size_t kPhoneNumberShortest = 2;
// Longest balance-query code.
inline constexpr std::size_t kQueryCodeLongest = layout::kBalanceQueryCodeLongest;
// The daily limit, the SMS count and the days are kept in four-byte fields.
inline constexpr std::size_t kDigitsFieldLongest = layout::kDigitsLongest;
// Highest character code a message text may hold ('}').
inline constexpr std::uint8_t kHighestTextCharacter = 0x7D;

// At least one character, and every one a decimal digit. A telephone number
// must be this: the device reads back only the digits of a stored number.
bool digitsOnly(std::string_view text);

// What the subscriber list takes as a caller's number: exactly eleven digits,
// as the device compares a caller's number digit by digit.
inline constexpr std::size_t kSubscriberDigits = layout::kSubscriberNumberLength;
bool subscriberNumber(std::string_view text);

// An optional sign followed by one or more decimal digits, nothing else (no
// blanks, no hexadecimal), within 32 bits; nothing otherwise.
std::optional<std::int32_t> wholeNumber(std::string_view text);

// Decimal digits only (no sign), within 32 bits: what a digits field of the
// device may hold. Nothing for anything else.
std::optional<std::int32_t> unsignedNumber(std::string_view text);

// The position of the first character that a message text may not hold
// (anything above '}'), or nothing when every character may stand.
std::optional<std::size_t> firstForbiddenCharacter(std::string_view text);

// What an editor does with an entry: let it stand, or show `message` and put
// `put_back` into the box in its place (no `put_back`: the text stays, the
// message is a warning the encoder repeats; an empty one: the box is cleared).
// Messages are UTF-8, as in entry_messages.h.
struct EntryVerdict {
    const char* message = nullptr; // nullptr: the entry stands
    std::optional<std::string> put_back;

    bool refused() const { return message != nullptr; }
};

// The SMS centre's number: at most 17 characters, digits only; cleared otherwise.
EntryVerdict smsCentreEntry(std::string_view text);
// User `user`'s (1..4) number: the same rules, each user with its own words.
EntryVerdict userNumberEntry(int user, std::string_view text);
// Whether emptying user `user`'s number takes the test message's recipient
// away: the message is then switched off, with a notice.
bool testMessageLosesUser(int user, std::string_view number, bool testMessageOn,
                          std::string_view testMessageUser);

// The seconds of output `output` (1..2) switched on for a time. A number
// outside 1..999 is refused only while the output is timed...
EntryVerdict outputSecondsRange(int output, std::string_view text, bool timed);
// ...anything but a whole number always. Both put "30" back.
EntryVerdict outputSecondsForm(int output, std::string_view text);

// The daily SMS limit: 1..9999 in at most four digits; "20" put back.
EntryVerdict dailyLimitEntry(std::string_view text);
// The balance-query code: at most 20 characters; cleared otherwise.
EntryVerdict queryCodeEntry(std::string_view text);
// Switching on a balance report (by count or by time) needs a query code;
// the box is unticked otherwise.
EntryVerdict reportOptionEntry(bool switchedOn, std::string_view queryCode);
// The SMS count of the balance report: "0" is warned about and stays (the
// encoder insists on 10); above 9999, no number or over four characters puts
// "10" back.
EntryVerdict smsCountEntry(std::string_view text);
// The days of the balance report: 1..999 in at most four digits; "1" put back.
EntryVerdict daysEntry(std::string_view text);

// Text slot `slot` (0..14): its length, then (only when the box held a text
// before) its characters. A refused text gives way to the box's last
// accepted text, which only the box knows: `put_back` stays empty.
EntryVerdict textEntry(int slot, std::string_view text, bool boxHeldText);
// Before a write: the first text that typing would refuse in a box that held
// a text. A text pasted into an empty box or loaded from a template was never
// checked, and the device cannot send what the rule refuses.
struct RefusedText {
    int slot = 0;
    EntryVerdict verdict;
};
std::optional<RefusedText>
firstRefusedText(const std::array<std::string, layout::kTextSlotCount>& texts);
// The test message's user index: a whole number 1..4; cleared otherwise.
EntryVerdict testIndexEntry(std::string_view text);
// The user the index names must have a number; cleared otherwise. An index
// that is not 1..4 is left to testIndexEntry.
EntryVerdict testUserDefinedEntry(std::string_view index,
                                  const std::array<std::string, 4>& userNumbers);

} // namespace trellikon::rules
