#include "LogCommand.h"

#include "Interruption.h"
#include "Log.h"
#include "StandardOutput.h"

const CommandHelp logHelp = {
    "copy what the calculator sends to standard output",
    "Copies every byte the calculator sends to standard output, as it arrives, and\n"
    "nothing else. Ends after two seconds of silence, or with --follow on Ctrl-C or\n"
    "SIGTERM only.",
    {{'f', "follow", nullptr,
      "wait for a calculator, read on through silence,\nand wait again when it is unplugged"}}};

namespace {

constexpr int receiveArea = 4096;

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

int copyUntilSilence(Socket* socket) {
    for (;;) {
        switch (listenOnce(socket)) {
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

// Through silence, and through the calculator going away and coming back, until a signal.
int follow(CommandContext& context) {
    while (!Interruption::happened()) {
        const Heard heard = listenOnce(context.socket());
        if (heard == Heard::Unwritten) {
            return endOutput();
        }
        if (heard != Heard::Nothing || Interruption::happened()) {
            continue;
        }
        Log::warning("The calculator went away; waiting for it to come back");
        if (!context.reopen()) {
            break;
        }
        Log::warning("The calculator is back");
    }
    return Interruption::happened() ? endOutput() : exitFailed;
}

} // namespace

std::optional<int> LogCommand::check(const CommandLine& line) {
    following = line.has("follow");
    return std::nullopt;
}

int LogCommand::run(CommandContext& context) const {
    return following ? follow(context) : copyUntilSilence(context.socket());
}
