#include "qt_translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

QStringList qtTranslationFolders() {
    return {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
}

QString loadQtPolish(QTranslator& translator, const QStringList& folders) {
    for (const QString& folder : folders) {
        // The exact file: QTranslator would otherwise go on to other names
        // ("qtbase.qm") when this one is missing.
        const QString file = QDir(folder).filePath(QStringLiteral("qtbase_pl.qm"));
        if (QFileInfo(file).isFile() && translator.load(file))
            return file;
    }
    return {};
}

QString installQtPolish() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    const QStringList folders = qtTranslationFolders();
    const QString file = loadQtPolish(*translator, folders);
    if (file.isEmpty()) {
        qWarning("trellikon: brak tłumaczeń Qt (qtbase_pl.qm) w %s; standardowe przyciski i okna "
                 "dialogowe będą po angielsku",
                 qUtf8Printable(folders.join(QStringLiteral(", "))));
        delete translator;
        return {};
    }
    QCoreApplication::installTranslator(translator);
    return file;
}
