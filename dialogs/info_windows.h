#pragma once
// The two diagram windows and the information window: fixed content, shown
// from the main window, closed by their title bar.

#include "window_support.h"

// Cable diagram: how the device is connected to the computer for programming.
class TForm7 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm7(QWidget* parent = nullptr);
};

// Mounting diagram: how the device is installed.
class TForm8 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm8(QWidget* parent = nullptr);
};

// Information about the product and its maker.
class TForm10 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm10(QWidget* parent = nullptr);
};
