#include "clock.hpp"

#include <cerrno>
#include <cmath>
#include <ctime>

long long monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

double ms_between(long long from_ns, long long to_ns)
{
    return static_cast<double>(to_ns - from_ns) / 1e6;
}

void sleep_ms(double ms)
{
    timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>(std::fmod(ms, 1000.0) * 1e6)};
    while (nanosleep(&pause, &pause) < 0 && errno == EINTR) {
    }
}
