#pragma once
// What the installer can do with a register that is damaged or will not
// open, without leaving the window program: put it aside and take the newest
// daily copy in its place, or put it aside and start a new one. Nothing is
// ever deleted: the damaged file and its write-ahead log keep their bytes
// under a name of their own beside it, for whoever looks at them later.

#include "session_store.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace trellikon::reg {

struct DailyCopy {
    std::string file; // "<register>.kopia-RRRR-MM-DD"
    std::string day;  // "DD.MM.RRRR", as the installer reads it
};

// The newest daily copy beside the register; none when there is none.
std::optional<DailyCopy> newestCopy(const std::string& file);

// "<register>.uszkodzony-RRRR-MM-DD-HHMMSS" for the local time `when`: the
// name the register is kept aside under.
std::string asideName(const std::string& file, const std::tm& when);

// Moves the register, its "-wal" and its "-shm" to `aside` (the log as
// "<aside>-wal"); a part that is not there is no failure. Empty on success,
// else the reason in Polish; on failure what was moved is moved back.
std::string putAside(const std::string& file, const std::string& aside);

// Puts the register aside and a copy of `copy` in its place (the daily copy
// itself stays). Empty on success, else the reason; on failure the register
// is back where it was.
std::string restoreCopy(const std::string& file, const DailyCopy& copy, const std::string& aside);

// A write without the register still keeps the device's present content: the
// backup read goes into a settings file the installer named, saved before the
// first write frame leaves; when it cannot be saved nothing is written.
class FileBackup final : public SessionStore {
  public:
    explicit FileBackup(std::string file) : file_(std::move(file)) {}
    void connected() override {}
    void readComplete(const SettingsImage::Bytes&, const std::string&) override {}
    const SettingsImage::Bytes* storedContent() const override { return nullptr; }
    std::string readyForBackup() override { return {}; }
    std::string storeBackup(const SettingsImage::Bytes& bytes, const std::string& port) override;
    void writeBegun() override {}
    void writeComplete(const SettingsImage::Bytes&, const std::string&) override {}
    void writeInterrupted(const SettingsImage::Bytes&, const std::string&, int) override {}
    std::int64_t backupVersion() const override { return 0; }
    const std::string& file() const { return file_; }

  private:
    std::string file_;
};

} // namespace trellikon::reg
