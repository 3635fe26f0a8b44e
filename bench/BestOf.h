#pragma once

#include <QElapsedTimer>

#include <algorithm>

// The shortest of `runs` timings of `work`, in milliseconds: the figure least disturbed by
// whatever else the machine is doing.
inline double bestOfMs(int runs, const auto &work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}
