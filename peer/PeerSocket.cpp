#include "PeerSocket.h"

#include "Data.h"
#include "PeerTypes.h"

PeerSocket::~PeerSocket()
{
    RemoveSocketItems(this);
}

void PeerSocket::RemoveSocketItems(QTcpSocket* socket)
{
    const Value key(socket);
    for (const char* typeName :
         {PeerTypes::peerConnectionRequestSocket, PeerTypes::uninitializedSocket,
          PeerTypes::peerSocket, PeerTypes::connectToPeerRequestSocket})
    {
        Type* type = d.HasType(typeName);
        if (!type)
            continue;
        if (ItemPtr item = type->HasItem(key))
            item.Remove();
    }
}
