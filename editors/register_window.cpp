#include "register_window.h"

#include "files.h"
#include "outside_text.h"
#include "pg_link.h"
#include "register_file.h"
#include "settings_comparison_window.h"
#include "settings_sheet.h"
#include "template_view.h"
#include "version_text.h"

#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

namespace reg = trellikon::reg;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}
QString u(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

constexpr int kIdRole = Qt::UserRole;
constexpr reg::Id kUnassignedRow = -1;

const char* const kSaved = "Operacja zapisu do pliku przeprowadzona pomyślnie";
const char* const kSaveFailed = "Operacja zapisu nie powiodła się";

// A stored time in the computer's own time; a malformed one as it is, made safe.
QString localTime(const std::string& timeUtc) {
    QDateTime t = QDateTime::fromString(u(timeUtc), Qt::ISODateWithMs);
    if (!reg::wellFormedTime(timeUtc) || !t.isValid())
        return u(reg::shortTime(timeUtc));
    t.setTimeSpec(Qt::UTC);
    return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// A tooltip is rich text when it looks like it; the user's text never is.
QString tip(const QString& text) {
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

QString withSuffix(QString path, const char* suffix) {
    if (!path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive))
        path += QLatin1String(suffix);
    return path;
}

QTreeWidget* list(const char* name, const QString& accessible, const QStringList& headings,
                  QWidget* parent) {
    auto* tree = new QTreeWidget(parent);
    nameControl(tree, name, accessible);
    tree->setHeaderLabels(headings);
    tree->setRootIsDecorated(false);
    tree->setUniformRowHeights(true);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setAllColumnsShowFocus(true);
    return tree;
}

} // namespace

RegisterWindow::RegisterWindow(DialogContext& context, QWidget* parent)
    : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("RegisterWindow"));
    setWindowTitle(u("DOMOWY TRELLIKON - REJESTR INSTALACJI"));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(14, 10, 14, 12);
    top->setSpacing(8);
    titleLabel = addTitleLabel(this, u("Rejestr instalacji"));

    auto* searchRow = new QHBoxLayout;
    auto* searchLabel = new QLabel(u("Szukaj:"), this);
    SearchEdit = new QLineEdit(this);
    nameControl(SearchEdit, "SearchEdit", u("Szukaj"));
    SearchEdit->setPlaceholderText(u("nazwa, notatka albo numer telefonu z ustawień"));
    searchLabel->setBuddy(SearchEdit);
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(SearchEdit, 1);
    top->addLayout(searchRow);

    const QFontMetrics fm = fontMetrics();
    const int line = fm.lineSpacing();
    auto* columns = new QHBoxLayout;
    columns->setSpacing(14);

    auto* left = new QVBoxLayout;
    InstallationList = list("InstallationList", u("Instalacje"),
                            {u("Instalacja"), u("Wersje"), u("Ostatnia wizyta")}, this);
    InstallationList->setMinimumSize(fm.horizontalAdvance(QString(58, QLatin1Char('a'))),
                                     line * 22);
    InstallationList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    InstallationList->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    InstallationList->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    InstallationList->header()->setStretchLastSection(false);
    left->addWidget(InstallationList, 1);
    auto* installationCommands = new QHBoxLayout;
    NewButton = pushButton("NewButton", u("Nowa…"), this);
    NewButton->setAccessibleName(u("Nowa instalacja"));
    EditButton = pushButton("EditButton", u("Zmień…"), this);
    EditButton->setAccessibleName(u("Zmień nazwę, notatkę i numer urządzenia"));
    DeleteButton = pushButton("DeleteButton", u("Usuń…"), this);
    DeleteButton->setAccessibleName(u("Usuń instalację"));
    for (QPushButton* b : {NewButton, EditButton, DeleteButton})
        installationCommands->addWidget(b);
    installationCommands->addStretch(1);
    left->addLayout(installationCommands);
    columns->addLayout(left, 5);

    auto* right = new QVBoxLayout;
    VersionsLabel = new QLabel(this);
    VersionsLabel->setObjectName(QStringLiteral("VersionsLabel"));
    VersionsLabel->setTextFormat(Qt::PlainText);
    VersionsLabel->setWordWrap(true);
    right->addWidget(VersionsLabel);
    VersionList = list("VersionList", u("Wersje instalacji"),
                       {u("Czas"), u("Rodzaj"), u("Podsumowanie"), u("Port")}, this);
    VersionList->setMinimumWidth(fm.horizontalAdvance(QString(72, QLatin1Char('a'))));
    VersionList->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    VersionList->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    VersionList->header()->setSectionResizeMode(2, QHeaderView::Stretch);
    VersionList->header()->setSectionResizeMode(3, QHeaderView::ResizeToContents);
    VersionList->header()->setStretchLastSection(false);
    right->addWidget(VersionList, 1);
    VersionList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    VersionList->setToolTip(u("Dwie wersje do porównania: zaznacz drugą z klawiszem Ctrl."));
    auto* versionCommands = new QGridLayout;
    OpenButton = pushButton("OpenButton", u("Otwórz w edytorach"), this);
    CompareButton = pushButton("CompareButton", u("Porównaj z programem"), this);
    CompareDeviceButton = pushButton("CompareDeviceButton", u("Porównaj z urządzeniem"), this);
    CompareVersionsButton =
        pushButton("CompareVersionsButton", u("Porównaj dwie zaznaczone"), this);
    SheetButton = pushButton("SheetButton", u("Karta ustawień (PDF)…"), this);
    SaveButton = pushButton("SaveButton", u("Zapisz jako .sbn…"), this);
    WriteButton = pushButton("WriteButton", u("Zapisz do urządzenia"), this);
    AssignButton = pushButton("AssignButton", u("Przypisz do instalacji…"), this);
    OpenButton->setToolTip(u("Ustawienia wersji zastępują ustawienia w programie, tak jak przy "
                             "odczycie szablonu."));
    CompareDeviceButton->setToolTip(u("Ustawienia urządzenia są odczytywane do kopii; "
                                      "ustawienia w programie pozostają bez zmian."));
    CompareVersionsButton->setAccessibleName(u("Porównaj dwie zaznaczone wersje"));
    CompareVersionsButton->setToolTip(u("Zaznacz dwie wersje: drugą z klawiszem Ctrl."));
    WriteButton->setToolTip(u("Przywraca wersję w urządzeniu; najpierw obecne ustawienia "
                              "urządzenia trafiają do rejestru jako kopia zapasowa."));
    AssignButton->setAccessibleName(u("Przypisz odczyt do instalacji"));
    AssignButton->setToolTip(u("Odczyt nieprzypisany do żadnej instalacji trafia do wybranej "
                               "albo nowej instalacji."));
    versionCommands->addWidget(OpenButton, 0, 0);
    versionCommands->addWidget(SheetButton, 0, 1);
    versionCommands->addWidget(SaveButton, 0, 2);
    versionCommands->addWidget(CompareButton, 1, 0);
    versionCommands->addWidget(CompareDeviceButton, 1, 1);
    versionCommands->addWidget(CompareVersionsButton, 1, 2);
    versionCommands->addWidget(WriteButton, 2, 0);
    versionCommands->addWidget(AssignButton, 2, 1);
    right->addLayout(versionCommands);
    columns->addLayout(right, 6);
    top->addLayout(columns, 1);

    auto* company = new QHBoxLayout;
    CompanyLabel = new QLabel(this);
    CompanyLabel->setObjectName(QStringLiteral("CompanyLabel"));
    CompanyLabel->setTextFormat(Qt::PlainText);
    CompanyLabel->setWordWrap(true);
    CompanyButton = pushButton("CompanyButton", u("Połącz z rejestrem firmy…"), this);
    SyncButton = pushButton("SyncButton", u("Synchronizuj"), this);
    SyncButton->setAccessibleName(u("Synchronizuj z rejestrem firmy"));
    ConflictsButton = pushButton("ConflictsButton", u("Konflikty"), this);
    company->addWidget(CompanyLabel, 1);
    for (QPushButton* b : {CompanyButton, SyncButton, ConflictsButton})
        company->addWidget(b);
    top->addLayout(company);

    auto* bottom = new QHBoxLayout;
    ExportButton = pushButton("ExportButton", u("Eksportuj instalację…"), this);
    ExportAllButton = pushButton("ExportAllButton", u("Eksportuj cały rejestr…"), this);
    ImportButton = pushButton("ImportButton", u("Importuj…"), this);
    ImportButton->setAccessibleName(u("Importuj z pliku"));
    CloseButton = pushButton("CloseButton", u("Zamknij"), this);
    for (QPushButton* b : {ExportButton, ExportAllButton, ImportButton})
        bottom->addWidget(b);
    bottom->addStretch(1);
    bottom->addWidget(CloseButton);
    top->addLayout(bottom);
    for (QPushButton* b :
         {NewButton, EditButton, DeleteButton, OpenButton, CompareButton, CompareDeviceButton,
          CompareVersionsButton, SheetButton, SaveButton, WriteButton, AssignButton, ExportButton,
          ExportAllButton, ImportButton, CloseButton, CompanyButton, SyncButton})
        b->setMinimumWidth(b->sizeHint().width() + 16);
    // Room for the count the button shows: "Konflikty (12)".
    ConflictsButton->setMinimumWidth(
        ConflictsButton->fontMetrics().horizontalAdvance(u("Konflikty (999)")) + 32);

    // A large register answers a search in a noticeable time: one search per
    // pause in the typing, not one per key.
    searchTimer_ = new QTimer(this);
    searchTimer_->setSingleShot(true);
    searchTimer_->setInterval(150);
    connect(searchTimer_, &QTimer::timeout, this, [this] { refresh(); });
    connect(SearchEdit, &QLineEdit::textChanged, this, [this] { SearchEditChange(); });
    connect(InstallationList, &QTreeWidget::itemSelectionChanged, this, [this] { showVersions(); });
    connect(VersionList, &QTreeWidget::itemSelectionChanged, this, [this] { updateButtons(); });
    connect(NewButton, &QPushButton::clicked, this, [this] { NewButtonClick(); });
    connect(EditButton, &QPushButton::clicked, this, [this] { EditButtonClick(); });
    connect(DeleteButton, &QPushButton::clicked, this, [this] { DeleteButtonClick(); });
    connect(OpenButton, &QPushButton::clicked, this, [this] { OpenButtonClick(); });
    connect(CompareButton, &QPushButton::clicked, this, [this] { CompareButtonClick(); });
    connect(CompareDeviceButton, &QPushButton::clicked, this,
            [this] { CompareDeviceButtonClick(); });
    connect(CompareVersionsButton, &QPushButton::clicked, this,
            [this] { CompareVersionsButtonClick(); });
    connect(AssignButton, &QPushButton::clicked, this, [this] { AssignButtonClick(); });
    connect(SheetButton, &QPushButton::clicked, this, [this] { SheetButtonClick(); });
    connect(SaveButton, &QPushButton::clicked, this, [this] { SaveButtonClick(); });
    connect(WriteButton, &QPushButton::clicked, this, [this] { WriteButtonClick(); });
    connect(ExportButton, &QPushButton::clicked, this, [this] { ExportButtonClick(false); });
    connect(ExportAllButton, &QPushButton::clicked, this, [this] { ExportButtonClick(true); });
    connect(ImportButton, &QPushButton::clicked, this, [this] { ImportButtonClick(); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { ctx.stack->closeWindow(this); });
    connect(CompanyButton, &QPushButton::clicked, this, [this] { CompanyButtonClick(); });
    connect(SyncButton, &QPushButton::clicked, this, [this] {
        if (synchronise)
            synchronise();
    });
    connect(ConflictsButton, &QPushButton::clicked, this, [this] { ConflictsButtonClick(); });
    closeOnEscape();
    updateButtons();
}

