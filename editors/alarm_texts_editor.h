#pragma once
#include "editor_widgets.h"
#include "window_support.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

// Alarm texts editor: the message texts, programming and template saving.
class TForm3 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm3(WindowContext& context, QWidget* parent = nullptr);
    QLabel* titleLabel;

    QCheckBox* CheckBox1; // send the test message
    QLineEdit* Edit11;    // user index of the test message, 1..4

    void CheckBox1Click();
    void Edit11Change();

  private:
    void error(const char* utf8);
    WindowContext& ctx;
};
