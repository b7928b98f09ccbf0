#include "template_view.h"

#include "cp1250.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <variant>

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

// The bytes a decoder reads for one setting: the field, its check byte and
// any reserved byte inside the check.
struct ByteSpan {
    std::size_t first = 0;
    std::size_t length = 0;

    bool holds(std::size_t offset) const { return offset >= first && offset - first < length; }
};

// Where a setting's decoded value lives, of the three kinds the decoders produce.
using Member = std::variant<const std::string*, const bool*, const std::uint8_t*>;

enum class Print {
    Text,      // Windows-1250 bytes, quoted
    YesNo,     // a switch
    UserMask,  // a mask over the four users
    InputMask, // a mask over the eight inputs
};

// One decoded setting and everything the inspector knows about it. `show` and
// `diff` list the rows in table order; the JSON lists them in the order
// DecodedSettings declares its members (scripts already read it that way), and
// rows that share a key become one JSON array.
struct FieldRow {
    Section section;
    const char* key;   // JSON key
    const char* label; // as show and diff name it
    ByteSpan bytes;
    ByteSpan moreBytes; // a second place the decoder reads, if any
    Print print;
    Member (*value)(const DecodedSettings&);
    bool (*fellBack)(const DecodeFallbacks&);
    const char* validKey = nullptr; // the JSON also says whether the check held
};

// The rows read as a table: one setting per row, kept that way by hand.
// clang-format off
using D = DecodedSettings;
using F = DecodeFallbacks;

template <auto M> Member member(const D& d) { return &(d.*M); }
template <std::size_t I> Member user(const D& d) { return &d.user_number[I]; }
template <std::size_t K> Member text(const D& d) { return &d.texts[K]; }
template <auto M> bool fell(const F& f) { return f.*M; }
template <std::size_t I> bool numberFell(const F& f) { return f.numbers[I]; }
template <std::size_t K> bool textFell(const F& f) { return f.texts[K]; }
bool unchecked(const F&) { return false; }

constexpr ByteSpan phone(std::size_t offset) { return {offset, kPhoneFieldSize}; }
constexpr ByteSpan pair(std::size_t offset) { return {offset, 2}; }
constexpr ByteSpan digits(std::size_t offset) { return {offset, kDigitsFieldSize}; }
constexpr ByteSpan flag(std::size_t offset) { return {offset, 1}; }
ByteSpan textSlot(int slot) { return {*textSlotOffset(slot), kTextSlotSize}; }

constexpr Section P = Section::Parameters;
constexpr Section T = Section::Texts;
constexpr ByteSpan kTimed1{kOutput1AutoEnabled, 4}; // switch, two bytes of seconds, check
constexpr ByteSpan kTimed2{kOutput2AutoEnabled, 4};
constexpr ByteSpan kTestMessage{kTestMessageEnabled, 3};
constexpr ByteSpan kCodeArea{kBalanceQueryCode, kBalanceQueryCodeArea + 1}; // and its check

