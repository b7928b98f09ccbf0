#include "device_settings.h"

namespace trellikon {

namespace {

using namespace layout;

const std::array<std::string, kTextSlotCount> kDefaultTexts = {
    "TRELLIKON: ",
    "Zanik zasilania",
    "Powrot zasilania",
    "Aktywacja wejscia nr 1",
    "Dezaktywacja wejscia nr 1",
    "Aktywacja wejscia nr 2",
    "Dezaktywacja wejscia nr 2",
    "Aktywacja wejscia nr 3",
    "Dezaktywacja wejscia nr 3",
    "Aktywacja wejscia nr 4",
    "Aktywacja wejscia nr 5",
    "Aktywacja wejscia nr 6",
    "Aktywacja wejscia nr 7",
    "Aktywacja wejscia nr 8",
    "Test Systemu SMS",
};

const SubscriberEntry kNoEntry{};

bool validIndex(int n) {
    return n >= 1 && n <= kSubscriberCount;
}

} // namespace

const std::string& defaultText(int slot) {
    static const std::string none;
    return slot >= 0 && slot < kTextSlotCount ? kDefaultTexts[static_cast<std::size_t>(slot)]
                                              : none;
}

const SubscriberEntry& SubscriberTable::entry(int n) const {
    return validIndex(n) ? entries_[static_cast<std::size_t>(n)] : kNoEntry;
}

bool SubscriberTable::set(int n, std::string number) {
    if (!validIndex(n))
        return false;
    auto& e = entries_[static_cast<std::size_t>(n)];
    e.slot_index = static_cast<std::uint8_t>(n);
    e.number = std::move(number);
    e.removed = false;
    return true;
}

bool SubscriberTable::remove(int n) {
    if (!validIndex(n))
        return false;
    entries_[static_cast<std::size_t>(n)] = SubscriberEntry{0, {}, true};
    return true;
}

void SubscriberTable::clear() {
    entries_.fill(SubscriberEntry{});
}

int SubscriberTable::position(const std::string& number) const {
    for (int n = 1; n <= kSubscriberCount && !number.empty(); ++n)
        if (entry(n).number == number)
            return n;
    return 0;
}

int SubscriberTable::firstFree() const {
    for (int n = 1; n <= kSubscriberCount; ++n)
        if (entry(n).number.empty())
            return n;
    return 0;
}

DeviceSettings::DeviceSettings() {
    // The state of a freshly started program: erased image, decoded defaults.
    Decode_Parameters();
    odczytaj_uzytkownikow();
}

void DeviceSettings::Decode_Parameters(DecodeFallbacks* fb) {
    DecodeFallbacks local;
    DecodeFallbacks& f = fb ? *fb : local;
    DecodedSettings& d = decoded;
    const SettingsImage& im = image;

    // Test message: valid only when switched on and naming user 1..4.
    const std::uint8_t user = im.at(kTestMessageUser);
    if (im.valueGroupValid(kTestMessageEnabled, 2) && user >= 1 && user <= 4 &&
        im.at(kTestMessageEnabled) == 1) {
        d.test_message_on = true;
        d.test_message_user = std::to_string(user);
        f.test_message = false;
    } else {
        d.test_message_on = false;
        d.test_message_user.clear();
        f.test_message = true;
    }

    // Permanent outputs.
    f.output1_permanent = !im.valueGroupValid(kOutput1Permanent, 2);
    d.output1_permanent = !f.output1_permanent && im.at(kOutput1Permanent) == 1;
    f.output2_permanent = !im.valueGroupValid(kOutput2Permanent, 2);
    d.output2_permanent = !f.output2_permanent && im.at(kOutput2Permanent) == 1;

    // Daily limit: all four bytes as they stand, 0 bytes included.
    const auto limit = im.readDigits(kDailySmsLimit);
    f.daily_sms_limit = !limit.valid;
    d.daily_sms_limit = limit.valid ? limit.value : "20";

    auto mask = [&](std::size_t offset, bool& fallback) -> std::uint8_t {
        const auto pair = im.readValuePair(offset);
        fallback = !pair.valid;
        return pair.valid ? pair.value : 0xFF;
    };
    // SMS mask.
    d.sms_mask = mask(kSmsMask, f.sms_mask);

    // Balance reporting switches carry no check.
    d.balance_info_on = im.readFlag(kBalanceReportEnabled);
    d.balance_by_count_on = im.readFlag(kBalanceByCountEnabled);
    d.balance_by_time_on = im.readFlag(kBalanceByTimeEnabled);

    // Ring and input masks.
    d.ring_mask = mask(kRingMask, f.ring_mask);
    d.input_mask = mask(kInputMask, f.input_mask);

    // Echo defaults to on.
    const auto echo = im.readValuePair(kEchoEnabled);
    f.echo = !echo.valid;
    d.echo_on = echo.valid ? echo.value == 1 : true;

    // Balance count and interval: four characters as stored.
    const auto count = im.readDigits(kBalanceSmsCount);
    d.balance_sms_count_valid = count.valid;
    d.balance_sms_count = count.valid ? count.value : "";
    f.balance_sms_count = !count.valid;
    const auto days = im.readDigits(kBalanceIntervalDays);
    d.balance_days_valid = days.valid;
    d.balance_days = days.valid ? days.value : "";
    f.balance_days = !days.valid;

    // Query code: the stored length, then the check over the whole area.
    d.balance_query_code.clear();
    const auto length = im.readValuePair(kBalanceQueryCodeLength);
    if (length.valid)
        d.balance_query_code = im.chars(kBalanceQueryCode, length.value);
    const bool codeChecked = im.valueGroupValid(kBalanceQueryCode, kBalanceQueryCodeArea);
    if (!codeChecked)
        d.balance_query_code.clear();
    f.balance_query_code = !length.valid || !codeChecked;

    // Timed outputs: switch, seconds high byte first, check.
    auto timed = [&](std::size_t offset, bool& on, std::string& seconds, bool& fallback) {
        fallback = !im.valueGroupValid(offset, 3);
        if (fallback) {
            on = false;
            seconds.clear();
            return;
        }
        seconds = std::to_string(im.at(offset + 1) * 256 + im.at(offset + 2));
        on = im.at(offset) == 1;
    };
    timed(kOutput1AutoEnabled, d.output1_auto_on, d.output1_auto_seconds, f.output1_auto);
    timed(kOutput2AutoEnabled, d.output2_auto_on, d.output2_auto_seconds, f.output2_auto);

    // CLIP output permissions default to off.
    const auto clip1 = im.readValuePair(kClipOutput1Enabled);
    f.clip_output1 = !clip1.valid;
    d.clip_output1_on = clip1.valid && clip1.value == 1;
    const auto clip2 = im.readValuePair(kClipOutput2Enabled);
    f.clip_output2 = !clip2.valid;
    d.clip_output2_on = clip2.valid && clip2.value == 1;
}

void DeviceSettings::odczytaj_uzytkownikow(DecodeFallbacks* fb) {
    std::array<std::string*, 5> targets = {&decoded.sms_centre_number, &decoded.user_number[0],
                                           &decoded.user_number[1], &decoded.user_number[2],
                                           &decoded.user_number[3]};
    for (std::size_t i = 0; i < kPhoneFields.size(); ++i) {
        const auto r = image.readPhoneNumber(kPhoneFields[i]);
        *targets[i] = r.value;
        if (fb)
            fb->numbers[i] = !r.valid;
    }
}

void DeviceSettings::Decode_Texts(DecodeFallbacks* fb) {
    for (int slot = 0; slot < kTextSlotCount; ++slot) {
        const auto r = image.readText(slot);
        decoded.texts[static_cast<std::size_t>(slot)] = r.valid ? r.value : defaultText(slot);
        if (fb)
            fb->texts[static_cast<std::size_t>(slot)] = !r.valid;
    }
}

bool DeviceSettings::Decode_Subscriber(int n, std::string& text) const {
    auto r = image.readSubscriber(n);
    text = std::move(r.value);
    return r.valid;
}

void DeviceSettings::Clear_Subscribers() {
    subscribers.clear();
}

void DeviceSettings::Decode_Subscribers() {
    Clear_Subscribers();
    for (int n = 1; n <= kSubscriberCount; ++n) {
        // Most slots are free (their check fails): only the others are read.
        std::string text;
        if (image.subscriberValid(n) && Decode_Subscriber(n, text))
            subscribers.set(n, std::move(text));
    }
}

std::uint8_t DeviceSettings::Count_Subscribers() const {
    std::uint8_t count = 0;
    for (int n = 1; n <= kSubscriberCount; ++n)
        if (!subscribers.entry(n).number.empty())
            ++count;
    return count;
}

void DeviceSettings::Encode_Subscriber(int n) {
    if (!validIndex(n))
        return;
    auto& e = subscribers.entries_[static_cast<std::size_t>(n)];
    if (!e.number.empty()) {
        image.writeSubscriber(n, e.number);
    } else if (e.removed) {
        image.freeSubscriber(n);
        e.removed = false; // carried into the image; the slot is free now
    }
}

void DeviceSettings::Encode_Subscribers() {
    for (int n = 1; n <= kSubscriberCount; ++n)
        Encode_Subscriber(n);
}

void DeviceSettings::decodeAll(DecodeFallbacks* fb) {
    Decode_Parameters(fb);
    odczytaj_uzytkownikow(fb);
    Decode_Texts(fb);
    Decode_Subscribers();
}

void DeviceSettings::startWithErasedImage() {
    image.eraseAll();
    Decode_Parameters();
    odczytaj_uzytkownikow();
}

void DeviceSettings::loadImage(const SettingsImage::Bytes& bytes) {
    image.setBytes(bytes);
    // The file's callers too, not the last device's: the list is written back
    // over the file's slots when it is next left.
    decodeAll();
}

void DeviceSettings::storeBalanceQueryCodeLength(std::size_t length) {
    image.writeValuePair(kBalanceQueryCodeLength, static_cast<std::uint8_t>(length));
}

bool DeviceSettings::balanceQueryCodeLengthChecks() const {
    return (image.at(kBalanceQueryCodeLength) ^ 0xAA) == image.at(kBalanceQueryCodeLength + 1);
}

void DeviceSettings::storeClipOutputs(bool output1, bool output2) {
    decoded.clip_output1_on = output1;
    image.writeValuePair(kClipOutput1Enabled, output1 ? 1 : 0);
    decoded.clip_output2_on = output2;
    image.writeValuePair(kClipOutput2Enabled, output2 ? 1 : 0);
}

} // namespace trellikon
