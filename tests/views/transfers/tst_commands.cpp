#include <QDesktopServices>
#include <QKeyEvent>
#include <QMenu>
#include <QtTest>

#include "CompleteDownloadsForm.h"
#include "DownloadMenuOptions.h"
#include "EntryRemoval.h"
#include "EventToolBar.h"
#include "TransfersViewSetup.h"
#include "TransfersViewTypes.h"
#include "Type.h"
#include "ui_CompleteDownloadsForm.h"

using namespace TransferTypes;
using Column = TransfersForm::Column;

namespace {
// The menu's entries, "|" for a separator and "name>" for a submenu followed by its entries.
QStringList Texts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions())
    {
        if (action->isSeparator())
            texts << "|";
        else if (action->menu())
            texts << action->text() + ">" << Texts(action->menu());
        else
            texts << action->text();
    }
    return texts;
}

QAction* Find(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions())
    {
        if (action->text() == text)
            return action;
        if (action->menu())
            if (QAction* inner = Find(action->menu(), text))
                return inner;
    }
    return nullptr;
}

ItemPtr UserItem(const QString& name)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(name));
}

bool Exists(ItemPtr entry)
{
    return g(downloadEntry).Contains(entry) || g(uploadEntry).Contains(entry);
}

QString TimeText(const QDateTime& time)
{
    return time.toString(Qt::TextDate);
}

// The entries of a tree by name: the handles of those the engine drops name freed items.
QHash<QString, ItemPtr> EntriesByName(bool upload)
{
    QHash<QString, ItemPtr> entries;
    for (ItemPtr entry : g(upload ? uploadEntry : downloadEntry))
        entries[upload ? entry[SharesTypes::sharedFile][SharesTypes::sharedFileName].AsString()
                       : entry[fileName].AsString()] = entry;
    return entries;
}

QSet<QString> NamesLeft(bool upload)
{
    const QStringList names = EntriesByName(upload).keys();
    return QSet<QString>(names.begin(), names.end());
}
} // namespace

// What the user commands from the Transfers tab: tool-bar commands, keys, upload controls,
// clearing, completion alerts, context menus and the completed-downloads tab.
class TransferCommandsTest : public QObject
{
    Q_OBJECT

    TransfersViewSetup setup;
    QStringList opened;
    // The announcements, as the tray would show them.
    EventToolBar* bar = nullptr;
    QStringList announced;

    QTreeWidget* Downloads() { return setup.Downloads(); }
    TransfersForm* Form() { return setup.form; }

    void Select(std::initializer_list<QTreeWidgetItem*> rows)
    {
        QTreeWidget* tree = (*rows.begin())->treeWidget();
        tree->clearSelection();
        for (QTreeWidgetItem* row : rows)
            row->setSelected(true);
    }

    // The menu of the selected download rows, as a right click would fill it.
    QStringList DownloadMenu()
    {
        QMenu menu;
        auto options = Form()->FillDownloadsMenu(&menu);
        return Texts(&menu);
    }

    void Press(QTreeWidget* tree, int key)
    {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(tree, &event);
    }

public slots:
    void OnOpenUrl(const QUrl& url) { opened << url.toLocalFile(); }

private slots:
    void initTestCase()
    {
        setup.Build();
        Settings::Set("upload_slots", Value(3));
        Settings::Set("upload_speed_limit", Value(20));
        Settings::Set("upload_speed_limit_enabled", Value("yes"));
        Settings::Set("clear_complete_downloads", Value("yes"));
        Form()->DataLoaded();
        emit setup.engine.manager->TransfersLoaded();
        QDesktopServices::setUrlHandler("file", this, "OnOpenUrl");
        bar = new EventToolBar;
        bar->SetWindowCalls(
            {[](const QString&) {}, [] {}, [this](const QString& text) { announced << text; }});
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler("file");
        delete bar;
        setup.Destroy();
    }

    void cleanup()
    {
        setup.RemoveAll();
        QCoreApplication::processEvents();
        Settings::Clear("clear_complete_downloads");
        Settings::Clear("clear_complete_aborted_uploads");
        opened.clear();
        announced.clear();
    }

