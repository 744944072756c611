#include "DownloadThread.h"

#include <cstring>

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
    // The socket holds no more than one step, however much the peer has sent ahead.
    socket->setReadBufferSize(stepSize);
    // Bytes received and not yet written: fewer than a chunk between steps.
    qint64 held = 0;
    while (offset < fileSize)
    {
        if (socket->bytesAvailable() == 0 && !WaitForData("Waiting for data to read failed."))
            return false;
        // Whatever has come, in one read, but never a byte beyond the end of the file.
        const qint64 room = qMin<qint64>(stepSize - held, fileSize - offset - held);
        const qint64 read = socket->read(buffer.get() + held, room);
        if (read < 0)
            return FailWithSocketError("Socket read failed.");
        held += read;
        // A chunk goes to the file only whole, so a lost link leaves whole chunks behind.
        const qint64 whole = offset + held == fileSize ? held : held - held % chunkSize;
        if (whole == 0)
            continue;
        if (file->write(buffer.get(), whole) != whole)
            return Fail("Writing to file failed. Error string: " + file->errorString());
        held -= whole;
        std::memmove(buffer.get(), buffer.get() + whole, size_t(held));
        offset += whole;
        bytesSinceStart += whole;
        if (ProgressDue(offset >= fileSize))
            emit DownloadProgress(offset, AverageSpeed(bytesSinceStart, sinceStart.elapsed()));
    }
    socket->close();
    return true;
}
