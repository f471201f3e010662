#pragma once

#include <cerrno>
#include <cstring>
#include <pty.h>
#include <string>
#include <unistd.h>

// Why a test that needs a pseudo-terminal cannot have one (a system without /dev/pts, say),
// or nothing when it can. Such a test skips with that reason.
inline std::string pseudoTerminalMissing() {
    int terminal = -1;
    int device = -1;
    if (openpty(&terminal, &device, nullptr, nullptr, nullptr) != 0) {
        return std::string("no pseudo-terminal here (openpty: ") + strerror(errno) +
               "); mount devpts on /dev/pts to run this test";
    }
    close(terminal);
    close(device);
    return "";
}
