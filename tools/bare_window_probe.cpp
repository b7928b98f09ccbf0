// A bare Qt window with the same start-up probe as the program: the yardstick
// for the program's start-up time and memory.
#include "startup_probe.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(640, 360);
    window.show();
    reportStartupIfAsked(window);
    return app.exec();
}
