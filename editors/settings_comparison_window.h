#pragma once
#include "editors_context.h"
#include "settings_comparison.h"

#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>

#include <functional>
#include <optional>
#include <string>

// Comparison window: the settings now in the program against a template file
// or against the device, read into a copy that leaves the program's settings
// alone. Lists what differs under the editors' names; the other side can be
// taken into the program, as a template load would take it. Nothing is
// written to the device from here.
class ComparisonWindow : public StackDialog {
    Q_OBJECT
  public:
    explicit ComparisonWindow(EditorsContext& context, QWidget* parent = nullptr);

    QLabel* titleLabel;
    QPushButton* FileButton;   // a template chosen with the file dialog
    QPushButton* DeviceButton; // the device on the chosen port, read into a copy
    QLabel* SourceLabel;       // what the other side is
    QTextBrowser* Results;
    QPushButton* TakeButton; // the other side's settings into the program
    QPushButton* CloseButton;

    // Takes the other side into the program: its image and where it came from.
    // The main window does it the way a template load does.
    std::function<void(const trellikon::SettingsImage::Bytes&, const QString& origin)> take;

    void FileButtonClick();
    void DeviceButtonClick();
    void TakeButtonClick();
    // Compares the program with settings kept elsewhere (a version in the
    // installations register); `origin` says which, as plain text.
    void compareWithSaved(const trellikon::SettingsImage::Bytes& other, const QString& origin);
    // Compares two sets of settings of which neither is the program's (two
    // versions in the register, a version and the device); `here` takes the
    // program's column. Each origin and heading is plain text.
    struct Side {
        trellikon::SettingsImage::Bytes bytes{};
        QString origin;
        QString heading;
    };
    void compareTwo(const Side& here, const Side& there);
    // Reads the device on the chosen port into a copy, the program's settings
    // left alone. `then` gets the copy once the read window's OK closed it
    // after a whole read; nothing when the read did not complete (its own
    // windows and messages said why, "not connected" among them).
    void readDevice(std::function<void(std::optional<Side>)> then);
    // How the read into a copy ended, told by the main window's table: the
    // copy, or null. Nothing happens when no read of this window was waiting.
    void deviceReadEnded(const trellikon::SettingsImage::Bytes* copy);

    // What the program and the other side were last found to differ in.
    const std::optional<trellikon::comparison::Comparison>& comparison() const {
        return comparison_;
    }

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void compareWith(const trellikon::SettingsImage::Bytes& other, const QString& origin,
                     const QString& thereHeading);
    void showComparison(const trellikon::inspector::Inspection& here, const QString& hereHeading,
                        const Side& there, const QString& sourceText);
    void showNothing(const QString& why);

    EditorsContext& ctx;
    std::function<void(std::optional<Side>)> deviceRead_; // a read of ours under way
    std::string devicePort_;
    std::optional<trellikon::SettingsImage::Bytes> other_;
    QString otherOrigin_;
    std::optional<trellikon::comparison::Comparison> comparison_;
};
