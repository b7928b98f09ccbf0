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

#include <utility>

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
    session_.useStore(journal_.enabled() ? &journal_ : nullptr);
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

// Called from inside the tick that stored the last block, where the session
// has committed the read: what it says, and the question whose it is, come
// when the tick is over.
void TForm1::tellRead() {
    if (!journal_.enabled())
        return;
    const auto bytes = session_.settings().image.bytes();
    const auto stored = journal_.lastRead();
    const std::string notice = journal_.takeNotice();
    if (!stored.ok()) {
        tellLater(QString::fromUtf8("Odczyt nie został zapisany w rejestrze instalacji: ") +
                      QString::fromStdString(stored.error),
                  QString::fromStdString(notice));
        return;
    }
    if (!notice.empty())
        tellLater(QString::fromUtf8("Rejestr instalacji: ") + QString::fromStdString(notice));
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

// Before the first write frame the session has the device's present content
// committed to the register: the read of this connection when nothing was
// written since, else a read into a copy made now. Without it nothing is
// written. With the register kept, the installer first chooses the parts to
// send, sees what was changed on the device since the installation's latest
// version, and the device is read back after the write.
void TForm1::writeSettings(QWidget* parent) {
    writeParent_ = parent;
    parts_ = checked::kAllParts;
    latestBefore_.reset();
    programImage_.reset();
    trellikon::WriteSteps steps;
    if (journal_.enabled()) {
        trellikon::reg::RegisterStore* store = openedRegister(parent); // its notice, once
        if (!restore_) {
            WritePartsDialog choose(ctx_, parent);
            stack_.showModal(&choose);
            if (choose.chosen == 0)
                return;
            parts_ = choose.chosen;
        }
        // The latest version as it stands before this write's backup joins it.
        if (store && journal_.installation() != 0)
            if (auto latest = store->latest(journal_.installation()); latest.ok() && latest.value)
                latestBefore_ = std::move(*latest.value);
        steps.verify = true;
    }
    session_.write(steps);
    // The steps that follow (the write after the backup, the read-back, the
    // verdict) run here once each window before them has closed, unless the
    // event loop got to them first.
    while (deferred_ && !stack_.isShown(ctx_.form5))
        runDeferred();
}

// The write window keeps its own end: the read-back and the verdict wait
// until the installer has closed it with OK.
void TForm1::runDeferred() {
    if (stack_.isShown(ctx_.form5))
        return;
    if (auto step = std::exchange(deferred_, nullptr))
        step();
}

void TForm1::tellNoBackup() {
    restore_.reset();
    ctx_.messages->error(
        writeParent_ ? writeParent_ : this,
        QString::fromUtf8(kNoBackup).arg(QString::fromStdString(session_.backupError())));
}

void TForm1::decideWrite() {
    const std::optional<Bytes>& present = session_.backup();
    if (journal_.enabled() && present && !acceptChangesOnSite(writeParent_, *present)) {
        restore_.reset();
        session_.cancel();
        return;
    }
    if (restore_) {
        takeImage(restore_->bytes, restore_->origin);
        restore_.reset();
    }
    // A part alone: the rest of what is sent is what the device holds; the
    // program keeps its own settings for after the write.
    if (parts_ != checked::kAllParts && present) {
        programImage_ = session_.settings().image.bytes();
        session_.proceed(checked::merge(*present, *programImage_, parts_));
        return;
    }
    session_.proceed();
}

bool TForm1::acceptChangesOnSite(QWidget* parent, const Bytes& present) {
    trellikon::reg::RegisterStore* store = journal_.store();
    if (!store)
        return true;
    std::optional<trellikon::reg::Version> latest = latestBefore_;
    if (!latest) {
        // No installation chosen in this connection: the closest one's.
        const trellikon::reg::Id proposed = journal_.proposal(present).installationId;
        if (proposed == 0)
            return true;
        auto found = store->latest(proposed);
        if (!found.ok() || !found.value)
            return true;
        latest = std::move(*found.value);
    }
    // What the device holds that this write would overwrite.
    const checked::ChangedOnSite changed = checked::changedOnSite(
        *latest, present,
        parts_ != checked::kAllParts
            ? checked::merge(present,
                             restore_ ? restore_->bytes : session_.settings().image.bytes(), parts_)
            : (restore_ ? restore_->bytes : session_.settings().image.bytes()));
    if (!changed.changed())
        return true;
    const QString name = outside::line(QString::fromStdString(latest->info.installationName));
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
        const Bytes program = restore_ ? restore_->bytes : session_.settings().image.bytes();
        takeImage(checked::takeDeviceValues(program, latest->bytes, present), origin_);
        // What the device holds is this installation's now: the next write
        // compares with it and asks no more about these changes.
        journal_.choose(latest->info.installationId);
        journal_.recordBackup(present, session_.portName());
        ctx_.messages->plain(parent, QString::fromUtf8("Ustawienia zmienione w urządzeniu są "
                                                       "teraz w programie. Nic nie zostało "
                                                       "zapisane: sprawdź ustawienia i zapisz "
                                                       "je ponownie."));
    }
    return false;
}

