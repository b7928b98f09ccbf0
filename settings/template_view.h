#pragma once
// The template inspector: what a settings image holds, setting by setting,
// under two sets of names: the command line's own (show, JSON) and the
// editors' group and field names (the comparison and the settings sheet, see
// settings_comparison.h). The command-line companion and the windows both
// render from here.
//
// Images come from files and cables, so every byte value must render safely:
// the texts are Windows-1250, and a control byte must never reach a terminal.

#include "device_settings.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trellikon::inspector {

// An image decoded in the order used after a complete device read, with the
// record of which fields fell back to their defaults.
struct Inspection {
    DeviceSettings settings;
    DecodeFallbacks fallbacks;
    // Row by row, when the settings were not all decoded from the image (the
    // program's edited settings); empty means `fallbacks` tells.
    std::vector<bool> rowFallbacks;
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

// One decoded setting as `show` names and renders it. `shown` is what a window
// would show (texts up to their first 0 byte), and what comparisons compare:
// no decoder reads past that 0. `exact` renders the whole decoded value for
// `show`, which lists the bytes as they lie. `fallback`: the check failed, and
// `show` puts the mark after both.
//
// The same setting as the editors name it: the title of the group it sits in
// and the caption of its control, with the value in the editor's words (TAK,
// AKTYWNE, the users of a mask), `value` as a window shows it, safe for a
// terminal, and `valueMarked` when the mark goes after it (an empty telephone
// number never carries it).
//
// The marks are kept apart from the values, which are rendered for every row
// and almost all of which carry none. The names are the table's own texts.
struct Field {
    Section section = Section::Parameters;
    std::string_view name;
    std::string shown;
    std::string exact;

    std::string_view group;
    std::string_view caption;
    std::string value;
    bool isText = false;   // a message text; `textBytes` holds what a window shows of it
    std::string textBytes; // Windows-1250, up to the first 0 byte
    bool fallback = false;
    bool valueMarked = false;
};
// A rendered value with the fallback mark after it when `mark`.
std::string withMark(std::string_view value, bool mark);

// Every parameter and the fifteen texts, in the order `show` prints them.
std::vector<Field> describe(const Inspection& in);

// The settings the program holds (as read, loaded or edited) in the
// inspector's terms: the decoded settings as the editors stored them, the
// callers a write would leave in the device (the image's slots with the
// subscriber table's changes over them), and a fallback mark on a setting
// only while it still holds the default its failed check gave it.
Inspection inspectProgram(const DeviceSettings& program);

// The editors' groups, in the order the windows show them.
const std::vector<std::string>& editorGroups();
// The settings in the editors' order: group by group, within a group as the
// table lists them.
std::vector<Field> describeByGroup(const Inspection& in);
// The group the subscriber list belongs to (the CLIP switches and the callers).
inline constexpr const char* kCallersGroup = "Abonenci";

// Windows-1250 bytes as UTF-8 safe for a terminal, without quotes: control
// bytes and the C1 ones become \xNN, a backslash is doubled.
std::string escapeForTerminal(std::string_view cp1250);

std::string renderShow(const Inspection& in);
std::string renderJson(const Inspection& in);

// True for a byte that some decoded setting reads: a field, its check byte, a
// reserved byte inside a check, a whole text slot or subscriber slot. Bytes
// that no decoder reads (unused, or reserved outside any check) are not.
bool byteCovered(std::size_t offset);
// The bytes of the setting that reads `offset`, as [first, first + length)
// runs: a field's runs (its check byte within them), or the subscriber slot;
// none for a byte no setting reads.
std::vector<std::pair<std::size_t, std::size_t>> settingRuns(std::size_t offset);

} // namespace trellikon::inspector
