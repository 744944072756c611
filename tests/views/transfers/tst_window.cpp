#include <QLineEdit>
#include <QMenu>
#include <QtTest>

#include "ActionSetToolBar.h"
#include "ColorSelectionDialog.h"
#include "CompleteDownloadsForm.h"
#include "Data.h"
#include "DataSaver.h"
#include "EntryList.h"
#include "EntryRemoval.h"
#include "MainWindow.h"
#include "MainWindowRun.h"
#include "PeerTypes.h"
#include "RoomViews.h"
#include "SearchForm.h"
#include "SearchViews.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "SharesTypes.h"
#include "TabFocus.h"
#include "TransferQueueManager.h"
#include "TransferTypes.h"
#include "TransfersForm.h"
#include "TransfersViews.h"
#include "UserViews.h"
#include "ui_CompleteDownloadsForm.h"
#include "ui_SearchForm.h"
#include "ui_TransfersForm.h"
#include "ui_mainwindow.h"

using namespace TransferTypes;

namespace {
QStringList Offered()
{
    QStringList texts;
    for (QAction* action : actionBar->actions())
        if (action->isVisible() && !action->text().isEmpty())
            texts << action->text();
    return texts;
}

void Trigger(const QString& text)
{
    for (QAction* action : actionBar->actions())
        if (action->isVisible() && action->text() == text)
            return action->trigger();
    QFAIL(qPrintable("no action " + text));
}

QAction* Find(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

ItemPtr Download(const QString& user, const QString& file, const QString& folder, qint64 size,
                 const char* status)
{
    ItemPtr entry = transferQueueManager->AddDownload(user, file.toStdString(),
                                                      folder.toStdString(), size, false, 0);
    transferQueueManager->SetDownloadEntryStatus(entry, status);
    return entry;
}

void SetLive(ItemPtr entry, const char* positionType, qint64 done, int speed)
{
    entry.Connect(d.GetType(positionType)->GetItem(Value(new qint64(done))));
    entry.Connect(d.GetType(bytesPerSecond)->GetItem(Value(new int(speed))));
}

void Save(QWidget* widget, const QString& name)
{
    QVERIFY(widget->grab().save("/tmp/" + name + ".png"));
}
} // namespace

// The Transfers tab in the running main window: its tool-bar commands, searching again from a
// download, and how the tab looks with rows in every status.
class TransfersWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;

    Ui_TransfersForm* Ui() { return transfersForm->Form(); }

private slots:
    void initTestCase()
    {
        RoomViews::Install();
        UserViews::Install();
        SearchViews::Install();
        TransfersViews::Install();
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
        run->Window()->resize(1100, 600);
    }

    void cleanupTestCase() { run.reset(); }

    void toolBarCommandsFollowTheFocusedTree()
    {
        FocusWidgetAndParents(Ui()->downloadsList);
        QTRY_VERIFY(Offered().contains("Expand Folders [on]"));
        QVERIFY(Offered().contains("Clear Complete"));
        Trigger("Expand Folders [on]");
        QTRY_VERIFY(Offered().contains("Expand Folders [off]"));
        Trigger("Expand Folders [off]");
        QTRY_VERIFY(Offered().contains("Expand Folders [on]"));

        FocusWidgetAndParents(Ui()->uploadsList);
        QTRY_VERIFY(Offered().contains("Finish Uploads and Quit [off]"));
        Trigger("Finish Uploads and Quit [off]");
        QTRY_VERIFY(Offered().contains("Finish Uploads and Quit [on]"));
        Trigger("Finish Uploads and Quit [on]");
        QCOMPARE(Settings::GetText("finish_uploads_and_quit", Settings::runtime), QString("no"));
    }

    void savedColoursRecolourTheRows()
    {
        ItemPtr entry = Download("ray", "a.mp3", "x", 100, TransferStatus::queued);
        ColorSelectionDialog dialog;
        auto* swatch = dialog.findChild<QLineEdit*>("transferQueuedColor");
        QPalette palette = swatch->palette();
        palette.setColor(QPalette::Base, QColor("#123456"));
        swatch->setPalette(palette);
        dialog.OnSaveColors();
        QTreeWidgetItem* row = transfersForm->EntryRow(TransfersForm::downloads, entry);
        QCOMPARE(row->foreground(TransfersForm::FileColumn).color(), QColor("#123456"));
        QCOMPARE(row->parent()->parent()->foreground(0).color(), QColor("#123456"));
        transferQueueManager->RemoveDownload(entry);
    }

    void searchAgainOpensAResultTab()
    {
        ItemPtr entry = Download("sam", "a.mp3", "x", 100, TransferStatus::aborted);
        entry.Connect(d.GetType(PeerTypes::searchRequestText)->GetItem(Value("abc")));
        QTabWidget* results = searchForm->Form()->searchTabControl;
        const int before = results->count();
        Ui()->downloadsList->clearSelection();
        transfersForm->EntryRow(TransfersForm::downloads, entry)->setSelected(true);
        QMenu menu;
        auto options = transfersForm->FillDownloadsMenu(&menu);
        QAction* again = Find(&menu, "Re-run Search: abc");
        QVERIFY(again);
        again->trigger();
        QCOMPARE(results->count(), before + 1);
        QCOMPARE(results->tabText(results->count() - 1), QString("abc"));
        transferQueueManager->RemoveDownload(entry);
    }

