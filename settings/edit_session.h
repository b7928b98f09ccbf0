#pragma once
// The edit the editor windows share: the settings they show and change, and
// what they show now, behind one owner.
//
// A window puts what its controls take into the session (record), asks it to
// judge the user's entries (enter: a value in, the verdict and every change it
// causes out, all taken here), and hands the changes to the views (show):
// each window that shows a field puts that field's change into its own
// control. So a window changes what another shows only through the session,
// never through the other window's controls. The encoder and the stores read
// what the session holds.
//
// Texts are Windows-1250 bytes. Nothing here shows a message.

#include "device_settings.h"
#include "editor_model.h"
#include "settings_encoder.h"

#include <functional>
#include <string_view>
#include <vector>

namespace trellikon {

class EditSession {
  public:
    // A window's part of the edit: puts each change of a field it shows into
    // its control, and leaves the others.
    using View = std::function<void(const std::vector<editor::Change>&)>;

    explicit EditSession(DeviceSettings& settings) : settings_(settings) {}
    EditSession(const EditSession&) = delete;
    EditSession& operator=(const EditSession&) = delete;

    DeviceSettings& settings() { return settings_; }
    const DecodedSettings& decoded() const { return settings_.decoded; }
    // What the editors show now.
    const EditorSnapshot& shown() const { return shown_; }
    // What they show for the stored settings when they open.
    EditorSnapshot stored() const { return editor::shownOnOpen(settings_); }
    // The session opened on the stored settings without a window (a window
    // fills its controls, which record what they take).
    void open() { shown_ = stored(); }

    // A value entered into a field: judged by the editor model, taken with
    // every change it causes. The window shows the verdict, then show()s the
    // changes. A refused entry's replacement is not taken: the window puts it
    // back into its control, which enters it.
    editor::Outcome enter(editor::Field field, std::string_view text,
                          editor::Judge judge = editor::Judge::AsTyped, int slot = 0);
    editor::Outcome enter(editor::Field field, bool on,
                          editor::Judge judge = editor::Judge::AsTyped, int slot = 0);
    // A text given as a literal is a text, not a flag.
    editor::Outcome enter(editor::Field field, const char* text,
                          editor::Judge judge = editor::Judge::AsTyped, int slot = 0) {
        return enter(field, std::string_view(text), judge, slot);
    }
    // What a control holds now, taken as it is.
    void record(editor::Field field, std::string_view text, int slot = 0);
    void record(editor::Field field, bool on, int slot = 0);
    void record(editor::Field field, const char* text, int slot = 0) {
        record(field, std::string_view(text), slot);
    }
    void recordOperator(int index) { shown_.sms_operator_index = index; }

    // Views live as long as the session is used.
    void addView(View view) { views_.push_back(std::move(view)); }
    // Hands changes the session has taken to every view, in order.
    void show(const std::vector<editor::Change>& changes) const;

    // The test message as stored, out to the views (the parameters editor
    // shows it when it fills itself).
    void showStoredTestMessage();
    // A caller allowed to switch `output` (1..2): the timed mode it needs is
    // taken, shown and stored at once, as the parameters editor is not the
    // window in use. False when nothing had to change.
    bool allowCaller(int output);

    // What the editors show, stored back into the decoded settings when the
    // parameters editor or the texts editor is left.
    void storeParameters() { editor::storeParameters(shown_, settings_); }
    void storeTexts() { editor::storeTexts(shown_, settings_.decoded); }
    // Both editors' values checked and encoded into the image.
    EncodeResult encode() { return Encode_Settings(shown_, settings_); }

  private:
    DeviceSettings& settings_;
    EditorSnapshot shown_;
    std::vector<View> views_;
};

} // namespace trellikon
