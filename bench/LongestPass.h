#pragma once

#include <algorithm>
#include <chrono>

#include <QTimer>

// The longest pass of the event loop while it runs: a timer that fires whenever the loop is free
// notes the time since it last fired.
class LongestPass
{
public:
    LongestPass()
    {
        QObject::connect(&beat, &QTimer::timeout, [this] {
            const auto now = std::chrono::steady_clock::now();
            longest = std::max(longest, std::chrono::duration<double>(now - last).count());
            last = now;
        });
    }

    // Forgets the passes so far and counts from now.
    void Start()
    {
        longest = 0;
        last = std::chrono::steady_clock::now();
        beat.start(0);
    }
    void Stop() { beat.stop(); }
    double Milliseconds() const { return longest * 1000; }

private:
    QTimer beat;
    double longest = 0;
    std::chrono::steady_clock::time_point last;
};
