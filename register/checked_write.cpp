#include "checked_write.h"

#include "register_location.h"
#include "template_view.h"
#include "version_text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace trellikon::checked {

namespace {

struct PartName {
    Part part;
    const char* word;   // the command line's
    const char* spoken; // the installer's
};
constexpr PartName kPartNames[] = {
    {kParameters, "parameters", "parametry"},
    {kTexts, "texts", "teksty alarmowe"},
    {kCallers, "subscribers", "abonenci CLIP"},
};

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Words come from a shell: nothing but printable ASCII reaches the message.
std::string shownWord(std::string_view w) {
    std::string out;
    for (const char c : w.substr(0, 40))
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    return out;
}

} // namespace

Part partOfBlock(int block) {
    if (block <= 0)
        return kParameters;
    return block < layout::kFirstSubscriberBlock ? kTexts : kCallers;
}

std::string partsText(Parts parts) {
    std::string out;
    for (const PartName& p : kPartNames)
        if (parts & p.part)
            out += (out.empty() ? "" : ", ") + std::string(p.spoken);
    return out;
}

PartsChoice parseParts(std::string_view words) {
    PartsChoice choice;
    const std::string known = "parameters, texts, subscribers";
    if (trimmed(words).empty()) {
        choice.error = "opcja --only wymaga części do zapisu: " + known;
        return choice;
    }
    while (true) {
        const std::size_t comma = words.find(',');
        const std::string_view word = trimmed(words.substr(0, comma));
        bool found = false;
        for (const PartName& p : kPartNames)
            if (word == p.word) {
                choice.parts |= p.part;
                found = true;
            }
        if (!found) {
            choice.parts = 0;
            choice.error =
                "nieznana część „" + shownWord(word) + "” w opcji --only (znane: " + known + ")";
            return choice;
        }
        if (comma == std::string_view::npos)
            return choice;
        words.remove_prefix(comma + 1);
    }
}

Bytes merge(const Bytes& device, const Bytes& wanted, Parts parts) {
    Bytes out = device;
    for (int block = 0; block < layout::kBlockCount; ++block) {
        if (!(parts & partOfBlock(block)))
            continue;
        const std::size_t first = static_cast<std::size_t>(block) * layout::kBlockSize;
        std::copy(wanted.begin() + static_cast<std::ptrdiff_t>(first),
                  wanted.begin() + static_cast<std::ptrdiff_t>(first + layout::kBlockSize),
                  out.begin() + static_cast<std::ptrdiff_t>(first));
    }
    return out;
}

std::string localDay(const std::string& timeUtc) {
    if (reg::wellFormedTime(timeUtc)) {
        std::tm utc{};
        utc.tm_year = std::stoi(timeUtc.substr(0, 4)) - 1900;
        utc.tm_mon = std::stoi(timeUtc.substr(5, 2)) - 1;
        utc.tm_mday = std::stoi(timeUtc.substr(8, 2));
        utc.tm_hour = std::stoi(timeUtc.substr(11, 2));
        utc.tm_min = std::stoi(timeUtc.substr(14, 2));
        utc.tm_sec = std::stoi(timeUtc.substr(17, 2));
        std::tm local{};
        if (reg::localTimeOf(utc, local)) {
            char day[40];
            std::snprintf(day, sizeof day, "%02d.%02d.%04d", local.tm_mday, local.tm_mon + 1,
                          local.tm_year + 1900);
            return day;
        }
    }
    return shownWord(std::string_view(timeUtc).substr(0, 10));
}

ChangedOnSite changedOnSite(const reg::Version& latest, const Bytes& device, const Bytes& toWrite) {
    using comparison::Row;
    ChangedOnSite c{
        comparison::compareImages(latest.bytes, device), localDay(latest.info.timeUtc), {}};
    // What the write changes on the device, by setting: a row changed on site
    // that the write does not touch keeps the device's value.
    const comparison::Comparison change = comparison::compareImages(device, toWrite);
    std::vector<Row> lost;
    for (Row& r : c.differences.rows) {
        const auto by = std::find_if(change.rows.begin(), change.rows.end(), [&](const Row& w) {
            return w.group == r.group && w.name == r.name;
        });
        if (by == change.rows.end())
            continue;
        c.written.push_back(by->there);
        lost.push_back(std::move(r));
    }
    c.differences.rows = std::move(lost);
    c.differences.uncoveredBytes = 0;
    for (std::size_t i = 0; i < device.size(); ++i)
        if (latest.bytes[i] != device[i] && device[i] != toWrite[i] &&
            inspector::settingRuns(i).empty())
            ++c.differences.uncoveredBytes;
    return c;
}

std::string sinceLine(const ChangedOnSite& c) {
    return "zmienione w urządzeniu od " + c.since;
}

std::string renderChangedOnSite(const ChangedOnSite& c) {
    std::string out = sinceLine(c) + ":\n";
    std::string group;
    for (std::size_t i = 0; i < c.differences.rows.size(); ++i) {
        const comparison::Row& r = c.differences.rows[i];
        if (r.group != group)
            out += (group = r.group) + "\n";
        out += "  " + r.name;
        if (*comparison::kindWord(r.kind))
            out += std::string(" (") + comparison::kindWord(r.kind) + ")";
        out += "\n    wersja z " + c.since + ": " + r.here + "\n    urządzenie: " + r.there +
               "\n    zostanie zapisane: " + (i < c.written.size() ? c.written[i] : "") + "\n";
    }
    if (const std::string line = comparison::uncoveredLine(c.differences.uncoveredBytes);
        !line.empty())
        out += line + "\n";
    return out;
}

Bytes takeDeviceValues(const Bytes& program, const Bytes& recorded, const Bytes& device) {
    Bytes out = program;
    for (std::size_t i = 0; i < device.size(); ++i) {
        if (recorded[i] == device[i])
            continue;
        const auto runs = inspector::settingRuns(i);
        if (runs.empty())
            out[i] = device[i];
        for (const auto& [first, length] : runs)
            for (std::size_t k = first; k < first + length && k < device.size(); ++k)
                out[k] = device[k];
    }
    return out;
}

Bytes afterInterruptedWrite(const Bytes& sent, const Bytes& before, const Bytes& device) {
    Bytes out = before;
    for (int block = 0; block < layout::kBlockCount; ++block) {
        const auto first = static_cast<std::ptrdiff_t>(block) * layout::kBlockSize;
        const auto last = first + static_cast<std::ptrdiff_t>(layout::kBlockSize);
        if (std::equal(sent.begin() + first, sent.begin() + last, device.begin() + first))
            std::copy(sent.begin() + first, sent.begin() + last, out.begin() + first);
    }
    return out;
}

const char* Verification::kind() const {
    return same ? reg::kind::kWriteVerified : reg::kind::kWriteMismatch;
}

Verification verify(const Bytes& sent, const Bytes& readBack) {
    Verification v;
    v.same = sent == readBack;
    if (!v.same)
        v.differences = comparison::compareImages(sent, readBack);
    return v;
}

} // namespace trellikon::checked
