#pragma once
// The main window: it owns the session with the device (the settings image,
// its decoded settings and the link), renders what the link shows and acts on
// the session's events.

#include "checked_write.h"
#include "device_link.h"
#include "device_settings.h"
#include "edit_session.h"
#include "editors_context.h"
#include "port_chooser.h"
#include "register_journal.h"
#include "register_recovery.h"
#include "session.h"
#include "window_support.h"
#include "write_decision.h"

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
class TForm4;
class TForm5;
class TForm6;
class TForm7;
class TForm8;
class TForm10;
class TForm11;
class ComparisonWindow;
class CompanySync;
class RegisterWindow;

// The main window's own windows of dialogs/, created with the editors in this
// order: read, write and connection progress, cable and mounting diagrams,
// information, connection lost.
struct DialogWindows {
    TForm4* form4 = nullptr;
    // The second read window: the reads of a write (its backup and its check)
    // shown while the first is still in its modal loop below the editors.
    TForm4* form4Again = nullptr;
    TForm5* form5 = nullptr;
    TForm6* form6 = nullptr;
    TForm7* form7 = nullptr;
    TForm8* form8 = nullptr;
    TForm10* form10 = nullptr;
    TForm11* form11 = nullptr;
};

// Main window.
class TForm1 : public QWidget, public StackWindow, public trellikon::SessionObserver {
    Q_OBJECT
  public:
    TForm1(trellikon::SerialPort& port, MessageBoxes& messages, FileDialogs& files,
           QWidget* parent = nullptr);

    // Creates every other window, in the established order, owned by this one.
    void createWindows();

    // Controls.
    QLabel* Label5;       // status line
    QComboBox* ComboBox1; // port choice (the port chooser's list)
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

    // The port row: the computer's ports and the remembered cable.
    PortChooser& ports() { return *ports_; }
    trellikon::Session& session() { return session_; }
    trellikon::DeviceSettings& settings() { return session_.settings(); }
    // What the windows reach here: every window the stack and the seams, the
    // editors the settings and each other besides.
    DialogContext& dialogContext() { return dialogs_; }
    EditorsContext& editorsContext() { return editors_; }
    const DialogWindows& dialogWindows() const { return windows_; }
    ModalStack& stack() { return stack_; }
    ComparisonWindow* comparisonWindow() { return comparison_; }
    RegisterWindow* registerWindow() { return register_; }
    // The register at the default place or TRELLIKON_REGISTER, as the program
    // starts with it.
    void setUpRegister();
    // Every complete read and write, and the backup before a write, are kept
    // in the installations register, opened when first needed. An empty
    // opener keeps nothing and writes without a backup (the tests of windows
    // that do not look at the register).
    // `file` is where the opener finds it (the default place when empty): a
    // damaged one is put aside there, and a daily copy taken from beside it.
    void useRegister(trellikon::reg::Journal::Opener opener, std::string file = {});
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
    // A link window's OK, after it closed the window.
    void linkWindowOk(trellikon::LinkWindow window);
    void sessionEvent(const trellikon::SessionEvent& what) override;

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // The window that shows a link window's texts and bar; none for the notice.
    ProgressDialog* progressWindow(trellikon::LinkWindow window) const;
    // Whether the read under way checks a write.
    bool checkRead() const;
    // The window that shows a read: the read window, or the second one while
    // the first cannot be shown (see main_window.cpp).
    TForm4* readWindow() const;
    QToolButton* addCommand(const char* name, int picture, const QString& label);
    static QLabel* commandLabel(QWidget* parent, const char* name, const QString& text);
    // A template's image into the program, decoded as a load decodes it.
    void takeImage(const trellikon::SettingsImage::Bytes& bytes, const QString& origin);
    // The register's part of the window (main_window_register.cpp): the
    // register's command beside the others, its window made with the others.
    void addRegisterCommand();
    void createRegisterWindow();
    // The register at the default place or TRELLIKON_REGISTER.
    static trellikon::reg::Result<std::unique_ptr<trellikon::reg::Register>> openRegisterFile();
    // The register, opened now if it was not; its notice shown once.
    trellikon::reg::Register* openedRegister(QWidget* parent);
    // What the register did around the exchange with the device, told.
    void tellRead();
    void askInstallation(trellikon::reg::Id version, const trellikon::SettingsImage::Bytes& bytes);
    // After a write, with `recorded`, what the register made of it.
    void tellWrite(bool recorded = true);
    // A synchronisation with the company's register in the background, when
    // the register is joined to one: after every read and write, every few
    // minutes, and when asked.
    void syncCompany();
    // The program's image to the device through the session's steps.
    void writeSettings(QWidget* parent);
    // The write's decision for the parts chosen, before the backup's read.
    void beginDecision(trellikon::checked::Parts parts);
    // The decision before the first write frame: the backup is read by now.
    void decideWrite();
    void tellNoBackup();
    // A write the register cannot back up: restore its daily copy, start a
    // new one, or write with the device's content saved to a file first.
    void offerRecovery(QWidget* parent, const QString& why, bool writing = true);
    // The write with a file for its backup is over: the register's turn again.
    void endFileBackup();
    void runDeferred();
    // The decision's questions, asked: a restore's whole change, and the
    // settings changed on the device since the installation's latest version.
    trellikon::checked::WriteDecision::Answer
    confirmRestore(QWidget* parent, const trellikon::checked::WriteDecision::Question& q);
    trellikon::checked::WriteDecision::Answer
    askChangedOnSite(QWidget* parent, const trellikon::checked::WriteDecision::Question& q);
    // After the read-back: the verdict judged and recorded, then shown, and a
    // second write offered.
    void judgeWrite();
    void showVerdict();
    // A write cut short, kept for when the cable is back; then its ways on:
    // the same bytes again, or the copy from before it restored.
    void keepInterruptedWrite();
    void offerInterruptedWrite();
    // Whether a write may begin; the connection message when it may not.
    bool writeAllowed(QWidget* parent);
    // Restores a version from the register: into the program, then to the device.
    void writeVersion(const trellikon::reg::Version& version, const QString& origin);
    // A message box once the running tick has ended.
    void tellLater(const QString& text, const QString& detail = {});

