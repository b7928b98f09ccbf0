#include "settings_image.h"

#include <algorithm>

namespace trellikon {

namespace layout {
std::optional<std::size_t> textSlotOffset(int slot) {
    if (slot < 0 || slot >= kTextSlotCount)
        return std::nullopt;
    const auto block = 1 + static_cast<std::size_t>(slot) / kTextSlotsPerBlock;
    const auto k = static_cast<std::size_t>(slot) % kTextSlotsPerBlock;
    return block * kBlockSize + kTextSlotSize * k;
}
} // namespace layout

namespace {
bool isDigit(std::uint8_t b) {
    return b >= '0' && b <= '9';
}
} // namespace

std::uint8_t SettingsImage::checkByteOf(std::span<const std::uint8_t> bytes) {
    std::uint8_t x = 0xAA;
    for (auto b : bytes)
        x ^= b;
    return x;
}

std::uint8_t SettingsImage::checkByte(std::size_t offset, std::size_t count) const {
    if (offset >= bytes_.size())
        return 0xAA;
    count = std::min(count, bytes_.size() - offset);
    return checkByteOf(std::span(bytes_).subspan(offset, count));
}

void SettingsImage::eraseAll() {
    bytes_.fill(0xFF);
}

std::optional<SettingsImage::Block> SettingsImage::block(int b) const {
    if (b < 0 || b >= layout::kBlockCount)
        return std::nullopt;
    Block out{};
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(b) * layout::kBlockSize,
                layout::kBlockSize, out.begin());
    return out;
}

bool SettingsImage::setBlock(int b, std::span<const std::uint8_t> data) {
    if (b < 0 || b >= layout::kBlockCount || data.size() != layout::kBlockSize)
        return false;
    std::copy(data.begin(), data.end(),
              bytes_.begin() + static_cast<std::ptrdiff_t>(b) * layout::kBlockSize);
    return true;
}

std::uint8_t SettingsImage::at(std::size_t offset) const {
    return offset < bytes_.size() ? bytes_[offset] : 0;
}

void SettingsImage::set(std::size_t offset, std::uint8_t value) {
    if (offset < bytes_.size())
        bytes_[offset] = value;
}

void SettingsImage::fill(std::size_t offset, std::size_t count, std::uint8_t value) {
    for (std::size_t i = 0; i < count; ++i)
        set(offset + i, value);
}

std::string SettingsImage::chars(std::size_t offset, std::size_t count) const {
    if (offset >= bytes_.size())
        return {};
    count = std::min(count, bytes_.size() - offset);
    return std::string(reinterpret_cast<const char*>(bytes_.data() + offset), count);
}

std::optional<std::size_t> SettingsImage::subscriberOffset(int n) {
    if (n < 1 || n > layout::kSubscriberCount)
        return std::nullopt;
    const int block = layout::kFirstSubscriberBlock + (n - 1) / layout::kSubscribersPerBlock;
    const int pos = (n - 1) % layout::kSubscribersPerBlock;
    return static_cast<std::size_t>(block) * layout::kBlockSize +
           layout::kSubscriberSlotSize * static_cast<std::size_t>(pos);
}

FieldRead<std::string> SettingsImage::readPhoneNumber(std::size_t offset) const {
    FieldRead<std::string> r;
    std::uint8_t x = 0xAA;
    for (std::size_t i = 0; i < layout::kPhoneFieldSize; ++i) {
        const std::uint8_t b = at(offset + i);
        if (!isDigit(b)) {
            r.valid = i >= 2 && i <= 17 && at(offset + layout::kPhoneFieldSize - 1) == x;
            if (!r.valid)
                r.value.clear();
            return r;
        }
        r.value += static_cast<char>(b);
        x ^= b;
    }
    r.valid = true; // twenty digits: taken as they stand, with no check
    return r;
}

void SettingsImage::writePhoneNumber(std::size_t offset, std::string_view digits) {
    fill(offset, layout::kPhoneFieldSize, 0x00);
    const std::size_t n = std::min(digits.size(), layout::kPhoneFieldSize - 1);
    for (std::size_t i = 0; i < n; ++i)
        set(offset + i, static_cast<std::uint8_t>(digits[i]));
    set(offset + layout::kPhoneFieldSize - 1, checkByte(offset, n));
}

FieldRead<std::uint8_t> SettingsImage::readValuePair(std::size_t offset) const {
    const std::uint8_t v = at(offset);
    return {v, at(offset + 1) == static_cast<std::uint8_t>(v ^ 0xAA)};
}

