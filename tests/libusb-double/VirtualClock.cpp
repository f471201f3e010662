#include "LibusbDouble.h"
#include "LinkClock.h"

// The library waits by the double's virtual clock.
long long LinkClock::milliseconds() {
    return LibusbDouble::now();
}

void LinkClock::pause(long long milliseconds) {
    LibusbDouble::advanceClock(milliseconds > 0 ? milliseconds : 0);
}
