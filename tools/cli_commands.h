#pragma once
// The commands of trellikon-cli, each returning the program's exit code
// (see ExitCode). Results go to `out`; warnings, progress and errors to `err`,
// so that `show --json` output can be piped without anything mixed into it.

#include "device_session.h"
#include "port_names.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace trellikon::cli {

inline constexpr const char* kProgramName = "trellikon-cli";

int runShow(const std::string& path, bool json, std::ostream& out, std::ostream& err);
int runDiff(const std::string& pathA, const std::string& pathB, std::ostream& out,
            std::ostream& err);
// True when a diff argument names a serial port rather than a file.
bool namesPort(const std::string& arg);
// Reads the device on the port and compares it with a template: 0 equal,
// 1 different, 2 any error (the port, the device's silence, the file).
int runDiffDevice(const std::string& portName, const std::string& path, SerialPort& port,
                  TickClock& clock, std::ostream& out, std::ostream& err);
// Writes a template's settings sheet (PDF). Needs Qt's PDF writer, so it lives
// in its own file, built only with Qt.
int runSheet(const std::string& path, const std::string& outPath, std::ostream& err);
// Where a read or write is recorded. The program records in the register
// unless told --no-register; a caller that says nothing records nothing.
struct RegisterChoice {
    enum Mode {
        Off,     // nothing recorded, nothing said
        Record,  // a read is a version; a write is backed up first and recorded
        Refused, // --no-register: nothing recorded, and a write says it has no backup
    } mode = Off;
    std::string path;         // --register; empty: the environment's or the default
    std::string installation; // --installation; empty: the version stays unassigned
};

struct TransferOptions {
    bool fast = false;   // the next request or block as soon as an answer is whole
    bool verify = false; // write: read the device back and compare
    // write: the device changed since the installation's latest version is
    // written over all the same (else nothing is written, kExitChangedOnSite)
    bool force = false;
    // write: the parts of the file sent (checked_write.h); the rest of the
    // image is what the device holds
    unsigned parts = 7;
    // Where the cable of the last successful connection is kept (cable_memory.h);
    // empty: none is kept or looked for. With one kept, a chosen port that is
    // missing gives way to the port that cable is behind now.
    std::string cableFile;
    PortEnvironment ports; // the machine's ports (tests: a fake one)
    RegisterChoice record;
};

// Connects on the chosen port or where its cable went, and remembers the
// cable that answered.
Failure connectRemembering(DeviceSession& session, const std::string& chosen,
                           const TransferOptions& options, std::ostream& err);

int runRead(const std::string& portName, const std::string& outPath, const TransferOptions& options,
            SerialPort& port, TickClock& clock, std::ostream& err);
int runWrite(const std::string& portName, const std::string& inPath, const TransferOptions& options,
             SerialPort& port, TickClock& clock, std::ostream& err);

// The register's commands (cli_register.cpp). A register that cannot be
// opened, or written when the command changes it, is kExitUsage.
int runInstallations(const RegisterChoice& reg, const std::string& search, std::ostream& out,
                     std::ostream& err);
// Every version (NAME empty), an installation's, or the unassigned ones
// (NAME "nieprzypisane" when no installation has that name); newest first.
int runHistory(const RegisterChoice& reg, const std::string& name, std::ostream& out,
               std::ostream& err);
int runVersion(const RegisterChoice& reg, const std::string& id, const std::string& outPath,
               std::ostream& err);
// Writes a recorded version to the device, backing the device up first.
int runRestore(const RegisterChoice& reg, const std::string& id, const std::string& portName,
               const TransferOptions& options, SerialPort& port, TickClock& clock,
               std::ostream& err);
int runRegisterExport(const RegisterChoice& reg, const std::string& outPath,
                      const std::string& name, std::ostream& err);
// A new, empty register where the file is missing or empty (never over a register).
int runRegisterNew(const RegisterChoice& reg, std::ostream& err);
int runRegisterImport(const RegisterChoice& reg, const std::string& inPath, std::ostream& err);

// Changes settings of a template by key, with the editor windows' checks, and
// saves it (over PATH, or as OUT_PATH when that is not empty).
int runSet(const std::string& path, const std::string& outPath,
           const std::vector<std::string>& assignments, std::ostream& err);
// Adds or removes callers of a template's subscriber list.
int runSubscribers(bool add, const std::string& path, const std::vector<std::string>& numbers,
                   std::ostream& out, std::ostream& err);

// Writes a template's callers as CSV, to OUT_PATH or, when that is empty, to `out`.
int runSubscribersExport(const std::string& path, const std::string& outPath, std::ostream& out,
                         std::ostream& err);
struct ImportOptions {
    bool replace = false;     // the file becomes the whole list
    bool skipRefused = false; // apply the accepted lines even when some were refused
    std::string outPath;      // save here instead of over the template
    // The columns to read numbers from, by header or number from 1; each
    // number in them a caller. Empty: the column the reader finds.
    std::vector<std::string> columns;
};
// Imports callers from a CSV file into a template and prints the verdict of
// every line. A refused line writes nothing unless skipRefused; nothing
// accepted writes nothing at all.
int runSubscribersImport(const std::string& path, const std::string& csvPath,
                         const ImportOptions& options, std::ostream& out, std::ostream& err);

// Lists what COM1..COM8 stand for on this machine now, and the USB adapter
// behind each port.
int runPorts(std::ostream& out, const PortEnvironment& env = {});
// Writes a template with sample settings (for trying the program with the simulator).
int runDemo(const std::string& outPath, std::ostream& out, std::ostream& err);

// Prints "trellikon-cli: <message>" and returns the failure's exit code.
int fail(std::ostream& err, const Failure& failure);

// The failures the commands meet most: a wrong argument, and what the
// register says when it refuses (both exit with kExitUsage).
inline Failure usageFailure(std::string message) {
    return makeFailure(Failure::Code::Usage, std::move(message));
}
inline Failure registerFailure(std::string message) {
    return makeFailure(Failure::Code::Register, std::move(message));
}
// The failure, its code kept, with what it concerns said around its message
// ("nie można zapisać pliku „x”: " before a file's reason).
inline Failure concerning(const std::string& before, Failure failure,
                          const std::string& after = {}) {
    failure.message = before + failure.message + after;
    return failure;
}

} // namespace trellikon::cli
