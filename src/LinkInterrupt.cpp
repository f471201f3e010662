#include "LinkInterrupt.h"

#include <atomic>

namespace {

// Read by every thread of a program working on several calculators, and set by a signal
// handler on any of them: lock-free, so that the handler may touch it.
std::atomic<bool> interruptRequested(false);
static_assert(std::atomic<bool>::is_always_lock_free);

} // namespace

void LinkInterrupt::request() {
    interruptRequested = true;
}

void LinkInterrupt::clear() {
    interruptRequested = false;
}

bool LinkInterrupt::requested() {
    return interruptRequested;
}
