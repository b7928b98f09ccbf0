#pragma once
// What the editors reach in the main window and in each other: the settings,
// the edit session and the session with the device, the editors' own
// coordination, and the editor windows themselves, known by their classes so
// that no window downcasts a StackDialog*.

#include "window_support.h"

#include <QTimer>

#include <cstdint>
#include <functional>

namespace trellikon {
class DeviceSettings;
class EditSession;
class Session;
} // namespace trellikon

class TForm2;
class TForm3;
class TForm12;
class TForm13;
class TForm14;

// Owned by the main window, which fills it and makes the editors with it.
struct EditorsContext {
    explicit EditorsContext(DialogContext& shared) : dialogs(shared) {}

    // The window stack and the message and file seams.
    DialogContext& dialogs;

    trellikon::DeviceSettings* settings = nullptr;
    // What the editors show and change, over `settings`.
    trellikon::EditSession* edits = nullptr;
    // The exchange with the device: its commands, and what a write asks
    // before it begins.
    trellikon::Session* session = nullptr;

    // Coordination of the parameters editor and the alarm texts editor.
    std::uint8_t edits_armed = 0;
    std::uint8_t arm_ticks = 0;
    std::uint8_t texts_opened_from_parameters = 0;
    QTimer* Timer3 = nullptr;

    // Writes the program's settings to the device through the session's steps
    // (the backup the register keeps, the decision, the frames); the
    // installer is told in `parent` why nothing was written, if so. Without
    // it (windows tested alone) the link writes at once.
    std::function<void(QWidget* parent)> writeSettings;

    // The editor windows, created at start in this order: parameters editor,
    // alarm texts editor, subscriber list, add and remove subscriber.
    TForm2* form2 = nullptr;
    TForm3* form3 = nullptr;
    TForm12* form12 = nullptr;
    TForm13* form13 = nullptr;
    TForm14* form14 = nullptr;
};
