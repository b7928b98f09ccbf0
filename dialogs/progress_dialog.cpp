#include "progress_dialog.h"

#include "device_link.h"
#include "info_windows.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// Wide enough for the longest message on two or three lines.
constexpr int kLabelWidth = 440;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFixedWidth(kLabelWidth);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QPushButton* makeOk(QWidget* parent) {
    QPushButton* ok = pushButton("Button1", QStringLiteral("OK"), parent);
    ok->setMinimumWidth(90);
    return ok;
}

QHBoxLayout* centred(QWidget* w) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(w);
    row->addStretch();
    return row;
}
} // namespace

ProgressDialog::ProgressDialog(DialogContext& context, int barMaximum, bool secondLabel,
                               QWidget* parent)
    : StackDialog(parent), ctx(context) {
    // The title bar stays empty. An empty title would not do: Qt puts the
    // program's name in its place. A single blank is a title every window
    // system shows as nothing and every font can draw.
    setWindowTitle(QStringLiteral(" "));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(12);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    Label1 = makeLabel(this, "Label1", QString());
    layout->addWidget(Label1);
    if (secondLabel) {
        Label2 = makeLabel(this, "Label2", QString());
        layout->addWidget(Label2);
    }
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, barMaximum);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setFixedWidth(kLabelWidth);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    layout->addWidget(ProgressBar1);
    Button1 = makeOk(this);
    layout->addLayout(centred(Button1));
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

TForm4::TForm4(DialogContext& context, QWidget* parent)
    : ProgressDialog(context, trellikon::DeviceLink::kProgressBarMax, false, parent) {
    setObjectName(QStringLiteral("Form4"));
    ProgressBar1->setAccessibleName(QStringLiteral("Postęp odczytu"));
    CheckLabel = makeLabel(this, "CheckLabel", QString());
    CheckLabel->setTextFormat(Qt::PlainText);
    QFont bold = CheckLabel->font();
    bold.setBold(true);
    CheckLabel->setFont(bold);
    CheckLabel->hide();
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, CheckLabel);
}

namespace {
const char* const kCheckTitle = "Sprawdzanie zapisu – nie odłączaj kabla";
} // namespace

void TForm4::showCheck(bool on) {
    setWindowTitle(on ? QString::fromUtf8(kCheckTitle) : QStringLiteral(" "));
    CheckLabel->setVisible(on);
    if (on)
        setCheckBlock(1);
}

void TForm4::setCheckBlock(int block) {
    const int last = trellikon::layout::kBlockCount;
    CheckLabel->setText(QString::fromUtf8("%1\nOdczyt bloku %2 z %3")
                            .arg(QString::fromUtf8(kCheckTitle),
                                 QString::number(std::clamp(block, 1, last)),
                                 QString::number(last)));
}

void TForm4::Button1Click() {
    ctx.stack->closeWindow(this);
    if (ctx.linkWindowOk)
        ctx.linkWindowOk(trellikon::LinkWindow::ReadProgress);
}

TForm5::TForm5(DialogContext& context, QWidget* parent)
    : ProgressDialog(context, trellikon::DeviceLink::kProgressBarMax, false, parent) {
    setObjectName(QStringLiteral("Form5"));
    ProgressBar1->setAccessibleName(QStringLiteral("Postęp zapisu"));
}

void TForm5::Button1Click() {
    ctx.stack->closeWindow(this);
}

TForm6::TForm6(DialogContext& context, QWidget* parent)
    : ProgressDialog(context, trellikon::DeviceLink::kConnectBarMax, true, parent) {
    setObjectName(QStringLiteral("Form6"));
    Label1->setText(QString::fromUtf8("Trwa nawiązywanie polaczenia komputera z urządzeniem"));
    ProgressBar1->setAccessibleName(QString::fromUtf8("Postęp nawiązywania połączenia"));
    // Port names and counts come from outside: never read as markup.
    DiagnosisLabel = makeLabel(this, "DiagnosisLabel", QString());
    DiagnosisLabel->setTextFormat(Qt::PlainText);
    DiagnosisLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    DiagnosisLabel->setFrameShape(QFrame::StyledPanel);
    DiagnosisLabel->setMargin(6);
    DiagnosisLabel->hide();
    static_cast<QVBoxLayout*>(layout())->insertWidget(2, DiagnosisLabel);
}

void TForm6::setDiagnosis(const QString& text) {
    DiagnosisLabel->setText(text);
    DiagnosisLabel->setVisible(!text.isEmpty());
}

void TForm6::Button1Click() {
    ctx.stack->closeWindow(this);
}

TForm11::TForm11(DialogContext& context, QWidget* parent) : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("Form11"));
    setWindowTitle(QStringLiteral("DOMOWY TRELLIKON"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 14);
    layout->setSpacing(14);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    Label1 = new QLabel(QString::fromUtf8("Nastąpiło zerwanie komunikacji z  programem  "), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setMinimumWidth(320);
    layout->addWidget(Label1);
    Button1 = makeOk(this);
    layout->addLayout(centred(Button1));
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm11::Button1Click() {
    ctx.stack->closeWindow(this);
    if (ctx.linkWindowOk)
        ctx.linkWindowOk(trellikon::LinkWindow::ConnectionLost);
}

void TForm11::closeEvent(QCloseEvent* event) {
    // Only OK closes the notice; the window manager's close is refused.
    if (ctx.stack->isShown(this))
        event->ignore();
    else
        event->accept();
}
