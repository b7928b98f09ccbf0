#pragma once
// The whole program with its windows, wired to a simulated device through
// memory, for the window tests. Time is ticks: a test fires the timers itself,
// one by one where their count is what it checks, through the tick driver
// (both timers in time order) where it waits for the link to get somewhere.
#include "alarm_texts_editor.h"
#include "info_windows.h"
#include "main_window.h"
#include "memory_port.h"
#include "parameters_editor.h"
#include "progress_dialog.h"
#include "simulated_device.h"
#include "subscriber_windows.h"
#include "tick_driver.h"
#include "window_test_support.h"

#include <QTest>

#include <functional>
#include <memory>

struct Program {
    trellikon::SimulatedDevice device;
    trellikon::MemoryPort port{&device};
    RecordingMessageBoxes messages;
    ScriptedFileDialogs files;
    std::unique_ptr<TForm1> form1;

    explicit Program(
        const trellikon::SettingsImage::Bytes& memory = trellikon::SimulatedDevice::erased())
        : device(memory) {
        form1 = std::make_unique<TForm1>(port, messages, files);
        form1->ports().cables = trellikon::CableMemory(""); // never the user's own
        // The register's own tests give it one (test_register_window).
        form1->useRegister({});
        form1->createWindows();
        form1->Timer1->stop();
        form1->Timer2->stop();
        form1->show();
    }
    EditorsContext& ctx() { return form1->editorsContext(); }
    const DialogWindows& windows() { return form1->dialogWindows(); }
    trellikon::DeviceSettings& settings() { return form1->settings(); }
    TForm2* form2() { return ctx().form2; }
    TForm3* form3() { return ctx().form3; }
    TForm4* form4() { return windows().form4; }
    TForm5* form5() { return windows().form5; }
    TForm6* form6() { return windows().form6; }
    TForm11* form11() { return windows().form11; }

    trellikon::ManualTickClock clock;
    trellikon::TickDriver ticks{clock, [this] { form1->Timer1Timer(); },
                                [this] { form1->Timer2Timer(); }};

    // Both timers in time order until `done` holds; false when `maxTimer1Ticks`
    // of the long timer came first.
    bool tickUntil(const std::function<bool()>& done, int maxTimer1Ticks = 30) {
        return ticks.runTicksUntil(done, maxTimer1Ticks).done;
    }

    // Connect and let the device announce itself; the window closes by itself.
    void connect() {
        whenModal([this](QDialog*) {
            device.powerOn();
            QVERIFY(tickUntil([this] { return !form6()->isVisible(); }));
        });
        form1->SpeedButton1Click();
        QVERIFY(form1->session().connected());
    }

    // The three ticks of the 50 ms timer after which the editor's handlers act.
    void armEditor() {
        form1->Timer3->stop();
        for (int i = 0; i < 3; ++i)
            form1->Timer3Timer();
    }

    // Opens the parameters editor from the main window, runs `step` in it
    // (armed unless told otherwise) and leaves it by its close box.
    void inParametersEditor(const std::function<void(TForm2*)>& step, bool arm = true) {
        whenModal([this, step, arm](QDialog*) {
            if (arm)
                armEditor();
            step(form2());
        });
        form1->SpeedButton6Click();
    }

    // The same, on to the alarm texts editor from the parameters editor's
    // button; `before` runs in the parameters editor first.
    void inTextsEditor(const std::function<void(TForm3*)>& step,
                       const std::function<void(TForm2*)>& before = {}) {
        inParametersEditor([this, step, before](TForm2* f) {
            if (before)
                before(f);
            whenModal([this, step](QDialog*) { step(form3()); });
            f->SpeedButton1->click();
        });
    }
};
