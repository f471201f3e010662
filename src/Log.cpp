#include "Log.h"

#include <climits>
#include <cstdarg>

int Log::loglevel = LOGLEVEL_ERROR;
int Log::detailLevel = INT_MIN;
FILE* Log::output = nullptr; // standard output; stdout is no constant to start from

namespace {

thread_local const char* threadPrefix = "";

} // namespace

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

void Log::setThreadPrefix(const char* prefix) {
    threadPrefix = prefix != nullptr ? prefix : "";
}

// One call per line, so that lines from several threads never mix.
void Log::print(const char* label, const char* messageToLog) {
    fprintf(getOutput(), "%s[%s]: %s\n", threadPrefix, label, messageToLog);
}

void Log::debug(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_DEBUG) {
        print("DEBUG", messageToLog);
    }
}

void Log::info(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_INFO) {
        print("INFO", messageToLog);
    }
}

void Log::warning(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_WARNING) {
        print("WARNING", messageToLog);
    }
}

void Log::error(const char* messageToLog) {
    if (loglevel >= LOGLEVEL_ERROR) {
        print("ERROR", messageToLog);
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
