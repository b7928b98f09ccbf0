#include "info_windows.h"

TForm7::TForm7(QWidget* parent) : StackDialog(parent) {
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QString::fromUtf8("DOMOWY TRELLIKON PODŁĄCZENIE DO KOMPUTERA"));
    resize(889, 657);
}

TForm8::TForm8(QWidget* parent) : StackDialog(parent) {
    setObjectName(QStringLiteral("Form8"));
    setWindowTitle(QString::fromUtf8("DOMOWY TRELLIKON SCHEMAT MONTAŻOWY"));
    resize(1033, 777);
}

TForm10::TForm10(QWidget* parent) : StackDialog(parent) {
    setObjectName(QStringLiteral("Form10"));
    setWindowTitle(QString::fromUtf8("INFORMACJE O SYSTEMIE  I FIRMIE"));
    resize(420, 260);
}
