#include "main_window.h"

#include "alarm_texts_editor.h"
#include "button_icons.h"
#include "files.h"
#include "info_windows.h"
#include "outside_text.h"
#include "parameters_editor.h"
#include "progress_dialog.h"
#include "settings_comparison_window.h"
#include "subscriber_windows.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QVBoxLayout>

#include <functional>
#include <utility>

using trellikon::LinkWindow;

const char* const TForm1::OpenDialog1Filter = "sbn (*.sbn)";

namespace {

constexpr int kButtonSide = 52;

} // namespace

QLabel* TForm1::commandLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

TForm1::TForm1(trellikon::SerialPort& port, MessageBoxes& messages, FileDialogs& files,
               QWidget* parent)
    : QWidget(parent), session_(port, *this) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("DOMOWY TRELLIKON"));
    setAcceptDrops(true);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    editors_.settings = &session_.settings();
    editors_.edits = &edits_;
    editors_.session = &session_;
    dialogs_.stack = &stack_;
    // A step that shows a window (the write's, after the backup) comes once
    // the tick that ended the step before is over: at the next turn of the
    // event loop, or when the command that began the write regains control,
    // whichever is first.
    session_.wake = [this] { QTimer::singleShot(0, this, [this] { runDeferred(); }); };
    dialogs_.messages = &messages;
    setUpRegister();
    dialogs_.files = &files;
    stack_.setRoot(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 16);
    layout->setSpacing(12);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    Label5 = new QLabel(QString::fromUtf8(trellikon::texts::kInitialStatus), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setWordWrap(true);
    Label5->setFrameShape(QFrame::StyledPanel);
    Label5->setMargin(6);
    Label5->setFixedWidth(640);
    Label5->setMinimumHeight(Label5->fontMetrics().lineSpacing() * 3 + 12);
    Label5->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label5->setTextFormat(Qt::PlainText); // port names and counts come from outside
    layout->addWidget(Label5);
    status_ = Label5->text();

    ports_ = new PortChooser([this] { return session_.portName(); }, this);
    ComboBox1 = ports_->combo;
    session_.listPorts([this] { return ports_->appearedPorts(); },
                       [this] { return ports_->portsNow(); });
    layout->addWidget(ports_);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    grid->setColumnMinimumWidth(2, 24);
    layout->addLayout(grid);

    Label3 = commandLabel(this, "Label3", QString::fromUtf8("Nawiąż połączenie "));
    Label4 = commandLabel(this, "Label4", QString::fromUtf8("Odczyt ustawień z ukladu"));
    Label1 = commandLabel(this, "Label1",
                          QString::fromUtf8("Definicja ustawień i programowanie ukladu"));
    Label6 = commandLabel(this, "Label6", QString::fromUtf8("Odczyt szablonu ustawień z dysku"));
    Label7 = commandLabel(this, "Label7", QString::fromUtf8("WYJŚCIE"));
    Label8 = commandLabel(this, "Label8", QString::fromUtf8("Schemat podłączenia kabla "));
    Label9 = commandLabel(this, "Label9", QString::fromUtf8("do programowania urządzenia"));
    Label10 = commandLabel(this, "Label10", QString::fromUtf8("Schemat montażowy"));
    Label11 = commandLabel(this, "Label11", QString::fromUtf8("Informacja o systemie i firmie"));

    SpeedButton1 = addCommand("SpeedButton1", int(CommandPicture::Connect), Label3->text());
    SpeedButton5 = addCommand("SpeedButton5", int(CommandPicture::ReadDevice), Label4->text());
    SpeedButton6 = addCommand("SpeedButton6", int(CommandPicture::DefineSettings), Label1->text());
    SpeedButton7 = addCommand("SpeedButton7", int(CommandPicture::LoadTemplate), Label6->text());
    SpeedButton3 = addCommand("SpeedButton3", int(CommandPicture::CableDiagram),
                              Label8->text() + Label9->text());
    SpeedButton8 =
        addCommand("SpeedButton8", int(CommandPicture::MountingDiagram), Label10->text());
    SpeedButton4 = addCommand("SpeedButton4", int(CommandPicture::Information), Label11->text());
    SpeedButton2 = addCommand("SpeedButton2", int(CommandPicture::Exit), Label7->text());
    CompareLabel = commandLabel(this, "CompareLabel", QString::fromUtf8("Porównaj ustawienia"));
    CompareButton =
        addCommand("CompareButton", int(CommandPicture::ReadDevice), CompareLabel->text());
    CompareButton->setIcon(commandIcon(CommandPicture::CompareSettings));
    addRegisterCommand();

    auto place = [grid](int row, int column, QToolButton* button, QLabel* label,
                        QLabel* second = nullptr) {
        grid->addWidget(button, row, column);
        if (!second) {
            grid->addWidget(label, row, column + 1, Qt::AlignVCenter | Qt::AlignLeft);
            return;
        }
        auto* both = new QVBoxLayout;
        both->setSpacing(0);
        both->addStretch();
        both->addWidget(label);
        both->addWidget(second);
        both->addStretch();
        grid->addLayout(both, row, column + 1);
    };
    place(0, 0, SpeedButton1, Label3);
    place(1, 0, SpeedButton5, Label4);
    place(2, 0, SpeedButton6, Label1);
    place(3, 0, SpeedButton7, Label6);
    place(0, 3, SpeedButton3, Label8, Label9);
    place(1, 3, SpeedButton8, Label10);
    place(2, 3, SpeedButton4, Label11);
    place(3, 3, SpeedButton2, Label7);
    place(4, 0, CompareButton, CompareLabel);
    place(4, 3, RegisterButton, RegisterLabel);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(4, 1);

    connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Change(); });
    // Typing a name of one's own is a change by the user too.
    connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, [this] { ComboBox1Change(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
    connect(SpeedButton4, &QToolButton::clicked, this, [this] { SpeedButton4Click(); });
    connect(SpeedButton5, &QToolButton::clicked, this, [this] { SpeedButton5Click(); });
    connect(SpeedButton6, &QToolButton::clicked, this, [this] { SpeedButton6Click(); });
    connect(SpeedButton7, &QToolButton::clicked, this, [this] { SpeedButton7Click(); });
    connect(SpeedButton8, &QToolButton::clicked, this, [this] { SpeedButton8Click(); });
    connect(CompareButton, &QToolButton::clicked, this, [this] { CompareButtonClick(); });

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(300);
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
    Timer3 = new QTimer(this);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer3->setInterval(50);
    connect(Timer3, &QTimer::timeout, this, [this] { Timer3Timer(); });
    editors_.Timer3 = Timer3;

    FormCreate();
    ports_->refreshTooltips();
    Timer1->start();
    Timer2->start();
}

QToolButton* TForm1::addCommand(const char* name, int picture, const QString& label) {
    auto* button = new QToolButton(this);
    nameControl(button, name, label.trimmed());
    button->setToolTip(label.trimmed());
    button->setIcon(commandIcon(static_cast<CommandPicture>(picture)));
    button->setIconSize(QSize(kButtonSide - 8, kButtonSide - 8));
    button->setFixedSize(kButtonSide, kButtonSide);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

void TForm1::createWindows() {
    editors_.form2 = new TForm2(editors_, this);
    editors_.form3 = new TForm3(editors_, this);
    windows_.form4 = new TForm4(dialogs_, this);
    windows_.form5 = new TForm5(dialogs_, this);
    windows_.form6 = new TForm6(dialogs_, this);
    windows_.form7 = new TForm7(this);
    windows_.form8 = new TForm8(this);
    windows_.form10 = new TForm10(this);
    windows_.form11 = new TForm11(dialogs_, this);
    editors_.form12 = new TForm12(editors_, this);
    editors_.form13 = new TForm13(editors_, this);
    editors_.form14 = new TForm14(editors_, this);
    // Not one of the windows the device's own tool had; made after them.
    comparison_ = new ComparisonWindow(editors_, this);
    comparison_->take = [this](const trellikon::SettingsImage::Bytes& bytes,
                               const QString& origin) {
        takeImage(bytes, origin);
        stack_.showModal(editors_.form2);
    };
    editors_.form2->settingsOrigin = [this] { return origin_; };
    createRegisterWindow();
    editors_.writeSettings = [this](QWidget* parent) { writeSettings(parent); };
    dialogs_.linkWindowOk = [this](LinkWindow window) { linkWindowOk(window); };
    windows_.form4Again = new TForm4(dialogs_, this);
    windows_.form4Again->setObjectName(QStringLiteral("Form4Again"));
}

void TForm1::FormCreate() {
    editors_.texts_opened_from_parameters = 0;
    Timer3->stop();
    editors_.edits_armed = 0;
    session_.reset();
    session_.settings().startWithErasedImage();
    ComboBox1->setCurrentIndex(0);
    session_.setPortName("COM1");
}

int TForm1::ComboBox1ItemIndex() const {
    return ports_->itemIndex();
}

void TForm1::ComboBox1Change() {
    if (const auto name = ports_->chosenPort())
        session_.setPortName(*name);
    ports_->showPort(session_.portName());
}

void TForm1::SpeedButton1Click() {
    // A missing port, with the cable of the last connection behind another.
    if (const auto name = ports_->offerRememberedCable(session_.portName(), *dialogs_.messages)) {
        session_.setPortName(*name);
        ports_->showPort(*name);
    }
    session_.connect();
    // Once the connection window has closed: a write cut short on this
    // program's last connection has its ways on now.
    if (std::exchange(offerDue_, false) && session_.connected())
        offerInterruptedWrite();
}

void TForm1::SpeedButton2Click() {
    QApplication::quit();
}

void TForm1::SpeedButton3Click() {
    stack_.showModal(windows_.form7);
}

void TForm1::SpeedButton4Click() {
    stack_.showModal(windows_.form10);
}

void TForm1::SpeedButton5Click() {
    session_.read();
}

void TForm1::SpeedButton6Click() {
    stack_.showModal(editors_.form2);
}

void TForm1::SpeedButton7Click() {
    const QString path = dialogs_.files->openFileName(this, QString::fromLatin1(OpenDialog1Filter));
    if (path.isEmpty())
        return;
    loadTemplateFile(path);
}

void TForm1::loadTemplateFile(const QString& path) {
    const auto loaded = trellikon::loadTemplate(fileLayerPath(path));
    if (!loaded.ok()) {
        dialogs_.messages->error(
            this, QString::fromUtf8("Odczyt pliku nie może być przeprowadzony"),
            path + QStringLiteral(": ") + QString::fromStdString(loaded.failure.message));
        return;
    }
    takeImage(loaded.bytes,
              QString::fromUtf8("plik „%1”").arg(outside::line(QFileInfo(path).fileName())));
    stack_.showModal(editors_.form2);
}

void TForm1::takeImage(const trellikon::SettingsImage::Bytes& bytes, const QString& origin) {
    session_.settings().loadImage(bytes);
    origin_ = origin;
}

void TForm1::CompareButtonClick() {
    stack_.showModal(comparison_);
}

// What the session reports, and what each event does in the windows. Steps
// that show a window of their own (the write after its backup) come through
// the session's `later`, once the tick that led to them is over.
void TForm1::sessionEvent(const trellikon::SessionEvent& what) {
    using trellikon::SessionEvent;
    switch (what.kind) {
    case SessionEvent::Connected:
        readLeftUnassigned_ = false;
        offerDue_ = interrupted_.has_value();
        // The cable that answered is the one to look for when its port goes missing.
        ports_->rememberCable(session_.portName());
        break;
    case SessionEvent::ReadComplete:
        // A read into the program (not into a copy) replaces its settings.
        origin_ =
            QString::fromUtf8("urządzenie na porcie %1, odczyt %2")
                .arg(outside::line(QString::fromStdString(session_.portName())),
                     QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")));
        tellRead();
        break;
    case SessionEvent::ReadRefused:
        // No read window opened: a comparison waiting for the device learns it here.
        if (comparison_)
            comparison_->deviceReadEnded(nullptr);
        break;
    case SessionEvent::ReadCopyComplete:
        // The backup's read has nothing to show: the write follows by itself.
        if (session_.step() == trellikon::Session::Step::BackingUp)
            stack_.closeWindow(readWindow());
        break;
    case SessionEvent::BackupFailed:
        tellNoBackup();
        break;
    case SessionEvent::DecisionNeeded:
        decideWrite();
        break;
    case SessionEvent::WriteCancelled:
        restore_.reset();
        rewrite_.reset();
        endFileBackup();
        break;
    case SessionEvent::WriteComplete:
        // The device holds one whole image again.
        interrupted_.reset();
        // With a read-back to come, the write is recorded once it has its verdict.
        if (session_.step() != trellikon::Session::Step::Verifying)
            tellWrite();
        break;
    case SessionEvent::WriteFailed:
        tellWrite(false);
        break;
    case SessionEvent::WriteInterrupted:
        // The write window says how far the write got and what to do; the
        // register has recorded what was sent.
        keepInterruptedWrite();
        tellWrite();
        break;
    case SessionEvent::VerifyComplete:
    case SessionEvent::VerifyFailed:
        // The read-back's window has nothing to show: the verdict follows.
        if (what == SessionEvent::VerifyComplete) {
            stack_.closeWindow(readWindow());
            judgeWrite();
        }
        tellWrite();
        session_.later([this] { showVerdict(); });
        break;
    default:
        break;
    }
}

void TForm1::openStartupFile(const QStringList& arguments) {
    if (arguments.size() < 2 || arguments.at(1).isEmpty())
        return;
    // After the main window is up and the message loop runs, as if the user
    // had chosen the file in the load dialog.
    const QString path = arguments.at(1);
    QTimer::singleShot(0, this, [this, path] { loadTemplateFile(path); });
}

// A file dropped on the window is loaded as the load command would. Only one
// local file is taken, and the load runs after the drop has ended, so that the
// program it came from is not held while the editor is open.
static QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1 ||
        !data->urls().first().isLocalFile())
        return {};
    return QDir::toNativeSeparators(data->urls().first().toLocalFile());
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    QTimer::singleShot(0, this, [this, path] { loadTemplateFile(path); });
}

void TForm1::SpeedButton8Click() {
    stack_.showModal(windows_.form8);
}

void TForm1::Timer1Timer() {
    session_.Timer1Timer();
}

void TForm1::Timer2Timer() {
    session_.Timer2Timer();
}

void TForm1::Timer3Timer() {
    if (editors_.arm_ticks >= 2) {
        editors_.arm_ticks = 0;
        editors_.edits_armed = 1;
        Timer3->stop();
    } else {
        ++editors_.arm_ticks;
    }
}

void TForm1::statusText(const std::string& text) {
    status_ = QString::fromStdString(text);
    Label5->setText(status_);
}

void TForm1::connectDiagnosis(const std::string& text) {
    const QString diagnosis = QString::fromStdString(text);
    Label5->setText(diagnosis.isEmpty() ? status_ : status_ + QStringLiteral("\n") + diagnosis);
    if (windows_.form6)
        windows_.form6->setDiagnosis(diagnosis);
}

// The table from the link's windows to ours: which window shows a link
// window's texts and bar (progressWindow), what its showing and closing do
// (showWindow, closeWindow), and what follows its OK (linkWindowOk). The
// session's events are routed in sessionEvent above; no window opens another
// by itself.
ProgressDialog* TForm1::progressWindow(LinkWindow window) const {
    switch (window) {
    case LinkWindow::Connection:
        return windows_.form6;
    case LinkWindow::ReadProgress:
        return readWindow();
    case LinkWindow::WriteProgress:
        return windows_.form5;
    case LinkWindow::ConnectionLost:
        break;
    }
    return nullptr; // the notice has no texts or bar of the link's
}

void TForm1::labelText(LinkWindow window, int label, const std::string& text) {
    if (ProgressDialog* w = progressWindow(window))
        (label == 2 && w->Label2 ? w->Label2 : w->Label1)->setText(QString::fromStdString(text));
}

void TForm1::barPosition(LinkWindow window, int position) {
    if (ProgressDialog* w = progressWindow(window))
        w->ProgressBar1->setValue(position);
    // The bar moves at every tick: the block the check has reached with it.
    if (window == LinkWindow::ReadProgress && checkRead())
        readWindow()->setCheckBlock(session_.blocksDone() + 1);
}

bool TForm1::checkRead() const {
    return readWindow() && session_.step() == trellikon::Session::Step::Verifying;
}

// After a read into the program its window's OK opens the parameters editor
// from inside the window's own modal loop, which goes on below the editors
// until they close: a write from there reads the device in the second window.
TForm4* TForm1::readWindow() const {
    if (windows_.form4 && windows_.form4Again && stack_.running(windows_.form4) &&
        !stack_.isShown(windows_.form4))
        return windows_.form4Again;
    return windows_.form4;
}

void TForm1::showWindow(LinkWindow window) {
    if (window == LinkWindow::ReadProgress && readWindow())
        readWindow()->showCheck(checkRead());
    if (ProgressDialog* w = progressWindow(window)) {
        stack_.showModal(w);
        return;
    }
    // The connection-lost notice is shown from inside the 300 ms tick, and Qt
    // does not enter a timer again while its handler runs. A stand-in keeps the
    // tick going for as long as the notice is up.
    QTimer standIn;
    standIn.setInterval(Timer2->interval());
    connect(&standIn, &QTimer::timeout, this, [this] { Timer2Timer(); });
    if (Timer2->isActive())
        standIn.start();
    stack_.showModal(windows_.form11);
}

void TForm1::linkWindowOk(LinkWindow window) {
    // After the notice of a lost connection the editors and the link's
    // windows close, what was typed kept, and the connection is given up.
    if (window == LinkWindow::ConnectionLost) {
        for (StackDialog* w : std::initializer_list<StackDialog*>{
                 editors_.form2, editors_.form3, windows_.form4, windows_.form4Again,
                 windows_.form5, windows_.form6, windows_.form7}) {
            if (w && stack_.isShown(w))
                w->keepTypedValues();
            stack_.closeWindow(w);
        }
        session_.connectionLostOk();
        return;
    }
    // After a failed read the connection is given up; after a read into a
    // copy there is nothing to edit, and a comparison waiting for it compares.
    if (window != LinkWindow::ReadProgress)
        return;
    if (session_.readWindowOk())
        stack_.showModal(editors_.form2);
    else if (comparison_)
        comparison_->deviceReadEnded(session_.copy());
}

void TForm1::closeWindow(LinkWindow window) {
    if (window == LinkWindow::Connection)
        stack_.closeWindow(windows_.form6);
}

void TForm1::errorMessage(const std::string& text, const std::string& detail) {
    dialogs_.messages->error(this, QString::fromStdString(text), QString::fromStdString(detail));
}
