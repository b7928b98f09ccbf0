#include "cp1250.h"

#include <array>

namespace trellikon {
namespace {

// Upper half of the code page, 0x80..0xFF. Undefined bytes carry their own value.
constexpr std::array<char16_t, 128> kUpper = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179, // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9, // F8
};

void appendUtf8(std::string& out, char32_t cp) {
    char bytes[3];
    out.append(bytes, encodeUtf8(cp, bytes));
}

// Decodes one UTF-8 sequence at `pos`; returns U+FFFD and advances one byte on
// malformed input (overlong forms, surrogates and truncation included).
char32_t nextUtf8(std::string_view s, std::size_t& pos, bool& ok) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    ok = true;
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        ok = false;
        ++pos;
        return 0xFFFD;
    }
    if (s.size() - pos <= static_cast<std::size_t>(extra)) { // truncated sequence
        ok = false;
        ++pos;
        return 0xFFFD;
    }
    for (int i = 1; i <= extra; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + static_cast<std::size_t>(i)]);
        if ((b & 0xC0) != 0x80) {
            ok = false;
            ++pos;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ok = false;
        ++pos;
        return 0xFFFD;
    }
    pos += static_cast<std::size_t>(extra) + 1;
    return cp;
}

} // namespace

std::size_t encodeUtf8(char32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
}

char32_t cp1250ToUnicode(std::uint8_t byte) {
    return byte < 0x80 ? byte : kUpper[byte - 0x80];
}

std::optional<std::uint8_t> unicodeToCp1250(char32_t codePoint) {
    if (codePoint < 0x80)
        return static_cast<std::uint8_t>(codePoint);
    for (std::size_t i = 0; i < kUpper.size(); ++i) {
        if (kUpper[i] == codePoint)
            return static_cast<std::uint8_t>(0x80 + i);
    }
    return std::nullopt;
}

std::string cp1250ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes)
        appendUtf8(out, cp1250ToUnicode(static_cast<std::uint8_t>(c)));
    return out;
}

std::optional<std::string> utf8ToCp1250(std::string_view utf8, char32_t* badCodePoint) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        bool ok = true;
        const char32_t cp = nextUtf8(utf8, pos, ok);
        const auto byte = ok ? unicodeToCp1250(cp) : std::nullopt;
        if (!byte) {
            if (badCodePoint)
                *badCodePoint = cp;
            return std::nullopt;
        }
        out += static_cast<char>(*byte);
    }
    return out;
}

std::size_t utf8CharLength(std::string_view text, std::size_t pos) {
    bool ok = true;
    std::size_t next = pos;
    nextUtf8(text, next, ok);
    return ok ? next - pos : 0;
}

bool validUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t len = utf8CharLength(text, pos);
        if (len == 0)
            return false;
        pos += len;
    }
    return true;
}

std::string utf8ToCp1250Replacing(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        bool ok = true;
        const char32_t cp = nextUtf8(utf8, pos, ok);
        const auto byte = ok ? unicodeToCp1250(cp) : std::nullopt;
        out += byte ? static_cast<char>(*byte) : '?';
    }
    return out;
}

} // namespace trellikon
