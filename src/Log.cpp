#include "Log.h"

#include <climits>
#include <cstdarg>

int Log::loglevel = LOGLEVEL_ERROR;
int Log::detailLevel = INT_MIN;
FILE* Log::output = nullptr; // standard output; stdout is no constant to start from

void Log::setLoglevel(int newLoglevel) {
    loglevel = newLoglevel;
}

int Log::getLoglevel() {
    return loglevel;
}

void Log::setOutput(FILE* stream) {
    output = stream;
}

FILE* Log::getOutput() {
    return output != nullptr ? output : stdout;
}

void Log::setDetailLevel(int level) {
    detailLevel = level;
}

void Log::debug(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_DEBUG) {
        fprintf(getOutput(), "[DEBUG]: %s\n", messageToLog);
    }
}

void Log::info(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_INFO) {
        fprintf(getOutput(), "[INFO]: %s\n", messageToLog);
    }
}

void Log::warning(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_WARNING) {
        fprintf(getOutput(), "[WARNING]: %s\n", messageToLog);
    }
}

void Log::error(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_ERROR) {
        fprintf(getOutput(), "[ERROR]: %s\n", messageToLog);
    }
}

void Log::detailError(const char* messageToLog) {
    if (loglevel >= detailLevel) {
        error(messageToLog);
    }
}

void Log::direct(const char* format, ...) {
    if (loglevel < detailLevel) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    vfprintf(getOutput(), format, arguments);
    va_end(arguments);
}
