#include "template_edit.h"

#include "cp1250.h"
#include "entry_messages.h"
#include "entry_rules.h"

#include <algorithm>
#include <functional>
#include <optional>

namespace trellikon {

using namespace layout;
using namespace messages;

namespace {

constexpr int kShown = 0, kNotShown = 1; // radio indexes: "AKTYWNE"/"TAK", "NIEAKTYWNE"/"NIE"
constexpr std::uint8_t kUserBit[4] = {0x08, 0x04, 0x02, 0x01};

// The state of one edit: the snapshot under change and what was said.
struct Edit {
    EditorSnapshot& shown;
    DecodedSettings& decoded;
    TemplateEditResult& result;
    std::array<bool, 2> secondsGiven{};
    std::array<bool, 2> reportOptionTurnedOn{}; // by count, by time

    void refuse(const char* message) { result.refusals.emplace_back(message); }
    // The window would have said it, so the edit is refused with its words.
    void judge(const rules::EntryVerdict& verdict) {
        if (verdict.refused())
            refuse(verdict.message);
    }
    void wrongForm(const std::string& key, const std::string& expected) {
        if (result.usage_error.empty())
            result.usage_error = "wartość klucza " + key + ": " + expected;
    }
};

std::optional<bool> parseFlag(const std::string& value) {
    if (value == "true")
        return true;
    if (value == "false")
        return false;
    return std::nullopt;
}

// "1,3,4" into the boxes 1..N that are ticked; "" ticks none.
template <std::size_t N> std::optional<std::array<bool, N>> parseList(const std::string& value) {
    std::array<bool, N> ticked{};
    std::size_t at = 0;
    while (at < value.size()) {
        const std::size_t comma = std::min(value.find(',', at), value.size());
        const auto n = rules::unsignedNumber(std::string_view(value).substr(at, comma - at));
        if (!n || *n < 1 || *n > static_cast<std::int32_t>(N))
            return std::nullopt;
        ticked[static_cast<std::size_t>(*n - 1)] = true;
        at = comma + 1;
        if (comma + 1 == value.size())
            return std::nullopt; // a trailing comma
    }
    return ticked;
}

// The typing checks of the parameters editor, one per kind of entry.

void setSmsCentre(Edit& e, const std::string& text) {
    e.judge(rules::smsCentreEntry(text));
    e.shown.sms_centre_number = text;
}

void setUserNumber(Edit& e, int user, const std::string& text) {
    e.judge(rules::userNumberEntry(user, text));
    e.shown.user_number[static_cast<std::size_t>(user - 1)] = text;
    // The test message cannot go to a user who is no more: it is switched off.
    if (rules::testMessageLosesUser(user, text, e.shown.test_message_on,
                                    e.shown.test_message_user)) {
        e.result.notices.emplace_back(kTestSmsUser);
        e.shown.test_message_on = false;
        e.shown.test_message_user.clear();
    }
}

void setPermanent(Edit& e, int output, bool on) {
    int& permanent =
        output == 1 ? e.shown.output1_permanent_index : e.shown.output2_permanent_index;
    int& automatic = output == 1 ? e.shown.output1_auto_index : e.shown.output2_auto_index;
    permanent = on ? kShown : kNotShown;
    if (on)
        automatic = kNotShown;
}

// Switching an output on for a time switches its permanent mode off and offers
// `seconds`, unless the same edit gives the time itself.
void setAutomatic(Edit& e, int output, bool on, const char* seconds) {
    int& permanent =
        output == 1 ? e.shown.output1_permanent_index : e.shown.output2_permanent_index;
    int& automatic = output == 1 ? e.shown.output1_auto_index : e.shown.output2_auto_index;
    std::string& time = output == 1 ? e.shown.output1_auto_seconds : e.shown.output2_auto_seconds;
    automatic = on ? kShown : kNotShown;
    if (!on)
        return;
    permanent = kNotShown;
    if (!e.secondsGiven[static_cast<std::size_t>(output - 1)])
        time = seconds;
}

void setSeconds(Edit& e, int output, const std::string& text) {
    e.judge(rules::outputSecondsForm(output, text));
    (output == 1 ? e.shown.output1_auto_seconds : e.shown.output2_auto_seconds) = text;
}

// A caller may switch an output only while it is switched on for a time.
void setClipPermission(Edit& e, int output, bool on) {
    (output == 1 ? e.decoded.clip_output1_on : e.decoded.clip_output2_on) = on;
    const int automatic = output == 1 ? e.shown.output1_auto_index : e.shown.output2_auto_index;
    if (on && automatic == kNotShown)
        setAutomatic(e, output, true, "3");
}

void setDailyLimit(Edit& e, const std::string& text) {
    e.judge(rules::dailyLimitEntry(text));
    e.shown.daily_sms_limit = text;
}

void setQueryCode(Edit& e, const std::string& text) {
    e.judge(rules::queryCodeEntry(text));
    e.shown.balance_query_code = text;
    // Without a code there is nothing to report by.
    if (text.empty())
        e.shown.balance_by_count = e.shown.balance_by_time = false;
}

void setSmsCount(Edit& e, const std::string& text) {
    e.judge(rules::smsCountEntry(text));
    e.shown.balance_sms_count = text;
}

void setDays(Edit& e, const std::string& text) {
    e.judge(rules::daysEntry(text));
    e.shown.balance_days = text;
}

void setTestIndex(Edit& e, const std::string& text) {
    e.judge(rules::testIndexEntry(text));
    e.shown.test_message_user = text;
}

// The texts editor's check of a pasted text: the length first, then the
// characters, unless the box was empty before.
void setText(Edit& e, int slot, const std::string& text) {
    std::string& box = e.shown.texts[static_cast<std::size_t>(slot)];
    e.judge(rules::textEntry(slot, text, !box.empty()));
    box = text;
}

// The checks that look at more than one entry, made once every entry is in,
// so that the order of the keys does not matter.
void checkTogether(Edit& e) {
    const EditorSnapshot& s = e.shown;
    const std::pair<int, const std::string*> times[2] = {
        {s.output1_auto_index, &s.output1_auto_seconds},
        {s.output2_auto_index, &s.output2_auto_seconds}};
    for (int output = 1; output <= 2; ++output) {
        const auto& [automatic, text] = times[output - 1];
        e.judge(rules::outputSecondsRange(output, *text, automatic == kShown));
    }
    e.judge(rules::reportOptionEntry((e.reportOptionTurnedOn[0] && s.balance_by_count) ||
                                         (e.reportOptionTurnedOn[1] && s.balance_by_time),
                                     s.balance_query_code));
    e.judge(rules::testUserDefinedEntry(s.test_message_user, s.user_number));
}

using Setter = std::function<void(Edit&, const std::string& key, const std::string& value)>;

Setter flagSetter(std::function<void(Edit&, bool)> apply) {
    return [apply](Edit& e, const std::string& key, const std::string& value) {
        if (const auto on = parseFlag(value))
            apply(e, *on);
        else
            e.wrongForm(key, "oczekiwano true albo false");
    };
}

Setter textSetter(std::function<void(Edit&, const std::string&)> apply) {
    return [apply](Edit& e, const std::string&, const std::string& value) {
        apply(e, utf8ToCp1250Replacing(value));
    };
}

template <std::size_t N> Setter listSetter(std::function<std::array<bool, N>&(Edit&)> boxes) {
    return [boxes](Edit& e, const std::string& key, const std::string& value) {
        if (const auto ticked = parseList<N>(value))
            boxes(e) = *ticked;
        else
            e.wrongForm(key, "oczekiwano listy numerów 1.." + std::to_string(N) +
                                 " rozdzielonych przecinkami (pusta: żaden)");
    };
}

struct Key {
    std::string name;
    Setter set;
};

const std::vector<Key>& keys() {
    static const std::vector<Key> table = [] {
        std::vector<Key> k;
        k.push_back({"sms_centre_number", textSetter(setSmsCentre)});
        for (int user = 1; user <= 4; ++user)
            k.push_back(
                {"user_numbers." + std::to_string(user),
                 textSetter([user](Edit& e, const std::string& t) { setUserNumber(e, user, t); })});
        for (int output = 1; output <= 2; ++output) {
            const std::string o = "output" + std::to_string(output);
            k.push_back({o + "_permanent",
                         flagSetter([output](Edit& e, bool on) { setPermanent(e, output, on); })});
            k.push_back({o + "_auto_on", flagSetter([output](Edit& e, bool on) {
                             setAutomatic(e, output, on, "30");
                         })});
            k.push_back({o + "_auto_seconds", textSetter([output](Edit& e, const std::string& t) {
                             setSeconds(e, output, t);
                         })});
        }
        k.push_back({"daily_sms_limit", textSetter(setDailyLimit)});
        k.push_back({"test_message_on",
                     flagSetter([](Edit& e, bool on) { e.shown.test_message_on = on; })});
        k.push_back({"test_message_user", textSetter(setTestIndex)});
        k.push_back({"sms_mask", listSetter<4>([](Edit& e) -> std::array<bool, 4>& {
                         return e.shown.sms_mask_user;
                     })});
        k.push_back({"ring_mask", listSetter<4>([](Edit& e) -> std::array<bool, 4>& {
                         return e.shown.ring_mask_user;
                     })});
        k.push_back({"input_mask", listSetter<8>([](Edit& e) -> std::array<bool, 8>& {
                         return e.shown.input_mask_input;
                     })});
        k.push_back({"echo_on", flagSetter([](Edit& e, bool on) { e.shown.echo = on; })});
        k.push_back({"balance_days", textSetter(setDays)});
        k.push_back({"balance_sms_count", textSetter(setSmsCount)});
        k.push_back({"balance_query_code", textSetter(setQueryCode)});
        k.push_back(
            {"balance_info_on", flagSetter([](Edit& e, bool on) { e.shown.balance_info = on; })});
        k.push_back({"balance_by_count_on", flagSetter([](Edit& e, bool on) {
                         e.shown.balance_by_count = on;
                         e.reportOptionTurnedOn[0] = on;
                     })});
        k.push_back({"balance_by_time_on", flagSetter([](Edit& e, bool on) {
                         e.shown.balance_by_time = on;
                         e.reportOptionTurnedOn[1] = on;
                     })});
        for (int output = 1; output <= 2; ++output)
            k.push_back(
                {"clip_output" + std::to_string(output) + "_on",
                 flagSetter([output](Edit& e, bool on) { setClipPermission(e, output, on); })});
        for (int slot = 0; slot < kTextSlotCount; ++slot)
            k.push_back(
                {"texts." + std::to_string(slot),
                 textSetter([slot](Edit& e, const std::string& t) { setText(e, slot, t); })});
        return k;
    }();
    return table;
}

} // namespace

EditorSnapshot snapshotOfSettings(const DeviceSettings& settings) {
    const DecodedSettings& d = settings.decoded;
    EditorSnapshot s;
    s.sms_centre_number = d.sms_centre_number;
    s.user_number = d.user_number;
    s.echo = d.echo_on;
    for (std::size_t i = 0; i < 4; ++i) {
        s.sms_mask_user[i] = (d.sms_mask & kUserBit[i]) != 0;
        s.ring_mask_user[i] = (d.ring_mask & kUserBit[i]) != 0;
    }
    for (std::size_t i = 0; i < 8; ++i)
        s.input_mask_input[i] = (d.input_mask & (0x80 >> i)) != 0;
    // Timed wins over permanent: switching on the timed mode switches the other off.
    s.output1_auto_index = d.output1_auto_on ? kShown : kNotShown;
    s.output1_permanent_index = d.output1_permanent && !d.output1_auto_on ? kShown : kNotShown;
    s.output2_auto_index = d.output2_auto_on ? kShown : kNotShown;
    s.output2_permanent_index = d.output2_permanent && !d.output2_auto_on ? kShown : kNotShown;
    s.output1_auto_seconds = d.output1_auto_seconds;
    s.output2_auto_seconds = d.output2_auto_seconds;
    s.daily_sms_limit = d.daily_sms_limit;
    s.balance_query_code =
        settings.balanceQueryCodeLengthChecks() ? d.balance_query_code : std::string();
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

TemplateEditResult setEntries(DeviceSettings& settings,
                              const std::vector<std::pair<std::string, std::string>>& entries) {
    TemplateEditResult result;
    DeviceSettings edited = settings;
    EditorSnapshot shown = snapshotOfSettings(edited);
    Edit e{shown, edited.decoded, result, {}, {}};
    for (const auto& [key, value] : entries)
        for (int output = 1; output <= 2; ++output)
            if (key == "output" + std::to_string(output) + "_auto_seconds")
                e.secondsGiven[static_cast<std::size_t>(output - 1)] = true;
    for (const auto& [key, value] : entries) {
        const auto k = std::find_if(keys().begin(), keys().end(),
                                    [&key = key](const Key& x) { return x.name == key; });
        if (k == keys().end()) {
            if (result.usage_error.empty())
                result.usage_error = "nieznany klucz „" + key + "”";
            continue;
        }
        k->set(e, key, value);
    }
    if (!result.usage_error.empty())
        return result;
    checkTogether(e);
    if (!result.refusals.empty())
        return result;

    // The parameters editor keeps the code's length itself whenever it is left,
    // before the encoder runs.
    edited.storeBalanceQueryCodeLength(shown.balance_query_code.size());
    const EncodeResult encoded = Encode_Settings(shown, edited);
    for (const EncodeRefusal& r : encoded.refusals)
        result.refusals.push_back(r.message);
    if (encoded.encode_failed)
        return result;
    settings = std::move(edited);
    result.ok = true;
    return result;
}

namespace {

// An edited copy replaces the settings, its table written into the image, only
// when the whole edit was taken; otherwise nothing changes.
void commitSubscribers(DeviceSettings& settings, DeviceSettings& edited, bool taken) {
    if (!taken)
        return;
    edited.Encode_Subscribers();
    settings = std::move(edited);
}

// Runs `one` on every number against a copy of the table; the copy replaces
// the settings only when every number was taken.
SubscriberEditResult editSubscribers(
    DeviceSettings& settings, const std::vector<std::string>& numbers,
    const std::function<const char*(DeviceSettings&, const std::string&, int& position)>& one) {
    SubscriberEditResult result{true, {}};
    DeviceSettings edited = settings;
    for (const std::string& typed : numbers) {
        int position = 0;
        const char* said = one(edited, utf8ToCp1250Replacing(typed), position);
        result.lines.push_back(position != 0 ? said + std::to_string(position) : said);
        result.ok = result.ok && position != 0;
    }
    commitSubscribers(settings, edited, result.ok);
    return result;
}

} // namespace

SubscriberEditResult addSubscribers(DeviceSettings& settings,
                                    const std::vector<std::string>& numbers) {
    return editSubscribers(
        settings, numbers, [](DeviceSettings& edited, const std::string& number, int& position) {
            if (number.size() > kSubscriberNumberLength || !rules::digitsOnly(number))
                return kTypedNotNumber;
            if (number.size() != kSubscriberNumberLength)
                return kNotElevenDigits;
            if (edited.subscribers.position(number) != 0)
                return kAlreadyListed;
            position = edited.subscribers.firstFree();
            if (position == 0)
                return kListFull;
            edited.subscribers.set(position, number);
            return kAddedAt;
        });
}

SubscriberEditResult removeSubscribers(DeviceSettings& settings,
                                       const std::vector<std::string>& numbers) {
    return editSubscribers(settings, numbers,
                           [](DeviceSettings& edited, const std::string& number, int& position) {
                               position = number.empty() ? 0 : edited.subscribers.position(number);
                               if (position == 0)
                                   return kNotListed;
                               edited.subscribers.remove(position);
                               return kRemovedFrom;
                           });
}

SubscriberEditResult importSubscribers(DeviceSettings& settings, const csv::CallerFile& file,
                                       csv::ImportMode mode, bool skipRefused) {
    const csv::ImportPlan plan = csv::planImport(file, settings.subscribers, mode);
    SubscriberEditResult result{plan.refused == 0 || skipRefused, {}};
    for (const csv::ImportLine& line : plan.lines)
        result.lines.push_back(csv::describe(line));
    result.lines.push_back(csv::summary(plan));
    DeviceSettings edited = settings;
    edited.subscribers = plan.result;
    commitSubscribers(settings, edited, result.ok);
    return result;
}

} // namespace trellikon
