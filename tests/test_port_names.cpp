#include "port_names.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

using namespace trellikon;

namespace {

// A fake system: /dev nodes are empty files, UART types are sysfs-like files.
class FakeSystem {
  public:
    // `products`: "ttyUSB9=FT232R USB UART" gives ttyUSB9 a USB device with
    // that product string, two levels above its tty as in sysfs.
    explicit FakeSystem(const QStringList& devices, const QStringList& uartTypes = {},
                        const QStringList& variables = {}, const QStringList& products = {}) {
        QDir(dir_.path()).mkpath("dev");
        for (const QString& d : devices)
            write("dev/" + d, {});
        for (const QString& t : uartTypes) {
            const QStringList kv = t.split('=');
            write("sys/class/tty/" + kv[0] + "/type", kv[1].toUtf8() + "\n");
        }
        for (const QString& v : variables) {
            const qsizetype eq = v.indexOf('=');
            variables_[v.left(eq)] = v.mid(eq + 1);
        }
        for (const QString& p : products) {
            const qsizetype eq = p.indexOf('=');
            const QString tty = p.left(eq);
            const QString usb = "sys/devices/usb1/1-" + tty;
            write(usb + "/product", p.mid(eq + 1).toUtf8() + "\n");
            QDir(dir_.path()).mkpath(usb + "/1-1:1.0/" + tty);
            QDir(dir_.path()).mkpath("sys/class/tty/" + tty);
            QFile::link("../../../devices/usb1/1-" + tty + "/1-1:1.0/" + tty,
                        dir_.filePath("sys/class/tty/" + tty + "/device"));
        }
    }

    PortEnvironment env() const {
        PortEnvironment e;
        e.root = dir_.path().toStdString();
        const QMap<QString, QString> vars = variables_;
        const QString root = dir_.path();
        // "{root}" in a value stands for the fake tree, which exists only now.
        e.getenv = [vars, root](const std::string& name) -> std::optional<std::string> {
            const auto it = vars.find(QString::fromStdString(name));
            if (it == vars.end())
                return std::nullopt;
            return QString(it.value()).replace("{root}", root).toStdString();
        };
        return e;
    }

    QString root() const { return dir_.path(); }

  private:
    void write(const QString& relative, const QByteArray& bytes) {
        const QString path = dir_.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QTemporaryDir dir_;
    QMap<QString, QString> variables_;
};

QString fromOptional(const std::optional<std::string>& s) {
    return s ? QString::fromStdString(*s) : QStringLiteral("<nothing>");
}

} // namespace

class TestPortNames : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void resolve_data();
    void resolve();
    void listIsInComOrder();
    void missingTreeListsNothing();
    void describeForTooltip();
    void portsBeyondTheEight_data();
    void portsBeyondTheEight();
};

