#pragma once
// A USB serial adapter in a fake sysfs tree, for the tests of the port list.
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTest>

// A USB adapter in a fake sysfs, laid out as the kernel lays it out:
// "tty|vid:pid|manufacturer|product|serial|driver|socket"; an empty field is a
// file the adapter does not have. A ttyACM's device is its USB interface, a
// ttyUSB's a port device below the interface.
inline void addUsbAdapter(const QString& root, const QString& fields) {
    const QStringList f = fields.split('|');
    const QString tty = f[0], socket = f[6];
    const QString usb = "sys/devices/pci0000:00/0000:00:14.0/usb1/" + socket;
    const QString interface = usb + "/" + socket + ":1.0";
    const bool acm = tty.startsWith("ttyACM");
    const QString device = acm ? interface : interface + "/" + tty;
    QDir dir(root);
    QVERIFY(dir.mkpath(device) && dir.mkpath("dev") && dir.mkpath("sys/class/tty/" + tty) &&
            dir.mkpath("sys/bus/usb/drivers/" + f[5]));
    auto write = [&](const QString& file, const QString& text) {
        if (text.isEmpty())
            return;
        QFile out(root + "/" + file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(text.toUtf8() + "\n");
    };
    write("dev/" + tty, "x");
    write(usb + "/idVendor", f[1].section(':', 0, 0));
    write(usb + "/idProduct", f[1].section(':', 1, 1));
    write(usb + "/manufacturer", f[2]);
    write(usb + "/product", f[3]);
    write(usb + "/serial", f[4]);
    QVERIFY(QFile::link(root + "/sys/bus/usb/drivers/" + f[5], root + "/" + device + "/driver"));
    QVERIFY(QFile::link(root + "/" + device, root + "/sys/class/tty/" + tty + "/device"));
}
