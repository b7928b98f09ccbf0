// What the command-line companion shows of any template file. Input: the
// file's whole content, made into an image in memory as a template load makes
// it (the first 4096 bytes, the rest 0x1A); reading the file itself is the
// file layer's and its tests' business, and a file per input would cost most
// of the time.
//
// Checked, one view per input (the file's size modulo 3 picks it, so that each
// run renders one view and the target runs several times as often): `show`
// and `show --json` of the image are well formed UTF-8 with no control
// character but the line end (a terminal must never receive one from a file);
// an image compared with itself is equal.
#include "settings_comparison.h"
#include "settings_image.h"
#include "template_view.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

using namespace trellikon;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "template load: %s\n", what);
    std::abort();
}

// Well-formed UTF-8 without C0 (but the line end), DEL or C1 control characters.
bool terminalSafe(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x20 && b != '\n')
            return false;
        if (b == 0x7F)
            return false;
        if (b < 0x80)
            continue;
        const std::size_t len = (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size())
            return false;
        char32_t cp = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c >> 6) != 2)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const char32_t least = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp <= 0x9F)
            return false;
        i += len - 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SettingsImage::Bytes image;
    image.fill(0x1A);
    std::copy_n(data, std::min(size, image.size()), image.begin());

    const inspector::Inspection in = inspector::inspect(image);
    switch (size % 3) {
    case 0:
        if (!terminalSafe(inspector::renderShow(in)))
            fail("show is not terminal-safe");
        break;
    case 1:
        if (!terminalSafe(inspector::renderJson(in)))
            fail("JSON is not terminal-safe");
        break;
    default:
        if (!comparison::compare(in, in).equal())
            fail("an image differs from itself");
    }
    return 0;
}
