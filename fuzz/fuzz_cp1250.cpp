// The Windows-1250 codec both ways. Input: any bytes, taken once as
// Windows-1250 text and once as UTF-8 text.
//
// Checked: every byte string survives Windows-1250 -> UTF-8 -> Windows-1250
// unchanged, and its UTF-8 is well formed; UTF-8 that converts comes back
// byte for byte; UTF-8 that does not names a character that really has no
// Windows-1250 form (or U+FFFD for malformed input); the replacing conversion
// agrees with the strict one where that succeeds and never grows the text.
#include "cp1250.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

using namespace trellikon;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "cp1250: %s\n", what);
    std::abort();
}

// Well-formed UTF-8 in the strict sense: shortest forms, no surrogates, at most U+10FFFF.
bool wellFormedUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = b < 0x80         ? 1
                          : (b >> 5) == 6  ? 2
                          : (b >> 4) == 14 ? 3
                          : (b >> 3) == 30 ? 4
                                           : 0;
        if (len == 0 || i + len > s.size())
            return false;
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c >> 6) != 2)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string utf8 = cp1250ToUtf8(bytes);
    if (!wellFormedUtf8(utf8))
        fail("Windows-1250 gave malformed UTF-8");
    const auto back = utf8ToCp1250(utf8);
    if (!back || *back != bytes)
        fail("a Windows-1250 string did not survive the round trip");

    char32_t bad = 0;
    const auto converted = utf8ToCp1250(bytes, &bad);
    if (converted) {
        if (!wellFormedUtf8(bytes))
            fail("malformed UTF-8 was accepted");
        if (cp1250ToUtf8(*converted) != bytes)
            fail("converted UTF-8 did not come back byte for byte");
    } else if (wellFormedUtf8(bytes)) {
        if (bad == 0 || unicodeToCp1250(bad))
            fail("refused a character that has a Windows-1250 form");
    } else if (bad != U'\uFFFD' && unicodeToCp1250(bad)) {
        fail("malformed UTF-8 reported with a convertible character");
    }
    const std::string replaced = utf8ToCp1250Replacing(bytes);
    if (converted ? replaced != *converted : replaced.size() > bytes.size())
        fail("the replacing conversion disagrees with the strict one");
    return 0;
}
