#pragma once
// The settings image: a byte-for-byte copy of the device's 4096-byte settings
// memory, and the codecs of its fields.
//
// How the pieces of this library fit together:
//   SettingsImage     the bytes, the check-byte rule and one reader/writer per field kind
//   layout::          every field offset of block 0 and every text and subscriber slot
//   DeviceSettings    (device_settings.h) the image plus the decoded settings and the
//                     subscriber table, with the decoders that turn one into the other
//   cp1250            the code page of every stored text
//   template_file     loading an image from a template file
//   subscriber_csv    the subscriber table to and from spreadsheets' CSV files
//   error_text        the system's words for a failed call, for every message that needs them
//
// Every accessor is bounds-checked: a block, slot or offset outside the image is
// refused and never touches memory outside it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace trellikon {

namespace layout {

inline constexpr std::size_t kImageSize = 4096;
inline constexpr std::size_t kBlockSize = 512;
inline constexpr int kBlockCount = 8;

// Block 0: parameters.
inline constexpr std::size_t kPhoneFieldSize = 20;
inline constexpr std::size_t kSmsCentreNumber = 0;
inline constexpr std::size_t kUserNumber1 = 20;
inline constexpr std::size_t kUserNumber2 = 40;
inline constexpr std::size_t kUserNumber3 = 60;
inline constexpr std::size_t kUserNumber4 = 80;
inline constexpr std::array<std::size_t, 5> kPhoneFields = {
    kSmsCentreNumber, kUserNumber1, kUserNumber2, kUserNumber3, kUserNumber4};

inline constexpr std::size_t kOutput1Permanent = 100; // value, reserved 0, check
inline constexpr std::size_t kOutput1PermanentReserved = 101;
inline constexpr std::size_t kOutput1PermanentCheck = 102;
inline constexpr std::size_t kOutput1PermanentPadding = 103; // 2 bytes, written 0
inline constexpr std::size_t kOutput2Permanent = 105;
inline constexpr std::size_t kOutput2PermanentReserved = 106;
inline constexpr std::size_t kOutput2PermanentCheck = 107;
inline constexpr std::size_t kOutput2PermanentPadding = 108;
inline constexpr std::size_t kDailySmsLimit = 110; // DigitsField, check at 114
inline constexpr std::size_t kOutput1AutoEnabled = 120;
inline constexpr std::size_t kOutput1AutoSeconds = 121; // 16 bit, high byte first
inline constexpr std::size_t kOutput1AutoCheck = 123;
inline constexpr std::size_t kTestMessageEnabled = 130;
inline constexpr std::size_t kTestMessageUser = 131;
inline constexpr std::size_t kTestMessageCheck = 132;
inline constexpr std::size_t kOutput2AutoEnabled = 135;
inline constexpr std::size_t kOutput2AutoSeconds = 136;
inline constexpr std::size_t kOutput2AutoCheck = 138;
inline constexpr std::size_t kSmsMask = 140;     // value pair
inline constexpr std::size_t kRingMask = 145;    // value pair
inline constexpr std::size_t kEchoEnabled = 155; // value pair
inline constexpr std::size_t kInputMask = 160;   // value pair
// A mask keeps its first box in its highest used bit: users 1..4 in 0x08..0x01,
// inputs 1..8 in 0x80..0x01.
constexpr std::uint8_t userMaskBit(int user) {
    return static_cast<std::uint8_t>(0x10 >> user);
}
constexpr std::uint8_t inputMaskBit(int input) {
    return static_cast<std::uint8_t>(0x100 >> input);
}
inline constexpr std::size_t kBalanceIntervalDays = 165; // DigitsField, check at 169
inline constexpr std::size_t kBalanceSmsCount = 170;     // DigitsField, check at 174
inline constexpr std::size_t kBalanceQueryCode = 175;
inline constexpr std::size_t kBalanceQueryCodeArea = 100; // bytes covered by the check
inline constexpr std::size_t kBalanceQueryCodeLongest = 20;
inline constexpr std::size_t kBalanceQueryCodeCheck = 275;
inline constexpr std::size_t kBalanceQueryCodeLength = 300; // value pair
inline constexpr std::size_t kBalanceReportEnabled = 305;   // plain flag
inline constexpr std::size_t kBalanceByCountEnabled = 310;  // plain flag
inline constexpr std::size_t kBalanceByTimeEnabled = 315;   // plain flag
inline constexpr std::size_t kClipOutput1Enabled = 320;     // value pair
inline constexpr std::size_t kClipOutput2Enabled = 325;     // value pair
inline constexpr std::size_t kLastParameterByte = 326;
inline constexpr std::size_t kDigitsFieldSize = 5;
// A digits field's characters; its check byte follows them.
inline constexpr std::size_t kDigitsLongest = kDigitsFieldSize - 1;

// Blocks 1 to 3: fifteen message text slots of 102 bytes, five per block.
inline constexpr std::size_t kTextSlotSize = 102;
inline constexpr std::size_t kTextCheck = 101; // check byte inside a slot
inline constexpr int kTextSlotCount = 15;
inline constexpr std::size_t kTextSlotsPerBlock = 5;
inline constexpr std::size_t kHeaderLongest = 50;
inline constexpr std::size_t kTextLongest = 100;
// The longest text slot `slot` takes: the header is shorter than the alarms.
constexpr std::size_t textLongest(int slot) {
    return slot == 0 ? kHeaderLongest : kTextLongest;
}

enum TextSlot : int {
    messageHeaderText = 0,
    powerLossText,
    powerReturnText,
    input1OnText,
    input1OffText,
    input2OnText,
    input2OffText,
    input3OnText,
    input3OffText,
    input4OnText,
    input5OnText,
    input6OnText,
    input7OnText,
    input8OnText,
    testMessageText,
};

// Offset of text slot k (0..14), or nothing for a slot that does not exist.
std::optional<std::size_t> textSlotOffset(int slot);

// Blocks 4 to 7: 168 subscriber slots of 12 bytes, 42 per block.
inline constexpr std::size_t kSubscriberSlotSize = 12;
inline constexpr std::size_t kSubscriberNumberLength = 11;
inline constexpr int kSubscriberCount = 168;
inline constexpr int kSubscribersPerBlock = 42;
inline constexpr int kFirstSubscriberBlock = 4;

} // namespace layout

