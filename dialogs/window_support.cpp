#include "window_support.h"

#include <QBoxLayout>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

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
    window->exec();
    if (guard && isShown(window))
        remove(window);
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
    // Texts may carry names from files and the register: never read as markup.
    box.setTextFormat(Qt::PlainText);
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    box.exec();
}

void QtMessageBoxes::plain(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("DOMOWY TRELLIKON"), text, QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
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
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
}

std::string fileLayerPath(const QString& path) {
#ifdef _WIN32
    return path.toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

QString QtFileDialogs::saveFileName(QWidget* parent, const QString& filter) {
    // A template of the same name is replaced without a question, as installers
    // expect when they save the device's settings over last week's file.
    return QFileDialog::getSaveFileName(parent, QString(), QString(), filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
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
