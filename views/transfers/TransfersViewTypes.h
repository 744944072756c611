#pragma once

// The item types and settings of the transfer views, written once.
namespace TransfersViewTypes {
constexpr const char* downloadListUserNode = "download_list_user_node";
constexpr const char* downloadListFolderNode = "download_list_folder_node";
constexpr const char* downloadListNode = "download_list_node";
constexpr const char* uploadListUserNode = "upload_list_user_node";
constexpr const char* uploadListFolderNode = "upload_list_folder_node";
constexpr const char* uploadListNode = "upload_list_node";
constexpr const char* completeDownloadAlert = "complete_download_alert";
constexpr const char* completeDownloadNode = "complete_download_node";

constexpr const char* clearCompleteDownloads = "clear_complete_downloads";
constexpr const char* clearCompleteAbortedUploads = "clear_complete_aborted_uploads";
constexpr const char* colorComplete = "color_transfer_complete";
constexpr const char* colorInProgress = "color_transfer_in_progress";
constexpr const char* colorQueued = "color_transfer_queued";
constexpr const char* colorFailed = "color_transfer_failed";
constexpr const char* colorOther = "color_transfer_other";
} // namespace TransfersViewTypes
