// trellikon-sim: the alarm notifier on a pseudo-terminal, for running the
// program (or trellikon-cli) without the device and its cable.

#include "device_link.h"
#include "files.h"
#include "option_table.h"
#include "pty_device_server.h"
#include "settings_image.h"
#include "simulated_device.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace trellikon;

namespace {

const char* const kUsage = R"(Usage: trellikon-sim [OPTION]...
Plays the alarm notifier on a pseudo-terminal. The terminal's path is printed
on standard output; give it to the program as its port (or use --link).

Opening the terminal switches the device on: it sends its handshake a moment
later. Press Enter (or send SIGUSR1) to switch it off and on again while the
port is open; Ctrl+C (SIGINT) or SIGTERM ends the simulator.

Options:
  --link PATH            also make PATH a symbolic link to the terminal; an
                         old link there is replaced, and the link is removed
                         at the end (anything else at PATH is left alone)
  --memory FILE          keep the 4096-byte settings memory in FILE: read at
                         start like a template (a shorter file is padded with
                         0x1A), or created erased (0xFF) if missing; saved
                         after every block the program writes
  --baud N               line speed in bits per second, 10 bits a byte
                         (default 19200; 0 sends as fast as possible)
  --power-on-delay MS    from the port's opening to the handshake (default 300)
  --seed N               seed of the fault generator (default 1)
  --flip P               probability that a reply has one bit flipped
  --drop P               probability that a reply is not sent
  --split P              probability that a reply comes in two parts, the
                         second 1100 ms after the first
  --delay MS             pause before every reply (default 0)
  --silent-after N       stop replying after N replies (default: never)
  --wrong-byte OFFSET    the memory byte at OFFSET (0..4095) is stored with its
                         lowest bit flipped whenever its block is written; the
                         write is acknowledged all the same
  --hang-up-after-block N
                         the cable pulled during a write: after acknowledging
                         N blocks (1..7) the device closes its end of the
                         terminal at the program's next frame, and the
                         simulator ends (0: never, the default)
  --dup-handshake P      probability that the handshake is sent twice
  --wrong-ack P          probability that an acknowledgement names an earlier
                         block
  --line MODE            what the port carries instead of the device's frames:
                         silent (nothing at all), garbage (another device's
                         text lines), damaged (the frames, each with a wrong
                         check byte); default: the frames as they are
  -v                     log every frame on standard error: direction,
                         command, block, length and whether its check holds
  --help                 show this text
Probabilities are numbers from 0 to 1 (default 0).
)";

std::atomic<PtyDeviceServer*> g_server{nullptr};
static_assert(std::atomic<PtyDeviceServer*>::is_always_lock_free, "read in signal handlers");

extern "C" void onStopSignal(int) {
    if (PtyDeviceServer* server = g_server.load())
        server->stop();
}

extern "C" void onPowerCycleSignal(int) {
    if (PtyDeviceServer* server = g_server.load())
        server->powerOn();
}

struct Options {
    PtyServerOptions server;
    std::string memoryFile;
    SimulatedFaults faults;
    bool verbose = false;
};

std::optional<long long> parseInteger(const std::string& text, long long min, long long max) {
    if (text.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return std::nullopt;
    return v;
}

std::optional<double> parseProbability(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(v >= 0.0 && v <= 1.0))
        return std::nullopt;
    return v;
}

