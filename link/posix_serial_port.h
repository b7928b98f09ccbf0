#pragma once
// The serial port over a Linux terminal device: raw 19200 8N1, no flow
// control, RTS on, DTR off, held exclusively (flock and TIOCEXCL).
//
// When a call fails because the device is gone (a USB cable pulled out: EIO,
// ENXIO, ENODEV, a hang-up) or a write stalls past its bound, the descriptor
// is closed at once: valid() is then false and lost() true, so that the
// protocol ends a transfer under way at once rather than at its time-out. The
// next open() retries for a while (reopen_after_loss.h).

#include "port_names.h"
#include "serial_port.h"

#include <optional>
#include <string>
#include <vector>

namespace trellikon {

class PosixSerialPort : public SerialPort {
  public:
    PosixSerialPort() = default;
    // Resolves COM names in `env` instead of the running system.
    explicit PosixSerialPort(PortEnvironment env);
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    bool open(const std::string& portName, LinkError& error) override;
    void close() override;
    bool valid() const override { return fd_ >= 0; }
    void flush() override;
    bool write(const std::uint8_t* data, std::size_t n) override;
    std::size_t read(std::uint8_t* data, std::size_t max) override;

    std::size_t waiting() const override;
    bool lost() const override { return lost_; }

    // The path the last successful open() used; empty when closed.
    const std::string& devicePath() const { return path_; }

  private:
    bool openOnce(const std::string& portName, LinkError& error);
    // Closes the port after a failed call when `e` says the device is gone.
    void closeIfGone(int e);
    void closeAsLost();

    PortEnvironment env_;
    int fd_ = -1;
    std::string path_;
    bool lost_ = false; // closed because the device went away; the next open retries
};

// True for the errno values of a call on a port whose device is gone.
bool posixDeviceGone(int e);

// Why the user may not open a device, in words that lead to a fix.
struct PermissionFacts {
    std::string devicePath;
    std::string group;            // the device's group; empty when unknown
    std::string user;             // the login name; empty when unknown
    bool userInGroup = false;     // the group database lists the user in it
    bool sessionHasGroup = false; // this process already carries it
};
std::string permissionDeniedMessage(const PermissionFacts& facts);

// A program with a device open.
struct PortHolder {
    long pid = 0;
    std::string program; // its name as started (argv[0] without the folder), else its comm
};

// Who holds a busy port, as far as this account can see.
struct BusyFacts {
    std::string devicePath;
    std::vector<PortHolder> holders;        // other processes with the device open
    std::optional<PortHolder> modemManager; // a ModemManager running now, holder or not
};
std::string busyMessage(const BusyFacts& facts);

// The processes under `procRoot` (the system's /proc, or a test's tree) other
// than `selfPid` with `devicePath` open, in process number order. A process
// whose descriptors this account may not read (another user's) is not seen.
std::vector<PortHolder> findPortHolders(const std::string& devicePath, const std::string& procRoot,
                                        long selfPid);
// The first process called `program`, by its name as started or its comm.
std::optional<PortHolder> findProcess(const std::string& program, const std::string& procRoot);

} // namespace trellikon
