#include <memory>

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolTip>
#include <QTreeWidget>
#include <QtTest>

#include "ActionSetToolBar.h"
#include "BrowseTypes.h"
#include "ClosedTabRemoval.h"
#include "CompressedBody.h"
#include "Data.h"
#include "FakePeer.h"
#include "FilterHelpDialog.h"
#include "FolderRowPlan.h"
#include "GeneralFunctions.h"
#include "MainWindow.h"
#include "MainWindowRun.h"
#include "MessengerTestSetup.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "RoomViews.h"
#include "SearchForm.h"
#include "SearchResultMenuOptions.h"
#include "SearchResultsForm.h"
#include "SearchViews.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "ShareForm.h"
#include "ShareListBody.h"
#include "SharedFoldersManager.h"
#include "SharesForm.h"
#include "SharesTypes.h"
#include "TabFocus.h"
#include "TransferQueueManager.h"
#include "TransferTypes.h"
#include "UploadForm.h"
#include "UserMenuOptions.h"
#include "UserViews.h"
#include "ViewAddress.h"
#include "ViewHooks.h"
#include "ui_ShareForm.h"
#include "ui_SharesForm.h"
#include "ui_mainwindow.h"

using namespace SharesTypes;

namespace {
struct SharedFile
{
    std::string folder;
    std::string name;
    qint64 size;
    QList<QPair<int, int>> attributes;
};

FileInfoMap ShareMap(const QList<SharedFile>& files, const QStringList& emptyFolders = {})
{
    FileInfoMap folders;
    for (const QString& folder : emptyFolders)
        folders[folder.toStdString()];
    for (const SharedFile& file : files)
    {
        FileInfo info;
        info.name = file.name;
        info.size = file.size;
        for (const auto& attribute : file.attributes)
            info.attributes.pairs.push_back({attribute.first, attribute.second});
        folders[file.folder].insert(info);
    }
    return folders;
}

// A code-5 answer as a peer sends it.
QByteArray ShareListFrame(const FileInfoMap& folders)
{
    ShareListBody list;
    list.folders = folders;
    MemStream body;
    MemStream message;
    list.Write(body);
    CompressedBody::Compress(5, body, message);
    return QByteArray(message.GetWrittenData(), message.GetWrittenLength());
}

const QList<SharedFile> nestedShare = {
    {"x", "a.mp3", 1234567, {{0, 192}, {1, 3725}, {2, 1}}},
    {"x\\y", "b.txt", 10, {}},
    {"x\\y\\z", "c.ini", 20, {}},
};

QStringList Texts(QTreeWidget* tree, int column = 0, bool visibleOnly = false)
{
    QStringList texts;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
    {
        bool visible = true;
        for (QTreeWidgetItem* row = *it; row; row = row->parent())
            visible = visible && !row->isHidden();
        if (!visibleOnly || visible)
            texts << (*it)->text(column);
    }
    return texts;
}

QTreeWidgetItem* Row(QTreeWidget* tree, const QString& text)
{
    const QList<QTreeWidgetItem*> rows =
        tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return rows.isEmpty() ? nullptr : rows.first();
}

ItemPtr User(const QString& name)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(name));
}

// "folder\name level single" of each download of the user, in queue order.
QStringList Downloads(const QString& user)
{
    QStringList texts;
    const auto entries = User(user)
                             .GetItems(TransferTypes::downloadEntry)
                             .SortNumericBy(TransferTypes::downloadOrder, true);
    for (ItemPtr entry : entries)
        texts << QString("%1\\%2 %3%4")
                     .arg(entry[TransferTypes::remoteFolder].AsString(),
                          entry[TransferTypes::fileName].AsString(),
                          entry[TransferTypes::subfolderSaveLevel].AsString(),
                          entry.IsConnected(TransferTypes::singleDownload) ? " single" : "");
    return texts;
}

// The local folder of each download of the user, in queue order.
QStringList LocalFolders(const QString& user)
{
    QStringList folders;
    for (ItemPtr entry : User(user)
                             .GetItems(TransferTypes::downloadEntry)
                             .SortNumericBy(TransferTypes::downloadOrder, true))
        folders << transferQueueManager->GetDownloadRelativeDownloadFolder(entry);
    return folders;
}

QStringList MenuTexts(QMenu& menu)
{
    QStringList texts;
    for (QAction* action : menu.actions())
        texts << action->text();
    return texts;
}
// One peer's answer to the search of the token, stored and announced as the messenger does.
// Each file is its folder's bytes, whatever their encoding, and its name.
void AnswerSearch(unsigned int token, const QString& user, const QList<QByteArrayList>& files)
{
    using namespace PeerTypes;
    ItemPtr answer = d.GetType(searchResults)->NewItem();
    answer.Connect(d.GetType(searchRequest)->GetItem(Value(token)));
    answer.Connect(User(user));
    for (const QByteArrayList& file : files)
    {
        ItemPtr result = answer.NewItem(searchResult);
        result.Connect(d.GetType(searchResultFileFolder)->GetItem(Value(file.at(0).toStdString())));
        result.Connect(d.GetType(searchResultFileName)->GetItem(Value(file.at(1).toStdString())));
        result.Connect(d.GetType(fileSize)->GetItem(Value(100)));
    }
    emit peerMessenger->SearchResults(answer);
}

// A shared root of the local user's, open to everyone, with its files (folder path, name) as a
// scan enters them.
void SharePublicly(const std::string& rootPath,
                   const std::vector<std::pair<std::string, std::string>>& files)
{
    ItemPtr root = d.GetType(sharedFolder)->GetItem(Value(rootPath));
    root.NewItem(sharedPublic);
    for (const auto& [folderPath, name] : files)
    {
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value(folderPath));
        root.Connect(folder);
        ItemPtr file = folder.NewItem(sharedFile);
        file.Connect(d.GetType(sharedFileName)->GetItem(Value(name)));
        file.Connect(d.GetType(sharedFileSize)->GetItem(Value(100)));
    }
}

// The tool tip that the tree shows over the row, or an empty text when it shows none.
QString ToolTipOver(QTreeWidget* tree, QTreeWidgetItem* row)
{
    QToolTip::hideText();
    // A tool tip fades out a moment after it is hidden.
    if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 5000))
        return "still shown";
    // Over the name's own cell, where a user reads it.
    const QPoint at(tree->header()->sectionViewportPosition(0) + 4,
                    tree->visualItemRect(row).center().y());
    QHelpEvent event(QEvent::ToolTip, at, tree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree->viewport(), &event);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

