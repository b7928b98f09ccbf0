#include "editor_snapshot.h"

#include "alarm_texts_editor.h"
#include "parameters_editor.h"

namespace {

using trellikon::editor::Field;

void fillParameters(const TForm2& p, trellikon::EditorSnapshot& s) {
    s.sms_centre_number = toDevice(p.Edit7->text());
    const auto users = p.userNumberEdits();
    for (std::size_t i = 0; i < users.size(); ++i)
        s.user_number[i] = toDevice(users[i]->text());
    s.echo = p.CheckBox17->isChecked();
    for (std::size_t i = 0; i < 4; ++i) {
        s.sms_mask_user[i] = p.smsMaskBoxes()[i]->isChecked();
        s.ring_mask_user[i] = p.ringMaskBoxes()[i]->isChecked();
    }
    for (std::size_t i = 0; i < 8; ++i)
        s.input_mask_input[i] = p.inputMaskBoxes()[i]->isChecked();
    s.output1_permanent_index = p.RadioGroup2->ItemIndex();
    s.output2_permanent_index = p.RadioGroup3->ItemIndex();
    s.output1_auto_index = p.RadioGroup4->ItemIndex();
    s.output2_auto_index = p.RadioGroup5->ItemIndex();
    s.output1_auto_seconds = toDevice(p.Edit5->text());
    s.output2_auto_seconds = toDevice(p.Edit12->text());
    s.daily_sms_limit = toDevice(p.Edit1->text());
    s.balance_by_count = p.CheckBox20->isChecked();
    s.balance_sms_count = toDevice(p.Edit4->text());
    s.balance_info = p.CheckBox9->isChecked();
    s.balance_by_time = p.CheckBox10->isChecked();
    s.balance_days = toDevice(p.Edit3->text());
    s.balance_query_code = toDevice(p.Edit2->text());
}

void fillTexts(const TForm3& t, trellikon::EditorSnapshot& s) {
    s.test_message_on = t.CheckBox1->isChecked();
    s.test_message_user = toDevice(t.Edit11->text());
    const auto texts = t.textEdits();
    for (std::size_t i = 0; i < texts.size(); ++i)
        s.texts[i] = toDevice(texts[i]->text());
}

// The control that shows a field; at most one of the three is set.
struct Control {
    QLineEdit* edit = nullptr;
    QCheckBox* box = nullptr;
    RadioGroup* group = nullptr;
};

Control parametersControl(TForm2& p, Field field) {
    if (const auto user = trellikon::editor::userOf(field))
        return {p.userNumberEdits()[static_cast<std::size_t>(*user - 1)]};
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
    default:
        return {};
    }
}

Control textsControl(TForm3& t, Field field, int slot) {
    switch (field) {
    case Field::TestMessageOn:
        return {nullptr, t.CheckBox1};
    case Field::TestMessageUser:
        return {t.Edit11};
    case Field::Text:
        if (slot >= 0 && slot < trellikon::layout::kTextSlotCount)
            return {t.textEdits()[static_cast<std::size_t>(slot)]};
        return {};
    default:
        return {};
    }
}

} // namespace

trellikon::EditorSnapshot snapshotOfEditors(const TForm2& p, const TForm3& t) {
    return snapshotOfEditors(&p, &t);
}

trellikon::EditorSnapshot snapshotOfEditors(const TForm2* p, const TForm3* t) {
    trellikon::EditorSnapshot s;
    if (p)
        fillParameters(*p, s);
    if (t)
        fillTexts(*t, s);
    return s;
}

void showChanges(const std::vector<trellikon::editor::Change>& changes, TForm2* p, TForm3* t) {
    for (const trellikon::editor::Change& c : changes) {
        Control control;
        if (p)
            control = parametersControl(*p, c.field);
        if (t && !control.edit && !control.box && !control.group)
            control = textsControl(*t, c.field, c.slot);
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
