#include "StandardOutput.h"

#include "Log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

std::mutex outputMutex;
int writeError = 0;
thread_local std::string threadPrefix;

void check(bool failed) {
    if (failed && writeError == 0) {
        writeError = errno != 0 ? errno : EIO;
    }
}

} // namespace

void StandardOutput::write(const void* bytes, size_t count) {
    const std::lock_guard<std::mutex> lock(outputMutex);
    if (writeError == 0 && count > 0) {
        check(fwrite(bytes, 1, count, stdout) != count);
    }
}

void StandardOutput::printLine(const std::string& line) {
    const std::string whole = threadPrefix + line + "\n";
    write(whole.data(), whole.size());
}

void StandardOutput::setThreadPrefix(const std::string& prefix) {
    threadPrefix = prefix;
}

bool StandardOutput::flush() {
    const std::lock_guard<std::mutex> lock(outputMutex);
    check(fflush(stdout) != 0);
    return writeError == 0;
}

bool StandardOutput::failed() {
    const std::lock_guard<std::mutex> lock(outputMutex);
    return writeError != 0;
}

bool StandardOutput::readerGone() {
    const std::lock_guard<std::mutex> lock(outputMutex);
    return writeError == EPIPE;
}

bool StandardOutput::finish() {
    const bool written = flush();
    const std::lock_guard<std::mutex> lock(outputMutex);
    if (!written && writeError != EPIPE) {
        Log::error(
            (std::string("Can't write to standard output: ") + strerror(writeError)).c_str());
    }
    return written;
}
