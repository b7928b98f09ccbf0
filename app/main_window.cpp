#include "main_window.h"

#include "alarm_texts_editor.h"
#include "button_icons.h"
#include "files.h"
#include "info_windows.h"
#include "outside_text.h"
#include "parameters_editor.h"
#include "port_names.h"
#include "program_version.h"
#include "progress_dialog.h"
#include "register_window.h"
#include "settings_comparison_window.h"
#include "subscriber_windows.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <utility>

using trellikon::LinkWindow;

const char* const TForm1::OpenDialog1Filter = "sbn (*.sbn)";

namespace {

constexpr int kPortCount = 8;
constexpr int kButtonSide = 52;

// The port list shows, for each name, the device it stands for at the moment
// the list is opened, and the ports present beyond COM1..COM8: cables come and
// go while the program runs.
class PortComboBox : public QComboBox {
  public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;
    void showPopup() override {
        if (beforePopup)
            beforePopup();
        // A line that came with a cable just now is shown whole, not cut to
        // the width the list had before.
        view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth() +
                                view()->verticalScrollBar()->sizeHint().width());
        QComboBox::showPopup();
    }
};

QLabel* commandLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

} // namespace

TForm1::TForm1(trellikon::SerialPort& port, MessageBoxes& messages, FileDialogs& files,
               QWidget* parent)
    : QWidget(parent), session_(port, *this), journal_(TForm1::openRegisterFile, kProgramVersion) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("DOMOWY TRELLIKON"));
    setAcceptDrops(true);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    ctx_.settings = &session_.settings();
    ctx_.edits = &edits_;
    ctx_.link = &session_.link();
    ctx_.session = &session_;
    ctx_.stack = &stack_;
    // A step that shows a window (the write's, after the backup) comes once
    // the tick that ended the step before is over: at the next turn of the
    // event loop, or when the command that began the write regains control,
    // whichever is first.
    session_.defer = [this](std::function<void()> step) {
        deferred_ = std::move(step);
        QTimer::singleShot(0, this, [this] { runDeferred(); });
    };
    ctx_.messages = &messages;
    session_.useStore(&journal_);
    ctx_.files = &files;
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

    auto* portRow = new QHBoxLayout;
    auto* portLabel = new QLabel(QStringLiteral("Port komputera:"), this);
    portLabel->setObjectName(QStringLiteral("portLabel"));
    auto* combo = new PortComboBox(this);
    ComboBox1 = combo;
    nameControl(ComboBox1, "ComboBox1", portLabel->text());
    portLabel->setBuddy(ComboBox1);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    for (int i = 1; i <= kPortCount; ++i)
        ComboBox1->addItem(QStringLiteral("COM%1").arg(i));
    ComboBox1->setMinimumWidth(120);
    // Ports appended later ("COM12 – USB Serial Port") widen the field and its list.
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    combo->beforePopup = [this] { refreshPortList(); };
    extraPorts = [] { return trellikon::portsBeyondTheEight(); };
    allPorts = [] { return trellikon::presentPorts(); };
    portThere = [](const std::string& name) { return trellikon::portPresent(name); };
    adapterBehind = [](const std::string& name) { return trellikon::adapterOf(name); };
    for (const auto& p : trellikon::presentPorts())
        portsAtStart.push_back(p.name);
    session_.link().appearedPorts = [this] {
        std::vector<std::string> appeared;
        for (const auto& p : allPorts()) {
            if (std::find(portsAtStart.begin(), portsAtStart.end(), p.name) == portsAtStart.end())
                appeared.push_back(trellikon::portLabel(p.name));
        }
        return appeared;
    };
    session_.link().portsNow = [this] {
        std::vector<std::string> now;
        for (const auto& p : allPorts())
            now.push_back(trellikon::portLabel(p.name));
        return now;
    };
    portRow->addWidget(portLabel);
    portRow->addWidget(ComboBox1);
    portRow->addStretch();
    layout->addLayout(portRow);

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
    RegisterLabel = commandLabel(this, "RegisterLabel", QString::fromUtf8("Rejestr instalacji"));
    RegisterButton =
        addCommand("RegisterButton", int(CommandPicture::Register), RegisterLabel->text());

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
    connect(RegisterButton, &QToolButton::clicked, this, [this] { RegisterButtonClick(); });

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
    ctx_.Timer3 = Timer3;

    FormCreate();
    refreshPortTooltips();
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
    ctx_.form2 = new TForm2(ctx_, this);
    ctx_.form3 = new TForm3(ctx_, this);
    ctx_.form4 = new TForm4(ctx_, this);
    ctx_.form5 = new TForm5(ctx_, this);
    ctx_.form6 = new TForm6(ctx_, this);
    ctx_.form7 = new TForm7(this);
    ctx_.form8 = new TForm8(this);
    ctx_.form10 = new TForm10(this);
    ctx_.form11 = new TForm11(ctx_, this);
    ctx_.form12 = new TForm12(ctx_, this);
    ctx_.form13 = new TForm13(ctx_, this);
    ctx_.form14 = new TForm14(ctx_, this);
    ctx_.parametersWindow = ctx_.form2;
    ctx_.textsWindow = ctx_.form3;
    // Not one of the windows the device's own tool had; made after them.
    comparison_ = new ComparisonWindow(ctx_, this);
    comparison_->take = [this](const trellikon::SettingsImage::Bytes& bytes,
                               const QString& origin) {
        takeImage(bytes, origin);
        stack_.showModal(ctx_.form2);
    };
    ctx_.form2->settingsOrigin = [this] { return origin_; };
    register_ = new RegisterWindow(ctx_, this);
    register_->open = comparison_->take;
    register_->compare = [this](const trellikon::SettingsImage::Bytes& bytes,
                                const QString& origin) {
        comparison_->compareWithSaved(bytes, origin);
        stack_.showModal(comparison_);
    };
    register_->write = [this](const trellikon::reg::Version& version, const QString& origin) {
        writeVersion(version, origin);
    };
    ctx_.writeSettings = [this](QWidget* parent) { writeSettings(parent); };
    ctx_.linkWindowOk = [this](LinkWindow window) { linkWindowOk(window); };
    ctx_.form4Again = new TForm4(ctx_, this);
    ctx_.form4Again->setObjectName(QStringLiteral("Form4Again"));
}

