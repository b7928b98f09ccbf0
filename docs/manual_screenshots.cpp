// Takes the pictures of the user manual: the program's own windows, built as
// the program builds them, over a simulated device with a plausible gate
// installation in its memory. Each picture is one entry of `shots()`: the
// commands pressed, by the labels the user reads, from the main window to the
// window shown, and what is done in that window before it is taken.
//
//   trellikon-screenshots DIR     writes DIR/NAME.png for every entry, and the
//                                 installation's settings sheet, DIR/karta-ustawien.pdf
//   trellikon-screenshots --list  prints the names
//
// It ends with status 1 when a command is missing or a window does not come
// up, is not exposed or paints nothing, so a changed window breaks the build
// of the manual instead of leaving an old picture in it. Run it under an X
// server (scripts/manual.sh uses Xvfb): the pictures are then read back from
// the screen, as the user sees them. On other platforms the widgets render
// themselves.
//
// Time is the device exchange's ticks, driven by hand as in the window tests;
// nothing here waits on the clock except a generous guard against a hang.

#include "alarm_texts_editor.h"
#include "checked_write.h"
#include "checked_write_windows.h"
#include "company_sync.h"
#include "main_window.h"
#include "memory_port.h"
#include "parameters_editor.h"
#include "progress_dialog.h"
#include "qt_translations.h"
#include "register.h"
#include "register_window.h"
#include "settings_sheet.h"
#include "simulated_device.h"
#include "subscriber_windows.h"
#include "template_edit.h"
#include "window_support.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// ---------------------------------------------------------------------------
// The installation the pictures show: a gate with a wicket, two residents'
// phones for alarms, the residents' numbers as callers.

trellikon::SettingsImage::Bytes sampleMemory() {
    trellikon::DeviceSettings s;
    s.image.setBytes(trellikon::SimulatedDevice::erased());
    s.decodeAll();
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"sms_centre_number", "48601000310"},
        {"user_numbers.1", "48601234567"},
        {"user_numbers.2", "48602345678"},
        {"sms_mask", "1,2"},
        {"ring_mask", "1"},
        {"input_mask", "1,2,3"},
        {"output1_auto_on", "true"},
        {"output1_auto_seconds", "3"},
        {"echo_on", "true"},
        {"daily_sms_limit", "20"},
        {"balance_query_code", "*100#"},
        {"balance_info_on", "true"},
        {"balance_by_count_on", "true"},
        {"balance_sms_count", "100"},
        {"balance_by_time_on", "true"},
        {"balance_days", "7"},
        {"clip_output1_on", "true"},
        {"texts.0", "BRAMA Lipowa 5: "},
        {"texts.3", "Otwarta furtka"},
        {"texts.4", "Zamknieta furtka"},
        {"texts.5", "Otwarta brama"},
        {"texts.6", "Zamknieta brama"},
        {"test_message_on", "true"},
        {"test_message_user", "1"},
    };
    const trellikon::TemplateEditResult edited = trellikon::setEntries(s, entries);
    if (!edited.ok()) {
        for (const std::string& why : edited.refusals)
            std::fprintf(stderr, "sample settings refused: %s\n", why.c_str());
        if (edited.failure.is(trellikon::Failure::Code::Usage))
            std::fprintf(stderr, "sample settings: %s\n", edited.failure.message.c_str());
        std::exit(2);
    }
    const auto callers = trellikon::addSubscribers(
        s, {"48601234567", "48602345678", "48603456789", "48604567890", "48221234567"});
    if (!callers.ok) {
        std::fprintf(stderr, "sample callers refused\n");
        std::exit(2);
    }
    return s.image.bytes();
}

// A residents' sheet as a property manager sends it: the forms of numbers
// people type, one line that is no number and one caller twice.
const char* const kSampleCsv = "Lokal;Nazwisko;Telefon\r\n"
                               "1;Kowalska Anna;601 234 567\r\n"
                               "2;Nowak Piotr;+48 605 111 222\r\n"
                               "3;Wiśniewski Jan;0048 606 333 444\r\n"
                               "4;Zielińska Ewa;607-555-666\r\n"
                               "5;Lewandowski Marek;brak\r\n"
                               "6;Nowak Piotr;+48 605 111 222\r\n";

