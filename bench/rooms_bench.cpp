// Rooms benchmark: a room of 2,000 members joins at once (one join reply through the frame
// reader), then 10,000 chat lines arrive from the loopback server as fast as it can write them,
// each shown and logged; then ten rooms each fill their chat view to the cap. It prints the time
// to build the member list, the time per line, the longest pass of the event loop while the
// lines arrive (target at most 50 ms, informational), the memory of the ten full tabs and the
// HTML each holds, which must stay under the cap. Only a failed sanity check fails the run.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <list>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTreeWidget>

#include "Data.h"
#include "FakeCentralServer.h"
#include "ProcessMemory.h"
#include "RoomForm.h"
#include "RoomsForm.h"
#include "Server.h"
#include "ServerTestSetup.h"
#include "Settings.h"
#include "TimerManager.h"
#include "UserStats.h"
#include "WindowTypes.h"
#include "ui_RoomForm.h"
#include "ui_RoomsForm.h"

namespace {
using Names = std::list<QString>;
using Numbers = std::list<qint32>;
constexpr int memberCount = 2000;
constexpr int lineCount = 10000;
constexpr int fullRooms = 10;

QByteArray JoinReply(const QString& room, int members)
{
    Names users, countries;
    QByteArray stats;
    for (int index = 0; index < members; ++index)
    {
        users.push_back(QString("member%1").arg(index));
        countries.push_back("DE");
        UserStats record;
        record.m_averageSpeed = 1024 * index;
        record.m_sharedFileCount = index;
        stats += ServerBytes::Fields(record);
    }
    return ServerBytes::Message(14, ServerBytes::Fields(room, users, Numbers{}, qint32(members)) +
                                        stats + ServerBytes::Fields(Numbers{}, countries));
}

double Seconds(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e9;
}

RoomForm* Page(RoomsForm& rooms, const QString& name)
{
    QTabWidget* tabs = rooms.Form()->roomsTabControl;
    for (int index = 0; index < tabs->count(); ++index)
        if (auto* page = qobject_cast<RoomForm*>(tabs->widget(index)))
            if (page->Room() == name)
                return page;
    return nullptr;
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication application(argc, argv);
    new TimerManager;
    FakeCentralServer fake;
    Server server;
    ServerTestSetup::DeclareTypes(server);
    ServerTestSetup::ResetStore();
    WindowTypes::DeclareWishListAndNotes();
    WindowTypes::DeclareUserChatWidget();
    WindowTypes::DeclareChatLogForm();
    Settings::Set("log_room_chat", "yes");
    Settings::Set("chat_timestamps", "per_message_short");
    if (!ServerTestSetup::LogIn(server, fake))
    {
        std::fprintf(stderr, "could not log in to the loopback server\n");
        return 1;
    }
    RoomsForm rooms;
    rooms.resize(1000, 700);
    rooms.show();
    rooms.Init();

    QBuffer join;
    join.setData(JoinReply("crowd", memberCount));
    join.open(QIODevice::ReadOnly);
    QElapsedTimer timer;
    timer.start();
    server.ReadFrames(join);
    QApplication::processEvents();
    const double joinSeconds = Seconds(timer);
    RoomForm* crowd = Page(rooms, "crowd");
    if (!crowd || crowd->Form()->userList->topLevelItemCount() != memberCount)
    {
        std::fprintf(stderr, "the member list is not complete\n");
        return 1;
    }

    QByteArray lines;
    for (int index = 0; index < lineCount; ++index)
        lines += FakeCentralServer::Frame(FakeCentralServer::Body(
            13, QString("crowd"), QString("member%1").arg(index % memberCount),
            QString("line %1 with a link http://example.org/?a=1&b=2 and some words").arg(index)));
    int shown = 0;
    QObject::connect(&server, &Server::RoomChat, [&shown] { ++shown; });
    // Each call handles what is pending without waiting: one pass of the loop.
    qint64 longestPassNs = 0;
    QElapsedTimer pass;
    timer.start();
    fake.SendRaw(lines);
    while (shown < lineCount && timer.elapsed() < 120000)
    {
        pass.start();
        QApplication::processEvents();
        longestPassNs = std::max(longestPassNs, pass.nsecsElapsed());
    }
    const double chatSeconds = Seconds(timer);
    if (shown != lineCount)
    {
        std::fprintf(stderr, "only %d of %d lines arrived\n", shown, lineCount);
        return 1;
    }

    const long before = StatusKb("VmRSS:");
    timer.start();
    const QString filler(1000, 'x');
    for (int room = 0; room < fullRooms; ++room)
    {
        const QString name = QString("full%1").arg(room);
        QBuffer reply;
        reply.setData(JoinReply(name, 0));
        reply.open(QIODevice::ReadOnly);
        server.ReadFrames(reply);
        RoomForm* page = Page(rooms, name);
        for (int line = 0; page && line < RoomForm::chatCap / 1000 + 50; ++line)
            page->OnRoomChat(name, "someone", filler);
    }
    const double fillSeconds = Seconds(timer);
    const long after = StatusKb("VmRSS:");
    int largestHtml = 0;
    for (int room = 0; room < fullRooms; ++room)
        if (RoomForm* page = Page(rooms, QString("full%1").arg(room)))
            largestHtml = std::max(largestHtml, page->Form()->chatView->toHtml().size());
    if (largestHtml > RoomForm::chatCap)
    {
        std::fprintf(stderr, "a full room holds %d characters of HTML\n", largestHtml);
        return 1;
    }

    std::printf("member list of %d users: %.1f ms\n", memberCount, joinSeconds * 1e3);
    std::printf("%d chat lines shown and logged: %.1f us per line\n", lineCount,
                chatSeconds / lineCount * 1e6);
    std::printf("longest event-loop pass while chatting: %.1f ms (target 50 ms)\n",
                longestPassNs / 1e6);
    std::printf("%d full room tabs: %.1f ms to fill, %ld KiB more resident memory, at most %d "
                "characters of HTML each\n",
                fullRooms, fillSeconds * 1e3, after - before, largestHtml);
    return 0;
}
