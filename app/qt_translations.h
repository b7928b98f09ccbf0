#pragma once
// Qt's own texts (standard buttons, file dialogs, the edits' context menus) in
// Polish, like everything else the program shows.

#include <QString>
#include <QStringList>

class QTranslator;

// Where Qt's Polish catalogue is looked for, in this order: a "translations"
// folder beside the program, as the Windows build ships it, then Qt's own
// folder (on Debian the package qt6-translations-l10n fills it).
QStringList qtTranslationFolders();

// Loads qtbase_pl.qm from the first of `folders` that holds it; returns that
// file, or an empty string when none does.
QString loadQtPolish(QTranslator& translator, const QStringList& folders);

// Loads the catalogue from qtTranslationFolders() and installs it in the
// application. Returns the file, or an empty string after a warning: Qt's texts
// then stay in English.
QString installQtPolish();
