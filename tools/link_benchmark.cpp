// trellikon-link-bench: how many 1000 ms ticks a full read and a full write
// take on a 19200 baud line, clean and with damaged frames, measured in
// virtual time (a few seconds of computing for hours of line time).

#include "option_table.h"
#include "settings_image.h"
#include "simulated_device.h"
#include "virtual_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace trellikon;

namespace {

const char* const kUsage = R"(Usage: trellikon-link-bench [--runs N] [--seed N]
Runs the device exchange against the simulated device in virtual time and
prints how many 1000 ms ticks a read and a write take: once on a clean line,
then N times (default 100) with 10% of the device's frames damaged. The exit
status is 0 when every target is met, 1 otherwise.
)";

constexpr int kCleanReadTarget = 9;
constexpr int kCleanWriteTarget = 10;
constexpr double kFinishedTarget = 0.95;

SettingsImage::Bytes randomBytes(std::uint32_t seed) {
    std::mt19937 rng(seed);
    SettingsImage::Bytes b;
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

struct Summary {
    int runs = 0, finished = 0, identical = 0;
    std::vector<int> ticks; // of the finished runs
};

std::string describe(const Summary& s) {
    char buf[200];
    if (s.ticks.empty()) {
        std::snprintf(buf, sizeof buf, "%3d/%d finished before the time-out", s.finished, s.runs);
        return buf;
    }
    std::vector<int> t = s.ticks;
    std::sort(t.begin(), t.end());
    const std::size_t n = t.size();
    const double median = n % 2 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2.0;
    double sum = 0;
    for (const int x : t)
        sum += x;
    std::snprintf(buf, sizeof buf,
                  "%3d/%d finished before the time-out, ticks min %d median %g max %d "
                  "(mean %.2f), %d/%d identical",
                  s.finished, s.runs, t.front(), median, t.back(), sum / static_cast<double>(n),
                  s.identical, s.finished);
    return buf;
}

enum class Kind { Read, Write };

Summary runMany(Kind kind, SimulatedFaults faults, int runs, std::uint32_t seed) {
    Summary s;
    for (int i = 0; i < runs; ++i) {
        const std::uint32_t runSeed = seed + static_cast<std::uint32_t>(i);
        faults.seed = runSeed;
        std::mt19937 rng(runSeed * 7919u + 1u);
        const int phase = std::uniform_int_distribution<int>(0, 999)(rng);
        VirtualLinkRig rig(randomBytes(runSeed), faults);
        const auto r =
            kind == Kind::Read ? rig.read(phase) : rig.write(randomBytes(runSeed + 100000u), phase);
        ++s.runs;
        if (r.finished) {
            ++s.finished;
            s.ticks.push_back(r.ticks);
            if (r.identical)
                ++s.identical;
        }
    }
    return s;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 100;
    std::uint32_t seed = 1;
    namespace opt = trellikon::options;
    auto count = [](const char* name, long least, auto store) {
        return [name, least, store](const std::string& value) -> std::optional<std::string> {
            char* end = nullptr;
            const long v = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || v < least || v > 1000000)
                return std::string("bad value for ") + name;
            store(v);
            return std::nullopt;
        };
    };
    const std::vector<opt::Option> table = {
        {{"--help", "-h"}, false, {}, true},
        {{"--runs"}, true, count("--runs", 1, [&runs](long v) { runs = static_cast<int>(v); })},
        {{"--seed"},
         true,
         count("--seed", 0, [&seed](long v) { seed = static_cast<std::uint32_t>(v); })},
    };
    opt::Syntax syntax;
    syntax.doubleDashEndsOptions = false;
    syntax.inlineValues = false;
    syntax.takesArguments = false;
    const opt::Parsed parsed =
        opt::parse(std::vector<std::string>(argv + 1, argv + argc), 0, table, syntax);
    if (const auto& c = parsed.complaint) {
        // An option without its value is not one this program knows.
        if (c->kind == opt::Complaint::BadValue)
            std::fprintf(stderr, "trellikon-link-bench: %s\n", c->reason.c_str());
        else
            std::fprintf(stderr, "trellikon-link-bench: unknown option %s (see --help)\n",
                         c->argument.c_str());
        return 2;
    }
    if (parsed.endedBy) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    bool met = true;
    std::printf("DeviceLink against SimulatedDevice in virtual time: 19200 baud 8N1 both ways\n"
                "(0.52 ms a byte), the device answers 5 ms after a frame's last byte;\n"
                "Timer1Timer every 1000 ms, Timer2Timer every 300 ms; ticks are 1000 ms ticks\n"
                "from the command to the end, the command given 500 ms after a tick.\n\n");

    {
        VirtualLinkRig rig(randomBytes(seed));
        const auto r = rig.read(500);
        const bool ok = r.finished && r.identical && r.ticks <= kCleanReadTarget;
        met = met && ok;
        std::printf("clean line, read:  %2d ticks, image %s  (target <= %d: %s)\n", r.ticks,
                    r.identical ? "identical" : "DIFFERS", kCleanReadTarget, ok ? "met" : "MISSED");
    }
    {
        VirtualLinkRig rig(randomBytes(seed));
        const auto r = rig.write(randomBytes(seed + 1), 500);
        const bool ok = r.finished && r.identical && r.ticks <= kCleanWriteTarget;
        met = met && ok;
        std::printf("clean line, write: %2d ticks, memory %s (target <= %d: %s)\n", r.ticks,
                    r.identical ? "identical" : "DIFFERS", kCleanWriteTarget,
                    ok ? "met" : "MISSED");
    }

    struct Mix {
        const char* name;
        SimulatedFaults faults;
    };
    // Three independent chances that together damage 10% of the frames.
    const double each = 1.0 - std::cbrt(0.9);
    SimulatedFaults flip;
    flip.flipBit = 0.10;
    SimulatedFaults mixed;
    mixed.flipBit = mixed.dropFrame = mixed.splitFrame = each;
    const Mix mixes[] = {{"a flipped bit in 10% of the device's frames", flip},
                         {"10% of the device's frames flipped, dropped or split", mixed}};

    const int needed = static_cast<int>(std::ceil(kFinishedTarget * runs));
    for (const auto& mix : mixes) {
        std::printf("\n%d runs, %s (seeds %u..%u):\n", runs, mix.name, seed,
                    seed + static_cast<std::uint32_t>(runs) - 1);
        for (const Kind kind : {Kind::Read, Kind::Write}) {
            const Summary s = runMany(kind, mix.faults, runs, seed);
            const bool ok = s.finished >= needed && s.identical == s.finished;
            met = met && ok;
            std::printf("  %-6s %s  (target >= %d: %s)\n",
                        kind == Kind::Read ? "read:" : "write:", describe(s).c_str(), needed,
                        ok ? "met" : "MISSED");
        }
    }
    // Not a target: the same mix against a device that finishes an interrupted
    // reply before it answers the repeated request.
    SimulatedFaults finishing = mixed;
    finishing.finishSplitReplies = true;
    std::printf(
        "\nfor comparison, the same mix with a device that finishes a split reply first:\n");
    for (const Kind kind : {Kind::Read, Kind::Write}) {
        const Summary s = runMany(kind, finishing, runs, seed);
        std::printf("  %-6s %s\n", kind == Kind::Read ? "read:" : "write:", describe(s).c_str());
    }

    std::printf("\n%s\n", met ? "all targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
