#include "window_support.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

StackDialog::StackDialog(QWidget* parent) : QDialog(parent) {
    // Only the close box: these windows are neither minimised nor resized.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
}

void StackDialog::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel) && !closes_on_escape_) {
        event->accept();
        return;
    }
    // No button is a default button (pushButton), so Enter reaches the window
    // only when the focused control has no use for it. A focused button is
    // pressed by it, as on Windows; from anywhere else Enter presses nothing.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        auto* button = qobject_cast<QAbstractButton*>(focusWidget());
        if (button && !button->isCheckable() && button->isEnabled())
            button->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

QPushButton* pushButton(const char* objectName, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    nameControl(button, objectName, caption);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

void ModalStack::setRoot(StackWindow* root) {
    stack_.clear();
    if (root)
        stack_.push_back(root);
}

StackWindow* ModalStack::top() const {
    return stack_.empty() ? nullptr : stack_.back();
}

bool ModalStack::isShown(const StackWindow* window) const {
    return std::find(stack_.begin(), stack_.end(), window) != stack_.end();
}

void ModalStack::showModal(StackDialog* window) {
    if (!window || isShown(window))
        return;
    if (StackWindow* below = top())
        below->FormDeactivate();
    stack_.push_back(window);
    window->FormActivate();
    // The window may have been closed by its own activation handler.
    if (!isShown(window))
        return;
    QPointer<StackDialog> guard(window);
    running_.push_back(window);
    window->exec();
    running_.erase(std::find(running_.begin(), running_.end(), window));
    if (guard && isShown(window))
        remove(window);
}

bool ModalStack::running(const StackDialog* window) const {
    return std::find(running_.begin(), running_.end(), window) != running_.end();
}

void ModalStack::closeWindow(StackDialog* window) {
    if (!window || !isShown(window))
        return;
    remove(window);
    window->done(QDialog::Rejected);
}

void ModalStack::remove(StackWindow* window) {
    const bool wasTop = top() == window;
    if (wasTop)
        window->FormDeactivate();
    stack_.erase(std::remove(stack_.begin(), stack_.end(), window), stack_.end());
    if (wasTop)
        if (StackWindow* below = top())
            below->FormActivate();
}

void QtMessageBoxes::error(QWidget* parent, const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Błąd"), text, QMessageBox::Ok, parent);
    // The reason shows in the box itself: a "details" button is one that
    // few press, and the reason is what says what to do.
    if (!detail.isEmpty()) {
        box.setInformativeText(detail);
        // Room for a file's path and a sentence on one line: Qt's own width
        // for a box breaks both after a few words.
        if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
            grid->addItem(new QSpacerItem(QFontMetrics(box.font()).averageCharWidth() * 60, 0,
                                          QSizePolicy::Minimum, QSizePolicy::Expanding),
                          grid->rowCount(), 0, 1, grid->columnCount());
    }
    // The program's messages are sentences, and many quote a file or port
    // name: never let such a name be taken for HTML (in the text and in the
    // reason below it).
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void QtMessageBoxes::plain(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("DOMOWY TRELLIKON"), text, QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtMessageBoxes::question(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("DOMOWY TRELLIKON"), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

namespace {

const QString kLastFolderKey = QStringLiteral("dialogs/lastFolder");

QSettings programSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Trellikon"),
                     QStringLiteral("Trellikon"));
}

} // namespace

QString dialogStartFolder(const QSettings& settings, const QString& programFolder) {
    const QString last = settings.value(kLastFolderKey).toString();
    const QString program =
        programFolder.isEmpty() ? QString() : QDir(programFolder).canonicalPath();
    if (!last.isEmpty() && QFileInfo(last).isDir() &&
        (program.isEmpty() || QDir(last).canonicalPath() != program))
        return last;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

void rememberDialogFolder(QSettings& settings, const QString& chosenFile) {
    if (!chosenFile.isEmpty())
        settings.setValue(kLastFolderKey, QFileInfo(chosenFile).absolutePath());
}

bool QtMessageBoxes::confirm(QWidget* parent, const QString& text, const QString& action) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("DOMOWY TRELLIKON"), text,
                    QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton* yes = box.addButton(action, QMessageBox::DestructiveRole);
    QPushButton* no = box.addButton(QStringLiteral("Anuluj"), QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

QString QtFileDialogs::openFileName(QWidget* parent, const QString& filter) {
    QSettings settings = programSettings();
    const QString path = QFileDialog::getOpenFileName(
        parent, QString(), dialogStartFolder(settings, QCoreApplication::applicationDirPath()),
        filter);
    rememberDialogFolder(settings, path);
    return path;
}

QString QtFileDialogs::saveFileName(QWidget* parent, const QString& filter) {
    // A template of the same name is replaced without a question, as installers
    // expect when they save the device's settings over last week's file.
    QSettings settings = programSettings();
    const QString path = QFileDialog::getSaveFileName(
        parent, QString(), dialogStartFolder(settings, QCoreApplication::applicationDirPath()),
        filter, nullptr, QFileDialog::DontConfirmOverwrite);
    rememberDialogFolder(settings, path);
    return path;
}

void nameControl(QWidget* control, const char* objectName, const QString& accessibleName) {
    control->setObjectName(QString::fromLatin1(objectName));
    control->setAccessibleName(accessibleName);
}

QLabel* addTitleLabel(QWidget* window, const QString& text) {
    auto* title = new QLabel(text, window);
    title->setObjectName(QStringLiteral("titleLabel"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    title->setFont(big);
    if (window->layout())
        window->layout()->addWidget(title);
    if (auto* box = qobject_cast<QBoxLayout*>(window->layout()))
        box->setAlignment(title, Qt::AlignHCenter | Qt::AlignTop);
    return title;
}
