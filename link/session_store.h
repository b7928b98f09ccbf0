#pragma once
// The register's part in the session, declared where the session is so that
// the link does not depend on the register.

#include "settings_image.h"

#include <string>

namespace trellikon {

// What the register keeps around the exchange; register/ implements it.
// Texts returned are for the user; empty when all went well.
class SessionStore {
  public:
    virtual ~SessionStore() = default;

  protected:
    SessionStore() = default;
    SessionStore(const SessionStore&) = default;
    SessionStore& operator=(const SessionStore&) = default;

  public:
    // A new connection: the device behind the cable may be another one.
    virtual void connected() = 0;
    // A complete read into the program.
    virtual void readComplete(const SettingsImage::Bytes& bytes, const std::string& port) = 0;
    // Whether what the device holds now is committed already (this
    // connection's read, nothing written since): then no backup read is made.
    virtual bool deviceStored() const = 0;
    // Whether a write may begin at all (the register opened and writable);
    // the reason when not.
    virtual std::string readyForBackup() = 0;
    // Commits the backup read just before a write.
    virtual std::string storeBackup(const SettingsImage::Bytes& bytes, const std::string& port) = 0;
    // The first write frame is about to leave.
    virtual void writeBegun() = 0;
    // The write of `bytes` is over: the device acknowledged the last block and,
    // when a read-back was asked for, that read came (`check` says what it
    // found) or did not (NotChecked).
    enum class Check { NotChecked, Same, Different };
    virtual void writeComplete(const SettingsImage::Bytes& bytes, const std::string& port,
                               Check check) = 0;
};

} // namespace trellikon
