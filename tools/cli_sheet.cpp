// trellikon-cli sheet: a template's settings sheet as a PDF file. Qt's PDF
// writer needs a GUI application object for its fonts; a command-line run has
// no screen, so it asks for the platform that draws off screen.

#include "cli_commands.h"
#include "console.h"
#include "files.h"
#include "outside_text.h"
#include "settings_sheet.h"

#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>
#include <memory>
#include <ostream>

namespace trellikon::cli {

namespace {

// Qt's own notes (a missing runtime folder, a platform's limits) mean nothing
// to the user of a command line; the command reports its own errors.
void quietQt(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

std::unique_ptr<QGuiApplication> guiForFonts() {
    if (QCoreApplication::instance())
        return nullptr;
    qInstallMessageHandler(quietQt);
    if (console::drawsOffscreen() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "trellikon-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace

int runSheet(const std::string& path, const std::string& outPath, std::ostream& err) {
    const TemplateLoad load = loadTemplate(path);
    if (!load.ok())
        return fail(err, concerning("nie można odczytać pliku „" + path + "”: ", load.failure));
    const auto app = guiForFonts();
    sheet::SheetOrigin origin;
    origin.source = QStringLiteral("plik „%1”")
                        .arg(outside::line(QFileInfo(QString::fromStdString(path)).fileName()));
    origin.made = QDateTime::currentDateTime();
    const std::string e = sheet::writeSheet(outPath, inspector::inspect(load.bytes), origin);
    if (!e.empty())
        return fail(err, usageFailure("nie można zapisać pliku „" + outPath + "”: " + e));
    err << "Zapisano kartę ustawień „" << outPath << "”\n";
    return kExitOk;
}

} // namespace trellikon::cli
