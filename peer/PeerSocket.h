#pragma once

#include <QTcpSocket>

// A socket that the messenger dials itself. Items name sockets by address, and a later socket may
// get the same address, so whatever item still names this one goes with it.
class PeerSocket : public QTcpSocket
{
public:
    PeerSocket() = default;
    ~PeerSocket() override;

    // Removes every item that names the socket, in the order the disposal removes them.
    static void RemoveSocketItems(QTcpSocket* socket);
};
