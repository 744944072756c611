#include <QtTest>

#include "TransferRow.h"
#include "TransferText.h"
#include "TransfersViewSetup.h"
#include "TransfersViewTypes.h"

using namespace TransferTypes;
using Column = TransfersForm::Column;

namespace {
QStringList Texts(QTreeWidgetItem* parent, int column)
{
    QStringList texts;
    for (int index = 0; index < parent->childCount(); ++index)
        texts << parent->child(index)->text(column);
    return texts;
}

QStringList TopTexts(QTreeWidget* tree)
{
    return Texts(tree->invisibleRootItem(), TransfersForm::UserColumn);
}

size_t Count(const char* type)
{
    return g(type).Size();
}
} // namespace

// Rows of the download and upload trees: grouping, order, removal and attributes connected anew.
class TransferTreesTest : public QObject
{
    Q_OBJECT

    TransfersViewSetup setup;

    void RemoveAll() { setup.RemoveAll(); }

private slots:
    void initTestCase() { setup.Build(); }
    void cleanupTestCase() { setup.Destroy(); }
    void cleanup() { RemoveAll(); }

    // Runs first: the form was set up before the engine loaded its queue.
    void showsNoDownloadRowsUntilLoadedThenInQueueOrder()
    {
        ItemPtr first = setup.Download("bob", "one.mp3", "music\\old");
        setup.Download("amy", "two.mp3", "music\\new");
        setup.Download("bob", "three.mp3", "music\\new");
        QCOMPARE(setup.Downloads()->topLevelItemCount(), 0);
        // Queued again later: it now comes last, whatever order the store keeps.
        first.Connect(d.GetType(downloadOrder)->GetItem(Value(1000)));

        emit setup.engine.manager->TransfersLoaded();

        QCOMPARE(TopTexts(setup.Downloads()), (QStringList{"amy", "bob"}));
        QTreeWidgetItem* bob = setup.Downloads()->topLevelItem(1);
        QCOMPARE(Texts(bob, Column::FolderColumn), (QStringList{"new/music", "old/music"}));
        QCOMPARE(Texts(bob->child(0), Column::FileColumn), QStringList{"three.mp3"});
    }

    void groupsEachUsersFilesOfOneRemoteFolder()
    {
        setup.Download("ann", "a.mp3", "music\\rock", 1234567);
        setup.Download("ben", "b.mp3", "music\\rock");
        setup.Download("ann", "c.mp3", "music\\rock");

        QCOMPARE(TopTexts(setup.Downloads()), (QStringList{"ann", "ben"}));
        for (int user = 0; user < 2; ++user)
        {
            QTreeWidgetItem* row = setup.Downloads()->topLevelItem(user);
            QCOMPARE(Texts(row, Column::FolderColumn), QStringList{"rock/music"});
        }
        QTreeWidgetItem* annFolder = setup.Downloads()->topLevelItem(0)->child(0);
        QCOMPARE(Texts(annFolder, Column::FileColumn), (QStringList{"a.mp3", "c.mp3"}));
        QCOMPARE(annFolder->child(0)->text(Column::SizeColumn), QString("1,234,567"));
        QCOMPARE(Count(TransfersViewTypes::downloadListFolderNode), size_t(2));
    }

    void removingLastFilesRemovesGroupRowsAndNodes()
    {
        ItemPtr a = setup.Download("ann", "a.mp3", "music\\rock");
        ItemPtr b = setup.Download("ann", "b.mp3", "music\\jazz");
        ItemPtr c = setup.Download("ann", "c.mp3", "music\\jazz");

        setup.engine.manager->RemoveDownload(a);
        QTreeWidgetItem* ann = setup.Downloads()->topLevelItem(0);
        QCOMPARE(Texts(ann, Column::FolderColumn), QStringList{"jazz/music"});
        QCOMPARE(Count(TransfersViewTypes::downloadListFolderNode), size_t(1));
        QCOMPARE(Count(TransfersViewTypes::downloadListNode), size_t(2));

        setup.engine.manager->RemoveDownload(b);
        setup.engine.manager->RemoveDownload(c);
        QCOMPARE(setup.Downloads()->topLevelItemCount(), 0);
        QCOMPARE(Count(TransfersViewTypes::downloadListUserNode), size_t(0));
        QCOMPARE(Count(TransfersViewTypes::downloadListFolderNode), size_t(0));
        QCOMPARE(Count(TransfersViewTypes::downloadListNode), size_t(0));
    }

