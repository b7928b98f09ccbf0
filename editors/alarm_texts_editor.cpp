#include "alarm_texts_editor.h"

#include "device_link.h"
#include "device_settings.h"
#include "edit_session.h"
#include "editor_binding.h"
#include "entry_messages.h"
#include "entry_rules.h"
#include "files.h"
#include "parameters_editor.h"
#include "session.h"
#include "settings_encoder.h"

#include <QApplication>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace rules = trellikon::rules;
namespace messages = trellikon::messages;
using trellikon::layout::kTextSlotCount;

const char* const TForm3::SaveDialog1Filter = "sbn (sbn)";

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

const char* const kWriteNotConnected =
    "Zapis ustawień nie może być przeprowadzony, Wybierz port komputera, wyłącz i włącz "
    "urządzenie a następnie nacinij przycisk \"Nawiąż połączenie\"";
const char* const kWriteRefused = "Zapis ustawień nie może być przeprowadzony,skoryguj ustawienia";
const char* const kSaved = "Operacja zapisu do pliku przeprowadzona pomyślnie";
const char* const kSaveFailed = "Operacja zapisu nie powiodła się";

// One row of the window per text slot.
struct TextRow {
    const char* edit;
    const char* button;
    const char* code;   // the event code shown beside the box
    const char* spoken; // what the box holds, for assistive technology
};

const TextRow kRows[kTextSlotCount] = {
    {"Edit1", "Button14", "", "Nagłówek komunikatu"},
    {"Edit2", "Button1", "0+", "Komunikat 0+: zanik zasilania"},
    {"Edit3", "Button2", "0-", "Komunikat 0-: powrót zasilania"},
    {"Edit4", "Button3", "1+", "Komunikat 1+: aktywacja wejścia 1"},
    {"Edit5", "Button4", "1-", "Komunikat 1-: dezaktywacja wejścia 1"},
    {"Edit6", "Button5", "2+", "Komunikat 2+: aktywacja wejścia 2"},
    {"Edit7", "Button6", "2-", "Komunikat 2-: dezaktywacja wejścia 2"},
    {"Edit8", "Button7", "3+", "Komunikat 3+: aktywacja wejścia 3"},
    {"Edit9", "Button8", "3-", "Komunikat 3-: dezaktywacja wejścia 3"},
    {"Edit10", "Button9", "4+", "Komunikat 4+: aktywacja wejścia 4"},
    {"Edit12", "Button10", "5+", "Komunikat 5+: aktywacja wejścia 5"},
    {"Edit13", "Button11", "6+", "Komunikat 6+: aktywacja wejścia 6"},
    {"Edit14", "Button12", "7+", "Komunikat 7+: aktywacja wejścia 7"},
    {"Edit15", "Button13", "8+", "Komunikat 8+: aktywacja wejścia 8"},
    {"Edit16", "Button15", "", "Treść wiadomości testowej"},
};

int buttonNumber(const char* name) {
    return QByteArray(name + 6).toInt();
}

} // namespace

TForm3::TForm3(EditorsContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(u("TRELLIKON DEFINIOWANIE PATRAMETRÓW I PROGRAMOWANIE"));
    buildLayout();
}

