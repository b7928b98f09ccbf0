// The company register's speed on a server of its own: a laptop with 1,000
// installations and 50,000 versions (a copy of the register benchmark's file)
// pushes them all, a second laptop joins and takes them in, a sync with
// nothing new, a recorded version's way to the server, and the office's
// search by a phone number there; in ms.
//   trellikon-company-bench FILE URI_OF_FIRST URI_OF_SECOND
#include "company_server.h"
#include "company_sync.h"
#include "register.h"
#include "settings_image.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace trellikon;
using namespace trellikon::reg;

namespace {

double msSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::unique_ptr<Register> open(const std::string& path) {
    OpenOptions o;
    o.dailyCopy = false;
    auto r = openRegister(path, o);
    if (!r.ok())
        std::fprintf(stderr, "%s\n", r.failure.message.c_str());
    return std::move(r.value);
}

std::unique_ptr<PgLink> connect(const std::string& uri) {
    PgError e;
    auto l = PgLink::connect(uri, e);
    if (!l)
        std::fprintf(stderr, "%s\n", e.message.c_str());
    return l;
}

bool synced(Register& r, PgLink& l) {
    const SyncReport s = synchronise(r, l);
    if (!s.ok())
        std::fprintf(stderr, "%s\n", s.error.message.c_str());
    return s.ok();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: trellikon-company-bench FILE URI_OF_FIRST URI_OF_SECOND\n");
        return 2;
    }
    const std::string path = argv[1];
    auto first = open(path);
    auto second = open(path + ".second");
    auto linkFirst = connect(argv[2]);
    auto linkSecond = connect(argv[3]);
    if (!first || !second || !linkFirst || !linkSecond ||
        !joinCompany(*first, "bench", "first").ok() ||
        !joinCompany(*second, "bench", "second").ok())
        return 2;

    auto t = std::chrono::steady_clock::now();
    if (!synced(*first, *linkFirst))
        return 2;
    const double pushed = msSince(t);

    t = std::chrono::steady_clock::now();
    if (!synced(*second, *linkSecond))
        return 2;
    const double joined = msSince(t);
    const auto taken = second->history({});

    std::vector<double> idle, written, search;
    const auto site = first->installations("Instalacja 512");
    if (!site.ok() || site.value.empty())
        return 2;
    std::size_t found = 0;
    for (int run = 0; run < 7; ++run) {
        t = std::chrono::steady_clock::now();
        if (!synced(*second, *linkSecond))
            return 2;
        idle.push_back(msSince(t));

        SettingsImage im;
        im.writePhoneNumber(layout::kUserNumber1, "4869900" + std::to_string(1000 + run));
        t = std::chrono::steady_clock::now();
        if (!first
                 ->record({im.bytes(),
                           kind::kRead,
                           "COM1",
                           "bench",
                           site.value.front().installation.id,
                           {}})
                 .ok() ||
            !synced(*first, *linkFirst))
            return 2;
        written.push_back(msSince(t));

        std::vector<ServerFound> hits;
        t = std::chrono::steady_clock::now();
        if (!serverSearch(*linkSecond, "051200117", hits).ok())
            return 2;
        search.push_back(msSince(t));
        found = hits.size();
    }
    std::printf("first push of 50,000 versions %.0f ms\n", pushed);
    std::printf("joining laptop's first sync   %.0f ms  (%zu versions)\n", joined,
                taken.value.size());
    std::printf("sync with nothing new         %.1f ms\n", median(idle));
    std::printf("a version on the server       %.1f ms  (recorded, then synchronised)\n",
                median(written));
    std::printf("search by phone on server     %.1f ms  (%zu found)\n", median(search), found);
    return 0;
}
