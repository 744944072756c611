// Users benchmark: a user list of 5,000 users in 50 groups is built as after loading the saved
// store, then 2,000 of them come online right after login, 100 per pass of the event loop as a
// burst of status messages would bring them. It prints the time to build the four trees and
// the longest event-loop pass while the online marks arrive (target at most 50 ms,
// informational); the list is re-sorted once per pass, not once per user. Only a failed sanity
// check fails the run.

#include <algorithm>
#include <cstdio>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "Data.h"
#include "Server.h"
#include "ServerTestSetup.h"
#include "ServerTypes.h"
#include "UserListForm.h"
#include "UserListItemWidget.h"
#include "WindowTypes.h"
#include "ui_UserListForm.h"

namespace {
constexpr int userCount = 5000;
constexpr int groupCount = 50;
constexpr int comingOnline = 2000;
constexpr int perPass = 100;

ItemPtr User(int index)
{
    return d.GetType(ServerTypes::user)->GetItem(Value(QString("user%1").arg(index)));
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication application(argc, argv);
    Server server;
    ServerTestSetup::DeclareTypes(server);
    ServerTestSetup::ResetStore();
    WindowTypes::DeclareWishListAndNotes();

    UserListForm form;
    form.Init();
    for (int index = 0; index < userCount; ++index)
    {
        ItemPtr listed = User(index).NewItem(ServerTypes::inUserList);
        listed.Connect(d.GetType(ServerTypes::userListGroup)
                           ->GetItem(Value(QString("group%1").arg(index % groupCount))));
        if (index % 10 == 0)
            User(index).Connect(d.GetType(UserListForm::onlineAlert)->GetGlobalNullItem());
    }
    QElapsedTimer build;
    build.start();
    form.DataLoaded();
    QApplication::processEvents();
    const qint64 buildNs = build.nsecsElapsed();
    if (form.Form()->userList->topLevelItemCount() != userCount)
    {
        std::fprintf(stderr, "the user list is not complete\n");
        return 1;
    }

    qint64 longestPassNs = 0;
    QElapsedTimer all;
    all.start();
    for (int first = 0; first < comingOnline; first += perPass)
    {
        QElapsedTimer pass;
        pass.start();
        for (int index = first; index < first + perPass; ++index)
            User(index * 2).NewItem(ServerTypes::isOnline);
        QApplication::processEvents();
        longestPassNs = std::max(longestPassNs, pass.nsecsElapsed());
    }
    const qint64 onlineNs = all.nsecsElapsed();
    auto* top = static_cast<UserListItemWidget*>(form.Form()->userList->topLevelItem(0));
    auto* last =
        static_cast<UserListItemWidget*>(form.Form()->userList->topLevelItem(userCount - 1));
    if (!top->IsOnline() || last->IsOnline())
    {
        std::fprintf(stderr, "online users are not listed first\n");
        return 1;
    }
    std::printf("user list of %d users in %d groups: %.1f ms to build\n", userCount, groupCount,
                buildNs / 1e6);
    std::printf("%d users coming online, %d per pass: %.1f ms in all\n", comingOnline, perPass,
                onlineNs / 1e6);
    std::printf("longest event-loop pass while they come online: %.1f ms (target 50 ms)\n",
                longestPassNs / 1e6);
    return 0;
}
