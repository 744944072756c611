#pragma once

#include <QElapsedTimer>

#include "TransferThread.h"

class QFile;

// Sends one shared file over a file connection: the transfer request number first, then the
// file from the offset the peer asks for, paced by the shared upload speed limit.
class UploadThread : public TransferThread
{
    Q_OBJECT

public:
    // The socket and the file are not owned; the file is open for reading. The size is the one
    // the peer was told: exactly that many bytes are sent, or none.
    UploadThread(QTcpSocket* socket, QFile* file, int transferRequest, qint64 announcedSize);

signals:
    void UploadProgress(qint64 i_offset, int l_bytesPerSecond);
    void UploadComplete();
    void UploadError(QString i_reason);

protected:
    void run() override;

private:
    bool PerformUpload();
    bool ReadOffset(qint64& offset);
    // Waits as long as the limit asks for the bytes sent so far, drawing first on what other
    // uploads left unused; false when asked to exit meanwhile.
    bool Pace(int limit);
    // The bytes one step sends: every chunk the buffer holds without a limit, and under one
    // what the limit allows in a short while, at least one chunk.
    static qint64 StepLength(int limit);
    bool SendStep(qint64 length);
    bool WaitForBytesWritten();
    bool WaitForPeerToClose();

    QFile* file;
    quint32 transferRequest;
    qint64 announcedSize;
    // Bytes sent and not yet paid for under the speed limit.
    qint64 debt = 0;
    QElapsedTimer pacingClock;
};
