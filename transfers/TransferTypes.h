#pragma once

// The item types of the transfer engine, written once.
namespace TransferTypes {
constexpr const char* downloadEntry = "download_entry";
constexpr const char* fileName = "file_name";
constexpr const char* remoteFolder = "remote_folder";
// The local name of the folder a folder download was started from, chosen when it is queued.
constexpr const char* downloadFolder = "download_folder";
// Where the entry's own file is: its partial file once opened, its finished file once complete.
constexpr const char* downloadLocalPath = "download_local_path";
constexpr const char* transferReq = "transfer_req";
constexpr const char* remoteTransferReq = "remote_transfer_req";
constexpr const char* downloadSocket = "download_socket";
constexpr const char* downloadFile = "download_file";
constexpr const char* writePosition = "write_position";
constexpr const char* downloadEntryStatus = "download_entry_status";
constexpr const char* downloadOrder = "download_order";
constexpr const char* uploadSocket = "upload_socket";
constexpr const char* uploadFile = "upload_file";
constexpr const char* readPosition = "read_position";
constexpr const char* uploadEntryStatus = "upload_entry_status";
constexpr const char* uploadOrder = "upload_order";
constexpr const char* isActive = "is_active";
constexpr const char* lastReceiptTime = "last_receipt_time";
constexpr const char* lastSpeedMeasurementTime = "last_speed_measurement_time";
constexpr const char* bytesPerSecond = "bytes_per_second";
constexpr const char* bytesSinceLastReceipt = "bytes_since_last_receipt";
constexpr const char* placeInLine = "place_in_line";
constexpr const char* lastQueueRequestTime = "last_queue_request_time";
constexpr const char* nextPlaceInLineRequestTime = "next_place_in_line_request_time";
constexpr const char* downloadThread = "download_thread";
constexpr const char* subfolderSaveLevel = "subfolder_save_level";
constexpr const char* lastStatusChangeTime = "last_status_change_time";
constexpr const char* singleDownload = "single_download";
constexpr const char* uploadEntry = "upload_entry";
constexpr const char* filenameAsRequested = "filename_as_requested";
constexpr const char* uploadStartTime = "upload_start_time";
constexpr const char* bytesUploaded = "bytes_uploaded";
constexpr const char* uploadThread = "upload_thread";
constexpr const char* effectiveUploadOrder = "effective_upload_order";
constexpr const char* denialReason = "denial_reason";
constexpr const char* completeDownload = "complete_download";
constexpr const char* completeDownloadFolder = "complete_download_folder";
constexpr const char* completeDownloadRelativeFolder = "complete_download_relative_folder";
constexpr const char* completeDownloadFilename = "complete_download_filename";
constexpr const char* completeDownloadFileSize = "complete_download_file_size";
constexpr const char* completeDownloadCompletionTime = "complete_download_completion_time";
constexpr const char* emptyShareCheckStatus = "empty_share_check_status";
constexpr const char* sentEmptyShareWarningMessage = "sent_empty_share_warning_message";
constexpr const char* excludedDownloadExtension = "excluded_download_extension";
} // namespace TransferTypes

// The status words of download and upload entries.
namespace TransferStatus {
constexpr const char* queued = "queued";
constexpr const char* downloading = "downloading";
constexpr const char* complete = "complete";
constexpr const char* aborted = "aborted";
constexpr const char* denied = "denied";
constexpr const char* localError = "local error";
constexpr const char* requesting = "requesting";
constexpr const char* connecting = "connecting";
constexpr const char* waitingForOffset = "waiting for offset";
constexpr const char* uploading = "uploading";
} // namespace TransferStatus

// The settings that the transfer engine reads or writes.
namespace TransferSettings {
// The local name of the folder a folder download was started from, chosen when it is queued.
constexpr const char* downloadFolder = "download_folder";
// Where the entry's own file is: its partial file once opened, its finished file once complete.
constexpr const char* downloadLocalPath = "download_local_path";
constexpr const char* transferOrderCounter = "transfer_order_counter";
constexpr const char* transferReqCounter = "transfer_req_counter";
constexpr const char* uploadSpeedLimit = "upload_speed_limit";
constexpr const char* uploadSpeedLimitEnabled = "upload_speed_limit_enabled";
constexpr const char* uploadSlots = "upload_slots";
constexpr const char* checkForEmptyShares = "check_for_empty_shares";
constexpr const char* emptyShareMessage = "empty_share_message";
constexpr const char* maxQueuedUploadsPerUser = "max_queued_uploads_per_user";
constexpr const char* dontSplitDownloads = "dont_split_downloads";
constexpr const char* dontCreateSubfoldersForSingleDownloads =
    "dont_create_subfolders_for_single_downloads";
constexpr const char* acceptUserlistUploads = "accept_userlist_uploads";
constexpr const char* finishUploadsAndQuit = "finish_uploads_and_quit";
constexpr const char* lastUploadStateChange = "last_upload_state_change";
} // namespace TransferSettings