void RegisterWindow::FormActivate() {
    refresh();
}

void RegisterWindow::showCompany() {
    reg::CompanyState state;
    if (store_) {
        const auto read = reg::companyState(*store_);
        if (read.ok())
            state = read.value;
    }
    const CompanyOutcome outcome = companyOutcome ? companyOutcome() : CompanyOutcome{};
    CompanyLabel->setText(companyStateText(state, outcome));
    const bool joined = state.joined;
    const bool writable = store_ && store_->writable();
    CompanyButton->setEnabled(writable && trellikon::reg::PgLink::available());
    CompanyButton->setText(joined ? u("Rejestr firmy…") : u("Połącz z rejestrem firmy…"));
    SyncButton->setEnabled(joined && writable && outcome.kind != CompanyOutcome::Running);
    std::size_t conflicts = 0;
    if (joined)
        conflicts = reg::companyConflicts(*store_).value.size();
    ConflictsButton->setEnabled(joined && conflicts > 0);
    ConflictsButton->setText(conflicts > 0 ? u("Konflikty (%1)").arg(conflicts) : u("Konflikty"));
}

void RegisterWindow::CompanyButtonClick() {
    if (!store_)
        return;
    CompanyConnectDialog dialog(ctx, *store_, this);
    ctx.stack->showModal(&dialog);
    if (dialog.changed && store_->company() && synchronise)
        synchronise(); // the first sync of a laptop that joined
    showCompany();
}