    // Runs first, on the values stored before the load.
    void controlsShowStoredSettings()
    {
        Ui_TransfersForm* ui = Form()->Form();
        QCOMPARE(ui->uploadSlotsSpinBox->value(), 3);
        QCOMPARE(ui->uploadLimitSpinBox->value(), 20);
        QVERIFY(ui->uploadLimitCheckBox->isChecked());
        QVERIFY(ui->clearDownloadsCheckBox->isChecked());
        QVERIFY(!ui->clearUploadsCheckBox->isChecked());
        // Showing the stored values wrote nothing back.
        QCOMPARE(Settings::GetText("upload_speed_limit_enabled"), QString("yes"));
        QCOMPARE(setup.engine.manager->GetUploadSpeed(), 0);
    }

    void uploadControlsChangeSettingsAndLimit()
    {
        Ui_TransfersForm* ui = Form()->Form();
        ui->uploadSlotsSpinBox->setValue(5);
        QCOMPARE(Settings::GetText("upload_slots"), QString("5"));

        ui->uploadLimitSpinBox->setValue(0);
        QVERIFY(!ui->uploadLimitCheckBox->isChecked());
        QCOMPARE(Settings::GetText("upload_speed_limit_enabled"), QString("no"));
        QCOMPARE(setup.engine.manager->GetUploadSpeed(), 0);

        ui->uploadLimitSpinBox->setValue(50);
        QVERIFY(ui->uploadLimitCheckBox->isChecked());
        QCOMPARE(Settings::GetText("upload_speed_limit"), QString("50"));
        QCOMPARE(setup.engine.manager->GetUploadSpeed(), 50);

        ui->uploadLimitCheckBox->setChecked(false);
        QCOMPARE(setup.engine.manager->GetUploadSpeed(), 0);
    }

    void clearBoxesWriteYesOrNothing()
    {
        Ui_TransfersForm* ui = Form()->Form();
        ui->clearDownloadsCheckBox->setChecked(false);
        ui->clearDownloadsCheckBox->setChecked(true);
        ui->clearUploadsCheckBox->setChecked(true);
        QCOMPARE(Settings::GetText("clear_complete_downloads"), QString("yes"));
        QCOMPARE(Settings::GetText("clear_complete_aborted_uploads"), QString("yes"));
        ui->clearDownloadsCheckBox->setChecked(false);
        ui->clearUploadsCheckBox->setChecked(false);
        QVERIFY(Settings::Get("clear_complete_downloads").IsNull());
        QVERIFY(Settings::Get("clear_complete_aborted_uploads").IsNull());
    }

    void completedDownloadIsClearedOnlyWhenAsked()
    {
        ItemPtr kept = setup.Download("ann", "a.mp3", "x");
        setup.SetStatus(kept, TransferStatus::complete);
        QCoreApplication::processEvents();
        QVERIFY(Exists(kept));

        Settings::Set("clear_complete_downloads", Value("yes"));
        ItemPtr cleared = setup.Download("ann", "b.mp3", "x");
        setup.SetStatus(cleared, TransferStatus::complete);
        // Not inside the store event that completed it.
        QVERIFY(Exists(cleared));
        QTRY_VERIFY(!Exists(cleared));
        QVERIFY(Exists(kept));
    }

    void completionOfEntryRemovedMeanwhileIsDropped()
    {
        Settings::Set("clear_complete_downloads", Value("yes"));
        ItemPtr entry = setup.Download("ann", "a.mp3", "x");
        entry.Connect(d.GetType(TransfersViewTypes::completeDownloadAlert)->NewItem());
        setup.SetStatus(entry, TransferStatus::complete);
        setup.engine.manager->RemoveDownload(entry);
        ItemPtr other = setup.Download("ann", "b.mp3", "x");
        QCoreApplication::processEvents();
        // The queued completion did not clear, nor announce, anything else.
        QVERIFY(Exists(other));
        QCOMPARE(g(TransfersViewTypes::completeDownloadAlert).Size(), size_t(0));
    }

