#include "DownloadThread.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>

DownloadThread::DownloadThread(QTcpSocket* socket, QFile* file, long long fileSize,
                               long long offset)
    : TransferThread(socket), file(file), fileSize(fileSize), offset(offset)
{}

void DownloadThread::run()
{
    const bool done = PerformDownload();
    ReturnSocket();
    file->close();
    if (done)
        emit DownloadComplete();
    else
        emit DownloadError(errorText);
}

bool DownloadThread::PerformDownload()
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    StartProgressClock();
    qint64 bytesSinceStart = 0;
    for (;;)
    {
        const qint64 chunk = qMin<qint64>(fileSize - offset, chunkSize);
        // A chunk goes to the file only whole, so a lost link leaves whole chunks behind.
        if (!ReadExactly(buffer, chunk, "Waiting for data to read failed."))
            return false;
        offset += chunk;
        bytesSinceStart += chunk;
        if (file->write(buffer, chunk) != chunk)
            return Fail("Writing to file failed. Error string: " + file->errorString());
        const bool last = offset >= fileSize;
        if (ProgressDue(last))
            emit DownloadProgress(offset, AverageSpeed(bytesSinceStart, sinceStart.elapsed()));
        if (last)
        {
            socket->close();
            return true;
        }
    }
}