// The write is over (acknowledged, failed, or read back): the program's own
// settings come back if a part alone was sent over the device's.
void TForm1::tellWrite(bool recorded) {
    if (programImage_)
        session_.settings().image.setBytes(*std::exchange(programImage_, std::nullopt));
    if (!recorded || !journal_.enabled())
        return;
    const auto& stored = journal_.lastWrite();
    if (!stored.ok())
        tellLater(QString::fromUtf8("Zapis do urządzenia nie został odnotowany w rejestrze "
                                    "instalacji: ") +
                  QString::fromStdString(stored.error));
}

// Once the read-back's tick is over: what the device holds against what was sent.
void TForm1::showVerdict() {
    QWidget* parent = writeParent_ ? writeParent_ : this;
    const std::optional<Bytes>& back = session_.readBack();
    if (!back) {
        ctx_.messages->error(parent, QString::fromUtf8("Zapisu nie sprawdzono: odczyt ustawień "
                                                       "z urządzenia nie został zakończony."));
        return;
    }
    const Bytes sent = session_.sent();
    const checked::Verification v = checked::verify(sent, *back);
    if (v.same) {
        ctx_.messages->plain(parent, QString::fromUtf8(kChecked));
        return;
    }
    DifferencesDialog ask(ctx_, DifferencesDialog::Mode::WriteMismatch,
                          QString::fromUtf8("Urządzenie nie zawiera dokładnie wysłanych "
                                            "ustawień. Różnią się:"),
                          v.differences, QString::fromUtf8("Wysłane"), parent);
    stack_.showModal(&ask);
    if (ask.answer != DifferencesDialog::Answer::Write || !session_.connected())
        return;
    // Again the same bytes, and checked again; the program keeps its own.
    programImage_ = session_.settings().image.bytes();
    trellikon::WriteSteps steps;
    steps.verify = true;
    steps.again = true;
    session_.write(sent, steps);
}

void TForm1::RegisterButtonClick() {
    trellikon::reg::RegisterStore* store = openedRegister(this);
    if (!store) {
        ctx_.messages->error(this, QString::fromUtf8("Rejestru instalacji nie można otworzyć: ") +
                                       QString::fromStdString(journal_.openError()));
        return;
    }
    register_->setStore(store);
    register_->comparison = comparison_;
    stack_.showModal(register_);
}

// A restore writes as the alarm texts editor does: only when connected, and
// only once the device's present content is in the register.
void TForm1::writeVersion(const trellikon::reg::Version& version, const QString& origin) {
    QWidget* parent = this;
    if (register_ && stack_.isShown(register_))
        parent = register_;
    if (!session_.writeAllowed()) {
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
    // The version becomes the program's settings only once the backup is kept.
    restore_ = Restore{version.bytes, origin};
    writeSettings(parent);
}
