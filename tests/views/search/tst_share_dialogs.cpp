#include <functional>
#include <memory>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "AddSharedFolderDialog.h"
#include "Data.h"
#include "ExcludedExtensionsDialog.h"
#include "FileChooser.h"
#include "MainWindow.h"
#include "MainWindowRun.h"
#include "RoomViews.h"
#include "SearchViews.h"
#include "ServerTypes.h"
#include "SharedFilesRescannedDialog.h"
#include "SharedFoldersManager.h"
#include "SharesTypes.h"
#include "TransferTypes.h"
#include "UserViews.h"
#include "ui_AddSharedFolderDialog.h"
#include "ui_ExcludedExtensionsDialog.h"
#include "ui_SharedFilesRescannedDialog.h"
#include "ui_mainwindow.h"

using namespace SharesTypes;
using ServerTypes::userListGroup;
using TransferTypes::excludedDownloadExtension;

namespace {
ItemPtr Folder(const QString& path)
{
    return d.GetType(sharedFolder)->HasItem(Value(path));
}

ItemPtr Group(const QString& name)
{
    return d.GetType(userListGroup)->HasItem(Value(name));
}

ItemPtr Extension(const QString& text)
{
    return d.GetType(excludedDownloadExtension)->HasItem(Value(text));
}

QStringList GroupsOf(ItemPtr folder)
{
    QStringList names;
    for (ItemPtr group : folder.GetItems(userListGroup))
        names << group.AsString();
    names.sort();
    return names;
}

QStringList Rows(QListWidget* list)
{
    QStringList texts;
    for (int index = 0; index < list->count(); ++index)
        texts << list->item(index)->text();
    return texts;
}

QListWidgetItem* Row(QListWidget* list, const QString& text)
{
    const QList<QListWidgetItem*> rows = list->findItems(text, Qt::MatchExactly);
    return rows.isEmpty() ? nullptr : rows.first();
}

// The visible dialogs of a class; closed ones may wait for their deletion a little longer.
template <class Dialog> QList<Dialog*> Open(QWidget* parent)
{
    QList<Dialog*> open;
    for (Dialog* dialog : parent->findChildren<Dialog*>())
        if (dialog->isVisible())
            open << dialog;
    return open;
}

// Runs the request of a context menu and answers the menu, if one opens, with the entry named
// (none: just close it). Gives the entries the menu showed.
QStringList AnswerMenu(const std::function<void()>& request, const QString& entry = QString())
{
    QStringList texts;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions())
            texts << action->text();
        for (QAction* action : menu->actions())
            if (action->text() == entry)
                action->trigger();
        menu->close();
    });
    request();
    // A request that opened nothing returns at once; let the answer run all the same.
    QTest::qWait(0);
    return texts;
}
} // namespace

