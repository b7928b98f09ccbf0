#include "subscriber_csv.h"

#include "cp1250.h"
#include "entry_rules.h"

#include <algorithm>
#include <array>
#include <map>

namespace trellikon::csv {

using layout::kSubscriberCount;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::size_t kShownLongest = 120; // characters of a line shown in a report

bool isBlank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t'; });
}

std::string trimmed(std::string_view s) {
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return std::string(s.substr(first, s.find_last_not_of(" \t") - first + 1));
}

// A line as a report shows it: line ends and tabs as blanks, at most
// kShownLongest characters, never cut inside a character.
std::string shown(std::string_view raw) {
    std::string out;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < raw.size();) {
        if (chars == kShownLongest) {
            out += "…";
            break;
        }
        const std::size_t len = std::max<std::size_t>(1, utf8CharLength(raw, i));
        const char c = raw[i];
        out += (c == '\r' || c == '\n' || c == '\t') ? std::string(" ")
                                                     : std::string(raw.substr(i, len));
        i += len;
        ++chars;
    }
    return out;
}

struct Record {
    int line = 0;
    std::size_t begin = 0, end = 0; // the record's bytes in the text
    std::vector<std::string> fields;
};

// RFC 4180 fields, leniently: a quote opens a quoted field only at the field's
// start (after blanks); a quoted field may hold separators, doubled quotes and
// line ends; an unclosed quote runs to the end of the text. Any of CRLF, LF and
// CR ends a line.
std::vector<Record> splitRecords(std::string_view text, char separator) {
    std::vector<Record> records;
    Record current;
    std::string field;
    bool inQuotes = false;
    int line = 1;
    current.line = 1;
    auto endField = [&] {
        current.fields.push_back(std::move(field));
        field.clear();
    };
    auto endRecord = [&](std::size_t at) {
        endField();
        current.end = at;
        records.push_back(std::move(current));
        current = Record{};
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool crlf = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        if (inQuotes) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                if (c == '\n' || (c == '\r' && !crlf))
                    ++line;
                field += c;
            }
        } else if (c == '"' && isBlank(field)) {
            inQuotes = true;
            field.clear();
        } else if (c == separator) {
            endField();
        } else if (c == '\r' || c == '\n') {
            endRecord(i);
            if (crlf)
                ++i;
            ++line;
            current.line = line;
            current.begin = i + 1;
        } else {
            field += c;
        }
    }
    if (current.begin < text.size())
        endRecord(text.size());
    return records;
}

bool blankRecord(const Record& r) {
    return std::all_of(r.fields.begin(), r.fields.end(),
                       [](const std::string& f) { return isBlank(f); });
}

// The separator that splits the most of the first lines; ";" before a tab
// before ",", so that a name with a comma in a ";" file does not mislead.
char detectSeparator(std::string_view text) {
    constexpr std::size_t kLooked = 100;
    char best = ';';
    std::size_t bestLines = 0;
    for (const char candidate : {';', '\t', ','}) {
        // Only the beginning is looked at; a cut line costs nothing here.
        const std::vector<Record> records =
            splitRecords(text.substr(0, std::min<std::size_t>(text.size(), 64 * 1024)), candidate);
        std::size_t lines = 0, looked = 0;
        for (const Record& r : records) {
            if (blankRecord(r) && r.fields.size() < 2)
                continue;
            if (++looked > kLooked)
                break;
            if (r.fields.size() > 1)
                ++lines;
        }
        if (lines > bestLines) {
            best = candidate;
            bestLines = lines;
        }
    }
    return best;
}

std::string asciiLower(std::string_view s) {
    std::string out;
    for (const char c : s)
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

// What a header cell says its column holds. A telephone is named for sure by
// "telefon" and its kin; a bare "numer" may be a flat's number as well.
enum class HeaderName { None, Position, MaybeNumber, Number };

HeaderName headerName(std::string_view field) {
    std::string key;
    for (const char c : asciiLower(trimmed(field)))
        if (c != ' ' && c != '.' && c != ':')
            key += c;
    for (const char* p : {"pozycja", "poz", "index", "indeks", "lp", "position"})
        if (key == p)
            return HeaderName::Position;
    for (const char* n : {"tel", "phone", "gsm", "komórk", "msisdn"})
        if (key.find(n) != std::string::npos)
            return HeaderName::Number;
    for (const char* n : {"numer", "number"})
        if (key.find(n) != std::string::npos)
            return HeaderName::MaybeNumber;
    return HeaderName::None;
}

bool hasDigit(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool hasLetter(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c & 0x80) != 0;
    });
}

