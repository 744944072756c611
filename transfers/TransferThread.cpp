#include "TransferThread.h"

#include <climits>

#include <QMutexLocker>
#include <QTcpSocket>

std::atomic<int> TransferThread::waitStepMs{1000};

TransferThread::TransferThread(QTcpSocket* socket) : socket(socket), buffer(new char[stepSize])
{}

TransferThread::~TransferThread() = default;

void TransferThread::SignalExit()
{
    QMutexLocker lock(&exitMutex);
    exitFlag = true;
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
    while (ms > 0)
    {
        if (AskedToExit())
            return ExitRequested();
        const qint64 slice = qMin<qint64>(ms, WaitStepMs());
        QThread::msleep(static_cast<unsigned long>(slice));
        ms -= slice;
    }
    return true;
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
    socket->moveToThread(thread());
}
