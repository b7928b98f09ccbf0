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

#include <QDateTime>

#include <ctime>
#include <utility>

namespace {

const char* const kNoBackup =
    "Nic nie zostało zapisane do urządzenia: kopii zapasowej jego obecnych ustawień nie można "
    "zachować w rejestrze instalacji (%1).";

const char* const kChecked = "Zapis sprawdzony – urządzenie zawiera dokładnie wysłane ustawienia";

namespace checked = trellikon::checked;
using Bytes = trellikon::SettingsImage::Bytes;

} // namespace

trellikon::reg::Result<std::unique_ptr<trellikon::reg::Register>> TForm1::openRegisterFile() {
    const std::string path = trellikon::reg::registerPath({});
    if (path.empty())
        return {nullptr,
                trellikon::reg::registerFailure(
                    "nie wiadomo, gdzie jest folder danych użytkownika (TRELLIKON_REGISTER)")};
    return trellikon::reg::openRegister(path);
}

void TForm1::useRegister(trellikon::reg::Journal::Opener opener, std::string file) {
    opener_ = opener;
    registerFile_ = std::move(file);
    journal_ = trellikon::reg::Journal(std::move(opener), kProgramVersion);
    session_.useStore(journal_.enabled() ? &journal_ : nullptr);
}

trellikon::reg::Register* TForm1::openedRegister(QWidget* parent) {
    trellikon::reg::Register* store = journal_.store();
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
                      QString::fromStdString(stored.failure.message),
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
    trellikon::reg::Register* store = journal_.store();
    if (!store)
        return;
    AssignDialog ask(ctx_, *store, journal_.proposal(bytes), this);
    stack_.showModal(&ask);
    readLeftUnassigned_ = ask.chosen == 0;
    if (ask.chosen == 0)
        return;
    if (const auto done = journal_.assign(version, ask.chosen); !done.ok())
        ctx_.messages->error(this, QString::fromUtf8("Rejestr instalacji: ") +
                                       QString::fromStdString(done.failure.message));
}

