#include "UploadThread.h"

#include <QFile>
#include <QTcpSocket>

#include "TransferQueueManager.h"

UploadThread::UploadThread(QTcpSocket* socket, QFile* file, int transferRequest,
                           qint64 announcedSize)
    : TransferThread(socket), file(file), transferRequest(static_cast<quint32>(transferRequest)),
      announcedSize(announcedSize)
{}

void UploadThread::run()
{
    const bool done = PerformUpload();
    ReturnSocket();
    if (done)
        emit UploadComplete();
    else
        emit UploadError(errorText);
}

namespace {
int PerUploadLimit()
{
    return transferQueueManager ? transferQueueManager->GetPerUploadSpeedLimit() : 0;
}

// How long one step may take under a limit: short enough that the pace stays even, long enough
// that a fast limit does not cost a sleep per chunk.
constexpr qint64 pacedStepMs = 20;
// The downloader sends 8 bytes and nothing more; whatever else it sends is read a little at a
// time and dropped, so that it waits in the system's buffers and slows the sender instead of
// filling our memory.
constexpr qint64 incomingCap = 64;
// What the wait for the peer's close reads and drops in one wait step at most.
constexpr qint64 droppedPerStep = 64 * 1024;
} // namespace

qint64 UploadThread::StepLength(int limit)
{
    if (limit == 0)
        return stepSize;
    const qint64 chunks = qint64(limit) * 1024 * pacedStepMs / 1000 / chunkSize;
    return qBound<qint64>(1, chunks, stepSize / chunkSize) * chunkSize;
}

bool UploadThread::PerformUpload()
{
    socket->setReadBufferSize(incomingCap);
    char request[4];
    for (int index = 0; index < 4; ++index)
        request[index] = static_cast<char>(transferRequest >> (8 * index));
    socket->write(request, 4);
    socket->flush();

    qint64 offset = 0;
    if (!ReadOffset(offset))
        return false;
    DiscardIncoming();
    const qint64 size = announcedSize;
    if (file->size() != size)
        return Fail(QString("The file is %1 bytes long, not the %2 bytes announced: it changed "
                            "since it was offered")
                        .arg(file->size())
                        .arg(size));
    // An offset at the end means the peer holds the whole file (always so for an empty one): the
    // upload ends as soon as the peer closes, as its download does.
    if (offset < 0 || offset > size)
        return Fail(QString("Won't seek to offset %1 in file of size %2").arg(offset).arg(size));
    if (!file->seek(offset))
        return Fail(QString("Seeking to starting offset %1 failed. Error string: ").arg(offset) +
                    file->errorString());

    QElapsedTimer sinceStart;
    sinceStart.start();
    int lastLimit = PerUploadLimit();
    pacingClock.start();
    StartProgressClock();
    qint64 bytesSinceStart = 0;
    debt = 0;
    for (;;)
    {
        if (AskedToExit())
            return ExitRequested();
        const int limit = PerUploadLimit();
        if (limit != lastLimit)
        {
            // The debt of a time without a limit is not paid once a limit is set again.
            if (lastLimit == 0)
                debt = 0;
            sinceStart.restart();
            bytesSinceStart = 0;
        }
        if (limit != 0 && !Pace(limit))
            return false;
        const qint64 length = qMin<qint64>(size - offset, StepLength(limit));
        const qint64 read = file->read(buffer.get(), length);
        if (read != length)
        {
            // The whole chunks that did come still go out, as they would one by one.
            const qint64 whole = qMax<qint64>(read, 0) / chunkSize * chunkSize;
            if (whole > 0 && !SendStep(whole))
                return false;
            return Fail("Reading from file failed. Error string: " + file->errorString());
        }
        if (!SendStep(length))
            return false;
        offset += length;
        bytesSinceStart += length;
        debt += length;
        const bool last = offset >= size;
        if (ProgressDue(last))
            emit UploadProgress(offset, AverageSpeed(bytesSinceStart, sinceStart.elapsed()));
        if (last)
            return socket->state() != QAbstractSocket::ConnectedState || WaitForPeerToClose();
        lastLimit = limit;
    }
}

