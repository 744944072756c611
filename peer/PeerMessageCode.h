#pragma once

#include <cstdint>

#include <QString>

// The codes that open every message body on a messaging link.
class PeerMessageCode
{
public:
    enum Code : std::uint32_t
    {
        PM_SAY = 1,
        PM_GET_SHARED_FILE_LIST = 4,
        PM_SHARED_FILE_LIST = 5,
        PM_FILE_SEARCH_REQUEST = 8,
        PM_FILE_SEARCH_RESULT = 9,
        PM_INVITE_USER_TO_ROOM = 10,
        PM_CANCELLED_QUEUED_TRANSFER = 14,
        PM_USER_INFO_REQUEST = 15,
        PM_USER_INFO_REPLY = 16,
        PM_SEND_CONNECT_TOKEN = 33,
        PM_MOVE_DOWNLOAD_TO_TOP = 34,
        PM_GET_SHARED_FILES_IN_FOLDER = 36,
        PM_SHARED_FILES_IN_FOLDER = 37,
        PM_TRANSFER_REQUEST = 40,
        PM_TRANSFER_RESPONSE = 41,
        PM_PLACEHOLD_UPLOAD = 42,
        PM_QUEUE_UPLOAD = 43,
        PM_UPLOAD_PLACE_IN_LINE = 44,
        PM_UPLOAD_FAILED = 46,
        PM_EXACT_FILE_SEARCH_REQUEST = 47,
        PM_QUEUED_DOWNLOADS = 48,
        PM_INDIRECT_FILE_SEARCH_REQUEST = 49,
        PM_UPLOAD_DENIED = 50,
        PM_UPLOAD_PLACE_IN_LINE_REQUEST = 51,
        PM_NOTHING = 52,
        // Asks the peer to queue an upload from us; it has no name in logs.
        QueueUploadFromUs = 60,
    };

    // The code's name for log lines, or the number and " (unknown)".
    static QString MessageCodeToString(int code);
};
