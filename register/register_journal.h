#pragma once
// The register as one run of the window program or the command line keeps
// it: opened when first needed, the installation chosen in this connection,
// and whether what the device holds now is already stored, so that a write can
// be refused until it is. It is the session's store (link/session_store.h):
// the session calls it at every step of a read and a write, and the window or
// the command line then says what it recorded.

#include "register.h"
#include "session_store.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace trellikon::reg {

class Journal final : public SessionStore {
  public:
    // Opens the register, or gives nothing and the reason.
    using Opener = std::function<Result<std::unique_ptr<Register>>()>;

    // Without an opener nothing is recorded and no write waits for a backup.
    Journal(Opener opener, std::string programVersion);

    bool enabled() const { return static_cast<bool>(opener_); }
    // The register, opened at the first call; nothing (and openError()) when
    // it cannot be. A failed opening is tried again at the next call.
    Register* store();
    // Whether the register has been opened (store() opens it when not).
    bool opened() const { return static_cast<bool>(store_); }
    const Failure& openError() const { return error_; }
    // The notice of the register as it was opened (damaged, where its copy
    // is): given once, empty afterwards.
    std::string takeNotice();

    // A new connection: the device behind the cable may be another one.
    void connected() override;
    // Every version of this run belongs to `installation` (named on the
    // command line): a read is recorded as its, and a new connection keeps it.
    void keep(Id installation) { kept_ = installation_ = installation; }

    // A complete read into the program, kept unassigned until the installer
    // says whose it is. Being stored, it is the backup for the next write.
    Result<Id> recordRead(const Bytes& bytes, const std::string& port);
    // The installation to offer for a read: the one chosen in this
    // connection, else the closest; none (id 0) when nothing is close.
    Proposal proposal(const Bytes& bytes);
    // The installer's answer: the read, and what this connection records from
    // now on, belong to `installation`.
    Status assign(Id version, Id installation);
    Id installation() const { return installation_; }
    // What this connection records from now on belongs to `installation`
    // (a version of it is being restored).
    void choose(Id installation) { installation_ = installation; }

    // The device's present content when it is in the register: read (or
    // backed up) in this connection, and nothing written since.
    const Bytes* storedContent() const override {
        return deviceContent_ ? &*deviceContent_ : nullptr;
    }
    // A read into a copy made just before a write, committed before it.
    Result<Id> recordBackup(const Bytes& bytes, const std::string& port);
    // A write has begun: what the device holds is no longer known.
    void writeBegun() override { deviceContent_.reset(); }
    Result<Id> recordWrite(const Bytes& bytes, const std::string& port,
                           const char* what = kind::kWrite, const std::string& note = {});

    // The session's steps. What each recorded (or why it could not) is kept
    // for the caller to tell: lastRead(), lastBackup(), lastWrite().
    void readComplete(const Bytes& bytes, const std::string& port) override;
    std::string readyForBackup() override;
    std::string storeBackup(const Bytes& bytes, const std::string& port) override;
    void writeComplete(const Bytes& bytes, const std::string& port) override;
    // What the read-back after that write found (the write's decision judges it).
    enum class Check { Same, Different };
    void writeChecked(Check check);
    void writeInterrupted(const Bytes& bytes, const std::string& port, int blocks) override;
    std::int64_t backupVersion() const override { return backupVersion_; }
    const Result<Id>& lastRead() const { return lastRead_; }
    const Result<Id>& lastBackup() const { return lastBackup_; }
    // The last write's version (its verdict, when one came, included).
    const Result<Id>& lastWrite() const { return lastWrite_; }
    // The kind the last write has in the register: "zapis", "zapis
    // sprawdzony", "zapis niezgodny", "zapis przerwany" or "przywrócenie".
    const char* lastWriteKind() const { return lastWriteKind_; }
    // The next write puts this version of the register back on the device
    // (0: an ordinary write): recorded as a restore that names it.
    void restoring(Id version) { restoring_ = version; }
    // When `latest` is a write of this program cut short, what the device held
    // before it: its installation's version recorded just before (the write's
    // backup, or the read it relied on). None otherwise, or when the register
    // cannot say: then the device is compared with `latest` as it stands.
    std::optional<Bytes> beforeInterrupted(const Version& latest);

  private:
    Result<Id> add(const Bytes& bytes, const char* kind, const std::string& port, Id installation,
                   const std::string& note = {}, const std::string& basedOn = {});

    Opener opener_;
    std::string programVersion_;
    std::unique_ptr<Register> store_;
    Failure error_;
    bool noticeGiven_ = false;
    Id installation_ = 0;
    Id kept_ = 0;
    std::optional<Bytes> deviceContent_;
    Id backupVersion_ = 0;   // what the device held before the write: backup or read
    std::string backupUuid_; // its uuid: what a write is based on
    std::string lastUuid_;   // of the version add() recorded last
    Result<Id> lastRead_, lastBackup_, lastWrite_;
    const char* lastWriteKind_ = kind::kWrite;
    Id restoring_ = 0;
};

} // namespace trellikon::reg
