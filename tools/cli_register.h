#pragma once
// The register as the command line's reads and writes use it: opened only
// when a command needs it, a backup of the device stored before the first
// write frame, every read and write recorded.

#include "cli_commands.h"
#include "sqlite_register.h"

#include <memory>
#include <optional>

namespace trellikon::cli {

// The register of a choice, opened; nothing (and the reason printed, the
// exit code in `code`) when it cannot be, or cannot be changed and `change`.
std::unique_ptr<reg::SqliteRegister> openRegister(const RegisterChoice& choice, bool change,
                                                  std::ostream& err, int& code);

class TransferRecord {
  public:
    // Opens the register and finds or creates the chosen installation; an
    // exit code other than kExitOk ends the command before the device is touched.
    int open(const RegisterChoice& choice, std::ostream& err);
    // The installation a restored version belongs to.
    void useInstallation(reg::Id id, const std::string& name) {
        installation_ = id;
        choice_.installation = name;
    }
    // Reads the device into a copy (`present`) and commits it as the backup:
    // kExitOk, or the reason printed and nothing to be written. Without a
    // register the device is read only when a part alone is written. A device
    // changed since the installation's latest version is kExitChangedOnSite,
    // its differences printed, unless the options force the write.
    int backUp(DeviceSession& session, const std::string& portName, const TransferOptions& options,
               std::ostream& err, std::optional<SettingsImage::Bytes>& present);
    // Records a read or a write; kExitUsage when it could not be recorded.
    int add(const SettingsImage::Bytes& bytes, const char* kind, const std::string& portName,
            std::ostream& err);

  private:
    RegisterChoice choice_;
    std::unique_ptr<reg::SqliteRegister> register_;
    reg::Id installation_ = 0;
};

// write and restore: the backup and the look at what changed on site, the
// chosen parts over the device's present content, the write, the check after
// it and its record ("zapis sprawdzony" or "zapis niezgodny").
int writeToDevice(const std::string& portName, const SettingsImage::Bytes& bytes,
                  const TransferOptions& options, TransferRecord& record, SerialPort& port,
                  TickClock& clock, std::ostream& err);

} // namespace trellikon::cli