void TForm1::FormCreate() {
    ctx_.texts_opened_from_parameters = 0;
    Timer3->stop();
    ctx_.edits_armed = 0;
    session_.link().reset();
    session_.settings().startWithErasedImage();
    ComboBox1->setCurrentIndex(0);
    session_.setPortName("COM1");
}

int TForm1::ComboBox1ItemIndex() const {
    const int index = ComboBox1->currentIndex();
    return index >= 0 && ComboBox1->currentText() == ComboBox1->itemText(index) ? index : -1;
}

void TForm1::ComboBox1Change() {
    const int index = ComboBox1ItemIndex();
    if (index >= 0 && index < kPortCount)
        session_.setPortName("COM" + std::to_string(index + 1));
    else if (index >= kPortCount)
        session_.setPortName(ComboBox1->itemData(index).toString().toStdString());
    ComboBox1->setToolTip(portTooltip(session_.portName()));
}

// The eight names stay items 0 to 7; the ports beyond them are asked for anew
// and follow, each with what stands behind it ("COM12 – USB Serial Port").
// A refresh is not a choice: port_name does not change, and the field keeps
// what it showed.
void TForm1::refreshPortList() {
    const QString shown = ComboBox1->currentText();
    const int current = ComboBox1->currentIndex();
    const bool typed = ComboBox1ItemIndex() < 0;
    const QVariant currentPort = current >= kPortCount ? ComboBox1->itemData(current) : QVariant();
    while (ComboBox1->count() > kPortCount)
        ComboBox1->removeItem(ComboBox1->count() - 1);
    const auto extra = extraPorts ? extraPorts() : std::vector<trellikon::PresentPort>{};
    for (const auto& port : extra) {
        QString text = QString::fromStdString(port.name);
        if (!port.description.empty())
            text += QString::fromUtf8(" – ") + QString::fromStdString(port.description);
        // The chip by name, unless the driver's own description says it.
        if (port.adapter && port.adapter->hasIds()) {
            const std::string chip =
                trellikon::knownChip(port.adapter->vendorId, port.adapter->productId);
            if (!chip.empty() && port.description.find(chip) == std::string::npos)
                text += " (" + QString::fromStdString(chip) + ")";
        }
        if (port.adapter && port.adapter->problemCode != 0)
            text += QString::fromUtf8(" – sterownik nie działa");
        ComboBox1->addItem(text, QString::fromStdString(port.name));
    }
    if (currentPort.isValid()) {
        // The appended item shown before, wherever it is now; gone, the text stays.
        ComboBox1->setCurrentIndex(ComboBox1->findData(currentPort));
        if (typed || ComboBox1->currentIndex() < 0)
            ComboBox1->setEditText(shown);
    }
    refreshPortTooltips();
}

