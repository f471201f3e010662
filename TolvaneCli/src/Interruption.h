#pragma once

// SIGINT and SIGTERM end a command early but properly: the first one asks the link to stop
// waiting (the transfer in progress ends within its timeout) and is remembered, so that the
// program can close the link and exit with 128 plus its number. A second one ends the
// program at once.
class Interruption {
public:
    static void install();
    // The signal that came, or 0.
    static int signalNumber();
    static bool happened() { return signalNumber() != 0; }
};
