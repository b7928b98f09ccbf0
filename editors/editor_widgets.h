#pragma once
// What the three editors are built from, so that they look and behave alike:
//   RadioGroup        a titled group of radio buttons with ItemIndex / setItemIndex
//   titledGroup       a group box that names itself for assistive technology
//   deviceEdit        a single-line edit whose text the device can store
//   switchEdit        an edit switched on (enabled, normal colour) or off (disabled, grey)
//   commandButton     a picture button with its label beside it
//   toDevice / fromDevice   window text <-> the device's Windows-1250 bytes

#include "button_icons.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStringList>
#include <QToolButton>

#include <string>

class QGridLayout;
class QHBoxLayout;

// One choice out of a few, like the radio groups of the device's original
// tool: the selected item is an index (-1 when nothing is selected), and
// itemIndexChanged is emitted only when that index really changes, from code
// or from the user. Selecting nothing emits nothing.
class RadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    RadioGroup(const char* objectName, const QString& title, const QStringList& items, int columns,
               QWidget* parent);

    int ItemIndex() const;
    void setItemIndex(int index);
    QRadioButton* item(int index) const;
    int count() const { return static_cast<int>(buttons_->buttons().size()); }

  Q_SIGNALS:
    void itemIndexChanged(int index);

  private:
    QButtonGroup* buttons_;
};

// A group box titled `title`, which is also its accessible name (Qt would
// otherwise name a nested box after the outer one).
QGroupBox* titledGroup(const char* objectName, const QString& title, QWidget* parent);

// An edit that holds only what Windows-1250 can store: a character without a
// Windows-1250 form becomes "?" as it is typed, pasted or set.
QLineEdit* deviceEdit(const char* objectName, const QString& accessibleName, QWidget* parent);

// Switched on: enabled, in the normal edit colour. Off: disabled and grey.
void switchEdit(QLineEdit* edit, bool on);
// The grey of a switched-off edit.
QColor switchedOffColour();

// A picture button for an editor command; its label (one or two lines) sits
// beside it, and the button's accessible name is the label read as one.
struct CommandButton {
    QToolButton* button;
    QLabel* label;
};
CommandButton commandButton(const char* objectName, CommandPicture picture,
                            const QStringList& labelLines, QWidget* parent);

// A row of command buttons with their labels, as along the bottom of an editor.
class CommandRow {
  public:
    explicit CommandRow(QWidget* window);
    QToolButton* add(const char* objectName, CommandPicture picture, const QStringList& labelLines);
    // The row, ended by a stretch; the caller's layout takes it.
    QHBoxLayout* finish();

  private:
    QWidget* window_;
    QHBoxLayout* row_;
};

// A label in front of `buddy`, naming it for assistive technology as well.
QLabel* buddyLabel(const QString& text, QWidget* buddy, QWidget* parent);

// Window text to the device's bytes and back. Text from the device ends at its
// first 0 byte, as in any text control.
std::string toDevice(const QString& text);
QString fromDevice(const std::string& bytes);

// Puts a refused entry's replacement into its box (cleared for an empty one);
// nothing when the verdict leaves the text where it is.
namespace trellikon::rules {
struct EntryVerdict;
}
void putBack(QLineEdit* edit, const trellikon::rules::EntryVerdict& verdict);
