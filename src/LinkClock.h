#pragma once

// The monotonic clock the link measures silence and exchanges with, and waits by. Tests link a
// clock of their own in its place.
class LinkClock {
public:
    static long long milliseconds();
    // Sleeps that long (a signal may cut it short).
    static void pause(long long milliseconds);
};
