#pragma once

#include <QTimer>

// Three repeating timers shared by the whole program. Periodic housekeeping connects to the
// timeout() of one of them instead of keeping a timer of its own; nobody stops or restarts them.
class TimerManager
{
public:
    TimerManager();
    ~TimerManager();
    TimerManager(const TimerManager&) = delete;
    TimerManager& operator=(const TimerManager&) = delete;

    QTimer halfMinuteTimer;
    QTimer fiveMinuteTimer;
    QTimer hourTimer;
};

extern TimerManager* timerManager;
