#include "outside_text.h"

namespace outside {

namespace {

constexpr QChar kReplacement(0xFFFD);
constexpr QChar kFirstStrongIsolate(0x2068);
constexpr QChar kPopDirectionalIsolate(0x2069);

// Characters that change how the text after them is shown, or where a line
// ends: a right-to-left override in "faktura_<RLO>fdp.sbn" shows the name as
// a PDF, a line break in a file name fakes a second line of the message.
bool misleading(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 ||
           c == 0x2029;
}

QString visible(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        if (misleading(c.unicode()))
            c = kReplacement;
    return out;
}

} // namespace

QString shortened(const QString& text, int maxChars) {
    if (maxChars < 3 || text.size() <= maxChars)
        return text;
    qsizetype head = (maxChars - 1) / 2;
    qsizetype tail = maxChars - 1 - head;
    if (text.at(head - 1).isHighSurrogate())
        --head;
    if (text.at(text.size() - tail).isLowSurrogate())
        --tail;
    return text.left(head) + QChar(0x2026) + text.right(tail);
}

QString line(const QString& text, int maxChars) {
    return kFirstStrongIsolate + shortened(visible(text), maxChars) + kPopDirectionalIsolate;
}

QString caption(const QString& text, int maxChars) {
    QString shown = line(text, maxChars);
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return shown;
}

QString toolTip(const QString& text) {
    return QStringLiteral("<p>") + shortened(visible(text), kToolTipChars).toHtmlEscaped() +
           QStringLiteral("</p>");
}

} // namespace outside
