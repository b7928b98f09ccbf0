#include "template_view.h"

#include "cp1250.h"
#include "editor_model.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <type_traits>
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

// Windows-1250 bytes appended as UTF-8 that is safe for a terminal or in
// JSON: a backslash, and in quotes a quote, escaped; a control character as
// \xNN of its byte, or in JSON as \uNNNN of its code point.
enum class Escapes { Bare, Quoted, Json };
void appendSafe(std::string& out, std::string_view cp1250, Escapes escapes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr char kLowerHex[] = "0123456789abcdef";
    // Written through a buffer of the longest form (six bytes a byte) and
    // appended once: the texts are rendered for every row of every view.
    char buffer[6 * 128];
    std::size_t n = 0;
    for (const char c : cp1250) {
        if (n > sizeof buffer - 6) {
            out.append(buffer, n);
            n = 0;
        }
        const auto b = static_cast<std::uint8_t>(c);
        const char32_t cp = cp1250ToUnicode(b);
        if (c == '\\' || (c == '"' && escapes != Escapes::Bare)) {
            buffer[n++] = '\\';
            buffer[n++] = c;
        } else if (!isControl(cp)) {
            n += encodeUtf8(cp, buffer + n);
        } else if (escapes == Escapes::Json) {
            // Every control character lies below U+00A0.
            for (const char x :
                 {'\\', 'u', '0', '0', kLowerHex[(cp >> 4) & 0xF], kLowerHex[cp & 0xF]})
                buffer[n++] = x;
        } else {
            for (const char x : {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]})
                buffer[n++] = x;
        }
    }
    out.append(buffer, n);
}

const char* yesNo(bool b) {
    return b ? "tak" : "nie";
}

// Windows-1250 bytes made safe, in quotes or bare, in one allocation: the
// inspector renders every text several times.
std::string safeText(std::string_view cp1250, bool quoted) {
    std::string out;
    out.reserve(cp1250.size() * 2 + 2);
    if (quoted)
        out += '"';
    appendSafe(out, cp1250, quoted ? Escapes::Quoted : Escapes::Bare);
    if (quoted)
        out += '"';
    return out;
}

Field textField(Section s, std::string_view name, std::string_view value, bool fallback) {
    Field f;
    f.section = s;
    f.name = name;
    const std::string_view shown = untilNul(value);
    f.shown = safeText(shown, true);
    // Only a value with a 0 byte inside renders differently whole.
    f.exact = shown.size() == value.size() ? f.shown : safeText(value, true);
    f.fallback = fallback;
    return f;
}

Field plainField(Section s, std::string_view name, std::string value, bool fallback) {
    Field f;
    f.section = s;
    f.name = name;
    f.shown = std::move(value);
    f.fallback = fallback;
    f.exact = f.shown;
    return f;
}

