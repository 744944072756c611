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

bool WriteFile(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("abc") == 3;
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
        WriteFile(path + "/a.txt");
        return path;
    }

    // Opens the dialog for a new folder (empty path) or for the shared folder's row.
    AddSharedFolderDialog* OpenDialog(const QString& path = QString())
    {
        if (path.isEmpty())
        {
            run->Window()->OnToolBarActionTriggered(Page()->fileSharingOptionsTab, "share_folder");
        }
        else
        {
            SelectFolderRow(path);
            run->Window()->OnSetFolderPermissions();
        }
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
        Page()->sharedFoldersList->clearSelection();
        if (QTreeWidgetItem* row = FolderRow(path))
            row->setSelected(true);
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
        AddSharedFolderDialog* dialog = OpenDialog();
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
        QTest::newRow("groups") << false << false << QStringList{"friends", "beta", "Alpha"}
                                << "Alpha, beta, friends";
        QTest::newRow("nobody") << false << false << QStringList() << "";
    }

    void addsFolderWithEachAudience()
    {
        QFETCH(bool, everyone);
        QFETCH(bool, userList);
        QFETCH(QStringList, groups);
        const QString path = ShareWith(everyone, userList, groups);
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

    void editLoadsTheAudienceAndEveryoneKeepsGroups()
    {
        const QString path = ShareWith(false, false, {"friends"});
        AddSharedFolderDialog* dialog = OpenDialog(path);
        QVERIFY(dialog);
        auto* ui = dialog->Form();
        QCOMPARE(ui->selectedFolderEdit->text(), path);
        QVERIFY(!ui->selectFolderButton->isEnabled());
        QVERIFY(!ui->userListCheckBox->isChecked());
        QVERIFY(ui->groupsListWidget->isEnabled());
        QCOMPARE(Row(ui->groupsListWidget, "friends")->checkState(), Qt::Checked);
        QCOMPARE(Row(ui->groupsListWidget, "family")->checkState(), Qt::Unchecked);
        ui->everyoneCheckBox->setChecked(true);
        QVERIFY(ui->userListCheckBox->isChecked() && !ui->userListCheckBox->isEnabled());
        QVERIFY(!ui->groupsListWidget->isEnabled());
        ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(GroupsOf(Folder(path)), QStringList{"friends"});
        QCOMPARE(Audience(path), QString("Everyone"));
        // The page follows the store, whoever changes it.
        Folder(path).Disconnect(sharedPublic);
        QCOMPARE(Audience(path), QString("friends"));
    }

    void groupsDeletedMeanwhileAreOnlyMadeAgainWhenTicked()
    {
        for (const char* name : {"gone ticked", "gone unticked"})
            d.GetType(userListGroup)->GetItem(Value(name));
        chosenFolder = MakeFolder();
        AddSharedFolderDialog* dialog = OpenDialog();
        QVERIFY(dialog);
        auto* ui = dialog->Form();
        ui->selectFolderButton->click();
        ui->everyoneCheckBox->setChecked(false);
        ui->userListCheckBox->setChecked(false);
        Row(ui->groupsListWidget, "gone ticked")->setCheckState(Qt::Checked);
        Group("gone ticked").Remove();
        Group("gone unticked").Remove();
        ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        QVERIFY(Group("gone unticked").IsNull());
        QCOMPARE(GroupsOf(Folder(chosenFolder)), QStringList{"gone ticked"});
    }

    void folderUnsharedWhileEditedIsNotWritten()
    {
        const QString path = ShareWith(true, true, {});
        AddSharedFolderDialog* dialog = OpenDialog(path);
        QVERIFY(dialog);
        dialog->Form()->everyoneCheckBox->setChecked(false);
        dialog->Form()->userListCheckBox->setChecked(false);
        Row(dialog->Form()->groupsListWidget, "friends")->setCheckState(Qt::Checked);
        SelectFolderRow(path);
        run->Window()->OnUnshareFolder();
        const int friendsFolders = Group("friends").GetItems(sharedFolder).Size();
        dialog->Form()->buttonBox->button(QDialogButtonBox::Ok)->click();
        QTRY_VERIFY(Open<AddSharedFolderDialog>(run->Window()).isEmpty());
        QVERIFY(Folder(path).IsNull());
        QCOMPARE(int(Group("friends").GetItems(sharedFolder).Size()), friendsFolders);
    }

    void folderMenuUnsharesTheSelectedRow()
    {
        // Room below the last row.
        for (ItemPtr folder : d.GetType(sharedFolder)->GetItems())
            sharedFoldersManager->RemoveSharedFolder(folder);
        const QString path = ShareWith(true, true, {});
        QTreeWidget* list = Page()->sharedFoldersList;
        const QPoint onRow = list->visualItemRect(FolderRow(path)).center();
        const QPoint below(5, list->viewport()->height() - 2);
        QVERIFY(!list->itemAt(below));
        auto menuAt = [&](QPoint point) {
            return AnswerMenu(
                [&] { run->Window()->OnSharedFoldersListContextMenuRequested(point); },
                "Unshare Folder");
        };
        QCOMPARE(menuAt(below), QStringList());
        list->clearSelection();
        QCOMPARE(menuAt(onRow), (QStringList{"Set Folder Permissions", "Unshare Folder"}));
        QVERIFY(FolderRow(path));
        SelectFolderRow(path);
        menuAt(onRow);
        QVERIFY(!FolderRow(path));
        QVERIFY(sharedFoldersManager->GetSharedFileItem(path + "/a.txt").IsNull());
    }

    void rescanOpensOneReportPerRescan()
    {
        const QString path = ShareWith(true, true, {});
        run->Window()->OnToolBarActionTriggered(Page()->fileSharingOptionsTab, "rescan_shares");
        QVERIFY(WriteFile(path + "/b.txt"));
        run->Window()->OnToolBarActionTriggered(Page()->fileSharingOptionsTab, "rescan_shares");
        QStringList texts;
        for (SharedFilesRescannedDialog* report : Open<SharedFilesRescannedDialog>(run->Window()))
        {
            QCOMPARE(report->windowTitle(), QString("Shared Files Rescanned"));
            texts << report->Form()->plainTextEdit->toPlainText();
            report->Form()->buttonBox->button(QDialogButtonBox::Ok)->click();
        }
        texts.sort();
        QCOMPARE(texts, (QStringList{"0 files added.\n0 files removed.",
                                     "1 files added.\n0 files removed."}));
        QTRY_VERIFY(run->Window()->findChildren<SharedFilesRescannedDialog*>().isEmpty());
    }

    void extensionsEditorIsOneWindowThatAddsTrimmedEntriesOnce()
    {
        Page()->editExcludedExtensionsButton->click();
        Page()->editExcludedExtensionsButton->click();
        QCOMPARE(Open<ExcludedExtensionsDialog>(run->Window()).size(), 1);
        auto* ui = excludedExtensionsDialog->Form();
        for (const char* typed : {"  .mp3 ", ".mp3", "   ", ".MP3"})
        {
            ui->newExtensionEdit->setText(typed);
            ui->newExtensionButton->click();
            QCOMPARE(ui->newExtensionEdit->text(), QString());
        }
        // Added by other means while open.
        d.GetType(excludedDownloadExtension)->GetItem(Value("nfo"));
        QCOMPARE(Rows(ui->extensionListWidget), (QStringList{".MP3", ".ini", ".mp3", "nfo"}));
        QVERIFY(!Extension(".MP3").IsNull());
        QPointer<ExcludedExtensionsDialog> first = excludedExtensionsDialog;
        first->close();
        QTRY_VERIFY(!first);
        // The next one is built from the store.
        Page()->editExcludedExtensionsButton->click();
        QCOMPARE(Rows(excludedExtensionsDialog->Form()->extensionListWidget),
                 (QStringList{".MP3", ".ini", ".mp3", "nfo"}));
    }

    void removesSelectedEntriesAndStaleRowsQuietly()
    {
        Page()->editExcludedExtensionsButton->click();
        QListWidget* list = excludedExtensionsDialog->Form()->extensionListWidget;
        auto menuAt = [&](QPoint point) {
            return AnswerMenu(
                [&] { excludedExtensionsDialog->OnExtensionListContextMenuRequested(point); },
                "Remove");
        };
        QCOMPARE(menuAt(QPoint(5, list->viewport()->height() - 2)), QStringList());
        Row(list, ".mp3")->setSelected(true);
        Row(list, "nfo")->setSelected(true);
        // Removed elsewhere meanwhile: removing its row must not make it again.
        Extension("nfo").Remove();
        QCOMPARE(menuAt(list->visualItemRect(Row(list, ".mp3")).center()), QStringList{"Remove"});
        QVERIFY(Extension(".mp3").IsNull());
        QVERIFY(Extension("nfo").IsNull());
        QCOMPARE(Rows(list), (QStringList{".MP3", ".ini"}));
        excludedExtensionsDialog->close();
    }
};

QTEST_MAIN(ShareDialogsTest)
#include "tst_share_dialogs.moc"
