#pragma once

// The item types that the shares manager declares, written once.
namespace SharesTypes {
constexpr const char* sharedFolder = "shared_folder";
constexpr const char* sharedFile = "shared_file";
constexpr const char* sharedFileName = "shared_file_name";
constexpr const char* sharedFileLowercaseName = "shared_file_lowercase_name";
constexpr const char* sharedFileFolder = "shared_file_folder";
constexpr const char* sharedFileFolderLowercaseName = "shared_file_folder_lowercase_name";
constexpr const char* sharedFileSize = "shared_file_size";
constexpr const char* sharedPublic = "shared_public";
constexpr const char* sharedUserlist = "shared_userlist";
constexpr const char* isScanned = "is_scanned";
constexpr const char* sharedFolderId = "shared_folder_id";
constexpr const char* userShare = "user_share";
constexpr const char* userShareFolder = "user_share_folder";
constexpr const char* userShareFolderParent = "user_share_folder_parent";
constexpr const char* userShareFolderChild = "user_share_folder_child";
constexpr const char* userShareFolderName = "user_share_folder_name";
constexpr const char* userShareFile = "user_share_file";
constexpr const char* userShareFileName = "user_share_file_name";
constexpr const char* searchToken = "search_token";
constexpr const char* unshared = "unshared";
} // namespace SharesTypes

// Settings that the shares manager reads or writes.
namespace SharesSettings {
constexpr const char* sharedFolderCounter = "shared_folder_counter";
constexpr const char* username = "username";
constexpr const char* uploadSpeed = "upload_speed";
constexpr const char* finishUploadsAndQuit = "finish_uploads_and_quit";
} // namespace SharesSettings