// A mask as its value and, box by box, who it selects.
template <std::size_t N>
std::string maskText(std::uint8_t mask, const std::array<bool, N>& boxes, const char* who) {
    std::string s = hexByte("0x%02X", mask) + " (";
    for (std::size_t i = 0; i < N; ++i) {
        if (i > 0)
            s += ", ";
        s += who;
        s += ' ';
        s += std::to_string(i + 1);
        s += ": ";
        s += yesNo(boxes[i]);
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

// How an editor shows a value.
enum class Look {
    Number, // digits as typed, "(puste)" when empty
    Text,   // a message text
    YesNo,  // a check box
    Active, // AKTYWNE / NIEAKTYWNE
    TakNie, // TAK / NIE
    Users,  // the users a mask selects
    Inputs, // the inputs a mask selects
};

// The editors' group titles, in the order the windows show them.
const char* const kGroups[] = {
    "Definiowanie Centrum SMS",
    "Definiowanie numerów użytkowników",
    "Definiowanie masek",
    "Definiowanie sterowanie wyjść",
    "Informowanie o stanie konta. Definioanie parametrów",
    "Definiowanie pozostałych parametrów",
    "Definiowanie komunikatów alarmowych",
    "Definicja wiadomości testowej",
    kCallersGroup,
};
constexpr int kCentre = 0, kUsers = 1, kMasks = 2, kOutputs = 3, kBalance = 4, kOthers = 5,
              kTexts = 6, kTest = 7, kCallers = 8;

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
    int group;                      // index into kGroups
    const char* caption;            // as the editor names the control
    Look look;                      // how the editor shows the value
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
     member<&D::sms_centre_number>, numberFell<0>,
     kCentre, "Numer Centrum SMS", Look::Number},
    {P, "user_numbers", "Numer użytkownika 1", phone(kUserNumber1), {}, Print::Text, user<0>,
     numberFell<1>,
     kUsers, "Numer użytkownika 1", Look::Number},
    {P, "user_numbers", "Numer użytkownika 2", phone(kUserNumber2), {}, Print::Text, user<1>,
     numberFell<2>,
     kUsers, "Numer użytkownika 2", Look::Number},
    {P, "user_numbers", "Numer użytkownika 3", phone(kUserNumber3), {}, Print::Text, user<2>,
     numberFell<3>,
     kUsers, "Numer użytkownika 3", Look::Number},
    {P, "user_numbers", "Numer użytkownika 4", phone(kUserNumber4), {}, Print::Text, user<3>,
     numberFell<4>,
     kUsers, "Numer użytkownika 4", Look::Number},
    {P, "output1_permanent", "Wyjście 1 załączone na stałe", {kOutput1Permanent, 3}, {},
     Print::YesNo, member<&D::output1_permanent>, fell<&F::output1_permanent>,
     kOutputs, "Wysterowanie wyjścia na stałe: wyjście nr 1", Look::Active},
    {P, "output2_permanent", "Wyjście 2 załączone na stałe", {kOutput2Permanent, 3}, {},
     Print::YesNo, member<&D::output2_permanent>, fell<&F::output2_permanent>,
     kOutputs, "Wysterowanie wyjścia na stałe: wyjście nr 2", Look::Active},
    {P, "daily_sms_limit", "Dobowy limit SMS", digits(kDailySmsLimit), {}, Print::Text,
     member<&D::daily_sms_limit>, fell<&F::daily_sms_limit>,
     kOthers, "Definicja dobowego limitu SMS", Look::Number},
    {P, "output1_auto_on", "Wyjście 1 załączane czasowo", kTimed1, {}, Print::YesNo,
     member<&D::output1_auto_on>, fell<&F::output1_auto>,
     kOutputs, "Automatyczne wysterowanie wyjścia: wyjście nr 1", Look::TakNie},
    {P, "output1_auto_seconds", "Czas załączenia wyjścia 1 [s]", kTimed1, {}, Print::Text,
     member<&D::output1_auto_seconds>, fell<&F::output1_auto>,
     kOutputs, "Czas wysterowania wyjścia nr 1 w sekundach", Look::Number},
    {P, "output2_auto_on", "Wyjście 2 załączane czasowo", kTimed2, {}, Print::YesNo,
     member<&D::output2_auto_on>, fell<&F::output2_auto>,
     kOutputs, "Automatyczne wysterowanie wyjścia: wyjście nr 2", Look::TakNie},
    {P, "output2_auto_seconds", "Czas załączenia wyjścia 2 [s]", kTimed2, {}, Print::Text,
     member<&D::output2_auto_seconds>, fell<&F::output2_auto>,
     kOutputs, "Czas wysterowania wyjścia nr 2 w sekundach", Look::Number},
    {P, "test_message_on", "Wiadomość testowa", kTestMessage, {}, Print::YesNo,
     member<&D::test_message_on>, fell<&F::test_message>,
     kTest, "Wysyłanie wiadomości testowej", Look::YesNo},
    {P, "test_message_user", "Wiadomość testowa do użytkownika", kTestMessage, {}, Print::Text,
     member<&D::test_message_user>, fell<&F::test_message>,
     kTest, "Index użytkownika (1...4)", Look::Number},
    {P, "sms_mask", "Maska SMS", pair(kSmsMask), {}, Print::UserMask, member<&D::sms_mask>,
     fell<&F::sms_mask>,
     kMasks, "Maska SMS", Look::Users},
    {P, "ring_mask", "Maska dzwonienia", pair(kRingMask), {}, Print::UserMask,
     member<&D::ring_mask>, fell<&F::ring_mask>,
     kMasks, "Maska RING", Look::Users},
    {P, "input_mask", "Maska wejść", pair(kInputMask), {}, Print::InputMask,
     member<&D::input_mask>, fell<&F::input_mask>,
     kMasks, "Maska wejść", Look::Inputs},
    {P, "echo_on", "Echo", pair(kEchoEnabled), {}, Print::YesNo, member<&D::echo_on>,
     fell<&F::echo>,
     kOthers, "ECHO", Look::YesNo},
    {P, "balance_info_on", "Informacja o stanie konta", flag(kBalanceReportEnabled), {},
     Print::YesNo, member<&D::balance_info_on>, unchecked,
     kBalance, "Informuj o stanie konta", Look::YesNo},
    {P, "balance_days", "Co ile dni", digits(kBalanceIntervalDays), {}, Print::Text,
     member<&D::balance_days>, fell<&F::balance_days>,
     kBalance, "Informacja czasowa: co ile dni", Look::Number, "balance_days_valid"},
    {P, "balance_sms_count", "Po ilu SMS", digits(kBalanceSmsCount), {}, Print::Text,
     member<&D::balance_sms_count>, fell<&F::balance_sms_count>,
     kBalance, "Informacja ilościowa: co ile SMS", Look::Number, "balance_sms_count_valid"},
    {P, "balance_query_code", "Kod zapytania o stan konta", kCodeArea,
     pair(kBalanceQueryCodeLength), Print::Text, member<&D::balance_query_code>,
     fell<&F::balance_query_code>,
     kBalance, "Numer badania stanu konta", Look::Number},
    {P, "balance_by_count_on", "Raport po liczbie SMS", flag(kBalanceByCountEnabled), {},
     Print::YesNo, member<&D::balance_by_count_on>, unchecked,
     kBalance, "Informacja ilościowa", Look::YesNo},
    {P, "balance_by_time_on", "Raport co ile dni", flag(kBalanceByTimeEnabled), {},
     Print::YesNo, member<&D::balance_by_time_on>, unchecked,
     kBalance, "Informacja czasowa", Look::YesNo},
    {P, "clip_output1_on", "CLIP: sterowanie wyjściem 1", pair(kClipOutput1Enabled), {},
     Print::YesNo, member<&D::clip_output1_on>, fell<&F::clip_output1>,
     kCallers, "Sterowanie wyjść za pomocą CLIP: wyjście nr 1", Look::TakNie},
    {P, "clip_output2_on", "CLIP: sterowanie wyjściem 2", pair(kClipOutput2Enabled), {},
     Print::YesNo, member<&D::clip_output2_on>, fell<&F::clip_output2>,
     kCallers, "Sterowanie wyjść za pomocą CLIP: wyjście nr 2", Look::TakNie},
    {T, "texts", "Nagłówek wiadomości", textSlot(messageHeaderText), {}, Print::Text,
     text<messageHeaderText>, textFell<messageHeaderText>,
     kTexts, "Nagłówek komunikatu", Look::Text},
    {T, "texts", "0+ (zanik zasilania)", textSlot(powerLossText), {}, Print::Text,
     text<powerLossText>, textFell<powerLossText>,
     kTexts, "Komunikat 0+: zanik zasilania", Look::Text},
    {T, "texts", "0- (powrót zasilania)", textSlot(powerReturnText), {}, Print::Text,
     text<powerReturnText>, textFell<powerReturnText>,
     kTexts, "Komunikat 0-: powrót zasilania", Look::Text},
    {T, "texts", "1+", textSlot(input1OnText), {}, Print::Text, text<input1OnText>,
     textFell<input1OnText>,
     kTexts, "Komunikat 1+: aktywacja wejścia 1", Look::Text},
    {T, "texts", "1-", textSlot(input1OffText), {}, Print::Text, text<input1OffText>,
     textFell<input1OffText>,
     kTexts, "Komunikat 1-: dezaktywacja wejścia 1", Look::Text},
    {T, "texts", "2+", textSlot(input2OnText), {}, Print::Text, text<input2OnText>,
     textFell<input2OnText>,
     kTexts, "Komunikat 2+: aktywacja wejścia 2", Look::Text},
    {T, "texts", "2-", textSlot(input2OffText), {}, Print::Text, text<input2OffText>,
     textFell<input2OffText>,
     kTexts, "Komunikat 2-: dezaktywacja wejścia 2", Look::Text},
    {T, "texts", "3+", textSlot(input3OnText), {}, Print::Text, text<input3OnText>,
     textFell<input3OnText>,
     kTexts, "Komunikat 3+: aktywacja wejścia 3", Look::Text},
    {T, "texts", "3-", textSlot(input3OffText), {}, Print::Text, text<input3OffText>,
     textFell<input3OffText>,
     kTexts, "Komunikat 3-: dezaktywacja wejścia 3", Look::Text},
    {T, "texts", "4+", textSlot(input4OnText), {}, Print::Text, text<input4OnText>,
     textFell<input4OnText>,
     kTexts, "Komunikat 4+: aktywacja wejścia 4", Look::Text},
    {T, "texts", "5+", textSlot(input5OnText), {}, Print::Text, text<input5OnText>,
     textFell<input5OnText>,
     kTexts, "Komunikat 5+: aktywacja wejścia 5", Look::Text},
    {T, "texts", "6+", textSlot(input6OnText), {}, Print::Text, text<input6OnText>,
     textFell<input6OnText>,
     kTexts, "Komunikat 6+: aktywacja wejścia 6", Look::Text},
    {T, "texts", "7+", textSlot(input7OnText), {}, Print::Text, text<input7OnText>,
     textFell<input7OnText>,
     kTexts, "Komunikat 7+: aktywacja wejścia 7", Look::Text},
    {T, "texts", "8+", textSlot(input8OnText), {}, Print::Text, text<input8OnText>,
     textFell<input8OnText>,
     kTexts, "Komunikat 8+: aktywacja wejścia 8", Look::Text},
    {T, "texts", "Wiadomość testowa (treść)", textSlot(testMessageText), {}, Print::Text,
     text<testMessageText>, textFell<testMessageText>,
     kTest, "Treść wiadomości testowej", Look::Text},
};
// clang-format on