void RegisterWindow::ConflictsButtonClick() {
    if (!store_)
        return;
    ConflictsWindow window(ctx, *store_, this);
    ctx.stack->showModal(&window);
    refresh();
}

bool RegisterWindow::failed(const std::string& error) {
    if (error.empty())
        return false;
    ctx.messages->error(this, u("Rejestr instalacji: ") + u(error));
    return true;
}

reg::Id RegisterWindow::chosenInstallation() const {
    QTreeWidgetItem* item = InstallationList->currentItem();
    if (!item || !item->isSelected())
        return 0;
    if (item->parent())
        item = item->parent();
    return item->data(0, kIdRole).toLongLong();
}

void RegisterWindow::refresh() {
    searchTimer_->stop();
    showCompany();
    if (!store_)
        return;
    const reg::Id was = chosenInstallation();
    const QString search = SearchEdit->text().trimmed();
    const auto found = store_->installations(search.toStdString());
    InstallationList->clear();
    if (failed(found.failure.message))
        return;
    QTreeWidgetItem* keep = nullptr;
    for (const reg::Found& f : found.value) {
        const reg::Installation& i = f.installation;
        auto* item = new QTreeWidgetItem(InstallationList);
        item->setText(0, u(i.name));
        item->setText(1, QString::number(i.versions));
        item->setText(2, i.lastVisitUtc.empty() ? QStringLiteral("–") : localTime(i.lastVisitUtc));
        item->setData(0, kIdRole, QVariant::fromValue<qlonglong>(i.id));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        QString about = u(i.name);
        if (!i.devicePhone.empty())
            about += u("\nnumer urządzenia: ") + u(i.devicePhone);
        if (!i.notes.empty())
            about += QStringLiteral("\n\n") + u(i.notes);
        item->setToolTip(0, tip(about));
        for (const std::string& m : f.matches) {
            auto* match = new QTreeWidgetItem(item);
            match->setText(0, u(m));
            match->setFirstColumnSpanned(true);
            match->setFlags(Qt::ItemIsEnabled);
        }
        item->setExpanded(true);
        if (i.id == was)
            keep = item;
    }
    // The reads no installation has been given yet, at the end.
    if (search.isEmpty()) {
        reg::HistoryFilter unassigned;
        unassigned.which = reg::HistoryFilter::Unassigned;
        unassigned.limit = 1;
        const auto any = store_->history(unassigned);
        if (any.ok() && !any.value.empty()) {
            auto* item = new QTreeWidgetItem(InstallationList);
            item->setText(0, u("(") + u(reg::kUnassigned) + u(")"));
            item->setData(0, kIdRole, QVariant::fromValue<qlonglong>(kUnassignedRow));
            item->setText(2, localTime(any.value.front().timeUtc));
            if (was == kUnassignedRow)
                keep = item;
        }
    }
    if (!keep && InstallationList->topLevelItemCount() > 0)
        keep = InstallationList->topLevelItem(0);
    if (keep)
        InstallationList->setCurrentItem(keep);
    showVersions();
}