// Tooltips are read as rich text: every line from outside (a path, an
// adapter's strings) is escaped into a paragraph of its own.
QString TForm1::portTooltip(const std::string& name) const {
    // What stands behind a port may be named by the environment or by a driver.
    const auto paragraph = [](const std::string& line) {
        return outside::toolTip(QString::fromStdString(line));
    };
    QString tip = paragraph(name + ": " + trellikon::describePort(name));
    if (const auto adapter = adapterBehind ? adapterBehind(name) : std::nullopt) {
        tip += paragraph(trellikon::describeAdapter(*adapter));
        if (const std::string problem = trellikon::adapterProblem(*adapter); !problem.empty())
            tip += paragraph(problem);
    }
    return tip;
}

void TForm1::refreshPortTooltips() {
    for (int i = 0; i < ComboBox1->count(); ++i) {
        const std::string name = i < kPortCount ? ComboBox1->itemText(i).toStdString()
                                                : ComboBox1->itemData(i).toString().toStdString();
        ComboBox1->setItemData(i, portTooltip(name), Qt::ToolTipRole);
    }
    ComboBox1->setToolTip(portTooltip(session_.portName()));
}

void TForm1::SpeedButton1Click() {
    offerRememberedCable();
    session_.connect();
    // Once the connection window has closed: a write cut short on this
    // program's last connection has its ways on now.
    if (std::exchange(offerDue_, false) && session_.connected())
        offerInterruptedWrite();
}

void TForm1::offerRememberedCable() {
    const std::string chosen = session_.portName();
    if (!allPorts || !portThere || portThere(chosen))
        return;
    const auto found =
        trellikon::rememberedCableElsewhere(chosen, false, cables.remembered(), allPorts());
    if (!found || !found->adapter)
        return;
    const std::string name = trellikon::comNameFor(found->name).value_or(found->name);
    const QString text =
        QString::fromUtf8("Portu %1 nie ma, ale kabel ostatniego udanego połączenia (%2) jest "
                          "teraz podłączony jako %3. Połączyć przez %3?")
            .arg(outside::line(QString::fromStdString(chosen)),
                 outside::line(QString::fromStdString(trellikon::describeAdapter(*found->adapter)),
                               2 * outside::kLineChars),
                 outside::line(QString::fromStdString(name)));
    if (ctx_.messages->question(this, text))
        choosePort(name);
}

// Chooses a port as the user would in the list: one of the eight names, or
// a port appended after them.
void TForm1::choosePort(const std::string& name) {
    if (const auto n = trellikon::comPortNumber(name)) {
        ComboBox1->setCurrentIndex(*n - 1);
    } else {
        refreshPortList();
        const int index = ComboBox1->findData(QString::fromStdString(name));
        if (index >= 0)
            ComboBox1->setCurrentIndex(index);
        else
            ComboBox1->setEditText(QString::fromStdString(name));
    }
    session_.setPortName(name);
    ComboBox1->setToolTip(portTooltip(name));
}

void TForm1::SpeedButton2Click() {
    QApplication::quit();
}

void TForm1::SpeedButton3Click() {
    stack_.showModal(ctx_.form7);
}

void TForm1::SpeedButton4Click() {
    stack_.showModal(ctx_.form10);
}

void TForm1::SpeedButton5Click() {
    session_.read();
}

