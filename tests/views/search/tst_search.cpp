#include <memory>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "ClosedTabRemoval.h"
#include "CompressedBody.h"
#include "Data.h"
#include "DataSaver.h"
#include "FakePeer.h"
#include "FilterHelpDialog.h"
#include "Log.h"
#include "MainWindowRun.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "ReceivedSearchesForm.h"
#include "RoomViews.h"
#include "SearchForm.h"
#include "SearchResultBody.h"
#include "SearchResultsForm.h"
#include "SearchTypes.h"
#include "SearchViews.h"
#include "Settings.h"
#include "UserViews.h"
#include "ViewAddress.h"
#include "WindowTypes.h"
#include "ui_ReceivedSearchesForm.h"
#include "ui_SearchForm.h"
#include "ui_mainwindow.h"

using namespace PeerTypes;

namespace {
struct File
{
    QString folder;
    QString name;
    qint64 size;
    int bitrate;
};

void Attach(ItemPtr item, const char* type, const Value& value)
{
    item.Connect(d.GetType(type)->NewItem(value));
}

// One peer's answer as the messenger stores it, announced as the messenger does.
ItemPtr Answer(unsigned int token, const QString& user, const QString& free, qint64 speed,
               const QList<File>& files)
{
    ItemPtr answer = d.GetType(searchResults)->NewItem();
    answer.Connect(d.GetType(searchRequest)->NewItem(Value(token)));
    Attach(answer, ServerTypes::user, Value(user));
    if (free == "Y")
        Attach(answer, searchResultsUserAvailable, Value("yes"));
    else
        Attach(answer, searchResultsUploadsInQueue, Value(free));
    Attach(answer, searchResultsUserSpeed, Value(speed));
    for (const File& file : files)
    {
        ItemPtr result = answer.NewItem(searchResult);
        Attach(result, searchResultFileFolder, Value(file.folder));
        Attach(result, searchResultFileName, Value(file.name));
        Attach(result, fileSize, Value(file.size));
        if (file.bitrate)
            Attach(result, bitrate, Value(file.bitrate));
    }
    emit peerMessenger->SearchResults(answer);
    return answer;
}

// A code-9 reply as a peer sends it: the body compressed behind its code.
QByteArray Reply(const QString& user, std::uint32_t token, const QList<File>& files)
{
    SearchResultBody reply;
    reply.user = user;
    reply.token = token;
    for (const File& file : files)
    {
        FileInfo info;
        info.name = (file.folder + "\\" + file.name).toStdString();
        info.size = file.size;
        if (file.bitrate)
            info.attributes.pairs.push_back({AttributeMap::Bitrate, file.bitrate});
        reply.results.push_back(info);
    }
    reply.freeSlot = true;
    reply.uploadSpeed = 1536;
    MemStream body;
    MemStream message;
    reply.Write(body);
    CompressedBody::Compress(9, body, message);
    return QByteArray(message.GetWrittenData(), message.GetWrittenLength());
}

QStringList Column(QTreeWidget* tree, int column, bool visibleOnly = false)
{
    QStringList texts;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
    {
        bool visible = true;
        for (QTreeWidgetItem* row = *it; row; row = row->parent())
            visible = visible && !row->isHidden();
        if (!(*it)->text(column).isEmpty() && (!visibleOnly || visible))
            texts << (*it)->text(column);
    }
    return texts;
}

ItemPtr Wish(const QString& text)
{
    return ItemPtr(d.GetType(WindowTypes::wishListItem)->HasItem(Value(text)));
}

QTreeWidgetItem* WishRow(QTreeWidget* list, const QString& text)
{
    const QList<QTreeWidgetItem*> rows = list->findItems(text, Qt::MatchExactly, 1);
    return rows.isEmpty() ? nullptr : rows.first();
}

// A tab's rows as text: each user with its folders and their files, the files in name order
// (the deferred sort may have run); a collapsed row is marked with "+".
QString Outline(QTreeWidget* tree)
{
    QStringList users;
    for (int u = 0; u < tree->topLevelItemCount(); ++u)
    {
        QTreeWidgetItem* userRow = tree->topLevelItem(u);
        QStringList folders;
        for (int f = 0; f < userRow->childCount(); ++f)
        {
            QTreeWidgetItem* folderRow = userRow->child(f);
            QStringList files;
            for (int r = 0; r < folderRow->childCount(); ++r)
                files << folderRow->child(r)->text(4);
            files.sort();
            folders << folderRow->text(3) + (folderRow->isExpanded() ? "" : "+") + "{" +
                           files.join(' ') + "}";
        }
        users << userRow->text(0) + (userRow->isExpanded() ? "" : "+") + "[" + folders.join(' ') +
                     "]";
    }
    return users.join(' ');
}

// Items of a type in the store.
int Count(const char* type)
{
    return int(d.GetType(type)->ItemCount());
}
} // namespace

class SearchTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;
    unsigned int nextToken = 9000;

    Ui_SearchForm* Form() { return searchForm->Form(); }

    SearchResultsForm* Open(const QString& text)
    {
        // As the server records a search it sends.
        ItemPtr request = d.GetType(searchRequest)->NewItem(Value(++nextToken));
        request.Connect(d.GetType(searchRequestText)->NewItem(Value(text)));
        return searchForm->CreateSearchForm(nextToken, text, NetworkSearch);
    }

    // An enabled wish-list entry.
    static ItemPtr NewWish(const QString& text)
    {
        ItemPtr wish(d.GetType(WindowTypes::wishListItem)->NewItem(Value(text)));
        wish.NewItem(WindowTypes::wishListItemEnabled);
        return wish;
    }

    // As the wish-list searcher records a search it sends; its token is nextToken.
    void WishSearch(const QString& text)
    {
        ItemPtr request = d.GetType(searchRequest)->NewItem(Value(++nextToken));
        request.NewItem(wishlistSearch);
        request.Connect(d.GetType(searchRequestText)->NewItem(Value(text)));
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
        QVERIFY(searchForm);
        run->Form()->tabControl->setCurrentWidget(run->Form()->searchTab);
    }

    void cleanupTestCase() { run.reset(); }

    void sendsTrimmedSearchAndOpensTab()
    {
        run->Server().ClearMessages();
        Form()->searchTargetBox->setCurrentIndex(0);
        Form()->searchEdit->lineEdit()->setText("  foo bar  ");
        QTest::keyClick(Form()->searchEdit->lineEdit(), Qt::Key_Return);
        QVERIFY(run->Server().WaitForCode(153));
        const QList<qint32> codes = run->Server().Codes();
        QCOMPARE(codes.indexOf(26) < codes.indexOf(153), true);
        quint32 token = 0;
        QString sent;
        MemStream fields = run->Server().MessagesWithCode(26).first().Fields();
        fields.Read(token);
        fields.Read(sent);
        QCOMPARE(sent, QString("foo bar"));
        QTabWidget* tabs = Form()->searchTabControl;
        QCOMPARE(tabs->tabText(tabs->count() - 1), QString("foo bar"));
        QVERIFY(!ItemPtr(d.GetType(SearchTypes::searchRecord)->HasItem(Value("foo bar"))).IsNull());
        QCOMPARE(Form()->searchEdit->lineEdit()->text(), QString());
        ItemPtr request(d.GetType(searchRequest)->HasItem(Value(token)));
        QVERIFY(request.IsConnected(SearchTypes::resultsWidget));
    }

    void scopesSendTheirOwnCodes_data()
    {
        QTest::addColumn<QString>("room");
        QTest::addColumn<qint32>("code");
        QTest::newRow("user list") << QString() << 42;
        QTest::newRow("room") << QString("jazz") << 120;
    }

    void scopesSendTheirOwnCodes()
    {
        QFETCH(QString, room);
        QFETCH(qint32, code);
        ItemPtr roomItem;
        QString scope = "User List";
        ItemPtr listed = d.GetType(ServerTypes::user)->NewItem(Value("listed"));
        listed.NewItem(ServerTypes::inUserList);
        listed.NewItem(ServerTypes::isOnline);
        if (!room.isEmpty())
        {
            roomItem = d.GetType(ServerTypes::room)->NewItem(Value(room));
            roomItem.NewItem(ServerTypes::inRoom);
            scope = "Room: " + room;
        }
        const int index = Form()->searchTargetBox->findText(scope);
        QVERIFY(index >= 1);
        Form()->searchTargetBox->setCurrentIndex(index);
        run->Server().ClearMessages();
        Form()->searchEdit->lineEdit()->setText("scoped");
        QTest::keyClick(Form()->searchEdit->lineEdit(), Qt::Key_Return);
        QVERIFY(run->Server().WaitForCode(code));
        QTabWidget* tabs = Form()->searchTabControl;
        QCOMPARE(tabs->tabText(tabs->count() - 1), QString("scoped"));
        if (!roomItem.IsNull())
        {
            roomItem.Disconnect(ServerTypes::inRoom);
            QCOMPARE(Form()->searchTargetBox->findText(scope), -1);
        }
        Form()->searchTargetBox->setCurrentIndex(0);
    }

    void historyKeepsTwentyNewestFirst()
    {
        for (int n = 0; n < 22; ++n)
        {
            Form()->searchEdit->lineEdit()->setText(QString("history %1").arg(n));
            QTest::keyClick(Form()->searchEdit->lineEdit(), Qt::Key_Return);
        }
        Form()->searchEdit->lineEdit()->setText("history 5");
        QTest::keyClick(Form()->searchEdit->lineEdit(), Qt::Key_Return);
        QCOMPARE(Form()->searchEdit->count(), 20);
        QCOMPARE(Form()->searchEdit->itemText(0), QString("history 5"));
        QCOMPARE(Form()->searchEdit->itemText(19), QString("history 2"));
        QCOMPARE(int(g(SearchTypes::searchRecord).Size()), 20);
        QVERIFY(
            ItemPtr(d.GetType(SearchTypes::searchRecord)->HasItem(Value("history 1"))).IsNull());
    }

    void historyOrderSurvivesARestart()
    {
        auto search = [this](const QString& text) {
            Form()->searchEdit->lineEdit()->setText(text);
            QTest::keyClick(Form()->searchEdit->lineEdit(), Qt::Key_Return);
        };
        for (int n = 0; n < 21; ++n)
            search(QString("restart %1").arg(n));
        search("restart 3");
        search("restart 21");
        QStringList expected{"restart 21", "restart 3"};
        for (int n = 20; n >= 4; --n)
            expected << QString("restart %1").arg(n);
        expected << "restart 2";
        QTemporaryDir folder;
        const QString prefix = folder.path() + "/saved";
        dataSaver->Save(prefix);

        // A new run starts with no records and an empty box; the loader has no handlers.
        g(SearchTypes::searchRecord).Remove();
        Form()->searchEdit->clear();
        for (ItemPtr wish : g(WindowTypes::wishListItem))
            wish.Remove();
        DataSaver* windowSaver = dataSaver;
        {
            DataSaver loader;
            loader.Load(prefix);
        }
        dataSaver = windowSaver;
        searchForm->DataLoaded();
        QStringList history;
        for (int row = 0; row < Form()->searchEdit->count(); ++row)
            history << Form()->searchEdit->itemText(row);
        QCOMPARE(history, expected);
    }

    void showsAnswerGroupedByUserAndFolder()
    {
        SearchResultsForm* form = Open("grouped");
        Answer(nextToken, "bob", "3", 1536,
               {{"music\\artist\\album", "b.mp3", 5000000000LL, 320},
                {"music\\artist\\album", "a.mp3", 1000, 0}});
        QTreeWidget* tree = form->searchResults();
        QCOMPARE(tree->topLevelItemCount(), 1);
        QTreeWidgetItem* userRow = tree->topLevelItem(0);
        QCOMPARE(userRow->text(0), QString("bob"));
        QCOMPARE(userRow->text(1), QString("3"));
        QCOMPARE(userRow->text(2), QString("1.5"));
        QCOMPARE(userRow->childCount(), 1);
        QTreeWidgetItem* folderRow = userRow->child(0);
        QCOMPARE(folderRow->text(3), QString("album/artist/music"));
        QCOMPARE(folderRow->childCount(), 2);
        QCOMPARE(folderRow->child(0)->text(5), QString("5,000,000,000"));
        QCOMPARE(folderRow->child(0)->text(6), QString("320"));
        // The deferred sort puts the names A to Z.
        QTRY_COMPARE_WITH_TIMEOUT(folderRow->child(0)->text(4), QString("a.mp3"), 3000);
    }

    void peerAnswerOverLoopbackFillsTab()
    {
        run->Server().ClearMessages();
        Form()->searchTargetBox->setCurrentIndex(0);
        Form()->searchEdit->lineEdit()->setText("song");
        QTest::keyClick(Form()->searchEdit->lineEdit(), Qt::Key_Return);
        QVERIFY(run->Server().WaitForCode(26));
        quint32 token = 0;
        run->Server().MessagesWithCode(26).first().Fields().Read(token);
        QTabWidget* tabs = Form()->searchTabControl;
        auto* form = qobject_cast<SearchResultsForm*>(tabs->widget(tabs->count() - 1));
        QVERIFY(form);

        QVERIFY(peerMessenger->ListeningPort() != 0);
        FakePeer peer;
        peer.Dial(peerMessenger->ListeningPort());
        peer.SendFrame(FakePeer::InitBody("looper", "P"));
        peer.SendFrame(Reply("looper", token,
                             {{"music\\artist\\album", "song b.mp3", 5000000000LL, 320},
                              {"music\\artist\\album", "song a.mp3", 1000, 0},
                              {"music\\artist\\album", "other.mp3", 1000, 0}}));
        QTreeWidget* tree = form->searchResults();
        QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 1, 5000);
        QTreeWidgetItem* userRow = tree->topLevelItem(0);
        QCOMPARE(userRow->text(0), QString("looper"));
        QCOMPARE(userRow->text(1), QString("Y"));
        QCOMPARE(userRow->text(2), QString("1.5"));
        QCOMPARE(userRow->childCount(), 1);
        QTreeWidgetItem* folderRow = userRow->child(0);
        QCOMPARE(folderRow->text(3), QString("album/artist/music"));
        // The name not matching the search is left out; the deferred sort orders the rest.
        QTRY_COMPARE_WITH_TIMEOUT(Column(tree, 4), (QStringList{"song a.mp3", "song b.mp3"}), 3000);
        QCOMPARE(Column(tree, 5), (QStringList{"1,000", "5,000,000,000"}));
        QCOMPARE(Column(tree, 6), QStringList{"320"});
    }

    void ordersRowsByColumn_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QStringList>("users");
        // A negative queue or speed reads as 0: it does not sort above honest ones.
        QTest::newRow("free descending")
            << 1 << int(Qt::DescendingOrder)
            << QStringList{"free", "q0", "qempty", "qneg", "q3", "q12"};
        QTest::newRow("speed descending")
            << 2 << int(Qt::DescendingOrder)
            << QStringList{"q12", "q3", "free", "q0", "qempty", "qneg"};
        QTest::newRow("user ascending") << 0 << int(Qt::AscendingOrder)
                                        << QStringList{"free", "q0", "q12", "q3", "qempty", "qneg"};
    }

    void ordersRowsByColumn()
    {
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(QStringList, users);
        SearchResultsForm* form = Open("ordered");
        Answer(nextToken, "q12", "12", 9000, {{"x", "1.mp3", 1, 0}});
        Answer(nextToken, "q3", "3", 8000, {{"x", "2.mp3", 1, 0}});
        Answer(nextToken, "free", "Y", 512, {{"x", "3.mp3", 1, 0}});
        Answer(nextToken, "qempty", "", 0, {{"x", "4.mp3", 1, 0}});
        Answer(nextToken, "q0", "0", 256, {{"x", "5.mp3", 1, 0}});
        Answer(nextToken, "qneg", "-7", -4096, {{"x", "6.mp3", 1, 0}});
        QTreeWidgetItem* negative = form->searchResults()->topLevelItem(5);
        QCOMPARE(negative->text(1), QString("0"));
        QCOMPARE(negative->text(2), QString());
        form->SetSortingParamters(column, Qt::SortOrder(order));
        form->Sort();
        QStringList sorted;
        for (int row = 0; row < form->searchResults()->topLevelItemCount(); ++row)
            sorted << form->searchResults()->topLevelItem(row)->text(0);
        QCOMPARE(sorted, users);
    }

    void sortsFileRowsBySize()
    {
        SearchResultsForm* form = Open("sizes");
        Answer(nextToken, "sizer", "Y", 1024,
               {{"f", "small", 2000000000LL, 128},
                {"f", "large", 3000000000LL, 320},
                {"f", "mid", 2500000000LL, 192},
                {"f", "empty", 0, 0},
                {"f", "negative", -5, 0}});
        form->SetSortingParamters(5, Qt::AscendingOrder);
        form->Sort();
        // The two empty files tie; their order is the order they arrived in.
        QCOMPARE(Column(form->searchResults(), 4).mid(0, 3),
                 (QStringList{"large", "mid", "small"}));
        QCOMPARE(Column(form->searchResults(), 5),
                 (QStringList{"3,000,000,000", "2,500,000,000", "2,000,000,000", "0", "0"}));
    }

    void filterHidesRows_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("shown");
        const QStringList all{"alpha beta.mp3", "alpha live.mp3", "gamma.ogg", "deep.mp3"};
        QTest::newRow("none") << QString() << all;
        QTest::newRow("word in file") << "gamma" << QStringList{"gamma.ogg"};
        QTest::newRow("word in folder")
            << "rock" << QStringList{"alpha beta.mp3", "alpha live.mp3"};
        QTest::newRow("folder and file") << "rock beta" << QStringList{"alpha beta.mp3"};
        QTest::newRow("excluded file word") << "alpha -live" << QStringList{"alpha beta.mp3"};
        QTest::newRow("excluded folder word") << "-rock" << QStringList{"gamma.ogg", "deep.mp3"};
        QTest::newRow("bitrate") << "minbitrate:256" << QStringList{"alpha live.mp3"};
        QTest::newRow("size") << "minfilesize:5" << QStringList{"gamma.ogg", "deep.mp3"};
        QTest::newRow("files in folder")
            << "minfilesinfolder:2" << QStringList{"alpha beta.mp3", "alpha live.mp3"};
    }

    void filterHidesRows()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, shown);
        SearchResultsForm* form = Open("filtered");
        Answer(nextToken, "carol", "Y", 1024,
               {{"music\\rock", "alpha beta.mp3", 1000, 128},
                {"music\\rock", "alpha live.mp3", 1000, 320}});
        Answer(nextToken, "dave", "Y", 1024,
               {{"misc", "gamma.ogg", 9000000, 0}, {"misc\\sub", "deep.mp3", 9000000, 0}});
        form->filterEdit()->setText(filter);
        QCOMPARE(Column(form->searchResults(), 4, true), shown);
    }

    void filterFollowsTheRowsAfterASort()
    {
        SearchResultsForm* form = Open("sorted filter");
        QTreeWidget* tree = form->searchResults();
        Answer(nextToken, "sorter", "Y", 1024,
               {{"f", "b big", 3000, 0}, {"f", "a small", 1000, 0}, {"f", "c mid", 2000, 0}});
        form->SetSortingParamters(5, Qt::AscendingOrder);
        form->Sort();
        QCOMPARE(Column(tree, 4), (QStringList{"b big", "c mid", "a small"}));
        form->filterEdit()->setText("a");
        QCOMPARE(Column(tree, 4, true), QStringList{"a small"});
        form->filterEdit()->setText("i");
        QCOMPARE(Column(tree, 4, true), (QStringList{"b big", "c mid"}));

        // A folder hidden whole, sorted, then lifted by a new file: its earlier rows are right.
        form->filterEdit()->setText("zz");
        QVERIFY(tree->topLevelItem(0)->isHidden());
        form->SetSortingParamters(5, Qt::DescendingOrder);
        form->Sort();
        Answer(nextToken, "sorter", "Y", 1024, {{"f", "zz b", 1500, 0}});
        QCOMPARE(Column(tree, 4, true), QStringList{"zz b"});
        form->filterEdit()->setText("b");
        QCOMPARE(Column(tree, 4, true), (QStringList{"b big", "zz b"}));
        form->filterEdit()->clear();
        QCOMPARE(Column(tree, 4, true), (QStringList{"a small", "c mid", "b big", "zz b"}));
        Form()->searchTabControl->tabCloseRequested(Form()->searchTabControl->indexOf(form));
    }

    void defaultFilterAppliesToNewTabs()
    {
        Settings::Set(SearchTypes::defaultSearchFilter, Value("-live"));
        SearchResultsForm* form = Open("defaulted");
        QCOMPARE(form->filterEdit()->text(), QString("-live"));
        Answer(nextToken, "erin", "Y", 1024, {{"a", "live.mp3", 1, 0}, {"a", "studio.mp3", 1, 0}});
        QCOMPARE(Column(form->searchResults(), 4, true), QStringList{"studio.mp3"});
        Settings::Clear(SearchTypes::defaultSearchFilter);
    }

    void closingTabFreesItsStoreItems()
    {
        SearchResultsForm* form = Open("closing");
        const unsigned int token = nextToken;
        ItemPtr answer = Answer(token, "frank", "Y", 1024, {{"a", "b.mp3", 1, 0}});
        QVERIFY(!answer.IsNull());
        const size_t nodes = g(SearchTypes::resultNode).Size();
        QTabWidget* tabs = Form()->searchTabControl;
        tabs->tabCloseRequested(tabs->indexOf(form));
        QCOMPARE(ItemPtr(d.GetType(searchRequest)->HasItem(Value(token))).IsNull(), true);
        QCOMPARE(g(SearchTypes::resultNode).Size(), nodes - 1);
        // A late answer finds no tab and leaves nothing behind.
        const size_t answers = g(searchResults).Size();
        Answer(token, "frank", "Y", 1024, {{"a", "c.mp3", 1, 0}});
        QCOMPARE(g(searchResults).Size(), answers);
    }

    void wishListRowsFollowTheStore_data()
    {
        QTest::addColumn<QString>("newText");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("rename keeps the check")
            << "renamed" << QStringList{"other", "renamed"} << true;
        QTest::newRow("blanks trimmed") << "  spaced  " << QStringList{"other", "spaced"} << true;
        QTest::newRow("emptied") << "" << QStringList{"other"} << false;
        QTest::newRow("duplicate") << "other" << QStringList{"other"} << false;
    }

    void wishListRowsFollowTheStore()
    {
        QFETCH(QString, newText);
        QFETCH(QStringList, rows);
        QFETCH(bool, enabled);
        for (ItemPtr wish : g(WindowTypes::wishListItem))
            wish.Remove();
        QTreeWidget* list = Form()->wishList;
        QCOMPARE(list->topLevelItemCount(), 0);
        searchForm->OnActionBarTriggered(nullptr, "enable_all_wish_list_items");
        // A manual tab's command adds its text, enabled, with a row.
        for (const QString& text : {QString("wished"), QString("other")})
        {
            SearchResultsForm* form = Open(text);
            Form()->searchTabControl->setCurrentWidget(form);
            Form()->tabWidget->setCurrentIndex(0);
            searchForm->OnActionBarTriggered(form, "add_remove_wishlist");
        }
        QVERIFY(Wish("wished").IsConnected(WindowTypes::wishListItemEnabled));
        auto* box = qobject_cast<QCheckBox*>(list->itemWidget(WishRow(list, "wished"), 0));
        QVERIFY(box);
        box->setChecked(false);
        QVERIFY(!Wish("wished").IsConnected(WindowTypes::wishListItemEnabled));
        box->setChecked(true);
        QCOMPARE(WishRow(list, "wished")->text(0), QString("Y"));

        WishRow(list, "wished")->setText(1, newText);
        // Emptied and duplicate rows go through a deferred deletion.
        QTRY_COMPARE(list->topLevelItemCount(), rows.size());
        QCOMPARE(Column(list, 1), rows);
        QCOMPARE(int(g(WindowTypes::wishListItem).Size()), rows.size());
        QCOMPARE(Wish("wished").IsNull(), true);
        if (enabled)
            QVERIFY(Wish(rows.last()).IsConnected(WindowTypes::wishListItemEnabled));
        QCOMPARE(int(g(SearchTypes::wishListNode).Size()), rows.size());
    }

    void wishListAnswersGatherInOneBackgroundTab()
    {
        ItemPtr wish = NewWish("wanted");
        wish.Connect(d.GetType(SearchTypes::wishListItemFilterText)->NewItem(Value("-bad")));
        Settings::Set(SearchTypes::defaultSearchFilter, Value("-good"));
        QTabWidget* tabs = Form()->wishListTabControl;
        const int before = tabs->count();
        for (int repeat = 0; repeat < 2; ++repeat)
        {
            WishSearch("wanted");
            Answer(nextToken, QString("wisher%1").arg(repeat), "Y", 1024,
                   {{"a", "good.mp3", 1, 0}, {"a", "bad.mp3", 1, 0}});
        }
        QCOMPARE(tabs->count(), before + 1);
        auto* form = qobject_cast<SearchResultsForm*>(tabs->widget(tabs->count() - 1));
        QVERIFY(form);
        QCOMPARE(form->filterEdit()->text(), QString("-bad"));
        QCOMPARE(Column(form->searchResults(), 0), (QStringList{"wisher0", "wisher1"}));
        QCOMPARE(Column(form->searchResults(), 4, true), (QStringList{"good.mp3", "good.mp3"}));
        QVERIFY(form->WidgetItem().IsConnected(SearchTypes::resultsWidgetAlerted));
        Settings::Clear(SearchTypes::defaultSearchFilter);
    }

    void groupsAnswersInEveryArrivalOrder_data()
    {
        // Each step is "tab:user:folder:file"; tab 2 opens when first named.
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("users A, B, A")
            << QStringList{"1:A:x:a1", "1:B:y:b1", "1:A:z:a2", "1:A:x:a3"}
            << "A[x{a1 a3} z{a2}] B[y{b1}]"
            << "";
        QTest::newRow("folders f1, f2, f1")
            << QStringList{"1:A:f1:a", "1:A:f2:b", "1:A:f1:c"} << "A[f1{a c} f2{b}]"
            << "";
        QTest::newRow("one user in two tabs")
            << QStringList{"1:A:x:a", "2:A:x:b", "1:A:x:c"} << "A[x{a c}]"
            << "A[x{b}]";
        QTest::newRow("older tab after a second opens")
            << QStringList{"1:A:x:a", "2:B:y:b", "1:C:z:c", "1:A:w:d"} << "A[x{a} w{d}] C[z{c}]"
            << "B[y{b}]";
        QTest::newRow("interleaved tabs and users")
            << QStringList{"1:A:x:a", "2:B:x:b", "1:B:x:c", "2:A:x:d", "1:A:x:e", "2:B:y:f"}
            << "A[x{a e}] B[x{c}]"
            << "B[x{b} y{f}] A[x{d}]";
    }

    void groupsAnswersInEveryArrivalOrder()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, first);
        QFETCH(QString, second);
        SearchResultsForm* tabs[2] = {Open("arrival one"), nullptr};
        unsigned int tokens[2] = {nextToken, 0};
        for (const QString& step : steps)
        {
            const QStringList parts = step.split(':');
            const int tab = parts[0].toInt() - 1;
            if (!tabs[tab])
            {
                tabs[tab] = Open("arrival two");
                tokens[tab] = nextToken;
            }
            Answer(tokens[tab], parts[1], "Y", 1024, {{parts[2], parts[3], 10, 0}});
        }
        QCOMPARE(Outline(tabs[0]->searchResults()), first);
        if (tabs[1])
            QCOMPARE(Outline(tabs[1]->searchResults()), second);
        for (SearchResultsForm* form : tabs)
            if (form)
                Form()->searchTabControl->tabCloseRequested(
                    Form()->searchTabControl->indexOf(form));
    }

    void arrivalFilterKeepsEarlierFoldersRight()
    {
        SearchResultsForm* form = Open("arrival filter");
        QTreeWidget* tree = form->searchResults();
        form->filterEdit()->setText("wanted");
        Answer(nextToken, "A", "Y", 1024, {{"wanted", "a.mp3", 10, 0}});
        Answer(nextToken, "A", "Y", 1024, {{"other", "b.mp3", 10, 0}});
        QVERIFY(!tree->topLevelItem(0)->isHidden());
        Answer(nextToken, "B", "Y", 1024, {{"other", "c.mp3", 10, 0}});
        QVERIFY(tree->topLevelItem(1)->isHidden());
        // A later file makes a hidden folder show, and its user row with it.
        Answer(nextToken, "B", "Y", 1024, {{"other", "wanted.mp3", 10, 0}});
        QVERIFY(!tree->topLevelItem(1)->isHidden());
        QCOMPARE(Column(tree, 4, true), (QStringList{"a.mp3", "wanted.mp3"}));

        // A folder that must hold two shown files shows with the second, in a later answer.
        form->filterEdit()->setText("wanted mfif:2");
        QCOMPARE(Column(tree, 4, true), QStringList());
        Answer(nextToken, "C", "Y", 1024, {{"other", "wanted 1.mp3", 10, 0}});
        QVERIFY(tree->topLevelItem(2)->isHidden());
        Answer(nextToken, "C", "Y", 1024, {{"else", "x.mp3", 10, 0}});
        QVERIFY(tree->topLevelItem(2)->isHidden());
        Answer(nextToken, "C", "Y", 1024, {{"other", "wanted 2.mp3", 10, 0}});
        QVERIFY(!tree->topLevelItem(2)->isHidden());
        QCOMPARE(Column(tree, 4, true), (QStringList{"wanted 1.mp3", "wanted 2.mp3"}));

        // A folder the whole-tree filter hid shows its right files once new ones lift it.
        form->filterEdit()->clear();
        Answer(nextToken, "E", "Y", 1024, {{"ee", "x1.mp3", 10, 0}, {"ee", "y1.mp3", 10, 0}});
        form->filterEdit()->setText("x mfif:2");
        QVERIFY(tree->topLevelItem(3)->isHidden());
        Answer(nextToken, "E", "Y", 1024, {{"ee", "x2.mp3", 10, 0}});
        QVERIFY(!tree->topLevelItem(3)->isHidden());
        QCOMPARE(Column(tree, 4, true), (QStringList{"x1.mp3", "x2.mp3"}));
        Form()->searchTabControl->tabCloseRequested(Form()->searchTabControl->indexOf(form));
    }

    void closingAWishTabForgetsEveryRepeat()
    {
        ItemPtr wish = NewWish("repeated");
        QTabWidget* tabs = Form()->wishListTabControl;
        const int before = tabs->count();
        const int requests = Count(searchRequest);
        const int answers = Count(searchResults);
        QList<unsigned int> tokens;
        for (int repeat = 0; repeat < 3; ++repeat)
        {
            WishSearch("repeated");
            tokens << nextToken;
            Answer(nextToken, QString("repeater%1").arg(repeat), "Y", 1024, {{"r", "x.mp3", 1, 0}});
        }
        QCOMPARE(tabs->count(), before + 1);
        searchForm->OnWishTabCloseRequested(tabs->count() - 1);
        QCOMPARE(tabs->count(), before);
        QCOMPARE(Count(searchRequest), requests);
        QCOMPARE(Count(searchResults), answers);
        for (unsigned int token : tokens)
            QVERIFY(ItemPtr(d.GetType(searchRequest)->HasItem(Value(token))).IsNull());

        // Late replies from a peer to any of them open nothing; a reply to a live search sent
        // after them shows that they were read.
        SearchResultsForm* live = Open("late marker");
        FakePeer peer;
        peer.Dial(peerMessenger->ListeningPort());
        peer.SendFrame(FakePeer::InitBody("latecomer", "P"));
        for (unsigned int token : tokens)
            peer.SendFrame(Reply("latecomer", token, {{"r", "repeated.mp3", 1, 0}}));
        peer.SendFrame(Reply("latecomer", nextToken, {{"r", "late marker.mp3", 1, 0}}));
        QTRY_COMPARE_WITH_TIMEOUT(live->searchResults()->topLevelItemCount(), 1, 5000);
        QCOMPARE(tabs->count(), before);
        Form()->searchTabControl->tabCloseRequested(Form()->searchTabControl->indexOf(live));
        wish.Remove();
    }

    void closingABigWishTabFinishesOnLaterPasses()
    {
        ItemPtr wish = NewWish("bulky");
        QTabWidget* tabs = Form()->wishListTabControl;
        const int before = tabs->count();
        const int results = Count(searchResult);
        const int nodes = Count(SearchTypes::resultNode);
        const int folders = Count(SearchTypes::folderNode);
        const int names = Count(searchResultFileName);
        WishSearch("bulky");
        const int perAnswer = ClosedTabRemoval::resultsPerSlice / 2 + 1;
        for (int user = 0; user < 5; ++user)
        {
            QList<File> files;
            for (int n = 0; n < perAnswer; ++n)
                files.append({QString("f%1").arg(n % 7), QString("%1.mp3").arg(n), 1, 0});
            Answer(nextToken, QString("bulk%1").arg(user), "Y", 1024, files);
        }
        QCOMPARE(tabs->count(), before + 1);
        auto* form = qobject_cast<SearchResultsForm*>(tabs->widget(tabs->count() - 1));
        QVERIFY(form);
        const QTreeWidgetItem* fileRow = form->searchResults()->topLevelItem(0)->child(0)->child(0);
        searchForm->OnWishTabCloseRequested(tabs->indexOf(form));
        QCOMPARE(tabs->count(), before);
        ClosedTabRemoval& removal = searchForm->ClosedTabs();
        QVERIFY(!removal.IsEmpty());
        QVERIFY(Count(searchResult) > results);
        QCOMPARE(Count(SearchTypes::folderNode), folders);

        // An answer arriving meanwhile opens no tab and is not kept.
        Answer(nextToken, "late", "Y", 1024, {{"a", "bulky.mp3", 1, 0}});
        QCOMPARE(tabs->count(), before);

        int slices = 0;
        while (!removal.IsEmpty() && slices < 100)
        {
            // A row is freed only after the last node naming it: its address may be reused.
            if (!ViewAddress::IsLive(fileRow))
                QCOMPARE(Count(SearchTypes::resultNode), nodes);
            removal.Step();
            ++slices;
        }
        QVERIFY(removal.IsEmpty());
        QVERIFY(slices >= 2);
        QVERIFY(!ViewAddress::IsLive(fileRow));
        QCOMPARE(Count(searchResult), results);
        QCOMPARE(Count(SearchTypes::resultNode), nodes);
        QVERIFY(ItemPtr(d.GetType(searchRequest)->HasItem(Value(nextToken))).IsNull());
        QCOMPARE(Count(searchResultFileName), names);
        wish.Remove();
    }

    void answersToABigTabWaitAndJoinInOrder()
    {
        const int results = Count(searchResult);
        const int nodes = Count(SearchTypes::resultNode);
        SearchResultsForm* form = Open("waiting");
        QTreeWidget* tree = form->searchResults();
        QList<File> bulk;
        for (int n = 0; n < SearchResultsForm::immediateFileRows; ++n)
            bulk.append({"bulk", QString("%1.mp3").arg(n), 1, 0});
        Answer(nextToken, "bulky", "Y", 1024, bulk);
        QCOMPARE(form->WaitingAnswerCount(), 0);

        Answer(nextToken, "A", "Y", 1024, {{"x", "a1", 1, 0}});
        Answer(nextToken, "B", "Y", 1024, {{"y", "b1", 1, 0}});
        Answer(nextToken, "A", "Y", 1024, {{"x", "a2", 1, 0}, {"z", "a3", 1, 0}});
        QCOMPARE(form->WaitingAnswerCount(), 3);
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(form->FileRowCount(), SearchResultsForm::immediateFileRows + 4);
        // A filter typed meanwhile applies to the waiting answers when they join.
        form->filterEdit()->setText("a -a3");
        form->AddWaitingAnswers();
        QCOMPARE(form->WaitingAnswerCount(), 0);
        QCOMPARE(tree->topLevelItemCount(), 3);
        QCOMPARE(tree->topLevelItem(1)->text(0), QString("A"));
        QCOMPARE(tree->topLevelItem(2)->text(0), QString("B"));
        QCOMPARE(tree->topLevelItem(1)->childCount(), 2);
        QCOMPARE(tree->topLevelItem(1)->child(0)->childCount(), 2);
        QVERIFY(tree->topLevelItem(1)->child(1)->isHidden());
        QVERIFY(tree->topLevelItem(2)->isHidden());
        QCOMPARE(Column(tree, 4, true), (QStringList{"a1", "a2"}));

        // Without a call, the answer joins on a later pass.
        Answer(nextToken, "B", "Y", 1024, {{"y", "ba", 1, 0}});
        QCOMPARE(form->WaitingAnswerCount(), 1);
        QTRY_COMPARE(form->WaitingAnswerCount(), 0);
        QVERIFY(!tree->topLevelItem(2)->isHidden());
        QCOMPARE(tree->topLevelItem(2)->child(0)->childCount(), 2);

        // Closing the tab with an answer waiting adds no row and keeps none of its items.
        Answer(nextToken, "C", "Y", 1024, {{"w", "c1", 1, 0}});
        QCOMPARE(form->WaitingAnswerCount(), 1);
        Form()->searchTabControl->tabCloseRequested(Form()->searchTabControl->indexOf(form));
        ClosedTabRemoval& removal = searchForm->ClosedTabs();
        for (int slice = 0; slice < 100 && !removal.IsEmpty(); ++slice)
            removal.Step();
        QVERIFY(removal.IsEmpty());
        QCOMPARE(Count(searchResult), results);
        QCOMPARE(Count(SearchTypes::resultNode), nodes);
    }

    void wishTabsAlertOnceEachAndKeepTheLatestFilter()
    {
        QTabWidget* tabs = Form()->wishListTabControl;
        QList<SearchResultsForm*> forms;
        for (const QString& text : {QString("alert one"), QString("alert two")})
        {
            NewWish(text);
            WishSearch(text);
            Answer(nextToken, "alerter", "Y", 1024, {{"a", "1.mp3", 1, 0}});
            forms << qobject_cast<SearchResultsForm*>(tabs->widget(tabs->count() - 1));
            Answer(nextToken, "alerter", "Y", 1024, {{"a", "2.mp3", 1, 0}});
        }
        // Each tab keeps its own mark, so a later answer to the first raises nothing again.
        for (SearchResultsForm* form : forms)
            QVERIFY(form->WidgetItem().IsConnected(SearchTypes::resultsWidgetAlerted));

        for (const char* typed : {"zz", "zzy", "a", "ab"})
            forms[0]->filterEdit()->setText(typed);
        ItemPtr wish = Wish("alert one");
        QCOMPARE(wish.GetItems(SearchTypes::wishListItemFilterText).Size(), size_t(1));
        QCOMPARE(wish[SearchTypes::wishListItemFilterText].AsString(), QString("ab"));

        QTemporaryDir folder;
        const QString prefix = folder.path() + "/saved";
        dataSaver->Save(prefix);
        for (SearchResultsForm* form : forms)
            searchForm->OnWishTabCloseRequested(tabs->indexOf(form));
        for (ItemPtr item : g(WindowTypes::wishListItem))
            item.Remove();
        g(SearchTypes::wishListItemFilterText).Remove();
        DataSaver* windowSaver = dataSaver;
        {
            DataSaver loader;
            loader.Load(prefix);
        }
        dataSaver = windowSaver;
        QCOMPARE(Wish("alert one")[SearchTypes::wishListItemFilterText].AsString(), QString("ab"));
        for (ItemPtr item : g(WindowTypes::wishListItem))
            item.Remove();
    }

    void droppedAnswerLeavesNoItems()
    {
        SearchResultsForm* form = Open("overfull");
        const int results = Count(searchResult);
        const int answers = Count(searchResults);
        QList<File> files;
        for (int n = 0; n <= SearchResultsForm::maxFileRows; ++n)
            files.append({"big", "same.mp3", 1, 0});
        QStringList areas;
        SetLogSink([&areas](const QString& area, int, const QString& text, ItemPtr) {
            if (text.startsWith("Dropped"))
                areas << area;
        });
        Settings::Set(LogSettings::showDiagnostics, Value("yes"));
        Answer(nextToken, "flooder", "Y", 1024, files);
        SetLogSink({});
        Settings::Clear(LogSettings::showDiagnostics);
        QCOMPARE(areas, QStringList{"Search"});
        QCOMPARE(form->searchResults()->topLevelItemCount(), 0);
        QCOMPARE(Count(searchResult), results);
        QCOMPARE(Count(searchResults), answers);
        Answer(nextToken, "modest", "Y", 1024, {{"small", "one.mp3", 1, 0}});
        QCOMPARE(form->FileRowCount(), 1);
        Form()->searchTabControl->tabCloseRequested(Form()->searchTabControl->indexOf(form));
    }

    void filterHelpOpensOnce()
    {
        SearchResultsForm* form = Open("helped");
        auto* button = form->findChild<QPushButton*>("pushButton");
        QVERIFY(button);
        QCOMPARE(button->text(), QString("Filter Help"));
        for (int press = 0; press < 3; ++press)
            button->click();
        QVERIFY(filterHelpDialog);
        QVERIFY(filterHelpDialog->isVisible());
        QVERIFY(!filterHelpDialog->isModal());
        int open = 0;
        for (QWidget* window : QApplication::topLevelWidgets())
            open += qobject_cast<FilterHelpDialog*>(window) ? 1 : 0;
        QCOMPARE(open, 1);
        QCOMPARE(filterHelpDialog->windowTitle(), QString("Filter Help"));
        QPointer<FilterHelpDialog> dialog = filterHelpDialog;
        dialog->findChild<QPushButton*>("pushButton")->click();
        QTRY_VERIFY(dialog.isNull());
        QVERIFY(!filterHelpDialog);
        button->click();
        QVERIFY(filterHelpDialog);
        Form()->searchTabControl->tabCloseRequested(Form()->searchTabControl->indexOf(form));
        QVERIFY(!filterHelpDialog);
    }

    void receivedSearchesListNewestFirst()
    {
        QTreeWidget* list = receivedSearchesForm->Form()->searchList;
        list->clear();
        run->Server().Send(26, QString("zed"), quint32(7), QString("relayed query"));
        QTRY_COMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("relayed query"));
        QCOMPARE(list->topLevelItem(0)->text(1), QString());
        receivedSearchesForm->OnSearchProcessed("shared song", true);
        QCOMPARE(list->topLevelItem(0)->text(1), QString("Match"));
        QCOMPARE(list->topLevelItem(0)->foreground(1).color(), QColor("#005500"));
        for (int n = 0; n < 501; ++n)
            receivedSearchesForm->OnSearchProcessed(QString("q%1").arg(n), false);
        QCOMPARE(list->topLevelItemCount(), 500);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("q500"));
        QCOMPARE(list->topLevelItem(499)->text(0), QString("q1"));
    }

    void pausedListsNothing_data()
    {
        QTest::addColumn<bool>("ownWidget");
        QTest::addColumn<int>("listed");
        QTest::newRow("paused") << true << 0;
        QTest::newRow("other widget's action") << false << 3;
    }

    void pausedListsNothing()
    {
        QFETCH(bool, ownWidget);
        QFETCH(int, listed);
        QTreeWidget* list = receivedSearchesForm->Form()->searchList;
        list->clear();
        QWidget* widget = ownWidget ? static_cast<QWidget*>(receivedSearchesForm) : list;
        receivedSearchesForm->OnActionTriggered(widget, "pause_unpause");
        for (int n = 0; n < 3; ++n)
            receivedSearchesForm->OnSearchProcessed(QString("p%1").arg(n), false);
        receivedSearchesForm->OnActionTriggered(widget, "pause_unpause");
        QCOMPARE(list->topLevelItemCount(), listed);
        receivedSearchesForm->OnSearchProcessed("after", false);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("after"));
    }
};

QTEST_MAIN(SearchTest)
#include "tst_search.moc"
