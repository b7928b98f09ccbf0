#include "settings_sheet.h"

#include "cp1250.h"
#include "files.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRawFont>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <algorithm>
#include <vector>

namespace trellikon::sheet {

namespace {

using inspector::Field;

QString u(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}
QString u(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
QString esc(const QString& s) {
    return s.toHtmlEscaped();
}

// Column widths and colours shared by every table, so the groups line up.
const char* const kTable = "<table width=\"100%\" cellspacing=\"0\" cellpadding=\"3\" "
                           "style=\"border-collapse: collapse; margin-top: 8px\">";
// The same, starting a new page.
const char* const kTableOnNewPage =
    "<table width=\"100%\" cellspacing=\"0\" cellpadding=\"3\" "
    "style=\"border-collapse: collapse; margin-top: 8px; page-break-before: always\">";
const char* const kHeadCell = "<th colspan=\"%1\" align=\"left\" bgcolor=\"#dfe6ee\" "
                              "style=\"border: 1px solid #9aa8b6\">%2</th>";
const char* const kCaptionCell = "<td width=\"46%\" style=\"border: 1px solid #c4cdd6\">";
const char* const kValueCell = "<td style=\"border: 1px solid #c4cdd6\">";

// A table whose first row is the group's title; it repeats on every page the
// table runs onto.
QString tableStart(const QString& title, int columns) {
    return u(kTable) + QStringLiteral("<thead><tr>") + u(kHeadCell).arg(columns).arg(esc(title)) +
           QStringLiteral("</tr></thead>");
}

QString row(const QString& caption, const QString& value) {
    return QStringLiteral("<tr>") + u(kCaptionCell) + esc(caption) + QStringLiteral("</td>") +
           u(kValueCell) + value + QStringLiteral("</td></tr>");
}

// The value as the sheet shows it: the editor's words, a text without quotes.
QString shownValue(const Field& f) {
    if (!f.isText)
        return esc(u(inspector::withMark(f.value, f.valueMarked)));
    if (f.textBytes.empty() && !f.fallback)
        return QStringLiteral("<i>(puste)</i>");
    QString v = esc(u(inspector::escapeForTerminal(f.textBytes)));
    if (f.fallback)
        v += esc(QStringLiteral(" ") + u(inspector::kFallbackMark));
    return v;
}

// A message as the device sends it: the header, then the event's text.
QString sentMessage(const std::string& header, const Field& f) {
    if (f.textBytes.empty())
        return QStringLiteral("<i>(puste)</i>");
    QString v = QStringLiteral("<span style=\"color:#55606b\">") +
                esc(u(inspector::escapeForTerminal(header))) + QStringLiteral("</span>") +
                esc(u(inspector::escapeForTerminal(f.textBytes)));
    if (f.fallback)
        v += esc(QStringLiteral(" ") + u(inspector::kFallbackMark));
    return v;
}

// The caller list's heading, which also finds its table in a layout.
const QString kCallersHeading = QStringLiteral("Abonenci CLIP");

// The caller list in columns by position. `rowsPerPage` holds how many rows
// of numbers each page the list runs over takes: each page's part is read
// down its own columns, so a page break never leaves a gap in the order.
// Empty: one part of as many rows as the list needs.
QString callersTable(const inspector::Inspection& in, const std::vector<int>& rowsPerPage,
                     bool newPage) {
    std::vector<std::pair<int, std::string>> taken;
    for (int n = 1; n <= layout::kSubscriberCount; ++n) {
        const SubscriberEntry& e = in.settings.subscribers.entry(n);
        if (e.slot_index != 0 && !e.number.empty())
            taken.emplace_back(n, inspector::escapeForTerminal(inspector::untilNul(e.number)));
    }
    QString html = u(newPage ? kTableOnNewPage : kTable);
    html += QStringLiteral("<thead><tr>") +
            u(kHeadCell).arg(8).arg(esc(kCallersHeading + QStringLiteral(" (%1 z %2)"))
                                        .arg(taken.size())
                                        .arg(layout::kSubscriberCount)) +
            QStringLiteral("</tr><tr>");
    constexpr std::size_t kColumns = 4;
    for (std::size_t c = 0; c < kColumns; ++c)
        html += QStringLiteral("<td width=\"7%\" align=\"right\" bgcolor=\"#f0f3f6\" "
                               "style=\"border: 1px solid #c4cdd6\"><b>Poz.</b></td>"
                               "<td width=\"18%\" bgcolor=\"#f0f3f6\" "
                               "style=\"border: 1px solid #c4cdd6\"><b>Numer</b></td>");
    html += QStringLiteral("</tr></thead>");
    if (taken.empty())
        return html + QStringLiteral("<tr><td colspan=\"8\" style=\"border: 1px solid "
                                     "#c4cdd6\"><i>Lista abonentów jest pusta.</i></td></tr>"
                                     "</table>");
    std::size_t first = 0;
    for (std::size_t part = 0; first < taken.size(); ++part) {
        const std::size_t left = taken.size() - first;
        std::size_t rows = (left + kColumns - 1) / kColumns;
        if (part < rowsPerPage.size() && rowsPerPage[part] > 0)
            rows = std::min(rows, static_cast<std::size_t>(rowsPerPage[part]));
        else if (!rowsPerPage.empty() && rowsPerPage.back() > 0)
            rows = std::min(rows, static_cast<std::size_t>(rowsPerPage.back()));
        // Down the columns in order of position, as a printed list is read.
        for (std::size_t r = 0; r < rows; ++r) {
            html += QStringLiteral("<tr>");
            for (std::size_t c = 0; c < kColumns; ++c) {
                const std::size_t i = first + c * rows + r;
                const bool any = i < taken.size();
                html += QStringLiteral("<td align=\"right\" style=\"border: 1px solid #c4cdd6\">%1"
                                       "</td><td style=\"border: 1px solid #c4cdd6\">%2</td>")
                            .arg(any ? QString::number(taken[i].first) : QString(),
                                 any ? esc(u(taken[i].second)) : QString());
            }
            html += QStringLiteral("</tr>");
        }
        first += std::min(left, rows * kColumns);
    }
    return html + QStringLiteral("</table>");
}

QString signatureTable() {
    const QString line = QStringLiteral("<td height=\"44\" style=\"border-bottom: 1px solid "
                                        "#55606b\">&nbsp;</td>");
    return u(kTable) + QStringLiteral("<thead><tr>") + u(kHeadCell).arg(3).arg(u("Instalator")) +
           QStringLiteral("</tr></thead><tr>") + line + QStringLiteral("<td width=\"4%\"></td>") +
           line +
           QStringLiteral("</tr><tr><td><small>Imię i nazwisko</small></td><td></td>"
                          "<td><small>Data i podpis</small></td></tr></table>");
}

// The document; `rowsPerPage` and `newPage` place the caller list on the pages.
QString documentHtml(const inspector::Inspection& in, const SheetOrigin& origin,
                     const std::vector<int>& rowsPerPage, bool newPage) {
    const std::vector<Field> fields = inspector::describeByGroup(in);
    std::string header;
    for (const Field& f : fields)
        if (f.isText && f.caption == "Nagłówek komunikatu")
            header = f.textBytes;

    QString html = QStringLiteral("<html><body>");
    html += QStringLiteral("<h2 style=\"margin-bottom: 4px\">") + esc(u(kTitle)) +
            QStringLiteral("</h2>");
    html +=
        QStringLiteral("<p style=\"margin-top: 0px\">") + esc(u("Data i godzina sporządzenia: ")) +
        esc(origin.made.toString(QStringLiteral("dd.MM.yyyy, HH:mm"))) + QStringLiteral("<br>") +
        esc(u("Źródło ustawień: ")) + esc(origin.source) + QStringLiteral("</p>");

    QString group;
    bool open = false;
    for (const Field& f : fields) {
        const QString g = u(f.group);
        if (g != group) {
            if (open)
                html += QStringLiteral("</table>");
            group = g;
            open = true;
            html += tableStart(g, 2);
        }
        const bool message = f.isText && f.caption != "Nagłówek komunikatu";
        html += row(u(f.caption), message ? sentMessage(header, f) : shownValue(f));
    }
    if (open)
        html += QStringLiteral("</table>");
    html += QStringLiteral("<p><small>") +
            esc(u("Komunikaty alarmowe i wiadomość testowa są podane tak, jak wysyła je "
                  "urządzenie: nagłówek komunikatu (szary), a po nim treść.")) +
            QStringLiteral("</small></p>");
    html += callersTable(in, rowsPerPage, newPage);
    html += signatureTable();
    return html + QStringLiteral("</body></html>");
}

// Qt lays text out in units of 96 to the inch, scaled to the writer's dots.
constexpr qreal kLayoutDpi = 96;
const int kMargin = int(2 / 2.54 * kLayoutDpi); // 2 cm to every edge

// Lays the document out on the writer's pages, the page number in the bottom
// margin, as QTextDocument::print does; done here so the layout can be read
// before it is drawn.
void layOutOnPages(QTextDocument& doc, QPdfWriter& writer, const QString& html) {
    doc.documentLayout()->setPaintDevice(&writer);
    doc.setHtml(html);
    QTextFrameFormat frame = doc.rootFrame()->frameFormat();
    frame.setMargin(kMargin);
    doc.rootFrame()->setFrameFormat(frame);
    doc.setPageSize(QSizeF(writer.width(), writer.height()));
}

// The page (from 0) of each row of numbers in the caller list.
std::vector<int> callerRowPages(const QTextDocument& doc) {
    std::vector<int> pages;
    const qreal height = doc.pageSize().height();
    for (QTextFrame* frame : doc.rootFrame()->childFrames()) {
        const auto* table = qobject_cast<QTextTable*>(frame);
        if (table == nullptr || table->rows() < 3 ||
            !table->cellAt(0, 0).firstCursorPosition().block().text().startsWith(kCallersHeading))
            continue;
        for (int r = 2; r < table->rows(); ++r) {
            const QTextBlock block = table->cellAt(r, 0).firstCursorPosition().block();
            pages.push_back(int(doc.documentLayout()->blockBoundingRect(block).top() / height));
        }
    }
    return pages;
}

// How many rows of the list each page takes, read off a layout.
std::vector<int> rowsOnEachPage(const std::vector<int>& pages) {
    std::vector<int> rows;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i == 0 || pages[i] != pages[i - 1])
            rows.push_back(0);
        ++rows.back();
    }
    return rows;
}

void drawPages(QTextDocument& doc, QPdfWriter& writer) {
    QPainter painter(&writer);
    const QSizeF page = doc.pageSize();
    const qreal scale = writer.logicalDpiY() / kLayoutDpi;
    for (int i = 0; i < doc.pageCount(); ++i) {
        if (i > 0)
            writer.newPage();
        painter.save();
        painter.translate(0, -i * page.height());
        const QRectF view(0, i * page.height(), page.width(), page.height());
        painter.setClipRect(view);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = view;
        context.palette.setColor(QPalette::Text, Qt::black);
        doc.documentLayout()->draw(&painter, context);
        painter.setClipping(false);
        painter.setFont(doc.defaultFont());
        const QString number = QString::number(i + 1);
        painter.drawText(QPointF(page.width() - kMargin * scale -
                                     painter.fontMetrics().horizontalAdvance(number),
                                 view.bottom() - kMargin * scale + painter.fontMetrics().ascent() +
                                     5 * writer.logicalDpiY() / 72.0),
                         number);
        painter.restore();
    }
}

} // namespace