void TestPortNames::resolve_data() {
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("uartTypes");
    QTest::addColumn<QStringList>("variables");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // {root} is the fake tree; "" is nothing

    const QStringList none;
    const QStringList mixed{"ttyS0", "ttyACM0", "ttyUSB0"};
    const QStringList uart0{"ttyS0=4"};

    QTest::newRow("one USB cable is COM1") << QStringList{"ttyUSB0", "ttyS0", "ttyS1"}
                                           << QStringList{"ttyS0=0", "ttyS1=0"} << none << "COM1"
                                           << "{root}/dev/ttyUSB0";
    QTest::newRow("USB before ACM before ttyS: COM1") << mixed << uart0 << none << "COM1"
                                                      << "{root}/dev/ttyUSB0";
    QTest::newRow("USB before ACM before ttyS: COM2") << mixed << uart0 << none << "COM2"
                                                      << "{root}/dev/ttyACM0";
    QTest::newRow("USB before ACM before ttyS: COM3") << mixed << uart0 << none << "COM3"
                                                      << "{root}/dev/ttyS0";
    QTest::newRow("ttyS without UART type is skipped")
        << QStringList{"ttyS0", "ttyS1", "ttyS2"} << QStringList{"ttyS0=0", "ttyS2=4"} << none
        << "COM1"
        << "{root}/dev/ttyS2";
    QTest::newRow("unreadable UART type is no hardware")
        << QStringList{"ttyS0", "ttyS1"} << QStringList{"ttyS0=unknown", "ttyS1=16"} << none
        << "COM1"
        << "{root}/dev/ttyS1";
    QTest::newRow("numeric not lexical order: COM1")
        << QStringList{"ttyUSB10", "ttyUSB2"} << none << none << "COM1"
        << "{root}/dev/ttyUSB2";
    QTest::newRow("numeric not lexical order: COM2")
        << QStringList{"ttyUSB10", "ttyUSB2"} << none << none << "COM2"
        << "{root}/dev/ttyUSB10";
    QTest::newRow("look-alike names are not ports")
        << QStringList{"ttyUSB", "ttyUSB0.lock", "ttyUSBx", "ttyS", "ttyACM1"} << none << none
        << "COM1"
        << "{root}/dev/ttyACM1";
    QTest::newRow("env var wins") << QStringList{"ttyUSB0"} << none
                                  << QStringList{"TRELLIKON_COM1=/dev/serial/by-id/cable"} << "COM1"
                                  << "/dev/serial/by-id/cable";
    QTest::newRow("env var names a port beyond those present")
        << none << none << QStringList{"TRELLIKON_COM8=/tmp/simulator-pty"} << "COM8"
        << "/tmp/simulator-pty";
    QTest::newRow("empty env var counts as unset")
        << QStringList{"ttyUSB0"} << none << QStringList{"TRELLIKON_COM1="} << "COM1"
        << "{root}/dev/ttyUSB0";
    QTest::newRow("another COM's env var does not shift the list")
        << QStringList{"ttyUSB0", "ttyUSB1"} << none << QStringList{"TRELLIKON_COM1=/tmp/x"}
        << "COM2"
        << "{root}/dev/ttyUSB1";
    QTest::newRow("COM3 with only two ports is absent")
        << QStringList{"ttyUSB0", "ttyACM0"} << none << none << "COM3"
        << "";
    QTest::newRow("no ports at all") << none << none << none << "COM1"
                                     << "";
    QTest::newRow("letter case does not matter") << QStringList{"ttyUSB0"} << none << none << "com1"
                                                 << "{root}/dev/ttyUSB0";
    QTest::newRow("COM9 is not a port") << mixed << uart0 << none << "COM9"
                                        << "";
    QTest::newRow("COM0 is not a port") << mixed << uart0 << none << "COM0"
                                        << "";
    QTest::newRow("COM01 is not a port") << mixed << uart0 << none << "COM01"
                                         << "";
    QTest::newRow("huge COM number is not a port")
        << mixed << uart0 << none << "COM99999999999999999999999"
        << "";
    QTest::newRow("empty name is not a port") << mixed << uart0 << none << ""
                                              << "";
    QTest::newRow("pty path is used as it is") << mixed << uart0 << none << "/dev/pts/3"
                                               << "/dev/pts/3";
    QTest::newRow("device path is used as it is") << mixed << uart0 << none << "/dev/ttyUSB0"
                                                  << "/dev/ttyUSB0";
    QTest::newRow("COM1x is a path, not COM1") << mixed << uart0 << none << "COM1x"
                                               << "COM1x";
}

// COMn is the env var's path, else the n-th present port (USB, ACM, UART ttyS,
// each numerically); other COM numbers are nothing and other names are paths.
void TestPortNames::resolve() {
    QFETCH(QStringList, devices);
    QFETCH(QStringList, uartTypes);
    QFETCH(QStringList, variables);
    QFETCH(QString, name);
    QFETCH(QString, expected);

    FakeSystem sys(devices, uartTypes, variables);
    expected.replace("{root}", sys.root());
    if (expected.isEmpty())
        expected = "<nothing>";
    QCOMPARE(fromOptional(resolvePortName(name.toStdString(), sys.env())), expected);
}

