// Sends one local file to a drive calculator through tolvane_drive, as `tolvane send` does,
// but with the size it was checked at given on the command line, so that the end-to-end
// tests can play a file that changed since, and a source as slow as they like (a FIFO).
//   DriveTool [-w] send ADDRESS LOCAL SIZE [FOLDER]
// Exit status 0 when done, 1 otherwise, 130 when interrupted (SIGINT).
// Or reads its screen through DriveScreen and the library's frame reader, "picture WIDTH HEIGHT
// DIGEST" (FNV-1a of its RGB bytes) a picture until PICTURES came, SECONDS passed or the source
// ended, then how it ended and what it did; status 0 when PICTURES came, 2 when not opened:
//   DriveTool screen ADDRESS PICTURES SECONDS

#include "CasioScreenReader.h"
#include "DriveFiles.h"
#include "DriveMount.h"
#include "DriveScreen.h"
#include "LinkClock.h"
#include "LinkInterrupt.h"
#include "Log.h"

#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void onInterrupt(int /*signal*/) {
    LinkInterrupt::request();
}

struct Printer : CasioScreenListener {
    void pictureReceived(const CasioScreenPicture& picture) override {
        uint64_t digest = 14695981039346656037u;
        for (long i = 0; i < 3L * picture.width * picture.height; ++i) {
            digest = (digest ^ picture.rgb[i]) * 1099511628211u;
        }
        printf("picture %d %d %016" PRIx64 "\n", picture.width, picture.height, digest);
        ++count;
    }
    long count = 0;
};

const char* const ends[] = {"none",     "notScreenMode", "unplugged",
                            "noAnswer", "forbidden",     "unreadable"};
const char* const media[] = {"unknown", "absent", "present"};

int screen(const std::vector<std::string>& words) {
    CasioDriveScreenSource source;
    if (DriveScreen::open(words[1], &source)) {
        return 2;
    }
    std::vector<unsigned char> frames(CasioScreenReader::screenFrameArea);
    std::vector<unsigned char> pixels(CasioScreenReader::screenPictureArea);
    std::vector<unsigned char> received(65536);
    Printer printer;
    CasioScreenReader reader(Buffer(frames.data(), static_cast<int>(frames.size())),
                             Buffer(pixels.data(), static_cast<int>(pixels.size())), &printer,
                             &source);
    const long wanted = atol(words[2].c_str());
    const long long deadline = LinkClock::milliseconds() + 1000LL * atol(words[3].c_str());
    bool ended = false;
    while (!ended && printer.count < wanted && LinkClock::milliseconds() < deadline) {
        Buffer bytes(received.data(), static_cast<int>(received.size()));
        ended = source.receive(&bytes) || reader.feed(bytes);
    }
    const CasioDriveScreenCounts& c = source.counts();
    printf("end %s medium %s polls %lu offers %lu reads %lu writes %lu troubles %lu checks %lu\n",
           ends[static_cast<int>(source.end())], media[static_cast<int>(source.medium())], c.polls,
           c.offers, c.reads, c.writes, c.troubles, reader.counts().checks);
    return printer.count >= wanted ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Log::setOutput(stderr);
    Log::setLoglevel(LOGLEVEL_WARNING);
    struct sigaction action = {};
    action.sa_handler = onInterrupt; // without SA_RESTART: a blocked read ends
    sigaction(SIGINT, &action, nullptr);
    std::vector<std::string> words(argv + 1, argv + argc);
    const bool replace = !words.empty() && words[0] == "-w";
    words.erase(words.begin(), words.begin() + (replace ? 1 : 0));
    if (words.size() == 4 && words[0] == "screen") {
        return screen(words);
    }
    if (words.size() < 4 || words[0] != "send") {
        return 2;
    }
    DriveMount drive;
    if (drive.open(words[1])) {
        return 1;
    }
    DriveFiles files(drive.folder(), drive.readOnly());
    const std::string& local = words[2];
    const DriveUpload upload{local, strtoull(words[3].c_str(), nullptr, 10),
                             words.size() > 4 ? words[4] : "", local.substr(local.rfind('/') + 1),
                             replace};
    std::string why;
    const DriveFiles::Outcome outcome = files.send(upload, nullptr, &why);
    if (outcome == DriveFiles::Outcome::Failed) {
        Log::error((local + ": not sent: " + why).c_str());
    }
    const bool unfinished = drive.finish(files.changed(), false);
    return LinkInterrupt::requested()                            ? 130
           : outcome == DriveFiles::Outcome::Done && !unfinished ? 0
                                                                 : 1;
}
