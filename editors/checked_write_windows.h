#pragma once
// The windows around a write from the program: which parts of the settings
// go to the device, what was changed on the device since the installation's
// latest version, the settings the check after a write found different, and
// the ways on after a write cut short.
// Values come from the device and the register: shown as plain text only.
#include "checked_write.h"
#include "window_support.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

// The parts of the settings a write sends; all of them unless unticked.
class WritePartsDialog : public StackDialog {
    Q_OBJECT
  public:
    explicit WritePartsDialog(DialogContext& context, QWidget* parent = nullptr);

    QCheckBox* ParametersBox;
    QCheckBox* TextsBox;
    QCheckBox* CallersBox;
    QPushButton* WriteButton;
    QPushButton* CancelButton;

    // The parts ticked when the installer chose to write; 0 when cancelled.
    trellikon::checked::Parts chosen = 0;

  private:
    DialogContext& ctx;
};

// A list of differing settings with the installer's choice what to do.
// Before a restore it asks whether to put the version back, Cancel being
// the default and Escape cancelling too.
class DifferencesDialog : public StackDialog {
    Q_OBJECT
  public:
    enum class Mode {
        ChangedOnSite, // before a write: write anyway, take the device's values, cancel
        WriteMismatch, // after a write: write again, close
        Restore,       // before a version goes back: restore, cancel
    };
    enum class Answer { Cancel, Write, TakeDevice };

    DifferencesDialog(DialogContext& context, Mode mode, const QString& heading,
                      const trellikon::comparison::Comparison& differences,
                      const QString& hereHeading, QWidget* parent = nullptr);

    QLabel* HeadingLabel;
    QTreeWidget* DifferenceList;
    QPushButton* WriteButton;
    QPushButton* TakeButton; // ChangedOnSite only
    QPushButton* CancelButton;

    Answer answer = Answer::Cancel;

    // A last column beside the rows: the value each setting has after the write.
    void addWrittenColumn(const std::vector<std::string>& values);

  private:
    void fitColumns();
    DialogContext& ctx;
};

// A write the register cannot back up: what can be done from here instead of
// giving up. Every way keeps a copy of what the device holds before a frame
// is sent, and every way keeps the register's old file.
class RegisterTroubleDialog : public StackDialog {
    Q_OBJECT
  public:
    enum class Answer { Cancel, RestoreCopy, NewRegister, WithoutRegister };

    // `copyDay` is the newest daily copy's day ("DD.MM.RRRR"); empty when
    // there is none, and then no restore is offered. Without `writing` (the
    // register window asked for) there is no write to go on with.
    RegisterTroubleDialog(DialogContext& context, const QString& heading, const QString& copyDay,
                          bool writing, QWidget* parent = nullptr);

    QLabel* HeadingLabel;
    QPushButton* RestoreButton; // none without a copy
    QPushButton* NewButton;
    QPushButton* WithoutButton;
    QPushButton* CancelButton;

    Answer answer = Answer::Cancel;

  private:
    DialogContext& ctx;
};

// A write cut short, the cable back: the device holds part of the new
// settings. The same bytes again, or the copy from before the write back;
// later leaves the device as it is and asks again at the next connection.
class InterruptedWriteDialog : public StackDialog {
    Q_OBJECT
  public:
    enum class Answer { Later, WriteAgain, RestoreCopy };

    // Without `withCopy` (no copy from before the write) no restore is offered.
    InterruptedWriteDialog(DialogContext& context, const QString& heading, bool withCopy,
                           QWidget* parent = nullptr);

    QLabel* HeadingLabel;
    QPushButton* WriteButton;
    QPushButton* RestoreButton; // none without a copy
    QPushButton* LaterButton;

    Answer answer = Answer::Later;

  private:
    DialogContext& ctx;
};
