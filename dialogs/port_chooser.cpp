#include "port_chooser.h"

#include "outside_text.h"
#include "window_support.h"

#include <QAbstractItemView>
#include <QHBoxLayout>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace {

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

} // namespace

PortChooser::PortChooser(std::function<std::string()> currentPort, QWidget* parent)
    : QWidget(parent), currentPort_(std::move(currentPort)) {
    // Spaced as the rows of the window it sits in.
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    label = new QLabel(QStringLiteral("Port komputera:"), this);
    label->setObjectName(QStringLiteral("portLabel"));
    auto* list = new PortComboBox(this);
    combo = list;
    nameControl(combo, "ComboBox1", label->text());
    label->setBuddy(combo);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    for (int i = 1; i <= kPortCount; ++i)
        combo->addItem(QStringLiteral("COM%1").arg(i));
    combo->setMinimumWidth(120);
    // Ports appended later ("COM12 – USB Serial Port") widen the field and its list.
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    list->beforePopup = [this] { refresh(); };
    extraPorts = [] { return trellikon::portsBeyondTheEight(); };
    allPorts = [] { return trellikon::presentPorts(); };
    portThere = [](const std::string& name) { return trellikon::portPresent(name); };
    adapterBehind = [](const std::string& name) { return trellikon::adapterOf(name); };
    for (const auto& p : trellikon::presentPorts())
        portsAtStart.push_back(p.name);
    row->addWidget(label);
    row->addWidget(combo);
    row->addStretch();
}

int PortChooser::itemIndex() const {
    const int index = combo->currentIndex();
    return index >= 0 && combo->currentText() == combo->itemText(index) ? index : -1;
}

std::optional<std::string> PortChooser::chosenPort() const {
    const int index = itemIndex();
    if (index >= 0 && index < kPortCount)
        return "COM" + std::to_string(index + 1);
    if (index >= kPortCount)
        return combo->itemData(index).toString().toStdString();
    return std::nullopt;
}

// The eight names stay items 0 to 7; the ports beyond them are asked for anew
// and follow, each with what stands behind it ("COM12 – USB Serial Port").
// A refresh is not a choice: port_name does not change, and the field keeps
// what it showed.
void PortChooser::refresh() {
    const QString shown = combo->currentText();
    const int current = combo->currentIndex();
    const bool typed = itemIndex() < 0;
    const QVariant currentPort = current >= kPortCount ? combo->itemData(current) : QVariant();
    while (combo->count() > kPortCount)
        combo->removeItem(combo->count() - 1);
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
        combo->addItem(text, QString::fromStdString(port.name));
    }
    if (currentPort.isValid()) {
        // The appended item shown before, wherever it is now; gone, the text stays.
        combo->setCurrentIndex(combo->findData(currentPort));
        if (typed || combo->currentIndex() < 0)
            combo->setEditText(shown);
    }
    refreshTooltips();
}

// Tooltips are read as rich text: every line from outside (a path, an
// adapter's strings) is escaped into a paragraph of its own.
QString PortChooser::portTooltip(const std::string& name) const {
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

void PortChooser::refreshTooltips() {
    for (int i = 0; i < combo->count(); ++i) {
        const std::string name = i < kPortCount ? combo->itemText(i).toStdString()
                                                : combo->itemData(i).toString().toStdString();
        combo->setItemData(i, portTooltip(name), Qt::ToolTipRole);
    }
    showPort(currentPort_());
}

void PortChooser::showPort(const std::string& name) {
    combo->setToolTip(portTooltip(name));
}

void PortChooser::choose(const std::string& name) {
    if (const auto n = trellikon::comPortNumber(name)) {
        combo->setCurrentIndex(*n - 1);
    } else {
        refresh();
        const int index = combo->findData(QString::fromStdString(name));
        if (index >= 0)
            combo->setCurrentIndex(index);
        else
            combo->setEditText(QString::fromStdString(name));
    }
}

std::optional<std::string> PortChooser::offerRememberedCable(const std::string& chosen,
                                                             MessageBoxes& messages) {
    if (!allPorts || !portThere || portThere(chosen))
        return std::nullopt;
    const auto found =
        trellikon::rememberedCableElsewhere(chosen, false, cables.remembered(), allPorts());
    if (!found || !found->adapter)
        return std::nullopt;
    const std::string name = trellikon::comNameFor(found->name).value_or(found->name);
    const QString text =
        QString::fromUtf8("Portu %1 nie ma, ale kabel ostatniego udanego połączenia (%2) jest "
                          "teraz podłączony jako %3. Połączyć przez %3?")
            .arg(outside::line(QString::fromStdString(chosen)),
                 outside::line(QString::fromStdString(trellikon::describeAdapter(*found->adapter)),
                               2 * outside::kLineChars),
                 outside::line(QString::fromStdString(name)));
    if (!messages.question(window(), text))
        return std::nullopt;
    choose(name);
    return name;
}

void PortChooser::rememberCable(const std::string& port) {
    if (!adapterBehind)
        return;
    if (const auto adapter = adapterBehind(port))
        cables.remember(*adapter); // a failure costs only the proposal next time
}

std::vector<std::string> PortChooser::portsNow() const {
    std::vector<std::string> now;
    for (const auto& p : allPorts())
        now.push_back(trellikon::portLabel(p.name));
    return now;
}

std::vector<std::string> PortChooser::appearedPorts() const {
    std::vector<std::string> appeared;
    for (const auto& p : allPorts()) {
        if (std::find(portsAtStart.begin(), portsAtStart.end(), p.name) == portsAtStart.end())
            appeared.push_back(trellikon::portLabel(p.name));
    }
    return appeared;
}