// A mask in the editor's words: who its boxes select.
std::string maskList(std::uint8_t mask, int count, int firstBit, const char* one, const char* many,
                     const char* none) {
    std::string list;
    int selected = 0;
    for (int i = 0; i < count; ++i) {
        if ((mask & (0x80u >> (firstBit + i))) == 0)
            continue;
        list += selected++ ? ", " : " ";
        list += std::to_string(i + 1);
    }
    if (selected == 0)
        return none;
    return (selected == 1 ? one : many) + list;
}

// A row's value as the editor shows it: a text up to its first 0 byte, where
// every reader of it stops.
std::string editorValue(const FieldRow& row, const Member& m) {
    switch (row.look) {
    case Look::Number:
    case Look::Text: {
        const std::string& v = *std::get<const std::string*>(m);
        const std::string_view bytes = untilNul(v);
        if (bytes.empty())
            return "(puste)";
        return safeText(bytes, row.look == Look::Text);
    }
    case Look::YesNo:
        return yesNo(*std::get<const bool*>(m));
    case Look::Active:
        return *std::get<const bool*>(m) ? "AKTYWNE" : "NIEAKTYWNE";
    case Look::TakNie:
        return *std::get<const bool*>(m) ? "TAK" : "NIE";
    case Look::Users:
        return maskList(*std::get<const std::uint8_t*>(m), 4, 4, "użytkownik", "użytkownicy",
                        "żaden użytkownik");
    case Look::Inputs:
        return maskList(*std::get<const std::uint8_t*>(m), 8, 0, "wejście", "wejścia",
                        "żadne wejście");
    }
    return {};
}

