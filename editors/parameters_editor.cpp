#include "parameters_editor.h"

#include "alarm_texts_editor.h"
#include "button_icons.h"
#include "device_settings.h"
#include "edit_session.h"
#include "editor_binding.h"
#include "entry_messages.h"
#include "settings_sheet.h"
#include "subscriber_windows.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace editor = trellikon::editor;
using trellikon::editor::Field;
using namespace trellikon::messages;

namespace {

// The operators whose SMS centre and balance-query code the window knows.
constexpr int kOrange = editor::kOrange, kEra = editor::kEra, kPlus = editor::kPlus,
              kPlay = editor::kPlay, kOther = editor::kOtherOperator;
const auto& kPresets = editor::kOperatorPresets;

// The output groups: "AKTYWNE" / "TAK" switch on, "NIEAKTYWNE" / "NIE" off.
constexpr int kActive = editor::kItemOn, kInactive = editor::kItemOff;
constexpr int kYes = editor::kItemOn, kNo = editor::kItemOff;

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

const char* const kUserCaptions[4] = {"Numer użytkownika 1", "Numer użytkownika 2",
                                      "Numer użytkownika 3", "Numer użytkownika 4"};
const char* const kMaskUserCaptions[4] = {"Użytkownik 1", "Użytkownik 2", "Użytkownik 3",
                                          "Użytkownik 4"};
const char* const kInputCaptions[8] = {" wej1", "wej2", "wej3", "wej4",
                                       "wej5",  "wej6", "wej7", "wej8"};

// A check box with its caption, named for tests and assistive technology.
QCheckBox* checkBox(const char* name, const QString& caption, const QString& spoken,
                    QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setAccessibleName(spoken);
    return box;
}

// Wide enough for `chars` digits, so nothing the window accepts is cut off.
void widthForDigits(QLineEdit* edit, int chars) {
    const int w = edit->fontMetrics().horizontalAdvance(QString(chars, QLatin1Char('0')));
    edit->setMinimumWidth(w + 16);
}

} // namespace

TForm2::TForm2(EditorsContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(u("DOMOWY TRELLIKON - PARAMETRY USTAWIEŃ"));
    buildLayout();
    bindParameters(*this, *ctx.edits);
    connectHandlers();
}

