#pragma once
// With TRELLIKON_STARTUP_PROBE set, a program reports the moment its first
// window has been shown (wall clock, ns) and its resident memory, then quits.
// scripts/measure-startup.sh compares the tool with a bare Qt window this way.

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>

inline void reportStartupIfAsked(QWidget& window) {
    if (qEnvironmentVariableIsEmpty("TRELLIKON_STARTUP_PROBE"))
        return;
    QTimer::singleShot(0, &window, [] {
        const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        long rssKb = 0;
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("VmRSS:"))
                    rssKb = line.mid(6).trimmed().split(' ').value(0).toLong();
        std::printf("shown_ns=%lld rss_kb=%ld\n", static_cast<long long>(now.count()), rssKb);
        std::fflush(stdout);
        QApplication::quit();
    });
}
