#include <cstdint>
#include <cstring>

#include <QAction>
#include <QMenu>
#include <QtTest>

#include "Data.h"
#include "MainWindowRun.h"
#include "MemStream.h"
#include "PeerMessageCode.h"
#include "PeerTypes.h"
#include "ServerTypes.h"
#include "SharesTypes.h"
#include "TransferQueueManager.h"
#include "TransferTypes.h"
#include "UserMenuOptions.h"

namespace {
ItemPtr User(const QString& name)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(name));
}

void SetOnline(const QString& name, bool online)
{
    if (online)
        User(name).Connect(d.GetType(ServerTypes::isOnline)->GetGlobalNullItem());
    else
        User(name).Disconnect(ServerTypes::isOnline);
}

// The bodies of the messages with the code waiting to be sent to the user.
QList<QByteArray> Waiting(const QString& name, std::uint32_t code)
{
    QList<QByteArray> bodies;
    for (ItemPtr message : User(name).GetItems(PeerTypes::unsentMessage))
    {
        auto* body = message.AsPointer<MemStream>();
        std::uint32_t sent = 0;
        std::memcpy(&sent, body->GetWrittenData(), sizeof sent);
        if (sent == code)
            bodies << QByteArray(body->GetWrittenData() + 4, body->GetWrittenLength() - 4);
    }
    return bodies;
}

// Runs the entry of the user's menu with that text; false when the menu has none.
bool Choose(const QString& name, const QString& text)
{
    QMenu menu;
    UserMenuOptions options(&menu, name);
    for (QAction* action : menu.actions())
        if (action->text() == text)
        {
            action->trigger();
            return true;
        }
    return false;
}

int Uploads(const QString& name)
{
    return int(User(name).GetItems(TransferTypes::uploadEntry).Size());
}
} // namespace

// Withdrawing our files from a user through the user menu, and giving them back.
class UserMenuSharingTest : public QObject
{
    Q_OBJECT

    MainWindowRun run;

private slots:
    void initTestCase()
    {
        run.Start();
        QVERIFY(run.WaitLoggedIn());
        using namespace SharesTypes;
        ItemPtr root = d.GetType(sharedFolder)->GetItem(Value("/music"));
        root.NewItem(sharedPublic);
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem(Value("/music"));
        root.Connect(folder);
        for (const char* name : {"a.mp3", "b.mp3"})
        {
            ItemPtr file = folder.NewItem(sharedFile);
            file.Connect(d.GetType(sharedFileName)->GetItem(Value(name)));
            file.Connect(d.GetType(sharedFileSize)->GetItem(Value(1000)));
        }
    }

    void unshareRefusesTheQueuedUploadsAndReshareTakesNewOnes()
    {
        SetOnline("zed", false);
        transferQueueManager->AddUpload("zed", "/music/a.mp3");
        transferQueueManager->AddUpload("zed", "/music/b.mp3");
        QCOMPARE(Uploads("zed"), 2);

        QVERIFY(Choose("zed", "Unshare files from user"));
        const QList<QByteArray> refusals = Waiting("zed", PeerMessageCode::PM_UPLOAD_DENIED);
        QCOMPARE(refusals.size(), 2);
        for (const QByteArray& refusal : refusals)
            QVERIFY(refusal.endsWith("File not shared."));
        QCOMPARE(Uploads("zed"), 0);
        SetOnline("zed", true);
        transferQueueManager->AddUpload("zed", "/music/a.mp3");
        transferQueueManager->StartNewUploads();
        QCOMPARE(Uploads("zed"), 0);
        QCOMPARE(Waiting("zed", PeerMessageCode::PM_TRANSFER_REQUEST).size(), 0);

        QVERIFY(!Choose("zed", "Unshare files from user"));
        QVERIFY(Choose("zed", "Re-share files with user"));
        QVERIFY(!User("zed").IsConnected(PeerTypes::unshared));
        QCOMPARE(Uploads("zed"), 0);
        transferQueueManager->AddUpload("zed", "/music/b.mp3");
        QCOMPARE(Uploads("zed"), 1);
        QCOMPARE(Waiting("zed", PeerMessageCode::PM_TRANSFER_REQUEST).size(), 1);
    }
};

QTEST_MAIN(UserMenuSharingTest)
#include "tst_user_menu_sharing.moc"