// The same register joined to a company's: last synchronised at 10:42 today,
// and a name two laptops changed alike.
bool writeCompanyRegister(const std::string& path) {
    namespace reg = trellikon::reg;
    const std::string joined = path + ".firma";
    if (!QFile::copy(QString::fromStdString(path), QString::fromStdString(joined)))
        return false;
    reg::OpenOptions options;
    options.dailyCopy = false;
    auto opened = reg::openRegister(joined, options);
    if (!opened.ok())
        return false;
    reg::Register& r = *opened.value;
    if (!reg::joinCompany(r, "jan@rejestr.firma.pl:5432/firma", "jan").ok())
        return false;
    reg::CompanyStorage* c = r.storage().company();
    const QDateTime synced(QDate::currentDate(), QTime(10, 42));
    const auto gate = r.installationNamed("Nowak, Polna 3, Dębica");
    if (!gate.ok() || !gate.value)
        return false;
    reg::Conflict k;
    k.installation = gate.value->uuid;
    k.field = reg::field::kName;
    k.kept = "Nowak, Polna 3, Dębica";
    k.lost = "Nowakowie, Polna 3a, Dębica";
    k.keptWho = "jan";
    k.lostWho = "ewa";
    k.lostHlc = "1";
    k.lostAtUtc = synced.addSecs(-3600).toUTC().toString(Qt::ISODateWithMs).toStdString();
    return c->clearOutbox() && c->addConflict(k) &&
           c->setMeta(reg::meta::kSynced, synced.toUTC().toString(Qt::ISODateWithMs).toStdString());
}

// The register the register window's pictures show: three installations
// with their visits (the gate's own history first), and a read no one has
// been given yet. False, with the reason on stderr, when it cannot be made.
bool writeSampleRegister(const std::string& path, const trellikon::SettingsImage::Bytes& memory) {
    namespace reg = trellikon::reg;
    std::string error;
    reg::OpenOptions options;
    options.dailyCopy = false;
    auto opened = reg::openRegister(path, options);
    error = opened.failure.message;
    auto r = std::move(opened.value);
    if (!r) {
        std::fprintf(stderr, "sample register: %s\n", error.c_str());
        return false;
    }
    const auto changed = [&memory](const std::function<void(trellikon::SettingsImage&)>& edit) {
        trellikon::SettingsImage im;
        im.setBytes(memory);
        edit(im);
        return im.bytes();
    };
    using trellikon::layout::kUserNumber2;
    const reg::Bytes mounted = changed([](trellikon::SettingsImage& im) {
        im.freeSubscriber(4);
        im.freeSubscriber(5);
    });
    const reg::Bytes otherGate = changed([](trellikon::SettingsImage& im) {
        im.writePhoneNumber(kUserNumber2, "48655123456");
        for (int n = 1; n <= 5; ++n)
            im.writeSubscriber(n, "4866" + std::to_string(1234560 + n * 11));
    });
    const reg::Id gate = r->createInstallation("Wspólnota Lipowa 5, Tarnów",
                                               "Brama wjazdowa i furtka; "
                                               "zarządca: pani Kowalska",
                                               "48691000111")
                             .value;
    const reg::Id house = r->createInstallation("Nowak, Polna 3, Dębica", "", "").value;
    r->createInstallation("Szkoła Podstawowa nr 2, Ropczyce", "Brama od boiska", "");
    const std::vector<reg::NewVersion> versions = {
        {mounted, reg::kind::kWrite, "COM1", "0.9.0", gate, "2025-05-14T09:12:00.000Z"},
        {mounted, reg::kind::kRead, "COM1", "0.9.0", gate, "2025-11-03T13:40:00.000Z"},
        {mounted, reg::kind::kBackup, "COM1", "1.0.0", gate, "2026-03-02T10:05:00.000Z"},
        {memory, reg::kind::kWrite, "COM1", "1.0.0", gate, "2026-03-02T10:06:00.000Z"},
        {otherGate, reg::kind::kRead, "COM3", "1.0.0", house, "2026-02-17T15:21:00.000Z"},
        {otherGate, reg::kind::kRead, "COM1", "1.0.0", 0, "2026-03-05T08:30:00.000Z"},
    };
    for (const reg::NewVersion& v : versions)
        if (const auto id = r->record(v); !id.ok()) {
            std::fprintf(stderr, "sample register: %s\n", id.failure.message.c_str());
            return false;
        }
    r.reset();
    return writeCompanyRegister(path);
}

