#pragma once
// Records what the device exchange shows, as readable lines, for the tests.
#include "session.h"

#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

// A link's observer (display and outcomes) for a bare link, and a session's
// (display and events) for a session.
class LinkRecorder : public trellikon::LinkObserver, public trellikon::SessionObserver {
  public:
    QStringList events;
    QString status;
    QString labels[4][3];
    int bars[4] = {0, 0, 0, 0};
    int shown[4] = {0, 0, 0, 0};
    int closed[4] = {0, 0, 0, 0};
    QStringList errors;
    // Kept apart from `events`, which records only what the windows are told:
    // a bare link's outcomes, a session's events.
    std::vector<trellikon::LinkOutcome> outcomes;
    std::vector<trellikon::SessionEvent> sessionEvents;
    std::function<void(trellikon::LinkOutcome)> onOutcome;
    std::function<void(trellikon::LinkWindow)> onShow; // runs while "modal"

    static int idx(trellikon::LinkWindow w) { return static_cast<int>(w); }

    void statusText(const std::string& text) override {
        status = QString::fromStdString(text);
        events << "status:" + status;
    }
    void labelText(trellikon::LinkWindow w, int label, const std::string& text) override {
        labels[idx(w)][label] = QString::fromStdString(text);
        events << QString("label:%1:%2:%3").arg(idx(w)).arg(label).arg(labels[idx(w)][label]);
    }
    void barPosition(trellikon::LinkWindow w, int position) override { bars[idx(w)] = position; }
    void showWindow(trellikon::LinkWindow w) override {
        ++shown[idx(w)];
        events << QString("show:%1").arg(idx(w));
        if (onShow)
            onShow(w);
    }
    void closeWindow(trellikon::LinkWindow w) override {
        ++closed[idx(w)];
        events << QString("close:%1").arg(idx(w));
    }
    QString diagnosis; // the last one said after a failed connection attempt
    void connectDiagnosis(const std::string& text) override {
        diagnosis = QString::fromStdString(text);
    }
    void errorMessage(const std::string& text, const std::string& detail) override {
        errors << QString::fromStdString(text);
        events << "error:" + QString::fromStdString(text) + "|" + QString::fromStdString(detail);
    }
    void outcome(trellikon::LinkOutcome what) override {
        outcomes.push_back(what);
        if (onOutcome)
            onOutcome(what);
    }
    void sessionEvent(const trellikon::SessionEvent& what) override {
        sessionEvents.push_back(what);
    }
    // The last outcome, or nothing yet.
    std::optional<trellikon::LinkOutcome> last() const {
        if (outcomes.empty())
            return std::nullopt;
        return outcomes.back();
    }
};
