#pragma once
// A number with its noun in the Polish form that number takes: "1 bajt",
// "3 bajty", "5 bajtów", "22 bajty", "112 bajtów".

#include <string>

namespace trellikon {

// `one` for 1, `few` when the last digit is 2..4 and the last two are not
// 12..14, `many` otherwise (0, 5..21, 25, 112 ...). Negative numbers take the
// form of their absolute value.
const char* polishPluralForm(long long n, const char* one, const char* few, const char* many);

// The number and its noun: "3 ramki".
std::string polishCount(long long n, const char* one, const char* few, const char* many);

} // namespace trellikon
