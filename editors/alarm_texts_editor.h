#pragma once
#include "editor_widgets.h"
#include "editors_context.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <array>
#include <cstdint>

namespace trellikon {
struct EncodeResult;
}

// Alarm texts editor: the message texts and the test message; from here the
// settings of every editor are checked, encoded and written to the device or
// saved as a template.
//
// Each text box keeps the last text that passed its check. A refused change
// puts that text back, which is itself a change and is checked once more.
class TForm3 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm3(EditorsContext& context, QWidget* parent = nullptr);
    QLabel* titleLabel;

    // The fifteen text boxes, in slot order: the header, the power and input
    // events ("0+" .. "8+"), the test message.
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QLineEdit* Edit4;
    QLineEdit* Edit5;
    QLineEdit* Edit6;
    QLineEdit* Edit7;
    QLineEdit* Edit8;
    QLineEdit* Edit9;
    QLineEdit* Edit10;
    QLineEdit* Edit12;
    QLineEdit* Edit13;
    QLineEdit* Edit14;
    QLineEdit* Edit15;
    QLineEdit* Edit16;
    // "Czyść" beside each box: Button14 for the header, Button1..Button13 for
    // the events, Button15 for the test message.
    std::array<QPushButton*, 16> Button{}; // Button[1]..Button[15]; [0] unused

    QCheckBox* CheckBox1; // send the test message
    QLineEdit* Edit11;    // user index of the test message, 1..4
    QLabel* Label1;       // the header's caption
    QLabel* Label20;      // the length note

    QToolButton* SpeedButton1; // factory texts
    QToolButton* SpeedButton2; // back
    QToolButton* SpeedButton3; // save a template
    QToolButton* SpeedButton4; // write to the device
    QToolButton* SpeedButton5; // exit

    static const char* const SaveDialog1Filter;

    // Set by the encoders when they refuse an entry.
    std::uint8_t encode_failed = 0;
    // The last text of each box that passed its check, in slot order.
    std::array<QString, 15> accepted_text;

    std::array<QLineEdit*, 15> textEdits() const;

    void FormActivate() override;
    void FormDeactivate() override;
    void keepTypedValues() override;
    void textChange(int slot); // Edit1Change .. Edit16Change, but Edit11Change
    void clearClick(int slot); // the "Czyść" buttons
    void CheckBox1Click();
    void Edit11Change();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();

    // Both editors' values, checked and written into the image; false when an
    // entry was refused. A refusal that sends the user back to the parameters
    // editor closes this window when the running command ends.
    void Encode_Settings();
    void Encode_Texts();
    // The fifteen boxes' texts as the device keeps them.
    std::array<std::string, 15> typedTexts() const;
    void Save_Template();

  private:
    void buildLayout();
    void report(const trellikon::EncodeResult& result);
    void finishCommand();
    void storeTexts();
    void error(const char* utf8);

    EditorsContext& ctx;
    bool close_when_done_ = false;
};
