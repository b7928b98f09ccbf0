#pragma once
// The decision around one write, taken the same way by the window program and
// the command line. In order:
//
//   begin()     before the backup's read: the installation's latest version
//               as it stands before the backup joins it
//   question()  at the session's decision step, with what the device holds:
//               nothing to ask, the settings changed on the device since that
//               version (only those the write would lose), or, for a version
//               of the register going back, all it changes on the device
//   answer()    the installer's answer: the bytes to send (the chosen parts
//               over what the device holds), or none and why; taking the
//               device's values records the device's content as the
//               installation's, so that the next write asks no more about them
//   verdict()   after the read-back: what was sent against what came back,
//               added to the write's record
//
// Callers only ask the question and show the verdict; the session sends the
// bytes answer() gives, and the program's own settings stay as they are
// unless the decision says they change (a restore, the device's values taken).

#include "checked_write.h"
#include "failure.h"
#include "register_journal.h"

#include <optional>
#include <string>

namespace trellikon::checked {

// What the installer asked to write.
struct WriteRequest {
    // The program's own settings.
    Bytes settings{};
    // What goes to the device instead of them: a version of the register
    // being restored, or the bytes of a write cut short sent again.
    std::optional<Bytes> sending;
    Parts parts = kAllParts;
    // The version being restored, when one is: recorded as its restore.
    std::optional<reg::VersionInfo> restoring;
    // A restore shows all it changes on the device (the window asks with it);
    // otherwise it is asked about like any write (the command line).
    bool showRestore = false;
    // Without an installation chosen in this connection, the device is
    // compared with the closest installation's latest version (the window);
    // otherwise only with the installation named (the command line).
    bool closest = false;
    // The installer left this connection's read unassigned: the device is
    // none of the installations as far as anyone knows.
    bool readLeftUnassigned = false;
};

class WriteDecision {
  public:
    // Without a journal (or one without a register) nothing is asked and
    // nothing recorded: the parts still go over what the device holds.
    WriteDecision(reg::Journal* journal, WriteRequest request);

    // The installation's latest version, taken before the backup's read is
    // recorded. A register that cannot say is a failure the command line
    // stops at; the window goes on without the question.
    Failure begin();

    struct Question {
        enum class Kind { None, ChangedOnSite, Restore };
        Kind kind = Kind::None;
        // ChangedOnSite: what the write would lose, and whose installation.
        ChangedOnSite changed;
        std::string installationName;
        // Restore: the version (here) against the device (there).
        comparison::Comparison restoreChange;
        reg::VersionInfo restoring;
    };
    // At the decision step. `present` is what the device holds (none: not
    // known, nothing to compare).
    const Question& question(const std::optional<Bytes>& present);

    enum class Answer { Write, TakeDevice, Cancel };
    struct Decision {
        bool write = false;
        Bytes toWrite{};
        // The program's settings from now on, when they change: the restored
        // version once it goes, or the device's changes taken into them.
        std::optional<Bytes> settings;
        // Why the device's content could not be recorded as the installation's.
        Failure failure;
    };
    Decision answer(Answer answer, const std::string& port);

    // What was sent against what the device gave back, recorded as the
    // write's verdict.
    Verification verdict(const Bytes& sent, const Bytes& readBack);

    Parts parts() const { return request_.parts; }

  private:
    reg::Register* usableStore();
    const Bytes& sending() const;

    reg::Journal* journal_;
    WriteRequest request_;
    std::optional<reg::Version> latest_;   // before the backup
    std::optional<reg::Version> compared_; // what question() compared with
    std::optional<Bytes> present_;
    Question question_;
};

} // namespace trellikon::checked