// The whole list comes out in COM order, skipping ttyS ports without a UART.
void TestPortNames::listIsInComOrder() {
    FakeSystem sys({"ttyS1", "ttyS0", "ttyS10", "ttyACM3", "ttyUSB10", "ttyUSB2", "ttyACM0",
                    "console", "tty1"},
                   {"ttyS0=0", "ttyS1=4", "ttyS10=4"});
    const auto ports = presentPorts(sys.env());
    QStringList got;
    for (const auto& p : ports)
        got << QString(QString::fromStdString(p.name)).remove(sys.root());
    QCOMPARE(got, (QStringList{"/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyACM0", "/dev/ttyACM3",
                               "/dev/ttyS1", "/dev/ttyS10"}));
}

// A root without /dev or sysfs yields no ports instead of an exception.
void TestPortNames::missingTreeListsNothing() {
    PortEnvironment env;
    env.root = "/nonexistent/trellikon-root";
    env.getenv = nullptr;
    QVERIFY(presentPorts(env).empty());
    QVERIFY(trellikon::portsBeyondTheEight(env).empty());
    QVERIFY(!resolvePortName("COM1", env));
}

// The tooltip text is the current path, or "brak portu" when COMn stands for nothing.
void TestPortNames::describeForTooltip() {
    FakeSystem sys({"ttyUSB0", "ttyACM0"});
    QCOMPARE(QString::fromStdString(describePort("COM2", sys.env())), sys.root() + "/dev/ttyACM0");
    QCOMPARE(QString::fromStdString(describePort("COM3", sys.env())),
             QString::fromUtf8("brak portu"));
}

void TestPortNames::portsBeyondTheEight_data() {
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("variables");
    QTest::addColumn<QStringList>("products");
    QTest::addColumn<QStringList>("expected"); // "path|description", path under the fake root

    const QStringList none;
    const QStringList ten{"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3", "ttyUSB4",
                          "ttyUSB5", "ttyUSB6", "ttyUSB7", "ttyUSB8", "ttyUSB9"};
    QTest::newRow("eight ports or fewer: nothing beyond")
        << QStringList{"ttyUSB0", "ttyACM0"} << none << none << QStringList{};
    QTest::newRow("the ninth and tenth port, with the adapter's product")
        << ten << none << QStringList{"ttyUSB9=FT232R USB UART"}
        << QStringList{"/dev/ttyUSB8|przejściówka USB", "/dev/ttyUSB9|FT232R USB UART"};
    QTest::newRow("a port a variable moved out of the eight is offered")
        << QStringList{"ttyUSB0", "ttyACM0"} << QStringList{"TRELLIKON_COM1=/tmp/simulator"} << none
        << QStringList{"/dev/ttyUSB0|przejściówka USB"};
    QTest::newRow("a variable naming a present port by another path covers it")
        << QStringList{"ttyUSB0", "ttyACM0"}
        << QStringList{"TRELLIKON_COM1={root}/dev/../dev/ttyACM0"} << none
        << QStringList{"/dev/ttyUSB0|przejściówka USB"};
}

// The port list offers every present port that no COM1..COM8 stands for, in
// COM order, each with what stands behind it.
void TestPortNames::portsBeyondTheEight() {
    QFETCH(QStringList, devices);
    QFETCH(QStringList, variables);
    QFETCH(QStringList, products);
    QFETCH(QStringList, expected);
    FakeSystem fake(devices, {}, variables, products);
    QStringList got;
    for (const auto& p : trellikon::portsBeyondTheEight(fake.env()))
        got << QString::fromStdString(p.name).remove(fake.root()) + "|" +
                   QString::fromStdString(p.description);
    QCOMPARE(got, expected);
}

QTEST_GUILESS_MAIN(TestPortNames)
#include "test_port_names.moc"