void RegisterWindow::SearchEditChange() {
    searchTimer_->start();
}

bool RegisterWindow::searchPending() const {
    return searchTimer_->isActive();
}

void RegisterWindow::showVersions() {
    VersionList->clear();
    const reg::Id id = chosenInstallation();
    if (!store_ || id == 0) {
        const QString search = SearchEdit->text().trimmed();
        VersionsLabel->setText(
            InstallationList->topLevelItemCount() == 0 && !search.isEmpty()
                ? u("Żadna instalacja nie pasuje do „%1”.").arg(outside::line(search))
                : u("Wybierz instalację, aby zobaczyć jej wersje."));
        updateButtons();
        return;
    }
    reg::HistoryFilter filter;
    filter.which =
        id == kUnassignedRow ? reg::HistoryFilter::Unassigned : reg::HistoryFilter::OfInstallation;
    filter.installationId = id == kUnassignedRow ? 0 : id;
    const auto versions = store_->history(filter);
    if (failed(versions.failure.message))
        return;
    QTreeWidgetItem* chosen = InstallationList->currentItem();
    if (chosen && chosen->parent())
        chosen = chosen->parent();
    VersionsLabel->setText(
        u("Wersje: %1 (od najnowszej)").arg(chosen ? outside::line(chosen->text(0)) : QString()));
    for (const reg::VersionInfo& v : versions.value) {
        auto* item = new QTreeWidgetItem(VersionList);
        item->setText(0, localTime(v.timeUtc));
        item->setText(1, u(v.kind));
        item->setText(2, u(v.summary));
        item->setText(3, u(v.port));
        item->setData(0, kIdRole, QVariant::fromValue<qlonglong>(v.id));
        item->setToolTip(2, tip(u(v.summary)));
    }
    if (VersionList->topLevelItemCount() > 0)
        VersionList->setCurrentItem(VersionList->topLevelItem(0));
    updateButtons();
}

