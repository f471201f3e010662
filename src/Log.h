#pragma once

#include <cstdio>

enum LOGLEVEL {
    LOGLEVEL_ERROR = 0,
    LOGLEVEL_WARNING = 1,
    LOGLEVEL_INFO = 2,
    LOGLEVEL_DEBUG = 3,
};

// Process-wide console logger. Any negative level silences everything, errors included.
// Messages go to standard output unless a program chooses another stream.
class Log {
public:
    Log() = default;

    static void setLoglevel(int newLoglevel);
    static int getLoglevel();
    static void setOutput(FILE* stream);
    static FILE* getOutput();
    // Direct lines carry the numbers behind a message; by default they are printed whatever
    // the level. A program may print them only from `level` on.
    static void setDirectLevel(int level);

    static void debug(const char* messageToLog);
    static void info(const char* messageToLog);
    static void warning(const char* messageToLog);
    static void error(const char* messageToLog);
    static void direct(const char* format, ...) __attribute__((format(printf, 1, 2)));

private:
    static int loglevel;
    static int directLevel;
    static FILE* output;
};
