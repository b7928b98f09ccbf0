#pragma once
// What the editors show, taken from their controls at the moment of the call,
// and the editor model's changes put back into the controls.
#include "editor_model.h"
#include "settings_encoder.h"

#include <vector>

class TForm2;
class TForm3;

trellikon::EditorSnapshot snapshotOfEditors(const TForm2& parameters, const TForm3& texts);
// Either editor may be missing: its fields then stay as a fresh snapshot has them.
trellikon::EditorSnapshot snapshotOfEditors(const TForm2* parameters, const TForm3* texts);

// Puts each change into its control, in order. A control that really changes
// runs its own handler, as the toolkit fires it; a change for a missing
// editor is left out.
void showChanges(const std::vector<trellikon::editor::Change>& changes, TForm2* parameters,
                 TForm3* texts);
