#include "settings_comparison_window.h"

#include "files.h"
#include "outside_text.h"
#include "session.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <utility>

namespace cmp = trellikon::comparison;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}
QString u(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
QString esc(const QString& s) {
    return s.toHtmlEscaped();
}

const char* const kHint = "Wybierz, z czym porównać ustawienia programu: z szablonem zapisanym "
                          "na dysku albo z ustawieniami urządzenia. Odczyt urządzenia trafia do "
                          "kopii; ustawienia w programie pozostają bez zmian.";

// A text value with its changed characters on a coloured ground, so that a
// changed blank shows as well.
QString marked(const std::vector<cmp::Segment>& segments) {
    if (segments.empty())
        return QStringLiteral("<i>(puste)</i>");
    QString html = QStringLiteral("„");
    for (const cmp::Segment& s : segments) {
        const QString text = esc(u(s.text));
        html += s.changed ? QStringLiteral("<span style=\"background-color:#ffcf5c\">") + text +
                                QStringLiteral("</span>")
                          : text;
    }
    return html + QStringLiteral("”");
}

QString cell(const QString& html, const char* extra = "") {
    return QStringLiteral("<td style=\"border: 1px solid #c4cdd6; white-space: pre-wrap\"%1>%2"
                          "</td>")
        .arg(u(extra), html);
}

QString resultsHtml(const cmp::Comparison& c, const QString& hereHeading,
                    const QString& thereHeading) {
    if (c.equal())
        return QStringLiteral("<p style=\"font-size: large\"><b>") + esc(u(cmp::kEqual)) +
               QStringLiteral("</b></p>");
    QString html = QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"4\" "
                                  "style=\"border-collapse: collapse\"><tr>");
    for (const QString& h : {u("Ustawienie"), hereHeading, thereHeading})
        html += QStringLiteral("<th align=\"left\" bgcolor=\"#dfe6ee\" style=\"border: 1px solid "
                               "#9aa8b6\">%1</th>")
                    .arg(esc(h));
    html += QStringLiteral("</tr>");
    std::string group;
    for (const cmp::Row& r : c.rows) {
        if (r.group != group) {
            group = r.group;
            html += QStringLiteral("<tr><td colspan=\"3\" bgcolor=\"#f0f3f6\" style=\"border: 1px "
                                   "solid #c4cdd6\"><b>%1</b></td></tr>")
                        .arg(esc(u(group)));
        }
        QString name = esc(u(r.name));
        if (*cmp::kindWord(r.kind))
            name += QStringLiteral(" <i>(%1)</i>").arg(esc(u(cmp::kindWord(r.kind))));
        const bool text = r.kind == cmp::RowKind::Text;
        html += QStringLiteral("<tr>") + cell(name, " width=\"34%\"") +
                cell(text ? marked(r.hereSegments) : esc(u(r.here)), " width=\"33%\"") +
                cell(text ? marked(r.thereSegments) : esc(u(r.there))) + QStringLiteral("</tr>");
    }
    html +=
        QStringLiteral("</table><p>") + esc(u("Różniące się ustawienia: %1").arg(c.rows.size()));
    if (const std::string line = cmp::uncoveredLine(c.uncoveredBytes); !line.empty())
        html += QStringLiteral("<br>") + esc(u(line));
    return html + QStringLiteral("</p>");
}

} // namespace

ComparisonWindow::ComparisonWindow(EditorsContext& context, QWidget* parent)
    : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("ComparisonWindow"));
    setWindowTitle(u("DOMOWY TRELLIKON - PORÓWNANIE USTAWIEŃ"));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(14, 10, 14, 12);
    top->setSpacing(10);
    titleLabel = addTitleLabel(this, u("Porównanie ustawień"));

    auto* sources = new QHBoxLayout;
    auto* with = new QLabel(u("Ustawienia w programie porównaj z:"), this);
    FileButton = pushButton("FileButton", u("Szablonem z dysku…"), this);
    DeviceButton = pushButton("DeviceButton", u("Ustawieniami urządzenia"), this);
    FileButton->setAccessibleName(u("Porównaj z szablonem z dysku"));
    DeviceButton->setAccessibleName(u("Porównaj z ustawieniami urządzenia"));
    sources->addWidget(with);
    sources->addWidget(FileButton);
    sources->addWidget(DeviceButton);
    sources->addStretch(1);
    top->addLayout(sources);

    SourceLabel = new QLabel(this);
    SourceLabel->setObjectName(QStringLiteral("SourceLabel"));
    // The origin may name a file or an installation: the user's own text.
    SourceLabel->setTextFormat(Qt::PlainText);
    SourceLabel->setWordWrap(true);
    top->addWidget(SourceLabel);

    Results = new QTextBrowser(this);
    nameControl(Results, "Results", u("Różnice"));
    Results->setOpenLinks(false);
    const int line = fontMetrics().lineSpacing();
    Results->setMinimumSize(fontMetrics().horizontalAdvance(QString(110, QLatin1Char('a'))),
                            line * 26);
    top->addWidget(Results, 1);

    auto* commands = new QHBoxLayout;
    TakeButton = pushButton("TakeButton", u("Przejmij do programu"), this);
    TakeButton->setToolTip(u("Ustawienia drugiej strony zastępują ustawienia w programie, tak "
                             "jak przy odczycie szablonu. Do urządzenia nic nie jest zapisywane."));
    CloseButton = pushButton("CloseButton", u("Zamknij"), this);
    for (QPushButton* b : {TakeButton, CloseButton})
        b->setMinimumWidth(b->sizeHint().width() + 24);
    commands->addStretch(1);
    commands->addWidget(TakeButton);
    commands->addWidget(CloseButton);
    top->addLayout(commands);

    connect(FileButton, &QPushButton::clicked, this, [this] { FileButtonClick(); });
    connect(DeviceButton, &QPushButton::clicked, this, [this] { DeviceButtonClick(); });
    connect(TakeButton, &QPushButton::clicked, this, [this] { TakeButtonClick(); });
    connect(CloseButton, &QPushButton::clicked, this,
            [this] { ctx.dialogs.stack->closeWindow(this); });
    closeOnEscape();
    showNothing(u(kHint));
}

