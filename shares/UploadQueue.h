#pragma once

#include <QString>

// What the shares manager asks of the transfer engine: the upload state it reports in search
// answers, and withdrawing a user's uploads when the user is unshared.
class UploadQueue
{
public:
    virtual bool IsFreeToUpload() = 0;
    virtual int QueuedUploadCount() = 0;
    // Marks the user unshared and denies the user's queued uploads.
    virtual void UnshareUser(const QString& user) = 0;

protected:
    ~UploadQueue() = default;
};
