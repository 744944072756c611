// Whole peer messages as a link hands them to the messenger's dispatch. The first byte picks the
// link: even is a link just accepted, whose first message is the handshake; odd is a messaging
// link that is up. Bit 1 marks the link obfuscated. The rest is a run of bodies, each after its
// u32 length, as the frame reader cuts them.

#include <QCoreApplication>
#include <QTcpSocket>

#include "CompressedBody.h"
#include "Data.h"
#include "FakePeer.h"
#include "FuzzTarget.h"
#include "MemStream.h"
#include "PeerFrame.h"
#include "PeerMessenger.h"
#include "PeerTypes.h"
#include "SearchResultBody.h"
#include "ServerStore.h"
#include "ShareListBody.h"

namespace {
const char accepted = 0, messaging = 1;

QByteArray Compressed(std::uint32_t code, const Persistent& record)
{
    MemStream body;
    MemStream message;
    record.Write(body);
    CompressedBody::Compress(code, body, message);
    return QByteArray(message.GetWrittenData(), message.GetWrittenLength());
}

QByteArray Framed(const QByteArray& body)
{
    return FakePeer::Body(std::uint32_t(body.size())) + body;
}

QByteArray UserInfoReply()
{
    MemStream body;
    const unsigned char yes = 1;
    body.Write(std::uint32_t(16));
    body.Write(QString("about me"));
    body.WriteBuffer(&yes, 1);
    body.Write(std::int32_t(3));
    body.WriteBuffer("png", 3);
    body.Write(std::int32_t(2));
    body.Write(std::int32_t(1));
    body.WriteBuffer(&yes, 1);
    return QByteArray(body.GetWrittenData(), body.GetWrittenLength());
}

PeerMessenger& Messenger()
{
    static PeerMessenger* messenger = [] {
        FuzzTarget::DeclaredServer();
        return new PeerMessenger;
    }();
    return *messenger;
}

std::vector<QByteArray> MessagingBodies()
{
    FileInfo file;
    file.name = "music\\song.mp3";
    file.size = 4000;
    SearchResultBody results;
    results.user = "ann";
    results.token = 7;
    results.results.push_back(file);
    ShareListBody list;
    list.folders["music"].insert(file);
    return {
        FakePeer::Body(4),
        Compressed(5, list),
        Compressed(9, results),
        FakePeer::Body(15),
        UserInfoReply(),
        FakePeer::Body(36, std::uint32_t(3), QString("music")),
        FakePeer::Body(40, std::int32_t(1), std::uint32_t(9), QString("music\\song.mp3"),
                       std::int64_t(4000)),
        FakePeer::Body(41, std::uint32_t(9), true, std::int64_t(4000)),
        FakePeer::Body(41, std::uint32_t(9), false, QString("Queued")),
        FakePeer::Body(43, QString("music\\song.mp3")),
        FakePeer::Body(44, QString("music\\song.mp3"), std::int32_t(3)),
        FakePeer::Body(46, QString("music\\song.mp3")),
        FakePeer::Body(50, QString("music\\song.mp3"), QString("Banned")),
        FakePeer::Body(51, QString("music\\song.mp3")),
        FakePeer::Body(52, QString("music\\song.mp3"), std::int64_t(4000)),
    };
}
} // namespace

namespace FuzzTarget {
std::vector<QByteArray> Seeds()
{
    std::vector<QByteArray> seeds;
    QByteArray all(1, messaging);
    for (const QByteArray& body : MessagingBodies())
    {
        seeds.push_back(QByteArray(1, messaging) + Framed(body));
        all += Framed(body);
    }
    seeds.push_back(all);
    for (const char* type : {"P", "F", "D", "X"})
        seeds.push_back(QByteArray(1, accepted) + Framed(FakePeer::InitBody("ann", type)) +
                        Framed(FakePeer::Body(15)));
    seeds.push_back(QByteArray(1, accepted | 2) + Framed(FakePeer::RelayAnswerBody(5)));
    return seeds;
}
} // namespace FuzzTarget

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    PeerMessenger& messenger = Messenger();
    FuzzTarget::ResetStore();
    auto* socket = new QTcpSocket;
    const bool messagingLink = (data[0] & 1) != 0;
    ItemPtr link = d.GetType(messagingLink ? PeerTypes::peerSocket : PeerTypes::uninitializedSocket)
                       ->NewItem(Value(socket));
    if (messagingLink)
        link.Connect(ServerStore::User("ann"));
    if ((data[0] & 2) != 0)
        link.Connect(d.GetType(PeerTypes::isObfuscated)->GetGlobalNullItem());

    FuzzTarget::ForEachFramed(data + 1, size - 1, PeerFrame::MaxBodyLength, [&](MemStream& body) {
        return messenger.DispatchForTesting(socket, body);
    });
    // Whatever the messages made of the link goes, then the socket itself.
    messenger.DisposeOfSocket(socket);
    messenger.EveryHalfMinuteAt(QDateTime::currentDateTime().addDays(1));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    d.RemoveAllItems();
    return 0;
}
