#pragma once
// Text that comes from outside the program (file names, CSV cells and column
// names, port descriptions) on its way to a window. Qt guesses whether a
// label's, a message box's or a tooltip's text is HTML, and such a text may
// be made to look like one: a cell "<img src=…>" would make a tooltip read a
// file from disk or a network share. Everything from outside goes through
// here, so no window has to remember the guess.
//
//   line()     for one line of a label, a message box or a PDF (shown as plain
//              text there): shortened in the middle, control and direction
//              characters shown as "�", isolated so that the text around it
//              keeps its own direction
//   caption()  the same for a check box or button caption: "&" is a letter,
//              not a keyboard shortcut
//   toolTip()  the whole text (up to a sane length), escaped, as rich text
//
// Labels that show such a line still need Qt::PlainText: line() makes the text
// safe to read, the label's format makes it safe to render.

#include <QString>

namespace outside {

// How many characters of a name or a cell a line of a window shows.
constexpr int kLineChars = 60;
// A tooltip shows this much of a text, cut in the middle beyond it.
constexpr int kToolTipChars = 2000;

QString line(const QString& text, int maxChars = kLineChars);
QString caption(const QString& text, int maxChars = kLineChars);
QString toolTip(const QString& text);

// Only the shortening: the first and last characters with "…" between, never
// splitting a character that takes two UTF-16 units.
QString shortened(const QString& text, int maxChars);

} // namespace outside
