// The main window's part in the installations register: reads and writes
// recorded, the backup before a write, the register's command and window.
// What is not about windows lives in register/ (the journal).
#include "main_window.h"

#include "button_icons.h"
#include "checked_write_windows.h"
#include "outside_text.h"
#include "program_version.h"
#include "progress_dialog.h"
#include "register_location.h"
#include "register_window.h"
#include "settings_comparison_window.h"
#include "write_decision.h"

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

// Every complete read and write is kept in the register at the default
// place; useRegister() puts another in its stead. The opener is kept, so
// that a register put aside or restored from its copy is opened again.
void TForm1::setUpRegister() {
    useRegister(openRegisterFile);
}

// The register's command sits with the others, below the comparison's.
void TForm1::addRegisterCommand() {
    RegisterLabel = commandLabel(this, "RegisterLabel", QString::fromUtf8("Rejestr instalacji"));
    RegisterButton =
        addCommand("RegisterButton", int(CommandPicture::Register), RegisterLabel->text());
    connect(RegisterButton, &QToolButton::clicked, this, [this] { RegisterButtonClick(); });
}

// Made after the comparison window, whose take and compare it lends.
void TForm1::createRegisterWindow() {
    register_ = new RegisterWindow(dialogs_, this);
    register_->open = comparison_->take;
    register_->compare = [this](const trellikon::SettingsImage::Bytes& bytes,
                                const QString& origin) {
        comparison_->compareWithSaved(bytes, origin);
        stack_.showModal(comparison_);
    };
    register_->write = [this](const trellikon::reg::Version& version, const QString& origin) {
        writeVersion(version, origin);
    };
    companySync_ = new CompanySync(this);
    companySync_->changed = [this] {
        register_->showCompany();
        // What the sync brought in shows once it has ended.
        if (!companySync_->running() && register_->isVisible())
            register_->refresh();
    };
    register_->synchronise = [this] { syncCompany(); };
    register_->companyOutcome = [this] { return companySync_->outcome(); };
    auto* every = new QTimer(this);
    every->setInterval(5 * 60 * 1000);
    connect(every, &QTimer::timeout, this, [this] { syncCompany(); });
    every->start();
}

void TForm1::syncCompany() {
    // Only a register already open: a sync never opens one by itself.
    if (!companySync_ || !journal_.opened())
        return;
    trellikon::reg::Register* store = journal_.store();
    if (!store || !store->company() || trellikon::reg::companyAddress().empty())
        return;
    companySync_->request(registerFile_.empty() ? trellikon::reg::registerPath({}) : registerFile_);
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
        dialogs_.messages->error(parent, QString::fromUtf8("Rejestr instalacji: ") +
                                             QString::fromStdString(notice));
    return store;
}

void TForm1::tellLater(const QString& text, const QString& detail) {
    QTimer::singleShot(0, this,
                       [this, text, detail] { dialogs_.messages->error(this, text, detail); });
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
    syncCompany();
}

void TForm1::askInstallation(trellikon::reg::Id version,
                             const trellikon::SettingsImage::Bytes& bytes) {
    trellikon::reg::Register* store = journal_.store();
    if (!store)
        return;
    AssignDialog ask(dialogs_, *store, journal_.proposal(bytes), this);
    stack_.showModal(&ask);
    readLeftUnassigned_ = ask.chosen == 0;
    if (ask.chosen == 0)
        return;
    if (const auto done = journal_.assign(version, ask.chosen); !done.ok())
        dialogs_.messages->error(this, QString::fromUtf8("Rejestr instalacji: ") +
                                           QString::fromStdString(done.failure.message));
    syncCompany();
}

// Before the first write frame the session has the device's present content
// committed to the register: the read of this connection when nothing was
// written since, else a read into a copy made now. Without it nothing is
// written. With the register kept, the installer first chooses the parts to
// send, the write's decision says what to ask about the device (register/
// write_decision.h), and the device is read back after the write.
void TForm1::writeSettings(QWidget* parent) {
    writeParent_ = parent;
    trellikon::WriteSteps steps;
    checked::Parts parts = checked::kAllParts;
    if (journal_.enabled()) {
        openedRegister(parent); // its notice, once
        if (!restore_ && !rewrite_) {
            WritePartsDialog choose(dialogs_, parent);
            stack_.showModal(&choose);
            if (choose.chosen == 0)
                return;
            parts = choose.chosen;
        }
        steps.verify = true;
    }
    beginDecision(parts);
    session_.write(steps);
    // The steps that follow (the write after the backup, the read-back, the
    // verdict) run here once each window before them has closed, unless the
    // event loop got to them first.
    while (session_.stepWaiting() && !stack_.isShown(windows_.form5))
        runDeferred();
}

