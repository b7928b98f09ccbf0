#pragma once
// The company register in the window program: the register window's line
// that says how its synchronisation stands, the dialog that joins this
// computer's register to the company's, the list of conflicts, and the
// synchronisation that runs by itself, away from the window's thread.

#include "company_sync.h"
#include "window_support.h"

#include <QDateTime>
#include <QLineEdit>
#include <QObject>
#include <QPushButton>
#include <QTreeWidget>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class QLabel;

// How the last synchronisation ended, as the window program remembers it.
struct CompanyOutcome {
    enum Kind { None, Running, Done, Unreachable, Refused } kind = None;
    std::string message; // Refused: why
};

// The register window's line: "Rejestr firmy: zsynchronizowano 10:42",
// "Bez połączenia z serwerem: 3 wersje czekają na wysłanie", ...
QString companyStateText(const trellikon::reg::CompanyState& state, const CompanyOutcome& outcome,
                         const QDateTime& now = QDateTime::currentDateTime());

// The company register's address: postgresql://LOGIN@HOST:PORT/DB?sslrootcert=CA.
std::string companyUri(const QString& host, int port, const QString& database, const QString& login,
                       const QString& caFile);

// Joins this register to the company's: server, port, database, login and
// the company's CA certificate; or, when joined, leaves it.
class CompanyConnectDialog : public StackDialog {
    Q_OBJECT
  public:
    CompanyConnectDialog(DialogContext& context, trellikon::reg::Register& store,
                         QWidget* parent = nullptr);

    QLineEdit* HostEdit;
    QLineEdit* PortEdit;
    QLineEdit* DatabaseEdit;
    QLineEdit* LoginEdit;
    QLineEdit* CaEdit;
    QPushButton* CaButton;
    QLabel* NoteLabel;
    QLabel* ErrorLabel;
    QPushButton* ConnectButton;
    QPushButton* DisconnectButton;
    QPushButton* CancelButton;

    // Checks the address with the server, then joins; false (and the reason
    // shown in the dialog, what was typed kept) when it could not.
    bool ConnectButtonClick();
    void DisconnectButtonClick();

    bool changed = false; // joined or left

  private:
    DialogContext& ctx;
    trellikon::reg::Register& store_;
};

// The conflicts the synchronisation kept: both values, who and when; each
// settled by keeping the value that won or bringing back the one that lost.
class ConflictsWindow : public StackDialog {
    Q_OBJECT
  public:
    ConflictsWindow(DialogContext& context, trellikon::reg::Register& store,
                    QWidget* parent = nullptr);

    QTreeWidget* ConflictList;
    QPushButton* KeepButton;
    QPushButton* RestoreButton;
    QPushButton* CloseButton;

    void refresh();
    void resolve(bool keepLost);

  private:
    void updateButtons();
    DialogContext& ctx;
    trellikon::reg::Register& store_;
};

// Synchronises the register at `file` with the company's server on a thread
// of its own, with its own connection to the register: the window and any
// work with the device go on meanwhile. One at a time; a request while one
// runs makes one more run after it.
class CompanySync : public QObject {
    Q_OBJECT
  public:
    explicit CompanySync(QObject* parent = nullptr);
    ~CompanySync() override;

    void request(const std::string& file);
    bool running() const { return running_; }
    const CompanyOutcome& outcome() const { return outcome_; }

    // Called on the window's thread when a run ends (and when one begins).
    std::function<void()> changed;

  private:
    void start();
    void finished(CompanyOutcome outcome);

    std::thread worker_;
    std::string file_;
    bool running_ = false;
    bool again_ = false;
    CompanyOutcome outcome_;
};
