// The diagram and information windows, and the JPEG decoder behind the diagrams.
#include "info_windows.h"
#include "jpeg_picture.h"
#include "program_fixture.h"
#include "program_version.h"
#include "window_test_support.h"

#include <QAccessible>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <cstdlib>
#include <memory>

using namespace trellikon;

namespace {

QByteArray resource(const QString& name) {
    QFile file(QStringLiteral(":/diagrams/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

JpegDecodeResult decode(const QByteArray& bytes) {
    return decodeJpeg(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
}

// The frame header of a JPEG file, read from its markers (not through libjpeg).
struct FrameHeader {
    int sofMarkers = 0; // how many start-of-frame markers there are before the first scan
    int sofType = -1;   // 0xC0 is baseline
    int precision = 0, height = 0, width = 0, components = 0;
};

FrameHeader frameHeader(const QByteArray& b) {
    FrameHeader h;
    auto at = [&](qsizetype i) { return i < b.size() ? int(std::uint8_t(b[i])) : -1; };
    if (at(0) != 0xFF || at(1) != 0xD8)
        return h;
    qsizetype i = 2;
    while (i + 4 <= b.size() && at(i) == 0xFF) {
        const int marker = at(i + 1);
        const int length = at(i + 2) << 8 | at(i + 3);
        const bool sof =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
            ++h.sofMarkers;
            h.sofType = marker;
            h.precision = at(i + 4);
            h.height = at(i + 5) << 8 | at(i + 6);
            h.width = at(i + 7) << 8 | at(i + 8);
            h.components = at(i + 9);
        }
        if (marker == 0xDA)
            break;
        i += 2 + length;
    }
    return h;
}

// A copy of a JPEG file whose frame header claims another size.
QByteArray withClaimedSize(QByteArray bytes, int width, int height) {
    const qsizetype sof = bytes.indexOf(QByteArray("\xFF\xC0", 2));
    if (sof < 0)
        return {};
    bytes[sof + 5] = char(height >> 8);
    bytes[sof + 6] = char(height & 0xFF);
    bytes[sof + 7] = char(width >> 8);
    bytes[sof + 8] = char(width & 0xFF);
    return bytes;
}

// Mean difference per colour channel between two images of the same size.
double meanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(int(p[i]) - int(q[i]));
    }
    return sum / (double(x.width()) * x.height() * 3);
}

} // namespace

class TestDiagrams : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void cleanup();
    void decoderAcceptsOnlyWholePictures_data();
    void decoderAcceptsOnlyWholePictures();
    void everyCutOfAPictureIsRefused();
    void shippedPicturesAreBaselineColour_data();
    void shippedPicturesAreBaselineColour();
    void diagramOpensFromItsButton_data();
    void diagramOpensFromItsButton();
    void diagramAreaFitsTheScreen_data();
    void diagramAreaFitsTheScreen();
    void failedPictureShowsAMessage_data();
    void failedPictureShowsAMessage();
    void informationWindow();
};

void TestDiagrams::cleanup() {
    // No test may leave a window of its own up.
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TestDiagrams::decoderAcceptsOnlyWholePictures_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    const QByteArray cable = resource(QStringLiteral("cable_diagram.jpg"));
    QVERIFY(!cable.isEmpty());
    QTest::newRow("the cable diagram decodes") << cable << true;
    QTest::newRow("the mounting diagram decodes")
        << resource(QStringLiteral("mounting_diagram.jpg")) << true;
    QTest::newRow("a file cut in half is refused") << cable.left(cable.size() / 2) << false;
    QTest::newRow("a file missing only its end marker is refused")
        << cable.left(cable.size() - 2) << false;
    QTest::newRow("a file of headers only is refused") << cable.left(600) << false;
    QTest::newRow("a PNG is refused") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) << false;
    QTest::newRow("text is refused") << QByteArray("not a picture at all") << false;
    QTest::newRow("a lone start marker is refused") << QByteArray("\xFF\xD8", 2) << false;
    QTest::newRow("empty input is refused") << QByteArray() << false;
    QTest::newRow("a header claiming 60000 x 60000 is refused")
        << withClaimedSize(cable, 60000, 60000) << false;
    QTest::newRow("a header claiming width 0 is refused")
        << withClaimedSize(cable, 0, 768) << false;
}

