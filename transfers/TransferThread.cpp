#include "TransferThread.h"

#include <climits>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QTcpSocket>

std::atomic<int> TransferThread::waitStepMs{1000};

TransferThread::TransferThread(QTcpSocket* socket) : socket(socket), buffer(new char[stepSize])
{
    // Close-on-exec: a program the user opens meanwhile would otherwise hold the link open,
    // and the peer would never see it close. Qt's own sockets and files are made so already.
    const qintptr descriptor = socket->socketDescriptor();
    if (descriptor >= 0)
        wakeHandle = ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
}

TransferThread::~TransferThread()
{
    ReleaseWakeHandle();
}

void TransferThread::SignalExit()
{
    QMutexLocker lock(&exitMutex);
    exitFlag = true;
    // Shutting the link down ends a wait for data or for room at once; the thread then sees
    // the flag instead of a failed link.
    if (wakeHandle >= 0)
        ::shutdown(wakeHandle, SHUT_RDWR);
    exitRequested.wakeAll();
}

void TransferThread::ReleaseWakeHandle()
{
    QMutexLocker lock(&exitMutex);
    if (wakeHandle >= 0)
        ::close(wakeHandle);
    wakeHandle = -1;
}

bool TransferThread::AskedToExit()
{
    QMutexLocker lock(&exitMutex);
    return exitFlag;
}

int TransferThread::WaitStepMs()
{
    return waitStepMs.load();
}

void TransferThread::SetWaitStepMsForTesting(int ms)
{
    waitStepMs.store(ms);
}

bool TransferThread::Fail(const QString& reason)
{
    errorText = reason;
    return false;
}

bool TransferThread::FailWithSocketError(const char* what)
{
    // A link shut down by an exit request fails for that reason, not for the link's.
    if (AskedToExit())
        return ExitRequested();
    return Fail(QString(what) + " Error string: " + socket->errorString());
}

bool TransferThread::WaitForData(const char* failure)
{
    for (int step = 0; step < waitStepsPerWait; ++step)
    {
        if (AskedToExit())
            return ExitRequested();
        if (socket->waitForReadyRead(WaitStepMs()))
            break;
        if (socket->state() != QAbstractSocket::ConnectedState)
            break;
    }
    return socket->bytesAvailable() > 0 || FailWithSocketError(failure);
}

bool TransferThread::ReadExactly(char* into, qint64 length, const char* waitFailure)
{
    qint64 got = 0;
    while (got < length)
    {
        if (socket->bytesAvailable() == 0 && !WaitForData(waitFailure))
            return false;
        const qint64 read = socket->read(into + got, length - got);
        if (read < 0)
            return FailWithSocketError("Socket read failed.");
        got += read;
    }
    return true;
}

bool TransferThread::SleepUnlessAsked(qint64 ms)
{
    const QDeadlineTimer deadline(ms);
    QMutexLocker lock(&exitMutex);
    while (!exitFlag)
        if (!exitRequested.wait(&exitMutex, deadline))
            return true;
    lock.unlock();
    return ExitRequested();
}

int TransferThread::AverageSpeed(qint64 bytes, qint64 elapsedMs)
{
    if (elapsedMs <= 0)
        return 0;
    return static_cast<int>(qMin<qint64>(bytes * 1000 / elapsedMs, INT_MAX));
}

void TransferThread::StartProgressClock()
{
    progressClock.start();
    lastReport = 0;
}

bool TransferThread::ProgressDue(bool last)
{
    const qint64 now = progressClock.elapsed();
    if (!last && now - lastReport <= progressIntervalMs)
        return false;
    lastReport = now;
    return true;
}

void TransferThread::ReturnSocket()
{
    ReleaseWakeHandle();
    socket->moveToThread(thread());
}

qint64 TransferThread::DiscardIncoming()
{
    // Not the transfer's buffer: it may hold a step still being sent.
    char dropped[512];
    qint64 total = 0;
    for (qint64 read = 0;
         socket->bytesAvailable() > 0 && (read = socket->read(dropped, sizeof dropped)) > 0;)
        total += read;
    return total;
}