// The reserved bytes after each permanent-output check lie outside every
// check, so no row reads them.
const FieldRow kFields[] = {
    {P, "sms_centre_number", "Numer centrum SMS", phone(kSmsCentreNumber), {}, Print::Text,
     member<&D::sms_centre_number>, numberFell<0>},
    {P, "user_numbers", "Numer użytkownika 1", phone(kUserNumber1), {}, Print::Text, user<0>,
     numberFell<1>},
    {P, "user_numbers", "Numer użytkownika 2", phone(kUserNumber2), {}, Print::Text, user<1>,
     numberFell<2>},
    {P, "user_numbers", "Numer użytkownika 3", phone(kUserNumber3), {}, Print::Text, user<2>,
     numberFell<3>},
    {P, "user_numbers", "Numer użytkownika 4", phone(kUserNumber4), {}, Print::Text, user<3>,
     numberFell<4>},
    {P, "output1_permanent", "Wyjście 1 załączone na stałe", {kOutput1Permanent, 3}, {},
     Print::YesNo, member<&D::output1_permanent>, fell<&F::output1_permanent>},
    {P, "output2_permanent", "Wyjście 2 załączone na stałe", {kOutput2Permanent, 3}, {},
     Print::YesNo, member<&D::output2_permanent>, fell<&F::output2_permanent>},
    {P, "daily_sms_limit", "Dobowy limit SMS", digits(kDailySmsLimit), {}, Print::Text,
     member<&D::daily_sms_limit>, fell<&F::daily_sms_limit>},
    {P, "output1_auto_on", "Wyjście 1 załączane czasowo", kTimed1, {}, Print::YesNo,
     member<&D::output1_auto_on>, fell<&F::output1_auto>},
    {P, "output1_auto_seconds", "Czas załączenia wyjścia 1 [s]", kTimed1, {}, Print::Text,
     member<&D::output1_auto_seconds>, fell<&F::output1_auto>},
    {P, "output2_auto_on", "Wyjście 2 załączane czasowo", kTimed2, {}, Print::YesNo,
     member<&D::output2_auto_on>, fell<&F::output2_auto>},
    {P, "output2_auto_seconds", "Czas załączenia wyjścia 2 [s]", kTimed2, {}, Print::Text,
     member<&D::output2_auto_seconds>, fell<&F::output2_auto>},
    {P, "test_message_on", "Wiadomość testowa", kTestMessage, {}, Print::YesNo,
     member<&D::test_message_on>, fell<&F::test_message>},
    {P, "test_message_user", "Wiadomość testowa do użytkownika", kTestMessage, {}, Print::Text,
     member<&D::test_message_user>, fell<&F::test_message>},
    {P, "sms_mask", "Maska SMS", pair(kSmsMask), {}, Print::UserMask, member<&D::sms_mask>,
     fell<&F::sms_mask>},
    {P, "ring_mask", "Maska dzwonienia", pair(kRingMask), {}, Print::UserMask,
     member<&D::ring_mask>, fell<&F::ring_mask>},
    {P, "input_mask", "Maska wejść", pair(kInputMask), {}, Print::InputMask,
     member<&D::input_mask>, fell<&F::input_mask>},
    {P, "echo_on", "Echo", pair(kEchoEnabled), {}, Print::YesNo, member<&D::echo_on>,
     fell<&F::echo>},
    {P, "balance_info_on", "Informacja o stanie konta", flag(kBalanceReportEnabled), {},
     Print::YesNo, member<&D::balance_info_on>, unchecked},
    {P, "balance_days", "Co ile dni", digits(kBalanceIntervalDays), {}, Print::Text,
     member<&D::balance_days>, fell<&F::balance_days>, "balance_days_valid"},
    {P, "balance_sms_count", "Po ilu SMS", digits(kBalanceSmsCount), {}, Print::Text,
     member<&D::balance_sms_count>, fell<&F::balance_sms_count>, "balance_sms_count_valid"},
    {P, "balance_query_code", "Kod zapytania o stan konta", kCodeArea,
     pair(kBalanceQueryCodeLength), Print::Text, member<&D::balance_query_code>,
     fell<&F::balance_query_code>},
    {P, "balance_by_count_on", "Raport po liczbie SMS", flag(kBalanceByCountEnabled), {},
     Print::YesNo, member<&D::balance_by_count_on>, unchecked},
    {P, "balance_by_time_on", "Raport co ile dni", flag(kBalanceByTimeEnabled), {},
     Print::YesNo, member<&D::balance_by_time_on>, unchecked},
    {P, "clip_output1_on", "CLIP: sterowanie wyjściem 1", pair(kClipOutput1Enabled), {},
     Print::YesNo, member<&D::clip_output1_on>, fell<&F::clip_output1>},
    {P, "clip_output2_on", "CLIP: sterowanie wyjściem 2", pair(kClipOutput2Enabled), {},
     Print::YesNo, member<&D::clip_output2_on>, fell<&F::clip_output2>},
    {T, "texts", "Nagłówek wiadomości", textSlot(messageHeaderText), {}, Print::Text,
     text<messageHeaderText>, textFell<messageHeaderText>},
    {T, "texts", "0+ (zanik zasilania)", textSlot(powerLossText), {}, Print::Text,
     text<powerLossText>, textFell<powerLossText>},
    {T, "texts", "0- (powrót zasilania)", textSlot(powerReturnText), {}, Print::Text,
     text<powerReturnText>, textFell<powerReturnText>},
    {T, "texts", "1+", textSlot(input1OnText), {}, Print::Text, text<input1OnText>,
     textFell<input1OnText>},
    {T, "texts", "1-", textSlot(input1OffText), {}, Print::Text, text<input1OffText>,
     textFell<input1OffText>},
    {T, "texts", "2+", textSlot(input2OnText), {}, Print::Text, text<input2OnText>,
     textFell<input2OnText>},
    {T, "texts", "2-", textSlot(input2OffText), {}, Print::Text, text<input2OffText>,
     textFell<input2OffText>},
    {T, "texts", "3+", textSlot(input3OnText), {}, Print::Text, text<input3OnText>,
     textFell<input3OnText>},
    {T, "texts", "3-", textSlot(input3OffText), {}, Print::Text, text<input3OffText>,
     textFell<input3OffText>},
    {T, "texts", "4+", textSlot(input4OnText), {}, Print::Text, text<input4OnText>,
     textFell<input4OnText>},
    {T, "texts", "5+", textSlot(input5OnText), {}, Print::Text, text<input5OnText>,
     textFell<input5OnText>},
    {T, "texts", "6+", textSlot(input6OnText), {}, Print::Text, text<input6OnText>,
     textFell<input6OnText>},
    {T, "texts", "7+", textSlot(input7OnText), {}, Print::Text, text<input7OnText>,
     textFell<input7OnText>},
    {T, "texts", "8+", textSlot(input8OnText), {}, Print::Text, text<input8OnText>,
     textFell<input8OnText>},
    {T, "texts", "Wiadomość testowa (treść)", textSlot(testMessageText), {}, Print::Text,
     text<testMessageText>, textFell<testMessageText>},
};
// clang-format on