void ComparisonWindow::hideEvent(QHideEvent* event) {
    // The program's settings may change before the window is opened again.
    showNothing(u(kHint));
    StackDialog::hideEvent(event);
}

void ComparisonWindow::showNothing(const QString& why) {
    other_.reset();
    comparison_.reset();
    otherOrigin_.clear();
    SourceLabel->clear();
    SourceLabel->setToolTip(QString());
    Results->setHtml(QStringLiteral("<p>") + esc(why) + QStringLiteral("</p>"));
    TakeButton->setEnabled(false);
}

void ComparisonWindow::FileButtonClick() {
    const QString path = ctx.dialogs.files->openFileName(this, QStringLiteral("sbn (*.sbn)"));
    if (path.isEmpty())
        return;
    const auto loaded = trellikon::loadTemplate(fileLayerPath(path));
    if (!loaded.ok()) {
        ctx.dialogs.messages->error(this, u("Odczyt pliku nie może być przeprowadzony"),
                                    path + QStringLiteral(": ") + u(loaded.failure.message));
        return;
    }
    const QString name = QFileInfo(path).fileName();
    compareWith(loaded.bytes, u("plik „%1”").arg(outside::line(name)), u("W szablonie"));
    SourceLabel->setToolTip(outside::toolTip(name));
}

void ComparisonWindow::DeviceButtonClick() {
    readDevice([this](std::optional<Side> device) {
        if (!device) {
            showNothing(
                u("Odczyt ustawień z urządzenia nie został zakończony – nic nie porównano."));
            return;
        }
        compareWith(device->bytes, device->origin, device->heading);
    });
}

void ComparisonWindow::readDevice(std::function<void(std::optional<Side>)> then) {
    deviceRead_ = std::move(then);
    devicePort_ = ctx.session->portName();
    ctx.session->readCopy();
}

void ComparisonWindow::deviceReadEnded(const trellikon::SettingsImage::Bytes* copy) {
    if (!deviceRead_)
        return;
    const auto then = std::exchange(deviceRead_, {});
    if (!copy) {
        then(std::nullopt);
        return;
    }
    const QString when = QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    then(Side{*copy,
              u("urządzenie na porcie %1, odczyt %2").arg(outside::line(u(devicePort_)), when),
              u("W urządzeniu")});
}

void ComparisonWindow::compareWithSaved(const trellikon::SettingsImage::Bytes& other,
                                        const QString& origin) {
    compareWith(other, origin, u("W rejestrze"));
}

void ComparisonWindow::compareWith(const trellikon::SettingsImage::Bytes& other,
                                   const QString& origin, const QString& thereHeading) {
    showComparison(trellikon::inspector::inspectProgram(*ctx.settings), u("W programie"),
                   {other, origin, thereHeading}, u("Porównanie z: ") + origin);
}

void ComparisonWindow::compareTwo(const Side& here, const Side& there) {
    showComparison(trellikon::inspector::inspect(here.bytes), here.heading, there,
                   u("Po lewej: %1\nPo prawej: %2").arg(here.origin, there.origin));
}

void ComparisonWindow::showComparison(const trellikon::inspector::Inspection& here,
                                      const QString& hereHeading, const Side& there,
                                      const QString& sourceText) {
    other_ = there.bytes;
    otherOrigin_ = there.origin;
    comparison_ = cmp::compare(here, trellikon::inspector::inspect(there.bytes));
    SourceLabel->setText(sourceText);
    Results->setHtml(resultsHtml(*comparison_, hereHeading, there.heading));
    TakeButton->setEnabled(true);
}

void ComparisonWindow::TakeButtonClick() {
    if (!other_ || !take)
        return;
    const auto bytes = *other_;
    const QString origin = otherOrigin_;
    showNothing(u(kHint));
    ctx.dialogs.stack->closeWindow(this);
    take(bytes, origin);
}
