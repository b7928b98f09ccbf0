#include "subscriber_windows.h"

#include "device_settings.h"
#include "edit_session.h"
#include "editor_model.h"
#include "entry_messages.h"
#include "files.h"
#include "outside_text.h"
#include "subscriber_csv.h"
#include "subscriber_import_window.h"

#include <QAbstractButton>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>

using namespace trellikon::messages;
using trellikon::layout::kSubscriberCount;

namespace {

constexpr int kYes = trellikon::editor::kItemOn, kNo = trellikon::editor::kItemOff;
constexpr int kColumnWidths[3] = {54, 160, 465};
constexpr int kGridFontPoints = 10;
constexpr int kRowsInView = 16;

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A message line wide enough for the longest of its messages, so the dialog
// keeps its size whatever it reports.
QLabel* messageLabel(const char* objectName, std::initializer_list<QString> messages,
                     QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setTextFormat(Qt::PlainText); // the editor model's messages, never markup
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    int widest = 0;
    for (const QString& m : messages)
        widest = std::max(widest, label->fontMetrics().horizontalAdvance(m));
    label->setMinimumWidth(widest + 8);
    label->setMinimumHeight(label->fontMetrics().height() + 4);
    return label;
}

// Entry, button and message line, as both dialogs have them.
QLineEdit* numberRow(QDialog* dialog, QLabel*& caption, const QString& captionText,
                     QPushButton*& button, const char* buttonName, const QString& buttonText,
                     QLabel* message) {
    auto* top = new QVBoxLayout(dialog);
    top->setContentsMargins(16, 14, 16, 12);
    top->setSpacing(10);
    top->setSizeConstraint(QLayout::SetFixedSize);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    QLineEdit* edit = deviceEdit("Edit1", u("Numer telefonu"), dialog);
    const int digits = edit->fontMetrics().horizontalAdvance(QString(14, QLatin1Char('0')));
    edit->setMinimumWidth(digits + 16);
    caption = buddyLabel(captionText, edit, dialog);
    caption->setObjectName(QStringLiteral("numberLabel"));
    button = pushButton(buttonName, buttonText, dialog);
    row->addWidget(caption);
    row->addWidget(edit, 1);
    row->addWidget(button);
    top->addLayout(row);
    top->addWidget(message);
    return edit;
}

} // namespace

// The list window.

const char* const TForm12::CsvOpenFilter = "CSV (*.csv *.txt)";
const char* const TForm12::CsvSaveFilter = "CSV (*.csv)";