// File dialogs answer with the sample files: a CSV filter gets the sheet,
// anything else the template.
class SampleFiles : public FileDialogs {
  public:
    QString csv, sbn;
    QString openFileName(QWidget*, const QString& filter) override { return pick(filter); }
    QString saveFileName(QWidget*, const QString& filter) override { return pick(filter); }

  private:
    QString pick(const QString& filter) const {
        return filter.contains(QStringLiteral("csv"), Qt::CaseInsensitive) ? csv : sbn;
    }
};

// ---------------------------------------------------------------------------
// One program, started as main() starts it but on the simulated device.

struct Program {
    trellikon::SimulatedDevice device;
    trellikon::MemoryPort port{&device};
    QtMessageBoxes messages;
    SampleFiles& files;
    std::unique_ptr<TForm1> form1;

    Program(const trellikon::SettingsImage::Bytes& memory, SampleFiles& f,
            const std::string& registerPath = {})
        : device(memory), files(f) {
        form1 = std::make_unique<TForm1>(port, messages, files);
        form1->useRegister({});
        if (!registerPath.empty())
            form1->useRegister([registerPath] {
                trellikon::reg::OpenOptions options;
                options.dailyCopy = false;
                return trellikon::reg::openRegister(registerPath, options);
            });
        form1->createWindows();
        // The exchange is driven tick by tick below.
        form1->Timer1->stop();
        form1->Timer2->stop();
        form1->show();
    }
};

// The window on top: the innermost modal one, or the main window.
QWidget* topWindow(Program& p) {
    QWidget* modal = QApplication::activeModalWidget();
    return modal ? modal : p.form1.get();
}

// Ends a modal window whatever it takes: some ignore a plain close (the
// connection-lost notice waits for its OK).
void closeModal(QWidget* window) {
    if (auto* dialog = qobject_cast<QDialog*>(window))
        dialog->done(QDialog::Rejected);
    if (!window->isVisible())
        return;
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->text().remove(QLatin1Char('&')) == QStringLiteral("OK") && b->isVisible()) {
            b->click();
            break;
        }
    if (window->isVisible())
        window->hide();
}

// Runs `open`, which is expected to show a modal window; while that window is
// up `inside` runs in it, and then the window is closed. False when no new
// window came up (the command returned without showing one).
bool withWindow(const std::function<void()>& open, const std::function<void(QWidget*)>& inside) {
    QWidget* before = QApplication::activeModalWidget();
    bool appeared = false;
    QTimer watch;
    watch.setInterval(2);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QWidget* now = QApplication::activeModalWidget();
        if (!now || now == before)
            return;
        watch.stop();
        appeared = true;
        inside(now);
        if (now->isVisible())
            closeModal(now);
    });
    watch.start();
    open();
    watch.stop();
    return appeared;
}

// ---------------------------------------------------------------------------
// Steps.

using Step = std::function<bool(Program&, QString& why)>;

QString plainLabel(QString text) {
    return text.remove(QLatin1Char('&')).simplified();
}

// Presses the command labelled `label` in the window on top: a picture button
// by the label beside it (its accessible name), a push button by its caption.
Step press(const char* label) {
    const QString wanted = plainLabel(u(label));
    return [wanted](Program& p, QString& why) {
        QWidget* top = topWindow(p);
        for (QAbstractButton* b : top->findChildren<QAbstractButton*>()) {
            if (b->window() != top || !b->isVisible())
                continue;
            if (plainLabel(b->accessibleName()) == wanted || plainLabel(b->text()) == wanted) {
                b->click();
                return true;
            }
        }
        why = u("brak przycisku „%1” w oknie „%2”").arg(wanted, top->windowTitle());
        return false;
    };
}

