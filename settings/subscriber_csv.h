#pragma once
// The CLIP caller list to and from CSV files, as spreadsheets save them.
//
//   exportSubscribers   the list as a file a spreadsheet on a Polish Windows opens
//                       as it is: ";", UTF-8 with a byte order mark, CRLF
//   decodeCallerText    a file's bytes (read by files.h's readCallerFile) as UTF-8 text
//   readCallers         that text as lines: separator, quotes, header, columns
//   planImport          the verdict of every line against the current list, and
//                       the list as it would be after the import
//
// Files come from elsewhere: every size is bounded, every field is looked at as
// text and nothing is written until a plan is applied by its caller. Texts here
// are UTF-8; the numbers that reach the list are eleven ASCII digits.

#include "device_settings.h"
#include "failure.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace trellikon::csv {

// Larger files are refused before they are read.
inline constexpr std::size_t kLargestFile = 1024 * 1024;
// More data lines than this are refused too: the list holds 168.
inline constexpr int kMostLines = 5000;

// The header line and one "position;number" line per caller, in position order.
std::string exportSubscribers(const SubscriberTable& table, int* count = nullptr);

struct CallerText {
    std::string text; // UTF-8, without a byte order mark
    Failure failure;  // why the file is not taken: FileContent, or the file's own

    bool ok() const { return !failure; }
};

// UTF-16 with a byte order mark, UTF-8 (with or without one) or else
// Windows-1250 bytes to UTF-8. Refuses what is not text: control characters
// other than tab and line ends, UTF-16 without a byte order mark or with
// broken pairs, a byte order mark over malformed UTF-8.
CallerText decodeCallerText(std::string_view bytes);

struct CallerLine {
    int line = 0;                    // in the file, from 1; where the line starts
    std::size_t begin = 0, end = 0;  // the line's bytes in the text it was read from
    std::string content;             // for showing: shortened, control characters as blanks
    std::vector<std::string> fields; // every column as it stands
    // Above the header: a title, or the header itself; not imported.
    bool header = false;
};

// What a column of the file holds, for the report and for the user's choice.
struct CallerColumn {
    std::string name;         // the header cell, trimmed; empty without a header
    int numbers = 0;          // data lines whose cell here reads as a telephone number
    bool namedNumber = false; // the header says "telefon" or its kin
    bool phoneLike = false;   // named so, or holding telephone numbers
};

struct CallerFile {
    bool ok = false;
    std::string error; // Polish, when !ok
    char separator = ';';
    std::vector<CallerColumn> columns;
    std::vector<int> numberColumns; // the columns read, each number a caller; in file order
    int positionColumn = -1;        // -1: the file has none
    std::vector<CallerLine>
        lines; // title and header first when there are any; blank lines left out
};

// Splits the text into lines and fields, finds the header (below a title and
// blank lines too) and the columns. Fails for a file without any line to
// import, with more than kMostLines, or with a quote that is never closed.
CallerFile readCallers(std::string_view utf8);

// "„Telefon 2” (kolumna 4)", or "kolumna 4" without a header.
std::string columnName(const CallerFile& file, int column);
// The column the user names: its header (letter case and blanks aside) or its
// number counted from 1. -1 when there is none such.
int findColumn(const CallerFile& file, std::string_view nameOrNumber);
// Reads the numbers from these columns instead (the position column is never
// one of them).
void chooseColumns(CallerFile& file, std::vector<int> columns);
// Which columns are read and which telephone-like ones are not, one text each.
std::vector<std::string> columnNotes(const CallerFile& file);

struct NumberCheck {
    std::string number;  // eleven digits, when the field is a telephone number
    std::string problem; // Polish, when it is not
};
// Blanks and line ends around it, Excel's ="..." and leading apostrophe, and a
// spreadsheet number's zero decimals removed; blanks, dashes, dots and brackets
// inside removed; a leading "+" or "00" dropped, 48 put in front of a
// nine-digit national number (or of a ten-digit one after its trunk prefix 0);
// then the list's own rule. A number the spreadsheet has already rounded
// (a fraction, an exponent) is refused.
NumberCheck normaliseNumber(std::string_view field);

enum class ImportMode { AddAtFreePositions, ReplaceList };
enum class Verdict { Header, Accepted, Skipped, Refused };

struct ImportLine {
    int line = 0;
    std::size_t begin = 0, end = 0; // the line's bytes in the text, as in CallerLine
    std::string content;
    std::string column; // the column the number came from, when several are read
    std::string number; // normalised, when it is one
    int position = 0;   // taken in the list, for an accepted line
    Verdict verdict = Verdict::Refused;
    // Polish: why a line was not taken, or what moved an accepted line to
    // another position than its own; often empty for an accepted line.
    std::string reason;
};

struct ImportPlan {
    std::vector<ImportLine> lines;
    int accepted = 0, skipped = 0, refused = 0;
    SubscriberTable result; // the list after the import
};

// Add: every new number at the lowest free position, as the add dialog puts
// it. Replace: the file is the whole list; a position column, where a line has
// a free position 1..168 in it, is kept, and the other lines fill the lowest
// free positions after those.
ImportPlan planImport(const CallerFile& file, const SubscriberTable& current, ImportMode mode);

// "przyjęty", "pominięty", "odrzucony", "nagłówek".
const char* verdictName(Verdict v);
// "wiersz 3: odrzucony – ..." or "wiersz 2: przyjęty 48601234567 – pozycja 3"
// for a report.
std::string describe(const ImportLine& line);
// The three counts in one line.
std::string summary(const ImportPlan& plan);

} // namespace trellikon::csv
