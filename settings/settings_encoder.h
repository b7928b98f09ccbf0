#pragma once
// The settings encoder: what the editor windows show, checked once more and
// written into the settings image before a write to the device or a template
// save.
//
// The windows fill an EditorSnapshot from their controls at the moment of the
// call; the encoder works on the snapshot and the image only, so it runs (and
// is tested) without a window. It never stops early: every step runs and each
// refused entry adds one refusal, in step order. The window shows them.

#include "device_settings.h"

#include <array>
#include <string>
#include <vector>

namespace trellikon {

// The values of the parameters editor and the alarm texts editor that the
// encoder reads. Texts are Windows-1250 bytes exactly as the controls hold
// them; radio indexes as the groups report them (-1 = nothing selected).
struct EditorSnapshot {
    // Parameters editor.
    std::string sms_centre_number;          // Edit7
    std::array<std::string, 4> user_number; // Edit8..Edit11, users 1..4
    bool echo = false;                      // CheckBox17
    std::array<bool, 4> sms_mask_user{};    // CheckBox1..CheckBox4, users 1..4
    std::array<bool, 4> ring_mask_user{};   // CheckBox5..CheckBox8, users 1..4
    std::array<bool, 8> input_mask_input{}; // CheckBox21..CheckBox28, inputs 1..8
    int output1_permanent_index = -1;       // RadioGroup2: 0 "AKTYWNE", 1 "NIEAKTYWNE"
    int output2_permanent_index = -1;       // RadioGroup3
    int output1_auto_index = -1;            // RadioGroup4: 0 "TAK", 1 "NIE"
    int output2_auto_index = -1;            // RadioGroup5
    std::string output1_auto_seconds;       // Edit5
    std::string output2_auto_seconds;       // Edit12
    std::string daily_sms_limit;            // Edit1
    bool balance_by_count = false;          // CheckBox20
    std::string balance_sms_count;          // Edit4
    bool balance_info = false;              // CheckBox9
    bool balance_by_time = false;           // CheckBox10
    std::string balance_days;               // Edit3
    std::string balance_query_code;         // Edit2
    // The operator the SMS centre belongs to (radiogroup6: 0 ORANGE .. 4
    // INNY); the encoder does not read it, typing the centre's number does.
    int sms_operator_index = -1;

    // Alarm texts editor.
    bool test_message_on = false;  // CheckBox1
    std::string test_message_user; // Edit11
    // The fifteen text boxes in slot order: Edit1, Edit2..Edit10, Edit12..Edit16.
    std::array<std::string, layout::kTextSlotCount> texts;
};

// One refused entry: the message (UTF-8) and whether the alarm texts editor
// closes for it, so that the user is back where the value is edited.
struct EncodeRefusal {
    std::string message;
    bool closes_texts_editor = false;

    bool operator==(const EncodeRefusal&) const = default;
};

struct EncodeResult {
    std::vector<EncodeRefusal> refusals; // in step order
    bool encode_failed = false;          // set when any entry was refused

    bool closesTextsEditor() const;
};

// The full encoder: block 0's parameter fields and the fifteen text slots.
// Reads clip_output1_on / clip_output2_on from the decoded settings and writes
// only the image: the decoded settings have one writer, the editor model's
// store when an editor is left. Never touches the subscriber blocks or the
// unused bytes.
EncodeResult Encode_Settings(const EditorSnapshot& snapshot, DeviceSettings& settings);

// The fifteen text slots only, with the same rules as the text step above.
// The caller keeps its own failure flag: this only ever adds to it.
EncodeResult Encode_Texts(const std::array<std::string, layout::kTextSlotCount>& texts,
                          SettingsImage& image);

// The texts as typed, kept in the image when their window is closed for the
// program (the connection-lost notice) rather than by the user: no refusal
// is reported, and a text longer than its slot leaves the slot as it was
// instead of emptying it.
void keepTypedTexts(const std::array<std::string, layout::kTextSlotCount>& texts,
                    SettingsImage& image);

} // namespace trellikon