// A header names a column we know, or holds words and no digit at all.
bool looksLikeHeader(const Record& r) {
    bool named = false, digits = false, letters = false;
    for (const std::string& f : r.fields) {
        named = named || headerName(f) != HeaderName::None;
        digits = digits || hasDigit(f);
        letters = letters || hasLetter(f);
    }
    return named || (!digits && letters);
}

const std::string& fieldAt(const Record& r, int column) {
    static const std::string none;
    return column >= 0 && static_cast<std::size_t>(column) < r.fields.size()
               ? r.fields[static_cast<std::size_t>(column)]
               : none;
}

std::optional<int> listPosition(std::string_view field) {
    const auto n = rules::unsignedNumber(trimmed(field));
    if (!n || *n < 1 || *n > kSubscriberCount)
        return std::nullopt;
    return *n;
}

// The column with the most telephone numbers is the number column (never a
// known position column). Unless a header named one, the first column is the
// position column when it holds a distinct position 1..168 on every line.
void columnsByContent(const std::vector<Record>& data, std::size_t columns, CallerFile& file,
                      bool positionKnown) {
    std::vector<int> numbers(columns, 0);
    for (const Record& r : data)
        for (std::size_t c = 0; c < r.fields.size() && c < columns; ++c)
            if (normaliseNumber(r.fields[c]).problem.empty())
                ++numbers[c];
    if (positionKnown)
        numbers[static_cast<std::size_t>(file.positionColumn)] = -1;
    file.numberColumn =
        static_cast<int>(std::max_element(numbers.begin(), numbers.end()) - numbers.begin());
    if (positionKnown || columns < 2 || file.numberColumn == 0)
        return;
    std::array<bool, kSubscriberCount + 1> seen{};
    for (const Record& r : data) {
        const auto n = listPosition(fieldAt(r, 0));
        if (!n || seen[static_cast<std::size_t>(*n)])
            return;
        seen[static_cast<std::size_t>(*n)] = true;
    }
    file.positionColumn = 0;
}

// Characters that people put into a number to make it readable: blanks
// (no-break ones too, which spreadsheets use), dashes, dots and brackets.
std::size_t fillerLength(std::string_view s, std::size_t i) {
    static constexpr std::string_view kMultiByte[] = {
        "\xC2\xA0",     // no-break space
        "\xE2\x80\xAF", // narrow no-break space
        "\xE2\x80\x89", // thin space
        "\xE2\x80\x90", "\xE2\x80\x91", "\xE2\x80\x92", "\xE2\x80\x93", "\xE2\x80\x94", // dashes
        "\xE2\x88\x92", // minus sign
    };
    const char c = s[i];
    if (c == ' ' || c == '\t' || c == '-' || c == '.' || c == '(' || c == ')' || c == '[' ||
        c == ']')
        return 1;
    for (const std::string_view m : kMultiByte)
        if (s.substr(i, m.size()) == m)
            return m.size();
    return 0;
}

} // namespace

std::string exportSubscribers(const SubscriberTable& table, int* count) {
    std::string out(kBom);
    out += "Pozycja;Numer telefonu\r\n";
    int written = 0;
    for (int n = 1; n <= kSubscriberCount; ++n) {
        const std::string& stored = table.entry(n).number;
        if (stored.empty())
            continue;
        // A number read from a device is whatever bytes its slot holds: quoted
        // when they would break the line apart.
        std::string number = cp1250ToUtf8(stored.substr(0, stored.find('\0')));
        if (number.find_first_of(";\"\r\n") != std::string::npos || number != trimmed(number)) {
            std::string quoted = "\"";
            for (const char c : number)
                quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
            number = quoted + '"';
        }
        out += std::to_string(n) + ';' + number + "\r\n";
        ++written;
    }
    if (count)
        *count = written;
    return out;
}

