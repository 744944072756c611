#pragma once

#include <QtGlobal>

// Every message code the client knows by name, with its number; the same code serves both
// directions.
#define VANDRELL_SERVER_MESSAGE_CODES(X)                                                           \
    X(SM_LOGIN, 1)                                                                                 \
    X(SM_SET_WAIT_PORT, 2)                                                                         \
    X(SM_GET_PEER_ADDRESS, 3)                                                                      \
    X(SM_ADD_USER, 5)                                                                              \
    X(SM_REMOVE_USER, 6)                                                                           \
    X(SM_GET_USER_STATUS, 7)                                                                       \
    X(SM_ADD_CHATROOM, 10)                                                                         \
    X(SM_IGNORE_USER, 11)                                                                          \
    X(SM_UNIGNORE_USER, 12)                                                                        \
    X(SM_SAY_CHATROOM, 13)                                                                         \
    X(SM_JOIN_ROOM, 14)                                                                            \
    X(SM_LEAVE_ROOM, 15)                                                                           \
    X(SM_USER_JOINED_ROOM, 16)                                                                     \
    X(SM_USER_LEFT_ROOM, 17)                                                                       \
    X(SM_CONNECT_TO_PEER, 18)                                                                      \
    X(SM_MESSAGE_USER, 22)                                                                         \
    X(SM_MESSAGE_ACKED, 23)                                                                        \
    X(SM_FILE_SEARCH, 26)                                                                          \
    X(SM_SET_STATUS, 28)                                                                           \
    X(SM_HEARTBEAT, 32)                                                                            \
    X(SM_SEND_CONNECT_TOKEN, 33)                                                                   \
    X(SM_DOWNLOAD_SPEED, 34)                                                                       \
    X(SM_SHARED_FOLDERS_FILES, 35)                                                                 \
    X(SM_GET_USER_STATS, 36)                                                                       \
    X(SM_RELOGGED, 41)                                                                             \
    X(SM_SEARCH_USER_FILES, 42)                                                                    \
    X(SM_GET_SIMILAR_TERMS, 50)                                                                    \
    X(SM_ADD_LIKE_TERM, 51)                                                                        \
    X(SM_REMOVE_LIKE_TERM, 52)                                                                     \
    X(SM_GET_RECOMMENDATIONS, 54)                                                                  \
    X(SM_GET_MY_RECOMMENDATIONS, 55)                                                               \
    X(SM_GET_GLOBAL_RECOMMENDATIONS, 56)                                                           \
    X(SM_GET_USER_RECOMMENDATIONS, 57)                                                             \
    X(SM_COMMAND, 58)                                                                              \
    X(SM_PLACE_IN_LINE, 59)                                                                        \
    X(SM_PLACE_IN_LINE_RESPONSE, 60)                                                               \
    X(SM_USER_LIST, 61)                                                                            \
    X(SM_ROOM_ADDED, 62)                                                                           \
    X(SM_ROOM_REMOVED, 63)                                                                         \
    X(SM_ROOM_LIST, 64)                                                                            \
    X(SM_EXACT_FILE_SEARCH, 65)                                                                    \
    X(SM_ADMIN_MESSAGE, 66)                                                                        \
    X(SM_GLOBAL_USER_LIST, 67)                                                                     \
    X(SM_PEER_MESSAGE, 68)                                                                         \
    X(SM_PRIVILEGED_LIST, 69)                                                                      \
    X(SM_CONNECT_TO_CLIENT, 70)                                                                    \
    X(SM_SEND_DISTRIBUTIONS, 71)                                                                   \
    X(SM_NOTE_PARENT, 73)                                                                          \
    X(SM_CHILD_PARENT_MAP, 82)                                                                     \
    X(SM_SET_PARENT_MIN_SPEED, 83)                                                                 \
    X(SM_SET_PARENT_SPEED_CONNECTION_RATIO, 84)                                                    \
    X(SM_SET_PARENT_INACTIVITY_BEFORE_DISCONNECT, 86)                                              \
    X(SM_SET_SERVER_INACTIVITY_BEFORE_DISCONNECT, 87)                                              \
    X(SM_NODES_IN_CACHE_BEFORE_DISCONNECT, 88)                                                     \
    X(SM_SET_SECONDS_BEFORE_PING_CHILDREN, 90)                                                     \
    X(SM_ADD_PRIVILEGED_USER, 91)                                                                  \
    X(SM_GET_OWN_PRIVILEGES_STATUS, 92)                                                            \
    X(SM_DNET_MESSAGE, 93)                                                                         \
    X(SM_CAN_PARENT, 100)                                                                          \
    X(SM_POSSIBLE_PARENTS, 102)                                                                    \
    X(SM_LOW_PRIORITY_FILE_SEARCH, 103)                                                            \
    X(SM_WISHLIST_WAIT, 104)                                                                       \
    X(SM_GET_RECOMMENDED_USERS, 110)                                                               \
    X(SM_GET_TERM_RECOMMENDATIONS, 111)                                                            \
    X(SM_GET_RECOMMENDATION_USERS, 112)                                                            \
    X(SM_GET_ROOM_TICKER, 113)                                                                     \
    X(SM_ROOM_TICKER_USER_ADDED, 114)                                                              \
    X(SM_ROOM_TICKER_USER_REMOVED, 115)                                                            \
    X(SM_SET_TICKER, 116)                                                                          \
    X(SM_ADD_HATE_TERM, 117)                                                                       \
    X(SM_REMOVE_HATE_TERM, 118)                                                                    \
    X(SM_SEARCH_ROOM, 120)                                                                         \
    X(SM_UPLOAD_SPEED, 121)                                                                        \
    X(SM_GET_USER_PRIVILEGES_STATUS, 122)                                                          \
    X(SM_GIVE_PRIVILEGE, 123)                                                                      \
    X(SM_INFORM_USER_OF_PRIVILEGES, 124)                                                           \
    X(SM_INFORM_USER_OF_PRIVILEGES_ACK, 125)                                                       \
    X(SM_DNET_LEVEL, 126)                                                                          \
    X(SM_DNET_GROUP_LEADER, 127)                                                                   \
    X(SM_DNET_DELIVERY_REPORT, 128)                                                                \
    X(SM_DNET_CHILD_DEPTH, 129)                                                                    \
    X(SM_DNET_RESET, 130)                                                                          \
    X(SM_FLOOD, 131)                                                                               \
    X(SM_BAN_USER, 132)                                                                            \
    X(SM_ROOM_MEMBERS, 133)                                                                        \
    X(SM_ADD_ROOM_MEMBER, 134)                                                                     \
    X(SM_REMOVE_ROOM_MEMBER, 135)                                                                  \
    X(SM_REMOVE_OWN_ROOM_MEMBERSHIP, 136)                                                          \
    X(SM_GIVE_UP_ROOM, 137)                                                                        \
    X(SM_TRANSFER_ROOM_OWNERSHIP, 138)                                                             \
    X(SM_ADD_ROOM_MEMBERSHIP, 139)                                                                 \
    X(SM_REMOVE_ROOM_MEMBERSHIP, 140)                                                              \
    X(SM_ENABLE_PRIVATE_ROOM_ADD, 141)                                                             \
    X(SM_CHANGE_PASSWORD, 142)                                                                     \
    X(SM_ADD_ROOM_OPERATOR, 143)                                                                   \
    X(SM_REMOVE_ROOM_OPERATOR, 144)                                                                \
    X(SM_ADD_ROOM_OPERATORSHIP, 145)                                                               \
    X(SM_REMOVE_ROOM_OPERATORSHIP, 146)                                                            \
    X(SM_REMOVE_OWN_ROOM_OPERATORSHIP, 147)                                                        \
    X(SM_ROOM_OPERATORS, 148)                                                                      \
    X(SM_MESSAGE_USERS, 149)                                                                       \
    X(SM_JOIN_GLOBAL_ROOM, 150)                                                                    \
    X(SM_LEAVE_GLOBAL_ROOM, 151)                                                                   \
    X(SM_SAY_GLOBAL_ROOM, 152)                                                                     \
    X(SM_SEARCH_CORRELATIONS, 153)                                                                 \
    X(SE_CANT_CONNECT_TO_PEER, 1001)                                                               \
    X(SE_CANT_CREATE_ROOM, 1002)

enum MessageCode : qint32
{
#define VANDRELL_DECLARE_CODE(name, number) name = number,
    VANDRELL_SERVER_MESSAGE_CODES(VANDRELL_DECLARE_CODE)
#undef VANDRELL_DECLARE_CODE
    // Handled but outside the name list, so MessageCodeToString gives it no text. It takes a room
    // out of the ones joined at login.
    SE_DROP_ROOM_AUTOJOIN = 1003,
};