QTreeWidgetItem* FileRow(QTreeWidget* tree, const QString& name)
{
    const QList<QTreeWidgetItem*> rows =
        tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive, 4);
    return rows.isEmpty() ? nullptr : rows.first();
}

// The search texts that the user's downloads are linked to.
QStringList DownloadTexts(const QString& user)
{
    QStringList texts;
    for (ItemPtr entry : User(user).GetItems(TransferTypes::downloadEntry))
    {
        const QString text = entry[PeerTypes::searchRequestText].AsString();
        if (!text.isEmpty() && !texts.contains(text))
            texts << text;
    }
    return texts;
}

} // namespace

class BrowseTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;
    unsigned int nextToken = 7000;

    // A peer that the client reaches when it asks the user for anything.
    struct Sharer
    {
        FakePeer peer;
        QString name;
    };

    std::unique_ptr<Sharer> NewSharer(const QString& name)
    {
        auto sharer = std::make_unique<Sharer>();
        sharer->name = name;
        MessengerTestSetup::SetUserAddress(name, sharer->peer.Listen());
        User(name).NewItem(ServerTypes::isOnline);
        return sharer;
    }

    // Opens the tab; null unless the peer was asked for its list.
    ShareForm* Browse(Sharer& sharer)
    {
        const int before = sharer.peer.frames.size();
        ShareForm* form = sharesForm->OpenShareBrowse(sharer.name);
        const bool asked = QTest::qWaitFor(
            [&] { return sharer.peer.frames.mid(before).contains(FakePeer::Body(4u)); }, 5000);
        return asked ? form : nullptr;
    }

    // Sends the list and waits until the tab shows it.
    bool Answer(Sharer& sharer, ShareForm* form, const FileInfoMap& folders)
    {
        sharer.peer.SendFrame(ShareListFrame(folders));
        return QTest::qWaitFor([=] { return !form->Share().IsNull() && !form->IsFilling(); }, 5000);
    }

    void Close(QWidget* page)
    {
        QTabWidget* tabs = sharesForm->Form()->tabControl;
        sharesForm->OnTabCloseRequested(tabs->indexOf(page));
    }

