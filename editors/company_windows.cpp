#include "company_windows.h"

#include "pg_link.h"
#include "version_text.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

namespace reg = trellikon::reg;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}
QString u(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// "3 wersje czekają", "1 wersja czeka", "5 wersji czeka".
QString waitingText(long long n, const char* one, const char* few, const char* many) {
    const int count = static_cast<int>(std::min<long long>(n, 1'000'000'000));
    const std::string said = reg::countOf(count, one, few, many);
    const bool plural =
        count % 10 >= 2 && count % 10 <= 4 && (count % 100 < 10 || count % 100 >= 20);
    return u(said) + (plural ? u(" czekają na wysłanie") : u(" czeka na wysłanie"));
}

QString syncedWhen(const std::string& utc, const QDateTime& now) {
    QDateTime t = QDateTime::fromString(u(utc), Qt::ISODateWithMs);
    if (!t.isValid())
        t = QDateTime::fromString(u(utc), Qt::ISODate);
    if (!t.isValid())
        return u(reg::shortTime(utc));
    t.setTimeSpec(Qt::UTC);
    t = t.toLocalTime();
    return t.date() == now.date() ? t.toString(QStringLiteral("HH:mm"))
                                  : t.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    return l;
}

} // namespace

QString companyStateText(const reg::CompanyState& state, const CompanyOutcome& outcome,
                         const QDateTime& now) {
    if (!state.joined)
        return u("Rejestr tylko na tym komputerze");
    switch (outcome.kind) {
    case CompanyOutcome::Running:
        return u("Rejestr firmy: synchronizacja…");
    case CompanyOutcome::Refused:
        return u("Rejestr firmy: ") + u(outcome.message);
    case CompanyOutcome::Unreachable: {
        QString waiting = state.waitingVersions > 0
                              ? waitingText(state.waitingVersions, "wersja", "wersje", "wersji")
                          : state.waitingChanges > 0
                              ? waitingText(state.waitingChanges, "zmiana", "zmiany", "zmian")
                              : u("nic nie czeka na wysłanie");
        return u("Bez połączenia z serwerem: ") + waiting;
    }
    case CompanyOutcome::None:
    case CompanyOutcome::Done:
        break;
    }
    if (state.syncedUtc.empty())
        return u("Rejestr firmy: jeszcze nie zsynchronizowano");
    return u("Rejestr firmy: zsynchronizowano ") + syncedWhen(state.syncedUtc, now);
}

std::string companyUri(const QString& host, int port, const QString& database, const QString& login,
                       const QString& caFile) {
    auto part = [](const QString& s) { return QUrl::toPercentEncoding(s.trimmed()).toStdString(); };
    return "postgresql://" + part(login) + "@" + part(host) + ":" + std::to_string(port) + "/" +
           part(database) + "?sslrootcert=" + part(caFile);
}

// --- joining ---

CompanyConnectDialog::CompanyConnectDialog(DialogContext& context, reg::Register& store,
                                           QWidget* parent)
    : StackDialog(parent), ctx(context), store_(store) {
    setObjectName(QStringLiteral("CompanyConnectDialog"));
    setWindowTitle(u("DOMOWY TRELLIKON - REJESTR FIRMY"));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(16, 12, 16, 12);
    addTitleLabel(this, u("Połączenie z rejestrem firmy"));
    auto* form = new QFormLayout;
    const int wide = fontMetrics().horizontalAdvance(QString(46, QLatin1Char('a')));
    HostEdit = new QLineEdit(this);
    nameControl(HostEdit, "HostEdit", u("Serwer"));
    HostEdit->setPlaceholderText(u("np. rejestr.firma.pl"));
    HostEdit->setMinimumWidth(wide);
    PortEdit = new QLineEdit(QStringLiteral("5432"), this);
    nameControl(PortEdit, "PortEdit", u("Port"));
    PortEdit->setValidator(new QIntValidator(1, 65535, PortEdit));
    PortEdit->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000000")));
    DatabaseEdit = new QLineEdit(this);
    nameControl(DatabaseEdit, "DatabaseEdit", u("Baza danych"));
    DatabaseEdit->setPlaceholderText(u("np. firma"));
    LoginEdit = new QLineEdit(this);
    nameControl(LoginEdit, "LoginEdit", u("Login"));
    auto* caRow = new QHBoxLayout;
    CaEdit = new QLineEdit(this);
    nameControl(CaEdit, "CaEdit", u("Certyfikat CA firmy"));
    CaButton = pushButton("CaButton", u("Wybierz…"), this);
    CaButton->setAccessibleName(u("Wybierz plik certyfikatu CA"));
    caRow->addWidget(CaEdit, 1);
    caRow->addWidget(CaButton);
    form->addRow(u("Serwer:"), HostEdit);
    form->addRow(u("Port:"), PortEdit);
    form->addRow(u("Baza danych:"), DatabaseEdit);
    form->addRow(u("Login:"), LoginEdit);
    form->addRow(u("Certyfikat CA firmy:"), caRow);
    top->addLayout(form);
    NoteLabel = plainLabel(
        u("Hasło program bierze z pliku haseł biblioteki libpq (~/.pgpass, prawa 0600; na Windows "
          "%APPDATA%\\postgresql\\pgpass.conf), nigdy z rejestru ani z ustawień. Połączenie "
          "zawsze idzie przez TLS ze sprawdzeniem certyfikatu i nazwy serwera."),
        this);
    NoteLabel->setObjectName(QStringLiteral("NoteLabel"));
    top->addWidget(NoteLabel);
    ErrorLabel = plainLabel({}, this);
    ErrorLabel->setObjectName(QStringLiteral("ErrorLabel"));
    ErrorLabel->setStyleSheet(QStringLiteral("color: #b00000"));
    ErrorLabel->hide();
    top->addWidget(ErrorLabel);
    auto* buttons = new QHBoxLayout;
    ConnectButton = pushButton("ConnectButton", u("Połącz"), this);
    DisconnectButton = pushButton("DisconnectButton", u("Rozłącz"), this);
    DisconnectButton->setAccessibleName(u("Rozłącz z rejestrem firmy"));
    CancelButton = pushButton("CancelButton", u("Anuluj"), this);
    buttons->addWidget(DisconnectButton);
    buttons->addStretch(1);
    buttons->addWidget(ConnectButton);
    buttons->addWidget(CancelButton);
    top->addLayout(buttons);
    ConnectButton->setDefault(true);

    // Joined already: the address as it stands, and the way out.
    const std::string joined = store_.company() ? reg::companyAddress() : std::string();
    DisconnectButton->setVisible(!joined.empty());
    if (!joined.empty()) {
        const QUrl url(u(joined));
        HostEdit->setText(url.host());
        PortEdit->setText(QString::number(url.port(5432)));
        DatabaseEdit->setText(url.path().mid(1));
        LoginEdit->setText(url.userName());
        const QString query = url.query(QUrl::FullyDecoded);
        for (const QString& pair : query.split(QLatin1Char('&')))
            if (pair.startsWith(QLatin1String("sslrootcert=")))
                CaEdit->setText(pair.mid(12));
    }
    connect(CaButton, &QPushButton::clicked, this, [this] {
        const QString file =
            ctx.files->openFileName(this, u("Certyfikat (*.crt *.pem);;Wszystkie pliki (*)"));
        if (!file.isEmpty())
            CaEdit->setText(file);
    });
    connect(ConnectButton, &QPushButton::clicked, this, [this] {
        if (ConnectButtonClick())
            ctx.stack->closeWindow(this);
    });
    connect(DisconnectButton, &QPushButton::clicked, this, [this] { DisconnectButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { ctx.stack->closeWindow(this); });
}

bool CompanyConnectDialog::ConnectButtonClick() {
    auto refuse = [this](const QString& why) {
        ErrorLabel->setText(why);
        ErrorLabel->show();
        return false;
    };
    if (HostEdit->text().trimmed().isEmpty() || DatabaseEdit->text().trimmed().isEmpty() ||
        LoginEdit->text().trimmed().isEmpty())
        return refuse(u("Podaj serwer, bazę danych i login."));
    if (CaEdit->text().trimmed().isEmpty())
        return refuse(u("Podaj plik certyfikatu CA firmy: bez niego nie da się sprawdzić, "
                        "że to serwer firmy."));
    const std::string uri = companyUri(HostEdit->text(), PortEdit->text().toInt(),
                                       DatabaseEdit->text(), LoginEdit->text(), CaEdit->text());
    reg::PgError error;
    auto link = reg::PgLink::connect(uri, error);
    if (!link)
        return refuse(u(error.message));
    reg::PgLink::Rows info;
    if (!link->exec("SELECT role FROM trellikon.server_info()", {}, &info))
        return refuse(u(link->error().message));
    if (info.cell(0, 0).empty())
        return refuse(u("Login nie ma roli w rejestrze firmy (trellikon-cli server add-user)."));
    if (const auto joined = reg::joinCompany(store_, reg::PgLink::shownUri(uri), link->user());
        !joined.ok())
        return refuse(u(joined.failure.message));
    if (const auto kept = reg::setCompanyAddress(uri); !kept.ok())
        return refuse(u("Nie można zapamiętać adresu: ") + u(kept.message));
    changed = true;
    return true;
}

void CompanyConnectDialog::DisconnectButtonClick() {
    if (!ctx.messages->confirm(this,
                               u("Rozłączyć ten rejestr z rejestrem firmy? Zmiany, które jeszcze "
                                 "nie trafiły na serwer, zostaną tylko na tym komputerze."),
                               u("Rozłącz")))
        return;
    if (const auto left = reg::leaveCompany(store_); !left.ok()) {
        ctx.messages->error(this, u(left.failure.message));
        return;
    }
    reg::setCompanyAddress({});
    changed = true;
    ctx.stack->closeWindow(this);
}

// --- conflicts ---

namespace {

QString fieldName(const std::string& field) {
    if (field == reg::field::kName)
        return u("nazwa");
    if (field == reg::field::kNotes)
        return u("notatki");
    if (field == reg::field::kDevicePhone)
        return u("numer urządzenia");
    if (field == reg::field::kSameSite)
        return u("ta sama instalacja");
    return u(field);
}

} // namespace

ConflictsWindow::ConflictsWindow(DialogContext& context, reg::Register& store, QWidget* parent)
    : StackDialog(parent), ctx(context), store_(store) {
    setObjectName(QStringLiteral("ConflictsWindow"));
    setWindowTitle(u("DOMOWY TRELLIKON - KONFLIKTY REJESTRU FIRMY"));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(14, 10, 14, 12);
    addTitleLabel(this, u("Konflikty"));
    top->addWidget(plainLabel(
        u("Dwie zmiany tego samego pola zrobione bez wiedzy o sobie: została późniejsza, "
          "utraconą można przywrócić. Ta sama instalacja założona na dwóch komputerach: "
          "połącz obie w jedną albo zostaw osobno."),
        this));
    ConflictList = new QTreeWidget(this);
    nameControl(ConflictList, "ConflictList", u("Konflikty"));
    ConflictList->setHeaderLabels({u("Instalacja"), u("Pole"), u("Wartość zachowana"),
                                   u("Wartość utracona"), u("Kto"), u("Kiedy")});
    ConflictList->setRootIsDecorated(false);
    ConflictList->setAllColumnsShowFocus(true);
    ConflictList->setMinimumSize(fontMetrics().horizontalAdvance(QString(110, QLatin1Char('a'))),
                                 fontMetrics().lineSpacing() * 14);
    ConflictList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ConflictList->header()->setStretchLastSection(true);
    top->addWidget(ConflictList, 1);
    auto* buttons = new QHBoxLayout;
    KeepButton = pushButton("KeepButton", u("Zostaw zachowaną"), this);
    RestoreButton = pushButton("RestoreButton", u("Przywróć utraconą"), this);
    CloseButton = pushButton("CloseButton", u("Zamknij"), this);
    for (QPushButton* b : {KeepButton, RestoreButton})
        b->setMinimumWidth(fontMetrics().horizontalAdvance(u("Przywróć utraconą")) + 40);
    buttons->addWidget(KeepButton);
    buttons->addWidget(RestoreButton);
    buttons->addStretch(1);
    buttons->addWidget(CloseButton);
    top->addLayout(buttons);
    connect(ConflictList, &QTreeWidget::itemSelectionChanged, this, [this] { updateButtons(); });
    connect(KeepButton, &QPushButton::clicked, this, [this] { resolve(false); });
    connect(RestoreButton, &QPushButton::clicked, this, [this] { resolve(true); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { ctx.stack->closeWindow(this); });
    refresh();
}

void ConflictsWindow::refresh() {
    ConflictList->clear();
    const auto all = reg::companyConflicts(store_);
    if (!all.ok())
        ctx.messages->error(this, u(all.failure.message));
    for (const reg::Conflict& k : all.value) {
        auto* item = new QTreeWidgetItem(ConflictList);
        // Notes of several lines on one line of the list; whole in the tooltip.
        const auto cell = [item](int column, const std::string& text) {
            QString shown = u(text);
            item->setText(column, QString(shown).replace(QLatin1Char('\n'), QLatin1Char(' ')));
            if (shown.contains(QLatin1Char('\n')))
                item->setToolTip(column, QStringLiteral("<p style=\"white-space:pre-wrap\">") +
                                             shown.toHtmlEscaped() + QStringLiteral("</p>"));
        };
        item->setText(0, u(k.name));
        item->setText(1, fieldName(k.field));
        cell(2, k.kept);
        cell(3, k.lost);
        item->setText(4, u(k.lostWho));
        item->setText(5, k.lostAtUtc.empty()
                             ? QString()
                             : syncedWhen(k.lostAtUtc, QDateTime::currentDateTime()));
        item->setData(0, Qt::UserRole, QVariant::fromValue<qlonglong>(k.id));
        item->setData(1, Qt::UserRole, k.field == reg::field::kSameSite);
    }
    if (ConflictList->topLevelItemCount() > 0)
        ConflictList->setCurrentItem(ConflictList->topLevelItem(0));
    updateButtons();
}

void ConflictsWindow::updateButtons() {
    const QTreeWidgetItem* item = ConflictList->currentItem();
    const bool sameSite = item && item->data(1, Qt::UserRole).toBool();
    KeepButton->setEnabled(item);
    RestoreButton->setEnabled(item);
    KeepButton->setText(sameSite ? u("Połącz w jedną") : u("Zostaw zachowaną"));
    RestoreButton->setText(sameSite ? u("Zostaw osobno") : u("Przywróć utraconą"));
}

void ConflictsWindow::resolve(bool keepLost) {
    const QTreeWidgetItem* item = ConflictList->currentItem();
    if (!item)
        return;
    const reg::Id id = item->data(0, Qt::UserRole).toLongLong();
    if (const auto done = reg::resolveConflict(store_, id, keepLost); !done.ok())
        ctx.messages->error(this, u(done.failure.message));
    refresh();
}

// --- synchronising in the background ---

CompanySync::CompanySync(QObject* parent) : QObject(parent) {}

CompanySync::~CompanySync() {
    if (worker_.joinable())
        worker_.join();
}

void CompanySync::request(const std::string& file) {
    file_ = file;
    if (running_) {
        again_ = true;
        return;
    }
    start();
}

void CompanySync::start() {
    if (worker_.joinable())
        worker_.join();
    running_ = true;
    again_ = false;
    outcome_ = {CompanyOutcome::Running, {}};
    if (changed)
        changed();
    worker_ = std::thread([this, file = file_] {
        CompanyOutcome result{CompanyOutcome::Done, {}};
        reg::OpenOptions options;
        options.dailyCopy = false;
        auto opened = reg::openRegister(file, options);
        const std::string uri = reg::companyAddress();
        if (!opened.ok() || !opened.value->company() || uri.empty()) {
            result = {CompanyOutcome::Refused, opened.ok()
                                                   ? "rejestr nie jest połączony z rejestrem firmy"
                                                   : opened.failure.message};
        } else {
            reg::PgError error;
            auto link = reg::PgLink::connect(uri, error);
            if (link) {
                const reg::SyncReport report = reg::synchronise(*opened.value, *link);
                error = report.error;
            }
            if (error.kind == reg::PgError::Unreachable)
                result = {CompanyOutcome::Unreachable, error.message};
            else if (!error.ok())
                result = {CompanyOutcome::Refused, error.message};
        }
        QMetaObject::invokeMethod(
            this, [this, result] { finished(result); }, Qt::QueuedConnection);
    });
}

void CompanySync::finished(CompanyOutcome outcome) {
    running_ = false;
    outcome_ = std::move(outcome);
    if (changed)
        changed();
    if (again_)
        start();
}
