#include "checked_write_windows.h"

#include "outside_text.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace cmp = trellikon::comparison;
namespace checked = trellikon::checked;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}
QString u(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

const char* const kTitle = "DOMOWY TRELLIKON - ZAPIS USTAWIEŃ";

QCheckBox* partBox(const char* name, const QString& caption, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    nameControl(box, name, caption);
    box->setChecked(true);
    return box;
}

// The write's windows alike: the title bar, the margins, the large title line.
QVBoxLayout* beginWindow(QDialog* window, const QString& name, const QString& title) {
    window->setObjectName(name);
    window->setWindowTitle(u(kTitle));
    auto* top = new QVBoxLayout(window);
    top->setContentsMargins(18, 12, 18, 12);
    top->setSpacing(10);
    addTitleLabel(window, title);
    return top;
}

// What the question is about; it may quote names from the register.
QLabel* headingLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("HeadingLabel"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

// Buttons side by side, the last alone at the right; a missing one is left out.
void addButtonRow(QVBoxLayout* top, std::initializer_list<QPushButton*> left, QPushButton* right) {
    auto* row = new QHBoxLayout;
    for (QPushButton* b : left)
        if (b)
            row->addWidget(b);
    row->addStretch(1);
    row->addWidget(right);
    top->addLayout(row);
}

// A button with its Alt letter marked by "&"; a screen reader reads the
// caption without the mark.
QPushButton* letteredButton(const char* name, const QString& caption, QWidget* parent) {
    QPushButton* button = pushButton(name, caption, parent);
    button->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    return button;
}

// A button that closes its window with the answer it stands for.
template <typename Answer>
void answerBy(QPushButton* button, StackDialog* window, ModalStack* stack, Answer& answer,
              Answer value) {
    if (button)
        QObject::connect(button, &QPushButton::clicked, window, [=, &answer] {
            answer = value;
            stack->closeWindow(window);
        });
}

QString settingName(const cmp::Row& r) {
    QString name = u(r.group) + u(" – ") + u(r.name);
    if (*cmp::kindWord(r.kind))
        name += u(" (") + u(cmp::kindWord(r.kind)) + u(")");
    return name;
}

} // namespace

WritePartsDialog::WritePartsDialog(DialogContext& context, QWidget* parent)
    : StackDialog(parent), ctx(context) {
    QVBoxLayout* top =
        beginWindow(this, QStringLiteral("WritePartsDialog"), u("Co zapisać do urządzenia?"));
    auto* note =
        new QLabel(u("Części niezaznaczone zostaną w urządzeniu takie, jakie są teraz."), this);
    note->setWordWrap(true);
    top->addWidget(note);
    ParametersBox =
        partBox("ParametersBox", u("Parametry (numery, wyjścia, wejścia, konto)"), this);
    TextsBox = partBox("TextsBox", u("Teksty komunikatów alarmowych"), this);
    CallersBox = partBox("CallersBox", u("Lista abonentów CLIP"), this);
    for (QCheckBox* box : {ParametersBox, TextsBox, CallersBox})
        top->addWidget(box);
    auto* buttons = new QHBoxLayout;
    WriteButton = pushButton("WriteButton", u("Zapisz"), this);
    WriteButton->setDefault(true);
    CancelButton = pushButton("CancelButton", u("Anuluj"), this);
    buttons->addStretch(1);
    buttons->addWidget(WriteButton);
    buttons->addWidget(CancelButton);
    top->addLayout(buttons);
    for (QCheckBox* box : {ParametersBox, TextsBox, CallersBox})
        connect(box, &QCheckBox::toggled, this, [this] {
            WriteButton->setEnabled(ParametersBox->isChecked() || TextsBox->isChecked() ||
                                    CallersBox->isChecked());
        });
    connect(WriteButton, &QPushButton::clicked, this, [this] {
        chosen = (ParametersBox->isChecked() ? checked::kParameters : 0u) |
                 (TextsBox->isChecked() ? checked::kTexts : 0u) |
                 (CallersBox->isChecked() ? checked::kCallers : 0u);
        ctx.stack->closeWindow(this);
    });
    connect(CancelButton, &QPushButton::clicked, this, [this] {
        chosen = 0;
        ctx.stack->closeWindow(this);
    });
}

DifferencesDialog::DifferencesDialog(DialogContext& context, Mode mode, const QString& heading,
                                     const cmp::Comparison& differences, const QString& hereHeading,
                                     QWidget* parent)
    : StackDialog(parent), ctx(context) {
    const bool before = mode == Mode::ChangedOnSite;
    const bool restore = mode == Mode::Restore;
    QVBoxLayout* top = beginWindow(this,
                                   before    ? QStringLiteral("ChangedOnSiteDialog")
                                   : restore ? QStringLiteral("RestoreDialog")
                                             : QStringLiteral("WriteMismatchDialog"),
                                   before    ? u("Ustawienia zmienione w urządzeniu")
                                   : restore ? u("Przywrócenie wersji z rejestru")
                                             : u("Zapis niezgodny"));
    HeadingLabel = headingLabel(heading, this);
    top->addWidget(HeadingLabel);
    DifferenceList = new QTreeWidget(this);
    nameControl(DifferenceList, "DifferenceList", u("Różniące się ustawienia"));
    DifferenceList->setHeaderLabels({u("Ustawienie"), hereHeading, u("W urządzeniu")});
    DifferenceList->setRootIsDecorated(false);
    DifferenceList->setSelectionMode(QAbstractItemView::NoSelection);
    DifferenceList->setWordWrap(false);
    for (const cmp::Row& r : differences.rows) {
        auto* item = new QTreeWidgetItem(DifferenceList, {outside::line(settingName(r), 80),
                                                          outside::line(u(r.here), 80),
                                                          outside::line(u(r.there), 80)});
        for (int c = 0; c < 3; ++c)
            item->setToolTip(c, outside::toolTip(item->text(c)));
    }
    if (const std::string line = cmp::uncoveredLine(differences.uncoveredBytes); !line.empty())
        new QTreeWidgetItem(DifferenceList, {u(line)});
    DifferenceList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    DifferenceList->setMinimumSize(fontMetrics().horizontalAdvance(QString(90, QLatin1Char('a'))),
                                   fontMetrics().height() * 12);
    fitColumns();
    top->addWidget(DifferenceList, 1);
    WriteButton = pushButton("WriteButton",
                             before    ? u("Zapisz mimo to")
                             : restore ? u("Przywróć")
                                       : u("Zapisz ponownie"),
                             this);
    TakeButton = nullptr;
    if (before) {
        TakeButton = pushButton("TakeButton", u("Przejmij wartości z urządzenia"), this);
        TakeButton->setToolTip(u("Ustawienia zmienione w urządzeniu trafiają do programu; nic "
                                 "nie jest zapisywane."));
    }
    CancelButton = pushButton("CancelButton", before || restore ? u("Anuluj") : u("Zamknij"), this);
    CancelButton->setDefault(true);
    if (restore) {
        // Nothing goes back to the device by a stray Enter or Escape.
        CancelButton->setFocus();
        closeOnEscape();
    }
    addButtonRow(top, {WriteButton, TakeButton}, CancelButton);
    answerBy(WriteButton, this, ctx.stack, answer, Answer::Write);
    answerBy(TakeButton, this, ctx.stack, answer, Answer::TakeDevice);
    answerBy(CancelButton, this, ctx.stack, answer, Answer::Cancel);
}

void DifferencesDialog::addWrittenColumn(const std::vector<std::string>& values) {
    DifferenceList->setColumnCount(4);
    DifferenceList->headerItem()->setText(3, u("Zostanie zapisane"));
    for (int i = 0; i < DifferenceList->topLevelItemCount() && std::size_t(i) < values.size();
         ++i) {
        QTreeWidgetItem* item = DifferenceList->topLevelItem(i);
        item->setText(3, outside::line(u(values[std::size_t(i)]), 80));
        item->setToolTip(3, outside::toolTip(item->text(3)));
    }
    fitColumns();
}

// Every column whole where the screen has room: the settings' names are
// long, and a value cut off by the list's edge is a value not read.
void DifferencesDialog::fitColumns() {
    int wanted =
        2 * DifferenceList->frameWidth() + DifferenceList->verticalScrollBar()->sizeHint().width();
    // A stretched last section is as wide as what is left, not as its
    // content: measured unstretched, every column is measured by what it holds.
    QHeaderView* header = DifferenceList->header();
    const bool stretched = header->stretchLastSection();
    header->setStretchLastSection(false);
    header->resizeSections(QHeaderView::ResizeToContents);
    for (int c = 0; c < DifferenceList->columnCount(); ++c)
        wanted += header->sectionSize(c);
    header->setStretchLastSection(stretched);
    int room = wanted;
    if (const QScreen* s = screen())
        room = s->availableGeometry().width() * 9 / 10 - 40;
    DifferenceList->setMinimumWidth(
        std::max(DifferenceList->minimumWidth(), std::min(wanted, room)));
}

RegisterTroubleDialog::RegisterTroubleDialog(DialogContext& context, const QString& heading,
                                             const QString& copyDay, bool writing, QWidget* parent)
    : StackDialog(parent), ctx(context) {
    QVBoxLayout* top = beginWindow(this, QStringLiteral("RegisterTroubleDialog"),
                                   u("Rejestr instalacji nie działa"));
    HeadingLabel = headingLabel(heading, this);
    HeadingLabel->setMinimumWidth(fontMetrics().horizontalAdvance(QString(70, QLatin1Char('a'))));
    top->addWidget(HeadingLabel);
    QString explained = u("Przywrócenie kopii i nowy rejestr zachowują obecny plik rejestru "
                          "obok, pod nową nazwą.");
    if (writing)
        explained += u(" Zapis bez rejestru najpierw zapisuje obecne ustawienia urządzenia do "
                       "pliku .sbn, który wskażesz, a dopiero potem zapisuje urządzenie.");
    auto* note = new QLabel(explained, this);
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    top->addWidget(note);
    RestoreButton = nullptr;
    if (!copyDay.isEmpty())
        RestoreButton = pushButton("RestoreButton", u("Przywróć kopię z %1").arg(copyDay), this);
    NewButton = pushButton("NewButton", u("Nowy rejestr"), this);
    WithoutButton = pushButton("WithoutButton", u("Zapisz bez rejestru"), this);
    WithoutButton->setVisible(writing);
    CancelButton = pushButton("CancelButton", u("Anuluj"), this);
    CancelButton->setDefault(true);
    CancelButton->setFocus();
    closeOnEscape();
    addButtonRow(top, {RestoreButton, NewButton, WithoutButton}, CancelButton);
    answerBy(RestoreButton, this, ctx.stack, answer, Answer::RestoreCopy);
    answerBy(NewButton, this, ctx.stack, answer, Answer::NewRegister);
    answerBy(WithoutButton, this, ctx.stack, answer, Answer::WithoutRegister);
    answerBy(CancelButton, this, ctx.stack, answer, Answer::Cancel);
}

InterruptedWriteDialog::InterruptedWriteDialog(DialogContext& context, const QString& heading,
                                               bool withCopy, QWidget* parent)
    : StackDialog(parent), ctx(context) {
    QVBoxLayout* top =
        beginWindow(this, QStringLiteral("InterruptedWriteDialog"), u("Zapis przerwany"));
    HeadingLabel = headingLabel(heading, this);
    HeadingLabel->setMinimumWidth(fontMetrics().horizontalAdvance(QString(60, QLatin1Char('a'))));
    top->addWidget(HeadingLabel);
    WriteButton = letteredButton("WriteButton", u("&Zapisz ponownie"), this);
    WriteButton->setToolTip(u("Te same ustawienia jeszcze raz: najpierw kopia obecnej zawartości "
                              "urządzenia, po zapisie sprawdzenie."));
    RestoreButton = nullptr;
    if (withCopy)
        RestoreButton = letteredButton("RestoreButton", u("&Przywróć kopię"), this);
    LaterButton = letteredButton("LaterButton", u("Póź&niej"), this);
    // Nothing is written by a stray Enter or Escape.
    LaterButton->setDefault(true);
    LaterButton->setFocus();
    closeOnEscape();
    addButtonRow(top, {WriteButton, RestoreButton}, LaterButton);
    answerBy(WriteButton, this, ctx.stack, answer, Answer::WriteAgain);
    answerBy(RestoreButton, this, ctx.stack, answer, Answer::RestoreCopy);
    answerBy(LaterButton, this, ctx.stack, answer, Answer::Later);
}
