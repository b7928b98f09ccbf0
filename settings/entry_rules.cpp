#include "entry_rules.h"

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

} // namespace trellikon::rules
