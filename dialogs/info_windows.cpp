#include "info_windows.h"

#include "jpeg_picture.h"
#include "program_version.h"

#include <QAccessibleWidget>
#include <QFile>
#include <QFrame>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <span>

namespace {

// The areas the two pictures are drawn for.
constexpr QSize kCableArea(889, 657);
constexpr QSize kMountingArea(1033, 777);
// Room left around an area for the window's frame and title bar.
constexpr QSize kFrameAllowance(16, 48);

QImage toImage(const trellikon::JpegPicture& picture) {
    QImage image(picture.width, picture.height, QImage::Format_RGB888);
    const std::size_t stride = std::size_t(picture.width) * 3;
    for (int y = 0; y < picture.height; ++y)
        std::copy_n(picture.rgb.data() + stride * std::size_t(y), stride, image.scanLine(y));
    return image;
}

// Sizes the window to its diagram's area and fills the area with the picture
// compiled in under `resource`.
DiagramImage* addDiagram(StackDialog* window, QSize wanted, const QString& resource,
                         const QString& accessibleName) {
    auto* image = new DiagramImage(window);
    nameControl(image, "Image1", accessibleName);
    const QScreen* screen = window->screen();
    const QSize area = diagramArea(wanted, screen ? screen->availableGeometry().size() : QSize());
    image->setGeometry(QRect(QPoint(0, 0), area));
    window->setFixedSize(area);
    image->setJpegResource(resource);
    return image;
}

// A diagram is a picture to assistive technology, not a blank area: it is
// announced with the graphic role under its accessible name, which says what
// it shows.
QAccessibleInterface* diagramAccessible(const QString& key, QObject* object) {
    if (key != QLatin1String("DiagramImage"))
        return nullptr;
    auto* image = qobject_cast<DiagramImage*>(object);
    return image ? new QAccessibleWidget(image, QAccessible::Graphic) : nullptr;
}

QLabel* addLine(QWidget* frame, QVBoxLayout* lines, const char* name, const QString& text) {
    auto* label = new QLabel(text, frame);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignHCenter);
    // Addresses are there to be copied.
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lines->addWidget(label, 0, Qt::AlignHCenter);
    return label;
}

} // namespace

QSize diagramArea(QSize wanted, QSize available) {
    if (available.isEmpty())
        return wanted;
    const QSize room = (available - kFrameAllowance).expandedTo(QSize(1, 1));
    if (wanted.width() <= room.width() && wanted.height() <= room.height())
        return wanted;
    return wanted.scaled(room, Qt::KeepAspectRatio);
}

DiagramImage::DiagramImage(QWidget* parent) : QWidget(parent) {
    static const bool accessible = (QAccessible::installFactory(diagramAccessible), true);
    Q_UNUSED(accessible);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("pictureProblem"));
    problem_->setAlignment(Qt::AlignCenter);
    problem_->setWordWrap(true);
    problem_->setTextFormat(Qt::RichText);
    problem_->hide();
    layout->addWidget(problem_);
}

bool DiagramImage::setJpeg(const QByteArray& jpeg, const QString& name) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(jpeg.constData());
    const trellikon::JpegDecodeResult decoded =
        trellikon::decodeJpeg(std::span<const std::uint8_t>(bytes, std::size_t(jpeg.size())));
    scaled_ = QImage();
    if (decoded.ok) {
        picture_ = toImage(decoded.picture);
        message_.clear();
        problem_->hide();
    } else {
        picture_ = QImage();
        const QString quoted = QString::fromUtf8("„%1”").arg(name);
        const QString what =
            jpeg.isEmpty() ? QString::fromUtf8("Brak danych rysunku %1 w programie.").arg(quoted)
                           : QString::fromUtf8("Dane rysunku %1 zapisane w programie są uszkodzone "
                                               "lub niekompletne.")
                                 .arg(quoted);
        const QString rest = QString::fromUtf8("Pozostałe funkcje programu działają normalnie.");
        message_ =
            QString::fromUtf8("Nie można wyświetlić rysunku. ") + what + QLatin1Char(' ') + rest;
        problem_->setText(
            QStringLiteral("<p style=\"color:#b71c1c\"><big><b>%1</b></big></p><p>%2<br>%3</p>"
                           "<p style=\"color:#616161\">%4</p>")
                .arg(QString::fromUtf8("Nie można wyświetlić rysunku."), what.toHtmlEscaped(), rest,
                     QString::fromUtf8("Szczegóły (libjpeg): %1")
                         .arg(QString::fromStdString(decoded.error).toHtmlEscaped())));
        problem_->show();
    }
    setAccessibleDescription(message_);
    update();
    return decoded.ok;
}

