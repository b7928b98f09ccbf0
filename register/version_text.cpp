#include "version_text.h"

#include "cp1250.h"
#include "polish_plural.h"
#include "settings_comparison.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

namespace trellikon::reg {

bool knownKind(std::string_view k) {
    for (const char* known : {kind::kRead, kind::kBackup, kind::kWrite, kind::kWriteVerified,
                              kind::kWriteMismatch, kind::kWriteInterrupted, kind::kRestore})
        if (k == known)
            return true;
    return false;
}

namespace {

std::string textProblem(const std::string& what, std::string_view s, std::size_t most,
                        const char* tooLong) {
    if (!validUtf8(s))
        return what + " nie jest poprawnym tekstem UTF-8";
    if (s.size() > most)
        return what + " jest " + tooLong + " (najwyżej " + std::to_string(most) + " bajtów)";
    return {};
}

// C0 (NUL included), DEL and C1, which a terminal or a list would act on.
bool hasControlCharacter(std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x20 || b == 0x7F)
            return true;
        if (b == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) <= 0x9F)
            return true;
    }
    return false;
}

} // namespace

std::string installationProblem(std::string_view name, std::string_view notes,
                                std::string_view devicePhone) {
    if (name.find_first_not_of(" \t") == std::string_view::npos)
        return "nazwa instalacji jest pusta";
    if (name.front() == ' ' || name.front() == '\t' || name.back() == ' ' || name.back() == '\t')
        return "nazwa instalacji zaczyna się albo kończy odstępem";
    for (std::string e :
         {textProblem("nazwa instalacji", name, kLongestName, "za długa"),
          textProblem("notatka", notes, kLongestNotes, "za długa"),
          textProblem("numer urządzenia", devicePhone, kLongestDevicePhone, "za długi")})
        if (!e.empty())
            return e;
    if (hasControlCharacter(name))
        return "nazwa instalacji zawiera znak sterujący";
    return {};
}

namespace {

bool allDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::vector<PhoneEntry> phoneNumbers(const Bytes& bytes) {
    SettingsImage im;
    im.setBytes(bytes);
    std::vector<PhoneEntry> out;
    const auto phone = [&](NumberRole role, int position, std::size_t offset) {
        const auto r = im.readPhoneNumber(offset);
        if (r.valid && allDigits(r.value))
            out.push_back({role, position, r.value});
    };
    phone(NumberRole::SmsCentre, 0, layout::kSmsCentreNumber);
    const std::size_t users[] = {layout::kUserNumber1, layout::kUserNumber2, layout::kUserNumber3,
                                 layout::kUserNumber4};
    for (int u = 0; u < 4; ++u)
        phone(NumberRole::User, u + 1, users[u]);
    for (int n = 1; n <= layout::kSubscriberCount; ++n) {
        if (!im.subscriberValid(n))
            continue;
        // A caller is its digits up to the first 0 byte (shorter numbers are padded).
        std::string number = im.readSubscriber(n).value;
        number = number.substr(0, number.find('\0'));
        if (allDigits(number))
            out.push_back({NumberRole::Caller, n, number});
    }
    return out;
}

std::string roleText(NumberRole role, int position) {
    switch (role) {
    case NumberRole::SmsCentre:
        return "centrum SMS";
    case NumberRole::User:
        return "użytkownik " + std::to_string(position);
    case NumberRole::Caller:
        break;
    }
    return "abonent CLIP " + std::to_string(position);
}

const char* roleKey(NumberRole role) {
    switch (role) {
    case NumberRole::SmsCentre:
        return "sms";
    case NumberRole::User:
        return "user";
    case NumberRole::Caller:
        break;
    }
    return "clip";
}

std::optional<NumberRole> roleFromKey(std::string_view key) {
    for (NumberRole r : {NumberRole::SmsCentre, NumberRole::User, NumberRole::Caller})
        if (key == roleKey(r))
            return r;
    return std::nullopt;
}

std::string countOf(int n, const char* one, const char* few, const char* many) {
    return polishCount(n, one, few, many);
}

std::string summaryLine(const Bytes* previous, const Bytes& now) {
    if (!previous)
        return "pierwsza wersja";
    const comparison::Comparison c = comparison::compareImages(*previous, now);
    if (c.equal())
        return "bez zmian";
    int settings = 0, callers = 0;
    for (const comparison::Row& row : c.rows)
        (row.kind == comparison::RowKind::Setting || row.kind == comparison::RowKind::Text
             ? settings
             : callers)++;
    std::vector<std::string> parts;
    if (settings > 0)
        parts.push_back(countOf(settings, "ustawienie", "ustawienia", "ustawień"));
    if (callers > 0)
        parts.push_back(countOf(callers, "abonent CLIP", "abonentów CLIP", "abonentów CLIP"));
    if (c.uncoveredBytes > 0)
        parts.push_back(countOf(static_cast<int>(std::min<std::size_t>(c.uncoveredBytes, 4096)),
                                "bajt nieużywany", "bajty nieużywane", "bajtów nieużywanych"));
    std::string line;
    for (const std::string& p : parts)
        line += (line.empty() ? "" : ", ") + p;
    return line;
}

int closeness(const std::vector<PhoneEntry>& a, const std::vector<PhoneEntry>& b) {
    std::set<std::tuple<NumberRole, int, std::string>> exact;
    std::set<std::string> anywhere;
    for (const PhoneEntry& e : b) {
        exact.insert({e.role, e.position, e.number});
        if (e.role != NumberRole::SmsCentre)
            anywhere.insert(e.number);
    }
    int score = 0;
    for (const PhoneEntry& e : a) {
        if (e.role == NumberRole::SmsCentre)
            score += exact.count({e.role, e.position, e.number}) ? 1 : 0;
        else if (exact.count({e.role, e.position, e.number}))
            score += 4;
        else if (anywhere.count(e.number))
            score += 2;
    }
    return score;
}

std::string searchedNumber(std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c != ' ' && c != '+' && c != '-' && c != '(' && c != ')')
            return {};
    }
    if (digits.rfind("00", 0) == 0)
        digits.erase(0, 2);
    return digits.size() >= 3 ? digits : std::string();
}

std::string nowUtc() {
    return utcTime(std::chrono::system_clock::now());
}

std::string utcTime(std::chrono::system_clock::time_point moment) {
    using namespace std::chrono;
    const auto now = time_point_cast<milliseconds>(moment);
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

bool wellFormedTime(std::string_view t) {
    // YYYY-MM-DDTHH:MM:SS.mmmZ
    static constexpr std::string_view shape = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (t.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < t.size(); ++i)
        if (shape[i] == 'd' ? (t[i] < '0' || t[i] > '9') : t[i] != shape[i])
            return false;
    return true;
}

std::string shortTime(const std::string& timeUtc) {
    if (!wellFormedTime(timeUtc))
        return "(czas nieznany)";
    return timeUtc.substr(0, 10) + " " + timeUtc.substr(11, 5);
}

std::string foldCase(std::string_view s) {
    // The capitals of the Polish letters and their small letters, in UTF-8.
    static const std::map<std::string_view, std::string_view> polish = {
        {"Ą", "ą"}, {"Ć", "ć"}, {"Ę", "ę"}, {"Ł", "ł"}, {"Ń", "ń"},
        {"Ó", "ó"}, {"Ś", "ś"}, {"Ź", "ź"}, {"Ż", "ż"}};
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
            continue;
        }
        if (i + 1 < s.size()) {
            if (const auto it = polish.find(s.substr(i, 2)); it != polish.end()) {
                out += it->second;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace trellikon::reg