// A row's value as show prints it, and as the editor shows it.
Field describeRow(const FieldRow& row, const DecodedSettings& d, bool fallback) {
    const Member m = row.value(d);
    Field f;
    switch (row.print) {
    case Print::Text:
        f = textField(row.section, row.label, *std::get<const std::string*>(m), fallback);
        break;
    case Print::YesNo:
        f = plainField(row.section, row.label, yesNo(*std::get<const bool*>(m)), fallback);
        break;
    case Print::UserMask:
        f = plainField(row.section, row.label,
                       maskText(*std::get<const std::uint8_t*>(m),
                                editor::userBoxes(*std::get<const std::uint8_t*>(m)), "użytkownik"),
                       fallback);
        break;
    case Print::InputMask:
        f = plainField(row.section, row.label,
                       maskText(*std::get<const std::uint8_t*>(m),
                                editor::inputBoxes(*std::get<const std::uint8_t*>(m)), "wejście"),
                       fallback);
        break;
    }
    f.group = kGroups[row.group];
    f.caption = row.caption;
    // An empty telephone field never passes its check; the editors show it
    // as simply empty, and so does this view.
    const bool emptyNumber =
        row.bytes.length == kPhoneFieldSize && std::get<const std::string*>(m)->empty();
    f.value = editorValue(row, m);
    f.valueMarked = fallback && !emptyNumber;
    if (row.print == Print::Text)
        f.textBytes = std::string(untilNul(*std::get<const std::string*>(m)));
    f.isText = row.look == Look::Text;
    return f;
}