    trellikon::Session session_;
    PortChooser* ports_ = nullptr;
    // What the editors show and change, over the session's settings.
    trellikon::EditSession edits_{session_.settings()};
    ModalStack stack_;
    DialogContext dialogs_;
    EditorsContext editors_{dialogs_};
    DialogWindows windows_;
    ComparisonWindow* comparison_ = nullptr;
    RegisterWindow* register_ = nullptr;
    CompanySync* companySync_ = nullptr;
    QString origin_;
    QString status_; // the status line's last text, before any diagnosis
    // Made by setUpRegister(), or useRegister() in its stead.
    trellikon::reg::Journal journal_{{}, {}};
    trellikon::reg::Journal::Opener opener_;
    std::string registerFile_;
    std::unique_ptr<trellikon::reg::FileBackup> fileBackup_;
    // The window a write's messages belong to, and a version from the
    // register that becomes the program's settings once the backup is stored.
    QWidget* writeParent_ = nullptr;
    struct Restore {
        trellikon::SettingsImage::Bytes bytes;
        QString origin;
        trellikon::reg::VersionInfo info; // the version put back
    };
    std::optional<Restore> restore_;
    // The write under way (main_window_register.cpp): its decision, and the
    // read-back's verdict until it is shown.
    std::optional<trellikon::checked::WriteDecision> decision_;
    std::optional<trellikon::checked::Verification> verdict_;
    // The installer read the device in this connection and said "later" to
    // whose it is.
    bool readLeftUnassigned_ = false;
    // The last write cut short, until a write of this program reaches its
    // last block: what was sent (the parts chosen, over what the device
    // held), how far it got, the copy from before it and whose device it was.
    struct Interrupted {
        trellikon::SettingsImage::Bytes sent;
        trellikon::checked::Parts parts = trellikon::checked::kAllParts;
        int blocks = 0;
        trellikon::reg::Id backupVersion = 0;
        trellikon::reg::Id installation = 0;
    };
    std::optional<Interrupted> interrupted_;
    bool offerDue_ = false;              // a connection came since it was cut short
    std::optional<Interrupted> rewrite_; // the write under way sends it again
};
