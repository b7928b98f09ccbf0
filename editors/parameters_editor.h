#pragma once
#include "editor_model.h"
#include "editor_widgets.h"
#include "editors_context.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include <array>
#include <functional>

// Parameters editor: SMS centre, user numbers, masks, outputs, balance
// reporting, ECHO and the daily limit.
//
// It shows the edit session's decoded settings when it is activated and
// stores what it shows back into them when it is deactivated; its controls
// are bound to the session (editor_binding.h), which carries the changes
// other windows make to its fields. Setting a control from
// code runs its handler exactly as a user's change would, so the order of the
// loading steps matters; while the window fills itself (edits_armed = 0) the
// numeric and check-box handlers that would complain stand still.
class TForm2 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm2(EditorsContext& context, QWidget* parent = nullptr);

    QLabel* titleLabel;

    // "Definiowanie Centrum SMS"
    RadioGroup* radiogroup6; // 0 ORANGE, 1 ERA, 2 PLUS, 3 PLAY, 4 INNY
    QLineEdit* Edit7;        // SMS centre number
    // "Definiowanie numerów użytkowników"
    QLineEdit* Edit8;
    QLineEdit* Edit9;
    QLineEdit* Edit10;
    QLineEdit* Edit11;
    // "Definiowanie masek": SMS (users 1..4), RING (users 1..4), inputs 1..8
    QCheckBox* CheckBox1;
    QCheckBox* CheckBox2;
    QCheckBox* CheckBox3;
    QCheckBox* CheckBox4;
    QCheckBox* CheckBox5;
    QCheckBox* CheckBox6;
    QCheckBox* CheckBox7;
    QCheckBox* CheckBox8;
    QCheckBox* CheckBox21;
    QCheckBox* CheckBox22;
    QCheckBox* CheckBox23;
    QCheckBox* CheckBox24;
    QCheckBox* CheckBox25;
    QCheckBox* CheckBox26;
    QCheckBox* CheckBox27;
    QCheckBox* CheckBox28;
    // "Definiowanie sterowanie wyjść"
    RadioGroup* RadioGroup2; // output 1 permanent: 0 AKTYWNE, 1 NIEAKTYWNE
    RadioGroup* RadioGroup3; // output 2 permanent
    RadioGroup* RadioGroup4; // output 1 automatic: 0 TAK, 1 NIE
    RadioGroup* RadioGroup5; // output 2 automatic
    QLineEdit* Edit5;        // output 1 on-time, seconds
    QLineEdit* Edit12;       // output 2 on-time, seconds
    // Balance reporting
    QCheckBox* CheckBox9;  // "Informuj o stanie konta"
    QLineEdit* Edit2;      // balance-query code
    QCheckBox* CheckBox20; // "Informacja ilościowa:"
    QLineEdit* Edit4;      // every N SMS
    QCheckBox* CheckBox10; // "Informacja czasowa"
    QLineEdit* Edit3;      // every N days
    // "Definiowanie pozostałych parametrów"
    QCheckBox* CheckBox17; // ECHO
    QLineEdit* Edit1;      // daily SMS limit
    // Commands
    QToolButton* SpeedButton1; // alarm texts editor
    QToolButton* SpeedButton2; // WSTECZ
    QToolButton* SpeedButton3; // factory settings
    QToolButton* SpeedButton4; // subscriber list
    QToolButton* SheetButton;  // the settings sheet (PDF)

    // Where the program's settings came from, for the settings sheet's heading
    // (the main window keeps it).
    std::function<QString()> settingsOrigin;

    std::array<QCheckBox*, 4> smsMaskBoxes() const;
    std::array<QCheckBox*, 4> ringMaskBoxes() const;
    std::array<QCheckBox*, 8> inputMaskBoxes() const;
    std::array<QLineEdit*, 4> userNumberEdits() const;

    void FormActivate() override;
    void FormDeactivate() override;
    // Shows the decoded settings in the controls.
    void wyswietl_nastawy();
    // What the window shows into the decoded settings (every storing step
    // after the timer's); deactivation and "WSTECZ" both use it.
    void storeValues();

    void RadioGroup2Click();
    void RadioGroup3Click();
    void RadioGroup4Click();
    void RadioGroup5Click();
    void RadioGroup6Click();
    void CheckBox9Click();
    void CheckBox10Click();
    void CheckBox20Click();
    void Edit1Change();
    void Edit2Change();
    void Edit3Change();
    void Edit4Change();
    void Edit5Change();
    void Edit7Change();
    void Edit8Change();
    void Edit9Change();
    void Edit10Change();
    void Edit11Change();
    void Edit12Change();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SheetButtonClick();

  private:
    void buildLayout();
    void connectHandlers();
    void take(trellikon::editor::Field field, QLineEdit* edit, bool plainMessage = false);
    void take(trellikon::editor::Field field, bool on);
    void userNumberChange(int user);
    void permanentClick(int output, RadioGroup* permanent);
    void automaticClick(int output, RadioGroup* automatic);
    void onTimeChange(int output, QLineEdit* seconds);
    void reportOptionClick(trellikon::editor::Field field, QCheckBox* option);
    void error(const char* utf8);

    EditorsContext& ctx;
};