// A field read from the image: its value and whether its check byte matched.
template <typename T> struct FieldRead {
    T value{};
    bool valid = false;
};

class SettingsImage {
  public:
    using Bytes = std::array<std::uint8_t, layout::kImageSize>;
    using Block = std::array<std::uint8_t, layout::kBlockSize>;

    SettingsImage() { eraseAll(); }

    // 0xAA XOR the `count` bytes from `offset`. A range reaching past the image
    // covers only the bytes inside it.
    std::uint8_t checkByte(std::size_t offset, std::size_t count) const;
    static std::uint8_t checkByteOf(std::span<const std::uint8_t> bytes);

    void eraseAll();

    // Blocks 0..7; anything else is refused (false / nothing) and changes nothing.
    std::optional<Block> block(int b) const;
    bool setBlock(int b, std::span<const std::uint8_t> data);

    const Bytes& bytes() const { return bytes_; }
    void setBytes(const Bytes& all) { bytes_ = all; }

    std::uint8_t at(std::size_t offset) const;        // 0 outside the image
    void set(std::size_t offset, std::uint8_t value); // ignored outside the image
    // Up to `count` bytes from `offset`, cut at the end of the image.
    std::string chars(std::size_t offset, std::size_t count) const;

    // Offset of subscriber slot n (1..168); nothing for any other n.
    static std::optional<std::size_t> subscriberOffset(int n);

    // PhoneNumberField (20 bytes): the leading digits, valid for 2..17 digits
    // with a matching check in byte 19; twenty digits read as such, unchecked.
    FieldRead<std::string> readPhoneNumber(std::size_t offset) const;
    // Clears the 20 bytes, copies the digits (at most 19) and stores the check.
    void writePhoneNumber(std::size_t offset, std::string_view digits);

    // Value pair: v then v XOR 0xAA.
    FieldRead<std::uint8_t> readValuePair(std::size_t offset) const;
    void writeValuePair(std::size_t offset, std::uint8_t value);

    // Value group: n bytes then their check.
    bool valueGroupValid(std::size_t offset, std::size_t n) const;
    FieldRead<std::string> readValueGroup(std::size_t offset, std::size_t n) const;
    void writeValueGroup(std::size_t offset, std::span<const std::uint8_t> values);

    // Plain flag: 1 is on, anything else off; no check.
    bool readFlag(std::size_t offset) const { return at(offset) == 1; }
    void writeFlag(std::size_t offset, bool on) { set(offset, on ? 1 : 0); }

    // DigitsField (5 bytes): bytes 0..3 as they stand, 0 bytes included, valid
    // when byte 4 is the check over them.
    FieldRead<std::string> readDigits(std::size_t offset) const;
    void writeDigits(std::size_t offset, std::string_view digits); // at most 4 kept

    // TextSlot (102 bytes) k = 0..14: the text up to its first 0x00, looked for
    // in the first 52 bytes of the header and in all 102 bytes of any other slot,
    // valid when byte 101 is the check over what was read. Writing clears the
    // slot and keeps at most 50 (header) or 100 characters, so a 0x00 always ends
    // the text.
    FieldRead<std::string> readText(int slot) const;
    bool writeText(int slot, std::string_view text);

    // SubscriberSlot (12 bytes) n = 1..168: the 11 bytes as characters, valid
    // (occupied) when byte 11 is their check.
    FieldRead<std::string> readSubscriber(int n) const;
    bool subscriberValid(int n) const; // readSubscriber(n).valid, without the read
    // Writes 11 characters (shorter input is padded with 0x00) and their check.
    bool writeSubscriber(int n, std::string_view number);
    // Returns the slot to the erased state: twelve 0xFF bytes, a free slot.
    bool freeSubscriber(int n);

  private:
    void fill(std::size_t offset, std::size_t count, std::uint8_t value);
    Bytes bytes_{};
};

} // namespace trellikon
