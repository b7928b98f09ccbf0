// trellikon-checked-write-bench: the whole write from the window as the
// installer starts it in the alarm texts editor: the parts offered, the
// backup read into a copy, the write, the read back and its verdict, with the
// register recording. Prints the 1000 ms ticks of each of the three exchanges
// and the seconds the whole takes at that pace, the program's own work
// (windows, register, comparisons) measured on this machine added.
//
// The real program and windows over a simulated device in memory, the ticks
// driven by hand as in the window tests; run it offscreen or under Xvfb.
#include "checked_write_windows.h"
#include "program_fixture.h"
#include "register.h"
#include "settings_encoder.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace trellikon;

namespace {

// Settings the editors accept as they are, with a few callers.
SettingsImage::Bytes soundImage() {
    DeviceSettings d;
    EditorSnapshot s;
    s.sms_centre_number = "48601000310";
    s.user_number = {"48600100200", "48600100300", "", ""};
    s.sms_mask_user = {true, true, false, false};
    s.output1_auto_seconds = "300";
    s.daily_sms_limit = "50";
    s.test_message_user = "1";
    for (int slot = 0; slot < layout::kTextSlotCount; ++slot)
        s.texts[std::size_t(slot)] = defaultText(slot);
    Encode_Settings(s, d);
    for (int n = 1; n <= layout::kSubscriberCount; ++n)
        d.image.freeSubscriber(n);
    for (int n = 1; n <= 40; ++n)
        d.image.writeSubscriber(n, "485000000" + std::to_string(10 + n));
    return d.image.bytes();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int runs = 5;
    std::vector<double> overheadMs;
    int readTicks[2] = {0, 0}, writeTicks = 0;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir dir;
        Program p(soundImage());
        const std::string path = dir.filePath(QStringLiteral("rejestr.sqlite")).toStdString();
        p.form1->useRegister([path] {
            reg::OpenOptions options;
            options.dailyCopy = false;
            return reg::openRegister(path, options);
        });
        p.connect();
        p.settings().loadImage(soundImage());
        int reads = 0, ticks = 0;
        // The watchers look at every turn of the event loop, so that the
        // program's own time is not padded by theirs.
        auto parts = everyWindow(
            ofClass<WritePartsDialog>(),
            [](QWidget* w) { qobject_cast<WritePartsDialog*>(w)->WriteButton->click(); }, 0);
        auto read = everyWindow([&](QWidget* w) { return w == p.form4(); },
                                [&](QWidget*) {
                                    ticks = 0;
                                    for (; ticks < 30 && p.form4()->isVisible(); ++ticks)
                                        p.form1->Timer1Timer();
                                    readTicks[reads++ % 2] = ticks;
                                },
                                0);
        auto write = everyWindow([&](QWidget* w) { return w == p.form5(); },
                                 [&](QWidget*) {
                                     ticks = 0;
                                     for (; ticks < 30 && p.form1->session().writing(); ++ticks)
                                         p.form1->Timer1Timer();
                                     writeTicks = ticks;
                                 },
                                 0);
        QElapsedTimer clock;
        clock.start();
        p.inTextsEditor([](TForm3* t) { t->SpeedButton4->click(); });
        overheadMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        delete parts.data();
        delete read.data();
        delete write.data();
        if (reads != 2 || p.messages.plains.size() != 1) {
            std::fprintf(
                stderr, "trellikon-checked-write-bench: the write was not checked (%d reads)\n%s\n",
                reads, qPrintable(p.messages.errors.join('\n')));
            return 1;
        }
    }
    std::sort(overheadMs.begin(), overheadMs.end());
    const double overhead = overheadMs[overheadMs.size() / 2];
    const int total = readTicks[0] + writeTicks + readTicks[1];
    std::printf("backup read: %d ticks\nwrite: %d ticks\ncheck read: %d ticks\n", readTicks[0],
                writeTicks, readTicks[1]);
    std::printf("whole write: %d ticks, %.1f s (the program's own work %.0f ms, median of %d)\n",
                total, total * 1.0 + overhead / 1000.0, overhead, runs);
    return 0;
}
