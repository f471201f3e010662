#include "Log.h"

#include <cstdio>

int Log::loglevel = LOGLEVEL_ERROR;

void Log::setLoglevel(int newLoglevel) {
    loglevel = newLoglevel;
}

int Log::getLoglevel() {
    return loglevel;
}

void Log::debug(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_DEBUG) {
        printf("[DEBUG]: %s\n", messageToLog);
    }
}

void Log::info(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_INFO) {
        printf("[INFO]: %s\n", messageToLog);
    }
}

void Log::warning(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_WARNING) {
        printf("[WARNING]: %s\n", messageToLog);
    }
}

void Log::error(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_ERROR) {
        printf("[ERROR]: %s\n", messageToLog);
    }
}