    void removedAndAddedAgainTakesTheFreedPlaceOnce()
    {
        ItemPtr kept = setup.Download("ann", "a.mp3", "rock");
        ItemPtr gone = setup.Download("ann", "b.mp3", "rock");
        setup.engine.manager->RemoveDownload(gone);
        setup.Download("ann", "b.mp3", "rock");
        ItemPtr alone = setup.Download("ben", "c.mp3", "jazz");
        setup.engine.manager->RemoveDownload(alone);
        setup.Download("ben", "c.mp3", "jazz");

        QCOMPARE(TopTexts(setup.Downloads()), (QStringList{"ann", "ben"}));
        QTreeWidgetItem* annFolder = setup.Downloads()->topLevelItem(0)->child(0);
        QCOMPARE(Texts(annFolder, Column::FileColumn), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(setup.Downloads()->topLevelItem(1)->childCount(), 1);
        QCOMPARE(Count(TransfersViewTypes::downloadListUserNode), size_t(2));
        QCOMPARE(Count(TransfersViewTypes::downloadListFolderNode), size_t(2));
        QCOMPARE(Count(TransfersViewTypes::downloadListNode), size_t(3));
        QCOMPARE(setup.Row(kept), annFolder->child(0));
    }

    void removalLeavingOneFolderDropsUserRowProgress()
    {
        ItemPtr a = setup.Download("ann", "a.mp3", "x", 2000);
        ItemPtr b = setup.Download("ann", "b.mp3", "y", 2000);
        setup.SetStatus(a, TransferStatus::downloading);
        TransfersViewSetup::SetLive(a, 1000, 100);
        emit setup.engine.manager->DownloadProgressed(a);
        QTreeWidgetItem* ann = setup.Downloads()->topLevelItem(0);
        QVERIFY(TransfersViewSetup::HasBar(ann));

        setup.engine.manager->RemoveDownload(b);
        QVERIFY(!TransfersViewSetup::HasBar(ann));
        QCOMPARE(ann->text(Column::TimeLeftColumn), QString());
    }

    void reconnectedAttributeKeepsOneRow_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("users");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::newRow("file name") << fileName << "renamed.mp3" << QStringList{"ann"} << "rock"
                                   << "renamed.mp3";
        QTest::newRow("remote folder") << remoteFolder << "pop" << QStringList{"ann"} << "pop"
                                       << "a.mp3";
        QTest::newRow("user") << "user"
                              << "cid" << QStringList{"cid"} << "rock"
                              << "a.mp3";
    }

    void reconnectedAttributeKeepsOneRow()
    {
        QFETCH(QString, type);
        QFETCH(QString, value);
        QFETCH(QStringList, users);
        QFETCH(QString, folder);
        QFETCH(QString, file);
        ItemPtr entry = setup.Download("ann", "a.mp3", "rock");

        const QByteArray typeName = type.toUtf8();
        entry.Connect(d.GetType(typeName.constData())->GetItem(Value(value)));

        QCOMPARE(TopTexts(setup.Downloads()), users);
        QTreeWidgetItem* userRow = setup.Downloads()->topLevelItem(0);
        QCOMPARE(Texts(userRow, Column::FolderColumn), QStringList{folder});
        QCOMPARE(Texts(userRow->child(0), Column::FileColumn), QStringList{file});
        QCOMPARE(setup.Row(entry), userRow->child(0)->child(0));
        QCOMPARE(Count(TransfersViewTypes::downloadListNode), size_t(1));
        QCOMPARE(Count(TransfersViewTypes::downloadListFolderNode), size_t(1));
        QCOMPARE(Count(TransfersViewTypes::downloadListUserNode), size_t(1));
    }