void DiagramImage::setJpegResource(const QString& resource) {
    resource_ = resource;
    if (isVisible())
        decodeResource();
}

void DiagramImage::showEvent(QShowEvent*) {
    decodeResource();
}

void DiagramImage::decodeResource() {
    if (resource_.isEmpty())
        return;
    QFile file(resource_);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const QString name = resource_.section(QLatin1Char('/'), -1);
    resource_.clear();
    setJpeg(bytes, name);
}

QRect DiagramImage::pictureRect() const {
    if (picture_.isNull())
        return {};
    const QSize size = picture_.size().scaled(this->size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void DiagramImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white); // the drawings' own background
    if (!picture_.isNull()) {
        const QRect target = pictureRect();
        // Scaled once per size, at the screen's own pixels, so that a high
        // density screen gets the detail the picture has.
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = (QSizeF(target.size()) * ratio).toSize();
        if (scaled_.size() != pixels)
            scaled_ = picture_.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        scaled_.setDevicePixelRatio(ratio);
        painter.drawImage(target.topLeft(), scaled_);
    }
}

TForm7::TForm7(QWidget* parent) : StackDialog(parent) {
    setObjectName(QStringLiteral("Form7"));
    closeOnEscape();
    setWindowTitle(QString::fromUtf8("DOMOWY TRELLIKON PODŁĄCZENIE DO KOMPUTERA"));
    Image1 = addDiagram(this, kCableArea, QStringLiteral(":/diagrams/cable_diagram.jpg"),
                        QString::fromUtf8("Schemat podłączenia urządzenia do komputera"));
}

TForm8::TForm8(QWidget* parent) : StackDialog(parent) {
    setObjectName(QStringLiteral("Form8"));
    closeOnEscape();
    setWindowTitle(QString::fromUtf8("DOMOWY TRELLIKON SCHEMAT MONTAŻOWY"));
    Image1 = addDiagram(this, kMountingArea, QStringLiteral(":/diagrams/mounting_diagram.jpg"),
                        QString::fromUtf8("Schemat montażowy urządzenia"));
}

TForm10::TForm10(QWidget* parent) : StackDialog(parent) {
    setObjectName(QStringLiteral("Form10"));
    closeOnEscape();
    setWindowTitle(QString::fromUtf8("INFORMACJE O SYSTEMIE  I FIRMIE"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(14, 14, 14, 14);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("infoFrame"));
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Sunken);
    outer->addWidget(frame);
    auto* lines = new QVBoxLayout(frame);
    lines->setContentsMargins(40, 22, 40, 22);
    lines->setSpacing(6);

    Label1 = addLine(frame, lines, "Label1",
                     QString::fromUtf8("DOMOWY TRELLIKON – system powiadamiania alarmowego GSM"));
    QFont name = Label1->font();
    name.setBold(true);
    name.setPointSizeF(name.pointSizeF() * 1.2);
    Label1->setFont(name);
    Label2 = addLine(frame, lines, "Label2",
                     QString::fromUtf8("Wersja programu %1 – program jest bezpłatny")
                         .arg(QString::fromLatin1(kProgramVersion)));
    // The product above, its maker below.
    lines->addSpacing(22);
    Label3 = addLine(frame, lines, "Label3",
                     QString::fromUtf8("Przykładowe Zakłady Elektroniczne sp. z o.o."));
    Label4 =
        addLine(frame, lines, "Label4", QString::fromUtf8("ul. Przykładowa 1, 00-000 Przykładowo"));
    Label5 = addLine(frame, lines, "Label5",
                     QString::fromUtf8("tel. +48 00 000 00 00, faks +48 00 000 00 01"));
    Label6 = addLine(frame, lines, "Label6", QStringLiteral("www.example.com"));
    Label7 = addLine(frame, lines, "Label7", QStringLiteral("e-mail: biuro@example.org"));
}