void TestDiagrams::decoderAcceptsOnlyWholePictures() {
    // A whole picture decodes to RGB rows; anything cut short, foreign or absurd is an error, never
    // an exit.
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    const JpegDecodeResult r = decode(bytes);
    QCOMPARE(r.ok, ok);
    if (ok) {
        QCOMPARE(r.picture.width, 1024);
        QCOMPARE(r.picture.height, 768);
        QCOMPARE(r.picture.rgb.size(), std::size_t(1024 * 768 * 3));
        QVERIFY(r.error.empty());
    } else {
        QVERIFY(!r.error.empty());
        QVERIFY(r.picture.rgb.empty());
        QCOMPARE(r.picture.width, 0);
    }
}

void TestDiagrams::everyCutOfAPictureIsRefused() {
    // However a picture is cut short, the decoder says so instead of inventing the rest.
    const QByteArray whole = resource(QStringLiteral("mounting_diagram.jpg"));
    QVERIFY(whole.size() > 1000);
    for (qsizetype size = 0; size < whole.size(); size += 1 + whole.size() / 97) {
        const JpegDecodeResult r = decode(whole.left(size));
        QVERIFY2(!r.ok, qPrintable(QStringLiteral("cut at %1 bytes").arg(size)));
    }
    QVERIFY(decode(whole).ok);
}

void TestDiagrams::shippedPicturesAreBaselineColour_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("cable diagram") << QStringLiteral("cable_diagram.jpg");
    QTest::newRow("mounting diagram") << QStringLiteral("mounting_diagram.jpg");
}

void TestDiagrams::shippedPicturesAreBaselineColour() {
    // The pictures built into the program are baseline JPEG, three 8-bit components, 1024 x 768.
    QFETCH(QString, name);
    const FrameHeader h = frameHeader(resource(name));
    QCOMPARE(h.sofMarkers, 1);
    QCOMPARE(h.sofType, 0xC0);
    QCOMPARE(h.precision, 8);
    QCOMPARE(h.components, 3);
    QCOMPARE(h.width, 1024);
    QCOMPARE(h.height, 768);
}

void TestDiagrams::diagramOpensFromItsButton_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QRect>("drawn");
    QTest::addColumn<QString>("spoken");
    // 1024 x 768 kept in proportion and centred: limited by the height in the first, by the
    // width in the second.
    QTest::newRow("cable diagram")
        << QStringLiteral("SpeedButton3")
        << QString::fromUtf8("DOMOWY TRELLIKON PODŁĄCZENIE DO KOMPUTERA") << QSize(889, 657)
        << QRect(6, 0, 876, 657)
        << QString::fromUtf8("Schemat podłączenia urządzenia do komputera");
    QTest::newRow("mounting diagram")
        << QStringLiteral("SpeedButton8") << QString::fromUtf8("DOMOWY TRELLIKON SCHEMAT MONTAŻOWY")
        << QSize(1033, 777) << QRect(0, 1, 1033, 774)
        << QString::fromUtf8("Schemat montażowy urządzenia");
}

