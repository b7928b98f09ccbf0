#pragma once
// Seams and a modal driver for the window tests.
#include "window_support.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

class RecordingMessageBoxes : public MessageBoxes {
  public:
    QStringList errors, details, plains;
    void error(QWidget*, const QString& text, const QString& detail) override {
        errors << text;
        details << detail;
    }
    void plain(QWidget*, const QString& text) override { plains << text; }
    QStringList questions;
    QList<bool> answers; // taken in order; none left answers No
    bool question(QWidget*, const QString& text) override {
        questions << text;
        return answers.isEmpty() ? false : answers.takeFirst();
    }
    bool confirmAnswer = false;
    bool confirm(QWidget*, const QString& text, const QString&) override {
        questions << text;
        return confirmAnswer;
    }
};

class ScriptedFileDialogs : public FileDialogs {
  public:
    QStringList answers; // taken in order; an empty answer is a cancel
    QStringList filters;
    QString openFileName(QWidget*, const QString& filter) override { return next(filter); }
    QString saveFileName(QWidget*, const QString& filter) override { return next(filter); }

  private:
    QString next(const QString& filter) {
        filters << filter;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

// Runs `step` as soon as a modal window other than the current one is up, and
// then closes that window if the step left it open, so that a failed check
// inside the step can never leave the test waiting on a modal loop.
// With `mustAppear` false, a window that never comes is not a failure (a test
// that checks that nothing opens); such a test may end the watch early by
// deleting the returned watcher once nothing can open any more.
inline QPointer<QTimer> whenModal(std::function<void(QDialog*)> step, int timeoutMs = 5000,
                                  bool mustAppear = true) {
    QWidget* before = QApplication::activeModalWidget();
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget* now = QApplication::activeModalWidget();
        const bool appeared = now && now != before;
        if (!appeared && clock->elapsed() <= timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        if (!appeared) {
            if (mustAppear)
                QFAIL("no modal window appeared");
            return;
        }
        auto* dialog = qobject_cast<QDialog*>(now);
        step(dialog);
        if (dialog && dialog->isVisible())
            dialog->done(QDialog::Rejected);
    });
    timer->start();
    return timer;
}

// Runs `step` every time a modal window that `matches` comes up, until the
// returned watcher is deleted; a dialog the step left open is closed.
inline QPointer<QTimer> everyWindow(std::function<bool(QWidget*)> matches,
                                    std::function<void(QWidget*)> step, int intervalMs = 2) {
    auto* timer = new QTimer(qApp);
    auto handled = std::make_shared<QPointer<QWidget>>();
    timer->setInterval(intervalMs);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget* now = QApplication::activeModalWidget();
        if (!now || now != handled->data())
            *handled = nullptr;
        if (!now || now == handled->data() || !matches(now))
            return;
        *handled = now;
        step(now);
        if (auto* dialog = qobject_cast<QDialog*>(now);
            dialog && dialog->isVisible() && QApplication::activeModalWidget() == now)
            dialog->done(QDialog::Rejected);
    });
    timer->start();
    return timer;
}

template <typename W> std::function<bool(QWidget*)> ofClass() {
    return [](QWidget* w) { return qobject_cast<W*>(w) != nullptr; };
}
