// Placeholder definitions so the library links while the handlers are written; deleted then.
#include "Server.h"
void Server::OnLoginReply(MemStream&) {}
void Server::OnAddUserReply(MemStream&) {}
void Server::OnUserStatus(MemStream&) {}
void Server::OnPrivateMessage(MemStream&) {}
void Server::OnUserStats(MemStream&) {}
void Server::OnAdminMessage(MemStream&) {}
void Server::OnPrivilegedList(MemStream&) {}
void Server::OnOwnPrivileges(MemStream&) {}
void Server::OnPeerAddress(MemStream&) {}
void Server::OnConnectToPeer(MemStream&) {}
void Server::OnFileSearch(MemStream&) {}
void Server::OnPossibleParents(MemStream&) {}
void Server::OnSearchCorrelations(MemStream&) {}