QString sheetHtml(const inspector::Inspection& in, const SheetOrigin& origin) {
    return documentHtml(in, origin, {}, false);
}

QByteArray sheetPdf(const inspector::Inspection& in, const SheetOrigin& origin) {
    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        // The document keeps 2 cm to every edge itself, with the page
        // number in the bottom one.
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        writer.setResolution(300);
        writer.setTitle(u(kTitle));
        writer.setCreator(QStringLiteral("DOMOWY TRELLIKON"));

        QTextDocument doc;
        // A face with every Polish letter, embedded by the writer.
        QFont font(sheetFontFamily());
        font.setPointSizeF(9);
        // No ligatures: "fi" must stay two letters for search and copy.
        font.setStyleStrategy(QFont::PreferNoShaping);
        doc.setDefaultFont(font);

        // The caller list, read down its columns, must not run from one page
        // onto the next in the middle of a column: the layout tells how many
        // rows each page holds, and each page gets columns of its own. A list
        // with only a row or two on its first page starts on a new one.
        layOutOnPages(doc, writer, documentHtml(in, origin, {}, false));
        std::vector<int> rows = rowsOnEachPage(callerRowPages(doc));
        bool newPage = false;
        if (rows.size() > 1 && rows.front() < 3) {
            newPage = true;
            layOutOnPages(doc, writer, documentHtml(in, origin, {}, true));
            rows = rowsOnEachPage(callerRowPages(doc));
        }
        if (rows.size() > 1)
            layOutOnPages(doc, writer, documentHtml(in, origin, rows, newPage));
        drawPages(doc, writer);
    }
    return pdf;
}