// Types `text` into the entry named `field` in the window on top, key by key
// as the user would.
Step type(const char* field, const char* text) {
    const QString wanted = plainLabel(u(field));
    const QString keys = u(text);
    return [wanted, keys](Program& p, QString& why) {
        QWidget* top = topWindow(p);
        for (QLineEdit* e : top->findChildren<QLineEdit*>()) {
            if (e->window() != top || plainLabel(e->accessibleName()) != wanted)
                continue;
            e->setFocus();
            e->selectAll();
            QTest::keyClicks(e, keys);
            return true;
        }
        why = u("brak pola „%1” w oknie „%2”").arg(wanted, top->windowTitle());
        return false;
    };
}

// The register window's search, once the typing has paused.
Step searched() {
    return [](Program& p, QString& why) {
        auto* w = qobject_cast<RegisterWindow*>(topWindow(p));
        if (!w || !QTest::qWaitFor([w] { return !w->searchPending(); }, 10000)) {
            why = u("okno rejestru nie odpowiedziało na szukanie");
            return false;
        }
        return true;
    };
}

// Ticks of the exchange: the 1000 ms and the 300 ms timer.
Step ticks(int seconds, int shortTicks = 0) {
    return [seconds, shortTicks](Program& p, QString&) {
        for (int i = 0; i < seconds; ++i)
            p.form1->Timer1Timer();
        for (int i = 0; i < shortTicks; ++i)
            p.form1->Timer2Timer();
        return true;
    };
}

// The device, switched off and on, announces itself and is answered.
Step handshake() {
    return [](Program& p, QString& why) {
        p.device.powerOn();
        p.form1->Timer1Timer();
        p.form1->Timer2Timer();
        if (p.form1->session().connected())
            return true;
        why = u("urządzenie nie nawiązało połączenia");
        return false;
    };
}

// The installer's template from the day of the installation, where the file
// dialog answers: since then one user's number, a message and a caller were
// changed in the device.
Step installationTemplate() {
    return [](Program& p, QString& why) {
        trellikon::DeviceSettings s;
        s.image.setBytes(sampleMemory());
        s.decodeAll();
        s.image.writePhoneNumber(trellikon::layout::kUserNumber2, "48602345600");
        s.image.writeText(6, "Brama zamknieta");
        const auto callers = trellikon::removeSubscribers(s, {"48221234567"});
        QFile file(p.files.sbn);
        const auto& bytes = s.image.bytes();
        if (!callers.ok || !file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
            why = u("nie udało się zapisać szablonu do porównania");
            return false;
        }
        return true;
    };
}

// The windows around a checked write, over the window on top. Which windows
// come up depends on what the device and the register hold, so they are shown
// here with the differences the program would find: since the gate's latest
// version the administrator changed user 2's number and added a caller on the
// device; after a write the device kept one digit of a caller's number wrong.
Step writeParts() {
    return [](Program& p, QString&) {
        WritePartsDialog choose(p.form1->dialogContext(), topWindow(p));
        p.form1->stack().showModal(&choose);
        return true;
    };
}

trellikon::SettingsImage::Bytes edited(const std::function<void(trellikon::SettingsImage&)>& edit) {
    trellikon::SettingsImage im;
    im.setBytes(sampleMemory());
    edit(im);
    return im.bytes();
}

Step changedOnSite() {
    return [](Program& p, QString&) {
        namespace checked = trellikon::checked;
        const auto device = edited([](trellikon::SettingsImage& im) {
            im.writePhoneNumber(trellikon::layout::kUserNumber2, "48602345600");
            im.writeSubscriber(6, "48609876543");
        });
        // The last visit left the sample memory, and the program would write it again.
        trellikon::reg::Version latest;
        latest.bytes = sampleMemory();
        latest.info.timeUtc = "2026-03-02T10:05:00.000Z";
        const checked::ChangedOnSite changed = checked::changedOnSite(latest, device, latest.bytes);
        DifferencesDialog ask(p.form1->dialogContext(), DifferencesDialog::Mode::ChangedOnSite,
                              u("Instalacja „Wspólnota Lipowa 5, Tarnów”: ustawienia %1.")
                                  .arg(QString::fromStdString(checked::sinceLine(changed))),
                              changed.differences,
                              u("W wersji z %1").arg(QString::fromStdString(changed.since)),
                              topWindow(p));
        ask.addWrittenColumn(changed.written);
        p.form1->stack().showModal(&ask);
        return true;
    };
}

