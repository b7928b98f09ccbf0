#pragma once
// The register as the command line's reads and writes use it: opened only
// when a command needs it, a backup of the device stored before the first
// write frame, every read and write recorded.

#include "cli_commands.h"
#include "register.h"
#include "register_journal.h"

#include <memory>
#include <optional>

namespace trellikon::cli {

// Names and notes come from files and other computers: no control character
// reaches the terminal.
std::string plain(const std::string& s);

// The register of a choice, opened; nothing (and the reason printed, the
// exit code in `code`) when it cannot be, or cannot be changed and `change`.
std::unique_ptr<reg::Register> openRegister(const RegisterChoice& choice, bool change,
                                            std::ostream& err, int& code);

// The register's part in a read or a write of the command line: the
// session's store (the journal, as the window program has it) over the
// register chosen, and what it recorded said on the error stream.
class TransferRecord {
  public:
    // Opens the register and finds or creates the chosen installation; an
    // exit code other than kExitOk ends the command before the device is touched.
    int open(const RegisterChoice& choice, std::ostream& err);
    // The installation a restored version belongs to.
    void useInstallation(reg::Id id, const std::string& name);
    // What the session records with, and what the write's decision asks;
    // none when nothing is recorded.
    SessionStore* store() { return journal_.get(); }
    reg::Journal* journal() { return journal_.get(); }
    // A write without a register because the user said so.
    bool refused() const { return choice_.mode == RegisterChoice::Refused; }
    // Says what the session recorded of a read, a backup, a write; kExitUsage
    // when a read or a write could not be recorded.
    int tellRead(const SettingsImage::Bytes& bytes, std::ostream& err);
    void tellBackup(std::ostream& err);
    int tellWrite(std::ostream& err);
    // After a write cut short: its record, and the command that writes the
    // backup `version` back to the device on `port`, as the shell takes it.
    void tellInterrupted(std::int64_t version, const std::string& port, std::ostream& err);

  private:
    int tell(const reg::Result<reg::Id>& stored, const char* kind, std::ostream& err);

    RegisterChoice choice_;
    std::unique_ptr<reg::Journal> journal_;
    reg::Id installation_ = 0;
};

// write and restore: the backup and the look at what changed on site, the
// chosen parts over the device's present content, the write, the check after
// it and its record ("zapis sprawdzony" or "zapis niezgodny").
// `restoring` is the register's version when `bytes` are one going back.
int writeToDevice(const std::string& portName, const SettingsImage::Bytes& bytes,
                  const TransferOptions& options, TransferRecord& record, SerialPort& port,
                  TickClock& clock, std::ostream& err,
                  const std::optional<reg::VersionInfo>& restoring = std::nullopt);

} // namespace trellikon::cli