    void alertsAreConsumedWhenTheirDownloadsComplete()
    {
        ItemPtr a = setup.Download("ann", "a.mp3", "music\\rock");
        ItemPtr b = setup.Download("ann", "b.mp3", "music\\rock");
        ItemPtr c = setup.Download("ann", "c.mp3", "music\\pop");
        Select({setup.Row(a)});
        QMenu fileMenu;
        auto fileOptions = Form()->FillDownloadsMenu(&fileMenu);
        Find(&fileMenu, "File download completes")->trigger();
        Find(&fileMenu, "Folder download completes")->trigger();
        Select({Downloads()->topLevelItem(0)});
        QMenu userMenu;
        auto userOptions = Form()->FillDownloadsMenu(&userMenu);
        Find(&userMenu, "All downloads from user complete")->trigger();
        QCOMPARE(g(TransfersViewTypes::completeDownloadAlert).Size(), size_t(3));
        QVERIFY(!setup.Row(a)->icon(Column::FileColumn).isNull());
        QVERIFY(!Downloads()->topLevelItem(0)->icon(Column::UserColumn).isNull());

        // Offered once per user and folder until consumed.
        Select({setup.Row(b)});
        QVERIFY(!DownloadMenu().contains("Folder download completes"));

        setup.SetStatus(a, TransferStatus::complete);
        QCoreApplication::processEvents();
        QVERIFY(setup.Row(a)->icon(Column::FileColumn).isNull());
        QCOMPARE(g(TransfersViewTypes::completeDownloadAlert).Size(), size_t(2));
        setup.SetStatus(b, TransferStatus::complete);
        QCoreApplication::processEvents();
        QCOMPARE(g(TransfersViewTypes::completeDownloadAlert).Size(), size_t(1));
        setup.SetStatus(c, TransferStatus::complete);
        QCoreApplication::processEvents();
        QCOMPARE(g(TransfersViewTypes::completeDownloadAlert).Size(), size_t(0));
        QVERIFY(Downloads()->topLevelItem(0)->icon(Column::UserColumn).isNull());
        QCOMPARE(announced,
                 (QStringList{"Download of file a.mp3 complete", "Download of folder rock complete",
                              "All download from user ann complete"}));
    }