    void looksRightWithRowsInEveryStatus()
    {
        const char* statuses[] = {"queued",  "downloading", "complete",  "denied",
                                  "aborted", "local error", "requesting"};
        int index = 0;
        for (const char* status : statuses)
        {
            ItemPtr entry = Download(
                index < 4 ? "ann" : "bob", QString("track %1 - %2.mp3").arg(index).arg(status),
                index % 2 ? "music\\Artist\\Album" : "music\\Other", 3072000, status);
            if (QString(status) == "denied")
                entry.Connect(d.GetType(denialReason)->GetItem(Value("File not shared.")));
            if (QString(status) == "queued")
                entry.Connect(d.GetType(placeInLine)->GetItem(Value("12")));
            if (QString(status) == "downloading")
            {
                SetLive(entry, writePosition, 1536000, 12800);
                emit transferQueueManager->DownloadProgressed(entry);
            }
            ++index;
        }
        Download("cid", "collapsed.mp3", "music\\Other", 1000, "downloading");
        Ui()->downloadsList->topLevelItem(2)->setExpanded(false);
        QCoreApplication::processEvents();
        FocusWidgetAndParents(Ui()->downloadsList);
        Save(run->Window(), "transfers_downloads");

        using namespace SharesTypes;
        ItemPtr root = d.GetType(sharedFolder)->GetItem(Value("/shared"));
        root.NewItem(sharedPublic);
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value("/shared/music"));
        root.Connect(folder);
        for (const char* status : {"queued", "uploading", "complete", "aborted"})
        {
            ItemPtr file = folder.NewItem(sharedFile);
            file.Connect(d.GetType(sharedFileName)->GetItem(Value(QString(status) + ".mp3")));
            file.Connect(d.GetType(sharedFileSize)->GetItem(Value(2048000)));
            transferQueueManager->AddUpload("uma", QString("/shared/music/%1.mp3").arg(status));
            ItemPtr entry = file.GetItems(uploadEntry);
            QVERIFY(!entry.IsNull());
            transferQueueManager->SetUploadEntryStatus(entry, status);
            if (QString(status) == "uploading")
            {
                SetLive(entry, readPosition, 512000, 25600);
                emit transferQueueManager->UploadProgressed(entry);
            }
        }
        QTRY_COMPARE(run->Form()->tabControl->tabText(0), QString("Transfers [2/1]"));
        FocusWidgetAndParents(Ui()->uploadsList);
        QCoreApplication::processEvents();
        Save(run->Window(), "transfers_uploads");
        QCOMPARE(Ui()->uploadsList->topLevelItem(0)->child(0)->childCount(), 4);

        ItemPtr done = d.GetType(completeDownload)->NewItem();
        done.Connect(d.GetType(completeDownloadFilename)->GetItem(Value("track.mp3")));
        done.Connect(d.GetType(completeDownloadRelativeFolder)->GetItem(Value("Artist\\Album")));
        done.Connect(d.GetType(completeDownloadFileSize)->GetItem(Value("3072000")));
        done.Connect(d.GetType(ServerTypes::user)->GetItem(Value("ann")));
        done.Connect(d.GetType(completeDownloadCompletionTime)
                         ->GetItem(Value(QDateTime::currentDateTime().toString(Qt::TextDate))));
        FocusWidgetAndParents(Ui()->downloadsList);
        QTRY_VERIFY(Offered().contains("Completed Downloads"));
        Trigger("Completed Downloads");
        QTRY_VERIFY(completeDownloadsForm && completeDownloadsForm->isVisible());
        QCOMPARE(Ui()->transfersTabControl->tabText(Ui()->transfersTabControl->currentIndex()),
                 QString("Complete"));
        QCOMPARE(completeDownloadsForm->Form()->downloadList->topLevelItemCount(), 1);
        Save(run->Window(), "transfers_complete");

        // The engine frees the live cells with their entries.
        for (ItemPtr entry : EntryList(g(downloadEntry)))
            transferQueueManager->RemoveDownload(entry);
        for (ItemPtr entry : EntryList(g(uploadEntry)))
            transferQueueManager->RemoveUpload(entry);
    }

    // Runs last: it closes the window while the menu's removal of a thousand downloads is under
    // way, then loads what it saved, as the next start would.
    void closingMidRemovalSavesWithoutTheRemovedDownloads()
    {
        QSet<QString> kept;
        for (int index = 0; index < 1500; ++index)
        {
            const QString name = QString("close %1.mp3").arg(index);
            Download(index % 3 ? "rex" : "kim", name, "close", 1000, TransferStatus::queued);
            if (index % 3 == 0)
                kept << name;
        }
        transfersForm->findChild<EntryRemoval*>("downloadRemoval")->SetSlice(100 * 1000);
        Ui()->downloadsList->clearSelection();
        Ui()->downloadsList->findItems("rex", Qt::MatchExactly).first()->setSelected(true);
        {
            QMenu menu;
            auto options = transfersForm->FillDownloadsMenu(&menu);
            Find(&menu, "Remove downloads")->trigger();
        }
        QVERIFY(g(downloadEntry).Size() > size_t(kept.size()));

        QTemporaryDir saved;
        qputenv("HOME", saved.path().toLocal8Bit());
        run.reset();
        g(downloadEntry).Remove();
        DataSaver().Load(saved.path() + "/.Vandrell");
        QSet<QString> loaded;
        for (ItemPtr entry : g(downloadEntry))
            loaded << entry[fileName].AsString();
        QCOMPARE(loaded, kept);
    }
};

QTEST_MAIN(TransfersWindowTest)
#include "tst_window.moc"