void RegisterWindow::updateButtons() {
    const reg::Id id = chosenInstallation();
    const bool installation = id > 0;
    const bool writable = store_ && store_->writable();
    EditButton->setEnabled(installation && writable);
    DeleteButton->setEnabled(installation && writable);
    NewButton->setEnabled(writable);
    ImportButton->setEnabled(writable);
    ExportButton->setEnabled(installation);
    const qsizetype chosen = chosenVersionItems().size();
    for (QPushButton* b :
         {OpenButton, CompareButton, CompareDeviceButton, SheetButton, SaveButton, WriteButton})
        b->setEnabled(chosen == 1);
    CompareVersionsButton->setEnabled(chosen == 2 && comparison);
    CompareDeviceButton->setEnabled(chosen == 1 && comparison);
    AssignButton->setEnabled(chosen == 1 && id == kUnassignedRow && writable);
}

QList<QTreeWidgetItem*> RegisterWindow::chosenVersionItems() const {
    QList<QTreeWidgetItem*> chosen;
    for (int i = 0; i < VersionList->topLevelItemCount(); ++i)
        if (VersionList->topLevelItem(i)->isSelected())
            chosen << VersionList->topLevelItem(i);
    return chosen;
}

std::optional<reg::Version> RegisterWindow::versionOf(const QTreeWidgetItem* item) {
    if (!store_ || !item)
        return std::nullopt;
    const auto v = store_->version(item->data(0, kIdRole).toLongLong());
    if (failed(v.failure.message))
        return std::nullopt;
    if (!v.value)
        ctx.messages->error(this, u("Rejestr instalacji: tej wersji już nie ma w rejestrze."));
    return v.value;
}

std::optional<reg::Version> RegisterWindow::chosenVersion() {
    const QList<QTreeWidgetItem*> chosen = chosenVersionItems();
    if (chosen.size() != 1)
        return std::nullopt;
    return versionOf(chosen.front());
}

QString RegisterWindow::versionOrigin(const reg::VersionInfo& v) const {
    return u("rejestr: %1, %2 %3")
        .arg(outside::line(u(v.installationName)), u(v.kind), localTime(v.timeUtc));
}

void RegisterWindow::NewButtonClick() {
    if (!store_)
        return;
    if (editInstallation(ctx, *store_, this, nullptr) != 0) {
        SearchEdit->clear();
        refresh();
    }
}

void RegisterWindow::EditButtonClick() {
    const reg::Id id = chosenInstallation();
    if (!store_ || id <= 0)
        return;
    const auto all = store_->installations({});
    if (failed(all.failure.message))
        return;
    for (const reg::Found& f : all.value)
        if (f.installation.id == id) {
            if (editInstallation(ctx, *store_, this, &f.installation) != 0)
                refresh();
            return;
        }
}

void RegisterWindow::DeleteButtonClick() {
    const reg::Id id = chosenInstallation();
    QTreeWidgetItem* item = InstallationList->currentItem();
    if (!store_ || id <= 0 || !item)
        return;
    if (item->parent())
        item = item->parent();
    const QString question =
        u("Usunąć instalację „%1” z rejestru?\n\nWszystkie jej wersje (%2) zostaną usunięte z "
          "pliku rejestru na zawsze; nie można tego cofnąć.")
            .arg(outside::line(item->text(0)), item->text(1));
    if (!ctx.messages->confirm(this, question, u("Usuń na zawsze")))
        return;
    if (failed(store_->deleteInstallation(id).failure.message))
        return;
    refresh();
}

void RegisterWindow::OpenButtonClick() {
    const auto v = chosenVersion();
    if (!v || !open)
        return;
    const QString origin = versionOrigin(v->info);
    ctx.stack->closeWindow(this);
    open(v->bytes, origin);
}

