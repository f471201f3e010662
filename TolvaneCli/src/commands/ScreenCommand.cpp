#include "ScreenCommand.h"

#include "Interruption.h"
#include "Log.h"
#include "OutputFile.h"
#include "PictureScale.h"
#include "PngWriter.h"
#include "StandardOutput.h"
#include "Y4mWriter.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <unistd.h>

const CommandHelp screenHelp = {
    "save the calculator's screen as a picture, or stream it as video",
    "Waits for the next picture the calculator sends in its projector mode (a model\n"
    "that connects as a USB drive: in its ScreenRecv or Projector mode) and\n"
    "writes it as a PNG file: to PATH, to standard output with -o -, or else to a\n"
    "fresh screen-YYYYMMDD-HHMMSS.png in the current folder (or in the folder PATH),\n"
    "whose name it prints. With --stream, writes live video to standard output\n"
    "instead, YUV4MPEG2 at 30 frames a second, until Ctrl-C:\n"
    "  tolvane screen --stream | mpv -\n"
    "  tolvane screen --stream | ffmpeg -i - -pix_fmt yuv420p demo.mp4\n"
    "Nothing is sent to the calculator but the answer to its check.",
    {{'o', "output", "PATH", "where the picture goes: a file, a folder, or -\nfor standard output"},
     {'w', "overwrite", nullptr, "replace a file of the same name"},
     {'\0', "scale", "N", "enlarge each pixel to N x N, 1 to 8 (default 1)"},
     {'\0', "stream", nullptr, "write live video to standard output"}}};

namespace {

using Clock = std::chrono::steady_clock;

constexpr int firstPictureSeconds = 10;
constexpr int framesPerSecond = 30;
// How often a stream waiting for its first picture looks again.
constexpr std::chrono::milliseconds waitingPause(20);
// A video whose reader held it up this long starts its clock afresh rather than catch up with
// a burst of the same picture.
constexpr std::chrono::seconds mostBehind(1);

// A whole number from 1 to 8 in digits, nothing else.
bool readScale(const std::string& text, int* scale) {
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    *scale = std::stoi(text);
    return PictureScale::isValid(*scale);
}

bool usage(const char* problem) {
    Log::error(problem);
    return false;
}

// A picture or a video on a terminal is only noise: false, after saying what to do instead,
// when standard output is one.
bool notATerminal(bool streaming) {
    if (isatty(STDOUT_FILENO) != 1) {
        return true;
    }
    return usage(streaming ? "Standard output is a terminal: pipe the video to a player or an "
                             "encoder, e.g. tolvane screen --stream | mpv -"
                           : "Standard output is a terminal: redirect the picture to a file, "
                             "e.g. tolvane screen -o - > screen.png");
}

int calculatorGone(const ScreenFeed& feed) {
    if (!Interruption::happened()) {
        Log::error(feed.whyEnded().c_str());
    }
    return exitFailed;
}

// screen-YYYYMMDD-HHMMSS, in local time, as a folder lists it in order.
std::string freshStem(const std::string& folder) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "screen-%Y%m%d-%H%M%S", &local);
    if (folder.empty()) {
        return stamp;
    }
    return folder + (folder.back() == '/' ? "" : "/") + stamp;
}

// The time of frame `number` of a video whose clock started at `start`: exact, however long
// it runs.
Clock::time_point frameTime(Clock::time_point start, long long number) {
    return start + std::chrono::nanoseconds(number * 1000000000LL / framesPerSecond);
}

} // namespace

// What the command line asks; false after reporting a usage error.
bool ScreenCommand::plan(const CommandLine& line) {
    streaming = line.has("stream");
    if (line.has("scale") && !readScale(line.value("scale"), &scale)) {
        return usage("--scale takes a whole number from 1 to 8");
    }
    const std::string output = line.value("output");
    if (line.has("output") && output.empty()) {
        return usage("-o needs a path: a file, a folder, or - for standard output");
    }
    if (streaming && line.has("output") && !LocalTarget::isStandardOutput(output)) {
        return usage("--stream writes to standard output: -o PATH is for a picture");
    }
    if (streaming || LocalTarget::isStandardOutput(output)) {
        destination = Destination::StandardOutput;
        return notATerminal(streaming);
    }
    if (line.has("output") && !LocalTarget::isFolder(output)) {
        destination = Destination::File;
        target.shown = output;
    } else {
        folder = line.has("output") ? output : "";
    }
    return true;
}

