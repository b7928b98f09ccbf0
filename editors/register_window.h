#pragma once
// The installations register's windows: the register itself (installations,
// their versions, and what can be done with a version), an installation's
// name and notes, and the question after a read of whose device it was.
// Everything they show from the register is the user's own text, or came in
// an imported file: shown as plain text, never as markup.

#include "company_windows.h"
#include "register.h"
#include "window_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

class QComboBox;
class ComparisonWindow;

// Register window: installations with their last visit, searched as one
// types; the chosen installation's versions, newest first.
class RegisterWindow : public StackDialog {
    Q_OBJECT
  public:
    explicit RegisterWindow(DialogContext& context, QWidget* parent = nullptr);

    QLabel* titleLabel;
    QLineEdit* SearchEdit;
    QTreeWidget* InstallationList; // matched numbers as rows under their installation
    QPushButton* NewButton;
    QPushButton* EditButton;
    QPushButton* DeleteButton;
    QLabel* VersionsLabel;
    QTreeWidget* VersionList;
    QPushButton* OpenButton;
    QPushButton* CompareButton;         // the chosen version against the program
    QPushButton* CompareVersionsButton; // the two chosen versions against each other
    QPushButton* CompareDeviceButton;   // the chosen version against the device, read into a copy
    QPushButton* AssignButton;          // an unassigned read given its installation
    QPushButton* SheetButton;
    QPushButton* SaveButton;
    QPushButton* WriteButton;
    QPushButton* ExportButton;
    QPushButton* ExportAllButton;
    QPushButton* ImportButton;
    QPushButton* CloseButton;
    // The company register: how its synchronisation stands, and its commands.
    QLabel* CompanyLabel;
    QPushButton* CompanyButton;   // join (or leave) the company's register
    QPushButton* SyncButton;      // synchronise now
    QPushButton* ConflictsButton; // what two laptops changed alike

    // What a version is given to: the editors (as a template load), the
    // comparison window, the device (with a backup first). The text says
    // where the settings came from.
    using Take = std::function<void(const trellikon::reg::Bytes&, const QString& origin)>;
    Take open;
    Take compare;
    std::function<void(const trellikon::reg::Version&, const QString& origin)> write;
    // Where two versions, or a version and the device, are compared.
    ComparisonWindow* comparison = nullptr;
    // Starts a synchronisation with the company's register in the
    // background; how the last one ended.
    std::function<void()> synchronise;
    std::function<CompanyOutcome()> companyOutcome;

    // The register the window shows; set before it is shown.
    void setStore(trellikon::reg::Register* store) { store_ = store; }

    void refresh();
    // Typing restarts a short wait; the search runs once the typing pauses.
    void SearchEditChange();
    bool searchPending() const;
    void NewButtonClick();
    void EditButtonClick();
    void DeleteButtonClick();
    void OpenButtonClick();
    void CompareButtonClick();
    void CompareVersionsButtonClick();
    void CompareDeviceButtonClick();
    void AssignButtonClick();
    void SheetButtonClick();
    void SaveButtonClick();
    void WriteButtonClick();
    void ExportButtonClick(bool all);
    void ImportButtonClick();
    void CompanyButtonClick();
    void ConflictsButtonClick();
    // The company line and buttons as the register and the last sync stand.
    void showCompany();

    // The installation chosen in the list (0 for none, -1 for the unassigned versions).
    trellikon::reg::Id chosenInstallation() const;

    void FormActivate() override;

  private:
    void showVersions();
    void updateButtons();
    // The versions chosen in the list, as the list shows them (newest first).
    QList<QTreeWidgetItem*> chosenVersionItems() const;
    std::optional<trellikon::reg::Version> versionOf(const QTreeWidgetItem* item);
    // The one chosen version; nothing when none or several are chosen.
    std::optional<trellikon::reg::Version> chosenVersion();
    QString versionOrigin(const trellikon::reg::VersionInfo& v) const;
    bool failed(const std::string& error);

    DialogContext& ctx;
    trellikon::reg::Register* store_ = nullptr;
    QTimer* searchTimer_;
};

// An installation's name, notes and the device's own phone number.
class InstallationDialog : public StackDialog {
    Q_OBJECT
  public:
    InstallationDialog(DialogContext& context, const QString& title, QWidget* parent = nullptr);

    QLineEdit* NameEdit;
    QPlainTextEdit* NotesEdit;
    QLineEdit* PhoneEdit;
    QPushButton* OkButton;
    QPushButton* CancelButton;

    bool accepted = false;

  private:
    DialogContext& ctx;
};

// Asks after a read whose device it was: the proposed installation, another
// one, a new one, or later (the read stays unassigned).
class AssignDialog : public StackDialog {
    Q_OBJECT
  public:
    AssignDialog(DialogContext& context, trellikon::reg::Register& store,
                 const trellikon::reg::Proposal& proposal, QWidget* parent = nullptr);

    QLabel* QuestionLabel;
    QComboBox* InstallationBox;
    QPushButton* AssignButton;
    QPushButton* NewButton;
    QPushButton* LaterButton;

    // The installation the installer chose; 0 when they said later.
    trellikon::reg::Id chosen = 0;

    void NewButtonClick();

  private:
    DialogContext& ctx;
    trellikon::reg::Register& store_;
};

// Runs the installation dialog and creates or updates the installation; the
// id, or 0 when the installer cancelled or it failed (they were told why).
trellikon::reg::Id editInstallation(DialogContext& ctx, trellikon::reg::Register& store,
                                    QWidget* parent, const trellikon::reg::Installation* existing);
