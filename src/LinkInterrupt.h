#pragma once

// A request, typically from a signal handler, that the link stop waiting: loops make no
// further tries, so the transfer in progress is the last (at most one transfer timeout).
// A program clears it before it closes the link properly.
class LinkInterrupt {
public:
    // Safe to call from a signal handler.
    static void request();
    static void clear();
    static bool requested();
};
