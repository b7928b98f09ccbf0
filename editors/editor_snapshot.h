#pragma once
// What the encoder reads from the two editors, taken from their controls at
// the moment of the call.
#include "settings_encoder.h"

class TForm2;
class TForm3;

trellikon::EditorSnapshot snapshotOfEditors(const TForm2& parameters, const TForm3& texts);