TForm12::TForm12(EditorsContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form12"));
    setWindowTitle(u("TRELLIKON DEFINIOWANIE ABONENTÓW"));
    buildLayout();
    connect(RadioGroup1, &RadioGroup::itemIndexChanged, this, [this] { RadioGroup1Click(); });
    connect(RadioGroup2, &RadioGroup::itemIndexChanged, this, [this] { RadioGroup2Click(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
    connect(importButton, &QToolButton::clicked, this, [this] { importClick(); });
    connect(exportButton, &QToolButton::clicked, this, [this] { exportClick(); });
    importWindow = new SubscriberImportWindow(ctx, this);
}

void TForm12::buildLayout() {
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(14, 10, 14, 12);
    top->setSpacing(10);
    top->setSizeConstraint(QLayout::SetFixedSize);
    titleLabel = addTitleLabel(this, u("Abonenci"));

    auto* columns = new QHBoxLayout;
    columns->setSpacing(16);
    top->addLayout(columns);

    StringGrid1 = new QTableWidget(kSubscriberCount, 3, this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setAccessibleName(u("Abonenci"));
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StringGrid1->setWordWrap(false);
    StringGrid1->verticalHeader()->hide(); // no fixed column
    // Without row headers the table's corner button has no place; it stays
    // hidden, but is named like every other button of the program.
    StringGrid1->setCornerButtonEnabled(false);
    if (auto* corner = StringGrid1->findChild<QAbstractButton*>()) {
        nameControl(corner, "StringGrid1Corner", u("Abonenci: narożnik"));
        corner->hide();
    }
    QHeaderView* header = StringGrid1->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setStretchLastSection(false);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < 3; ++c) {
        StringGrid1->setHorizontalHeaderItem(c, new QTableWidgetItem);
        StringGrid1->setColumnWidth(c, kColumnWidths[c]);
        for (int r = 0; r < kSubscriberCount; ++r) {
            auto* cell = new QTableWidgetItem;
            cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            StringGrid1->setItem(r, c, cell);
        }
    }
    Show_Subscribers(); // header and font, so the grid is measured as it will be shown
    const int rowHeight = StringGrid1->fontMetrics().height() + 8;
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->verticalHeader()->setDefaultSectionSize(rowHeight);
    const int frame = 2 * StringGrid1->frameWidth();
    StringGrid1->setFixedSize(kColumnWidths[0] + kColumnWidths[1] + kColumnWidths[2] + frame +
                                  StringGrid1->verticalScrollBar()->sizeHint().width(),
                              header->sizeHint().height() + kRowsInView * rowHeight + frame);
    columns->addWidget(StringGrid1, 0, Qt::AlignTop);

    // Permissions, then the commands.
    auto* side = new QVBoxLayout;
    side->setSpacing(8);
    columns->addLayout(side);
    Label4 = new QLabel(u("Sterowanie wyjść za pomocą CLIP"), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    QFont bold = Label4->font();
    bold.setBold(true);
    Label4->setFont(bold);
    side->addWidget(Label4);
    auto permission = [&](const char* name, const char* title, int output) {
        auto* group = new RadioGroup(name, u(title), {u("TAK"), u("NIE")}, 2, this);
        group->setAccessibleName(u("Sterowanie wyjść za pomocą CLIP: wyjście nr %1").arg(output));
        group->setItemIndex(kNo); // what the cleared flags of a fresh start say
        side->addWidget(group);
        return group;
    };
    RadioGroup1 = permission("RadioGroup1", "Wyjście nr 1", 1);
    RadioGroup2 = permission("RadioGroup2", "Wyjście nr 2", 2);
    side->addSpacing(14);

    auto place = [&](QToolButton*& target, const char* name, CommandPicture picture,
                     const QString& label) {
        const CommandButton c = commandButton(name, picture, {label}, this);
        target = c.button;
        auto* row = new QHBoxLayout;
        row->setSpacing(10);
        row->addWidget(c.button);
        row->addWidget(c.label, 1);
        side->addLayout(row);
    };
    place(SpeedButton1, "SpeedButton1", CommandPicture::AddSubscriber, u("Dodaj abonenta"));
    place(SpeedButton2, "SpeedButton2", CommandPicture::RemoveSubscriber, u("Usuń abonenta"));
    side->addSpacing(10);
    place(importButton, "importButton", CommandPicture::ImportList, u("Import z pliku CSV"));
    place(exportButton, "exportButton", CommandPicture::ExportList, u("Eksport do pliku CSV"));
    side->addStretch(1);
    place(SpeedButton3, "SpeedButton3", CommandPicture::Back, u("Wstecz"));
}

void TForm12::Clear_Grid() {
    for (int r = 0; r < kSubscriberCount; ++r)
        for (int c = 0; c < 2; ++c)
            StringGrid1->item(r, c)->setText(QString());
}

void TForm12::Show_Subscribers() {
    StringGrid1->horizontalHeaderItem(0)->setText(u("Index"));
    StringGrid1->horizontalHeaderItem(1)->setText(u("Numer telefonu"));
    StringGrid1->horizontalHeaderItem(2)->setText(u("Nazwisko"));
    QFont font = StringGrid1->font();
    font.setPointSize(kGridFontPoints);
    StringGrid1->setFont(font);
    StringGrid1->horizontalHeader()->setFont(font); // the style gives headers their own
    if (!ctx.settings)
        return;
    int row = 0;
    for (int n = 1; n <= kSubscriberCount; ++n) {
        const std::string& number = ctx.settings->subscribers.entry(n).number;
        if (number.empty())
            continue;
        StringGrid1->item(row, 0)->setText(QString::number(n));
        StringGrid1->item(row, 1)->setText(fromDevice(number));
        ++row;
    }
}

void TForm12::FormActivate() {
    Clear_Grid();
    Show_Subscribers();
    const trellikon::DecodedSettings& d = ctx.settings->decoded;
    showing_permissions_ = true;
    RadioGroup1->setItemIndex(d.clip_output1_on ? kYes : kNo);
    RadioGroup2->setItemIndex(d.clip_output2_on ? kYes : kNo);
    showing_permissions_ = false;
}

void TForm12::FormDeactivate() {
    storeList();
}

void TForm12::storeList() {
    ctx.settings->Encode_Subscribers();
    ctx.settings->storeClipOutputs(RadioGroup1->ItemIndex() == kYes,
                                   RadioGroup2->ItemIndex() == kYes);
}

void TForm12::SpeedButton1Click() {
    ctx.dialogs.stack->showModal(ctx.form13);
}

void TForm12::SpeedButton2Click() {
    ctx.dialogs.stack->showModal(ctx.form14);
}

void TForm12::SpeedButton3Click() {
    storeList();
    ctx.dialogs.stack->closeWindow(this);
}

// The file is read and judged here; the preview shows the verdicts and
// changes the list only when the user confirms.
void TForm12::importClick() {
    namespace csv = trellikon::csv;
    const QString path = ctx.dialogs.files->openFileName(this, QString::fromLatin1(CsvOpenFilter));
    if (path.isEmpty())
        return;
    auto refuse = [&](const std::string& why) {
        ctx.dialogs.messages->error(
            this, u("Nie można zaimportować pliku „%1”: %2")
                      .arg(outside::line(QFileInfo(path).fileName()), QString::fromStdString(why)));
    };
    const csv::CallerText text = csv::readCallerFile(fileLayerPath(path));
    if (!text.ok())
        return refuse(text.failure.message);
    csv::CallerFile file = csv::readCallers(text.text);
    if (!file.ok)
        return refuse(file.error);
    importWindow->load(QFileInfo(path).fileName(), std::move(file));
    ctx.dialogs.stack->showModal(importWindow);
}

// Saved like a template: the file is the whole new list or left as it was.
void TForm12::exportClick() {
    QString path = ctx.dialogs.files->saveFileName(this, QString::fromLatin1(CsvSaveFilter));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    int count = 0;
    const std::string text = trellikon::csv::exportSubscribers(ctx.settings->subscribers, &count);
    const trellikon::Failure failure = trellikon::saveFileAtomically(
        fileLayerPath(path), reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
        trellikon::FileAccess::Private);
    if (failure)
        ctx.dialogs.messages->error(this, u("Nie udało się zapisać pliku „%1”: %2")
                                              .arg(outside::line(QFileInfo(path).fileName()),
                                                   QString::fromStdString(failure.message)));
    else
        ctx.dialogs.messages->plain(this, u("Zapisano do pliku abonentów: %1").arg(count));
}

// A caller can switch an output only while it is switched on for a time: the
// user's "TAK" here switches the timed mode on, with 3 seconds, in the edit
// session, which the parameters editor shows. That editor is not active now and
// shows its stored settings when it is back, so the session stores the change
// at once; otherwise it would vanish on the way back. Showing the stored permissions as the window
// opens is no choice of the user's and leaves the parameters editor as it was: a device read with a
// permanently active output and CLIP on for it keeps both until the user
// changes one of them.
void TForm12::permissionClick(RadioGroup* clip, int output) {
    if (showing_permissions_ || clip->ItemIndex() != kYes)
        return;
    ctx.edits->allowCaller(output);
}

void TForm12::RadioGroup1Click() {
    permissionClick(RadioGroup1, 1);
}

void TForm12::RadioGroup2Click() {
    permissionClick(RadioGroup2, 2);
}

// The add dialog.

TForm13::TForm13(EditorsContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form13"));
    setWindowTitle(QStringLiteral("DODAJ"));
    Label2 = messageLabel(
        "Label2",
        {u(kNotElevenDigits), u(kAlreadyListed), u(kListFull), u(kAddedAt) + QStringLiteral("168")},
        this);
    Edit1 =
        numberRow(this, numberLabel, u("Numer telefonu:"), Button1, "Button1", u("Dodaj"), Label2);
    connect(Edit1, &QLineEdit::textEdited, this, [this] { Edit1Change(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm13::Button1Click() {
    const trellikon::editor::CallerEdit added =
        trellikon::editor::addCaller(ctx.settings->subscribers, toDevice(Edit1->text()));
    if (added.cleared)
        Edit1->clear();
    Label2->setText(u(added.message) +
                    (added.position != 0 ? QString::number(added.position) : QString()));
    ctx.form12->Clear_Grid();
    ctx.form12->Show_Subscribers();
}

void TForm13::Edit1Change() {
    Label2->clear();
    if (const char* refusal = trellikon::editor::callerTypingRefusal(toDevice(Edit1->text()))) {
        ctx.dialogs.messages->error(this, u(refusal));
        Edit1->clear();
    }
}

// The remove dialog.

TForm14::TForm14(EditorsContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form14"));
    setWindowTitle(u("USUŃ"));
    Label1 = messageLabel("Label1", {u(kNotListed), u(kRemovedFrom) + QStringLiteral("168")}, this);
    Edit1 =
        numberRow(this, numberLabel, u("Numer telefonu"), Button1, "Button1", u("Usuń"), Label1);
    connect(Edit1, &QLineEdit::textEdited, this, [this] { Edit1Change(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm14::Button1Click() {
    const trellikon::editor::CallerEdit removed =
        trellikon::editor::removeCaller(ctx.settings->subscribers, toDevice(Edit1->text()));
    Label1->setText(u(removed.message) +
                    (removed.position != 0 ? QString::number(removed.position) : QString()));
    Edit1->clear();
    ctx.form12->Clear_Grid();
    ctx.form12->Show_Subscribers();
}

void TForm14::Edit1Change() {
    Label1->clear();
}