CallerText decodeCallerText(std::string_view bytes) {
    CallerText r;
    if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                              (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
        r.error = "plik jest zapisany w UTF-16; zapisz go jako „CSV UTF-8” albo „CSV "
                  "(rozdzielany średnikami)”";
        return r;
    }
    const bool bom = bytes.substr(0, kBom.size()) == kBom;
    if (bom)
        bytes.remove_prefix(kBom.size());
    if (validUtf8(bytes))
        r.text = std::string(bytes);
    else if (bom) {
        r.error = "plik zaczyna się znacznikiem UTF-8, ale nie jest poprawnym tekstem UTF-8";
        return r;
    } else
        r.text = cp1250ToUtf8(bytes);
    int line = 1;
    for (const char c : r.text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\n')
            ++line;
        else if ((b < 0x20 && c != '\t' && c != '\r') || b == 0x7F) {
            r.error =
                "to nie jest plik tekstowy (znak sterujący w wierszu " + std::to_string(line) + ")";
            r.text.clear();
            return r;
        }
    }
    r.ok = true;
    return r;
}

CallerFile readCallers(std::string_view text) {
    CallerFile file;
    file.separator = detectSeparator(text);
    std::vector<Record> records = splitRecords(text, file.separator);
    std::erase_if(records, blankRecord);
    if (records.empty()) {
        file.error = "plik nie zawiera żadnego wiersza";
        return file;
    }
    const bool header = looksLikeHeader(records.front());
    const std::size_t dataLines = records.size() - (header ? 1 : 0);
    if (dataLines == 0) {
        file.error = "plik nie zawiera żadnego numeru, tylko nagłówek";
        return file;
    }
    if (dataLines > static_cast<std::size_t>(kMostLines)) {
        file.error = "plik ma więcej niż " + std::to_string(kMostLines) +
                     " wierszy; lista abonentów ma najwyżej 168 numerów";
        return file;
    }
    std::size_t columns = 0;
    for (const Record& r : records)
        columns = std::max(columns, r.fields.size());
    bool numberKnown = false, positionKnown = false;
    if (header) {
        const Record& h = records.front();
        HeaderName best = HeaderName::None;
        for (std::size_t c = 0; c < h.fields.size(); ++c) {
            const HeaderName name = headerName(h.fields[c]);
            if (name == HeaderName::Position && !positionKnown) {
                file.positionColumn = static_cast<int>(c);
                positionKnown = true;
            } else if (name > best && name != HeaderName::Position) {
                file.numberColumn = static_cast<int>(c);
                best = name;
            }
        }
        numberKnown = best != HeaderName::None;
    }
    if (!numberKnown) {
        const std::vector<Record> data(records.begin() + (header ? 1 : 0), records.end());
        columnsByContent(data, columns, file, positionKnown);
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        CallerLine l;
        l.line = r.line;
        l.content = shown(text.substr(r.begin, r.end - r.begin));
        l.header = header && i == 0;
        l.number = fieldAt(r, file.numberColumn);
        l.position = fieldAt(r, file.positionColumn);
        file.lines.push_back(std::move(l));
    }
    file.ok = true;
    return file;
}

NumberCheck normaliseNumber(std::string_view field) {
    NumberCheck r;
    std::string kept;
    for (std::size_t i = 0; i < field.size();) {
        if (const std::size_t filler = fillerLength(field, i)) {
            i += filler;
            continue;
        }
        kept += field[i++];
    }
    if (kept.empty()) {
        r.problem = "brak numeru telefonu";
        return r;
    }
    // Eleven digits are taken as they stand, as the add dialog takes them: so
    // a number the list holds comes back unchanged from its own export.
    if (rules::subscriberNumber(kept)) {
        r.number = std::move(kept);
        return r;
    }
    std::string_view digits = kept;
    if (digits.front() == '+')
        digits.remove_prefix(1);
    else if (digits.substr(0, 2) == "00")
        digits.remove_prefix(2);
    for (std::size_t i = 0; i < digits.size(); ++i)
        if (digits[i] < '0' || digits[i] > '9') {
            const std::size_t len = std::max<std::size_t>(1, utf8CharLength(digits, i));
            r.problem = "„" + shown(field) + "” nie jest numerem telefonu (znak „" +
                        shown(digits.substr(i, len)) + "”)";
            return r;
        }
    std::string number = digits.size() == 9 ? "48" + std::string(digits) : std::string(digits);
    if (!rules::subscriberNumber(number)) {
        r.problem = "„" + shown(field) + "” nie jest numerem telefonu (" +
                    std::to_string(digits.size()) + " cyfr zamiast 9 albo 11)";
        return r;
    }
    r.number = std::move(number);
    return r;
}

