// Placeholder definitions so the library links while the requests are written; deleted then.
#include "Server.h"
unsigned int Server::FileSearch(const QString&, bool) { return 0; }
unsigned int Server::SearchUserList(const QString&) { return 0; }
unsigned int Server::SearchRoom(const QString&, const QString&) { return 0; }
void Server::GetSearchCorrelations(const QString&) {}
void Server::SendFilesFolders(int, int) {}
void Server::SendChildDepth(bool) {}
void Server::SendDNetHasParent(bool) {}
void Server::SendDNetLevel(int) {}
void Server::SendDNetCanParent(bool) {}
void Server::GetRoomList() {}
void Server::UntrackUser(const QString&) {}
void Server::EnterRoom(const QString&, bool) {}
void Server::SendCantConnectToPeer(unsigned int, const QString&) {}
void Server::RemovePrivateRoomMember(const QString&, const QString&) {}
void Server::AddPrivateRoomMember(const QString&, const QString&) {}
void Server::GetUserStats(const QString&) {}
void Server::GetUserStatus(const QString&) {}
void Server::SendRoomChat(const QString&, const QString&) {}
unsigned int Server::SendIndirectConnectionRequest(const QString&, const QString&) { return 0; }
void Server::GiveUpPrivateRoomMembership(const QString&) {}
void Server::AddPrivateRoomOperator(const QString&, const QString&) {}
void Server::LeaveRoom(const QString&) {}
void Server::GetUserAddress(const QString&) {}
void Server::BannedUser(const QString&) {}
void Server::SetRoomTicker(const QString&, const QString&) {}
void Server::SendDNetGroupLeader(const QString&) {}
void Server::GiftPrivileges(const QString&, int) {}
void Server::EnablePrivateRoomAdd(bool) {}
void Server::SendPrivateChat(const QString&, const QString&) {}
void Server::RemovePrivateRoomOperator(const QString&, const QString&) {}
void Server::AddUser(const QString&) {}
void Server::TrackUser(const QString&) {}
void Server::SendUploadSpeed(int) {}
void Server::GiveUpPrivateRoom(const QString&) {}
