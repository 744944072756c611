#pragma once

#include "TransferThread.h"

class QFile;

// Receives one file over a file connection and appends it to the partial file, from the offset
// that was announced to the peer.
class DownloadThread : public TransferThread
{
    Q_OBJECT

public:
    // The socket and the file are not owned; the file is open for appending.
    DownloadThread(QTcpSocket* socket, QFile* file, long long fileSize, long long offset);

signals:
    void DownloadProgress(qint64 i_offset, int l_bytesPerSecond);
    void DownloadComplete();
    void DownloadError(QString i_reason);

protected:
    void run() override;

private:
    bool PerformDownload();

    QFile* file;
    long long fileSize;
    long long offset;
};