Step writeMismatch() {
    return [](Program& p, QString&) {
        const auto back =
            edited([](trellikon::SettingsImage& im) { im.writeSubscriber(3, "48603456780"); });
        const trellikon::checked::Verification v = trellikon::checked::verify(sampleMemory(), back);
        DifferencesDialog ask(p.form1->dialogContext(), DifferencesDialog::Mode::WriteMismatch,
                              u("Urządzenie nie zawiera dokładnie wysłanych ustawień. Różnią się:"),
                              v.differences, u("Wysłane"), topWindow(p));
        p.form1->stack().showModal(&ask);
        return true;
    };
}

// The port list as it opens with a programming cable plugged in: an FTDI
// adapter that the system named COM12, after the eight names.
Step portListWithAdapter() {
    return [](Program& p, QString& why) {
        trellikon::UsbAdapter cable;
        cable.maker = "FTDI";
        cable.model = "FT232R USB UART";
        cable.vendorId = 0x0403;
        cable.productId = 0x6001;
        cable.serial = "A50285BI";
        cable.driver = "FTSER2K";
        cable.location = "Port_#0002.Hub_#0001";
        p.form1->ports().extraPorts = [cable] {
            return std::vector<trellikon::PresentPort>{{"COM12", "USB Serial Port", cable}};
        };
        p.form1->ports().adapterBehind = [cable](const std::string& name) {
            return name == "COM12" ? std::optional<trellikon::UsbAdapter>(cable) : std::nullopt;
        };
        // The cable came while the program ran: its line appears as the list opens.
        p.form1->ComboBox1->showPopup();
        if (!QTest::qWaitFor([&p] { return p.form1->ComboBox1->view()->isVisible(); }, 10000)) {
            why = u("lista portów się nie rozwinęła");
            return false;
        }
        return true;
    };
}

// How the program stands when the picture's commands begin.
enum class Start {
    Fresh,     // just started: erased settings, no connection
    Connected, // the device announced itself
    Read,      // and its settings have been read
};

struct Shot {
    QString name;
    Start start;
    std::vector<Step> path;     // each step shows the next window over the last
    std::vector<Step> before{}; // in the last window, before it is taken
    bool withRegister = false;  // the sample register instead of none
    bool company = false;       // that register joined to a company's, with a conflict
};

