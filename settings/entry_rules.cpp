#include "entry_rules.h"

#include "entry_messages.h"
#include "settings_image.h"

#include <limits>

namespace trellikon::rules {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits from `text`, which holds at least one and nothing else, as a value
// with the given sign, or nothing when it leaves 32 bits.
std::optional<std::int32_t> digitsValue(std::string_view text, bool negative) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    const std::int64_t limit = negative ? kMax + 1 : kMax;
    std::int64_t value = 0;
    for (const char c : text) {
        value = value * 10 + (c - '0');
        if (value > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

} // namespace

bool digitsOnly(std::string_view text) {
    if (text.empty())
        return false;
    for (const char c : text)
        if (!isDigit(c))
            return false;
    return true;
}

bool subscriberNumber(std::string_view text) {
    return text.size() == kSubscriberDigits && digitsOnly(text);
}

std::optional<std::int32_t> wholeNumber(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (!digitsOnly(text))
        return std::nullopt;
    return digitsValue(text, negative);
}

std::optional<std::int32_t> unsignedNumber(std::string_view text) {
    if (!digitsOnly(text))
        return std::nullopt;
    return digitsValue(text, false);
}

std::optional<std::size_t> firstForbiddenCharacter(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (static_cast<std::uint8_t>(text[i]) > kHighestTextCharacter)
            return i;
    return std::nullopt;
}

namespace {

EntryVerdict refuse(const char* message, const char* putBack) {
    return {message, std::string(putBack)};
}

EntryVerdict warn(const char* message) {
    return {message, std::nullopt};
}

EntryVerdict phoneNumberEntry(std::string_view text, const char* tooLong, const char* notDigits) {
    if (text.size() > kPhoneNumberLongest)
        return refuse(tooLong, "");
    // Digits only: anything else would be stored and read back as no number.
    if (!text.empty() && !digitsOnly(text))
        return refuse(notDigits, "");
    return {};
}

} // namespace

EntryVerdict smsCentreEntry(std::string_view text) {
    return phoneNumberEntry(text, messages::kCentreTooLong, messages::kDigitsOnly);
}

EntryVerdict userNumberEntry(int user, std::string_view text) {
    if (user < 1 || user > 4)
        return {};
    return phoneNumberEntry(text, messages::kUserTooLong[user - 1],
                            user == 2 ? messages::kDigitsOnlyUser2 : messages::kDigitsOnly);
}

bool testMessageLosesUser(int user, std::string_view number, bool testMessageOn,
                          std::string_view testMessageUser) {
    if (!number.empty() || !testMessageOn)
        return false;
    const auto index = wholeNumber(testMessageUser);
    return index && *index == user;
}

EntryVerdict outputSecondsRange(int output, std::string_view text, bool timed) {
    if (output < 1 || output > 2)
        return {};
    const auto value = wholeNumber(text);
    if (timed && value && (*value < 1 || *value > 999))
        return refuse(messages::kOutputRange[output - 1], "30");
    return {};
}

EntryVerdict outputSecondsForm(int output, std::string_view text) {
    if (output < 1 || output > 2)
        return {};
    if (!text.empty() && !wholeNumber(text))
        return refuse(messages::kOutputRange[output - 1], "30");
    return {};
}

EntryVerdict dailyLimitEntry(std::string_view text) {
    if (text == "0")
        return refuse(messages::kLimitStartsWithZero, "20");
    const auto value = unsignedNumber(text);
    if (!text.empty() && (!value || *value > 9999 || text.size() > kDigitsFieldLongest))
        return refuse(messages::kLimitRange, "20");
    return {};
}

EntryVerdict queryCodeEntry(std::string_view text) {
    if (text.size() > kQueryCodeLongest)
        return refuse(messages::kCodeTooLong, "");
    return {};
}

EntryVerdict reportOptionEntry(bool switchedOn, std::string_view queryCode) {
    if (switchedOn && queryCode.empty())
        return warn(messages::kCodeFirst);
    return {};
}

EntryVerdict smsCountEntry(std::string_view text) {
    if (text == "0")
        return warn(messages::kCountAtLeast10);
    const auto value = wholeNumber(text);
    // The device keeps four characters: "00010" would spill over its field.
    if ((text.size() > 1 && value && *value > 9999) || (!text.empty() && !value) ||
        text.size() > kDigitsFieldLongest)
        return refuse(messages::kCountAtMost9999, "10");
    return {};
}

EntryVerdict daysEntry(std::string_view text) {
    const auto value = unsignedNumber(text);
    if (!text.empty() && !value)
        return refuse(messages::kDaysNotNumber, "1");
    // 0 days is no interval: refused like a value above the range.
    if ((value && (*value > 999 || *value == 0)) || text.size() > kDigitsFieldLongest)
        return refuse(messages::kDaysRange, "1");
    return {};
}

EntryVerdict textEntry(int slot, std::string_view text, bool boxHeldText) {
    if (slot < 0 || slot >= layout::kTextSlotCount)
        return {};
    if (text.size() > layout::textLongest(slot))
        return warn(messages::kTextTooLong[slot]);
    if (boxHeldText && firstForbiddenCharacter(text))
        return warn(messages::kTextForbidden[slot]);
    return {};
}

std::optional<RefusedText>
firstRefusedText(const std::array<std::string, layout::kTextSlotCount>& texts) {
    for (int slot = 0; slot < layout::kTextSlotCount; ++slot)
        if (const auto v = textEntry(slot, texts[static_cast<std::size_t>(slot)], true);
            v.refused())
            return RefusedText{slot, v};
    return std::nullopt;
}

EntryVerdict testIndexEntry(std::string_view text) {
    const auto index = wholeNumber(text);
    if (!text.empty() && (!index || *index < 1 || *index > 4))
        return refuse(messages::kIndexRange, "");
    return {};
}

EntryVerdict testUserDefinedEntry(std::string_view index,
                                  const std::array<std::string, 4>& userNumbers) {
    const auto n = wholeNumber(index);
    if (n && *n >= 1 && *n <= 4 && userNumbers[static_cast<std::size_t>(*n - 1)].empty())
        return refuse(messages::kDefineUserFirst[*n - 1], "");
    return {};
}

} // namespace trellikon::rules
