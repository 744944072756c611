#pragma once

// The item types of the Browse page: the open tabs and the rows that show a share.
namespace BrowseTypes {
constexpr const char* userShareTab = "user_share_tab";
constexpr const char* uploadShareTab = "upload_share_tab";
constexpr const char* folderNode = "user_share_folder_node";
constexpr const char* fileNode = "user_share_file_node";
constexpr const char* expandNewShares = "expand_new_shares";
} // namespace BrowseTypes
