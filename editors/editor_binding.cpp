#include "editor_binding.h"

#include "alarm_texts_editor.h"
#include "parameters_editor.h"

namespace {

using trellikon::editor::Field;

// The control that shows a field; at most one of the three is set.
struct Control {
    QLineEdit* edit = nullptr;
    QCheckBox* box = nullptr;
    RadioGroup* group = nullptr;
};

Control parametersControl(TForm2& p, Field field, int slot) {
    if (const auto user = trellikon::editor::userOf(field))
        return {p.userNumberEdits()[static_cast<std::size_t>(*user - 1)]};
    const auto at = static_cast<std::size_t>(slot);
    switch (field) {
    case Field::SmsCentre:
        return {p.Edit7};
    case Field::Output1Permanent:
        return {nullptr, nullptr, p.RadioGroup2};
    case Field::Output2Permanent:
        return {nullptr, nullptr, p.RadioGroup3};
    case Field::Output1Timed:
        return {nullptr, nullptr, p.RadioGroup4};
    case Field::Output2Timed:
        return {nullptr, nullptr, p.RadioGroup5};
    case Field::Output1Seconds:
        return {p.Edit5};
    case Field::Output2Seconds:
        return {p.Edit12};
    case Field::DailyLimit:
        return {p.Edit1};
    case Field::BalanceInfo:
        return {nullptr, p.CheckBox9};
    case Field::QueryCode:
        return {p.Edit2};
    case Field::ReportByCount:
        return {nullptr, p.CheckBox20};
    case Field::SmsCount:
        return {p.Edit4};
    case Field::ReportByTime:
        return {nullptr, p.CheckBox10};
    case Field::Days:
        return {p.Edit3};
    case Field::Echo:
        return {nullptr, p.CheckBox17};
    case Field::SmsMask:
        return {nullptr, at < 4 ? p.smsMaskBoxes()[at] : nullptr};
    case Field::RingMask:
        return {nullptr, at < 4 ? p.ringMaskBoxes()[at] : nullptr};
    case Field::InputMask:
        return {nullptr, at < 8 ? p.inputMaskBoxes()[at] : nullptr};
    default:
        return {};
    }
}

Control textsControl(TForm3& t, Field field) {
    switch (field) {
    case Field::TestMessageOn:
        return {nullptr, t.CheckBox1};
    case Field::TestMessageUser:
        return {t.Edit11};
    default:
        return {};
    }
}

// Puts each change into its control, in order; a change of a field the
// window does not show is left out. A control that really changes runs its
// own handler, as the toolkit fires it.
template <class Find>
void showChanges(const std::vector<trellikon::editor::Change>& changes, Find find) {
    for (const trellikon::editor::Change& c : changes) {
        const Control control = find(c);
        if (c.text && control.edit)
            control.edit->setText(fromDevice(*c.text));
        if (c.on && control.box)
            control.box->setChecked(*c.on);
        if (c.on && control.group)
            control.group->setItemIndex(*c.on ? trellikon::editor::kItemOn
                                              : trellikon::editor::kItemOff);
        if (c.editable && control.edit)
            switchEdit(control.edit, *c.editable);
    }
}

// Every change of the control reaches the session first.
void record(QObject* window, trellikon::EditSession& session, Field field, Control control,
            int slot = 0) {
    if (control.edit)
        QObject::connect(control.edit, &QLineEdit::textChanged, window,
                         [&session, field, slot, edit = control.edit] {
                             session.record(field, toDevice(edit->text()), slot);
                         });
    if (control.box)
        QObject::connect(control.box, &QCheckBox::toggled, window,
                         [&session, field, slot](bool on) { session.record(field, on, slot); });
    if (control.group)
        QObject::connect(control.group, &RadioGroup::itemIndexChanged, window,
                         [&session, field, slot](int index) {
                             session.record(field, index == trellikon::editor::kItemOn, slot);
                         });
}

} // namespace

void bindParameters(TForm2& p, trellikon::EditSession& session) {
    constexpr Field kFields[] = {Field::SmsCentre,
                                 Field::User1,
                                 Field::User2,
                                 Field::User3,
                                 Field::User4,
                                 Field::Output1Permanent,
                                 Field::Output2Permanent,
                                 Field::Output1Timed,
                                 Field::Output2Timed,
                                 Field::Output1Seconds,
                                 Field::Output2Seconds,
                                 Field::DailyLimit,
                                 Field::BalanceInfo,
                                 Field::QueryCode,
                                 Field::ReportByCount,
                                 Field::SmsCount,
                                 Field::ReportByTime,
                                 Field::Days,
                                 Field::Echo};
    for (const Field field : kFields)
        record(&p, session, field, parametersControl(p, field, 0));
    for (int slot = 0; slot < 4; ++slot) {
        record(&p, session, Field::SmsMask, parametersControl(p, Field::SmsMask, slot), slot);
        record(&p, session, Field::RingMask, parametersControl(p, Field::RingMask, slot), slot);
    }
    for (int slot = 0; slot < 8; ++slot)
        record(&p, session, Field::InputMask, parametersControl(p, Field::InputMask, slot), slot);
    QObject::connect(p.radiogroup6, &RadioGroup::itemIndexChanged, &p,
                     [&session](int index) { session.recordOperator(index); });
    session.addView([&p](const std::vector<trellikon::editor::Change>& changes) {
        showChanges(changes, [&p](const trellikon::editor::Change& c) {
            return parametersControl(p, c.field, c.slot);
        });
    });
}

void bindTexts(TForm3& t, trellikon::EditSession& session) {
    record(&t, session, Field::TestMessageOn, textsControl(t, Field::TestMessageOn));
    record(&t, session, Field::TestMessageUser, textsControl(t, Field::TestMessageUser));
    session.addView([&t](const std::vector<trellikon::editor::Change>& changes) {
        showChanges(changes,
                    [&t](const trellikon::editor::Change& c) { return textsControl(t, c.field); });
    });
}
