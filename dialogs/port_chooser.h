#pragma once
// The main window's port row: "Port komputera:" and the list of the computer's
// ports. The list offers COM1..COM8 and, each time it opens, the ports present
// beyond them with what stands behind each; it remembers the cable of the last
// successful connection and proposes it when the chosen port is missing.
// Which port the session uses is the main window's business: it asks the
// chooser and sets it.

#include "cable_memory.h"
#include "port_names.h"

#include <QComboBox>
#include <QLabel>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class MessageBoxes;

class PortChooser : public QWidget {
  public:
    // `currentPort` gives the port the session will open, for the tooltips.
    PortChooser(std::function<std::string()> currentPort, QWidget* parent);

    // The eight names are items 0 to 7; the ports beyond them follow.
    static constexpr int kPortCount = 8;

    QLabel* label;
    QComboBox* combo;

    // The selected item, or -1 while the user has typed a name of their own.
    int itemIndex() const;
    // The port of the selected item; none while a name is typed.
    std::optional<std::string> chosenPort() const;
    // Chooses a port as the user would in the list: one of the eight names,
    // or a port appended after them.
    void choose(const std::string& name);
    // The list asked anew, as when it opens.
    void refresh();
    // Every item's tooltip, and the field's for the port the session will open.
    void refreshTooltips();
    // The field's tooltip: what stands behind `name`.
    void showPort(const std::string& name);

    // When `chosen` is missing and the remembered cable is behind another
    // port, asks whether to use that one; on Yes it is chosen and returned.
    std::optional<std::string> offerRememberedCable(const std::string& chosen,
                                                    MessageBoxes& messages);
    // The cable behind `port` answered: it is the one to look for next time.
    void rememberCable(const std::string& port);
    // The ports present now, and those among them that came since the start.
    std::vector<std::string> portsNow() const;
    std::vector<std::string> appearedPorts() const;

    // The ports the list offers after COM1..COM8, asked each time it opens.
    // The system's by default; tests put a list of their own here.
    std::function<std::vector<trellikon::PresentPort>()> extraPorts;
    // Every port present now, whether a port name is there, and the adapter
    // behind a port: the system's by default, a test's fake machine otherwise.
    std::function<std::vector<trellikon::PresentPort>()> allPorts;
    std::function<bool(const std::string&)> portThere;
    std::function<std::optional<trellikon::UsbAdapter>(const std::string&)> adapterBehind;
    // The cable of the last successful connection (shared with trellikon-cli).
    trellikon::CableMemory cables;
    // The ports present when the program started: a silent attempt names the
    // ports that came since first (most likely the cable plugged in since).
    std::vector<std::string> portsAtStart;

  private:
    // The tooltip of a port: its device, the adapter behind it, its driver's trouble.
    QString portTooltip(const std::string& name) const;

    std::function<std::string()> currentPort_;
};
