#include <QtTest>

#include "TransferText.h"
#include "TransfersViewSetup.h"

using namespace TransferTypes;
using Column = TransfersForm::Column;

// Progress, speed, time left, status words and colours of the transfer rows, and the tab title.
class TransferCellsTest : public QObject
{
    Q_OBJECT

    TransfersViewSetup setup;

    ItemSet Entries(const QStringList& statuses)
    {
        ItemSet entries;
        for (int index = 0; index < statuses.size(); ++index)
        {
            ItemPtr entry = setup.Download("set", QString("f%1").arg(index), "x");
            setup.SetStatus(entry, statuses[index].toUtf8().constData());
            entries.Insert(entry);
        }
        return entries;
    }

private slots:
    void initTestCase()
    {
        setup.Build();
        emit setup.engine.manager->TransfersLoaded();
    }
    void cleanupTestCase() { setup.Destroy(); }
    void cleanup() { setup.RemoveAll(); }

    void timeLeftText_data()
    {
        QTest::addColumn<long long>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << 0LL << "   0s";
        QTest::newRow("59 s") << 59LL << "   59s";
        QTest::newRow("60 s") << 60LL << "   1m:0s";
        QTest::newRow("one hour") << 3600LL << "   1h:0m:0s";
        QTest::newRow("3725 s") << 3725LL << "   1h:2m:5s";
        QTest::newRow("past a day") << 90061LL << "   25h:1m:1s";
        QTest::newRow("negative") << -5LL << "   -5s";
    }

    void timeLeftText()
    {
        QFETCH(long long, seconds);
        QFETCH(QString, text);
        QCOMPARE(TransferText::TimeLeft(seconds), text);
    }

