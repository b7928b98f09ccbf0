#pragma once
// Two sets of settings side by side: the comparison window's rows and the
// text of `trellikon-cli diff`, from one engine.
//
// "Here" is the first side (the program's settings, or file A), "there" the
// other (a template or the device). Rows carry the editors' group and field
// names in the editors' order, one row per differing setting; a message text
// comes with its changed characters marked; the callers are listed by
// position as added, removed or changed; differing bytes that no setting reads
// are only counted.

#include "template_view.h"

#include <cstddef>
#include <string>
#include <vector>

namespace trellikon::comparison {

inline constexpr const char* kEqual = "Ustawienia zgodne";

enum class RowKind {
    Setting,
    Text,          // a message text; the segments show which characters changed
    CallerAdded,   // a position free here and taken there
    CallerRemoved, // taken here, free there
    CallerChanged, // another number in the same position
};

// A run of characters of a displayed value (UTF-8, safe for a terminal).
struct Segment {
    std::string text;
    bool changed = false;
};

struct Row {
    std::string group;
    std::string name;
    RowKind kind = RowKind::Setting;
    std::string here;
    std::string there;
    // Text rows only: the two values character by character, without quotes.
    std::vector<Segment> hereSegments;
    std::vector<Segment> thereSegments;
};

struct Comparison {
    std::vector<Row> rows;
    std::size_t uncoveredBytes = 0; // differing bytes that no setting reads

    bool equal() const { return rows.empty() && uncoveredBytes == 0; }
};

Comparison compare(const inspector::Inspection& here, const inspector::Inspection& there);
Comparison compareImages(const SettingsImage::Bytes& here, const SettingsImage::Bytes& there);

// The words of a caller row's kind ("dodany", "usunięty", "zmieniony"); empty for settings.
const char* kindWord(RowKind kind);
// The last line under the rows, or "" when no unread byte differs.
std::string uncoveredLine(std::size_t count);

// The comparison as text: "Ustawienia zgodne" alone when equal; else each
// differing setting under its group with both values labelled, then the count
// of differing settings and of differing unread bytes.
std::string renderText(const Comparison& c, const std::string& hereLabel,
                       const std::string& thereLabel);

// Which characters of two byte strings differ: those outside a longest common
// subsequence of the two. Returned as runs over the escaped display form.
void markChanges(std::string_view here, std::string_view there, std::vector<Segment>& hereOut,
                 std::vector<Segment>& thereOut);

} // namespace trellikon::comparison
