#include "Interruption.h"

#include "LinkInterrupt.h"

#include <csignal>

namespace {

volatile sig_atomic_t caught = 0;

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
    // calculator waiting.
    signal(SIGPIPE, SIG_IGN);
}

int Interruption::signalNumber() {
    return caught;
}