// Every picture of the manual. A new window is one line here: its name (the
// manual shows obrazy/NAME.png), how the program stands, the commands that lead
// to it, and what to do in it first.
std::vector<Shot> shots() {
    const Step parameters = press("Definicja ustawień i programowanie ukladu");
    const Step texts = press("Definicja alarmów i zapis ustawień");
    const Step subscribers = press("Definicja abonentów");
    return {
        {"okno-glowne", Start::Fresh, {}},
        {"porty-przejsciowka", Start::Fresh, {}, {portListWithAdapter()}},
        {"polaczenie", Start::Fresh, {press("Nawiąż połączenie")}, {handshake()}},
        {"odczyt-blad", Start::Fresh, {press("Odczyt ustawień z ukladu")}},
        {"odczyt", Start::Connected, {press("Odczyt ustawień z ukladu")}, {ticks(9)}},
        {"parametry", Start::Read, {parameters}},
        {"parametry-blad", Start::Read, {parameters, type("Definicja dobowego limitu SMS", "0")}},
        {"komunikaty", Start::Read, {parameters, texts}},
        {"zapis",
         Start::Read,
         {parameters, texts, press("Zapis ustawień do urządzenia")},
         {ticks(9)}},
        {"zapis-czesci", Start::Read, {parameters, texts, writeParts()}},
        {"zapis-zmiany-w-urzadzeniu", Start::Read, {parameters, texts, changedOnSite()}},
        {"zapis-niezgodny", Start::Read, {parameters, texts, writeMismatch()}},
        {"abonenci", Start::Read, {parameters, subscribers}},
        {"abonent-dodaj",
         Start::Read,
         {parameters, subscribers, press("Dodaj abonenta")},
         {type("Numer telefonu", "48609876543"), press("Dodaj")}},
        {"abonent-usun",
         Start::Read,
         {parameters, subscribers, press("Usuń abonenta")},
         {type("Numer telefonu", "48604567890"), press("Usuń")}},
        {"abonenci-import", Start::Read, {parameters, subscribers, press("Import z pliku CSV")}},
        {"schemat-kabla",
         Start::Fresh,
         {press("Schemat podłączenia kabla do programowania urządzenia")}},
        {"schemat-montazowy", Start::Fresh, {press("Schemat montażowy")}},
        {"informacja", Start::Fresh, {press("Informacja o systemie i firmie")}},
        {"porownanie",
         Start::Read,
         {press("Porównaj ustawienia")},
         {installationTemplate(), press("Porównaj z szablonem z dysku")}},
        {"zerwanie", Start::Connected, {parameters, ticks(0, 81)}},
        {"rejestr", Start::Fresh, {press("Rejestr instalacji")}, {}, true},
        {"rejestr-szukaj",
         Start::Fresh,
         {press("Rejestr instalacji")},
         {type("Szukaj", "604 567 890"), searched()},
         true},
        {"rejestr-firmy-polacz",
         Start::Fresh,
         {press("Rejestr instalacji"), press("Połącz z rejestrem firmy…")},
         {type("Serwer", "rejestr.firma.pl"), type("Baza danych", "firma"), type("Login", "jan"),
          type("Certyfikat CA firmy", "/home/jan/firma-ca.crt")},
         true},
        {"rejestr-firmy", Start::Fresh, {press("Rejestr instalacji")}, {}, true, true},
        {"rejestr-firmy-konflikty",
         Start::Fresh,
         {press("Rejestr instalacji"), press("Konflikty (1)")},
         {},
         true,
         true},
    };
}

// ---------------------------------------------------------------------------
// Taking one picture.

class Camera {
  public:
    Camera(QDir out, const trellikon::SettingsImage::Bytes& memory, SampleFiles& files,
           std::string registerPath)
        : out_(std::move(out)), memory_(memory), files_(files),
          registerPath_(std::move(registerPath)) {}

    bool take(const Shot& shot) {
        shot_ = &shot;
        why_.clear();
        Program p(memory_, files_,
                  !shot.withRegister ? std::string()
                  : shot.company     ? registerPath_ + ".firma"
                                     : registerPath_);
        bool ok = prepare(p, shot.start) && openFrom(p, 0);
        if (!ok && why_.isEmpty())
            why_ = u("okno nie zostało pokazane");
        if (!ok)
            std::fprintf(stderr, "%s: %s\n", qPrintable(shot.name), qPrintable(why_));
        return ok;
    }

  private:
    bool prepare(Program& p, Start start) {
        if (start == Start::Fresh)
            return true;
        const bool shown = withWindow([&] { p.form1->SpeedButton1Click(); },
                                      [&](QWidget*) { handshake()(p, why_); });
        if (!shown || !p.form1->session().connected())
            return fail(u("nie udało się połączyć z symulowanym urządzeniem"));
        if (start == Start::Connected)
            return true;
        // The read window's OK would open the editor; it is closed without it.
        withWindow([&] { p.form1->SpeedButton5Click(); }, [&](QWidget*) { ticks(9)(p, why_); });
        if (p.form1->settings().subscribers.entry(1).number.empty())
            return fail(u("odczyt ustawień z symulowanego urządzenia nie powiódł się"));
        return true;
    }

    bool openFrom(Program& p, std::size_t i) {
        const Shot& shot = *shot_;
        if (i == shot.path.size()) {
            for (const Step& step : shot.before)
                if (!step(p, why_))
                    return false;
            return capture(topWindow(p));
        }
        bool stepDone = false, inner = false;
        const bool shown = withWindow([&] { stepDone = shot.path[i](p, why_); },
                                      [&](QWidget*) { inner = openFrom(p, i + 1); });
        if (!stepDone)
            return false;
        if (!shown)
            return fail(u("krok %1 nie otworzył okna").arg(i + 1));
        return inner;
    }

