#include "Server.h"

#include <QHash>

#include "Log.h"
#include "MessageCode.h"
#include "MessageFields.h"

namespace {
const QHash<int, QString>& CodeNames()
{
    static const QHash<int, QString> names = {
#define VANDRELL_NAME_CODE(name, number) {number, #name},
        VANDRELL_SERVER_MESSAGE_CODES(VANDRELL_NAME_CODE)
#undef VANDRELL_NAME_CODE
    };
    return names;
}
} // namespace

QString Server::MessageCodeToString(int code)
{
    return CodeNames().value(code);
}

void Server::HandleMessage(int code, MemStream& body)
{
    if (connectionState == StateOff)
        return;
    // A message must never take the client down, even one naming a type nothing declared.
    try
    {
        switch (code)
        {
        case SM_LOGIN:
            if (connectionState == StateConnecting)
                OnLoginReply(body);
            break;
        case SM_GET_PEER_ADDRESS:
            OnPeerAddress(body);
            break;
        case SM_ADD_USER:
            OnAddUserReply(body);
            break;
        case SM_GET_USER_STATUS:
            OnUserStatus(body);
            break;
        case SM_SAY_CHATROOM:
            OnRoomChat(body);
            break;
        case SM_JOIN_ROOM:
            OnJoinRoom(body);
            break;
        case SM_LEAVE_ROOM:
            OnLeaveRoom(body);
            break;
        case SM_USER_JOINED_ROOM:
            OnUserJoinedRoom(body);
            break;
        case SM_USER_LEFT_ROOM:
            OnUserLeftRoom(body);
            break;
        case SM_CONNECT_TO_PEER:
            OnConnectToPeer(body);
            break;
        case SM_MESSAGE_USER:
            OnPrivateMessage(body);
            break;
        case SM_FILE_SEARCH:
            OnFileSearch(body);
            break;
        case SM_GET_USER_STATS:
            OnUserStats(body);
            break;
        case SM_ROOM_LIST:
            OnRoomList(body);
            break;
        case SM_ADMIN_MESSAGE:
            OnAdminMessage(body);
            break;
        case SM_PRIVILEGED_LIST:
            OnPrivilegedList(body);
            break;
        case SM_SET_PARENT_MIN_SPEED:
            emit DNetParentMinSpeed(MessageFields::Read<qint32>(body));
            break;
        case SM_SET_PARENT_SPEED_CONNECTION_RATIO:
            emit DNetParentSpeedConnectionRatio(MessageFields::Read<qint32>(body));
            break;
        case SM_GET_OWN_PRIVILEGES_STATUS:
            OnOwnPrivileges(body);
            break;
        case SM_DNET_MESSAGE:
            emit DNetMessage(body);
            break;
        case SM_POSSIBLE_PARENTS:
            OnPossibleParents(body);
            break;
        case SM_WISHLIST_WAIT:
            emit WishListWait(MessageFields::Read<quint32>(body));
            break;
        case SM_GET_ROOM_TICKER:
            OnRoomTickers(body);
            break;
        case SM_ROOM_TICKER_USER_ADDED:
            OnRoomTickerSet(body);
            break;
        case SM_DNET_DELIVERY_REPORT:
            emit DNetDeliveryReport(MessageFields::Read<qint32>(body));
            break;
        case SM_DNET_RESET:
            emit DNetReset();
            break;
        case SM_ROOM_MEMBERS:
            OnRoomMembers(body);
            break;
        case SM_ADD_ROOM_MEMBER:
            OnRoomMemberAdded(body);
            break;
        case SM_REMOVE_ROOM_MEMBER:
            OnRoomMemberRemoved(body);
            break;
        case SM_ADD_ROOM_MEMBERSHIP:
            OnRoomMembershipAdded(body);
            break;
        case SM_REMOVE_ROOM_MEMBERSHIP:
            OnRoomMembershipRemoved(body);
            break;
        case SM_ENABLE_PRIVATE_ROOM_ADD:
            OnPrivateRoomAddEnabled(body);
            break;
        case SM_ADD_ROOM_OPERATOR:
            OnRoomOperatorAdded(body);
            break;
        case SM_REMOVE_ROOM_OPERATOR:
            OnRoomOperatorRemoved(body);
            break;
        case SM_ADD_ROOM_OPERATORSHIP:
            OnRoomOperatorshipAdded(body);
            break;
        case SM_REMOVE_ROOM_OPERATORSHIP:
            OnRoomOperatorshipRemoved(body);
            break;
        case SM_ROOM_OPERATORS:
            OnRoomOperators(body);
            break;
        case SM_SEARCH_CORRELATIONS:
            OnSearchCorrelations(body);
            break;
        case SE_CANT_CONNECT_TO_PEER:
            emit IndirectPeerConnectionFailure(MessageFields::Read<quint32>(body));
            break;
        case SE_DROP_ROOM_AUTOJOIN:
            OnRoomAutojoinDropped(body);
            break;
        default:
            break;
        }
    }
    catch (...)
    {
        Log("server", 1, QString("Message %1 could not be handled.").arg(code));
    }
}