bool hasPolishLetters(const QString& family) {
    // A system with no face of that name at all (a Windows PC without the
    // program's fonts folder) must not reach the raw font: asked for a face
    // the font database does not have, it gives no engine to look into.
    if (!QFontDatabase::families().contains(family, Qt::CaseInsensitive))
        return false;
    QFont font(family);
    font.setStyleStrategy(QFont::NoFontMerging);
    const QRawFont raw = QRawFont::fromFont(font);
    if (!raw.isValid() || raw.familyName().compare(family, Qt::CaseInsensitive) != 0)
        return false;
    const QString letters = QString::fromUtf8("ĄąĆćĘęŁłŃńÓóŚśŹźŻż„”–");
    return std::all_of(letters.begin(), letters.end(),
                       [&](QChar c) { return raw.supportsCharacter(c); });
}

QString sheetFontFamily() {
    static const QString family = [] {
        const QString face = QStringLiteral("DejaVu Sans");
        // The program's own copy first: the same face, whatever the system has.
        const QDir fonts(QCoreApplication::applicationDirPath() + QStringLiteral("/fonts"));
        for (const char* file : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"})
            if (fonts.exists(QString::fromLatin1(file)))
                QFontDatabase::addApplicationFont(fonts.filePath(QString::fromLatin1(file)));
        return hasPolishLetters(face) ? face : QString();
    }();
    return family;
}

std::string writeSheet(const std::string& path, const inspector::Inspection& in,
                       const SheetOrigin& origin) {
    if (sheetFontFamily().isEmpty())
        return kNoFont;
    const QByteArray pdf = sheetPdf(in, origin);
    // A face the writer could not embed leaves pages without their text.
    if (!pdf.contains("/FontFile"))
        return kNoFont;
    return saveFileAtomically(path, reinterpret_cast<const std::uint8_t*>(pdf.constData()),
                              static_cast<std::size_t>(pdf.size()), FileAccess::Private)
        .message;
}

} // namespace trellikon::sheet
