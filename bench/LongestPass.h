#pragma once

#include <algorithm>
#include <chrono>
#include <memory>

#include <QTimer>

// The longest pass of the event loop while it runs: a timer that fires whenever the loop is free
// notes the time since it last fired. Each beat takes a block from the allocator, too large for
// its per-thread cache, as a window's pass does: so a pass that waits on the allocator while
// another thread holds it counts.
class LongestPass
{
public:
    LongestPass()
    {
        QObject::connect(&beat, &QTimer::timeout, [this] {
            block.reset(new char[4096]);
            block[0] = 1;
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
    std::unique_ptr<char[]> block;
    double longest = 0;
    std::chrono::steady_clock::time_point last;
};
