#include "template_view.h"

#include "cp1250.h"

#include <array>
#include <cstdio>
#include <optional>
#include <utility>

namespace trellikon::inspector {

namespace {

using namespace layout;

// Control characters in Unicode terms: C0, DEL and C1. Windows-1250 leaves five
// bytes undefined and we decode them to C1 code points, which some terminals obey.
bool isControl(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

std::string hexByte(const char* format, unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string oneChar(std::uint8_t b) {
    const char c = static_cast<char>(b);
    return cp1250ToUtf8(std::string_view(&c, 1));
}

const char* yesNo(bool b) {
    return b ? "tak" : "nie";
}

std::string withMark(std::string value, bool fallback) {
    if (fallback) {
        value += ' ';
        value += kFallbackMark;
    }
    return value;
}

Field textField(Section s, std::string name, std::string_view value, bool fallback) {
    return {s, std::move(name), withMark(quoteForTerminal(untilNul(value)), fallback),
            withMark(quoteForTerminal(value), fallback)};
}

Field plainField(Section s, std::string name, std::string value, bool fallback) {
    std::string v = withMark(std::move(value), fallback);
    return {s, std::move(name), v, v};
}

// A mask as its value and, bit by bit, who it selects: bit 0x80 >> (first + i)
// belongs to entry i + 1.
std::string maskText(std::uint8_t mask, int count, int firstBit, const char* who) {
    std::string s = hexByte("0x%02X", mask) + " (";
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            s += ", ";
        s += who;
        s += ' ';
        s += std::to_string(i + 1);
        s += ": ";
        s += yesNo((mask & (0x80u >> (firstBit + i))) != 0);
    }
    return s + ")";
}

const std::array<const char*, kTextSlotCount> kTextLabels = {
    "Nagłówek wiadomości",
    "0+ (zanik zasilania)",
    "0- (powrót zasilania)",
    "1+",
    "1-",
    "2+",
    "2-",
    "3+",
    "3-",
    "4+",
    "5+",
    "6+",
    "7+",
    "8+",
    "Wiadomość testowa (treść)",
};

// Bytes of block 0 that a decoder reads, as (first byte, length). The reserved
// bytes after each permanent-output check lie outside every check, so no
// setting sees them.
constexpr std::pair<std::size_t, std::size_t> kBlock0Covered[] = {
    {kSmsCentreNumber, kPhoneFields.size() * kPhoneFieldSize}, // numbers, checks included
    {kOutput1Permanent, 3},  // value, reserved byte, check
    {kOutput2Permanent, 3},
    {kDailySmsLimit, kDigitsFieldSize},
    {kOutput1AutoEnabled, 4}, // switch, two bytes of seconds, check
    {kTestMessageEnabled, 3},
    {kOutput2AutoEnabled, 4},
    {kSmsMask, 2},
    {kRingMask, 2},
    {kEchoEnabled, 2},
    {kInputMask, 2},
    {kBalanceIntervalDays, kDigitsFieldSize},
    {kBalanceSmsCount, kDigitsFieldSize},
    {kBalanceQueryCode, kBalanceQueryCodeArea + 1}, // the code area and its check
    {kBalanceQueryCodeLength, 2},
    {kBalanceReportEnabled, 1},
    {kBalanceByCountEnabled, 1},
    {kBalanceByTimeEnabled, 1},
    {kClipOutput1Enabled, 2},
    {kClipOutput2Enabled, 2},
};

} // namespace

Inspection inspect(const SettingsImage::Bytes& bytes) {
    Inspection in;
    in.settings.image.setBytes(bytes);
    in.settings.decodeAll(&in.fallbacks);
    return in;
}

std::string_view untilNul(std::string_view bytes) {
    const auto nul = bytes.find('\0');
    return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

std::string quoteForTerminal(std::string_view cp1250) {
    std::string out = "\"";
    for (const char c : cp1250) {
        const auto b = static_cast<std::uint8_t>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (isControl(cp1250ToUnicode(b))) {
            out += hexByte("\\x%02X", b);
        } else {
            out += oneChar(b);
        }
    }
    return out + "\"";
}

std::string jsonString(std::string_view cp1250) {
    std::string out = "\"";
    for (const char c : cp1250) {
        const auto b = static_cast<std::uint8_t>(c);
        const char32_t cp = cp1250ToUnicode(b);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (isControl(cp)) {
            out += hexByte("\\u%04x", static_cast<unsigned>(cp));
        } else {
            out += oneChar(b);
        }
    }
    return out + "\"";
}

std::vector<Field> describe(const Inspection& in) {
    const DecodedSettings& d = in.settings.decoded;
    const DecodeFallbacks& f = in.fallbacks;
    constexpr Section P = Section::Parameters;
    std::vector<Field> out;

    out.push_back(textField(P, "Numer centrum SMS", d.sms_centre_number, f.numbers[0]));
    for (std::size_t i = 0; i < 4; ++i)
        out.push_back(textField(P, "Numer użytkownika " + std::to_string(i + 1), d.user_number[i],
                                f.numbers[i + 1]));
    out.push_back(plainField(P, "Wyjście 1 załączone na stałe", yesNo(d.output1_permanent),
                             f.output1_permanent));
    out.push_back(plainField(P, "Wyjście 2 załączone na stałe", yesNo(d.output2_permanent),
                             f.output2_permanent));
    out.push_back(textField(P, "Dobowy limit SMS", d.daily_sms_limit, f.daily_sms_limit));
    out.push_back(
        plainField(P, "Wyjście 1 załączane czasowo", yesNo(d.output1_auto_on), f.output1_auto));
    out.push_back(
        textField(P, "Czas załączenia wyjścia 1 [s]", d.output1_auto_seconds, f.output1_auto));
    out.push_back(
        plainField(P, "Wyjście 2 załączane czasowo", yesNo(d.output2_auto_on), f.output2_auto));
    out.push_back(
        textField(P, "Czas załączenia wyjścia 2 [s]", d.output2_auto_seconds, f.output2_auto));
    out.push_back(plainField(P, "Wiadomość testowa", yesNo(d.test_message_on), f.test_message));
    out.push_back(
        textField(P, "Wiadomość testowa do użytkownika", d.test_message_user, f.test_message));
    out.push_back(plainField(P, "Maska SMS", maskText(d.sms_mask, 4, 4, "użytkownik"), f.sms_mask));
    out.push_back(
        plainField(P, "Maska dzwonienia", maskText(d.ring_mask, 4, 4, "użytkownik"), f.ring_mask));
    out.push_back(
        plainField(P, "Maska wejść", maskText(d.input_mask, 8, 0, "wejście"), f.input_mask));
    out.push_back(plainField(P, "Echo", yesNo(d.echo_on), f.echo));
    out.push_back(plainField(P, "Informacja o stanie konta", yesNo(d.balance_info_on), false));
    out.push_back(textField(P, "Co ile dni", d.balance_days, f.balance_days));
    out.push_back(textField(P, "Po ilu SMS", d.balance_sms_count, f.balance_sms_count));
    out.push_back(
        textField(P, "Kod zapytania o stan konta", d.balance_query_code, f.balance_query_code));
    out.push_back(plainField(P, "Raport po liczbie SMS", yesNo(d.balance_by_count_on), false));
    out.push_back(plainField(P, "Raport co ile dni", yesNo(d.balance_by_time_on), false));
    out.push_back(
        plainField(P, "CLIP: sterowanie wyjściem 1", yesNo(d.clip_output1_on), f.clip_output1));
    out.push_back(
        plainField(P, "CLIP: sterowanie wyjściem 2", yesNo(d.clip_output2_on), f.clip_output2));
    for (std::size_t k = 0; k < d.texts.size(); ++k)
        out.push_back(textField(Section::Texts, kTextLabels[k], d.texts[k], f.texts[k]));
    return out;
}

std::string renderShow(const Inspection& in) {
    std::string out;
    std::optional<Section> section;
    for (const Field& f : describe(in)) {
        if (section != f.section) {
            section = f.section;
            out += f.section == Section::Parameters ? "Parametry\n" : "Teksty wiadomości\n";
        }
        out += "  " + f.name + ": " + f.shown + "\n";
    }
    const SubscriberTable& t = in.settings.subscribers;
    out += "Abonenci CLIP: " + std::to_string(in.settings.Count_Subscribers()) + "\n";
    for (int n = 1; n <= kSubscriberCount; ++n) {
        const SubscriberEntry& e = t.entry(n);
        if (e.slot_index != 0)
            out += "  " + std::to_string(n) + ": " + quoteForTerminal(untilNul(e.number)) + "\n";
    }
    return out;
}

std::string renderJson(const Inspection& in) {
    const DecodedSettings& d = in.settings.decoded;
    std::string out = "{";
    bool first = true;
    auto key = [&](const char* name) {
        out += first ? "\n  \"" : ",\n  \"";
        first = false;
        out += name;
        out += "\": ";
    };
    auto str = [&](const char* name, const std::string& v) {
        key(name);
        out += jsonString(untilNul(v));
    };
    auto flag = [&](const char* name, bool v) {
        key(name);
        out += v ? "true" : "false";
    };
    auto number = [&](const char* name, unsigned v) {
        key(name);
        out += std::to_string(v);
    };

    str("sms_centre_number", d.sms_centre_number);
    key("user_numbers");
    out += "[";
    for (std::size_t i = 0; i < d.user_number.size(); ++i)
        out += (i ? ", " : "") + jsonString(untilNul(d.user_number[i]));
    out += "]";
    flag("output1_permanent", d.output1_permanent);
    flag("output2_permanent", d.output2_permanent);
    str("daily_sms_limit", d.daily_sms_limit);
    flag("output1_auto_on", d.output1_auto_on);
    str("output1_auto_seconds", d.output1_auto_seconds);
    flag("output2_auto_on", d.output2_auto_on);
    str("output2_auto_seconds", d.output2_auto_seconds);
    flag("test_message_on", d.test_message_on);
    str("test_message_user", d.test_message_user);
    number("sms_mask", d.sms_mask);
    number("ring_mask", d.ring_mask);
    number("input_mask", d.input_mask);
    flag("echo_on", d.echo_on);
    str("balance_days", d.balance_days);
    flag("balance_days_valid", d.balance_days_valid);
    str("balance_sms_count", d.balance_sms_count);
    flag("balance_sms_count_valid", d.balance_sms_count_valid);
    str("balance_query_code", d.balance_query_code);
    flag("balance_info_on", d.balance_info_on);
    flag("balance_by_count_on", d.balance_by_count_on);
    flag("balance_by_time_on", d.balance_by_time_on);
    flag("clip_output1_on", d.clip_output1_on);
    flag("clip_output2_on", d.clip_output2_on);
    key("texts");
    out += "[";
    for (std::size_t k = 0; k < d.texts.size(); ++k)
        out += (k ? ",\n    " : "\n    ") + jsonString(untilNul(d.texts[k]));
    out += "\n  ]";
    // A subscriber number is kept and written back byte for byte, 0 bytes
    // included, so a script must see all of it; the texts above are what a
    // window holds, which ends at the first 0 byte.
    key("subscribers");
    out += "[";
    bool any = false;
    for (int n = 1; n <= kSubscriberCount; ++n) {
        const SubscriberEntry& e = in.settings.subscribers.entry(n);
        if (e.slot_index == 0)
            continue;
        out += any ? ",\n    " : "\n    ";
        any = true;
        out += "{\"index\": " + std::to_string(n) +
               ", \"number\": " + jsonString(e.number) + "}";
    }
    out += any ? "\n  ]" : "]";
    return out + "\n}\n";
}

bool byteCovered(std::size_t offset) {
    if (offset >= kImageSize)
        return false;
    const std::size_t inBlock = offset % kBlockSize;
    const std::size_t block = offset / kBlockSize;
    if (block == 0) {
        for (const auto& [first, length] : kBlock0Covered)
            if (offset >= first && offset < first + length)
                return true;
        return false;
    }
    if (block < static_cast<std::size_t>(kFirstSubscriberBlock))
        return inBlock < kTextSlotsPerBlock * kTextSlotSize;
    return inBlock < static_cast<std::size_t>(kSubscribersPerBlock) * kSubscriberSlotSize;
}

DiffResult diff(const SettingsImage::Bytes& a, const SettingsImage::Bytes& b) {
    DiffResult r;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && !byteCovered(i))
            ++r.uncoveredBytes;

    const Inspection ia = inspect(a);
    const Inspection ib = inspect(b);
    const auto fa = describe(ia);
    const auto fb = describe(ib);
    for (std::size_t i = 0; i < fa.size() && i < fb.size(); ++i) {
        if (fa[i].exact == fb[i].exact)
            continue;
        // Show what a window shows, unless only the bytes past a 0 differ.
        const bool shownDiffers = fa[i].shown != fb[i].shown;
        r.settings.push_back({fa[i].name, shownDiffers ? fa[i].shown : fa[i].exact,
                              shownDiffers ? fb[i].shown : fb[i].exact});
    }
    for (int n = 1; n <= kSubscriberCount; ++n) {
        const SubscriberEntry& ea = ia.settings.subscribers.entry(n);
        const SubscriberEntry& eb = ib.settings.subscribers.entry(n);
        if (ea == eb)
            continue;
        auto value = [](const SubscriberEntry& e, bool exact) -> std::string {
            if (e.slot_index == 0)
                return "(wolne)";
            return quoteForTerminal(exact ? std::string_view(e.number) : untilNul(e.number));
        };
        const bool shownDiffers = value(ea, false) != value(eb, false);
        r.settings.push_back({"Abonent CLIP " + std::to_string(n), value(ea, !shownDiffers),
                              value(eb, !shownDiffers)});
    }
    return r;
}

std::string renderDiff(const DiffResult& d) {
    std::string out;
    for (const Difference& x : d.settings)
        out += x.name + "\n  A: " + x.a + "\n  B: " + x.b + "\n";
    out += "Różniące się ustawienia: " + std::to_string(d.settings.size()) + "\n";
    out += "Różniące się bajty poza ustawieniami: " + std::to_string(d.uncoveredBytes) + "\n";
    return out;
}

} // namespace trellikon::inspector