private slots:
    void initTestCase()
    {
        RoomViews::Install();
        UserViews::Install();
        SearchViews::Install();
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
        QVERIFY(sharesForm);
        run->Form()->tabControl->setCurrentWidget(run->Form()->sharesTab);
    }

    void cleanupTestCase() { run.reset(); }

    SearchResultsForm* OpenResults(const QString& text)
    {
        ItemPtr request = d.GetType(PeerTypes::searchRequest)->NewItem(Value(++nextToken));
        request.Connect(d.GetType(PeerTypes::searchRequestText)->GetItem(Value(text)));
        return searchForm->CreateSearchForm(nextToken, text, NetworkSearch);
    }

    void doubleClickQueuesByRowKind()
    {
        SearchResultsForm* form = OpenResults("clicks");
        AnswerSearch(nextToken, "clicker",
                     {{"m\\b", "b.ini"}, {"m\\b", "a.mp3"}, {"m\\a", "z.mp3"}, {"m\\a", "c.mp3"}});
        QTreeWidget* tree = form->searchResults();
        // A file alone is queued whatever its ending, and marked.
        QTreeWidgetItem* excluded = FileRow(tree, "b.ini");
        form->OnResultDoubleClicked(excluded, 0);
        QCOMPARE(Downloads("clicker"), QStringList{"m\\b\\b.ini 0 single"});
        QVERIFY(!excluded->icon(4).isNull());
        // Its folder passes it over.
        form->OnResultDoubleClicked(excluded->parent(), 0);
        QCOMPARE(Downloads("clicker").size(), 2);
        QCOMPARE(Downloads("clicker").last(), QString("m\\b\\a.mp3 0"));
        // The user row takes every folder, hidden rows too, folder then name.
        form->filterEdit()->setText("nomatch");
        form->OnResultDoubleClicked(tree->topLevelItem(0), 0);
        QCOMPARE(Downloads("clicker").mid(2), (QStringList{"m\\a\\c.mp3 0", "m\\a\\z.mp3 0"}));
        QCOMPARE(DownloadTexts("clicker"), QStringList{"clicks"});
        form->OnResultDoubleClicked(nullptr, 0);
        QCOMPARE(Downloads("clicker").size(), 4);
    }

    void folderMenuUsesItsOwnRowAndTab()
    {
        // The same folder answered to two searches, by users A, B, then A again.
        SearchResultsForm* first = OpenResults("first");
        const unsigned int firstToken = nextToken;
        SearchResultsForm* second = OpenResults("second");
        AnswerSearch(nextToken, "ownerA", {{"shared\\f", "a1.mp3"}});
        AnswerSearch(firstToken, "ownerB", {{"shared\\f", "b1.mp3"}, {"shared\\f", "b0.ini"}});
        AnswerSearch(firstToken, "ownerA", {{"shared\\f", "a2.mp3"}});

        QTreeWidget* tree = first->searchResults();
        QTreeWidgetItem* folderB = FileRow(tree, "b1.mp3")->parent();
        QMenu menu;
        SearchResultMenuOptions options(&menu, folderB, nullptr);
        QCOMPARE(options.User(), QString("ownerB"));
        QCOMPARE(options.SearchText(), QString("first"));
        QCOMPARE(MenuTexts(menu), (QStringList{"Download Folder(s)", "Browse Folder"}));
        tree->clearSelection();
        folderB->setSelected(true);
        options.OnDownloadFolder();
        QCOMPARE(Downloads("ownerB"), QStringList{"shared\\f\\b1.mp3 0"});
        QCOMPARE(DownloadTexts("ownerB"), QStringList{"first"});

        QTreeWidgetItem* folderA = FileRow(second->searchResults(), "a1.mp3")->parent();
        SearchResultMenuOptions secondOptions(&menu, folderA, nullptr);
        QCOMPARE(secondOptions.User(), QString("ownerA"));
        QCOMPARE(secondOptions.SearchText(), QString("second"));

        QMenu userMenu;
        SearchResultMenuOptions none(&userMenu, tree->topLevelItem(0), nullptr);
        QVERIFY(userMenu.actions().isEmpty());
        QMenu fileMenu;
        SearchResultMenuOptions file(&fileMenu, FileRow(tree, "a2.mp3"), nullptr);
        QCOMPARE(MenuTexts(fileMenu),
                 (QStringList{"Download File(s)", "Download Folder(s)", "Browse Folder"}));
        QCOMPARE(file.User(), QString("ownerA"));
    }

    void downloadCommandsTakeTheSelection()
    {
        SearchResultsForm* form = OpenResults("chosen");
        AnswerSearch(
            nextToken, "chooser",
            {{"p\\one", "z.mp3"}, {"p\\one", "y.ini"}, {"p\\two", "c.mp3"}, {"p\\two", "a.mp3"}});
        QTreeWidget* tree = form->searchResults();
        tree->setSelectionMode(QAbstractItemView::MultiSelection);
        QTreeWidgetItem* z = FileRow(tree, "z.mp3");
        QMenu menu;
        SearchResultMenuOptions options(&menu, z, nullptr);
        // A folder row among the chosen rows does not stop the files after it.
        z->parent()->setSelected(true);
        z->setSelected(true);
        FileRow(tree, "c.mp3")->setSelected(true);
        options.OnDownloadFile();
        QCOMPARE(Downloads("chooser"), (QStringList{"p\\one\\z.mp3 0", "p\\two\\c.mp3 0"}));
        // One folder row and a file of the other: both folders, in one name order.
        tree->clearSelection();
        z->parent()->setSelected(true);
        FileRow(tree, "a.mp3")->setSelected(true);
        options.OnDownloadFolder();
        QCOMPARE(Downloads("chooser").mid(2), QStringList{"p\\two\\a.mp3 0"});
        tree->clearSelection();
        FileRow(tree, "y.ini")->setSelected(true);
        options.OnDownloadFile();
        QCOMPARE(Downloads("chooser").last(), QString("p\\one\\y.ini 0 single"));
    }

    // Subfolders of one name at different places, or folders of one name from different places,
    // must not share a local folder: their files would be mixed or taken for each other's.
    void folderDownloadsOfOneNameLandApart()
    {
        auto sharer = NewSharer("twins");
        ShareForm* form = Browse(*sharer);
        QVERIFY(form);
        QVERIFY(Answer(
            *sharer, form,
            ShareMap({{"x\\a\\c\\Music", "01.mp3", 1, {}}, {"x\\b\\c\\Music", "01.mp3", 2, {}}},
                     {"x", "x\\a", "x\\a\\c", "x\\b", "x\\b\\c"})));
        form->OnFolderDoubleClicked(Row(form->FolderTree(), "x"), 0);
        QCOMPARE(LocalFolders("twins"), (QStringList{"x\\a\\c\\Music", "x\\b\\c\\Music"}));
        Close(form);

        SearchResultsForm* results = OpenResults("music");
        AnswerSearch(nextToken, "namesake", {{"p\\Music", "01.mp3"}, {"q\\Music", "01.mp3"}});
        QTreeWidget* tree = results->searchResults();
        tree->setSelectionMode(QAbstractItemView::MultiSelection);
        QMenu menu;
        SearchResultMenuOptions options(&menu, FileRow(tree, "01.mp3"), nullptr);
        for (QTreeWidgetItem* row :
             tree->findItems("01.mp3", Qt::MatchExactly | Qt::MatchRecursive, 4))
            row->setSelected(true);
        options.OnDownloadFolder();
        QCOMPARE(LocalFolders("namesake"), (QStringList{"Music", "Music (2)"}));
    }

    void browseFolderOpensTheUsersTab()
    {
        auto sharer = NewSharer("resultsharer");
        SearchResultsForm* form = OpenResults("browsing");
        AnswerSearch(nextToken, "resultsharer", {{"x\\y", "b.txt"}});
        QMenu menu;
        SearchResultMenuOptions options(&menu, FileRow(form->searchResults(), "b.txt"), nullptr);
        options.OnBrowseFolder();
        ItemPtr tab = User("resultsharer")[BrowseTypes::userShareTab];
        QVERIFY(!tab.IsNull());
        auto* browse = tab.AsPointer<ShareForm>();
        QVERIFY(QTest::qWaitFor([&] { return sharer->peer.frames.contains(FakePeer::Body(4u)); },
                                5000));
        // The folder asked for before the list came is shown when it comes.
        QVERIFY(Answer(*sharer, browse, ShareMap(nestedShare)));
        QCOMPARE(browse->FolderTree()->currentItem()->text(0), QString("y"));
        QCOMPARE(Texts(browse->FileList()), QStringList{"b.txt"});
        browse->BrowseToFolder(std::string("not\\there"));
        QCOMPARE(browse->FolderTree()->currentItem()->text(0), QString("y"));
        Close(browse);
    }

    void userMenuOffersBrowseAndUpload()
    {
        QMenu menu;
        UserMenuOptions options(&menu, "menuuser");
        QVERIFY(MenuTexts(menu).contains("Browse user's files"));
        QVERIFY(MenuTexts(menu).contains("Upload to user"));
    }

    void browsedListBuildsTreeAndQueuesFolder()
    {
        auto sharer = NewSharer("nester");
        ShareForm* form = Browse(*sharer);
        QVERIFY(form);
        QCOMPARE(form->Form()->messageBrowser->toPlainText(), QString("Requesting file list..."));
        QVERIFY(!form->FolderTree()->isVisibleTo(form));
        QVERIFY(Answer(*sharer, form, ShareMap(nestedShare)));

        QTreeWidget* folders = form->FolderTree();
        QVERIFY(folders->isVisibleTo(form));
        QCOMPARE(Texts(folders), (QStringList{"x", "y", "z"}));
        QTreeWidgetItem* x = Row(folders, "x");
        QCOMPARE(Row(folders, "z")->parent(), Row(folders, "y"));
        QVERIFY(x->isExpanded());
        QCOMPARE(form->TreeDepth(), 2);

        folders->setCurrentItem(x);
        QTreeWidget* files = form->FileList();
        QCOMPARE(files->topLevelItemCount(), 1);
        QTreeWidgetItem* a = files->topLevelItem(0);
        QCOMPARE(QStringList({a->text(0), a->text(1), a->text(2)}),
                 (QStringList{"a.mp3", "1,234,567", "192 VBR, 1h2m5s"}));

        // The excluded ending ".ini" is passed over by a folder download.
        sharer->peer.frames.clear();
        form->OnFolderDoubleClicked(x, 0);
        QCOMPARE(Downloads("nester"), (QStringList{"x\\a.mp3 0", "x\\y\\b.txt 1"}));
        QVERIFY(!a->icon(0).isNull());
        QVERIFY(sharer->peer.WaitForFrames(2));
        QCOMPARE(sharer->peer.frames.first(), FakePeer::Body(43u, std::string("x\\a.mp3")));

        // A file chosen alone is queued whatever its ending.
        folders->setCurrentItem(Row(folders, "z"));
        form->OnFileDoubleClicked(files->topLevelItem(0), 0);
        QCOMPARE(Downloads("nester").last(), QString("x\\y\\z\\c.ini 0 single"));
        Close(form);
    }

    void toolBarBrowseOpensTheUsersTab()
    {
        auto* field = new QLineEdit(sharesForm);
        field->show();
        actionBar->RegisterWidget(field, "user");
        actionBar->AddWidgetKey(field, "user", "tool&bar");
        FocusWidgetAndParents(field);
        QTRY_COMPARE(actionBar->GetKey("user"), QString("tool&bar"));
        run->Window()->OnToolBarActionTriggered(field, "browse_user");
        auto* form = ViewAddress::Find<ShareForm>(User("tool&bar")[BrowseTypes::userShareTab]);
        QVERIFY(form);
        QTabWidget* tabs = sharesForm->Form()->tabControl;
        QCOMPARE(tabs->currentWidget(), form);
        // The name shows as it is, not as a shortcut.
        QCOMPARE(tabs->tabText(tabs->indexOf(form)), QString("tool&&bar"));
        delete field;
        Close(form);
    }

    void secondBrowseSendsNothingAndRepeatedListIsIgnored()
    {
        auto first = NewSharer("repeatA");
        auto second = NewSharer("repeatB");
        ShareForm* formA = Browse(*first);
        ShareForm* formB = Browse(*second);
        QVERIFY(formA && formB);
        const QList<SharedFile> music = {{"Music", "song.mp3", 5, {}}};
        // Answers come A, B, then A again with another list.
        QVERIFY(Answer(*first, formA, ShareMap(music)));
        QVERIFY(Answer(*second, formB,
                       ShareMap(music + QList<SharedFile>{{"Music\\B", "b.mp3", 6, {}}})));
        ItemPtr shareA = formA->Share();
        int arrived = 0;
        QObject counting;
        connect(peerMessenger, &PeerMessenger::UserShare, &counting, [&arrived] { ++arrived; });
        // Only a list we asked for is taken (the transfers' empty-share check asks too); the
        // shown tab must still ignore it.
        first->peer.frames.clear();
        peerMessenger->GetUserSharedFiles("repeatA");
        QVERIFY(first->peer.WaitForFrames(1));
        QCOMPARE(first->peer.frames.first(), FakePeer::Body(4u));
        first->peer.SendFrame(ShareListFrame(ShareMap({{"Other", "o.mp3", 1, {}}})));
        QTRY_COMPARE_WITH_TIMEOUT(arrived, 1, 5000);
        first->peer.frames.clear();
        QCOMPARE(sharesForm->OpenShareBrowse("repeatA"), formA);
        // Frames of one link keep their order: no list request went before this one.
        peerMessenger->GetUserInfo("repeatA");
        QVERIFY(first->peer.WaitForFrames(1));
        QCOMPARE(first->peer.frames.first(), FakePeer::Body(15u));

        QCOMPARE(formA->Share(), shareA);
        QCOMPARE(Texts(formA->FolderTree()), QStringList{"Music"});
        QCOMPARE(Texts(formB->FolderTree()), (QStringList{"Music", "B"}));
        ItemPtr name = d.GetType(userShareFolderName)->HasItem(Value("Music"));
        QCOMPARE(int(name.GetItems(userShareFolder).Size()), 2);
        // Each tab's folder leads to its own share.
        formA->FolderTree()->setCurrentItem(Row(formA->FolderTree(), "Music"));
        QCOMPARE(Texts(formA->FileList()), QStringList{"song.mp3"});
        formB->OnFolderDoubleClicked(Row(formB->FolderTree(), "Music"), 0);
        QCOMPARE(Downloads("repeatB"), (QStringList{"Music\\song.mp3 0", "Music\\B\\b.mp3 1"}));
        QCOMPARE(Downloads("repeatA"), QStringList());
        Close(formA);
        Close(formB);
    }

    void listAfterCloseIsDropped()
    {
        auto sharer = NewSharer("closer");
        ShareForm* form = Browse(*sharer);
        QVERIFY(form);
        QPointer<ShareForm> watched(form);
        Close(form);
        QVERIFY(User("closer")[BrowseTypes::userShareTab].IsNull());
        QTRY_VERIFY(watched.isNull());
        int arrived = 0;
        QObject counting;
        connect(peerMessenger, &PeerMessenger::UserShare, &counting, [&arrived] { ++arrived; });
        sharer->peer.SendFrame(ShareListFrame(ShareMap(nestedShare)));
        QTRY_COMPARE_WITH_TIMEOUT(arrived, 1, 5000);
        QVERIFY(User("closer")[userShare].IsNull());
        QVERIFY(sharesForm->Form()->tabControl->indexOf(watched) < 0);
        // A later browse asks again.
        ShareForm* again = Browse(*sharer);
        QVERIFY(again);
        Close(again);
    }

    void conversionKeepsPathsAndAttributes()
    {
        FileInfoMap map = ShareMap(
            {{"x\\y", "f.mp3", -1, {{0, -5}, {7, 1}, {2, 0}}}, {"p\\q\\", "g", 1, {}}}, {"p"});
        AttributeTranslationTable table;
        ItemPtr share = SharesForm::CreateUserShareData(map, table);
        ItemPtr xy = ItemPtr(d.GetType(userShareFolderName)->HasItem(Value("x\\y")))
                         .GetItems(userShareFolder)
                         .Connected(share);
        // Its parent is not in the list: a top-level folder without a parent link.
        QVERIFY(!xy.IsConnected(userShareFolderParent));
        ItemPtr file = xy[userShareFile];
        QCOMPARE(file[PeerTypes::bitrate].AsString(), QString("-5"));
        QCOMPARE(file[PeerTypes::bitrateMode].AsString(), QString("cbr"));
        QVERIFY(file[PeerTypes::lengthSeconds].IsNull());
        QCOMPARE(file[PeerTypes::fileSize].AsString(), QString("-1"));
        ItemPtr pq = ItemPtr(d.GetType(userShareFolderName)->HasItem(Value("p\\q\\")))
                         .GetItems(userShareFolder)
                         .Connected(share);
        ItemPtr p = pq[userShareFolderParent][userShareFolderChild][userShareFolder];
        QCOMPARE(p[userShareFolderName].AsString(), QString("p"));
        for (ItemPtr folder : share.GetItems(userShareFolder))
            folder.GetItems(userShareFile).Remove();
        share.GetItems(userShareFolder).Remove();
        share.Remove();
    }

    void emptyListAndFailedLinkAreReported()
    {
        auto empty = NewSharer("emptyone");
        ShareForm* form = Browse(*empty);
        QVERIFY(form);
        // A failure of another user or of a file link is not this tab's.
        emit peerMessenger->ConnectionToUserFailed("someone", "P");
        emit peerMessenger->ConnectionToUserFailed("emptyone", "F");
        QCOMPARE(form->Form()->messageBrowser->toPlainText(), QString("Requesting file list..."));
        emit peerMessenger->ConnectionToUserFailed("emptyone", "P");
        emit peerMessenger->ConnectionToUserFailed("emptyone", "P");
        const QString html = form->Form()->messageBrowser->toHtml();
        QCOMPARE(html.count("Check here"), 1);
        QVERIFY(html.contains("porttest.php?port="));
        // A list arriving after the failure is still shown.
        QVERIFY(Answer(*empty, form, FileInfoMap()));
        QVERIFY(form->Form()->messageBrowser->toPlainText().contains("No files returned."));
        QVERIFY(!form->FolderTree()->isVisibleTo(form));
        Close(form);
    }

    void filterKeepsFoldersNamedByTheWords()
    {
        auto sharer = NewSharer("filterer");
        ShareForm* form = Browse(*sharer);
        QVERIFY(form);
        QVERIFY(Answer(*sharer, form,
                       ShareMap({{"jazz", "one.mp3", 1, {}},
                                 {"jazz\\live", "two.mp3", 1, {}},
                                 {"jazz\\live\\bad", "three.mp3", 1, {}},
                                 {"rock", "jazzy.mp3", 1, {}},
                                 {"rock\\sub", "four.mp3", 1, {}}})));
        QTreeWidget* folders = form->FolderTree();
        folders->setCurrentItem(Row(folders, "live"));
        form->FilterEdit()->setText("jazz");
        // The word in a folder's name lets its files through; "rock" stays for its file's name.
        QCOMPARE(Texts(folders, 0, true), (QStringList{"jazz", "live", "bad", "rock"}));
        QCOMPARE(Texts(form->FileList()), QStringList{"two.mp3"});
        form->FilterEdit()->setText("jazz -bad");
        QCOMPARE(Texts(folders, 0, true), (QStringList{"jazz", "live", "rock"}));
        form->FilterEdit()->setText("-live");
        QCOMPARE(Texts(folders, 0, true), (QStringList{"jazz", "rock", "sub"}));
        QCOMPARE(form->FileList()->topLevelItemCount(), 0);
        form->FilterEdit()->clear();
        QCOMPARE(Texts(form->FileList()), QStringList{"two.mp3"});

        // The help is the result tabs' one window, however often it is asked for.
        auto* help = form->findChild<QPushButton*>("filterHelpButton");
        QVERIFY(help && help->isEnabled());
        help->click();
        help->click();
        QVERIFY(filterHelpDialog && filterHelpDialog->isVisible());
        int open = 0;
        for (QWidget* window : QApplication::topLevelWidgets())
            open += qobject_cast<FilterHelpDialog*>(window) ? 1 : 0;
        QCOMPARE(open, 1);
        Close(form);
    }

    void expandLevelStopsAtTreeDepth()
    {
        auto sharer = NewSharer("expander");
        Settings::Set(BrowseTypes::expandNewShares, "no");
        ShareForm* form = Browse(*sharer);
        QVERIFY(form);
        QVERIFY(Answer(*sharer, form,
                       ShareMap({{"a\\b\\c\\d", "f", 1, {}}}, {"a", "a\\b", "a\\b\\c"})));
        Settings::Set(BrowseTypes::expandNewShares, "yes");
        QTreeWidget* folders = form->FolderTree();
        QCOMPARE(form->TreeDepth(), 3);
        auto expanded = [folders] {
            QStringList texts;
            for (QTreeWidgetItemIterator it(folders); *it; ++it)
                if ((*it)->isExpanded())
                    texts << (*it)->text(0);
            return texts;
        };
        QCOMPARE(expanded(), QStringList());
        sharesForm->OnToolBarActionTriggered(nullptr, "expand_level");
        QCOMPARE(expanded(), QStringList{"a"});
        sharesForm->OnToolBarActionTriggered(nullptr, "expand_level");
        sharesForm->OnToolBarActionTriggered(nullptr, "expand_level");
        QCOMPARE(expanded(), (QStringList{"a", "b", "c"}));
        sharesForm->OnToolBarActionTriggered(nullptr, "collapse_all");
        sharesForm->OnToolBarActionTriggered(nullptr, "expand_level");
        QCOMPARE(expanded(), QStringList{"a"});
        sharesForm->OnToolBarActionTriggered(nullptr, "expand_all");
        QVERIFY(Row(folders, "c")->isExpanded());
        sharesForm->OnToolBarActionTriggered(nullptr, "collapse_all");
        QCOMPARE(expanded(), QStringList());
        Close(form);
    }

    void deeplyNestedShareStaysBounded()
    {
        auto sharer = NewSharer("deep");
        ShareForm* form = Browse(*sharer);
        QVERIFY(form);
        const int depth = 1000;
        QList<SharedFile> files;
        std::string path = "d";
        for (int level = 0; level < depth; ++level)
        {
            files.push_back({path, "f" + std::to_string(level), 1, {}});
            path += "\\d";
        }
        QVERIFY(Answer(*sharer, form, ShareMap(files)));
        QTreeWidget* folders = form->FolderTree();
        QCOMPARE(form->TreeDepth(), ShareTreeForm::maxRowDepth);
        int rows = 0;
        for (QTreeWidgetItemIterator it(folders); *it; ++it)
            ++rows;
        QCOMPARE(rows, depth);
        // The deepest folder is still found, named by its path below the deepest row shown.
        form->BrowseToFolder(files.last().folder);
        QTreeWidgetItem* deepest = folders->currentItem();
        QCOMPARE(ShareTreeForm::FolderRowName(deepest).count('\\'),
                 depth - 1 - ShareTreeForm::maxRowDepth);
        // The row itself holds no more than it shows.
        QCOMPARE(deepest->text(0).size(), maxShownNameLength);
        QCOMPARE(Texts(form->FileList()), QStringList{QString("f%1").arg(depth - 1)});
        form->FilterEdit()->setText("-nothing");
        QCOMPARE(Texts(folders, 0, true).size(), depth);
        // Rows below the shown depth are siblings, yet a folder takes its whole store subtree.
        form->BrowseToFolder(files.at(depth - 50).folder);
        form->OnFolderDoubleClicked(folders->currentItem(), 0);
        const QStringList queued = Downloads("deep");
        QCOMPARE(queued.size(), 50);
        QVERIFY(queued.first().endsWith(QString("f%1 0").arg(depth - 50)));
        QVERIFY(queued.last().endsWith(QString("f%1 49").arg(depth - 1)));
        Close(form);
        QVERIFY(User("deep")[userShare].IsNull());
    }

    void folderRowsHangFromTheirNearestListedFolder_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<bool>("ignoreCase");
        QTest::addColumn<int>("maxDepth");
        // Each row as made, "depth name", parents first.
        QTest::addColumn<QStringList>("rows");
        const QStringList cased{"m", "m\\b", "m\\C"};
        QTest::newRow("nested") << QStringList{"x\\y\\z", "x", "x\\y"} << true << 100
                                << QStringList{"0 x", "1 y", "2 z"};
        QTest::newRow("unlisted middle folder")
            << QStringList{"a", "a\\b\\c"} << true << 100 << QStringList{"0 a", "1 b\\c"};
        QTest::newRow("name holding a separator")
            << QStringList{"\\pub", "\\pub\\AC\\DC", "\\pub\\AC\\DC\\live"} << false << 100
            << QStringList{"0 pub", "1 AC\\DC", "2 live"};
        QTest::newRow("no listed ancestor")
            << QStringList{"r", "p\\q"} << true << 100 << QStringList{"0 q", "0 r"};
        QTest::newRow("siblings without regard to case")
            << cased << true << 100 << QStringList{"0 m", "1 b", "1 C"};
        QTest::newRow("siblings in byte order")
            << cased << false << 100 << QStringList{"0 m", "1 C", "1 b"};
        QTest::newRow("trailing separator")
            << QStringList{"t", "t\\u\\"} << true << 100 << QStringList{"0 t", "1 u"};
        QTest::newRow("longer name is no parent") << QStringList{"ab\\d", "ab!c", "ab"} << false
                                                  << 100 << QStringList{"0 ab", "0 ab!c", "1 d"};
        QTest::newRow("longer name is no parent, in byte order")
            << QStringList{"ab", "ab!c", "ab!c\\e", "ab\\d"} << false << 100
            << QStringList{"0 ab", "0 ab!c", "1 e", "1 d"};
        QTest::newRow("below the depth cap")
            << QStringList{"a", "a\\b", "a\\b\\c", "a\\b\\c\\d"} << true << 1
            << QStringList{"0 a", "1 b", "1 b\\c", "1 b\\c\\d"};
    }
    void folderRowsHangFromTheirNearestListedFolder()
    {
        QFETCH(QStringList, paths);
        QFETCH(bool, ignoreCase);
        QFETCH(int, maxDepth);
        std::vector<std::string> bytes;
        for (const QString& path : paths)
            bytes.push_back(path.toStdString());
        std::vector<const std::string*> pointers;
        for (const std::string& path : bytes)
            pointers.push_back(&path);
        const FolderRowPlan plan(pointers, ignoreCase, maxDepth);
        QStringList made;
        for (const FolderRowPlan::Row& row : plan.Rows())
        {
            const std::string* parent = row.parent < 0 ? nullptr : pointers[row.parent];
            made << QString("%1 %2").arg(row.depth).arg(
                QString::fromStdString(FolderRowPlan::NameBelow(*pointers[row.folder], parent)));
        }
        QFETCH(QStringList, rows);
        QCOMPARE(made, rows);
    }

    void longNamesAreShownShortAndReadWhole()
    {
        auto sharer = NewSharer("longnamer");
        ShareForm* form = Browse(*sharer);
        QVERIFY(form);
        const std::string folderName = std::string(131000, 'n') + " tail";
        const std::string fileName = std::string(131000, 'f') + ".mp3";
        QVERIFY(
            Answer(*sharer, form,
                   ShareMap({{"r", "short.mp3", 1, {}}, {"r\\" + folderName, fileName, 2, {}}})));
        QTreeWidget* folders = form->FolderTree();
        QTreeWidget* files = form->FileList();
        QVERIFY(folders->isVisible());
        QVERIFY(folders->uniformRowHeights());
        QVERIFY(files->uniformRowHeights());
        QTreeWidgetItem* longRow = folders->topLevelItem(0)->child(0);
        QCOMPARE(longRow->text(0).size(), maxShownNameLength);
        QVERIFY(longRow->text(0).endsWith(" tail"));
        QCOMPARE(ToolTipOver(folders, longRow), QString::fromStdString(folderName));
        QCOMPARE(ToolTipOver(folders, folders->topLevelItem(0)), QString());

        folders->setCurrentItem(longRow);
        QTreeWidgetItem* fileRow = files->topLevelItem(0);
        QCOMPARE(fileRow->text(0).size(), maxShownNameLength);
        QCOMPARE(ToolTipOver(files, fileRow), QString::fromStdString(fileName));
        // The filter reads the whole name, not the shown one.
        form->FilterEdit()->setText("-tail");
        QCOMPARE(Texts(folders, 0, true), QStringList{"r"});
        form->FilterEdit()->setText("tail");
        QCOMPARE(Texts(folders, 0, true).size(), 2);
        QCOMPARE(files->topLevelItemCount(), 1);
        Close(form);
    }

    void closedTabIsTakenApartInSlices()
    {
        const QList<const char*> types{
            userShare,     userShareFolder,   userShareFolderParent,   userShareFolderChild,
            userShareFile, userShareFileName, BrowseTypes::folderNode, BrowseTypes::fileNode};
        auto counts = [&types] {
            QList<size_t> counted;
            for (const char* type : types)
                counted << d.GetType(type)->ItemCount();
            return counted;
        };
        const QList<size_t> before = counts();
        auto sharer = NewSharer("bigsharer");
        ShareForm* form = Browse(*sharer);
        QVERIFY(form);
        QList<SharedFile> files;
        for (int n = 0; n < ClosedTabRemoval::resultsPerSlice + 500; ++n)
            files.push_back(
                {"big\\part" + std::to_string(n % 3), "file" + std::to_string(n), n, {}});
        QVERIFY(Answer(*sharer, form, ShareMap(files)));
        QTreeWidget* folders = form->FolderTree();
        folders->setCurrentItem(Row(folders, "part1"));
        form->FileList()->selectAll();

        Close(form);
        ClosedTabRemoval& removal = sharesForm->ClosedTabs();
        QVERIFY(User("bigsharer")[userShare].IsNull());
        QVERIFY(!removal.IsEmpty());
        const QList<size_t> closing = counts();
        QCOMPARE(closing.mid(6), before.mid(6));
        QVERIFY(closing.at(4) > before.at(4));
        QTRY_VERIFY(removal.IsEmpty());
        QCOMPARE(counts(), before);
    }

    // The same user browsed again while the closed tab's share is still taken apart: the new
    // tab's folders, files and names share store items with the old one and must survive it.
    void reopenedTabOutlivesTheClosedOnesRemoval()
    {
        auto sharer = NewSharer("returning");
        QList<SharedFile> files;
        for (int n = 0; n < ClosedTabRemoval::resultsPerSlice + 500; ++n)
            files.push_back(
                {"again\\part" + std::to_string(n % 3), "file" + std::to_string(n), n, {}});
        ShareForm* first = Browse(*sharer);
        QVERIFY(first);
        QVERIFY(Answer(*sharer, first, ShareMap(files)));
        Close(first);
        ClosedTabRemoval& removal = sharesForm->ClosedTabs();
        QVERIFY(!removal.IsEmpty());
        ShareForm* second = Browse(*sharer);
        QVERIFY(second);
        QVERIFY(second != first);
        QVERIFY(Answer(*sharer, second, ShareMap(files)));
        QTRY_VERIFY(removal.IsEmpty());

        QTreeWidget* folders = second->FolderTree();
        QCOMPARE(Texts(folders), (QStringList{"part0", "part1", "part2"}));
        folders->setCurrentItem(Row(folders, "part1"));
        QCOMPARE(second->FileList()->topLevelItemCount(), int(files.size() / 3));
        QTreeWidgetItem* row = second->FileList()->topLevelItem(0);
        QVERIFY(ShareTreeForm::FileRowName(row).startsWith("file"));
        Close(second);
    }

    void browseFolderFindsFoldersByTheirBytes_data()
    {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<bool>("fromMenu");
        QTest::addColumn<bool>("listFirst");
        const QByteArray latin1("music\\caf\xe9");
        QTest::newRow("menu, list later") << latin1 << true << false;
        QTest::newRow("menu, list first") << latin1 << true << true;
        QTest::newRow("bytes, list later") << latin1 << false << false;
        QTest::newRow("bytes, list first") << latin1 << false << true;
        QTest::newRow("menu, utf-8") << QByteArray("music\\caf\xc3\xa9") << true << true;
    }

    void browseFolderFindsFoldersByTheirBytes()
    {
        QFETCH(QByteArray, folder);
        QFETCH(bool, fromMenu);
        QFETCH(bool, listFirst);
        const std::string path = folder.toStdString();
        const QString name = QString("bytes %1").arg(QTest::currentDataTag());
        auto sharer = NewSharer(name);
        // A sibling whose Latin-1 byte differs: the text must not lead to it.
        const FileInfoMap list =
            ShareMap({{"music\\caf\xe8", "other.mp3", 1, {}}, {path, "song.mp3", 2, {}}});
        ShareForm* form = Browse(*sharer);
        QVERIFY(form);
        if (listFirst)
            QVERIFY(Answer(*sharer, form, list));
        if (fromMenu)
        {
            SearchResultsForm* results = OpenResults(name);
            AnswerSearch(nextToken, name, {{folder, "song.mp3"}});
            QMenu menu;
            SearchResultMenuOptions options(&menu, FileRow(results->searchResults(), "song.mp3"),
                                            nullptr);
            options.OnBrowseFolder();
        }
        else
        {
            form->BrowseToFolder(path);
        }
        if (!listFirst)
            QVERIFY(Answer(*sharer, form, list));
        QTreeWidgetItem* current = form->FolderTree()->currentItem();
        QVERIFY(current);
        QCOMPARE(ShareTreeForm::FolderOf(current)[userShareFolderName].AsStdString(), path);
        QCOMPARE(Texts(form->FileList()), QStringList{"song.mp3"});
        Close(form);
    }

    void uploadTabPushesFilesAndSubtrees()
    {
        SharePublicly("/pub", {{"/pub", "top.mp3"},
                               {"/pub/Secret", "hidden.mp3"},
                               {"/pub/Secret/inner", "deeper.mp3"},
                               {"/pub/Open", "open.mp3"}});
        User("friend").NewItem(ServerTypes::isOnline);

        UploadForm* form = sharesForm->OpenUploadBrowse("friend");
        QTabWidget* tabs = sharesForm->Form()->tabControl;
        QCOMPARE(tabs->tabText(tabs->indexOf(form)), QString("Upload to friend"));
        QCOMPARE(sharesForm->OpenUploadBrowse("friend"), form);
        QTreeWidget* folders = form->FolderTree();
        QCOMPARE(Texts(folders), (QStringList{"pub", "Open", "Secret", "inner"}));

        form->FilterEdit()->setText("-secret");
        QCOMPARE(Texts(folders, 0, true), (QStringList{"pub", "Open"}));
        form->FilterEdit()->clear();

        folders->setCurrentItem(Row(folders, "Secret"));
        form->OnFolderDoubleClicked(Row(folders, "Secret"), 0);
        QVERIFY(!form->FileList()->topLevelItem(0)->icon(0).isNull());
        folders->setCurrentItem(Row(folders, "pub"));
        QVERIFY(form->FileList()->topLevelItem(0)->icon(0).isNull());
        form->FileList()->topLevelItem(0)->setSelected(true);
        form->OnUploadFile();
        QStringList requested;
        for (ItemPtr entry : User("friend").GetItems(TransferTypes::uploadEntry))
            requested << entry[TransferTypes::filenameAsRequested].AsString();
        requested.sort();
        QCOMPARE(requested, (QStringList{"\\pub\\Secret\\hidden.mp3",
                                         "\\pub\\Secret\\inner\\deeper.mp3", "\\pub\\top.mp3"}));
        QVERIFY(!form->FileList()->topLevelItem(0)->icon(0).isNull());

        const size_t shares = d.GetType(userShare)->ItemCount();
        Close(form);
        QVERIFY(User("friend")[BrowseTypes::uploadShareTab].IsNull());
        QCOMPARE(d.GetType(userShare)->ItemCount(), shares - 1);
    }

    void uploadTabListsOnlyPushableNames()
    {
        SharePublicly(
            "/bs", {{"/bs", "a\\b.mp3"}, {"/bs/AC\\DC", "song.mp3"}, {"/bs/AC\\DC/live", "x.mp3"}});
        User("bsfriend").NewItem(ServerTypes::isOnline);

        UploadForm* form = sharesForm->OpenUploadBrowse("bsfriend");
        QTreeWidget* folders = form->FolderTree();
        // Other tests' shares are offered too; this one's rows are found by name.
        QVERIFY(!Row(folders, "DC"));
        QVERIFY(Row(folders, "live"));
        QCOMPARE(Row(folders, "live")->parent(), Row(folders, "AC\\DC"));
        QCOMPARE(Row(folders, "AC\\DC")->parent(), Row(folders, "bs"));
        // The file whose name holds a backslash could not be pushed: it is not listed.
        folders->setCurrentItem(Row(folders, "bs"));
        QCOMPARE(Texts(form->FileList()), QStringList());
        form->OnFolderDoubleClicked(Row(folders, "bs"), 0);
        QStringList pushed;
        for (ItemPtr entry : User("bsfriend").GetItems(TransferTypes::uploadEntry))
            pushed << entry[TransferTypes::filenameAsRequested].AsString();
        pushed.sort();
        QCOMPARE(pushed, (QStringList{"\\bs\\AC\\DC\\live\\x.mp3", "\\bs\\AC\\DC\\song.mp3"}));
        Close(form);
    }

    // Hands the list to the user's tab as the messenger would, without waiting for the rows.
    ShareForm* Deliver(const QString& user, FileInfoMap list)
    {
        ShareForm* form = sharesForm->OpenShareBrowse(user);
        AttributeTranslationTable table;
        sharesForm->OnUserShare(user, list, table);
        return form;
    }

    void hostileNamesShowOnOneLine_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("inFileList");
        const QString names[][2] = {
            {"long", QString(131000, 'n') + " tail"},
            {"line breaks", QString("line\n").repeated(40)},
            {"direction override", QString("evil") + QChar(0x202E) + "3pm.exe"},
            {"outside the basic plane", QString::fromUcs4(U"\U0001F600").repeated(65500)},
        };
        for (const auto& [tag, name] : names)
            for (const bool inFileList : {false, true})
                QTest::newRow(qPrintable((inFileList ? "file, " : "folder, ") + tag))
                    << name << inFileList;
    }

    void hostileNamesShowOnOneLine()
    {
        QFETCH(QString, name);
        QFETCH(bool, inFileList);
        const std::string bytes = name.toStdString();
        // The hostile row comes first, which sets every row's height.
        ShareForm* form = Deliver(QTest::currentDataTag(),
                                  ShareMap({{bytes, bytes, 1, {}}, {bytes + "\\sub", "s", 1, {}}}));
        QTRY_VERIFY(!form->IsFilling());
        form->FolderTree()->setCurrentItem(form->FolderTree()->topLevelItem(0));
        QTreeWidget* tree = inFileList ? form->FileList() : form->FolderTree();
        QTreeWidgetItem* row = tree->topLevelItem(0);
        QTreeWidget plain;
        auto* ordinary = new QTreeWidgetItem(&plain, {"ordinary.mp3"});
        plain.show();
        QCOMPARE(tree->visualItemRect(row).height(), plain.visualItemRect(ordinary).height());
        const QString shown = row->text(0);
        QVERIFY(shown.size() <= maxShownNameLength);
        QVERIFY(!shown.contains('\n'));
        QVERIFY(!shown.contains(QChar(0x202E)));
        // Half of a surrogate pair would come back as a replacement character.
        QCOMPARE(QString::fromStdU32String(shown.toStdU32String()), shown);
        QCOMPARE(ToolTipOver(tree, row), name);
        Close(form);
    }

    void slicedFillEndsAsAWholeOne_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("filter");
        const QStringList jazz = {"jazz", "live", "bad", "rock"}, all = jazz + QStringList{"sub"};
        const QStringList two = {"two"}, none;
        QTest::newRow("filter typed after") << "after" << jazz << two << "jazz";
        QTest::newRow("filter typed during") << "during" << jazz << two << "jazz";
        QTest::newRow("current folder excluded")
            << "during" << QStringList{"jazz", "rock", "sub"} << none << "-live";
        QTest::newRow("child shows its folders")
            << "after" << QStringList{"jazz", "live", "bad"} << none << "bad";
        QTest::newRow("files in folder") << "after" << none << none << "mfif:2";
        QTest::newRow("second list") << "list" << all << two << "";
        QTest::newRow("share removed") << "removed" << all << none << "";
        QTest::newRow("tab closed") << "close" << none << none << "";
    }

    void slicedFillEndsAsAWholeOne()
    {
        QFETCH(QString, event);
        QFETCH(QString, filter);
        const QString user = QTest::currentDataTag();
        const size_t before = d.GetType(BrowseTypes::folderNode)->ItemCount();
        // Long folder names around short ones make the tab fill, and filter, in several passes.
        QStringList folders = {"jazz", "jazz\\live\\bad", "rock\\sub"};
        for (const char pad : {'w', 'x', 'y', 'z'})
            folders << QString(ShareTreeForm::sliceBudget / 2, pad);
        const QList<SharedFile> files = {{"jazz\\live", "two", 1, {}}, {"rock", "jazzy", 1, {}}};
        QPointer<ShareForm> form = Deliver(user, ShareMap(files, folders));
        QTRY_VERIFY(form->FolderTree()->topLevelItemCount() > 0);
        QVERIFY(form->IsFilling());
        form->BrowseToFolder(std::string("jazz\\live"));
        if (event == "list")
            Deliver(user, ShareMap({{"other", "o.mp3", 1, {}}}));
        if (event == "removed")
            sharedFoldersManager->RemoveUserShare(user);
        if (event == "after")
            QTRY_VERIFY(!form->IsFilling());
        const int made = Texts(form->FolderTree()).size();
        form->FilterEdit()->setText(filter);
        QCOMPARE(form->IsFiltering(), event == "after");
        if (event != "close")
        {
            QTRY_VERIFY(!form->IsFilling() && !form->IsFiltering());
            QTEST(Texts(form->FolderTree(), 0, true).filter(QRegularExpression("^[a-z]+$")),
                  "folders");
            QTEST(Texts(form->FileList()), "files");
            // Rows are made for every folder of the list, and after its removal for none.
            QCOMPARE(Texts(form->FolderTree()).size(), event == "removed" ? made : 9);
        }
        Close(form);
        QTRY_VERIFY(form.isNull());
        QTRY_VERIFY(sharesForm->ClosedTabs().IsEmpty());
        QCOMPARE(d.GetType(BrowseTypes::folderNode)->ItemCount(), before);
        QVERIFY(User(user)[userShare].IsNull());
    }
};

QTEST_MAIN(BrowseTest)
#include "tst_browse.moc"