// The share dialogs and the File Sharing page, in one client with real folders on disk.
class ShareDialogsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;
    QTemporaryDir disk;
    QString chosenFolder;
    int folderCount = 0;

    Ui_MainWindow* Page() { return run->Form(); }

    // A new folder on disk holding one file, a.txt.
    QString MakeFolder()
    {
        const QString path = QString("%1/share%2").arg(disk.path()).arg(++folderCount);
        QDir().mkpath(path);
        QFile file(path + "/a.txt");
        file.open(QIODevice::WriteOnly);
        file.write("abc");
        return path;
    }

    AddSharedFolderDialog* OpenAddDialog()
    {
        run->Window()->OnToolBarActionTriggered(Page()->fileSharingOptionsTab, "share_folder");
        const QList<AddSharedFolderDialog*> open = Open<AddSharedFolderDialog>(run->Window());
        return open.size() == 1 ? open.first() : nullptr;
    }

    AddSharedFolderDialog* OpenEditDialog(const QString& path)
    {
        SelectFolderRow(path);
        run->Window()->OnSetFolderPermissions();
        const QList<AddSharedFolderDialog*> open = Open<AddSharedFolderDialog>(run->Window());
        return open.size() == 1 ? open.first() : nullptr;
    }

    QTreeWidgetItem* FolderRow(const QString& path)
    {
        const QList<QTreeWidgetItem*> rows =
            Page()->sharedFoldersList->findItems(path, Qt::MatchExactly | Qt::MatchCaseSensitive);
        return rows.isEmpty() ? nullptr : rows.first();
    }

    void SelectFolderRow(const QString& path)
    {
        Page()->sharedFoldersList->setCurrentItem(FolderRow(path));
    }

    QString Audience(const QString& path)
    {
        QTreeWidgetItem* row = FolderRow(path);
        return row ? row->text(1) : QString("<no row>");
    }

    // Shares a folder through the dialog with the audience given.
    QString ShareWith(bool everyone, bool userList, const QStringList& groups)
    {
        chosenFolder = MakeFolder();
        AddSharedFolderDialog* dialog = OpenAddDialog();
        if (!dialog)
            return QString();
        auto* ui = dialog->Form();
        ui->selectFolderButton->click();
        ui->everyoneCheckBox->setChecked(everyone);
        ui->userListCheckBox->setChecked(userList);
        for (const QString& group : groups)
            Row(ui->groupsListWidget, group)->setCheckState(Qt::Checked);
        ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        return chosenFolder;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(disk.isValid());
        RoomViews::Install();
        UserViews::Install();
        SearchViews::Install();
        FileChooser::SetHandlerForTesting(
            [this](FileChooser::Kind, const QString&) { return chosenFolder; });
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
        for (const char* name : {"friends", "family", "beta", "Alpha"})
            d.GetType(userListGroup)->GetItem(Value(name));
    }

    void cleanupTestCase()
    {
        FileChooser::SetHandlerForTesting({});
        run.reset();
    }

    void addsFolderWithEachAudience_data()
    {
        QTest::addColumn<bool>("everyone");
        QTest::addColumn<bool>("userList");
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<QString>("shown");
        QTest::newRow("everyone") << true << true << QStringList() << "Everyone";
        QTest::newRow("user list") << false << true << QStringList() << "User List";
        QTest::newRow("groups") << false << false << QStringList{"friends", "family"}
                                << "family, friends";
        QTest::newRow("nobody") << false << false << QStringList() << "";
    }

    void addsFolderWithEachAudience()
    {
        QFETCH(bool, everyone);
        QFETCH(bool, userList);
        QFETCH(QStringList, groups);
        const QString path = ShareWith(everyone, userList, groups);
        QVERIFY(!path.isEmpty());
        ItemPtr folder = Folder(path);
        QVERIFY(!folder.IsNull());
        QCOMPARE(folder.IsConnected(sharedPublic), everyone);
        QCOMPARE(folder.IsConnected(sharedUserlist), !everyone && userList);
        groups.sort();
        QCOMPARE(GroupsOf(folder), groups);
        // Shared at once: the folder's file is offered before any rescan.
        QVERIFY(!sharedFoldersManager->GetSharedFileItem(path + "/a.txt").IsNull());
        QTEST(Audience(path), "shown");
        QTRY_VERIFY(Open<AddSharedFolderDialog>(run->Window()).isEmpty());
    }

    void addingSharedPathAgainRewritesItsAudience()
    {
        const QString path = ShareWith(true, true, {});
        const int folders = d.GetType(sharedFolder)->GetItems().Size();
        AddSharedFolderDialog* dialog = OpenAddDialog();
        QVERIFY(dialog);
        dialog->Form()->selectFolderButton->click();
        dialog->Form()->everyoneCheckBox->setChecked(false);
        dialog->Form()->buttonBox->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(int(d.GetType(sharedFolder)->GetItems().Size()), folders);
        QCOMPARE(int(Folder(path).GetItems(sharedFolderId).Size()), 1);
        QVERIFY(!Folder(path).IsConnected(sharedPublic));
        QVERIFY(Folder(path).IsConnected(sharedUserlist));
        QCOMPARE(Audience(path), QString("User List"));
    }

    void editLoadsTheAudienceAndEveryoneKeepsGroups()
    {
        const QString path = ShareWith(false, false, {"friends"});
        AddSharedFolderDialog* dialog = OpenEditDialog(path);
        QVERIFY(dialog);
        auto* ui = dialog->Form();
        QVERIFY(!dialog->isModal());
        QCOMPARE(ui->selectedFolderEdit->text(), path);
        QVERIFY(!ui->selectFolderButton->isEnabled());
        QVERIFY(!ui->selectedFolderEdit->isEnabled());
        QVERIFY(!ui->everyoneCheckBox->isChecked());
        QVERIFY(!ui->userListCheckBox->isChecked());
        QVERIFY(ui->userListCheckBox->isEnabled());
        QVERIFY(ui->groupsListWidget->isEnabled());
        QCOMPARE(Row(ui->groupsListWidget, "friends")->checkState(), Qt::Checked);
        QCOMPARE(Row(ui->groupsListWidget, "family")->checkState(), Qt::Unchecked);
        QCOMPARE(Rows(ui->groupsListWidget).first(), QString("Alpha"));

        ui->everyoneCheckBox->setChecked(true);
        QVERIFY(ui->userListCheckBox->isChecked());
        QVERIFY(!ui->userListCheckBox->isEnabled());
        QVERIFY(!ui->groupsListWidget->isEnabled());
        ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(GroupsOf(Folder(path)), QStringList{"friends"});
        QCOMPARE(Audience(path), QString("Everyone"));
        QTRY_VERIFY(Open<AddSharedFolderDialog>(run->Window()).isEmpty());

        dialog = OpenEditDialog(path);
        QVERIFY(dialog);
        QVERIFY(dialog->Form()->everyoneCheckBox->isChecked());
        QVERIFY(!dialog->Form()->groupsListWidget->isEnabled());
        QCOMPARE(Row(dialog->Form()->groupsListWidget, "friends")->checkState(), Qt::Checked);
        // Cancel writes nothing.
        dialog->Form()->everyoneCheckBox->setChecked(false);
        dialog->Form()->userListCheckBox->setChecked(false);
        dialog->Form()->buttonBox->button(QDialogButtonBox::Cancel)->click();
        QVERIFY(Folder(path).IsConnected(sharedPublic));

        // The page follows the store, whoever changes it.
        Folder(path).Disconnect(sharedPublic);
        QCOMPARE(Audience(path), QString("friends"));
        Folder(path).Connect(d.GetType(userListGroup)->GetItem(Value("beta")));
        Folder(path).Connect(d.GetType(userListGroup)->GetItem(Value("Alpha")));
        QCOMPARE(Audience(path), QString("Alpha, beta, friends"));
    }

    void groupsDeletedMeanwhileAreOnlyMadeAgainWhenTicked()
    {
        for (const char* name : {"gone ticked", "gone unticked"})
            d.GetType(userListGroup)->GetItem(Value(name));
        chosenFolder = MakeFolder();
        AddSharedFolderDialog* dialog = OpenAddDialog();
        QVERIFY(dialog);
        auto* ui = dialog->Form();
        ui->selectFolderButton->click();
        ui->everyoneCheckBox->setChecked(false);
        ui->userListCheckBox->setChecked(false);
        Row(ui->groupsListWidget, "gone ticked")->setCheckState(Qt::Checked);
        Group("gone ticked").Remove();
        Group("gone unticked").Remove();
        ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        QVERIFY(!Group("gone ticked").IsNull());
        QVERIFY(Group("gone unticked").IsNull());
        QCOMPARE(GroupsOf(Folder(chosenFolder)), QStringList{"gone ticked"});
    }

    void okWithoutFolderStaysOpenAndCancelledPickerKeepsPath()
    {
        const int folders = d.GetType(sharedFolder)->GetItems().Size();
        chosenFolder.clear();
        AddSharedFolderDialog* dialog = OpenAddDialog();
        QVERIFY(dialog);
        QVERIFY(!dialog->isModal());
        auto* ui = dialog->Form();
        ui->selectFolderButton->click();
        ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        QVERIFY(dialog->isVisible());
        QCOMPARE(int(d.GetType(sharedFolder)->GetItems().Size()), folders);
        chosenFolder = MakeFolder();
        ui->selectFolderButton->click();
        chosenFolder.clear();
        ui->selectFolderButton->click();
        QCOMPARE(ui->selectedFolderEdit->text(),
                 disk.path() + QString("/share%1").arg(folderCount));
        dialog->reject();
    }

    void folderUnsharedWhileEditedIsNotWritten()
    {
        const QString path = ShareWith(true, true, {});
        AddSharedFolderDialog* dialog = OpenEditDialog(path);
        QVERIFY(dialog);
        dialog->Form()->everyoneCheckBox->setChecked(false);
        dialog->Form()->userListCheckBox->setChecked(false);
        Row(dialog->Form()->groupsListWidget, "friends")->setCheckState(Qt::Checked);
        SelectFolderRow(path);
        run->Window()->OnUnshareFolder();
        QVERIFY(Folder(path).IsNull());
        const int friendsFolders = Group("friends").GetItems(sharedFolder).Size();
        dialog->Form()->buttonBox->button(QDialogButtonBox::Ok)->click();
        QTRY_VERIFY(Open<AddSharedFolderDialog>(run->Window()).isEmpty());
        QVERIFY(Folder(path).IsNull());
        QVERIFY(!FolderRow(path));
        QCOMPARE(int(Group("friends").GetItems(sharedFolder).Size()), friendsFolders);
    }

    void unshareRemovesRowAndFilesOnlyWithSelection()
    {
        const QString path = ShareWith(true, true, {});
        const int rows = Page()->sharedFoldersList->topLevelItemCount();
        Page()->sharedFoldersList->setCurrentItem(nullptr);
        run->Window()->OnUnshareFolder();
        run->Window()->OnSetFolderPermissions();
        QCOMPARE(Page()->sharedFoldersList->topLevelItemCount(), rows);
        QVERIFY(Open<AddSharedFolderDialog>(run->Window()).isEmpty());

        SelectFolderRow(path);
        run->Window()->OnUnshareFolder();
        QCOMPARE(Page()->sharedFoldersList->topLevelItemCount(), rows - 1);
        QVERIFY(!FolderRow(path));
        QVERIFY(sharedFoldersManager->GetSharedFileItem(path + "/a.txt").IsNull());
        QVERIFY(d.GetType(sharedFileFolder)->HasItem(Value(path)) == nullptr);
    }

    void folderMenuOpensOnlyOverRows()
    {
        // Room below the last row.
        for (ItemPtr folder : d.GetType(sharedFolder)->GetItems())
            sharedFoldersManager->RemoveSharedFolder(folder);
        QCOMPARE(Page()->sharedFoldersList->topLevelItemCount(), 0);
        const QString path = ShareWith(true, true, {});
        QTreeWidget* list = Page()->sharedFoldersList;
        list->scrollToItem(FolderRow(path));
        const QPoint onRow = list->visualItemRect(FolderRow(path)).center();
        const QPoint below(5, list->viewport()->height() - 2);
        QVERIFY(!list->itemAt(below));
        QCOMPARE(AnswerMenu([&] { run->Window()->OnSharedFoldersListContextMenuRequested(below); }),
                 QStringList());
        // The entries act on the selected row, not on the one under the cursor.
        SelectFolderRow(path);
        QCOMPARE(AnswerMenu([&] { run->Window()->OnSharedFoldersListContextMenuRequested(onRow); },
                            "Unshare Folder"),
                 (QStringList{"Set Folder Permissions", "Unshare Folder"}));
        QVERIFY(Folder(path).IsNull());
    }

    void rescanOpensOneReportPerRescan()
    {
        const QString path = ShareWith(true, true, {});
        run->Window()->OnToolBarActionTriggered(Page()->fileSharingOptionsTab, "rescan_shares");
        QFile added(path + "/b.txt");
        QVERIFY(added.open(QIODevice::WriteOnly));
        added.close();
        run->Window()->OnToolBarActionTriggered(Page()->fileSharingOptionsTab, "rescan_shares");
        const QList<SharedFilesRescannedDialog*> reports =
            Open<SharedFilesRescannedDialog>(run->Window());
        QCOMPARE(reports.size(), 2);
        QStringList texts;
        for (SharedFilesRescannedDialog* report : reports)
        {
            QCOMPARE(report->windowTitle(), QString("Shared Files Rescanned"));
            QVERIFY(!report->isModal());
            texts << report->Form()->plainTextEdit->toPlainText();
        }
        texts.sort();
        QCOMPARE(texts, (QStringList{"0 files added.\n0 files removed.",
                                     "1 files added.\n0 files removed."}));
        for (SharedFilesRescannedDialog* report : reports)
            report->Form()->buttonBox->button(QDialogButtonBox::Ok)->click();
        QTRY_VERIFY(run->Window()->findChildren<SharedFilesRescannedDialog*>().isEmpty());
    }

    void extensionsEditorIsOneWindowBuiltFromTheStore()
    {
        Page()->editExcludedExtensionsButton->click();
        QPointer<ExcludedExtensionsDialog> first = excludedExtensionsDialog;
        QVERIFY(first);
        QVERIFY(first->isVisible());
        // The first run's entry.
        QCOMPARE(Rows(first->Form()->extensionListWidget), QStringList{".ini"});
        Page()->editExcludedExtensionsButton->click();
        QCOMPARE(Open<ExcludedExtensionsDialog>(run->Window()).size(), 1);
        QCOMPARE(excludedExtensionsDialog, first.data());
        first->close();
        QTRY_VERIFY(!first);
        QVERIFY(!excludedExtensionsDialog);
        d.GetType(excludedDownloadExtension)->GetItem(Value(".log"));
        Page()->editExcludedExtensionsButton->click();
        QVERIFY(excludedExtensionsDialog);
        QCOMPARE(Rows(excludedExtensionsDialog->Form()->extensionListWidget),
                 (QStringList{".ini", ".log"}));
        excludedExtensionsDialog->close();
        QTRY_VERIFY(!excludedExtensionsDialog);
        Extension(".log").Remove();
    }

    void newExtensionsAreTrimmedAndListedOnce()
    {
        Page()->editExcludedExtensionsButton->click();
        auto* ui = excludedExtensionsDialog->Form();
        auto type = [&](const QString& text) {
            ui->newExtensionEdit->setText(text);
            ui->newExtensionButton->click();
            return ui->newExtensionEdit->text();
        };
        QCOMPARE(type("  .mp3 "), QString());
        QVERIFY(!Extension(".mp3").IsNull());
        QCOMPARE(type(".mp3"), QString());
        QCOMPARE(type("   "), QString());
        QCOMPARE(type(".MP3"), QString());
        // Added by other means while open.
        d.GetType(excludedDownloadExtension)->GetItem(Value("nfo"));
        QCOMPARE(Rows(ui->extensionListWidget), (QStringList{".MP3", ".ini", ".mp3", "nfo"}));
        QVERIFY(!Extension(".MP3").IsNull());
    }

    void removesSelectedEntriesAndStaleRowsQuietly()
    {
        Page()->editExcludedExtensionsButton->click();
        auto* ui = excludedExtensionsDialog->Form();
        QListWidget* list = ui->extensionListWidget;
        const QPoint below(5, list->viewport()->height() - 2);
        QVERIFY(!list->itemAt(below));
        QCOMPARE(AnswerMenu(
                     [&] { excludedExtensionsDialog->OnExtensionListContextMenuRequested(below); }),
                 QStringList());
        Row(list, ".mp3")->setSelected(true);
        Row(list, "nfo")->setSelected(true);
        // Removed elsewhere meanwhile: removing its row must not make it again.
        Extension("nfo").Remove();
        const QPoint onRow = list->visualItemRect(Row(list, ".mp3")).center();
        QCOMPARE(AnswerMenu(
                     [&] { excludedExtensionsDialog->OnExtensionListContextMenuRequested(onRow); },
                     "Remove"),
                 QStringList{"Remove"});
        QVERIFY(Extension(".mp3").IsNull());
        QVERIFY(Extension("nfo").IsNull());
        QVERIFY(!Extension(".MP3").IsNull());
        QCOMPARE(Rows(list), (QStringList{".MP3", ".ini"}));
        excludedExtensionsDialog->close();
    }
};

QTEST_MAIN(ShareDialogsTest)
#include "tst_share_dialogs.moc"
