#include "PeerMessageCode.h"

QString PeerMessageCode::MessageCodeToString(int code)
{
    switch (code)
    {
    case PM_SAY:
        return "PM_SAY";
    case PM_GET_SHARED_FILE_LIST:
        return "PM_GET_SHARED_FILE_LIST";
    case PM_SHARED_FILE_LIST:
        return "PM_SHARED_FILE_LIST";
    case PM_FILE_SEARCH_REQUEST:
        return "PM_FILE_SEARCH_REQUEST";
    case PM_FILE_SEARCH_RESULT:
        return "PM_FILE_SEARCH_RESULT";
    case PM_INVITE_USER_TO_ROOM:
        return "PM_INVITE_USER_TO_ROOM";
    case PM_CANCELLED_QUEUED_TRANSFER:
        return "PM_CANCELLED_QUEUED_TRANSFER";
    case PM_USER_INFO_REQUEST:
        return "PM_USER_INFO_REQUEST";
    case PM_USER_INFO_REPLY:
        return "PM_USER_INFO_REPLY";
    case PM_SEND_CONNECT_TOKEN:
        return "PM_SEND_CONNECT_TOKEN";
    case PM_MOVE_DOWNLOAD_TO_TOP:
        return "PM_MOVE_DOWNLOAD_TO_TOP";
    case PM_GET_SHARED_FILES_IN_FOLDER:
        return "PM_GET_SHARED_FILES_IN_FOLDER";
    case PM_SHARED_FILES_IN_FOLDER:
        return "PM_SHARED_FILES_IN_FOLDER";
    case PM_TRANSFER_REQUEST:
        return "PM_TRANSFER_REQUEST";
    case PM_TRANSFER_RESPONSE:
        return "PM_TRANSFER_RESPONSE";
    case PM_PLACEHOLD_UPLOAD:
        return "PM_PLACEHOLD_UPLOAD";
    case PM_QUEUE_UPLOAD:
        return "PM_QUEUE_UPLOAD";
    case PM_UPLOAD_PLACE_IN_LINE:
        return "PM_UPLOAD_PLACE_IN_LINE";
    case PM_UPLOAD_FAILED:
        return "PM_UPLOAD_FAILED";
    case PM_EXACT_FILE_SEARCH_REQUEST:
        return "PM_EXACT_FILE_SEARCH_REQUEST";
    case PM_QUEUED_DOWNLOADS:
        return "PM_QUEUED_DOWNLOADS";
    case PM_INDIRECT_FILE_SEARCH_REQUEST:
        return "PM_INDIRECT_FILE_SEARCH_REQUEST";
    case PM_UPLOAD_DENIED:
        return "PM_UPLOAD_DENIED";
    case PM_UPLOAD_PLACE_IN_LINE_REQUEST:
        return "PM_UPLOAD_PLACE_IN_LINE_REQUEST";
    case PM_NOTHING:
        return "PM_NOTHING";
    default:
        return QString("%1 (unknown)").arg(code);
    }
}
