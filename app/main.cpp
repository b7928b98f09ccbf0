#include "button_icons.h"
#include "command_line.h"
#include "files.h"
#include "main_window.h"
#include "qt_translations.h"
#include "startup_probe.h"
#include "system_serial_port.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (const auto answer = answerCommandLine(argc, argv)) {
        std::fputs(answer->text.c_str(), stdout);
        return answer->status;
    }
    trellikon::markProgramRunning();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("trellikon"));
    QApplication::setDesktopFileName(QStringLiteral("trellikon"));
    QApplication::setWindowIcon(commandIcon(CommandPicture::Connect));
    installQtPolish();

    trellikon::SystemSerialPort port;
    QtMessageBoxes messages;
    QtFileDialogs files;
    TForm1 form1(port, messages, files);
    form1.createWindows();
    // The main window comes first: a modal window closed before it exists would
    // otherwise end the program as its last window.
    form1.show();
    form1.openStartupFile(QApplication::arguments());
    reportStartupIfAsked(form1);
    return app.exec();
}
