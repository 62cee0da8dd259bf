#pragma once
// CPU time against wall time, for the benchmarks that report how much of one
// core a wait costs.

#include <QElapsedTimer>
#include <sys/resource.h>

namespace bench {

// User plus system CPU seconds this process has used so far.
inline double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Share
{
    double cpu = 0;
    double wall = 0;
    double share() const { return wall > 0 ? cpu / wall : 0; }
};

// CPU and wall seconds that `work` takes.
template <typename F> Share measure(F &&work)
{
    QElapsedTimer timer;
    const double cpu0 = cpuSeconds();
    timer.start();
    work();
    return {cpuSeconds() - cpu0, double(timer.nsecsElapsed()) / 1e9};
}

} // namespace bench
