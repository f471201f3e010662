#include "LogCommand.h"

#include "Dispatcher.h"
#include "Interruption.h"
#include "Log.h"
#include "StandardOutput.h"

#include <ctime>

const CommandHelp logHelp = {
    "copy what the calculator sends to standard output",
    "Copies every byte the calculator sends to standard output, as it arrives, and\n"
    "nothing else. Ends after two seconds of silence, or with --follow on Ctrl-C or\n"
    "SIGTERM only.",
    {{'f', "follow", nullptr,
      "wait for a calculator, read on through silence,\nand wait again when it is unplugged"}}};

namespace {

constexpr int receiveArea = 4096;
constexpr timespec retryPause = {1, 0};

enum class Heard { Bytes, Silence, Nothing, Unwritten };

// One receive, its bytes passed on at once.
Heard listenOnce(Socket* socket) {
    unsigned char bytes[receiveArea];
    Buffer buffer(bytes, receiveArea);
    if (socket->listen(&buffer) != SOCKET_OK) {
        return Heard::Nothing;
    }
    StandardOutput::write(bytes, static_cast<size_t>(buffer.getSize()));
    if (!StandardOutput::flush()) {
        return Heard::Unwritten;
    }
    return buffer.getSize() > 0 ? Heard::Bytes : Heard::Silence;
}

// The status the log ends with: a reader that went away (a closed pipe) ends it quietly and
// well, any other write error is reported.
int endOutput() {
    return StandardOutput::finish() || StandardOutput::readerGone() ? exitDone : exitFailed;
}

int copyUntilSilence(Link& link) {
    if (!link.openDevice()) {
        return Dispatcher::cannotOpen(link);
    }
    for (;;) {
        switch (listenOnce(link.socket())) {
        case Heard::Bytes:
            continue;
        case Heard::Silence:
        case Heard::Unwritten:
            return endOutput();
        case Heard::Nothing:
            if (Interruption::happened()) {
                return endOutput();
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
        // Looking for a calculator again and again must not repeat why none was found.
        if (!link.isOpen() && !link.openDevice(true)) {
            const CalcChoice choice = link.lastChoice();
            // Only one calculator can be followed: a choice to make is no waiting matter.
            if (choice == CalcChoice::SeveralAttached || choice == CalcChoice::Ambiguous) {
                link.openDevice();
                return Dispatcher::cannotOpen(link);
            }
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
        const Heard heard = listenOnce(link.socket());
        if (heard == Heard::Unwritten) {
            return endOutput();
        }
        if (heard == Heard::Nothing && !Interruption::happened()) {
            Log::warning("The calculator went away; waiting for it to come back");
            link.close(false);
            lost = true;
        }
    }
    return endOutput();
}

} // namespace

int LogCommand::run(CommandContext& context) const {
    return context.line.has("follow") ? follow(context.link) : copyUntilSilence(context.link);
}
