// The decoders over any settings memory. Input: up to 4096 image bytes; a
// shorter input is padded with 0xFF (erased memory).
//
// Checked: decoding never writes to the image; writing the decoded subscriber
// table straight back leaves the image unchanged (a read followed by a write
// gives the device its own bytes); a field whose check failed holds its
// default; a filled subscriber entry holds the slot's 11 bytes; decoding the
// same bytes twice gives the same settings.
#include "device_settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace trellikon;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "decoders: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SettingsImage::Bytes bytes;
    bytes.fill(0xFF);
    std::memcpy(bytes.data(), data, std::min(size, bytes.size()));

    DeviceSettings s;
    s.image.setBytes(bytes);
    DecodeFallbacks fb;
    s.decodeAll(&fb);
    if (s.image.bytes() != bytes)
        fail("decoding changed the image");

    for (int slot = 0; slot < layout::kTextSlotCount; ++slot) {
        const auto k = static_cast<std::size_t>(slot);
        if (fb.texts[k] && s.decoded.texts[k] != defaultText(slot))
            fail("a text whose check failed is not its default");
    }
    int filled = 0;
    for (int n = 1; n <= layout::kSubscriberCount; ++n) {
        const SubscriberEntry& e = s.subscribers.entry(n);
        std::string slot;
        const bool valid = s.Decode_Subscriber(n, slot);
        if (e.slot_index != 0) {
            ++filled;
            if (e.slot_index != n || !valid || e.number != slot ||
                e.number.size() != layout::kSubscriberNumberLength)
                fail("a subscriber entry differs from its slot");
        } else if (valid) {
            fail("a valid slot was left out of the table");
        }
    }
    if (s.Count_Subscribers() > filled || filled > layout::kSubscriberCount)
        fail("subscriber count out of range");

    s.Encode_Subscribers();
    if (s.image.bytes() != bytes)
        fail("decode then Encode_Subscribers changed the image");

    DeviceSettings again;
    again.image.setBytes(bytes);
    again.decodeAll();
    if (!(again.decoded == s.decoded) || !(again.subscribers == s.subscribers))
        fail("the same bytes decoded differently");
    return 0;
}