// What the write sends and whose it is, taken before the backup's read: the
// installation's latest version as it stands before the backup joins it.
void TForm1::beginDecision(checked::Parts parts) {
    checked::WriteRequest request;
    request.settings = session_.settings().image.bytes();
    request.parts = parts;
    request.showRestore = true;
    request.closest = true;
    request.readLeftUnassigned = readLeftUnassigned_;
    if (restore_) {
        request.sending = restore_->bytes;
        request.restoring = restore_->info;
    }
    // Sent again, a write cut short goes over the same parts as before.
    if (rewrite_) {
        request.sending = rewrite_->sent;
        request.parts = rewrite_->parts;
    }
    verdict_.reset();
    decision_.emplace(&journal_, std::move(request));
    decision_->begin();
}

// The write window keeps its own end: the read-back and the verdict wait
// until the installer has closed it with OK.
void TForm1::runDeferred() {
    if (!stack_.isShown(windows_.form5))
        session_.runDeferred();
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
    dialogs_.messages->error(parent, text);
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
    RegisterTroubleDialog ask(dialogs_, why, copy ? QString::fromStdString(copy->day) : QString(),
                              writing, parent);
    stack_.showModal(&ask);
    using Answer = RegisterTroubleDialog::Answer;
    // A version being restored goes on only with the write without the register.
    std::optional<Restore> restore = std::exchange(restore_, std::nullopt);
    std::optional<Interrupted> rewrite = std::exchange(rewrite_, std::nullopt);
    if (ask.answer == Answer::Cancel)
        return;
    if (ask.answer == Answer::WithoutRegister) {
        QString path = dialogs_.files->saveFileName(parent, QString::fromLatin1(OpenDialog1Filter));
        if (path.isEmpty())
            return;
        restore_ = std::move(restore);
        rewrite_ = std::move(rewrite);
        if (!path.endsWith(QStringLiteral(".sbn"), Qt::CaseInsensitive))
            path += QStringLiteral(".sbn");
        // The backup's read goes into the file before the first frame.
        fileBackup_ = std::make_unique<reg::FileBackup>(fileLayerPath(path));
        session_.useStore(fileBackup_.get());
        beginDecision(decision_ ? decision_->parts() : checked::kAllParts);
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
        dialogs_.messages->error(parent, QString::fromUtf8("Rejestru instalacji nie zmieniono: ") +
                                             QString::fromStdString(failed));
        return;
    }
    const QString kept = QString::fromStdString(aside);
    reg::Register* store = journal_.store();
    if (!store || !store->writable()) {
        dialogs_.messages->error(
            parent,
            QString::fromUtf8("Rejestr instalacji nadal nie działa: ") +
                QString::fromStdString(store ? store->notice() : journal_.openError().message),
            QString::fromUtf8("Poprzedni plik rejestru zachowano jako „%1”.").arg(kept));
        return;
    }
    dialogs_.messages->plain(
        parent,
        (ask.answer == Answer::RestoreCopy
             ? QString::fromUtf8("Rejestr instalacji przywrócono z kopii z %1.")
                   .arg(QString::fromStdString(copy->day))
             : QString::fromUtf8("Utworzono nowy rejestr instalacji.")) +
            QString::fromUtf8(" Poprzedni plik rejestru zachowano jako „%1”. Nic nie zostało "
                              "zapisane do urządzenia: zapisz ustawienia ponownie.")
                .arg(kept));
}

// At the decision step: the question the write's decision returns, asked,
// and its answer given back; the session sends what the decision says.
void TForm1::decideWrite() {
    using Kind = checked::WriteDecision::Question::Kind;
    using Answer = checked::WriteDecision::Answer;
    if (!decision_)
        beginDecision(checked::kAllParts);
    const checked::WriteDecision::Question& q = decision_->question(session_.backup());
    const Answer answer = q.kind == Kind::Restore         ? confirmRestore(writeParent_, q)
                          : q.kind == Kind::ChangedOnSite ? askChangedOnSite(writeParent_, q)
                                                          : Answer::Write;
    const checked::WriteDecision::Decision d = decision_->answer(answer, session_.portName());
    if (!d.write) {
        if (d.settings) {
            takeImage(*d.settings, origin_);
            if (!d.failure.ok())
                dialogs_.messages->error(writeParent_,
                                         QString::fromUtf8("Rejestr instalacji: ") +
                                             QString::fromStdString(d.failure.message));
            dialogs_.messages->plain(writeParent_,
                                     QString::fromUtf8("Ustawienia zmienione w urządzeniu są "
                                                       "teraz w programie. Nic nie zostało "
                                                       "zapisane: sprawdź ustawienia i zapisz "
                                                       "je ponownie."));
        }
        restore_.reset();
        rewrite_.reset();
        session_.cancel();
        return;
    }
    // A version restored becomes the program's settings once its backup is kept.
    if (d.settings && restore_)
        takeImage(*d.settings, restore_->origin);
    restore_.reset();
    session_.proceed(d.toWrite);
}

