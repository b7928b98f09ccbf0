#pragma once
// The checks that the editors apply to an entry while it is typed, and that the
// encoder applies again before a write: text in, verdict out. The windows show
// the messages; nothing here knows about them.
//
// Texts are Windows-1250 bytes, one byte per character.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace trellikon::rules {

// Longest telephone number the device keeps, and the shortest it reads back.
inline constexpr std::size_t kPhoneNumberLongest = 17;
inline constexpr std::size_t kPhoneNumberShortest = 2;
// Longest balance-query code.
inline constexpr std::size_t kQueryCodeLongest = 20;
// The daily limit, the SMS count and the days are kept in four-byte fields.
inline constexpr std::size_t kDigitsFieldLongest = 4;
// Highest character code a message text may hold ('}').
inline constexpr std::uint8_t kHighestTextCharacter = 0x7D;

// At least one character, and every one a decimal digit. A telephone number
// must be this: the device reads back only the digits of a stored number.
bool digitsOnly(std::string_view text);

// What the subscriber list takes as a caller's number: exactly eleven digits,
// as the device compares a caller's number digit by digit.
inline constexpr std::size_t kSubscriberDigits = 11;
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

} // namespace trellikon::rules
