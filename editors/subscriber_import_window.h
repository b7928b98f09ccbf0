#pragma once
// The preview of a CSV import into the CLIP subscriber list: every line of the
// file with its verdict, the choice between adding and replacing, and the
// counts. The list changes only when the user confirms.
#include "editor_widgets.h"
#include "editors_context.h"
#include "subscriber_csv.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>

// Preview of the callers a CSV file brings into the subscriber list, with the
// choice of the columns the numbers are read from.
class SubscriberImportWindow : public StackDialog {
    Q_OBJECT
  public:
    explicit SubscriberImportWindow(EditorsContext& context, QWidget* parent = nullptr);

    QLabel* titleLabel;
    QLabel* fileLabel;
    QLabel* columnsLabel;
    // One per column that holds telephone numbers (or is read): ticked, its
    // numbers are imported, each number a caller. At most kMaxColumnBoxes,
    // in a row that scrolls; the columns beyond are named in moreColumnsLabel.
    std::vector<QCheckBox*> columnBoxes;
    QScrollArea* columnsArea;
    QLabel* moreColumnsLabel;
    static constexpr std::size_t kMaxColumnBoxes = 12;
    QTableWidget* linesGrid; // one row per line of the file
    RadioGroup* modeGroup;   // 0 add at the lowest free positions, 1 replace the list
    QLabel* summaryLabel;
    QPushButton* confirmButton;
    QPushButton* cancelButton;

    // The file to preview, against the list as it stands now; starts in the
    // add mode.
    void load(const QString& fileName, trellikon::csv::CallerFile file);
    const trellikon::csv::ImportPlan& plan() const { return plan_; }

    void confirmClick();
    void cancelClick();

  private:
    void replan();
    void showColumns();
    void columnsChosen();

    EditorsContext& ctx;
    trellikon::csv::CallerFile file_;
    trellikon::csv::ImportPlan plan_;
    QHBoxLayout* columnsRow;     // inside columnsArea
    std::vector<int> boxColumn_; // the file's column of each of columnBoxes
};
