#include "Server.h"

#include <list>
#include <utility>

#include "Data.h"
#include "MessageFields.h"
#include "ServerStore.h"
#include "ServerTypes.h"

using MessageFields::Read;
using MessageFields::ReadName;
using MessageFields::ReadUInt16;
using MessageFields::ReadUInt8;
using ServerStore::SetAttribute;
using ServerStore::User;

namespace {
constexpr qint32 obfuscationOn = 1;

using PossibleParent = std::pair<QString, TCPAddress>;
using Correlation = std::pair<QString, qint32>;

// Address first, then the ports: the peer messenger connects once the obfuscated port lands.
void SetPeerAddress(ItemPtr user, const TCPAddress& address, int obfuscatedPort)
{
    SetAttribute(user, PeerTypes::userAddress, address.first);
    SetAttribute(user, PeerTypes::userPort, address.second);
    SetAttribute(user, PeerTypes::userObfuscatedPort, obfuscatedPort);
}
} // namespace

void Server::OnPeerAddress(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "user"))
        return;
    const TCPAddress address = Read<TCPAddress>(body);
    const qint32 obfuscation = Read<qint32>(body);
    const quint16 obfuscatedPort = ReadUInt16(body);

    ItemPtr user = User(name);
    SetPeerAddress(user, address, obfuscation == obfuscationOn ? obfuscatedPort : 0);
    // Answered: a later GetUserAddress asks the server again.
    user.Disconnect(ServerTypes::userAddressRequest);
}

void Server::OnConnectToPeer(MemStream& body)
{
    QString name;
    if (!ReadName(body, name, "user"))
        return;
    const QString type = Read<QString>(body);
    const TCPAddress address = Read<TCPAddress>(body);
    const quint32 token = Read<quint32>(body);
    const bool privileged = ReadUInt8(body) != 0;
    const qint32 obfuscation = Read<qint32>(body);
    const qint32 obfuscatedPort = obfuscation == obfuscationOn ? Read<qint32>(body) : 0;

    // The peer messenger dials as soon as this path is whole, so the user's new address is
    // written before the request is tied to the user: else a stored address is dialled.
    ItemPtr user = User(name);
    SetPeerAddress(user, address, obfuscatedPort);
    ItemPtr request = d.GetType(PeerTypes::peerConnectionRequest)->NewItem();
    SetAttribute(request, PeerTypes::peerConnectionRequestId, token);
    SetAttribute(request, PeerTypes::peerConnectionType, type);
    request.Connect(user);
    if (privileged)
        user.NewItem(ServerTypes::isPrivileged);
}

void Server::OnFileSearch(MemStream& body)
{
    QString user;
    if (!ReadName(body, user, "user"))
        return;
    const quint32 token = Read<quint32>(body);
    const QString query = Read<QString>(body);
    emit DirectFileSearch(user, token, query);
}

void Server::OnPossibleParents(MemStream& body)
{
    std::list<PossibleParent> parents = MessageFields::ReadCountedList<PossibleParent>(
        body, [](InputStream& stream, PossibleParent& parent) {
            return stream.Read(parent.first) && stream.Read(parent.second);
        });
    emit DNetPossibleParents(parents);
}

void Server::OnSearchCorrelations(MemStream& body)
{
    const QString text = Read<QString>(body);
    const std::list<Correlation> correlations = MessageFields::ReadCountedList<Correlation>(
        body, [](InputStream& stream, Correlation& correlation) {
            return stream.Read(correlation.first) && stream.Read(correlation.second);
        });

    // Only a text some search asked about is kept: the server may name any text.
    ItemPtr searchText = d.GetType(PeerTypes::searchRequestText)->HasItem(Value(text));
    if (!searchText.IsNull())
    {
        // The answer replaces the terms of any earlier one, also when it lists none.
        searchText.GetItems(PeerTypes::searchCorrelation).Remove();
        for (const Correlation& correlation : correlations)
        {
            ItemPtr entry = searchText.NewItem(PeerTypes::searchCorrelation);
            SetAttribute(entry, PeerTypes::correlationText, correlation.first);
            SetAttribute(entry, PeerTypes::correlationRank, correlation.second);
        }
    }
    emit SearchCorrelations(text);
}