ImportPlan planImport(const CallerFile& file, const SubscriberTable& current, ImportMode mode) {
    ImportPlan plan;
    plan.result = current;
    const bool replace = mode == ImportMode::ReplaceList;
    if (replace)
        for (int n = 1; n <= kSubscriberCount; ++n)
            if (!current.entry(n).number.empty())
                plan.result.remove(n);    // freed in the image unless filled again
    std::map<std::string, int> firstLine; // number -> the line that brought it
    std::vector<std::size_t> waiting;     // accepted lines still without a position
    std::array<int, kSubscriberCount + 1> takenBy{};
    for (const CallerLine& l : file.lines) {
        ImportLine out;
        out.line = l.line;
        out.content = l.content;
        if (l.header) {
            out.verdict = Verdict::Header;
            out.reason = "wiersz nagłówka";
            plan.lines.push_back(std::move(out));
            continue;
        }
        const NumberCheck check = normaliseNumber(l.number);
        out.number = check.number;
        if (!check.problem.empty()) {
            out.verdict = Verdict::Refused;
            out.reason = check.problem;
        } else if (const auto first = firstLine.find(check.number); first != firstLine.end()) {
            out.verdict = Verdict::Skipped;
            out.reason = "numer " + check.number + " powtórzony w pliku (wiersz " +
                         std::to_string(first->second) + ")";
        } else if (const int listed = plan.result.position(check.number); !replace && listed) {
            firstLine[check.number] = l.line;
            out.verdict = Verdict::Skipped;
            out.reason = "abonent " + check.number + " jest już na liście (pozycja " +
                         std::to_string(listed) + ")";
        } else {
            firstLine[check.number] = l.line;
            out.verdict = Verdict::Accepted;
            const auto wanted = listPosition(l.position);
            if (replace && wanted && takenBy[static_cast<std::size_t>(*wanted)] == 0) {
                out.position = *wanted;
                takenBy[static_cast<std::size_t>(*wanted)] = l.line;
                plan.result.set(*wanted, check.number);
            } else if (!replace) {
                out.position = plan.result.firstFree();
                plan.result.set(out.position, check.number);
            } else {
                if (wanted)
                    out.reason = "pozycja " + std::to_string(*wanted) +
                                 " z pliku zajęta przez wiersz " +
                                 std::to_string(takenBy[static_cast<std::size_t>(*wanted)]);
                else if (!isBlank(l.position))
                    out.reason =
                        "pozycja „" + shown(trimmed(l.position)) + "” z pliku poza zakresem 1–168";
                waiting.push_back(plan.lines.size());
            }
            if (!replace && out.position == 0) {
                out.verdict = Verdict::Refused;
                out.reason = "lista pełna (168 abonentów)";
            }
        }
        plan.lines.push_back(std::move(out));
    }
    // Lines without a position of their own take what the others left free.
    for (const std::size_t i : waiting) {
        ImportLine& out = plan.lines[i];
        out.position = plan.result.firstFree();
        if (out.position == 0) {
            out.verdict = Verdict::Refused;
            out.reason = "lista pełna (168 abonentów)";
            continue;
        }
        plan.result.set(out.position, out.number);
    }
    for (ImportLine& out : plan.lines) {
        plan.accepted += out.verdict == Verdict::Accepted;
        plan.skipped += out.verdict == Verdict::Skipped;
        plan.refused += out.verdict == Verdict::Refused;
    }
    return plan;
}

const char* verdictName(Verdict v) {
    switch (v) {
    case Verdict::Header:
        return "nagłówek";
    case Verdict::Accepted:
        return "przyjęty";
    case Verdict::Skipped:
        return "pominięty";
    case Verdict::Refused:
        return "odrzucony";
    }
    return "";
}

std::string describe(const ImportLine& line) {
    std::string said = "wiersz " + std::to_string(line.line) + ": " + verdictName(line.verdict);
    if (line.verdict == Verdict::Accepted) {
        said += " – pozycja " + std::to_string(line.position);
        return line.reason.empty() ? said : said + " (" + line.reason + ")";
    }
    return said + " – " + line.reason;
}

std::string summary(const ImportPlan& plan) {
    return "Przyjęte: " + std::to_string(plan.accepted) +
           ", pominięte z ostrzeżeniem: " + std::to_string(plan.skipped) +
           ", odrzucone: " + std::to_string(plan.refused);
}

} // namespace trellikon::csv
