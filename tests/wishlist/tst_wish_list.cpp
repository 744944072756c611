#include <climits>

#include <QSignalSpy>
#include <QTest>

#include "Data.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "WindowTypes.h"
#include "WishListSearcher.h"

class WishListTest : public QObject
{
    Q_OBJECT

private:
    Server* server = nullptr;
    WishListSearcher* searcher = nullptr;

private slots:
    void initTestCase()
    {
        server = new Server;
        Settings::DeclareTypes(d);
        server->CreateData();
        PeerMessenger::DeclareTypes(d);
        WindowTypes::DeclareWishListAndNotes();
        searcher =
            new WishListSearcher(WindowTypes::wishListItem, WindowTypes::wishListItemEnabled);
    }

    void cleanup() { g(WindowTypes::wishListItem).Remove(); }

    void cleanupTestCase()
    {
        delete searcher;
        delete server;
    }

    void searchesEnabledEntriesInTurn_data()
    {
        QTest::addColumn<QStringList>("entries"); // a leading "-" marks a disabled entry
        QTest::addColumn<int>("startIndex");
        QTest::addColumn<QStringList>("searched");
        QTest::newRow("sorted by text, upper case first")
            << QStringList{"beta", "Alpha", "gamma"} << 0
            << QStringList{"Alpha", "beta", "gamma", "Alpha"};
        QTest::newRow("index past the end wraps")
            << QStringList{"a", "b", "c"} << 7 << QStringList{"b", "a"};
        QTest::newRow("disabled entry skipped")
            << QStringList{"a", "-b", "c"} << 0 << QStringList{"a", "c", "a"};
        QTest::newRow("negative index starts over")
            << QStringList{"a", "b"} << -3 << QStringList{"a", "a", "b"};
        QTest::newRow("nothing enabled") << QStringList{"-a"} << 0 << QStringList{};
    }

    void searchesEnabledEntriesInTurn()
    {
        QFETCH(QStringList, entries);
        QFETCH(int, startIndex);
        QFETCH(QStringList, searched);
        ItemPtr mark = d.GetType(WindowTypes::wishListItemEnabled)->GetGlobalNullItem();
        for (const QString& entry : entries)
        {
            ItemPtr item = d.GetType(WindowTypes::wishListItem)
                               ->GetItem(Value(entry.mid(entry.startsWith('-') ? 1 : 0)));
            if (!entry.startsWith('-'))
                item.Connect(mark);
        }
        Settings::Set("wish_list_search_index", Value(startIndex), Settings::runtime);
        QSignalSpy requests(server, &Server::SearchRequested);
        for (int tick = 0; tick < qMax(1, searched.size()); ++tick)
            searcher->OnSearchTimerTimeout();
        QStringList texts;
        for (const QVariantList& request : requests)
        {
            QVERIFY(request.at(2).toBool());
            texts << request.at(1).toString();
        }
        QCOMPARE(texts, searched);
    }

    void followsTheServersPeriod_data()
    {
        QTest::addColumn<uint>("seconds");
        QTest::addColumn<int>("interval"); // 0: stopped
        QTest::newRow("five seconds") << 5u << 5000;
        QTest::newRow("zero stops the searches") << 0u << 0;
        QTest::newRow("past an int of milliseconds") << 4000000u << INT_MAX;
    }

    void followsTheServersPeriod()
    {
        QFETCH(uint, seconds);
        QFETCH(int, interval);
        searcher->OnWishListWait(60);
        searcher->OnWishListWait(seconds);
        QCOMPARE(searcher->SearchTimer().isActive() ? searcher->SearchTimer().interval() : 0,
                 interval);
        QCOMPARE(Settings::GetText("wish_list_wait", Settings::runtime), QString::number(seconds));
    }

    void startsIdleFromTheFirstEntry()
    {
        Settings::Set("wish_list_search_index", Value(5), Settings::runtime);
        WishListSearcher fresh(WindowTypes::wishListItem, WindowTypes::wishListItemEnabled);
        QVERIFY(!fresh.SearchTimer().isActive());
        QCOMPARE(Settings::GetText("wish_list_search_index", Settings::runtime), QString("0"));
    }
};

QTEST_GUILESS_MAIN(WishListTest)
#include "tst_wish_list.moc"
