#include "settings_comparison.h"

#include <algorithm>

namespace trellikon::comparison {

namespace {

using namespace layout;
using inspector::Field;

// Runs of equally marked bytes, each byte in its display form.
std::vector<Segment> runs(std::string_view bytes, const std::vector<bool>& changed) {
    std::vector<Segment> out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::string shown = inspector::escapeForTerminal(bytes.substr(i, 1));
        if (out.empty() || out.back().changed != changed[i])
            out.push_back({shown, changed[i]});
        else
            out.back().text += shown;
    }
    return out;
}

std::string callerValue(const SubscriberEntry& e, bool whole) {
    if (e.slot_index == 0 || e.number.empty())
        return "(wolna)";
    return inspector::escapeForTerminal(whole ? std::string_view(e.number)
                                              : inspector::untilNul(e.number));
}

bool taken(const SubscriberEntry& e) {
    return e.slot_index != 0 && !e.number.empty();
}

} // namespace

void markChanges(std::string_view here, std::string_view there, std::vector<Segment>& hereOut,
                 std::vector<Segment>& thereOut) {
    // Texts are at most about a hundred bytes; a full table is small.
    const std::size_t n = here.size(), m = there.size();
    std::vector<std::vector<unsigned short>> lcs(n + 1, std::vector<unsigned short>(m + 1, 0));
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m; j-- > 0;)
            lcs[i][j] = here[i] == there[j] ? static_cast<unsigned short>(lcs[i + 1][j + 1] + 1)
                                            : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    std::vector<bool> hereChanged(n, true), thereChanged(m, true);
    for (std::size_t i = 0, j = 0; i < n && j < m;) {
        if (here[i] == there[j]) {
            hereChanged[i++] = false;
            thereChanged[j++] = false;
        } else if (lcs[i + 1][j] >= lcs[i][j + 1]) {
            ++i;
        } else {
            ++j;
        }
    }
    hereOut = runs(here, hereChanged);
    thereOut = runs(there, thereChanged);
}

Comparison compare(const inspector::Inspection& here, const inspector::Inspection& there) {
    Comparison c;
    const auto& a = here.settings.image.bytes();
    const auto& b = there.settings.image.bytes();
    if (a != b)
        for (std::size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i] && !inspector::byteCovered(i))
                ++c.uncoveredBytes;

    const std::vector<Field> fa = inspector::describeByGroup(here);
    const std::vector<Field> fb = inspector::describeByGroup(there);
    for (std::size_t i = 0; i < fa.size() && i < fb.size(); ++i) {
        // A value ends at its first 0 byte: what lies after it is read by no
        // decoder, so a template, the device and the program's settings that
        // hold the same values are the same whatever their padding.
        if (fa[i].shown == fb[i].shown && fa[i].fallback == fb[i].fallback)
            continue;
        Row r;
        r.group = fa[i].group;
        r.name = fa[i].caption;
        r.here = inspector::withMark(fa[i].value, fa[i].valueMarked);
        r.there = inspector::withMark(fb[i].value, fb[i].valueMarked);
        if (fa[i].isText) {
            r.kind = RowKind::Text;
            markChanges(fa[i].textBytes, fb[i].textBytes, r.hereSegments, r.thereSegments);
        }
        c.rows.push_back(std::move(r));
    }
    for (int n = 1; n <= kSubscriberCount; ++n) {
        const SubscriberEntry& ea = here.settings.subscribers.entry(n);
        const SubscriberEntry& eb = there.settings.subscribers.entry(n);
        if (taken(ea) == taken(eb) && (!taken(ea) || ea.number == eb.number))
            continue;
        Row r;
        r.group = inspector::kCallersGroup;
        r.name = "Pozycja " + std::to_string(n);
        r.kind = !taken(ea)   ? RowKind::CallerAdded
                 : !taken(eb) ? RowKind::CallerRemoved
                              : RowKind::CallerChanged;
        const bool shownDiffers = callerValue(ea, false) != callerValue(eb, false);
        r.here = callerValue(ea, !shownDiffers);
        r.there = callerValue(eb, !shownDiffers);
        c.rows.push_back(std::move(r));
    }
    return c;
}

Comparison compareImages(const SettingsImage::Bytes& here, const SettingsImage::Bytes& there) {
    return compare(inspector::inspect(here), inspector::inspect(there));
}

const char* kindWord(RowKind kind) {
    switch (kind) {
    case RowKind::CallerAdded:
        return "dodany";
    case RowKind::CallerRemoved:
        return "usunięty";
    case RowKind::CallerChanged:
        return "zmieniony";
    case RowKind::Setting:
    case RowKind::Text:
        break;
    }
    return "";
}

std::string uncoveredLine(std::size_t count) {
    if (count == 0)
        return {};
    return "Różniące się bajty, których nie czyta żadne ustawienie: " + std::to_string(count);
}

std::string renderText(const Comparison& c, const std::string& hereLabel,
                       const std::string& thereLabel) {
    if (c.equal())
        return std::string(kEqual) + "\n";
    std::string out;
    std::string group;
    for (const Row& r : c.rows) {
        if (r.group != group) {
            group = r.group;
            out += group + "\n";
        }
        out += "  " + r.name;
        if (*kindWord(r.kind))
            out += std::string(" (") + kindWord(r.kind) + ")";
        out += "\n    " + hereLabel + ": " + r.here + "\n    " + thereLabel + ": " + r.there + "\n";
    }
    out += "Różniące się ustawienia: " + std::to_string(c.rows.size()) + "\n";
    out += "Różniące się bajty poza ustawieniami: " + std::to_string(c.uncoveredBytes) + "\n";
    return out;
}

} // namespace trellikon::comparison