void TForm2::buildLayout() {
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(14, 10, 14, 12);
    top->setSpacing(10);
    top->setSizeConstraint(QLayout::SetFixedSize);
    titleLabel = addTitleLabel(this, u("Parametry ustawień"));

    auto* columns = new QHBoxLayout;
    columns->setSpacing(12);
    top->addLayout(columns);
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    left->setSpacing(10);
    right->setSpacing(10);
    columns->addLayout(left, 0);
    columns->addLayout(right, 0);

    // SMS centre.
    auto* centre = titledGroup("GroupCentre", u("Definiowanie Centrum SMS"), this);
    auto* centreLayout = new QVBoxLayout(centre);
    radiogroup6 =
        new RadioGroup("radiogroup6", u("Centrum SMS"),
                       {u("ORANGE"), u("ERA"), u("PLUS"), u("PLAY"), u("INNY")}, 3, centre);
    centreLayout->addWidget(radiogroup6);
    auto* centreRow = new QHBoxLayout;
    Edit7 = deviceEdit("Edit7", u("Numer Centrum SMS"), centre);
    widthForDigits(Edit7, 18);
    centreRow->addWidget(buddyLabel(u("Numer Centrum SMS:"), Edit7, centre));
    centreRow->addWidget(Edit7, 1);
    centreLayout->addLayout(centreRow);
    left->addWidget(centre);

    // User numbers.
    auto* users = titledGroup("GroupUsers", u("Definiowanie numerów użytkowników"), this);
    auto* usersGrid = new QGridLayout(users);
    usersGrid->setVerticalSpacing(6);
    QLineEdit** userEdits[4] = {&Edit8, &Edit9, &Edit10, &Edit11};
    const char* userNames[4] = {"Edit8", "Edit9", "Edit10", "Edit11"};
    for (int i = 0; i < 4; ++i) {
        const QString caption = u(kUserCaptions[i]);
        *userEdits[i] = deviceEdit(userNames[i], caption, users);
        widthForDigits(*userEdits[i], 18);
        usersGrid->addWidget(buddyLabel(caption, *userEdits[i], users), i, 0);
        usersGrid->addWidget(*userEdits[i], i, 1);
    }
    usersGrid->setColumnStretch(1, 1);
    left->addWidget(users);

    // Other parameters.
    auto* others = titledGroup("GroupOthers", u("Definiowanie pozostałych parametrów"), this);
    auto* othersGrid = new QGridLayout(others);
    CheckBox17 = checkBox("CheckBox17", QString(), u("ECHO"), others);
    othersGrid->addWidget(buddyLabel(u("ECHO"), CheckBox17, others), 0, 0);
    othersGrid->addWidget(CheckBox17, 0, 1);
    Edit1 = deviceEdit("Edit1", u("Definicja dobowego limitu SMS"), others);
    widthForDigits(Edit1, 6);
    othersGrid->addWidget(buddyLabel(u("Definicja dobowego limitu SMS"), Edit1, others), 1, 0);
    othersGrid->addWidget(Edit1, 1, 1, Qt::AlignLeft);
    othersGrid->setColumnStretch(2, 1);
    left->addWidget(others);
    left->addStretch(1);

    // Masks.
    auto* masks = titledGroup("GroupMasks", u("Definiowanie masek"), this);
    auto* masksRow = new QHBoxLayout(masks);
    auto userMask = [&](const char* group, const QString& title, int firstBox,
                        std::array<QCheckBox**, 4> boxes) {
        auto* box = titledGroup(group, title, masks);
        auto* col = new QVBoxLayout(box);
        col->setSpacing(4);
        for (int i = 0; i < 4; ++i) {
            const QByteArray name = QByteArray("CheckBox") + QByteArray::number(firstBox + i);
            const QString caption = u(kMaskUserCaptions[i]);
            *boxes[i] = checkBox(name.constData(), caption, title + u(": ") + caption, box);
            col->addWidget(*boxes[i]);
        }
        col->addStretch(1);
        masksRow->addWidget(box);
    };
    userMask("GroupRingMask", u("Maska RING"), 5, {&CheckBox5, &CheckBox6, &CheckBox7, &CheckBox8});
    userMask("GroupSmsMask", u("Maska SMS"), 1, {&CheckBox1, &CheckBox2, &CheckBox3, &CheckBox4});
    auto* inputs = titledGroup("GroupInputMask", u("Maska wejść"), masks);
    auto* inputsGrid = new QGridLayout(inputs);
    inputsGrid->setVerticalSpacing(4);
    QCheckBox** inputBoxes[8] = {&CheckBox21, &CheckBox22, &CheckBox23, &CheckBox24,
                                 &CheckBox25, &CheckBox26, &CheckBox27, &CheckBox28};
    for (int i = 0; i < 8; ++i) {
        const QByteArray name = QByteArray("CheckBox") + QByteArray::number(21 + i);
        const QString caption = u(kInputCaptions[i]);
        *inputBoxes[i] =
            checkBox(name.constData(), caption, u("Maska wejść: wejście %1").arg(i + 1), inputs);
        inputsGrid->addWidget(*inputBoxes[i], i % 4, i / 4);
    }
    masksRow->addWidget(inputs);
    right->addWidget(masks);

    // Outputs.
    auto* outputs = titledGroup("GroupOutputs", u("Definiowanie sterowanie wyjść"), this);
    auto* outputsRow = new QHBoxLayout(outputs);
    auto* permanent = titledGroup("GroupPermanent", u("Wysterowanie wyjścia na stałe"), outputs);
    auto* permanentRow = new QHBoxLayout(permanent);
    RadioGroup2 = new RadioGroup("RadioGroup2", u("wyjście nr 1"), {u("AKTYWNE"), u("NIEAKTYWNE")},
                                 1, permanent);
    RadioGroup3 = new RadioGroup("RadioGroup3", u("wyjście nr 2"), {u("AKTYWNE"), u("NIEAKTYWNE")},
                                 1, permanent);
    RadioGroup2->setAccessibleName(u("Wysterowanie wyjścia na stałe: wyjście nr 1"));
    RadioGroup3->setAccessibleName(u("Wysterowanie wyjścia na stałe: wyjście nr 2"));
    permanentRow->addWidget(RadioGroup2);
    permanentRow->addWidget(RadioGroup3);
    outputsRow->addWidget(permanent);
    auto* automatic =
        titledGroup("GroupAutomatic", u("Automatyczne wysterowanie wyjścia"), outputs);
    auto* automaticRow = new QHBoxLayout(automatic);
    auto timed = [&](RadioGroup*& group, QLineEdit*& seconds, const char* groupName,
                     const char* editName, int output) {
        auto* col = new QVBoxLayout;
        group = new RadioGroup(groupName, u("wyjście nr %1").arg(output), {u("TAK"), u("NIE")}, 2,
                               automatic);
        group->setAccessibleName(u("Automatyczne wysterowanie wyjścia: wyjście nr %1").arg(output));
        col->addWidget(group);
        auto* row = new QHBoxLayout;
        seconds = deviceEdit(editName, u("Czas wysterowania wyjścia nr %1 w sekundach").arg(output),
                             automatic);
        widthForDigits(seconds, 5);
        row->addWidget(seconds);
        row->addWidget(new QLabel(u("sekund"), automatic));
        row->addStretch(1);
        col->addLayout(row);
        automaticRow->addLayout(col);
    };
    timed(RadioGroup4, Edit5, "RadioGroup4", "Edit5", 1);
    timed(RadioGroup5, Edit12, "RadioGroup5", "Edit12", 2);
    outputsRow->addWidget(automatic);
    right->addWidget(outputs);

    // Balance reporting.
    auto* balance = titledGroup("GroupBalance",
                                u("Informowanie o stanie konta.   Definioanie  parametrów"), this);
    auto* balanceGrid = new QGridLayout(balance);
    balanceGrid->setVerticalSpacing(6);
    CheckBox9 =
        checkBox("CheckBox9", u("Informuj o stanie konta"), u("Informuj o stanie konta"), balance);
    balanceGrid->addWidget(CheckBox9, 0, 0, 1, 3);
    Edit2 = deviceEdit("Edit2", u("Numer badania stanu konta"), balance);
    widthForDigits(Edit2, 22);
    balanceGrid->addWidget(buddyLabel(u("Numer badania stanu konta"), Edit2, balance), 1, 0);
    balanceGrid->addWidget(Edit2, 1, 1, 1, 2);
    CheckBox20 =
        checkBox("CheckBox20", u("Informacja ilościowa:"), u("Informacja ilościowa"), balance);
    Edit4 = deviceEdit("Edit4", u("Informacja ilościowa: co ile SMS"), balance);
    widthForDigits(Edit4, 6);
    balanceGrid->addWidget(CheckBox20, 2, 0);
    balanceGrid->addWidget(Edit4, 2, 1);
    balanceGrid->addWidget(new QLabel(u("SMS"), balance), 2, 2);
    CheckBox10 = checkBox("CheckBox10", u("Informacja czasowa"), u("Informacja czasowa"), balance);
    Edit3 = deviceEdit("Edit3", u("Informacja czasowa: co ile dni"), balance);
    widthForDigits(Edit3, 6);
    balanceGrid->addWidget(CheckBox10, 3, 0);
    balanceGrid->addWidget(Edit3, 3, 1);
    balanceGrid->addWidget(new QLabel(u("dni"), balance), 3, 2);
    balanceGrid->setColumnStretch(3, 1);
    right->addWidget(balance);
    right->addStretch(1);

    // Commands along the bottom.
    CommandRow commands(this);
    SpeedButton2 = commands.add("SpeedButton2", CommandPicture::Back, {u("WSTECZ")});
    SpeedButton3 = commands.add("SpeedButton3", CommandPicture::FactorySettings,
                                {u("Ustawienia "), u("fabryczne")});
    SpeedButton1 = commands.add("SpeedButton1", CommandPicture::AlarmTexts,
                                {u("Definicja alarmów i "), u("zapis ustawień")});
    SpeedButton4 =
        commands.add("SpeedButton4", CommandPicture::Subscribers, {u("Definicja"), u("abonentów")});
    SheetButton = commands.add("SheetButton", CommandPicture::SaveTemplate,
                               {u("Karta ustawień"), u("(PDF)")});
    SheetButton->setIcon(commandIcon(CommandPicture::SettingsSheet));
    top->addLayout(commands.finish());
}