// Whether a row holds the default its failed check gave it.
bool fellBack(const Inspection& in, const FieldRow& row) {
    if (in.rowFallbacks.empty())
        return row.fellBack(in.fallbacks);
    const auto i = static_cast<std::size_t>(&row - kFields);
    return i < in.rowFallbacks.size() && in.rowFallbacks[i];
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

std::string withMark(std::string_view value, bool mark) {
    std::string out(value);
    if (mark) {
        out += ' ';
        out += kFallbackMark;
    }
    return out;
}

std::string_view untilNul(std::string_view bytes) {
    const auto nul = bytes.find('\0');
    return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

std::string quoteForTerminal(std::string_view cp1250) {
    std::string out = "\"";
    appendSafe(out, cp1250, Escapes::Quoted);
    out += '"';
    return out;
}

std::string jsonString(std::string_view cp1250) {
    std::string out = "\"";
    appendSafe(out, cp1250, Escapes::Json);
    out += '"';
    return out;
}

std::string escapeForTerminal(std::string_view cp1250) {
    std::string out;
    appendSafe(out, cp1250, Escapes::Bare);
    return out;
}

std::vector<Field> describe(const Inspection& in) {
    std::vector<Field> out;
    out.reserve(std::size(kFields));
    for (const FieldRow& row : kFields)
        out.push_back(describeRow(row, in.settings.decoded, fellBack(in, row)));
    return out;
}

Inspection inspectProgram(const DeviceSettings& program) {
    // A setting the editors show as the image gives it is the image's, with
    // the image's fallback: an editor that was only opened and left stores
    // values in its own form (a mask without the bits it has no box for, a
    // number without the 0 bytes after it), and that is no change the user made.
    const Inspection fromImage = inspect(program.image.bytes());
    Inspection in;
    in.settings = program;
    in.settings.decoded = fromImage.settings.decoded;
    // What a write would leave in the subscriber slots.
    in.settings.Encode_Subscribers();
    in.settings.Decode_Subscribers();
    in.fallbacks = fromImage.fallbacks;
    for (const FieldRow& row : kFields) {
        const Member mine = row.value(program.decoded);
        if (editorValue(row, mine) == editorValue(row, row.value(fromImage.settings.decoded))) {
            in.rowFallbacks.push_back(row.fellBack(fromImage.fallbacks));
            continue;
        }
        in.rowFallbacks.push_back(false);
        std::visit(
            [&](auto* target) {
                using Pointer = decltype(target);
                *const_cast<std::remove_const_t<std::remove_pointer_t<Pointer>>*>(target) =
                    *std::get<Pointer>(mine);
            },
            row.value(in.settings.decoded));
    }
    return in;
}

const std::vector<std::string>& editorGroups() {
    static const std::vector<std::string> groups(std::begin(kGroups), std::end(kGroups));
    return groups;
}

std::vector<Field> describeByGroup(const Inspection& in) {
    std::vector<Field> out;
    out.reserve(std::size(kFields));
    for (int g = 0; g < static_cast<int>(std::size(kGroups)); ++g) {
        for (const FieldRow& row : kFields) {
            if (row.group == g)
                out.push_back(describeRow(row, in.settings.decoded, fellBack(in, row)));
        }
    }
    return out;
}

std::string renderShow(const Inspection& in) {
    std::string out;
    out.reserve(8192); // a full template's listing
    std::optional<Section> section;
    for (const Field& f : describe(in)) {
        if (section != f.section) {
            section = f.section;
            out += f.section == Section::Parameters ? "Parametry\n" : "Teksty wiadomości\n";
        }
        out += "  ";
        out += f.name;
        out += ": ";
        out += f.shown;
        if (f.fallback) {
            out += ' ';
            out += kFallbackMark;
        }
        out += '\n';
    }
    const SubscriberTable& t = in.settings.subscribers;
    out += "Abonenci CLIP: " + std::to_string(in.settings.Count_Subscribers()) + "\n";
    for (int n = 1; n <= kSubscriberCount; ++n) {
        const SubscriberEntry& e = t.entry(n);
        if (e.slot_index == 0)
            continue;
        out += "  ";
        out += std::to_string(n);
        out += ": \"";
        appendSafe(out, untilNul(e.number), Escapes::Quoted);
        out += "\"\n";
    }
    return out;
}

std::string renderJson(const Inspection& in) {
    const DecodedSettings& d = in.settings.decoded;
    std::string out = "{";
    out.reserve(8192); // a full template's object
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
        out += "{\"index\": ";
        out += std::to_string(n);
        out += ", \"number\": \"";
        appendSafe(out, e.number, Escapes::Json);
        out += "\"}";
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

std::vector<std::pair<std::size_t, std::size_t>> settingRuns(std::size_t offset) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    if (offset >= kImageSize)
        return runs;
    for (const FieldRow& row : kFields)
        if (row.bytes.holds(offset) || row.moreBytes.holds(offset)) {
            for (const ByteSpan& span : {row.bytes, row.moreBytes})
                if (span.length > 0)
                    runs.emplace_back(span.first, span.length);
            return runs;
        }
    if (byteCovered(offset)) {
        const std::size_t inBlock = offset % kBlockSize;
        runs.emplace_back(offset - inBlock % kSubscriberSlotSize, kSubscriberSlotSize);
    }
    return runs;
}

} // namespace trellikon::inspector
