#pragma once
// Windows-1250, the single-byte code page of every text the device stores.
//
// Bytes 0x00..0x7F are ASCII. The five bytes the code page leaves undefined
// (0x81 0x83 0x88 0x90 0x98) map to the code points of the same value, so a
// byte read from a device always survives a decode/encode round trip.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trellikon {

// The Unicode code point of a Windows-1250 byte. Every byte has one.
char32_t cp1250ToUnicode(std::uint8_t byte);

// The Windows-1250 byte of a code point, or nothing when the code page has no
// form for it. Never substitutes a look-alike.
std::optional<std::uint8_t> unicodeToCp1250(char32_t codePoint);

// Writes the UTF-8 form of a code point of the Basic Multilingual Plane (every
// character of the code page) to `out`, which has room for three bytes;
// returns how many it wrote.
std::size_t encodeUtf8(char32_t codePoint, char* out);

// Windows-1250 bytes to UTF-8 text. Cannot fail.
std::string cp1250ToUtf8(std::string_view bytes);

// UTF-8 text to Windows-1250 bytes. Fails (returns nothing) on malformed UTF-8
// or on a character with no Windows-1250 form; `badCodePoint`, when given,
// receives the first such character (or U+FFFD for malformed input).
std::optional<std::string> utf8ToCp1250(std::string_view utf8, char32_t* badCodePoint = nullptr);

// Well-formed UTF-8: no overlong forms, surrogates or cut sequences.
bool validUtf8(std::string_view text);
// The length of the well-formed UTF-8 character at `pos`, or 0 when the text
// is malformed there.
std::size_t utf8CharLength(std::string_view text, std::size_t pos);

// UTF-8 text to Windows-1250 bytes as a text box of the program takes it: a
// character with no Windows-1250 form, or a malformed sequence, becomes one "?".
std::string utf8ToCp1250Replacing(std::string_view utf8);

} // namespace trellikon
