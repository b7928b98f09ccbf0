#include "editor_snapshot.h"

#include "alarm_texts_editor.h"
#include "parameters_editor.h"

trellikon::EditorSnapshot snapshotOfEditors(const TForm2& p, const TForm3& t) {
    trellikon::EditorSnapshot s;
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

    s.test_message_on = t.CheckBox1->isChecked();
    s.test_message_user = toDevice(t.Edit11->text());
    const auto texts = t.textEdits();
    for (std::size_t i = 0; i < texts.size(); ++i)
        s.texts[i] = toDevice(texts[i]->text());
    return s;
}
