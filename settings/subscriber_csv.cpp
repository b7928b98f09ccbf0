#include "subscriber_csv.h"

#include "cp1250.h"
#include "entry_rules.h"
#include "polish_plural.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>

namespace trellikon::csv {

using layout::kSubscriberCount;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::size_t kShownLongest = 120; // characters of a line shown in a report

bool isBlank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t'; });
}

std::string trimmed(std::string_view s, const char* blanks = " \t") {
    const std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return std::string(s.substr(first, s.find_last_not_of(blanks) - first + 1));
}

// "1 cyfra", "2 cyfry", "5 cyfr", "22 cyfry": the three Polish forms.
std::string counted(long n, const char* one, const char* few, const char* many) {
    return polishCount(n, one, few, many);
}

char32_t decodeUtf8At(std::string_view s, std::size_t i, std::size_t len) {
    const auto b = [&](std::size_t k) {
        return static_cast<char32_t>(static_cast<unsigned char>(s[i + k]));
    };
    switch (len) {
    case 2:
        return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    case 3:
        return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    case 4:
        return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
    default:
        return b(0);
    }
}

// A character for a reason: as it stands when the user can see it, in words
// when it would show as a blank or as nothing at all.
std::string characterForReason(std::string_view s, std::size_t i) {
    const std::size_t len = std::max<std::size_t>(1, utf8CharLength(s, i));
    const char32_t c = decodeUtf8At(s, i, len);
    if (c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029 || c == 0x85)
        return "znak końca wiersza";
    if (c == '\t')
        return "tabulator";
    const bool invisible = c <= 0x20 || c == 0x7F || (c >= 0x80 && c <= 0xA0) || c == 0xAD ||
                           (c >= 0x2000 && c <= 0x200F) || (c >= 0x202A && c <= 0x202F) ||
                           (c >= 0x2060 && c <= 0x206F) || c == 0x3000 || c == 0xFEFF;
    if (invisible) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
        return std::string("niewidoczny znak ") + code;
    }
    return "znak „" + std::string(s.substr(i, len)) + "”";
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-16 code units (after the byte order mark) to UTF-8; false for a cut
// code unit or a surrogate without its pair.
bool utf16ToUtf8(std::string_view bytes, bool bigEndian, std::string& out) {
    if (bytes.size() % 2 != 0)
        return false;
    auto unit = [&](std::size_t i) -> char32_t {
        const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
        const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
        return static_cast<char32_t>((hi << 8) | lo);
    };
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const char32_t u = unit(i);
        if (u >= 0xDC00 && u <= 0xDFFF)
            return false;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 4 > bytes.size())
                return false;
            const char32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
            i += 2;
            continue;
        }
        appendUtf8(out, u);
    }
    return true;
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
// line ends. A quote never closed runs to the end of the text; `unclosedAt`,
// when given, receives the line where it opened (else 0). Any of CRLF, LF and
// CR ends a line.
std::vector<Record> splitRecords(std::string_view text, char separator, int* unclosedAt = nullptr) {
    std::vector<Record> records;
    Record current;
    std::string field;
    bool inQuotes = false;
    int line = 1, openedAt = 0;
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
            openedAt = line;
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
    if (unclosedAt)
        *unclosedAt = inQuotes ? openedAt : 0;
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

// Lower case for comparing headers: ASCII and the Latin letters of Polish
// and its neighbours ("KOMÓRKA", "Tel. Stacjonarny").
std::string lowerCase(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = utf8CharLength(s, i);
        if (len <= 1) { // ASCII, or a byte of a malformed sequence as it is
            const char c = s[i++];
            out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            continue;
        }
        char32_t c = decodeUtf8At(s, i, len);
        if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
            c += 0x20;
        else if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
            c |= 1;
        else if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && (c & 1))
            ++c;
        appendUtf8(out, c);
        i += len;
    }
    return out;
}

