#pragma once

// The monotonic clock the link measures silence and exchanges with. Tests link a clock of
// their own in its place.
class LinkClock {
public:
    static long long milliseconds();
};
