#include "Interruption.h"

#include "LinkInterrupt.h"

#include <atomic>
#include <csignal>

namespace {

// Set by the handler on whichever thread the signal lands, read by every calculator's thread.
std::atomic<int> caught(0);
static_assert(std::atomic<int>::is_always_lock_free);

void onSignal(int number) {
    caught = number;
    LinkInterrupt::request();
}

} // namespace

void Interruption::install() {
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that went away is a write error to report, not a reason to leave the
    // calculator waiting; so is a file that outgrew its size limit.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

int Interruption::signalNumber() {
    return caught;
}
