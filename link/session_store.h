#pragma once
// The register's part in the session, declared where the session is so that
// the link does not depend on the register.

#include "settings_image.h"

#include <cstdint>
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
    // What the device holds now, when it is committed already (this
    // connection's read or backup, nothing written since): then no backup
    // read is made. The store is the one that knows; none otherwise.
    virtual const SettingsImage::Bytes* storedContent() const = 0;
    // Whether a write may begin at all (the register opened and writable);
    // the reason when not.
    virtual std::string readyForBackup() = 0;
    // Commits the backup read just before a write.
    virtual std::string storeBackup(const SettingsImage::Bytes& bytes, const std::string& port) = 0;
    // The first write frame is about to leave.
    virtual void writeBegun() = 0;
    // The device acknowledged the last block of `bytes`. Recorded at once, not
    // after the read-back: a program ended during that read must not leave the
    // device holding a write the register does not know of.
    virtual void writeComplete(const SettingsImage::Bytes& bytes, const std::string& port) = 0;
    // The port lost its device after `blocks` of the eight blocks of `bytes`
    // were acknowledged: the device holds part of them.
    virtual void writeInterrupted(const SettingsImage::Bytes& bytes, const std::string& port,
                                  int blocks) = 0;
    // The version that keeps what the device held before the write under way
    // or last made (its backup, or the read of this connection it relied on);
    // 0 when none.
    virtual std::int64_t backupVersion() const = 0;
};

} // namespace trellikon
