#include "settings_encoder.h"

#include "editor_model.h"
#include "entry_rules.h"

#include <cstdint>

namespace trellikon {

bool EncodeResult::closesTextsEditor() const {
    for (const auto& r : refusals)
        if (r.closes_texts_editor)
            return true;
    return false;
}

namespace {

using namespace layout;

// The messages stand exactly as the program has always shown them, spelling
// included ("iloćiowej", "INDEX", the trailing blanks).
const std::string kSmsCentreRefused = "NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI CENTRUM SMS";
const std::string kUserNumberRefused[4] = {
    "NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI UŻYTKOWNIKA NR 1",
    "NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI UŻYTKOWNIKA NR 2",
    "NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI UŻYTKOWNIKA NR 3",
    "NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI UŻYTKOWNIKA NR 4",
};
const std::string kTestMessageUserRefused = "PODANO NIEPRAWIDŁOWY INDEX UŻYTKOWNIKA";
const std::string kSmsCountMissing =
    "Opcja iloćiowej informacji o stanie konta jest zaznaczona ale nie podano wartości. "
    "Skoryguj ustawienia";
const std::string kSmsCountTooLow =
    "Minimalna wartość ilościowego informowania o stanie konta wynosi 10. Skoryguj ustawienia";
const std::string kSmsCountNotANumber = "Ilościowe informowanie o stanie konta powinno być liczbą "
                                        "w zakresie od 10 do 9999. Skoryguj ustawienia";
const std::string kDaysMissing =
    "Opcja czasowego informowania o stanie konta jest zaznaczona ale nie podano wartości. "
    "Skoryguj ustawienia";
const std::string kOutput1SecondsNotANumber =
    "Czas automatycznego wysterowania wyjścia 1 powinien być liczbą w zakresie od 1 do 999 "
    "sekund. Skoryguj ustawienia";
const std::string kOutput2SecondsNotANumber =
    "Czas automatycznego wysterowania wyjścia 2 powinien być liczbą w zakresie od 1 do 999 "
    "sekund. Skoryguj ustawienia";

// Slot order; numbered by position, so the test message is "NR 14".
const std::array<std::string, kTextSlotCount> kTextTooLong = {
    "DEFINICJA KOMUNIKATU NAGŁÓWKA PRZEKRACZA 50 ZNAKÓW, ZMIEŃ USTAWIENIA",
    "DEFINICJA KOMUNIKATU ALARMU 1 przekracza 100 znaków",
    "DEFINICJA KOMUNIKATU ALARMOWEGO 2 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 3 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 4 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 5 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 6 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 7 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 8 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 9 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 10 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 11 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 12 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 13 PRZEKRACZA 100 ZNAKÓW ",
    "DEFINICJA KOMUNIKATU ALARMOWEGO NR 14 PRZEKRACZA 100 ZNAKÓW ",
};

// A user number may take one digit more than the device reads back (the
// parameters editor already stops at 17): still an ending 0x00 before the check.
constexpr std::size_t kUserNumberLongest = kPhoneFieldSize - 2;
// The permanent-output group: value, reserved byte, check, and two bytes of padding.
constexpr std::size_t kPermanentPaddingSize = 2;
constexpr std::size_t kPermanentGroupSize =
    kOutput1PermanentPadding + kPermanentPaddingSize - kOutput1Permanent;
constexpr std::int32_t kBalanceSmsCountLowest = 10;
constexpr std::int32_t kTestMessageUsers = 4;

void refuse(EncodeResult& result, std::string message, bool closesTextsEditor) {
    result.refusals.push_back({std::move(message), closesTextsEditor});
    result.encode_failed = true;
}

void clear(SettingsImage& image, std::size_t offset, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        image.set(offset + i, 0x00);
}

// A radio group counts as its first item only when that item is selected;
// no selection counts as the second.
bool firstItem(int index) {
    return index == 0;
}

std::uint8_t flag(bool on) {
    return on ? 1 : 0;
}

// A number shorter than two digits reads back as an empty field, so it is
// refused like an over-long one rather than written and silently lost.
bool storableNumber(std::string_view text, std::size_t longest) {
    return text.size() >= rules::kPhoneNumberShortest && text.size() <= longest;
}

void encodeSmsCentre(std::string_view text, SettingsImage& image, EncodeResult& result) {
    if (storableNumber(text, rules::kPhoneNumberLongest)) {
        image.writePhoneNumber(kSmsCentreNumber, text);
        return;
    }
    clear(image, kSmsCentreNumber, kPhoneFieldSize);
    refuse(result, kSmsCentreRefused, true);
}

void encodeUserNumber(int user, std::string_view text, SettingsImage& image, EncodeResult& result) {
    const std::size_t offset = kPhoneFields[static_cast<std::size_t>(user)];
    if (storableNumber(text, kUserNumberLongest)) {
        image.writePhoneNumber(offset, text);
        return;
    }
    clear(image, offset, kPhoneFieldSize);
    if (!text.empty())
        refuse(result, kUserNumberRefused[user - 1], false);
}

void encodePermanent(std::size_t offset, int index, SettingsImage& image) {
    clear(image, offset, kPermanentGroupSize);
    const std::uint8_t group[] = {flag(firstItem(index)), 0};
    image.writeValueGroup(offset, group);
}

// A time that is no number leaves the output's bytes as they were: the
// refusal stops the write, and the parameters editor is where it is fixed.
void encodeAutomatic(std::size_t offset, int index, std::string_view seconds,
                     const std::string& refusal, SettingsImage& image, EncodeResult& result) {
    std::uint8_t group[] = {0, 0, 0};
    if (firstItem(index)) {
        const auto v = rules::wholeNumber(seconds);
        if (!v) {
            refuse(result, refusal, true);
            return;
        }
        // Out of 0..65535 each half is cut to a byte (division toward zero).
        group[0] = 1;
        group[1] = static_cast<std::uint8_t>(*v / 256);
        group[2] = static_cast<std::uint8_t>(*v % 256);
    }
    image.writeValueGroup(offset, group);
}

void encodeTestMessage(const EditorSnapshot& s, SettingsImage& image, EncodeResult& result) {
    image.set(kTestMessageEnabled, 0);
    image.set(kTestMessageUser, 0);
    if (!s.test_message_on)
        return;
    const auto user = rules::wholeNumber(s.test_message_user);
    if (!user) {
        refuse(result, kTestMessageUserRefused, false);
        return;
    }
    // Out of range is the texts editor's own refusal; the check byte then
    // keeps what it held.
    if (*user < 1 || *user > kTestMessageUsers)
        return;
    const std::uint8_t group[] = {1, static_cast<std::uint8_t>(*user)};
    image.writeValueGroup(kTestMessageEnabled, group);
}

void encodeBalanceSmsCount(const EditorSnapshot& s, SettingsImage& image, EncodeResult& result) {
    clear(image, kBalanceSmsCount, kDigitsFieldSize);
    if (!s.balance_by_count)
        return;
    if (s.balance_sms_count.empty()) {
        refuse(result, kSmsCountMissing, true);
        return;
    }
    const auto count = rules::wholeNumber(s.balance_sms_count);
    if (!count)
        refuse(result, kSmsCountNotANumber, true);
    else if (*count < kBalanceSmsCountLowest)
        refuse(result, kSmsCountTooLow, true);
    // Stored even when refused: the image then shows what the user typed.
    image.writeDigits(kBalanceSmsCount, s.balance_sms_count);
}

void encodeBalanceDays(const EditorSnapshot& s, SettingsImage& image, EncodeResult& result) {
    clear(image, kBalanceIntervalDays, kDigitsFieldSize);
    if (!s.balance_by_time)
        return;
    if (s.balance_days.empty()) {
        refuse(result, kDaysMissing, true);
        return;
    }
    image.writeDigits(kBalanceIntervalDays, s.balance_days);
}

// An empty or over-long code leaves its check and length as they were: the
// parameters editor keeps the length itself whenever it is left.
void encodeQueryCode(std::string_view code, SettingsImage& image) {
    clear(image, kBalanceQueryCode, kBalanceQueryCodeArea);
    if (code.empty() || code.size() > kBalanceQueryCodeLongest)
        return;
    for (std::size_t i = 0; i < code.size(); ++i)
        image.set(kBalanceQueryCode + i, static_cast<std::uint8_t>(code[i]));
    image.set(kBalanceQueryCodeCheck, image.checkByte(kBalanceQueryCode, kBalanceQueryCodeArea));
    image.writeValuePair(kBalanceQueryCodeLength, static_cast<std::uint8_t>(code.size()));
}

void append(EncodeResult& into, EncodeResult&& from) {
    for (auto& r : from.refusals)
        into.refusals.push_back(std::move(r));
    into.encode_failed = into.encode_failed || from.encode_failed;
}

} // namespace

EncodeResult Encode_Settings(const EditorSnapshot& s, DeviceSettings& settings) {
    EncodeResult result;
    SettingsImage& image = settings.image;
    const DecodedSettings& decoded = settings.decoded;

    encodeSmsCentre(s.sms_centre_number, image, result);
    for (int user = 1; user <= 4; ++user)
        encodeUserNumber(user, s.user_number[static_cast<std::size_t>(user - 1)], image, result);

    image.writeValuePair(kEchoEnabled, flag(s.echo));
    image.writeValuePair(kSmsMask, editor::userMask(s.sms_mask_user));
    image.writeValuePair(kRingMask, editor::userMask(s.ring_mask_user));
    image.writeValuePair(kInputMask, editor::inputMask(s.input_mask_input));

    encodePermanent(kOutput1Permanent, s.output1_permanent_index, image);
    encodePermanent(kOutput2Permanent, s.output2_permanent_index, image);
    encodeAutomatic(kOutput1AutoEnabled, s.output1_auto_index, s.output1_auto_seconds,
                    kOutput1SecondsNotANumber, image, result);
    encodeAutomatic(kOutput2AutoEnabled, s.output2_auto_index, s.output2_auto_seconds,
                    kOutput2SecondsNotANumber, image, result);

    encodeTestMessage(s, image, result);
    image.writeDigits(kDailySmsLimit, s.daily_sms_limit);
    encodeBalanceSmsCount(s, image, result);

    image.writeFlag(kBalanceReportEnabled, s.balance_info);
    image.writeFlag(kBalanceByTimeEnabled, s.balance_by_time);
    image.writeFlag(kBalanceByCountEnabled, s.balance_by_count);

    encodeBalanceDays(s, image, result);
    encodeQueryCode(s.balance_query_code, image);

    image.writeValuePair(kClipOutput1Enabled, flag(decoded.clip_output1_on));
    image.writeValuePair(kClipOutput2Enabled, flag(decoded.clip_output2_on));

    append(result, Encode_Texts(s.texts, image));
    return result;
}

EncodeResult Encode_Texts(const std::array<std::string, kTextSlotCount>& texts,
                          SettingsImage& image) {
    EncodeResult result;
    for (int slot = 0; slot < kTextSlotCount; ++slot) {
        const std::string& text = texts[static_cast<std::size_t>(slot)];
        if (text.size() <= textLongest(slot)) {
            image.writeText(slot, text);
        } else {
            // The slot is still rewritten, empty, so no stale text goes out.
            image.writeText(slot, {});
            refuse(result, kTextTooLong[static_cast<std::size_t>(slot)], false);
        }
    }
    return result;
}

void keepTypedTexts(const std::array<std::string, kTextSlotCount>& texts, SettingsImage& image) {
    for (int slot = 0; slot < kTextSlotCount; ++slot) {
        const std::string& text = texts[static_cast<std::size_t>(slot)];
        if (text.size() <= textLongest(slot))
            image.writeText(slot, text);
    }
}

} // namespace trellikon
