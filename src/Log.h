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
    // Detail lines tell how a failure came about, transfer by transfer and byte by byte: each
    // failed transfer, and the numbers behind a damaged packet (the direct lines). They are
    // printed as they always were (failed transfers as errors, direct lines whatever the
    // level) unless a program asks for them only from `level` on.
    static void setDetailLevel(int level);
    // Lines logged from the calling thread start with `prefix` (kept, not copied; null for
    // none), so that a program working with several calculators at once says which one each
    // line is about.
    static void setThreadPrefix(const char* prefix);

    static void debug(const char* messageToLog);
    static void info(const char* messageToLog);
    static void warning(const char* messageToLog);
    static void error(const char* messageToLog);
    static void detailError(const char* messageToLog);
    static void direct(const char* format, ...) __attribute__((format(printf, 1, 2)));

private:
    static void print(const char* label, const char* messageToLog);

    static int loglevel;
    static int detailLevel;
    static FILE* output;
};