// Returns the exit status when the program should end at once.
std::optional<int> parseArguments(int argc, char** argv, Options& o) {
    namespace opt = trellikon::options;
    using Refusal = std::optional<std::string>;
    auto path = [](std::string& into, const char* missing) {
        return [&into, missing](const std::string& v) -> Refusal {
            if (v.empty())
                return missing;
            into = v;
            return std::nullopt;
        };
    };
    auto whole = [](int& into, long long max) {
        return [&into, max](const std::string& v) -> Refusal {
            const auto n = parseInteger(v, 0, max);
            if (!n)
                return "expects a whole number from 0";
            into = static_cast<int>(*n);
            return std::nullopt;
        };
    };
    auto probability = [](double& into) {
        return [&into](const std::string& v) -> Refusal {
            const auto p = parseProbability(v);
            if (!p)
                return "expects a probability from 0 to 1";
            into = *p;
            return std::nullopt;
        };
    };
    const std::vector<opt::Option> table = {
        {{"--help", "-h"}, false, {}, true},
        {{"--verbose", "-v"},
         false,
         [&o](const std::string&) -> Refusal {
             o.verbose = true;
             return std::nullopt;
         }},
        {{"--link"}, true, path(o.server.linkPath, "needs a path")},
        {{"--memory"}, true, path(o.memoryFile, "needs a file name")},
        {{"--baud"}, true, whole(o.server.baud, 4'000'000)},
        {{"--delay"}, true, whole(o.faults.replyDelayMs, 3'600'000)},
        {{"--power-on-delay"}, true, whole(o.server.powerOnDelayMs, 3'600'000)},
        {{"--silent-after"}, true, whole(o.faults.silentAfterFrames, 3'600'000)},
        {{"--wrong-byte"}, true, whole(o.faults.wrongStoredByte, 4095)},
        {{"--hang-up-after-block"}, true, whole(o.faults.hangUpAfterBlock, 7)},
        {{"--seed"},
         true,
         [&o](const std::string& v) -> Refusal {
             const auto n = parseInteger(v, 0, 0xFFFFFFFFll);
             if (!n)
                 return "expects a whole number from 0 to 4294967295";
             o.faults.seed = static_cast<std::uint32_t>(*n);
             return std::nullopt;
         }},
        {{"--line"},
         true,
         [&o](const std::string& v) -> Refusal {
             if (v == "silent")
                 o.faults.mode = LineMode::Silent;
             else if (v == "garbage")
                 o.faults.mode = LineMode::Garbage;
             else if (v == "damaged")
                 o.faults.mode = LineMode::Damaged;
             else
                 return "expects silent, garbage or damaged";
             return std::nullopt;
         }},
        {{"--flip"}, true, probability(o.faults.flipBit)},
        {{"--drop"}, true, probability(o.faults.dropFrame)},
        {{"--split"}, true, probability(o.faults.splitFrame)},
        {{"--dup-handshake"}, true, probability(o.faults.duplicateHandshake)},
        {{"--wrong-ack"}, true, probability(o.faults.wrongAckBlock)},
    };
    opt::Syntax syntax;
    syntax.doubleDashEndsOptions = false;
    syntax.flagsIgnoreInlineValues = true;
    syntax.takesArguments = false;
    const opt::Parsed p =
        opt::parse(std::vector<std::string>(argv + 1, argv + argc), 0, table, syntax);
    if (const auto& c = p.complaint) {
        if (c->kind == opt::Complaint::UnknownOption) {
            std::fprintf(stderr, "trellikon-sim: unknown option %s (see --help)\n",
                         c->name.c_str());
        } else {
            const char* what =
                c->kind == opt::Complaint::MissingValue ? "needs a value" : c->reason.c_str();
            std::fprintf(stderr, "trellikon-sim: %s: %s\n", c->name.c_str(), what);
        }
        return 2;
    }
    if (p.endedBy) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return std::nullopt;
}

