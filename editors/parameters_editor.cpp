#include "parameters_editor.h"

#include <QVBoxLayout>

TForm2::TForm2(WindowContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QString::fromUtf8("DOMOWY TRELLIKON - PARAMETRY USTAWIEŃ"));
    auto* layout = new QVBoxLayout(this);
    titleLabel = addTitleLabel(this, QString::fromUtf8("Parametry ustawień"));
    layout->addStretch();
    resize(760, 560);
}

void TForm2::FormActivate() {
    ctx.edits_armed = 0;
    ctx.arm_ticks = 0;
    if (ctx.Timer3)
        ctx.Timer3->start();
    ctx.texts_opened_from_parameters = 0;
}

void TForm2::FormDeactivate() {
    if (ctx.Timer3)
        ctx.Timer3->stop();
}
