#include "editor_model.h"

#include "entry_messages.h"

namespace trellikon::editor {

namespace {

using namespace messages;

constexpr Field kUsers[4] = {Field::User1, Field::User2, Field::User3, Field::User4};

int& permanentIndex(EditorSnapshot& s, int output) {
    return output == 1 ? s.output1_permanent_index : s.output2_permanent_index;
}
int& timedIndex(EditorSnapshot& s, int output) {
    return output == 1 ? s.output1_auto_index : s.output2_auto_index;
}

// The text a text field holds in the snapshot; nullptr for a choice.
std::string* textOf(EditorSnapshot& s, Field field, int slot) {
    if (const auto user = userOf(field))
        return &s.user_number[static_cast<std::size_t>(*user - 1)];
    switch (field) {
    case Field::SmsCentre:
        return &s.sms_centre_number;
    case Field::Output1Seconds:
        return &s.output1_auto_seconds;
    case Field::Output2Seconds:
        return &s.output2_auto_seconds;
    case Field::DailyLimit:
        return &s.daily_sms_limit;
    case Field::QueryCode:
        return &s.balance_query_code;
    case Field::SmsCount:
        return &s.balance_sms_count;
    case Field::Days:
        return &s.balance_days;
    case Field::TestMessageUser:
        return &s.test_message_user;
    case Field::Text:
        return slot >= 0 && slot < layout::kTextSlotCount ? &s.texts[static_cast<std::size_t>(slot)]
                                                          : nullptr;
    default:
        return nullptr;
    }
}

// The tick of a field held by slot; nullptr for any other.
bool* tickOf(EditorSnapshot& s, Field field, int slot) {
    const auto at = static_cast<std::size_t>(slot);
    switch (field) {
    case Field::Echo:
        return &s.echo;
    case Field::SmsMask:
        return at < s.sms_mask_user.size() ? &s.sms_mask_user[at] : nullptr;
    case Field::RingMask:
        return at < s.ring_mask_user.size() ? &s.ring_mask_user[at] : nullptr;
    case Field::InputMask:
        return at < s.input_mask_input.size() ? &s.input_mask_input[at] : nullptr;
    default:
        return nullptr;
    }
}

// Whether a choice field is on in the snapshot; nothing for one it does not hold.
std::optional<bool> choiceOf(EditorSnapshot& s, Field field) {
    switch (field) {
    case Field::Output1Permanent:
    case Field::Output2Permanent:
        return permanentIndex(s, *outputOf(field)) == kItemOn;
    case Field::Output1Timed:
    case Field::Output2Timed:
        return timedIndex(s, *outputOf(field)) == kItemOn;
    case Field::BalanceInfo:
        return s.balance_info;
    case Field::ReportByCount:
        return s.balance_by_count;
    case Field::ReportByTime:
        return s.balance_by_time;
    case Field::TestMessageOn:
        return s.test_message_on;
    default:
        return std::nullopt;
    }
}

void setChoice(EditorSnapshot& s, Field field, bool on, int slot = 0) {
    const int index = on ? kItemOn : kItemOff;
    if (bool* tick = tickOf(s, field, slot)) {
        *tick = on;
        return;
    }
    switch (field) {
    case Field::Output1Permanent:
    case Field::Output2Permanent:
        permanentIndex(s, *outputOf(field)) = index;
        break;
    case Field::Output1Timed:
    case Field::Output2Timed:
        timedIndex(s, *outputOf(field)) = index;
        break;
    case Field::BalanceInfo:
        s.balance_info = on;
        break;
    case Field::ReportByCount:
        s.balance_by_count = on;
        break;
    case Field::ReportByTime:
        s.balance_by_time = on;
        break;
    case Field::TestMessageOn:
        s.test_message_on = on;
        break;
    default:
        break;
    }
}

Change text(Field field, std::string value) {
    return {field, 0, std::move(value), std::nullopt, std::nullopt};
}
Change choice(Field field, bool on) {
    return {field, 0, std::nullopt, on, std::nullopt};
}
Change editable(Field field, bool on) {
    return {field, 0, std::nullopt, std::nullopt, on};
}

// A change reaches the snapshot as it reaches a control: only a real change
// counts, and it has consequences of its own.
void take(EditorSnapshot& shown, const Change& c, Judge judge) {
    if (c.text) {
        const std::string* now = textOf(shown, c.field, c.slot);
        if (now && *now != *c.text)
            apply(shown, c.field, *c.text, judge, c.slot);
    } else if (c.on) {
        if (choiceOf(shown, c.field) != c.on)
            apply(shown, c.field, *c.on, judge);
    }
}

void takeAll(EditorSnapshot& shown, const Outcome& out, Judge judge) {
    for (const Change& c : out.changes)
        take(shown, c, judge);
}

} // namespace

Field userField(int user) {
    return kUsers[user - 1];
}
Field permanentField(int output) {
    return output == 1 ? Field::Output1Permanent : Field::Output2Permanent;
}
Field timedField(int output) {
    return output == 1 ? Field::Output1Timed : Field::Output2Timed;
}
Field secondsField(int output) {
    return output == 1 ? Field::Output1Seconds : Field::Output2Seconds;
}
Field clipField(int output) {
    return output == 1 ? Field::ClipOutput1 : Field::ClipOutput2;
}

bool isChoice(Field field) {
    switch (field) {
    case Field::Output1Permanent:
    case Field::Output2Permanent:
    case Field::Output1Timed:
    case Field::Output2Timed:
    case Field::BalanceInfo:
    case Field::ReportByCount:
    case Field::ReportByTime:
    case Field::TestMessageOn:
    case Field::ClipOutput1:
    case Field::ClipOutput2:
    case Field::Echo:
    case Field::SmsMask:
    case Field::RingMask:
    case Field::InputMask:
        return true;
    default:
        return false;
    }
}

int operatorOfCentre(std::string_view number) {
    for (int i = kOrange; i <= kPlay; ++i)
        if (number == kOperatorPresets[i].number)
            return i;
    return kOtherOperator;
}

std::optional<int> userOf(Field field) {
    for (int user = 1; user <= 4; ++user)
        if (field == kUsers[user - 1])
            return user;
    return std::nullopt;
}

std::optional<int> outputOf(Field field) {
    switch (field) {
    case Field::Output1Permanent:
    case Field::Output1Timed:
    case Field::Output1Seconds:
    case Field::ClipOutput1:
        return 1;
    case Field::Output2Permanent:
    case Field::Output2Timed:
    case Field::Output2Seconds:
    case Field::ClipOutput2:
        return 2;
    default:
        return std::nullopt;
    }
}

Outcome apply(EditorSnapshot& shown, Field field, std::string_view typed, Judge judge, int slot) {
    Outcome out;
    std::string* box = textOf(shown, field, slot);
    if (!box)
        return out;
    const bool asTyped = judge == Judge::AsTyped;
    if (const auto user = userOf(field)) {
        out.verdict = rules::userNumberEntry(*user, typed);
        // The test message cannot go to a user who is no more.
        if (!out.verdict.refused() &&
            rules::testMessageLosesUser(*user, typed, shown.test_message_on,
                                        shown.test_message_user)) {
            out.notice = kTestSmsUser;
            out.changes = {choice(Field::TestMessageOn, false), text(Field::TestMessageUser, ""),
                           editable(Field::TestMessageUser, false)};
        }
    } else if (const auto output = outputOf(field)) {
        if (asTyped)
            out.verdict =
                rules::outputSecondsRange(*output, typed, timedIndex(shown, *output) == kItemOn);
        if (!out.verdict.refused())
            out.verdict = rules::outputSecondsForm(*output, typed);
    } else {
        switch (field) {
        case Field::SmsCentre:
            out.verdict = rules::smsCentreEntry(typed);
            // Another operator's centre has no balance-query code of its own.
            if (!out.verdict.refused() && shown.sms_operator_index == kOtherOperator)
                out.changes = {text(Field::QueryCode, "")};
            break;
        case Field::DailyLimit:
            out.verdict = rules::dailyLimitEntry(typed);
            break;
        case Field::QueryCode:
            out.verdict = rules::queryCodeEntry(typed);
            // Without a code there is nothing to report by.
            if (!out.verdict.refused() && typed.empty())
                out.changes = {choice(Field::ReportByCount, false),
                               editable(Field::SmsCount, false), choice(Field::ReportByTime, false),
                               editable(Field::Days, false)};
            break;
        case Field::SmsCount:
            out.verdict = rules::smsCountEntry(typed);
            break;
        case Field::Days:
            out.verdict = rules::daysEntry(typed);
            break;
        case Field::TestMessageUser:
            out.verdict = rules::testIndexEntry(typed);
            if (asTyped && !out.verdict.refused())
                out.verdict = rules::testUserDefinedEntry(typed, shown.user_number);
            break;
        case Field::Text:
            out.verdict = rules::textEntry(slot, typed, !box->empty());
            // A refused text gives way to the last one the box took.
            if (out.verdict.refused())
                out.verdict.put_back = *box;
            break;
        default:
            break;
        }
    }
    if (out.verdict.refused() && out.verdict.put_back) {
        // The box judges its replacement as a new entry, still knowing what
        // it held before the refused one.
        const std::string putBack = *out.verdict.put_back;
        if (putBack != typed)
            apply(shown, field, putBack, judge, slot);
        else
            *box = putBack;
        return out;
    }
    *box = std::string(typed);
    takeAll(shown, out, judge);
    return out;
}

Outcome apply(EditorSnapshot& shown, Field field, bool on, Judge judge, int slot) {
    Outcome out;
    setChoice(shown, field, on, slot);
    const auto output = outputOf(field);
    switch (field) {
    // Permanently on and switched on for a time exclude each other.
    case Field::Output1Permanent:
    case Field::Output2Permanent:
        if (on)
            out.changes = {choice(timedField(*output), false),
                           editable(secondsField(*output), false)};
        else
            out.changes = {editable(secondsField(*output), true)};
        break;
    case Field::Output1Timed:
    case Field::Output2Timed:
        if (on)
            out.changes = {choice(permanentField(*output), false),
                           editable(secondsField(*output), true),
                           text(secondsField(*output), kTimedSeconds)};
        else
            out.changes = {editable(secondsField(*output), false)};
        break;
    case Field::BalanceInfo:
        out.changes = {editable(Field::QueryCode, on)};
        break;
    case Field::ReportByCount:
    case Field::ReportByTime: {
        const Field value = field == Field::ReportByCount ? Field::SmsCount : Field::Days;
        if (judge == Judge::AsTyped)
            out.verdict = rules::reportOptionEntry(on, shown.balance_query_code);
        // A refused tick is taken back, which is a change of its own.
        if (out.verdict.refused()) {
            apply(shown, field, false, judge);
            return out;
        }
        out.changes = {editable(value, on)};
        break;
    }
    case Field::TestMessageOn:
        out.changes = {editable(Field::TestMessageUser, on)};
        break;
    // A caller may switch an output only while it is switched on for a time.
    case Field::ClipOutput1:
    case Field::ClipOutput2:
        if (on && timedIndex(shown, *output) == kItemOff)
            out.changes = {choice(timedField(*output), true),
                           text(secondsField(*output), kClipSeconds),
                           editable(secondsField(*output), true)};
        break;
    default:
        break;
    }
    takeAll(shown, out, judge);
    return out;
}

void setValue(EditorSnapshot& shown, Field field, std::string_view value, int slot) {
    if (std::string* box = textOf(shown, field, slot))
        *box = std::string(value);
}

void setValue(EditorSnapshot& shown, Field field, bool on, int slot) {
    setChoice(shown, field, on, slot);
}

std::vector<rules::EntryVerdict> judgeTogether(const EditorSnapshot& shown,
                                               std::array<bool, 2> reportTurnedOn) {
    std::vector<rules::EntryVerdict> refused;
    auto judge = [&](rules::EntryVerdict v) {
        if (v.refused())
            refused.push_back(std::move(v));
    };
    const EditorSnapshot& s = shown;
    judge(rules::outputSecondsRange(1, s.output1_auto_seconds, s.output1_auto_index == kItemOn));
    judge(rules::outputSecondsRange(2, s.output2_auto_seconds, s.output2_auto_index == kItemOn));
    judge(rules::reportOptionEntry((reportTurnedOn[0] && s.balance_by_count) ||
                                       (reportTurnedOn[1] && s.balance_by_time),
                                   s.balance_query_code));
    judge(rules::testUserDefinedEntry(s.test_message_user, s.user_number));
    return refused;
}

EditorSnapshot shownOnOpen(const DeviceSettings& settings) {
    const DecodedSettings& d = settings.decoded;
    EditorSnapshot s;
    s.sms_centre_number = d.sms_centre_number;
    s.user_number = d.user_number;
    s.echo = d.echo_on;
    s.sms_mask_user = userBoxes(d.sms_mask);
    s.ring_mask_user = userBoxes(d.ring_mask);
    s.input_mask_input = inputBoxes(d.input_mask);
    // Timed wins over permanent: switching on the timed mode switches the other off.
    s.output1_auto_index = d.output1_auto_on ? kItemOn : kItemOff;
    s.output1_permanent_index = d.output1_permanent && !d.output1_auto_on ? kItemOn : kItemOff;
    s.output2_auto_index = d.output2_auto_on ? kItemOn : kItemOff;
    s.output2_permanent_index = d.output2_permanent && !d.output2_auto_on ? kItemOn : kItemOff;
    s.output1_auto_seconds = d.output1_auto_seconds;
    s.output2_auto_seconds = d.output2_auto_seconds;
    s.daily_sms_limit = d.daily_sms_limit;
    s.balance_query_code =
        settings.balanceQueryCodeLengthChecks() ? d.balance_query_code : std::string();
    s.sms_operator_index = operatorOfCentre(d.sms_centre_number);
    s.balance_info = d.balance_info_on;
    s.balance_by_count = d.balance_by_count_on;
    s.balance_by_time = d.balance_by_time_on;
    s.balance_sms_count = d.balance_sms_count;
    s.balance_days = d.balance_days;
    s.test_message_on = d.test_message_on;
    s.test_message_user = d.test_message_on ? d.test_message_user : std::string();
    s.texts = d.texts;
    return s;
}

void storeParameters(const EditorSnapshot& s, DeviceSettings& settings) {
    DecodedSettings& d = settings.decoded;
    d.sms_centre_number = s.sms_centre_number;
    d.user_number = s.user_number;
    d.echo_on = s.echo;
    d.sms_mask = userMask(s.sms_mask_user);
    d.ring_mask = userMask(s.ring_mask_user);
    d.input_mask = inputMask(s.input_mask_input);
    d.output1_permanent = s.output1_permanent_index == kItemOn;
    d.output2_permanent = s.output2_permanent_index == kItemOn;
    d.balance_sms_count_valid = d.balance_by_count_on = s.balance_by_count;
    d.balance_days_valid = d.balance_by_time_on = s.balance_by_time;
    d.balance_query_code = s.balance_query_code;
    settings.storeBalanceQueryCodeLength(d.balance_query_code.size());
    d.balance_info_on = s.balance_info;
    d.balance_sms_count = s.balance_sms_count;
    d.balance_days = s.balance_days;
    d.daily_sms_limit = s.daily_sms_limit;
    d.output1_auto_on = s.output1_auto_index == kItemOn;
    d.output2_auto_on = s.output2_auto_index == kItemOn;
    d.output1_auto_seconds = s.output1_auto_seconds;
    d.output2_auto_seconds = s.output2_auto_seconds;
}

void storeTexts(const EditorSnapshot& s, DecodedSettings& d) {
    d.texts = s.texts;
    d.test_message_user = s.test_message_user;
    d.test_message_on = s.test_message_on;
}

std::uint8_t userMask(const std::array<bool, 4>& boxes) {
    std::uint8_t bits = 0;
    for (int user = 1; user <= 4; ++user)
        if (boxes[static_cast<std::size_t>(user - 1)])
            bits |= layout::userMaskBit(user);
    return bits;
}

std::uint8_t inputMask(const std::array<bool, 8>& boxes) {
    std::uint8_t bits = 0;
    for (int input = 1; input <= 8; ++input)
        if (boxes[static_cast<std::size_t>(input - 1)])
            bits |= layout::inputMaskBit(input);
    return bits;
}

std::array<bool, 4> userBoxes(std::uint8_t mask) {
    std::array<bool, 4> boxes{};
    for (int user = 1; user <= 4; ++user)
        boxes[static_cast<std::size_t>(user - 1)] = (mask & layout::userMaskBit(user)) != 0;
    return boxes;
}

std::array<bool, 8> inputBoxes(std::uint8_t mask) {
    std::array<bool, 8> boxes{};
    for (int input = 1; input <= 8; ++input)
        boxes[static_cast<std::size_t>(input - 1)] = (mask & layout::inputMaskBit(input)) != 0;
    return boxes;
}

const char* callerTypingRefusal(std::string_view typed) {
    // Digits only: a sign, a separator or an exponent could never match a
    // caller's number.
    if (!typed.empty() &&
        (typed.size() > layout::kSubscriberNumberLength || !rules::digitsOnly(typed)))
        return kTypedNotNumber;
    return nullptr;
}

CallerEdit addCaller(SubscriberTable& table, const std::string& number) {
    // Eleven digits, however the text got into the entry: the device compares
    // a caller's number digit by digit.
    if (!rules::subscriberNumber(number))
        return {kNotElevenDigits, 0, false};
    if (table.position(number) != 0)
        return {kAlreadyListed, 0, true};
    const int position = table.firstFree();
    if (position == 0)
        return {kListFull, 0, true};
    table.set(position, number);
    return {kAddedAt, position, true};
}

CallerEdit removeCaller(SubscriberTable& table, const std::string& number) {
    const int position = number.empty() ? 0 : table.position(number);
    if (position == 0)
        return {kNotListed, 0, true};
    table.remove(position);
    return {kRemovedFrom, position, true};
}

} // namespace trellikon::editor
