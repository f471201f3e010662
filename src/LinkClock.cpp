#include "LinkClock.h"

#include <ctime>

long long LinkClock::milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void LinkClock::pause(long long milliseconds) {
    if (milliseconds <= 0) {
        return;
    }
    const timespec span{static_cast<time_t>(milliseconds / 1000),
                        static_cast<long>(milliseconds % 1000) * 1000000};
    nanosleep(&span, nullptr);
}
