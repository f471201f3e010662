#include "StdoutCapture.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

StdoutCapture::StdoutCapture() {
    fflush(stdout);
    char path[] = "/tmp/tolvane-stdout-XXXXXX";
    captureFd = mkstemp(path);
    unlink(path);
    savedStdout = dup(STDOUT_FILENO);
    dup2(captureFd, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
    finish();
}

std::string StdoutCapture::finish() {
    if (captureFd < 0) {
        return {};
    }
    fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);

    std::string captured;
    lseek(captureFd, 0, SEEK_SET);
    char chunk[4096];
    ssize_t count;
    while ((count = read(captureFd, chunk, sizeof chunk)) > 0) {
        captured.append(chunk, static_cast<size_t>(count));
    }
    close(captureFd);
    captureFd = -1;
    return captured;
}
