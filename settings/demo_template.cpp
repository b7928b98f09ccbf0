#include "demo_template.h"

#include <cstdint>
#include <string>

namespace trellikon {

SettingsImage demoHouse() {
    using namespace layout;
    SettingsImage im;
    im.writePhoneNumber(kSmsCentreNumber, "48601000310");
    im.writePhoneNumber(kUserNumber1, "48600100200");
    im.writePhoneNumber(kUserNumber2, "48600100201");
    im.writePhoneNumber(kUserNumber3, "");
    im.writePhoneNumber(kUserNumber4, "");
    const std::uint8_t permanentOff[] = {0, 0};
    im.writeValueGroup(kOutput1Permanent, permanentOff);
    im.writeValueGroup(kOutput2Permanent, permanentOff);
    im.writeValuePair(kSmsMask, 0x0C);   // users 1 and 2
    im.writeValuePair(kRingMask, 0x08);  // user 1
    im.writeValuePair(kInputMask, 0xF0); // inputs 1..4
    im.writeSubscriber(1, "48600100200");
    im.writeSubscriber(2, "48600100201");
    im.writeSubscriber(43, "48512345678");
    return im;
}

SettingsImage demoTemplate() {
    using namespace layout;
    SettingsImage im = demoHouse();
    im.writeDigits(kDailySmsLimit, "50");
    const std::uint8_t output1Timed[] = {1, 0x01, 0x2C}; // on for 300 s
    im.writeValueGroup(kOutput1AutoEnabled, output1Timed);
    const std::uint8_t output2Off[] = {0, 0, 0};
    im.writeValueGroup(kOutput2AutoEnabled, output2Off);
    const std::uint8_t testToUser1[] = {1, 1};
    im.writeValueGroup(kTestMessageEnabled, testToUser1);
    im.writeValuePair(kEchoEnabled, 1);
    im.writeDigits(kBalanceIntervalDays, "7");
    im.writeDigits(kBalanceSmsCount, "100");
    for (std::size_t i = 0; i < kBalanceQueryCodeArea; ++i)
        im.set(kBalanceQueryCode + i, 0);
    const std::string code = "*101#";
    for (std::size_t i = 0; i < code.size(); ++i)
        im.set(kBalanceQueryCode + i, static_cast<std::uint8_t>(code[i]));
    im.set(kBalanceQueryCodeCheck, im.checkByte(kBalanceQueryCode, kBalanceQueryCodeArea));
    im.writeValuePair(kBalanceQueryCodeLength, static_cast<std::uint8_t>(code.size()));
    im.writeFlag(kBalanceReportEnabled, true);
    im.writeFlag(kBalanceByCountEnabled, false);
    im.writeFlag(kBalanceByTimeEnabled, true);
    im.writeValuePair(kClipOutput1Enabled, 1);
    im.writeValuePair(kClipOutput2Enabled, 0);
    const char* const texts[kTextSlotCount] = {
        "DOM KOWALSKICH: ",       "Zanik zasilania 230V",      "Powrot zasilania 230V",
        "Alarm: drzwi wejsciowe", "Drzwi wejsciowe zamkniete", "Alarm: okno salon",
        "Okno salon zamkniete",   "Alarm: czujka ruchu",       "Czujka ruchu spokoj",
        "Alarm: czujka dymu",     "Alarm: zalanie piwnicy",    "Aktywacja wejscia nr 6",
        "Aktywacja wejscia nr 7", "Aktywacja wejscia nr 8",    "Test Systemu SMS"};
    for (int k = 0; k < kTextSlotCount; ++k)
        im.writeText(k, texts[k]);
    return im;
}

} // namespace trellikon