checked::WriteDecision::Answer TForm1::confirmRestore(QWidget* parent,
                                                      const checked::WriteDecision::Question& q) {
    const trellikon::reg::VersionInfo& v = q.restoring;
    QString heading =
        QString::fromUtf8("Wersja %1 z %2 zostanie zapisana do urządzenia.")
            .arg(QString::number(v.id), QString::fromStdString(checked::localDay(v.timeUtc)));
    heading += q.restoreChange.equal()
                   ? QString::fromUtf8(" Urządzenie zawiera już dokładnie te ustawienia.")
                   : QString::fromUtf8(" Zmienią się ustawienia:");
    DifferencesDialog ask(dialogs_, DifferencesDialog::Mode::Restore, heading, q.restoreChange,
                          QString::fromUtf8("Wersja %1 (zostanie zapisana)").arg(v.id), parent);
    stack_.showModal(&ask);
    return ask.answer == DifferencesDialog::Answer::Write ? checked::WriteDecision::Answer::Write
                                                          : checked::WriteDecision::Answer::Cancel;
}

checked::WriteDecision::Answer TForm1::askChangedOnSite(QWidget* parent,
                                                        const checked::WriteDecision::Question& q) {
    using Answer = checked::WriteDecision::Answer;
    const QString name = outside::line(QString::fromStdString(q.installationName));
    DifferencesDialog ask(
        dialogs_, DifferencesDialog::Mode::ChangedOnSite,
        QString::fromUtf8("Instalacja „%1”: ustawienia %2.")
            .arg(name, QString::fromStdString(checked::sinceLine(q.changed))),
        q.changed.differences,
        QString::fromUtf8("W wersji z %1").arg(QString::fromStdString(q.changed.since)), parent);
    ask.addWrittenColumn(q.changed.written);
    stack_.showModal(&ask);
    return ask.answer == DifferencesDialog::Answer::Write        ? Answer::Write
           : ask.answer == DifferencesDialog::Answer::TakeDevice ? Answer::TakeDevice
                                                                 : Answer::Cancel;
}

// The write is over (acknowledged, failed, or read back).
void TForm1::tellWrite(bool recorded) {
    journal_.restoring(0); // recorded by now, or never
    rewrite_.reset();
    if (fileBackup_) {
        endFileBackup(); // nothing recorded: the copy is the file
        recorded = false;
    }
    if (!recorded || !journal_.enabled())
        return;
    const auto& stored = journal_.lastWrite();
    if (!stored.ok())
        tellLater(QString::fromUtf8("Zapis do urządzenia nie został odnotowany w rejestrze "
                                    "instalacji: ") +
                  QString::fromStdString(stored.failure.message));
    syncCompany();
}

// The read-back is in: judged at once, so that the write's record has its
// verdict before anything waits for the installer.
void TForm1::judgeWrite() {
    const std::optional<Bytes>& back = session_.readBack();
    if (!back || !decision_)
        return;
    verdict_ = decision_->verdict(session_.sent(), *back);
    syncCompany();
}

// Once the read-back's tick is over: what the device holds against what was sent.
void TForm1::showVerdict() {
    QWidget* parent = writeParent_ ? writeParent_ : this;
    if (!verdict_) {
        dialogs_.messages->error(parent, QString::fromUtf8("Zapisu nie sprawdzono: odczyt ustawień "
                                                           "z urządzenia nie został zakończony."));
        return;
    }
    const checked::Verification v = *std::exchange(verdict_, std::nullopt);
    if (v.same) {
        dialogs_.messages->plain(parent, QString::fromUtf8(kChecked));
        return;
    }
    DifferencesDialog ask(dialogs_, DifferencesDialog::Mode::WriteMismatch,
                          QString::fromUtf8("Urządzenie nie zawiera dokładnie wysłanych "
                                            "ustawień. Różnią się:"),
                          v.differences, QString::fromUtf8("Wysłane"), parent);
    stack_.showModal(&ask);
    if (ask.answer != DifferencesDialog::Answer::Write || !session_.connected())
        return;
    // Again the same bytes, and checked again; the program keeps its own.
    trellikon::WriteSteps steps;
    steps.verify = true;
    steps.again = true;
    session_.write(session_.sent(), steps);
}

void TForm1::RegisterButtonClick() {
    trellikon::reg::Register* store = openedRegister(this);
    if (!store) {
        const QString why = QString::fromUtf8("Rejestru instalacji nie można otworzyć: ") +
                            QString::fromStdString(journal_.openError().message);
        if (!journal_.enabled()) {
            dialogs_.messages->error(this, why);
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
    dialogs_.messages->error(parent,
                             QString::fromUtf8("Zapis ustawień nie może być przeprowadzony, "
                                               "Wybierz port komputera, wyłącz i włącz "
                                               "urządzenie a następnie nacinij przycisk "
                                               "\"Nawiąż połączenie\""));
    return false;
}

void TForm1::keepInterruptedWrite() {
    Interrupted cut;
    cut.sent = session_.sent();
    cut.parts = decision_ ? decision_->parts() : checked::kAllParts;
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
        dialogs_,
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
            dialogs_.messages->error(
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
