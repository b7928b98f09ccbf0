#pragma once
#include "window_support.h"

#include <QLabel>

// Alarm texts editor: the message texts, programming and template saving.
class TForm3 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm3(WindowContext& context, QWidget* parent = nullptr);
    QLabel* titleLabel;

  private:
    WindowContext& ctx;
};