    void marksUsersOnlineInBothTrees()
    {
        TransfersViewSetup::Share("/shared/tunes", "song.mp3", 5000);
        setup.Download("eve", "a.mp3", "rock");
        ItemPtr upload = setup.Upload("eve", "/shared/tunes", "song.mp3");
        QVERIFY(!upload.IsNull());
        QTreeWidgetItem* downloadRow = setup.Downloads()->topLevelItem(0);
        QTreeWidgetItem* uploadRow = setup.Uploads()->topLevelItem(0);
        const QImage offline = QIcon(":/icons/offline_icon").pixmap(16).toImage();
        const QImage online = QIcon(":/icons/online_icon").pixmap(16).toImage();
        QCOMPARE(downloadRow->icon(0).pixmap(16).toImage(), offline);

        TransfersTestSetup::User("eve", true);
        QCOMPARE(downloadRow->icon(0).pixmap(16).toImage(), online);
        QCOMPARE(uploadRow->icon(0).pixmap(16).toImage(), online);
        TransfersTestSetup::User("eve", false);
        QCOMPARE(uploadRow->icon(0).pixmap(16).toImage(), offline);

        QCOMPARE(Texts(uploadRow, Column::FolderColumn), QStringList{"tunes/shared"});
        QCOMPARE(Texts(uploadRow->child(0), Column::FileColumn), QStringList{"song.mp3"});
        QCOMPARE(uploadRow->child(0)->child(0)->text(Column::SizeColumn), QString("5,000"));
        QCOMPARE(setup.Uploads()->columnCount(), 8);
        QCOMPARE(setup.Downloads()->columnCount(), 9);
        setup.engine.manager->RemoveUpload(upload);
        QCOMPARE(setup.Uploads()->topLevelItemCount(), 0);
        QCOMPARE(Count(TransfersViewTypes::uploadListNode), size_t(0));
    }

    void showsPlaceInLineUntilStatusChanges()
    {
        ItemPtr entry = setup.Download("ann", "a.mp3", "rock");
        entry.Connect(d.GetType(placeInLine)->GetItem(Value("17")));
        QCOMPARE(setup.Row(entry)->text(Column::PlaceColumn), QString("17"));
        setup.SetStatus(entry, TransferStatus::downloading);
        QCOMPARE(setup.Row(entry)->text(Column::PlaceColumn), QString());
    }

    void newGroupRowsFollowExpandFlags()
    {
        form()->OnActionBarTriggered(nullptr, "expand_download_users");
        setup.Download("ann", "a.mp3", "rock");
        QTreeWidgetItem* ann = setup.Downloads()->topLevelItem(0);
        QVERIFY(!ann->isExpanded());
        QVERIFY(ann->child(0)->isExpanded());
        form()->OnActionBarTriggered(nullptr, "expand_download_users");
        QVERIFY(ann->isExpanded());

        form()->OnActionBarTriggered(nullptr, "expand_download_folders");
        QVERIFY(!ann->child(0)->isExpanded());
        QVERIFY(ann->isExpanded());
        setup.Download("ann", "b.mp3", "pop");
        QVERIFY(!ann->child(1)->isExpanded());
        form()->OnActionBarTriggered(nullptr, "expand_download_folders");
        QVERIFY(ann->child(0)->isExpanded());
        QVERIFY(ann->child(1)->isExpanded());
    }

    void lookupsIgnoreRowsOfNoNode()
    {
        QTreeWidgetItem stray;
        QVERIFY(!form()->GetDownloadNodeUserNode(&stray));
        QVERIFY(form()->GetNodeDownloadEntryItems(&stray).Empty());
        // An address the store still holds for a row that is gone leads nowhere.
        auto* row = new TransferRow(static_cast<QTreeWidget*>(nullptr));
        ItemPtr node =
            d.GetType(TransfersViewTypes::downloadListNode)->GetItem(TransferRow::Address(row));
        delete row;
        QVERIFY(!TransferRow::Of(node));
        node.Remove();
    }

private:
    TransfersForm* form() { return setup.form; }
};

QTEST_MAIN(TransferTreesTest)
#include "tst_trees.moc"
