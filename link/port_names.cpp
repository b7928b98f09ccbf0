#include "port_names.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <system_error>

namespace trellikon {

namespace {

// The number after "COM" when the rest of the name is digits only (saturated,
// so a long run of digits is still a COM name, just not a valid one).
std::optional<unsigned long> comSuffix(const std::string& name) {
    if (name.size() < 4)
        return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return std::nullopt;
    }
    const bool digitsOnly = std::all_of(name.begin() + 3, name.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (!digitsOnly)
        return std::nullopt;
    unsigned long number = 0;
    const auto [end, ec] = std::from_chars(name.data() + 3, name.data() + name.size(), number);
    (void)end;
    if (ec != std::errc{})
        return ~0ul;
    return number;
}

} // namespace

std::optional<int> comPortNumber(const std::string& name) {
    const auto number = comSuffix(name);
    if (!number || *number < 1 || *number > kComPortCount)
        return std::nullopt;
    // "COM01" is not one of the eight names.
    if (name[3] == '0')
        return std::nullopt;
    return static_cast<int>(*number);
}

std::optional<unsigned long> comNameNumber(const std::string& name) {
    return comSuffix(name);
}

} // namespace trellikon
