#include "alarm_texts_editor.h"

#include <QVBoxLayout>

TForm3::TForm3(WindowContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QString::fromUtf8("TRELLIKON DEFINIOWANIE PATRAMETRÓW I PROGRAMOWANIE"));
    auto* layout = new QVBoxLayout(this);
    titleLabel = new QLabel(QString::fromUtf8("Definiowanie komunikatów alarmowych"), this);
    titleLabel->setObjectName(QStringLiteral("titleLabel"));
    QFont big = titleLabel->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    titleLabel->setFont(big);
    layout->addWidget(titleLabel, 0, Qt::AlignHCenter | Qt::AlignTop);
    layout->addStretch();
    resize(760, 620);
}
