#include "LinkInterrupt.h"

#include <csignal>

namespace {

volatile sig_atomic_t interruptRequested = 0;

} // namespace

void LinkInterrupt::request() {
    interruptRequested = 1;
}

void LinkInterrupt::clear() {
    interruptRequested = 0;
}

bool LinkInterrupt::requested() {
    return interruptRequested != 0;
}
