// One language per window: with the program's German catalogue beside the
// program, Qt's own German catalogue is installed too, so standard buttons
// and dialogs speak German as well.

#include "app/ProgramFiles.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void qtCatalogueLookup();
    void germanStandardButtons();
    void noCatalogueStaysEnglish();
    void oneWordForOneText();
};

void TestTranslations::qtCatalogueLookup()
{
    QTemporaryDir qtDir;
    QVERIFY(qtDir.isValid());
    QFile file(qtDir.filePath(QStringLiteral("qtbase_de.qm")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(ProgramFiles::qtCatalogue(QStringLiteral("de_DE"), qtDir.path()), file.fileName());
    QCOMPARE(ProgramFiles::qtCatalogue(QStringLiteral("de"), qtDir.path()), file.fileName());
    QVERIFY(ProgramFiles::qtCatalogue(QStringLiteral("fr_FR"), qtDir.path()).isEmpty());
    QVERIFY(ProgramFiles::qtCatalogue(QString(), qtDir.path()).isEmpty());
}

void TestTranslations::germanStandardButtons()
{
    const QString qtFolder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    if (!QFileInfo::exists(qtFolder + QStringLiteral("/qtbase_de.qm")))
        QSKIP("Qt's German catalogue is not installed (Debian package qttranslations5-l10n)");
    // The built program folder holds CvTile_de.qm.
    QCOMPARE(ProgramFiles::installTranslations(QStringLiteral(TW_RUNTIME_DIR), qtFolder), QStringLiteral("de_DE"));

    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Yes
                         | QDialogButtonBox::No);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Abbrechen"));
    QCOMPARE(box.button(QDialogButtonBox::Yes)->text().remove(QLatin1Char('&')), QStringLiteral("Ja"));
    QCOMPARE(box.button(QDialogButtonBox::No)->text().remove(QLatin1Char('&')), QStringLiteral("Nein"));
}

void TestTranslations::noCatalogueStaysEnglish()
{
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    QVERIFY(ProgramFiles::installTranslations(empty.path(), QLibraryInfo::location(QLibraryInfo::TranslationsPath))
                .isEmpty());
}

// A text that appears in several contexts (the form's start text and the
// code's text after a source choice) reads the same in German everywhere.
void TestTranslations::oneWordForOneText()
{
    QFile ts(QStringLiteral(TW_SOURCE_DIR "/resources/CvTile_de.ts"));
    QVERIFY(ts.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&ts);
    QHash<QString, QString> german;
    QString context, source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            source = xml.readElementText();
        else if (xml.name() == QLatin1String("translation")) {
            const QString translation = xml.readElementText();
            const auto known = german.constFind(source);
            const QString before = known == german.constEnd() ? translation : *known;
            QVERIFY2(before == translation,
                     qPrintable(QStringLiteral("%1 in %2: %3 / %4").arg(source, context, before, translation)));
            german.insert(source, translation);
        }
    }
    QVERIFY(!xml.hasError());
    QVERIFY(german.contains(QStringLiteral("Download:")));
}

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
