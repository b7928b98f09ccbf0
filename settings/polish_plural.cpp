#include "polish_plural.h"

namespace trellikon {

const char* polishPluralForm(long long n, const char* one, const char* few, const char* many) {
    // Computed on the magnitude without negating: -LLONG_MIN does not exist.
    const long long units = n % 10 < 0 ? -(n % 10) : n % 10;
    const long long tens = n % 100 < 0 ? -(n % 100) : n % 100;
    if (n == 1 || n == -1)
        return one;
    if (units >= 2 && units <= 4 && (tens < 12 || tens > 14))
        return few;
    return many;
}

std::string polishCount(long long n, const char* one, const char* few, const char* many) {
    return std::to_string(n) + ' ' + polishPluralForm(n, one, few, many);
}

} // namespace trellikon