void TestDiagrams::diagramOpensFromItsButton() {
    // Each diagram window comes up from its button, fills its area with its picture in proportion,
    // and has only a close box.
    QFETCH(QString, button);
    QFETCH(QString, title);
    QFETCH(QSize, area);
    QFETCH(QRect, drawn);
    QFETCH(QString, spoken);
    Program p;
    auto* command = p.form1->findChild<QToolButton*>(button);
    QVERIFY(command);
    bool seen = false;
    whenModal([&](QDialog* d) {
        seen = true;
        QCOMPARE(d->windowTitle(), title);
        QVERIFY(d->windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(d->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                                      Qt::WindowContextHelpButtonHint)));
        auto* image = d->findChild<DiagramImage*>(QStringLiteral("Image1"));
        QVERIFY(image);
        QVERIFY(image->hasPicture());
        QVERIFY(image->message().isEmpty());
        QCOMPARE(image->geometry(), QRect(QPoint(0, 0), area));
        QCOMPARE(d->size(), area);
        QCOMPARE(d->minimumSize(), d->maximumSize());
        QCOMPARE(image->pictureRect(), drawn);
        // A picture to a screen reader, announced by what it shows.
        QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(image);
        QVERIFY(a11y);
        QCOMPARE(a11y->role(), QAccessible::Graphic);
        QCOMPARE(a11y->text(QAccessible::Name), spoken);

        // What is on the screen is the picture, scaled into that rectangle, on white.
        const QImage shot = image->grab().toImage();
        QCOMPARE(shot.size(), area);
        const QImage reference =
            image->picture().scaled(drawn.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QVERIFY(meanDifference(shot.copy(drawn), reference) < 1.0);
        QVERIFY(meanDifference(shot.copy(drawn), reference.mirrored(true, false)) > 10.0);
        if (drawn.left() > 0)
            QCOMPARE(shot.pixelColor(0, area.height() / 2), QColor(Qt::white));
        if (drawn.top() > 0)
            QCOMPARE(shot.pixelColor(area.width() / 2, 0), QColor(Qt::white));
    });
    command->click();
    QVERIFY(seen);
    QCOMPARE(p.ctx().dialogs.stack->depth(), std::size_t(1));
}

void TestDiagrams::diagramAreaFitsTheScreen_data() {
    QTest::addColumn<QSize>("wanted");
    QTest::addColumn<QSize>("available");
    QTest::addColumn<QSize>("area");
    QTest::newRow("full HD: the whole mounting area")
        << QSize(1033, 777) << QSize(1920, 1040) << QSize(1033, 777);
    QTest::newRow("just room for area and frame")
        << QSize(1033, 777) << QSize(1049, 825) << QSize(1033, 777);
    QTest::newRow("one pixel short: reduced in proportion")
        << QSize(1033, 777) << QSize(1048, 825) << QSize(1032, 776);
    QTest::newRow("1366 x 768 laptop: mounting area reduced")
        << QSize(1033, 777) << QSize(1366, 728) << QSize(904, 680);
    QTest::newRow("1366 x 768 laptop: the cable area fits")
        << QSize(889, 657) << QSize(1366, 728) << QSize(889, 657);
    QTest::newRow("no screen known: the area as drawn")
        << QSize(889, 657) << QSize() << QSize(889, 657);
}

void TestDiagrams::diagramAreaFitsTheScreen() {
    // A diagram window never grows past the screen: on a small one its area shrinks in proportion.
    QFETCH(QSize, wanted);
    QFETCH(QSize, available);
    QFETCH(QSize, area);
    QCOMPARE(diagramArea(wanted, available), area);
}

void TestDiagrams::failedPictureShowsAMessage_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("says");
    const QByteArray cable = resource(QStringLiteral("cable_diagram.jpg"));
    QTest::newRow("cut short") << cable.left(cable.size() - 100)
                               << QString::fromUtf8("uszkodzone lub niekompletne");
    QTest::newRow("not a JPEG") << QByteArray("GIF89a") << QString::fromUtf8("uszkodzone");
    QTest::newRow("missing") << QByteArray() << QString::fromUtf8("Brak danych rysunku");
}