    // An alert whose downloads were all removed goes with the last of them, and the menu offers
    // it again for new downloads there, which it then announces once.
    void groupAlertGoesWithItsLastDownload_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("userRow");
        QTest::addColumn<QString>("announcement");
        QTest::newRow("folder") << "Folder download completes" << false
                                << "Download of folder rock complete";
        QTest::newRow("user") << "All downloads from user complete" << true
                              << "All download from user ann complete";
    }

    void groupAlertGoesWithItsLastDownload()
    {
        QFETCH(QString, action);
        QFETCH(bool, userRow);
        QFETCH(QString, announcement);
        auto choose = [&](ItemPtr entry) {
            Select({userRow ? Downloads()->topLevelItem(0) : setup.Row(entry)});
        };
        ItemPtr a = setup.Download("ann", "a.mp3", "music\\rock");
        ItemPtr b = setup.Download("ann", "b.mp3", "music\\pop");
        choose(a);
        {
            QMenu menu;
            auto options = Form()->FillDownloadsMenu(&menu);
            Find(&menu, action)->trigger();
        }
        QCOMPARE(g(TransfersViewTypes::completeDownloadAlert).Size(), size_t(1));
        setup.engine.manager->RemoveDownload(a);
        setup.engine.manager->RemoveDownload(b);
        QCOMPARE(g(TransfersViewTypes::completeDownloadAlert).Size(), size_t(0));

        ItemPtr c = setup.Download("ann", "c.mp3", "music\\rock");
        ItemPtr e = setup.Download("ann", "e.mp3", "music\\pop");
        choose(c);
        QVERIFY(DownloadMenu().contains(action));
        setup.SetStatus(c, TransferStatus::complete);
        setup.SetStatus(e, TransferStatus::complete);
        QCoreApplication::processEvents();
        QVERIFY(!announced.contains(announcement));
    }

    void deleteKeyRemovesEachChosenEntryOnce()
    {
        ItemPtr a = setup.Download("ann", "a.mp3", "x");
        ItemPtr b = setup.Download("ann", "b.mp3", "y");
        ItemPtr kept = setup.Download("bob", "c.mp3", "x");
        // The user row and one of its own file rows: every entry once.
        Select({Downloads()->topLevelItem(0), setup.Row(b)});
        Press(Downloads(), Qt::Key_A);
        QVERIFY(Exists(a));
        Press(Downloads(), Qt::Key_Delete);
        QVERIFY(!Exists(a));
        QVERIFY(!Exists(b));
        QVERIFY(Exists(kept));
        QCOMPARE(Downloads()->topLevelItemCount(), 1);
    }

    // One upload slot, taken by the first user; the second user's entry waits in a folder that
    // is then no longer shared. Removing the running one makes the engine refuse and drop the
    // waiting one while the loop still holds it.
    void deleteInUploadsSurvivesEntriesDroppedMeanwhile()
    {
        TransfersViewSetup::Share("/shared/private", "p.mp3", 100);
        TransfersViewSetup::Share("/shared", "r.mp3", 100);
        ItemPtr root = d.GetType(SharesTypes::sharedFolder)->GetItem(Value("/shared"));
        Settings::Set("upload_slots", Value(1));
        ItemPtr running = setup.Upload("ron", "/shared", "r.mp3");
        setup.SetStatus(running, TransferStatus::uploading);
        // Only online users' entries are started, or refused.
        TransfersTestSetup::User("wes", true);
        ItemPtr waiting = setup.Upload("wes", "/shared/private", "p.mp3");
        QCOMPARE(waiting[uploadEntryStatus].AsString(), QString(TransferStatus::queued));
        root[SharesTypes::sharedPublic].Remove();

        setup.Uploads()->selectAll();
        Press(setup.Uploads(), Qt::Key_Delete);
        QVERIFY(!Exists(running));
        QVERIFY(!Exists(waiting));
        QCOMPARE(setup.Uploads()->topLevelItemCount(), 0);
        Settings::Set("upload_slots", Value(5));
        TransfersTestSetup::User("wes", false);
    }

    // Thousands chosen through the menu go a slice per pass; between slices transfers arrive,
    // one for a user whose rows are going, and the engine drops a chosen and a kept one.
    void menuRemovesThousandsInSlices_data()
    {
        QTest::addColumn<bool>("upload");
        QTest::newRow("downloads") << false;
        QTest::newRow("uploads") << true;
    }

    void menuRemovesThousandsInSlices()
    {
        QFETCH(bool, upload);
        const auto& kind = upload ? TransfersForm::uploads : TransfersForm::downloads;
        QTreeWidget* tree = upload ? setup.Uploads() : Downloads();
        auto add = [&](const QString& user, int index) {
            const QString path = QString("/shared/s%1").arg(index % 2);
            const QString name = QString("%1-%2").arg(user).arg(index);
            TransfersViewSetup::Share(path, name, 100);
            upload ? setup.Upload(user, path, name) : setup.Download(user, name, path);
            return name;
        };
        QSet<QString> kept;
        for (int index = 0; index < 1220; ++index)
            add(index < 100 ? "ann" : index < 1200 ? "bob" : "cid", index);
        for (int index = 1201; index < 1220; index += 2)
            kept << QString("cid-%1").arg(index);
        // Group rows of several entries among many rows choose nothing.
        tree->selectAll();
        for (const QString& name : kept)
            Form()->EntryRow(kind, EntriesByName(upload)[name])->setSelected(false);
        auto* removal =
            Form()->findChild<EntryRemoval*>(upload ? "uploadRemoval" : "downloadRemoval");
        removal->SetSlice(1000 * 1000);
        // Hundreds of passes, none of them spent painting under the sanitizers.
        setup.tabs->hide();
        {
            QMenu menu;
            auto options =
                upload ? Form()->FillUploadsMenu(&menu) : Form()->FillDownloadsMenu(&menu);
            Find(&menu, upload ? "Remove uploads" : "Remove downloads")->trigger();
        }
        QVERIFY(tree->selectedItems().isEmpty());
        QVERIFY(NamesLeft(upload).size() > kept.size());
        kept << add("ann", 1220) << add("dan", 1221);
        const EntryRemoval::RemoveOne remove =
            upload ? &TransferQueueManager::RemoveUpload : &TransferQueueManager::RemoveDownload;
        for (const QString& name : {*(NamesLeft(upload) - kept).begin(), QString("cid-1201")})
            (setup.engine.manager->*remove)(EntriesByName(upload)[name]);
        kept.remove("cid-1201");
        // Still under way after the arrivals and the engine's removals.
        QVERIFY(NamesLeft(upload).size() > kept.size());
        QTRY_COMPARE_WITH_TIMEOUT(NamesLeft(upload), kept, 60000);
        removal->SetSlice(EntryRemoval::sliceNs);
        setup.tabs->show();
        for (ItemPtr entry : EntriesByName(upload))
            QCOMPARE(Form()->EntryRow(kind, entry)->treeWidget(), tree);
        QCOMPARE(tree->topLevelItemCount(), 3);
        // The rows brought back show as new ones would.
        QTreeWidgetItem* back = Form()->EntryRow(kind, EntriesByName(upload)["ann-1220"])->parent();
        QVERIFY(back->isExpanded());
        QVERIFY(back->parent()->isExpanded());
    }

    // Clearing by timer or command leaves the user's choice of the rows that stay alone.
    void clearingKeepsTheSelectionOfRowsLeft_data()
    {
        QTest::addColumn<bool>("byTimer");
        QTest::newRow("half-minute tick") << true;
        QTest::newRow("clear command") << false;
    }

    void clearingKeepsTheSelectionOfRowsLeft()
    {
        QFETCH(bool, byTimer);
        TransfersViewSetup::Share("/shared", "a.mp3", 100);
        ItemPtr stale = setup.Upload("olga", "/shared", "a.mp3");
        QTreeWidgetItem* kept =
            Form()->EntryRow(TransfersForm::uploads, setup.Upload("paul", "/shared", "a.mp3"));
        const Value longAgo(TimeText(QDateTime::currentDateTime().addSecs(-400)));
        UserItem("olga").Connect(d.GetType(ServerTypes::lastOnlineStatusChange)->GetItem(longAgo));
        stale.Connect(d.GetType(lastStatusChangeTime)->GetItem(longAgo));
        Select({kept, kept->parent()->parent(), Form()->EntryRow(TransfersForm::uploads, stale)});
        Settings::Set("clear_complete_aborted_uploads", Value("yes"));
        byTimer ? Form()->EveryHalfMinute()
                : Form()->OnActionBarTriggered(nullptr, "clear_complete_and_aborted_uploads");
        QVERIFY(!Exists(stale));
        const QList<QTreeWidgetItem*> selected = setup.Uploads()->selectedItems();
        QCOMPARE(QSet<QTreeWidgetItem*>(selected.begin(), selected.end()),
                 (QSet<QTreeWidgetItem*>{kept, kept->parent()->parent()}));
    }

    void clearsCompleteDownloadsOnCommand()
    {
        ItemPtr done = setup.Download("ann", "a.mp3", "x");
        ItemPtr waiting = setup.Download("ann", "b.mp3", "x");
        setup.SetStatus(done, TransferStatus::complete);
        Form()->OnActionBarTriggered(nullptr, "clear_complete_downloads");
        QVERIFY(!Exists(done));
        QVERIFY(Exists(waiting));
    }

    void clearsFinishedAndStaleUploadsOnCommand()
    {
        for (const char* name : {"u1.mp3", "u2.mp3", "u3.mp3", "u4.mp3"})
            TransfersViewSetup::Share("/shared", name, 100);
        ItemPtr finished = setup.Upload("gone", "/shared", "u1.mp3");
        ItemPtr aborted = setup.Upload("here", "/shared", "u2.mp3");
        ItemPtr stale = setup.Upload("gone", "/shared", "u3.mp3");
        ItemPtr waiting = setup.Upload("here", "/shared", "u4.mp3");
        setup.SetStatus(finished, TransferStatus::complete);
        setup.SetStatus(aborted, TransferStatus::aborted);
        TransfersTestSetup::User("here", true);
        UserItem("gone").Connect(
            d.GetType(ServerTypes::lastOnlineStatusChange)
                ->GetItem(Value(TimeText(QDateTime::currentDateTime().addSecs(-400)))));
        Form()->OnActionBarTriggered(nullptr, "clear_complete_and_aborted_uploads");
        QVERIFY(!Exists(finished));
        QVERIFY(!Exists(aborted));
        QVERIFY(!Exists(stale));
        QVERIFY(Exists(waiting));
        TransfersTestSetup::User("here", false);
    }

    void halfMinuteClearsQueuedUploadsOfUsersLongOffline_data()
    {
        QTest::addColumn<int>("offlineFor");
        QTest::addColumn<int>("changedAgo");
        QTest::addColumn<int>("receivedAgo");
        QTest::addColumn<bool>("boxTicked");
        QTest::addColumn<bool>("removed");
        // A receipt time of -1: the entry never received anything.
        QTest::newRow("offline 301 s, changed 400 s ago") << 301 << 400 << -1 << true << true;
        QTest::newRow("offline 299 s") << 299 << 400 << -1 << true << false;
        QTest::newRow("changed 200 s ago") << 301 << 200 << -1 << true << false;
        QTest::newRow("box not ticked") << 301 << 400 << -1 << false << false;
        // The later of the change and the last receipt counts.
        QTest::newRow("received 200 s ago") << 301 << 400 << 200 << true << false;
        QTest::newRow("received 350 s ago") << 301 << 400 << 350 << true << true;
        QTest::newRow("received before the change") << 301 << 200 << 400 << true << false;
    }

    void halfMinuteClearsQueuedUploadsOfUsersLongOffline()
    {
        QFETCH(int, offlineFor);
        QFETCH(int, changedAgo);
        QFETCH(int, receivedAgo);
        QFETCH(bool, boxTicked);
        QFETCH(bool, removed);
        TransfersViewSetup::Share("/shared", "q.mp3", 100);
        ItemPtr entry = setup.Upload("olga", "/shared", "q.mp3");
        QVERIFY(!entry.IsNull());
        const QDateTime now = QDateTime::currentDateTime().addSecs(3600);
        UserItem("olga").Connect(d.GetType(ServerTypes::lastOnlineStatusChange)
                                     ->GetItem(Value(TimeText(now.addSecs(-offlineFor)))));
        entry.Connect(
            d.GetType(lastStatusChangeTime)->GetItem(Value(TimeText(now.addSecs(-changedAgo)))));
        if (receivedAgo >= 0)
            TransfersViewSetup::SetCell(entry, lastReceiptTime, now.addSecs(-receivedAgo));
        if (boxTicked)
            Settings::Set("clear_complete_aborted_uploads", Value("yes"));
        Form()->EveryHalfMinuteAt(now);
        QCOMPARE(!Exists(entry), removed);
    }

    void addsSelectedUsersToTheList()
    {
        ItemPtr entry = setup.Download("lisa", "a.mp3", "x");
        Select({setup.Row(entry)});
        Form()->OnActionBarTriggered(nullptr, "dl_add_user");
        QVERIFY(UserItem("lisa").IsConnected(ServerTypes::inUserList));
    }

    void doubleClickOpensTheFinishedFile()
    {
        ItemPtr entry = setup.Download("ann", "a.mp3", "music\\rock");
        Form()->OnDownloadListItemDoubleClicked(setup.Row(entry)->parent(), 0);
        QVERIFY(opened.isEmpty());
        Form()->OnDownloadListItemDoubleClicked(setup.Row(entry), 0);
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened[0].startsWith(setup.engine.Downloads()));
        QVERIFY(opened[0].endsWith("/rock/a.mp3"));
        QVERIFY(!opened[0].contains('\\'));
    }

    void menuOfOneUserRowCoversAllItsDownloads()
    {
        setup.Download("ann", "a.mp3", "x");
        setup.Download("ann", "b.mp3", "x");
        setup.Download("ann", "c.mp3", "y");
        Select({Downloads()->topLevelItem(0)});
        const QStringList texts = DownloadMenu();
        QCOMPARE(texts.mid(0, 4),
                 (QStringList{"Open Folder", "Retry downloads", "|", "Remove downloads"}));
        QVERIFY(texts.contains("All downloads from user complete"));
        QVERIFY(!texts.contains("Open File"));
        // The user's own menu follows after a separator.
        QVERIFY(texts.contains("Message user"));
        QCOMPARE(texts[texts.indexOf("Message user") - 1], QString("|"));
    }

    void menuOfRowsOfTwoUsersHasNoUserPart()
    {
        ItemPtr a = setup.Download("ann", "a.mp3", "same");
        ItemPtr b = setup.Download("bob", "b.mp3", "same");
        Select({setup.Row(a), setup.Row(b)});
        const QStringList texts = DownloadMenu();
        QVERIFY(texts.contains("Remove downloads"));
        QVERIFY(!texts.contains("Message user"));
        QVERIFY(!texts.contains("Folder download completes"));
    }

    void menuOfUserRowWithOwnFileRowChoosesTheFile()
    {
        ItemPtr a = setup.Download("ann", "a.mp3", "x");
        setup.Download("ann", "b.mp3", "x");
        Select({Downloads()->topLevelItem(0), setup.Row(a)});
        QMenu menu;
        auto options = Form()->FillDownloadsMenu(&menu);
        auto* downloads = static_cast<DownloadMenuOptions*>(options.front().get());
        QCOMPARE(downloads->entries.Size(), size_t(1));
        QVERIFY(downloads->entries.Contains(a));
        QVERIFY(Texts(&menu).contains("Remove download"));
        QVERIFY(Texts(&menu).contains("Message user"));
    }

    void menuOfGroupRowsOfTwoUsersIsEmpty()
    {
        for (const char* user : {"ann", "bob"})
        {
            setup.Download(user, "a.mp3", "x");
            setup.Download(user, "b.mp3", "x");
        }
        Select({Downloads()->topLevelItem(0), Downloads()->topLevelItem(1)});
        QVERIFY(DownloadMenu().isEmpty());
        Downloads()->clearSelection();
        QVERIFY(DownloadMenu().isEmpty());
    }

    void menuOfOneDownloadFollowsItsStatus_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("openFile");
        QTest::addColumn<bool>("retry");
        QTest::addColumn<bool>("fileAlert");
        QTest::newRow("complete") << "complete" << true << false << false;
        QTest::newRow("downloading") << "downloading" << false << false << true;
        QTest::newRow("aborted") << "aborted" << false << true << true;
    }

    void menuOfOneDownloadFollowsItsStatus()
    {
        QFETCH(QString, status);
        QFETCH(bool, openFile);
        QFETCH(bool, retry);
        QFETCH(bool, fileAlert);
        ItemPtr entry = setup.Download("ann", "a.mp3", "x");
        setup.SetStatus(entry, status.toUtf8().constData());
        Select({setup.Row(entry)});
        const QStringList texts = DownloadMenu();
        QCOMPARE(texts.contains("Open File"), openFile);
        QCOMPARE(texts.contains("Retry download"), retry);
        QCOMPARE(texts.contains("File download completes"), fileAlert);
        QVERIFY(texts.contains("Remove download"));
        QVERIFY(!texts.contains("All downloads from user complete"));
    }

    void menuOffersSearchAgainAndItsActionsReachTheEngine()
    {
        ItemPtr entry = setup.Download("ann", "a.mp3", "x");
        setup.SetStatus(entry, TransferStatus::aborted);
        Select({setup.Row(entry)});
        QVERIFY(!DownloadMenu().join(',').contains("Re-run Search"));
        // As the search views relate them.
        Type* texts = d.GetType(PeerTypes::searchRequestText);
        if (!texts->FindRelation(d.GetType(downloadEntry)))
            texts->RelateToType(d.GetType(downloadEntry), Many, One, false);
        entry.Connect(texts->GetItem(Value("abc")));
        QMenu menu;
        auto options = Form()->FillDownloadsMenu(&menu);
        QVERIFY(Find(&menu, "Re-run Search: abc"));

        Find(&menu, "Retry download")->trigger();
        QCOMPARE(entry[downloadEntryStatus].AsString(), QString("queued"));
        Find(&menu, "Open Folder")->trigger();
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened[0].endsWith("/x"));
        Find(&menu, "Remove download")->trigger();
        QVERIFY(!Exists(entry));
    }

    void menuForgetsEntriesRemovedWhileOpen()
    {
        ItemPtr a = setup.Download("ann", "a.mp3", "x");
        ItemPtr b = setup.Download("ann", "b.mp3", "x");
        Select({setup.Row(a), setup.Row(b)});
        QMenu menu;
        auto options = Form()->FillDownloadsMenu(&menu);
        setup.engine.manager->RemoveDownload(a);
        setup.engine.manager->RemoveDownload(b);
        ItemPtr later = setup.Download("ann", "c.mp3", "x");
        // The actions no longer reach the removed entries; the sanitizer build checks that no
        // freed item is touched.
        Find(&menu, "Retry downloads")->trigger();
        Find(&menu, "Open Folder")->trigger();
        Find(&menu, "Remove downloads")->trigger();
        QVERIFY(opened.isEmpty());
        QVERIFY(Exists(later));
        QCOMPARE(g(TransfersViewTypes::completeDownloadAlert).Size(), size_t(0));
    }

    void uploadMenuOffersOpenFileWhateverTheStatus()
    {
        TransfersViewSetup::Share("/shared/music", "m.mp3", 100);
        ItemPtr entry = setup.Upload("ann", "/shared/music", "m.mp3");
        setup.SetStatus(entry, TransferStatus::aborted);
        setup.Uploads()->clearSelection();
        setup.Uploads()->topLevelItem(0)->child(0)->child(0)->setSelected(true);
        QMenu menu;
        auto options = Form()->FillUploadsMenu(&menu);
        QCOMPARE(Texts(&menu).mid(0, 4),
                 (QStringList{"Open File", "Open Folder", "|", "Remove upload"}));
        Find(&menu, "Open File")->trigger();
        QCOMPARE(opened, QStringList{"/shared/music/m.mp3"});
        Find(&menu, "Remove upload")->trigger();
        QVERIFY(!Exists(entry));
        QCOMPARE(setup.Uploads()->topLevelItemCount(), 0);
    }

    void completedTabListsEarlierAndLaterDownloadsNewestFirst()
    {
        auto record = [](const QString& file, const QDateTime& time) {
            ItemPtr done = d.GetType(completeDownload)->NewItem();
            done.Connect(d.GetType(completeDownloadFilename)->GetItem(Value(file)));
            done.Connect(d.GetType(completeDownloadFileSize)->GetItem(Value("1234567")));
            done.Connect(UserItem("ann"));
            done.Connect(d.GetType(completeDownloadCompletionTime)->GetItem(Value(TimeText(time))));
            return done;
        };
        const QDateTime start = QDateTime::currentDateTime();
        record("early.mp3", start.addSecs(-60));
        record("earliest.mp3", start.addSecs(-90));
        record("earlier.mp3", start.addSecs(-75));
        QVERIFY(!completeDownloadsForm);

        Form()->OnActionBarTriggered(nullptr, "complete_downloads");
        QVERIFY(completeDownloadsForm);
        QTabWidget* tabs = Form()->Form()->transfersTabControl;
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(2), QString("Complete"));
        emit setup.engine.manager->CompleteDownloadAdded(record("late.mp3", start));
        emit setup.engine.manager->CompleteDownloadAdded(record("middle.mp3", start.addSecs(-30)));

        QTreeWidget* list = completeDownloadsForm->Form()->downloadList;
        QStringList files;
        for (int row = 0; row < list->topLevelItemCount(); ++row)
            files << list->topLevelItem(row)->text(CompleteDownloadsForm::FileColumn);
        QCOMPARE(files, (QStringList{"late.mp3", "middle.mp3", "early.mp3", "earlier.mp3",
                                     "earliest.mp3"}));
        QCOMPARE(list->topLevelItem(0)->text(CompleteDownloadsForm::SizeColumn),
                 QString("1234567"));
        QCOMPARE(list->topLevelItem(0)->text(CompleteDownloadsForm::UserColumn), QString("ann"));

        CompleteDownloadsForm* first = completeDownloadsForm;
        Form()->OnActionBarTriggered(nullptr, "complete_downloads");
        QCOMPARE(completeDownloadsForm, first);
        QCOMPARE(tabs->count(), 3);
        // A second load adds no row twice.
        completeDownloadsForm->DataLoaded();
        QCOMPARE(list->topLevelItemCount(), 5);
    }
};

QTEST_MAIN(TransferCommandsTest)
#include "tst_commands.moc"
