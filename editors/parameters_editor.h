#pragma once
#include "window_support.h"

#include <QLabel>

// Parameters editor: numbers, masks, outputs, balance reporting.
class TForm2 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm2(WindowContext& context, QWidget* parent = nullptr);

    QLabel* titleLabel;

    // Its change handlers act only once the main window has armed them,
    // about 150 ms after activation.
    void FormActivate() override;
    void FormDeactivate() override;

  private:
    WindowContext& ctx;
};
