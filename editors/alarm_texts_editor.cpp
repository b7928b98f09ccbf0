#include "alarm_texts_editor.h"

#include "entry_rules.h"
#include "parameters_editor.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace rules = trellikon::rules;

namespace {
QString u(const char* utf8) { return QString::fromUtf8(utf8); }

const char* const kIndexRange = "Index użytkownika - pozycja na której użytkownik zapisany jest w "
                                "systemie ma zawierać się w przedziałe od 1 do 4 ";
const char* const kDefineUserFirst[4] = {
    "Zdefiniuj najpierw użytkownika numer 1",
    "Zdefiniuj najpierw użytkownika numer 2",
    "Zdefiniuj najpierw użytkownika numer 3",
    "Zdefiniuj najpierw użytkownika numer 4",
};
} // namespace

TForm3::TForm3(WindowContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(u("TRELLIKON DEFINIOWANIE PATRAMETRÓW I PROGRAMOWANIE"));
    auto* layout = new QVBoxLayout(this);
    titleLabel = addTitleLabel(this, u("Definiowanie komunikatów alarmowych"));
    auto* test = titledGroup("GroupTest", u("Definicja wiadomości testowej"), this);
    auto* row = new QHBoxLayout(test);
    CheckBox1 = new QCheckBox(u("Wysyłanie wiadomości testowej "), test);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setAccessibleName(u("Wysyłanie wiadomości testowej"));
    Edit11 = deviceEdit("Edit11", u("Index użytkownika (1...4)"), test);
    row->addWidget(CheckBox1);
    row->addWidget(buddyLabel(u("Index użytkownika  (1...4)"), Edit11, test));
    row->addWidget(Edit11);
    layout->addWidget(test);
    layout->addStretch();
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
    connect(Edit11, &QLineEdit::textChanged, this, [this] { Edit11Change(); });
    resize(760, 620);
}

void TForm3::error(const char* utf8) { ctx.messages->error(this, u(utf8)); }

void TForm3::CheckBox1Click() { switchEdit(Edit11, CheckBox1->isChecked()); }

void TForm3::Edit11Change() {
    if (ctx.texts_opened_from_parameters != 1 || Edit11->text().isEmpty())
        return;
    const auto index = rules::wholeNumber(toDevice(Edit11->text()));
    if (!index || *index < 1 || *index > 4) {
        error(kIndexRange);
        Edit11->clear();
        return;
    }
    if (ctx.form2 && ctx.form2->userNumberEdits()[static_cast<std::size_t>(*index - 1)]
                         ->text()
                         .isEmpty()) {
        error(kDefineUserFirst[*index - 1]);
        Edit11->clear();
    }
}
