#include <memory>

#include <QMenu>
#include <QtTest>

#include "Data.h"
#include "MainWindowRun.h"
#include "MemStream.h"
#include "RoomViews.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "UserMenuOptions.h"
#include "UserViews.h"

using namespace ServerTypes;

namespace {
ItemPtr User(const QString& name)
{
    return d.GetType(user)->GetItem(Value(name));
}

ItemPtr Room(const QString& name)
{
    return d.GetType(room)->GetItem(Value(name));
}

void Mark(ItemPtr item, const char* type, bool on)
{
    if (on)
        item.Connect(d.GetType(type)->GetGlobalNullItem());
    else
        item.Disconnect(type);
}

// The user on the room's members or operators list, the list made when the room has none.
void PutOnList(ItemPtr roomItem, const char* list, ItemPtr userItem)
{
    ItemPtr listItem = roomItem[list];
    if (listItem.IsNull())
        listItem = roomItem.NewItem(list);
    listItem.Connect(userItem);
}

QStringList Texts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << (action->isSeparator() ? QString("|") : action->text());
    return texts;
}

QMenu* Submenu(QMenu* menu, const QString& title)
{
    for (QAction* action : menu->actions())
        if (action->menu() && action->text() == title)
            return action->menu();
    return nullptr;
}

QAction* Entry(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

// A menu as a view builds it, held for one test so that its entries can be triggered.
struct UserMenu
{
    explicit UserMenu(const QString& name) : options(&menu, name) {}
    QMenu* Rooms() { return Submenu(&menu, "Private Rooms"); }

    QMenu menu;
    UserMenuOptions options;
};
} // namespace

// The per-user menu, built from the store as the user sees it, against the fake server.
class UserMenuTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;

    // Room name and user as a room request names them.
    QPair<QString, QString> RoomAndUser(const ServerMessage& message)
    {
        QString roomName;
        QString userName;
        MemStream fields = message.Fields();
        fields.Read(roomName);
        fields.Read(userName);
        return {roomName, userName};
    }

