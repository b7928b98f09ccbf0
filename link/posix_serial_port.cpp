// Everything Linux-specific about the serial port lives here. The quirks:
//
// - The port is opened with O_NONBLOCK because a real UART without CLOCAL set
//   would otherwise block in open() until carrier detect, which the
//   programming cable never raises. Reads stay non-blocking (only what is
//   waiting is read); writes wait for room with poll() and a bound.
// - TIOCEXCL keeps other users' open() out, but root passes it; flock() is
//   what also stops a second copy running as root, and what terminal programs
//   such as picocom check. The exclusive flag is cleared (TIOCNXCL) before
//   close: on a pseudo-terminal it outlives our descriptor as long as the
//   other end is open, and every later open by a non-root user, ours
//   included, would fail with EBUSY.
// - The kernel raises DTR and RTS by itself when a port is opened; DTR is
//   dropped again right after configuring. Nothing can be done about the
//   brief pulse.
// - Pseudo-terminals (the simulator) have no modem lines: TIOCMBIS/TIOCMBIC
//   fail there and the failure is ignored. Their tcdrain() returns at once,
//   since nothing is clocked out.
// - Driver queue sizes are a Windows setting with no counterpart; the tty
//   layer's own buffers are larger than any frame, so nothing is done.
// - When the device goes away the tty is hung up: writes and ioctls fail with
//   EIO, reads return 0, poll() reports POLLHUP (so does a pseudo-terminal
//   whose other end closed). Each of those closes the port at once, and so
//   does a write that stalls past its bound: a stalled port would otherwise
//   cost the bound on every tick. A read with nothing waiting asks poll() for
//   a hang-up, so a loss is seen even while nothing is sent.

#include "posix_serial_port.h"

#include "error_text.h"
#include "reopen_after_loss.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace trellikon {