std::optional<int> ScreenCommand::check(const CommandLine& line) {
    if (!plan(line)) {
        return exitUsage;
    }
    if (destination == Destination::File &&
        !LocalTarget::examine(target.shown, line.has("overwrite"), &target)) {
        return exitFailed;
    }
    return std::nullopt;
}

int ScreenCommand::run(CommandContext& context) const {
    ScreenFeed& feed = context.screen();
    return streaming ? stream(feed) : savePicture(feed);
}

// The next picture, read in this thread; a signal leaves no file (the dispatcher says so).
int ScreenCommand::savePicture(ScreenFeed& feed) const {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(firstPictureSeconds);
    ScreenFeed::Picture picture;
    while (!feed.latest(&picture)) {
        if (Interruption::happened()) {
            return exitFailed;
        }
        if (Clock::now() >= deadline) {
            Log::error(feed.whyNoPicture(firstPictureSeconds).c_str());
            return exitFailed;
        }
        if (!feed.readOnce()) {
            return calculatorGone(feed);
        }
    }
    return writePicture(picture);
}

int ScreenCommand::writePicture(const ScreenFeed::Picture& picture) const {
    if (destination == Destination::StandardOutput) {
        if (PngWriter::write(stdout, picture.view(), scale)) {
            return exitDone;
        }
        // A reader that went away wanted no more; the status says it did not get the picture.
        if (errno != EPIPE) {
            Log::error((std::string("Can't write to standard output: ") + strerror(errno)).c_str());
        }
        return exitFailed;
    }
    const std::string stem = freshStem(folder);
    LocalTarget fresh;
    fresh.shown = fresh.path = stem + ".png";
    OutputFile file(destination == Destination::File ? target : fresh);
    if (!file.create()) {
        return exitFailed;
    }
    if (!PngWriter::write(file.stream(), picture.view(), scale)) {
        const std::string& shown = destination == Destination::File ? target.shown : fresh.shown;
        Log::error((shown + ": can't write it (" + strerror(errno) + ")").c_str());
        return exitFailed;
    }
    // Stopped meanwhile: the file goes, as for any picture cut short.
    if (Interruption::happened()) {
        return exitFailed;
    }
    if (destination == Destination::File) {
        return file.commit() ? exitDone : exitFailed;
    }
    std::string placed;
    if (!file.commitFresh(stem, ".png", &placed)) {
        return exitFailed;
    }
    StandardOutput::printLine(placed);
    return StandardOutput::finish() ? exitDone : exitFailed;
}

// The calculator is read in a thread of its own, so that the video keeps its pace however the
// pictures come; that thread ends within a transfer's timeout once asked.
int ScreenCommand::stream(ScreenFeed& feed) const {
    std::atomic<bool> stop(false);
    std::thread reader([&feed, &stop] {
        while (!stop && !Interruption::happened() && feed.readOnce()) {
        }
    });
    const int status = playVideo(feed);
    stop = true;
    reader.join();
    if (status < 0) {
        Log::error(feed.whyNoPicture(firstPictureSeconds).c_str());
        return exitFailed;
    }
    return status;
}

// The video until a signal (0), a reader gone (0, quietly) or the calculator gone (1); -1 when
// no first picture came in time.
int ScreenCommand::playVideo(ScreenFeed& feed) const {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(firstPictureSeconds);
    ScreenFeed::Picture picture;
    while (!feed.latest(&picture)) {
        if (Interruption::happened()) {
            return exitDone;
        }
        if (feed.ended()) {
            return calculatorGone(feed);
        }
        if (Clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(waitingPause);
    }
    Y4mWriter video(stdout, picture.width, picture.height, scale, framesPerSecond);
    Clock::time_point start = Clock::now();
    for (long long frame = 1;; ++frame) {
        if (!video.writeFrame(picture.view())) {
            if (errno == EPIPE) {
                return exitDone;
            }
            Log::error((std::string("Can't write the video: ") + strerror(errno)).c_str());
            return exitFailed;
        }
        if (Clock::now() - frameTime(start, frame) > mostBehind) {
            start = Clock::now();
            frame = 0;
        }
        std::this_thread::sleep_until(frameTime(start, frame));
        if (Interruption::happened()) {
            return exitDone;
        }
        if (feed.ended()) {
            return calculatorGone(feed);
        }
        feed.latest(&picture);
    }
}
