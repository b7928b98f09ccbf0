#pragma once
// The main window: it owns the settings image with its decoded settings, the
// serial port and the device exchange, and renders what the exchange reports.

#include "cable_memory.h"
#include "device_link.h"
#include "device_settings.h"
#include "port_names.h"
#include "register_journal.h"
#include "window_support.h"

#include <QComboBox>
#include <QLabel>
#include <QString>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class ProgressDialog;
class ComparisonWindow;
class RegisterWindow;

// Main window.
class TForm1 : public QWidget, public StackWindow, public trellikon::LinkObserver {
    Q_OBJECT
  public:
    TForm1(trellikon::SerialPort& port, MessageBoxes& messages, FileDialogs& files,
           QWidget* parent = nullptr);

    // Creates every other window, in the established order, owned by this one.
    void createWindows();

    // Controls.
    QLabel* Label5;       // status line
    QComboBox* ComboBox1; // port choice
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton4;
    QToolButton* SpeedButton5;
    QToolButton* SpeedButton6;
    QToolButton* SpeedButton7;
    QToolButton* SpeedButton8;
    QLabel* Label1;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;
    QLabel* Label11;
    // Beside the commands above: the comparison window.
    QToolButton* CompareButton;
    QLabel* CompareLabel;
    // The installations register.
    QToolButton* RegisterButton;
    QLabel* RegisterLabel;
    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* Timer3;
    static const char* const OpenDialog1Filter;

    // Handlers.
    void FormCreate();
    void ComboBox1Change();
    void SpeedButton1Click(); // connect
    void SpeedButton2Click(); // exit
    void SpeedButton3Click(); // cable diagram
    void SpeedButton4Click(); // information
    void SpeedButton5Click(); // read the device's settings
    void SpeedButton6Click(); // parameters editor
    void SpeedButton7Click(); // load a template
    void SpeedButton8Click(); // mounting diagram
    void CompareButtonClick();
    void RegisterButtonClick();
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();

    // Loads a template as the load command does once its dialog has given the
    // name: the same messages, the same decoding, then the parameters editor.
    void loadTemplateFile(const QString& path);
    // The program's arguments: a template named as the first (a double click
    // on a file, "Open with", a file dropped on the program) is loaded that
    // way once the message loop runs; without one, nothing happens.
    void openStartupFile(const QStringList& arguments);

    // The combo's selected item, or -1 while the user has typed a name of their own.
    int ComboBox1ItemIndex() const;

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

    trellikon::DeviceSettings& settings() { return settings_; }
    trellikon::DeviceLink& link() { return link_; }
    WindowContext& context() { return ctx_; }
    ModalStack& stack() { return stack_; }
    ComparisonWindow* comparisonWindow() { return comparison_; }
    RegisterWindow* registerWindow() { return register_; }
    // Every complete read and write, and the backup before a write, are kept
    // in the installations register, opened when first needed. An empty
    // opener keeps nothing and writes without a backup (the tests of windows
    // that do not look at the register).
    void useRegister(trellikon::reg::Journal::Opener opener);
    trellikon::reg::Journal& journal() { return journal_; }
    // Where the program's settings came from: the file loaded, or the port and
    // the time of the last read; empty before either.
    const QString& settingsOrigin() const { return origin_; }

    QWidget* widget() override { return this; }

    // What the device exchange reports.
    void statusText(const std::string& text) override;
    void labelText(trellikon::LinkWindow window, int label, const std::string& text) override;
    void barPosition(trellikon::LinkWindow window, int position) override;
    void showWindow(trellikon::LinkWindow window) override;
    void closeWindow(trellikon::LinkWindow window) override;
    void errorMessage(const std::string& text, const std::string& detail) override;
    void connectDiagnosis(const std::string& text) override;
    void outcome(trellikon::LinkOutcome what) override;

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // The window that shows a link window's texts and bar; none for the notice.
    ProgressDialog* progressWindow(trellikon::LinkWindow window) const;
    QToolButton* addCommand(const char* name, int picture, const QString& label);
    void refreshPortList();
    void refreshPortTooltips();
    // The tooltip of a port: its device, the adapter behind it, its driver's trouble.
    QString portTooltip(const std::string& name) const;
    // When the chosen port is missing and the remembered cable is behind
    // another, asks whether to use that one (and chooses it on Yes).
    void offerRememberedCable();
    void choosePort(const std::string& name);
    // A template's image into the program, decoded as a load decodes it.
    void takeImage(const trellikon::SettingsImage::Bytes& bytes, const QString& origin);
    // The register at the default place or TRELLIKON_REGISTER.
    static std::unique_ptr<trellikon::reg::RegisterStore> openRegisterFile(std::string& error);
    // The register, opened now if it was not; its notice shown once.
    trellikon::reg::RegisterStore* openedRegister(QWidget* parent);
    // What the register does around the exchange with the device.
    void recordRead();
    void askInstallation(trellikon::reg::Id version, const trellikon::SettingsImage::Bytes& bytes);
    bool backUpBeforeWrite(QWidget* parent);
    void recordWrite();
    // After the write window closed: the device read back into a copy and
    // compared with what was sent; the verdict recorded and shown.
    void checkWrite(QWidget* parent);
    // Before a write, the installation's latest version against the device:
    // false when the installer cancelled or took the device's values.
    bool acceptChangesOnSite(QWidget* parent, const trellikon::SettingsImage::Bytes& present);
    // Restores a version from the register: into the program, then to the device.
    void writeVersion(const trellikon::reg::Version& version, const QString& origin);
    // A message box once the running tick has ended.
    void tellLater(const QString& text, const QString& detail = {});

    trellikon::DeviceSettings settings_;
    trellikon::DeviceLink link_;
    ModalStack stack_;
    WindowContext ctx_;
    ComparisonWindow* comparison_ = nullptr;
    RegisterWindow* register_ = nullptr;
    QString origin_;
    QString status_; // the status line's last text, before any diagnosis
    trellikon::reg::Journal journal_;
    bool backingUp_ = false;
    // The checked write (main_window_register.cpp): what the device holds
    // when it was read in this connection, the program's own image while a
    // part alone is being written over the device's, the version a restore
    // writes whole, and what the last write sent once it was acknowledged.
    std::optional<trellikon::SettingsImage::Bytes> devicePresent_;
    std::optional<trellikon::SettingsImage::Bytes> programImage_;
    const trellikon::SettingsImage::Bytes* restoring_ = nullptr;
    std::optional<trellikon::SettingsImage::Bytes> sent_;
};
