// Qt's own texts are Polish like the rest of the program: the catalogue is
// found where the program looks for it, and the standard buttons, boxes,
// menus and file dialogs use it.
#include "qt_translations.h"
#include "window_test_support.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <memory>

namespace {
QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}
QString qtFolder() {
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}
} // namespace

class TestQtTranslations : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase();
    void standardTextsArePolish();
    void errorBoxShowsItsReason();
    void catalogueIsLookedForBesideTheProgramFirst_data();
    void catalogueIsLookedForBesideTheProgramFirst();
};

void TestQtTranslations::initTestCase() {
    // As the program starts: without the catalogue every check below fails.
    QVERIFY2(!installQtPolish().isEmpty(), "qtbase_pl.qm (qt6-translations-l10n) not found");
}

void TestQtTranslations::standardTextsArePolish() {
    // A standard button, an edit's context menu and the file dialog.
    QDialogButtonBox buttons(QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), u("Anuluj"));
    QLineEdit edit(QStringLiteral("x"));
    const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QCOMPARE(menu->actions().value(0)->text().section(QLatin1Char('\t'), 0, 0), u("&Cofnij"));
    QFileDialog files;
    files.setOption(QFileDialog::DontUseNativeDialog);
    auto* lookIn = files.findChild<QLabel*>(QStringLiteral("lookInLabel"));
    QVERIFY(lookIn);
    QCOMPARE(lookIn->text(), u("Szukaj w:"));
}

void TestQtTranslations::errorBoxShowsItsReason() {
    // The program's own error box with a reason (a port that cannot be
    // opened, a template that cannot be read) shows the reason as text in
    // the box, not behind a details button few would press.
    QtMessageBoxes boxes;
    QStringList captions;
    QStringList texts;
    whenModal([&](QDialog* box) {
        for (QPushButton* b : box->findChildren<QPushButton*>())
            captions << b->text();
        for (QLabel* l : box->findChildren<QLabel*>())
            if (l->isVisible())
                texts << l->text();
    });
    boxes.error(nullptr, u("Odczyt pliku nie może być przeprowadzony"),
                u("x.sbn: plik nie istnieje"));
    QVERIFY2(texts.contains(u("x.sbn: plik nie istnieje")), qPrintable(texts.join(u(" | "))));
    QVERIFY2(texts.contains(u("Odczyt pliku nie może być przeprowadzony")),
             qPrintable(texts.join(u(" | "))));
    QCOMPARE(captions.size(), 1);
}

void TestQtTranslations::catalogueIsLookedForBesideTheProgramFirst_data() {
    QTest::addColumn<QStringList>("beside"); // files put into the folder beside the program
    QTest::addColumn<bool>("withQtFolder");
    QTest::addColumn<QString>("found"); // "beside", "qt" or empty
    QTest::newRow("beside the program first") << QStringList{"qtbase_pl.qm"} << true << "beside";
    QTest::newRow("Qt's folder when there is none beside") << QStringList{} << true << "qt";
    QTest::newRow("another name beside is passed over") << QStringList{"qtbase.qm"} << true << "qt";
    QTest::newRow("nowhere") << QStringList{"qtbase.qm"} << false << "";
}

void TestQtTranslations::catalogueIsLookedForBesideTheProgramFirst() {
    QFETCH(QStringList, beside);
    QFETCH(bool, withQtFolder);
    QFETCH(QString, found);
    const QStringList folders = qtTranslationFolders();
    QCOMPARE(folders, QStringList({QCoreApplication::applicationDirPath() + u("/translations"),
                                   qtFolder()}));
    QTemporaryDir dir;
    for (const QString& name : beside)
        QVERIFY(QFile::copy(qtFolder() + u("/qtbase_pl.qm"), dir.filePath(name)));
    QStringList search{dir.path()};
    if (withQtFolder)
        search << qtFolder();
    QTranslator translator;
    const QString file = loadQtPolish(translator, search);
    const QString expected = found == u("beside") ? dir.filePath(u("qtbase_pl.qm"))
                             : found == u("qt")   ? qtFolder() + u("/qtbase_pl.qm")
                                                  : QString();
    QCOMPARE(file, expected);
    QCOMPARE(translator.isEmpty(), expected.isEmpty());
}

QTEST_MAIN(TestQtTranslations)
#include "test_qt_translations.moc"