void RegisterWindow::CompareButtonClick() {
    const auto v = chosenVersion();
    if (v && compare)
        compare(v->bytes, versionOrigin(v->info));
}

namespace {

// A version as one side of a comparison: its heading says which it is.
ComparisonWindow::Side side(const reg::Version& v, const QString& origin) {
    return {v.bytes, origin, u("%1 %2").arg(u(v.info.kind), localTime(v.info.timeUtc))};
}

} // namespace

void RegisterWindow::CompareVersionsButtonClick() {
    const QList<QTreeWidgetItem*> chosen = chosenVersionItems();
    if (chosen.size() != 2 || !comparison)
        return;
    // The older on the left: the comparison reads as what changed since.
    const auto newer = versionOf(chosen.at(0));
    const auto older = newer ? versionOf(chosen.at(1)) : std::nullopt;
    if (!older)
        return;
    comparison->compareTwo(side(*older, versionOrigin(older->info)),
                           side(*newer, versionOrigin(newer->info)));
    ctx.stack->showModal(comparison);
}

void RegisterWindow::CompareDeviceButtonClick() {
    const auto v = chosenVersion();
    if (!v || !comparison)
        return;
    comparison->readDevice([this, here = side(*v, versionOrigin(v->info))](
                               std::optional<ComparisonWindow::Side> device) {
        if (!device)
            return;
        comparison->compareTwo(here, *device);
        ctx.stack->showModal(comparison);
    });
}

void RegisterWindow::AssignButtonClick() {
    const auto v = chosenVersion();
    if (!v || !store_ || v->info.installationId != 0)
        return;
    const auto proposals = store_->propose(v->bytes);
    if (failed(proposals.failure.message))
        return;
    AssignDialog ask(ctx, *store_,
                     proposals.value.empty() ? reg::Proposal{} : proposals.value.front(), this);
    ctx.stack->showModal(&ask);
    if (ask.chosen == 0)
        return;
    if (failed(store_->assign(v->info.id, ask.chosen).failure.message))
        return;
    // The installation it went to, with the read among its versions.
    SearchEdit->clear();
    refresh();
    for (int i = 0; i < InstallationList->topLevelItemCount(); ++i)
        if (InstallationList->topLevelItem(i)->data(0, kIdRole).toLongLong() == ask.chosen)
            InstallationList->setCurrentItem(InstallationList->topLevelItem(i));
}

void RegisterWindow::SheetButtonClick() {
    const auto v = chosenVersion();
    if (!v)
        return;
    QString path = ctx.files->saveFileName(this, QStringLiteral("pdf (*.pdf)"));
    if (path.isEmpty())
        return;
    path = withSuffix(path, ".pdf");
    trellikon::sheet::SheetOrigin origin;
    origin.source = versionOrigin(v->info);
    origin.made = QDateTime::currentDateTime();
    const std::string failure = trellikon::sheet::writeSheet(
        fileLayerPath(path), trellikon::inspector::inspect(v->bytes), origin);
    if (failure.empty())
        ctx.messages->plain(this, u(kSaved));
    else
        ctx.messages->error(this, u(kSaveFailed), path + QStringLiteral(": ") + u(failure));
}

void RegisterWindow::SaveButtonClick() {
    const auto v = chosenVersion();
    if (!v)
        return;
    QString path = ctx.files->saveFileName(this, QStringLiteral("sbn (*.sbn)"));
    if (path.isEmpty())
        return;
    path = withSuffix(path, ".sbn");
    const trellikon::Failure failure = trellikon::saveFileAtomically(
        fileLayerPath(path), v->bytes.data(), v->bytes.size(), trellikon::FileAccess::Private);
    if (!failure)
        ctx.messages->plain(this, u(kSaved));
    else
        ctx.messages->error(this, u(kSaveFailed), path + QStringLiteral(": ") + u(failure.message));
}

void RegisterWindow::WriteButtonClick() {
    const auto v = chosenVersion();
    if (!v || !write)
        return;
    write(*v, versionOrigin(v->info));
    refresh();
}

