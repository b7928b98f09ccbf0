// The register's speed with a large register: 1,000 installations and 50,000
// versions (made on the first run, in the file given), then the opening of the
// register (and, apart, the first opening of a day, whose check reads the
// whole file before the daily copy), the list of installations,
// a search by a caller's number, and the recording of one version and of one
// backup, each the median of several runs, in ms.
//   trellikon-register-bench FILE
#include "register.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace trellikon;
using namespace trellikon::reg;

namespace {

constexpr int kInstallations = 1000;
constexpr int kVersionsEach = 50;
constexpr int kCallers = 20;

std::string number(int a, int b) {
    char text[16];
    std::snprintf(text, sizeof text, "48%04d%05d", a % 10000, b % 100000);
    return text;
}

// Installation i's version v: its own users and callers, a few changed from visit to visit.
Bytes image(int i, int v) {
    SettingsImage im;
    im.writePhoneNumber(layout::kSmsCentreNumber, "48601000310");
    im.writePhoneNumber(layout::kUserNumber1, number(i, 1));
    im.writePhoneNumber(layout::kUserNumber2, number(i, 2 + v % 3));
    for (int n = 1; n <= layout::kSubscriberCount; ++n)
        im.freeSubscriber(n);
    for (int c = 1; c <= kCallers; ++c)
        im.writeSubscriber(c, number(i, 100 + c + (c <= v % 5 ? 1000 : 0)));
    return im.bytes();
}

double msSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trellikon-register-bench FILE\n");
        return 2;
    }
    const std::string path = argv[1];
    std::string error;
    OpenOptions quiet;
    quiet.dailyCopy = false;
    {
        OpenOptions fill = quiet;
        fill.durable = false;
        auto opened = openRegister(path, fill);
        auto r = std::move(opened.value);
        error = opened.failure.message;
        if (!r) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
        const auto made = r->history({HistoryFilter::All, 0, 1});
        if (made.ok() && made.value.empty()) {
            std::fprintf(stderr, "making %d installations and %d versions\n", kInstallations,
                         kInstallations * kVersionsEach);
            std::vector<Id> ids;
            for (int i = 0; i < kInstallations; ++i)
                ids.push_back(
                    r->createInstallation("Instalacja " + std::to_string(i), "", "").value);
            for (int v = 0; v < kVersionsEach; ++v)
                for (int i = 0; i < kInstallations; ++i) {
                    char time[32];
                    std::snprintf(time, sizeof time, "2025-%02d-%02dT%02d:%02d:00.000Z", 1 + v / 5,
                                  1 + v % 5 * 5, i / 60 % 24, i % 60);
                    const auto id = r->record({image(i, v), v % 2 ? kind::kWrite : kind::kRead,
                                               "COM1", "bench", ids[i], time});
                    if (!id.ok()) {
                        std::fprintf(stderr, "%s\n", id.failure.message.c_str());
                        return 2;
                    }
                }
        }
    }
    std::vector<double> opening, daily, listing, search, recording, backup;
    for (int run = 0; run < 3; ++run) {
        OpenOptions whole = quiet;
        whole.checkWhole = true;
        const auto start = std::chrono::steady_clock::now();
        auto opened = openRegister(path, whole);
        auto r = std::move(opened.value);
        error = opened.failure.message;
        daily.push_back(msSince(start));
        if (!r || !r->writable()) {
            std::fprintf(stderr, "%s%s\n", error.c_str(), r ? r->notice().c_str() : "");
            return 2;
        }
    }
    std::size_t listed = 0, found = 0;
    for (int run = 0; run < 7; ++run) {
        const auto start = std::chrono::steady_clock::now();
        auto opened = openRegister(path, quiet);
        auto r = std::move(opened.value);
        error = opened.failure.message;
        opening.push_back(msSince(start));
        const auto listed0 = std::chrono::steady_clock::now();
        const auto all = r->installations("");
        listing.push_back(msSince(listed0));
        listed = all.value.size();

        auto t = std::chrono::steady_clock::now();
        const auto hits = r->installations("0512 00117"); // a caller of installation 512
        search.push_back(msSince(t));
        found = hits.value.size();

        const Id site = all.value.front().installation.id;
        t = std::chrono::steady_clock::now();
        r->record({image(512, 50 + run), kind::kRead, "COM1", "bench", site, {}});
        recording.push_back(msSince(t));

        t = std::chrono::steady_clock::now();
        r->record({image(512, 60 + run), kind::kBackup, "COM1", "bench", site, {}});
        backup.push_back(msSince(t));
    }
    std::printf("open                         %.1f ms\n", median(opening));
    std::printf("daily check of the whole file %.1f ms  (first opening of a day)\n", median(daily));
    std::printf("list installations           %.1f ms  (%zu installations)\n", median(listing),
                listed);
    std::printf("search by phone number       %.1f ms  (%zu found)\n", median(search), found);
    std::printf("record one version           %.1f ms\n", median(recording));
    std::printf("record a backup (flushed)    %.1f ms\n", median(backup));
    return 0;
}
