// Reads the screen of a drive calculator through DriveScreen and the library's frame reader:
//   DriveScreenTool ADDRESS PICTURES SECONDS
// One line per picture, "picture WIDTH HEIGHT DIGEST" (FNV-1a of its RGB bytes), until PICTURES
// came, SECONDS passed or the source ended; then one line of how it ended and what it took.
// Exit status 0 when PICTURES came, 1 otherwise, 2 when the screen could not be opened.

#include "CasioScreenReader.h"
#include "DriveScreen.h"
#include "LinkClock.h"
#include "Log.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <vector>

namespace {

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

} // namespace

int main(int argc, char** argv) {
    Log::setOutput(stderr);
    if (argc != 4) {
        return 2;
    }
    CasioDriveScreenSource source;
    if (DriveScreen::open(argv[1], &source)) {
        return 2;
    }
    std::vector<unsigned char> frames(CasioScreenReader::screenFrameArea);
    std::vector<unsigned char> pixels(CasioScreenReader::screenPictureArea);
    std::vector<unsigned char> received(65536);
    Printer printer;
    CasioScreenReader reader(Buffer(frames.data(), static_cast<int>(frames.size())),
                             Buffer(pixels.data(), static_cast<int>(pixels.size())), &printer,
                             &source);
    const long wanted = atol(argv[2]);
    const long long deadline = LinkClock::milliseconds() + 1000LL * atol(argv[3]);
    bool ended = false;
    while (!ended && printer.count < wanted && LinkClock::milliseconds() < deadline) {
        Buffer bytes(received.data(), static_cast<int>(received.size()));
        ended = source.receive(&bytes) || reader.feed(bytes);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const CasioDriveScreenCounts& c = source.counts();
    printf("end %s medium %s polls %lu offers %lu reads %lu writes %lu troubles %lu checks %lu "
           "cpu-ms %ld rss-kb %ld\n",
           ends[static_cast<int>(source.end())], media[static_cast<int>(source.medium())], c.polls,
           c.offers, c.reads, c.writes, c.troubles, reader.counts().checks,
           (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000,
           usage.ru_maxrss);
    return printer.count >= wanted ? 0 : 1;
}
