#pragma once
// The editors' controls bound to the edit session: what a control takes is
// recorded in the session before the control's own handler runs, and the
// session's changes come back to the window that shows the field.
#include "edit_session.h"

#include <vector>

class TForm2;
class TForm3;

// Records every control of the window in the session as it changes, and
// makes the window a view of the session. Called before the window connects
// its handlers, so that a handler finds its control's value recorded. The
// texts editor's text boxes are left out: their handler records the last
// accepted text before it judges the new one.
void bindParameters(TForm2& parameters, trellikon::EditSession& session);
void bindTexts(TForm3& texts, trellikon::EditSession& session);
