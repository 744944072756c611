#pragma once

#include <chrono>

// The shortest of a few runs of the work, in seconds: the run least disturbed by the rest of the
// machine.
template <class Work> double BestSeconds(int runs, Work work)
{
    double best = 0;
    for (int run = 0; run < runs; ++run)
    {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (run == 0 || elapsed.count() < best)
            best = elapsed.count();
    }
    return best;
}
