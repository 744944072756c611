#include "Server.h"

#include "Data.h"
#include "MessageCode.h"
#include "ServerTypes.h"

namespace {
// The search record that answers are matched against; searches with one text share its item.
ItemPtr RecordSearch(quint32 token, const QString& text)
{
    ItemPtr request = d.GetType(PeerTypes::searchRequest)->NewItem(Value(token));
    request.Connect(d.GetType(PeerTypes::searchRequestText)->GetItem(Value(text)));
    return request;
}
} // namespace

unsigned int Server::FileSearch(const QString& text, bool wishListSearch)
{
    const quint32 token = nextSearchToken++;
    Send(wishListSearch ? SM_LOW_PRIORITY_FILE_SEARCH : SM_FILE_SEARCH, token, text);
    ItemPtr request = RecordSearch(token, text);
    if (wishListSearch)
        request.NewItem(PeerTypes::wishlistSearch);
    emit SearchRequested(token, text, wishListSearch);
    return token;
}

unsigned int Server::SearchUserList(const QString& text)
{
    const quint32 token = nextSearchToken++;
    RecordSearch(token, text);
    const ItemSet listed = g(ServerTypes::user).Connected(ServerTypes::inUserList);
    for (ItemPtr user : listed.Connected(ServerTypes::isOnline))
        Send(SM_SEARCH_USER_FILES, user.AsString(), token, text);
    return token;
}

unsigned int Server::SearchRoom(const QString& room, const QString& text)
{
    const quint32 token = nextSearchToken++;
    RecordSearch(token, text);
    Send(SM_SEARCH_ROOM, room, token, text);
    return token;
}

void Server::GetSearchCorrelations(const QString& text)
{
    Send(SM_SEARCH_CORRELATIONS, text);
}
