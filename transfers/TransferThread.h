#pragma once

#include <atomic>
#include <memory>

#include <QElapsedTimer>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

class QTcpSocket;

// What the download and upload threads share: the file connection, moved to the thread while it
// runs, the exit flag that the GUI thread sets to stop it, the reason of a failure, and the
// bounded waits on the socket. The thread body has no event loop; it uses the socket's blocking
// waits, one step at a time, so that an exit request is seen within one step.
class TransferThread : public QThread
{
    Q_OBJECT

public:
    // The unit of the file connection's bookkeeping: a download writes only whole chunks, so
    // that a lost link leaves whole chunks behind, and an upload pays the speed limit per chunk.
    static constexpr int chunkSize = 8192;
    // The most one step of a transfer moves: many chunks, so that a fast link costs few system
    // calls, and bounded, so that memory does not grow with the link's speed.
    static constexpr int stepSize = 64 * chunkSize;
    static constexpr int waitStepsPerWait = 30;
    static constexpr int progressIntervalMs = 499;

    ~TransferThread() override;

    // Any thread. Shuts the link down, which the transfer is about to drop anyway.
    void SignalExit();
    bool AskedToExit();

    // The length of one wait step, 1000 ms; tests shorten it to see a stall end quickly.
    static int WaitStepMs();
    static void SetWaitStepMsForTesting(int ms);

protected:
    explicit TransferThread(QTcpSocket* socket);

    // Sets the reason and returns false, so that a failing step reads `return Fail(...)`.
    bool Fail(const QString& reason);
    bool FailWithSocketError(const char* what);
    bool ExitRequested() { return Fail("Exit requested."); }
    // Until received bytes are buffered, the peer closes or the steps run out.
    bool WaitForData(const char* failure);
    // Reads exactly length bytes into the buffer, waiting for them as needed.
    bool ReadExactly(char* buffer, qint64 length, const char* waitFailure);
    // Sleeps, in slices of at most one wait step, unless asked to exit meanwhile.
    bool SleepUnlessAsked(qint64 ms);
    // The average since the start, in bytes per second; 0 when no millisecond has passed.
    static int AverageSpeed(qint64 bytes, qint64 elapsedMs);
    void StartProgressClock();
    // Whether a progress report is due (always for the last one), and if so marks it made.
    bool ProgressDue(bool last);
    // Gives the socket back to the thread that made this object, before the end is reported,
    // and lets go of the handle that woke its waits.
    void ReturnSocket();
    // Reads and drops whatever the peer sent that the transfer has no use for; how much.
    qint64 DiscardIncoming();

    QTcpSocket* socket;
    QString errorText;
    // One buffer of stepSize bytes, reused for every step.
    const std::unique_ptr<char[]> buffer;

private:
    void ReleaseWakeHandle();

    QMutex exitMutex;
    QWaitCondition exitRequested;
    bool exitFlag = false;
    // A duplicate of the socket's descriptor, shut down to end a blocking wait; owned here, so
    // that it can never name another file once the socket has closed its own.
    int wakeHandle = -1;
    QElapsedTimer progressClock;
    qint64 lastReport = 0;
    static std::atomic<int> waitStepMs;
};
