#include "subscriber_import_window.h"

#include "device_settings.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QHeaderView>
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

SubscriberImportWindow::SubscriberImportWindow(WindowContext& context, QWidget* parent)
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

    columnsRow = new QHBoxLayout;
    columnsRow->setSpacing(14);
    columnsLabel = new QLabel(u("Numery z kolumn:"), this);
    columnsLabel->setObjectName(QStringLiteral("columnsLabel"));
    columnsRow->addWidget(columnsLabel);
    columnsRow->addStretch(1);
    top->addLayout(columnsRow);

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
    fileLabel->setText(u("Plik: %1").arg(fileName));
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
    // a column of names or notes is no choice worth offering.
    for (std::size_t c = 0; c < file_.columns.size(); ++c) {
        const int column = static_cast<int>(c);
        const bool read = std::find(file_.numberColumns.begin(), file_.numberColumns.end(),
                                    column) != file_.numberColumns.end();
        if (!read && !file_.columns[c].phoneLike)
            continue;
        const std::string& name = file_.columns[c].name;
        const QString label = name.empty() ? u("kolumna %1").arg(column + 1)
                                           : u("%1 (kolumna %2)").arg(u(name)).arg(column + 1);
        auto* box = new QCheckBox(label, this);
        nameControl(box, "columnBox", u("Numery z kolumny: %1").arg(label));
        box->setObjectName(QStringLiteral("columnBox%1").arg(column + 1));
        box->setChecked(read);
        connect(box, &QCheckBox::toggled, this, [this] { columnsChosen(); });
        columnsRow->insertWidget(static_cast<int>(columnBoxes.size()) + 1, box);
        columnBoxes.push_back(box);
        boxColumn_.push_back(column);
    }
}

void SubscriberImportWindow::columnsChosen() {
    std::vector<int> chosen;
    for (std::size_t i = 0; i < columnBoxes.size(); ++i)
        if (columnBoxes[i]->isChecked())
            chosen.push_back(boxColumn_[i]);
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
                item->setToolTip(cells[c]);
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
    ctx.stack->closeWindow(this);
}

void SubscriberImportWindow::cancelClick() {
    ctx.stack->closeWindow(this);
}
