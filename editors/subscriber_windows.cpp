#include "subscriber_windows.h"

#include <QVBoxLayout>

TForm12::TForm12(WindowContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form12"));
    setWindowTitle(QString::fromUtf8("TRELLIKON DEFINIOWANIE ABONENTÓW"));
    auto* layout = new QVBoxLayout(this);
    titleLabel = addTitleLabel(this, QStringLiteral("Abonenci"));
    layout->addStretch();
    resize(520, 560);
}

TForm13::TForm13(WindowContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form13"));
    setWindowTitle(QStringLiteral("DODAJ"));
    resize(320, 140);
}

TForm14::TForm14(WindowContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form14"));
    setWindowTitle(QString::fromUtf8("USUŃ"));
    resize(320, 140);
}
