#include "TimerManager.h"

TimerManager* timerManager = nullptr;

namespace {
void StartRepeating(QTimer& timer, int ms)
{
    timer.setSingleShot(false);
    timer.start(ms);
}
} // namespace

TimerManager::TimerManager()
{
    timerManager = this;
    StartRepeating(halfMinuteTimer, 30 * 1000);
    StartRepeating(fiveMinuteTimer, 5 * 60 * 1000);
    StartRepeating(hourTimer, 60 * 60 * 1000);
}

TimerManager::~TimerManager()
{
    if (timerManager == this)
        timerManager = nullptr;
}
