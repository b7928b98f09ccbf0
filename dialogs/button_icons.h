#pragma once
// Pictures of the command buttons of the main window and the editors. They are drawn, not loaded,
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
    Back,
    FactorySettings,
    AlarmTexts,
    Subscribers,
    SaveTemplate,
    WriteDevice,
    AddSubscriber,
    RemoveSubscriber,
    ImportList,
    ExportList,
    CompareSettings, // two sheets side by side, a mark between them
    SettingsSheet,   // a printed page with lines and a signature
    Register,        // a card file: cards with tabs, one pulled up
};

QIcon commandIcon(CommandPicture picture);