// The memory file: read like a template when it exists, else made erased.
bool prepareMemory(const std::string& path, SettingsImage::Bytes& memory) {
    if (pathKind(path) != PathKind::Missing) {
        const TemplateLoad load = loadTemplate(path);
        if (!load.ok()) {
            std::fprintf(stderr, "trellikon-sim: cannot read %s: %s\n", path.c_str(),
                         load.failure.message.c_str());
            return false;
        }
        memory = load.bytes;
        return true;
    }
    memory = SimulatedDevice::erased();
    const std::string error = saveFileAtomically(path, memory.data(), memory.size()).message;
    if (!error.empty()) {
        std::fprintf(stderr, "trellikon-sim: cannot create %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

// Keeps descriptors 0..2 taken: with one of them closed, the pseudo-terminal
// could be given that number and be mistaken for standard input.
void occupyStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int null = ::open("/dev/null", O_RDWR);
            if (null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    }
}

class FrameLog {
  public:
    void frame(bool fromPc, const std::vector<std::uint8_t>& f) {
        std::string command = "unknown";
        std::string block = "-";
        bool ok = false;
        const std::uint8_t cmd = f.size() > 1 ? f[1] : 0;
        if (f.size() > 2 && f[0] == frame::kStart) {
            switch (cmd) {
            case frame::kHandshake:
                command = fromPc ? "handshake answer" : "handshake";
                ok = f.size() == frame::kHandshakeSize && f[2] == frame::kHandshake;
                break;
            case frame::kWrite:
                command = fromPc ? "write block" : "acknowledgement";
                block = std::to_string(f[2]);
                break;
            case frame::kRead:
                command = fromPc ? "read request" : "read reply";
                block = std::to_string(f[2]);
                break;
            default:
                break;
            }
            if (cmd == frame::kWrite || cmd == frame::kRead)
                ok = f.back() == SettingsImage::checkByteOf(std::span(f.data(), f.size() - 1));
        }
        std::fprintf(stderr, "%s %-13s %-17s block %-2s %3zu bytes  check %s\n", stamp().c_str(),
                     fromPc ? "PC -> device" : "device -> PC", command.c_str(), block.c_str(),
                     f.size(), ok ? "ok" : "BAD");
    }
    void note(const std::string& text) {
        std::fprintf(stderr, "%s %s\n", stamp().c_str(), text.c_str());
    }

  private:
    std::string stamp() const {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start_)
                            .count();
        char buf[32];
        std::snprintf(buf, sizeof buf, "[%7lld.%03lld]", static_cast<long long>(ms / 1000),
                      static_cast<long long>(ms % 1000));
        return buf;
    }
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void installSignal(int sig, void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: poll() returns and the loop sees the flag
    ::sigaction(sig, &sa, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const auto status = parseArguments(argc, argv, o))
        return *status;
    occupyStandardDescriptors();
    std::signal(SIGPIPE, SIG_IGN);

    SettingsImage::Bytes memory = SimulatedDevice::erased();
    if (!o.memoryFile.empty() && !prepareMemory(o.memoryFile, memory))
        return 1;

    SimulatedDevice device(memory, o.faults);
    FrameLog log;
    if (!o.memoryFile.empty()) {
        device.onBlockWritten = [&](int) {
            const auto& m = device.memory();
            const std::string error = saveFileAtomically(o.memoryFile, m.data(), m.size()).message;
            if (!error.empty())
                std::fprintf(stderr, "trellikon-sim: cannot save %s: %s\n", o.memoryFile.c_str(),
                             error.c_str());
        };
    }
    if (o.verbose) {
        device.onFrame = [&](bool fromPc, const std::vector<std::uint8_t>& f) {
            log.frame(fromPc, f);
        };
        device.onFault = [&](const char* fault) { log.note(std::string("fault: ") + fault); };
    }

    PtyDeviceServer server(device, o.server);
    std::string error;
    if (!server.start(error)) {
        std::fprintf(stderr, "trellikon-sim: %s\n", error.c_str());
        return 1;
    }
    if (o.verbose) {
        server.onSlaveOpenChanged = [&](bool open) {
            log.note(open ? "port opened: device switched on" : "port closed");
        };
    }
    g_server.store(&server);
    installSignal(SIGINT, onStopSignal);
    installSignal(SIGTERM, onStopSignal);
    installSignal(SIGUSR1, onPowerCycleSignal);

    std::printf("%s\n", server.slavePath().c_str());
    std::fflush(stdout);
    if (o.verbose) {
        log.note("serving on " + server.slavePath() +
                 (o.server.linkPath.empty() ? "" : " (" + o.server.linkPath + ")") +
                 "; Enter switches the device off and on");
    }

    // Enter on standard input is a power cycle. End of input only ends the
    // watching: the simulator keeps running under a script or with </dev/null.
    server.watch(STDIN_FILENO, [&] {
        char buf[256];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0)
            return errno == EINTR || errno == EAGAIN;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n') {
                if (o.verbose)
                    log.note(server.slaveOpen() ? "power cycle"
                                                : "power cycle ignored: the port is not open");
                server.powerOn();
            }
        }
        return n > 0;
    });

    server.run();
    g_server.store(nullptr);
    if (server.hungUp())
        std::fprintf(stderr, "trellikon-sim: hung up after block %d of a write\n",
                     o.faults.hangUpAfterBlock);
    if (!server.failure().empty()) {
        std::fprintf(stderr, "trellikon-sim: %s\n", server.failure().c_str());
        return 1;
    }
    if (o.verbose)
        log.note("stopped");
    return 0;
}