void RegisterWindow::ExportButtonClick(bool all) {
    if (!store_)
        return;
    const reg::Id id = all ? 0 : chosenInstallation();
    if (!all && id <= 0)
        return;
    QString path = ctx.files->saveFileName(this, u("rejestr (*.rejestr)"));
    if (path.isEmpty())
        return;
    path = withSuffix(path, ".rejestr");
    const auto exported = store_->exportData(id);
    if (failed(exported.failure.message))
        return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(exported.value.data());
    const trellikon::Failure failure = trellikon::saveFileAtomically(
        fileLayerPath(path), bytes, exported.value.size(), trellikon::FileAccess::Private);
    if (!failure)
        ctx.messages->plain(this, u("Wyeksportowano do pliku „%1”.").arg(outside::line(path)));
    else
        ctx.messages->error(this, u(kSaveFailed), path + QStringLiteral(": ") + u(failure.message));
}

void RegisterWindow::ImportButtonClick() {
    if (!store_)
        return;
    const QString path = ctx.files->openFileName(this, u("rejestr (*.rejestr)"));
    if (path.isEmpty())
        return;
    // Read as it goes, never held whole: the size and the header first.
    reg::ExportFile file;
    if (const trellikon::Failure f = file.open(fileLayerPath(path))) {
        ctx.messages->error(this, u("Odczyt pliku nie może być przeprowadzony"),
                            path + QStringLiteral(": ") + u(f.message));
        return;
    }
    const auto report = store_->importFrom(file);
    if (!report.ok()) {
        ctx.messages->error(this, u("Plik „%1” odrzucony: %2. Rejestr nie został zmieniony.")
                                      .arg(outside::line(path), u(report.failure.message)));
        return;
    }
    ctx.messages->plain(
        this, u("Zaimportowano z pliku „%1”:\nnowe instalacje: %2\nnowe wersje: %3\nwersje, "
                "które już były w rejestrze: %4")
                  .arg(outside::line(path), QString::number(report.value.installationsAdded),
                       QString::number(report.value.versionsAdded),
                       QString::number(report.value.versionsKnown)));
    refresh();
}

InstallationDialog::InstallationDialog(DialogContext& context, const QString& title,
                                       QWidget* parent)
    : StackDialog(parent), ctx(context) {
    setObjectName(QStringLiteral("InstallationDialog"));
    setWindowTitle(u("DOMOWY TRELLIKON - ") + title.toUpper());
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(16, 12, 16, 12);
    addTitleLabel(this, title);
    auto* form = new QFormLayout;
    NameEdit = new QLineEdit(this);
    nameControl(NameEdit, "NameEdit", u("Nazwa"));
    NameEdit->setPlaceholderText(u("np. Kowalska, Lipowa 5, Tarnów"));
    NameEdit->setMinimumWidth(fontMetrics().horizontalAdvance(QString(50, QLatin1Char('a'))));
    NotesEdit = new QPlainTextEdit(this);
    nameControl(NotesEdit, "NotesEdit", u("Notatki"));
    NotesEdit->setTabChangesFocus(true);
    NotesEdit->setFixedHeight(fontMetrics().lineSpacing() * 6);
    PhoneEdit = new QLineEdit(this);
    nameControl(PhoneEdit, "PhoneEdit", u("Numer telefonu urządzenia"));
    PhoneEdit->setMaxLength(32);
    form->addRow(u("Nazwa:"), NameEdit);
    form->addRow(u("Notatki:"), NotesEdit);
    form->addRow(u("Numer telefonu urządzenia:"), PhoneEdit);
    top->addLayout(form);
    auto* buttons = new QHBoxLayout;
    OkButton = pushButton("OkButton", u("Zapisz"), this);
    CancelButton = pushButton("CancelButton", u("Anuluj"), this);
    buttons->addStretch(1);
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    top->addLayout(buttons);
    connect(OkButton, &QPushButton::clicked, this, [this] {
        if (NameEdit->text().trimmed().isEmpty()) {
            ctx.messages->error(this, u("Podaj nazwę instalacji."));
            return;
        }
        accepted = true;
        ctx.stack->closeWindow(this);
    });
    connect(CancelButton, &QPushButton::clicked, this, [this] { ctx.stack->closeWindow(this); });
}

