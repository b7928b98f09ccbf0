#pragma once
// The command-line companion's core: what a template shows, as text for a
// person or as JSON for a script, and how two templates differ.
//
// How the pieces of this library fit together:
//   inspector       decodes an image the way the program does after a read and
//                   renders every setting (show, JSON, diff, the byte-cover map)
//   device_session  drives DeviceLink with wall-clock ticks for read and write
//   cli_commands    the commands with their exit codes, on top of both; the
//                   program's main() only parses arguments
//
// Images come from files and cables, so every byte value must render safely:
// the texts are Windows-1250, and a control byte must never reach a terminal.

#include "device_settings.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace trellikon::inspector {

// An image decoded in the order used after a complete device read, with the
// record of which fields fell back to their defaults.
struct Inspection {
    DeviceSettings settings;
    DecodeFallbacks fallbacks;
};
Inspection inspect(const SettingsImage::Bytes& bytes);

// What a window control would show: the bytes up to the first 0 byte.
std::string_view untilNul(std::string_view bytes);

// Windows-1250 bytes (whole, 0 bytes included) as a double-quoted UTF-8 string
// safe for a terminal: control bytes, and the bytes that decode to C1 control
// characters, become \xNN; a quote and a backslash are escaped so that an
// escape is never ambiguous.
std::string quoteForTerminal(std::string_view cp1250);

// Windows-1250 bytes (whole) as a JSON string literal, valid UTF-8 for every byte.
std::string jsonString(std::string_view cp1250);

inline constexpr const char* kFallbackMark = "(domyślna – błąd sumy kontrolnej)";

enum class Section { Parameters, Texts };

// One decoded setting as `show` and `diff` name and render it. `shown` is what
// a window would show (texts up to their first 0 byte); `exact` renders the
// whole decoded value, so that settings differing only after a 0 byte are
// still told apart. Both carry the fallback mark when the check failed.
struct Field {
    Section section;
    std::string name;
    std::string shown;
    std::string exact;
};
// Every parameter and the fifteen texts, in the order `show` prints them.
std::vector<Field> describe(const Inspection& in);

std::string renderShow(const Inspection& in);
std::string renderJson(const Inspection& in);

// True for a byte that some decoded setting reads: a field, its check byte, a
// reserved byte inside a check, a whole text slot or subscriber slot. Bytes
// that no decoder reads (unused, or reserved outside any check) are not.
bool byteCovered(std::size_t offset);

struct Difference {
    std::string name;
    std::string a;
    std::string b;
};
struct DiffResult {
    std::vector<Difference> settings;
    std::size_t uncoveredBytes = 0; // differing bytes that no setting reads

    bool equal() const { return settings.empty() && uncoveredBytes == 0; }
};
DiffResult diff(const SettingsImage::Bytes& a, const SettingsImage::Bytes& b);
std::string renderDiff(const DiffResult& d);

} // namespace trellikon::inspector