void TForm3::buildLayout() {
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(14, 10, 14, 12);
    top->setSpacing(10);
    top->setSizeConstraint(QLayout::SetFixedSize);
    titleLabel = addTitleLabel(this, u("Definiowanie komunikatów alarmowych"));

    QLineEdit** edits[kTextSlotCount] = {&Edit1,  &Edit2,  &Edit3,  &Edit4,  &Edit5,
                                         &Edit6,  &Edit7,  &Edit8,  &Edit9,  &Edit10,
                                         &Edit12, &Edit13, &Edit14, &Edit15, &Edit16};
    // Room for the longest text the device takes, in the window's own font.
    const int wide = fontMetrics().horizontalAdvance(QString(64, QLatin1Char('a')));
    auto addRow = [&](QGridLayout* grid, int row, int slot, QWidget* parent) {
        const TextRow& r = kRows[slot];
        QLineEdit* e = deviceEdit(r.edit, u(r.spoken), parent);
        e->setMinimumWidth(wide);
        *edits[slot] = e;
        QPushButton* clear = pushButton(r.button, u("Czyść"), parent);
        clear->setAccessibleName(u("Czyść: ") + u(r.spoken));
        Button[std::size_t(buttonNumber(r.button))] = clear;
        if (*r.code) {
            auto* code = new QLabel(QString::fromLatin1(r.code), parent);
            code->setObjectName(QStringLiteral("Code_%1").arg(QString::fromLatin1(r.edit)));
            code->setBuddy(e);
            code->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            grid->addWidget(code, row, 0);
        }
        grid->addWidget(e, row, 1);
        grid->addWidget(clear, row, 2);
        connect(e, &QLineEdit::textChanged, this, [this, slot] { textChange(slot); });
        connect(clear, &QPushButton::clicked, this, [this, slot] { clearClick(slot); });
    };

    // The header, with its caption above the row.
    auto* headerBox = new QWidget(this);
    auto* headerLayout = new QVBoxLayout(headerBox);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(4);
    Label1 = new QLabel(u("Defiinicja nagłówka komunikatu"), headerBox);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    headerLayout->addWidget(Label1);
    auto* headerGrid = new QGridLayout;
    headerGrid->setColumnMinimumWidth(0, 24);
    headerGrid->setContentsMargins(11, 0, 11, 0);
    addRow(headerGrid, 0, 0, headerBox);
    headerLayout->addLayout(headerGrid);
    top->addWidget(headerBox);

    auto* inputs = titledGroup("GroupInputs", u("Definicje wejść"), this);
    auto* inputsGrid = new QGridLayout(inputs);
    inputsGrid->setVerticalSpacing(5);
    inputsGrid->setColumnMinimumWidth(0, 24);
    for (int slot = 1; slot < kTextSlotCount - 1; ++slot)
        addRow(inputsGrid, slot - 1, slot, inputs);
    top->addWidget(inputs);

    auto* test = titledGroup("GroupTest", u("Definicja wiadomości testowej"), this);
    auto* testLayout = new QGridLayout(test);
    testLayout->setColumnMinimumWidth(0, 24);
    addRow(testLayout, 0, kTextSlotCount - 1, test);
    auto* testRow = new QHBoxLayout;
    CheckBox1 = new QCheckBox(u("Wysyłanie wiadomości testowej "), test);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setAccessibleName(u("Wysyłanie wiadomości testowej"));
    Edit11 = deviceEdit("Edit11", u("Index użytkownika (1...4)"), test);
    Edit11->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
    testRow->addWidget(CheckBox1);
    testRow->addSpacing(24);
    testRow->addWidget(buddyLabel(u("Index użytkownika  (1...4)"), Edit11, test));
    testRow->addWidget(Edit11);
    testRow->addStretch(1);
    testLayout->addLayout(testRow, 1, 1, 1, 2);
    top->addWidget(test);

    Label20 = new QLabel(u("NAGŁOWEK KOMUNIKATU NIE MOŻE PRZEKRACZAĆ  50 ZNAKÓW  A  KOMUNIKAT "
                           "ALARMOWY 100 ZNAKÓW"),
                         this);
    Label20->setObjectName(QStringLiteral("Label20"));
    Label20->setAlignment(Qt::AlignCenter);
    top->addWidget(Label20);

    CommandRow commands(this);
    SpeedButton2 = commands.add("SpeedButton2", CommandPicture::Back, {u("Wstecz")});
    SpeedButton1 = commands.add("SpeedButton1", CommandPicture::FactorySettings,
                                {u("Przywrócenie komunikatów fabrycznych")});
    SpeedButton3 =
        commands.add("SpeedButton3", CommandPicture::SaveTemplate, {u("Zapis szablonu na dysk")});
    SpeedButton4 = commands.add("SpeedButton4", CommandPicture::WriteDevice,
                                {u("Zapis ustawień do urządzenia")});
    SpeedButton5 = commands.add("SpeedButton5", CommandPicture::Exit, {u("WYJŚCIE")});
    top->addLayout(commands.finish());

    bindTexts(*this, *ctx.edits);
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
    connect(Edit11, &QLineEdit::textChanged, this, [this] { Edit11Change(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
    connect(SpeedButton4, &QToolButton::clicked, this, [this] { SpeedButton4Click(); });
    connect(SpeedButton5, &QToolButton::clicked, this, [this] { SpeedButton5Click(); });
}

std::array<QLineEdit*, 15> TForm3::textEdits() const {
    return {Edit1, Edit2,  Edit3,  Edit4,  Edit5,  Edit6,  Edit7, Edit8,
            Edit9, Edit10, Edit12, Edit13, Edit14, Edit15, Edit16};
}

void TForm3::error(const char* utf8) {
    ctx.dialogs.messages->error(this, u(utf8));
}

void TForm3::FormActivate() {
    Label1->setText(u("Nagłówek komunikatu"));
    const auto edits = textEdits();
    for (std::size_t slot = 0; slot < edits.size(); ++slot)
        edits[slot]->setText(fromDevice(ctx.edits->decoded().texts[slot]));
}

// The texts and the test message, stored when the window is left.
void TForm3::storeTexts() {
    ctx.edits->storeTexts();
}

void TForm3::FormDeactivate() {
    storeTexts();
}

// The check of every change of a text box. Putting the accepted text back is
// a change too: the check runs again, nested, on the restored text.
void TForm3::textChange(int slot) {
    QLineEdit* e = textEdits()[std::size_t(slot)];
    QString& accepted = accepted_text[std::size_t(slot)];
    // The box is judged knowing what it held before.
    ctx.edits->record(trellikon::editor::Field::Text, toDevice(accepted), slot);
    if (const auto out = ctx.edits->enter(trellikon::editor::Field::Text, toDevice(e->text()),
                                          trellikon::editor::Judge::AsTyped, slot);
        out.verdict.refused()) {
        error(out.verdict.message);
        e->setText(accepted);
    }
    accepted = e->text();
}

void TForm3::clearClick(int slot) {
    textEdits()[std::size_t(slot)]->clear();
}

void TForm3::CheckBox1Click() {
    ctx.edits->show(
        ctx.edits->enter(trellikon::editor::Field::TestMessageOn, CheckBox1->isChecked()).changes);
}

void TForm3::Edit11Change() {
    if (ctx.texts_opened_from_parameters != 1 || Edit11->text().isEmpty())
        return;
    // Without the parameters editor there are no user numbers to ask.
    const auto out = ctx.edits->enter(
        trellikon::editor::Field::TestMessageUser, toDevice(Edit11->text()),
        ctx.form2 ? trellikon::editor::Judge::AsTyped : trellikon::editor::Judge::Together);
    if (out.verdict.refused()) {
        error(out.verdict.message);
        putBack(Edit11, out.verdict);
    }
}

void TForm3::SpeedButton1Click() {
    const auto edits = textEdits();
    for (int slot = 0; slot < kTextSlotCount; ++slot)
        edits[std::size_t(slot)]->setText(fromDevice(trellikon::defaultText(slot)));
}

void TForm3::SpeedButton2Click() {
    FormDeactivate();
    Encode_Texts();
    ctx.dialogs.stack->closeWindow(this);
}

void TForm3::SpeedButton3Click() {
    Save_Template();
}

void TForm3::SpeedButton4Click() {
    if (!ctx.session->writeAllowed()) {
        error(kWriteNotConnected);
        return;
    }
    // A text that was pasted into an empty box or came with a template has
    // not met the typing rule yet; the device cannot send what it refuses.
    if (const auto refused = rules::firstRefusedText(typedTexts())) {
        ctx.dialogs.messages->error(
            this, u("%1: %2").arg(u(kRows[refused->slot].spoken), u(refused->verdict.message)));
        return;
    }
    Encode_Settings();
    if (encode_failed) {
        error(kWriteRefused);
        finishCommand();
        return;
    }
    if (ctx.writeSettings) {
        ctx.writeSettings(this);
    } else {
        // Without the main window's steps: the frames alone.
        trellikon::WriteSteps framesAlone;
        framesAlone.again = true;
        ctx.session->write(framesAlone);
    }
}

void TForm3::SpeedButton5Click() {
    QApplication::quit();
}

void TForm3::report(const trellikon::EncodeResult& result) {
    if (result.encode_failed)
        encode_failed = 1;
    for (const auto& refusal : result.refusals)
        ctx.dialogs.messages->error(this, QString::fromStdString(refusal.message));
    if (result.closesTextsEditor())
        close_when_done_ = true;
}

// A refusal that closes this window takes effect when the command that ran
// the encoder has finished, so that its own message still comes first.
void TForm3::finishCommand() {
    if (!close_when_done_)
        return;
    close_when_done_ = false;
    ctx.dialogs.stack->closeWindow(this);
}

void TForm3::Encode_Settings() {
    encode_failed = 0;
    report(ctx.edits->encode());
}

std::array<std::string, kTextSlotCount> TForm3::typedTexts() const {
    std::array<std::string, kTextSlotCount> texts;
    const auto edits = textEdits();
    for (std::size_t slot = 0; slot < edits.size(); ++slot)
        texts[slot] = toDevice(edits[slot]->text());
    return texts;
}

void TForm3::Encode_Texts() {
    report(trellikon::Encode_Texts(typedTexts(), ctx.settings->image));
}

// Opening the editor again from the parameters editor decodes the texts from
// the image, so the image is where typed texts survive the notice.
void TForm3::keepTypedValues() {
    FormDeactivate();
    trellikon::keepTypedTexts(typedTexts(), ctx.settings->image);
}

// The file is written whole or not at all: an earlier template of the same
// name survives a failed save.
void TForm3::Save_Template() {
    Encode_Settings();
    if (!encode_failed) {
        const QString path =
            ctx.dialogs.files->saveFileName(this, QString::fromLatin1(SaveDialog1Filter));
        if (!path.isEmpty()) {
            const auto& bytes = ctx.settings->image.bytes();
            const trellikon::Failure failure =
                trellikon::saveFileAtomically(fileLayerPath(path), bytes.data(), bytes.size());
            ctx.dialogs.messages->plain(this, u(failure ? kSaveFailed : kSaved));
        }
    }
    ctx.session->endWrite();
    finishCommand();
}
