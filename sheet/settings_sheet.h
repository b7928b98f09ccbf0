#pragma once
// The settings sheet: one A4 document (PDF) of a set of settings for the
// installer's records and the customer's file. Every setting under the
// editors' names, the alarm messages as the device sends them (the header in
// front of each text), the callers in columns by position, and a field for the
// installer's name and signature. Real text in an embedded font, written with
// Qt's own PDF writer, so the letters can be searched and copied.

#include "template_view.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <string>

namespace trellikon::sheet {

// Where the settings came from and when the sheet was made, for its heading.
struct SheetOrigin {
    QString source; // "plik „brama.sbn”", or the port and the time of the read
    QDateTime made;
};

inline constexpr const char* kTitle = "Karta ustawień urządzenia DOMOWY TRELLIKON";

// Why no sheet is made: no face with every Polish letter could be had.
inline constexpr const char* kNoFont = "brak czcionki z polskimi literami (DejaVu Sans), więc "
                                       "karty ustawień nie zapisano; zainstaluj program ponownie";

// The face the sheet is written in: DejaVu Sans, which the Windows program
// ships in its folder (fonts/) and Linux systems carry, so that every sheet
// looks the same. Empty when it cannot be had with every Polish letter; no
// sheet is made then, rather than a PDF without its text.
QString sheetFontFamily();
// Whether `family` is a face the system really has (not a stand-in for it)
// with every Polish letter.
bool hasPolishLetters(const QString& family);

// The document's HTML, as the PDF writer lays it out (tests read it too).
QString sheetHtml(const inspector::Inspection& in, const SheetOrigin& origin);
// The PDF file's bytes.
QByteArray sheetPdf(const inspector::Inspection& in, const SheetOrigin& origin);
// Writes the PDF to `path` as a template is saved: whole or not at all; a
// sheet without its face (kNoFont) is not written at all. Returns an empty
// string on success, else the reason in Polish.
std::string writeSheet(const std::string& path, const inspector::Inspection& in,
                       const SheetOrigin& origin);

} // namespace trellikon::sheet
