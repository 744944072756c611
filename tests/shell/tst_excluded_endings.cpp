#include <QLineEdit>
#include <QtTest>

#include "Data.h"
#include "MainWindow.h"
#include "MainWindowRun.h"
#include "TransferTypes.h"
#include "ui_mainwindow.h"

using TransferTypes::excludedDownloadExtension;

namespace {
// The endings as the line shows them; the store gives no order, so they are compared sorted.
QStringList Shown(QLineEdit* line)
{
    QStringList words = line->text().split(' ', Qt::SkipEmptyParts);
    words.sort();
    return words;
}

QStringList Stored()
{
    QStringList endings;
    for (ItemPtr ending : d.GetType(excludedDownloadExtension)->GetItems())
        endings << ending.AsString();
    endings.sort();
    return endings;
}
} // namespace

// The File Sharing page's line of file-name endings left out of folder downloads.
class ExcludedEndingsTest : public QObject
{
    Q_OBJECT

    MainWindowRun run;

    QLineEdit* Line() { return run.Form()->excludedExtensionsEdit; }

private slots:
    void initTestCase()
    {
        run.Start();
        QVERIFY(run.WaitLoggedIn());
    }

    void showsTheStoredEndingsAtStart()
    {
        // A first run stores ".ini" while loading, before the line is filled.
        QCOMPARE(Stored(), QStringList{".ini"});
        QCOMPARE(Line()->text(), QString(".ini"));
        QVERIFY(Line()->isReadOnly());
        const QString shot = QDir::tempPath() + "/vandrell_excluded_endings.png";
        QVERIFY(run.Form()->fileSharingOptionsTab->grab().save(shot));
    }

    void followsEndingsAddedAndRemoved()
    {
        Type* endings = d.GetType(excludedDownloadExtension);
        endings->GetItem(".nfo");
        endings->GetItem(".txt");
        QCOMPARE(Shown(Line()), (QStringList{".ini", ".nfo", ".txt"}));
        ItemPtr(endings->HasItem(".ini")).Remove();
        QCOMPARE(Shown(Line()), (QStringList{".nfo", ".txt"}));
        ItemPtr(endings->HasItem(".nfo")).Remove();
        ItemPtr(endings->HasItem(".txt")).Remove();
        QCOMPARE(Line()->text(), QString());
        endings->GetItem(".sfv");
        QCOMPARE(Line()->text(), QString(".sfv"));
        QCOMPARE(Shown(Line()), Stored());
    }
};

QTEST_MAIN(ExcludedEndingsTest)
#include "tst_excluded_endings.moc"
