#include "StandardOutput.h"

#include "Log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int writeError = 0;

void check(bool failed) {
    if (failed && writeError == 0) {
        writeError = errno != 0 ? errno : EIO;
    }
}

} // namespace

void StandardOutput::write(const void* bytes, size_t count) {
    if (writeError == 0 && count > 0) {
        check(fwrite(bytes, 1, count, stdout) != count);
    }
}

void StandardOutput::printLine(const std::string& line) {
    write(line.data(), line.size());
    write("\n", 1);
}

bool StandardOutput::flush() {
    check(fflush(stdout) != 0);
    return writeError == 0;
}

bool StandardOutput::failed() {
    return writeError != 0;
}

bool StandardOutput::readerGone() {
    return writeError == EPIPE;
}

bool StandardOutput::finish() {
    flush();
    if (writeError != 0 && writeError != EPIPE) {
        Log::error(
            (std::string("Can't write to standard output: ") + strerror(writeError)).c_str());
    }
    return writeError == 0;
}
