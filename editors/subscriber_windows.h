#pragma once
// The CLIP subscriber list: the callers whose ring may switch the device's
// outputs, and for each output whether they may.
//
// The list itself is the main window's subscriber table; these windows only
// show and change it. The table goes into the settings image whenever the
// list window is left, and opening one of its dialogs leaves it as well, so
// the image always holds what the list showed last. A removed caller's slot
// is freed by that write, so the caller is gone from the next device
// programmed.
#include "editor_widgets.h"
#include "editors_context.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

#include <string>

class SubscriberImportWindow;

// Subscriber list: the CLIP callers who may switch the outputs.
class TForm12 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm12(EditorsContext& context, QWidget* parent = nullptr);

    QLabel* titleLabel;
    // The header row is the table's horizontal header, which stays in view
    // while the 168 data rows scroll; data row r (1..168) is table row r - 1.
    QTableWidget* StringGrid1;
    QLabel* Label4;
    RadioGroup* RadioGroup1;   // CLIP may switch output 1: 0 TAK, 1 NIE
    RadioGroup* RadioGroup2;   // CLIP may switch output 2
    QToolButton* SpeedButton1; // add
    QToolButton* SpeedButton2; // remove
    QToolButton* SpeedButton3; // back
    QToolButton* importButton; // the list from a CSV file, through a preview
    QToolButton* exportButton; // the list into a CSV file
    SubscriberImportWindow* importWindow;
    static const char* const CsvOpenFilter;
    static const char* const CsvSaveFilter;

    // Empties the position and number columns of every data row.
    void Clear_Grid();
    // Header, font and the occupied positions in ascending order.
    void Show_Subscribers();

    void FormActivate() override;
    void FormDeactivate() override;
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void RadioGroup1Click();
    void RadioGroup2Click();
    void importClick();
    void exportClick();

  private:
    void buildLayout();
    // The table and both permissions into the settings.
    void storeList();
    void permissionClick(RadioGroup* clip, int output);

    EditorsContext& ctx;
    // Set while activation shows the stored permissions.
    bool showing_permissions_ = false;
};

// Add-subscriber dialog.
class TForm13 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm13(EditorsContext& context, QWidget* parent = nullptr);

    QLabel* numberLabel; // "Numer telefonu:"
    QLineEdit* Edit1;
    QPushButton* Button1; // "Dodaj"
    QLabel* Label2;       // what the last attempt did

    void Button1Click();
    // Runs on the user's own changes only: the button's emptying of the entry
    // leaves its message in place.
    void Edit1Change();

  private:
    EditorsContext& ctx;
};

// Remove-subscriber dialog.
class TForm14 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm14(EditorsContext& context, QWidget* parent = nullptr);

    QLabel* numberLabel; // "Numer telefonu"
    QLineEdit* Edit1;
    QPushButton* Button1; // "Usuń"
    QLabel* Label1;       // what the last attempt did

    void Button1Click();
    // The user's own changes only, as in the add dialog.
    void Edit1Change();

  private:
    EditorsContext& ctx;
};
