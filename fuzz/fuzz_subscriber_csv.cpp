// The caller list's CSV import of any file. Input: one byte choosing add or
// replace, then the file's bytes.
//
// Checked: nothing is refused but as a whole file or line by line; every
// accepted line holds eleven digits at a position 1..168 that the resulting
// list really gives it, and those digits stand in a row among the digits of
// the line's own characters (only "48" may be put in front); the counts add up to the lines; the
// list never holds a number twice; every text for showing is well-formed UTF-8; and the resulting
// list, exported and imported back with replace, is the same list.
#include "cp1250.h"
#include "entry_rules.h"
#include "subscriber_csv.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string_view>

using namespace trellikon;
using namespace trellikon::csv;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "subscriber csv: %s\n", what);
    std::abort();
}

// Well-formed UTF-8 on one line, without control characters.
bool wellFormed(std::string_view s) {
    for (const char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return validUtf8(s);
}

// The number is the line's digits, not digits made up or brought in from
// elsewhere: all eleven, or the last nine after a "48" put in front, follow
// one another among the digits of the line's text (blanks, dashes, a trunk
// "0", a "+" or "00" and zero decimals may stand around and between them).
bool fromTheLine(const std::string& number, std::string_view text, const ImportLine& l) {
    if (l.begin > l.end || l.end > text.size())
        return false;
    std::string digits;
    for (const char c : text.substr(l.begin, l.end - l.begin))
        if (c >= '0' && c <= '9')
            digits += c;
    return digits.find(number) != std::string::npos ||
           (number.starts_with("48") && digits.find(number.substr(2)) != std::string::npos);
}

void checkPlan(const ImportPlan& plan, std::string_view text) {
    int accepted = 0, skipped = 0, refused = 0;
    for (const ImportLine& l : plan.lines) {
        accepted += l.verdict == Verdict::Accepted;
        skipped += l.verdict == Verdict::Skipped;
        refused += l.verdict == Verdict::Refused;
        if (l.verdict == Verdict::Accepted && (!rules::subscriberNumber(l.number) ||
                                               plan.result.entry(l.position).number != l.number))
            fail("an accepted line is not in the list as reported");
        if (l.verdict == Verdict::Accepted && !fromTheLine(l.number, text, l))
            fail("an accepted number is not taken from its line");
        if (l.verdict != Verdict::Accepted && l.verdict != Verdict::Header && l.reason.empty())
            fail("a line not taken has no reason");
        if (!wellFormed(l.content) || !wellFormed(l.reason) || !wellFormed(describe(l)))
            fail("a report text is not UTF-8");
    }
    if (accepted != plan.accepted || skipped != plan.skipped || refused != plan.refused)
        fail("the counts do not add up");
    std::set<std::string> seen;
    for (int n = 1; n <= layout::kSubscriberCount; ++n) {
        const std::string& number = plan.result.entry(n).number;
        if (!number.empty() && !seen.insert(number).second)
            fail("a number twice in the list");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const ImportMode mode = data[0] & 1 ? ImportMode::ReplaceList : ImportMode::AddAtFreePositions;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const CallerText text = decodeCallerText(bytes);
    if (!text.ok()) {
        if (text.failure.message.empty())
            fail("a refused file without a reason");
        return 0;
    }
    const CallerFile file = readCallers(text.text);
    if (!file.ok)
        return 0;
    SubscriberTable table;
    table.set(1, "48601234567");
    table.set(2, "48600000002");
    table.set(100, "48600000100");
    const ImportPlan plan = planImport(file, table, mode);
    checkPlan(plan, text.text);
    // The same with every column read, each number a caller.
    CallerFile everyColumn = file;
    std::vector<int> all(everyColumn.columns.size());
    for (std::size_t c = 0; c < all.size(); ++c)
        all[c] = static_cast<int>(c);
    chooseColumns(everyColumn, all);
    checkPlan(planImport(everyColumn, table, mode), text.text);

    const std::string exported = exportSubscribers(plan.result);
    const CallerText back = decodeCallerText(exported);
    if (!back.ok())
        fail("an export is not text");
    const CallerFile again = readCallers(back.text);
    SubscriberTable empty;
    if (again.ok) {
        const ImportPlan round = planImport(again, empty, ImportMode::ReplaceList);
        for (int n = 1; n <= layout::kSubscriberCount; ++n)
            if (round.result.entry(n).number != plan.result.entry(n).number)
                fail("an exported list does not come back");
    } else {
        for (int n = 1; n <= layout::kSubscriberCount; ++n)
            if (!plan.result.entry(n).number.empty())
                fail("a list with callers exported as nothing");
    }
    return 0;
}
