// Bytes as if they arrived from the central server, through the frame reader and every handler.
// The first byte picks the link's state: odd is connecting, where only the login reply counts;
// even is logged in.

#include <list>
#include <set>

#include <QBuffer>

#include "Data.h"
#include "FakeCentralServer.h"
#include "FuzzTarget.h"
#include "Server.h"
#include "UserStats.h"

namespace {
using ServerBytes::Fields;
using ServerBytes::Message;

const QString ann("ann"), bob("bob"), room("lounge"), text("hello there");
const char connecting = 1, loggedIn = 0;

QByteArray Stats()
{
    UserStats stats;
    stats.m_averageSpeed = 51200;
    stats.m_sharedFileCount = 812;
    return Fields(stats);
}

// One whole, well-formed message of each code the handlers read.
std::vector<QByteArray> LoggedInMessages()
{
    const std::list<QString> users{ann, bob};
    const std::list<qint32> counts{3, 4};
    const std::set<QString> names{ann, bob};
    return {
        Message(3, Fields(ann, quint32(16909060), qint32(2234), qint32(1)) + "\x39\xF0"),
        Message(5, Fields(ann, true, qint32(2)) + Stats() + Fields(QString("NL"))),
        Message(7, Fields(ann, qint32(1), true)),
        Message(13, Fields(room, ann, text)),
        Message(14, Fields(room, users, counts, qint32(2)) + Stats() + Stats() +
                        Fields(counts, std::list<QString>{"NL", "DE"}, ann, names)),
        Message(15, Fields(room)),
        Message(16, Fields(room, bob, qint32(2)) + Stats() + Fields(qint32(0), QString("FR"))),
        Message(17, Fields(room, bob)),
        Message(18, Fields(ann, QString("P"), quint32(3232235778u), qint32(2240), quint32(31), true,
                           qint32(1), qint32(50000))),
        Message(22, Fields(qint32(11), qint32(17), ann, QString("7 privileges"), true)),
        Message(26, Fields(ann, quint32(7), QString("jazz -live"))),
        Message(36, Fields(bob) + Stats()),
        Message(64, Fields(std::list<QString>{room}, std::list<qint32>{5}, users, counts, users,
                           counts, names)),
        Message(66, Fields(text)),
        Message(69, Fields(names)),
        Message(83, Fields(qint32(11))),
        Message(84, Fields(qint32(12))),
        Message(92, Fields(qint32(3600))),
        Message(93, Fields(qint32(3), QString("inner"))),
        Message(102, Fields(qint32(1), ann, quint32(1), qint32(10))),
        Message(104, Fields(quint32(600))),
        Message(113, Fields(room, qint32(2), ann, text, bob, text)),
        Message(114, Fields(room, bob, text)),
        Message(128, Fields(qint32(13))),
        Message(130, QByteArray()),
        Message(133, Fields(room, names)),
        Message(134, Fields(room, bob)),
        Message(135, Fields(room, bob)),
        Message(139, Fields(room)),
        Message(140, Fields(room)),
        Message(141, Fields(true)),
        Message(143, Fields(room, bob)),
        Message(144, Fields(room, bob)),
        Message(145, Fields(room)),
        Message(146, Fields(room)),
        Message(148, Fields(room, names)),
        Message(153, Fields(QString("rock"), qint32(1), QString("punk"), qint32(5))),
        Message(1001, Fields(quint32(14))),
        Message(1003, Fields(room)),
    };
}
} // namespace

namespace FuzzTarget {
std::vector<QByteArray> Seeds()
{
    const std::vector<QByteArray> messages = LoggedInMessages();
    std::vector<QByteArray> seeds;
    QByteArray all(1, loggedIn);
    for (const QByteArray& message : messages)
    {
        seeds.push_back(QByteArray(1, loggedIn) + message);
        all += message;
    }
    seeds.push_back(all);
    const QByteArray accepted =
        Message(1, Fields(true, QString("welcome"), quint32(1), QString("x"), true));
    seeds.push_back(QByteArray(1, connecting) + accepted + messages[2]);
    seeds.push_back(QByteArray(1, connecting) + Message(1, Fields(false, QString("INVALIDPASS"))));
    return seeds;
}
} // namespace FuzzTarget

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    Server& server = FuzzTarget::DeclaredServer();
    FuzzTarget::ResetStore();
    server.StartLinkForTesting((data[0] & 1) != 0 ? Server::StateConnecting
                                                  : Server::StateLoggedIn);
    QBuffer source;
    source.setData(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
    source.open(QIODevice::ReadOnly);
    server.ReadFrames(source);
    server.StartLinkForTesting(Server::StateOff);
    d.RemoveAllItems();
    return 0;
}