// Before the first write frame the session has the device's present content
// committed to the register: the read of this connection when nothing was
// written since, else a read into a copy made now. Without it nothing is
// written. With the register kept, the installer first chooses the parts to
// send, sees what was changed on the device since the installation's latest
// version, and the device is read back after the write.
void TForm1::writeSettings(QWidget* parent) {
    writeParent_ = parent;
    // Sent again, a write cut short goes over the same parts as before.
    parts_ = rewrite_ ? rewrite_->parts : checked::kAllParts;
    latestBefore_.reset();
    programImage_.reset();
    trellikon::WriteSteps steps;
    if (journal_.enabled()) {
        trellikon::reg::Register* store = openedRegister(parent); // its notice, once
        if (!restore_ && !rewrite_) {
            WritePartsDialog choose(ctx_, parent);
            stack_.showModal(&choose);
            if (choose.chosen == 0)
                return;
            parts_ = choose.chosen;
        }
        // The latest version as it stands before this write's backup joins it.
        if (store && store->writable() && journal_.installation() != 0)
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
    journal_.restoring(0);
    // Only the write without the register goes on (offerRecovery).
    std::optional<Interrupted> rewrite = std::exchange(rewrite_, std::nullopt);
    QWidget* parent = writeParent_ ? writeParent_ : this;
    const QString text =
        QString::fromUtf8(kNoBackup).arg(QString::fromStdString(session_.backupError()));
    // The register itself refused (damaged, not to be opened), not the
    // device's read or the disk at the commit: there is something to do.
    const bool withFile = fileBackup_ != nullptr;
    endFileBackup();
    trellikon::reg::Register* store = journal_.enabled() ? journal_.store() : nullptr;
    if (!withFile && journal_.enabled() && (!store || !store->writable())) {
        rewrite_ = std::move(rewrite);
        offerRecovery(parent, text);
        return;
    }
    restore_.reset();
    ctx_.messages->error(parent, text);
}

void TForm1::endFileBackup() {
    if (!fileBackup_)
        return;
    session_.useStore(journal_.enabled() ? &journal_ : nullptr);
    fileBackup_.reset();
}

void TForm1::offerRecovery(QWidget* parent, const QString& why, bool writing) {
    namespace reg = trellikon::reg;
    const std::string file = registerFile_.empty() ? reg::registerPath({}) : registerFile_;
    const std::optional<reg::DailyCopy> copy = file.empty() ? std::nullopt : reg::newestCopy(file);
    RegisterTroubleDialog ask(ctx_, why, copy ? QString::fromStdString(copy->day) : QString(),
                              writing, parent);
    stack_.showModal(&ask);
    using Answer = RegisterTroubleDialog::Answer;
    // A version being restored goes on only with the write without the register.
    std::optional<Restore> restore = std::exchange(restore_, std::nullopt);
    std::optional<Interrupted> rewrite = std::exchange(rewrite_, std::nullopt);
    if (ask.answer == Answer::Cancel)
        return;
    if (ask.answer == Answer::WithoutRegister) {
        QString path = ctx_.files->saveFileName(parent, QString::fromLatin1(OpenDialog1Filter));
        if (path.isEmpty())
            return;
        restore_ = std::move(restore);
        rewrite_ = std::move(rewrite);
        if (!path.endsWith(QStringLiteral(".sbn"), Qt::CaseInsensitive))
            path += QStringLiteral(".sbn");
        // The backup's read goes into the file before the first frame.
        fileBackup_ = std::make_unique<reg::FileBackup>(fileLayerPath(path));
        session_.useStore(fileBackup_.get());
        trellikon::WriteSteps steps;
        steps.verify = true;
        session_.write(steps);
        return;
    }
    if (file.empty())
        return;
    // The damaged file is closed before it is moved, and opened anew after.
    const reg::Journal::Opener opener = opener_;
    journal_ = reg::Journal({}, kProgramVersion);
    session_.useStore(nullptr);
    const QDateTime now = QDateTime::currentDateTime();
    std::tm when{};
    when.tm_year = now.date().year() - 1900;
    when.tm_mon = now.date().month() - 1;
    when.tm_mday = now.date().day();
    when.tm_hour = now.time().hour();
    when.tm_min = now.time().minute();
    when.tm_sec = now.time().second();
    const std::string aside = reg::asideName(file, when);
    std::string failed = ask.answer == Answer::RestoreCopy && copy
                             ? reg::restoreCopy(file, *copy, aside)
                             : reg::putAside(file, aside);
    if (failed.empty() && ask.answer != Answer::RestoreCopy) {
        // The installer asked for a new register: the daily copies beside the
        // old one no longer keep it from being made.
        reg::OpenOptions fresh;
        fresh.createNew = true;
        fresh.dailyCopy = false;
        if (const auto made = reg::openRegister(file, fresh); !made.ok()) {
            failed = made.failure.message;
            // Back where it was, as the message will say.
            for (const char* part : {"", "-wal", "-shm"})
                reg::removeFile(file + part);
            reg::putAside(aside, file);
        }
    }
    useRegister(opener, registerFile_);
    // The register window shows the register opened now, not the one closed.
    if (register_)
        register_->setStore(journal_.store());
    if (!failed.empty()) {
        ctx_.messages->error(parent, QString::fromUtf8("Rejestru instalacji nie zmieniono: ") +
                                         QString::fromStdString(failed));
        return;
    }
    const QString kept = QString::fromStdString(aside);
    reg::Register* store = journal_.store();
    if (!store || !store->writable()) {
        ctx_.messages->error(
            parent,
            QString::fromUtf8("Rejestr instalacji nadal nie działa: ") +
                QString::fromStdString(store ? store->notice() : journal_.openError().message),
            QString::fromUtf8("Poprzedni plik rejestru zachowano jako „%1”.").arg(kept));
        return;
    }
    ctx_.messages->plain(
        parent,
        (ask.answer == Answer::RestoreCopy
             ? QString::fromUtf8("Rejestr instalacji przywrócono z kopii z %1.")
                   .arg(QString::fromStdString(copy->day))
             : QString::fromUtf8("Utworzono nowy rejestr instalacji.")) +
            QString::fromUtf8(" Poprzedni plik rejestru zachowano jako „%1”. Nic nie zostało "
                              "zapisane do urządzenia: zapisz ustawienia ponownie.")
                .arg(kept));
}

void TForm1::decideWrite() {
    const std::optional<Bytes>& present = session_.backup();
    // A restore shows all it changes on the device, what was changed there
    // since the last visit with it.
    const Bytes program = restore_   ? restore_->bytes
                          : rewrite_ ? rewrite_->sent
                                     : session_.settings().image.bytes();
    const Bytes toWrite = parts_ != checked::kAllParts && present
                              ? checked::merge(*present, program, parts_)
                              : program;
    const bool go = !journal_.enabled() || !present ||
                    (restore_ ? confirmRestore(writeParent_, *present)
                              : acceptChangesOnSite(writeParent_, *present, toWrite));
    if (!go) {
        restore_.reset();
        rewrite_.reset();
        session_.cancel();
        return;
    }
    if (restore_) {
        takeImage(restore_->bytes, restore_->origin);
        journal_.restoring(restore_->info.id);
        restore_.reset();
    }
    // A part alone: the rest of what is sent is what the device holds; the
    // program keeps its own settings for after the write. So it does while
    // the bytes of a write cut short are sent again.
    if ((parts_ != checked::kAllParts && present) || rewrite_) {
        programImage_ = session_.settings().image.bytes();
        session_.proceed(toWrite);
        return;
    }
    session_.proceed();
}

bool TForm1::confirmRestore(QWidget* parent, const Bytes& present) {
    const trellikon::reg::VersionInfo& v = restore_->info;
    const trellikon::comparison::Comparison change =
        trellikon::comparison::compareImages(restore_->bytes, present);
    QString heading =
        QString::fromUtf8("Wersja %1 z %2 zostanie zapisana do urządzenia.")
            .arg(QString::number(v.id), QString::fromStdString(checked::localDay(v.timeUtc)));
    heading += change.equal()
                   ? QString::fromUtf8(" Urządzenie zawiera już dokładnie te ustawienia.")
                   : QString::fromUtf8(" Zmienią się ustawienia:");
    DifferencesDialog ask(ctx_, DifferencesDialog::Mode::Restore, heading, change,
                          QString::fromUtf8("Wersja %1 (zostanie zapisana)").arg(v.id), parent);
    stack_.showModal(&ask);
    return ask.answer == DifferencesDialog::Answer::Write;
}

// Asked against the installation this connection's read was given. A read
// the installer left unassigned says the device is none of them as far as
// anyone knows: no question. Without a read of this connection (a next
// visit, the backup read its first look) the closest installation's.
bool TForm1::acceptChangesOnSite(QWidget* parent, const Bytes& present, const Bytes& toWrite) {
    // A damaged register (a write with a file for its backup) is not asked.
    trellikon::reg::Register* store = journal_.store();
    if (!store || !store->writable())
        return true;
    std::optional<trellikon::reg::Version> latest = latestBefore_;
    if (!latest) {
        if (readLeftUnassigned_)
            return true;
        const trellikon::reg::Id proposed = journal_.proposal(present).installationId;
        if (proposed == 0)
            return true;
        auto found = store->latest(proposed);
        if (!found.ok() || !found.value)
            return true;
        latest = std::move(*found.value);
    }
    // After a write of ours cut short the device holds a mixture of two
    // recorded versions: only changes beyond that are asked about.
    if (const auto before = journal_.beforeInterrupted(*latest))
        latest->bytes = checked::afterInterruptedWrite(latest->bytes, *before, present);
    const checked::ChangedOnSite changed = checked::changedOnSite(*latest, present, toWrite);
    if (!changed.changed())
        return true;
    const QString name = outside::line(QString::fromStdString(latest->info.installationName));
    DifferencesDialog ask(
        ctx_, DifferencesDialog::Mode::ChangedOnSite,
        QString::fromUtf8("Instalacja „%1”: ustawienia %2.")
            .arg(name, QString::fromStdString(checked::sinceLine(changed))),
        changed.differences,
        QString::fromUtf8("W wersji z %1").arg(QString::fromStdString(changed.since)), parent);
    ask.addWrittenColumn(changed.written);
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
    journal_.restoring(0); // recorded by now, or never
    rewrite_.reset();
    if (fileBackup_) {
        endFileBackup(); // nothing recorded: the copy is the file
        recorded = false;
    }
    if (programImage_)
        session_.settings().image.setBytes(*std::exchange(programImage_, std::nullopt));
    if (!recorded || !journal_.enabled())
        return;
    const auto& stored = journal_.lastWrite();
    if (!stored.ok())
        tellLater(QString::fromUtf8("Zapis do urządzenia nie został odnotowany w rejestrze "
                                    "instalacji: ") +
                  QString::fromStdString(stored.failure.message));
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
    trellikon::reg::Register* store = openedRegister(this);
    if (!store) {
        const QString why = QString::fromUtf8("Rejestru instalacji nie można otworzyć: ") +
                            QString::fromStdString(journal_.openError().message);
        if (!journal_.enabled()) {
            ctx_.messages->error(this, why);
            return;
        }
        offerRecovery(this, why, false);
        store = journal_.store();
        if (!store)
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
    if (!writeAllowed(parent))
        return;
    // The device it goes back to is that installation's.
    if (version.info.installationId != 0)
        journal_.choose(version.info.installationId);
    // The version becomes the program's settings only once the backup is kept.
    restore_ = Restore{version.bytes, origin, version.info};
    writeSettings(parent);
}

bool TForm1::writeAllowed(QWidget* parent) {
    if (session_.writeAllowed())
        return true;
    ctx_.messages->error(parent, QString::fromUtf8("Zapis ustawień nie może być przeprowadzony, "
                                                   "Wybierz port komputera, wyłącz i włącz "
                                                   "urządzenie a następnie nacinij przycisk "
                                                   "\"Nawiąż połączenie\""));
    return false;
}

void TForm1::keepInterruptedWrite() {
    Interrupted cut;
    cut.sent = session_.sent();
    cut.parts = parts_;
    cut.blocks = session_.blocksAcknowledged();
    cut.backupVersion = session_.backupVersion();
    cut.installation = journal_.enabled() ? journal_.installation() : 0;
    // Cut short again while sent once more: the backup of that attempt holds
    // the mixture the first one left, the copy to go back to is the first's.
    if (rewrite_ && rewrite_->backupVersion != 0)
        cut.backupVersion = rewrite_->backupVersion;
    interrupted_ = std::move(cut);
}

// Asked at every connection until a write reaches its last block: "later"
// leaves the device as the cut left it, and the installer may be at another
// device by the next connection (the checked write then asks what changed).
void TForm1::offerInterruptedWrite() {
    if (!interrupted_)
        return;
    const Interrupted cut = *interrupted_;
    InterruptedWriteDialog ask(
        ctx_,
        QString::fromStdString(trellikon::interruptedWriteText(cut.blocks, cut.backupVersion)),
        cut.backupVersion != 0, this);
    stack_.showModal(&ask);
    using Answer = InterruptedWriteDialog::Answer;
    if (ask.answer == Answer::Later)
        return;
    if (ask.answer == Answer::RestoreCopy) {
        // Through the restore: the differences first, recorded as the restore of that version.
        trellikon::reg::Register* store = openedRegister(this);
        auto found = store ? store->version(cut.backupVersion)
                           : trellikon::reg::Result<std::optional<trellikon::reg::Version>>{
                                 std::nullopt, journal_.openError()};
        if (!found.ok() || !found.value) {
            ctx_.messages->error(
                this, QString::fromUtf8("Kopii sprzed zapisu (wersja %1) nie można odczytać z "
                                        "rejestru instalacji: %2")
                          .arg(QString::number(cut.backupVersion),
                               QString::fromStdString(found.ok() ? "nie ma jej w rejestrze"
                                                                 : found.failure.message)));
            return;
        }
        writeVersion(*found.value,
                     QString::fromUtf8("rejestr: wersja %1, kopia sprzed przerwanego zapisu")
                         .arg(cut.backupVersion));
        return;
    }
    if (!writeAllowed(this))
        return;
    if (cut.installation != 0)
        journal_.choose(cut.installation);
    rewrite_ = cut;
    writeSettings(this);
}
