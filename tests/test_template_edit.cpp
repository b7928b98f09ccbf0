// Editing templates from the command line: every key, every refusal, and the
// same bytes as the same edit made through the windows.
#include "cli_commands.h"
#include "files.h"
#include "program_fixture.h"
#include "template_edit.h"
#include "template_view.h"

#include <QTemporaryDir>

#include <functional>
#include <sstream>

using namespace trellikon;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The sample template of trellikon-cli demo, as a file.
QString writeDemo(const QTemporaryDir& dir, const char* name) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    std::ostringstream out, err;
    if (cli::runDemo(path.toStdString(), out, err) != cli::kExitOk)
        qFatal("demo template not written");
    return path;
}

DeviceSettings loaded(const QString& path) {
    DeviceSettings s;
    s.image.setBytes(loadTemplate(path.toStdString()).bytes);
    s.decodeAll();
    s.Decode_Subscribers();
    return s;
}

std::vector<std::pair<std::string, std::string>> entries(const QString& args) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const QString& a : args.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        out.emplace_back(a.left(eq).toStdString(), a.mid(eq + 1).toStdString());
    }
    return out;
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestTemplateEdit : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup() { QVERIFY(QApplication::activeModalWidget() == nullptr); }
    void eachKeyReachesTheTemplate_data();
    void eachKeyReachesTheTemplate();
    void refusalsLeaveTheTemplateAlone_data();
    void refusalsLeaveTheTemplateAlone();
    void subscribers();
    void sameBytesAsTheWindows();
    void typingAgreesWithSet_data();
    void typingAgreesWithSet();
    void consequencesAgreeWithSet_data();
    void consequencesAgreeWithSet();
};

