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
// - The line settings come right after the exclusive lock, before anything
//   else: a terminal opens with its defaults (echo, canonical input), under
//   which a real UART echoes the device's bytes back to it. Whatever arrived
//   under them is discarded once the settings are ours. The lock comes first
//   so that the settings and the discard never hit a port another program holds.
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
#include "system_serial_port.h"

#include "error_text.h"
#include "reopen_after_loss.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
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

std::string procRootOf(const PortEnvironment& env) {
    const std::string root = env.root.empty() ? std::string("/") : env.root;
    return root + (root.back() == '/' ? "proc" : "/proc");
}

BusyFacts busyFacts(const std::string& path, const PortEnvironment& env) {
    BusyFacts facts;
    facts.devicePath = path;
    const std::string proc = procRootOf(env);
    facts.holders = findPortHolders(path, proc, static_cast<long>(::getpid()));
    facts.modemManager = findProcess("ModemManager", proc);
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
        return makeLinkError(Code::Busy, path, busyMessage(busyFacts(path, env)));
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

namespace {

constexpr std::size_t kLongestProgramName = 64;

// What a /proc file says, cut at `limit` bytes.
std::string procText(const std::string& file, std::size_t limit) {
    std::ifstream in(file, std::ios::binary);
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return text;
}

// The program's name as it was started, else the kernel's short name for it;
// only printable characters of either, since anyone may name a program.
std::string programName(const std::string& processDir) {
    std::string name = procText(processDir + "/cmdline", 4096);
    name = name.substr(0, name.find('\0'));
    if (const auto slash = name.rfind('/'); slash != std::string::npos)
        name.erase(0, slash + 1);
    if (name.empty()) {
        name = procText(processDir + "/comm", 64);
        while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
            name.pop_back();
    }
    std::string shown;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
            shown += c;
    }
    if (shown.size() > kLongestProgramName)
        shown.resize(kLongestProgramName);
    return shown.empty() ? std::string("?") : shown;
}

// The numbered entries of /proc, in numeric order.
std::vector<long> processNumbers(const std::string& procRoot) {
    std::vector<long> pids;
    std::error_code ec;
    std::filesystem::directory_iterator it(procRoot, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        long pid = 0;
        const auto [end, parsed] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (parsed == std::errc{} && end == name.data() + name.size() && pid > 0)
            pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::string holderPhrase(const PortHolder& h) {
    return "program " + h.program + " (PID " + std::to_string(h.pid) + ")";
}

} // namespace

std::vector<PortHolder> findPortHolders(const std::string& devicePath, const std::string& procRoot,
                                        long selfPid) {
    // /proc shows where each descriptor leads as the resolved path, so a
    // /dev/serial/by-id name is compared by what it stands for.
    std::vector<std::string> names{devicePath};
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(devicePath, ec);
    if (!ec && canonical.string() != devicePath)
        names.push_back(canonical.string());
    std::vector<PortHolder> holders;
    for (const long pid : processNumbers(procRoot)) {
        if (pid == selfPid)
            continue;
        const std::string dir = procRoot + "/" + std::to_string(pid);
        std::filesystem::directory_iterator fd(dir + "/fd", ec);
        bool holds = false;
        for (; !ec && !holds && fd != std::filesystem::directory_iterator(); fd.increment(ec)) {
            std::error_code linkError;
            const auto target = std::filesystem::read_symlink(fd->path(), linkError);
            holds =
                !linkError && std::find(names.begin(), names.end(), target.string()) != names.end();
        }
        ec.clear();
        if (holds)
            holders.push_back({pid, programName(dir)});
    }
    return holders;
}

std::optional<PortHolder> findProcess(const std::string& program, const std::string& procRoot) {
    for (const long pid : processNumbers(procRoot)) {
        const std::string name = programName(procRoot + "/" + std::to_string(pid));
        if (name == program)
            return PortHolder{pid, name};
    }
    return std::nullopt;
}

std::string busyMessage(const BusyFacts& facts) {
    const std::string& path = facts.devicePath;
    const std::string modemManagerFix =
        "ModemManager przez kilka sekund po podłączeniu kabla sprawdza, czy nie jest to modem: "
        "odczekaj chwilę i połącz się ponownie. Jeśli to się powtarza, poproś administratora o "
        "regułę udev z ENV{ID_MM_DEVICE_IGNORE}=\"1\" dla tej przejściówki.";
    if (!facts.holders.empty()) {
        std::string who;
        bool onlyModemManager = true;
        for (const auto& h : facts.holders) {
            if (!who.empty())
                who += " oraz ";
            if (h.program == "ModemManager") {
                who += "ModemManager (PID " + std::to_string(h.pid) + ")";
            } else {
                who += holderPhrase(h);
                onlyModemManager = false;
            }
        }
        std::string message = "Port " + path + " jest zajęty przez " + who + ". ";
        if (onlyModemManager)
            return message + modemManagerFix;
        return message + "Zamknij ten program (to może być program terminalowy albo druga "
                         "kopia tego programu) i połącz się ponownie.";
    }
    std::string message =
        path + " jest zajęty przez inny program: program terminalowy, drugą kopię tego "
               "programu albo ModemManager, który przez kilka sekund sprawdza każdy nowo "
               "podłączony port szeregowy, czy nie ma za nim modemu. Zamknij tamten program "
               "albo odczekaj chwilę po podłączeniu kabla i połącz się ponownie.";
    if (facts.modemManager)
        message += " ModemManager działa teraz (PID " + std::to_string(facts.modemManager->pid) +
                   "); jeśli to się powtarza, poproś administratora o regułę udev z "
                   "ENV{ID_MM_DEVICE_IGNORE}=\"1\" dla tej przejściówki.";
    else
        message += " Program, który go trzyma, działa zapewne jako inny użytkownik: to konto "
                   "go nie widzi.";
    return message;
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

    // Until the line settings above, the terminal kept its defaults: echo on, so
    // a real UART sent back whatever the device said, and input edited as text
    // lines. What came in or was queued out under them is not ours to keep.
    // This is the one discard of received bytes; every later flush only drains.
    ::tcflush(fd, TCIOFLUSH);

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

std::unique_ptr<SerialPort> makeSystemSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

} // namespace trellikon