private slots:
    void initTestCase()
    {
        RoomViews::Install();
        UserViews::Install();
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
    }

    void cleanupTestCase() { run.reset(); }

    // Every room leaves its marks behind, so that each case sees only its own rooms.
    void cleanup()
    {
        for (ItemPtr roomItem : d.GetType(room)->GetItems())
        {
            Mark(roomItem, isOwner, false);
            Mark(roomItem, isOperator, false);
        }
        Settings::Clear(ServerSettings::privilegesTimeLeft);
    }

    void roomSubmenuFollowsMembership_data()
    {
        QTest::addColumn<bool>("owned");
        QTest::addColumn<bool>("member");
        QTest::addColumn<bool>("op");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("owned, neither")
            << true << false << false << QStringList{"Give User Membership"};
        QTest::newRow("owned, member")
            << true << true << false
            << QStringList{"Remove User's Membership", "|", "Make User Operator"};
        QTest::newRow("owned, operator only")
            << true << false << true
            << QStringList{"Give User Membership", "|", "Remove User's Operator Status"};
        QTest::newRow("owned, member and operator")
            << true << true << true
            << QStringList{"Remove User's Membership", "|", "Remove User's Operator Status"};
        QTest::newRow("operated, operator")
            << false << false << true << QStringList{"Give User Membership"};
        QTest::newRow("operated, member")
            << false << true << true << QStringList{"Remove User's Membership"};
    }

    void roomSubmenuFollowsMembership()
    {
        QFETCH(bool, owned);
        QFETCH(bool, member);
        QFETCH(bool, op);
        const QString roomName = QString("room %1").arg(QTest::currentDataTag());
        ItemPtr roomItem = Room(roomName);
        ItemPtr userItem = User("rita");
        Mark(roomItem, owned ? isOwner : isOperator, true);
        if (member)
            PutOnList(roomItem, roomMembers, userItem);
        if (op)
            PutOnList(roomItem, roomOperators, userItem);
        UserMenu menu("rita");
        QVERIFY(menu.Rooms());
        QCOMPARE(Texts(&menu.menu).mid(Texts(&menu.menu).indexOf("Ignore user") + 1),
                 (QStringList{"|", "Private Rooms"}));
        QMenu* roomMenu = Submenu(menu.Rooms(), roomName);
        QVERIFY(roomMenu);
        QTEST(Texts(roomMenu), "texts");
        QCOMPARE(roomMenu->menuAction()->font().underline(), owned);
        QCOMPARE(roomMenu->menuAction()->icon().isNull(), !owned);
    }

    void roomsAreSortedAndOwnedRoomsListedOnce()
    {
        for (const char* name : {"beta", "Alpha", "gamma"})
            Mark(Room(name), isOwner, true);
        Mark(Room("gamma"), isOperator, true);
        Mark(Room("delta"), isOperator, true);
        UserMenu menu("sam");
        // Owned rooms first, each list in character order.
        QCOMPARE(Texts(menu.Rooms()), (QStringList{"Alpha", "beta", "gamma", "delta"}));
        QVERIFY(Submenu(menu.Rooms(), "gamma")->menuAction()->font().underline());
    }

    void roomEntriesSendTheirRequests_data()
    {
        QTest::addColumn<bool>("member");
        QTest::addColumn<bool>("op");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<qint32>("code");
        QTest::newRow("give membership") << false << false << "Give User Membership" << 134;
        QTest::newRow("remove membership") << true << false << "Remove User's Membership" << 135;
        QTest::newRow("make operator") << true << false << "Make User Operator" << 143;
        QTest::newRow("remove operator") << true << true << "Remove User's Operator Status" << 144;
    }

    void roomEntriesSendTheirRequests()
    {
        QFETCH(bool, member);
        QFETCH(bool, op);
        QFETCH(QString, entry);
        QFETCH(qint32, code);
        // The "&" must reach the server as typed although the title doubles it.
        const QString roomName = QString("R&B %1").arg(QTest::currentDataTag());
        const QString userName = QString("u&%1").arg(QTest::currentDataTag());
        ItemPtr roomItem = Room(roomName);
        Mark(roomItem, isOwner, true);
        if (member)
            PutOnList(roomItem, roomMembers, User(userName));
        if (op)
            PutOnList(roomItem, roomOperators, User(userName));
        run->Server().ClearMessages();
        {
            UserMenu menu(userName);
            QMenu* roomMenu = Submenu(menu.Rooms(), QString(roomName).replace("&", "&&"));
            QVERIFY(roomMenu);
            QAction* action = Entry(roomMenu, entry);
            QVERIFY(action);
            action->trigger();
        }
        QVERIFY(run->Server().WaitForCode(code));
        const QList<ServerMessage> sent = run->Server().MessagesWithCode(code);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(RoomAndUser(sent.first()), qMakePair(roomName, userName));
        // The store waits for the server's answer.
        QCOMPARE(roomItem[roomMembers].IsConnected(User(userName)), member);
    }

    void giftEntryNeedsPrivilegesLeft_data()
    {
        QTest::addColumn<QString>("left");
        QTest::addColumn<bool>("offered");
        QTest::newRow("absent") << QString() << false;
        QTest::newRow("zero") << "0" << false;
        QTest::newRow("negative") << "-30" << false;
        QTest::newRow("not a number") << "soon" << false;
        QTest::newRow("some left") << "3600" << true;
    }

    void giftEntryNeedsPrivilegesLeft()
    {
        QFETCH(QString, left);
        QFETCH(bool, offered);
        if (!left.isNull())
            Settings::Set(ServerSettings::privilegesTimeLeft, Value(left));
        UserMenu menu("gus");
        QCOMPARE(Entry(&menu.menu, "Gift Privileges") != nullptr, offered);
        // Without owned or operated rooms there is no room block, not even its separator.
        QVERIFY(!menu.Rooms());
        QCOMPARE(Texts(&menu.menu).last(), QString("Ignore user"));
    }

    void onlineAlertTracksAndRemovalKeepsTracking()
    {
        ItemPtr userItem = User("olga");
        run->Server().ClearMessages();
        {
            UserMenu menu("olga");
            Entry(&menu.menu, "Alert when user goes online")->trigger();
        }
        QVERIFY(run->Server().WaitForCode(5));
        QVERIFY(userItem.IsConnected(UserMenuOptions::onlineAlert));
        {
            UserMenu menu("olga");
            Entry(&menu.menu, "Remove online status alert")->trigger();
        }
        QVERIFY(!userItem.IsConnected(UserMenuOptions::onlineAlert));
        QVERIFY(userItem.IsConnected(isTracked));
        // Something the server is asked after: a second add would have arrived before it.
        gp_server->GetUserStatus("olga");
        QVERIFY(run->Server().WaitForCode(7));
        QCOMPARE(run->Server().MessagesWithCode(5).size(), 1);
    }
};

QTEST_MAIN(UserMenuTest)
#include "tst_user_menu.moc"