namespace {

// A write that makes no progress for this long is abandoned: the other end is
// not taking bytes, and the protocol's time-outs will say so.
constexpr std::chrono::milliseconds kWriteStallLimit{2000};

std::string joinPorts(const std::vector<std::string>& ports) {
    std::string s;
    for (const auto& p : ports) {
        if (!s.empty())
            s += ", ";
        s += p;
    }
    return s;
}

std::string portsFoundSentence(const std::vector<std::string>& ports) {
    if (ports.empty())
        return "Nie znaleziono żadnego portu szeregowego (szukano /dev/ttyUSB*, /dev/ttyACM* "
               "i wbudowanych portów /dev/ttyS*).";
    return "Porty szeregowe obecne teraz, w kolejności COM: " + joinPorts(ports) + ".";
}

std::vector<std::string> presentPathsOf(const PortEnvironment& env) {
    std::vector<std::string> paths;
    for (auto& port : presentPorts(env))
        paths.push_back(std::move(port.name));
    return paths;
}

std::string comVariable(int number) {
    return "TRELLIKON_COM" + std::to_string(number);
}

LinkError unresolvedNameError(const std::string& name, const PortEnvironment& env) {
    if (name.empty())
        return makeLinkError(LinkError::Code::NoSuchDevice, {}, "Nie wybrano portu.");
    const auto number = comPortNumber(name);
    if (!number) {
        return makeLinkError(
            LinkError::Code::NoSuchDevice, {},
            "\"" + name +
                "\" nie jest nazwą portu: wybierz COM1 do COM8 albo podaj ścieżkę urządzenia.");
    }
    const auto ports = presentPathsOf(env);
    std::string message;
    if (ports.empty()) {
        message = portsFoundSentence(ports) + " Sprawdź, czy kabel programujący jest podłączony";
    } else {
        message = name + " to port szeregowy numer " + std::to_string(*number) +
                  " (najpierw przejściówki USB, potem porty wbudowane), a obecnych jest tylko " +
                  std::to_string(ports.size()) + ": " + joinPorts(ports) +
                  ". Wybierz inny port, sprawdź, czy kabel programujący jest podłączony";
    }
    message += ", albo wskaż ścieżkę urządzenia zmienną środowiskową " + comVariable(*number) + ".";
    return makeLinkError(LinkError::Code::NoSuchDevice, {}, std::move(message));
}

bool containsGid(const std::vector<gid_t>& gids, gid_t gid) {
    return std::find(gids.begin(), gids.end(), gid) != gids.end();
}

// Looks up who owns the device and who we are, for the permission message.
PermissionFacts permissionFacts(const std::string& path) {
    PermissionFacts facts;
    facts.devicePath = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return facts;
    const gid_t gid = st.st_gid;
    if (const group* gr = ::getgrgid(gid))
        facts.group = gr->gr_name;
    else
        facts.group = std::to_string(gid);

    std::vector<gid_t> session(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int sessionCount = ::getgroups(static_cast<int>(session.size()), session.data());
    session.resize(static_cast<std::size_t>(std::max(sessionCount, 0)));
    facts.sessionHasGroup = ::getegid() == gid || containsGid(session, gid);

    if (const passwd* pw = ::getpwuid(::getuid())) {
        facts.user = pw->pw_name;
        const gid_t primary = pw->pw_gid;
        // getgrouplist() asks the group database (files, LDAP, ...), not the
        // session, so it sees a membership added after login.
        int count = 32;
        std::vector<gid_t> listed;
        for (int attempt = 0; attempt < 4; ++attempt) {
            listed.resize(static_cast<std::size_t>(count));
            const int wanted = count;
            if (::getgrouplist(facts.user.c_str(), primary, listed.data(), &count) >= 0) {
                listed.resize(static_cast<std::size_t>(count));
                break;
            }
            if (count <= wanted)
                count = wanted * 2;
            listed.clear();
        }
        facts.userInGroup = containsGid(listed, gid);
    }
    return facts;
}

LinkError openError(const std::string& path, int e, const PortEnvironment& env) {
    using Code = LinkError::Code;
    switch (e) {
    case ENOENT:
        return makeLinkError(Code::NoSuchDevice, path,
                             path + " nie istnieje. " + portsFoundSentence(presentPathsOf(env)));
    case ENODEV:
    case ENXIO:
        return makeLinkError(Code::NoSuchDevice, path,
                             "Za " + path + " nie ma urządzenia (czy kabel został odłączony?). " +
                                 portsFoundSentence(presentPathsOf(env)));
    case EIO:
        // What a ttyS without a UART answers.
        return makeLinkError(Code::NoSuchDevice, path,
                             "Za " + path + " nie ma sprzętowego portu szeregowego. " +
                                 portsFoundSentence(presentPathsOf(env)));
    case EACCES:
    case EPERM:
        return makeLinkError(Code::PermissionDenied, path,
                             permissionDeniedMessage(permissionFacts(path)));
    case EBUSY:
        return makeLinkError(
            Code::Busy, path,
            path + " jest zajęty przez inny program: program terminalowy, drugą kopię tego "
                   "programu albo ModemManager, który przez kilka sekund sprawdza każdy nowo "
                   "podłączony port szeregowy, czy nie ma za nim modemu. Zamknij tamten program "
                   "albo odczekaj chwilę po podłączeniu kabla i połącz się ponownie.");
    case EISDIR:
        return makeLinkError(Code::NotASerialPort, path,
                             path + " jest katalogiem, a nie portem szeregowym.");
    default:
        return makeLinkError(Code::Other, path,
                             "Nie można otworzyć " + path + ": " + errnoText(e) + ".");
    }
}

bool drain(int fd) {
    int r;
    do {
        r = ::tcdrain(fd);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

// Waits until the port takes more bytes. False on a stall or a hung-up port.
bool waitWritable(int fd) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + kWriteStallLimit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
        return (p.revents & POLLOUT) != 0;
    }
}

} // namespace

std::string permissionDeniedMessage(const PermissionFacts& facts) {
    const std::string& path = facts.devicePath;
    if (facts.group.empty()) {
        return "Brak uprawnień do otwarcia " + path +
               ". Poproś administratora o dostęp do portów szeregowych dla swojego konta.";
    }
    const std::string group = "\"" + facts.group + "\"";
    if (facts.sessionHasGroup) {
        return "Brak uprawnień do otwarcia " + path + ", choć ta sesja należy do jego grupy " +
               group +
               ": urządzenie nie pozwala tej grupie na odczyt i zapis. Poproś administratora "
               "o sprawdzenie uprawnień urządzenia (permissions).";
    }
    if (facts.group == "root") {
        return path +
               " należy do grupy \"root\", więc może go otworzyć tylko administrator. Poproś "
               "administratora o dostęp do portów szeregowych dla swojego konta (zwykle przez "
               "grupę \"dialout\").";
    }
    if (facts.userInGroup) {
        return "Twoje konto dodano do grupy " + group + ", która może otwierać " + path +
               ", ale ta sesja jeszcze jej nie ma. Wyloguj się i zaloguj ponownie (albo uruchom "
               "komputer ponownie).";
    }
    const std::string user = facts.user.empty() ? std::string("$USER") : facts.user;
    return "Brak uprawnień do otwarcia " + path + ": należy on do grupy " + group +
           ", a Twoje konto nie jest w tej grupie. Poproś administratora o dodanie konta "
           "(usermod -aG " +
           facts.group + " " + user + "), a potem zaloguj się ponownie.";
}

PosixSerialPort::PosixSerialPort(PortEnvironment env) : env_(std::move(env)) {}

PosixSerialPort::~PosixSerialPort() {
    close();
}

bool posixDeviceGone(int e) {
    return e == EIO || e == ENXIO || e == ENODEV;
}

bool PosixSerialPort::open(const std::string& portName, LinkError& error) {
    const bool afterLoss = lost_;
    close();
    lost_ = false;
    error = LinkError{};
    return openRetryingAfterLoss(
        afterLoss, error, [&](LinkError& e) { return openOnce(portName, e); },
        [](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
}

bool PosixSerialPort::openOnce(const std::string& portName, LinkError& error) {
    error = LinkError{};

    const auto path = resolvePortName(portName, env_);
    if (!path) {
        error = unresolvedNameError(portName, env_);
        return false;
    }

    int fd;
    do {
        fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = openError(*path, errno, env_);
        // A stale variable is easy to forget; say where the path came from.
        const auto number = comPortNumber(portName);
        if (error.code == LinkError::Code::NoSuchDevice && number && env_.getenv &&
            env_.getenv(comVariable(*number)).value_or("") == *path)
            error.message +=
                " Tę ścieżkę wskazała zmienna środowiskowa " + comVariable(*number) + ".";
        return false;
    }
    auto fail = [&](LinkError e) {
        ::close(fd);
        error = std::move(e);
        return false;
    };

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const int e = errno;
        if (e == ENOTTY || e == EINVAL) {
            return fail(makeLinkError(LinkError::Code::NotASerialPort, *path,
                                      *path + " nie jest portem szeregowym."));
        }
        return fail(openError(*path, e, env_));
    }

    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0 && errno == EWOULDBLOCK)
        return fail(openError(*path, EBUSY, env_));
    // Any other flock failure (a file system without locks) leaves TIOCEXCL alone
    // to keep others out.
    ::ioctl(fd, TIOCEXCL);

    // Raw: every byte value passes unchanged both ways; no echo, no signals,
    // no CR/LF translation, no XON/XOFF, no 0xFF escaping of line errors.
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = CS8 | CREAD | CLOCAL;        // 8N1, no CRTSCTS, no hang-up on close
    std::memset(tio.c_cc, 0, sizeof tio.c_cc); // VMIN = VTIME = 0: reads never wait
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    int set;
    do {
        set = ::tcsetattr(fd, TCSANOW, &tio);
    } while (set != 0 && errno == EINTR);
    if (set != 0) {
        const int e = errno;
        return fail(makeLinkError(
            LinkError::Code::Other, *path,
            "Nie można ustawić " + *path +
                " na 19200 bodów, 8 bitów danych, bez parzystości: " + errnoText(e) + "."));
    }

    const int rts = TIOCM_RTS;
    const int dtr = TIOCM_DTR;
    ::ioctl(fd, TIOCMBIS, &rts);
    ::ioctl(fd, TIOCMBIC, &dtr);

    fd_ = fd;
    path_ = *path;
    return true;
}

void PosixSerialPort::close() {
    if (fd_ < 0)
        return;
    ::ioctl(fd_, TIOCNXCL);
    // Not retried on EINTR: Linux has released the descriptor either way.
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

void PosixSerialPort::closeAsLost() {
    close();
    lost_ = true;
}

void PosixSerialPort::closeIfGone(int e) {
    if (posixDeviceGone(e))
        closeAsLost();
}

void PosixSerialPort::flush() {
    if (fd_ >= 0 && !drain(fd_))
        closeIfGone(errno);
}

bool PosixSerialPort::write(const std::uint8_t* data, std::size_t n) {
    if (fd_ < 0 || (data == nullptr && n != 0))
        return false;
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd_, data + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            continue;
        }
        const int e = w < 0 ? errno : EIO;
        if (e == EINTR)
            continue;
        if (e == EAGAIN || e == EWOULDBLOCK) {
            if (waitWritable(fd_))
                continue;
            // A stall or a hang-up: either way the port takes no more.
            closeAsLost();
            return false;
        }
        closeIfGone(e);
        return false;
    }
    if (!drain(fd_)) {
        closeIfGone(errno);
        return false;
    }
    return true;
}

std::size_t PosixSerialPort::waiting() const {
    int n = 0;
    if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &n) != 0 || n <= 0)
        return 0;
    return static_cast<std::size_t>(n);
}

std::size_t PosixSerialPort::read(std::uint8_t* data, std::size_t max) {
    if (fd_ < 0 || data == nullptr || max == 0)
        return 0;
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) != 0) {
        closeIfGone(errno);
        return 0;
    }
    if (n <= 0) {
        // Nothing waiting: a hung-up port says so only through poll().
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            closeAsLost();
        return 0;
    }
    const std::size_t want = std::min(max, static_cast<std::size_t>(n));
    ssize_t r;
    do {
        r = ::read(fd_, data, want);
    } while (r < 0 && errno == EINTR);
    if (r > 0)
        return static_cast<std::size_t>(r);
    // End of file on a terminal with bytes waiting is a hang-up.
    if (r == 0)
        closeAsLost();
    else if (errno != EAGAIN)
        closeIfGone(errno);
    return 0;
}

} // namespace trellikon