void TForm1::SpeedButton6Click() {
    stack_.showModal(ctx_.form2);
}

void TForm1::SpeedButton7Click() {
    const QString path = ctx_.files->openFileName(this, QString::fromLatin1(OpenDialog1Filter));
    if (path.isEmpty())
        return;
    loadTemplateFile(path);
}

void TForm1::loadTemplateFile(const QString& path) {
    const auto loaded = trellikon::loadTemplate(fileLayerPath(path));
    if (!loaded.ok()) {
        ctx_.messages->error(this, QString::fromUtf8("Odczyt pliku nie może być przeprowadzony"),
                             path + QStringLiteral(": ") +
                                 QString::fromStdString(loaded.failure.message));
        return;
    }
    takeImage(loaded.bytes,
              QString::fromUtf8("plik „%1”").arg(outside::line(QFileInfo(path).fileName())));
    stack_.showModal(ctx_.form2);
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
// the session's `defer`, once the tick that led to them is over.
void TForm1::sessionEvent(trellikon::SessionEvent what) {
    using trellikon::SessionEvent;
    switch (what) {
    case SessionEvent::Connected:
        readLeftUnassigned_ = false;
        offerDue_ = interrupted_.has_value();
        // The cable that answered is the one to look for when its port goes missing.
        if (adapterBehind) {
            if (const auto adapter = adapterBehind(session_.portName()))
                cables.remember(*adapter); // a failure costs only the proposal next time
        }
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
        if (what == SessionEvent::VerifyComplete)
            stack_.closeWindow(readWindow());
        tellWrite();
        session_.defer([this] { showVerdict(); });
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
    stack_.showModal(ctx_.form8);
}

void TForm1::Timer1Timer() {
    session_.Timer1Timer();
}

void TForm1::Timer2Timer() {
    session_.Timer2Timer();
}

void TForm1::Timer3Timer() {
    if (ctx_.arm_ticks >= 2) {
        ctx_.arm_ticks = 0;
        ctx_.edits_armed = 1;
        Timer3->stop();
    } else {
        ++ctx_.arm_ticks;
    }
}

void TForm1::statusText(const std::string& text) {
    status_ = QString::fromStdString(text);
    Label5->setText(status_);
}

void TForm1::connectDiagnosis(const std::string& text) {
    const QString diagnosis = QString::fromStdString(text);
    Label5->setText(diagnosis.isEmpty() ? status_ : status_ + QStringLiteral("\n") + diagnosis);
    if (ctx_.form6)
        ctx_.form6->setDiagnosis(diagnosis);
}

// The table from the link's windows to ours: which window shows a link
// window's texts and bar (progressWindow), what its showing and closing do
// (showWindow, closeWindow), and what follows its OK (linkWindowOk). The
// session's events are routed in sessionEvent above; no window opens another
// by itself.
ProgressDialog* TForm1::progressWindow(LinkWindow window) const {
    switch (window) {
    case LinkWindow::Connection:
        return ctx_.form6;
    case LinkWindow::ReadProgress:
        return readWindow();
    case LinkWindow::WriteProgress:
        return ctx_.form5;
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
    if (ctx_.form4 && ctx_.form4Again && stack_.running(ctx_.form4) && !stack_.isShown(ctx_.form4))
        return ctx_.form4Again;
    return ctx_.form4;
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
    stack_.showModal(ctx_.form11);
}

void TForm1::linkWindowOk(LinkWindow window) {
    // After a failed read the connection is given up; after a read into a
    // copy there is nothing to edit, and a comparison waiting for it compares.
    if (window != LinkWindow::ReadProgress)
        return;
    if (session_.link().readWindowOk())
        stack_.showModal(ctx_.form2);
    else if (comparison_)
        comparison_->deviceReadEnded(session_.copy());
}

void TForm1::closeWindow(LinkWindow window) {
    if (window == LinkWindow::Connection)
        stack_.closeWindow(ctx_.form6);
}

void TForm1::errorMessage(const std::string& text, const std::string& detail) {
    ctx_.messages->error(this, QString::fromStdString(text), QString::fromStdString(detail));
}
