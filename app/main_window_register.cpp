// The main window's part in the installations register: reads and writes
// recorded, the backup before a write, the register window. What is not about
// windows lives in register/ (the journal).
#include "main_window.h"

#include "checked_write_windows.h"
#include "outside_text.h"
#include "program_version.h"
#include "progress_dialog.h"
#include "register_location.h"
#include "register_window.h"
#include "settings_comparison_window.h"
#include "sqlite_register.h"

namespace {

const char* const kNoBackup =
    "Nic nie zostało zapisane do urządzenia: kopii zapasowej jego obecnych ustawień nie można "
    "zachować w rejestrze instalacji (%1).";

const char* const kChecked = "Zapis sprawdzony – urządzenie zawiera dokładnie wysłane ustawienia";

namespace checked = trellikon::checked;
using Bytes = trellikon::SettingsImage::Bytes;

} // namespace

std::unique_ptr<trellikon::reg::RegisterStore> TForm1::openRegisterFile(std::string& error) {
    const std::string path = trellikon::reg::registerPath({});
    if (path.empty()) {
        error = "nie wiadomo, gdzie jest folder danych użytkownika (TRELLIKON_REGISTER)";
        return nullptr;
    }
    return trellikon::reg::SqliteRegister::open(path, error);
}

void TForm1::useRegister(trellikon::reg::Journal::Opener opener) {
    journal_ = trellikon::reg::Journal(std::move(opener), kProgramVersion);
}

trellikon::reg::RegisterStore* TForm1::openedRegister(QWidget* parent) {
    trellikon::reg::RegisterStore* store = journal_.store();
    if (const std::string notice = journal_.takeNotice(); !notice.empty())
        ctx_.messages->error(parent, QString::fromUtf8("Rejestr instalacji: ") +
                                         QString::fromStdString(notice));
    return store;
}

void TForm1::tellLater(const QString& text, const QString& detail) {
    QTimer::singleShot(0, this, [this, text, detail] { ctx_.messages->error(this, text, detail); });
}

// Called from inside the tick that stored the last block: the read is
// committed at once, and the question whose it is comes when the tick is over.
void TForm1::recordRead() {
    if (!journal_.enabled())
        return;
    const auto bytes = settings_.image.bytes();
    const auto stored = journal_.recordRead(bytes, link_.port_name);
    const std::string notice = journal_.takeNotice();
    if (!stored.ok()) {
        tellLater(QString::fromUtf8("Odczyt nie został zapisany w rejestrze instalacji: ") +
                      QString::fromStdString(stored.error),
                  QString::fromStdString(notice));
        return;
    }
    if (!notice.empty())
        tellLater(QString::fromUtf8("Rejestr instalacji: ") + QString::fromStdString(notice));
    devicePresent_ = bytes;
    const trellikon::reg::Id version = stored.value;
    QTimer::singleShot(0, this, [this, version, bytes] { askInstallation(version, bytes); });
}

void TForm1::askInstallation(trellikon::reg::Id version,
                             const trellikon::SettingsImage::Bytes& bytes) {
    trellikon::reg::RegisterStore* store = journal_.store();
    if (!store)
        return;
    AssignDialog ask(ctx_, *store, journal_.proposal(bytes), this);
    stack_.showModal(&ask);
    if (ask.chosen == 0)
        return;
    if (const auto done = journal_.assign(version, ask.chosen); !done.ok())
        ctx_.messages->error(this, QString::fromUtf8("Rejestr instalacji: ") +
                                       QString::fromStdString(done.error));
}

// Before the first write frame the device's present content is committed to
// the register: the read of this connection when nothing was written since,
// else a read into a copy made now. Without it nothing is written. Around it
// the installer chooses the parts to send and sees what was changed on the
// device since the installation's latest version.
bool TForm1::backUpBeforeWrite(QWidget* parent) {
    if (!journal_.enabled())
        return true;
    const auto refuse = [this, parent](const std::string& why) {
        ctx_.messages->error(parent, QString::fromUtf8(kNoBackup).arg(QString::fromStdString(why)));
        return false;
    };
    trellikon::reg::RegisterStore* store = openedRegister(parent);
    if (!store)
        return refuse(journal_.openError());
    if (!store->writable())
        return refuse("rejestr jest uszkodzony i tylko do odczytu");
    checked::Parts parts = checked::kAllParts;
    if (!restoring_) {
        WritePartsDialog choose(ctx_, parent);
        stack_.showModal(&choose);
        if (choose.chosen == 0)
            return false;
        parts = choose.chosen;
    }
    Bytes present{};
    const bool stored = journal_.deviceStored() && devicePresent_;
    if (stored) {
        present = *devicePresent_;
    } else {
        backingUp_ = true;
        link_.readCopyCommand();
        backingUp_ = false;
        const Bytes* copy = link_.readCopy();
        if (!copy || !link_.connected)
            return refuse("odczyt ustawień z urządzenia nie został zakończony");
        present = *copy;
    }
    if (!acceptChangesOnSite(parent, present))
        return false;
    if (!stored) {
        if (const auto backup = journal_.recordBackup(present, link_.port_name); !backup.ok())
            return refuse(backup.error);
    }
    journal_.writeBegun();
    devicePresent_.reset();
    // A part alone: the rest of what is sent is what the device holds; the
    // program keeps its own settings for after the write.
    if (parts != checked::kAllParts) {
        programImage_ = settings_.image.bytes();
        settings_.image.setBytes(checked::merge(present, *programImage_, parts));
    }
    return true;
}