void TForm2::connectHandlers() {
    connect(radiogroup6, &RadioGroup::itemIndexChanged, this, [this] { RadioGroup6Click(); });
    connect(RadioGroup2, &RadioGroup::itemIndexChanged, this, [this] { RadioGroup2Click(); });
    connect(RadioGroup3, &RadioGroup::itemIndexChanged, this, [this] { RadioGroup3Click(); });
    connect(RadioGroup4, &RadioGroup::itemIndexChanged, this, [this] { RadioGroup4Click(); });
    connect(RadioGroup5, &RadioGroup::itemIndexChanged, this, [this] { RadioGroup5Click(); });
    connect(CheckBox9, &QCheckBox::toggled, this, [this] { CheckBox9Click(); });
    connect(CheckBox10, &QCheckBox::toggled, this, [this] { CheckBox10Click(); });
    connect(CheckBox20, &QCheckBox::toggled, this, [this] { CheckBox20Click(); });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    connect(Edit2, &QLineEdit::textChanged, this, [this] { Edit2Change(); });
    connect(Edit3, &QLineEdit::textChanged, this, [this] { Edit3Change(); });
    connect(Edit4, &QLineEdit::textChanged, this, [this] { Edit4Change(); });
    connect(Edit5, &QLineEdit::textChanged, this, [this] { Edit5Change(); });
    connect(Edit7, &QLineEdit::textChanged, this, [this] { Edit7Change(); });
    connect(Edit8, &QLineEdit::textChanged, this, [this] { Edit8Change(); });
    connect(Edit9, &QLineEdit::textChanged, this, [this] { Edit9Change(); });
    connect(Edit10, &QLineEdit::textChanged, this, [this] { Edit10Change(); });
    connect(Edit11, &QLineEdit::textChanged, this, [this] { Edit11Change(); });
    connect(Edit12, &QLineEdit::textChanged, this, [this] { Edit12Change(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
    connect(SpeedButton4, &QToolButton::clicked, this, [this] { SpeedButton4Click(); });
    connect(SheetButton, &QToolButton::clicked, this, [this] { SheetButtonClick(); });
}

std::array<QCheckBox*, 4> TForm2::smsMaskBoxes() const {
    return {CheckBox1, CheckBox2, CheckBox3, CheckBox4};
}
std::array<QCheckBox*, 4> TForm2::ringMaskBoxes() const {
    return {CheckBox5, CheckBox6, CheckBox7, CheckBox8};
}
std::array<QCheckBox*, 8> TForm2::inputMaskBoxes() const {
    return {CheckBox21, CheckBox22, CheckBox23, CheckBox24,
            CheckBox25, CheckBox26, CheckBox27, CheckBox28};
}
std::array<QLineEdit*, 4> TForm2::userNumberEdits() const {
    return {Edit8, Edit9, Edit10, Edit11};
}

void TForm2::error(const char* utf8) {
    ctx.dialogs.messages->error(this, u(utf8));
}

void TForm2::FormActivate() {
    const trellikon::DecodedSettings& d = ctx.edits->decoded();
    // 1, 2
    ctx.edits_armed = 0;
    ctx.arm_ticks = 0;
    if (ctx.Timer3)
        ctx.Timer3->start();
    ctx.texts_opened_from_parameters = 0;
    // 3
    Edit7->setText(fromDevice(d.sms_centre_number));
    const auto edits = userNumberEdits();
    for (std::size_t i = 0; i < edits.size(); ++i)
        edits[i]->setText(fromDevice(d.user_number[i]));
    // 4: the operator is not stored; it follows from the centre's number.
    const int match = editor::operatorOfCentre(d.sms_centre_number);
    if (match != kOther) {
        radiogroup6->setItemIndex(match);
        Edit2->setText(u(kPresets[match].code));
    } else {
        radiogroup6->setItemIndex(kOther);
        Edit2->setText(fromDevice(d.balance_query_code));
        Edit7->setText(fromDevice(d.sms_centre_number));
    }
    // 5
    wyswietl_nastawy();
}

void TForm2::wyswietl_nastawy() {
    const trellikon::DecodedSettings& d = ctx.edits->decoded();
    const trellikon::EditorSnapshot shown = ctx.edits->stored();
    // 1, 2
    CheckBox17->setChecked(shown.echo);
    for (std::size_t i = 0; i < 4; ++i) {
        smsMaskBoxes()[i]->setChecked(shown.sms_mask_user[i]);
        ringMaskBoxes()[i]->setChecked(shown.ring_mask_user[i]);
    }
    for (std::size_t i = 0; i < 8; ++i)
        inputMaskBoxes()[i]->setChecked(shown.input_mask_input[i]);
    // 3
    RadioGroup2->setItemIndex(d.output1_permanent ? kActive : kInactive);
    RadioGroup3->setItemIndex(d.output2_permanent ? kActive : kInactive);
    // 4
    CheckBox20->setChecked(d.balance_sms_count_valid);
    switchEdit(Edit4, d.balance_sms_count_valid);
    CheckBox10->setChecked(d.balance_days_valid);
    switchEdit(Edit3, d.balance_days_valid);
    // 5
    Edit2->setText(fromDevice(d.balance_query_code));
    const bool haveCode = !Edit2->text().isEmpty();
    switchEdit(Edit2, haveCode);
    CheckBox9->setChecked(haveCode);
    // 6
    Edit4->setText(fromDevice(d.balance_sms_count));
    Edit3->setText(fromDevice(d.balance_days));
    Edit1->setText(fromDevice(d.daily_sms_limit));
    // 7, 8
    RadioGroup4->setItemIndex(d.output1_auto_on ? kYes : kNo);
    RadioGroup5->setItemIndex(d.output2_auto_on ? kYes : kNo);
    Edit5->setText(fromDevice(d.output1_auto_seconds));
    Edit12->setText(fromDevice(d.output2_auto_seconds));
    // 9: a stored code whose length does not check is no code.
    if (!ctx.edits->settings().balanceQueryCodeLengthChecks()) {
        Edit2->clear();
        switchEdit(Edit2, false);
        CheckBox9->setChecked(false);
    }
    // 10: the alarm texts editor's test message.
    ctx.edits->showStoredTestMessage();
    // 11: the code shown is stored when the window is left; until then the
    // window's controls are the only writer.
    // 12: the report switches as stored, each with its edit.
    CheckBox9->setChecked(d.balance_info_on);
    switchEdit(Edit2, d.balance_info_on);
    CheckBox20->setChecked(d.balance_by_count_on);
    switchEdit(Edit4, d.balance_by_count_on);
    CheckBox10->setChecked(d.balance_by_time_on);
    switchEdit(Edit3, d.balance_by_time_on);
}

void TForm2::FormDeactivate() {
    if (ctx.Timer3)
        ctx.Timer3->stop();
    storeValues();
}

void TForm2::storeValues() {
    ctx.edits->storeParameters();
    // 11
    switchEdit(Edit2, CheckBox9->isChecked());
}

// One entry judged by the editor model: its message, its replacement, then
// what it changes elsewhere (each change runs its own control's handler).
void TForm2::take(Field field, QLineEdit* edit, bool plainMessage) {
    const editor::Outcome out = ctx.edits->enter(field, toDevice(edit->text()));
    if (out.verdict.refused()) {
        if (plainMessage)
            ctx.dialogs.messages->plain(this, u(out.verdict.message));
        else
            error(out.verdict.message);
        putBack(edit, out.verdict);
    }
    if (out.notice)
        error(out.notice);
    ctx.edits->show(out.changes);
}

void TForm2::take(Field field, bool on) {
    ctx.edits->show(ctx.edits->enter(field, on).changes);
}

// User numbers.

void TForm2::userNumberChange(int user) {
    take(editor::userField(user), userNumberEdits()[static_cast<std::size_t>(user - 1)]);
}

void TForm2::Edit8Change() {
    userNumberChange(1);
}
void TForm2::Edit9Change() {
    userNumberChange(2);
}
void TForm2::Edit10Change() {
    userNumberChange(3);
}
void TForm2::Edit11Change() {
    userNumberChange(4);
}

// Outputs: permanently on and switched on for a time exclude each other.

void TForm2::permanentClick(int output, RadioGroup* permanent) {
    take(editor::permanentField(output), permanent->ItemIndex() == kActive);
}

void TForm2::automaticClick(int output, RadioGroup* automatic) {
    take(editor::timedField(output), automatic->ItemIndex() == kYes);
}

void TForm2::RadioGroup2Click() {
    permanentClick(1, RadioGroup2);
}
void TForm2::RadioGroup3Click() {
    permanentClick(2, RadioGroup3);
}
void TForm2::RadioGroup4Click() {
    automaticClick(1, RadioGroup4);
}
void TForm2::RadioGroup5Click() {
    automaticClick(2, RadioGroup5);
}

void TForm2::onTimeChange(int output, QLineEdit* seconds) {
    if (!ctx.edits_armed)
        return;
    take(editor::secondsField(output), seconds);
}

void TForm2::Edit5Change() {
    onTimeChange(1, Edit5);
}
void TForm2::Edit12Change() {
    onTimeChange(2, Edit12);
}

// Daily limit: digits only, 1..9999, at most the four characters the device keeps.
void TForm2::Edit1Change() {
    take(Field::DailyLimit, Edit1);
}

// SMS centre and operator.

void TForm2::RadioGroup6Click() {
    const int index = radiogroup6->ItemIndex();
    if (index == kOrange || index == kEra || index == kPlus) {
        Edit7->setEnabled(false);
        Edit7->setText(u(kPresets[index].number));
        Edit2->setText(u(kPresets[index].code));
    } else if (index == kPlay) {
        Edit7->setEnabled(false);
        Edit7->setText(u(kPresets[kPlay].number));
        Edit2->clear();
    } else if (index == kOther) {
        Edit7->setEnabled(true);
        Edit7->clear();
    }
}

// Typed under "INNY", the number empties the balance-query code: the editor
// model's rule, as `set` applies it.
void TForm2::Edit7Change() {
    take(Field::SmsCentre, Edit7);
    const int index = radiogroup6->ItemIndex();
    if ((index == kOrange || index == kEra || index == kPlus) &&
        toDevice(Edit7->text()) != kPresets[index].number)
        radiogroup6->setItemIndex(kOther);
    switch (radiogroup6->ItemIndex()) {
    case kOrange:
        Edit7->setText(u(kPresets[kOrange].number));
        break;
    case kEra:
    case kPlus:
        Edit7->setText(u(kPresets[radiogroup6->ItemIndex()].number));
        Edit2->setText(u(kPresets[radiogroup6->ItemIndex()].code));
        break;
    case kPlay:
        Edit7->setText(u(kPresets[kPlay].number));
        Edit2->clear();
        break;
    default:
        break;
    }
}

// Balance reporting.

void TForm2::Edit2Change() {
    take(Field::QueryCode, Edit2, true);
}

void TForm2::CheckBox9Click() {
    if (!ctx.edits_armed)
        return;
    take(Field::BalanceInfo, CheckBox9->isChecked());
}

void TForm2::reportOptionClick(Field field, QCheckBox* option) {
    if (!ctx.edits_armed)
        return;
    const editor::Outcome out = ctx.edits->enter(field, option->isChecked());
    // Unticking runs this handler again, which switches the value's edit off.
    if (out.verdict.refused()) {
        option->setChecked(false);
        error(out.verdict.message);
    }
    ctx.edits->show(out.changes);
}

void TForm2::CheckBox20Click() {
    reportOptionClick(Field::ReportByCount, CheckBox20);
}
void TForm2::CheckBox10Click() {
    reportOptionClick(Field::ReportByTime, CheckBox10);
}

void TForm2::Edit4Change() {
    if (!ctx.edits_armed)
        return;
    take(Field::SmsCount, Edit4);
}

void TForm2::Edit3Change() {
    if (!ctx.edits_armed)
        return;
    take(Field::Days, Edit3);
}

// Commands.

void TForm2::SpeedButton1Click() {
    ctx.texts_opened_from_parameters = 1;
    ctx.edits->settings().Decode_Texts();
    ctx.dialogs.stack->showModal(ctx.form3);
}

void TForm2::SpeedButton2Click() {
    storeValues();
    ctx.dialogs.stack->closeWindow(this);
}

void TForm2::SpeedButton3Click() {
    for (QCheckBox* box : ringMaskBoxes())
        box->setChecked(true);
    for (QCheckBox* box : smsMaskBoxes())
        box->setChecked(true);
    for (QCheckBox* box : inputMaskBoxes())
        box->setChecked(true);
    RadioGroup2->setItemIndex(kInactive);
    RadioGroup3->setItemIndex(kInactive);
    RadioGroup4->setItemIndex(kNo);
    RadioGroup5->setItemIndex(kNo);
    Edit5->clear();
    Edit12->clear();
    CheckBox20->setChecked(false);
    CheckBox10->setChecked(false);
    Edit3->clear();
    Edit4->clear();
    CheckBox9->setChecked(false);
    CheckBox17->setChecked(true);
    Edit1->setText(QStringLiteral("20"));
}

void TForm2::SpeedButton4Click() {
    ctx.dialogs.stack->showModal(ctx.form12);
}

void TForm2::SheetButtonClick() {
    QString path = ctx.dialogs.files->saveFileName(this, QStringLiteral("pdf (*.pdf)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        path += QStringLiteral(".pdf");
    // The sheet shows what the window shows now.
    storeValues();
    trellikon::sheet::SheetOrigin origin;
    origin.source = settingsOrigin ? settingsOrigin() : QString();
    origin.made = QDateTime::currentDateTime();
    const std::string failure = trellikon::sheet::writeSheet(
        fileLayerPath(path), trellikon::inspector::inspectProgram(ctx.edits->settings()), origin);
    if (failure.empty())
        ctx.dialogs.messages->plain(this, u("Operacja zapisu do pliku przeprowadzona pomyślnie"));
    else
        ctx.dialogs.messages->error(this, u("Operacja zapisu nie powiodła się"),
                                    path + QStringLiteral(": ") + QString::fromStdString(failure));
}