void TestTemplateEdit::eachKeyReachesTheTemplate_data() {
    // Each key once; the result is read back through the inspector's JSON.
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("json");
    auto row = [](const char* set, const char* json) { QTest::newRow(set) << u(set) << u(json); };
    row("sms_centre_number=48501200777", R"("sms_centre_number": "48501200777")");
    row("user_numbers.1=48111", R"("user_numbers": ["48111", "48600100201", "", ""])");
    row("user_numbers.2=", R"("user_numbers": ["48600100200", "", "", ""])");
    row("user_numbers.3=48333", R"("user_numbers": ["48600100200", "48600100201", "48333", ""])");
    row("user_numbers.4=48444", R"("user_numbers": ["48600100200", "48600100201", "", "48444"])");
    row("output1_permanent=true", R"("output1_permanent": true,
  "output2_permanent": false,
  "daily_sms_limit": "50",
  "output1_auto_on": false)");
    row("output2_permanent=true", R"("output2_permanent": true)");
    row("daily_sms_limit=9999", R"("daily_sms_limit": "9999")");
    row("output1_auto_on=false", R"("output1_auto_on": false)");
    row("output1_auto_seconds=999", R"("output1_auto_seconds": "999")");
    row("output2_auto_on=true", R"("output2_auto_on": true,
  "output2_auto_seconds": "30")");
    row("output2_auto_on=true\noutput2_auto_seconds=5", R"("output2_auto_seconds": "5")");
    row("test_message_on=false", R"("test_message_on": false)");
    row("test_message_user=2", R"("test_message_user": "2")");
    row("sms_mask=4", R"("sms_mask": 1)");
    row("ring_mask=", R"("ring_mask": 0)");
    row("input_mask=1,8", R"("input_mask": 129)");
    row("echo_on=false", R"("echo_on": false)");
    row("balance_days=999", R"("balance_days": "999")");
    row("balance_by_count_on=true\nbalance_sms_count=10", R"("balance_sms_count": "10")");
    row("balance_query_code=*100*1#", R"("balance_query_code": "*100*1#")");
    row("sms_centre_number=48123456789", R"("balance_query_code": "")");
    row("balance_query_code=*100*1#\nsms_centre_number=48123456789",
        R"("balance_query_code": "*100*1#")");
    row("balance_info_on=false", R"("balance_info_on": false)");
    row("balance_by_time_on=false", R"("balance_by_time_on": false)");
    row("clip_output1_on=false", R"("clip_output1_on": false)");
    row("clip_output2_on=true", R"("output2_auto_on": true,
  "output2_auto_seconds": "3")");
    row("texts.0=Dom: ", R"("texts": [
    "Dom: ")");
    row("texts.14=Proba", R"("Proba"
  ])");
    row("texts.3=Blad ✓", R"("Blad ?")");
}

void TestTemplateEdit::eachKeyReachesTheTemplate() {
    QFETCH(QString, set);
    QFETCH(QString, json);
    QTemporaryDir dir;
    DeviceSettings s = loaded(writeDemo(dir, "demo.sbn"));
    const TemplateEditResult r = setEntries(s, entries(set));
    QVERIFY2(r.ok(), r.failure.message.c_str());
    const std::string shown = inspector::renderJson(inspector::inspect(s.image.bytes()));
    QVERIFY2(shown.find(json.toStdString()) != std::string::npos, shown.c_str());
}

void TestTemplateEdit::refusalsLeaveTheTemplateAlone_data() {
    // Each refusal once, worded as the windows word it.
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("message");
    auto row = [](const char* set, const char* message) {
        QTest::newRow(set) << u(set) << u(message);
    };
    row("sms_centre_number=485012007771234567", "Za duża liczba cyfr w definicji Centrum SMS");
    row("sms_centre_number=+48501200777", "Numer powinien zawierać tylko cyfry");
    row("sms_centre_number=4", "NIEPRAWIDŁOWA LICZBA ZNAKÓW W DEFINICJI CENTRUM SMS");
    row("user_numbers.1=485012007771234567",
        "Za duża liczba cyfr w definicji numeru użytkownika 1");
    row("user_numbers.2=1e5", "Numer powinien zawierać tylko cyfry  ");
    row("daily_sms_limit=0", "Błąd! Dobowy limit SMS nie może zaczynać sie od liczby 0");
    row("daily_sms_limit=00010",
        "Błąd! Dobowy limit SMS musi zawierać się w przedziale od 1 do 9999");
    row("output1_auto_seconds=1000",
        "Błąd! Automatyczne wysterowanie wyjscia 1 musi zawierać się w przedziale od 1 do 999 "
        "sekund.");
    row("output2_auto_on=true\noutput2_auto_seconds=x",
        "Błąd! Automatyczne wysterowanie wyjscia 2 musi zawierać się w przedziale od 1 do 999 "
        "sekund.");
    row("balance_query_code=*123456789012345678901#",
        "Za duża liczba znaków w definicji numeru badania stanu konta");
    row("balance_query_code=\nbalance_by_time_on=true",
        "Zdefiniuj najpierw numer badania stanu konta");
    row("balance_by_count_on=true\nbalance_sms_count=0",
        "Błąd! Ilościowe informowanie o stanie konta ma zawierać się w przedziale od 10 do 9999");
    row("balance_sms_count=10000",
        "Błąd! Ilościowe informowanie o stanie konta nie może przekraczać 9999 SMS");
    row("balance_days=0",
        "Błąd! Czasowe informowanie o stanie konta musi zawierać sie w przedziale od 1 do 999 dni");
    row("balance_days=-1",
        "Błąd! Czasowe informowanie o stanie konta musi zawierać się w przedziale od 1 do 999 dni");
    row("test_message_user=5",
        "Index użytkownika - pozycja na której użytkownik zapisany jest w systemie ma zawierać "
        "się w przedziałe od 1 do 4 ");
    row("test_message_user=4", "Zdefiniuj najpierw użytkownika numer 4");
    row("texts.0=12345678901234567890123456789012345678901234567890X",
        "Definicja treści nagłówka komunikatu alarmowego nie moze przekraczać 50 znaków");
    row("texts.1=Zanik ~", "Definicja treści treści komunikatu alarmowego nie może zawierać "
                           "polskich znaków");
    row("texts.14=Próba",
        "Definicja treści komunikatu testowego nie może zawierać polskich znaków");
}

void TestTemplateEdit::refusalsLeaveTheTemplateAlone() {
    QFETCH(QString, set);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = writeDemo(dir, "demo.sbn");
    const QByteArray before = fileBytes(path);
    QStringList args = set.split(QLatin1Char('\n'));
    std::vector<std::string> assignments;
    for (const QString& a : args)
        assignments.push_back(a.toStdString());
    std::ostringstream err;
    QCOMPARE(cli::runSet(path.toStdString(), {}, assignments, err), int(cli::kExitUsage));
    QVERIFY2(err.str().find("trellikon-cli: " + message.toStdString() + "\n") != std::string::npos,
             err.str().c_str());
    QCOMPARE(fileBytes(path), before);
    // The core's own verdict: refused (not a usage error), the message holding every refusal.
    DeviceSettings s = loaded(path);
    const TemplateEditResult r = setEntries(s, entries(set));
    QCOMPARE(int(r.failure.code), int(Failure::Code::Refused));
    QVERIFY(!r.refusals.empty());
    for (const std::string& refusal : r.refusals)
        QVERIFY(r.failure.message.find(refusal) != std::string::npos);
    QVERIFY(r.failure.message.find(message.toStdString()) != std::string::npos);
    QCOMPARE(int(setEntries(s, entries(u("nie_ma=1"))).failure.code), int(Failure::Code::Usage));
}

void TestTemplateEdit::subscribers() {
    // Lowest free position, duplicates refused, 168 at most, removal frees the
    // slot; a refusal anywhere leaves the file as it was.
    QTemporaryDir dir;
    const QString path = writeDemo(dir, "demo.sbn"); // callers at 1, 2 and 43
    const std::string p = path.toStdString();
    std::ostringstream out, err;
    QCOMPARE(cli::runSubscribers(false, p, {"48600100201"}, out, err), int(cli::kExitOk));
    QCOMPARE(cli::runSubscribers(true, p, {"48000000003", "48000000004"}, out, err),
             int(cli::kExitOk));
    QCOMPARE(out.str(), std::string("48600100201: Usunięto abonenta z pozycji: 2\n"
                                    "48000000003: Zapisano abonenta na pozycji: 2\n"
                                    "48000000004: Zapisano abonenta na pozycji: 3\n"));
    DeviceSettings s = loaded(path);
    QCOMPARE(s.subscribers.entry(2).number, std::string("48000000003"));
    QCOMPARE(int(s.Count_Subscribers()), 4);

    const QByteArray before = fileBytes(path);
    const std::pair<std::vector<std::string>, const char*> refused[] = {
        {{"48000000005", "48000000003"}, "Abonent o podanym numerze istnieje"},
        {{"4800000000"}, "Numer powinien zawierać 11 cyfr"},
        {{"480000000051"}, "Numer powinien 11 cyfr"},
        {{"4800000000x"}, "Numer powinien 11 cyfr"},
    };
    for (const auto& [numbers, message] : refused) {
        std::ostringstream o, e;
        QCOMPARE(cli::runSubscribers(true, p, numbers, o, e), int(cli::kExitUsage));
        QVERIFY2(o.str().find(message) != std::string::npos, o.str().c_str());
        QCOMPARE(fileBytes(path), before);
    }
    std::ostringstream o, e;
    QCOMPARE(cli::runSubscribers(false, p, {"48999999999"}, o, e), int(cli::kExitUsage));
    QCOMPARE(o.str(), std::string("48999999999: Abonent o podanym numerze nie istnieje\n"));

    std::vector<std::string> many;
    for (int i = 0; i < 165; ++i)
        many.push_back(std::to_string(48100000000LL + i));
    QCOMPARE(setEntries(s, {}).ok(), true);
    SubscriberEditResult full = addSubscribers(s, many);
    QVERIFY(!full.ok); // 4 + 165 is one too many
    QCOMPARE(full.lines.back(), std::string("Abonenta nie zapisano. Przepełnienie pamięci"));
    many.pop_back();
    QVERIFY(addSubscribers(s, many).ok);
    QCOMPARE(int(s.Count_Subscribers()), 168);
}

namespace {

// The sample template saved through the windows, after `inParameters` ran in
// the parameters editor and `inTexts` in the texts editor opened from it, and
// given to set with `set`: both files hold the same bytes, not the sample's.
void windowsAgreeWithSet(const std::function<void(Program&, TForm2*)>& inParameters,
                         const std::function<void(TForm3*)>& inTexts,
                         const std::vector<std::string>& set) {
    QTemporaryDir dir;
    const QString source = writeDemo(dir, "demo.sbn");
    const QString byWindows = dir.filePath(QStringLiteral("okna.sbn"));
    const QString byCli = dir.filePath(QStringLiteral("cli.sbn"));

    Program p;
    p.files.answers = {source, byWindows};
    whenModal([&](QDialog*) {
        p.armEditor();
        TForm2* f = p.form2();
        inParameters(p, f);
        whenModal([&](QDialog*) {
            TForm3* t = p.form3();
            inTexts(t);
            t->SpeedButton3->click();
            t->SpeedButton2->click();
        });
        f->SpeedButton1->click();
        f->SpeedButton2->click();
    });
    p.form1->SpeedButton7Click();
    QCOMPARE(p.messages.plains,
             QStringList{u("Operacja zapisu do pliku przeprowadzona pomyślnie")});

    std::ostringstream err;
    const int rc = cli::runSet(source.toStdString(), byCli.toStdString(), set, err);
    QVERIFY2(rc == cli::kExitOk, err.str().c_str());
    const QByteArray windows = fileBytes(byWindows);
    QCOMPARE(windows.size(), 4096);
    QCOMPARE(fileBytes(byCli), windows);
    QVERIFY(fileBytes(source) != windows);
}

} // namespace

void TestTemplateEdit::sameBytesAsTheWindows() {
    // The same edit made through the windows and with set gives the same file.
    windowsAgreeWithSet(
        [](Program&, TForm2* f) {
            f->Edit10->setText(QStringLiteral("48600100300"));
            f->CheckBox2->click();
            f->CheckBox3->click();
            f->CheckBox27->click();
            f->RadioGroup5->item(0)->click();
            f->Edit12->setText(QStringLiteral("45"));
            f->Edit1->setText(QStringLiteral("12"));
            f->CheckBox20->click();
            f->Edit4->setText(QStringLiteral("250"));
        },
        [](TForm3* t) {
            t->Edit2->setText(QStringLiteral("Zanik 230V"));
            t->Edit16->setText(QStringLiteral("Proba"));
            t->Edit11->setText(QStringLiteral("3"));
        },
        {"user_numbers.3=48600100300", "sms_mask=1,3", "input_mask=1,2,3,4,7",
         "output2_auto_on=true", "output2_auto_seconds=45", "daily_sms_limit=12",
         "balance_by_count_on=true", "balance_sms_count=250", "texts.1=Zanik 230V",
         "texts.14=Proba", "test_message_user=3"});
}

namespace {

// What an editor box did with a pasted entry: the messages it showed while
// checking it, and the text it was left holding.
struct Typed {
    QStringList messages;
    QString box;
};

// Pastes `text` into the control `edit` of the window that keeps `key`, over
// the settings of the template at `source`, as a user would after loading it.
Typed typeIntoEditor(const QString& source, const QString& key, const QString& edit,
                     const QString& text) {
    Program p;
    p.files.answers = {source};
    Typed typed;
    auto paste = [&](QWidget* window) {
        auto* box = window->findChild<QLineEdit*>(edit);
        QVERIFY2(box, qPrintable(edit));
        p.messages.errors.clear();
        p.messages.plains.clear();
        box->selectAll();
        box->insert(text);
        typed.messages = p.messages.errors + p.messages.plains;
        typed.box = box->text();
    };
    whenModal([&](QDialog*) {
        p.armEditor();
        TForm2* f = p.form2();
        if (key.startsWith(QLatin1String("texts.")) || key == QLatin1String("test_message_user")) {
            whenModal([&](QDialog*) {
                paste(p.form3());
                p.ctx().dialogs.stack->closeWindow(p.form3());
            });
            f->SpeedButton1->click();
        } else {
            if (key == QLatin1String("sms_centre_number"))
                f->radiogroup6->item(4)->click(); // another operator: the number is typed
            paste(f);
        }
        p.ctx().dialogs.stack->closeWindow(f);
    });
    p.form1->SpeedButton7Click();
    return typed;
}

// What set says to KEY=TEXT over the same template: every line it writes,
// refusals and notices, without the closing "not changed".
QStringList sayOfSet(const QString& source, const QString& key, const QString& text,
                     bool& changed) {
    QTemporaryDir dir;
    std::ostringstream err;
    const std::string out = dir.filePath(QStringLiteral("out.sbn")).toStdString();
    changed = cli::runSet(source.toStdString(), out, {(key + u("=") + text).toStdString()}, err) ==
              cli::kExitOk;
    QStringList said;
    const QString prefix = u("trellikon-cli: ");
    for (const QString& line : QString::fromStdString(err.str()).split(u("\n"), Qt::SkipEmptyParts))
        if (line.startsWith(prefix) && line != prefix + u("szablon nie został zmieniony"))
            said << line.mid(prefix.size());
    return said;
}

} // namespace

void TestTemplateEdit::typingAgreesWithSet_data() {
    // Every typing rule has one home: the editor box and set, fed the same
    // entry, take it or refuse it with the same words. `box` is what the box
    // holds afterwards (a refused entry gives way to the rule's replacement).
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("taken"); // the entry stands (a notice refuses nothing)
    auto row = [](const char* name, const char* key, const char* edit, const char* text,
                  QStringList messages, const char* box, int taken = -1) {
        QTest::newRow(name) << u(key) << u(edit) << u(text) << messages << u(box)
                            << (taken < 0 ? messages.isEmpty() : taken == 1);
    };
    const QStringList none;
    const char* centre = "sms_centre_number";
    row("centre of digits stands", centre, "Edit7", "48501200777", none, "48501200777");
    row("centre of 18 digits is cleared", centre, "Edit7", "485012007771234567",
        {u("Za duża liczba cyfr w definicji Centrum SMS")}, "");
    row("centre with a plus is cleared", centre, "Edit7", "+48501200777",
        {u("Numer powinien zawierać tylko cyfry")}, "");
    row("user 2 with a letter has its own words", "user_numbers.2", "Edit9", "1e5",
        {u("Numer powinien zawierać tylko cyfry  ")}, "");
    row("user 3 of 18 digits", "user_numbers.3", "Edit10", "485012007771234567",
        {u("Za duża liczba cyfr w definicji uzytkownika 3")}, "");
    row("user 4 of 17 digits stands", "user_numbers.4", "Edit11", "48501200777123456", none,
        "48501200777123456");
    row("emptied user 1 loses the test message", "user_numbers.1", "Edit8", "",
        {u("zmień index uzytkownika do którego wysyłany jest SMS testowy")}, "", 1);
    const char* limit = "daily_sms_limit";
    row("limit 9999 stands", limit, "Edit1", "9999", none, "9999");
    row("limit 0 gives 20", limit, "Edit1", "0",
        {u("Błąd! Dobowy limit SMS nie może zaczynać sie od liczby 0")}, "20");
    row("limit 10000 gives 20", limit, "Edit1", "10000",
        {u("Błąd! Dobowy limit SMS musi zawierać się w przedziale od 1 do 9999")}, "20");
    row("limit 00010 spills over four characters", limit, "Edit1", "00010",
        {u("Błąd! Dobowy limit SMS musi zawierać się w przedziale od 1 do 9999")}, "20");
    row("limit -5 is no count", limit, "Edit1", "-5",
        {u("Błąd! Dobowy limit SMS musi zawierać się w przedziale od 1 do 9999")}, "20");
    const char* seconds1 = "output1_auto_seconds";
    const char* range1 = "Błąd! Automatyczne wysterowanie wyjscia 1 musi zawierać się w "
                         "przedziale od 1 do 999 sekund.";
    row("timed output 999 s stands", seconds1, "Edit5", "999", none, "999");
    row("timed output 1000 s gives 30", seconds1, "Edit5", "1000", {u(range1)}, "30");
    row("timed output 0 s gives 30", seconds1, "Edit5", "0", {u(range1)}, "30");
    row("timed output x gives 30", seconds1, "Edit5", "x", {u(range1)}, "30");
    const char* code = "balance_query_code";
    row("code of 20 characters stands", code, "Edit2", "*1234567890123456789", none,
        "*1234567890123456789");
    row("code of 21 characters is cleared", code, "Edit2", "*12345678901234567890",
        {u("Za duża liczba znaków w definicji numeru badania stanu konta")}, "");
    const char* count = "balance_sms_count";
    const char* atMost =
        "Błąd! Ilościowe informowanie o stanie konta nie może przekraczać 9999 SMS";
    row("count 250 stands", count, "Edit4", "250", none, "250");
    row("count 0 is warned about and stays", count, "Edit4", "0",
        {u("Błąd! Ilościowe informowanie o stanie konta ma zawierać się w przedziale od 10 do "
           "9999")},
        "0");
    row("count 10000 gives 10", count, "Edit4", "10000", {u(atMost)}, "10");
    row("count 00100 spills over four characters", count, "Edit4", "00100", {u(atMost)}, "10");
    row("count x gives 10", count, "Edit4", "x", {u(atMost)}, "10");
    const char* days = "balance_days";
    const char* daysRange =
        "Błąd! Czasowe informowanie o stanie konta musi zawierać sie w przedziale od 1 do 999 dni";
    row("30 days stand", days, "Edit3", "30", none, "30");
    row("0 days give 1", days, "Edit3", "0", {u(daysRange)}, "1");
    row("1000 days give 1", days, "Edit3", "1000", {u(daysRange)}, "1");
    row("00007 days spill over four characters", days, "Edit3", "00007", {u(daysRange)}, "1");
    row("-1 days are no number", days, "Edit3", "-1",
        {u("Błąd! Czasowe informowanie o stanie konta musi zawierać się w przedziale od 1 do 999 "
           "dni")},
        "1");
    row("header of 50 characters stands", "texts.0", "Edit1",
        "12345678901234567890123456789012345678901234567890", none,
        "12345678901234567890123456789012345678901234567890");
    row("header of 51 characters gives way", "texts.0", "Edit1",
        "12345678901234567890123456789012345678901234567890X",
        {u("Definicja treści nagłówka komunikatu alarmowego nie moze przekraczać 50 znaków")},
        "DOM KOWALSKICH: ");
    row("tilde in a text gives way", "texts.1", "Edit2", "Zanik ~",
        {u("Definicja treści treści komunikatu alarmowego nie może zawierać polskich znaków")},
        "Zanik zasilania 230V");
    row("Polish letter in the test text gives way", "texts.14", "Edit16", "Próba",
        {u("Definicja treści komunikatu testowego nie może zawierać polskich znaków")},
        "Test Systemu SMS");
    row("plain text stands", "texts.3", "Edit4", "Alarm: brama", none, "Alarm: brama");
    const char* index = "test_message_user";
    row("test message to user 2 stands", index, "Edit11", "2", none, "2");
    row("test message to user 5 is cleared", index, "Edit11", "5",
        {u("Index użytkownika - pozycja na której użytkownik zapisany jest w systemie ma "
           "zawierać się w przedziałe od 1 do 4 ")},
        "");
    row("test message to a user without a number is cleared", index, "Edit11", "4",
        {u("Zdefiniuj najpierw użytkownika numer 4")}, "");
}

void TestTemplateEdit::typingAgreesWithSet() {
    QFETCH(QString, key);
    QFETCH(QString, edit);
    QFETCH(QString, text);
    QFETCH(QStringList, messages);
    QFETCH(QString, box);
    QFETCH(bool, taken);
    QTemporaryDir dir;
    const QString source = writeDemo(dir, "demo.sbn");

    const Typed typed = typeIntoEditor(source, key, edit, text);
    QCOMPARE(typed.messages, messages);
    QCOMPARE(typed.box, box);

    bool changed = false;
    QCOMPARE(sayOfSet(source, key, text, changed), messages);
    QCOMPARE(changed, taken);
    if (taken)
        QCOMPARE(typed.box, text);
}

void TestTemplateEdit::consequencesAgreeWithSet_data() {
    // A change with consequences in other fields, made in the windows and
    // with set over the sample template (output 1 timed for 300 s, output 2
    // off, a report by time, the test message to user 1), saves the same file.
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("click"); // what the windows do, see below
    QTest::newRow("timed output 2 on offers 30 s") << "output2_auto_on=true"
                                                   << "RadioGroup5";
    QTest::newRow("permanent output 1 drops its time") << "output1_permanent=true"
                                                       << "RadioGroup2";
    QTest::newRow("CLIP on untimed output 2 sets 3 s") << "clip_output2_on=true"
                                                       << "clip2";
    QTest::newRow("an empty query code switches the reports off") << "balance_query_code="
                                                                  << "Edit2";
    QTest::newRow("emptied user 1 loses the test message") << "user_numbers.1="
                                                           << "Edit8";
    QTest::newRow("a typed centre empties the query code") << "sms_centre_number=48123456789"
                                                           << "Edit7";
}

void TestTemplateEdit::consequencesAgreeWithSet() {
    QFETCH(QString, set);
    QFETCH(QString, click);
    windowsAgreeWithSet(
        [&click](Program& p, TForm2* f) {
            if (click == QLatin1String("clip2")) {
                whenModal([&p](QDialog*) {
                    p.ctx().form12->RadioGroup2->item(0)->click();
                    p.ctx().form12->SpeedButton3->click();
                });
                f->SpeedButton4->click();
            } else if (click == QLatin1String("Edit7")) {
                f->radiogroup6->item(4)->click(); // another operator: the number is typed
                QTest::keyClicks(f->Edit7, QStringLiteral("48123456789"));
            } else if (auto* group = f->findChild<RadioGroup*>(click)) {
                group->item(0)->click();
            } else {
                f->findChild<QLineEdit*>(click)->clear();
            }
        },
        [](TForm3*) {}, {set.toStdString()});
}

QTEST_MAIN(TestTemplateEdit)
#include "test_template_edit.moc"
