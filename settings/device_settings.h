#pragma once
// The decoded settings and the subscriber table, and the decoders that fill
// them from the settings image (and write the subscriber table back into it).
//
// The editors never work on raw bytes: they show and change these decoded
// values. Every decoder falls back to a fixed value when a field's check fails,
// so an erased image decodes to the defaults. Texts here are Windows-1250 bytes.

#include "settings_image.h"

#include <array>
#include <cstdint>
#include <string>

namespace trellikon {

struct DecodedSettings {
    std::string sms_centre_number;
    std::array<std::string, 4> user_number; // users 1..4 at 0..3
    bool output1_permanent = false;
    bool output2_permanent = false;
    std::string daily_sms_limit; // four characters as stored, or "20"
    bool output1_auto_on = false;
    std::string output1_auto_seconds;
    bool output2_auto_on = false;
    std::string output2_auto_seconds;
    bool test_message_on = false;
    std::string test_message_user;
    std::uint8_t sms_mask = 0;
    std::uint8_t ring_mask = 0;
    std::uint8_t input_mask = 0;
    bool echo_on = false;
    std::string balance_days;
    bool balance_days_valid = false;
    std::string balance_sms_count;
    bool balance_sms_count_valid = false;
    std::string balance_query_code;
    bool balance_info_on = false;
    bool balance_by_count_on = false;
    bool balance_by_time_on = false;
    bool clip_output1_on = false;
    bool clip_output2_on = false;
    // The fifteen message texts in slot order; texts[0] is the message header.
    std::array<std::string, layout::kTextSlotCount> texts;

    const std::string& message_header() const { return texts[layout::messageHeaderText]; }

    bool operator==(const DecodedSettings&) const = default;
};

// Which decoded fields fell back to their default because their check failed.
// Only the inspector reads this; the program itself never reports a fallback.
struct DecodeFallbacks {
    std::array<bool, 5> numbers{}; // SMS centre, users 1..4 (an empty field counts)
    bool test_message = false, output1_permanent = false, output2_permanent = false;
    bool daily_sms_limit = false, sms_mask = false, ring_mask = false, input_mask = false;
    bool echo = false, balance_sms_count = false, balance_days = false;
    bool balance_query_code = false, output1_auto = false, output2_auto = false;
    bool clip_output1 = false, clip_output2 = false;
    std::array<bool, layout::kTextSlotCount> texts{};
};

// The default of each text slot: what a reader shows when the check fails.
const std::string& defaultText(int slot);

// One entry of the subscriber table: 1..168.
struct SubscriberEntry {
    std::uint8_t slot_index = 0; // n for a filled entry n, 0 for an empty one
    std::string number;          // 11 characters, or empty
    // Set when the user removed this entry; the next encoding frees the slot in
    // the image so that the removed caller is really gone from the device.
    bool removed = false;

    bool operator==(const SubscriberEntry&) const = default;
};

class SubscriberTable {
  public:
    // Entries 1..168; anything else yields a shared empty entry and changes nothing.
    const SubscriberEntry& entry(int n) const;
    // Fills entry n (slot index n); false for n outside 1..168.
    bool set(int n, std::string number);
    // Empties entry n and marks its slot to be freed by the next encoding.
    bool remove(int n);
    // Every entry empty, no removal pending.
    void clear();
    // The lowest position holding exactly `number`, or 0; an empty number is never found.
    int position(const std::string& number) const;
    // The lowest free position, or 0 when all 168 are taken.
    int firstFree() const;

    bool operator==(const SubscriberTable&) const = default;

  private:
    friend class DeviceSettings;
    std::array<SubscriberEntry, layout::kSubscriberCount + 1> entries_{}; // [0] unused
};

// The main window's settings state: the image, the decoded settings and the
// subscriber table, with the decoders under their established names.
class DeviceSettings {
  public:
    DeviceSettings();

    SettingsImage image;
    DecodedSettings decoded;
    SubscriberTable subscribers;

    // Bytes 100..326 into the single-value fields, in the established order.
    void Decode_Parameters(DecodeFallbacks* fallbacks = nullptr);
    // Bytes 0..99 into the SMS centre and the four user numbers.
    void odczytaj_uzytkownikow(DecodeFallbacks* fallbacks = nullptr);
    // The fifteen text slots.
    void Decode_Texts(DecodeFallbacks* fallbacks = nullptr);

    // Slot n's 11 bytes as text; true when its check byte matches.
    bool Decode_Subscriber(int n, std::string& text) const;
    void Clear_Subscribers();
    void Decode_Subscribers();
    std::uint8_t Count_Subscribers() const;
    // Entry n into slot n: a filled entry writes its number and check; a removed
    // one frees the slot (twelve 0xFF); one never filled leaves the slot as it is.
    void Encode_Subscriber(int n);
    void Encode_Subscribers();

    // Everything the decoders fill, in the order used after a complete read.
    void decodeAll(DecodeFallbacks* fallbacks = nullptr);

    // The image edits of the windows, named for what they store.
    // An erased image (every byte 0xFF) with its parameters and numbers
    // decoded: the state at program start. Texts and callers keep what they hold.
    void startWithErasedImage();
    // A whole image taken over (a loaded template) and everything decoded from it.
    void loadImage(const SettingsImage::Bytes& bytes);
    // The balance-query code's length, stored whenever the parameters editor is left.
    void storeBalanceQueryCodeLength(std::size_t length);
    // Whether the stored length of the balance-query code passes its check; the
    // editor shows no code when it does not.
    bool balanceQueryCodeLengthChecks() const;
    // The subscriber window's permissions: may callers switch output 1 and 2.
    void storeClipOutputs(bool output1, bool output2);
};

} // namespace trellikon