bool UploadThread::ReadOffset(qint64& offset)
{
    unsigned char bytes[8];
    if (!ReadExactly(reinterpret_cast<char*>(bytes), 8,
                     "Waiting for initialization data to read failed."))
        return false;
    quint64 value = 0;
    for (int index = 7; index >= 0; --index)
        value = (value << 8) | bytes[index];
    offset = static_cast<qint64>(value);
    return true;
}

bool UploadThread::Pace(int limit)
{
    debt = transferQueueManager->PayFromAllowance(debt);
    // 1 KiB/s counts as one byte per millisecond; the earned credit below makes up the rest.
    const qint64 target = pacingClock.elapsed() + debt / limit;
    for (qint64 now = pacingClock.elapsed(); now < target; now = pacingClock.elapsed())
        if (!SleepUnlessAsked(target - now))
            return false;
    const qint64 elapsed = pacingClock.restart();
    transferQueueManager->AddEarnedToAllowance(limit, elapsed, debt);
    debt = 0;
    return true;
}

bool UploadThread::SendStep(qint64 length)
{
    qint64 sent = 0;
    while (sent < length)
    {
        // A peer that closed mid-file leaves a socket that takes no more bytes.
        if (socket->state() != QAbstractSocket::ConnectedState)
            return FailWithSocketError("Writing to socket failed.");
        const qint64 taken = socket->write(buffer.get() + sent, length - sent);
        if (taken < 0)
            return FailWithSocketError("Writing to socket failed.");
        sent += taken;
        // Straight to the kernel while it has room; a wait only when it has none.
        socket->flush();
        DiscardIncoming();
        if (socket->bytesToWrite() > 0 && !WaitForBytesWritten())
            return false;
    }
    return true;
}

bool UploadThread::WaitForBytesWritten()
{
    // Only steps in which nothing leaves count: a step of many chunks may need many writes on a
    // slow link that is still moving.
    for (int idleSteps = 0; idleSteps < waitStepsPerWait;)
    {
        if (AskedToExit())
            return ExitRequested();
        const qint64 queued = socket->bytesToWrite();
        if (socket->state() != QAbstractSocket::ConnectedState || queued == 0)
            break;
        socket->waitForBytesWritten(WaitStepMs());
        DiscardIncoming();
        idleSteps = socket->bytesToWrite() < queued ? 0 : idleSteps + 1;
    }
    return socket->bytesToWrite() == 0 ||
           FailWithSocketError("Waiting for bytes to be written to socket failed.");
}

bool UploadThread::WaitForPeerToClose()
{
    // Qt's wait for a disconnection sees a full read buffer as readable, reads nothing and polls
    // again at once: instead the buffer is emptied before every wait for readability, and the
    // peer's close shows as the read of its end. Steps are counted on the clock, so that a peer
    // that keeps sending cannot stretch the wait.
    const qint64 stepMs = qMax(1, WaitStepMs());
    const qint64 boundMs = stepMs * waitStepsPerWait;
    QElapsedTimer clock;
    clock.start();
    qint64 stepEnd = stepMs;
    qint64 droppedThisStep = 0;
    for (;;)
    {
        if (AskedToExit())
            return ExitRequested();
        droppedThisStep += DiscardIncoming();
        if (socket->state() != QAbstractSocket::ConnectedState)
            return !AskedToExit() || ExitRequested();
        const qint64 now = clock.elapsed();
        if (now >= boundMs)
            return Fail("The peer did not close the connection after the last byte.");
        if (now >= stepEnd)
        {
            stepEnd = (now / stepMs + 1) * stepMs;
            droppedThisStep = 0;
        }
        // A peer that floods us is read at a bounded rate; the rest waits in the system's
        // buffers and holds the sender back.
        if (droppedThisStep >= droppedPerStep)
        {
            if (!SleepUnlessAsked(stepEnd - now))
                return false;
            continue;
        }
        socket->waitForReadyRead(int(stepEnd - now));
    }
}
