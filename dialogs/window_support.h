#pragma once
// What every window of the program stands on:
//   StackWindow     a window that takes part in activation (FormActivate / FormDeactivate)
//   ModalStack      shows our windows modally and calls their activation handlers;
//                   the window system's own activation is not used (it deactivates
//                   the owner for every message box and never reactivates it)
//   MessageBoxes    the one seam for message boxes (tests record them)
//   FileDialogs     the one seam for file dialogs (tests script them)
//   DialogContext   the stack and the seams the windows share, and what a
//                   link window's OK leaves to the main window

#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace trellikon {
enum class LinkWindow;
} // namespace trellikon

class StackWindow {
  public:
    virtual ~StackWindow() = default;
    virtual QWidget* widget() = 0;
    virtual void FormActivate() {}
    virtual void FormDeactivate() {}
    // The window is about to be closed for the program, not by the user (the
    // connection-lost notice closes the editors): what was typed in it must
    // not be lost with it.
    virtual void keepTypedValues() {}
};

// A dialog window of the program. Closing it by its title bar ends its modal
// run like any other close. Escape does not close it: in most windows leaving
// stores or throws away what was typed, and a stray key must do neither. A
// window that only shows something may close on Escape (closeOnEscape).
class StackDialog : public QDialog, public StackWindow {
    Q_OBJECT
  public:
    explicit StackDialog(QWidget* parent = nullptr);
    QWidget* widget() override { return this; }

  protected:
    void closeOnEscape() { closes_on_escape_ = true; }
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool closes_on_escape_ = false;
};

// A push button that only a click, or Space or Enter while it has the focus,
// presses. A dialog would otherwise make it its default button, which Enter in
// any text box of the window presses.
class QPushButton;
QPushButton* pushButton(const char* objectName, const QString& caption, QWidget* parent);

class ModalStack {
  public:
    // The main window: active whenever nothing is shown over it.
    void setRoot(StackWindow* root);
    // Deactivates the window on top, activates `window`, runs it modally, and
    // when it closes deactivates it and activates the one below again.
    // Returns at once if the window is already up.
    void showModal(StackDialog* window);
    // Closes a window that is up (anywhere in the stack); nothing otherwise.
    void closeWindow(StackDialog* window);
    bool isShown(const StackWindow* window) const;
    // Whether the window's modal loop has not returned yet: closed windows
    // stay in it while what their last click opened is up (the read
    // window's OK opens the parameters editor), and such a window cannot be
    // shown again until then.
    bool running(const StackDialog* window) const;
    StackWindow* top() const;
    std::size_t depth() const { return stack_.size(); }

  private:
    void remove(StackWindow* window);
    std::vector<StackWindow*> stack_; // [0] is the root, when set
    std::vector<const StackDialog*> running_;
};

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // A modal box with the error icon and one OK button; `detail`, when not
    // empty, shows below the text (the reason, in words that say what to do).
    virtual void error(QWidget* parent, const QString& text, const QString& detail = {}) = 0;
    // A modal box without an icon, with one OK button.
    virtual void plain(QWidget* parent, const QString& text) = 0;
    // A modal question with Yes and No, shown as plain text; true for Yes.
    // A box that cannot ask answers No.
    virtual bool question(QWidget*, const QString&) { return false; }
    // A question with the action's own button and "Anuluj"; true when the
    // action was chosen. Without an answer nothing is done.
    virtual bool confirm(QWidget* parent, const QString& text, const QString& action) {
        (void)parent;
        (void)text;
        (void)action;
        return false;
    }
};

class QSettings;

class FileDialogs {
  public:
    virtual ~FileDialogs() = default;
    // The chosen file, or an empty string when the user cancelled.
    virtual QString openFileName(QWidget* parent, const QString& filter) = 0;
    virtual QString saveFileName(QWidget* parent, const QString& filter) = 0;
};

// A chosen file's name as the file layer takes it: the system's own bytes on
// Linux, UTF-8 on Windows (turned into the wide name there), so that names
// with Polish letters reach the file on both.
std::string fileLayerPath(const QString& path);

class QtMessageBoxes : public MessageBoxes {
  public:
    void error(QWidget* parent, const QString& text, const QString& detail = {}) override;
    void plain(QWidget* parent, const QString& text) override;
    bool question(QWidget* parent, const QString& text) override;
    bool confirm(QWidget* parent, const QString& text, const QString& action) override;
};

// Where the open and save dialogs start: the folder of the file last chosen
// while it still exists, the user's Documents before that; never the
// program's own folder (a Start-menu shortcut makes it the working folder).
QString dialogStartFolder(const QSettings& settings, const QString& programFolder);
void rememberDialogFolder(QSettings& settings, const QString& chosenFile);

class QtFileDialogs : public FileDialogs {
  public:
    QString openFileName(QWidget* parent, const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& filter) override;
};

// What every window reaches in the main window: the window stack, the message
// and file seams, and what follows a link window's OK. Owned by the main
// window; the editors reach it through a context of their own.
struct DialogContext {
    ModalStack* stack = nullptr;
    MessageBoxes* messages = nullptr;
    FileDialogs* files = nullptr;

    // A window of the link closed by its OK: what follows (the parameters
    // editor after a complete read, the editors closed after the notice of a
    // lost connection) is the main window's to decide.
    std::function<void(trellikon::LinkWindow)> linkWindowOk;
};

// The large title line at the top of an editor window.
class QLabel;
QLabel* addTitleLabel(QWidget* window, const QString& text);

// Names a control for tests and assistive technology alike.
void nameControl(QWidget* control, const char* objectName, const QString& accessibleName);
