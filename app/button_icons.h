#pragma once
// Pictures of the main window's command buttons. They are drawn, not loaded,
// so they stay sharp at any size and screen scale, and share one style: a
// rounded tile in the command's colour with a white line drawing.

#include <QIcon>

enum class CommandPicture {
    Connect,
    ReadDevice,
    DefineSettings,
    LoadTemplate,
    Exit,
    CableDiagram,
    MountingDiagram,
    Information,
};

QIcon commandIcon(CommandPicture picture);