// What a header cell says its column holds. A telephone is named for sure by
// "telefon" and its kin; a bare "numer" may be a flat's number as well.
enum class HeaderName { None, Position, MaybeNumber, Number };

HeaderName headerName(std::string_view field) {
    std::string key;
    for (const char c : lowerCase(trimmed(field)))
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

const std::string& fieldAt(const std::vector<std::string>& fields, int column) {
    static const std::string none;
    return column >= 0 && static_cast<std::size_t>(column) < fields.size()
               ? fields[static_cast<std::size_t>(column)]
               : none;
}

std::optional<int> listPosition(std::string_view field) {
    const auto n = rules::unsignedNumber(trimmed(field));
    if (!n || *n < 1 || *n > kSubscriberCount)
        return std::nullopt;
    return *n;
}

bool readsAsNumber(std::string_view field) {
    return normaliseNumber(field).problem.empty();
}

// Where the header is: the first of the first lines that names a column we
// know and holds no telephone number (one with several cells before a lone
// title cell); else the first line when it holds words and no digit. Lines
// above it are a title and blank rows. -1: no header.
int findHeader(const std::vector<Record>& records) {
    constexpr std::size_t kLooked = 10;
    int named = -1;
    for (std::size_t i = 0; i < records.size() && i < kLooked; ++i) {
        const Record& r = records[i];
        bool names = false, number = false;
        int cells = 0;
        for (const std::string& f : r.fields) {
            names = names || headerName(f) != HeaderName::None;
            number = number || readsAsNumber(f);
            cells += !isBlank(f);
        }
        if (!names || number)
            continue;
        if (cells > 1)
            return static_cast<int>(i);
        if (named < 0)
            named = static_cast<int>(i);
    }
    if (named >= 0)
        return named;
    bool digits = false, letters = false;
    for (const std::string& f : records.front().fields) {
        digits = digits || hasDigit(f);
        letters = letters || hasLetter(f);
    }
    return !digits && letters ? 0 : -1;
}

// The column with the most telephone numbers among `candidates`; the first of
// them on a tie. -1 when there is no candidate.
int mostNumbers(const std::vector<CallerColumn>& columns, const std::vector<int>& candidates) {
    int best = -1;
    for (const int c : candidates)
        if (best < 0 || columns[static_cast<std::size_t>(c)].numbers >
                            columns[static_cast<std::size_t>(best)].numbers)
            best = c;
    return best;
}

// Finds the number and position columns. A header that names a telephone
// decides among such columns by what they hold; one that only may mean a
// number ("Numer lokalu", "Numer kontaktowy") does not decide at all: the
// column with numbers in it does. Without a header name the position column is
// the first column when it holds a distinct position 1..168 on every line.
void chooseDefaultColumns(const std::vector<Record>& data, const Record* header, CallerFile& file) {
    std::vector<int> named, maybe, all;
    for (std::size_t c = 0; c < file.columns.size(); ++c) {
        const int column = static_cast<int>(c);
        const HeaderName name =
            header ? headerName(fieldAt(header->fields, column)) : HeaderName::None;
        if (name == HeaderName::Position && file.positionColumn < 0) {
            file.positionColumn = column;
            continue;
        }
        all.push_back(column);
        if (name == HeaderName::Number)
            named.push_back(column);
        else if (name == HeaderName::MaybeNumber)
            maybe.push_back(column);
    }
    int chosen = mostNumbers(file.columns, named);
    if (chosen < 0) {
        chosen = mostNumbers(file.columns, all);
        if (chosen >= 0 && file.columns[static_cast<std::size_t>(chosen)].numbers == 0 &&
            !maybe.empty())
            chosen = maybe.front();
    }
    if (chosen < 0)
        return;
    file.numberColumns = {chosen};
    if (file.positionColumn >= 0 || !named.empty() || !maybe.empty() || file.columns.size() < 2 ||
        chosen == 0)
        return;
    std::array<bool, kSubscriberCount + 1> seen{};
    for (const Record& r : data) {
        const auto n = listPosition(fieldAt(r.fields, 0));
        if (!n || seen[static_cast<std::size_t>(*n)])
            return;
        seen[static_cast<std::size_t>(*n)] = true;
    }
    file.positionColumn = 0;
}

// Characters that people put into a number to make it readable: blanks
// (no-break ones too, which spreadsheets use), dashes, dots and brackets.
std::size_t fillerLength(std::string_view s, std::size_t i) {
    const char c = s[i];
    if (c == ' ' || c == '\t' || c == '-' || c == '.' || c == '(' || c == ')' || c == '[' ||
        c == ']')
        return 1;
    // In UTF-8, byte by byte: this runs for every character of every cell.
    const auto at = [&](std::size_t k) {
        return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u;
    };
    if (at(0) == 0xC2 && at(1) == 0xA0) // no-break space
        return 2;
    if (at(0) != 0xE2)
        return 0;
    if (at(1) == 0x80 && (at(2) == 0xAF                         // narrow no-break space
                          || at(2) == 0x89                      // thin space
                          || (at(2) >= 0x90 && at(2) <= 0x94))) // dashes U+2010..U+2014
        return 3;
    if (at(1) == 0x88 && at(2) == 0x92) // minus sign
        return 3;
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
    const bool littleEndian = bytes.starts_with("\xFF\xFE"),
               bigEndian = bytes.starts_with("\xFE\xFF");
    const bool bom = bytes.substr(0, kBom.size()) == kBom;
    if (littleEndian || bigEndian) {
        // "Unicode text" of Excel and LibreOffice.
        if (!utf16ToUtf8(bytes.substr(2), bigEndian, r.text)) {
            r.failure = makeFailure(
                Failure::Code::FileContent,
                "plik zaczyna się znacznikiem UTF-16, ale nie jest poprawnym tekstem UTF-16");
            r.text.clear();
            return r;
        }
    } else if (bom)
        bytes.remove_prefix(kBom.size());
    if (littleEndian || bigEndian)
        ; // decoded above
    else if (validUtf8(bytes))
        r.text = std::string(bytes);
    else if (bom) {
        r.failure =
            makeFailure(Failure::Code::FileContent,
                        "plik zaczyna się znacznikiem UTF-8, ale nie jest poprawnym tekstem UTF-8");
        return r;
    } else
        r.text = cp1250ToUtf8(bytes);
    int line = 1;
    for (const char c : r.text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\n')
            ++line;
        else if ((b < 0x20 && c != '\t' && c != '\r') || b == 0x7F) {
            r.failure = makeFailure(Failure::Code::FileContent,
                                    "to nie jest plik tekstowy (znak sterujący w wierszu " +
                                        std::to_string(line) + ")");
            r.text.clear();
            return r;
        }
    }
    return r;
}

CallerFile readCallers(std::string_view text) {
    CallerFile file;
    file.separator = detectSeparator(text);
    int unclosedAt = 0;
    std::vector<Record> records = splitRecords(text, file.separator, &unclosedAt);
    if (unclosedAt > 0) {
        // Everything after it would be one cell: refused whole, not half read.
        file.error = "cudzysłów otwarty w wierszu " + std::to_string(unclosedAt) +
                     " nie jest zamknięty do końca pliku";
        return file;
    }
    std::erase_if(records, blankRecord);
    if (records.empty()) {
        file.error = "plik nie zawiera żadnego wiersza";
        return file;
    }
    const int headerAt = findHeader(records);
    const std::size_t firstData = static_cast<std::size_t>(headerAt + 1);
    const std::size_t dataLines = records.size() - firstData;
    if (dataLines == 0) {
        file.error = "plik nie zawiera żadnego numeru, tylko nagłówek";
        return file;
    }
    if (dataLines > static_cast<std::size_t>(kMostLines)) {
        file.error = "plik ma więcej niż " + std::to_string(kMostLines) +
                     " wierszy; lista abonentów ma najwyżej 168 numerów";
        return file;
    }
    const Record* header = headerAt >= 0 ? &records[static_cast<std::size_t>(headerAt)] : nullptr;
    std::size_t columns = header ? header->fields.size() : 0;
    for (std::size_t i = firstData; i < records.size(); ++i)
        columns = std::max(columns, records[i].fields.size());
    file.columns.resize(columns);
    for (std::size_t c = 0; c < columns; ++c) {
        CallerColumn& column = file.columns[c];
        if (header) {
            column.name = trimmed(fieldAt(header->fields, static_cast<int>(c)), " \t\r\n");
            column.namedNumber = headerName(column.name) == HeaderName::Number;
        }
        for (std::size_t i = firstData; i < records.size(); ++i)
            column.numbers += readsAsNumber(fieldAt(records[i].fields, static_cast<int>(c)));
    }
    const std::vector<Record> data(records.begin() + static_cast<std::ptrdiff_t>(firstData),
                                   records.end());
    chooseDefaultColumns(data, header, file);
    for (std::size_t c = 0; c < columns; ++c) {
        CallerColumn& column = file.columns[c];
        column.phoneLike = static_cast<int>(c) != file.positionColumn &&
                           (column.namedNumber || column.numbers > 0);
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        Record& r = records[i];
        CallerLine l;
        l.line = r.line;
        l.begin = r.begin;
        l.end = r.end;
        l.content = shown(text.substr(r.begin, r.end - r.begin));
        l.header = i < firstData;
        l.fields = std::move(r.fields);
        file.lines.push_back(std::move(l));
    }
    file.ok = true;
    return file;
}

std::string columnName(const CallerFile& file, int column) {
    const std::string number = "kolumna " + std::to_string(column + 1);
    if (column < 0 || static_cast<std::size_t>(column) >= file.columns.size() ||
        file.columns[static_cast<std::size_t>(column)].name.empty())
        return number;
    return "„" + shown(file.columns[static_cast<std::size_t>(column)].name) + "” (" + number + ")";
}

int findColumn(const CallerFile& file, std::string_view nameOrNumber) {
    auto key = [](std::string_view s) {
        std::string out;
        for (const char c : lowerCase(trimmed(s, " \t\r\n")))
            if (c != ' ' && c != '\t')
                out += c;
        return out;
    };
    const std::string wanted = key(nameOrNumber);
    if (wanted.empty())
        return -1;
    for (std::size_t c = 0; c < file.columns.size(); ++c)
        if (key(file.columns[c].name) == wanted)
            return static_cast<int>(c);
    const auto n = rules::unsignedNumber(wanted);
    if (n && *n >= 1 && static_cast<std::size_t>(*n) <= file.columns.size())
        return *n - 1;
    return -1;
}

void chooseColumns(CallerFile& file, std::vector<int> columns) {
    std::erase_if(columns, [&](int c) {
        return c < 0 || static_cast<std::size_t>(c) >= file.columns.size() ||
               c == file.positionColumn;
    });
    std::sort(columns.begin(), columns.end());
    columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
    file.numberColumns = std::move(columns);
}

std::vector<std::string> columnNotes(const CallerFile& file) {
    std::vector<std::string> notes;
    if (file.numberColumns.empty()) {
        notes.push_back("nie wybrano kolumny z numerami");
    } else {
        std::string read =
            file.numberColumns.size() == 1 ? "numery z kolumny " : "numery z kolumn ";
        for (std::size_t i = 0; i < file.numberColumns.size(); ++i)
            read += (i ? ", " : "") + columnName(file, file.numberColumns[i]);
        notes.push_back(read);
    }
    for (std::size_t c = 0; c < file.columns.size(); ++c) {
        const int column = static_cast<int>(c);
        if (!file.columns[c].phoneLike ||
            std::find(file.numberColumns.begin(), file.numberColumns.end(), column) !=
                file.numberColumns.end())
            continue;
        notes.push_back("pominięta kolumna " + columnName(file, column) + ": " +
                        counted(file.columns[c].numbers, "numer telefonu", "numery telefonów",
                                "numerów telefonów"));
    }
    return notes;
}

NumberCheck normaliseNumber(std::string_view field) {
    NumberCheck r;
    // Around the number: blanks and the line ends of a cell typed with Alt+Enter.
    std::string cell = trimmed(field, " \t\r\n");
    // Excel's ways of keeping a number as text: ="48601234567" and '48601234567.
    if (cell.size() >= 3 && cell.starts_with("=\"") && cell.ends_with('"'))
        cell = trimmed(std::string_view(cell).substr(2, cell.size() - 3), " \t\r\n");
    else if (cell.starts_with('\''))
        cell = trimmed(std::string_view(cell).substr(1), " \t\r\n");
    // A cell in a spreadsheet's number format: "722126970.00", "4,86012E+10".
    {
        std::size_t i = cell.starts_with('+') ? 1 : 0;
        const std::size_t intBegin = i;
        while (i < cell.size() && cell[i] >= '0' && cell[i] <= '9')
            ++i;
        const std::size_t intDigits = i - intBegin;
        std::size_t fracBegin = i, fracDigits = 0;
        if (intDigits > 0 && i < cell.size() && (cell[i] == '.' || cell[i] == ',')) {
            fracBegin = ++i;
            while (i < cell.size() && cell[i] >= '0' && cell[i] <= '9')
                ++i;
            fracDigits = i - fracBegin;
        }
        bool exponent = false;
        if (intDigits > 0 && i < cell.size() && (cell[i] == 'E' || cell[i] == 'e')) {
            std::size_t k = i + 1;
            if (k < cell.size() && (cell[k] == '+' || cell[k] == '-'))
                ++k;
            const std::size_t expBegin = k;
            while (k < cell.size() && cell[k] >= '0' && cell[k] <= '9')
                ++k;
            exponent = k > expBegin && k == cell.size();
        }
        if (exponent) {
            r.problem = "„" + shown(cell) +
                        "” to liczba w zapisie wykładniczym: arkusz już zaokrąglił numer; "
                        "sformatuj kolumnę jako tekst i wpisz numer jeszcze raz";
            return r;
        }
        // Seven digits before the point: a telephone number stored as a
        // number, not "601.234" written with a dot.
        if (fracDigits > 0 && i == cell.size() && intDigits >= 7) {
            const std::string_view fraction = std::string_view(cell).substr(fracBegin, fracDigits);
            if (fraction.find_first_not_of('0') != std::string_view::npos) {
                r.problem = "„" + shown(cell) +
                            "” to liczba z częścią ułamkową, nie numer telefonu; sformatuj "
                            "kolumnę jako tekst";
                return r;
            }
            cell.resize(fracBegin - 1);
        }
    }
    std::string kept;
    for (std::size_t i = 0; i < cell.size();) {
        if (const std::size_t filler = fillerLength(cell, i)) {
            i += filler;
            continue;
        }
        kept += cell[i++];
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
    else if (digits.size() == 10 && digits[0] == '0' && digits[1] != '0') {
        digits.remove_prefix(1); // the old trunk prefix: 0 22 123 45 67
    } else if (digits.substr(0, 2) == "00")
        digits.remove_prefix(2);
    for (std::size_t i = 0; i < digits.size(); ++i)
        if (digits[i] < '0' || digits[i] > '9') {
            r.problem = "„" + shown(cell) + "” nie jest numerem telefonu (" +
                        characterForReason(digits, i) + ")";
            return r;
        }
    std::string number = digits.size() == 9 ? "48" + std::string(digits) : std::string(digits);
    if (!rules::subscriberNumber(number)) {
        r.problem = "„" + shown(cell) + "” nie jest numerem telefonu (" +
                    counted(static_cast<long>(digits.size()), "cyfra", "cyfry", "cyfr") +
                    " zamiast 9 albo 11)";
        return r;
    }
    r.number = std::move(number);
    return r;
}

namespace {

// Why a line without a number in the columns read has none, and where its
// number may be instead.
std::string missingNumber(const CallerFile& file, const CallerLine& l) {
    std::string reason = "brak numeru telefonu";
    if (file.numberColumns.size() == 1)
        reason += " w kolumnie " + columnName(file, file.numberColumns.front());
    for (std::size_t c = 0; c < file.columns.size(); ++c) {
        const int column = static_cast<int>(c);
        if (file.columns[c].phoneLike && readsAsNumber(fieldAt(l.fields, column)))
            return reason + " (numer jest w kolumnie " + columnName(file, column) + ")";
    }
    return reason;
}

} // namespace

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
    const bool several = file.numberColumns.size() > 1;
    for (const CallerLine& l : file.lines) {
        ImportLine base;
        base.line = l.line;
        base.begin = l.begin;
        base.end = l.end;
        base.content = l.content;
        if (l.header) {
            base.verdict = Verdict::Header;
            // A title above the header is no more imported than the header.
            const bool title = &l + 1 != file.lines.data() + file.lines.size() && (&l + 1)->header;
            base.reason = title ? "tytuł nad nagłówkiem" : "wiersz nagłówka";
            plan.lines.push_back(std::move(base));
            continue;
        }
        // One caller per number: a line with two numbers in the columns read
        // gives two callers; an empty cell beside a number is no refusal.
        std::vector<int> cells;
        for (const int c : file.numberColumns)
            if (!several || !isBlank(trimmed(fieldAt(l.fields, c), " \t\r\n")))
                cells.push_back(c);
        if (cells.empty()) {
            base.verdict = Verdict::Refused;
            base.reason = missingNumber(file, l);
            plan.lines.push_back(std::move(base));
            continue;
        }
        const std::string& position = fieldAt(l.fields, file.positionColumn);
        for (const int c : cells) {
            ImportLine out = base;
            if (several)
                out.column = columnName(file, c);
            const NumberCheck check = normaliseNumber(fieldAt(l.fields, c));
            out.number = check.number;
            if (!check.problem.empty()) {
                out.verdict = Verdict::Refused;
                out.reason = check.problem == "brak numeru telefonu" ? missingNumber(file, l)
                                                                     : check.problem;
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
                // A line's position is its first number's; a second number
                // takes the lowest free one.
                const auto wanted = c == cells.front() ? listPosition(position) : std::nullopt;
                if (replace && wanted && takenBy[static_cast<std::size_t>(*wanted)] == 0) {
                    out.position = *wanted;
                    takenBy[static_cast<std::size_t>(*wanted)] = l.line;
                    plan.result.set(*wanted, check.number);
                } else if (!replace) {
                    out.position = plan.result.firstFree();
                    if (out.position != 0)
                        plan.result.set(out.position, check.number);
                } else {
                    if (wanted)
                        out.reason = "pozycja " + std::to_string(*wanted) +
                                     " z pliku zajęta przez wiersz " +
                                     std::to_string(takenBy[static_cast<std::size_t>(*wanted)]);
                    else if (c == cells.front() && !isBlank(position))
                        out.reason = "pozycja „" + shown(trimmed(position)) +
                                     "” z pliku poza zakresem 1–168";
                    waiting.push_back(plan.lines.size());
                }
                if (!replace && out.position == 0) {
                    out.verdict = Verdict::Refused;
                    out.reason = "lista pełna (168 abonentów)";
                }
            }
            plan.lines.push_back(std::move(out));
        }
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
    std::string said = "wiersz " + std::to_string(line.line) +
                       (line.column.empty() ? "" : ", " + line.column) + ": " +
                       verdictName(line.verdict);
    if (line.verdict == Verdict::Accepted) {
        said += " " + line.number + " – pozycja " + std::to_string(line.position);
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