reg::Id editInstallation(DialogContext& ctx, reg::Register& store, QWidget* parent,
                         const reg::Installation* existing) {
    InstallationDialog dialog(ctx, existing ? u("Zmiana instalacji") : u("Nowa instalacja"),
                              parent);
    if (existing) {
        dialog.NameEdit->setText(u(existing->name));
        dialog.NotesEdit->setPlainText(u(existing->notes));
        dialog.PhoneEdit->setText(u(existing->devicePhone));
    }
    ctx.stack->showModal(&dialog);
    if (!dialog.accepted)
        return 0;
    const std::string name = dialog.NameEdit->text().trimmed().toStdString();
    const std::string notes = dialog.NotesEdit->toPlainText().toStdString();
    const std::string phone = dialog.PhoneEdit->text().trimmed().toStdString();
    std::string error;
    reg::Id id = 0;
    if (existing) {
        error = store.updateInstallation(existing->id, name, notes, phone).failure.message;
        id = existing->id;
    } else {
        const auto created = store.createInstallation(name, notes, phone);
        error = created.failure.message;
        id = created.value;
    }
    if (!error.empty()) {
        ctx.messages->error(parent, u("Rejestr instalacji: ") + u(error));
        return 0;
    }
    return id;
}

AssignDialog::AssignDialog(DialogContext& context, reg::Register& store,
                           const reg::Proposal& proposal, QWidget* parent)
    : StackDialog(parent), ctx(context), store_(store) {
    setObjectName(QStringLiteral("AssignDialog"));
    setWindowTitle(u("DOMOWY TRELLIKON - REJESTR INSTALACJI"));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(18, 12, 18, 12);
    top->setSpacing(10);
    addTitleLabel(this, u("Której instalacji dotyczy odczyt?"));
    QuestionLabel = new QLabel(this);
    QuestionLabel->setObjectName(QStringLiteral("QuestionLabel"));
    QuestionLabel->setTextFormat(Qt::PlainText);
    QuestionLabel->setWordWrap(true);
    QuestionLabel->setText(
        proposal.installationId
            ? u("Ustawienia odczytane z urządzenia są w rejestrze. Proponowana instalacja: "
                "„%1”. Potwierdź ją, wybierz inną albo utwórz nową.")
                  .arg(outside::line(u(proposal.name)))
            : u("Ustawienia odczytane z urządzenia są w rejestrze. Żadna instalacja nie jest "
                "do nich podobna: wybierz instalację albo utwórz nową."));
    QuestionLabel->setMinimumWidth(fontMetrics().horizontalAdvance(QString(60, QLatin1Char('a'))));
    top->addWidget(QuestionLabel);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(u("Instalacja:"), this);
    InstallationBox = new QComboBox(this);
    nameControl(InstallationBox, "InstallationBox", u("Instalacja"));
    label->setBuddy(InstallationBox);
    const auto all = store.installations({});
    if (all.ok())
        for (const reg::Found& f : all.value)
            InstallationBox->addItem(u(f.installation.name),
                                     QVariant::fromValue<qlonglong>(f.installation.id));
    const int proposed =
        InstallationBox->findData(QVariant::fromValue<qlonglong>(proposal.installationId));
    InstallationBox->setCurrentIndex(proposed);
    row->addWidget(label);
    row->addWidget(InstallationBox, 1);
    top->addLayout(row);
    auto* buttons = new QHBoxLayout;
    AssignButton = pushButton("AssignButton", u("Przypisz"), this);
    AssignButton->setAccessibleName(u("Przypisz do wybranej instalacji"));
    NewButton = pushButton("NewButton", u("Nowa instalacja…"), this);
    LaterButton = pushButton("LaterButton", u("Później"), this);
    LaterButton->setToolTip(u("Odczyt zostaje w rejestrze jako „nieprzypisane”."));
    AssignButton->setEnabled(InstallationBox->currentIndex() >= 0);
    buttons->addWidget(AssignButton);
    buttons->addWidget(NewButton);
    buttons->addStretch(1);
    buttons->addWidget(LaterButton);
    top->addLayout(buttons);
    connect(InstallationBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { AssignButton->setEnabled(index >= 0); });
    connect(AssignButton, &QPushButton::clicked, this, [this] {
        chosen = InstallationBox->currentData().toLongLong();
        ctx.stack->closeWindow(this);
    });
    connect(NewButton, &QPushButton::clicked, this, [this] { NewButtonClick(); });
    connect(LaterButton, &QPushButton::clicked, this, [this] {
        chosen = 0;
        ctx.stack->closeWindow(this);
    });
}

void AssignDialog::NewButtonClick() {
    const reg::Id id = editInstallation(ctx, store_, this, nullptr);
    if (id == 0)
        return;
    chosen = id;
    ctx.stack->closeWindow(this);
}