bool TForm1::acceptChangesOnSite(QWidget* parent, const Bytes& present) {
    trellikon::reg::RegisterStore* store = journal_.store();
    trellikon::reg::Id installation = journal_.installation();
    if (installation == 0)
        installation = journal_.proposal(present).installationId;
    if (!store || installation == 0)
        return true;
    const auto latest = store->latest(installation);
    if (!latest.ok() || !latest.value)
        return true;
    const checked::ChangedOnSite changed = checked::changedOnSite(*latest.value, present);
    if (!changed.changed())
        return true;
    const QString name = outside::line(QString::fromStdString(latest.value->info.installationName));
    DifferencesDialog ask(
        ctx_, DifferencesDialog::Mode::ChangedOnSite,
        QString::fromUtf8("Instalacja „%1”: ustawienia %2.")
            .arg(name, QString::fromStdString(checked::sinceLine(changed))),
        changed.differences,
        QString::fromUtf8("W wersji z %1").arg(QString::fromStdString(changed.since)), parent);
    stack_.showModal(&ask);
    if (ask.answer == DifferencesDialog::Answer::Write)
        return true;
    if (ask.answer == DifferencesDialog::Answer::TakeDevice) {
        const Bytes program = restoring_ ? *restoring_ : settings_.image.bytes();
        takeImage(checked::takeDeviceValues(program, latest.value->bytes, present), origin_);
        // What the device holds is this installation's now: the next write
        // compares with it and asks no more about these changes.
        journal_.choose(installation);
        if (journal_.recordBackup(present, link_.port_name).ok())
            devicePresent_ = present;
        ctx_.messages->plain(parent, QString::fromUtf8("Ustawienia zmienione w urządzeniu są "
                                                       "teraz w programie. Nic nie zostało "
                                                       "zapisane: sprawdź ustawienia i zapisz "
                                                       "je ponownie."));
    }
    return false;
}

// Called from inside the tick that took the last acknowledgement: what was
// sent is recorded once the check after the write has its verdict.
void TForm1::recordWrite() {
    if (!journal_.enabled() || !journal_.store())
        return;
    sent_ = settings_.image.bytes();
}

void TForm1::checkWrite(QWidget* parent) {
    if (programImage_) {
        settings_.image.setBytes(*programImage_);
        programImage_.reset();
    }
    if (!sent_)
        return;
    const Bytes sent = *sent_;
    sent_.reset();
    const auto record = [this](const char* kind, const Bytes& bytes) {
        trellikon::reg::RegisterStore* store = journal_.store();
        const auto stored =
            store
                ? store->record(
                      {bytes, kind, link_.port_name, kProgramVersion, journal_.installation(), {}})
                : trellikon::reg::Result<trellikon::reg::Id>{0, journal_.openError()};
        if (!stored.ok())
            ctx_.messages->error(this, QString::fromUtf8("Zapis do urządzenia nie został "
                                                         "odnotowany w rejestrze instalacji: ") +
                                           QString::fromStdString(stored.error));
    };
    backingUp_ = true;
    link_.readCopyCommand();
    backingUp_ = false;
    const Bytes* back = link_.readCopy();
    if (!back || !link_.connected) {
        record(trellikon::reg::kind::kWrite, sent);
        ctx_.messages->error(parent, QString::fromUtf8("Zapisu nie sprawdzono: odczyt ustawień "
                                                       "z urządzenia nie został zakończony."));
        return;
    }
    const checked::Verification v = checked::verify(sent, *back);
    record(v.kind(), sent);
    if (v.same) {
        ctx_.messages->plain(parent, QString::fromUtf8(kChecked));
        return;
    }
    DifferencesDialog ask(ctx_, DifferencesDialog::Mode::WriteMismatch,
                          QString::fromUtf8("Urządzenie nie zawiera dokładnie wysłanych "
                                            "ustawień. Różnią się:"),
                          v.differences, QString::fromUtf8("Wysłane"), parent);
    stack_.showModal(&ask);
    if (ask.answer != DifferencesDialog::Answer::Write || !link_.connected)
        return;
    // Again the same bytes, and checked again.
    const Bytes program = settings_.image.bytes();
    settings_.image.setBytes(sent);
    programImage_ = program;
    link_.beginWrite();
    checkWrite(parent);
}

void TForm1::RegisterButtonClick() {
    trellikon::reg::RegisterStore* store = openedRegister(this);
    if (!store) {
        ctx_.messages->error(this, QString::fromUtf8("Rejestru instalacji nie można otworzyć: ") +
                                       QString::fromStdString(journal_.openError()));
        return;
    }
    register_->setStore(store);
    stack_.showModal(register_);
}

// A restore writes as the alarm texts editor does: only when connected, and
// only once the device's present content is in the register.
void TForm1::writeVersion(const trellikon::reg::Version& version, const QString& origin) {
    QWidget* parent = this;
    if (register_ && stack_.isShown(register_))
        parent = register_;
    link_.disarmWatch();
    if (!link_.connected) {
        ctx_.messages->error(parent,
                             QString::fromUtf8("Zapis ustawień nie może być przeprowadzony, "
                                               "Wybierz port komputera, wyłącz i włącz "
                                               "urządzenie a następnie nacinij przycisk "
                                               "\"Nawiąż połączenie\""));
        return;
    }
    // The device it goes back to is that installation's.
    if (version.info.installationId != 0)
        journal_.choose(version.info.installationId);
    restoring_ = &version.bytes;
    const bool go = backUpBeforeWrite(parent);
    restoring_ = nullptr;
    if (!go)
        return;
    takeImage(version.bytes, origin);
    link_.beginWrite();
    checkWrite(parent);
}
