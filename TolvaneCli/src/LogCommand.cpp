#include "LogCommand.h"

#include "Interruption.h"
#include "Log.h"
#include "StandardOutput.h"

#include <ctime>

namespace {

constexpr int receiveArea = 4096;
constexpr timespec retryPause = {1, 0};

enum class Heard { Bytes, Silence, Nothing };

// One receive, its bytes passed on at once.
Heard listenOnce(Socket* socket) {
    unsigned char bytes[receiveArea];
    Buffer buffer(bytes, receiveArea);
    if (socket->listen(&buffer) != SOCKET_OK) {
        return Heard::Nothing;
    }
    StandardOutput::write(bytes, static_cast<size_t>(buffer.getSize()));
    StandardOutput::flush();
    return buffer.getSize() > 0 ? Heard::Bytes : Heard::Silence;
}

// Looking for a calculator again and again must not repeat why none was found.
bool openQuietly(Link& link) {
    const int level = Log::getLoglevel();
    if (level < LOGLEVEL_DEBUG) {
        Log::setLoglevel(-1);
    }
    const bool opened = link.openDevice();
    Log::setLoglevel(level);
    return opened;
}

int copyUntilSilence(Link& link) {
    if (!link.openDevice()) {
        return exitFailed;
    }
    for (;;) {
        switch (listenOnce(link.socket())) {
        case Heard::Bytes:
            continue;
        case Heard::Silence:
            return StandardOutput::finish() ? exitDone : exitFailed;
        case Heard::Nothing:
            if (Interruption::happened()) {
                return StandardOutput::finish() ? exitDone : exitFailed;
            }
            Log::error("The calculator can't be read any more");
            StandardOutput::finish();
            return exitFailed;
        }
    }
}

int follow(Link& link) {
    bool waitingSaid = false;
    bool lost = false;
    while (!Interruption::happened()) {
        if (!link.isOpen() && !openQuietly(link)) {
            if (!waitingSaid) {
                Log::warning("Waiting for a calculator");
                waitingSaid = true;
            }
            // A signal cuts the pause short.
            nanosleep(&retryPause, nullptr);
            continue;
        }
        if (lost) {
            Log::warning("The calculator is back");
            lost = false;
        }
        waitingSaid = true;
        if (listenOnce(link.socket()) == Heard::Nothing && !Interruption::happened()) {
            Log::warning("The calculator went away; waiting for it to come back");
            link.close(false);
            lost = true;
        }
    }
    return StandardOutput::finish() ? exitDone : exitFailed;
}

} // namespace

int runLog(CommandContext& context) {
    return context.line.has("follow") ? follow(context.link) : copyUntilSilence(context.link);
}
