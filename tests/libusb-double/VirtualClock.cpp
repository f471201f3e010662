#include "LibusbDouble.h"
#include "LinkClock.h"

// The library waits by the double's virtual clock.
long long LinkClock::milliseconds() {
    return LibusbDouble::now();
}
