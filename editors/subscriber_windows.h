#pragma once
#include "window_support.h"

#include <QLabel>

// Subscriber list: the CLIP callers who may switch the outputs.
class TForm12 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm12(WindowContext& context, QWidget* parent = nullptr);
    QLabel* titleLabel;

  private:
    WindowContext& ctx;
};

// Add-subscriber dialog.
class TForm13 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm13(WindowContext& context, QWidget* parent = nullptr);

  private:
    WindowContext& ctx;
};

// Remove-subscriber dialog.
class TForm14 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm14(WindowContext& context, QWidget* parent = nullptr);

  private:
    WindowContext& ctx;
};