    bool capture(QWidget* window) {
        // An open list is a popup of its own, which activating its window would close.
        QWidget* popup = QApplication::activePopupWidget();
        if (!popup) {
            window->raise();
            window->activateWindow();
        }
        if (!QTest::qWaitForWindowExposed(window, 10000))
            return fail(u("okno „%1” nie pojawiło się na ekranie").arg(window->windowTitle()));
        window->repaint();
        QCoreApplication::processEvents();
        QPixmap picture;
        if (QGuiApplication::platformName() == QStringLiteral("xcb") && popup) {
            // The window and the list over it, as the screen shows them.
            const QRect area = window->geometry().united(popup->geometry());
            picture =
                window->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        } else if (QGuiApplication::platformName() == QStringLiteral("xcb"))
            picture = window->screen()->grabWindow(window->winId());
        else
            picture = window->grab();
        const QImage image = picture.toImage();
        if (image.isNull() || image.width() < window->width() || image.height() < window->height())
            return fail(u("nie udało się odczytać obrazu okna „%1”").arg(window->windowTitle()));
        if (blank(image))
            return fail(u("okno „%1” jest puste").arg(window->windowTitle()));
        const QString file = out_.filePath(shot_->name + QStringLiteral(".png"));
        if (!image.save(file, "PNG"))
            return fail(u("nie udało się zapisać %1").arg(file));
        std::printf("%s\n", qPrintable(file));
        return true;
    }

    static bool blank(const QImage& image) {
        const QRgb first = image.pixel(0, 0);
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                if (image.pixel(x, y) != first)
                    return false;
        return true;
    }

    bool fail(const QString& why) {
        if (why_.isEmpty())
            why_ = why;
        return false;
    }

    QDir out_;
    trellikon::SettingsImage::Bytes memory_;
    SampleFiles& files_;
    std::string registerPath_;
    const Shot* shot_ = nullptr;
    QString why_;
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("trellikon"));
    installQtPolish();
    const QStringList args = QApplication::arguments();
    if (args.size() != 2 || args[1] == QStringLiteral("--help")) {
        std::fprintf(stderr, "usage: trellikon-screenshots DIR | --list\n");
        return 2;
    }
    if (args[1] == QStringLiteral("--list")) {
        for (const Shot& s : shots())
            std::printf("%s\n", qPrintable(s.name));
        return 0;
    }
    QDir out(args[1]);
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(args[1]));
        return 2;
    }
    QTemporaryDir samples;
    SampleFiles files;
    files.csv = samples.filePath(u("mieszkańcy.csv"));
    files.sbn = samples.filePath(QStringLiteral("brama.sbn"));
    const auto memory = sampleMemory();
    QFile csv(files.csv);
    if (!samples.isValid() || !csv.open(QIODevice::WriteOnly) || csv.write(kSampleCsv) < 0) {
        std::fprintf(stderr, "cannot write the sample files\n");
        return 2;
    }
    csv.close();
    const std::string registerPath = samples.filePath(u("rejestr.sqlite")).toStdString();
    if (!writeSampleRegister(registerPath, memory))
        return 2;

    Camera camera(out, memory, files, registerPath);
    int failed = 0;
    for (const Shot& shot : shots())
        if (!camera.take(shot))
            ++failed;
    // The sheet the parameters editor writes for the same installation; the
    // manual shows its first page (scripts/manual.sh makes the picture).
    const trellikon::sheet::SheetOrigin origin{u("plik „brama.sbn”"), QDateTime::currentDateTime()};
    const std::string sheetError =
        trellikon::sheet::writeSheet(out.filePath(u("karta-ustawien.pdf")).toStdString(),
                                     trellikon::inspector::inspect(memory), origin);
    if (!sheetError.empty()) {
        std::fprintf(stderr, "karta-ustawien: %s\n", sheetError.c_str());
        ++failed;
    }
    if (failed) {
        std::fprintf(stderr, "%d window(s) could not be shown\n", failed);
        return 1;
    }
    return 0;
}