void TestDiagrams::failedPictureShowsAMessage() {
    // A picture that cannot be decoded leaves a message in its place, and a good one replaces it.
    QFETCH(QByteArray, bytes);
    QFETCH(QString, says);
    DiagramImage image;
    image.resize(889, 657);
    QVERIFY(!image.setJpeg(bytes, QStringLiteral("cable_diagram.jpg")));
    QVERIFY(!image.hasPicture());
    QVERIFY(image.pictureRect().isNull());
    QVERIFY(image.message().startsWith(QString::fromUtf8("Nie można wyświetlić rysunku.")));
    QVERIFY(image.message().contains(says));
    QVERIFY(image.message().contains(QString::fromUtf8("„cable_diagram.jpg”")));
    auto* problem = image.findChild<QLabel*>(QStringLiteral("pictureProblem"));
    QVERIFY(problem && problem->isVisibleTo(&image));
    QVERIFY(problem->text().contains(QStringLiteral("libjpeg")));
    QCOMPARE(image.accessibleDescription(), image.message());
    QVERIFY(!image.grab().isNull());

    QVERIFY(image.setJpeg(resource(QStringLiteral("cable_diagram.jpg")),
                          QStringLiteral("cable_diagram.jpg")));
    QVERIFY(image.hasPicture());
    QVERIFY(image.message().isEmpty());
    QVERIFY(!problem->isVisibleTo(&image));
}

void TestDiagrams::informationWindow() {
    // The information window comes up from its button with the product and its version over the
    // maker's lines, centred in a frame, sized to them.
    Program p;
    bool seen = false;
    whenModal([&](QDialog* d) {
        seen = true;
        QCOMPARE(d, static_cast<QDialog*>(p.windows().form10));
        QCOMPARE(d->windowTitle(), QString::fromUtf8("INFORMACJE O SYSTEMIE  I FIRMIE"));
        QVERIFY(d->windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(
            !(d->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        auto* frame = d->findChild<QFrame*>(QStringLiteral("infoFrame"));
        QVERIFY(frame);
        QList<QLabel*> lines;
        for (int i = 1; i <= 7; ++i) {
            auto* label = frame->findChild<QLabel*>(QStringLiteral("Label%1").arg(i));
            QVERIFY(label);
            lines << label;
        }
        QVERIFY(lines[0]->text().contains(QStringLiteral("DOMOWY TRELLIKON")));
        const QString version = QString::fromLatin1(kProgramVersion);
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+(\\.\\d+)?$"))
                    .match(version)
                    .hasMatch());
        QVERIFY(lines[1]->text().contains(version));
        QVERIFY(lines[1]->text().contains(QString::fromUtf8("bezpłatny")));
        QVERIFY(lines[4]->text().contains(QStringLiteral("tel.")));
        QVERIFY(lines[4]->text().contains(QStringLiteral("faks")));
        const QRegularExpression fictional(QStringLiteral("example\\.(com|org)$"));
        QVERIFY(fictional.match(lines[5]->text()).hasMatch());
        QVERIFY(lines[6]->text().contains(QLatin1Char('@')));
        QVERIFY(fictional.match(lines[6]->text()).hasMatch());

        // Top to bottom, each centred, none cut, the largest gap after the second line.
        const int centre = frame->contentsRect().center().x();
        QList<int> gaps;
        for (int i = 0; i < 7; ++i) {
            const QRect g = lines[i]->geometry();
            QVERIFY(lines[i]->isVisible());
            QVERIFY2(std::abs(g.center().x() - centre) <= 1, qPrintable(lines[i]->objectName()));
            QVERIFY(g.width() >= lines[i]->sizeHint().width());
            QVERIFY(frame->contentsRect().contains(g));
            if (i > 0)
                gaps << g.top() - lines[i - 1]->geometry().bottom();
        }
        for (int i = 0; i < gaps.size(); ++i)
            if (i != 1)
                QVERIFY(gaps[1] >= gaps[i] + 10);
        QCOMPARE(d->size(), d->sizeHint());
        QCOMPARE(d->minimumSize(), d->maximumSize());
    });
    p.form1->SpeedButton4->click();
    QVERIFY(seen);
}

int main(int argc, char** argv) {
    // A full HD desktop, on which both diagrams get their whole area.
    QTemporaryFile screens;
    if (!screens.open())
        return 1;
    screens.write(R"({"screens": [{"name": "desktop", "x": 0, "y": 0, "width": 1920,)"
                  R"( "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    screens.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screens.fileName()));
    QApplication app(argc, argv);
    TestDiagrams test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_diagrams.moc"
