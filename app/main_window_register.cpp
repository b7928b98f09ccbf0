// The main window's part in the installations register: reads and writes
// recorded, the backup before a write, the register window. What is not about
// windows lives in register/ (the journal).
#include "main_window.h"

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
// written since, else a read into a copy made now. Without it nothing is written.
void TForm1::writeSettings(QWidget* parent) {
    writeParent_ = parent;
    if (journal_.enabled())
        openedRegister(parent); // its notice, once
    session_.write();
    runDeferred();
}

void TForm1::runDeferred() {
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
    if (restore_) {
        takeImage(restore_->bytes, restore_->origin);
        restore_.reset();
    }
    session_.proceed();
}

void TForm1::tellWrite() {
    if (!journal_.enabled())
        return;
    const auto& stored = journal_.lastWrite();
    if (!stored.ok())
        tellLater(QString::fromUtf8("Zapis do urządzenia nie został odnotowany w rejestrze "
                                    "instalacji: ") +
                  QString::fromStdString(stored.error));
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
