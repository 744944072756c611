#pragma once

// Names of the item types that the server connection declares or fills, written once.
namespace ServerTypes {
constexpr const char* user = "user";
constexpr const char* isOnline = "is_online";
constexpr const char* lastOnlineStatusChange = "last_online_status_change";
constexpr const char* isTracked = "is_tracked";
constexpr const char* isPrivileged = "is_privileged";
constexpr const char* isAway = "is_away";
constexpr const char* room = "room";
constexpr const char* roomAutojoin = "room_autojoin";
constexpr const char* userCount = "user_count";
constexpr const char* isPrivate = "is_private";
constexpr const char* isMember = "is_member";
constexpr const char* inRoom = "in_room";
constexpr const char* roomOwner = "room_owner";
constexpr const char* roomOperators = "room_operators";
constexpr const char* roomMembers = "room_members";
constexpr const char* isOwner = "is_owner";
constexpr const char* isOperator = "is_operator";
constexpr const char* averageDownloadSpeed = "average_download_speed";
constexpr const char* sharedFileCount = "shared_file_count";
constexpr const char* countryCode = "country_code";
constexpr const char* inUserList = "in_user_list";
constexpr const char* userListGroup = "user_list_group";
constexpr const char* groupDownloadPriority = "group_download_priority";
constexpr const char* isIgnored = "is_ignored";
constexpr const char* acceptUploads = "accept_uploads";
constexpr const char* userAddressRequest = "user_address_request";
constexpr const char* roomTicker = "room_ticker";
constexpr const char* roomTickerText = "room_ticker_text";
constexpr const char* roomTickerOrder = "room_ticker_order";
constexpr const char* tickerOrderCounter = "ticker_order_counter";
} // namespace ServerTypes

// Types that the peer messenger declares and the server connection fills.
namespace PeerTypes {
constexpr const char* searchRequest = "search_request";
constexpr const char* searchRequestText = "search_request_text";
constexpr const char* wishlistSearch = "wishlist_search";
constexpr const char* searchCorrelation = "search_correlation";
constexpr const char* correlationText = "correlation_text";
constexpr const char* correlationRank = "correlation_rank";
constexpr const char* peerConnectionRequest = "peer_connection_request";
constexpr const char* peerConnectionRequestId = "peer_connection_request_id";
constexpr const char* peerConnectionType = "peer_connection_type";
constexpr const char* userAddress = "user_address";
constexpr const char* userPort = "user_port";
constexpr const char* userObfuscatedPort = "user_obfuscated_port";
} // namespace PeerTypes

// Setting keys of the server connection.
namespace ServerSettings {
constexpr const char* username = "username";
constexpr const char* password = "password";
constexpr const char* useUpnp = "use_upnp";
constexpr const char* listeningPort = "listening_port";
constexpr const char* obfuscatedListeningPort = "obfuscated_listening_port";
constexpr const char* availabilityStatus = "availability_status";
constexpr const char* acceptRoomList = "accept_room_list";
constexpr const char* isSupporter = "is_supporter";
constexpr const char* privilegesTimeLeft = "privileges_time_left";
constexpr const char* acceptPrivateRoomAdd = "accept_private_room_add";
} // namespace ServerSettings
