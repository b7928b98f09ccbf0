#include "subscriber_import_window.h"

#include "device_settings.h"
#include "outside_text.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace csv = trellikon::csv;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}
QString u(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

enum Column {
    LineColumn,
    ContentColumn,
    NumberColumn,
    VerdictColumn,
    PositionColumn,
    ReasonColumn
};
constexpr int kAdd = 0, kReplace = 1;
constexpr int kRowsInView = 18;
// A column's name in its check box, and how many columns beyond the boxes
// are named.
constexpr int kColumnNameChars = 30;
constexpr int kNamedLeftColumns = 5;

// A pale tint of the row, so that the eye finds the lines that need a look;
// the verdict is in words as well.
QColor tint(csv::Verdict v) {
    switch (v) {
    case csv::Verdict::Skipped:
        return QColor(0xFF, 0xF4, 0xC8);
    case csv::Verdict::Refused:
        return QColor(0xFC, 0xDD, 0xDD);
    case csv::Verdict::Header:
        return QColor(0xEC, 0xEC, 0xEC);
    case csv::Verdict::Accepted:
        break;
    }
    return QColor(0xE4, 0xF4, 0xE4);
}

} // namespace

SubscriberImportWindow::SubscriberImportWindow(EditorsContext& context, QWidget* parent)
    : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("SubscriberImportWindow"));
    setWindowTitle(u("TRELLIKON IMPORT ABONENTÓW"));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(14, 10, 14, 12);
    top->setSpacing(10);
    titleLabel = addTitleLabel(this, u("Import abonentów z pliku CSV"));
    fileLabel = new QLabel(this);
    fileLabel->setObjectName(QStringLiteral("fileLabel"));
    fileLabel->setTextFormat(Qt::PlainText);
    top->addWidget(fileLabel);

    auto* columnsLine = new QHBoxLayout;
    columnsLine->setSpacing(14);
    columnsLabel = new QLabel(u("Numery z kolumn:"), this);
    columnsLabel->setObjectName(QStringLiteral("columnsLabel"));
    columnsLine->addWidget(columnsLabel);
    // The column choice scrolls, so that a file with many columns, or one
    // very long column name, cannot make the window wider than the screen.
    columnsArea = new QScrollArea(this);
    columnsArea->setObjectName(QStringLiteral("columnsArea"));
    columnsArea->setFrameShape(QFrame::NoFrame);
    columnsArea->setWidgetResizable(true);
    columnsArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    columnsArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* boxes = new QWidget(columnsArea);
    columnsRow = new QHBoxLayout(boxes);
    columnsRow->setContentsMargins(0, 0, 0, 0);
    columnsRow->setSpacing(14);
    columnsRow->addStretch(1);
    columnsArea->setWidget(boxes);
    QCheckBox probe(u("kolumna"));
    columnsArea->setFixedHeight(probe.sizeHint().height() +
                                style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4);
    columnsLine->addWidget(columnsArea, 1);
    top->addLayout(columnsLine);
    moreColumnsLabel = new QLabel(this);
    moreColumnsLabel->setObjectName(QStringLiteral("moreColumnsLabel"));
    moreColumnsLabel->setTextFormat(Qt::PlainText);
    moreColumnsLabel->setWordWrap(true);
    moreColumnsLabel->hide();
    top->addWidget(moreColumnsLabel);

    linesGrid = new QTableWidget(0, 6, this);
    linesGrid->setObjectName(QStringLiteral("linesGrid"));
    linesGrid->setAccessibleName(u("Wiersze pliku"));
    linesGrid->setHorizontalHeaderLabels(
        {u("Wiersz"), u("Zawartość wiersza"), u("Numer"), u("Wynik"), u("Pozycja"), u("Uwagi")});
    linesGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    linesGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    linesGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    linesGrid->setWordWrap(false);
    linesGrid->verticalHeader()->hide();
    linesGrid->setCornerButtonEnabled(false);
    if (auto* corner = linesGrid->findChild<QAbstractButton*>()) {
        nameControl(corner, "linesGridCorner", u("Wiersze pliku: narożnik"));
        corner->hide();
    }
    QHeaderView* header = linesGrid->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(true);
    // Widths from the font, so that the columns hold their texts at any scale.
    const QFontMetrics fm = linesGrid->fontMetrics();
    const int pad = 16;
    linesGrid->setColumnWidth(LineColumn, fm.horizontalAdvance(u("Wiersz")) + pad);
    linesGrid->setColumnWidth(ContentColumn, fm.horizontalAdvance(QString(30, QLatin1Char('0'))));
    linesGrid->setColumnWidth(NumberColumn, fm.horizontalAdvance(u("48601234567")) + pad);
    linesGrid->setColumnWidth(VerdictColumn, fm.horizontalAdvance(u("odrzucony")) + pad);
    linesGrid->setColumnWidth(PositionColumn, fm.horizontalAdvance(u("Pozycja")) + pad);
    const int rowHeight = fm.height() + 8;
    linesGrid->verticalHeader()->setDefaultSectionSize(rowHeight);
    linesGrid->setMinimumSize(fm.horizontalAdvance(QString(132, QLatin1Char('0'))),
                              header->sizeHint().height() + kRowsInView * rowHeight);
    top->addWidget(linesGrid, 1);

    modeGroup = new RadioGroup("modeGroup", u("Sposób importu"),
                               {u("Dopisz do listy na najniższe wolne pozycje"),
                                u("Zastąp całą listę zawartością pliku (z pozycjami z pliku)")},
                               1, this);
    modeGroup->setItemIndex(kAdd);
    top->addWidget(modeGroup);

    summaryLabel = new QLabel(this);
    summaryLabel->setObjectName(QStringLiteral("summaryLabel"));
    QFont bold = summaryLabel->font();
    bold.setBold(true);
    summaryLabel->setFont(bold);
    top->addWidget(summaryLabel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    confirmButton = new QPushButton(u("Importuj"), this);
    nameControl(confirmButton, "confirmButton", u("Importuj"));
    confirmButton->setAutoDefault(false);
    cancelButton = new QPushButton(u("Anuluj"), this);
    nameControl(cancelButton, "cancelButton", u("Anuluj"));
    cancelButton->setAutoDefault(false);
    buttons->addWidget(confirmButton);
    buttons->addWidget(cancelButton);
    top->addLayout(buttons);

    connect(modeGroup, &RadioGroup::itemIndexChanged, this, [this] { replan(); });
    connect(confirmButton, &QPushButton::clicked, this, [this] { confirmClick(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancelClick(); });
}

void SubscriberImportWindow::load(const QString& fileName, csv::CallerFile file) {
    file_ = std::move(file);
    fileLabel->setText(u("Plik: %1").arg(outside::line(fileName)));
    fileLabel->setToolTip(outside::toolTip(fileName));
    showColumns();
    if (modeGroup->ItemIndex() == kAdd)
        replan();
    else
        modeGroup->setItemIndex(kAdd); // replans
}

void SubscriberImportWindow::showColumns() {
    for (QCheckBox* box : columnBoxes)
        delete box;
    columnBoxes.clear();
    boxColumn_.clear();
    // Columns with telephone numbers in them, and whatever the reader chose:
    // a column of names or notes is no choice worth offering. The columns
    // read come first when there are more than fit.
    auto isRead = [this](int column) {
        return std::find(file_.numberColumns.begin(), file_.numberColumns.end(), column) !=
               file_.numberColumns.end();
    };
    std::vector<int> offered;
    for (std::size_t c = 0; c < file_.columns.size(); ++c)
        if (isRead(static_cast<int>(c)) || file_.columns[c].phoneLike)
            offered.push_back(static_cast<int>(c));
    std::vector<int> shown, left;
    std::size_t readLeft = static_cast<std::size_t>(
        std::count_if(offered.begin(), offered.end(), [&](int c) { return isRead(c); }));
    for (int column : offered) {
        const bool read = isRead(column);
        const std::size_t room = kMaxColumnBoxes - shown.size();
        if (room > (read ? 0 : readLeft))
            shown.push_back(column);
        else
            left.push_back(column);
        if (read && readLeft > 0)
            --readLeft;
    }
    for (int column : shown) {
        const QString name = u(file_.columns[static_cast<std::size_t>(column)].name).trimmed();
        const QString number = QString::number(column + 1);
        const QString caption =
            name.isEmpty()
                ? u("kolumna %1").arg(number)
                : u("%1 (kolumna %2)").arg(outside::caption(name, kColumnNameChars), number);
        auto* box = new QCheckBox(caption, this);
        const QString spoken =
            name.isEmpty()
                ? caption
                : u("%1 (kolumna %2)").arg(outside::line(name, kColumnNameChars), number);
        nameControl(box, "columnBox", u("Numery z kolumny: %1").arg(spoken));
        box->setObjectName(QStringLiteral("columnBox%1").arg(number));
        if (!name.isEmpty())
            box->setToolTip(outside::toolTip(name));
        box->setChecked(isRead(column));
        connect(box, &QCheckBox::toggled, this, [this] { columnsChosen(); });
        columnsRow->insertWidget(static_cast<int>(columnBoxes.size()), box);
        columnBoxes.push_back(box);
        boxColumn_.push_back(column);
    }
    moreColumnsLabel->setVisible(!left.empty());
    if (left.empty())
        return;
    QStringList names;
    int read = 0;
    for (int column : left) {
        read += isRead(column) ? 1 : 0;
        if (names.size() < kNamedLeftColumns) {
            const QString name = u(file_.columns[static_cast<std::size_t>(column)].name).trimmed();
            names << (name.isEmpty() ? u("kolumna %1").arg(column + 1)
                                     : outside::line(name, kColumnNameChars));
        }
    }
    if (static_cast<int>(left.size()) > kNamedLeftColumns)
        names << u("…");
    QString more = u("Pozostałe kolumny z numerami (%1) nie są tu pokazane: %2")
                       .arg(QString::number(left.size()), names.join(u(", ")));
    if (read > 0)
        more += u(" – numery z %1 z nich są czytane.").arg(read);
    moreColumnsLabel->setText(more);
}

void SubscriberImportWindow::columnsChosen() {
    // Columns beyond the boxes keep what the reader chose for them.
    std::vector<int> chosen;
    for (int column : file_.numberColumns)
        if (std::find(boxColumn_.begin(), boxColumn_.end(), column) == boxColumn_.end())
            chosen.push_back(column);
    for (std::size_t i = 0; i < columnBoxes.size(); ++i)
        if (columnBoxes[i]->isChecked())
            chosen.push_back(boxColumn_[i]);
    std::sort(chosen.begin(), chosen.end());
    csv::chooseColumns(file_, chosen);
    replan();
}

void SubscriberImportWindow::replan() {
    const auto mode = modeGroup->ItemIndex() == kReplace ? csv::ImportMode::ReplaceList
                                                         : csv::ImportMode::AddAtFreePositions;
    plan_ = csv::planImport(file_, ctx.settings->subscribers, mode);
    linesGrid->setRowCount(0);
    linesGrid->setRowCount(static_cast<int>(plan_.lines.size()));
    int row = 0;
    for (const csv::ImportLine& l : plan_.lines) {
        const QString cells[] = {
            QString::number(l.line),
            u(l.content),
            u(l.number),
            u(csv::verdictName(l.verdict)),
            l.position ? QString::number(l.position) : QString(),
            // Two numbers of one line: which column each came from.
            l.column.empty()   ? u(l.reason)
            : l.reason.empty() ? u(l.column)
                               : u(l.column + " – " + l.reason),
        };
        for (int c = 0; c < 6; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setBackground(tint(l.verdict));
            if (c == ReasonColumn || c == ContentColumn)
                item->setToolTip(outside::toolTip(cells[c]));
            linesGrid->setItem(row, c, item);
        }
        ++row;
    }
    QString summary = u(csv::summary(plan_));
    if (file_.numberColumns.empty())
        summary += u(" – zaznacz kolumnę z numerami");
    summaryLabel->setText(summary);
    // Nothing to take in: a replace would only empty the list.
    confirmButton->setEnabled(plan_.accepted > 0);
}

void SubscriberImportWindow::confirmClick() {
    // The list window shows the new list when it is active again, and the
    // image gets it when that window is left, as after the add dialog.
    ctx.settings->subscribers = plan_.result;
    ctx.dialogs.stack->closeWindow(this);
}

void SubscriberImportWindow::cancelClick() {
    ctx.dialogs.stack->closeWindow(this);
}
