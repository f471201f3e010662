#pragma once

enum LOGLEVEL {
    LOGLEVEL_ERROR = 0,
    LOGLEVEL_WARNING = 1,
    LOGLEVEL_INFO = 2,
    LOGLEVEL_DEBUG = 3,
};

// Process-wide console logger. Any negative level silences everything, errors included.
class Log {
public:
    Log() = default;

    static void setLoglevel(int newLoglevel);
    static int getLoglevel();

    static void debug(const char* messageToLog);
    static void info(const char* messageToLog);
    static void warning(const char* messageToLog);
    static void error(const char* messageToLog);

private:
    static int loglevel;
};
