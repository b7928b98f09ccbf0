#include "edit_session.h"

namespace trellikon {

using editor::Change;
using editor::Field;

editor::Outcome EditSession::enter(Field field, std::string_view text, editor::Judge judge,
                                   int slot) {
    const EditorSnapshot before = shown_;
    editor::Outcome out = editor::apply(shown_, field, text, judge, slot);
    // A replacement is an entry of its own, which the window's edit enters
    // again when it puts it back: taken now, its consequences would be gone
    // before the window sees them.
    if (out.verdict.refused() && out.verdict.put_back)
        shown_ = before;
    return out;
}

editor::Outcome EditSession::enter(Field field, bool on, editor::Judge judge, int slot) {
    return editor::apply(shown_, field, on, judge, slot);
}

void EditSession::record(Field field, std::string_view text, int slot) {
    editor::setValue(shown_, field, text, slot);
}

void EditSession::record(Field field, bool on, int slot) {
    editor::setValue(shown_, field, on, slot);
}

void EditSession::show(const std::vector<Change>& changes) const {
    if (changes.empty())
        return;
    for (const View& view : views_)
        view(changes);
}

void EditSession::showStoredTestMessage() {
    const EditorSnapshot s = stored();
    std::vector<Change> changes;
    changes.push_back({Field::TestMessageOn, 0, std::nullopt, s.test_message_on, std::nullopt});
    changes.push_back({Field::TestMessageUser, 0, s.test_message_user, std::nullopt, std::nullopt});
    // Each control that changes runs its handler, which records it here.
    show(changes);
}

bool EditSession::allowCaller(int output) {
    const editor::Outcome out = enter(editor::clipField(output), true);
    if (out.changes.empty())
        return false;
    show(out.changes);
    storeParameters();
    return true;
}

} // namespace trellikon