void SettingsImage::writeValuePair(std::size_t offset, std::uint8_t value) {
    set(offset, value);
    set(offset + 1, static_cast<std::uint8_t>(value ^ 0xAA));
}

bool SettingsImage::valueGroupValid(std::size_t offset, std::size_t n) const {
    return offset + n < bytes_.size() && at(offset + n) == checkByte(offset, n);
}

FieldRead<std::string> SettingsImage::readValueGroup(std::size_t offset, std::size_t n) const {
    return {chars(offset, n), valueGroupValid(offset, n)};
}

void SettingsImage::writeValueGroup(std::size_t offset, std::span<const std::uint8_t> values) {
    for (std::size_t i = 0; i < values.size(); ++i)
        set(offset + i, values[i]);
    set(offset + values.size(), checkByteOf(values));
}

FieldRead<std::string> SettingsImage::readDigits(std::size_t offset) const {
    // All four bytes as they stand, 0 bytes included: that is what the device
    // keeps, and what goes back to it on the next write.
    return readValueGroup(offset, layout::kDigitsLongest);
}

void SettingsImage::writeDigits(std::size_t offset, std::string_view digits) {
    fill(offset, layout::kDigitsFieldSize, 0x00);
    const std::size_t n = std::min(digits.size(), layout::kDigitsLongest);
    for (std::size_t i = 0; i < n; ++i)
        set(offset + i, static_cast<std::uint8_t>(digits[i]));
    set(offset + layout::kDigitsLongest, checkByte(offset, layout::kDigitsLongest));
}

FieldRead<std::string> SettingsImage::readText(int slot) const {
    FieldRead<std::string> r;
    const auto offset = layout::textSlotOffset(slot);
    if (!offset)
        return r;
    // How far the reader looks for the ending 0 byte: the header is cut at 52
    // bytes, the other texts run on into their own check byte at 101.
    constexpr std::size_t kHeaderScan = 52;
    constexpr std::size_t kTextScan = layout::kTextSlotSize;
    const std::size_t scan = std::min(slot == layout::messageHeaderText ? kHeaderScan : kTextScan,
                                      bytes_.size() - *offset);
    const auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(*offset);
    const auto end = std::find(first, first + static_cast<std::ptrdiff_t>(scan), 0);
    r.value.assign(first, end);
    r.valid = at(*offset + layout::kTextCheck) == checkByteOf(std::span(first, end));
    return r;
}

bool SettingsImage::writeText(int slot, std::string_view text) {
    const auto offset = layout::textSlotOffset(slot);
    if (!offset)
        return false;
    const std::size_t longest = layout::textLongest(slot);
    // A 0x00 inside the text would end it early for every reader: cut it there.
    text = text.substr(0, std::min(text.find('\0'), longest));
    fill(*offset, layout::kTextSlotSize, 0x00);
    for (std::size_t i = 0; i < text.size(); ++i)
        set(*offset + i, static_cast<std::uint8_t>(text[i]));
    set(*offset + layout::kTextCheck, checkByte(*offset, text.size()));
    return true;
}

FieldRead<std::string> SettingsImage::readSubscriber(int n) const {
    FieldRead<std::string> r;
    const auto offset = subscriberOffset(n);
    if (!offset)
        return r;
    r.value = chars(*offset, layout::kSubscriberNumberLength);
    r.valid = valueGroupValid(*offset, layout::kSubscriberNumberLength);
    return r;
}

bool SettingsImage::subscriberValid(int n) const {
    const auto offset = subscriberOffset(n);
    return offset && valueGroupValid(*offset, layout::kSubscriberNumberLength);
}

bool SettingsImage::writeSubscriber(int n, std::string_view number) {
    const auto offset = subscriberOffset(n);
    if (!offset)
        return false;
    for (std::size_t i = 0; i < layout::kSubscriberNumberLength; ++i)
        set(*offset + i, i < number.size() ? static_cast<std::uint8_t>(number[i]) : 0);
    set(*offset + layout::kSubscriberNumberLength,
        checkByte(*offset, layout::kSubscriberNumberLength));
    return true;
}

bool SettingsImage::freeSubscriber(int n) {
    const auto offset = subscriberOffset(n);
    if (!offset)
        return false;
    fill(*offset, layout::kSubscriberSlotSize, 0xFF);
    return true;
}

} // namespace trellikon