    void zeroSizeIsNeverNotANumber_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("complete") << "complete"
                                  << "0 (100.0%)" << 100;
        QTest::newRow("queued") << "queued"
                                << "0 (0.0%)" << 0;
    }

    void zeroSizeIsNeverNotANumber()
    {
        QFETCH(QString, status);
        QFETCH(QString, text);
        QFETCH(int, value);
        ItemPtr entry = setup.Download("zed", "empty.txt", "x", 0);
        setup.SetStatus(entry, status.toUtf8().constData());
        emit setup.engine.manager->DownloadProgressed(entry);
        QTreeWidgetItem* row = setup.Row(entry);
        QVERIFY(TransfersViewSetup::HasBar(row));
        QCOMPARE(TransfersViewSetup::BarText(row), text);
        QCOMPARE(TransfersViewSetup::BarValue(row), value);
    }

    void showsProgressSpeedAndTimeLeft()
    {
        ItemPtr entry = setup.Download("ann", "a.mp3", "x", 3072000);
        setup.SetStatus(entry, TransferStatus::downloading);
        TransfersViewSetup::SetLive(entry, 1536000, 12800);
        emit setup.engine.manager->DownloadProgressed(entry);

        QTreeWidgetItem* row = setup.Row(entry);
        QCOMPARE(TransfersViewSetup::BarText(row), QString("1,536,000 (50.0%)"));
        QCOMPARE(TransfersViewSetup::BarValue(row), 50);
        QCOMPARE(row->text(Column::SpeedColumn), QString("12.5"));
        QCOMPARE(row->text(Column::TimeLeftColumn), QString("   2m:0s"));

        // Nothing arriving: no time left to tell.
        TransfersViewSetup::SetLive(entry, 1536000, 0);
        emit setup.engine.manager->DownloadProgressed(entry);
        QCOMPARE(row->text(Column::TimeLeftColumn), QString());
    }

    // Time left and speed show only while bytes arrive: a stopped or stalled transfer has none.
    void stoppedOrStalledTransferShowsNoTimeLeft_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("timeLeft");
        QTest::addColumn<QString>("speed");
        QTest::newRow("aborted") << "aborted" << QString() << QString();
        QTest::newRow("queued again") << "queued" << QString() << QString();
        QTest::newRow("stalled") << "stalled" << QString() << QString();
        // Kept until the next progress report rewrites them.
        QTest::newRow("still arriving") << "arriving"
                                        << "   3s"
                                        << "1.0";
    }

    void stoppedOrStalledTransferShowsNoTimeLeft()
    {
        QFETCH(QString, change);
        QFETCH(QString, timeLeft);
        QFETCH(QString, speed);
        ItemPtr entry = setup.Download("ann", "a.mp3", "x", 4096);
        setup.SetStatus(entry, TransferStatus::downloading);
        TransfersViewSetup::SetLive(entry, 1024, 1024);
        emit setup.engine.manager->DownloadProgressed(entry);
        QTreeWidgetItem* row = setup.Row(entry);
        QCOMPARE(row->text(Column::TimeLeftColumn), QString("   3s"));
        if (change == "arriving")
            TransfersViewSetup::SetLive(entry, 3072, 1024);
        else if (change != "stalled")
            setup.SetStatus(entry, change.toUtf8().constData());
        setup.form->ClearStalledTimes();
        QCOMPARE(row->text(Column::TimeLeftColumn), timeLeft);
        QCOMPARE(row->text(Column::SpeedColumn), speed);
    }

    // A file that grew past its announced size: at most 100% and no negative time left.
    void progressIsHeldToItsRange_data()
    {
        QTest::addColumn<bool>("upload");
        QTest::newRow("download") << false;
        QTest::newRow("upload") << true;
    }

    void progressIsHeldToItsRange()
    {
        QFETCH(bool, upload);
        TransfersViewSetup::Share("/shared", "grown.mp3", 4096);
        ItemPtr entry = upload ? setup.Upload("uma", "/shared", "grown.mp3")
                               : setup.Download("uma", "grown.mp3", "x", 4096);
        setup.SetStatus(entry, upload ? TransferStatus::uploading : TransferStatus::downloading);
        TransfersViewSetup::SetLive(entry, 5120, 1024);
        if (upload)
            emit setup.engine.manager->UploadProgressed(entry);
        else
            emit setup.engine.manager->DownloadProgressed(entry);
        QTreeWidgetItem* row =
            setup.form->EntryRow(upload ? TransfersForm::uploads : TransfersForm::downloads, entry);
        QCOMPARE(TransfersViewSetup::BarText(row), QString("5,120 (100.0%)"));
        QCOMPARE(TransfersViewSetup::BarValue(row), 100);
        QCOMPARE(row->text(Column::TimeLeftColumn), QString("   0s"));
    }

    // A collapsed group reads the entries left after one under it goes.
    void removalRefreshesCollapsedGroupRows_data()
    {
        QTest::addColumn<bool>("collapseUser");
        QTest::newRow("user row") << true;
        QTest::newRow("folder row") << false;
    }

    void removalRefreshesCollapsedGroupRows()
    {
        QFETCH(bool, collapseUser);
        ItemPtr running = setup.Download("ann", "a.mp3", "x", 2000);
        setup.Download("ann", "b.mp3", collapseUser ? "y" : "x", 2000);
        setup.SetStatus(running, TransferStatus::downloading);
        QTreeWidgetItem* file = setup.Row(running);
        QTreeWidgetItem* group = collapseUser ? file->parent()->parent() : file->parent();
        group->setExpanded(false);
        TransfersViewSetup::SetLive(running, 1000, 1024);
        emit setup.engine.manager->DownloadProgressed(running);
        QTRY_COMPARE(group->text(Column::StatusColumn), QString("downloading"));
        QCOMPARE(group->text(Column::SpeedColumn), QString("1.0"));

        setup.engine.manager->RemoveDownload(running);
        QTRY_COMPARE(group->text(Column::StatusColumn), QString("queued"));
        QCOMPARE(group->text(Column::SpeedColumn), QString());
        QCOMPARE(group->text(Column::TimeLeftColumn), QString());
        QCOMPARE(TransfersViewSetup::BarText(group), QString("0 (0.0%)"));
        QCOMPARE(group->foreground(0).color(), QColor(TransfersViewSetup::ColourOf("queued")));
    }

    // The bar is painted in the cell, filled from the left to its value, with its text over it.
    void progressCellIsDrawnAsABar_data()
    {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<bool>("leftFilled");
        QTest::addColumn<bool>("rightFilled");
        QTest::newRow("none") << qint64(0) << false << false;
        QTest::newRow("half") << qint64(500) << true << false;
        QTest::newRow("all") << qint64(1000) << true << true;
    }

    void progressCellIsDrawnAsABar()
    {
        QFETCH(qint64, done);
        QFETCH(bool, leftFilled);
        QFETCH(bool, rightFilled);
        ItemPtr entry = setup.Download("pia", "p.mp3", "x", 1000);
        setup.SetStatus(entry, TransferStatus::downloading);
        TransfersViewSetup::SetLive(entry, done, 0);
        emit setup.engine.manager->DownloadProgressed(entry);
        QTreeWidget* tree = setup.Downloads();
        QVERIFY(QTest::qWaitForWindowExposed(tree->window()));
        const QRect row = tree->visualItemRect(setup.Row(entry));
        const int left = tree->header()->sectionViewportPosition(Column::ProgressColumn);
        const int width = tree->header()->sectionSize(Column::ProgressColumn);
        const QImage cells = tree->viewport()->grab().toImage();
        const QColor fill = tree->palette().color(QPalette::Highlight);
        // Far from the text in the middle; the style shades the fill, so its hue is compared.
        auto filled = [&](int x) {
            const QColor pixel = cells.pixelColor(left + x, row.center().y());
            return pixel.saturation() > 60 && qAbs(pixel.hsvHue() - fill.hsvHue()) < 20;
        };
        QCOMPARE(filled(width / 12), leftFilled);
        QCOMPARE(filled(width - width / 12), rightFilled);
        // Drawn, not a widget that every later layout would place.
        QVERIFY(!tree->itemWidget(setup.Row(entry), Column::ProgressColumn));
    }

    void collapsedUserRowTakesSpeedAndSums()
    {
        ItemPtr a = setup.Download("ann", "a.mp3", "x", 1000);
        ItemPtr b = setup.Download("ann", "b.mp3", "y", 3000);
        setup.SetStatus(a, TransferStatus::complete);
        setup.SetStatus(b, TransferStatus::downloading);
        QTreeWidgetItem* file = setup.Row(b);
        QTreeWidgetItem* user = file->parent()->parent();
        TransfersViewSetup::SetLive(b, 1000, 1024);
        emit setup.engine.manager->DownloadProgressed(b);
        QCOMPARE(file->text(Column::SpeedColumn), QString("1.0"));

        user->setExpanded(false);
        QCOMPARE(user->text(Column::StatusColumn), QString("downloading"));
        TransfersViewSetup::SetLive(b, 2000, 2048);
        emit setup.engine.manager->DownloadProgressed(b);
        QCOMPARE(user->text(Column::SpeedColumn), QString("2.0"));
        QCOMPARE(file->text(Column::SpeedColumn), QString("1.0"));
        QCOMPARE(TransfersViewSetup::BarText(user), QString("3,000 (75.0%)"));
        QCOMPARE(user->text(Column::TimeLeftColumn), QString("   0s"));

        user->setExpanded(true);
        QCOMPARE(user->text(Column::StatusColumn), QString());
        QCOMPARE(user->text(Column::SpeedColumn), QString());
        QVERIFY(!TransfersViewSetup::HasBar(user));
    }

    // A collapsed group reads what is left: entries still in it, the speed of those still
    // receiving. Two receive at 1 and 2 KiB/s beside a refused one that counts for nothing.
    void groupFiguresFollowEntriesThatGoOrStall_data()
    {
        QTest::addColumn<int>("removed");
        QTest::addColumn<int>("stalled");
        // Speed, time left and bar text; an empty bar text means no bar.
        QTest::addColumn<QStringList>("cells");
        QTest::newRow("both receiving") << 0 << 0 << QStringList{"3.0", "   1s", "3,072 (37.5%)"};
        QTest::newRow("one removed") << 1 << 0 << QStringList{"2.0", "   1s", "2,048 (50.0%)"};
        QTest::newRow("one stalled") << 0 << 1 << QStringList{"2.0", "   2s", "4,096 (50.0%)"};
        QTest::newRow("both stalled") << 0 << 2 << QStringList{"", "", "3,072 (37.5%)"};
        QTest::newRow("every counted one removed") << 2 << 0 << QStringList{"", "", ""};
    }

    void groupFiguresFollowEntriesThatGoOrStall()
    {
        QFETCH(int, removed);
        QFETCH(int, stalled);
        QFETCH(QStringList, cells);
        const ItemPtr entries[] = {setup.Download("gus", "a.mp3", "x", 4096),
                                   setup.Download("gus", "b.mp3", "x", 4096)};
        setup.SetStatus(setup.Download("gus", "c.mp3", "x", 1000), TransferStatus::denied);
        QTreeWidgetItem* folder = setup.Row(entries[0])->parent();
        folder->setExpanded(false);
        for (int i : {0, 1})
        {
            setup.SetStatus(entries[i], TransferStatus::downloading);
            TransfersViewSetup::SetLive(entries[i], 1024 * (i + 1), 1024 * (i + 1));
            emit setup.engine.manager->DownloadProgressed(entries[i]);
        }
        for (int i = 0; i < removed; ++i)
            setup.engine.manager->RemoveDownload(entries[i]);
        if (stalled == 1)
            TransfersViewSetup::SetLive(entries[1], 3072, 2048);
        if (stalled)
            setup.form->ClearStalledTimes();
        QCoreApplication::processEvents();
        QCOMPARE(folder->text(Column::SpeedColumn), cells[0]);
        QCOMPARE(folder->text(Column::TimeLeftColumn), cells[1]);
        QCOMPARE(TransfersViewSetup::BarText(folder), cells[2]);
        QCOMPARE(TransfersViewSetup::HasBar(folder), !cells[2].isEmpty());
    }

    void groupOfRefusedEntriesKeepsItsCells()
    {
        ItemPtr a = setup.Download("ann", "a.mp3", "x", 1000);
        setup.SetStatus(a, TransferStatus::denied);
        QTreeWidgetItem* folder = setup.Row(a)->parent();
        folder->setExpanded(false);
        emit setup.engine.manager->DownloadProgressed(a);
        QVERIFY(!TransfersViewSetup::HasBar(folder));
        QCOMPARE(folder->text(Column::TimeLeftColumn), QString());
    }

    void combinedStatus_data()
    {
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QString>("combined");
        QTest::newRow("downloading wins")
            << QStringList{"complete", "queued", "downloading"} << "downloading";
        QTest::newRow("queued before complete") << QStringList{"complete", "queued"} << "queued";
        QTest::newRow("all complete") << QStringList{"complete", "complete"} << "complete";
        QTest::newRow("denied before aborted")
            << QStringList{"aborted", "denied", "complete"} << "denied";
        QTest::newRow("complete and aborted") << QStringList{"complete", "aborted"} << "aborted";
        QTest::newRow("local error alone") << QStringList{"local error"} << "";
        QTest::newRow("nothing") << QStringList{} << "complete";
    }

    void combinedStatus()
    {
        QFETCH(QStringList, statuses);
        QFETCH(QString, combined);
        ItemSet entries = Entries(statuses);
        QCOMPARE(setup.form->GetDownloadEntriesAggregateStatus(entries), combined);
        if (entries.Empty())
            return;
        // The collapsed user row shows the same word in its status cell.
        QTreeWidgetItem* user = setup.Downloads()->topLevelItem(0);
        user->setExpanded(false);
        QCOMPARE(user->text(Column::StatusColumn), combined);
    }

    void colourAndStatusText_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("text");
        QTest::newRow("complete") << "complete"
                                  << "color_transfer_complete"
                                  << "complete";
        QTest::newRow("downloading") << "downloading"
                                     << "color_transfer_in_progress"
                                     << "downloading";
        QTest::newRow("queued") << "queued"
                                << "color_transfer_queued"
                                << "queued";
        QTest::newRow("denied") << "denied"
                                << "color_transfer_failed"
                                << "file not shared";
        QTest::newRow("aborted") << "aborted"
                                 << "color_transfer_failed"
                                 << "aborted";
        QTest::newRow("local error") << "local error"
                                     << "color_transfer_failed"
                                     << "local error";
        QTest::newRow("requesting") << "requesting"
                                    << "color_transfer_other"
                                    << "requesting";
    }

    void colourAndStatusText()
    {
        QFETCH(QString, status);
        QFETCH(QString, setting);
        QFETCH(QString, text);
        ItemPtr entry = setup.Download("ann", "a.mp3", "x");
        setup.SetStatus(entry, status.toUtf8().constData());
        // The reason may come after the word.
        entry.Connect(d.GetType(denialReason)->GetItem(Value("File Not Shared")));
        QTreeWidgetItem* row = setup.Row(entry);
        QCOMPARE(row->text(Column::StatusColumn), text);
        const QColor expected(TransfersViewSetup::ColourOf(setting));
        for (int column = 0; column < row->columnCount(); ++column)
            QCOMPARE(row->foreground(column).color(), expected);
        // The one file decides its folder's colour too; words the combined status does not
        // know give the folder the "other" colour.
        const bool known = status != "requesting" && status != "local error";
        QTRY_COMPARE(row->parent()->foreground(0).color(), known ? expected : QColor("#7f7f7f"));
    }

    void recoloursRowsFromChangedSettings()
    {
        ItemPtr entry = setup.Download("ann", "a.mp3", "x");
        Settings::Set("color_transfer_queued", Value("#123456"));
        setup.form->RecolorEntries();
        QCOMPARE(setup.Row(entry)->foreground(Column::FileColumn).color(), QColor("#123456"));
        QCOMPARE(setup.Downloads()->topLevelItem(0)->foreground(0).color(), QColor("#123456"));
        Settings::Set("color_transfer_queued", Value(TransfersViewSetup::ColourOf("queued")));
    }

    void titleCountsActiveTransfers()
    {
        TransfersViewSetup::Share("/shared", "up.mp3", 100);
        ItemPtr upload = setup.Upload("uma", "/shared", "up.mp3");
        QVERIFY(!upload.IsNull());
        ItemPtr a = setup.Download("ann", "a.mp3", "x");
        ItemPtr b = setup.Download("bob", "b.mp3", "x");
        setup.Download("cid", "c.mp3", "x");
        setup.SetStatus(a, TransferStatus::downloading);
        setup.SetStatus(b, TransferStatus::downloading);
        setup.SetStatus(upload, TransferStatus::uploading);
        QTRY_COMPARE(setup.tabs->tabText(0), QString("Transfers [2/1]"));

        setup.engine.manager->RemoveDownload(a);
        setup.engine.manager->RemoveUpload(upload);
        QTRY_COMPARE(setup.tabs->tabText(0), QString("Transfers [1/0]"));
    }

    void uploadProgressReadsSharedFileSize()
    {
        TransfersViewSetup::Share("/shared", "big.mp3", 4096);
        ItemPtr upload = setup.Upload("uma", "/shared", "big.mp3");
        setup.SetStatus(upload, TransferStatus::uploading);
        TransfersViewSetup::SetLive(upload, 1024, 512);
        emit setup.engine.manager->UploadProgressed(upload);
        QTreeWidgetItem* row = setup.form->EntryRow(TransfersForm::uploads, upload);
        QCOMPARE(TransfersViewSetup::BarText(row), QString("1,024 (25.0%)"));
        QCOMPARE(row->text(Column::TimeLeftColumn), QString("   6s"));
        setup.engine.manager->RemoveUpload(upload);
        QCOMPARE(setup.Uploads()->topLevelItemCount(), 0);
    }
};

QTEST_MAIN(TransferCellsTest)
#include "tst_cells.moc"
