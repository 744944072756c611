#include "Server.h"

#include <QHash>

#include "Log.h"
#include "MessageFields.h"

namespace {
const QHash<int, QString>& CodeNames()
{
    static const QHash<int, QString> names = {
        {1, "SM_LOGIN"},
        {2, "SM_SET_WAIT_PORT"},
        {3, "SM_GET_PEER_ADDRESS"},
        {5, "SM_ADD_USER"},
        {6, "SM_REMOVE_USER"},
        {7, "SM_GET_USER_STATUS"},
        {10, "SM_ADD_CHATROOM"},
        {11, "SM_IGNORE_USER"},
        {12, "SM_UNIGNORE_USER"},
        {13, "SM_SAY_CHATROOM"},
        {14, "SM_JOIN_ROOM"},
        {15, "SM_LEAVE_ROOM"},
        {16, "SM_USER_JOINED_ROOM"},
        {17, "SM_USER_LEFT_ROOM"},
        {18, "SM_CONNECT_TO_PEER"},
        {22, "SM_MESSAGE_USER"},
        {23, "SM_MESSAGE_ACKED"},
        {26, "SM_FILE_SEARCH"},
        {28, "SM_SET_STATUS"},
        {32, "SM_HEARTBEAT"},
        {33, "SM_SEND_CONNECT_TOKEN"},
        {34, "SM_DOWNLOAD_SPEED"},
        {35, "SM_SHARED_FOLDERS_FILES"},
        {36, "SM_GET_USER_STATS"},
        {41, "SM_RELOGGED"},
        {42, "SM_SEARCH_USER_FILES"},
        {50, "SM_GET_SIMILAR_TERMS"},
        {51, "SM_ADD_LIKE_TERM"},
        {52, "SM_REMOVE_LIKE_TERM"},
        {54, "SM_GET_RECOMMENDATIONS"},
        {55, "SM_GET_MY_RECOMMENDATIONS"},
        {56, "SM_GET_GLOBAL_RECOMMENDATIONS"},
        {57, "SM_GET_USER_RECOMMENDATIONS"},
        {58, "SM_COMMAND"},
        {59, "SM_PLACE_IN_LINE"},
        {60, "SM_PLACE_IN_LINE_RESPONSE"},
        {61, "SM_USER_LIST"},
        {62, "SM_ROOM_ADDED"},
        {63, "SM_ROOM_REMOVED"},
        {64, "SM_ROOM_LIST"},
        {65, "SM_EXACT_FILE_SEARCH"},
        {66, "SM_ADMIN_MESSAGE"},
        {67, "SM_GLOBAL_USER_LIST"},
        {68, "SM_PEER_MESSAGE"},
        {69, "SM_PRIVILEGED_LIST"},
        {70, "SM_CONNECT_TO_CLIENT"},
        {71, "SM_SEND_DISTRIBUTIONS"},
        {73, "SM_NOTE_PARENT"},
        {82, "SM_CHILD_PARENT_MAP"},
        {83, "SM_SET_PARENT_MIN_SPEED"},
        {84, "SM_SET_PARENT_SPEED_CONNECTION_RATIO"},
        {86, "SM_SET_PARENT_INACTIVITY_BEFORE_DISCONNECT"},
        {87, "SM_SET_SERVER_INACTIVITY_BEFORE_DISCONNECT"},
        {88, "SM_NODES_IN_CACHE_BEFORE_DISCONNECT"},
        {90, "SM_SET_SECONDS_BEFORE_PING_CHILDREN"},
        {91, "SM_ADD_PRIVILEGED_USER"},
        {92, "SM_GET_OWN_PRIVILEGES_STATUS"},
        {93, "SM_DNET_MESSAGE"},
        {100, "SM_CAN_PARENT"},
        {102, "SM_POSSIBLE_PARENTS"},
        {103, "SM_LOW_PRIORITY_FILE_SEARCH"},
        {104, "SM_WISHLIST_WAIT"},
        {110, "SM_GET_RECOMMENDED_USERS"},
        {111, "SM_GET_TERM_RECOMMENDATIONS"},
        {112, "SM_GET_RECOMMENDATION_USERS"},
        {113, "SM_GET_ROOM_TICKER"},
        {114, "SM_ROOM_TICKER_USER_ADDED"},
        {115, "SM_ROOM_TICKER_USER_REMOVED"},
        {116, "SM_SET_TICKER"},
        {117, "SM_ADD_HATE_TERM"},
        {118, "SM_REMOVE_HATE_TERM"},
        {120, "SM_SEARCH_ROOM"},
        {121, "SM_UPLOAD_SPEED"},
        {122, "SM_GET_USER_PRIVILEGES_STATUS"},
        {123, "SM_GIVE_PRIVILEGE"},
        {124, "SM_INFORM_USER_OF_PRIVILEGES"},
        {125, "SM_INFORM_USER_OF_PRIVILEGES_ACK"},
        {126, "SM_DNET_LEVEL"},
        {127, "SM_DNET_GROUP_LEADER"},
        {128, "SM_DNET_DELIVERY_REPORT"},
        {129, "SM_DNET_CHILD_DEPTH"},
        {130, "SM_DNET_RESET"},
        {131, "SM_FLOOD"},
        {132, "SM_BAN_USER"},
        {133, "SM_ROOM_MEMBERS"},
        {134, "SM_ADD_ROOM_MEMBER"},
        {135, "SM_REMOVE_ROOM_MEMBER"},
        {136, "SM_REMOVE_OWN_ROOM_MEMBERSHIP"},
        {137, "SM_GIVE_UP_ROOM"},
        {138, "SM_TRANSFER_ROOM_OWNERSHIP"},
        {139, "SM_ADD_ROOM_MEMBERSHIP"},
        {140, "SM_REMOVE_ROOM_MEMBERSHIP"},
        {141, "SM_ENABLE_PRIVATE_ROOM_ADD"},
        {142, "SM_CHANGE_PASSWORD"},
        {143, "SM_ADD_ROOM_OPERATOR"},
        {144, "SM_REMOVE_ROOM_OPERATOR"},
        {145, "SM_ADD_ROOM_OPERATORSHIP"},
        {146, "SM_REMOVE_ROOM_OPERATORSHIP"},
        {147, "SM_REMOVE_OWN_ROOM_OPERATORSHIP"},
        {148, "SM_ROOM_OPERATORS"},
        {149, "SM_MESSAGE_USERS"},
        {150, "SM_JOIN_GLOBAL_ROOM"},
        {151, "SM_LEAVE_GLOBAL_ROOM"},
        {152, "SM_SAY_GLOBAL_ROOM"},
        {153, "SM_SEARCH_CORRELATIONS"},
        {1001, "SE_CANT_CONNECT_TO_PEER"},
        {1002, "SE_CANT_CREATE_ROOM"},
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
        case 1:
            if (connectionState == StateConnecting)
                OnLoginReply(body);
            break;
        case 3: OnPeerAddress(body); break;
        case 5: OnAddUserReply(body); break;
        case 7: OnUserStatus(body); break;
        case 18: OnConnectToPeer(body); break;
        case 22: OnPrivateMessage(body); break;
        case 26: OnFileSearch(body); break;
        case 36: OnUserStats(body); break;
        case 66: OnAdminMessage(body); break;
        case 69: OnPrivilegedList(body); break;
        case 83: emit DNetParentMinSpeed(MessageFields::Read<qint32>(body)); break;
        case 84: emit DNetParentSpeedConnectionRatio(MessageFields::Read<qint32>(body)); break;
        case 92: OnOwnPrivileges(body); break;
        case 93: emit DNetMessage(body); break;
        case 102: OnPossibleParents(body); break;
        case 104: emit WishListWait(MessageFields::Read<quint32>(body)); break;
        case 128: emit DNetDeliveryReport(MessageFields::Read<qint32>(body)); break;
        case 130: emit DNetReset(); break;
        case 153: OnSearchCorrelations(body); break;
        case 1001: emit IndirectPeerConnectionFailure(MessageFields::Read<quint32>(body)); break;
        default: break;
        }
    }
    catch (...)
    {
        Log("server", 1, QString("Message %1 could not be handled.").arg(code));
    }
}
