#pragma once

#include "ServerTypes.h"

// The item types that the peer messenger declares. The ones that the server connection fills
// are named beside the server's own types; the rest are added here to the same namespace.
namespace PeerTypes {
constexpr const char* uninitializedSocket = "uninitialized_socket";
constexpr const char* peerSocket = "peer_socket";
constexpr const char* connectionOpenTime = "connection_open_time";
constexpr const char* lastActivityTime = "last_activity_time";
constexpr const char* isObfuscated = "is_obfuscated";
constexpr const char* peerConnectionRequestSocket = "peer_connection_request_socket";
constexpr const char* socketCreationTime = "socket_creation_time";
constexpr const char* searchResults = "search_results";
constexpr const char* searchResult = "search_result";
constexpr const char* searchResultsUserAvailable = "search_results_user_available";
constexpr const char* searchResultsUserSpeed = "search_results_user_speed";
constexpr const char* searchResultsUploadsInQueue = "search_results_uploads_in_queue";
constexpr const char* searchResultFileName = "search_result_file_name";
constexpr const char* searchResultFileFolder = "search_result_file_folder";
constexpr const char* fileSize = "file_size";
constexpr const char* searchStopped = "search_stopped";
constexpr const char* mpegVersion = "mpeg_version";
constexpr const char* channelMode = "channel_mode";
constexpr const char* audioFrequency = "audio_frequency";
constexpr const char* bitrateMode = "bitrate_mode";
constexpr const char* bitrate = "bitrate";
constexpr const char* lengthSeconds = "length_seconds";
constexpr const char* unsentMessage = "unsent_message";
constexpr const char* sendOrder = "send_order";
constexpr const char* sendTime = "send_time";
constexpr const char* connectToPeerRequest = "connect_to_peer_request";
constexpr const char* connectToPeerRequestStatus = "connect_to_peer_request_status";
constexpr const char* connectToPeerRequestSocket = "connect_to_peer_request_socket";
constexpr const char* indirectConnectToPeerRequest = "indirect_connect_to_peer_request";
// Types of other subsystems that the messenger reads.
constexpr const char* unshared = "unshared";
} // namespace PeerTypes

// Settings that the messenger reads or writes.
namespace PeerSettings {
constexpr const char* listeningPort = "listening_port";
constexpr const char* obfuscatedListeningPort = "obfuscated_listening_port";
constexpr const char* newListeningPort = "new_listening_port";
constexpr const char* username = "username";
constexpr const char* transferRequestCounter = "transfer_req_counter";
} // namespace PeerSettings
