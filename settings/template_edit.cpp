#include "template_edit.h"

#include "cp1250.h"
#include "edit_session.h"
#include "editor_model.h"
#include "entry_messages.h"
#include "entry_rules.h"

#include <algorithm>
#include <functional>
#include <optional>

namespace trellikon {

using namespace layout;
using namespace messages;

namespace {

using editor::Field;

// The state of one edit: the edit session over a copy of the settings, and
// what was said.
struct Edit {
    EditSession& session;
    TemplateEditResult& result;
    std::array<bool, 2> reportTurnedOn{}; // by count, by time

    // The window would have said it, so the edit is refused with its words.
    void judge(const rules::EntryVerdict& verdict) {
        if (verdict.refused())
            result.refusals.emplace_back(verdict.message);
    }
    // The rules that look at other fields wait until every entry is in, so
    // that the order of the keys does not matter.
    void take(const editor::Outcome& out) {
        judge(out.verdict);
        if (out.notice)
            result.notices.emplace_back(out.notice);
    }
    void set(Field field, const std::string& text, int slot = 0) {
        take(session.enter(field, text, editor::Judge::Together, slot));
    }
    void set(Field field, bool on) { take(session.enter(field, on, editor::Judge::Together)); }
    void usage(std::string message) {
        if (!result.failure)
            result.failure = makeFailure(Failure::Code::Usage, std::move(message));
    }
    void wrongForm(const std::string& key, const std::string& expected) {
        usage("wartość klucza " + key + ": " + expected);
    }
};

// The edit refused, with every message that says why.
TemplateEditResult refused(TemplateEditResult result) {
    std::string message;
    for (const std::string& r : result.refusals)
        message += (message.empty() ? "" : "\n") + r;
    result.failure = makeFailure(Failure::Code::Refused, std::move(message));
    return result;
}

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

using Setter = std::function<void(Edit&, const std::string& key, const std::string& value)>;

Setter flagSetter(std::function<void(Edit&, bool)> apply) {
    return [apply](Edit& e, const std::string& key, const std::string& value) {
        if (const auto on = parseFlag(value))
            apply(e, *on);
        else
            e.wrongForm(key, "oczekiwano true albo false");
    };
}

Setter flagSetter(Field field) {
    return flagSetter([field](Edit& e, bool on) { e.set(field, on); });
}

Setter textSetter(Field field, int slot = 0) {
    return [field, slot](Edit& e, const std::string&, const std::string& value) {
        e.set(field, utf8ToCp1250Replacing(value), slot);
    };
}

template <std::size_t N> Setter listSetter(Field boxes) {
    return [boxes](Edit& e, const std::string& key, const std::string& value) {
        if (const auto ticked = parseList<N>(value))
            for (std::size_t i = 0; i < N; ++i)
                e.session.record(boxes, (*ticked)[i], static_cast<int>(i));
        else
            e.wrongForm(key, "oczekiwano listy numerów 1.." + std::to_string(N) +
                                 " rozdzielonych przecinkami (pusta: żaden)");
    };
}

bool namesSeconds(const std::string& key) {
    return key == "output1_auto_seconds" || key == "output2_auto_seconds";
}
bool namesCentre(const std::string& key) {
    return key == "sms_centre_number";
}

struct Key {
    std::string name;
    Setter set;
};

const std::vector<Key>& keys() {
    static const std::vector<Key> table = [] {
        std::vector<Key> k;
        // The window takes a typed number only under "INNY" (the operators it
        // knows fix theirs), and typing it there empties the balance code.
        k.push_back(
            {"sms_centre_number", [](Edit& e, const std::string&, const std::string& value) {
                 e.session.recordOperator(editor::kOtherOperator);
                 e.set(Field::SmsCentre, utf8ToCp1250Replacing(value));
             }});
        for (int user = 1; user <= 4; ++user)
            k.push_back(
                {"user_numbers." + std::to_string(user), textSetter(editor::userField(user))});
        for (int output = 1; output <= 2; ++output) {
            const std::string o = "output" + std::to_string(output);
            k.push_back({o + "_permanent", flagSetter(editor::permanentField(output))});
            k.push_back({o + "_auto_on", flagSetter(editor::timedField(output))});
            k.push_back({o + "_auto_seconds", textSetter(editor::secondsField(output))});
        }
        k.push_back({"daily_sms_limit", textSetter(Field::DailyLimit)});
        k.push_back({"test_message_on", flagSetter(Field::TestMessageOn)});
        k.push_back({"test_message_user", textSetter(Field::TestMessageUser)});
        k.push_back({"sms_mask", listSetter<4>(Field::SmsMask)});
        k.push_back({"ring_mask", listSetter<4>(Field::RingMask)});
        k.push_back({"input_mask", listSetter<8>(Field::InputMask)});
        k.push_back({"echo_on", flagSetter(Field::Echo)});
        k.push_back({"balance_days", textSetter(Field::Days)});
        k.push_back({"balance_sms_count", textSetter(Field::SmsCount)});
        k.push_back({"balance_query_code", textSetter(Field::QueryCode)});
        k.push_back({"balance_info_on", flagSetter(Field::BalanceInfo)});
        k.push_back({"balance_by_count_on", flagSetter([](Edit& e, bool on) {
                         e.set(Field::ReportByCount, on);
                         e.reportTurnedOn[0] = on;
                     })});
        k.push_back({"balance_by_time_on", flagSetter([](Edit& e, bool on) {
                         e.set(Field::ReportByTime, on);
                         e.reportTurnedOn[1] = on;
                     })});
        for (int output = 1; output <= 2; ++output)
            k.push_back({"clip_output" + std::to_string(output) + "_on",
                         flagSetter([output](Edit& e, bool on) {
                             DecodedSettings& d = e.session.settings().decoded;
                             (output == 1 ? d.clip_output1_on : d.clip_output2_on) = on;
                             e.set(editor::clipField(output), on);
                         })});
        for (int slot = 0; slot < kTextSlotCount; ++slot)
            k.push_back({"texts." + std::to_string(slot), textSetter(Field::Text, slot)});
        return k;
    }();
    return table;
}

} // namespace

EditorSnapshot snapshotOfSettings(const DeviceSettings& settings) {
    return editor::shownOnOpen(settings);
}

TemplateEditResult setEntries(DeviceSettings& settings,
                              const std::vector<std::pair<std::string, std::string>>& entries) {
    TemplateEditResult result;
    DeviceSettings edited = settings;
    EditSession session(edited);
    session.open();
    Edit e{session, result, {}};
    // A time given in the same edit wins over the one that switching an
    // output on (or allowing a caller to switch it) offers: it is taken last.
    // A balance code given with the centre's number wins over the emptying
    // that typing the number causes: the number is taken first.
    auto ordered = entries;
    std::stable_partition(ordered.begin(), ordered.end(),
                          [](const auto& entry) { return !namesSeconds(entry.first); });
    std::stable_partition(ordered.begin(), ordered.end(),
                          [](const auto& entry) { return namesCentre(entry.first); });
    for (const auto& [key, value] : ordered) {
        const auto k = std::find_if(keys().begin(), keys().end(),
                                    [&key = key](const Key& x) { return x.name == key; });
        if (k == keys().end()) {
            e.usage("nieznany klucz „" + key + "”");
            continue;
        }
        k->set(e, key, value);
    }
    if (result.failure)
        return result;
    for (const rules::EntryVerdict& v : editor::judgeTogether(session.shown(), e.reportTurnedOn))
        e.judge(v);
    if (!result.refusals.empty())
        return refused(std::move(result));

    // Stored as the editors store their values when they are left, before the
    // encoder runs: the decoded settings then say what the image says.
    session.storeParameters();
    session.storeTexts();
    const EncodeResult encoded = session.encode();
    for (const EncodeRefusal& r : encoded.refusals)
        result.refusals.push_back(r.message);
    if (encoded.encode_failed)
        return refused(std::move(result));
    settings = std::move(edited);
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
            // Nothing typed is no number either: the dialog would not have
            // let it through.
            if (const char* typing = editor::callerTypingRefusal(number); typing || number.empty())
                return typing ? typing : kTypedNotNumber;
            const editor::CallerEdit added = editor::addCaller(edited.subscribers, number);
            position = added.position;
            return added.message;
        });
}

SubscriberEditResult removeSubscribers(DeviceSettings& settings,
                                       const std::vector<std::string>& numbers) {
    return editSubscribers(
        settings, numbers, [](DeviceSettings& edited, const std::string& number, int& position) {
            const editor::CallerEdit removed = editor::removeCaller(edited.subscribers, number);
            position = removed.position;
            return removed.message;
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
