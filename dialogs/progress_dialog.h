#pragma once
// The small windows that report the exchange with the device. The exchange
// puts texts into their labels and moves their bars; they only display.

#include "window_support.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

// Label(s) above a full-width bar, OK centred below.
class ProgressDialog : public StackDialog {
    Q_OBJECT
  public:
    ProgressDialog(DialogContext& context, int barMaximum, bool secondLabel, QWidget* parent);

    QLabel* Label1;
    QLabel* Label2 = nullptr;
    QProgressBar* ProgressBar1;
    QPushButton* Button1;

    virtual void Button1Click() = 0;

  protected:
    DialogContext& ctx;
};

// Read progress window.
class TForm4 : public ProgressDialog {
    Q_OBJECT
  public:
    explicit TForm4(DialogContext& context, QWidget* parent = nullptr);
    // Closes the window; the main window says what follows (after a
    // complete read, the parameters editor).
    void Button1Click() override;

    // The read that checks a write: the window says so in its title and first
    // line, with the block it has reached, so that no one unplugs the cable
    // before the verdict. Off for every other read.
    QLabel* CheckLabel;
    void showCheck(bool on);
    void setCheckBlock(int block);
};

// Write progress window.
class TForm5 : public ProgressDialog {
    Q_OBJECT
  public:
    explicit TForm5(DialogContext& context, QWidget* parent = nullptr);
    void Button1Click() override;
};

// Connection window: waits for the device to announce itself.
class TForm6 : public ProgressDialog {
    Q_OBJECT
  public:
    explicit TForm6(DialogContext& context, QWidget* parent = nullptr);
    // Closes the window; the connection attempt goes on.
    void Button1Click() override;

    // Below the two texts: why an attempt got no handshake (plain text);
    // hidden while there is nothing to say.
    QLabel* DiagnosisLabel;
    void setDiagnosis(const QString& text);
};

// Connection-lost notice. It has no title-bar button: OK is the way out.
class TForm11 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm11(DialogContext& context, QWidget* parent = nullptr);

    QLabel* Label1;
    QPushButton* Button1;

    // Closes the notice and the windows of the lost session, and disconnects.
    void Button1Click();

  protected:
    void reject() override {} // Escape must not dismiss it
    void closeEvent(QCloseEvent* event) override;

  private:
    DialogContext& ctx;
};
