#include "cable_memory.h"
#include "fake_usb_adapter.h"
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
    void adapterFromSysfs_data();
    void adapterFromSysfs();
    void cableFoundUnderAnotherName_data();
    void cableFoundUnderAnotherName();
    void cableFileSurvivesWhatItHolds();
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

void TestPortNames::adapterFromSysfs_data() {
    QTest::addColumn<QString>("adapter");  // as addUsbAdapter takes it
    QTest::addColumn<QString>("expected"); // the line the port list shows
    QTest::newRow("FTDI with its serial number")
        << "ttyUSB0|0403:6001|FTDI|FT232R USB UART|A50285BI|ftdi_sio|1-1.2"
        << "FTDI – FT232R USB UART, USB 0403:6001, nr seryjny A50285BI, sterownik ftdi_sio";
    QTest::newRow("CH340 without maker or serial number")
        << "ttyUSB0|1a86:7523||USB Serial||ch341-uart|1-2"
        << "WCH CH340 – USB Serial, USB 1a86:7523, sterownik ch341-uart";
    QTest::newRow("Prolific, its maker's own name kept")
        << "ttyUSB0|067b:2303|Prolific Technology Inc.|USB-Serial Controller||pl2303|3-1"
        << "Prolific PL2303 – USB-Serial Controller (Prolific Technology Inc.), USB 067b:2303, "
           "sterownik pl2303";
    QTest::newRow("Silicon Labs: the maker is in the chip's name already")
        << "ttyUSB0|10c4:ea60|Silicon Labs|CP2102 USB to UART Bridge Controller|0001|cp210x|1-4"
        << "Silicon Labs CP210x – CP2102 USB to UART Bridge Controller, USB 10c4:ea60, nr "
           "seryjny 0001, sterownik cp210x";
    QTest::newRow("an unknown ACM adapter by its maker")
        << "ttyACM0|2341:0043|Arduino (www.arduino.cc)||7573530303035170E0B1|cdc_acm|1-3"
        << "Arduino (www.arduino.cc), USB 2341:0043, nr seryjny 7573530303035170E0B1, "
           "sterownik cdc_acm";
    QTest::newRow("control characters from the adapter are not shown")
        << "ttyUSB0|0403:6015|FTDI|Cable\x1b[2J\x07 X|\tS1 |ftdi_sio|1-1"
        << "FTDI – Cable[2J X, USB 0403:6015, nr seryjny S1, sterownik ftdi_sio";
}

// The adapter behind a port comes from sysfs: the USB device above the tty
// gives its ids and strings, the tty's device its driver.
void TestPortNames::adapterFromSysfs() {
    QFETCH(QString, adapter);
    QFETCH(QString, expected);
    FakeSystem sys({"ttyS0"}, {"ttyS0=4"});
    addUsbAdapter(sys.root(), adapter);
    const auto a = adapterOf("COM1", sys.env());
    QVERIFY(a.has_value());
    QCOMPARE(QString::fromStdString(describeAdapter(*a)), expected);
    QCOMPARE(QString::fromStdString(a->location), adapter.section('|', 6));
    QVERIFY(adapterProblem(*a).empty());
    // The port list carries the same adapter; the built-in port has none.
    const auto ports = presentPorts(sys.env());
    QCOMPARE(ports.size(), std::size_t(2));
    QVERIFY(ports[0].adapter && describeAdapter(*ports[0].adapter) == describeAdapter(*a));
    QVERIFY(!ports[1].adapter);
    QVERIFY(!adapterOf("COM2", sys.env()));
    QVERIFY(!adapterOf("COM3", sys.env()));
}

void TestPortNames::cableFoundUnderAnotherName_data() {
    QTest::addColumn<QString>("remembered"); // "vid:pid|serial|socket" of the last connection
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<bool>("chosenPresent");
    QTest::addColumn<QString>("expected"); // the port proposed, or ""
    // Present: COM3 an FTDI with a serial number, COM5 a CH340 without one in socket 1-2.
    QTest::newRow("by serial number, in another socket") << "0403:6001|A50285BI|9-9"
                                                         << "COM1" << false << "COM3";
    QTest::newRow("without serial number, by ids and socket") << "1a86:7523||1-2"
                                                              << "COM1" << false << "COM5";
    QTest::newRow("without serial number, another socket is another cable")
        << "1a86:7523||1-4"
        << "COM1" << false << "";
    QTest::newRow("same ids, another serial number is another cable") << "0403:6001|B0000000|1-1"
                                                                      << "COM1" << false << "";
    QTest::newRow("the chosen port is there: nothing proposed") << "0403:6001|A50285BI|1-1"
                                                                << "COM1" << true << "";
    QTest::newRow("the cable is the chosen port itself") << "0403:6001|A50285BI|1-1"
                                                         << "COM3" << false << "";
}

// A cable remembered by serial number is found under any name; one without a
// serial number only in the same socket.
void TestPortNames::cableFoundUnderAnotherName() {
    QFETCH(QString, remembered);
    QFETCH(QString, chosen);
    QFETCH(bool, chosenPresent);
    QFETCH(QString, expected);
    UsbAdapter ftdi, ch340, failed, last;
    ftdi.vendorId = 0x0403, ftdi.productId = 0x6001, ftdi.serial = "A50285BI",
    ftdi.location = "1-1";
    ch340.vendorId = 0x1a86, ch340.productId = 0x7523, ch340.location = "1-2";
    failed = ftdi;
    failed.problemCode = 10; // the same cable whose driver did not start is not offered
    const QStringList r = remembered.split('|');
    last.vendorId = ushort(r[0].section(':', 0, 0).toUShort(nullptr, 16));
    last.productId = ushort(r[0].section(':', 1, 1).toUShort(nullptr, 16));
    last.serial = r[1].toStdString();
    last.location = r[2].toStdString();
    QTemporaryDir dir;
    CableMemory memory(dir.filePath("new folder/cable.txt").toStdString());
    QVERIFY(memory.remember(last).empty());
    const std::vector<PresentPort> present{{"COM2", "port szeregowy", failed},
                                           {"COM3", "USB Serial Port", ftdi},
                                           {"COM5", "USB-SERIAL CH340", ch340}};
    const auto found =
        rememberedCableElsewhere(chosen.toStdString(), chosenPresent, memory.remembered(), present);
    QCOMPARE(found ? QString::fromStdString(found->name) : QString(), expected);
}

// The file holds what was written, ignores what it does not know, and a
// damaged or foreign file is no cable at all.
void TestPortNames::cableFileSurvivesWhatItHolds() {
    QTemporaryDir dir;
    const QString path = dir.filePath("cable.txt");
    CableMemory memory(path.toStdString());
    QVERIFY(!memory.remembered());
    UsbAdapter noIds;
    noIds.serial = "X";
    QVERIFY(memory.remember(noIds).empty());
    QVERIFY(!QFile::exists(path)); // nothing to know it by again
    auto write = [&](const QByteArray& text) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    };
    write("usb 0403:6001\r\nserial A5\x1b"
          "0\r\ncolour red\r\n");
    const auto id = memory.remembered();
    QVERIFY(id && id->vendorId == 0x0403 && id->productId == 0x6001 && id->serial == "A50");
    write("usb 0403:60\nserial A5\n");
    QVERIFY(!memory.remembered());
    write("usb 0403:6001\n");
    QVERIFY(!memory.remembered()); // neither serial number nor socket
    write(QByteArray(5000, 'x'));
    QVERIFY(!memory.remembered());
    QVERIFY(!CableMemory("").remembered());
}

QTEST_GUILESS_MAIN(TestPortNames)
#include "test_port_names.moc"
