// A chosen file's name on Linux: the system's own bytes, as Qt encodes them.
#include "window_support.h"

#include <QFile>

std::string fileLayerPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
