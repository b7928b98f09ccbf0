// A chosen file's name on Windows: UTF-8, which the file layer widens for the
// system's wide calls (the ANSI code page cannot carry every name).
#include "window_support.h"

std::string fileLayerPath(const QString& path) {
    return path.toStdString();
}