// A row's value as show prints it: what a window would show, and the whole value.
Field describeRow(const FieldRow& row, const DecodedSettings& d, const DecodeFallbacks& f) {
    const Member m = row.value(d);
    const bool fallback = row.fellBack(f);
    switch (row.print) {
    case Print::Text:
        return textField(row.section, row.label, *std::get<const std::string*>(m), fallback);
    case Print::YesNo:
        return plainField(row.section, row.label, yesNo(*std::get<const bool*>(m)), fallback);
    case Print::UserMask:
        return plainField(row.section, row.label,
                          maskText(*std::get<const std::uint8_t*>(m), 4, 4, "użytkownik"),
                          fallback);
    case Print::InputMask:
        return plainField(row.section, row.label,
                          maskText(*std::get<const std::uint8_t*>(m), 8, 0, "wejście"), fallback);
    }
    return {};
}

// A row's value in JSON: texts as a window would hold them, up to the first 0 byte.
std::string jsonValue(const FieldRow& row, const DecodedSettings& d) {
    const Member m = row.value(d);
    switch (row.print) {
    case Print::Text:
        return jsonString(untilNul(*std::get<const std::string*>(m)));
    case Print::YesNo:
        return *std::get<const bool*>(m) ? "true" : "false";
    case Print::UserMask:
    case Print::InputMask:
        return std::to_string(*std::get<const std::uint8_t*>(m));
    }
    return {};
}

const void* address(const Member& m) {
    return std::visit([](auto* p) -> const void* { return p; }, m);
}

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
    std::vector<Field> out;
    for (const FieldRow& row : kFields)
        out.push_back(describeRow(row, in.settings.decoded, in.fallbacks));
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
    // Rows in the order their members are declared, found by address.
    std::vector<const FieldRow*> rows;
    for (const FieldRow& row : kFields)
        rows.push_back(&row);
    std::stable_sort(rows.begin(), rows.end(), [&](const FieldRow* x, const FieldRow* y) {
        return std::less<const void*>()(address(x->value(d)), address(y->value(d)));
    });
    for (std::size_t i = 0; i < rows.size();) {
        const FieldRow& row = *rows[i];
        std::size_t end = i + 1;
        while (end < rows.size() && std::string_view(rows[end]->key) == row.key)
            ++end;
        key(row.key);
        if (end - i == 1) {
            out += jsonValue(row, d);
        } else {
            // The short arrays (user numbers) on one line, the texts one per line.
            const bool perLine = row.section == Section::Texts;
            out += "[";
            for (std::size_t k = i; k < end; ++k) {
                if (perLine)
                    out += k == i ? "\n    " : ",\n    ";
                else if (k > i)
                    out += ", ";
                out += jsonValue(*rows[k], d);
            }
            out += perLine ? "\n  ]" : "]";
        }
        if (row.validKey) {
            key(row.validKey);
            out += row.fellBack(in.fallbacks) ? "false" : "true";
        }
        i = end;
    }
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
    for (const FieldRow& row : kFields)
        if (row.bytes.holds(offset) || row.moreBytes.holds(offset))
            return true;
    if (offset / kBlockSize < static_cast<std::size_t>(kFirstSubscriberBlock))
        return false;
    return offset % kBlockSize <
           static_cast<std::size_t>(kSubscribersPerBlock) * kSubscriberSlotSize;
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
