#include "alarm_texts_editor.h"

#include <QVBoxLayout>

TForm3::TForm3(WindowContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QString::fromUtf8("TRELLIKON DEFINIOWANIE PATRAMETRÓW I PROGRAMOWANIE"));
    auto* layout = new QVBoxLayout(this);
    titleLabel = addTitleLabel(this, QString::fromUtf8("Definiowanie komunikatów alarmowych"));
    layout->addStretch();
    resize(760, 620);
}
